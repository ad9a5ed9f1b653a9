#include "videofactstap.h"

#include "streamfactsreader.h"

VideoFactsTap::VideoFactsTap(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<VideoFacts>();
}

void VideoFactsTap::feed(StreamFactsReader &reader, const char *data, qsizetype size)
{
    if (reader.finished())
        return;
    const std::optional<VideoFacts> facts = reader.feed(data, size);
    if (!facts)
        return;
    {
        const QMutexLocker lock(&mutex);
        if (last == facts)
            return;
        last = facts;
    }
    emit factsChanged(*facts);
}

std::optional<VideoFacts> VideoFactsTap::lastFacts() const
{
    const QMutexLocker lock(&mutex);
    return last;
}
