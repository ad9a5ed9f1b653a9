#include "fuzzcheck.h"
#include "hlsmasterparser.h"

#include <QRegularExpression>

#include <algorithm>

#include <cstddef>
#include <cstdint>

namespace {

bool sameVariants(const QList<HlsVariant> &a, const QList<HlsVariant> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).uri != b.at(i).uri || a.at(i).bandwidth != b.at(i).bandwidth ||
            a.at(i).resolution != b.at(i).resolution || a.at(i).name != b.at(i).name)
            return false;
    }
    return true;
}

// The URIs in playlist order: each first line after a variant tag that is
// neither empty nor a comment or tag.
QStringList urisInOrder(const QString &text)
{
    static const QRegularExpression reLineBreaks(QStringLiteral("[\\r\\n]+"));
    QStringList uris;
    bool pending = false;
    for (const QString &raw : text.split(reLineBreaks, Qt::SkipEmptyParts)) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("#EXT-X-STREAM-INF"))) {
            pending = true;
        } else if (pending && !line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            uris << line;
            pending = false;
        }
    }
    return uris;
}

// Every variant once, and those of equal bandwidth in playlist order.
void checkOrder(const QList<HlsVariant> &variants, const QStringList &uris)
{
    check(variants.size() == uris.size(), "variants lost or made up");
    QStringList sorted;
    for (const HlsVariant &v : variants)
        sorted << v.uri;
    QStringList expected = uris;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    check(sorted == expected, "not the playlist's URIs");
    if (expected.removeDuplicates() > 0)
        return; // positions are ambiguous
    for (qsizetype i = 1; i < variants.size(); ++i) {
        if (variants.at(i - 1).bandwidth == variants.at(i).bandwidth)
            check(uris.indexOf(variants.at(i - 1).uri) < uris.indexOf(variants.at(i).uri),
                  "equal bandwidths out of playlist order");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QRegularExpression reResolution(QStringLiteral("^\\d+x\\d+$"));
    const QByteArray playlist(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(playlist);

    QList<HlsVariant> variants{HlsVariant{QStringLiteral("stale"), 1, {}, {}}};
    const bool parsed = parseHlsMasterVariants(playlist, &variants);
    check(parsed == (playlist.size() <= kMaxHlsMasterBytes), "refused within the limit");
    if (!parsed) {
        check(variants.isEmpty(), "variants left from before");
        return 0;
    }
    check(variants.size() <= playlist.count("#EXT-X-STREAM-INF"), "more variants than tags");

    for (qsizetype i = 0; i < variants.size(); ++i) {
        const HlsVariant &v = variants.at(i);
        check(v.bandwidth >= 0, "negative bandwidth");
        check(i == 0 || variants.at(i - 1).bandwidth >= v.bandwidth, "not highest first");
        check(!v.uri.isEmpty() && v.uri == v.uri.trimmed(), "uri empty or untrimmed");
        check(!v.uri.startsWith(QLatin1Char('#')), "tag taken as uri");
        check(!v.uri.contains(QLatin1Char('\n')) && !v.uri.contains(QLatin1Char('\r')),
              "line break in uri");
        check(text.contains(v.uri), "uri not in the playlist");
        check(v.resolution.isEmpty() || reResolution.match(v.resolution).hasMatch(),
              "malformed resolution");
        check(!v.name.contains(QLatin1Char('"')) && !v.name.contains(QLatin1Char('\n')),
              "quote or line break in name");
        check(!formatHlsVariantLabel(v).isEmpty(), "empty label");
    }

    checkOrder(variants, urisInOrder(text));

    // Line ends and a leading header line change nothing.
    QByteArray crlf = playlist;
    crlf.replace("\n", "\r\n");
    QList<HlsVariant> again;
    parseHlsMasterVariants(crlf, &again);
    check(sameVariants(variants, again), "CRLF line ends read differently");
    parseHlsMasterVariants("#EXTM3U\n" + playlist, &again);
    check(sameVariants(variants, again), "header line changed the result");
    return 0;
}
