#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

class QSocketNotifier;

// The relay's side of one local client connection, on a plain descriptor.
// QTcpSocket closes its descriptor as soon as the client half-closes, which
// would end an answer still on its way, and it cannot tell its own close
// apart from a reset; the relay needs both.
class ClientStream : public QObject
{
    Q_OBJECT

public:
    // Takes over the connected descriptor.
    ClientStream(qintptr descriptor, QObject *parent);
    ~ClientStream() override; // an orderly close if still open

    bool isOpen() const { return descriptor != -1; }
    // The client has sent its FIN: it sends no more, but may still read.
    bool peerFinished() const { return endOfInput; }

    void write(const QByteArray &data);
    // Bytes not yet handed to the kernel.
    qint64 bytesToWrite() const { return pending; }
    // Bytes the client has not taken yet: ours and the kernel's.
    qint64 untaken() const;
    // Sends FIN once everything written has gone to the kernel; reading (and
    // dropping) goes on, so the client's further input cannot turn the close
    // into a reset.
    void finishWriting();
    bool writingFinished() const { return finSent; }

    void close(); // orderly: what the kernel holds still goes out
    void reset(); // RST: the client cannot take what it got for complete

signals:
    void received(const QByteArray &block);
    void inputEnded(); // the client's FIN
    void progressed(); // some of what was written went to the kernel
    void gone();       // the connection broke (reset, broken pipe)

private:
    void onReadable();
    void onWritable();
    bool flush(); // false once the connection broke
    void fail();

    qintptr descriptor = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QList<QByteArray> chunks;
    qsizetype offset = 0; // into chunks.first()
    qint64 pending = 0;
    bool endOfInput = false;
    bool finished = false;
    bool finSent = false;
};
