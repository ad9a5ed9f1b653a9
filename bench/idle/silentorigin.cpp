// An origin that takes connections and never answers, so the player waits
// for its master playlist with nothing playing and the idle panel stays up.
//
//   vostan_silentorigin PORT

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint16 port = app.arguments().value(1).toUShort();
    QTcpServer server;
    if (port == 0 || !server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "silentorigin: cannot listen on 127.0.0.1:%s\n",
                     qPrintable(app.arguments().value(1)));
        return 1;
    }
    // Read and drop what comes, keep the connection open.
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    });
    std::printf("listening %u\n", port);
    std::fflush(stdout);
    return app.exec();
}
