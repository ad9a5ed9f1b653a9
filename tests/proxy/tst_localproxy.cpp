#include "clientstream.h"
#include "fakeorigin.h"
#include "localproxy.h"
#include "networkspeedmeter.h"
#include "proxyconnection.h"
#include "relaylimits.h"
#include "relaythread.h"
#include "requestline.h"
#include "testbodies.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <limits>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using Headers = QList<QPair<QByteArray, QByteArray>>;

namespace {

const QByteArray kError500 = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";
// A second of the relay's own time; under AddressSanitizer, where every
// allocation costs many times more, five.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 kSecond = 5000;
#else
constexpr qint64 kSecond = 1000;
#endif
const QByteArray kUserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";

FakeResponse reply(int status, const QByteArray &reason, const Headers &headers,
                   const QList<QByteArray> &pieces)
{
    FakeResponse r;
    r.status = status;
    r.reason = reason;
    r.headers = headers;
    r.bodyPieces = pieces;
    return r;
}

// A raw client of the relay that keeps everything it is sent.
struct Client
{
    explicit Client(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;
    QByteArray received;
};

// A plain non-blocking socket: unlike QTcpSocket it tells a reset (ECONNRESET,
// EPIPE) apart from an orderly close.
struct RawClient
{
    // A small receive buffer keeps most of an unread answer on the relay's side.
    explicit RawClient(quint16 port, int receiveBuffer = 0)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~RawClient() { ::close(fd); }

    // Sends everything, waiting for room as a blocking client would; false
    // once the peer has reset the connection.
    bool sendAll(const QByteArray &data)
    {
        qsizetype at = 0;
        while (at < data.size()) {
            const ssize_t n =
                ::send(fd, data.constData() + at, size_t(data.size() - at), MSG_NOSIGNAL);
            if (n >= 0) {
                at += n;
                continue;
            }
            if (errno != EAGAIN && errno != EINPROGRESS && errno != ENOTCONN) {
                resetSeen = true;
                return false;
            }
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 5000) <= 0)
                return false;
        }
        return true;
    }
    // False once the peer has reset the connection.
    bool send(const QByteArray &data)
    {
        qsizetype at = 0;
        while (at < data.size()) {
            const ssize_t n =
                ::send(fd, data.constData() + at, size_t(data.size() - at), MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINPROGRESS || errno == ENOTCONN))
                return true; // buffers full; what is left is dropped
            if (n < 0) {
                resetSeen = true;
                return false;
            }
            at += n;
        }
        return true;
    }
    // Reads what has arrived, up to a total of upTo bytes; true once the
    // stream has ended either way.
    bool poll(qsizetype upTo = std::numeric_limits<qsizetype>::max())
    {
        char buffer[16384];
        while (received.size() < upTo) {
            const size_t want = size_t(qMin<qsizetype>(sizeof buffer, upTo - received.size()));
            const ssize_t n = ::recv(fd, buffer, want, 0);
            if (n > 0) {
                received.append(buffer, n);
                continue;
            }
            if (n == 0) {
                eof = true;
                return true;
            }
            if (errno == EAGAIN || errno == ENOTCONN)
                return false;
            resetSeen = true;
            return true;
        }
        return false;
    }

    int fd = -1;
    QByteArray received;
    bool eof = false;
    bool resetSeen = false;
};

// Samples how many bytes of a reply the relay holds: unsent to its client plus
// read ahead from the origin.
struct HeldBytesProbe
{
    explicit HeldBytesProbe(LocalProxy &proxy)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, &proxy] {
            qint64 held = 0;
            for (auto *client : proxy.findChildren<ClientStream *>())
                held += client->bytesToWrite();
            for (auto *reply : proxy.findChildren<QNetworkReply *>())
                held += reply->bytesAvailable();
            most = qMax(most, held);
        });
        timer.start(0);
    }

    QTimer timer;
    qint64 most = 0;
};

} // namespace

class TestLocalProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void forwardsOneGet_data();
    void forwardsOneGet();
    void streamsPiecesAndCountsTraffic();
    void relaysAnswer_data();
    void relaysAnswer();
    void reachesOrigin_data();
    void reachesOrigin();
    void rejectsRequest_data();
    void rejectsRequest();
    void closesStalledConnection_data();
    void closesStalledConnection();
    void clientLeavingAbortsUpstream();
    void upstreamCarriesNoCookies_data();
    void upstreamCarriesNoCookies();
    void rejectedClientStillSendingGetsAnswer_data();
    void rejectedClientStillSendingGetsAnswer();
    void slowClientKeepsRelayBounded();
    void stalledClientIsClosed_data();
    void stalledClientIsClosed();
    void slowSteadyReaderGetsWholeBody();
    void abnormalEndIsReset_data();
    void abnormalEndIsReset();
    void followedRedirectRelaysFinalHead();
    void finishedReplyTailPassesTheMark_data();
    void finishedReplyTailPassesTheMark();
    void clientFinWaitsForWholeAnswer_data();
    void clientFinWaitsForWholeAnswer();
    void stalledClientsDelayNoOne_data();
    void stalledClientsDelayNoOne();
    void redirectsAsQtWould_data();
    void redirectsAsQtWould();
    void capHurriesTheSilent_data();
    void capHurriesTheSilent();

private:
    void startProxy(LocalProxy &proxy, const QString &targetHost);
    void sendApart(LocalProxy &proxy, Client &client, const QList<QByteArray> &chunks);
    void exchange(LocalProxy &proxy, const QList<QByteArray> &chunks, QByteArray *answer);
};

void TestLocalProxy::initTestCase()
{
    trustTestCertificateAuthority();
}

void TestLocalProxy::cleanup()
{
    setRequestLineTimeoutMs(30000);
    setStalledClientTimeoutMs(60000);
}

void TestLocalProxy::startProxy(LocalProxy &proxy, const QString &targetHost)
{
    proxy.setTargetHost(targetHost);
    QVERIFY(proxy.listen(QHostAddress::LocalHost, 0));
}

// Writes each chunk only once the relay has read the one before.
void TestLocalProxy::sendApart(LocalProxy &proxy, Client &client, const QList<QByteArray> &chunks)
{
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    auto *relaySide = proxy.findChild<ProxyConnection *>()->findChild<ClientStream *>();
    for (const QByteArray &chunk : chunks) {
        QSignalSpy read(relaySide, &ClientStream::received);
        client.socket.write(chunk);
        QVERIFY(read.wait());
    }
}

// Sends a request, waits for the relay to close and to free what it held.
void TestLocalProxy::exchange(LocalProxy &proxy, const QList<QByteArray> &chunks,
                              QByteArray *answer)
{
    Client client(proxy.serverPort());
    sendApart(proxy, client, chunks);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(client.closed(), 10000);
    *answer = client.received;
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 0);
    QTRY_COMPARE(proxy.findChildren<QNetworkReply *>().size(), 0);
}

void TestLocalProxy::forwardsOneGet_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("one block") << QList<QByteArray>{"GET /hls/master.m3u8 HTTP/1.1\r\nHost: "
                                                    "evil\r\nX-Client: 1\r\n\r\n"}
                               << QByteArray("/hls/master.m3u8");
    QTest::newRow("split in target")
        << QList<QByteArray>{"GET /hls/mas", "ter.m3u8 HTTP/1.1\r\nHost: evil\r\n\r\n"}
        << QByteArray("/hls/master.m3u8");
    QTest::newRow("split in line end")
        << QList<QByteArray>{"GET /a HTTP/1.1\r", "\n\r\n"} << QByteArray("/a");
    QTest::newRow("headers in a later read")
        << QList<QByteArray>{"GET /a HTTP/1.1\r\n", "Host: evil\r\n\r\n"} << QByteArray("/a");
    QTest::newRow("POST") << QList<QByteArray>{"POST /a HTTP/1.1\r\nContent-Length: 2\r\n\r\nxy"}
                          << QByteArray("/a");
    QTest::newRow("extra spaces")
        << QList<QByteArray>{"GET   /epg_api.php?action=now    HTTP/1.1\r\n\r\n"}
        << QByteArray("/epg_api.php?action=now");
    QTest::newRow("pipelined second request")
        << QList<QByteArray>{"GET /first HTTP/1.1\r\n\r\nGET /second HTTP/1.1\r\n\r\n"}
        << QByteArray("/first");
}

void TestLocalProxy::forwardsOneGet()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, target);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, {"hello"}));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QByteArray answer;
    exchange(proxy, chunks, &answer);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(answer, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
    QCOMPARE(origin.requests().size(), 1);
    const ReceivedRequest &request = origin.requests().first();
    QCOMPARE(request.method, "GET");
    QCOMPARE(request.target, target);
    QCOMPARE(request.header("User-Agent"), kUserAgent);
    QCOMPARE(request.header("Host"), "127.0.0.1:" + QByteArray::number(origin.port()));
    QVERIFY(request.header("X-Client").isNull());
    QVERIFY(request.header("Content-Length").isNull());
}

void TestLocalProxy::streamsPiecesAndCountsTraffic()
{
    const QList<QByteArray> pieces{QByteArray(1000, 'a'), QByteArray(2000, 'b'),
                                   QByteArray(3000, 'c')};
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse response = reply(200, "OK", {}, pieces);
    response.stepped = true;
    origin.setResponse(response);

    // The rates are per the time between ticks, measured here alike.
    QElapsedTimer sinceTick;
    sinceTick.start();
    NetworkSpeedMeter meter;
    double down = 0;
    double up = 0;
    connect(&meter, &NetworkSpeedMeter::ratesUpdated, this, [&](double mbpsDown, double mbpsUp) {
        const double seconds = double(sinceTick.restart()) / 1000;
        down += mbpsDown * 1e6 / 8 * seconds;
        up += mbpsUp * 1e6 / 8 * seconds;
    });
    LocalProxy proxy;
    proxy.setSpeedMeter(&meter);
    startProxy(proxy, origin.url());

    const QByteArray request = "GET /seg.ts HTTP/1.1\r\nHost: a\r\n\r\n";
    const QByteArray afterwards = "GET /other.ts HTTP/1.1\r\n\r\n";
    Client client(proxy.serverPort());
    sendApart(proxy, client, {request});
    QTRY_COMPARE(origin.requests().size(), 1);
    sendApart(proxy, client, {afterwards});

    // Each piece must reach the client before the origin sends the next.
    for (int i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            origin.sendNextPiece();
        QTRY_VERIFY(client.received.endsWith(pieces.at(i)));
    }
    QTRY_VERIFY(client.closed());
    QCOMPARE(client.received,
             "HTTP/1.1 200 OK\r\nContent-Length: 6000\r\nConnection: close\r\n\r\n" +
                 pieces.join());
    QTRY_VERIFY2(qAbs(down - 6000) < 6000 * 0.02, QByteArray::number(down).constData());
    const double sent = double(request.size() + afterwards.size());
    QTRY_VERIFY2(qAbs(up - sent) < sent * 0.02, QByteArray::number(up).constData());
    QCOMPARE(origin.requests().size(), 1);
}

void TestLocalProxy::relaysAnswer_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<QByteArray>("expected");

    const Headers text{{"Content-Type", "text/plain"}};
    FakeResponse chunked =
        reply(200, "OK", {{"tRANSFER-eNCODING", "chunked"}, text.first()}, {"abc", "defg"});
    chunked.framing = FakeResponse::Framing::Chunked;
    QTest::newRow("chunked, name in any case")
        << chunked
        << QByteArray(
               "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\nabcdefg");

    QTest::newRow("origin's reason with body")
        << reply(404, "Nicht Gefunden", text, {"nope"})
        << QByteArray("HTTP/1.1 404 Nicht Gefunden\r\nContent-Type: text/plain\r\n"
                      "Content-Length: 4\r\nConnection: close\r\n\r\nnope");
    QTest::newRow("404 without body")
        << reply(404, "Gone Fishing", {}, {})
        << QByteArray(
               "HTTP/1.1 404 Gone Fishing\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    QTest::newRow("empty 200") << reply(200, "OK", {}, {})
                               << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
                                             "Connection: close\r\n\r\n");
    FakeResponse noContent = reply(204, "No Content", {{"X-Id", "7"}}, {});
    noContent.framing = FakeResponse::Framing::None;
    QTest::newRow("204") << noContent
                         << QByteArray("HTTP/1.1 204 No Content\r\nX-Id: 7\r\n"
                                       "Connection: close\r\n\r\n");
    QTest::newRow("no reason, 404")
        << reply(404, "", {}, {"x"})
        << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
    QTest::newRow("no reason, 200")
        << reply(200, "", {}, {"x"})
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
    QTest::newRow("no reason, 503")
        << reply(503, "", {{"Retry-After", "5"}}, {"busy"})
        << QByteArray("HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\n"
                      "Content-Length: 4\r\nConnection: close\r\n\r\nbusy");
    // A redirect with nowhere to go is relayed as it is, body and all.
    QTest::newRow("no reason, 301")
        << reply(301, "", {}, {"moved"})
        << QByteArray("HTTP/1.1 301 Moved Permanently\r\nContent-Length: 5\r\n"
                      "Connection: close\r\n\r\nmoved");
    QTest::newRow("no reason, 403")
        << reply(403, "", {}, {})
        << QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    QTest::newRow("no reason, unknown code")
        << reply(299, "", {}, {"y"})
        << QByteArray("HTTP/1.1 299 \r\nContent-Length: 1\r\nConnection: close\r\n\r\ny");

    // Asked for the identity, Qt decodes nothing: an origin that compresses
    // anyway has its body and its head passed on as they are.
    const QByteArray playlist = QByteArray("#EXTM3U\n#EXT-X-VERSION:3\n").repeated(40);
    FakeResponse gzipped = reply(200, "OK", {{"Content-Type", "application/vnd.apple.mpegurl"}},
                                 {playlist.left(500), playlist.mid(500)});
    gzipped.gzip = true;
    const QByteArray packed = gzipCompress(playlist);
    const QByteArray asSent = "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
                              "Content-Encoding: gzip\r\n";
    QTest::newRow("gzip") << gzipped
                          << asSent + "Content-Length: " + QByteArray::number(packed.size()) +
                                 "\r\nConnection: close\r\n\r\n" + packed;
    gzipped.framing = FakeResponse::Framing::Chunked;
    QTest::newRow("gzip, chunked") << gzipped << asSent + "Connection: close\r\n\r\n" + packed;
    FakeResponse deflated = gzipped;
    deflated.gzip = false;
    deflated.deflate = true;
    deflated.framing = FakeResponse::Framing::ContentLength;
    const QByteArray deflatedHead =
        "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
        "Content-Encoding: deflate\r\n";
    QTest::newRow("deflate") << deflated
                             << deflatedHead + "Content-Length: " +
                                    QByteArray::number(deflateCompress(playlist).size()) +
                                    "\r\nConnection: close\r\n\r\n" + deflateCompress(playlist);
    deflated.framing = FakeResponse::Framing::None;
    QTest::newRow("deflate, close-delimited")
        << deflated
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
                      "Content-Encoding: deflate\r\nConnection: close\r\n\r\n") +
               deflateCompress(playlist);
    QTest::newRow("corrupt gzip, passed as sent")
        << reply(200, "OK", {{"Content-Encoding", "gzip"}}, {"not gzip at all"})
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 15\r\n"
                      "Connection: close\r\n\r\nnot gzip at all");
    FakeResponse chunkedWithLength =
        reply(200, "OK", {{"Content-Length", "10"}}, {"0123456789", "abcdefghij"});
    chunkedWithLength.framing = FakeResponse::Framing::Chunked;
    QTest::newRow("chunked with a length, the length dropped")
        << chunkedWithLength
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n0123456789abcdefghij");
    QTest::newRow("length with a nine")
        << reply(200, "OK", {}, {"nineteen bytes long"})
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 19\r\nConnection: close\r\n\r\n"
                      "nineteen bytes long");
    QTest::newRow("unknown coding passed through")
        << reply(200, "OK", {{"Content-Encoding", "x-custom"}}, {"raw"})
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: x-custom\r\nContent-Length: 3\r\n"
                      "Connection: close\r\n\r\nraw");

    FakeResponse cut = reply(200, "OK", {}, {"hello"});
    cut.announcedLength = 10;
    QTest::newRow("origin fails mid-body")
        << cut
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nhello");
    QTest::newRow("origin's hop-by-hop headers dropped, cookies kept apart")
        << reply(200, "OK",
                 {{"Connection", "keep-alive"},
                  {"Keep-Alive", "timeout=5"},
                  {"Set-Cookie", "a=1"},
                  {"Set-Cookie", "b=2"}},
                 {"ok"})
        << QByteArray("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n"
                      "Content-Length: 2\r\nConnection: close\r\n\r\nok");
}

void TestLocalProxy::relaysAnswer()
{
    QFETCH(FakeResponse, response);
    QFETCH(QByteArray, expected);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(response);
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QByteArray answer;
    exchange(proxy, {"GET /x HTTP/1.1\r\n\r\n"}, &answer);
    QCOMPARE(answer, expected);
}

void TestLocalProxy::reachesOrigin_data()
{
    QTest::addColumn<int>("transport");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    QTest::newRow("trusted TLS") << int(FakeOrigin::Tls) << false << ok;
    QTest::newRow("untrusted TLS") << int(FakeOrigin::UntrustedTls) << false << kError500;
    QTest::newRow("reset before answer") << int(FakeOrigin::Plain) << true << kError500;
    QTest::newRow("refused") << -1 << false << kError500;
}

void TestLocalProxy::reachesOrigin()
{
    QFETCH(int, transport);
    QFETCH(bool, reset);
    QFETCH(QByteArray, expected);

    FakeOrigin origin;
    QString targetHost;
    if (transport < 0) {
        // A port the OS just handed out and nobody listens on any more.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        targetHost = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    } else {
        QVERIFY(origin.listen(FakeOrigin::Transport(transport)));
        FakeResponse response = reply(200, "OK", {}, {"ok"});
        if (reset)
            response.action = FakeResponse::Action::Reset;
        origin.setResponse(response);
        targetHost = origin.url();
    }
    LocalProxy proxy;
    startProxy(proxy, targetHost);

    QByteArray answer;
    exchange(proxy, {"GET /x HTTP/1.1\r\n\r\n"}, &answer);
    QCOMPARE(answer, expected);
}

void TestLocalProxy::rejectsRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray bad = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
    QTest::newRow("userinfo") << QByteArray("GET @evil/x HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("host suffix") << QByteArray("GET .evil/x HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("port") << QByteArray("GET :9999/x HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("absolute form") << QByteArray("GET http://evil/x HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("authority form") << QByteArray("CONNECT evil:443 HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("one part") << QByteArray("GET\r\n\r\n") << bad;
    QTest::newRow("query only") << QByteArray("GET ?x=1 HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("fragment only") << QByteArray("GET #top HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("too long") << QByteArray(kMaxRequestLineBytes, 'a')
                              << QByteArray(
                                     "HTTP/1.1 414 URI Too Long\r\nConnection: close\r\n\r\n");
}

void TestLocalProxy::rejectsRequest()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, {"ok"}));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QByteArray answer;
    exchange(proxy, {request}, &answer);
    QCOMPARE(answer, expected);
    // A good request afterwards is the only one the origin ever sees.
    exchange(proxy, {"GET /good HTTP/1.1\r\n\r\n"}, &answer);
    QCOMPARE(origin.requests().size(), 1);
    QCOMPARE(origin.requests().first().target, "/good");
}

void TestLocalProxy::closesStalledConnection_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("silent client") << QList<QByteArray>{} << QByteArray();
    QTest::newRow("unfinished line") << QList<QByteArray>{"GET /hls/mas"} << QByteArray();
    // The limit is on the request line only, not on a slow origin.
    QTest::newRow("slow origin")
        << QList<QByteArray>{"GET /a HTTP/1.1\r\n\r\n"}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
}

void TestLocalProxy::closesStalledConnection()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, expected);

    setRequestLineTimeoutMs(300);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse response = reply(200, "OK", {}, {"ok"});
    response.delayMs = 1000;
    origin.setResponse(response);
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QByteArray answer;
    exchange(proxy, chunks, &answer);
    QCOMPARE(answer, expected);
    QCOMPARE(origin.requests().size(), expected.isEmpty() ? 0 : 1);
}

void TestLocalProxy::clientLeavingAbortsUpstream()
{
    const QByteArray first(1000, 'a');
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse response =
        reply(200, "OK", {}, {first, QByteArray(1000, 'b'), QByteArray(1000, 'c')});
    response.stepped = true;
    origin.setResponse(response);
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    Client client(proxy.serverPort());
    sendApart(proxy, client, {"GET /seg.ts HTTP/1.1\r\n\r\n"});
    QTRY_VERIFY(client.received.endsWith(first));
    QCOMPARE(origin.openConnections(), 1);

    // A closed client looks like a half-closed one until the relay writes to
    // it again and its system answers with a reset.
    client.socket.abort();
    origin.sendNextPiece();
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 0);
    QTRY_COMPARE(proxy.findChildren<QNetworkReply *>().size(), 0);
    QTRY_COMPARE(origin.openConnections(), 0);
}

void TestLocalProxy::upstreamCarriesNoCookies_data()
{
    QTest::addColumn<QByteArray>("setCookie");

    QTest::newRow("plain") << QByteArray("session=abc");
    QTest::newRow("path and lifetime") << QByteArray("session=abc; Path=/; Max-Age=3600");
    QTest::newRow("domain") << QByteArray("session=abc; Domain=127.0.0.1; HttpOnly");
}

void TestLocalProxy::upstreamCarriesNoCookies()
{
    QFETCH(QByteArray, setCookie);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {{"Set-Cookie", setCookie}}, {"ok"}));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QByteArray answer;
    for (const QByteArray path : {"/a", "/a", "/b/c"}) {
        exchange(proxy, {"GET " + path + " HTTP/1.1\r\nCookie: mine=1\r\n\r\n"}, &answer);
        QVERIFY(answer.contains("\r\nSet-Cookie: " + setCookie + "\r\n"));
    }
    QCOMPARE(origin.requests().size(), 3);
    for (const ReceivedRequest &request : origin.requests()) {
        QVERIFY2(request.header("Cookie").isNull(), request.header("Cookie").constData());
        QVERIFY(request.header("Authorization").isNull());
    }
}

void TestLocalProxy::rejectedClientStillSendingGetsAnswer_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("filler");
    QTest::addColumn<int>("fillers");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray badTarget = "GET ?x=1 HTTP/1.1\r\nHost: a\r\n";
    const QByteArray header = "X-Filler: " + QByteArray(500, 'f') + "\r\n";
    const QByteArray bad = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
    const QByteArray tooLong = "HTTP/1.1 414 URI Too Long\r\nConnection: close\r\n\r\n";
    const QByteArray longLine(kMaxRequestLineBytes, 'a');
    QTest::newRow("bad target, 20 KB more") << badTarget << header << 40 << bad;
    QTest::newRow("bad target, 200 KB more") << badTarget << header << 400 << bad;
    QTest::newRow("line too long, 20 KB more") << longLine << QByteArray(512, 'a') << 40 << tooLong;
    QTest::newRow("line of 1 MB") << longLine << QByteArray(8192, 'a') << 128 << tooLong;
}

void TestLocalProxy::rejectedClientStillSendingGetsAnswer()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, filler);
    QFETCH(int, fillers);
    QFETCH(QByteArray, expected);

    // On its own thread, so that it reads while the client writes.
    RelayThread relay(QStringLiteral("http://127.0.0.1:1"), nullptr);
    relay.run([](LocalProxy &proxy) { QVERIFY(proxy.listen(QHostAddress::LocalHost, 0)); });
    RawClient client(relay.serverPort());
    QVERIFY(client.sendAll(start));
    // The client goes on sending while the answer is on its way, as one that
    // writes its whole request before reading does.
    for (int i = 0; i < fillers && client.sendAll(filler); ++i)
        client.poll();
    QTRY_VERIFY_WITH_TIMEOUT(client.poll(), 5000);
    QCOMPARE(client.received, expected);
    // Within the drain limit the end is a plain close; past it the client may
    // see a reset, but only after the answer.
    if (filler.size() * fillers < kRejectDrainBytes) {
        QVERIFY(client.eof);
        QVERIFY(!client.resetSeen);
    }
    int connections = -1;
    QTRY_VERIFY((relay.run([&](LocalProxy &proxy) {
        connections = int(proxy.findChildren<ProxyConnection *>().size());
    }),
                 connections == 0));
}

void TestLocalProxy::slowClientKeepsRelayBounded()
{
    const QByteArray body = patternBody(24 * 1024 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, splitInto(body, 512 * 1024)));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    // Takes at most 64 KiB every 2 ms, far slower than the loopback origin.
    QTcpSocket client;
    client.setReadBufferSize(64 * 1024);
    QByteArray received;
    QTimer reader;
    connect(&reader, &QTimer::timeout, this, [&] { received += client.read(64 * 1024); });
    client.connectToHost(QHostAddress::LocalHost, proxy.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("GET /big HTTP/1.1\r\n\r\n");
    HeldBytesProbe probe(proxy);
    reader.start(2);

    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::UnconnectedState ||
                                 received.size() >= body.size() + 60,
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::UnconnectedState, 10000);
    received += client.readAll();
    const QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Length: 25165824\r\nConnection: close\r\n\r\n";
    QVERIFY(received.startsWith(head));
    QCOMPARE(received.size(), head.size() + body.size());
    QVERIFY(received.mid(head.size()) == body);
    // The mark was reached, so the client was really the slower side. The relay
    // reads no further than the mark, and the reply holds at most its read
    // buffer, which Qt may overfill by one network read of up to that size;
    // at the end that tail moves to the client's buffer.
    QVERIFY2(probe.most >= kClientHighWaterBytes / 2, QByteArray::number(probe.most).constData());
    QVERIFY2(probe.most <= kClientHighWaterBytes + 2 * kReplyReadBufferBytes,
             QByteArray::number(probe.most).constData());
}

void TestLocalProxy::stalledClientIsClosed_data()
{
    QTest::addColumn<qint64>("takenBeforeStop");

    QTest::newRow("never reads") << qint64(0);
    QTest::newRow("stops after 2 MiB") << qint64(2 * 1024 * 1024);
}

void TestLocalProxy::stalledClientIsClosed()
{
    QFETCH(qint64, takenBeforeStop);

    setStalledClientTimeoutMs(400);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, splitInto(patternBody(32 * 1024 * 1024), 1 << 20)));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    QTcpSocket client;
    client.setReadBufferSize(64 * 1024);
    qint64 taken = 0;
    connect(&client, &QTcpSocket::readyRead, this, [&] {
        if (taken < takenBeforeStop)
            taken += client.read(takenBeforeStop - taken).size();
    });
    client.connectToHost(QHostAddress::LocalHost, proxy.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("GET /big HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(origin.openConnections(), 1);
    QElapsedTimer sinceRequest;
    sinceRequest.start();

    // Closed by the relay, the upstream fetch given up with it.
    QTRY_COMPARE_WITH_TIMEOUT(proxy.findChildren<ProxyConnection *>().size(), 0, 15000);
    QVERIFY(sinceRequest.elapsed() >= 400);
    QTRY_COMPARE(proxy.findChildren<QNetworkReply *>().size(), 0);
    QTRY_COMPARE(origin.openConnections(), 0);
    QCOMPARE(taken, takenBeforeStop);
}

void TestLocalProxy::slowSteadyReaderGetsWholeBody()
{
    // A minute's period scaled down to 1 s; the client takes 16 KiB every
    // 20 ms, so each period sees progress while the kernel's buffers between
    // the two take much longer than that to drain by half. (Shorter, a
    // sanitizer's slowest mode can hold this one thread up for a period.)
    setStalledClientTimeoutMs(1000);
    const QByteArray body = patternBody(4 * 1024 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, splitInto(body, 1 << 20)));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    RawClient client(proxy.serverPort());
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    QVERIFY(client.send("GET /big HTTP/1.1\r\n\r\n"));
    QTimer reader;
    connect(&reader, &QTimer::timeout, this, [&] { client.poll(client.received.size() + 16384); });
    reader.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(client.eof || client.resetSeen, 60000);
    QVERIFY(!client.resetSeen);
    QVERIFY(client.received.endsWith(body));
}

void TestLocalProxy::abnormalEndIsReset_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<qint64>("takenBeforeStall"); // -1: reads all along
    QTest::addColumn<bool>("reset");

    FakeResponse unknownLength = reply(200, "OK", {}, splitInto(patternBody(8 << 20), 1 << 20));
    unknownLength.framing = FakeResponse::Framing::Chunked;
    QTest::newRow("whole body, unknown length") << unknownLength << qint64(-1) << false;
    QTest::newRow("stalled client, unknown length") << unknownLength << qint64(1 << 20) << true;
    FakeResponse cut = reply(200, "OK", {}, {patternBody(100000)});
    cut.announcedLength = 200000;
    QTest::newRow("origin breaks off mid-body") << cut << qint64(-1) << true;
    // The origin is done and the relay is closing with part of it unsent.
    QTest::newRow("stalled client, whole body fetched")
        << reply(200, "OK", {}, splitInto(patternBody(3584 * 1024), 512 * 1024)) << qint64(0)
        << true;
    // All the relay wrote waits in the kernel; the origin holds the rest.
    FakeResponse held = reply(200, "OK", {}, {patternBody(512 * 1024), patternBody(1000)});
    held.stepped = true;
    QTest::newRow("stalled client, the rest in the kernel") << held << qint64(0) << true;
}

void TestLocalProxy::abnormalEndIsReset()
{
    QFETCH(FakeResponse, response);
    QFETCH(qint64, takenBeforeStall);
    QFETCH(bool, reset);

    setStalledClientTimeoutMs(300);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(response);
    LocalProxy proxy;
    startProxy(proxy, origin.url());
    RawClient client(proxy.serverPort());
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    QVERIFY(client.send("GET /x HTTP/1.1\r\n\r\n"));
    if (takenBeforeStall >= 0) {
        QTRY_VERIFY_WITH_TIMEOUT(
            (client.poll(takenBeforeStall), client.received.size() == takenBeforeStall), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(proxy.findChildren<ProxyConnection *>().size(), 0, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.poll(), 10000);
    QCOMPARE(client.resetSeen, reset);
}

void TestLocalProxy::followedRedirectRelaysFinalHead()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    const QByteArray body = patternBody(1234);
    origin.setResponseFor(
        "/old",
        reply(302, "Found", {{"Location", "/new"}, {"Content-Type", "text/html"}}, {"moved here"}));
    origin.setResponseFor("/new", reply(200, "OK", {{"Content-Type", "video/mp2t"}}, {body}));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    const QByteArray expected = "HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\n"
                                "Content-Length: 1234\r\nConnection: close\r\n\r\n" +
                                body;
    for (int i = 0; i < 20; ++i) {
        QByteArray answer;
        exchange(proxy, {"GET /old HTTP/1.1\r\n\r\n"}, &answer);
        QCOMPARE(answer, expected);
    }
}

void TestLocalProxy::finishedReplyTailPassesTheMark_data()
{
    QTest::addColumn<bool>("gzip");

    QTest::newRow("gzip bomb") << true;
    QTest::newRow("deflate bomb") << false;
}

void TestLocalProxy::finishedReplyTailPassesTheMark()
{
    QFETCH(bool, gzip);

    // A few kilobytes on the wire that would inflate to 48 MiB: the origin is
    // done while the relay still sits at its mark for a client that reads
    // nothing yet. The rest must still reach the client, and the relay must
    // never hold more than its bound.
    const QByteArray body(48 * 1024 * 1024, 'v');
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse packed = reply(200, "OK", {}, {body});
    packed.gzip = gzip;
    packed.deflate = !gzip;
    origin.setResponse(packed);
    LocalProxy proxy;
    startProxy(proxy, origin.url());
    HeldBytesProbe probe(proxy);

    RawClient client(proxy.serverPort());
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    QVERIFY(client.send("GET /x HTTP/1.1\r\n\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(proxy.findChildren<QNetworkReply *>().isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(client.poll(), 10000);
    QVERIFY(!client.resetSeen);
    QVERIFY(
        client.received.endsWith("\r\n\r\n" + (gzip ? gzipCompress(body) : deflateCompress(body))));
    QVERIFY2(probe.most <= kClientHighWaterBytes + 2 * kReplyReadBufferBytes,
             QByteArray::number(probe.most).constData());
}

void TestLocalProxy::clientFinWaitsForWholeAnswer_data()
{
    QTest::addColumn<qint64>("finAfter"); // body bytes read first; -1: no FIN
    QTest::addColumn<bool>("sendsWhileClosing");

    QTest::newRow("FIN right after the request") << qint64(0) << false;
    QTest::newRow("FIN mid-body") << qint64(256 * 1024) << false;
    QTest::newRow("input while the answer drains") << qint64(-1) << true;
}

void TestLocalProxy::clientFinWaitsForWholeAnswer()
{
    QFETCH(qint64, finAfter);
    QFETCH(bool, sendsWhileClosing);

    const QByteArray body = patternBody(3 * 1024 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, splitInto(body, 256 * 1024)));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    RawClient client(proxy.serverPort(), 32 * 1024);
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    QVERIFY(client.send("GET /x HTTP/1.1\r\n\r\n"));
    if (finAfter >= 0) {
        QTRY_VERIFY((client.poll(finAfter), client.received.size() >= finAfter));
        ::shutdown(client.fd, SHUT_WR);
    }
    if (sendsWhileClosing) {
        // The origin is done; the relay holds what the client has not read,
        // and the client reads it while it goes on sending.
        QTRY_VERIFY_WITH_TIMEOUT(proxy.findChildren<QNetworkReply *>().isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            (client.send(QByteArray(1024, 'x')), client.poll(client.received.size() + 256 * 1024)),
            10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.poll(), 10000);
    QVERIFY(!client.resetSeen);
    QVERIFY(client.received.endsWith("\r\n\r\n" + body));
}

void TestLocalProxy::stalledClientsDelayNoOne_data()
{
    QTest::addColumn<int>("stalled");

    QTest::newRow("six, one manager's connections") << 6;
    QTest::newRow("thirteen") << 13;
}

void TestLocalProxy::stalledClientsDelayNoOne()
{
    QFETCH(int, stalled);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(reply(200, "OK", {}, splitInto(patternBody(16 << 20), 1 << 20)));
    origin.setResponseFor("/small", reply(200, "OK", {}, {"small"}));
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    std::vector<std::unique_ptr<RawClient>> readNothing;
    for (int i = 0; i < stalled; ++i) {
        readNothing.push_back(std::make_unique<RawClient>(proxy.serverPort()));
        QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), i + 1);
        QVERIFY(readNothing.back()->send("GET /big HTTP/1.1\r\n\r\n"));
    }
    // Their answers are under way and held back: the relay sits at its mark
    // for each, so the time below is the relay's, not this process's copying.
    QTRY_COMPARE(origin.requests().size(), stalled);
    const auto held = [&proxy] {
        int atMark = 0;
        for (const ClientStream *client : proxy.findChildren<ClientStream *>())
            atMark += client->bytesToWrite() >= kClientHighWaterBytes / 2;
        return atMark;
    };
    QTRY_COMPARE_WITH_TIMEOUT(held(), stalled, 20000);

    QElapsedTimer clock;
    clock.start();
    Client client(proxy.serverPort());
    client.socket.write("GET /small HTTP/1.1\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(client.received.endsWith("\r\n\r\nsmall"), 5000);
    QVERIFY2(clock.elapsed() < kSecond, QByteArray::number(clock.elapsed()).constData());
}

void TestLocalProxy::redirectsAsQtWould_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<QByteArray>("lastLocation"); // empty: on to the next hop
    QTest::addColumn<bool>("fromTls");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray badGateway = "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";
    const QByteArray arrived =
        "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\narrived";
    QTest::newRow("50 hops followed") << 50 << QByteArray() << false << arrived;
    QTest::newRow("the 51st refused") << 51 << QByteArray() << false << badGateway;
    QTest::newRow("another scheme")
        << 1 << QByteArray("ftp://127.0.0.1/end") << false << badGateway;
    // The plain origin's address is filled in by the test.
    QTest::newRow("https to http") << 1 << QByteArray("http:") << true << badGateway;
    QTest::newRow("https to https") << 1 << QByteArray("https:") << true << arrived;
}

void TestLocalProxy::redirectsAsQtWould()
{
    QFETCH(int, hops);
    QFETCH(QByteArray, lastLocation);
    QFETCH(bool, fromTls);
    QFETCH(QByteArray, expected);

    FakeOrigin plain;
    FakeOrigin tls;
    QVERIFY(plain.listen());
    QVERIFY(tls.listen(FakeOrigin::Tls));
    FakeOrigin &first = fromTls ? tls : plain;
    for (int i = 0; i < hops; ++i) {
        QByteArray location = "/hop" + QByteArray::number(i + 1);
        if (i == hops - 1 && lastLocation == "http:")
            location = plain.url().toLatin1() + "/end";
        else if (i == hops - 1 && lastLocation == "https:")
            location = tls.url().toLatin1() + "/end";
        else if (i == hops - 1 && !lastLocation.isEmpty())
            location = lastLocation;
        else if (i == hops - 1)
            location = "/end";
        first.setResponseFor("/hop" + QByteArray::number(i),
                             reply(302, "Found", {{"Location", location}}, {"moved"}));
    }
    plain.setResponseFor("/end", reply(200, "OK", {}, {"arrived"}));
    tls.setResponseFor("/end", reply(200, "OK", {}, {"arrived"}));
    LocalProxy proxy;
    startProxy(proxy, first.url());

    QByteArray answer;
    exchange(proxy, {"GET /hop0 HTTP/1.1\r\n\r\n"}, &answer);
    QCOMPARE(answer, expected);
    if (fromTls && expected.contains("502"))
        QCOMPARE(plain.requests().size(), 0);
}

void TestLocalProxy::capHurriesTheSilent_data()
{
    QTest::addColumn<int>("belowCap");
    QTest::addColumn<bool>("hurried");

    QTest::newRow("one below the cap") << 1 << false;
    QTest::newRow("at the cap") << 0 << true;
}

void TestLocalProxy::capHurriesTheSilent()
{
    QFETCH(int, belowCap);
    QFETCH(bool, hurried);

    // The cap at the usual soft limit of 1024 descriptors.
    rlimit limit{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
    const rlimit saved = limit;
    if (limit.rlim_max < 1024)
        QSKIP("needs a hard limit of 1024 descriptors");
    limit.rlim_cur = 1024;
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &limit) == 0);
    LocalProxy proxy;
    ::setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(proxy.connectionCap(), kMaxRelayConnections);
    QCOMPARE(kMaxRelayConnections, 256);
    setRequestLineTimeoutMs(4000);
    startProxy(proxy, QStringLiteral("http://127.0.0.1:1"));

    const int count = kMaxRelayConnections - belowCap;
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < count; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, proxy.serverPort());
    }
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), count);
    // Hurried, all but the one that filled the last place go after a second.
    QTRY_VERIFY_WITH_TIMEOUT(proxy.findChildren<ProxyConnection *>().size() < count, 10000);
    QCOMPARE(clock.elapsed() < 2500, hurried);
    if (hurried)
        QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(proxy.findChildren<ProxyConnection *>().size(), 0, 10000);
}
QTEST_GUILESS_MAIN(TestLocalProxy)
#include "tst_localproxy.moc"
