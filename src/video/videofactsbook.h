#pragma once

#include "videofacts.h"

#include <QList>

// The facts of the last few picture sizes the stream announced. Variants of
// different sizes alternate as the quality changes, and their facts may come
// before or after their first frames, so a frame finds its own by its size.
class VideoFactsBook
{
public:
    void add(const VideoFacts &facts);
    // Null when none has that size: square samples, progressive, untagged.
    const VideoFacts *find(const QSize &frameSize) const;
    void clear() { entries.clear(); }

private:
    QList<VideoFacts> entries; // newest first
};
