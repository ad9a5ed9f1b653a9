// Runs the player's relay on its own, for benchmarks and load tests.
//
//   relayhost [--port N] [--request-timeout-ms N] [--stall-timeout-ms N] ORIGIN
//
// Prints "port N" once it listens on 127.0.0.1. Each line "stats" on standard
// input is answered with one line of counts for the relay itself; the end of
// standard input ends the program.

#include "descriptorlimit.h"
#include "localproxy.h"
#include "networkspeedmeter.h"
#include "proxyconnection.h"
#include "relaylimits.h"
#include "relaythread.h"
#include "requestline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Bytes the allocator has handed out and not had back, in every arena: unlike
// the resident size, this falls again when memory is freed.
qint64 heapInUseKiB()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
#else
    return -1;
#endif
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

} // namespace

int main(int argc, char *argv[])
{
    raiseDescriptorLimit();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption portOption("port", "Port on 127.0.0.1 (0: any free one).", "N", "0");
    const QCommandLineOption requestOption("request-timeout-ms", "Time limit for the request line.",
                                           "N");
    const QCommandLineOption stallOption("stall-timeout-ms",
                                         "Time limit for a client that takes nothing.", "N");
    parser.addOptions({portOption, requestOption, stallOption});
    parser.addPositionalArgument("origin", "Scheme and host the relay fetches from.");
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    if (parser.isSet(requestOption))
        setRequestLineTimeoutMs(parser.value(requestOption).toInt());
    if (parser.isSet(stallOption))
        setStalledClientTimeoutMs(parser.value(stallOption).toInt());

    NetworkSpeedMeter meter;
    // On its own thread, as the player runs it.
    RelayThread relay(parser.positionalArguments().first(), &meter);
    bool listening = false;
    QString error;
    relay.run([&](LocalProxy &proxy) {
        listening =
            proxy.listen(QHostAddress::LocalHost, quint16(parser.value(portOption).toUInt()));
        error = proxy.errorString();
    });
    if (!listening) {
        std::fprintf(stderr, "relayhost: cannot listen: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("port %u\n", unsigned(relay.serverPort()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command != "stats")
                continue;
            qlonglong connections = 0;
            qlonglong replies = 0;
            relay.run([&](LocalProxy &proxy) {
                connections = proxy.findChildren<ProxyConnection *>().size();
                replies = proxy.findChildren<QNetworkReply *>().size();
            });
            std::printf("connections %lld replies %lld rss_kib %lld fds %lld heap_kib %lld\n",
                        connections, replies, qlonglong(residentKiB()),
                        qlonglong(openDescriptors()), qlonglong(heapInUseKiB()));
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}
