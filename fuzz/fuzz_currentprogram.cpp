#include "epgparsing.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

namespace {

// Hands out the input a byte at a time, zeros once it runs out.
class Bytes
{
public:
    Bytes(const uint8_t *data, size_t size) : data(data), size(size) {}
    bool empty() const { return at >= size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
    int next16()
    {
        const int high = next();
        return high << 8 | next();
    }

private:
    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

// Zones without and with daylight saving, whose gaps and folds give local
// times that do not exist or exist twice.
QTimeZone pickZone(uint8_t byte)
{
    switch (byte % 4) {
    case 0:
        return broadcastZone();
    case 1:
        return QTimeZone(QByteArrayLiteral("Europe/Berlin"));
    case 2:
        return QTimeZone(QByteArrayLiteral("America/Santiago"));
    default:
        return QTimeZone::utc();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Around the spring change of 2025 in Europe.
    static const QDate base(2025, 3, 29);
    Bytes in(data, size);
    const QTimeZone zone = pickZone(in.next());
    const QDateTime now = QDateTime(base, QTime(0, 0), zone).addSecs((in.next16() - 32768) * 16);

    QList<EpgProgramItem> items;
    while (!in.empty() && items.size() < 64) {
        const uint8_t day = in.next();
        const int minute = in.next16() % (24 * 60 + 8); // a few invalid times
        EpgProgramItem item;
        item.date = day == 0xFF ? QDate() : base.addDays(day % 8 - 4);
        item.time = minute < 24 * 60 ? QTime(minute / 60, minute % 60) : QTime();
        const int titleLength = in.next() % 4; // short, so titles repeat
        for (int i = 0; i < titleLength; ++i)
            item.title += QLatin1Char(char('a' + in.next() % 3));
        items.append(item);
    }

    const QString title = currentProgramTitle(items, now, zone);

    // What it must be: the title of an item with the latest start not after
    // now, else of one with the earliest start. Equal starts may give either.
    const qint64 at = now.toMSecsSinceEpoch();
    bool anyStarted = false;
    qint64 latestStarted = 0;
    qint64 earliest = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const qint64 start =
            QDateTime(items.at(i).date, items.at(i).time, zone).toMSecsSinceEpoch();
        if (i == 0 || start < earliest)
            earliest = start;
        if (start <= at && (!anyStarted || start > latestStarted)) {
            latestStarted = start;
            anyStarted = true;
        }
    }
    if (items.isEmpty()) {
        check(title.isEmpty(), "a title without a schedule");
        return 0;
    }
    const qint64 wanted = anyStarted ? latestStarted : earliest;
    bool allowed = false;
    for (const EpgProgramItem &item : items) {
        const qint64 start = QDateTime(item.date, item.time, zone).toMSecsSinceEpoch();
        allowed = allowed || (start == wanted && item.title == title);
    }
    check(allowed, "not the programme on air");
    return 0;
}
