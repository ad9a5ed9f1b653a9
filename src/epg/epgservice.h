#pragma once

#include "epgtypes.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

// Fetches the programme guide through the relay and publishes it. A guide
// with a schedule is fetched again shortly after its next programme starts,
// so the title on air follows the schedule to the minute.
class EpgService : public QObject
{
    Q_OBJECT

public:
    explicit EpgService(QObject *parent = nullptr, quint16 proxyPort = 0);

    void fetch();

signals:
    void finishedPayload(const EpgPayload &payload);

private slots:
    void onFinished();

private:
    void fetchAfterNextStart(const EpgPayload &payload, const QDateTime &now);

    QNetworkAccessManager networkManager;
    QTimer nextProgramTimer{this};
    quint16 proxyPort = 0;
};
