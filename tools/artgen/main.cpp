// Draws the player's logo (256x256 RGBA) and splash backdrop (1600x900 RGB)
// into the folder given on the command line.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <array>

namespace {

// Same shape and accent as the idle panel's level bars.
constexpr std::array<double, 9> kBarHeights = {0.36, 0.52, 0.63, 0.78, 0.94,
                                               0.71, 0.56, 0.41, 0.34};
constexpr int kAccentBar = 5;
const QColor kBarWhite(0xf4, 0xf4, 0xf4);
const QColor kAccent(0x00, 0x98, 0xff);

// Fonts come from files, not by family name, so a different fontconfig setup
// cannot change the picture.
QString loadFontFile(const QString &path)
{
    const int id = QFontDatabase::addApplicationFont(path);
    if (id < 0)
        return {};
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString() : families.first();
}

struct BarGeometry
{
    double barWidth;
    double gap;
    double baseline;
    double maxHeight;
    double radius;
    double centreX;
};

void drawBars(QPainter &p, const BarGeometry &g)
{
    const double groupWidth = 9 * g.barWidth + 8 * g.gap;
    const double x0 = g.centreX - groupWidth / 2;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 9; ++i) {
        const double h = kBarHeights[i] * g.maxHeight;
        p.setBrush(i == kAccentBar ? kAccent : kBarWhite);
        p.drawRoundedRect(QRectF(x0 + i * (g.barWidth + g.gap), g.baseline - h, g.barWidth, h),
                          g.radius, g.radius);
    }
}

// The bars again, flipped under the baseline and squashed, as on a glossy floor.
void drawBarsWithReflection(QPainter &p, const BarGeometry &g, double opacity)
{
    drawBars(p, g);
    const double mirror = g.baseline + g.barWidth * 0.4;
    p.save();
    p.translate(0, mirror);
    p.scale(1, -0.42);
    p.translate(0, -mirror);
    p.setOpacity(opacity);
    drawBars(p, g);
    p.restore();
}

// Text as a filled outline keeps glyph-cache and hinting details out of the result.
QPainterPath textPath(const QFont &font, const QString &text, double centreX, double baseline)
{
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF box = path.boundingRect();
    path.translate(centreX - box.center().x(), baseline);
    return path;
}

QImage drawLogo(const QString &sansFamily)
{
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF tile(10, 10, 236, 236);
    QLinearGradient ground(tile.topLeft(), tile.bottomLeft());
    ground.setColorAt(0, QColor(0x26, 0x2c, 0x3c));
    ground.setColorAt(1, QColor(0x0a, 0x0c, 0x11));
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawRoundedRect(tile, 54, 54);

    // A faint blue glow behind the accent bar lifts the tile off flat black.
    QRadialGradient glow(QPointF(150, 110), 120);
    glow.setColorAt(0, QColor(0, 152, 255, 54));
    glow.setColorAt(1, QColor(0, 152, 255, 0));
    p.setBrush(glow);
    p.drawRoundedRect(tile, 54, 54);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 34), 2));
    p.drawRoundedRect(tile.adjusted(1, 1, -1, -1), 53, 53);

    drawBarsWithReflection(p, {15, 6.5, 150, 100, 3.5, 128}, 0.24);

    QFont font(sansFamily);
    font.setWeight(QFont::Bold);
    font.setPixelSize(22);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xf5, 0xf5));
    p.drawPath(textPath(font, QStringLiteral("VOSTAN TV"), 128, 214));
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QImage drawSplash(const QString &serifFamily, const QString &sansFamily)
{
    const int w = 1600;
    const int h = 900;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient ground(0, 0, 0, h);
    ground.setColorAt(0, QColor(0x0d, 0x12, 0x1d));
    ground.setColorAt(1, QColor(0x03, 0x04, 0x07));
    p.fillRect(img.rect(), ground);

    QRadialGradient glow(QPointF(w / 2.0, h * 0.44), w * 0.55);
    glow.setColorAt(0, QColor(0, 120, 215, 70));
    glow.setColorAt(0.55, QColor(0, 90, 170, 18));
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(img.rect(), glow);

    // Slow broadcast rings around the centre, barely visible.
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 6; ++i) {
        p.setPen(QPen(QColor(120, 190, 255, 16 - 2 * i), 2));
        const double r = 150.0 + i * 115.0;
        p.drawEllipse(QPointF(w / 2.0, h * 0.44), r, r);
    }

    // Darker corners keep the status line at the lower left readable.
    QRadialGradient vignette(QPointF(w / 2.0, h / 2.0), w * 0.72);
    vignette.setColorAt(0.5, QColor(0, 0, 0, 0));
    vignette.setColorAt(1, QColor(0, 0, 0, 150));
    p.fillRect(img.rect(), vignette);

    drawBarsWithReflection(p, {22, 13, 330, 150, 4, w / 2.0}, 0.22);

    QFont wordmark(serifFamily);
    wordmark.setWeight(QFont::Bold);
    wordmark.setPixelSize(120);
    wordmark.setLetterSpacing(QFont::AbsoluteSpacing, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xf5, 0xf5));
    p.drawPath(textPath(wordmark, QStringLiteral("VOSTAN TV"), w / 2.0, 560));

    QLinearGradient rule(w / 2.0 - 330, 0, w / 2.0 + 330, 0);
    rule.setColorAt(0, QColor(0, 152, 255, 0));
    rule.setColorAt(0.5, QColor(0, 152, 255, 255));
    rule.setColorAt(1, QColor(0, 152, 255, 0));
    p.fillRect(QRectF(w / 2.0 - 330, 598, 660, 3), rule);

    QFont tagline(sansFamily);
    tagline.setWeight(QFont::Bold);
    tagline.setPixelSize(28);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 8);
    p.setBrush(QColor(0xc8, 0xc8, 0xc8));
    p.drawPath(textPath(tagline, QStringLiteral("ТІКЕЛЕЙ ЭФИР"), w / 2.0, 655));
    p.end();
    return img;
}

bool savePng(const QImage &img, const QString &path)
{
    QImageWriter writer(path, "png");
    if (writer.write(img))
        return true;
    QTextStream(stderr) << path << ": " << writer.errorString() << '\n';
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: vostan-artgen <output folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    const QString fontDir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    const QString serif = loadFontFile(fontDir + QStringLiteral("DejaVuSerif-Bold.ttf"));
    const QString sans = loadFontFile(fontDir + QStringLiteral("DejaVuSans-Bold.ttf"));
    if (serif.isEmpty() || sans.isEmpty()) {
        QTextStream(stderr) << "DejaVu fonts missing (install fonts-dejavu-core)\n";
        return 1;
    }

    const bool ok = savePng(drawLogo(sans), out.filePath(QStringLiteral("logo.png"))) &&
                    savePng(drawSplash(serif, sans), out.filePath(QStringLiteral("splash.png")));
    return ok ? 0 : 1;
}
