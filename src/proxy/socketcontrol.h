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
