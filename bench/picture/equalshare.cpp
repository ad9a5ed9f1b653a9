// How blocky a scaled picture of the demo stream is: the share of adjacent
// pixel pairs (across and down) that are exactly equal inside the noise
// squares of ffmpeg's testsrc2 picture. A picture scaled 3x by repeating
// pixels has most pairs equal; a smoothly interpolated one has few.
//
//   vostan_equalshare SCREENSHOT.png [--crop OUT.png]
//
// The picture is found as the bounding box of strongly coloured pixels (the
// colour bars reach every edge of the test picture; menus and boxes are grey)
// and mapped back onto the 640x360 source. Prints
// "share S pairs N picture X,Y WxH". --crop saves the screen pixels around
// the noise squares unchanged.

#include <QGuiApplication>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kSourceWidth = 640;
constexpr int kSourceHeight = 360;

// testsrc2 draws 16x16 noise squares in a checkerboard over the bottom-right
// area: x from w*5/8 to w*7/8, y from h*5/8 to h*7/8, where (x ^ y) & 16 == 0.
QList<QRect> noiseSquares()
{
    QList<QRect> squares;
    const int xmin = kSourceWidth * 5 / 8, xmax = kSourceWidth * 7 / 8;
    const int ymin = (kSourceHeight * 5 + 4) / 8, ymax = (kSourceHeight * 7 + 4) / 8;
    for (int y = ymin; y + 15 < ymax; y += 16)
        for (int x = xmin; x + 15 < xmax; x += 16)
            if (((x ^ y) & 16) == 0)
                squares.append(QRect(x, y, 16, 16));
    return squares;
}

bool strongColour(QRgb c)
{
    const int hi = std::max({qRed(c), qGreen(c), qBlue(c)});
    const int lo = std::min({qRed(c), qGreen(c), qBlue(c)});
    return hi - lo > 120;
}

QRect findPicture(const QImage &img)
{
    int left = img.width(), right = -1, top = img.height(), bottom = -1;
    for (int y = 0; y < img.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (!strongColour(line[x]))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: vostan_equalshare SCREENSHOT.png [--crop OUT.png]\n");
        return 2;
    }
    const QImage img = QImage(args[1]).convertToFormat(QImage::Format_RGB32);
    if (img.isNull()) {
        std::fprintf(stderr, "equalshare: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QRect pic = findPicture(img);
    if (pic.isEmpty()) {
        std::fprintf(stderr, "equalshare: no test picture in %s\n", qPrintable(args[1]));
        return 1;
    }
    const double sx = double(pic.width()) / kSourceWidth;
    const double sy = double(pic.height()) / kSourceHeight;
    // A source rectangle on screen, shrunk so no edge of a square counts.
    const auto toScreen = [&](const QRect &r) {
        return QRect(QPoint(pic.left() + int((r.left() + 2) * sx + 0.999),
                            pic.top() + int((r.top() + 2) * sy + 0.999)),
                     QPoint(pic.left() + int((r.right() - 1) * sx) - 1,
                            pic.top() + int((r.bottom() - 1) * sy) - 1));
    };

    long long pairs = 0, equal = 0;
    QRect around;
    for (const QRect &square : noiseSquares()) {
        const QRect r = toScreen(square) & img.rect();
        around |= r;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
            const auto *next = y < r.bottom()
                                   ? reinterpret_cast<const QRgb *>(img.constScanLine(y + 1))
                                   : nullptr;
            for (int x = r.left(); x <= r.right(); ++x) {
                if (x < r.right()) {
                    ++pairs;
                    equal += (line[x] & 0xffffff) == (line[x + 1] & 0xffffff);
                }
                if (next) {
                    ++pairs;
                    equal += (line[x] & 0xffffff) == (next[x] & 0xffffff);
                }
            }
        }
    }
    std::printf("share %.3f pairs %lld picture %d,%d %dx%d\n", pairs ? double(equal) / pairs : 0.0,
                pairs, pic.x(), pic.y(), pic.width(), pic.height());

    const int crop = args.indexOf(QStringLiteral("--crop"));
    if (crop > 0 && crop + 1 < args.size()) {
        const QRect margin = around.adjusted(-int(8 * sx), -int(8 * sy), int(8 * sx), int(8 * sy));
        if (!img.copy(margin & img.rect()).save(args[crop + 1])) {
            std::fprintf(stderr, "equalshare: cannot write %s\n", qPrintable(args[crop + 1]));
            return 1;
        }
    }
    return 0;
}
