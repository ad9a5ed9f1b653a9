#include "socketcontrol.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif

namespace {

#ifdef Q_OS_WIN
bool wouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
#else
bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
#endif

qint64 outcome(qint64 result, bool endOfStream)
{
    if (result > 0)
        return result;
    if (result == 0)
        return endOfStream ? 0 : kWouldBlock;
    return wouldBlock() ? kWouldBlock : kFailed;
}

} // namespace

void shutdownWrite(qintptr descriptor)
{
#ifdef Q_OS_WIN
    ::shutdown(SOCKET(descriptor), SD_SEND);
#else
    ::shutdown(int(descriptor), SHUT_WR);
#endif
}

void resetOnClose(qintptr descriptor)
{
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
#ifdef Q_OS_WIN
    ::setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&option),
                 sizeof option);
#else
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &option, sizeof option);
#endif
}

qint64 unsentInKernel(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    int queued = 0;
    if (::ioctl(int(descriptor), SIOCOUTQ, &queued) == 0 && queued > 0)
        return queued;
#else
    Q_UNUSED(descriptor);
#endif
    return 0;
}

qint64 receiveSome(qintptr descriptor, char *data, qint64 size)
{
#ifdef Q_OS_WIN
    return outcome(::recv(SOCKET(descriptor), data, int(size), 0), true);
#else
    return outcome(::recv(int(descriptor), data, size_t(size), 0), true);
#endif
}

qint64 sendSome(qintptr descriptor, const char *data, qint64 size)
{
#ifdef Q_OS_WIN
    return outcome(::send(SOCKET(descriptor), data, int(size), 0), false);
#else
    // A client gone away must not kill the player with SIGPIPE.
    return outcome(::send(int(descriptor), data, size_t(size), MSG_NOSIGNAL), false);
#endif
}

bool wasReset(qintptr descriptor)
{
    int error = 0;
#ifdef Q_OS_WIN
    int size = sizeof error;
    ::getsockopt(SOCKET(descriptor), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size);
#else
    socklen_t size = sizeof error;
    ::getsockopt(int(descriptor), SOL_SOCKET, SO_ERROR, &error, &size);
#endif
    return error != 0;
}

void setNonBlocking(qintptr descriptor)
{
#ifdef Q_OS_WIN
    u_long on = 1;
    ::ioctlsocket(SOCKET(descriptor), FIONBIO, &on);
#else
    const int flags = ::fcntl(int(descriptor), F_GETFL);
    ::fcntl(int(descriptor), F_SETFL, flags | O_NONBLOCK);
#endif
}

void closeSocket(qintptr descriptor)
{
#ifdef Q_OS_WIN
    ::closesocket(SOCKET(descriptor));
#else
    ::close(int(descriptor));
#endif
}
