#include "vuifields.h"

#include "bitreader.h"

namespace {

constexpr uint32_t kExtendedSar = 255;

struct Ratio
{
    int num;
    int den;
};

// Table E-1 of H.264, the same in H.265; code 0 is unspecified.
constexpr Ratio kSarCodes[] = {{0, 0},   {1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33},
                               {24, 11}, {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11},
                               {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};

} // namespace

bool readVuiPictureFields(BitReader &r, VideoFacts &facts)
{
    if (r.flag()) {
        const uint32_t code = r.bits(8);
        Ratio sar{0, 0};
        if (code == kExtendedSar) {
            sar.num = int(r.bits(16));
            sar.den = int(r.bits(16));
        } else if (code < sizeof kSarCodes / sizeof kSarCodes[0]) {
            sar = kSarCodes[code];
        }
        if (!r.ok())
            return false;
        // A zero term means the ratio is unknown, like a reserved code.
        if (sar.num > 0 && sar.den > 0) {
            facts.sarNum = sar.num;
            facts.sarDen = sar.den;
        }
    }
    if (r.flag())
        r.skip(1); // overscan_appropriate_flag
    if (r.flag()) {
        r.skip(3); // video_format
        const int fullRange = r.flag() ? 1 : 0;
        int primaries = 2;
        int transfer = 2;
        int matrix = 2;
        if (r.flag()) {
            primaries = int(r.bits(8));
            transfer = int(r.bits(8));
            matrix = int(r.bits(8));
        }
        if (!r.ok())
            return false;
        facts.fullRange = fullRange;
        facts.primaries = primaries;
        facts.transfer = transfer;
        facts.matrix = matrix;
    }
    if (r.flag()) {
        r.ue();
        r.ue();
    }
    return r.ok();
}
