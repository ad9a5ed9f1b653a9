#include "epgdialog.h"
#include "epgservice.h"
#include "fakeorigin.h"
#include "mainwindow.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

namespace {

FakeResponse guideAnswer(const QByteArray &json)
{
    FakeResponse r;
    r.headers = {{"Content-Type", "application/json; charset=utf-8"}};
    r.bodyPieces = {json};
    return r;
}

FakeResponse notFound(const QByteArray &reason = "Not Found")
{
    FakeResponse r;
    r.status = 404;
    r.reason = reason;
    r.bodyPieces = {"no guide"};
    return r;
}

// What a tooltip shows: Qt takes text that looks like markup for markup.
QString shownText(const QString &tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

QAction *guideEntry(MainWindow &w)
{
    const auto menus = w.menuBar()->findChildren<QMenu *>();
    for (QMenu *m : menus)
        for (QAction *a : m->actions())
            if (a->text() == QStringLiteral("Телехабарлар кестесі (EPG)"))
                return a;
    return nullptr;
}

QString liveTitleOf(EpgDialog *dialog)
{
    return dialog->findChild<QLabel *>(QStringLiteral("epgLiveTitle"))->text();
}

} // namespace

class TestGuideWindow : public QObject
{
    Q_OBJECT

private slots:
    void strip_data();
    void strip();
    void failedThenGoodClearsWarning();
    void guideBeforeFirstFetch();
    void guideWindowsFollowEveryPayload();

private:
    // The window's relay port is the fake origin, so its guide comes from there.
    struct Fixture
    {
        Fixture()
        {
            ok = origin.listen();
            window = new MainWindow(nullptr, origin.port(), nullptr);
            service = window->findChild<EpgService *>();
            strip = window->findChild<QLabel *>(QStringLiteral("liveEpgStrip"));
        }
        ~Fixture() { delete window; }
        // One guide fetch answered with the given response.
        bool fetchWith(const FakeResponse &response)
        {
            origin.setResponse(response);
            QSignalSpy spy(service, &EpgService::finishedPayload);
            service->fetch();
            return spy.wait(10000);
        }
        bool ok = false;
        FakeOrigin origin;
        MainWindow *window = nullptr;
        EpgService *service = nullptr;
        QLabel *strip = nullptr;
    };
};

void TestGuideWindow::strip_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("warning");

    QTest::newRow("title") << guideAnswer(R"({"on_air":"  Кешкі жаңалықтар "})")
                           << QStringLiteral("Қазір: Кешкі жаңалықтар</span>") << false;
    QTest::newRow("markup in title")
        << guideAnswer(R"({"now":"Ән & <b>күй</b>"})")
        << QStringLiteral("Қазір: Ән &amp; &lt;b&gt;күй&lt;/b&gt;</span>") << false;
    QTest::newRow("blank title") << guideAnswer(R"({"on_air":"   "})")
                                 << QStringLiteral(">Қазір: —</span>") << false;
    QTest::newRow("network") << notFound() << QStringLiteral(">⚠ Желі</span>") << true;
    // The relay passes the origin's reason phrase on into the error text.
    QTest::newRow("markup in the reason phrase")
        << notFound("<font size=72>Big</font>") << QStringLiteral(">⚠ Желі</span>") << true;
}

void TestGuideWindow::strip()
{
    QFETCH(FakeResponse, response);
    QFETCH(QString, status);
    QFETCH(bool, warning);
    Fixture f;
    QVERIFY(f.ok && f.service && f.strip);
    QVERIFY(QMetaObject::invokeMethod(f.window, "hideControls"));
    auto *topBar = f.window->findChild<QWidget *>(QStringLiteral("topBar"));
    QVERIFY(topBar->isHidden());

    QVERIFY(f.fetchWith(response));
    QVERIFY2(f.strip->text().contains(status), qPrintable(f.strip->text()));
    QVERIFY(f.strip->text().contains(QStringLiteral("• ТІКЕЛЕЙ ЭФИР")));
    const QString tip = shownText(f.strip->toolTip());
    QCOMPARE(tip.startsWith(QStringLiteral("EPG: ")), warning);
    QCOMPARE(tip.isEmpty(), !warning);
    if (warning)
        QVERIFY2(tip.endsWith(QString::fromUtf8(response.reason)), qPrintable(tip));
    // Every guide update brings the bars back.
    QVERIFY(!topBar->isHidden());
}

void TestGuideWindow::failedThenGoodClearsWarning()
{
    Fixture f;
    QVERIFY(f.ok && f.service && f.strip);
    QVERIFY(f.fetchWith(notFound()));
    QVERIFY(f.strip->text().contains(QStringLiteral("Желі")));
    QVERIFY(f.fetchWith(guideAnswer(R"({"schedule":[]})")));
    QVERIFY(f.strip->text().contains(QStringLiteral("Қазір: —")));
    QVERIFY(f.strip->toolTip().isEmpty());
    QVERIFY(f.fetchWith(guideAnswer(R"({"live":{"title":"Ауа райы"}})")));
    QVERIFY(f.strip->text().contains(QStringLiteral("Қазір: Ауа райы")));
}

void TestGuideWindow::guideBeforeFirstFetch()
{
    Fixture f;
    QVERIFY(f.ok && f.service);
    f.origin.setResponse(guideAnswer(R"({"on_air":"Бірінші"})"));
    guideEntry(*f.window)->trigger();
    const auto dialogs = f.window->findChildren<EpgDialog *>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs[0]->isVisible());
    QCOMPARE(liveTitleOf(dialogs[0]), QStringLiteral("Қазір эфирде: —"));
    QVERIFY(dialogs[0]->findChild<QLabel *>(QStringLiteral("epgEmpty")));
    // Opening asks for a fresh guide.
    QTRY_COMPARE(liveTitleOf(dialogs[0]), QStringLiteral("Қазір эфирде: Бірінші"));
}

void TestGuideWindow::guideWindowsFollowEveryPayload()
{
    Fixture f;
    QVERIFY(f.ok && f.service);
    QAction *entry = guideEntry(*f.window);
    QVERIFY(entry);
    f.origin.setResponse(guideAnswer(R"({"on_air":"Бірінші"})"));
    QSignalSpy payloads(f.service, &EpgService::finishedPayload);
    // Let the start-up fetch pass, so every later payload is one this test asked for.
    QVERIFY(payloads.wait(10000));

    entry->trigger();
    entry->trigger();
    const auto dialogs = f.window->findChildren<EpgDialog *>();
    QCOMPARE(dialogs.size(), 2);
    QCOMPARE(liveTitleOf(dialogs[1]), QStringLiteral("Қазір эфирде: Бірінші"));
    QTRY_COMPARE(payloads.size(), 3);

    // Refreshing one window refreshes both and the strip.
    f.origin.setResponse(guideAnswer(R"({"on_air":"Екінші"})"));
    auto *refresh = dialogs[1]->findChild<QPushButton *>(QStringLiteral("epgRefreshBtn"));
    QVERIFY(refresh);
    QTest::mouseClick(refresh, Qt::LeftButton);
    QTRY_COMPARE(payloads.size(), 4);
    QCOMPARE(liveTitleOf(dialogs[0]), QStringLiteral("Қазір эфирде: Екінші"));
    QCOMPARE(liveTitleOf(dialogs[1]), QStringLiteral("Қазір эфирде: Екінші"));
    QVERIFY(f.strip->text().contains(QStringLiteral("Екінші")));

    // Closing one destroys only that one; the other still follows the guide.
    dialogs[0]->close();
    QTRY_COMPARE(f.window->findChildren<EpgDialog *>().size(), 1);
    f.origin.setResponse(notFound());
    f.service->fetch();
    QTRY_VERIFY(liveTitleOf(dialogs[1]).startsWith(QStringLiteral("Желі қатесі: ")));
}

QTEST_MAIN(TestGuideWindow)
#include "tst_guidewindow.moc"
