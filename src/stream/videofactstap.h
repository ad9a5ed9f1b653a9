#pragma once

#include "videofacts.h"

#include <QMutex>
#include <QObject>

#include <optional>

class StreamFactsReader;

// Where the relay hands the bodies it passes on, from its own thread, and the
// player learns what the stream's pictures are. Reports only a change: every
// segment says the same as long as the channel sends the same format.
class VideoFactsTap : public QObject
{
    Q_OBJECT

public:
    explicit VideoFactsTap(QObject *parent = nullptr);

    // One body block; reader holds what this body has shown so far.
    void feed(StreamFactsReader &reader, const char *data, qsizetype size);

    std::optional<VideoFacts> lastFacts() const;

signals:
    // Emitted on the feeding thread; receivers elsewhere get it queued.
    void factsChanged(const VideoFacts &facts);

private:
    mutable QMutex mutex;
    std::optional<VideoFacts> last;
};
