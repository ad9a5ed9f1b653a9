#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A scripted HTTP/1.1 origin for tests, on 127.0.0.1 with an OS-chosen port.
//
//   FakeOrigin origin;
//   QVERIFY(origin.listen());                 // or listen(FakeOrigin::Tls)
//   FakeResponse r;
//   r.bodyPieces = {"abc", "def"};            // two writes, each flushed apart
//   origin.setResponse(r);                    // answers every request this way
//   ... fetch origin.url() + "/path" ...
//   QCOMPARE(origin.requests().size(), 1);
//
// Every connection gets one answer and is then closed by the origin. With TLS
// the certificate is signed by a test CA that trustTestCertificateAuthority()
// adds to the process's default SSL configuration; UntrustedTls serves a
// self-signed certificate that no one trusts. Both name 127.0.0.1 and localhost.

struct FakeResponse
{
    enum class Framing
    {
        ContentLength, // Content-Length of the bytes on the wire
        Chunked,       // Transfer-Encoding: chunked, one chunk per piece
        None,          // no length: the close ends the body (or there is none)
    };
    enum class Action
    {
        Answer,
        Reset, // abort the connection as soon as the request is in
    };

    Action action = Action::Answer;
    int status = 200;
    QByteArray reason = "OK"; // may be empty: "HTTP/1.1 404 \r\n"
    // Sent in this order, before the framing headers and "Connection: close".
    QList<QPair<QByteArray, QByteArray>> headers;
    QList<QByteArray> bodyPieces;
    Framing framing = Framing::ContentLength;
    // Gzip the joined pieces (Content-Encoding: gzip), then split the result
    // into as many pieces again.
    bool gzip = false;
    // The same with the zlib format of "Content-Encoding: deflate".
    bool deflate = false;
    // Content-Length to announce when larger than the body: the origin then
    // closes short of it, a failure mid-body.
    qint64 announcedLength = -1;
    // Wait this long after the request before answering.
    int delayMs = 0;
    // Write the head with the first piece, then each further piece only on
    // FakeOrigin::sendNextPiece(), so a test can see every piece arrive.
    bool stepped = false;
};

Q_DECLARE_METATYPE(FakeResponse) // usable as a QTest data column

struct ReceivedRequest
{
    QByteArray requestLine;
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers;

    // The value of the first header of that name (any case), or a null array.
    QByteArray header(const QByteArray &name) const;
};

QByteArray gzipCompress(const QByteArray &data);
QByteArray deflateCompress(const QByteArray &data); // zlib format, as HTTP's "deflate"

// Makes the test CA trusted by every later TLS connection of this process.
void trustTestCertificateAuthority();

class FakeOrigin : public QObject
{
    Q_OBJECT

public:
    enum Transport
    {
        Plain,
        Tls,
        UntrustedTls
    };

    explicit FakeOrigin(QObject *parent = nullptr);
    ~FakeOrigin() override;

    bool listen(Transport transport = Plain);
    quint16 port() const;
    // "http://127.0.0.1:<port>" or "https://…", no trailing slash.
    QString url() const;

    void setResponse(const FakeResponse &response);
    // Answers requests for this exact target so, the others as setResponse says.
    void setResponseFor(const QByteArray &target, const FakeResponse &response);
    const QList<ReceivedRequest> &requests() const { return received; }
    int openConnections() const;

    // Releases the next piece of every stepped answer in progress.
    void sendNextPiece();

signals:
    void requestReceived();
    void connectionClosed();

private:
    struct Connection;

    void accept();
    void onReadyRead(Connection *connection);
    void answer(Connection *connection);
    void writePiece(Connection *connection);
    void finish(Connection *connection);

    QTcpServer *server = nullptr;
    Transport transport = Plain;
    FakeResponse response;
    QHash<QByteArray, FakeResponse> responsesByTarget;
    QList<ReceivedRequest> received;
    QList<Connection *> connections;
};
