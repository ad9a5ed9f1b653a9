// Guide and playlist parsing on generated pages (Google Benchmark).
//
//   vostan_parsebench [--benchmark_...]
//
// Html/Week: a 7-day schedule page in the demo channel's layout, 1,001 rows,
// through parseLiveTitle and parseHtml, as parseGuideBody does for HTML.
// Html/Malformed/*: 5 MB pages that keep the scans busy: tag soup, rows and
// tables that never close, headings without tables, ids without closing tags.
// Json/*: 10,000 entries in the demo's JSON layout (625 days of 16), through
// parseGuideBody, next to QJsonDocument::fromJson alone on the same bytes.
// Hls/Master100: a master playlist with 100 variants.

#include "epgparsing.h"
#include "hlsmasterparser.h"

#include <QJsonDocument>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

constexpr qsizetype kMalformedBytes = 5 * 1024 * 1024;

const char *const kTitles[] = {
    "Таңғы эфир", "Жаңалықтар", "Ән &amp; күй &lt;тікелей эфир&gt;", "Телехикая",
    "Спорт әлемі", "Деректі фильм", "Балалар әлемі", "Ауыл тынысы",
};
const char *const kDescriptions[] = {
    "", "Жаңалықтар, ауа райы және қонақтар", "Домбыра мен әннің &quot;Алтын&quot; кеші",
    "Футбол, күрес және бокс", "Ұлы дала табиғаты",
};

QDateTime benchNow()
{
    return QDateTime(QDate(2024, 3, 15), QTime(12, 0), broadcastZone());
}

QByteArray weekPage()
{
    QByteArray page = "<!DOCTYPE html>\n<html lang=\"kk\">\n<head><meta charset=\"utf-8\">"
                      "<title>Vostan TV</title></head>\n<body>\n<h1>Vostan TV</h1>\n"
                      "<p>Қазір эфирде: <strong id=\"liveTitle\">Телехикая</strong></p>\n";
    const QDate first(2024, 3, 12);
    int row = 0;
    for (int day = 0; day < 7; ++day) {
        page += "<h2>" + first.addDays(day).toString(QStringLiteral("dd.MM.yyyy")).toUtf8() +
                "</h2>\n<table>\n<tr><th>Уақыт</th><th>Бағдарлама</th><th>Қысқаша</th></tr>\n";
        for (int slot = 0; slot < 143; ++slot, ++row) {
            const QByteArray time = QTime(0, 0).addSecs(slot * 600).toString("HH:mm").toUtf8();
            page += "<tr><td class=\"time\">" + time + "</td><td>" +
                    kTitles[row % std::size(kTitles)] + "</td><td>" +
                    kDescriptions[row % std::size(kDescriptions)] + "</td></tr>\n";
        }
        page += "</table>\n";
    }
    return page + "</body>\n</html>\n";
}

// Repeats pieces, picked by a fixed-seed generator, up to the size.
QByteArray soup(std::initializer_list<const char *> pieces, quint32 seed)
{
    const QList<QByteArray> list(pieces.begin(), pieces.end());
    QRandomGenerator random(seed);
    QByteArray page;
    page.reserve(kMalformedBytes + 256);
    while (page.size() < kMalformedBytes)
        page += list.at(random.bounded(int(list.size())));
    return page;
}

QByteArray repeated(const QByteArray &head, const QByteArray &piece)
{
    QByteArray page = head;
    page.reserve(kMalformedBytes + piece.size());
    while (page.size() < kMalformedBytes)
        page += piece;
    return page;
}

QByteArray malformedPage(int kind)
{
    switch (kind) {
    case 0: // tag soup of every mark the scans look for
        return soup({"<h2>", "12.03.2024", "</h2>", "<table", "<table>", "</table", "<td",
                     "<td class=\"time\">", "<td class='time' ", "12:00", "</td>", "</td ",
                     "<td>", "<strong", "<strong id=\"liveTitle\">", " id='liveTitle' ", "</strong",
                     "</", "&amp;", "&lt", "<", ">", " ", "\n", "Жаңалықтар", "x"},
                    20240312);
    case 1: // rows whose cells never close, in one table that never ends
        return repeated("<h2>12.03.2024</h2><table>",
                        "<tr><td class=\"time\">12:00<td>Жаңалықтар<td>Ауа райы\n");
    case 2: // time cells followed by a title cell that no cell follows
        return repeated("<h2>12.03.2024</h2><table>",
                        "<td class=\"time\">12:00</td><td>Жаңалықтар</td>.\n");
    case 3: // headings that open tables, closed only at the very end
        return repeated("", "<h2>12.03.2024</h2>\n<table><tr><td class=\"time\">12:00</td>"
                            "<td>x</td><td>y</td></tr>\n") +
               "</table>";
    default: // live-title ids whose text no closing tag ends
        return repeated("<strong", " id=\"liveTitle\">Телехикая <b ");
    }
}

const char *const kMalformedNames[] = {"TagSoup", "UnclosedCells", "TitleWithoutNext",
                                       "UnclosedTables", "OpenIds"};

QByteArray jsonGuide()
{
    QByteArray json = "{\n  \"channel\": \"Vostan TV\",\n  \"days\": [";
    const QDate first(2023, 1, 1);
    int entry = 0;
    for (int day = 0; day < 625; ++day) {
        json += day ? ",\n    {" : "\n    {";
        json += "\n      \"date\": \"" + first.addDays(day).toString(Qt::ISODate).toUtf8() +
                "\",\n      \"programs\": [";
        for (int slot = 0; slot < 16; ++slot, ++entry) {
            const QByteArray time = QTime(0, 0).addSecs(slot * 5400).toString("HH:mm").toUtf8();
            json += slot ? ",\n        " : "\n        ";
            json += "{\"time\": \"" + time + "\", \"title\": \"Бағдарлама " +
                    QByteArray::number(entry) + "\"";
            if (entry % 3)
                json += ", \"subtitle\": \"Қысқаша сипаттама\"";
            json += "}";
        }
        json += "\n      ]\n    }";
    }
    return json + "\n  ]\n}\n";
}

QByteArray masterPlaylist(int variants)
{
    QByteArray m = "#EXTM3U\n#EXT-X-VERSION:6\n#EXT-X-INDEPENDENT-SEGMENTS\n";
    for (int i = 0; i < variants; ++i) {
        const int height = 144 + 12 * i;
        m += "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=" + QByteArray::number(200000 + 9000 * i) +
             ",AVERAGE-BANDWIDTH=" + QByteArray::number(180000 + 8000 * i) +
             ",RESOLUTION=" + QByteArray::number(height * 16 / 9) + "x" +
             QByteArray::number(height) + ",CODECS=\"avc1.4d401e,mp4a.40.2\",NAME=\"v" +
             QByteArray::number(i) + "\"\n";
        m += "v" + QByteArray::number(i) + "/index.m3u8\n";
    }
    return m;
}

void htmlPage(benchmark::State &state, const QByteArray &page)
{
    qsizetype rows = 0;
    for (auto _ : state) {
        const QString live = parseLiveTitle(page);
        const QList<EpgProgramItem> items = parseHtml(page);
        benchmark::DoNotOptimize(live);
        rows = items.size();
    }
    state.counters["rows"] = double(rows);
    state.counters["bytes"] = double(page.size());
}

void htmlWeek(benchmark::State &state)
{
    htmlPage(state, weekPage());
}

void htmlMalformed(benchmark::State &state)
{
    htmlPage(state, malformedPage(int(state.range(0))));
}

void jsonGuideBody(benchmark::State &state)
{
    const QByteArray json = jsonGuide();
    const QDateTime now = benchNow();
    qsizetype entries = 0;
    for (auto _ : state) {
        const EpgPayload payload = parseGuideBody(json, now);
        entries = payload.items.size();
        benchmark::DoNotOptimize(payload.liveTitle);
    }
    state.counters["entries"] = double(entries);
}

void jsonFromJsonOnly(benchmark::State &state)
{
    const QByteArray json = jsonGuide();
    for (auto _ : state) {
        const QJsonDocument document = QJsonDocument::fromJson(json);
        benchmark::DoNotOptimize(document.isObject());
    }
}

void hlsMaster(benchmark::State &state)
{
    const QByteArray playlist = masterPlaylist(int(state.range(0)));
    qsizetype variants = 0;
    for (auto _ : state) {
        QList<HlsVariant> out;
        parseHlsMasterVariants(playlist, &out);
        variants = out.size();
        benchmark::DoNotOptimize(out.constData());
    }
    state.counters["variants"] = double(variants);
}

double minOf(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

double maxOf(const std::vector<double> &v)
{
    return *std::max_element(v.begin(), v.end());
}

template<typename B>
B *withRange(B *b)
{
    return b->ComputeStatistics("min", minOf)->ComputeStatistics("max", maxOf);
}

} // namespace

int main(int argc, char **argv)
{
    withRange(benchmark::RegisterBenchmark("Html/Week", htmlWeek))
        ->Unit(benchmark::kMillisecond);
    for (int kind = 0; kind < int(std::size(kMalformedNames)); ++kind)
        withRange(benchmark::RegisterBenchmark(
                      (std::string("Html/Malformed/") + kMalformedNames[kind]).c_str(),
                      htmlMalformed))
            ->Arg(kind)
            ->Unit(benchmark::kMillisecond);
    withRange(benchmark::RegisterBenchmark("Json/ParseGuideBody", jsonGuideBody))
        ->Unit(benchmark::kMillisecond);
    withRange(benchmark::RegisterBenchmark("Json/FromJsonOnly", jsonFromJsonOnly))
        ->Unit(benchmark::kMillisecond);
    withRange(benchmark::RegisterBenchmark("Hls/Master", hlsMaster))
        ->Arg(100)
        ->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
