#pragma once

#include <QString>

#include <functional>
#include <optional>

class QApplication;
class QTcpServer;
class QWidget;
class RelayThread;
class SplashScreen;

// The relay's loopback ports: the first, then the fallbacks up to the last.
constexpr quint16 kFirstRelayPort = 8080;
constexpr quint16 kLastRelayPort = 8090;

// Listens on 127.0.0.1 at the first port of 8080..8090 that can be bound.
bool listenOnFirstFreePort(QTcpServer &server);

// Binds the relay; when no port is free, calls reportNoPort and gives the
// process exit code. Empty when start-up can go on.
std::optional<int> startRelay(QTcpServer &server, const std::function<void()> &reportNoPort);
// The same for a relay on its own thread.
std::optional<int> startRelay(RelayThread &relay, const std::function<void()> &reportNoPort);

// The critical box for a relay without a port; returns once it is dismissed.
void showNoFreePortError();

// Installs the bundled theme; a missing file leaves the default look.
void loadApplicationStyleSheet(QApplication &app,
                               const QString &path = QStringLiteral(":/style.qss"));

// When the splash is done: close and delete it, then show the main window.
void handOverOnFinish(SplashScreen *splash, QWidget *mainWindow);
