// Runs the real main window as the program does (relay, style sheet, window;
// the splash is left out) and counts, per decoded video frame, the paint
// events each part of the window gets while the stream plays.
//
//   vostan_paintprobe [--warm S] [--seconds S] [--bars] [--fullscreen]
//
// --bars keeps the control bars shown (as if the mouse moved every second);
// without it they hide after five seconds as they do for a user who leaves
// the mouse alone. Prints one "paints <widget> <count> <per-frame>" line per
// widget and "frames <n>".

#include "channelorigin.h"
#include "epgtypes.h"
#include "localproxy.h"
#include "mainwindow.h"
#include "networkspeedmeter.h"
#include "startup.h"

#include <QApplication>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QMainWindow>
#include <QMap>
#include <QMouseEvent>
#include <QTimer>
#include <QVideoSink>

#include <cstdio>

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QMainWindow *window) : window(window) {}
    bool counting = false;
    QMap<QString, int> paints;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (counting && event->type() == QEvent::Paint && watched->isWidgetType())
            ++paints[nameOf(static_cast<QWidget *>(watched))];
        return false;
    }

private:
    QString nameOf(QWidget *w) const
    {
        if (w == window)
            return QStringLiteral("window");
        if (w == window->centralWidget())
            return QStringLiteral("central");
        if (qobject_cast<QGraphicsView *>(w))
            return QStringLiteral("videoView");
        if (qobject_cast<QGraphicsView *>(w->parentWidget()))
            return QStringLiteral("videoView.viewport");
        // Children of a bar count under the bar's name.
        for (QWidget *p = w; p; p = p->parentWidget()) {
            const QString name = p->objectName();
            if (name == QLatin1String("topBar") || name == QLatin1String("bottomBar"))
                return p == w ? name : name + QStringLiteral(".children");
            if (name == QLatin1String("videoOverlay"))
                return name;
        }
        return QString::fromLatin1(w->metaObject()->className());
    }

    QMainWindow *window;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_DontShowIconsInMenus, false);
    QApplication app(argc, argv);
    qRegisterMetaType<EpgPayload>("EpgPayload");
    int warm = 6;
    int seconds = 10;
    bool bars = false;
    bool fullScreen = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--warm") && i + 1 < args.size())
            warm = args[++i].toInt();
        else if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--bars"))
            bars = true;
        else if (args[i] == QLatin1String("--fullscreen"))
            fullScreen = true;
    }

    LocalProxy proxy;
    proxy.setTargetHost(channelOrigin());
    NetworkSpeedMeter meter;
    proxy.setSpeedMeter(&meter);
    if (startRelay(proxy, [] {}))
        return 1;
    loadApplicationStyleSheet(app);

    auto *window = new MainWindow(nullptr, proxy.serverPort(), &meter);
    if (fullScreen)
        window->showFullScreen();
    else
        window->show();

    PaintCounter counter(window);
    app.installEventFilter(&counter);
    int frames = 0;
    auto *view = window->findChild<QGraphicsView *>();
    QGraphicsVideoItem *item = nullptr;
    for (QGraphicsItem *i : view->scene()->items())
        if ((item = dynamic_cast<QGraphicsVideoItem *>(i)))
            break;
    QObject::connect(item->videoSink(), &QVideoSink::videoFrameChanged, &app, [&] {
        if (counter.counting)
            ++frames;
    });

    if (bars) {
        // A small mouse move over the picture, as a user's hand would make.
        auto *wiggle = new QTimer(&app);
        QObject::connect(wiggle, &QTimer::timeout, &app, [view, flip = false]() mutable {
            QWidget *target = view->viewport();
            const QPointF at(target->width() / 2 + (flip ? 1 : 0), target->height() / 2);
            flip = !flip;
            QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(target, &move);
        });
        wiggle->start(1000);
    }

    QTimer::singleShot(warm * 1000, &app, [&] { counter.counting = true; });
    QTimer::singleShot((warm + seconds) * 1000, &app, [&] {
        counter.counting = false;
        std::printf("frames %d (%.1f per second)\n", frames, double(frames) / seconds);
        for (auto it = counter.paints.cbegin(); it != counter.paints.cend(); ++it)
            std::printf("paints %s %d %.2f\n", qPrintable(it.key()), it.value(),
                        frames ? double(it.value()) / frames : 0.0);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return app.exec();
}
