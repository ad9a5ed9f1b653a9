#pragma once

#include <QByteArray>

class QNetworkReply;

// Internal to the relay; declared here so that tests can call it directly.

// The status line and headers the relay writes for an origin's answer. The
// relay speaks HTTP/1.1 with "Connection: close" whatever the origin spoke,
// and the head never describes a body other than the one relayed.
QByteArray relayedHead(const QNetworkReply &reply);
