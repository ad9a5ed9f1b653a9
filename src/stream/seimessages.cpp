#include "seimessages.h"

namespace {

constexpr int kPictureTiming = 1;

// A type or size: 0xff bytes each add 255, the first other byte ends it.
bool readSeiNumber(const QByteArray &sei, qsizetype &pos, qsizetype &value)
{
    value = 0;
    while (pos < sei.size()) {
        const uint8_t b = uint8_t(sei.at(pos++));
        value += b;
        if (b != 0xff)
            return true;
    }
    return false;
}

} // namespace

std::optional<QByteArray> pictureTimingPayload(const QByteArray &sei)
{
    qsizetype pos = 0;
    // The last byte is the trailing stop bit.
    while (pos + 1 < sei.size()) {
        qsizetype type = 0;
        qsizetype size = 0;
        if (!readSeiNumber(sei, pos, type) || !readSeiNumber(sei, pos, size) ||
            size > sei.size() - pos)
            return std::nullopt;
        if (type == kPictureTiming)
            return sei.mid(pos, size);
        pos += size;
    }
    return std::nullopt;
}

VideoFacts::Scan scanFromPicStruct(int picStruct)
{
    switch (picStruct) {
    case 0:
    case 7:
    case 8:
        return VideoFacts::Scan::Progressive;
    case 1:
    case 3:
    case 5:
    case 10:
    case 11:
        return VideoFacts::Scan::TopFieldFirst;
    case 2:
    case 4:
    case 6:
    case 9:
    case 12:
        return VideoFacts::Scan::BottomFieldFirst;
    default:
        return VideoFacts::Scan::Unknown;
    }
}
