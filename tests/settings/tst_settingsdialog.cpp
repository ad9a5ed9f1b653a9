#include "settingsdialog.h"

#include <QtTest>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void opensWithStoredPath_data();
    void opensWithStoredPath();
    void actions_data();
    void actions();

private:
    QTemporaryDir start;
    QTemporaryDir other;
};

namespace {

QVariant storedValue()
{
    QSettings settings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
    return settings.value(QStringLiteral("screenshotPath"));
}

void store(const QVariant &value)
{
    QSettings settings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
    if (value.isValid())
        settings.setValue(QStringLiteral("screenshotPath"), value);
    else
        settings.remove(QStringLiteral("screenshotPath"));
}

QString pictures()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

QLineEdit *pathField(SettingsDialog &dialog)
{
    return dialog.findChild<QLineEdit *>(QStringLiteral("screenshotPathEdit"));
}

QPushButton *button(SettingsDialog &dialog, const QString &action)
{
    if (action == QLatin1String("reset"))
        return dialog.findChild<QPushButton *>(QStringLiteral("resetPathBtn"));
    if (action.startsWith(QLatin1String("browse")))
        return dialog.findChild<QPushButton *>(QStringLiteral("browsePathBtn"));
    auto *box = dialog.findChild<QDialogButtonBox *>();
    return box->button(action == QLatin1String("ok") ? QDialogButtonBox::Ok
                                                     : QDialogButtonBox::Cancel);
}

} // namespace

void TestSettingsDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(!pictures().isEmpty());
    QVERIFY(start.isValid() && other.isValid());
}

void TestSettingsDialog::init()
{
    QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player")).clear();
}

void TestSettingsDialog::opensWithStoredPath_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: key absent
    QTest::addColumn<QString>("shown");

    QTest::newRow("nothing stored") << QVariant() << pictures();
    QTest::newRow("stored folder") << QVariant(QStringLiteral("/srv/shots")) << "/srv/shots";
    QTest::newRow("stored empty stays empty") << QVariant(QString()) << "";
}

void TestSettingsDialog::opensWithStoredPath()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);

    store(stored);
    QCOMPARE(SettingsDialog::getScreenshotPath(), shown);
    SettingsDialog dialog(nullptr);
    QLineEdit *field = pathField(dialog);
    QVERIFY(field);
    QCOMPARE(field->text(), shown);
    // Looking the path up never writes the default.
    QCOMPARE(storedValue(), stored);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(field->isReadOnly());
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("/typed"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), shown);
}

void TestSettingsDialog::actions_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QStringList>("clicks"); // the last one closes the dialog
    QTest::addColumn<QString>("field");      // shown before closing
    QTest::addColumn<QVariant>("afterwards");

    const QVariant folder(QStringLiteral("/srv/shots"));
    const QVariant absent;
    const QVariant from(start.path());
    const QVariant to(other.path());

    QTest::newRow("OK unchanged writes the default")
        << absent << QStringList{"ok"} << pictures() << QVariant(pictures());
    QTest::newRow("OK unchanged keeps stored")
        << folder << QStringList{"ok"} << "/srv/shots" << folder;
    QTest::newRow("reset then OK stores Pictures")
        << folder << QStringList{"reset", "ok"} << pictures() << QVariant(pictures());
    QTest::newRow("reset then Cancel stores nothing")
        << folder << QStringList{"reset", "cancel"} << pictures() << folder;
    QTest::newRow("reset then Cancel, nothing stored")
        << absent << QStringList{"reset", "cancel"} << pictures() << absent;
    QTest::newRow("cancelled browse keeps the field")
        << from << QStringList{"browse-cancel", "ok"} << start.path() << from;
    QTest::newRow("chosen folder, OK")
        << from << QStringList{"browse-pick", "ok"} << other.path() << to;
    QTest::newRow("chosen folder, Cancel")
        << from << QStringList{"browse-pick", "cancel"} << other.path() << from;
}

void TestSettingsDialog::actions()
{
    QFETCH(QVariant, stored);
    QFETCH(QStringList, clicks);
    QFETCH(QString, field);
    QFETCH(QVariant, afterwards);

    store(stored);
    SettingsDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // The folder chooser runs its own modal loop; answer it once it is up.
    bool pick = false;
    QString caption;
    QString startFolder;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        answer.stop();
        caption = chooser->windowTitle();
        startFolder = chooser->directory().absolutePath();
        if (pick) {
            chooser->setDirectory(other.path());
            static_cast<QDialog *>(chooser)->accept();
        } else {
            chooser->reject();
        }
    });

    for (const QString &click : clicks) {
        if (click == clicks.last()) {
            QCOMPARE(pathField(dialog)->text(), field);
            QCOMPARE(storedValue(), stored); // pending until OK
        }
        if (click.startsWith(QLatin1String("browse"))) {
            pick = click == QLatin1String("browse-pick");
            answer.start();
        }
        QPushButton *target = button(dialog, click);
        QVERIFY2(target, qPrintable(click));
        QTest::mouseClick(target, Qt::LeftButton);
        if (click.startsWith(QLatin1String("browse"))) {
            QCOMPARE(caption, QStringLiteral("Папканы таңдау"));
            QCOMPARE(startFolder, stored.toString());
        }
    }

    QCOMPARE(dialog.result(), clicks.last() == QLatin1String("ok") ? int(QDialog::Accepted)
                                                                   : int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(storedValue(), afterwards);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
