#include "hlsmasterparser.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// A BANDWIDTH match is the attribute itself only at the start of the list or
// after a comma; anywhere else it is the tail of another name such as
// AVERAGE-BANDWIDTH. Many encoders write ", " between attributes.
bool startsAttribute(const QString &attrs, qsizetype pos)
{
    while (pos > 0 && isBlank(attrs.at(pos - 1)))
        --pos;
    return pos == 0 || attrs.at(pos - 1) == QLatin1Char(',');
}

void extractAttrs(const QString &attrs, qint64 *bandwidth, QString *resolution, QString *name)
{
    static const QRegularExpression reBw(QStringLiteral("BANDWIDTH=(\\d+)"));
    static const QRegularExpression reAvgBw(QStringLiteral("AVERAGE-BANDWIDTH=(\\d+)"));
    static const QRegularExpression reRes(QStringLiteral("RESOLUTION=(\\d+x\\d+)"));
    static const QRegularExpression reName(QStringLiteral("NAME=\"([^\"]*)\""));

    *bandwidth = 0;
    bool found = false;
    QRegularExpressionMatchIterator it = reBw.globalMatch(attrs);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (startsAttribute(attrs, m.capturedStart())) {
            // toLongLong gives 0 for digits that overflow 64 bits.
            *bandwidth = m.captured(1).toLongLong();
            found = true;
            break;
        }
    }
    if (!found) {
        const QRegularExpressionMatch avg = reAvgBw.match(attrs);
        if (avg.hasMatch())
            *bandwidth = avg.captured(1).toLongLong();
    }

    const QRegularExpressionMatch res = reRes.match(attrs);
    if (res.hasMatch())
        *resolution = res.captured(1);

    const QRegularExpressionMatch nm = reName.match(attrs);
    if (nm.hasMatch())
        *name = nm.captured(1);
}

} // namespace

bool parseHlsMasterVariants(const QByteArray &playlist, QList<HlsVariant> *out)
{
    static const QRegularExpression reLineBreaks(QStringLiteral("[\\r\\n]+"));

    out->clear();
    if (playlist.size() > kMaxHlsMasterBytes)
        return false;
    const QStringList lines = QString::fromUtf8(playlist).split(reLineBreaks, Qt::SkipEmptyParts);

    bool pending = false;
    qint64 bandwidth = 0;
    QString resolution;
    QString name;

    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1String("#EXT-X-STREAM-INF"))) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            const QString attrs = colon < 0 ? QString() : line.mid(colon + 1);
            resolution.clear();
            name.clear();
            extractAttrs(attrs, &bandwidth, &resolution, &name);
            pending = true;
        } else if (pending && !line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            out->append(HlsVariant{line, bandwidth, resolution, name});
            bandwidth = 0;
            resolution.clear();
            name.clear();
            pending = false;
        }
    }

    std::stable_sort(out->begin(), out->end(), [](const HlsVariant &a, const HlsVariant &b) {
        return a.bandwidth > b.bandwidth;
    });
    return true;
}

QString formatHlsVariantLabel(const HlsVariant &variant)
{
    if (!variant.name.isEmpty())
        return variant.name;
    if (!variant.resolution.isEmpty())
        return variant.resolution;
    if (variant.bandwidth > 0) {
        // Rounded half up without adding first, so a bandwidth near the
        // 64-bit limit cannot overflow.
        const qint64 kbps = variant.bandwidth / 1000 + (variant.bandwidth % 1000 >= 500 ? 1 : 0);
        return QStringLiteral("%1 kbps").arg(kbps);
    }
    return variant.uri;
}
