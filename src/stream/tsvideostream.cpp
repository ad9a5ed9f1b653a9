#include "tsvideostream.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kSyncByte = 0x47;

int pid(const uint8_t *p)
{
    return ((p[1] & 0x1f) << 8) | p[2];
}

// The section a PSI packet's payload starts, cut to its declared length and
// to the packet; null when it does not start here.
const uint8_t *psiSection(const uint8_t *payload, size_t size, bool start, uint8_t tableId,
                          size_t *sectionSize)
{
    if (!start || size < 1 || size_t(payload[0]) + 1 + 3 > size)
        return nullptr;
    const uint8_t *section = payload + 1 + payload[0];
    const size_t left = size - 1 - payload[0];
    if (section[0] != tableId)
        return nullptr;
    const size_t length = size_t((section[1] & 0x0f) << 8 | section[2]) + 3;
    // Without the CRC, which is not checked.
    *sectionSize = (length < left ? length : left);
    *sectionSize = *sectionSize >= 4 ? *sectionSize - 4 : 0;
    return section;
}

} // namespace

bool TsVideoStream::feed(const uint8_t *data, size_t size)
{
    while (!lost && size > 0) {
        if (partialSize > 0 || size < size_t(kPacketBytes)) {
            const size_t take = std::min(size, size_t(kPacketBytes) - partialSize);
            std::memcpy(partial + partialSize, data, take);
            partialSize += take;
            data += take;
            size -= take;
            if (partialSize < size_t(kPacketBytes))
                break;
            partialSize = 0;
            packet(partial);
            continue;
        }
        packet(data);
        data += kPacketBytes;
        size -= kPacketBytes;
    }
    return !lost;
}

void TsVideoStream::packet(const uint8_t *p)
{
    if (p[0] != kSyncByte) {
        lost = true;
        return;
    }
    const bool start = p[1] & 0x40;
    const int packetPid = pid(p);
    const int adaptation = (p[3] >> 4) & 3;
    if (!(adaptation & 1))
        return;
    size_t offset = 4;
    if (adaptation & 2)
        offset += 1 + size_t(p[4]);
    if (offset >= size_t(kPacketBytes))
        return;
    const uint8_t *payload = p + offset;
    const size_t size = kPacketBytes - offset;

    size_t sectionSize = 0;
    if (packetPid == 0 && pmtPid < 0) {
        if (const uint8_t *s = psiSection(payload, size, start, 0x00, &sectionSize))
            programAssociation(s, sectionSize);
    } else if (packetPid == pmtPid && videoPid < 0) {
        if (const uint8_t *s = psiSection(payload, size, start, 0x02, &sectionSize))
            programMap(s, sectionSize);
    } else if (packetPid == videoPid) {
        pesPayload(payload, size, start);
    }
}

void TsVideoStream::programAssociation(const uint8_t *section, size_t size)
{
    for (size_t i = 8; i + 4 <= size; i += 4) {
        const int program = section[i] << 8 | section[i + 1];
        if (program != 0) {
            pmtPid = pid(section + i + 1);
            return;
        }
    }
}

void TsVideoStream::programMap(const uint8_t *section, size_t size)
{
    if (size < 12)
        return;
    size_t i = 12 + size_t((section[10] & 0x0f) << 8 | section[11]);
    for (; i + 5 <= size; i += 5 + size_t((section[i + 3] & 0x0f) << 8 | section[i + 4])) {
        const uint8_t type = section[i];
        if (type == 0x1b || type == 0x24) {
            videoCodec = type == 0x1b ? Codec::H264 : Codec::H265;
            videoPid = pid(section + i);
            return;
        }
    }
}

void TsVideoStream::pesPayload(const uint8_t *payload, size_t size, bool start)
{
    if (start) {
        // Packet start code prefix, stream id, length, two flag bytes and
        // the header's length.
        inPes = size >= 9 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1 &&
                size_t(9 + payload[8]) <= size;
        if (!inPes)
            return;
        const size_t header = 9 + payload[8];
        payload += header;
        size -= header;
    }
    if (inPes)
        sink(payload, size, start);
}
