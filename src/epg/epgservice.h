#pragma once

#include "epgtypes.h"

#include <QNetworkAccessManager>
#include <QObject>

// Fetches the programme guide through the relay and publishes it.
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
    QNetworkAccessManager networkManager;
    quint16 proxyPort = 0;
};
