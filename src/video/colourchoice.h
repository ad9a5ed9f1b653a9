#pragma once

#include "videofacts.h"

#include <QVideoFrameFormat>

// How a frame's YUV turns into RGB.
struct ColourChoice
{
    enum Matrix
    {
        Bt601,
        Bt709,
        Bt2020,
        Fcc,
        Smpte240
    };
    Matrix matrix = Bt601;
    bool fullRange = false;
    bool operator==(const ColourChoice &o) const
    {
        return matrix == o.matrix && fullRange == o.fullRange;
    }
};

// The stream's own description first: the facts read from it, then what the
// back end says. Where the stream says nothing (its facts known but
// untagged, or no facts and an undefined colour space), the size decides as
// players do: at least 1280 wide or over 576 high is BT.709, else BT.601. A
// back end's guess for an untagged stream is ignored: GStreamer guesses by
// height alone.
ColourChoice chooseColour(const QVideoFrameFormat &format, const VideoFacts &facts, bool haveFacts);
