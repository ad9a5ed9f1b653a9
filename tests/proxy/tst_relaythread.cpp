// The relay on its own thread: it answers whatever the GUI thread does, and
// no flood of connections takes the process's descriptors.
#include "fakeorigin.h"
#include "localproxy.h"
#include "relaylimits.h"
#include "relaythread.h"
#include "requestline.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int loopbackSocket(quint16 port, bool blocking)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    return fd;
}

// A whole exchange with plain blocking calls, as a media back end that opens
// its stream synchronously makes it: the calling thread runs no events.
QByteArray fetchBlocking(quint16 port, const QByteArray &request, int timeoutMs)
{
    const int fd = loopbackSocket(port, true);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    QByteArray answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, n);
    ::close(fd);
    return answer;
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

struct DescriptorLimit
{
    explicit DescriptorLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = soft;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
};

} // namespace

class TestRelayThread : public QObject
{
    Q_OBJECT

private slots:
    void answersWhileGuiThreadIsBusy();
    void floodLeavesRelayServing();
    void stopsCleanlyMidTransfer();
    void cleanup() { setRequestLineTimeoutMs(30000); }
};

void TestRelayThread::answersWhileGuiThreadIsBusy()
{
    // The origin too runs apart from this thread, which will not turn its loop.
    QThread originThread;
    auto *origin = new FakeOrigin;
    origin->moveToThread(&originThread);
    connect(&originThread, &QThread::finished, origin, &QObject::deleteLater);
    originThread.start();
    QString originUrl;
    QMetaObject::invokeMethod(
        origin,
        [&] {
            FakeResponse r;
            r.bodyPieces = {"#EXTM3U\n"};
            origin->setResponse(r);
            if (origin->listen())
                originUrl = origin->url();
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(!originUrl.isEmpty());

    RelayThread relay(originUrl, nullptr);
    relay.run([](LocalProxy &proxy) { QVERIFY(proxy.listen(QHostAddress::LocalHost, 0)); });
    const QByteArray answer =
        fetchBlocking(relay.serverPort(), "GET /hls/master.m3u8 HTTP/1.1\r\n\r\n", 2000);
    originThread.quit();
    originThread.wait();
    QCOMPARE(answer, QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\n"
                                "#EXTM3U\n"));
}

void TestRelayThread::floodLeavesRelayServing()
{
    constexpr int kFlood = 1500;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max < 2 * kFlood)
        QSKIP("the hard descriptor limit leaves no room for the flooding child");
    DescriptorLimit lowered(1024);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse r;
    r.bodyPieces = {"ok"};
    origin.setResponse(r);
    RelayThread relay(origin.url(), nullptr);
    relay.run([](LocalProxy &proxy) { QVERIFY(proxy.listen(QHostAddress::LocalHost, 0)); });
    const quint16 port = relay.serverPort();

    // A child process opens the flood and holds it until told to stop; it
    // only makes system calls, as a child of a threaded process must.
    std::vector<int> fds(kFlood, -1);
    int ready[2];
    int release[2];
    QCOMPARE(::pipe(ready), 0);
    QCOMPARE(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(release[1]);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        for (int &fd : fds)
            fd = loopbackSocket(port, false);
        char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    QVERIFY(child > 0);
    ::close(ready[1]);
    ::close(release[0]);
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));

    // While the flood lasts, the process keeps descriptors to spare (GLib
    // aborts when a new thread finds none) and a request of the player's
    // still gets its answer.
    qsizetype mostOpen = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this,
            [&] { mostOpen = qMax(mostOpen, openDescriptors()); });
    sampler.start(5);
    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, this, [&] { received += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, port);
    client.write("GET /x HTTP/1.1\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith("\r\n\r\nok"), 30000);
    QVERIFY2(mostOpen > kMaxRelayConnections, "the flood never reached the relay");
    QVERIFY2(mostOpen < 1024 - 256, QByteArray::number(mostOpen).constData());

    ::close(release[1]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    ::close(ready[0]);
}

void TestRelayThread::stopsCleanlyMidTransfer()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse r;
    r.bodyPieces = {"first", "second"};
    r.framing = FakeResponse::Framing::Chunked;
    r.stepped = true;
    origin.setResponse(r);
    auto relay = std::make_unique<RelayThread>(origin.url(), nullptr);
    relay->run([](LocalProxy &proxy) { QVERIFY(proxy.listen(QHostAddress::LocalHost, 0)); });

    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, this, [&] { received += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, relay->serverPort());
    client.write("GET /x HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(received.endsWith("first"));

    // Quitting the player mid-body: the client is told the body is cut.
    relay.reset();
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(client.error(), QAbstractSocket::RemoteHostClosedError);
}

QTEST_GUILESS_MAIN(TestRelayThread)
#include "tst_relaythread.moc"
