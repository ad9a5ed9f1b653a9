#include "networkspeedmeter.h"

#include <QTimer>

NetworkSpeedMeter::NetworkSpeedMeter(QObject *parent) : QObject(parent)
{
    // Owned through the object tree; no member needed.
    auto *timer = new QTimer(this);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &NetworkSpeedMeter::tick);
    timer->start();
}

void NetworkSpeedMeter::recordDownloadBytes(qint64 bytes)
{
    if (bytes > 0)
        pendingDownloadBytes += bytes;
}

void NetworkSpeedMeter::recordUploadBytes(qint64 bytes)
{
    if (bytes > 0)
        pendingUploadBytes += bytes;
}

void NetworkSpeedMeter::tick()
{
    // The interval is taken as exactly one second; no smoothing.
    const double mbpsDown = static_cast<double>(pendingDownloadBytes) * 8.0 / 1000000.0;
    const double mbpsUp = static_cast<double>(pendingUploadBytes) * 8.0 / 1000000.0;
    pendingDownloadBytes = 0;
    pendingUploadBytes = 0;
    emit ratesUpdated(mbpsDown, mbpsUp);
}
