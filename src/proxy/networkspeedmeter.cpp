#include "networkspeedmeter.h"

#include <QTimer>

NetworkSpeedMeter::NetworkSpeedMeter(QObject *parent) : QObject(parent)
{
    // Owned through the object tree; no member needed.
    auto *timer = new QTimer(this);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &NetworkSpeedMeter::tick);
    timer->start();
    sinceTick.start();
}

void NetworkSpeedMeter::recordDownloadBytes(qint64 bytes)
{
    if (bytes > 0)
        pendingDownloadBytes.fetch_add(bytes, std::memory_order_relaxed);
}

void NetworkSpeedMeter::recordUploadBytes(qint64 bytes)
{
    if (bytes > 0)
        pendingUploadBytes.fetch_add(bytes, std::memory_order_relaxed);
}

void NetworkSpeedMeter::tick()
{
    // Taken and cleared in one step: no count that arrives meanwhile is lost.
    const qint64 down = pendingDownloadBytes.exchange(0, std::memory_order_relaxed);
    const qint64 up = pendingUploadBytes.exchange(0, std::memory_order_relaxed);
    // Per the time that really passed: a thread held up for seconds must not
    // show those seconds' bytes as one second's. No smoothing.
    const double seconds = qMax<qint64>(sinceTick.restart(), 1) / 1000.0;
    const double mbpsDown = static_cast<double>(down) * 8.0 / 1000000.0 / seconds;
    const double mbpsUp = static_cast<double>(up) * 8.0 / 1000000.0 / seconds;
    emit ratesUpdated(mbpsDown, mbpsUp);
}
