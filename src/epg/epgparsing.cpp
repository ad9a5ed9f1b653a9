#include "epgparsing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QStringView>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr auto kCaseless = QRegularExpression::CaseInsensitiveOption;

// PCRE's \s without Unicode properties.
bool isPatternSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

// The number in text[from, from + count) when all of it is ASCII digits; -1
// otherwise.
int digitsAt(QStringView text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// "HH:mm" for a text of exactly two digits, a colon and two digits; an
// invalid time otherwise. QTime::fromString's set-up costs more than all the
// rest of an entry on a long guide.
QTime twoDigitClock(QStringView text)
{
    if (text.size() != 5 || text.at(2) != u':')
        return {};
    const int hour = digitsAt(text, 0, 2), minute = digitsAt(text, 3, 2);
    return QTime::isValid(hour, minute, 0) ? QTime(hour, minute) : QTime();
}

// "yyyy-MM-dd" or "dd.MM.yyyy" written with exactly those digits; an invalid
// date for anything else, which the caller leaves to QDate::fromString.
// QDate::fromString sets up a parser per call, the bulk of a long guide.
QDate numericDate(QStringView text)
{
    if (text.size() != 10)
        return {};
    int year = -1, month = -1, day = -1;
    if (text.at(4) == u'-' && text.at(7) == u'-') {
        year = digitsAt(text, 0, 4);
        month = digitsAt(text, 5, 2);
        day = digitsAt(text, 8, 2);
    } else if (text.at(2) == u'.' && text.at(5) == u'.') {
        day = digitsAt(text, 0, 2);
        month = digitsAt(text, 3, 2);
        year = digitsAt(text, 6, 4);
    }
    // -1 marks a field that is not all digits; QDate takes -1 as a year.
    return year > 0 && QDate::isValid(year, month, day) ? QDate(year, month, day) : QDate();
}

QJsonArray firstNonEmptyArray(const QJsonObject &object, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QJsonArray array = object.value(QLatin1String(key)).toArray();
        if (!array.isEmpty())
            return array;
    }
    return {};
}

// Seconds since the epoch held in a JSON number. Nothing for anything else
// and for numbers beyond a 64-bit count or a date-time, whose casts or
// conversions would give garbage.
std::optional<qint64> epochSeconds(const QJsonValue &value, const QTimeZone &zone)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= -0x1p63 && number < 0x1p63))
        return std::nullopt;
    const auto seconds = static_cast<qint64>(number);
    if (seconds > 0 && !QDateTime::fromSecsSinceEpoch(seconds, zone).isValid())
        return std::nullopt;
    return seconds;
}

QString trimmedString(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString().trimmed();
}

// The fields an entry may carry, read in one pass over its keys. A lookup
// per field costs a search with ordering comparisons and a value copy each,
// which made up the bulk of a long guide.
struct EntryFields
{
    explicit EntryFields(const QJsonObject &o)
    {
        for (auto it = o.constBegin(), end = o.constEnd(); it != end; ++it) {
            const QString key = it.key();
            if (key == QLatin1String("time"))
                time = it->toString();
            else if (key == QLatin1String("title"))
                title = it->toString();
            else if (key == QLatin1String("subtitle"))
                subtitle = it->toString();
            else if (key == QLatin1String("desc"))
                desc = it->toString();
            else if (key == QLatin1String("program"))
                program = it->toString();
            else if (key == QLatin1String("date"))
                date = it.value();
            else if (key == QLatin1String("start_ts"))
                startTs = it.value();
            else if (key == QLatin1String("start"))
                start = it.value();
        }
    }

    QJsonValue startTs{QJsonValue::Undefined}, start{QJsonValue::Undefined},
        date{QJsonValue::Undefined};
    QString time, title, desc, subtitle, program;
};

// `dayDate`, when valid, stands for a missing "date" key: entries listed
// under a day take that day's date.
void parseJsonEntry(const QJsonObject &o, const QTimeZone &zone, QDate *contextDate,
                    QList<EpgProgramItem> *items, QDate dayDate = {})
{
    EntryFields f(o);
    std::optional<qint64> seconds = epochSeconds(f.startTs, zone);
    if (!seconds)
        seconds = epochSeconds(f.start, zone);
    if (seconds && *seconds > 0) {
        const QDateTime at = QDateTime::fromSecsSinceEpoch(*seconds, zone);
        EpgProgramItem item{at.date(), at.time(), std::move(f.title).trimmed(),
                            std::move(f.desc).trimmed()};
        if (item.description.isEmpty())
            item.description = std::move(f.subtitle).trimmed();
        if (item.title.isEmpty())
            item.title = std::move(f.program).trimmed();
        items->append(std::move(item));
        return;
    }

    QDate date = dayDate.isValid() && f.date.isUndefined() ? dayDate
                                                           : parseJsonDateString(f.date.toString());
    if (date.isValid())
        *contextDate = date;
    else
        date = *contextDate;
    const QString timeText = std::move(f.time).trimmed();
    QTime time = twoDigitClock(timeText);
    if (!time.isValid())
        time = QTime::fromString(timeText, QStringLiteral("HH:mm"));
    if (!time.isValid())
        time = QTime::fromString(timeText, QStringLiteral("H:mm"));
    if (!date.isValid() || !time.isValid())
        return;
    EpgProgramItem item{date, time, std::move(f.title).trimmed(), std::move(f.subtitle).trimmed()};
    if (item.title.isEmpty())
        item.title = std::move(f.program).trimmed();
    items->append(std::move(item));
}

// Local date and time in a zone as milliseconds since the epoch, as
// QDateTime(date, time, zone) gives them. A zone keeps one offset for months
// on end, so a date with no transition near it is converted with the offset
// looked up once for that date (entries come in date order); other dates
// take the full conversion, which costs a zone lookup per call.
class ZoneClock
{
public:
    explicit ZoneClock(const QTimeZone &zone) : zone(zone) {}

    qint64 msecsSinceEpoch(QDate date, QTime time)
    {
        const qint64 day = date.toJulianDay() - kEpochJulianDay;
        if (date.isValid() && time.isValid() && day > -kFarDays && day < kFarDays) {
            // Entries come day by day, so the last day answers most calls.
            if (day != lastDay) {
                lastDay = day;
                lastOffset = steadyOffset(day);
            }
            if (lastOffset)
                return day * kMsecsPerDay + time.msecsSinceStartOfDay() -
                       qint64(*lastOffset) * 1000;
        }
        return QDateTime(date, time, zone).toMSecsSinceEpoch();
    }

private:
    static constexpr qint64 kEpochJulianDay = 2440588; // 1970-01-01
    static constexpr qint64 kMsecsPerDay = 86400000;
    static constexpr qint64 kFarDays = 100000000; // keeps the arithmetic far from overflow

    // The offset of the whole local day, when no transition falls within two
    // days of it: more than any offset from UTC.
    std::optional<int> steadyOffset(qint64 day) const
    {
        if (!zone.hasTransitions())
            return std::nullopt;
        const QDateTime from = QDateTime::fromMSecsSinceEpoch((day - 2) * kMsecsPerDay, Qt::UTC);
        const QDateTime to = from.addDays(5);
        const QTimeZone::OffsetData next = zone.nextTransition(from);
        if (next.atUtc.isValid() && next.atUtc <= to)
            return std::nullopt;
        return zone.offsetFromUtc(from);
    }

    QTimeZone zone;
    qint64 lastDay = kFarDays; // none yet
    std::optional<int> lastOffset;
};

// The HTML scans below follow the patterns of the schedule page, but a tag
// ends at its first '>' and a cell or table at its first closing tag, so each
// of those is found once with indexOf and a scan stops as soon as no closing
// mark is left. Retrying the patterns from every later position would make a
// malformed page quadratic.

// The scans run on text from QString::fromUtf8, which is always valid UTF-16,
// cut only next to ASCII characters. PCRE's own validity check would read the
// whole rest of the subject on every call and make repeated matches quadratic.
QRegularExpressionMatch scan(const QRegularExpression &re, QStringView text, qsizetype offset = 0,
                             bool anchored = false)
{
    QRegularExpression::MatchOptions options =
        QRegularExpression::DontCheckSubjectStringMatchOption;
    if (anchored)
        options |= QRegularExpression::AnchorAtOffsetMatchOption;
    return re.match(text, offset, QRegularExpression::NormalMatch, options);
}

// "</" followed by a name without '>' or white space, then '>'.
bool isClosingTagAt(QStringView text, qsizetype at)
{
    if (at + 1 >= text.size() || text.at(at) != u'<' || text.at(at + 1) != u'/')
        return false;
    qsizetype end = at + 2;
    while (end < text.size() && text.at(end) != u'>' && !isPatternSpace(text.at(end)))
        ++end;
    return end > at + 2 && end < text.size() && text.at(end) == u'>';
}

QString stripTags(QStringView text)
{
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype open = text.indexOf(u'<', from);
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(u'>', open + 1);
        if (close < 0)
            break;
        if (close == open + 1) { // "<>" is no tag
            out += text.mid(from, close - from);
            from = close;
            continue;
        }
        out += text.mid(from, open - from);
        from = close + 1;
    }
    out += text.mid(from);
    return out;
}

// The rows of one day block, in order.
void appendRows(QStringView block, const QDate &date, QList<EpgProgramItem> *items)
{
    // Pieces of the row pattern
    //   <td\s[^>]*\bclass\s*=\s*["']time["'][^>]*>\s*(\d{2}:\d{2})\s*</td>
    //   \s*<td[^>]*>([\s\S]*?)</td>\s*<td[^>]*>([\s\S]*?)</td>
    static const QRegularExpression reTimeClass(QStringLiteral(R"(\bclass\s*=\s*["']time["'])"),
                                                kCaseless);
    static const QRegularExpression reTimeCell(
        QStringLiteral(R"(\s*(\d{2}:\d{2})\s*</td>\s*<td[^>]*>)"), kCaseless);
    static const QRegularExpression reNextCell(QStringLiteral(R"(\s*<td[^>]*>)"), kCaseless);
    const QLatin1String cellEnd("</td>");

    qsizetype from = 0;
    while (true) {
        const qsizetype open = block.indexOf(QLatin1String("<td"), from, Qt::CaseInsensitive);
        if (open < 0 || open + 3 >= block.size())
            return;
        if (!isPatternSpace(block.at(open + 3))) {
            from = open + 3;
            continue;
        }
        const qsizetype tagEnd = block.indexOf(u'>', open + 4);
        if (tagEnd < 0)
            return;
        // A later "<td" before tagEnd shares this tag's end and what follows.
        from = tagEnd + 1;
        if (!scan(reTimeClass, block.mid(open + 4, tagEnd - open - 4)).hasMatch())
            continue;
        const QRegularExpressionMatch time = scan(reTimeCell, block, tagEnd + 1, true);
        if (!time.hasMatch())
            continue;

        // The title cell runs to the first "</td>" that another cell follows.
        qsizetype titleEnd = time.capturedEnd() - 1;
        QRegularExpressionMatch next;
        do {
            titleEnd = block.indexOf(cellEnd, titleEnd + 1, Qt::CaseInsensitive);
            if (titleEnd < 0)
                return; // so no later time cell is followed by a cell either
            next = scan(reNextCell, block, titleEnd + cellEnd.size(), true);
        } while (!next.hasMatch());
        const qsizetype descEnd = block.indexOf(cellEnd, next.capturedEnd(), Qt::CaseInsensitive);
        if (descEnd < 0)
            return;
        from = descEnd + cellEnd.size();

        const QTime start = twoDigitClock(time.capturedView(1));
        if (!start.isValid())
            continue;
        const QStringView title = block.mid(time.capturedEnd(), titleEnd - time.capturedEnd());
        const QStringView desc = block.mid(next.capturedEnd(), descEnd - next.capturedEnd());
        items->append({date, start, decodeHtmlEntities(stripTags(title)),
                       decodeHtmlEntities(stripTags(desc))});
    }
}

} // namespace

QString guideTooLargeError()
{
    return QStringLiteral("Кесте тым үлкен");
}

QTimeZone broadcastZone()
{
    const QTimeZone zone(QByteArrayLiteral("Asia/Qyzylorda"));
    return zone.isValid() ? zone : QTimeZone::systemTimeZone();
}

QDate parseJsonDateString(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) // the usual case, and QDate::fromString is slow to say no
        return {};
    if (const QDate date = numericDate(trimmed); date.isValid())
        return date;
    const QDate date = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return date;
    return QDate::fromString(trimmed, QStringLiteral("dd.MM.yyyy"));
}

bool parsePayloadFromJson(const QByteArray &body, EpgPayload *payload, const QDateTime &now)
{
    static const QStringList liveKeys{QStringLiteral("on_air"),      QStringLiteral("live"),
                                      QStringLiteral("liveTitle"),   QStringLiteral("nowPlaying"),
                                      QStringLiteral("current"),     QStringLiteral("now"),
                                      QStringLiteral("qazir_efirde")};

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    QJsonObject root;
    if (document.isObject())
        root = document.object();
    else if (document.isArray())
        root.insert(QLatin1String("schedule"), document.array());
    else
        return false;

    for (const QString &key : liveKeys) {
        const QJsonValue value = root.value(key);
        if (value.isString()) {
            // Even a blank string ends the search; the schedule fills it in.
            payload->liveTitle = value.toString().trimmed();
            break;
        }
        if (value.isObject()) {
            const QString title = trimmedString(value.toObject(), "title");
            if (!title.isEmpty()) {
                payload->liveTitle = title;
                break;
            }
        }
    }

    const QTimeZone zone = broadcastZone();
    // Every list of entries in reading order, each with the date of its day
    // when it sits under "days"; counted first so the items are allocated once.
    QList<std::pair<QJsonArray, QDate>> lists{
        {firstNonEmptyArray(root, {"schedule", "programs", "items"}), {}}};
    const QJsonArray days = root.value(QLatin1String("days")).toArray();
    for (const QJsonValueConstRef dayValue : days) {
        if (!dayValue.isObject())
            continue;
        const QJsonObject day = dayValue.toObject();
        const QDate dayDate = parseJsonDateString(day.value(QLatin1String("date")).toString());
        if (dayDate.isValid())
            lists.append({firstNonEmptyArray(day, {"programs", "items", "schedule"}), dayDate});
    }
    lists.append({root.value(QLatin1String("today_line")).toArray(), {}});
    lists.append({root.value(QLatin1String("upcoming")).toArray(), {}});

    qsizetype count = 0;
    for (const auto &list : std::as_const(lists))
        count += list.first.size();
    QList<EpgProgramItem> &items = payload->items;
    items.reserve(items.size() + count);
    QDate contextDate = now.toTimeZone(zone).date();
    for (const auto &[entries, dayDate] : std::as_const(lists)) {
        // QJsonValueConstRef, not QJsonValue: a copy per entry costs as much
        // as reading its fields.
        for (const QJsonValueConstRef entry : entries) {
            if (entry.isObject())
                parseJsonEntry(entry.toObject(), zone, &contextDate, &items, dayDate);
        }
    }
    return true;
}

QString parseLiveTitle(const QByteArray &body)
{
    // <strong[^>]*\bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)</strong>, then
    // \bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)\s*</[^>\s]+>
    static const QRegularExpression reLiveId(QStringLiteral(R"(\bid\s*=\s*["']liveTitle["'])"),
                                             kCaseless);
    const QString text = QString::fromUtf8(body);

    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(QLatin1String("<strong"), from, Qt::CaseInsensitive);
        if (open < 0)
            break;
        const qsizetype tagEnd = text.indexOf(u'>', open + 7);
        if (tagEnd < 0)
            break;
        from = tagEnd + 1;
        // From the name's last letter so that \b sees what precedes "id".
        const QStringView attributes = QStringView(text).mid(open + 6, tagEnd - open - 6);
        if (!scan(reLiveId, attributes, 1).hasMatch())
            continue;
        const qsizetype textEnd = text.indexOf(u'<', tagEnd + 1);
        if (textEnd < 0)
            break;
        if (!QStringView(text).mid(textEnd).startsWith(QLatin1String("</strong>"),
                                                       Qt::CaseInsensitive))
            continue;
        const QString title =
            decodeHtmlEntities(text.mid(tagEnd + 1, textEnd - tagEnd - 1).trimmed());
        if (!title.isEmpty())
            return title;
        break;
    }

    // Many ids may lead to the same next '<'; find it and judge it once.
    qsizetype textEnd = -1;
    qsizetype lastBadClose = -1;
    from = 0;
    while (true) {
        const QRegularExpressionMatch id = scan(reLiveId, text, from);
        if (!id.hasMatch())
            break;
        const qsizetype tagEnd = text.indexOf(u'>', id.capturedEnd());
        if (tagEnd < 0)
            break;
        from = tagEnd + 1;
        if (textEnd <= tagEnd)
            textEnd = text.indexOf(u'<', tagEnd + 1);
        if (textEnd < 0)
            break;
        if (textEnd == lastBadClose)
            continue;
        if (!isClosingTagAt(text, textEnd)) {
            lastBadClose = textEnd;
            continue;
        }
        return decodeHtmlEntities(text.mid(tagEnd + 1, textEnd - tagEnd - 1).trimmed());
    }
    return {};
}

QList<EpgProgramItem> parseHtml(const QByteArray &body)
{
    // <h2>\s*(\d{2})\.(\d{2})\.(\d{4})\s*</h2>\s*<table[\s\S]*?</table>
    static const QRegularExpression reDayBlocks(
        QStringLiteral(R"(<h2>\s*(\d{2})\.(\d{2})\.(\d{4})\s*</h2>\s*<table)"), kCaseless);
    const QLatin1String tableEnd("</table>");
    const QString text = QString::fromUtf8(body);
    QList<EpgProgramItem> items;

    qsizetype from = 0;
    while (true) {
        const QRegularExpressionMatch heading = scan(reDayBlocks, text, from);
        if (!heading.hasMatch())
            break;
        const qsizetype close = text.indexOf(tableEnd, heading.capturedEnd(), Qt::CaseInsensitive);
        if (close < 0)
            break; // no later table closes either
        const qsizetype end = close + tableEnd.size();
        from = end;
        const QDate date(heading.captured(3).toInt(), heading.captured(2).toInt(),
                         heading.captured(1).toInt());
        if (!date.isValid())
            continue;
        const qsizetype start = heading.capturedStart();
        appendRows(QStringView(text).mid(start, end - start), date, &items);
    }
    return items;
}

QString decodeHtmlEntities(QString text)
{
    // Order matters: with "&amp;" third, "&amp;lt;" ends as "<".
    static const std::pair<QLatin1String, QChar> entities[] = {
        {QLatin1String("&quot;"), u'"'}, {QLatin1String("&apos;"), u'\''},
        {QLatin1String("&amp;"), u'&'},  {QLatin1String("&lt;"), u'<'},
        {QLatin1String("&gt;"), u'>'},   {QLatin1String("&nbsp;"), u' '},
    };
    for (const auto &[entity, character] : entities)
        text.replace(entity, QString(character));
    return collapseSpaces(std::move(text));
}

QString collapseSpaces(QString text)
{
    static const char16_t unicodeSpaces[] = {u'\u00A0', u'\u202F', u'\u2007', u'\uFEFF'};
    for (const char16_t space : unicodeSpaces)
        text.replace(QChar(space), QLatin1Char(' '));
    return text.trimmed();
}

QString currentProgramTitle(const QList<EpgProgramItem> &items, const QDateTime &now,
                            const QTimeZone &zone)
{
    // The latest start not after now; before the schedule begins, the
    // earliest, so that what comes first is named. One pass, no sorting: a
    // long guide holds thousands of entries.
    ZoneClock clock(zone);
    const qint64 at = now.toMSecsSinceEpoch();
    const EpgProgramItem *latestStarted = nullptr;
    const EpgProgramItem *earliest = nullptr;
    qint64 latestStart = 0;
    qint64 earliestStart = 0;
    for (const EpgProgramItem &item : items) {
        const qint64 start = clock.msecsSinceEpoch(item.date, item.time);
        if (start <= at && (!latestStarted || start >= latestStart)) {
            latestStarted = &item;
            latestStart = start;
        }
        if (!earliest || start < earliestStart) {
            earliest = &item;
            earliestStart = start;
        }
    }
    if (latestStarted)
        return latestStarted->title;
    return earliest ? earliest->title : QString();
}

std::optional<qint64> nextProgramStart(const QList<EpgProgramItem> &items, const QDateTime &now,
                                       const QTimeZone &zone)
{
    ZoneClock clock(zone);
    const qint64 at = now.toMSecsSinceEpoch();
    std::optional<qint64> next;
    for (const EpgProgramItem &item : items) {
        const qint64 start = clock.msecsSinceEpoch(item.date, item.time);
        if (start > at && (!next || start < *next))
            next = start;
    }
    return next;
}

bool bodyLooksLikeJson(const QByteArray &body)
{
    qsizetype at = body.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < body.size()) {
        const char c = body.at(at);
        if (c != '\t' && c != '\n' && c != '\r' && c != ' ')
            return c == '{' || c == '[';
        ++at;
    }
    return false;
}

EpgPayload parseGuideBody(const QByteArray &body, const QDateTime &now)
{
    static const QString emDash(QChar(0x2014));

    EpgPayload payload;
    if (body.size() > kMaxGuideBodyBytes) {
        payload.error = guideTooLargeError();
        return payload;
    }

    const QTimeZone zone = broadcastZone();
    const QDateTime here = now.toTimeZone(zone);
    EpgPayload json;
    if (bodyLooksLikeJson(body) && parsePayloadFromJson(body, &json, here)) {
        payload.liveTitle = json.liveTitle;
        payload.items = json.items;
    } else {
        payload.liveTitle = parseLiveTitle(body);
        payload.items = parseHtml(body);
    }

    const QString title = payload.liveTitle.trimmed();
    if (title.isEmpty() || title == QLatin1String("-") || title == emDash)
        payload.liveTitle.clear();
    if (payload.liveTitle.isEmpty() && !payload.items.isEmpty())
        payload.liveTitle = currentProgramTitle(payload.items, here, zone);
    return payload;
}
