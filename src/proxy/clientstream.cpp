#include "clientstream.h"

#include "socketcontrol.h"

#include <QSocketNotifier>

namespace {

constexpr qint64 kReadBlock = 64 * 1024;
// Per notification, so one fast sender cannot hold up the relay's thread.
constexpr int kReadsPerTurn = 16;

} // namespace

ClientStream::ClientStream(qintptr fd, QObject *parent) : QObject(parent), descriptor(fd)
{
    setNonBlocking(descriptor);
    readNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    writeNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(readNotifier, &QSocketNotifier::activated, this, &ClientStream::onReadable);
    connect(writeNotifier, &QSocketNotifier::activated, this, &ClientStream::onWritable);
}

ClientStream::~ClientStream()
{
    close();
}

qint64 ClientStream::untaken() const
{
    return isOpen() ? pending + unsentInKernel(descriptor) : 0;
}

void ClientStream::write(const QByteArray &data)
{
    if (!isOpen() || finished || data.isEmpty())
        return;
    chunks.append(data);
    pending += data.size();
    flush();
}

void ClientStream::finishWriting()
{
    if (!isOpen() || finished)
        return;
    finished = true;
    flush();
}

void ClientStream::close()
{
    if (!isOpen())
        return;
    // Input left unread would make the close a reset.
    char sink[4096];
    for (int i = 0; i < 64 && receiveSome(descriptor, sink, sizeof sink) > 0; ++i) {
    }
    readNotifier->setEnabled(false);
    writeNotifier->setEnabled(false);
    closeSocket(descriptor);
    descriptor = -1;
}

void ClientStream::reset()
{
    if (!isOpen())
        return;
    readNotifier->setEnabled(false);
    writeNotifier->setEnabled(false);
    resetOnClose(descriptor);
    closeSocket(descriptor);
    descriptor = -1;
}

void ClientStream::onReadable()
{
    QByteArray block;
    bool ended = false;
    for (int i = 0; i < kReadsPerTurn && isOpen(); ++i) {
        const qsizetype at = block.size();
        block.resize(at + kReadBlock);
        const qint64 n = receiveSome(descriptor, block.data() + at, kReadBlock);
        block.resize(at + qMax<qint64>(n, 0));
        if (n > 0)
            continue;
        if (n == 0) {
            ended = endOfInput = true;
            readNotifier->setEnabled(false);
        } else if (n == kFailed) {
            fail();
        }
        break;
    }
    if (!block.isEmpty())
        emit received(block);
    if (ended)
        emit inputEnded();
}

void ClientStream::onWritable()
{
    const qint64 before = pending;
    if (flush() && pending < before)
        emit progressed();
}

bool ClientStream::flush()
{
    while (isOpen() && !chunks.isEmpty()) {
        const QByteArray &chunk = chunks.first();
        const qint64 n = sendSome(descriptor, chunk.constData() + offset, chunk.size() - offset);
        if (n == kWouldBlock)
            break;
        if (n == kFailed) {
            fail();
            return false;
        }
        offset += n;
        pending -= n;
        if (offset == chunk.size()) {
            chunks.removeFirst();
            offset = 0;
        }
    }
    // Past the client's FIN its reads no longer tell whether it is still
    // there; the reset its system answers a write with does.
    if (isOpen() && endOfInput && wasReset(descriptor)) {
        fail();
        return false;
    }
    if (!isOpen())
        return false;
    writeNotifier->setEnabled(!chunks.isEmpty());
    if (chunks.isEmpty() && finished && !finSent) {
        finSent = true;
        shutdownWrite(descriptor);
    }
    return true;
}

void ClientStream::fail()
{
    reset();
    chunks.clear();
    pending = 0;
    // Told on a later turn: the writer may be in the middle of its loop.
    QMetaObject::invokeMethod(this, &ClientStream::gone, Qt::QueuedConnection);
}
