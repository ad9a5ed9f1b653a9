#include "fakeorigin.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Port 1 on loopback refuses at once.
constexpr quint16 kDeadPort = 1;
const QString kDeadUrl = QStringLiteral("http://127.0.0.1:1/downloads/version.json");

struct SeenBox
{
    QString title;
    QString text;
    QString informative;
    Qt::TextFormat format = Qt::AutoText;
};

// Answers every message box that opens, the way a user would: records what it
// says and presses the button with the given text (or the first one).
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QString press = QString()) : press(std::move(press))
    {
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer.start(20);
    }
    QList<SeenBox> seen;
    // Leaves a box open for now while this returns true.
    std::function<bool(QMessageBox *)> hold;

private:
    void poll()
    {
        const auto widgets = QApplication::topLevelWidgets();
        for (QWidget *widget : widgets) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            // A later box may reuse an earlier one's address; mark the box itself.
            if (!box || !box->isVisible() || box->property("answered").toBool() ||
                (hold && hold(box)))
                continue;
            box->setProperty("answered", true);
            SeenBox s{box->windowTitle(), box->text(), box->informativeText(), box->textFormat()};
            if (auto *info = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
                s.format = info->textFormat();
            seen.append(s);
            QAbstractButton *target = box->buttons().value(0);
            for (QAbstractButton *b : box->buttons())
                if (!press.isEmpty() && b->text() == press)
                    target = b;
            QTimer::singleShot(0, target, &QAbstractButton::click);
        }
    }
    QString press;
    QTimer timer;
};

int managersOf(QWidget &w)
{
    return int(
        w.findChildren<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly).size());
}

FakeResponse jsonAnswer(const QByteArray &body, int status = 200)
{
    FakeResponse r;
    r.status = status;
    r.reason = status == 200 ? "OK" : "Not Found";
    r.headers = {{"Content-Type", "application/json"}};
    r.bodyPieces = {body};
    return r;
}

QStringList titlesOf(const QList<SeenBox> &boxes)
{
    QStringList titles;
    for (const SeenBox &box : boxes)
        titles << box.title;
    return titles;
}

FakeResponse installerAnswer()
{
    FakeResponse r;
    r.bodyPieces = {QByteArray("MZ-installer")};
    return r;
}

struct Started
{
    int calls = 0;
    QString program;
    QStringList args;
    bool boxWasClosed = false;
};

} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void manifest_data();
    void manifest();
    void download_data();
    void download();
    void cancelDownload();
    void foreignHttpIsRefused();
    void errorBoxes_data();
    void errorBoxes();
    void oneUpdateAtATime_data();
    void oneUpdateAtATime();
    void checkThreeSecondsAfterStart();

private:
    std::unique_ptr<MainWindow> makeWindow(Started *started, int *quits, BoxAnswerer *answerer);
    std::unique_ptr<QTemporaryDir> tmp;
    QString systemTemp;
};

void TestUpdates::initTestCase()
{
    systemTemp = QDir::tempPath();
    trustTestCertificateAuthority();
}

void TestUpdates::init()
{
    // Each case gets a temporary folder of its own, beside the previous one.
    tmp.reset();
    qputenv("TMPDIR", QFile::encodeName(systemTemp));
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp->path()));
}

std::unique_ptr<MainWindow> TestUpdates::makeWindow(Started *started, int *quits,
                                                    BoxAnswerer *answerer)
{
    auto w = std::make_unique<MainWindow>(nullptr, kDeadPort, nullptr);
    // The check due 3 s after start must not reach the test's origin.
    w->setUpdateManifestUrl(kDeadUrl);
    w->setInstallerStarter([started, answerer](const QString &program, const QStringList &args) {
        started->calls++;
        started->program = program;
        started->args = args;
        started->boxWasClosed = !answerer->seen.isEmpty();
        return true;
    });
    w->setQuitHandler([quits] { ++*quits; });
    return w;
}

void TestUpdates::manifest_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<QString>("shownVersion");

    const QString none;
    QTest::newRow("same version") << jsonAnswer(R"({"version":"1.1","url":"u"})") << none;
    QTest::newRow("same with zero") << jsonAnswer(R"({"version":"1.1.0"})") << none;
    QTest::newRow("same with blanks") << jsonAnswer(R"({"version":" 1.1 "})") << none;
    QTest::newRow("older") << jsonAnswer(R"({"version":"1.0.9"})") << none;
    QTest::newRow("array") << jsonAnswer(R"([{"version":"9.9"}])") << none;
    QTest::newRow("numeric version") << jsonAnswer(R"({"version":2.0})") << none;
    QTest::newRow("not json") << jsonAnswer("<html>1.2</html>") << none;
    QTest::newRow("http 404") << jsonAnswer(R"({"version":"1.2"})", 404) << none;
    QTest::newRow("newer") << jsonAnswer(
                                  R"({"version":"1.2","url":"x","changelog":"<b>Жаңа</b> EPG"})")
                           << QStringLiteral("1.2");
    QTest::newRow("newer, two-digit minor")
        << jsonAnswer(R"({"version":"1.10"})") << QStringLiteral("1.10");
}

void TestUpdates::manifest()
{
    QFETCH(FakeResponse, response);
    QFETCH(QString, shownVersion);
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(response);
    BoxAnswerer answerer(QStringLiteral("Кейінірек"));
    Started started;
    int quits = 0;
    auto w = makeWindow(&started, &quits, &answerer);
    const int baseline = managersOf(*w);

    w->setUpdateManifestUrl(origin.url() + QStringLiteral("/downloads/version.json"));
    QVERIFY(QMetaObject::invokeMethod(w.get(), "checkUpdates"));
    w->setUpdateManifestUrl(kDeadUrl);
    QTRY_COMPARE(origin.requests().size(), 1);
    QCOMPARE(origin.requests().first().target, QByteArray("/downloads/version.json"));
    QTRY_COMPARE(managersOf(*w), baseline);

    if (shownVersion.isEmpty()) {
        QVERIFY(answerer.seen.isEmpty());
    } else {
        QTRY_COMPARE(answerer.seen.size(), 1);
        const SeenBox box = answerer.seen.first();
        QCOMPARE(box.title, QStringLiteral("Жаңарту қолжетімді"));
        QCOMPARE(box.text,
                 QStringLiteral("Vostan TV плеерінің жаңа нұсқасы (%1) шықты!").arg(shownVersion));
        QVERIFY(box.informative.startsWith(QStringLiteral("Өзгерістер:\n")));
        QVERIFY(
            box.informative.endsWith(QStringLiteral("\n\nҚазір жүктеп алып, орнатқыңыз келе ме?")));
        // Markup from the server is shown, not interpreted.
        QCOMPARE(box.format, Qt::PlainText);
    }
    QCOMPARE(started.calls, 0);
}

void TestUpdates::download_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<bool>("startSucceeds");
    QTest::addColumn<QStringList>("boxTitles");
    QTest::addColumn<bool>("fileWritten");
    QTest::addColumn<int>("quits");

    const QByteArray installer = QByteArray("MZ-installer-") + QByteArray(300000, '\x5a');
    FakeResponse ok;
    ok.bodyPieces = {installer.left(100000), installer.mid(100000)};
    FakeResponse notFound = ok;
    notFound.status = 404;
    notFound.reason = "Not Found";
    FakeResponse noLength = ok;
    noLength.framing = FakeResponse::Framing::None;
    FakeResponse shortBody = ok;
    shortBody.announcedLength = installer.size() + 1000;

    const QString error = QStringLiteral("Қате");
    const QString done = QStringLiteral("Жүктеу аяқталды");
    QTest::newRow("success") << ok << true << QStringList{done} << true << 1;
    QTest::newRow("no length") << noLength << true << QStringList{done} << true << 1;
    QTest::newRow("404") << notFound << true << QStringList{error} << false << 0;
    QTest::newRow("short body") << shortBody << true << QStringList{error} << false << 0;
    QTest::newRow("start fails") << ok << false << QStringList{done, error} << true << 0;
}

void TestUpdates::download()
{
    QFETCH(FakeResponse, response);
    QFETCH(bool, startSucceeds);
    QFETCH(QStringList, boxTitles);
    QFETCH(bool, fileWritten);
    QFETCH(int, quits);
    FakeOrigin origin;
    QVERIFY(origin.listen(FakeOrigin::Tls));
    origin.setResponse(response);
    BoxAnswerer answerer;
    Started started;
    int quitCalls = 0;
    auto w = makeWindow(&started, &quitCalls, &answerer);
    w->setInstallerStarter([&](const QString &program, const QStringList &args) {
        started.calls++;
        started.program = program;
        started.args = args;
        started.boxWasClosed = answerer.seen.size() == 1;
        return startSucceeds;
    });

    QVERIFY(QMetaObject::invokeMethod(w.get(), "downloadUpdate",
                                      Q_ARG(QString, origin.url() + QStringLiteral("/setup.exe"))));
    QTRY_COMPARE(answerer.seen.size(), boxTitles.size());
    QStringList titles;
    for (const SeenBox &box : answerer.seen)
        titles << box.title;
    QCOMPARE(titles, boxTitles);
    QCOMPARE(origin.requests().size(), 1);
    QTRY_VERIFY(w->findChildren<QProgressDialog *>().isEmpty());

    const QString path = tmp->path() + QStringLiteral("/VostanPlayer_Update.exe");
    QCOMPARE(QFile::exists(path), fileWritten);
    if (fileWritten) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), response.bodyPieces.join());
        QCOMPARE(started.calls, 1);
        QVERIFY(started.boxWasClosed);
        QCOMPARE(started.program, path);
        QCOMPARE(started.args,
                 QStringList({QStringLiteral("/VERYSILENT"), QStringLiteral("/CLOSEAPPLICATIONS"),
                              QStringLiteral("/RESTARTAPPLICATIONS")}));
    } else {
        QCOMPARE(started.calls, 0);
        QVERIFY(
            answerer.seen.first().text.startsWith(QStringLiteral("Жүктеу кезінде қате шықты: ")) ||
            answerer.seen.first().text == QStringLiteral("Файлды сақтау мүмкін болмады."));
    }
    QCOMPARE(quitCalls, quits);
}

void TestUpdates::cancelDownload()
{
    FakeOrigin origin;
    QVERIFY(origin.listen(FakeOrigin::Tls));
    FakeResponse slow;
    for (int i = 0; i < 100; ++i)
        slow.bodyPieces.append(QByteArray(10000, char('a' + i % 26)));
    slow.stepped = true;
    origin.setResponse(slow);
    BoxAnswerer answerer;
    Started started;
    int quits = 0;
    auto w = makeWindow(&started, &quits, &answerer);

    QVERIFY(QMetaObject::invokeMethod(w.get(), "downloadUpdate",
                                      Q_ARG(QString, origin.url() + QStringLiteral("/setup.exe"))));
    auto *progress = w->findChild<QProgressDialog *>();
    QVERIFY(progress);
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->windowModality(), Qt::WindowModal);
    // The reply reports progress at most every so often: feed it piece by
    // piece until the bar moves, well before the end.
    QTRY_VERIFY((origin.sendNextPiece(), progress->value() > 0));
    QVERIFY(progress->value() < 100);
    QPushButton *cancel = progress->findChild<QPushButton *>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Бос тарту"));
    QTest::mouseClick(cancel, Qt::LeftButton);

    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Қате"));
    QVERIFY(answerer.seen.first().text.startsWith(QStringLiteral("Жүктеу кезінде қате шықты: ")));
    QTRY_VERIFY(w->findChildren<QProgressDialog *>().isEmpty());
    QVERIFY(!QFile::exists(tmp->path() + QStringLiteral("/VostanPlayer_Update.exe")));
    QCOMPARE(started.calls, 0);
    QCOMPARE(quits, 0);
}

void TestUpdates::foreignHttpIsRefused()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    FakeResponse ok;
    ok.bodyPieces = {"MZ"};
    origin.setResponse(ok);
    BoxAnswerer answerer;
    Started started;
    int quits = 0;
    auto w = makeWindow(&started, &quits, &answerer);

    QVERIFY(QMetaObject::invokeMethod(w.get(), "downloadUpdate",
                                      Q_ARG(QString, origin.url() + QStringLiteral("/setup.exe"))));
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Қате"));
    QVERIFY(answerer.seen.first().text.startsWith(QStringLiteral("Жүктеу кезінде қате шықты: ")));
    QCOMPARE(origin.requests().size(), 0);

    // Nor is it fetched when an https server redirects there.
    FakeOrigin redirecting;
    QVERIFY(redirecting.listen(FakeOrigin::Tls));
    FakeResponse moved;
    moved.status = 302;
    moved.reason = "Found";
    moved.headers = {{"Location", (origin.url() + QStringLiteral("/setup.exe")).toUtf8()}};
    redirecting.setResponse(moved);
    QVERIFY(QMetaObject::invokeMethod(
        w.get(), "downloadUpdate",
        Q_ARG(QString, redirecting.url() + QStringLiteral("/setup.exe"))));
    QTRY_COMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen.last().title, QStringLiteral("Қате"));
    QCOMPARE(redirecting.requests().size(), 1);
    QCOMPARE(origin.requests().size(), 0);
    QCOMPARE(started.calls, 0);
}

void TestUpdates::errorBoxes_data()
{
    QTest::addColumn<QString>("url");           // "%1": an https origin, "%2": a plain one
    QTest::addColumn<FakeResponse>("response"); // the https origin's answer
    QTest::addColumn<QString>("text");          // "%2" as above

    const QString failure = QStringLiteral("Жүктеу кезінде қате шықты: ");
    const FakeResponse ok = installerAnswer();
    QTest::newRow("no url") << QString() << ok
                            << failure + QStringLiteral("мекенжай көрсетілмеген");
    QTest::newRow("blank url") << QStringLiteral("  ") << ok
                               << failure + QStringLiteral("мекенжай көрсетілмеген");
    const QString markup = QStringLiteral("%2/<font size=72>Big</font>");
    QTest::newRow("refused url with markup")
        << markup << ok << failure + QStringLiteral("сенімсіз мекенжай: ") + markup;
    FakeResponse moved;
    moved.status = 302;
    moved.reason = "Found";
    moved.headers = {{"Location", "%2/setup.exe"}};
    QTest::newRow("refused redirect")
        << QStringLiteral("%1/setup.exe") << moved
        << failure +
               QStringLiteral("сенімсіз мекенжайға қайта бағыттау қабылданбады: %2/setup.exe");
    FakeResponse empty;
    QTest::newRow("empty download") << QStringLiteral("%1/setup.exe") << empty
                                    << QStringLiteral("Жаңарту файлы толық жүктелмеді.");
    FakeResponse markupReason;
    markupReason.status = 404;
    markupReason.reason = "<font size=72>Big</font>";
    QTest::newRow("markup in the reason phrase")
        << QStringLiteral("%1/setup.exe") << markupReason << QString();
}

// Every failure names its cause, as text: what the network sent is never markup.
void TestUpdates::errorBoxes()
{
    QFETCH(QString, url);
    QFETCH(FakeResponse, response);
    QFETCH(QString, text);
    FakeOrigin secure;
    QVERIFY(secure.listen(FakeOrigin::Tls));
    FakeOrigin plain;
    QVERIFY(plain.listen());
    plain.setResponse(installerAnswer());
    for (auto &header : response.headers)
        header.second.replace("%2", plain.url().toUtf8());
    secure.setResponse(response);
    BoxAnswerer answerer;
    Started started;
    int quits = 0;
    auto w = makeWindow(&started, &quits, &answerer);

    url.replace(QStringLiteral("%1"), secure.url()).replace(QStringLiteral("%2"), plain.url());
    QVERIFY(QMetaObject::invokeMethod(w.get(), "downloadUpdate", Q_ARG(QString, url)));
    QTRY_COMPARE(answerer.seen.size(), 1);
    const SeenBox box = answerer.seen.first();
    QCOMPARE(box.title, QStringLiteral("Қате"));
    if (!text.isEmpty())
        QCOMPARE(box.text, text.replace(QStringLiteral("%2"), plain.url()));
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(plain.requests().size(), 0);
    QCOMPARE(started.calls, 0);
}

void TestUpdates::oneUpdateAtATime_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("boxes"); // of one check, from question to last box

    const QString question = QStringLiteral("Жаңарту қолжетімді");
    QTest::newRow("later") << QStringLiteral("Кейінірек") << QStringList{question};
    // The installer does not start, so the player stays and can check again.
    QTest::newRow("update") << QStringLiteral("Иә, жаңарту")
                            << QStringList{question, QStringLiteral("Жүктеу аяқталды"),
                                           QStringLiteral("Қате")};
}

// A check while a question, its download or their boxes are open does
// nothing; once they are closed, a check asks again.
void TestUpdates::oneUpdateAtATime()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, boxes);
    FakeOrigin installer;
    QVERIFY(installer.listen(FakeOrigin::Tls));
    installer.setResponse(installerAnswer());
    FakeOrigin manifest;
    QVERIFY(manifest.listen());
    manifest.setResponse(
        jsonAnswer(R"({"version":"1.2","url":")" + installer.url().toUtf8() + R"(/setup.exe"})"));
    BoxAnswerer answerer(answer);
    Started started;
    int quits = 0;
    auto w = makeWindow(&started, &quits, &answerer);
    w->setInstallerStarter([&](const QString &, const QStringList &) {
        ++started.calls;
        return false;
    });
    const auto check = [&] {
        w->setUpdateManifestUrl(manifest.url() + QStringLiteral("/downloads/version.json"));
        QVERIFY(QMetaObject::invokeMethod(w.get(), "checkUpdates", Qt::DirectConnection));
        w->setUpdateManifestUrl(kDeadUrl);
    };
    // Each box of the first check stays open until a further check has run
    // its course: its manifest request, if it made one, answered.
    QSet<QString> checkedDuring;
    int before = 0;
    QElapsedTimer held;
    answerer.hold = [&](QMessageBox *box) {
        if (answerer.seen.size() >= boxes.size())
            return false;
        if (!checkedDuring.contains(box->windowTitle())) {
            checkedDuring.insert(box->windowTitle());
            before = managersOf(*w);
            held.start();
            check();
            return true;
        }
        return managersOf(*w) > before && held.elapsed() < 5000;
    };

    check();
    QTRY_COMPARE(titlesOf(answerer.seen), boxes);
    check();
    QTRY_COMPARE(titlesOf(answerer.seen), boxes + boxes);
    const int downloads = boxes.size() > 1 ? 2 : 0;
    QCOMPARE(installer.requests().size(), downloads);
    QCOMPARE(started.calls, downloads);
}

// The start-up check leaves about three seconds after the window is built.
void TestUpdates::checkThreeSecondsAfterStart()
{
    FakeOrigin origin;
    QVERIFY(origin.listen());
    origin.setResponse(jsonAnswer(R"({"version":"1.1"})"));
    QElapsedTimer clock;
    clock.start();
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.setUpdateManifestUrl(origin.url() + QStringLiteral("/downloads/version.json"));
    QSignalSpy asked(&origin, &FakeOrigin::requestReceived);
    QVERIFY(asked.wait(10000));
    const qint64 after = clock.elapsed();
    QVERIFY2(after >= 2500 && after <= 6000, qPrintable(QString::number(after)));
}

QTEST_MAIN(TestUpdates)
#include "tst_updates.moc"
