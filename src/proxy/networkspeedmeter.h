#pragma once

#include <QObject>

// Turns the relay's byte counts into Mbit/s once a second.
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

    qint64 pendingDownloadBytes = 0;
    qint64 pendingUploadBytes = 0;
};
