#include "epgparsing.h"
#include "fuzzcheck.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

namespace {

bool isJsonContainer(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError && (document.isObject() || document.isArray());
}

} // namespace

// The body as the service hands it over, at a fixed moment.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QDateTime now(QDate(2025, 3, 5), QTime(7, 30), Qt::UTC);
    static const QString emDash(QChar(0x2014));
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));

    const EpgPayload payload = parseGuideBody(body, now);
    if (body.size() > kMaxGuideBodyBytes) {
        check(payload.error == guideTooLargeError(), "oversized body without its error");
        check(payload.items.isEmpty() && payload.liveTitle.isEmpty(), "oversized body parsed");
        return 0;
    }
    check(payload.error.isEmpty(), "error on a body within the limit");

    for (const EpgProgramItem &item : payload.items) {
        check(item.date.isValid() && item.time.isValid(), "item without a valid date and time");
        check(item.title == item.title.trimmed(), "untrimmed title");
        check(item.description == item.description.trimmed(), "untrimmed description");
    }

    // Every item comes from one JSON object, or from three cells of a row.
    const bool json = bodyLooksLikeJson(body) && isJsonContainer(body);
    if (json)
        check(payload.items.size() <= body.count('{'), "more items than JSON objects");
    else
        check(payload.items.size() * 3 <= body.toLower().count("</td>"), "more items than rows");

    const QString &live = payload.liveTitle;
    check(live == live.trimmed(), "untrimmed live title");
    bool fromSchedule = false;
    for (const EpgProgramItem &item : payload.items)
        fromSchedule = fromSchedule || item.title == live;
    if (live == QLatin1String("-") || live == emDash)
        check(fromSchedule, "placeholder title kept");
    // An empty title is filled from the schedule whenever it has one to give.
    if (live.isEmpty() && !payload.items.isEmpty()) {
        const QTimeZone zone = broadcastZone();
        check(currentProgramTitle(payload.items, now.toTimeZone(zone), zone).isEmpty(),
              "live title left empty");
    }
    return 0;
}
