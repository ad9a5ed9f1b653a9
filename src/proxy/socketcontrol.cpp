#include "socketcontrol.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif

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
