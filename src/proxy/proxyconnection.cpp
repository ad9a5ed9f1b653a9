#include "proxyconnection.h"

#include "clientstream.h"
#include "networkspeedmeter.h"
#include "relayhead.h"
#include "relaylimits.h"
#include "requestline.h"
#include "upstreampool.h"
#include "videofactstap.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace {

const QByteArray kBadRequest = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
const QByteArray kUriTooLong = "HTTP/1.1 414 URI Too Long\r\nConnection: close\r\n\r\n";
const QByteArray kInternalError = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";
const QByteArray kBadGateway = "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";

// Set by tests on their own thread, read on the relay's.
std::atomic<int> stalledTimeoutMs{60000};

// How often a streaming connection looks whether its client took anything.
int progressCheckMs()
{
    return std::clamp(stalledClientTimeoutMs() / 8, 10, 1000);
}

enum class Redirect
{
    None,   // not a redirect the relay acts on: relayed as it is
    Follow, // to *to
    Refuse, // one the relay will not follow
};

// As Qt would follow: at most kMaxRedirects hops, http and https only, never
// from https down to http.
Redirect judgeRedirect(const QNetworkReply &reply, int hopsSoFar, QUrl *to)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    const QByteArray location = reply.rawHeader("Location");
    if (!redirect || location.isEmpty())
        return Redirect::None;
    if (hopsSoFar >= kMaxRedirects)
        return Redirect::Refuse;
    *to = reply.url().resolved(QUrl::fromEncoded(location.trimmed()));
    const QString scheme = to->scheme().toLower();
    const bool downgrade = reply.url().scheme().toLower() == "https" && scheme == "http";
    if (!to->isValid() || to->host().isEmpty() || (scheme != "http" && scheme != "https") ||
        downgrade)
        return Redirect::Refuse;
    return Redirect::Follow;
}

// The errors Qt reports for an HTTP error status (4xx, 5xx) of its own.
bool restatesStatus(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError) ||
           error == QNetworkReply::ProtocolInvalidOperationError ||
           error == QNetworkReply::ProxyAuthenticationRequiredError;
}

// After the head, only an error that merely restates the origin's HTTP status
// leaves the body whole; a broken transfer, a failed decoding or an abort cut it.
bool cutsBody(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return false;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status < 400 || !restatesStatus(error);
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

ProxyConnection::ProxyConnection(qintptr socketDescriptor, const QString &host, UpstreamPool *pool,
                                 NetworkSpeedMeter *meter, QObject *parent)
    : QObject(parent), client(new ClientStream(socketDescriptor, this)), upstream(pool),
      targetHost(host), speedMeter(meter)
{
    connect(client, &ClientStream::received, this, &ProxyConnection::onClientReadyRead);
    connect(client, &ClientStream::inputEnded, this, &ProxyConnection::onClientInputEnded);
    connect(client, &ClientStream::progressed, this, &ProxyConnection::onClientProgress);
    connect(client, &ClientStream::gone, this, &ProxyConnection::onClientDisconnected);

    // One timer serves each phase's time limit: the request line, then the
    // client's progress while the answer goes out.
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &ProxyConnection::onTimeout);
    timer->start(requestLineTimeoutMs());
}

ProxyConnection::~ProxyConnection()
{
    dropUpstream();
    // Ended with part of an answer out (the relay is shutting down): the
    // client must not take what it got for the whole.
    if (headWritten && !(bodyComplete && client->bytesToWrite() == 0))
        client->reset();
    else
        client->close();
}

void ProxyConnection::hurryRequestLine(int ms)
{
    if (phase == Phase::ReadingRequest && timer->remainingTime() > ms)
        timer->start(ms);
}

// --- the request ----------------------------------------------------------------

void ProxyConnection::onClientReadyRead(const QByteArray &block)
{
    if (speedMeter)
        speedMeter->recordUploadBytes(block.size());
    if (phase == Phase::ReadingRequest) {
        readRequest(block);
        return;
    }
    // One request per connection: whatever follows is counted and dropped,
    // a rejected client's only within bounds.
    drainedBytes += block.size();
    if (rejected && drainedBytes > kRejectDrainBytes && client->bytesToWrite() == 0)
        closeClient();
}

void ProxyConnection::readRequest(const QByteArray &block)
{
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
    phase = Phase::AwaitingReply;
    fetch(url);
}

// A client's FIN ends its input, not its interest in the answer.
void ProxyConnection::onClientInputEnded()
{
    if (phase == Phase::ReadingRequest)
        closeClient(); // the request can never be completed
    else
        closeWhenDone();
}

void ProxyConnection::onClientDisconnected()
{
    dropUpstream();
    timer->stop();
    deleteLater();
}

// --- the origin -----------------------------------------------------------------

void ProxyConnection::fetch(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
    // Qt inflates compressed bodies into the reply's buffer whatever its
    // read buffer size says; asked for the identity, it never does.
    request.setRawHeader("Accept-Encoding", "identity");
    upstreamReply = upstream->get(request);
    // Bounds what Qt reads ahead while this connection waits for its client.
    upstreamReply->setReadBufferSize(kReplyReadBufferBytes);
    connect(upstreamReply, &QNetworkReply::readyRead, this, &ProxyConnection::onTargetReadyRead);
    connect(upstreamReply, &QNetworkReply::finished, this, &ProxyConnection::onTargetFinished);
}

// True when the reply was a redirect that the relay followed or refused.
bool ProxyConnection::handleRedirect()
{
    QUrl to;
    switch (judgeRedirect(*upstreamReply, redirects, &to)) {
    case Redirect::None:
        return false;
    case Redirect::Refuse:
        refuseRedirect();
        return true;
    case Redirect::Follow:
        break;
    }
    ++redirects;
    dropUpstream();
    fetch(to);
    return true;
}

// Passed on, its Location would lead the player's own HTTP clients around
// the relay.
void ProxyConnection::refuseRedirect()
{
    dropUpstream();
    headWritten = true;
    writeToClient(kBadGateway);
    finishAnswer();
}

void ProxyConnection::onTargetReadyRead()
{
    if (phase == Phase::AwaitingReply) {
        if (handleRedirect())
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
    if (phase == Phase::AwaitingReply) {
        if (answered && handleRedirect())
            return;
        if (answered || reply->error() == QNetworkReply::NoError)
            writeHead();
        else
            writeToClient(kInternalError);
    }
    // What is left was held back for a slow client: it is at most one read
    // buffer, and nothing more will come.
    relayBody(true);
    const bool cut = headWritten && cutsBody(*reply);
    upstreamReply = nullptr;
    reply->deleteLater();
    if (cut)
        resetClient();
    else
        finishAnswer();
}

void ProxyConnection::dropUpstream()
{
    if (!upstreamReply)
        return;
    QNetworkReply *reply = upstreamReply;
    upstreamReply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

// --- the answer -----------------------------------------------------------------

void ProxyConnection::writeHead()
{
    headWritten = true;
    phase = Phase::Streaming;
    writeToClient(relayedHead(*upstreamReply));
    watchProgress();
}

void ProxyConnection::relayBody(bool all)
{
    // An aborted reply is closed and has nothing left to give. Reads stop at
    // the mark, so the client's buffer passes it only by the tail of a
    // finished reply.
    while (upstreamReply && upstreamReply->isOpen() && client->isOpen() &&
           (all || client->bytesToWrite() < kClientHighWaterBytes)) {
        const QByteArray block =
            all ? upstreamReply->readAll()
                : upstreamReply->read(kClientHighWaterBytes - client->bytesToWrite());
        if (block.isEmpty())
            return;
        if (speedMeter)
            speedMeter->recordDownloadBytes(block.size());
        if (factsTap)
            factsTap->feed(factsReader, block.constData(), block.size());
        writeToClient(block);
    }
}

void ProxyConnection::writeToClient(const QByteArray &data)
{
    client->write(data);
    queuedBytes += data.size();
}

void ProxyConnection::reject(const QByteArray &answer)
{
    rejected = true;
    headWritten = true;
    writeToClient(answer);
    finishAnswer();
}

// The whole answer is written: it drains to the client, then FIN.
void ProxyConnection::finishAnswer()
{
    phase = Phase::Closing;
    bodyComplete = true;
    client->finishWriting();
    watchProgress();
    closeWhenDone();
}

void ProxyConnection::onClientProgress()
{
    if (phase == Phase::Streaming && upstreamReply && upstreamReply->bytesAvailable() > 0)
        relayBody();
    closeWhenDone();
}

// --- time limits ----------------------------------------------------------------

void ProxyConnection::onTimeout()
{
    if (phase == Phase::ReadingRequest)
        closeClient(); // the request line did not come in time
    else
        checkProgress();
}

// Starts watching the client once an answer goes out to it.
void ProxyConnection::watchProgress()
{
    if (watching)
        return;
    watching = true;
    takenBytes = queuedBytes - client->untaken();
    sinceProgress.start();
    timer->start(progressCheckMs());
}

void ProxyConnection::checkProgress()
{
    // Whatever the client took, from the relay's buffer or the kernel's, is
    // progress and starts its period anew; so does having nothing to take.
    const qint64 waiting = client->untaken();
    const qint64 taken = queuedBytes - waiting;
    if (taken > takenBytes || waiting == 0) {
        takenBytes = taken;
        sinceProgress.start();
    }
    if (waiting > 0 && sinceProgress.elapsed() >= stalledClientTimeoutMs()) {
        resetClient();
        return;
    }
    // A client that has taken the whole answer but neither closes nor stops
    // sending gets a short while to do so.
    if (phase == Phase::Closing && waiting == 0) {
        if (!allTaken.isValid())
            allTaken.start();
        else if (allTaken.elapsed() >= kRejectDrainMs) {
            closeClient();
            return;
        }
    }
    timer->start(progressCheckMs());
}

// --- the end --------------------------------------------------------------------

// After the whole answer and its FIN, the client's own close ends it.
void ProxyConnection::closeWhenDone()
{
    if (phase == Phase::Closing && client->writingFinished() && client->peerFinished())
        closeClient();
}

void ProxyConnection::closeClient()
{
    dropUpstream();
    timer->stop();
    client->close();
    deleteLater();
}

// Anything short of the whole answer: the client must see it was cut.
void ProxyConnection::resetClient()
{
    dropUpstream();
    timer->stop();
    client->reset();
    deleteLater();
}
