#include "hlsmasterparser.h"

#include <QtTest>

class TestHlsMasterParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void label_data();
    void label();
};

// Each expected variant is written "uri|bandwidth|resolution|name".
static QStringList flatten(const QList<HlsVariant> &variants)
{
    QStringList rows;
    for (const HlsVariant &v : variants)
        rows << QStringLiteral("%1|%2|%3|%4").arg(v.uri).arg(v.bandwidth).arg(v.resolution, v.name);
    return rows;
}

void TestHlsMasterParser::parse_data()
{
    QTest::addColumn<QByteArray>("playlist");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("sorted high first")
        << QByteArray("#EXTM3U\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=400000,RESOLUTION=640x360\nlow.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=2500000,RESOLUTION=1280x720\nhigh.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=1200000,RESOLUTION=960x540\nmid.m3u8\n")
        << QStringList{"high.m3u8|2500000|1280x720|", "mid.m3u8|1200000|960x540|",
                       "low.m3u8|400000|640x360|"};
    QTest::newRow("average before bandwidth")
        << QByteArray("#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=900000,BANDWIDTH=1000000\na.m3u8\n")
        << QStringList{"a.m3u8|1000000||"};
    QTest::newRow("average alone")
        << QByteArray("#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=900000,CODECS=\"avc1.4d401f\"\na.m3u8\n")
        << QStringList{"a.m3u8|900000||"};
    QTest::newRow("blank after comma")
        << QByteArray("#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=40000\na.m3u8\n")
        << QStringList{"a.m3u8|40000||"};
    QTest::newRow("bandwidth inside another name")
        << QByteArray("#EXT-X-STREAM-INF:X-MAXBANDWIDTH=70000\na.m3u8\n")
        << QStringList{"a.m3u8|0||"};
    QTest::newRow("no bandwidth sorts last")
        << QByteArray("#EXT-X-STREAM-INF:NAME=\"Auto\"\nauto.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=100\nlow.m3u8\n")
        << QStringList{"low.m3u8|100||", "auto.m3u8|0||Auto"};
    QTest::newRow("too large for 64 bits")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=9223372036854775808,RESOLUTION=1x1\nbig.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=9223372036854775807\nmax.m3u8\n")
        << QStringList{"max.m3u8|9223372036854775807||", "big.m3u8|0|1x1|"};
    QTest::newRow("indented uri") << QByteArray(
                                         "#EXT-X-STREAM-INF:BANDWIDTH=1\n   720p/index.m3u8  \n")
                                  << QStringList{"720p/index.m3u8|1||"};
    QTest::newRow("lower-case tag")
        << QByteArray("#ext-x-stream-inf:BANDWIDTH=1\na.m3u8\n") << QStringList();
    QTest::newRow("capital X resolution")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=1,RESOLUTION=1280X720\na.m3u8\n")
        << QStringList{"a.m3u8|1||"};
    QTest::newRow("crlf and lone cr")
        << QByteArray("#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=2\r\n\r\nb.m3u8\r"
                      "#EXT-X-STREAM-INF:BANDWIDTH=1\ra.m3u8")
        << QStringList{"b.m3u8|2||", "a.m3u8|1||"};
    QTest::newRow("i-frame tags ignored")
        << QByteArray("#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=9000,URI=\"if.m3u8\"\nstray.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=1000\nv.m3u8\n")
        << QStringList{"v.m3u8|1000||"};
    QTest::newRow("comments and tags between tag and uri")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=5,NAME=\"HD\"\n# note\n#EXT-X-FOO:1\nhd.m3u8\n")
        << QStringList{"hd.m3u8|5||HD"};
    QTest::newRow("second tag replaces first")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=5,NAME=\"HD\"\n#EXT-X-STREAM-INF:BANDWIDTH=3\n"
                      "x.m3u8\n")
        << QStringList{"x.m3u8|3||"};
    QTest::newRow("tag without colon")
        << QByteArray("#EXT-X-STREAM-INF\nx.m3u8\n") << QStringList{"x.m3u8|0||"};
    QTest::newRow("resolution followed by codecs")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=1,RESOLUTION=640x360,CODECS=\"avc1.4d401e,"
                      "mp4a.40.2\",FRAME-RATE=25.000\nv.m3u8\n")
        << QStringList{"v.m3u8|1|640x360|"};
    QTest::newRow("first of repeated attributes")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=500,RESOLUTION=1x2,NAME=\"a\",BANDWIDTH=900,"
                      "RESOLUTION=3x4,NAME=\"b\"\nv.m3u8\n")
        << QStringList{"v.m3u8|500|1x2|a"};
    QTest::newRow("blanks and tabs after commas")
        << QByteArray("#EXT-X-STREAM-INF:PROGRAM-ID=1,\tBANDWIDTH=7, RESOLUTION=8x9,  NAME=\"n\"\n"
                      "v.m3u8\n")
        << QStringList{"v.m3u8|7|8x9|n"};
    QTest::newRow("comma inside quoted name")
        << QByteArray("#EXT-X-STREAM-INF:NAME=\"HD, 720p\",BANDWIDTH=3\nv.m3u8\n")
        << QStringList{"v.m3u8|3||HD, 720p"};
    QTest::newRow("utf-8 name") << QByteArray(
                                       "#EXT-X-STREAM-INF:BANDWIDTH=1,NAME=\"Орташа\"\nv.m3u8\n")
                                << QStringList{"v.m3u8|1||Орташа"};
    QTest::newRow("media tag's name not taken")
        << QByteArray("#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"English\",URI=\"a.m3u8\"\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"aac\"\nv.m3u8\n")
        << QStringList{"v.m3u8|1||"};
    QTest::newRow("indented tag, blanks inside uri, blank lines")
        << QByteArray("#EXTM3U\r\n\r\n  \t#EXT-X-STREAM-INF:BANDWIDTH=4\r\n\r\n\r\n"
                      "\t720p/my stream.m3u8?a=1&b=2 \r\n\r\n")
        << QStringList{"720p/my stream.m3u8?a=1&b=2|4||"};
    QTest::newRow("duplicates kept, equal bandwidth in playlist order")
        << QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=7,NAME=\"a\"\nsame.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=7,NAME=\"b\"\nsame.m3u8\n")
        << QStringList{"same.m3u8|7||a", "same.m3u8|7||b"};

    // Past 16 entries an unstable sort reorders equal keys.
    QByteArray equal;
    QByteArray mixed;
    QStringList equalOrder;
    QStringList mixedOrder[3];
    for (int i = 0; i < 40; ++i) {
        const QString uri = QStringLiteral("v%1.m3u8").arg(i);
        equal += "#EXT-X-STREAM-INF:BANDWIDTH=1000\n" + uri.toUtf8() + '\n';
        equalOrder << uri + QStringLiteral("|1000||");
        const int bw = 3 - i % 3;
        mixed +=
            "#EXT-X-STREAM-INF:BANDWIDTH=" + QByteArray::number(bw) + '\n' + uri.toUtf8() + '\n';
        mixedOrder[i % 3] << uri + QStringLiteral("|%1||").arg(bw);
    }
    QTest::newRow("40 of equal bandwidth in playlist order") << equal << equalOrder;
    QTest::newRow("40 interleaved, each bandwidth in playlist order")
        << mixed << mixedOrder[0] + mixedOrder[1] + mixedOrder[2];
}

void TestHlsMasterParser::parse()
{
    QFETCH(QByteArray, playlist);
    QFETCH(QStringList, expected);

    QList<HlsVariant> variants{HlsVariant{QStringLiteral("stale"), 1, {}, {}}};
    QVERIFY(parseHlsMasterVariants(playlist, &variants));
    QCOMPARE(flatten(variants), expected);
}

void TestHlsMasterParser::label_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("resolution");
    QTest::addColumn<qint64>("bandwidth");
    QTest::addColumn<QString>("expected");

    QTest::newRow("name first") << "Auto"
                                << "1280x720" << qint64(5000) << "Auto";
    QTest::newRow("empty name falls back") << ""
                                           << "1280x720" << qint64(5000) << "1280x720";
    QTest::newRow("rounds half up") << ""
                                    << "" << qint64(2499500) << "2500 kbps";
    QTest::newRow("rounds down") << ""
                                 << "" << qint64(2499499) << "2499 kbps";
    QTest::newRow("near 64-bit limit")
        << ""
        << "" << std::numeric_limits<qint64>::max() << "9223372036854776 kbps";
    QTest::newRow("uri last") << ""
                              << "" << qint64(0) << "v/720.m3u8";
}

void TestHlsMasterParser::label()
{
    QFETCH(QString, name);
    QFETCH(QString, resolution);
    QFETCH(qint64, bandwidth);
    QFETCH(QString, expected);

    QCOMPARE(formatHlsVariantLabel(
                 HlsVariant{QStringLiteral("v/720.m3u8"), bandwidth, resolution, name}),
             expected);
}

QTEST_GUILESS_MAIN(TestHlsMasterParser)
#include "tst_hlsmasterparser.moc"
