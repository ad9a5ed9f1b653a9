#pragma once

#include "h264sps.h"
#include "h265sps.h"
#include "nalunits.h"
#include "tsvideostream.h"
#include "videofacts.h"

#include <optional>

// Reads the picture facts from one relayed response as its body passes, fed
// block by block. Only a body that starts like a transport stream is read,
// and only its first kMaxInspectedBytes: the parameter sets and the first
// picture's headers come at the start of every segment.
class StreamFactsReader
{
public:
    static constexpr qint64 kMaxInspectedBytes = 1024 * 1024;

    StreamFactsReader();
    StreamFactsReader(const StreamFactsReader &) = delete;
    StreamFactsReader &operator=(const StreamFactsReader &) = delete;

    // The facts once, in the block that completes them; empty otherwise.
    std::optional<VideoFacts> feed(const char *data, qsizetype size);
    // Nothing more will be read from this body.
    bool finished() const { return done; }

private:
    void unit(const QByteArray &nal);
    void h264Unit(const QByteArray &nal);
    void h265Unit(const QByteArray &nal);
    void settle(VideoFacts facts, int picStruct);

    TsVideoStream transport;
    NalSplitter splitter;
    qint64 inspected = 0;
    bool done = false;
    std::optional<VideoFacts> found;
    std::optional<H264Sps> h264;
    std::optional<H265Sps> h265;
    int picStruct = -1;
};
