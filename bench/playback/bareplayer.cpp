// The anchor for playback, start-up and picture figures: a bare QMediaPlayer
// showing into a QGraphicsVideoItem, with nothing else in the window.
//
//   vostan_bareplayer [--fullscreen] [--smooth] [--first-frame] URL
//
// --first-frame prints "first-frame-ms N" (N from process start, read from
// /proc, so it counts loading the libraries too) when the sink gets its
// first frame; the player keeps running.

#include <QApplication>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QMediaPlayer>
#include <QResizeEvent>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

namespace {

// Milliseconds since this process started, from the kernel's own start time.
double msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22 (starttime) counts after the command name's closing bracket.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double startSec = fields.at(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9 - startSec) * 1000.0;
}

class VideoView : public QGraphicsView
{
public:
    VideoView(QGraphicsScene *scene, QGraphicsVideoItem *item) : QGraphicsView(scene), item(item)
    {
        setFrameShape(QFrame::NoFrame);
        setBackgroundBrush(QBrush(Qt::black, Qt::SolidPattern));
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QGraphicsView::resizeEvent(event);
        scene()->setSceneRect(0, 0, width(), height());
        item->setSize(QSizeF(width(), height()));
    }

private:
    QGraphicsVideoItem *item;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    bool fullScreen = false;
    bool smooth = false;
    bool firstFrame = false;
    QString url;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--fullscreen"))
            fullScreen = true;
        else if (args[i] == QLatin1String("--smooth"))
            smooth = true;
        else if (args[i] == QLatin1String("--first-frame"))
            firstFrame = true;
        else
            url = args[i];
    }
    if (url.isEmpty()) {
        std::fprintf(stderr, "usage: vostan_bareplayer [--fullscreen] [--smooth] "
                             "[--first-frame] URL\n");
        return 2;
    }

    QGraphicsScene scene;
    auto *item = new QGraphicsVideoItem();
    scene.addItem(item);
    VideoView view(&scene, item);
    if (smooth)
        view.setRenderHint(QPainter::SmoothPixmapTransform);
    view.resize(1280, 720);

    QMediaPlayer player;
    QAudioOutput audio;
    audio.setVolume(0.5f);
    player.setAudioOutput(&audio);
    player.setVideoOutput(item);

    if (firstFrame) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(item->videoSink(), &QVideoSink::videoFrameChanged, &app,
                                       [connection](const QVideoFrame &frame) {
                                           if (!frame.isValid())
                                               return;
                                           std::printf("first-frame-ms %.1f\n",
                                                       msSinceProcessStart());
                                           std::fflush(stdout);
                                           QObject::disconnect(*connection);
                                       });
    }

    player.setSource(QUrl(url));
    player.play();
    if (fullScreen)
        view.showFullScreen();
    else
        view.show();
    return app.exec();
}
