#include "localproxy.h"

#include "networkspeedmeter.h"
#include "relayhead.h"
#include "relaylimits.h"
#include "requestline.h"
#include "socketcontrol.h"
#include "videofactstap.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace {

const QByteArray kBadRequest = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
const QByteArray kUriTooLong = "HTTP/1.1 414 URI Too Long\r\nConnection: close\r\n\r\n";
const QByteArray kInternalError = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";

// Retry pause after the system refused an accept (out of descriptors, say).
constexpr int kAcceptRetryMs = 200;

// The origin's cookies belong to the client that got them; the relay serves
// every client alike and never sends one upstream.
class NoCookieJar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;

    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// Set by tests on their own thread, read on the relay's.
std::atomic<int> stalledTimeoutMs{60000};

// How often a connection with data waiting looks whether its client took any.
int progressCheckMs()
{
    return std::clamp(stalledClientTimeoutMs() / 8, 10, 1000);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The transfer itself broke off, as opposed to an HTTP error status that came
// with its whole body.
bool isCutTransfer(QNetworkReply::NetworkError error)
{
    return (error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError) ||
           (error >= QNetworkReply::ProtocolUnknownError &&
            error <= QNetworkReply::ProtocolFailure);
}

} // namespace

int stalledClientTimeoutMs()
{
    return stalledTimeoutMs;
}

void setStalledClientTimeoutMs(int ms)
{
    stalledTimeoutMs = ms;
}

LocalProxy::LocalProxy(QObject *parent)
    : QTcpServer(parent), networkManager(new QNetworkAccessManager(this))
{
    networkManager->setCookieJar(new NoCookieJar(networkManager));
    // Each connection follows redirects itself, so that the head it relays is
    // the final answer's alone, never merged with the redirect's.
    networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // The default of 50 drops a burst of connects, which then wait for SYN
    // retries (1 s, 3 s, ...) before the relay even sees them.
    setListenBacklogSize(1024);
    defaultMaxPending = maxPendingConnections();
    // Qt stops accepting for good after such an error; the relay tries again.
    connect(this, &QTcpServer::acceptError, this, &LocalProxy::resumeAfterAcceptError);
}

LocalProxy::~LocalProxy()
{
    // Connections first, while the manager that owns their replies still exists.
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
        new ProxyConnection(socketDescriptor, targetHost, networkManager, speedMeter, this);
    connection->setFactsTap(factsTap);
    ++openConnections;
    connect(connection, &QObject::destroyed, this, &LocalProxy::connectionEnded);
    if (openConnections < kMaxRelayConnections)
        return;
    setAccepting(false);
    const auto connections = findChildren<ProxyConnection *>(Qt::FindDirectChildrenOnly);
    for (ProxyConnection *waiting : connections)
        waiting->hurryRequestLine(kBusyRequestLineMs);
}

void LocalProxy::connectionEnded()
{
    --openConnections;
    // Paused at the cap (a limit of 0): a free place resumes accepting.
    if (maxPendingConnections() == 0 && openConnections < kMaxRelayConnections)
        setAccepting(true);
}

void LocalProxy::resumeAfterAcceptError()
{
    QTimer::singleShot(kAcceptRetryMs, this, [this] {
        if (openConnections < kMaxRelayConnections)
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

ProxyConnection::ProxyConnection(qintptr socketDescriptor, const QString &host,
                                 QNetworkAccessManager *manager, NetworkSpeedMeter *meter,
                                 QObject *parent)
    : QObject(parent), clientSocket(new QTcpSocket(this)), networkManager(manager),
      targetHost(host), speedMeter(meter)
{
    if (!clientSocket->setSocketDescriptor(socketDescriptor)) {
        deleteLater();
        return;
    }
    connect(clientSocket, &QTcpSocket::readyRead, this, &ProxyConnection::onClientReadyRead);
    connect(clientSocket, &QTcpSocket::disconnected, this, &ProxyConnection::onClientDisconnected);
    connect(clientSocket, &QTcpSocket::bytesWritten, this, &ProxyConnection::onClientBytesWritten);

    // One timer serves each phase's time limit: the request line, the
    // client's progress while data waits, and the drain after a rejection.
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &ProxyConnection::onTimeout);
    timer->start(requestLineTimeoutMs());
}

ProxyConnection::~ProxyConnection()
{
    if (!upstreamReply)
        return;
    // Ended mid-reply (the relay is shutting down): the client must not take
    // what it got for the whole body.
    upstreamReply->disconnect(this);
    upstreamReply->abort();
    upstreamReply->deleteLater();
    upstreamReply = nullptr;
    if (headersSent)
        resetClient();
}

void ProxyConnection::hurryRequestLine(int ms)
{
    const bool readingRequest = !headersSent && !upstreamReply && !replyDone;
    if (readingRequest && timer && timer->remainingTime() > ms)
        timer->start(ms);
}

void ProxyConnection::onClientReadyRead()
{
    const QByteArray block = clientSocket->readAll();
    if (speedMeter && !block.isEmpty())
        speedMeter->recordUploadBytes(block.size());
    if (rejected) {
        drainedBytes += block.size();
        if (drainedBytes > kRejectDrainBytes)
            endRejected();
        return;
    }
    if (upstreamReply || headersSent || replyDone)
        return;

    requestBuffer.append(block);
    const RequestLine line = parseRequestLine(requestBuffer);
    switch (line.status) {
    case RequestLine::Status::Incomplete:
        return;
    case RequestLine::Status::TooLong:
        reject(kUriTooLong);
        return;
    case RequestLine::Status::BadRequest:
        reject(kBadRequest);
        return;
    case RequestLine::Status::Target:
        break;
    }

    const QUrl url = upstreamUrl(targetHost, line.target);
    if (!url.isValid()) {
        reject(kBadRequest);
        return;
    }
    timer->stop();
    fetch(url);
}

void ProxyConnection::fetch(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
    upstreamReply = networkManager->get(request);
    // Bounds what Qt reads ahead while this connection waits for its client.
    upstreamReply->setReadBufferSize(kReplyReadBufferBytes);
    connect(upstreamReply, &QNetworkReply::readyRead, this, &ProxyConnection::onTargetReadyRead);
    connect(upstreamReply, &QNetworkReply::finished, this, &ProxyConnection::onTargetFinished);
}

// Follows a redirect as Qt would by itself: never from https down to http.
bool ProxyConnection::followRedirect()
{
    const int status = upstreamReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = upstreamReply->rawHeader("Location");
    if (!isRedirect(status) || location.isEmpty() || redirects >= kMaxRedirects)
        return false;
    const QUrl from = upstreamReply->url();
    const QUrl to = from.resolved(QUrl::fromEncoded(location.trimmed()));
    const QString scheme = to.scheme().toLower();
    if (!to.isValid() || to.host().isEmpty() || (scheme != "http" && scheme != "https") ||
        (from.scheme().toLower() == "https" && scheme == "http"))
        return false;

    ++redirects;
    QNetworkReply *redirect = upstreamReply;
    upstreamReply = nullptr;
    redirect->disconnect(this);
    redirect->abort();
    redirect->deleteLater();
    fetch(to);
    return true;
}

void ProxyConnection::onClientDisconnected()
{
    timer->stop();
    if (upstreamReply) {
        upstreamReply->disconnect(this);
        upstreamReply->abort();
        upstreamReply->deleteLater();
        upstreamReply = nullptr;
    }
    clientSocket->deleteLater();
    deleteLater();
}

void ProxyConnection::onTargetReadyRead()
{
    if (!headersSent) {
        if (followRedirect())
            return;
        writeHead();
    }
    relayBody();
}

void ProxyConnection::onTargetFinished()
{
    QNetworkReply *reply = upstreamReply;
    if (!reply)
        return;

    // A status means the origin answered, even with an empty body or an error
    // code; only a fetch that got no answer at all becomes a 500.
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!headersSent && answered && followRedirect())
        return;
    if (!headersSent && (answered || reply->error() == QNetworkReply::NoError))
        writeHead();
    else if (!headersSent && clientSocket->state() == QAbstractSocket::ConnectedState)
        clientSocket->write(kInternalError);
    // What is left was held back for a slow client: it is at most one read
    // buffer, and nothing more will come.
    relayBody(true);
    const bool cut = headersSent && isCutTransfer(reply->error());

    // Cleared first: closing may re-enter onClientDisconnected.
    upstreamReply = nullptr;
    replyDone = true;
    reply->deleteLater();
    if (cut)
        resetClient();
    else
        clientSocket->disconnectFromHost();
}

void ProxyConnection::onClientBytesWritten()
{
    if (rejected) {
        if (clientSocket->bytesToWrite() == 0)
            shutdownWrite(clientSocket->socketDescriptor());
        return;
    }
    if (!headersSent)
        return;
    watchProgress();
    if (upstreamReply && upstreamReply->bytesAvailable() > 0)
        relayBody();
}

void ProxyConnection::onTimeout()
{
    if (rejected) {
        endRejected();
        return;
    }
    // The request line did not come in time.
    if (!headersSent) {
        clientSocket->disconnectFromHost();
        return;
    }

    // Whatever the client took, from the relay's buffer or the kernel's, is
    // progress and starts its period anew.
    const qint64 waiting =
        clientSocket->bytesToWrite() + unsentInKernel(clientSocket->socketDescriptor());
    const qint64 taken = queuedBytes - waiting;
    if (taken > takenBytes) {
        takenBytes = taken;
        sinceProgress.start();
    }
    // Nothing waits in the relay any more; the kernel delivers the rest.
    if (clientSocket->bytesToWrite() == 0)
        return;
    if (sinceProgress.elapsed() >= stalledClientTimeoutMs()) {
        resetClient();
        return;
    }
    timer->start(progressCheckMs());
}

// Starts watching the client once data waits for it.
void ProxyConnection::watchProgress()
{
    if (clientSocket->bytesToWrite() == 0 || timer->isActive())
        return;
    takenBytes = queuedBytes - clientSocket->bytesToWrite() -
                 unsentInKernel(clientSocket->socketDescriptor());
    sinceProgress.start();
    timer->start(progressCheckMs());
}

void ProxyConnection::relayBody(bool all)
{
    // An aborted reply is closed and has nothing left to give. Reads stop at
    // the mark, so the client's buffer passes it only by the tail of a
    // finished reply.
    while (upstreamReply && upstreamReply->isOpen() &&
           (all || clientSocket->bytesToWrite() < kClientHighWaterBytes)) {
        const QByteArray block =
            all ? upstreamReply->readAll()
                : upstreamReply->read(kClientHighWaterBytes - clientSocket->bytesToWrite());
        if (block.isEmpty())
            return;
        if (speedMeter)
            speedMeter->recordDownloadBytes(block.size());
        if (clientSocket->state() != QAbstractSocket::ConnectedState)
            continue;
        if (factsTap)
            factsTap->feed(factsReader, block.constData(), block.size());
        writeToClient(block);
    }
}

void ProxyConnection::writeToClient(const QByteArray &data)
{
    clientSocket->write(data);
    queuedBytes += data.size();
    // Straight to the kernel, not on a later turn of the event loop.
    clientSocket->flush();
    watchProgress();
}

void ProxyConnection::writeHead()
{
    headersSent = true;
    if (clientSocket->state() == QAbstractSocket::ConnectedState)
        writeToClient(relayedHead(*upstreamReply));
}

void ProxyConnection::reject(const QByteArray &answer)
{
    headersSent = true;
    rejected = true;
    clientSocket->write(answer);
    // Out to the kernel before any draining, so no close can discard it.
    clientSocket->flush();
    // Whatever the client still sends is read and dropped, within bounds.
    timer->start(kRejectDrainMs);
}

void ProxyConnection::endRejected()
{
    timer->stop();
    clientSocket->readAll(); // unread bytes would turn the close into a reset
    // An answer still unsent goes out before the close.
    if (clientSocket->bytesToWrite() > 0)
        clientSocket->disconnectFromHost();
    else
        clientSocket->abort();
}

void ProxyConnection::resetClient()
{
    timer->stop();
    if (clientSocket->state() == QAbstractSocket::ConnectedState)
        resetOnClose(clientSocket->socketDescriptor());
    clientSocket->abort();
}
