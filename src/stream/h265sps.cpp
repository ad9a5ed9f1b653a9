#include "h265sps.h"

#include "bitreader.h"
#include "vuifields.h"

#include <algorithm>

namespace {

constexpr int kMaxDimension = 16384;
constexpr uint32_t kMaxShortTermSets = 64;
constexpr uint32_t kMaxDeltaPocs = 32;

const uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const uint8_t *>(a.constData());
}

// Returns whether the general source is marked interlaced and not progressive.
bool readProfileTierLevel(BitReader &r, int maxSubLayersMinus1)
{
    r.skip(8 + 32); // profile space, tier, profile, compatibility flags
    const bool progressive = r.flag();
    const bool interlaced = r.flag();
    r.skip(2 + 44 + 8);
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.flag();
        levelPresent[i] = r.flag();
    }
    if (maxSubLayersMinus1 > 0)
        r.skip(size_t(2 * (8 - maxSubLayersMinus1)));
    for (int i = 0; i < maxSubLayersMinus1; ++i)
        r.skip((profilePresent[i] ? 88 : 0) + (levelPresent[i] ? 8 : 0));
    return interlaced && !progressive;
}

void skipScalingListData(BitReader &r)
{
    for (int size = 0; size < 4; ++size) {
        for (int matrix = 0; matrix < 6 && r.ok(); matrix += size == 3 ? 3 : 1) {
            if (!r.flag()) {
                r.ue(); // scaling_list_pred_matrix_id_delta
                continue;
            }
            const int coefficients = std::min(64, 1 << (4 + (size << 1)));
            if (size > 1)
                r.se();
            for (int i = 0; i < coefficients && r.ok(); ++i)
                r.se();
        }
    }
}

// Returns false on a set that cannot be.
bool skipShortTermSets(BitReader &r, uint32_t count)
{
    uint32_t deltaPocs[kMaxShortTermSets] = {};
    for (uint32_t idx = 0; idx < count && r.ok(); ++idx) {
        if (idx != 0 && r.flag()) {
            r.skip(1); // delta_rps_sign
            r.ue();    // abs_delta_rps_minus1
            uint32_t n = 0;
            for (uint32_t j = 0; j <= deltaPocs[idx - 1] && r.ok(); ++j) {
                const bool used = r.flag();
                if (used || r.flag())
                    ++n;
            }
            deltaPocs[idx] = n;
        } else {
            const uint32_t negative = r.ue();
            const uint32_t positive = r.ue();
            if (negative > 16 || positive > 16)
                return false;
            for (uint32_t j = 0; j < negative + positive && r.ok(); ++j) {
                r.ue();
                r.skip(1);
            }
            deltaPocs[idx] = negative + positive;
        }
        if (deltaPocs[idx] > kMaxDeltaPocs)
            return false;
    }
    return r.ok();
}

void readVui(BitReader &r, H265Sps &sps)
{
    if (!readVuiPictureFields(r, sps.facts))
        return;
    r.skip(1); // neutral_chroma_indication_flag
    const bool fieldSequence = r.flag();
    const bool frameFieldInfo = r.flag();
    if (!r.ok())
        return;
    if (fieldSequence)
        sps.facts.scan = VideoFacts::Scan::Unknown;
    sps.frameFieldInfoPresent = frameFieldInfo;
}

} // namespace

std::optional<H265Sps> parseH265Sps(const QByteArray &rbsp)
{
    BitReader r(bytes(rbsp), size_t(rbsp.size()));
    H265Sps sps;
    r.skip(4); // sps_video_parameter_set_id
    const int maxSubLayersMinus1 = int(r.bits(3));
    if (maxSubLayersMinus1 > 6)
        return std::nullopt;
    r.skip(1);
    const bool interlacedSource = readProfileTierLevel(r, maxSubLayersMinus1);
    r.ue(); // sps_seq_parameter_set_id
    const uint32_t chromaFormat = r.ue();
    if (chromaFormat > 3)
        return std::nullopt;
    bool separateColourPlane = false;
    if (chromaFormat == 3)
        separateColourPlane = r.flag();
    const int64_t width = r.ue();
    const int64_t height = r.ue();
    int64_t crop[4] = {};
    if (r.flag()) {
        for (int64_t &c : crop)
            c = r.ue();
    }
    const uint64_t bitDepth = uint64_t(r.ue()) + 8;
    r.ue(); // bit_depth_chroma_minus8
    const uint64_t log2MaxPocLsb = uint64_t(r.ue()) + 4;
    if (!r.ok() || bitDepth > 16 || log2MaxPocLsb > 16)
        return std::nullopt;

    const bool monochrome = chromaFormat == 0 || separateColourPlane;
    const int64_t unitX = monochrome || chromaFormat == 3 ? 1 : 2;
    const int64_t unitY = monochrome || chromaFormat != 1 ? 1 : 2;
    const int64_t croppedWidth = width - unitX * (crop[0] + crop[1]);
    const int64_t croppedHeight = height - unitY * (crop[2] + crop[3]);
    if (croppedWidth <= 0 || croppedHeight <= 0 || croppedWidth > kMaxDimension ||
        croppedHeight > kMaxDimension)
        return std::nullopt;
    sps.facts.size = QSize(int(croppedWidth), int(croppedHeight));
    sps.facts.bitDepth = int(bitDepth);
    sps.facts.scan = interlacedSource ? VideoFacts::Scan::Unknown : VideoFacts::Scan::Progressive;

    // The rest only leads up to the VUI.
    const bool orderingForEach = r.flag();
    for (int i = orderingForEach ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        r.ue();
        r.ue();
        r.ue();
    }
    for (int i = 0; i < 6; ++i)
        r.ue(); // coding and transform block sizes, hierarchy depths
    if (r.flag() && r.flag())
        skipScalingListData(r);
    r.skip(2); // amp_enabled_flag, sample_adaptive_offset_enabled_flag
    if (r.flag()) {
        r.skip(8); // PCM bit depths
        r.ue();
        r.ue();
        r.skip(1);
    }
    const uint32_t shortTermSets = r.ue();
    if (shortTermSets > kMaxShortTermSets || !skipShortTermSets(r, shortTermSets))
        return sps;
    if (r.flag()) {
        const uint32_t longTerm = r.ue();
        if (longTerm > 32)
            return sps;
        for (uint32_t i = 0; i < longTerm && r.ok(); ++i)
            r.skip(size_t(log2MaxPocLsb) + 1);
    }
    r.skip(2); // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
    if (r.flag() && r.ok())
        readVui(r, sps);
    return sps;
}

int h265PicStruct(const QByteArray &payload, const H265Sps &sps)
{
    if (!sps.frameFieldInfoPresent)
        return -1;
    BitReader r(bytes(payload), size_t(payload.size()));
    const int picStruct = int(r.bits(4));
    return r.ok() ? picStruct : -1;
}
