#include "deferredstyleicon.h"
#include "iconhelper.h"
#include "idlebrandlayout.h"
#include "idlebrandpanel.h"

#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QtMath>
#include <QtTest>

class TestGraphics : public QObject
{
    Q_OBJECT

private slots:
    void iconStaysInItsBox_data();
    void iconStaysInItsBox();
    void unknownNameIsTransparent_data();
    void unknownNameIsTransparent();
    void volumeIconsShareSpeaker();
    void settingsHasEightSpokes();

    void layout_data();
    void layout();
    void captionSpacing_data();
    void captionSpacing();
    void textSizes_data();
    void textSizes();
    void barHeightAtPhaseZero_data();
    void barHeightAtPhaseZero();
    void frameHasBarsAndReflection();
    void reflectionLength();
    void textsDrawnAtTheirSizes_data();
    void textsDrawnAtTheirSizes();
    void animatesOnlyWhileVisible();
    void deferredIconDrawsAsTheStyles_data();
    void deferredIconDrawsAsTheStyles();
    void stepRepaintsAllThatMoves_data();
    void stepRepaintsAllThatMoves();
};

static const QColor kInk(200, 30, 60);

static QImage iconImage(const QString &name)
{
    const QIcon icon = IconHelper::createIcon(name, kInk);
    return icon.pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
}

static QImage renderPanel(IdleBrandPanel &panel)
{
    QImage image(panel.size(), QImage::Format_ARGB32);
    image.fill(Qt::red);
    panel.render(&image);
    return image;
}

void TestGraphics::iconStaysInItsBox_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRectF>("box");      // geometry the strokes are centred on
    QTest::addColumn<QPoint>("interior"); // a pixel a fill would cover
    QTest::addColumn<QPoint>("onStroke"); // a pixel on a closing or left-hand edge

    QTest::newRow("play") << "play" << QRectF(18, 14, 16, 20) << QPoint(22, 23) << QPoint(18, 24);
    QTest::newRow("pause") << "pause" << QRectF(16, 14, 16, 20) << QPoint(24, 24) << QPoint(16, 24);
    QTest::newRow("refresh") << "refresh" << QRectF(14, 14, 20, 20) << QPoint(24, 24)
                             << QPoint(14, 24);
    QTest::newRow("camera") << "camera" << QRectF(14, 18, 20, 14) << QPoint(24, 25)
                            << QPoint(14, 25);
    QTest::newRow("settings") << "settings" << QRectF(12, 12, 24, 24) << QPoint(24, 24)
                              << QPoint(18, 24);
    QTest::newRow("pin") << "pin" << QRectF(18, 12, 12, 24) << QPoint(20, 22) << QPoint(24, 30);
    QTest::newRow("vol_on") << "vol_on" << QRectF(16, 14, 20, 20) << QPoint(19, 23)
                            << QPoint(16, 24);
    QTest::newRow("vol_off") << "vol_off" << QRectF(16, 14, 23, 20) << QPoint(19, 23)
                             << QPoint(16, 24);
    QTest::newRow("fullscreen") << "fullscreen" << QRectF(14, 14, 20, 20) << QPoint(24, 24)
                                << QPoint(14, 17);
    QTest::newRow("info") << "info" << QRectF(16, 16, 16, 16) << QPoint(20, 24) << QPoint(16, 24);
}

void TestGraphics::iconStaysInItsBox()
{
    QFETCH(QString, name);
    QFETCH(QRectF, box);
    QFETCH(QPoint, interior);
    QFETCH(QPoint, onStroke);

    const QImage image = iconImage(name);
    QCOMPARE(image.size(), QSize(48, 48));
    // Half the pen plus one pixel of antialiasing, measured at pixel centres.
    const QRectF allowed = box.adjusted(-2.2, -2.2, 2.2, 2.2);
    int painted = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
            const QRgb px = image.pixel(x, y);
            if (qAlpha(px) == 0)
                continue;
            ++painted;
            if (!allowed.contains(QPointF(x + 0.5, y + 0.5)))
                QFAIL(qPrintable(QStringLiteral("stray pixel at %1,%2").arg(x).arg(y)));
            if (qAlpha(px) == 255)
                QCOMPARE(QColor(px).rgb(), kInk.rgb());
        }
    }
    QVERIFY2(painted > 40, qPrintable(QString::number(painted)));
    QCOMPARE(qAlpha(image.pixel(interior)), 0);
    QCOMPARE(qAlpha(image.pixel(onStroke)), 255);
}

void TestGraphics::unknownNameIsTransparent_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << "";
    QTest::newRow("case") << "Play";
    QTest::newRow("trailing blank") << "pause ";
    QTest::newRow("other") << "volume";
}

void TestGraphics::unknownNameIsTransparent()
{
    QFETCH(QString, name);
    const QIcon icon = IconHelper::createIcon(name, kInk);
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(48, 48)});
    QImage expected(48, 48, QImage::Format_ARGB32);
    expected.fill(Qt::transparent);
    QCOMPARE(iconImage(name), expected);
}

void TestGraphics::volumeIconsShareSpeaker()
{
    const QImage on = iconImage(QStringLiteral("vol_on"));
    const QImage off = iconImage(QStringLiteral("vol_off"));
    // Left of x = 25 only the speaker is drawn in both.
    const QRect speaker(0, 0, 25, 48);
    QCOMPARE(on.copy(speaker), off.copy(speaker));
    QCOMPARE(qAlpha(on.pixel(16, 24)), 255);
    QVERIFY(on != off);
}

void TestGraphics::settingsHasEightSpokes()
{
    const QImage image = iconImage(QStringLiteral("settings"));
    const auto alphaAt = [&](double degrees) {
        const double a = qDegreesToRadians(degrees);
        const QPointF p(24 + 10.5 * std::sin(a), 24 - 10.5 * std::cos(a));
        return qAlpha(image.pixel(int(p.x()), int(p.y())));
    };
    for (int k = 0; k < 8; ++k) {
        QVERIFY2(alphaAt(k * 45.0) > 128, qPrintable(QString::number(k * 45)));
        QVERIFY2(alphaAt(k * 45.0 + 22.5) == 0, qPrintable(QString::number(k * 45 + 22.5)));
    }
}

void TestGraphics::layout_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("bar");
    QTest::addColumn<int>("gap");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("x0");
    QTest::addColumn<int>("baseline");
    QTest::addColumn<int>("maxHeight");

    QTest::newRow("503x211") << 503 << 211 << 6 << 5 << 94 << 204 << 81 << 52;
    QTest::newRow("504x212") << 504 << 212 << 7 << 5 << 103 << 200 << 82 << 53;
    QTest::newRow("1079x683") << 1079 << 683 << 14 << 9 << 198 << 440 << 293 << 170;
    QTest::newRow("1080x684") << 1080 << 684 << 14 << 9 << 198 << 441 << 294 << 170;
    QTest::newRow("1080x797") << 1080 << 797 << 14 << 9 << 198 << 441 << 342 << 170;
    QTest::newRow("1080x798") << 1080 << 798 << 14 << 9 << 198 << 441 << 343 << 170;
    QTest::newRow("narrower than the group") << 80 << 100 << 6 << 5 << 94 << -7 << 26 << 52;
}

void TestGraphics::layout()
{
    QFETCH(int, w);
    QFETCH(int, h);
    const IdleBrandLayout l = idleBrandLayout(w, h);
    QTEST(l.barWidth, "bar");
    QTEST(l.gap, "gap");
    QTEST(l.groupWidth, "group");
    QTEST(l.x0, "x0");
    QTEST(l.baseline, "baseline");
    QTEST(l.maxHeight, "maxHeight");
}

void TestGraphics::captionSpacing_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<double>("spacing");

    QTest::newRow("503") << 503 << 2.0;
    QTest::newRow("900") << 900 << 2.0;
    QTest::newRow("1800") << 1800 << 4.0;
    QTest::newRow("2250") << 2250 << 5.0;
    QTest::newRow("3000") << 3000 << 5.0;
}

void TestGraphics::captionSpacing()
{
    QFETCH(int, w);
    QTEST(idleBrandLayout(w, 600).captionSpacing, "spacing");
}

void TestGraphics::textSizes_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("hd");
    QTest::addColumn<int>("caption");
    QTest::addColumn<int>("tagline");

    // Each step of a size and each cap and floor, at and one pixel either side.
    static const int rows[][4] = {
        {200, 7, 18, 11},   {571, 7, 18, 11},   {572, 7, 18, 11},   {573, 7, 18, 11},
        {575, 7, 18, 11},   {576, 7, 18, 11},   {577, 7, 18, 11},   {607, 7, 18, 11},
        {608, 7, 19, 11},   {609, 7, 19, 11},   {623, 7, 19, 11},   {624, 7, 19, 12},
        {625, 7, 19, 12},   {769, 7, 24, 14},   {770, 7, 24, 14},   {771, 7, 24, 14},
        {831, 7, 25, 15},   {832, 7, 26, 15},   {833, 7, 26, 15},   {879, 7, 27, 15},
        {880, 8, 27, 15},   {881, 8, 27, 15},   {1119, 10, 34, 15}, {1120, 10, 34, 15},
        {1121, 10, 34, 15}, {1209, 10, 34, 15}, {1210, 10, 34, 15}, {1211, 10, 34, 15},
        {3000, 10, 34, 15},
    };
    for (const auto &r : rows)
        QTest::newRow(qPrintable(QString::number(r[0]))) << r[0] << r[1] << r[2] << r[3];
}

void TestGraphics::textSizes()
{
    QFETCH(int, w);
    const IdleBrandLayout l = idleBrandLayout(w, 600);
    QTEST(l.hdPointSize, "hd");
    QTEST(l.captionPointSize, "caption");
    QTEST(l.taglinePointSize, "tagline");
}

void TestGraphics::barHeightAtPhaseZero_data()
{
    QTest::addColumn<int>("bar");
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<int>("expected");

    QTest::newRow("fifth, M 170") << 4 << 170 << 106;
    QTest::newRow("sixth, M 170") << 5 << 170 << 68;
    QTest::newRow("fifth, M 53") << 4 << 53 << 33;
    QTest::newRow("sixth, M 52") << 5 << 52 << 20;
}

void TestGraphics::barHeightAtPhaseZero()
{
    QFETCH(int, bar);
    QFETCH(int, maxHeight);
    QTEST(idleBarHeight(bar, 0.0, maxHeight), "expected");
}

void TestGraphics::frameHasBarsAndReflection()
{
    IdleBrandPanel panel(nullptr);
    panel.resize(1200, 800); // bars at x0 501, 14 wide, step 23; baseline 344
    QVERIFY(!panel.autoFillBackground());
    const QImage frame = renderPanel(panel);

    const int blueX = 501 + 5 * 23 + 7;
    const int whiteX = 501 + 4 * 23 + 7;
    QCOMPARE(QColor(frame.pixel(blueX, 344 - 34)), QColor(0x00, 0x98, 0xff));
    QCOMPARE(QColor(frame.pixel(whiteX, 344 - 50)), QColor(0xf4, 0xf4, 0xf4));
    QCOMPARE(QColor(frame.pixel(blueX, 344 - 70)), QColor(Qt::black));
    QCOMPARE(QColor(frame.pixel(blueX, 348)), QColor(Qt::black));

    // The reflection of the 68 px blue bar spans about y 352..381, dimmed.
    const QColor mirrored(frame.pixel(blueX, 365));
    QCOMPARE(mirrored.red(), 0);
    QVERIFY2(mirrored.blue() > 55 && mirrored.blue() < 80, qPrintable(mirrored.name()));
    QCOMPARE(QColor(frame.pixel(blueX, 385)), QColor(Qt::black));

    int lit = 0;
    for (int x = 0; x < 1200; ++x)
        lit += qGray(frame.pixel(x, 344 + 88 + 20)) > 128;
    QVERIFY2(lit > 0, "caption not drawn");
}

// The floor is the bars mirrored about baseline + 6 and squashed to 42 %:
// each bar of height h leaves a reflection from 2.52 to 0.42 * (h + 6) + 6
// pixels under the baseline, at its own x.
void TestGraphics::reflectionLength()
{
    IdleBrandPanel panel(nullptr);
    panel.resize(1200, 800);
    const IdleBrandLayout l = idleBrandLayout(1200, 800);
    const QImage frame = renderPanel(panel);
    for (int i = 0; i < 9; ++i) {
        const int x = l.x0 + i * (l.barWidth + l.gap) + l.barWidth / 2;
        const int h = idleBarHeight(i, 0.0, l.maxHeight);
        // Fully covered rows of the reflection are 26 % of the bar's colour.
        int first = -1;
        int last = -1;
        for (int y = l.baseline + 1; y < l.baseline + 88; ++y) {
            const QColor c(frame.pixel(x, y));
            if (std::max({c.red(), c.green(), c.blue()}) > 33) {
                if (first < 0)
                    first = y;
                last = y;
            }
        }
        const QByteArray where = "bar " + QByteArray::number(i) + " rows " +
                                 QByteArray::number(first) + ".." + QByteArray::number(last);
        QVERIFY2(std::abs(first - (l.baseline + 6 + 2.52)) <= 1.0, where);
        QVERIFY2(std::abs(last + 1 - (l.baseline + 6 + 0.42 * (h + 6))) <= 1.0, where);
    }
}

void TestGraphics::textsDrawnAtTheirSizes_data()
{
    QTest::addColumn<int>("w");
    QTest::newRow("small") << 600;
    QTest::newRow("middle") << 1000;
    QTest::newRow("large") << 1300;
}

// Bounding box of the lit pixels inside a band of the frame, in the text's
// own coordinates (origin at the start of its baseline).
static QRectF inkIn(const QImage &frame, const QRect &band, const QTransform &toFrame)
{
    const QTransform toText = toFrame.inverted();
    QRectF ink;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            if (qGray(frame.pixel(x, y)) > 100)
                ink |=
                    QRectF(toText.map(QPointF(x + 0.5, y + 0.5)) - QPointF(0.5, 0.5), QSizeF(1, 1));
    return ink;
}

// The "HD" mark, caption and second line stand where the layout puts them,
// as large as their point sizes and letter spacing make the glyphs, unclipped.
void TestGraphics::textsDrawnAtTheirSizes()
{
    QFETCH(int, w);
    IdleBrandPanel panel(nullptr);
    panel.resize(w, 700);
    const IdleBrandLayout l = idleBrandLayout(w, 700);
    const QImage frame = renderPanel(panel);

    const auto font = [](const char *family, int points, bool bold, double spacing) {
        QFont f(QString::fromLatin1(family));
        f.setWeight(bold ? QFont::Bold : QFont::Normal);
        f.setPointSize(points);
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        return f;
    };
    const int captionTop = l.baseline + 88;
    const int taglineTop = captionTop + l.captionPointSize + 14;
    const QPoint hdAt(w / 2 + l.groupWidth / 2 + 18, l.baseline - l.maxHeight + 8);
    const struct
    {
        QFont font;
        QString text;
        QRect band; // holds this text's ink and nothing else
    } texts[] = {
        {font("Segoe UI", l.hdPointSize, true, 0.0), QStringLiteral("HD"),
         QRect(hdAt.x() - 8, 0, w - hdAt.x() + 8, hdAt.y() + 8)},
        {font("Georgia", l.captionPointSize, true, l.captionSpacing), QStringLiteral("VOSTAN TV"),
         QRect(0, captionTop, w, taglineTop - captionTop)},
        {font("Georgia", l.taglinePointSize, false, 2.0), QStringLiteral("ҚОЛЖЕТІМДІ ТІКЕЛЕЙ ЭФИР"),
         QRect(0, taglineTop, w, 700 - taglineTop)},
    };
    for (const auto &t : texts) {
        const QFontMetrics fm(t.font, &panel);
        // The mark is turned 38 degrees up about the start of its baseline;
        // the two lines are centred and hang from the top of their boxes.
        const QTransform toFrame =
            t.text == QStringLiteral("HD")
                ? QTransform::fromTranslate(hdAt.x(), hdAt.y()).rotate(-38)
                : QTransform::fromTranslate((w - fm.horizontalAdvance(t.text)) / 2,
                                            t.band.top() + fm.ascent());
        const QRectF want = fm.tightBoundingRect(t.text);
        const QRectF got = inkIn(frame, t.band, toFrame);
        QString where;
        QDebug(&where) << t.text << "want" << want << "got" << got;
        QVERIFY2(std::abs(got.top() - want.top()) <= 1.5, qPrintable(where));
        QVERIFY2(std::abs(got.bottom() - want.bottom()) <= 1.5, qPrintable(where));
        QVERIFY2(std::abs(got.left() - want.left()) <= 1.5, qPrintable(where));
        QVERIFY2(std::abs(got.right() - want.right()) <= 2.5, qPrintable(where));
    }
}

void TestGraphics::animatesOnlyWhileVisible()
{
    IdleBrandPanel panel(nullptr);
    panel.resize(320, 240);
    QTimer *timer = panel.findChild<QTimer *>();
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 48);
    QVERIFY(!timer->isActive());
    const QImage still = renderPanel(panel);

    QSignalSpy ticks(timer, &QTimer::timeout);
    panel.show();
    QVERIFY(timer->isActive());
    QTRY_VERIFY(ticks.count() >= 2);
    panel.hide();
    QVERIFY(!timer->isActive());
    const QImage paused = renderPanel(panel);
    QVERIFY(paused != still);

    // Showing again picks up at the same phase rather than from zero.
    panel.show();
    QVERIFY(timer->isActive());
    QCOMPARE(renderPanel(panel), paused);
}

void TestGraphics::deferredIconDrawsAsTheStyles_data()
{
    QTest::addColumn<int>("which");
    for (const QStyle::StandardPixmap sp :
         {QStyle::SP_DialogCloseButton, QStyle::SP_BrowserReload, QStyle::SP_MediaPlay,
          QStyle::SP_ArrowUp, QStyle::SP_DesktopIcon, QStyle::SP_MessageBoxInformation})
        QTest::addRow("%d", int(sp)) << int(sp);
}

// Menus draw the icon through every path an icon has: pixmaps at a size and
// mode, at a device pixel ratio, and painted into a rectangle.
void TestGraphics::deferredIconDrawsAsTheStyles()
{
    QFETCH(int, which);
    QStyle *style = QApplication::style();
    const auto sp = QStyle::StandardPixmap(which);
    const QIcon own = style->standardIcon(sp);
    const QIcon deferred = deferredStandardIcon(style, sp);
    QVERIFY(!deferred.isNull());
    QCOMPARE(deferred.availableSizes(), own.availableSizes());
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active}) {
        for (const int size : {16, 22, 32}) {
            QCOMPARE(deferred.actualSize(QSize(size, size), mode),
                     own.actualSize(QSize(size, size), mode));
            QCOMPARE(deferred.pixmap(size, mode).toImage(), own.pixmap(size, mode).toImage());
            QCOMPARE(deferred.pixmap(QSize(size, size), 2.0, mode).toImage(),
                     own.pixmap(QSize(size, size), 2.0, mode).toImage());
        }
    }
    QImage drawnOwn(40, 30, QImage::Format_ARGB32_Premultiplied);
    drawnOwn.fill(Qt::transparent);
    QImage drawnDeferred = drawnOwn;
    {
        QPainter p(&drawnOwn);
        own.paint(&p, QRect(3, 2, 24, 24));
    }
    {
        QPainter p(&drawnDeferred);
        deferred.paint(&p, QRect(3, 2, 24, 24));
    }
    QCOMPARE(drawnDeferred, drawnOwn);
}

// Records the region of every paint event the panel gets.
class PaintRegions : public QObject
{
public:
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

void TestGraphics::stepRepaintsAllThatMoves_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("window") << QSize(1280, 720);
    QTest::newRow("small") << QSize(320, 200);
    QTest::newRow("full screen") << QSize(1920, 1080);
}

// An animation step repaints only part of the panel; every pixel that
// changes must lie in it, or the screen keeps stale bars.
void TestGraphics::stepRepaintsAllThatMoves()
{
    QFETCH(QSize, size);
    IdleBrandPanel panel(nullptr);
    panel.resize(size);
    QTimer *timer = panel.findChild<QTimer *>();
    QVERIFY(timer);
    PaintRegions regions;
    panel.installEventFilter(&regions);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QTRY_VERIFY(!regions.painted.isEmpty());

    const QImage before = renderPanel(panel);
    regions.painted = QRegion();
    // Over a cycle of steps, so the bars reach their full heights.
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 16);
    QTRY_VERIFY(!regions.painted.isEmpty());
    timer->stop();
    const QRegion repainted = regions.painted; // render() below paints too
    const QImage after = renderPanel(panel);
    QVERIFY(repainted.boundingRect() != panel.rect()); // a partial update

    int changed = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (before.pixel(x, y) == after.pixel(x, y))
                continue;
            ++changed;
            QVERIFY2(repainted.contains(QPoint(x, y)),
                     qPrintable(QStringLiteral("(%1, %2) changed, not repainted").arg(x).arg(y)));
        }
    }
    QVERIFY(changed > 0);
}

QTEST_MAIN(TestGraphics)
#include "tst_graphics.moc"
