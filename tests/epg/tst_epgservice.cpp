#include "epgparsing.h"
#include "epgservice.h"
#include "epgtestrows.h"
#include "fakeorigin.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestEpgService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requestThroughRelayPort();
    void replies_data();
    void replies();
    void oversizedBodyCutOffAsItArrives();
    void fetchedAgainAtNextProgram_data();
    void fetchedAgainAtNextProgram();
};

namespace {

FakeResponse answer(QList<QByteArray> pieces,
                    FakeResponse::Framing framing = FakeResponse::Framing::ContentLength)
{
    FakeResponse response;
    response.bodyPieces = std::move(pieces);
    response.framing = framing;
    return response;
}

// `count` pieces of 1 MiB of blanks, plus `extra` bytes.
QList<QByteArray> blankMebibytes(int count, int extra)
{
    QList<QByteArray> pieces(count, QByteArray(1024 * 1024, ' '));
    pieces.append(QByteArray(extra, ' '));
    return pieces;
}

} // namespace

void TestEpgService::initTestCase()
{
    qRegisterMetaType<EpgPayload>();
}

void TestEpgService::requestThroughRelayPort()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer({"[]"}));
    EpgService service(nullptr, origin.port());
    QSignalSpy spy(&service, &EpgService::finishedPayload);

    service.fetch();
    QVERIFY(spy.wait(10000));
    QCOMPARE(origin.requests().size(), 1);
    const ReceivedRequest request = origin.requests().constFirst();
    QCOMPARE(request.requestLine, QByteArray("GET /epg_api.php?action=now HTTP/1.1"));
    QCOMPARE(request.header("Host"), "127.0.0.1:" + QByteArray::number(origin.port()));
    int agents = 0;
    for (const auto &header : request.headers)
        agents += header.first.compare("User-Agent", Qt::CaseInsensitive) == 0;
    QCOMPARE(agents, 1);
    QCOMPARE(request.header("User-Agent"),
             QByteArray("Mozilla/5.0 (Windows NT 10.0; Win64; x64) VostanTVPlayer/1.1"));
}

void TestEpgService::replies_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("error"); // compared when not empty
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");

    const QList<QByteArray> json{R"({"on_air":"News","schedule":[)",
                                 R"({"start_ts":1741150800,"title":"A","desc":"B"}]})"};
    const QStringList jsonItems{"2025-03-05 10:00:00|A|B"};
    const QByteArray html = "<strong id=\"liveTitle\">Film &amp; Co</strong><h2>05.03.2025</h2>"
                            "<table><td class=\"time\">10:00</td><td>A</td><td>B</td></table>";

    QTest::newRow("json") << answer(json) << false << QString() << "News" << jsonItems;
    FakeResponse gzipped = answer(json);
    gzipped.gzip = true;
    QTest::newRow("json, gzip") << gzipped << false << QString() << "News" << jsonItems;
    QTest::newRow("html, chunked")
        << answer({html.left(40), html.mid(40)}, FakeResponse::Framing::Chunked) << false
        << QString() << "Film & Co" << jsonItems;

    FakeResponse missing = answer(json);
    missing.status = 404;
    missing.reason = "Not Found";
    QTest::newRow("http 404 with a schedule")
        << missing << true << QString() << "" << QStringList();
    FakeResponse reset;
    reset.action = FakeResponse::Action::Reset;
    QTest::newRow("connection reset") << reset << true << QString() << "" << QStringList();
    FakeResponse shortBody = answer(json);
    shortBody.announcedLength = 1000;
    QTest::newRow("closed mid-body") << shortBody << true << QString() << "" << QStringList();

    QTest::newRow("8 MiB") << answer(blankMebibytes(8, 0)) << false << QString() << ""
                           << QStringList();
    QList<QByteArray> tooLarge = blankMebibytes(8, 1);
    tooLarge.prepend(json.join());
    QTest::newRow("a schedule, then too much")
        << answer(tooLarge) << true << guideTooLargeError() << "" << QStringList();
    QTest::newRow("too much, chunked")
        << answer(blankMebibytes(9, 0), FakeResponse::Framing::Chunked) << true
        << guideTooLargeError() << "" << QStringList();
    FakeResponse inflated = answer(blankMebibytes(9, 0));
    inflated.gzip = true;
    QTest::newRow("too much once inflated")
        << inflated << true << guideTooLargeError() << "" << QStringList();
}

void TestEpgService::replies()
{
    QFETCH(FakeResponse, response);
    QFETCH(bool, failed);
    QFETCH(QString, error);
    QFETCH(QString, title);
    QFETCH(QStringList, items);

    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(response);
    EpgService service(nullptr, origin.port());
    QSignalSpy spy(&service, &EpgService::finishedPayload);

    service.fetch();
    QVERIFY(spy.wait(20000));
    // One payload per reply, also when the service cut the reply off.
    QTRY_COMPARE(origin.openConnections(), 0);
    QCOMPARE(spy.count(), 1);

    const auto payload = spy.at(0).at(0).value<EpgPayload>();
    QCOMPARE(!payload.error.isEmpty(), failed);
    if (!error.isEmpty())
        QCOMPARE(payload.error, error);
    QCOMPARE(payload.liveTitle, title);
    QCOMPARE(flatten(payload.items), items);
}

void TestEpgService::oversizedBodyCutOffAsItArrives()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse response = answer(blankMebibytes(9, 1));
    response.stepped = true;
    origin.setResponse(response);
    EpgService service(nullptr, origin.port());
    QSignalSpy requests(&origin, &FakeOrigin::requestReceived);
    QSignalSpy spy(&service, &EpgService::finishedPayload);

    service.fetch();
    QVERIFY(requests.wait(10000));
    // 9 MiB go out; the last byte is never sent, so only a cut-off ends the reply.
    for (int piece = 1; piece < 9; ++piece)
        origin.sendNextPiece();
    QVERIFY(spy.wait(20000));
    QTRY_COMPARE(origin.openConnections(), 0);
    QCOMPARE(spy.count(), 1);
    const auto payload = spy.at(0).at(0).value<EpgPayload>();
    QCOMPARE(payload.error, guideTooLargeError());
    QVERIFY(payload.items.isEmpty());
}

void TestEpgService::fetchedAgainAtNextProgram_data()
{
    QTest::addColumn<QList<int>>("starts"); // seconds from now, whole seconds
    QTest::addColumn<QString>("firstTitle");
    QTest::addColumn<QString>("nextTitle"); // empty: no fetch is planned

    QTest::newRow("next programme two seconds away") << QList<int>{-600, 2} << "P0"
                                                     << "P1";
    QTest::newRow("every programme has begun") << QList<int>{-600, -60} << "P1"
                                               << "";
    QTest::newRow("no schedule") << QList<int>{} << ""
                                 << "";
}

void TestEpgService::fetchedAgainAtNextProgram()
{
    QFETCH(QList<int>, starts);
    QFETCH(QString, firstTitle);
    QFETCH(QString, nextTitle);

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QByteArrayList entries;
    for (int i = 0; i < starts.size(); ++i)
        entries << QStringLiteral(R"({"start_ts":%1,"title":"P%2"})")
                       .arg(now + starts.at(i))
                       .arg(i)
                       .toUtf8();
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(answer({"{\"schedule\":[" + entries.join(',') + "]}"}));
    EpgService service(nullptr, origin.port());
    QSignalSpy spy(&service, &EpgService::finishedPayload);

    service.fetch();
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.at(0).at(0).value<EpgPayload>().liveTitle, firstTitle);
    auto *planned = service.findChild<QTimer *>();
    QVERIFY(planned);
    QCOMPARE(planned->isActive(), !nextTitle.isEmpty());
    if (nextTitle.isEmpty())
        return;
    // The same answer again: by now the schedule names the next programme.
    QVERIFY(spy.wait(15000));
    QCOMPARE(origin.requests().size(), 2);
    QCOMPARE(spy.at(1).at(0).value<EpgPayload>().liveTitle, nextTitle);
    QVERIFY(QDateTime::currentSecsSinceEpoch() <= now + starts.last() + 10);
}

QTEST_GUILESS_MAIN(TestEpgService)
#include "tst_epgservice.moc"
