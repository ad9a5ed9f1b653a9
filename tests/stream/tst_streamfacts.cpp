#include "streamfactsreader.h"
#include "videofactstap.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct BitWriter
{
    QByteArray bytes;
    int bitCount = 0;

    void bit(uint32_t b)
    {
        if (bitCount % 8 == 0)
            bytes.append('\0');
        if (b)
            bytes[bytes.size() - 1] = char(bytes.back() | (0x80 >> bitCount % 8));
        ++bitCount;
    }
    void u(int n, uint32_t v)
    {
        for (int i = n - 1; i >= 0; --i)
            bit((v >> i) & 1);
    }
    void ue(uint32_t v)
    {
        const uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> (len + 1)) != 0)
            ++len;
        u(len, 0);
        for (int i = len; i >= 0; --i)
            bit(uint32_t(x >> i) & 1);
    }
    // A NAL unit: header, payload with the stop bit, escaped.
    QByteArray unit(QByteArray header)
    {
        bit(1);
        while (bitCount % 8)
            bit(0);
        int zeros = 0;
        for (const char b : std::as_const(bytes)) {
            if (zeros >= 2 && uchar(b) <= 3) {
                header.append('\3');
                zeros = 0;
            }
            header.append(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return QByteArray("\0\0\0\1", 4) + header;
    }
};

// An H.264 sequence with what the tests vary; -1 leaves a field out.
struct Sps
{
    int profile = 100;
    int bitDepth = 8;
    int widthMbs = 45;
    int heightUnits = 36;
    bool frameMbsOnly = true;
    bool mbaff = false;
    int cropBottom = 0;
    int sarCode = -1;
    int sarW = 0;
    int sarH = 0;
    int fullRange = -1;
    int colours = -1; // primaries, transfer and matrix alike
    bool timing = false;
    bool hrd = false;
    bool picStruct = false;
    int picStructCode = -1; // in a timing message before the first slice
    int sliceField = 0;     // 0 frame, 1 top, 2 bottom
};

QByteArray h264Units(const Sps &s)
{
    BitWriter w;
    w.u(8, uint32_t(s.profile));
    w.u(16, 40);
    w.ue(0);
    if (s.profile == 100 || s.profile == 110) {
        w.ue(1);
        w.ue(uint32_t(s.bitDepth - 8));
        w.ue(uint32_t(s.bitDepth - 8));
        w.u(2, 0);
    }
    w.ue(0); // log2_max_frame_num_minus4
    w.ue(2); // pic_order_cnt_type
    w.ue(1);
    w.u(1, 0);
    w.ue(uint32_t(s.widthMbs - 1));
    w.ue(uint32_t(s.heightUnits - 1));
    w.u(1, s.frameMbsOnly);
    if (!s.frameMbsOnly)
        w.u(1, s.mbaff);
    w.u(1, 1);
    w.u(1, s.cropBottom > 0);
    if (s.cropBottom > 0) {
        w.ue(0), w.ue(0), w.ue(0), w.ue(uint32_t(s.cropBottom));
    }
    const bool vui = s.sarCode >= 0 || s.fullRange >= 0 || s.timing || s.hrd || s.picStruct;
    w.u(1, vui);
    if (vui) {
        w.u(1, s.sarCode >= 0);
        if (s.sarCode >= 0) {
            w.u(8, uint32_t(s.sarCode));
            if (s.sarCode == 255)
                w.u(16, uint32_t(s.sarW)), w.u(16, uint32_t(s.sarH));
        }
        w.u(1, 0);
        w.u(1, s.fullRange >= 0);
        if (s.fullRange >= 0) {
            w.u(3, 5);
            w.u(1, uint32_t(s.fullRange));
            w.u(1, s.colours >= 0);
            if (s.colours >= 0)
                w.u(8, uint32_t(s.colours)), w.u(8, uint32_t(s.colours)),
                    w.u(8, uint32_t(s.colours));
        }
        w.u(1, 0);
        w.u(1, s.timing);
        if (s.timing) // 1/50: long runs of zero bits, escaped in the unit
            w.u(32, 1), w.u(32, 50), w.u(1, 1);
        w.u(1, s.hrd);
        if (s.hrd) {
            w.ue(0), w.u(8, 0), w.ue(1000), w.ue(2000), w.u(1, 0);
            w.u(5, 23), w.u(5, 6), w.u(5, 9), w.u(5, 24); // delays of 7 and 10 bits
        }
        w.u(1, 0);
        if (s.hrd)
            w.u(1, 0);
        w.u(1, s.picStruct);
        w.u(1, 0);
    }
    QByteArray units = w.unit("\x67");
    if (s.picStructCode >= 0) {
        BitWriter t;
        if (s.hrd)
            t.u(7, 5), t.u(10, 3);
        t.u(4, uint32_t(s.picStructCode));
        t.u(4, 0);
        BitWriter sei;
        sei.u(8, 1);
        sei.u(8, uint32_t(t.bytes.size()));
        for (const char b : std::as_const(t.bytes))
            sei.u(8, uchar(b));
        units += sei.unit("\x06");
    }
    BitWriter slice;
    slice.ue(0), slice.ue(7), slice.ue(0), slice.u(4, 0);
    if (!s.frameMbsOnly) {
        slice.u(1, s.sliceField > 0);
        if (s.sliceField > 0)
            slice.u(1, s.sliceField == 2);
    }
    slice.u(16, 0xabcd);
    return units + slice.unit("\x65");
}

QByteArray tsPacket(int pid, bool start, const QByteArray &payload)
{
    QByteArray p;
    p.append('\x47').append(char((start ? 0x40 : 0) | pid >> 8)).append(char(pid & 0xff));
    if (payload.size() >= 184)
        return p.append('\x10') + payload.left(184);
    p.append('\x30').append(char(183 - payload.size()));
    if (payload.size() < 183)
        p.append('\0').append(QByteArray(182 - payload.size(), '\xff'));
    return p + payload;
}

// A transport stream with one program whose video stream carries es.
QByteArray transportStream(const QByteArray &es, uchar streamType = 0x1b)
{
    const QByteArray crc(4, '\0');
    QByteArray ts = tsPacket(0, true, QByteArray("\0\0\xb0\x0d\0\1\xc1\0\0\0\1\xf0\0", 13) + crc);
    ts += tsPacket(0x1000, true,
                   QByteArray("\0\2\xb0\x12\0\1\xc1\0\0\xe1\0\xf0\0", 13) + char(streamType) +
                       QByteArray("\xe1\0\xf0\0", 4) + crc);
    // The next picture's packet ends the last unit.
    const QByteArray header("\0\0\1\xe0\0\0\x80\0\0", 9);
    for (const QByteArray &pes : {header + es, header + QByteArray("\0\0\1\x09\xf0", 5)}) {
        for (int i = 0; i < pes.size(); i += 184)
            ts += tsPacket(0x100, i == 0, pes.mid(i, 184));
    }
    return ts;
}

VideoFacts facts(QSize size, VideoFacts::Scan scan, int depth = 8, int sarNum = 0, int sarDen = 0)
{
    VideoFacts f;
    f.size = size;
    f.scan = scan;
    f.bitDepth = depth;
    f.sarNum = sarNum;
    f.sarDen = sarDen;
    return f;
}

QString describe(const std::optional<VideoFacts> &f)
{
    if (!f)
        return QStringLiteral("no facts");
    return QStringLiteral("%1x%2 sar %3:%4 scan %5 depth %6 colours %7/%8/%9 range %10")
        .arg(f->size.width())
        .arg(f->size.height())
        .arg(f->sarNum)
        .arg(f->sarDen)
        .arg(int(f->scan))
        .arg(f->bitDepth)
        .arg(f->primaries)
        .arg(f->transfer)
        .arg(f->matrix)
        .arg(f->fullRange);
}

// Fed in pieces of the given size, as the relay's blocks come.
std::optional<VideoFacts> read(const QByteArray &body, int piece)
{
    StreamFactsReader reader;
    for (qsizetype i = 0; i < body.size() && !reader.finished(); i += piece) {
        if (auto f = reader.feed(body.constData() + i, qMin<qsizetype>(piece, body.size() - i)))
            return f;
    }
    return std::nullopt;
}

} // namespace

class TstStreamFacts : public QObject
{
    Q_OBJECT

private slots:
    void crafted_data();
    void crafted();
    void hostile_data();
    void hostile();
    void truncatedParameterSets();
    void encodedByFfmpeg_data();
    void encodedByFfmpeg();
    void tapReportsChanges();
};

void TstStreamFacts::crafted_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<VideoFacts>("expected");
    const auto P = VideoFacts::Scan::Progressive, T = VideoFacts::Scan::TopFieldFirst,
               B = VideoFacts::Scan::BottomFieldFirst;
    const QSize sd(720, 576);
    const int table[][2] = {{1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11},
                            {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33},
                            {160, 99}, {4, 3},   {3, 2},   {2, 1}};
    for (int code = 1; code <= 16; ++code) {
        Sps s;
        s.sarCode = code;
        QTest::addRow("sar code %d", code)
            << transportStream(h264Units(s))
            << facts(sd, P, 8, table[code - 1][0], table[code - 1][1]);
    }
    Sps s;
    s.sarCode = 255, s.sarW = 64, s.sarH = 45;
    QTest::newRow("sar extended 64:45") << transportStream(h264Units(s)) << facts(sd, P, 8, 64, 45);
    s.sarW = 0;
    QTest::newRow("sar extended 0:45") << transportStream(h264Units(s)) << facts(sd, P);
    s.sarCode = 17;
    QTest::newRow("sar reserved code") << transportStream(h264Units(s)) << facts(sd, P);

    s = Sps();
    s.widthMbs = 120, s.heightUnits = 68, s.cropBottom = 4;
    QTest::newRow("1080 cropped from 1088")
        << transportStream(h264Units(s)) << facts(QSize(1920, 1080), P);
    s.frameMbsOnly = false, s.heightUnits = 34, s.cropBottom = 2;
    QTest::newRow("1080 of fields, cropped")
        << transportStream(h264Units(s)) << facts(QSize(1920, 1080), P);
    s = Sps();
    s.profile = 110, s.bitDepth = 10;
    QTest::newRow("10 bit") << transportStream(h264Units(s)) << facts(sd, P, 10);
    s = Sps();
    s.profile = 66;
    QTest::newRow("baseline, 8 bit") << transportStream(h264Units(s)) << facts(sd, P, 8);

    s = Sps();
    s.fullRange = 1, s.colours = 1;
    VideoFacts tagged = facts(sd, P);
    tagged.fullRange = 1, tagged.primaries = tagged.transfer = tagged.matrix = 1;
    QTest::newRow("bt709 full range") << transportStream(h264Units(s)) << tagged;
    s.fullRange = 0, s.colours = -1;
    tagged.fullRange = 0, tagged.primaries = tagged.transfer = tagged.matrix = 2;
    QTest::newRow("limited range, no colours") << transportStream(h264Units(s)) << tagged;

    s = Sps();
    s.frameMbsOnly = false, s.heightUnits = 18, s.sliceField = 1;
    QTest::newRow("field pictures, top first") << transportStream(h264Units(s)) << facts(sd, T);
    s.sliceField = 2;
    QTest::newRow("field pictures, bottom first") << transportStream(h264Units(s)) << facts(sd, B);
    s.sliceField = 0;
    QTest::newRow("fields allowed, frames coded") << transportStream(h264Units(s)) << facts(sd, P);
    s.mbaff = true;
    QTest::newRow("mbaff, nothing said") << transportStream(h264Units(s)) << facts(sd, T);
    s.picStruct = true, s.picStructCode = 4;
    QTest::newRow("mbaff, bottom-top") << transportStream(h264Units(s)) << facts(sd, B);
    s.picStructCode = 0;
    QTest::newRow("mbaff, marked frame") << transportStream(h264Units(s)) << facts(sd, P);
    s.picStructCode = 3, s.hrd = true, s.timing = true;
    QTest::newRow("mbaff, top-bottom after delays")
        << transportStream(h264Units(s)) << facts(sd, T);
    s.picStructCode = 6;
    QTest::newRow("mbaff, bottom-top-bottom after delays")
        << transportStream(h264Units(s)) << facts(sd, B);
}

void TstStreamFacts::crafted()
{
    QFETCH(QByteArray, body);
    QFETCH(VideoFacts, expected);
    for (const int piece : {int(body.size()), 188, 7, 1})
        QCOMPARE(describe(read(body, piece)), describe(expected));
}

void TstStreamFacts::hostile_data()
{
    QTest::addColumn<QByteArray>("body");
    const QByteArray good = transportStream(h264Units(Sps()));
    QTest::newRow("playlist") << QByteArray("#EXTM3U\n#EXT-X-VERSION:3\n");
    QTest::newRow("sync lost before the video") << good.left(376) + QByteArray(188, 'x') + good;
    QTest::newRow("mpeg-2 video") << transportStream(h264Units(Sps()), 0x02);
    QTest::newRow("no program") << good.mid(188);
    Sps huge;
    huge.widthMbs = 70000;
    QTest::newRow("picture too large") << transportStream(h264Units(huge));
    BitWriter w;
    w.u(8, 100), w.u(16, 0), w.ue(0), w.ue(9);
    QTest::newRow("chroma format 9") << transportStream(w.unit("\x67"));
    BitWriter zeros;
    zeros.u(32, 0), zeros.u(32, 0), zeros.u(32, 0);
    QTest::newRow("endless exp-golomb") << transportStream(zeros.unit("\x67"));
    // Past the bound, a stream without parameter sets is no longer read.
    QTest::newRow("no parameter sets in 1 MiB")
        << transportStream(QByteArray(1100 * 1024, '\x11') + h264Units(Sps()));
}

void TstStreamFacts::hostile()
{
    QFETCH(QByteArray, body);
    StreamFactsReader reader;
    std::optional<VideoFacts> f;
    for (qsizetype i = 0; i < body.size() && !f; i += 1000)
        f = reader.feed(body.constData() + i, qMin<qsizetype>(1000, body.size() - i));
    QCOMPARE(describe(f), describe(std::nullopt));
    QVERIFY(reader.finished() || body.size() < StreamFactsReader::kMaxInspectedBytes);
}

void TstStreamFacts::truncatedParameterSets()
{
    Sps s;
    s.sarCode = 255, s.sarW = 64, s.sarH = 45, s.fullRange = 0, s.colours = 1, s.hrd = true;
    const QByteArray units = h264Units(s);
    const qsizetype spsEnd = units.indexOf(QByteArray("\0\0\0\1", 4), 4);
    // Cut at every byte, then followed by a good frame start: what is read
    // is either nothing, or the fields before the VUI with whole groups.
    for (qsizetype cut = 5; cut < spsEnd; ++cut) {
        const auto f = read(transportStream(units.left(cut) + units.mid(spsEnd)), 188);
        if (!f)
            continue;
        QCOMPARE(f->size, QSize(720, 576));
        QVERIFY2(f->sarNum == 0 || (f->sarNum == 64 && f->sarDen == 45), qPrintable(describe(f)));
        QVERIFY2(f->fullRange == -1 || f->matrix == 1, qPrintable(describe(f)));
    }
}

void TstStreamFacts::encodedByFfmpeg_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<VideoFacts>("expected");
    const QString src = QStringLiteral("testsrc2=size=%1:rate=25");
    auto row = [&](const char *name, const QString &size, const QString &args, VideoFacts f) {
        QTest::newRow(name) << (QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"),
                                            QStringLiteral("-i"), src.arg(size)} +
                                args.split(QLatin1Char(' ')))
                            << f;
    };
    const auto P = VideoFacts::Scan::Progressive, T = VideoFacts::Scan::TopFieldFirst,
               B = VideoFacts::Scan::BottomFieldFirst;
    row("576i 16:9, top first", QStringLiteral("720x576"),
        QStringLiteral("-vf setsar=64/45 -c:v libx264 -flags +ildct+ilme -top 1"),
        facts(QSize(720, 576), T, 8, 64, 45));
    row("576i 4:3, bottom first", QStringLiteral("720x576"),
        QStringLiteral("-vf setsar=16/15 -c:v libx264 -x264-params bff=1"),
        facts(QSize(720, 576), B, 8, 16, 15));
    row("1080i 4:3 samples", QStringLiteral("1440x1080"),
        QStringLiteral("-vf setsar=4/3 -c:v libx264 -x264-params tff=1"),
        facts(QSize(1440, 1080), T, 8, 4, 3));
    row("high 10", QStringLiteral("640x360"),
        QStringLiteral("-c:v libx264 -profile:v high10 -pix_fmt yuv420p10le"),
        facts(QSize(640, 360), P, 10, 1, 1));
    VideoFacts bt709 = facts(QSize(1280, 720), P, 8, 1, 1);
    bt709.primaries = bt709.transfer = bt709.matrix = 1, bt709.fullRange = 0;
    row("bt709 tagged", QStringLiteral("1280x720"),
        QStringLiteral("-c:v libx264 -colorspace bt709 -color_primaries bt709 -color_trc bt709 "
                       "-color_range tv"),
        bt709);
    row("untagged 1280x544", QStringLiteral("1280x544"), QStringLiteral("-c:v libx264"),
        facts(QSize(1280, 544), P, 8, 1, 1));
    VideoFacts hevc = facts(QSize(720, 576), P, 8, 16, 15);
    hevc.primaries = hevc.transfer = hevc.matrix = 1, hevc.fullRange = 0;
    row("h265 4:3 bt709", QStringLiteral("720x576"),
        QStringLiteral("-vf setsar=16/15 -c:v libx265 -x265-params log-level=0 -colorspace "
                       "bt709 -color_primaries bt709 -color_trc bt709"),
        hevc);
}

void TstStreamFacts::encodedByFfmpeg()
{
    QFETCH(QStringList, args);
    QFETCH(VideoFacts, expected);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        QSKIP("ffmpeg is not installed");
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("s.ts"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{QStringLiteral("-v"), QStringLiteral("error")} + args +
                     QStringList{QStringLiteral("-frames:v"), QStringLiteral("3"), out});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QCOMPARE(ffmpeg.exitCode(), 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(describe(read(file.readAll(), 1316)), describe(expected));
}

void TstStreamFacts::tapReportsChanges()
{
    VideoFactsTap tap;
    QSignalSpy reported(&tap, &VideoFactsTap::factsChanged);
    Sps pal;
    pal.sarCode = 255, pal.sarW = 64, pal.sarH = 45;
    Sps square;
    // Segments of one format, a switch, then the first again; a playlist in
    // between changes nothing.
    for (const Sps &s : {pal, pal, square, square, pal}) {
        for (const QByteArray &body : {QByteArray("#EXTM3U\n"), transportStream(h264Units(s))}) {
            StreamFactsReader reader;
            for (qsizetype i = 0; i < body.size(); i += 500)
                tap.feed(reader, body.constData() + i, qMin<qsizetype>(500, body.size() - i));
        }
    }
    QCOMPARE(reported.size(), 3);
    QCOMPARE(reported.at(1).at(0).value<VideoFacts>().sarNum, 0);
    QCOMPARE(reported.at(2).at(0).value<VideoFacts>().sarNum, 64);
    QCOMPARE(describe(tap.lastFacts()), describe(reported.at(2).at(0).value<VideoFacts>()));
}

QTEST_GUILESS_MAIN(TstStreamFacts)
#include "tst_streamfacts.moc"
