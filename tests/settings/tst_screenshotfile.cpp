#include "screenshotfile.h"

#include <QtTest>

#include <QImage>
#include <QPixmap>

#ifdef Q_OS_UNIX
#include <sys/resource.h>

#include <csignal>
#endif

class TestScreenshotFile : public QObject
{
    Q_OBJECT

private slots:
    void fileName_data();
    void fileName();
    void save_data();
    void save();
    void failure_data();
    void failure();
};

namespace {

QPixmap picture()
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 40));
    return QPixmap::fromImage(image);
}

const QDateTime kWhen(QDate(2026, 12, 5), QTime(21, 7, 9));

} // namespace

void TestScreenshotFile::fileName_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<int>("copy");
    QTest::addColumn<QString>("name");

    QTest::newRow("evening, zero-padded") << kWhen << 1 << "Vostan_TV_2026-12-05_21-07-09.png";
    QTest::newRow("midnight is 00")
        << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)) << 1 << "Vostan_TV_2027-01-01_00-00-00.png";
    QTest::newRow("second copy") << kWhen << 2 << "Vostan_TV_2026-12-05_21-07-09_2.png";
}

void TestScreenshotFile::fileName()
{
    QFETCH(QDateTime, when);
    QFETCH(int, copy);
    QFETCH(QString, name);

    QCOMPARE(screenshotFileName(when, copy), name);
}

void TestScreenshotFile::save_data()
{
    QTest::addColumn<QString>("subfolder"); // below the temporary folder
    QTest::addColumn<int>("existing");      // captures already taken in that second
    QTest::addColumn<QString>("name");

    QTest::newRow("missing parents created")
        << "gone/deeper/shots" << 0 << "Vostan_TV_2026-12-05_21-07-09.png";
    QTest::newRow("second in the same second") << "" << 1 << "Vostan_TV_2026-12-05_21-07-09_2.png";
    QTest::newRow("third in the same second") << "x" << 2 << "Vostan_TV_2026-12-05_21-07-09_3.png";
}

void TestScreenshotFile::save()
{
    QFETCH(QString, subfolder);
    QFETCH(int, existing);
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = subfolder.isEmpty() ? dir.path() : dir.filePath(subfolder);
    if (existing > 0)
        QVERIFY(QDir().mkpath(folder));
    for (int copy = 1; copy <= existing; ++copy) {
        QFile earlier(folder + QLatin1Char('/') + screenshotFileName(kWhen, copy));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier capture");
    }

    const QString saved = saveScreenshot(picture(), folder, kWhen);
    QCOMPARE(saved, folder + QLatin1Char('/') + name);

    const QImage read(saved, "PNG");
    QCOMPARE(read.size(), QSize(4, 3));
    QCOMPARE(read.pixelColor(1, 1), QColor(200, 30, 40));
    for (int copy = 1; copy <= existing; ++copy) {
        QFile earlier(folder + QLatin1Char('/') + screenshotFileName(kWhen, copy));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("earlier capture"));
    }
}

void TestScreenshotFile::failure_data()
{
    QTest::addColumn<QString>("folder"); // relative to the temporary folder, "-": none
    QTest::addColumn<bool>("nullPicture");
    QTest::addColumn<bool>("writeFails"); // the file opens, then the disk is "full"

    QTest::newRow("folder is a regular file") << "plain" << false << false;
    QTest::newRow("parent is a regular file") << "plain/shots" << false << false;
    QTest::newRow("nothing grabbed") << "shots" << true << false;
    // An empty stored folder must not mean the file system's root.
    QTest::newRow("empty folder") << "-" << false << false;
    // A broken file would be kept, and push the next capture to "_2".
    QTest::newRow("write fails halfway") << "" << false << true;
}

void TestScreenshotFile::failure()
{
    QFETCH(QString, folder);
    QFETCH(bool, nullPicture);
    QFETCH(bool, writeFails);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    const QString path = folder == QLatin1String("-") ? QString() : dir.filePath(folder);
    QString saved;
    if (writeFails) {
#ifdef Q_OS_UNIX
        // Files of this process may grow to 16 bytes; a bigger write fails
        // with EFBIG instead of the signal.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit tight = old;
        tight.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        saved = saveScreenshot(picture(), path, kWhen);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
#else
        QSKIP("needs a file-size limit");
#endif
    } else {
        saved = saveScreenshot(nullPicture ? QPixmap() : picture(), path, kWhen);
    }
    QCOMPARE(saved, QString());
    QCOMPARE(QFileInfo(plain.fileName()).size(), qint64(0));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("plain")});
}

QTEST_MAIN(TestScreenshotFile)
#include "tst_screenshotfile.moc"
