#include "scaledvideoitem.h"
#include "videoview.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QScreen>
#include <QTest>
#include <QVideoFrame>
#include <QVideoSink>

#include <array>
#include <functional>

namespace {

// Eight flat stripes of full-level colours, as a test card has them.
const std::array<QRgb, 8> kStripes = {0xffffff, 0xffff00, 0x00ffff, 0x00ff00,
                                      0xff00ff, 0xff0000, 0x0000ff, 0x000000};

// Limited-range Y, Cb, Cr of a colour under the matrix with weights kr, kb.
std::array<uchar, 3> toYuv(QRgb c, double kr, double kb)
{
    const double r = qRed(c) / 255.0, g = qGreen(c) / 255.0, b = qBlue(c) / 255.0;
    const double y = kr * r + (1 - kr - kb) * g + kb * b;
    return {uchar(qRound(16 + 219 * y)), uchar(qRound(128 + 224 * (b - y) / (2 * (1 - kb)))),
            uchar(qRound(128 + 224 * (r - y) / (2 * (1 - kr))))};
}

bool sampleIs16Bit(QVideoFrameFormat::PixelFormat pixels)
{
    return pixels == QVideoFrameFormat::Format_P010 || pixels == QVideoFrameFormat::Format_P016;
}

// Writes an 8-bit sample as the layout holds it: P010 and P016 in the high
// bits of a 16-bit word. (Qt 6.4 lays out a planar 10-bit frame it allocates
// itself with 8-bit lines, so that form comes only from a back end.)
void putSample(QVideoFrameFormat::PixelFormat pixels, uchar *at, uchar value)
{
    if (!sampleIs16Bit(pixels)) {
        *at = value;
        return;
    }
    const quint16 word =
        pixels == QVideoFrameFormat::Format_P010 ? quint16(value << 8) : quint16(value * 257);
    memcpy(at, &word, 2);
}

// A YUV 4:2:0 (or RGB) frame whose pixel (x, y) has the colour `colourAt`
// gives, in the matrix with weights kr, kb.
QVideoFrame paintedFrame(QSize size, QVideoFrameFormat::PixelFormat pixels,
                         QVideoFrameFormat::ColorSpace space, bool bt709,
                         const std::function<QRgb(int, int)> &colourAt)
{
    QVideoFrameFormat format(size, pixels);
    format.setColorSpace(space);
    format.setColorRange(QVideoFrameFormat::ColorRange_Video);
    QVideoFrame frame(format);
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
    const int bytes = sampleIs16Bit(pixels) ? 2 : 1;
    const bool interleaved = pixels == QVideoFrameFormat::Format_NV12 ||
                             pixels == QVideoFrameFormat::Format_P010 ||
                             pixels == QVideoFrameFormat::Format_P016;
    for (int y = 0; y < size.height(); ++y) {
        uchar *line = frame.bits(0) + y * frame.bytesPerLine(0);
        for (int x = 0; x < size.width(); ++x) {
            const QRgb c = colourAt(x, y);
            if (pixels == QVideoFrameFormat::Format_BGRX8888) {
                line[4 * x] = uchar(qBlue(c)), line[4 * x + 1] = uchar(qGreen(c));
                line[4 * x + 2] = uchar(qRed(c)), line[4 * x + 3] = 255;
                continue;
            }
            const auto yuv = toYuv(c, kr, kb);
            putSample(pixels, line + x * bytes, yuv[0]);
            if (y % 2 || x % 2)
                continue;
            if (interleaved) {
                uchar *uv = frame.bits(1) + y / 2 * frame.bytesPerLine(1) + x * bytes;
                putSample(pixels, uv, yuv[1]);
                putSample(pixels, uv + bytes, yuv[2]);
            } else {
                putSample(pixels, frame.bits(1) + y / 2 * frame.bytesPerLine(1) + x / 2 * bytes,
                          yuv[1]);
                putSample(pixels, frame.bits(2) + y / 2 * frame.bytesPerLine(2) + x / 2 * bytes,
                          yuv[2]);
            }
        }
    }
    frame.unmap();
    return frame;
}

QVideoFrame stripesFrame(QSize size, QVideoFrameFormat::PixelFormat pixels,
                         QVideoFrameFormat::ColorSpace space, int shift, bool bt709)
{
    return paintedFrame(size, pixels, space, bt709,
                        [&](int x, int) { return kStripes[(x * 8 / size.width() + shift) % 8]; });
}

int colourOff(QRgb want, QRgb got)
{
    return qMax(qAbs(qRed(want) - qRed(got)),
                qMax(qAbs(qGreen(want) - qGreen(got)), qAbs(qBlue(want) - qBlue(got))));
}

QString hex(QRgb c)
{
    return QStringLiteral("%1").arg(c & 0xffffff, 6, 16, QLatin1Char('0'));
}

VideoFacts factsFor(QSize size, int sarNum = 0, int sarDen = 0,
                    VideoFacts::Scan scan = VideoFacts::Scan::Progressive, int matrix = 2)
{
    VideoFacts facts;
    facts.size = size;
    facts.sarNum = sarNum;
    facts.sarDen = sarDen;
    facts.scan = scan;
    facts.matrix = matrix;
    return facts;
}

// The player's view and item in a window, the view away from the window's
// corner; grabs() gives the screen (the window's backing store, where the
// item writes directly) and a grab of the view (as the screenshot takes it).
struct Stage
{
    QWidget window;
    QGraphicsScene scene;
    ScaledVideoItem *item = new ScaledVideoItem();
    VideoView view{&scene, &window};

    explicit Stage(QSize viewSize, QColor ground = Qt::black)
    {
        window.resize(viewSize + QSize(viewSize.width() / 4, 40));
        scene.addItem(item);
        view.setPicture(item);
        view.setFrameShape(QFrame::NoFrame);
        view.setBackgroundBrush(ground);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
        view.setGeometry(QRect(QPoint(viewSize.width() / 8, 20), viewSize));
        scene.setSceneRect(0, 0, viewSize.width(), viewSize.height());
        item->setSize(viewSize);
        window.show();
    }
    void present(const QVideoFrame &frame) { item->videoSink()->setVideoFrame(frame); }
    QList<QImage> grabs()
    {
        view.viewport()->repaint();
        const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
        return {screen.copy(view.geometry()), view.grab().toImage()};
    }
};

} // namespace

class TstVideo : public QObject
{
    Q_OBJECT

private slots:
    void picture_data();
    void picture();
    void shape_data();
    void shape();
    void fields_data();
    void fields();
    void sequence_data();
    void sequence();
};

void TstVideo::picture_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<QVideoFrameFormat::PixelFormat>("pixels");
    QTest::addColumn<QVideoFrameFormat::ColorSpace>("space");
    QTest::addColumn<QSize>("viewSize");
    // The stream's own matrix code (-1: no facts for the stream) and the
    // matrix its colours were made with.
    QTest::addColumn<int>("factsMatrix");
    QTest::addColumn<bool>("bt709");
    using F = QVideoFrameFormat;
    QTest::newRow("HD BT.709, I420, scaled down")
        << QSize(1280, 720) << F::Format_YUV420P << F::ColorSpace_BT709 << QSize(960, 540) << -1
        << true;
    QTest::newRow("SD BT.601, NV12, scaled up")
        << QSize(640, 360) << F::Format_NV12 << F::ColorSpace_BT601 << QSize(1280, 720) << -1
        << false;
    QTest::newRow("HD into a small window") << QSize(1280, 720) << F::Format_YUV420P
                                            << F::ColorSpace_BT709 << QSize(400, 225) << -1 << true;
    QTest::newRow("HD untagged, letterboxed")
        << QSize(1280, 720) << F::Format_YUV420P << F::ColorSpace_Undefined << QSize(800, 600) << -1
        << true;
    QTest::newRow("RGB, Qt's own path")
        << QSize(640, 360) << F::Format_BGRX8888 << F::ColorSpace_Undefined << QSize(640, 360) << -1
        << false;
    QTest::newRow("10-bit P010 (GStreamer)")
        << QSize(1280, 720) << F::Format_P010 << F::ColorSpace_BT709 << QSize(960, 540) << -1
        << true;
    QTest::newRow("16-bit P016, SD") << QSize(720, 576) << F::Format_P016 << F::ColorSpace_BT601
                                     << QSize(800, 450) << -1 << false;
    QTest::newRow("untagged 1280x544 is BT.709")
        << QSize(1280, 544) << F::Format_YUV420P << F::ColorSpace_Undefined << QSize(960, 540) << -1
        << true;
    QTest::newRow("untagged 1280x544, the back end guessing BT.601")
        << QSize(1280, 544) << F::Format_NV12 << F::ColorSpace_BT601 << QSize(960, 540) << 2
        << true;
    QTest::newRow("SD tagged BT.709 by the stream only")
        << QSize(720, 576) << F::Format_YUV420P << F::ColorSpace_Undefined << QSize(800, 450) << 1
        << true;
    QTest::newRow("untagged SD is BT.601")
        << QSize(720, 576) << F::Format_YUV420P << F::ColorSpace_Undefined << QSize(720, 576) << 2
        << false;
}

// The picture as the screen shows it (the window's backing store, the view
// away from the window's corner) and in a grab of the view, as the
// screenshot button takes it: each stripe's colour at its centre, black
// around a letterboxed frame, and the next frame replacing the last.
void TstVideo::picture()
{
    QFETCH(QSize, frameSize);
    QFETCH(QVideoFrameFormat::PixelFormat, pixels);
    QFETCH(QVideoFrameFormat::ColorSpace, space);
    QFETCH(QSize, viewSize);
    QFETCH(int, factsMatrix);
    QFETCH(bool, bt709);

    QWidget window;
    window.resize(viewSize + QSize(viewSize.width() / 4, 40));
    QGraphicsScene scene;
    auto *item = new ScaledVideoItem();
    scene.addItem(item);
    if (factsMatrix >= 0)
        item->setVideoFacts(factsFor(frameSize, 1, 1, VideoFacts::Scan::Progressive, factsMatrix));
    QGraphicsView view(&scene, &window);
    view.setFrameShape(QFrame::NoFrame);
    view.setBackgroundBrush(Qt::black);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setRenderHint(QPainter::SmoothPixmapTransform);
    view.setGeometry(QRect(QPoint(viewSize.width() / 8, 20), viewSize));
    scene.setSceneRect(0, 0, viewSize.width(), viewSize.height());
    item->setSize(viewSize);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QSizeF shownSize = frameSize;
    shownSize.scale(viewSize, Qt::KeepAspectRatio);
    const QRectF shown((viewSize.width() - shownSize.width()) / 2,
                       (viewSize.height() - shownSize.height()) / 2, shownSize.width(),
                       shownSize.height());
    for (int shift : {0, 3}) {
        item->videoSink()->setVideoFrame(stripesFrame(frameSize, pixels, space, shift, bt709));
        view.viewport()->repaint();
        const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
        const QImage grabs[] = {screen.copy(QRect(view.pos(), viewSize)), view.grab().toImage()};
        for (const QImage &grabbed : grabs) {
            QCOMPARE(grabbed.size(), viewSize);
            for (int i = 0; i < 8; ++i) {
                const QPoint at(qRound(shown.left() + shown.width() * (i + 0.5) / 8),
                                qRound(shown.center().y()));
                const QRgb want = kStripes[(i + shift) % 8], got = grabbed.pixel(at);
                QVERIFY2(colourOff(want, got) <= 6,
                         qPrintable(QStringLiteral("%1, stripe %2 (frame %3): %4 instead of %5")
                                        .arg(&grabbed == grabs ? "screen" : "grab")
                                        .arg(i)
                                        .arg(shift)
                                        .arg(hex(got), hex(want))));
            }
            if (shown.top() >= 2)
                QCOMPARE(grabbed.pixel(viewSize.width() / 2, 0) & 0xffffff, 0u);
        }
    }
}

void TstVideo::shape_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<int>("sarNum");
    QTest::addColumn<int>("sarDen");
    QTest::addColumn<QSize>("factsSize");
    QTest::addColumn<bool>("factsFirst");
    QTest::addColumn<QSize>("viewSize");
    QTest::newRow("PAL 16:9, 64:45")
        << QSize(720, 576) << 64 << 45 << QSize(720, 576) << true << QSize(960, 540);
    QTest::newRow("PAL 4:3, 16:15")
        << QSize(720, 576) << 16 << 15 << QSize(720, 576) << true << QSize(960, 540);
    QTest::newRow("1440x1080, 4:3, facts after the frame")
        << QSize(1440, 1080) << 4 << 3 << QSize(1440, 1080) << false << QSize(800, 600);
    QTest::newRow("facts of another variant: square")
        << QSize(640, 360) << 1 << 1 << QSize(720, 576) << true << QSize(960, 540);
}

// A circle, drawn as the stream's samples hold it, is round on screen and in
// the screenshot: its dark extent as wide as high within 2%.
void TstVideo::shape()
{
    QFETCH(QSize, frameSize);
    QFETCH(int, sarNum);
    QFETCH(int, sarDen);
    QFETCH(QSize, factsSize);
    QFETCH(bool, factsFirst);
    QFETCH(QSize, viewSize);

    Stage stage(viewSize, Qt::white);
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    // Another variant's facts come too; only the frame's own size counts.
    stage.item->setVideoFacts(factsFor(QSize(1920, 1080), 1, 1));
    const VideoFacts facts = factsFor(factsSize, sarNum, sarDen);
    if (factsFirst)
        stage.item->setVideoFacts(facts);
    const double sar = factsSize == frameSize ? double(sarNum) / sarDen : 1.0;
    const double cx = frameSize.width() / 2.0, cy = frameSize.height() / 2.0;
    const double radius = frameSize.height() / 3.0;
    stage.present(paintedFrame(frameSize, QVideoFrameFormat::Format_YUV420P,
                               QVideoFrameFormat::ColorSpace_BT601, false, [&](int x, int y) {
                                   const double dx = (x + 0.5 - cx) * sar, dy = y + 0.5 - cy;
                                   return dx * dx + dy * dy < radius * radius ? 0xff000000u
                                                                              : 0xffffffffu;
                               }));
    if (!factsFirst)
        stage.item->setVideoFacts(facts);
    for (const QImage &grabbed : stage.grabs()) {
        QRect dark;
        for (int y = 0; y < grabbed.height(); ++y)
            for (int x = 0; x < grabbed.width(); ++x)
                if (qGray(grabbed.pixel(x, y)) < 128)
                    dark |= QRect(x, y, 1, 1);
        QVERIFY(!dark.isEmpty());
        const double ratio = double(dark.width()) / dark.height();
        QVERIFY2(qAbs(ratio - 1.0) <= 0.02,
                 qPrintable(QStringLiteral("circle %1x%2").arg(dark.width()).arg(dark.height())));
    }
}

void TstVideo::fields_data()
{
    QTest::addColumn<VideoFacts::Scan>("scan");
    QTest::addColumn<bool>("seek");
    QTest::newRow("top field first") << VideoFacts::Scan::TopFieldFirst << false;
    QTest::newRow("bottom field first") << VideoFacts::Scan::BottomFieldFirst << false;
    QTest::newRow("after a seek") << VideoFacts::Scan::TopFieldFirst << true;
}

// An edge moving right 24 pixels a field, in interlaced 576i frames: each
// field becomes one whole picture, in the stream's field order, the second
// half a frame after the first. A woven frame would show the edge combed:
// neighbouring lines 24 pixels apart. After a seek no field of the frames
// before it comes back.
void TstVideo::fields()
{
    QFETCH(VideoFacts::Scan, scan);
    QFETCH(bool, seek);

    const QSize size(720, 576);
    Stage stage(size);
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    stage.item->setVideoFacts(factsFor(size, 1, 1, scan));
    const bool topFirst = scan == VideoFacts::Scan::TopFieldFirst;
    // Frame k holds the fields of times 2k and 2k+1.
    auto frame = [&](int k, int start) {
        QVideoFrame f = paintedFrame(size, QVideoFrameFormat::Format_YUV420P,
                                     QVideoFrameFormat::ColorSpace_BT601, false, [&](int x, int y) {
                                         const bool first = (y % 2 == 0) == topFirst;
                                         const int edge = start + 24 * (2 * k + (first ? 0 : 1));
                                         return x < edge ? 0xffffffffu : 0xff000000u;
                                     });
        f.setStartTime(k * 40000 + (seek && start > 200 ? 5000000 : 0));
        return f;
    };
    // Where the edge is on every line of the picture's middle; -1 when the
    // lines disagree (combing) or there is no edge.
    auto edgeOf = [](const QImage &image) {
        int edge = -1;
        for (int y = 200; y < 380; ++y) {
            int x = 0;
            while (x < image.width() && qGray(image.pixel(x, y)) >= 128)
                ++x;
            if (edge >= 0 && qAbs(x - edge) > 3)
                return -1;
            edge = y == 200 ? x : edge;
        }
        return edge;
    };
    int start = 100;
    if (seek) {
        stage.present(frame(0, 40));
        stage.present(frame(1, 40));
        QTRY_COMPARE(stage.item->pictureRect().isEmpty(), false);
        start = 300;
    }
    stage.present(frame(0, start));
    // The second frame before the seek (edge from 88) is never shown.
    if (seek)
        QVERIFY(edgeOf(stage.grabs().constFirst()) < 88);
    stage.present(frame(1, start));
    for (const QImage &grabbed : stage.grabs())
        QCOMPARE(edgeOf(grabbed), start);
    QTRY_COMPARE(edgeOf(stage.grabs().constFirst()), start + 24);
    QCOMPARE(edgeOf(stage.grabs().constLast()), start + 24);
}

void TstVideo::sequence_data()
{
    QTest::addColumn<QSize>("firstSize");
    QTest::addColumn<QSize>("secondSize");
    QTest::addColumn<int>("sarNum");
    QTest::addColumn<int>("sarDen");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<QSize>("viewSize");
    QTest::newRow("empty frame between: the last picture stays")
        << QSize(1280, 720) << QSize() << 0 << 0 << 1.0 << QSize(800, 450);
    QTest::newRow("narrower picture, right edge on a whole pixel")
        << QSize(1280, 720) << QSize(1280, 960) << 0 << 0 << 1.0 << QSize(800, 450);
    QTest::newRow("wider picture, its facts known before")
        << QSize(640, 480) << QSize(720, 576) << 64 << 45 << 1.0 << QSize(800, 600);
    QTest::newRow("half transparent over white")
        << QSize(1280, 720) << QSize(640, 480) << 0 << 0 << 0.5 << QSize(800, 450);
}

// One picture, then a frame of another size (or an empty one) in the
// player's view: the stripes of the newest picture where its facts place
// it, the view's ground around it, nothing left of the one before; a
// half-transparent item lets the ground through.
void TstVideo::sequence()
{
    QFETCH(QSize, firstSize);
    QFETCH(QSize, secondSize);
    QFETCH(int, sarNum);
    QFETCH(int, sarDen);
    QFETCH(double, opacity);
    QFETCH(QSize, viewSize);

    const QColor ground = opacity < 1 ? Qt::white : Qt::black;
    Stage stage(viewSize, ground);
    QVERIFY(QTest::qWaitForWindowExposed(&stage.window));
    stage.item->setOpacity(opacity);
    if (sarNum)
        stage.item->setVideoFacts(factsFor(secondSize, sarNum, sarDen));
    using F = QVideoFrameFormat;
    stage.present(stripesFrame(firstSize, F::Format_YUV420P, F::ColorSpace_BT601, 2, false));
    stage.grabs();
    stage.present(secondSize.isValid()
                      ? stripesFrame(secondSize, F::Format_NV12, F::ColorSpace_BT601, 3, false)
                      : QVideoFrame());
    const QSize shownFrame = secondSize.isValid() ? secondSize : firstSize;
    const int shift = secondSize.isValid() ? 3 : 2;
    QSizeF shownSize(sarNum ? shownFrame.width() * sarNum / double(sarDen) : shownFrame.width(),
                     shownFrame.height());
    shownSize.scale(viewSize, Qt::KeepAspectRatio);
    const QRectF shown(QPointF((viewSize.width() - shownSize.width()) / 2,
                               (viewSize.height() - shownSize.height()) / 2),
                       shownSize);
    const QRgb bar = ground.rgb();
    for (const QImage &grabbed : stage.grabs()) {
        const int y = qRound(shown.center().y());
        for (int i = 0; i < 8; ++i) {
            const QRgb stripe = kStripes[(i + shift) % 8];
            const QRgb want = qRgb(qRound(qRed(stripe) * opacity + qRed(bar) * (1 - opacity)),
                                   qRound(qGreen(stripe) * opacity + qGreen(bar) * (1 - opacity)),
                                   qRound(qBlue(stripe) * opacity + qBlue(bar) * (1 - opacity)));
            const QRgb got = grabbed.pixel(qRound(shown.left() + shown.width() * (i + 0.5) / 8), y);
            QVERIFY2(
                colourOff(want, got) <= 6,
                qPrintable(
                    QStringLiteral("stripe %1: %2 instead of %3").arg(i).arg(hex(got), hex(want))));
        }
        // The picture's outermost columns, and the ground right beside them.
        const int left = qRound(shown.left()), right = qRound(shown.right());
        QVERIFY(colourOff(grabbed.pixel(right - 1, y), bar) > 64);
        if (left > 0) {
            QVERIFY(colourOff(grabbed.pixel(left, y), bar) > 64);
            QCOMPARE(grabbed.pixel(left - 1, y) & 0xffffff, bar & 0xffffff);
            QCOMPARE(grabbed.pixel(right, y) & 0xffffff, bar & 0xffffff);
        }
        if (shown.top() >= 1)
            QCOMPARE(grabbed.pixel(viewSize.width() / 2, 0) & 0xffffff, bar & 0xffffff);
    }
}

QTEST_MAIN(TstVideo)
#include "tst_video.moc"
