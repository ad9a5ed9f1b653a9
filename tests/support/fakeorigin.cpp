#include "fakeorigin.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

namespace {

QString certPath(const char *name)
{
    return QStringLiteral(VOSTAN_TEST_CERTS_DIR "/") + QLatin1String(name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool hasHeader(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<QByteArray> splitEvenly(const QByteArray &data, int parts)
{
    QList<QByteArray> result;
    const int count = qMax(parts, 1);
    const qsizetype size = qMax<qsizetype>((data.size() + count - 1) / count, 1);
    for (qsizetype at = 0; at < data.size(); at += size)
        result.append(data.mid(at, size));
    return result;
}

} // namespace

QByteArray ReceivedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

namespace {

QByteArray compress(const QByteArray &data, int windowBits)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

} // namespace

QByteArray gzipCompress(const QByteArray &data)
{
    // 16 + 15: a gzip wrapper around the largest window.
    return compress(data, 16 + 15);
}

QByteArray deflateCompress(const QByteArray &data)
{
    return compress(data, 15);
}

void trustTestCertificateAuthority()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromPath(certPath("ca-cert.pem")));
    QSslConfiguration::setDefaultConfiguration(config);
}

struct FakeOrigin::Connection : QObject
{
    using QObject::QObject;

    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool requestDone = false;
    FakeResponse response; // as it was when the request came in
    QList<QByteArray> writes;
    int next = 0;
};

FakeOrigin::FakeOrigin(QObject *parent) : QObject(parent)
{}

FakeOrigin::~FakeOrigin() = default;

bool FakeOrigin::listen(Transport kind)
{
    transport = kind;
    if (kind == Plain) {
        server = new QTcpServer(this);
    } else {
        const bool trusted = kind == Tls;
        const QByteArray cert =
            readFile(certPath(trusted ? "server-cert.pem" : "untrusted-cert.pem"));
        const QByteArray key = readFile(certPath(trusted ? "server-key.pem" : "untrusted-key.pem"));
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(cert));
        config.setPrivateKey(QSslKey(key, QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto *sslServer = new QSslServer(this);
        sslServer->setSslConfiguration(config);
        server = sslServer;
    }
    // A TLS socket is queued only once its handshake is done.
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &FakeOrigin::accept);
    return server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeOrigin::port() const
{
    return server ? server->serverPort() : 0;
}

QString FakeOrigin::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(transport == Plain ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(port());
}

void FakeOrigin::setResponse(const FakeResponse &r)
{
    response = r;
}

void FakeOrigin::setResponseFor(const QByteArray &target, const FakeResponse &r)
{
    responsesByTarget.insert(target, r);
}

int FakeOrigin::openConnections() const
{
    return int(connections.size());
}

void FakeOrigin::sendNextPiece()
{
    const QList<Connection *> current = connections;
    for (Connection *connection : current) {
        if (connection->response.stepped && connection->next > 0 &&
            connection->next < connection->writes.size())
            writePiece(connection);
    }
}

void FakeOrigin::accept()
{
    while (server->hasPendingConnections()) {
        auto *connection = new Connection(this);
        connection->socket = server->nextPendingConnection();
        connection->socket->setParent(connection);
        connections.append(connection);
        connect(connection->socket, &QTcpSocket::readyRead, connection,
                [this, connection] { onReadyRead(connection); });
        connect(connection->socket, &QTcpSocket::disconnected, connection,
                [this, connection] { finish(connection); });
        // Data may have come with the handshake.
        if (connection->socket->bytesAvailable() > 0)
            onReadyRead(connection);
    }
}

void FakeOrigin::onReadyRead(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    if (connection->requestDone)
        return;
    const qsizetype end = connection->buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    connection->requestDone = true;

    ReceivedRequest request;
    const QList<QByteArray> lines = connection->buffer.left(end).split('\n');
    request.requestLine = lines.first().trimmed();
    const QList<QByteArray> parts = request.requestLine.split(' ');
    request.method = parts.value(0);
    request.target = parts.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    connection->response = responsesByTarget.value(request.target, response);
    received.append(request);
    emit requestReceived();

    if (connection->response.action == FakeResponse::Action::Reset) {
        connection->socket->abort();
        return;
    }
    if (connection->response.delayMs > 0)
        QTimer::singleShot(connection->response.delayMs, connection,
                           [this, connection] { answer(connection); });
    else
        answer(connection);
}

void FakeOrigin::answer(Connection *connection)
{
    const FakeResponse &r = connection->response;
    QList<QByteArray> pieces;
    for (const QByteArray &piece : r.bodyPieces) {
        if (!piece.isEmpty())
            pieces.append(piece);
    }
    if (r.gzip)
        pieces = splitEvenly(gzipCompress(pieces.join()), int(pieces.size()));
    else if (r.deflate)
        pieces = splitEvenly(deflateCompress(pieces.join()), int(pieces.size()));

    QList<QPair<QByteArray, QByteArray>> headers = r.headers;
    if ((r.gzip || r.deflate) && !hasHeader(headers, "Content-Encoding"))
        headers.emplaceBack("Content-Encoding", r.gzip ? "gzip" : "deflate");
    if (r.framing == FakeResponse::Framing::ContentLength &&
        !hasHeader(headers, "Content-Length")) {
        const qint64 length = qMax(r.announcedLength, qint64(pieces.join().size()));
        headers.emplaceBack("Content-Length", QByteArray::number(length));
    }
    if (r.framing == FakeResponse::Framing::Chunked) {
        if (!hasHeader(headers, "Transfer-Encoding"))
            headers.emplaceBack("Transfer-Encoding", "chunked");
        for (QByteArray &piece : pieces)
            piece = QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
        pieces.append("0\r\n\r\n");
    }
    if (!hasHeader(headers, "Connection"))
        headers.emplaceBack("Connection", "close");

    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
    for (const auto &header : headers)
        head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";

    connection->writes = pieces.isEmpty() ? QList<QByteArray>{head} : pieces;
    if (!pieces.isEmpty())
        connection->writes.first().prepend(head);

    if (!r.stepped) {
        // The next piece goes out only once the previous one has left the
        // socket and the event loop has turned, so the peer reads them apart.
        connect(connection->socket, &QTcpSocket::bytesWritten, connection, [this, connection] {
            if (connection->socket->bytesToWrite() == 0 &&
                connection->next < connection->writes.size())
                QTimer::singleShot(0, connection, [this, connection] { writePiece(connection); });
        });
    }
    writePiece(connection);
}

void FakeOrigin::writePiece(Connection *connection)
{
    if (connection->socket->state() != QAbstractSocket::ConnectedState)
        return;
    connection->socket->write(connection->writes.at(connection->next++));
    if (connection->next == connection->writes.size())
        connection->socket->disconnectFromHost();
}

void FakeOrigin::finish(Connection *connection)
{
    if (!connections.removeOne(connection))
        return;
    connection->deleteLater();
    emit connectionClosed();
}
