#pragma once

// The process's open-file limit, which bounds the relay's connections.

// Raises the soft limit to the hard one, as servers do at start; a no-op
// where the system has no such limit.
void raiseDescriptorLimit();

// Connections the relay may hold at once under the current soft limit: each
// takes up to two descriptors and a share of an HTTP thread's, and the media
// back end, the GUI and the guide keep a reserve. Never above
// kMaxRelayConnections.
int relayConnectionCap();
