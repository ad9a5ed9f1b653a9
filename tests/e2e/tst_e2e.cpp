// Plays the local demo channel (ffmpeg + nginx) through the real relay and
// the real main window.
#include "localproxy.h"
#include "mainwindow.h"
#include "networkspeedmeter.h"
#include "relaythread.h"
#include "videofactstap.h"

#include <QComboBox>
#include <QFile>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QMediaPlayer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoSink>

namespace {

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

// Width over height of the demo picture's magenta circle.
double circleRatio(const QImage &image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) > 150 && qBlue(c) > 150 && qGreen(c) < 100)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box.isEmpty() ? 0.0 : double(box.width()) / box.height();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void playsThroughRelay();
    void realClientsThroughRelay();

private:
    bool runChannel(const QString &command, int timeoutMs);
    QByteArray accessLogSince(qint64 offset) const;
    // Runs a program with the event loop turning, so the relay can serve it.
    int runClient(const QString &program, const QStringList &args, QByteArray *out = nullptr);

    QTemporaryDir workDir;
    QString origin;
    NetworkSpeedMeter meter;
    VideoFactsTap factsTap;
    QList<VideoFacts> reportedFacts;
    // On its own thread as in the player: a back end may open the stream
    // synchronously on this one.
    std::unique_ptr<RelayThread> relay;
};

bool TestEndToEnd::runChannel(const QString &command, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    // Interlaced 16:9 PAL on top, as regional channels send it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VOSTAN_DEMO_FORMAT"), QStringLiteral("pal16x9i"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VOSTAN_DEMO_CHANNEL), {command, workDir.path()});
    return p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

void TestEndToEnd::initTestCase()
{
    QVERIFY(workDir.isValid());
    QVERIFY2(runChannel(QStringLiteral("start"), 90000), "demo channel did not start");
    QFile portFile(workDir.filePath(QStringLiteral("port")));
    QVERIFY(portFile.open(QIODevice::ReadOnly));
    origin = QStringLiteral("http://127.0.0.1:%1")
                 .arg(QString::fromLatin1(portFile.readAll().trimmed()));

    relay = std::make_unique<RelayThread>(origin, &meter);
    relay->run([this](LocalProxy &proxy) {
        proxy.setFactsTap(&factsTap);
        QVERIFY(proxy.listen(QHostAddress::LocalHost, 0));
    });
    connect(&factsTap, &VideoFactsTap::factsChanged, this,
            [this](const VideoFacts &facts) { reportedFacts.append(facts); });
}

void TestEndToEnd::cleanupTestCase()
{
    relay.reset();
    runChannel(QStringLiteral("stop"), 30000);
}

QByteArray TestEndToEnd::accessLogSince(qint64 offset) const
{
    QFile log(workDir.filePath(QStringLiteral("logs/access.log")));
    if (!log.open(QIODevice::ReadOnly) || !log.seek(offset))
        return {};
    return log.readAll();
}

int TestEndToEnd::runClient(const QString &program, const QStringList &args, QByteArray *out)
{
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(program, args);
    if (!done.wait(60000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestEndToEnd::playsThroughRelay()
{
    QSignalSpy rates(&meter, &NetworkSpeedMeter::ratesUpdated);
    MainWindow window(nullptr, relay->serverPort(), &meter);
    window.setVideoFactsTap(&factsTap);
    window.show();
    auto *player = window.findChild<QMediaPlayer *>();
    auto *view = window.findChild<QGraphicsView *>();
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("qualityCombo"));
    QVERIFY(player && view && combo);

    QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), QMediaPlayer::PlayingState, 30000);
    QCOMPARE(combo->count(), 4);

    // Frames arrive and the picture in the view is not one flat colour.
    QGraphicsVideoItem *item = nullptr;
    for (QGraphicsItem *i : view->scene()->items())
        if ((item = dynamic_cast<QGraphicsVideoItem *>(i)))
            break;
    QVERIFY(item && item->videoSink());
    QSignalSpy frames(item->videoSink(), &QVideoSink::videoFrameChanged);
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= 10, 30000);
    const QImage grabbed = view->grab().toImage();
    QVERIFY2(distinctColours(grabbed) > 16, "the video view shows one flat colour");

    // The meter saw the stream go by.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(rates.cbegin(), rates.cend(),
                    [](const QList<QVariant> &r) { return r.at(0).toDouble() > 0.0; }),
        10000);

    // The PAL variant: the relay reads its shape and scanning from the
    // segments, and the circle shows round.
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(reportedFacts.cbegin(), reportedFacts.cend(),
                                         [](const VideoFacts &f) {
                                             return f.size == QSize(720, 576) && f.sarNum == 64 &&
                                                    f.sarDen == 45 &&
                                                    f.scan == VideoFacts::Scan::TopFieldFirst;
                                         }),
                             20000);
    QTRY_COMPARE_WITH_TIMEOUT(item->videoSink()->videoSize(), QSize(720, 576), 20000);
    frames.clear();
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= 5, 20000);
    const double ratio = circleRatio(view->grab().toImage());
    QVERIFY2(qAbs(ratio - 1.0) <= 0.02, qPrintable(QStringLiteral("circle %1").arg(ratio)));

    // Choosing the second variant makes the relay fetch its playlist.
    const qint64 logOffset = QFile(workDir.filePath(QStringLiteral("logs/access.log"))).size();
    const QString uri = combo->itemData(2).toString();
    QVERIFY(!uri.isEmpty());
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    const QByteArray wanted = "GET /hls/" + uri.toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(accessLogSince(logOffset).contains(wanted), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), QMediaPlayer::PlayingState, 20000);
}

void TestEndToEnd::realClientsThroughRelay()
{
    const QString relayRoot = QStringLiteral("http://127.0.0.1:%1").arg(relay->serverPort());
    QCOMPARE(runClient(QStringLiteral("ffmpeg"),
                       {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                        QStringLiteral("-i"), relayRoot + QStringLiteral("/hls/master.m3u8"),
                        QStringLiteral("-t"), QStringLiteral("4"), QStringLiteral("-f"),
                        QStringLiteral("null"), QStringLiteral("-")}),
             0);

    // Newest segment of the first variant, fetched both ways.
    QByteArray master;
    QCOMPARE(runClient(QStringLiteral("curl"),
                       {QStringLiteral("-sf"), origin + QStringLiteral("/hls/master.m3u8")},
                       &master),
             0);
    const QRegularExpression uriLine(QStringLiteral("^([^#\\s].*)$"),
                                     QRegularExpression::MultilineOption);
    const QString variant = uriLine.match(QString::fromUtf8(master)).captured(1).trimmed();
    QVERIFY(!variant.isEmpty());
    QByteArray media;
    const QString variantUrl = origin + QStringLiteral("/hls/") + variant;
    QCOMPARE(runClient(QStringLiteral("curl"), {QStringLiteral("-sf"), variantUrl}, &media), 0);
    QString segment;
    auto it = uriLine.globalMatch(QString::fromUtf8(media));
    while (it.hasNext())
        segment = it.next().captured(1).trimmed();
    QVERIFY(!segment.isEmpty());
    const QString segmentPath =
        QUrl(QStringLiteral("/hls/") + variant).resolved(QUrl(segment)).path();

    QByteArray direct;
    QByteArray relayed;
    QCOMPARE(
        runClient(QStringLiteral("curl"), {QStringLiteral("-sf"), origin + segmentPath}, &direct),
        0);
    QCOMPARE(runClient(QStringLiteral("curl"), {QStringLiteral("-sf"), relayRoot + segmentPath},
                       &relayed),
             0);
    QVERIFY(direct.size() > 1000);
    QVERIFY(relayed == direct);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
