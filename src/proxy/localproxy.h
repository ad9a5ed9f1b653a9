#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>

class NetworkSpeedMeter;
class VideoFactsTap;
class ProxyConnection;
class UpstreamPool;

// Loopback HTTP relay: every accepted connection forwards one GET to the
// channel origin and streams the answer back, counting the bytes. It serves
// at most relayConnectionCap() clients at once. Thread-agnostic: RelayThread
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
    int connectionCap() const { return cap; }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void connectionEnded();
    void resumeAfterAcceptError();
    void setAccepting(bool accepting);
    void hurryWaiting(const ProxyConnection *except);

    QString targetHost;
    UpstreamPool *upstream = nullptr;
    NetworkSpeedMeter *speedMeter = nullptr;
    VideoFactsTap *factsTap = nullptr;
    int cap = 0;
    int hurryMs = 0;
    int openConnections = 0;
    int defaultMaxPending = 0;
};
