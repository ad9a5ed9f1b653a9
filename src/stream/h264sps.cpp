#include "h264sps.h"

#include "bitreader.h"
#include "vuifields.h"

namespace {

constexpr int kMaxDimension = 16384;

const uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const uint8_t *>(a.constData());
}

bool hasChromaFields(uint32_t profile)
{
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

void skipScalingList(BitReader &r, int coefficients)
{
    int last = 8;
    int next = 8;
    for (int j = 0; j < coefficients && r.ok(); ++j) {
        if (next != 0) {
            next = int((int64_t(last) + r.se()) & 0xff);
            // A zero repeats the last value to the end: no more bits.
            if (next == 0)
                return;
        }
        last = next;
    }
}

// Returns the length of cpb_removal_delay and dpb_output_delay.
bool readHrd(BitReader &r, int &cpbBits, int &dpbBits)
{
    const uint32_t count = r.ue() + 1;
    if (count > 32)
        return false;
    r.skip(8); // bit_rate_scale, cpb_size_scale
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        r.ue();
        r.ue();
        r.skip(1);
    }
    r.skip(5); // initial_cpb_removal_delay_length_minus1
    cpbBits = int(r.bits(5)) + 1;
    dpbBits = int(r.bits(5)) + 1;
    r.skip(5); // time_offset_length
    return r.ok();
}

void readVui(BitReader &r, H264Sps &sps)
{
    if (!readVuiPictureFields(r, sps.facts))
        return;
    if (r.flag())
        r.skip(65); // num_units_in_tick, time_scale, fixed_frame_rate_flag
    const bool nalHrd = r.flag();
    if (nalHrd && !readHrd(r, sps.cpbRemovalDelayBits, sps.dpbOutputDelayBits))
        return;
    const bool vclHrd = r.flag();
    if (vclHrd && !readHrd(r, sps.cpbRemovalDelayBits, sps.dpbOutputDelayBits))
        return;
    if (nalHrd || vclHrd)
        r.skip(1); // low_delay_hrd_flag
    sps.picStructPresent = r.flag();
    if (!r.ok()) {
        sps.picStructPresent = false;
        sps.cpbRemovalDelayBits = sps.dpbOutputDelayBits = 0;
    }
}

} // namespace

std::optional<H264Sps> parseH264Sps(const QByteArray &rbsp)
{
    BitReader r(bytes(rbsp), size_t(rbsp.size()));
    H264Sps sps;
    const uint32_t profile = r.bits(8);
    r.skip(16); // constraint flags, level_idc
    r.ue();     // seq_parameter_set_id
    uint32_t chromaFormat = 1;
    uint64_t bitDepth = 8;
    if (hasChromaFields(profile)) {
        chromaFormat = r.ue();
        if (chromaFormat > 3)
            return std::nullopt;
        if (chromaFormat == 3)
            sps.separateColourPlane = r.flag();
        bitDepth = uint64_t(r.ue()) + 8;
        r.ue(); // bit_depth_chroma_minus8
        r.skip(1);
        if (r.flag()) {
            for (int i = 0; i < (chromaFormat != 3 ? 8 : 12) && r.ok(); ++i) {
                if (r.flag())
                    skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    if (bitDepth > 14)
        return std::nullopt;
    const uint32_t log2MaxFrameNumMinus4 = r.ue();
    if (log2MaxFrameNumMinus4 > 12)
        return std::nullopt;
    sps.log2MaxFrameNum = int(log2MaxFrameNumMinus4) + 4;
    const uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.skip(1);
        r.se();
        r.se();
        const uint32_t cycle = r.ue();
        if (cycle > 255)
            return std::nullopt;
        for (uint32_t i = 0; i < cycle && r.ok(); ++i)
            r.se();
    } else if (pocType > 2) {
        return std::nullopt;
    }
    r.ue();    // max_num_ref_frames
    r.skip(1); // gaps_in_frame_num_value_allowed_flag
    const int64_t widthMbs = int64_t(r.ue()) + 1;
    const int64_t heightUnits = int64_t(r.ue()) + 1;
    const bool frameMbsOnly = r.flag();
    if (!frameMbsOnly)
        sps.mbAdaptiveFrameField = r.flag();
    r.skip(1); // direct_8x8_inference_flag
    int64_t crop[4] = {};
    if (r.flag()) {
        for (int64_t &c : crop)
            c = r.ue();
    }
    const bool vui = r.flag();
    if (!r.ok())
        return std::nullopt;

    // Crops count in chroma samples, and in frame lines twice over where
    // pictures may be fields.
    const bool monochrome = chromaFormat == 0 || sps.separateColourPlane;
    const int64_t unitX = monochrome || chromaFormat == 3 ? 1 : 2;
    const int64_t unitY = (monochrome || chromaFormat != 1 ? 1 : 2) * (frameMbsOnly ? 1 : 2);
    const int64_t width = widthMbs * 16 - unitX * (crop[0] + crop[1]);
    const int64_t height = heightUnits * 16 * (frameMbsOnly ? 1 : 2) - unitY * (crop[2] + crop[3]);
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return std::nullopt;
    sps.facts.size = QSize(int(width), int(height));
    sps.facts.bitDepth = int(bitDepth);
    sps.facts.scan = frameMbsOnly ? VideoFacts::Scan::Progressive : VideoFacts::Scan::Unknown;
    if (vui)
        readVui(r, sps);
    return sps;
}

int h264PicStruct(const QByteArray &payload, const H264Sps &sps)
{
    if (!sps.picStructPresent)
        return -1;
    BitReader r(bytes(payload), size_t(payload.size()));
    r.skip(size_t(sps.cpbRemovalDelayBits + sps.dpbOutputDelayBits));
    const int picStruct = int(r.bits(4));
    return r.ok() ? picStruct : -1;
}

int h264SliceField(const QByteArray &rbsp, const H264Sps &sps)
{
    BitReader r(bytes(rbsp), size_t(rbsp.size()));
    r.ue(); // first_mb_in_slice
    r.ue(); // slice_type
    r.ue(); // pic_parameter_set_id
    if (sps.separateColourPlane)
        r.skip(2);
    r.skip(size_t(sps.log2MaxFrameNum));
    int field = 0;
    if (sps.facts.scan != VideoFacts::Scan::Progressive && r.flag())
        field = r.flag() ? 2 : 1;
    return r.ok() ? field : -1;
}
