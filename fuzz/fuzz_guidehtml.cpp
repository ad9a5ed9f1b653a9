#include "epgparsing.h"
#include "fuzzcheck.h"
#include "plainscrapers.h"

#include <cstddef>
#include <cstdint>

namespace {

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
