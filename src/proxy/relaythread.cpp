#include "relaythread.h"

#include "localproxy.h"

RelayThread::RelayThread(const QString &targetHost, NetworkSpeedMeter *meter)
{
    thread.setObjectName(QStringLiteral("relay"));
    anchor.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        &anchor,
        [this, targetHost, meter] {
            proxy = new LocalProxy(&anchor);
            proxy->setTargetHost(targetHost);
            proxy->setSpeedMeter(meter);
        },
        Qt::BlockingQueuedConnection);
}

RelayThread::~RelayThread()
{
    // Deleted on its own thread, where its sockets and replies live.
    QMetaObject::invokeMethod(
        &anchor,
        [this] {
            delete proxy;
            proxy = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void RelayThread::run(const std::function<void(LocalProxy &)> &work)
{
    QMetaObject::invokeMethod(
        &anchor, [this, &work] { work(*proxy); }, Qt::BlockingQueuedConnection);
}

quint16 RelayThread::serverPort()
{
    quint16 port = 0;
    run([&port](LocalProxy &relay) { port = relay.serverPort(); });
    return port;
}
