#include "nalunits.h"

void NalSplitter::feed(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (b == 1 && zeros >= 2) {
            if (inUnit) {
                // The start code's zeros were taken for the unit's tail.
                int strip = zeros;
                while (strip-- > 0 && unit.endsWith('\0'))
                    unit.chop(1);
                if (!unit.isEmpty())
                    sink(unit);
            }
            unit.clear();
            inUnit = true;
            zeros = 0;
            continue;
        }
        if (inUnit) {
            unit.append(char(b));
            // Enough for any header: handed over now, not at the next unit,
            // which after a large slice may lie far ahead.
            if (unit.size() == kKeptBytes) {
                sink(unit);
                unit.clear();
                inUnit = false;
            }
        }
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

void NalSplitter::flush()
{
    if (inUnit && !unit.isEmpty())
        sink(unit);
    unit.clear();
    inUnit = false;
    zeros = 0;
}

QByteArray unescapedPayload(const QByteArray &unit, int headerBytes)
{
    QByteArray out;
    out.reserve(unit.size());
    int zeros = 0;
    for (qsizetype i = headerBytes; i < unit.size(); ++i) {
        const char b = unit.at(i);
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.append(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}
