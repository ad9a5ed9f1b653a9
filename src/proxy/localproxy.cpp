#include "localproxy.h"

#include "descriptorlimit.h"
#include "proxyconnection.h"
#include "relaylimits.h"
#include "upstreampool.h"

#include <QTimer>

#include <algorithm>

namespace {

// Retry pause after the system refused an accept (out of descriptors, say).
constexpr int kAcceptRetryMs = 200;

} // namespace

LocalProxy::LocalProxy(QObject *parent)
    : QTcpServer(parent), upstream(new UpstreamPool(this)), cap(relayConnectionCap()),
      hurryMs(std::max(kMinBusyRequestLineMs, kBusyRequestLineMs * cap / kMaxRelayConnections))
{
    // The default of 50 drops a burst of connects, which then wait for SYN
    // retries (1 s, 3 s, ...) before the relay even sees them.
    setListenBacklogSize(1024);
    defaultMaxPending = maxPendingConnections();
    // Qt stops accepting for good after such an error; the relay tries again.
    connect(this, &QTcpServer::acceptError, this, &LocalProxy::resumeAfterAcceptError);
}

LocalProxy::~LocalProxy()
{
    // Connections first, while the managers that own their replies still exist.
    const auto connections = findChildren<ProxyConnection *>(Qt::FindDirectChildrenOnly);
    for (ProxyConnection *connection : connections) {
        disconnect(connection, nullptr, this, nullptr);
        delete connection;
    }
}

void LocalProxy::setTargetHost(const QString &host)
{
    targetHost = host;
}

void LocalProxy::setSpeedMeter(NetworkSpeedMeter *meter)
{
    speedMeter = meter;
}

void LocalProxy::setFactsTap(VideoFactsTap *tap)
{
    factsTap = tap;
}

void LocalProxy::incomingConnection(qintptr socketDescriptor)
{
    // Owned by this server; it deletes itself when its client goes away.
    auto *connection =
        new ProxyConnection(socketDescriptor, targetHost, upstream, speedMeter, this);
    connection->setFactsTap(factsTap);
    ++openConnections;
    connect(connection, &QObject::destroyed, this, &LocalProxy::connectionEnded);
    if (openConnections < cap)
        return;
    setAccepting(false);
    // The newcomer gets its full time: it may be the player's own request.
    hurryWaiting(connection);
}

void LocalProxy::connectionEnded()
{
    --openConnections;
    // Paused at the cap (a limit of 0): a free place resumes accepting.
    if (maxPendingConnections() == 0 && openConnections < cap)
        setAccepting(true);
}

void LocalProxy::resumeAfterAcceptError()
{
    // Out of descriptors below the cap: as busy as at it.
    hurryWaiting(nullptr);
    QTimer::singleShot(kAcceptRetryMs, this, [this] {
        if (openConnections < cap)
            setAccepting(true);
    });
}

void LocalProxy::setAccepting(bool accepting)
{
    // Within one notification QTcpServer accepts until its pending queue is
    // full, whatever pauseAccepting says; a limit of 0 ends that loop at once.
    if (accepting) {
        setMaxPendingConnections(defaultMaxPending);
        resumeAccepting();
    } else {
        setMaxPendingConnections(0);
        pauseAccepting();
    }
}

// Connections still silent get little more time, so a flood of idle ones
// cannot hold the relay.
void LocalProxy::hurryWaiting(const ProxyConnection *except)
{
    const auto connections = findChildren<ProxyConnection *>(Qt::FindDirectChildrenOnly);
    for (ProxyConnection *waiting : connections) {
        if (waiting != except)
            waiting->hurryRequestLine(hurryMs);
    }
}
