#include "fakeorigin.h"
#include "localproxy.h"
#include "networkspeedmeter.h"
#include "requestline.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using Headers = QList<QPair<QByteArray, QByteArray>>;

namespace {

const QByteArray kError500 = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";
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
    auto *relaySide = proxy.findChild<ProxyConnection *>()->findChild<QTcpSocket *>();
    for (const QByteArray &chunk : chunks) {
        QSignalSpy read(relaySide, &QTcpSocket::readyRead);
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

    NetworkSpeedMeter meter;
    qint64 down = 0;
    qint64 up = 0;
    connect(&meter, &NetworkSpeedMeter::ratesUpdated, this, [&](double mbpsDown, double mbpsUp) {
        down += qRound64(mbpsDown * 1e6 / 8);
        up += qRound64(mbpsUp * 1e6 / 8);
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
    QTRY_COMPARE(down, 6000);
    QTRY_COMPARE(up, request.size() + afterwards.size());
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

    const QByteArray playlist = QByteArray("#EXTM3U\n#EXT-X-VERSION:3\n").repeated(40);
    FakeResponse gzipped = reply(200, "OK", {{"Content-Type", "application/vnd.apple.mpegurl"}},
                                 {playlist.left(500), playlist.mid(500)});
    gzipped.gzip = true;
    const QByteArray decoded = "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
                               "Connection: close\r\n\r\n" +
                               playlist;
    QTest::newRow("gzip") << gzipped << decoded;
    gzipped.framing = FakeResponse::Framing::Chunked;
    QTest::newRow("gzip, chunked") << gzipped << decoded;
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
    FakeResponse response = reply(200, "OK", {}, {first, QByteArray(1000, 'b')});
    response.stepped = true;
    origin.setResponse(response);
    LocalProxy proxy;
    startProxy(proxy, origin.url());

    Client client(proxy.serverPort());
    sendApart(proxy, client, {"GET /seg.ts HTTP/1.1\r\n\r\n"});
    QTRY_VERIFY(client.received.endsWith(first));
    QCOMPARE(origin.openConnections(), 1);

    client.socket.abort();
    QTRY_COMPARE(proxy.findChildren<ProxyConnection *>().size(), 0);
    QTRY_COMPARE(proxy.findChildren<QNetworkReply *>().size(), 0);
    QTRY_COMPARE(origin.openConnections(), 0);
}

QTEST_GUILESS_MAIN(TestLocalProxy)
#include "tst_localproxy.moc"
