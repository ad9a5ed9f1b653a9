#pragma once

#include <QString>

// The channel's web server: stream, guide, update manifest and installer all
// come from here. The build sets it (VOSTAN_CHANNEL_ORIGIN in CMake) so the
// demo build can point at a local channel.
#ifndef VOSTAN_CHANNEL_ORIGIN
#define VOSTAN_CHANNEL_ORIGIN "https://vostan.tv"
#endif

inline QString channelOrigin()
{
    return QStringLiteral(VOSTAN_CHANNEL_ORIGIN);
}
