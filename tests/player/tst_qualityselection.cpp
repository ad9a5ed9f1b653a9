#include "fakeorigin.h"
#include "mainwindow.h"

#include <QComboBox>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

// Deliberately out of order; the box lists the highest bandwidth first.
const QByteArray kMaster = "#EXTM3U\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=256x144\n"
                           "low/index.m3u8\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=1500000,RESOLUTION=640x360\n"
                           "high/index.m3u8\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=800000,NAME=\"Орташа\"\n"
                           "https://cdn.example.net/x/720.m3u8?t=1\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=100000\n"
                           "HTTPS://cdn.example.net/x/a%20b.m3u8?sig=a%26b\n";

FakeResponse masterAnswer()
{
    FakeResponse r;
    r.bodyPieces = {kMaster};
    return r;
}

QSettings store()
{
    return QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
}

} // namespace

class TestQualitySelection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstRunPlaysMaster();
    void rememberedVariantIsSelected();
    void choices_data();
    void choices();
    void rebuildWritesNothing();
    void failedFetchFallsBackToMaster();
    void everyVariantGoesThroughRelay_data();
    void everyVariantGoesThroughRelay();
    void oversizedMasterCountsAsFailed();

private:
    struct Fixture
    {
        FakeOrigin origin;
        MainWindow *window = nullptr;
        QComboBox *combo = nullptr;
        QMediaPlayer *player = nullptr;
        ~Fixture() { delete window; }
    };
    // Starts a window whose relay is the fake origin and waits for the box.
    bool start(Fixture &f, const FakeResponse &answer, int expectedEntries);
    QString root(const Fixture &f) const { return f.origin.url(); }
};

void TestQualitySelection::init()
{
    store().clear();
}

bool TestQualitySelection::start(Fixture &f, const FakeResponse &answer, int expectedEntries)
{
    f.origin.setResponse(answer);
    if (!f.origin.listen())
        return false;
    f.window = new MainWindow(nullptr, f.origin.port(), nullptr);
    f.combo = f.window->findChild<QComboBox *>(QStringLiteral("qualityCombo"));
    f.player = f.window->findChild<QMediaPlayer *>();
    QSignalSpy sourceSet(f.player, &QMediaPlayer::sourceChanged);
    if (!sourceSet.wait(10000))
        return false;
    return f.combo->count() == expectedEntries;
}

void TestQualitySelection::firstRunPlaysMaster()
{
    Fixture f;
    QVERIFY(start(f, masterAnswer(), 5));
    QCOMPARE(f.origin.requests().first().target, QByteArray("/hls/master.m3u8"));
    QCOMPARE(f.combo->currentIndex(), 0);
    QCOMPARE(f.combo->itemText(0), QStringLiteral("Авто (тірек қоюшы)"));
    QCOMPARE(f.combo->itemText(1), QStringLiteral("640x360"));
    QCOMPARE(f.combo->itemText(2), QStringLiteral("Орташа"));
    QCOMPARE(f.combo->itemText(3), QStringLiteral("256x144"));
    QCOMPARE(f.combo->itemText(4), QStringLiteral("100 kbps"));
    QCOMPARE(f.player->source(), QUrl(root(f) + QStringLiteral("/hls/master.m3u8")));
    QVERIFY(!store().contains(QStringLiteral("hlsVariantUri")));
}

void TestQualitySelection::rememberedVariantIsSelected()
{
    store().setValue(QStringLiteral("hlsVariantUri"),
                     QStringLiteral("https://cdn.example.net/x/720.m3u8?t=1"));
    Fixture f;
    QVERIFY(start(f, masterAnswer(), 5));
    QCOMPARE(f.combo->currentIndex(), 2);
    // Another host in the playlist still goes through the relay.
    QCOMPARE(f.player->source(), QUrl(root(f) + QStringLiteral("/x/720.m3u8?t=1")));
}

void TestQualitySelection::choices_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("path");
    QTest::newRow("automatic") << 0 << QString() << QStringLiteral("/hls/master.m3u8");
    QTest::newRow("relative") << 1 << QStringLiteral("high/index.m3u8")
                              << QStringLiteral("/hls/high/index.m3u8");
    QTest::newRow("absolute elsewhere")
        << 2 << QStringLiteral("https://cdn.example.net/x/720.m3u8?t=1")
        << QStringLiteral("/x/720.m3u8?t=1");
    // An escaped "&" must stay escaped, or the signature splits in two.
    QTest::newRow("escapes kept") << 4
                                  << QStringLiteral(
                                         "HTTPS://cdn.example.net/x/a%20b.m3u8?sig=a%26b")
                                  << QStringLiteral("/x/a%20b.m3u8?sig=a%26b");
}

void TestQualitySelection::choices()
{
    QFETCH(int, index);
    QFETCH(QString, stored);
    QFETCH(QString, path);
    Fixture f;
    QVERIFY(start(f, masterAnswer(), 5));
    auto *playPause = f.window->findChild<QPushButton *>(QStringLiteral("playPauseBtn"));

    // The user's pick, twice: picking the current entry again stores and
    // plays again too.
    for (int round = 0; round < 2; ++round) {
        store().setValue(QStringLiteral("hlsVariantUri"), QStringLiteral("stale"));
        playPause->setIcon(QIcon());
        f.combo->setCurrentIndex(index);
        emit f.combo->activated(index);
        QCOMPARE(store().value(QStringLiteral("hlsVariantUri")).toString(), stored);
        QCOMPARE(f.player->source(), QUrl(root(f) + path));
        QVERIFY(!playPause->icon().isNull());
    }
}

void TestQualitySelection::rebuildWritesNothing()
{
    Fixture f;
    QVERIFY(start(f, masterAnswer(), 5));
    int handled = 0;
    connect(f.combo, &QComboBox::activated, this, [&handled] { ++handled; });
    connect(f.combo, &QComboBox::currentIndexChanged, this, [&handled] { ++handled; });
    f.combo->setCurrentIndex(3);

    handled = 0;
    QVERIFY(QMetaObject::invokeMethod(f.window, "refreshStream"));
    QTRY_COMPARE(f.combo->currentIndex(), 0);
    QCOMPARE(f.combo->count(), 5);
    QCOMPARE(handled, 0);
    QVERIFY(!store().contains(QStringLiteral("hlsVariantUri")));
}

void TestQualitySelection::failedFetchFallsBackToMaster()
{
    store().setValue(QStringLiteral("hlsVariantUri"), QStringLiteral("high/index.m3u8"));
    Fixture f;
    FakeResponse reset;
    reset.action = FakeResponse::Action::Reset;
    QVERIFY(start(f, reset, 1));
    QCOMPARE(f.combo->itemText(0), QStringLiteral("Авто (тірек қоюшы)"));
    QCOMPARE(f.player->source(), QUrl(root(f) + QStringLiteral("/hls/master.m3u8")));
    QCOMPARE(store().value(QStringLiteral("hlsVariantUri")).toString(),
             QStringLiteral("high/index.m3u8"));
}

void TestQualitySelection::everyVariantGoesThroughRelay_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("path");
    QTest::newRow("scheme-relative")
        << QStringLiteral("//cdn.example.net/v/a.m3u8?k=1") << QStringLiteral("/v/a.m3u8?k=1");
    QTest::newRow("other scheme") << QStringLiteral("ftp://cdn.example.net/v/b.m3u8")
                                  << QStringLiteral("/v/b.m3u8");
    QTest::newRow("scheme, no slash") << QStringLiteral("data:v.m3u8") << QStringLiteral("/v.m3u8");
    QTest::newRow("root-relative")
        << QStringLiteral("/live/c.m3u8") << QStringLiteral("/live/c.m3u8");
}

void TestQualitySelection::everyVariantGoesThroughRelay()
{
    QFETCH(QString, uri);
    QFETCH(QString, path);
    FakeResponse answer;
    answer.bodyPieces = {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=500000\n" + uri.toUtf8() + "\n"};
    Fixture f;
    QVERIFY(start(f, answer, 2));
    f.combo->setCurrentIndex(1);
    emit f.combo->activated(1);
    QCOMPARE(f.player->source(), QUrl(root(f) + path));
}

void TestQualitySelection::oversizedMasterCountsAsFailed()
{
    FakeResponse huge;
    QByteArray body = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=500000\nlow/index.m3u8\n";
    body += QByteArray(1024 * 1024, '#');
    huge.bodyPieces = {body.left(body.size() / 2), body.mid(body.size() / 2)};
    Fixture f;
    QVERIFY(start(f, huge, 1));
    QCOMPARE(f.player->source(), QUrl(root(f) + QStringLiteral("/hls/master.m3u8")));
}

QTEST_MAIN(TestQualitySelection)
#include "tst_qualityselection.moc"
