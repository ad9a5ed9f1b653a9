#include "localproxy.h"

#include "networkspeedmeter.h"
#include "relaylimits.h"
#include "requestline.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

const QByteArray kBadRequest = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
const QByteArray kUriTooLong = "HTTP/1.1 414 URI Too Long\r\nConnection: close\r\n\r\n";
const QByteArray kInternalError = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";

// HTTP/2 origins send no reason phrase; the relay speaks HTTP/1.1 and wants one.
QByteArray standardReason(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 203:
        return "Non-Authoritative Information";
    case 204:
        return "No Content";
    case 205:
        return "Reset Content";
    case 206:
        return "Partial Content";
    case 300:
        return "Multiple Choices";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 406:
        return "Not Acceptable";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return {};
    }
}

// Qt inflates these codings by itself because it chose the Accept-Encoding;
// the relayed body is then the decoded one.
bool isDecodedByQt(const QByteArray &contentEncoding)
{
    static const QByteArrayList decoded{"gzip", "deflate", "br", "zstd"};
    return decoded.contains(contentEncoding.trimmed().toLower());
}

// The origin's cookies belong to the client that got them; the relay serves
// every client alike and never sends one upstream.
class NoCookieJar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;

    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

int stalledTimeoutMs = 60000;

// Sends FIN while the relay keeps reading, so a client still sending sees the
// answer end rather than a reset.
void shutdownWrite(qintptr descriptor)
{
#ifdef Q_OS_WIN
    ::shutdown(SOCKET(descriptor), SD_SEND);
#else
    ::shutdown(int(descriptor), SHUT_WR);
#endif
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
    // The default of 50 drops a burst of connects, which then wait for SYN
    // retries (1 s, 3 s, ...) before the relay even sees them.
    setListenBacklogSize(1024);
}

void LocalProxy::setTargetHost(const QString &host)
{
    targetHost = host;
}

void LocalProxy::setSpeedMeter(NetworkSpeedMeter *meter)
{
    speedMeter = meter;
}

void LocalProxy::incomingConnection(qintptr socketDescriptor)
{
    // Owned by this server; it deletes itself when its client goes away.
    new ProxyConnection(socketDescriptor, targetHost, networkManager, speedMeter, this);
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

void ProxyConnection::onClientReadyRead()
{
    const QByteArray block = clientSocket->readAll();
    if (speedMeter && !block.isEmpty())
        speedMeter->recordUploadBytes(block.size());
    if (rejected) {
        drainedBytes += block.size();
        if (drainedBytes > kRejectDrainBytes)
            clientSocket->abort();
        return;
    }
    if (upstreamReply || headersSent)
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

    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
    upstreamReply = networkManager->get(request);
    // Bounds what Qt reads ahead while this connection waits for its client.
    upstreamReply->setReadBufferSize(kReplyReadBufferBytes);
    connect(upstreamReply, &QNetworkReply::readyRead, this, &ProxyConnection::onTargetReadyRead);
    connect(upstreamReply, &QNetworkReply::finished, this, &ProxyConnection::onTargetFinished);
}

void ProxyConnection::onClientDisconnected()
{
    timer->stop();
    if (upstreamReply) {
        // Aborting finishes the reply at once; onTargetFinished then releases it.
        upstreamReply->abort();
        if (upstreamReply) {
            upstreamReply->deleteLater();
            upstreamReply = nullptr;
        }
    }
    clientSocket->deleteLater();
    deleteLater();
}

void ProxyConnection::onTargetReadyRead()
{
    if (!headersSent)
        writeHead();
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
    if (!headersSent && (answered || reply->error() == QNetworkReply::NoError))
        writeHead();
    else if (!headersSent && clientSocket->state() == QAbstractSocket::ConnectedState)
        clientSocket->write(kInternalError);
    // What is left was held back for a slow client: it is at most one read
    // buffer, and nothing more will come.
    relayBody(true);

    // Cleared first: disconnecting may re-enter onClientDisconnected.
    upstreamReply = nullptr;
    reply->deleteLater();
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
    // The client took something: it has another full period.
    if (clientSocket->bytesToWrite() > 0)
        timer->start(stalledClientTimeoutMs());
    else
        timer->stop();
    if (upstreamReply && upstreamReply->bytesAvailable() > 0)
        relayBody();
}

void ProxyConnection::onTimeout()
{
    // Request line not complete, client stalled, or drain over: either way
    // the client has had its time.
    if (rejected)
        clientSocket->readAll(); // unread bytes would turn the close into a reset
    if (rejected || headersSent)
        clientSocket->abort();
    else
        clientSocket->disconnectFromHost();
}

void ProxyConnection::relayBody(bool all)
{
    // An aborted reply is closed and has nothing left to give.
    while (upstreamReply && upstreamReply->isOpen() &&
           (all || clientSocket->bytesToWrite() < kClientHighWaterBytes)) {
        const QByteArray block = upstreamReply->readAll();
        if (block.isEmpty())
            return;
        if (speedMeter)
            speedMeter->recordDownloadBytes(block.size());
        if (clientSocket->state() != QAbstractSocket::ConnectedState)
            continue;
        clientSocket->write(block);
        // Straight to the kernel, not on a later turn of the event loop.
        clientSocket->flush();
        if (clientSocket->bytesToWrite() > 0 && !timer->isActive())
            timer->start(stalledClientTimeoutMs());
    }
}

void ProxyConnection::reject(const QByteArray &answer)
{
    headersSent = true;
    rejected = true;
    clientSocket->write(answer);
    // Whatever the client still sends is read and dropped, within bounds.
    timer->start(kRejectDrainMs);
}

void ProxyConnection::writeHead()
{
    headersSent = true;
    if (clientSocket->state() != QAbstractSocket::ConnectedState)
        return;

    int status = upstreamReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        status = 200;
    QByteArray reason =
        upstreamReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    if (reason.isEmpty())
        reason = standardReason(status);

    const bool decoded = isDecodedByQt(upstreamReply->rawHeader("Content-Encoding"));
    // Qt drops the body of a redirect it would have followed; a length written
    // now, with the reply over and nothing read, would promise bytes never sent.
    const bool bodyless = upstreamReply->isFinished() && upstreamReply->bytesAvailable() == 0;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    for (const auto &[name, value] : upstreamReply->rawHeaderPairs()) {
        const QByteArray key = name.toLower();
        // The body arrives de-chunked, and this relay sets its own Connection.
        if (key == "transfer-encoding" || key == "connection" || key == "keep-alive")
            continue;
        // Neither describes a body that Qt has already inflated.
        if (decoded && (key == "content-encoding" || key == "content-length"))
            continue;
        if (bodyless && key == "content-length" && value.trimmed() != "0")
            continue;
        // Qt joins repeated Set-Cookie headers with newlines.
        for (const QByteArray &line : value.split('\n'))
            head += name + ": " + line + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    clientSocket->write(head);
}
