#include "videofactsbook.h"

namespace {
// A master playlist rarely offers more variants than this.
constexpr int kSizesKept = 8;
} // namespace

void VideoFactsBook::add(const VideoFacts &facts)
{
    entries.removeIf([&](const VideoFacts &f) { return f.size == facts.size; });
    entries.prepend(facts);
    while (entries.size() > kSizesKept)
        entries.removeLast();
}

const VideoFacts *VideoFactsBook::find(const QSize &frameSize) const
{
    for (const VideoFacts &f : entries)
        if (f.size == frameSize)
            return &f;
    return nullptr;
}
