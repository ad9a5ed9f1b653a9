#include "startup.h"

#include "localproxy.h"
#include "relaythread.h"
#include "splashscreen.h"

#include <QApplication>
#include <QFile>
#include <QHostAddress>
#include <QMessageBox>
#include <QTcpServer>
#include <QTextStream>

bool listenOnFirstFreePort(QTcpServer &server)
{
    if (!server.listen(QHostAddress::LocalHost, kFirstRelayPort)) {
        for (quint16 port = kFirstRelayPort + 1; port <= kLastRelayPort; ++port) {
            if (server.isListening())
                break;
            server.listen(QHostAddress::LocalHost, port);
        }
    }
    return server.isListening();
}

namespace {

std::optional<int> startedOrReported(bool listening, const std::function<void()> &reportNoPort)
{
    if (listening)
        return std::nullopt;
    reportNoPort();
    return 1;
}

} // namespace

std::optional<int> startRelay(QTcpServer &server, const std::function<void()> &reportNoPort)
{
    return startedOrReported(listenOnFirstFreePort(server), reportNoPort);
}

std::optional<int> startRelay(RelayThread &relay, const std::function<void()> &reportNoPort)
{
    bool listening = false;
    relay.run([&listening](LocalProxy &proxy) { listening = listenOnFirstFreePort(proxy); });
    return startedOrReported(listening, reportNoPort);
}

void showNoFreePortError()
{
    QMessageBox::critical(
        nullptr, QStringLiteral("Қате"),
        QStringLiteral("Жергілікті прокси қосылмады (порттар 8080–8090 бос емес)."),
        QMessageBox::Ok);
}

void loadApplicationStyleSheet(QApplication &app, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    app.setStyleSheet(stream.readAll());
}

void handOverOnFinish(SplashScreen *splash, QWidget *mainWindow)
{
    // Direct, with the splash as context: the hand-over runs inside the tick
    // that finishes loading, and never after the splash is gone.
    QObject::connect(
        splash, &SplashScreen::loadingFinished, splash,
        [splash, mainWindow] {
            splash->close();
            splash->deleteLater();
            mainWindow->show();
        },
        Qt::DirectConnection);
}
