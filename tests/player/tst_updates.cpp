#include "fakeorigin.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

private:
    void poll()
    {
        const auto widgets = QApplication::topLevelWidgets();
        for (QWidget *widget : widgets) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            // A later box may reuse an earlier one's address; mark the box itself.
            if (!box || !box->isVisible() || box->property("answered").toBool())
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

QTEST_MAIN(TestUpdates)
#include "tst_updates.moc"
