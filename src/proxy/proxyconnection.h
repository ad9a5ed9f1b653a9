#pragma once

#include "streamfactsreader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class ClientStream;
class NetworkSpeedMeter;
class QNetworkReply;
class QTimer;
class QUrl;
class UpstreamPool;
class VideoFactsTap;

// One local client: reads its request line, fetches the target from the
// origin and streams the answer back, then closes. From the head until the
// last byte of the body any end but a complete body is a reset.
class ProxyConnection : public QObject
{
    Q_OBJECT

public:
    ProxyConnection(qintptr socketDescriptor, const QString &targetHost, UpstreamPool *upstream,
                    NetworkSpeedMeter *meter, QObject *parent);
    ~ProxyConnection() override;

    bool isReadingRequest() const { return phase == Phase::ReadingRequest; }
    // Shortens the wait for the request line to at most ms.
    void hurryRequestLine(int ms);
    void setFactsTap(VideoFactsTap *tap) { factsTap = tap; }

private slots:
    void onClientReadyRead(const QByteArray &block);
    void onClientDisconnected();
    void onTargetReadyRead();
    void onTargetFinished();

private:
    enum class Phase
    {
        ReadingRequest,
        AwaitingReply, // the request is out; nothing written yet
        Streaming,     // the head is written; the body follows
        Closing,       // the answer is complete; it drains to the client
    };

    void readRequest(const QByteArray &block);
    void fetch(const QUrl &url);
    bool handleRedirect();
    void refuseRedirect();
    void writeHead();
    void relayBody(bool all = false);
    void writeToClient(const QByteArray &data);
    void reject(const QByteArray &answer);
    void finishAnswer();
    void onClientInputEnded();
    void onClientProgress();
    void onTimeout();
    void watchProgress();
    void checkProgress();
    void closeWhenDone();
    void closeClient();
    void resetClient();
    void dropUpstream();

    ClientStream *client = nullptr;
    QNetworkReply *upstreamReply = nullptr;
    UpstreamPool *upstream = nullptr;
    QString targetHost;
    NetworkSpeedMeter *speedMeter = nullptr;
    VideoFactsTap *factsTap = nullptr;
    StreamFactsReader factsReader;
    QByteArray requestBuffer;
    QTimer *timer = nullptr;
    Phase phase = Phase::ReadingRequest;
    bool headWritten = false;  // the client holds the start of an answer
    bool bodyComplete = false; // and everything of it has been written
    bool rejected = false;
    bool watching = false; // the timer checks the client's progress
    qint64 drainedBytes = 0;
    int redirects = 0;
    // Bytes handed to the client, and how many of them it had taken at the
    // last look; the stall period counts from the last increase.
    qint64 queuedBytes = 0;
    qint64 takenBytes = 0;
    QElapsedTimer sinceProgress;
    QElapsedTimer allTaken; // valid once the client has taken the whole answer
};
