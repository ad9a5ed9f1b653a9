#pragma once

#include "streamfactsreader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;
class QTimer;
class QUrl;
class NetworkSpeedMeter;
class VideoFactsTap;

// Loopback HTTP relay: every accepted connection forwards one GET to the
// channel origin and streams the answer back, counting the bytes. It serves
// at most kMaxRelayConnections clients at once. Thread-agnostic: RelayThread
// runs it away from the GUI thread.
class LocalProxy : public QTcpServer
{
    Q_OBJECT

public:
    explicit LocalProxy(QObject *parent = nullptr);
    ~LocalProxy() override;

    void setTargetHost(const QString &host);
    void setSpeedMeter(NetworkSpeedMeter *meter);
    // Shown every body from now on; set before the first connection.
    void setFactsTap(VideoFactsTap *tap);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void connectionEnded();
    void resumeAfterAcceptError();
    void setAccepting(bool accepting);

    QString targetHost;
    QNetworkAccessManager *networkManager = nullptr;
    NetworkSpeedMeter *speedMeter = nullptr;
    VideoFactsTap *factsTap = nullptr;
    int openConnections = 0;
    int defaultMaxPending = 0;
};

class ProxyConnection : public QObject
{
    Q_OBJECT

public:
    ProxyConnection(qintptr socketDescriptor, const QString &targetHost,
                    QNetworkAccessManager *manager, NetworkSpeedMeter *meter, QObject *parent);
    ~ProxyConnection() override;

    // Shortens the wait for the request line to at most ms.
    void hurryRequestLine(int ms);
    void setFactsTap(VideoFactsTap *tap) { factsTap = tap; }

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
    bool replyDone = false;
    qint64 drainedBytes = 0;
    int redirects = 0;
    // Bytes handed to the client's socket, and how many of them it had taken
    // at the last look; the stall period counts from the last increase.
    qint64 queuedBytes = 0;
    qint64 takenBytes = 0;
    QElapsedTimer sinceProgress;
    VideoFactsTap *factsTap = nullptr;
    StreamFactsReader factsReader;

    void fetch(const QUrl &url);
    bool followRedirect();
    void onClientBytesWritten();
    void onTimeout();
    void watchProgress();
    void relayBody(bool all = false);
    void writeToClient(const QByteArray &data);
    void reject(const QByteArray &answer);
    void endRejected();
    void resetClient();
    void writeHead();
};
