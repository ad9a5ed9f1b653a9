#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Walks an MPEG transport stream, fed in pieces of any size, to the first
// H.264 or H.265 stream of its first program and hands on that stream's
// elementary bytes. Holds at most one packet.
class TsVideoStream
{
public:
    enum class Codec
    {
        Unknown,
        H264,
        H265
    };
    // start: the bytes begin a new packetised elementary stream packet,
    // that is, a new picture.
    using Sink = std::function<void(const uint8_t *data, size_t size, bool start)>;

    static constexpr int kPacketBytes = 188;

    explicit TsVideoStream(Sink sink) : sink(std::move(sink)) {}

    // False from the first packet that does not start with the sync byte on:
    // the rest is not read.
    bool feed(const uint8_t *data, size_t size);
    Codec codec() const { return videoCodec; }

private:
    void packet(const uint8_t *p);
    void programAssociation(const uint8_t *section, size_t size);
    void programMap(const uint8_t *section, size_t size);
    void pesPayload(const uint8_t *payload, size_t size, bool start);

    Sink sink;
    uint8_t partial[kPacketBytes] = {};
    size_t partialSize = 0;
    bool lost = false;
    int pmtPid = -1;
    int videoPid = -1;
    Codec videoCodec = Codec::Unknown;
    bool inPes = false;
};
