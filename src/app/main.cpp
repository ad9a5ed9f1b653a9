#include "channelorigin.h"
#include "descriptorlimit.h"
#include "epgtypes.h"
#include "mainwindow.h"
#include "networkspeedmeter.h"
#include "relaythread.h"
#include "splashscreen.h"
#include "startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Before any thread starts: the relay's cap follows the limit.
    raiseDescriptorLimit();
    // The menus carry style icons; keep them visible where a platform hides them.
    QApplication::setAttribute(Qt::AA_DontShowIconsInMenus, false);
    QApplication app(argc, argv);

    // Guide payloads reach the window and the guide windows synchronously, on
    // the GUI thread; the registration only makes the type known by name.
    qRegisterMetaType<EpgPayload>("EpgPayload");
    QApplication::setApplicationName(QStringLiteral("Vostan TV Плеері"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/logo.png")));

    NetworkSpeedMeter meter;
    // Stopped, its connections closed, before the meter and the application go.
    RelayThread relay(channelOrigin(), &meter);

    // Before the style sheet on purpose: the error box keeps Qt's plain look.
    if (const std::optional<int> exitCode = startRelay(relay, showNoFreePortError))
        return *exitCode;

    loadApplicationStyleSheet(app);

    auto *splash = new SplashScreen(nullptr);
    splash->show();

    // Never deleted: it lives until the process ends. Its constructor already
    // starts network work, so that overlaps the splash.
    auto *window = new MainWindow(nullptr, relay.serverPort(), &meter);
    handOverOnFinish(splash, window);

    return app.exec();
}
