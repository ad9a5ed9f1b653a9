#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

// Cuts an Annex B byte stream, fed in pieces of any size, into NAL units.
// Only the first kKeptBytes of each unit are kept, and handed over as soon as
// they are there: the headers read from them are near the start, and a
// slice's data can be hundreds of kilobytes.
class NalSplitter
{
public:
    static constexpr int kKeptBytes = 4096;
    using Sink = std::function<void(const QByteArray &unit)>;

    explicit NalSplitter(Sink sink) : sink(std::move(sink)) {}

    void feed(const uint8_t *data, size_t size);
    // The unit under way is complete: the next one starts a new packet.
    void flush();

private:
    Sink sink;
    QByteArray unit;
    bool inUnit = false;
    int zeros = 0;
};

// The payload with its emulation-prevention bytes (00 00 03) removed.
QByteArray unescapedPayload(const QByteArray &unit, int headerBytes);
