#pragma once

#include <QtGlobal>

// Socket calls Qt has no API for; internal to the relay.

// Sends FIN while the relay keeps reading, so a client still sending sees the
// answer end rather than a reset.
void shutdownWrite(qintptr descriptor);

// Makes the next close of the socket a reset (RST) instead of a FIN, so the
// client cannot take a cut-off body for a complete one.
void resetOnClose(qintptr descriptor);

// Bytes the kernel still holds for the peer (unsent or unacknowledged); 0
// where the system cannot tell.
qint64 unsentInKernel(qintptr descriptor);

// Non-blocking transfers: the count moved, 0 at the peer's end of stream
// (receive only), kWouldBlock when nothing can move now, kFailed when the
// connection is gone (reset, broken pipe).
constexpr qint64 kWouldBlock = -1;
constexpr qint64 kFailed = -2;
qint64 receiveSome(qintptr descriptor, char *data, qint64 size);
qint64 sendSome(qintptr descriptor, const char *data, qint64 size);

// True once the peer has reset the connection.
bool wasReset(qintptr descriptor);

void setNonBlocking(qintptr descriptor);
void closeSocket(qintptr descriptor);
