#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;
class QTimer;
class NetworkSpeedMeter;

// Loopback HTTP relay: every accepted connection forwards one GET to the
// channel origin and streams the answer back, counting the bytes.
class LocalProxy : public QTcpServer
{
    Q_OBJECT

public:
    explicit LocalProxy(QObject *parent = nullptr);

    void setTargetHost(const QString &host);
    void setSpeedMeter(NetworkSpeedMeter *meter);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QString targetHost;
    QNetworkAccessManager *networkManager = nullptr;
    NetworkSpeedMeter *speedMeter = nullptr;
};

class ProxyConnection : public QObject
{
    Q_OBJECT

public:
    ProxyConnection(qintptr socketDescriptor, const QString &targetHost,
                    QNetworkAccessManager *manager, NetworkSpeedMeter *meter, QObject *parent);

private slots:
    void onClientReadyRead();
    void onClientDisconnected();
    void onTargetReadyRead();
    void onTargetFinished();

private:
    QTcpSocket *clientSocket = nullptr;
    QNetworkReply *upstreamReply = nullptr;
    QNetworkAccessManager *networkManager = nullptr;
    QString targetHost;
    NetworkSpeedMeter *speedMeter = nullptr;
    bool headersSent = false;
    QByteArray requestBuffer;
    QTimer *timer = nullptr;
    bool rejected = false;
    qint64 drainedBytes = 0;

    void onClientBytesWritten();
    void onTimeout();
    void relayBody(bool all = false);
    void reject(const QByteArray &answer);
    void writeHead();
};
