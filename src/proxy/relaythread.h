#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class LocalProxy;
class NetworkSpeedMeter;

// Runs the relay on a thread of its own, so that nothing on the GUI thread (a
// media back end that opens the stream synchronously, a long paint or parse)
// can keep it from answering. The proxy, its connections and its network
// manager live and die on that thread.
class RelayThread
{
public:
    RelayThread(const QString &targetHost, NetworkSpeedMeter *meter);
    ~RelayThread();
    RelayThread(const RelayThread &) = delete;
    RelayThread &operator=(const RelayThread &) = delete;

    // Runs work with the proxy on the relay's thread and returns once it is done.
    void run(const std::function<void(LocalProxy &)> &work);
    quint16 serverPort();

private:
    QThread thread;
    QObject anchor; // lives on the thread; the proxy's parent
    LocalProxy *proxy = nullptr;
};
