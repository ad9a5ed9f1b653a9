#pragma once

#include <QMetaType>
#include <QSize>

// What the stream itself says about its pictures and Qt's media back ends do
// not pass on: shape of a sample, scanning, bit depth, colour description.
// Read from the video's parameter sets as the segments pass the relay.
struct VideoFacts
{
    enum class Scan
    {
        Unknown,
        Progressive,
        TopFieldFirst,
        BottomFieldFirst
    };

    // The picture as decoded, after cropping: frames of this size are the
    // ones these facts describe.
    QSize size;
    // Sample aspect ratio; 0:0 when the stream does not say (square).
    int sarNum = 0;
    int sarDen = 0;
    Scan scan = Scan::Unknown;
    // Luma bit depth; 0 when unknown.
    int bitDepth = 0;
    // Codes as in ITU-T H.273 (2 = unspecified); fullRange -1 when unknown.
    int matrix = 2;
    int transfer = 2;
    int primaries = 2;
    int fullRange = -1;

    bool interlaced() const
    {
        return scan == Scan::TopFieldFirst || scan == Scan::BottomFieldFirst;
    }
    bool operator==(const VideoFacts &o) const
    {
        return size == o.size && sarNum == o.sarNum && sarDen == o.sarDen && scan == o.scan &&
               bitDepth == o.bitDepth && matrix == o.matrix && transfer == o.transfer &&
               primaries == o.primaries && fullRange == o.fullRange;
    }
    bool operator!=(const VideoFacts &o) const { return !(*this == o); }
};
Q_DECLARE_METATYPE(VideoFacts)
