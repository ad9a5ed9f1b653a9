// Load and fault tests of the relay, run in its own process (vostan_relayhost)
// against a scripted loopback origin. Loopback only; bounded in count and time.

#include "fakeorigin.h"
#include "testbodies.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

const QByteArray kError500 = "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n";

FakeResponse answer(const QList<QByteArray> &pieces)
{
    FakeResponse r;
    r.bodyPieces = pieces;
    return r;
}

struct Stats
{
    qint64 connections = -1;
    qint64 replies = -1;
    qint64 rssKiB = -1;
    qint64 fds = -1;
    qint64 heapKiB = -1; // allocated and not freed, whatever the allocator keeps
};

// The relay in its own process, so its memory and descriptors are its own.
class RelayProcess
{
public:
    // With a descriptor limit above 0, under prlimit with that soft and hard limit.
    bool start(const QString &origin, const QStringList &extra = {}, int descriptorLimit = 0)
    {
        QStringList arguments = QStringList(extra) << origin;
        if (descriptorLimit > 0) {
            arguments.prepend(QStringLiteral(VOSTAN_RELAYHOST_PATH));
            arguments.prepend(QStringLiteral("--nofile=%1:%1").arg(descriptorLimit));
            process.start(QStringLiteral("prlimit"), arguments);
        } else {
            process.start(QStringLiteral(VOSTAN_RELAYHOST_PATH), arguments);
        }
        if (!process.waitForStarted(10000))
            return false;
        const QByteArray line = nextLine();
        if (!line.startsWith("port "))
            return false;
        port = quint16(line.mid(5).toUInt());
        return port != 0;
    }
    ~RelayProcess()
    {
        process.closeWriteChannel(); // the relay host ends with its input
        if (!process.waitForFinished(5000))
            process.kill();
    }

    Stats stats()
    {
        process.write("stats\n");
        const QList<QByteArray> f = nextLine().split(' ');
        Stats s;
        if (f.size() == 10) {
            s.connections = f.at(1).toLongLong();
            s.replies = f.at(3).toLongLong();
            s.rssKiB = f.at(5).toLongLong();
            s.fds = f.at(7).toLongLong();
            s.heapKiB = f.at(9).toLongLong();
        }
        return s;
    }
    bool running() const { return process.state() == QProcess::Running; }

    QProcess process;
    quint16 port = 0;

private:
    QByteArray nextLine()
    {
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && clock.elapsed() < 10000)
            process.waitForReadyRead(int(10000 - clock.elapsed()));
        return process.readLine().trimmed();
    }
};

// Many raw clients of the relay. Bodies are compared as they arrive instead
// of being kept, so a thousand 1 MB answers need no gigabyte.
class Clients : public QObject
{
public:
    struct Client
    {
        QTcpSocket *socket = nullptr;
        QByteArray head; // up to and with the empty line
        qint64 bodyBytes = 0;
        bool mismatch = false;
        bool closed = false;
        bool error = false; // anything but the relay's orderly close
    };

    Clients(quint16 port, const QByteArray &expectedBody, const QByteArray &request)
        : port(port), expectedBody(expectedBody), request(request)
    {}

    // Opens count connections, each sending the request at once.
    void open(int count, qint64 leaveAfterBytes = -1)
    {
        leaveAfter = leaveAfterBytes;
        for (int i = 0; i < count; ++i) {
            auto client = std::make_unique<Client>();
            Client *c = client.get();
            c->socket = new QTcpSocket(this);
            connect(c->socket, &QTcpSocket::connected, this, [this, c] {
                if (!request.isEmpty())
                    c->socket->write(request);
                if (leaveAfter == 0)
                    c->socket->abort();
            });
            connect(c->socket, &QTcpSocket::readyRead, this, [this, c] { read(c); });
            connect(c->socket, &QTcpSocket::errorOccurred, this,
                    [c](QAbstractSocket::SocketError e) {
                        if (e != QAbstractSocket::RemoteHostClosedError)
                            c->error = true;
                    });
            connect(c->socket, &QTcpSocket::disconnected, this, [this, c] {
                read(c);
                c->closed = true;
                if (++closedCount >= wanted && quitWhenDone)
                    quitWhenDone->quit();
            });
            c->socket->connectToHost(QHostAddress::LocalHost, port);
            clients.push_back(std::move(client));
        }
    }

    int closed() const { return closedCount; }
    // Waits until count clients have been closed by the relay; false on time-out.
    bool waitClosed(int count, int timeoutMs)
    {
        if (closedCount >= count)
            return true;
        QEventLoop loop;
        wanted = count;
        quitWhenDone = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        quitWhenDone = nullptr;
        return closedCount >= count;
    }
    // Clients that left by themselves count as closed too.
    int finished() const
    {
        int n = 0;
        for (const auto &c : clients)
            n += c->closed || c->socket->state() == QAbstractSocket::UnconnectedState;
        return n;
    }

    std::vector<std::unique_ptr<Client>> clients;

private:
    void read(Client *c)
    {
        if (!c->socket->isOpen()) // left by itself
            return;
        QByteArray data = c->socket->readAll();
        if (c->head.size() == 0 || !c->head.endsWith("\r\n\r\n")) {
            c->head += data;
            const qsizetype end = c->head.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            data = c->head.mid(end + 4);
            c->head.truncate(end + 4);
        }
        if (!data.isEmpty()) {
            if (c->bodyBytes + data.size() > expectedBody.size() ||
                memcmp(expectedBody.constData() + c->bodyBytes, data.constData(),
                       size_t(data.size())) != 0)
                c->mismatch = true;
            c->bodyBytes += data.size();
        }
        if (leaveAfter > 0 && c->bodyBytes >= leaveAfter &&
            c->socket->state() == QAbstractSocket::ConnectedState)
            c->socket->abort();
    }

    quint16 port;
    QByteArray expectedBody;
    QByteArray request;
    qint64 leaveAfter = -1;
    int closedCount = 0;
    int wanted = 0;
    QEventLoop *quitWhenDone = nullptr;
};

} // namespace

class TestRelayStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void concurrentClientsGetExactBodies();
    void sequentialConnectionsLeakNothing();
    void idleConnectionsClosedByRequestTimeout();
    void originFaults_data();
    void originFaults();
    void clientsLeavingMidTransfer();
    void stalledClientsDelayNoOne();
    void lowDescriptorLimit_data();
    void lowDescriptorLimit();
};

void TestRelayStress::initTestCase()
{
    // Thousands of sockets on both ends; the relay host inherits the limit.
    rlimit limit{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &limit) == 0);
    limit.rlim_cur = limit.rlim_max;
    QVERIFY(setrlimit(RLIMIT_NOFILE, &limit) == 0);
    if (limit.rlim_cur < 4500)
        QSKIP("needs at least 4500 open files (ulimit -n)");
}

void TestRelayStress::concurrentClientsGetExactBodies()
{
    const int count = 1000;
    const QByteArray body = patternBody(1000 * 1000);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer(splitInto(body, 64 * 1024)));
    RelayProcess relay;
    QVERIFY(relay.start(origin.url()));

    QElapsedTimer clock;
    clock.start();
    Clients clients(relay.port, body, "GET /segment.ts HTTP/1.1\r\nHost: x\r\n\r\n");
    clients.open(count);
    QVERIFY(clients.waitClosed(count, 240000));
    qInfo("%d clients, 1 MB each, in %lld ms", count, clock.elapsed());

    const QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\nConnection: close\r\n\r\n";
    int wrong = 0;
    for (const auto &c : clients.clients)
        wrong += c->error || c->mismatch || c->head != head || c->bodyBytes != body.size();
    QCOMPARE(wrong, 0);
    QCOMPARE(origin.requests().size(), count);
    // A connection lingers after its FIN until its client closes too.
    QTRY_COMPARE(relay.stats().connections, 0);
    QCOMPARE(relay.stats().replies, 0);
}

void TestRelayStress::sequentialConnectionsLeakNothing()
{
    const QByteArray body = patternBody(2048);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer({body}));
    RelayProcess relay;
    QVERIFY(relay.start(origin.url()));

    const auto fetch = [&](int count) {
        for (int i = 0; i < count; ++i) {
            Clients one(relay.port, body, "GET /epg_api.php?action=now HTTP/1.1\r\n\r\n");
            one.open(1);
            QVERIFY(one.waitClosed(1, 10000));
            const auto &c = one.clients.front();
            QVERIFY(!c->error && !c->mismatch && c->bodyBytes == body.size());
        }
    };
    // Warm up first: allocator pools and Qt's caches grow once.
    fetch(500);
    QTRY_COMPARE(relay.stats().connections, 0);
    const Stats start = relay.stats();

    QElapsedTimer clock;
    clock.start();
    fetch(10000);
    qInfo("10000 sequential connections in %lld ms", clock.elapsed());
    QTRY_COMPARE(relay.stats().connections, 0);
    QTRY_COMPARE(relay.stats().fds, start.fds);
    const Stats end = relay.stats();
    qInfo("relay RSS %lld KiB after warm-up, %lld KiB after 10000 more; heap in use %lld KiB, "
          "%lld KiB; descriptors %lld, %lld",
          start.rssKiB, end.rssKiB, start.heapKiB, end.heapKiB, start.fds, end.fds);
    QVERIFY2(end.rssKiB - start.rssKiB < 5 * 1024, QByteArray::number(end.rssKiB - start.rssKiB));
    QCOMPARE(end.replies, 0);
}

void TestRelayStress::idleConnectionsClosedByRequestTimeout()
{
    // The real 30 s limit: no shortened time-out here, and fewer than the
    // relay's cap, which would hurry them.
    const int count = 200;
    FakeOrigin origin;
    QVERIFY(origin.listen());
    RelayProcess relay;
    QVERIFY(relay.start(origin.url()));
    const Stats before = relay.stats();

    QElapsedTimer clock;
    clock.start();
    Clients clients(relay.port, {}, {});
    clients.open(count);
    QTRY_COMPARE(relay.stats().connections, count);
    const Stats holding = relay.stats();

    QVERIFY(clients.waitClosed(count, 60000));
    const qint64 elapsed = clock.elapsed();
    qInfo("%d idle connections closed after %lld ms; RSS %lld KiB before, %lld KiB holding them",
          count, elapsed, before.rssKiB, holding.rssKiB);
    QVERIFY2(elapsed >= 29000 && elapsed < 40000, QByteArray::number(elapsed));
    for (const auto &c : clients.clients)
        QVERIFY(c->head.isEmpty() && !c->error);
    QTRY_COMPARE(relay.stats().connections, 0);
    QTRY_COMPARE(relay.stats().fds, before.fds);
    const Stats after = relay.stats();
    qInfo("after they were closed: RSS %lld KiB; heap in use %lld KiB before, %lld KiB holding "
          "them, %lld KiB after",
          after.rssKiB, before.heapKiB, holding.heapKiB, after.heapKiB);
    // The resident size keeps what the allocator caches; what is in use is
    // back where it was.
    QVERIFY2(after.heapKiB - before.heapKiB < 512, QByteArray::number(after.heapKiB));
    QCOMPARE(origin.requests().size(), 0);
}

void TestRelayStress::originFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("expectedHead");
    QTest::addColumn<qint64>("expectedBodyBytes");
    // Qt fails requests queued behind connections that broke mid-body; no
    // answer arrived for those, so they get the 500 text.
    QTest::addColumn<bool>("queuedMayFail");

    const qint64 full = 256 * 1024;
    QTest::newRow("refused") << "refused" << kError500 << qint64(0) << false;
    QTest::newRow("reset before answering") << "reset" << kError500 << qint64(0) << false;
    // The relay resets a client whose body was cut, which may drop what was
    // still on its way: any part of the body may arrive (-1).
    QTest::newRow("dies mid-body")
        << "mid-body"
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 524288\r\nConnection: close\r\n\r\n")
        << qint64(-1) << true;
    QTest::newRow("answers slowly")
        << "slow"
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 262144\r\nConnection: close\r\n\r\n")
        << full << false;
}

void TestRelayStress::originFaults()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, expectedHead);
    QFETCH(qint64, expectedBodyBytes);
    QFETCH(bool, queuedMayFail);

    const int count = 30;
    const QByteArray body = patternBody(256 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse response = answer(splitInto(body, 32 * 1024));
    if (fault == "reset")
        response.action = FakeResponse::Action::Reset;
    if (fault == "mid-body")
        response.announcedLength = 2 * body.size();
    if (fault == "slow")
        response.delayMs = 1000;
    origin.setResponse(response);
    QString target = origin.url();
    QTcpServer closed;
    if (fault == "refused") {
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        target = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
    }
    RelayProcess relay;
    QVERIFY(relay.start(target));

    Clients clients(relay.port, body, "GET /hls/720p/seg1.ts HTTP/1.1\r\n\r\n");
    clients.open(count);
    // Nothing hangs: six at a time behind a one-second origin is the slowest.
    QVERIFY(clients.waitClosed(count, 60000));
    int answered = 0;
    for (const auto &c : clients.clients) {
        QVERIFY(!c->mismatch && !c->error);
        if (queuedMayFail && c->head == kError500 && c->bodyBytes == 0)
            continue;
        QCOMPARE(c->head, expectedHead);
        if (expectedBodyBytes >= 0)
            QCOMPARE(c->bodyBytes, expectedBodyBytes);
        else
            QVERIFY(c->bodyBytes <= body.size());
        ++answered;
    }
    if (queuedMayFail) {
        // Whatever Qt does with the rest (fail them, or resend one on a new
        // connection), the first six reached the origin and were answered.
        qInfo("%d of %d clients answered, the rest got the 500 text; the origin saw %lld "
              "requests",
              answered, count, qlonglong(origin.requests().size()));
        QVERIFY(answered >= 6);
        QVERIFY(answered <= origin.requests().size());
    }
    QTRY_COMPARE(relay.stats().connections, 0);
    QCOMPARE(relay.stats().replies, 0);
}

void TestRelayStress::clientsLeavingMidTransfer()
{
    const int count = 1000;
    const QByteArray body = patternBody(4 * 1024 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer(splitInto(body, 64 * 1024)));
    RelayProcess relay;
    QVERIFY(relay.start(origin.url()));
    // One fetch first: Qt starts its HTTP thread, with its descriptors, once.
    Clients warmUp(relay.port, body, "GET /big.ts HTTP/1.1\r\n\r\n");
    warmUp.open(1);
    QVERIFY(warmUp.waitClosed(1, 30000));
    QTRY_COMPARE(relay.stats().connections, 0);
    const Stats before = relay.stats();

    for (int round = 1; round <= 2; ++round) {
        // All leave once the body has begun; a few more while their fetch
        // still waits its turn upstream.
        const qsizetype requestsBefore = origin.requests().size();
        Clients early(relay.port, body, "GET /big.ts HTTP/1.1\r\n\r\n");
        Clients late(relay.port, body, "GET /big.ts HTTP/1.1\r\n\r\n");
        late.open(count, 64 * 1024);
        early.open(count / 5, 0);
        QTRY_COMPARE_WITH_TIMEOUT(late.finished() + early.finished(), count + count / 5, 120000);
        int leftMidBody = 0;
        for (const auto &c : late.clients)
            leftMidBody += c->bodyBytes >= 64 * 1024 && c->bodyBytes < body.size() && !c->mismatch;
        QCOMPARE(leftMidBody, count);

        QTRY_COMPARE_WITH_TIMEOUT(relay.stats().connections, 0, 30000);
        QTRY_COMPARE(relay.stats().replies, 0);
        // Upstream fetches were given up, not left to run on.
        QTRY_COMPARE_WITH_TIMEOUT(origin.openConnections(), 0, 30000);
        QTRY_COMPARE(relay.stats().fds, before.fds);
        QVERIFY(relay.running());
        const Stats after = relay.stats();
        qInfo("round %d: origin saw %lld requests for %d clients; relay RSS %lld KiB before, "
              "%lld KiB after; heap in use %lld KiB before, %lld KiB after",
              round, qlonglong(origin.requests().size() - requestsBefore), count, before.rssKiB,
              after.rssKiB, before.heapKiB, after.heapKiB);
        QVERIFY(origin.requests().size() - requestsBefore <= count + count / 5);
        QVERIFY2(after.heapKiB - before.heapKiB < 1024, QByteArray::number(after.heapKiB));
    }
}

void TestRelayStress::stalledClientsDelayNoOne()
{
    // Thirty clients that read nothing of a large answer, at the real 60 s
    // stall limit; meanwhile the player's small requests keep coming.
    const int stalledCount = 30;
    const QByteArray small = patternBody(4096);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer(splitInto(patternBody(32 << 20), 1 << 20)));
    origin.setResponseFor("/small", answer({small}));
    RelayProcess relay;
    QVERIFY(relay.start(origin.url()));

    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < stalledCount; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->setReadBufferSize(1); // Qt stops reading once it holds a byte
        socket->connectToHost(QHostAddress::LocalHost, relay.port);
        socket->write("GET /big.ts HTTP/1.1\r\n\r\n");
        stalled.push_back(std::move(socket));
    }
    QTRY_COMPARE_WITH_TIMEOUT(origin.requests().size(), stalledCount, 10000);

    qint64 slowest = 0;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        Clients one(relay.port, small, "GET /small HTTP/1.1\r\n\r\n");
        one.open(1);
        QVERIFY(one.waitClosed(1, 10000));
        QVERIFY(!one.clients.front()->error && one.clients.front()->bodyBytes == small.size());
        slowest = qMax(slowest, clock.elapsed());
    }
    qInfo("with %d stalled clients, the slowest of 20 small requests took %lld ms", stalledCount,
          slowest);
    QVERIFY2(slowest < 1000, QByteArray::number(slowest).constData());
    QVERIFY(relay.running());
}

void TestRelayStress::lowDescriptorLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("withinMs"); // for the real request behind the flood

    QTest::newRow("128 descriptors") << 128 << 10000;
    QTest::newRow("1024 descriptors") << 1024 << 5000;
}

void TestRelayStress::lowDescriptorLimit()
{
    QFETCH(int, limit);
    QFETCH(int, withinMs);

    // 400 idle connections, then a real request, against a relay whose
    // process may open only limit descriptors: it neither dies (GLib aborts
    // when a thread finds none for its wake-up) nor makes the request wait
    // for the idle ones' 30 s.
    const int idleCount = 400;
    const QByteArray body = patternBody(64 * 1024);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer({body}));
    RelayProcess relay;
    QVERIFY(relay.start(origin.url(), {}, limit));

    Clients idle(relay.port, {}, {});
    idle.open(idleCount);
    QTRY_VERIFY(relay.stats().connections > 0);

    QElapsedTimer clock;
    clock.start();
    Clients real(relay.port, body, "GET /hls/seg.ts HTTP/1.1\r\n\r\n");
    real.open(8);
    QVERIFY(real.waitClosed(8, 30000));
    const qint64 elapsed = clock.elapsed();
    const Stats during = relay.stats();
    qInfo("limit %d: 8 requests behind %d idle connections answered in %lld ms; %lld "
          "descriptors open",
          limit, idleCount, elapsed, during.fds);
    for (const auto &c : real.clients)
        QVERIFY(!c->error && !c->mismatch && c->bodyBytes == body.size());
    QVERIFY2(elapsed < withinMs, QByteArray::number(elapsed).constData());
    QVERIFY(relay.running());
    QTRY_COMPARE_WITH_TIMEOUT(idle.finished(), idleCount, 60000);
    QTRY_COMPARE(relay.stats().connections, 0);
    QVERIFY(relay.running());
}

QTEST_GUILESS_MAIN(TestRelayStress)
#include "tst_relaystress.moc"
