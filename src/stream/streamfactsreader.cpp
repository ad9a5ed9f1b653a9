#include "streamfactsreader.h"

#include "seimessages.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char kSyncByte = 0x47;

enum H264Unit
{
    kH264Slice = 1,
    kH264IdrSlice = 5,
    kH264Sei = 6,
    kH264Sps = 7,
};

enum H265Unit
{
    kH265LastSlice = 21,
    kH265Sps = 33,
    kH265PrefixSei = 39,
};

} // namespace

StreamFactsReader::StreamFactsReader()
    : transport([this](const uint8_t *data, size_t size, bool start) {
          if (start)
              splitter.flush();
          splitter.feed(data, size);
      }),
      splitter([this](const QByteArray &nal) { unit(nal); })
{}

std::optional<VideoFacts> StreamFactsReader::feed(const char *data, qsizetype size)
{
    if (done || size <= 0)
        return std::nullopt;
    if (inspected == 0 && data[0] != kSyncByte) {
        done = true;
        return std::nullopt;
    }
    const qsizetype take = qsizetype(std::min<qint64>(size, kMaxInspectedBytes - inspected));
    inspected += take;
    if (!transport.feed(reinterpret_cast<const uint8_t *>(data), size_t(take)))
        done = true;
    if (inspected >= kMaxInspectedBytes)
        done = true;
    if (found) {
        done = true;
        return std::exchange(found, std::nullopt);
    }
    return std::nullopt;
}

void StreamFactsReader::unit(const QByteArray &nal)
{
    if (done || found || nal.isEmpty())
        return;
    if (transport.codec() == TsVideoStream::Codec::H264)
        h264Unit(nal);
    else if (transport.codec() == TsVideoStream::Codec::H265)
        h265Unit(nal);
}

void StreamFactsReader::h264Unit(const QByteArray &nal)
{
    const int type = nal.at(0) & 0x1f;
    if (type == kH264Sps && !h264) {
        h264 = parseH264Sps(unescapedPayload(nal, 1));
        if (h264 && h264->facts.scan == VideoFacts::Scan::Progressive)
            found = h264->facts;
        return;
    }
    if (!h264)
        return;
    if (type == kH264Sei && picStruct < 0) {
        if (const auto timing = pictureTimingPayload(unescapedPayload(nal, 1)))
            picStruct = h264PicStruct(*timing, *h264);
        return;
    }
    if (type != kH264Slice && type != kH264IdrSlice)
        return;
    // The first picture decides: its timing message came before its slices.
    VideoFacts facts = h264->facts;
    if (picStruct >= 0) {
        settle(facts, picStruct);
        return;
    }
    const int field = h264SliceField(unescapedPayload(nal, 1), *h264);
    if (field > 0)
        facts.scan =
            field == 1 ? VideoFacts::Scan::TopFieldFirst : VideoFacts::Scan::BottomFieldFirst;
    else if (field == 0 && !h264->mbAdaptiveFrameField)
        facts.scan = VideoFacts::Scan::Progressive;
    else
        facts.scan = VideoFacts::Scan::TopFieldFirst;
    found = facts;
}

void StreamFactsReader::h265Unit(const QByteArray &nal)
{
    if (nal.size() < 2)
        return;
    const int type = (nal.at(0) >> 1) & 0x3f;
    if (type == kH265Sps && !h265) {
        h265 = parseH265Sps(unescapedPayload(nal, 2));
        if (h265 && h265->facts.scan == VideoFacts::Scan::Progressive &&
            !h265->frameFieldInfoPresent)
            found = h265->facts;
        return;
    }
    if (!h265)
        return;
    if (type == kH265PrefixSei && picStruct < 0) {
        if (const auto timing = pictureTimingPayload(unescapedPayload(nal, 2)))
            picStruct = h265PicStruct(*timing, *h265);
        return;
    }
    if (type > kH265LastSlice)
        return;
    VideoFacts facts = h265->facts;
    if (picStruct >= 0) {
        settle(facts, picStruct);
        return;
    }
    if (facts.scan == VideoFacts::Scan::Unknown)
        facts.scan = VideoFacts::Scan::TopFieldFirst;
    found = facts;
}

void StreamFactsReader::settle(VideoFacts facts, int code)
{
    const VideoFacts::Scan scan = scanFromPicStruct(code);
    // Fields coded as fields, or a source marked interlaced, with a message
    // that names no order: the usual order.
    if (scan != VideoFacts::Scan::Unknown)
        facts.scan = scan;
    else if (facts.scan == VideoFacts::Scan::Unknown)
        facts.scan = VideoFacts::Scan::TopFieldFirst;
    found = facts;
}
