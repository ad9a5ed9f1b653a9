#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

// Turns the relay's byte counts into Mbit/s once a second. The counts come
// from the relay's thread; the rates go out on the meter's own.
class NetworkSpeedMeter : public QObject
{
    Q_OBJECT

public:
    explicit NetworkSpeedMeter(QObject *parent = nullptr);

    void recordDownloadBytes(qint64 bytes);
    void recordUploadBytes(qint64 bytes);

signals:
    void ratesUpdated(double mbpsDown, double mbpsUp);

private:
    void tick();

    std::atomic<qint64> pendingDownloadBytes{0};
    std::atomic<qint64> pendingUploadBytes{0};
    QElapsedTimer sinceTick;
};
