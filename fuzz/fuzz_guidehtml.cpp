#include "epgparsing.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

namespace {

// The scrapers written plainly with the patterns of the schedule page. The
// bounded scans must find what these find; they only run on short inputs,
// being quadratic on some.
QString plainLiveTitle(const QString &text)
{
    static const QRegularExpression reStrong(
        QStringLiteral(R"(<strong[^>]*\bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)</strong>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reLoose(
        QStringLiteral(R"(\bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)\s*</[^>\s]+>)"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch m = reStrong.match(text);
    if (m.hasMatch()) {
        const QString title = decodeHtmlEntities(m.captured(1).trimmed());
        if (!title.isEmpty())
            return title;
    }
    m = reLoose.match(text);
    return m.hasMatch() ? decodeHtmlEntities(m.captured(1).trimmed()) : QString();
}

QList<EpgProgramItem> plainSchedule(const QString &text)
{
    static const QRegularExpression reDayBlocks(
        QStringLiteral(R"(<h2>\s*(\d{2})\.(\d{2})\.(\d{4})\s*</h2>\s*<table[\s\S]*?</table>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reRow(
        QStringLiteral(R"(<td\s[^>]*\bclass\s*=\s*["']time["'][^>]*>\s*(\d{2}:\d{2})\s*</td>)"
                       R"(\s*<td[^>]*>([\s\S]*?)</td>\s*<td[^>]*>([\s\S]*?)</td>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reTag(QStringLiteral("<[^>]+>"));
    QList<EpgProgramItem> items;
    for (const QRegularExpressionMatch &block : reDayBlocks.globalMatch(text)) {
        const QDate date(block.captured(3).toInt(), block.captured(2).toInt(),
                         block.captured(1).toInt());
        if (!date.isValid())
            continue;
        for (const QRegularExpressionMatch &row : reRow.globalMatch(block.captured(0))) {
            const QTime time = QTime::fromString(row.captured(1), QStringLiteral("HH:mm"));
            if (time.isValid())
                items.append({date, time, decodeHtmlEntities(row.captured(2).remove(reTag)),
                              decodeHtmlEntities(row.captured(3).remove(reTag))});
        }
    }
    return items;
}

bool sameItems(const QList<EpgProgramItem> &a, const QList<EpgProgramItem> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).date != b.at(i).date || a.at(i).time != b.at(i).time ||
            a.at(i).title != b.at(i).title || a.at(i).description != b.at(i).description)
            return false;
    }
    return true;
}

void checkDecoded(const QString &in, const QString &out)
{
    check(out == out.trimmed(), "decoded text not trimmed");
    check(out.size() <= in.size(), "decoded text grew");
    // &lt;, &gt; and &nbsp; come after &amp;, and nothing later makes them.
    for (const char *entity : {"&lt;", "&gt;", "&nbsp;"})
        check(!out.contains(QLatin1String(entity)), "entity left undecoded");
    for (const char16_t space : {u'\u00A0', u'\u202F', u'\u2007', u'\uFEFF'})
        check(!out.contains(QChar(space)), "Unicode space left");
}

} // namespace

// The two schedule-page scrapers and the entity decoding.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(body);

    checkDecoded(text, decodeHtmlEntities(text));

    const QString live = parseLiveTitle(body);
    check(live == live.trimmed(), "live title not trimmed");
    check(live.size() <= text.size(), "live title longer than the page");

    const QList<EpgProgramItem> items = parseHtml(body);
    check(items.size() * 3 <= body.toLower().count("</td>"), "more rows than cells");
    for (const EpgProgramItem &item : items) {
        check(item.date.isValid() && item.time.isValid(), "row without date or time");
        check(item.time.second() == 0 && item.time.msec() == 0, "row time has seconds");
        check(item.title == item.title.trimmed(), "title not trimmed");
        check(item.description == item.description.trimmed(), "description not trimmed");
    }

    if (body.size() <= 4096) {
        check(live == plainLiveTitle(text), "live title differs from the plain pattern");
        check(sameItems(items, plainSchedule(text)), "rows differ from the plain pattern");
    }
    return 0;
}
