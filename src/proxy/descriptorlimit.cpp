#include "descriptorlimit.h"

#include "relaylimits.h"

#include <QtGlobal>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

// What the rest of the player may open while the relay is full: GStreamer's
// threads and sockets, the GUI's connections, the guide's and the update
// check's fetches.
constexpr long long kReservedDescriptors = 64;
// A client, its upstream connection, and a share of an HTTP thread's wake-up
// descriptors: two and a half, so five for every two connections.
constexpr long long kDescriptorsPerTwoConnections = 5;
// Enough for the player's own requests even at a very low limit.
constexpr int kMinRelayConnections = 8;

} // namespace

void raiseDescriptorLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
#endif
}

int relayConnectionCap()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kMaxRelayConnections;
    const long long soft = std::min<long long>(limit.rlim_cur, 1 << 20);
    const long long fit = (soft - kReservedDescriptors) * 2 / kDescriptorsPerTwoConnections;
    return int(std::clamp<long long>(fit, kMinRelayConnections, kMaxRelayConnections));
#else
    return kMaxRelayConnections;
#endif
}
