#pragma once

#include <QtGlobal>

// Internal to the relay; declared here so that tests can check against them.

// Above this many unsent bytes for its client, a connection stops reading
// from the origin until the client has taken some of them.
constexpr qint64 kClientHighWaterBytes = 1024 * 1024;

// Bound of what the HTTP client may read ahead for one reply.
constexpr qint64 kReplyReadBufferBytes = 256 * 1024;

// A client may still be sending once its answer is out: it is read and dropped
// until it closes, or for this long once it has taken everything, so the close
// does not become a reset. A rejected client gets at most this many bytes.
constexpr int kRejectDrainMs = 1000;
constexpr qint64 kRejectDrainBytes = 64 * 1024;

// A client that takes nothing for this long while data waits for it is closed.
// 60 s unless a test shortens it.
int stalledClientTimeoutMs();
void setStalledClientTimeoutMs(int ms);

// The relay serves at most this many clients at once and stops accepting
// while at it: the player needs under ten, and a flood must not exhaust the
// process's descriptors. Below a soft limit of about 700 descriptors the cap
// is lower (see relayConnectionCap).
constexpr int kMaxRelayConnections = 256;

// At the cap, connections still waiting for their request line get at most
// this much longer, so a flood of idle connections cannot hold the relay. A
// lower cap turns over faster: the time shrinks with it, down to the minimum
// (a local client has sent its request before the relay even accepts it).
constexpr int kBusyRequestLineMs = 1000;
constexpr int kMinBusyRequestLineMs = 100;

// Redirects the relay follows for one request, as many as Qt would.
constexpr int kMaxRedirects = 50;
