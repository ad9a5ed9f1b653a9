#include "channelorigin.h"
#include "epgtypes.h"
#include "localproxy.h"
#include "mainwindow.h"
#include "networkspeedmeter.h"
#include "relaythread.h"
#include "splashscreen.h"
#include "startup.h"
#include "videofactstap.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // The menus carry style icons; keep them visible where a platform hides them.
    QApplication::setAttribute(Qt::AA_DontShowIconsInMenus, false);
    QApplication app(argc, argv);

    // Guide payloads reach the window and the guide windows synchronously, on
    // the GUI thread; the registration only makes the type known by name.
    qRegisterMetaType<EpgPayload>("EpgPayload");
    QApplication::setApplicationName(QStringLiteral("Vostan TV Плеері"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/logo.png")));

    NetworkSpeedMeter meter;
    VideoFactsTap factsTap;
    // Stopped, its connections closed, before the meter, the tap and the
    // application go.
    RelayThread relay(channelOrigin(), &meter);
    relay.run([&factsTap](LocalProxy &proxy) { proxy.setFactsTap(&factsTap); });

    // Before the style sheet on purpose: the error box keeps Qt's plain look.
    if (const std::optional<int> exitCode = startRelay(relay, showNoFreePortError))
        return *exitCode;

    loadApplicationStyleSheet(app);

    auto *splash = new SplashScreen(nullptr);
    splash->show();

    // Never deleted: it lives until the process ends. Its constructor already
    // starts network work, so that overlaps the splash.
    auto *window = new MainWindow(nullptr, relay.serverPort(), &meter);
    window->setVideoFactsTap(&factsTap);
    handOverOnFinish(splash, window);

    return app.exec();
}
