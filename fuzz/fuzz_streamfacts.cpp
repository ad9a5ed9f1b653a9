#include "fuzzcheck.h"
#include "h264sps.h"
#include "h265sps.h"
#include "nalunits.h"
#include "streamfactsreader.h"

#include <cstddef>
#include <cstdint>

namespace {

void checkFacts(const VideoFacts &f)
{
    check(f.size.width() > 0 && f.size.width() <= 16384, "width out of range");
    check(f.size.height() > 0 && f.size.height() <= 16384, "height out of range");
    check((f.sarNum == 0) == (f.sarDen == 0) && f.sarNum >= 0 && f.sarDen >= 0, "half a ratio");
    check(f.bitDepth >= 8 && f.bitDepth <= 16, "bit depth out of range");
    for (const int code : {f.matrix, f.transfer, f.primaries})
        check(code >= 0 && code <= 255, "colour code out of range");
    check(f.fullRange >= -1 && f.fullRange <= 1, "range out of range");
}

QByteArray packet(int pid, bool start, const QByteArray &payload)
{
    QByteArray p(4, '\0');
    p[0] = '\x47', p[1] = char((start ? 0x40 : 0) | pid >> 8), p[2] = char(pid);
    if (payload.size() >= 184) {
        p[3] = '\x10';
        return p + payload.left(184);
    }
    p[3] = '\x30';
    p.append(char(183 - payload.size()));
    if (payload.size() < 183)
        p.append('\0').append(QByteArray(182 - payload.size(), '\xff'));
    return p + payload;
}

// The input as the video stream of a one-program transport stream, so that
// mutations reach the parameter sets instead of the packet headers.
QByteArray wrapped(const QByteArray &es, char streamType)
{
    QByteArray ts = packet(0, true, QByteArray("\0\0\xb0\x0d\0\1\xc1\0\0\0\1\xf0\0\0\0\0\0", 17));
    ts += packet(0x1000, true,
                 QByteArray("\0\2\xb0\x12\0\1\xc1\0\0\xe1\0\xf0\0", 13) + streamType +
                     QByteArray("\xe1\0\xf0\0\0\0\0\0", 8));
    // A second picture's packet ends the input's last unit.
    const QByteArray header("\0\0\1\xe0\0\0\x80\0\0", 9);
    for (const QByteArray &pes : {header + es, header + QByteArray("\0\0\1\x09\xf0", 5)}) {
        for (qsizetype i = 0; i < pes.size(); i += 184)
            ts += packet(0x100, i == 0, pes.mid(i, 184));
    }
    return ts;
}

std::optional<VideoFacts> readInPieces(const QByteArray &body, qsizetype piece)
{
    StreamFactsReader reader;
    qint64 fed = 0;
    for (qsizetype i = 0; i < body.size(); i += piece) {
        if (reader.finished())
            break;
        fed += qMin(piece, body.size() - i);
        if (auto f = reader.feed(body.constData() + i, qMin(piece, body.size() - i))) {
            check(reader.finished(), "facts given, reading goes on");
            check(fed - piece < StreamFactsReader::kMaxInspectedBytes, "facts past the bound");
            return f;
        }
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0] % 3;
    const qsizetype piece = 1 + data[0] / 3 % 64;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    if (const auto sps = parseH264Sps(input))
        checkFacts(sps->facts);
    if (const auto sps = parseH265Sps(input))
        checkFacts(sps->facts);
    check(unescapedPayload(input, 0).size() <= input.size(), "unescaping grew the unit");

    const QByteArray body = mode == 0 ? input : wrapped(input, mode == 1 ? '\x1b' : '\x24');
    const auto whole = readInPieces(body, qMax<qsizetype>(1, body.size()));
    const auto pieces = readInPieces(body, piece);
    check(whole.has_value() == pieces.has_value() && (!whole || *whole == *pieces),
          "the facts depend on how the body is cut");
    if (whole) {
        checkFacts(*whole);
        check(whole->scan != VideoFacts::Scan::Unknown, "facts without a scan");
    }
    return 0;
}
