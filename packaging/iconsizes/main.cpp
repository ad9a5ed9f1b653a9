// Scales the logo into the icon sizes desktops ask for:
//   vostan-iconsizes png <logo.png> <hicolor-dir> <icon-name> <size>...
//     writes <hicolor-dir>/<size>x<size>/apps/<icon-name>.png
//   vostan-iconsizes ico <logo.png> <out.ico> <size>...
//     writes one Windows icon holding every size
// QImage alone is enough here: no platform plugin, no extra dependency.

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QString>
#include <QTextStream>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "vostan-iconsizes: " << message << '\n';
    return 1;
}

QImage scaled(const QImage &logo, int size)
{
    if (logo.width() == size && logo.height() == size)
        return logo;
    // Qt's smooth downscale averages whole areas, so small sizes keep their weight.
    return logo.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void putLe16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void putLe32(QByteArray &out, quint32 v)
{
    putLe16(out, v & 0xffff);
    putLe16(out, v >> 16);
}

// The classic layout: 32-bit DIBs with an AND mask for the small sizes, which
// every Windows version and resource tool reads, and PNG for 256 pixels.
QByteArray dibBytes(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    putLe32(out, 40); // BITMAPINFOHEADER size
    putLe32(out, quint32(w));
    putLe32(out, quint32(2 * h)); // colour rows plus mask rows
    putLe16(out, 1);
    putLe16(out, 32);
    putLe32(out, 0); // BI_RGB
    putLe32(out, quint32(w * h * 4 + maskStride * h));
    for (int i = 0; i < 4; ++i)
        putLe32(out, 0);
    for (int y = h - 1; y >= 0; --y) { // bottom-up
        for (int x = 0; x < w; ++x) {
            const QRgb px = image.pixel(x, y);
            out.append(char(qBlue(px)));
            out.append(char(qGreen(px)));
            out.append(char(qRed(px)));
            out.append(char(qAlpha(px)));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(image.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

QByteArray icoFile(const QList<QImage> &images)
{
    QList<QByteArray> payloads;
    for (const QImage &image : images)
        payloads.append(image.width() >= 256 ? pngBytes(image) : dibBytes(image));

    QByteArray out;
    putLe16(out, 0); // reserved
    putLe16(out, 1); // type: icon
    putLe16(out, quint32(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        const int side = images[i].width();
        out.append(char(side >= 256 ? 0 : side)); // 0 means 256
        out.append(char(side >= 256 ? 0 : side));
        out.append(char(0)); // no palette
        out.append(char(0)); // reserved
        putLe16(out, 1);     // colour planes
        putLe16(out, 32);    // bits per pixel
        putLe32(out, quint32(payloads[i].size()));
        putLe32(out, offset);
        offset += quint32(payloads[i].size());
    }
    for (const QByteArray &payload : payloads)
        out.append(payload);
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5)
        return fail(QStringLiteral("usage: png <logo> <dir> <name> <size>... | "
                                   "ico <logo> <out.ico> <size>..."));
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QImage logo =
        QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_ARGB32);
    if (logo.isNull())
        return fail(QStringLiteral("cannot read %1").arg(QString::fromLocal8Bit(argv[2])));

    const int firstSize = mode == QLatin1String("png") ? 5 : 4;
    if (mode != QLatin1String("png") && mode != QLatin1String("ico"))
        return fail(QStringLiteral("unknown mode %1").arg(mode));

    QList<QImage> images;
    for (int i = firstSize; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 256)
            return fail(QStringLiteral("bad size %1").arg(QString::fromLocal8Bit(argv[i])));
        images.append(scaled(logo, size));
    }
    if (images.isEmpty())
        return fail(QStringLiteral("no sizes given"));

    if (mode == QLatin1String("ico")) {
        const QString out = QString::fromLocal8Bit(argv[3]);
        return writeFile(out, icoFile(images)) ? 0
                                               : fail(QStringLiteral("cannot write %1").arg(out));
    }

    const QString root = QString::fromLocal8Bit(argv[3]);
    const QString name = QString::fromLocal8Bit(argv[4]);
    for (const QImage &image : images) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(image.width());
        const QString out = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !writeFile(out, pngBytes(image)))
            return fail(QStringLiteral("cannot write %1").arg(out));
    }
    return 0;
}
