#pragma once

// GLib's shared session-bus connection, which GIO modules that the media back
// end loads open on their own, ends the process (SIGTERM) when the bus goes
// away. Call while a session bus is known to be there: from then on its loss
// leaves the player running. Does nothing where GLib is not used.
void keepGlibSessionBusFromEndingProcess();
