#include "scaledvideoitem.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QScreen>
#include <QTest>
#include <QVideoFrame>
#include <QVideoSink>

#include <array>

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

QVideoFrame stripesFrame(QSize size, QVideoFrameFormat::PixelFormat pixels,
                         QVideoFrameFormat::ColorSpace space, int shift = 0)
{
    QVideoFrameFormat format(size, pixels);
    format.setColorSpace(space);
    format.setColorRange(QVideoFrameFormat::ColorRange_Video);
    QVideoFrame frame(format);
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    const bool bt709 = space == QVideoFrameFormat::ColorSpace_BT709 ||
                       (space == QVideoFrameFormat::ColorSpace_Undefined && size.height() >= 720);
    const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
    auto stripe = [&](int x) {
        return kStripes[(x * 8 / size.width() + shift) % 8];
    };
    for (int y = 0; y < size.height(); ++y) {
        uchar *line = frame.bits(0) + y * frame.bytesPerLine(0);
        for (int x = 0; x < size.width(); ++x) {
            if (pixels == QVideoFrameFormat::Format_BGRX8888) {
                const QRgb c = stripe(x);
                line[4 * x] = uchar(qBlue(c)), line[4 * x + 1] = uchar(qGreen(c));
                line[4 * x + 2] = uchar(qRed(c)), line[4 * x + 3] = 255;
                continue;
            }
            line[x] = toYuv(stripe(x), kr, kb)[0];
            if (y % 2 || x % 2)
                continue;
            const auto yuv = toYuv(stripe(x), kr, kb);
            if (pixels == QVideoFrameFormat::Format_NV12) {
                uchar *uv = frame.bits(1) + y / 2 * frame.bytesPerLine(1) + x;
                uv[0] = yuv[1], uv[1] = yuv[2];
            } else {
                frame.bits(1)[y / 2 * frame.bytesPerLine(1) + x / 2] = yuv[1];
                frame.bits(2)[y / 2 * frame.bytesPerLine(2) + x / 2] = yuv[2];
            }
        }
    }
    frame.unmap();
    return frame;
}

} // namespace

class TstVideo : public QObject
{
    Q_OBJECT

private slots:
    void picture_data();
    void picture();
};

void TstVideo::picture_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<QVideoFrameFormat::PixelFormat>("pixels");
    QTest::addColumn<QVideoFrameFormat::ColorSpace>("space");
    QTest::addColumn<QSize>("viewSize");
    using F = QVideoFrameFormat;
    QTest::newRow("HD BT.709, I420, scaled down")
        << QSize(1280, 720) << F::Format_YUV420P << F::ColorSpace_BT709 << QSize(960, 540);
    QTest::newRow("SD BT.601, NV12, scaled up")
        << QSize(640, 360) << F::Format_NV12 << F::ColorSpace_BT601 << QSize(1280, 720);
    QTest::newRow("HD into a small window")
        << QSize(1280, 720) << F::Format_YUV420P << F::ColorSpace_BT709 << QSize(400, 225);
    QTest::newRow("HD untagged, letterboxed")
        << QSize(1280, 720) << F::Format_YUV420P << F::ColorSpace_Undefined << QSize(800, 600);
    QTest::newRow("RGB, Qt's own path")
        << QSize(640, 360) << F::Format_BGRX8888 << F::ColorSpace_Undefined << QSize(640, 360);
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

    QWidget window;
    window.resize(viewSize + QSize(viewSize.width() / 4, 40));
    QGraphicsScene scene;
    auto *item = new ScaledVideoItem();
    scene.addItem(item);
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
        item->videoSink()->setVideoFrame(stripesFrame(frameSize, pixels, space, shift));
        view.viewport()->repaint();
        const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
        const QImage grabs[] = {screen.copy(QRect(view.pos(), viewSize)), view.grab().toImage()};
        for (const QImage &grabbed : grabs) {
            QCOMPARE(grabbed.size(), viewSize);
            for (int i = 0; i < 8; ++i) {
                const QPoint at(qRound(shown.left() + shown.width() * (i + 0.5) / 8),
                                qRound(shown.center().y()));
                const QRgb want = kStripes[(i + shift) % 8], got = grabbed.pixel(at);
                const int off =
                    qMax(qAbs(qRed(want) - qRed(got)),
                         qMax(qAbs(qGreen(want) - qGreen(got)), qAbs(qBlue(want) - qBlue(got))));
                QVERIFY2(off <= 6,
                         qPrintable(QStringLiteral("%1, stripe %2 (frame %3): %4 instead of %5")
                                        .arg(&grabbed == grabs ? "screen" : "grab")
                                        .arg(i)
                                        .arg(shift)
                                        .arg(got & 0xffffff, 6, 16, QLatin1Char('0'))
                                        .arg(want & 0xffffff, 6, 16, QLatin1Char('0'))));
            }
            if (shown.top() >= 2)
                QCOMPARE(grabbed.pixel(viewSize.width() / 2, 0) & 0xffffff, 0u);
        }
    }
}

QTEST_MAIN(TstVideo)
#include "tst_video.moc"
