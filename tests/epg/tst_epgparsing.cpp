#include "epgparsing.h"
#include "epgtestrows.h"
#include "plainscrapers.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

class TestEpgParsing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bodyClassification_data();
    void bodyClassification();
    void jsonDocuments_data();
    void jsonDocuments();
    void jsonTitleKeys_data();
    void jsonTitleKeys();
    void titleOnAir_data();
    void titleOnAir();
    void htmlTitle_data();
    void htmlTitle();
    void htmlSchedule_data();
    void htmlSchedule();
    void entities_data();
    void entities();
    void jsonDatesMatchQtParsing();
    void currentProgramme_data();
    void currentProgramme();
    void scrapersMatchPlainPatterns_data();
    void scrapersMatchPlainPatterns();
    void malformedPageInBoundedTime_data();
    void malformedPageInBoundedTime();
    void bodySizeLimit_data();
    void bodySizeLimit();
};

namespace {

// Noon of 5 March 2025 in the broadcast zone: "today" for entries without a date.
QDateTime fixedNow()
{
    return QDateTime(QDate(2025, 3, 5), QTime(12, 0), broadcastZone());
}

// 2025-03-05 05:00:00 UTC, 10:00 in the broadcast zone.
constexpr qint64 kTenOClock = 1741150800;

QByteArray repeatTo(const QByteArray &head, const QByteArray &unit, const QByteArray &tail,
                    qsizetype size)
{
    QByteArray body = head;
    body.reserve(size + tail.size());
    while (body.size() < size)
        body += unit;
    return body + tail;
}

} // namespace

void TestEpgParsing::initTestCase()
{
    // The expected dates and times below are wall-clock times of this zone.
    QCOMPARE(broadcastZone().id(), QByteArray("Asia/Qyzylorda"));
    QCOMPARE(fixedNow().offsetFromUtc(), 5 * 3600);
}

void TestEpgParsing::bodyClassification_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("json");

    QTest::newRow("object") << QByteArray("{}") << true;
    QTest::newRow("array") << QByteArray("[1]") << true;
    QTest::newRow("bom, four blank bytes, brace") << QByteArray("\xEF\xBB\xBF \t\r\n{") << true;
    QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF") << false;
    QTest::newRow("half a bom") << QByteArray("\xEF\xBB{") << false;
    QTest::newRow("second bom") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF{") << false;
    QTest::newRow("form feed") << QByteArray("\f{") << false;
    QTest::newRow("vertical tab") << QByteArray("\v[") << false;
    QTest::newRow("nul byte") << QByteArray("\0{", 2) << false;
    QTest::newRow("tag") << QByteArray("<html>") << false;
    QTest::newRow("letter") << QByteArray("x{") << false;
    QTest::newRow("blank") << QByteArray(" \r\n\t") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestEpgParsing::bodyClassification()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, json);
    QCOMPARE(bodyLooksLikeJson(body), json);
}

void TestEpgParsing::jsonDocuments_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("not json") << QByteArray("{oops") << false << QStringList();
    QTest::newRow("scalar") << QByteArray("42") << false << QStringList();
    QTest::newRow("no known arrays")
        << QByteArray(R"({"x":[{"time":"10:00"}]})") << true << QStringList();
    QTest::newRow("root array is the schedule")
        << QByteArray(R"([{"time":"10:00","title":"A"}, 5, "x", null])") << true
        << QStringList{"2025-03-05 10:00:00|A|"};
    QTest::newRow("bom before the document")
        << QByteArray("\xEF\xBB\xBF"
                      R"({"items":[{"time":"10:00","title":"A"}]})")
        << true << QStringList{"2025-03-05 10:00:00|A|"};
    QTest::newRow("schedule not an array, programs next")
        << QByteArray(R"({"schedule":{"time":"09:00"},"programs":[{"time":"10:00","title":"P"}],)"
                      R"("items":[{"time":"11:00","title":"I"}]})")
        << true << QStringList{"2025-03-05 10:00:00|P|"};
    QTest::newRow("schedule first, whatever the document order")
        << QByteArray(R"({"items":[{"time":"11:00","title":"I"}],)"
                      R"("programs":[{"time":"10:00","title":"P"}],)"
                      R"("schedule":[{"time":"09:00","title":"S"}]})")
        << true << QStringList{"2025-03-05 09:00:00|S|"};
    QTest::newRow("programs before items")
        << QByteArray(R"({"items":[{"time":"11:00","title":"I"}],)"
                      R"("programs":[{"time":"10:00","title":"P"}]})")
        << true << QStringList{"2025-03-05 10:00:00|P|"};
    QTest::newRow("empty schedule, items next")
        << QByteArray(R"({"schedule":[],"items":[{"time":"11:00","title":"I"}]})") << true
        << QStringList{"2025-03-05 11:00:00|I|"};
    QTest::newRow("days take their own date")
        << QByteArray(R"({"days":[{"date":"06.03.2025","items":[{"time":"10:00","title":"A"}],)"
                      R"("schedule":[{"time":"11:00","title":"S"}]},)"
                      R"({"date":"bad","programs":[{"time":"12:00","title":"X"}]}, 7]})")
        << true << QStringList{"2025-03-06 10:00:00|A|"};
    QTest::newRow("unparsable date in a day gets the context date")
        << QByteArray(R"({"schedule":[{"date":"2025-03-01","time":"08:00","title":"A"}],)"
                      R"("days":[{"date":"2025-03-07","programs":[{"date":"soon","time":"09:00",)"
                      R"("title":"B"}]}]})")
        << true << QStringList{"2025-03-01 08:00:00|A|", "2025-03-01 09:00:00|B|"};
    QTest::newRow("sources in order, duplicates kept")
        << QByteArray(R"({"upcoming":[{"time":"12:00","title":"U"}],)"
                      R"("today_line":[{"time":"10:00","title":"A"}],)"
                      R"("days":[{"date":"2025-03-06","programs":[{"time":"09:00","title":"D"}]}],)"
                      R"("schedule":[{"time":"10:00","title":"A"}]})")
        << true
        << QStringList{"2025-03-05 10:00:00|A|", "2025-03-06 09:00:00|D|", "2025-03-06 10:00:00|A|",
                       "2025-03-06 12:00:00|U|"};
    QTest::newRow("context date carried, not by timestamps")
        << QByteArray(R"([{"time":"07:00","title":"T"},{"date":"2025-03-01","time":"08:00"},)"
                      R"({"start_ts":1741150800},{"time":"09:00"}])")
        << true
        << QStringList{"2025-03-05 07:00:00|T|", "2025-03-01 08:00:00||", "2025-03-05 10:00:00||",
                       "2025-03-01 09:00:00||"};

    // One entry each.
    const auto entry = [](const char *json) -> QTestData & {
        return QTest::newRow(json) << '[' + QByteArray(json) + ']' << true;
    };
    const QStringList none;
    entry(R"({"start_ts":1741150800,"title":" A ","desc":"d","subtitle":"s"})")
        << QStringList{"2025-03-05 10:00:00|A|d"};
    entry(R"({"start":1741150800.9,"subtitle":" s ","program":"P"})")
        << QStringList{"2025-03-05 10:00:00|P|s"};
    entry(R"({"start_ts":"1741150800","date":"2025-03-01","time":"08:00"})")
        << QStringList{"2025-03-01 08:00:00||"};
    entry(R"({"start_ts":"1741150800"})") << none;
    entry(R"({"start_ts":0,"start":1741150800,"time":"08:00"})")
        << QStringList{"2025-03-05 08:00:00||"};
    entry(R"({"start_ts":-5,"start":1741150800})") << none;
    entry(R"({"start_ts":1e300,"start":1741150800})") << QStringList{"2025-03-05 10:00:00||"};
    entry(R"({"start_ts":1e18,"start":1741150800})") << QStringList{"2025-03-05 10:00:00||"};
    entry(R"({"start_ts":9223372036854775807,"time":"08:00"})")
        << QStringList{"2025-03-05 08:00:00||"};
    entry(R"({"start_ts":-1e300,"time":"08:00"})") << QStringList{"2025-03-05 08:00:00||"};
    entry(R"({"time":"08:00","desc":"d","title":" ","program":"P"})")
        << QStringList{"2025-03-05 08:00:00|P|"};
    entry(R"({"time":" 08:00 ","subtitle":" s ","title":5,"program":true})")
        << QStringList{"2025-03-05 08:00:00||s"};
    entry(R"({"date":" 06.03.2025 ","time":"9:05"})") << QStringList{"2025-03-06 09:05:00||"};
    entry(R"({"time":"25:00"})") << none;
    entry(R"({"date":"2025-03-06","title":"no time"})") << none;
}

void TestEpgParsing::jsonDocuments()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, parsed);
    QFETCH(QStringList, items);

    EpgPayload payload;
    QCOMPARE(parsePayloadFromJson(body, &payload, fixedNow()), parsed);
    QCOMPARE(flatten(payload.items), items);
}

void TestEpgParsing::jsonTitleKeys_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");

    QTest::newRow("trimmed string") << QByteArray(R"({"on_air":"  News "})") << "News";
    QTest::newRow("blank string stops the search")
        << QByteArray(R"({"on_air":" ","live":{"title":"Live"}})") << "";
    QTest::newRow("object without a title goes on")
        << QByteArray(R"({"live":{"title":" "},"liveTitle":{"name":"x"},"current":{"title":"C"}})")
        << "C";
    QTest::newRow("other types go on")
        << QByteArray(R"({"on_air":5,"live":null,"liveTitle":["x"],"nowPlaying":true,"now":"N"})")
        << "N";
    QTest::newRow("key order, not document order")
        << QByteArray(R"({"qazir_efirde":"Q","now":{"title":"Now"}})") << "Now";
    QTest::newRow("last key") << QByteArray(R"({"qazir_efirde":"Q"})") << "Q";
}

void TestEpgParsing::jsonTitleKeys()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, title);

    EpgPayload payload;
    QVERIFY(parsePayloadFromJson(body, &payload, fixedNow()));
    QCOMPARE(payload.liveTitle, title);
}

void TestEpgParsing::titleOnAir_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");

    const QByteArray day = R"("schedule":[{"time":"11:00","title":"Eleven"},)"
                           R"({"time":"13:00","title":"One"}])";
    const QStringList dayItems{"2025-03-05 11:00:00|Eleven|", "2025-03-05 13:00:00|One|"};

    QTest::newRow("hyphen, schedule") << "{\"now\":\"-\"," + day + "}"
                                      << "Eleven" << dayItems;
    QTest::newRow("hyphen, no schedule") << QByteArray(R"({"now":"-"})") << "" << QStringList();
    QTest::newRow("em dash with spaces, schedule") << "{\"on_air\":\" \xE2\x80\x94 \"," + day + "}"
                                                   << "Eleven" << dayItems;
    QTest::newRow("blank string, live object ignored")
        << "{\"on_air\":\"\",\"live\":{\"title\":\"L\"}," + day + "}"
        << "Eleven" << dayItems;
    QTest::newRow("double hyphen is a title") << "{\"now\":\"--\"," + day + "}"
                                              << "--" << dayItems;
    QTest::newRow("scheduled hyphen passed on") << QByteArray(R"([{"time":"11:00","title":"-"}])")
                                                << "-" << QStringList{"2025-03-05 11:00:00|-|"};
    QTest::newRow("html hyphen, schedule")
        << QByteArray("<strong id=\"liveTitle\">-</strong><h2>05.03.2025</h2><table>"
                      "<tr><td class=\"time\">11:30</td><td>Film</td><td>Drama</td></tr></table>")
        << "Film" << QStringList{"2025-03-05 11:30:00|Film|Drama"};
    QTest::newRow("broken json read as html")
        << QByteArray("{\"now\": <span id='liveTitle'>Page</span>") << "Page" << QStringList();
    QTest::newRow("timestamps keep seconds")
        << QByteArray(R"([{"start_ts":1741150815,"title":"Ten"}])") << "Ten"
        << QStringList{"2025-03-05 10:00:15|Ten|"};
}

void TestEpgParsing::titleOnAir()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, title);
    QFETCH(QStringList, items);

    const EpgPayload payload = parseGuideBody(body, fixedNow());
    QCOMPARE(payload.liveTitle, title);
    QCOMPARE(flatten(payload.items), items);
    QVERIFY(payload.error.isEmpty());
}

void TestEpgParsing::htmlTitle_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");

    QTest::newRow("entity and outer spaces")
        << QByteArray("<p><strong class=\"t\" id=\"liveTitle\">  Tom &amp; Jerry \n</strong>")
        << "Tom & Jerry";
    QTest::newRow("upper case") << QByteArray("<STRONG ID = 'liveTitle'>News</STRONG>") << "News";
    QTest::newRow("empty strong, then a span")
        << QByteArray("<strong id=\"liveTitle\"></strong><span id=\"liveTitle\">Later</span>")
        << "";
    QTest::newRow("nested tag") << QByteArray("<strong id=\"liveTitle\">A <b>B</b></strong>") << "";
    QTest::newRow("any element with a closing tag")
        << QByteArray("<div\nid=\"liveTitle\" x>\n Live\xC2\xA0</p>") << "Live";
    QTest::newRow("closing tag with a blank") << QByteArray("<i id='liveTitle'>X</ i>") << "";
    QTest::newRow("strong without the id first")
        << QByteArray("<strong>X</strong><strong data-id='liveTitle'>Y</strong>") << "Y";
    QTest::newRow("id inside a word") << QByteArray("<strongid='liveTitle'>X</strong>") << "";
    QTest::newRow("numeric reference kept")
        << QByteArray("<strong id='liveTitle'>A &#8212; B</strong>") << "A &#8212; B";
    QTest::newRow("unclosed") << QByteArray("<strong id='liveTitle'>X") << "";
}

void TestEpgParsing::htmlTitle()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, title);
    QCOMPARE(parseLiveTitle(body), title);
}

void TestEpgParsing::htmlSchedule_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("items");

    const QByteArray row = "<tr><td class=\"time\">10:00</td><td>T</td><td>D</td></tr>";
    QTest::newRow("two rows in page order")
        << QByteArray("<h2> 05.03.2025 </h2>\n<table class=\"epg\"><tr>"
                      "<td class='time'> 09:15 </td><td>News</td><td></td></tr>\n<tr>"
                      "<TD\tCLASS=\"TIME\" width=1>08:00</TD> <td a=b>Film</td> <td>Drama</td>"
                      "</tr></table>")
        << QStringList{"2025-03-05 09:15:00|News|", "2025-03-05 08:00:00|Film|Drama"};
    QTest::newRow("one-digit day")
        << "<h2>5.03.2025</h2><table>" + row + "</table>" << QStringList();
    QTest::newRow("heading with an attribute")
        << "<h2 class=d>05.03.2025</h2><table>" + row + "</table>" << QStringList();
    QTest::newRow("text between heading and table")
        << "<h2>05.03.2025</h2><p>x</p><table>" + row + "</table>" << QStringList();
    QTest::newRow("invalid date skipped, next day read")
        << "<h2>31.02.2025</h2><table>" + row + "</table><h2>01.03.2025</h2><table>" + row +
               "</table>"
        << QStringList{"2025-03-01 10:00:00|T|D"};
    QTest::newRow("only the first table")
        << "<h2>05.03.2025</h2><table>" + row + "</table><table>" + row + "</table>"
        << QStringList{"2025-03-05 10:00:00|T|D"};
    QTest::newRow("times: one-digit hour, 24:00, 23:59")
        << QByteArray("<h2>05.03.2025</h2><table>"
                      "<td class=\"time\">9:00</td><td>A</td><td></td>"
                      "<td class=\"time\">24:00</td><td>B</td><td></td>"
                      "<td class=\"time\">23:59</td><td>C</td><td></td></table>")
        << QStringList{"2025-03-05 23:59:00|C|"};
    QTest::newRow("class must be exactly time")
        << QByteArray("<h2>05.03.2025</h2><table>"
                      "<td class=\"time now\">10:00</td><td>A</td><td></td>"
                      "<td class=time>11:00</td><td>B</td><td></td>"
                      "<td class=\"time\"x>12:00</td><td>C</td><td></td></table>")
        << QStringList{"2025-03-05 12:00:00|C|"};
    QTest::newRow("tags stripped, entities decoded")
        << QByteArray("<h2>05.03.2025</h2><table><td class=\"time\">20:00</td>"
                      "<td><b>Kino</b>&nbsp;<i title=\"a&nbsp;b\">(16+)</i></td>"
                      "<td>&#169; &lt;Studio&gt; <> x<y</td></table>")
        << QStringList{"2025-03-05 20:00:00|Kino (16+)|&#169; <Studio> <> x<y"};
    QTest::newRow("title cell runs to a closing tag that a cell follows")
        << QByteArray("<h2>05.03.2025</h2><table><td class=\"time\">10:00</td>"
                      "<td>A</td>x<td>B</td><td>C</td></table>")
        << QStringList{"2025-03-05 10:00:00|AxB|C"};
    QTest::newRow("duplicates kept")
        << "<h2>05.03.2025</h2><table>" + row + row + "</table>"
        << QStringList{"2025-03-05 10:00:00|T|D", "2025-03-05 10:00:00|T|D"};
    QTest::newRow("table never closed") << "<h2>05.03.2025</h2><table>" + row << QStringList();
}

void TestEpgParsing::htmlSchedule()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, items);
    QCOMPARE(flatten(parseHtml(body)), items);
}

void TestEpgParsing::entities_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("all six") << "&quot;a&apos; &amp; &lt;b&gt;&nbsp;c"
                             << "\"a' & <b> c";
    QTest::newRow("amp before lt, gt, nbsp") << "&amp;lt;&amp;gt;x&amp;nbsp;y"
                                             << "<>x y";
    QTest::newRow("amp after quot, apos") << "&amp;quot;&amp;apos;"
                                          << "&quot;&apos;";
    QTest::newRow("case and other references kept") << "&AMP; &copy; &#39;"
                                                    << "&AMP; &copy; &#39;";
    QTest::newRow("special spaces trimmed, inner runs kept")
        << QString::fromUtf8("\xEF\xBB\xBF\xC2\xA0"
                             "a \t\xE2\x80\xAF b\xE2\x80\x87")
        << "a \t  b";
}

void TestEpgParsing::entities()
{
    QFETCH(QString, text);
    QFETCH(QString, decoded);
    QCOMPARE(decodeHtmlEntities(text), decoded);
}

// Dates are read by hand for speed; they must read exactly as QDate's own
// parsing of the two layouts reads them, invalid days and months included.
void TestEpgParsing::jsonDatesMatchQtParsing()
{
    const auto qtParse = [](const QString &text) {
        const QDate date = QDate::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd"));
        return date.isValid() ? date
                              : QDate::fromString(text.trimmed(), QStringLiteral("dd.MM.yyyy"));
    };
    const auto two = [](int n) {
        return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    };
    QStringList texts{"2024-3-05",  "24-03-05",     "2024-03-05x", "2024/03/05", "５.03.2024",
                      "+024-03-05", " 2024-02-29 ", "0000-01-01",  "05.03.-024"};
    for (const int year : {0, 1, 999, 1970, 2023, 2024, 9999}) {
        for (int month = 0; month <= 13; ++month) {
            for (int day = 0; day <= 32; ++day) {
                const QString y = QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0'));
                texts << y + u'-' + two(month) + u'-' + two(day)
                      << two(day) + u'.' + two(month) + u'.' + y;
            }
        }
    }
    for (const QString &text : std::as_const(texts))
        QVERIFY2(parseJsonDateString(text) == qtParse(text), qPrintable(text));
}

void TestEpgParsing::currentProgramme_data()
{
    QTest::addColumn<QStringList>("schedule"); // "yyyy-MM-dd HH:mm|title"
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("zoneName"); // empty: the broadcast zone

    const QStringList today{"2025-03-05 10:00|C", "2025-03-05 08:00|A", "2025-03-05 09:00|B"};
    QTest::newRow("mid-programme") << today << "2025-03-05 09:30"
                                   << "B"
                                   << "";
    QTest::newRow("at a start") << today << "2025-03-05 10:00"
                                << "C"
                                << "";
    QTest::newRow("before the first") << today << "2025-03-05 07:00"
                                      << "A"
                                      << "";
    QTest::newRow("days after the last") << today << "2025-03-08 01:00"
                                         << "C"
                                         << "";
    QTest::newRow("only yesterday")
        << QStringList{"2025-03-04 20:00|Late", "2025-03-04 18:00|Early"} << "2025-03-05 09:30"
        << "Late"
        << "";
    QTest::newRow("empty title on air")
        << QStringList{"2025-03-05 08:00|A", "2025-03-05 09:00|"} << "2025-03-05 09:30"
        << ""
        << "";
    QTest::newRow("nothing scheduled") << QStringList() << "2025-03-05 09:30"
                                       << ""
                                       << "";
    // Summer time begins at 02:00 on 2025-03-30 in Berlin and ends at 03:00
    // on 2025-10-26: the day's own offsets, not one for the whole day.
    QTest::newRow("summer time begins")
        << QStringList{"2025-03-30 01:30|A", "2025-03-30 03:05|B"} << "2025-03-30 03:10"
        << "B"
        << "Europe/Berlin";
    QTest::newRow("summer day") << QStringList{"2025-07-01 09:00|R", "2025-07-01 10:00|S"}
                                << "2025-07-01 10:00"
                                << "S"
                                << "Europe/Berlin";
    QTest::newRow("summer time ends")
        << QStringList{"2025-10-26 01:30|A", "2025-10-26 04:00|B"} << "2025-10-26 03:30"
        << "A"
        << "Europe/Berlin";
}

void TestEpgParsing::currentProgramme()
{
    QFETCH(QStringList, schedule);
    QFETCH(QString, now);
    QFETCH(QString, title);

    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    QList<EpgProgramItem> items;
    for (const QString &entry : schedule) {
        const QDateTime start = QDateTime::fromString(entry.section(u'|', 0, 0), format);
        items.append({start.date(), start.time(), entry.section(u'|', 1), QString()});
    }
    QFETCH(QString, zoneName);

    const QDateTime at = QDateTime::fromString(now, format);
    const QTimeZone zone = zoneName.isEmpty() ? broadcastZone() : QTimeZone(zoneName.toLatin1());
    QCOMPARE(currentProgramTitle(items, QDateTime(at.date(), at.time(), zone), zone), title);
}

void TestEpgParsing::scrapersMatchPlainPatterns_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u})
        QTest::addRow("seed %u", seed) << seed;
}

void TestEpgParsing::scrapersMatchPlainPatterns()
{
    // Pages stitched from pieces of the markup the patterns care about.
    static const QList<QByteArray> pieces{"<strong",
                                          "<STRONG",
                                          "</strong>",
                                          " id=\"liveTitle\"",
                                          " ID = 'liveTitle' ",
                                          "id='liveTitle'",
                                          "data-id='liveTitle'",
                                          "xid=\"liveTitle\"",
                                          ">",
                                          "<",
                                          "</",
                                          "</span>",
                                          "</ b>",
                                          "<b>",
                                          "</b>",
                                          " ",
                                          "\n",
                                          "Title",
                                          "&amp;",
                                          "&nbsp;",
                                          "\xC2\xA0",
                                          "-",
                                          "<>",
                                          "<h2>",
                                          "</h2>",
                                          "05.03.2025",
                                          "5.03.2025",
                                          "31.02.2025",
                                          "<table>",
                                          "</table>",
                                          "</TABLE>",
                                          "<tr>",
                                          "<td class=\"time\">",
                                          "<td  CLASS = 'time' a=b>",
                                          "<td class=\"time x\">",
                                          "<td>",
                                          "<td ",
                                          "<TD x>",
                                          "</td>",
                                          "</TD>",
                                          "10:00",
                                          "9:00",
                                          "24:00",
                                          " 07:30 ",
                                          "<i>(12+)</i>",
                                          "&#169;",
                                          "class=",
                                          "'time'",
                                          "<strong id=\"liveTitle\"> On air </strong>",
                                          "<h2>06.03.2025</h2>\n<table>",
                                          "<td class=\"time\">11:00</td><td>T</td><td>D</td>",
                                          "<td class=\"time\">12:00</td>",
                                          "</td><td>",
                                          "</td> <td x=1>",
                                          "\xF0\x9F\x98\x80"};
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    for (int page = 0; page < 3000; ++page) {
        QByteArray body;
        const int count = random.bounded(1, 60);
        for (int i = 0; i < count; ++i)
            body += pieces.at(random.bounded(int(pieces.size())));
        const QString text = QString::fromUtf8(body);
        QVERIFY2(parseLiveTitle(body) == plainLiveTitle(text), body.constData());
        QVERIFY2(flatten(parseHtml(body)) == flatten(plainSchedule(text)), body.constData());
    }
}

void TestEpgParsing::malformedPageInBoundedTime_data()
{
    QTest::addColumn<QByteArray>("body");

    const qsizetype size = 5 * 1024 * 1024;
    const QByteArray table = "<h2>05.03.2025</h2><table>";
    QTest::newRow("tables never closed") << repeatTo({}, table, {}, size);
    QTest::newRow("time cells never closed")
        << repeatTo(table, "<td class=\"time\">", "</table>", size);
    QTest::newRow("title cell never closed")
        << repeatTo(table + "<td class=\"time\">10:00</td><td>", "<", "</table>", size);
    QTest::newRow("cell tags never closed")
        << repeatTo(table, "<td class='time' ", "</table>", size);
    QTest::newRow("title tags never closed") << repeatTo({}, "<strong id=\"liveTitle\"", {}, size);
    QTest::newRow("many ids before one bad closing tag")
        << repeatTo({}, "<i id=\"liveTitle\">", "</never", size);
}

// A quadratic scan of these pages takes hours; the sanitizers' slowest mode
// (full allocation stacks) takes half a minute for a linear one.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 kBoundedMs = 90000;
#else
constexpr qint64 kBoundedMs = 3000;
#endif

void TestEpgParsing::malformedPageInBoundedTime()
{
    QFETCH(QByteArray, body);

    QElapsedTimer timer;
    timer.start();
    const EpgPayload payload = parseGuideBody(body, fixedNow());
    QVERIFY2(timer.elapsed() < kBoundedMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(payload.items.isEmpty());
    QVERIFY(payload.error.isEmpty());
}

void TestEpgParsing::bodySizeLimit_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("refused");

    QTest::newRow("at the limit") << qsizetype(kMaxGuideBodyBytes) << false;
    QTest::newRow("one byte over") << qsizetype(kMaxGuideBodyBytes + 1) << true;
}

void TestEpgParsing::bodySizeLimit()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, refused);

    // A valid schedule at the front: a refused body must not yield it.
    QByteArray body = R"([{"time":"10:00","title":"A"}])";
    body.append(size - body.size(), ' ');
    const EpgPayload payload = parseGuideBody(body, fixedNow());
    QCOMPARE(payload.error.isEmpty(), !refused);
    QCOMPARE(payload.items.isEmpty(), refused);
    QCOMPARE(payload.liveTitle.isEmpty(), refused);
}

QTEST_GUILESS_MAIN(TestEpgParsing)
#include "tst_epgparsing.moc"
