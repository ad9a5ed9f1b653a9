#include "colourchoice.h"

namespace {

// ITU-T H.273 matrix coefficients; false for "unspecified" and codes this
// player does not convert (those fall back to the size rule).
bool fromCode(int code, ColourChoice::Matrix *matrix)
{
    switch (code) {
    case 1:
        *matrix = ColourChoice::Bt709;
        return true;
    case 4:
        *matrix = ColourChoice::Fcc;
        return true;
    case 5:
    case 6:
        *matrix = ColourChoice::Bt601;
        return true;
    case 7:
        *matrix = ColourChoice::Smpte240;
        return true;
    case 9:
    case 10:
        *matrix = ColourChoice::Bt2020;
        return true;
    default:
        return false;
    }
}

bool fromBackEnd(QVideoFrameFormat::ColorSpace space, ColourChoice::Matrix *matrix)
{
    switch (space) {
    case QVideoFrameFormat::ColorSpace_BT601:
        *matrix = ColourChoice::Bt601;
        return true;
    case QVideoFrameFormat::ColorSpace_BT709:
        *matrix = ColourChoice::Bt709;
        return true;
    case QVideoFrameFormat::ColorSpace_BT2020:
        *matrix = ColourChoice::Bt2020;
        return true;
    default:
        return false;
    }
}

} // namespace

ColourChoice chooseColour(const QVideoFrameFormat &format, const VideoFacts &facts, bool haveFacts)
{
    ColourChoice c;
    const bool said =
        haveFacts ? fromCode(facts.matrix, &c.matrix) : fromBackEnd(format.colorSpace(), &c.matrix);
    if (!said) {
        const QSize size = format.frameSize();
        c.matrix =
            size.width() >= 1280 || size.height() > 576 ? ColourChoice::Bt709 : ColourChoice::Bt601;
    }
    if (haveFacts && facts.fullRange >= 0)
        c.fullRange = facts.fullRange == 1;
    else
        c.fullRange = format.colorRange() == QVideoFrameFormat::ColorRange_Full;
    return c;
}
