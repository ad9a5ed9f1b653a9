#include "epgservice.h"
#include "iconhelper.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

constexpr quint16 kDeadPort = 1; // refuses at once: the stream "plays" without data
const QString kService = QStringLiteral("org.mpris.MediaPlayer2.vostan_tv");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kReason = QStringLiteral("Тікелей эфир көрсетілуде");

// What the fake inhibition services were asked, by any of them.
struct Ledger
{
    QStringList via; // the interface of each inhibition taken
    QList<uint> open;
    QStringList reasons;
    uint next = 100;
    uint take(const QString &interface, const QString &reason)
    {
        via << interface;
        reasons << reason;
        open << ++next;
        return next;
    }
    void release(uint cookie) { open.removeOne(cookie); }
};

class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    Ledger *ledger = nullptr;
public slots:
    uint Inhibit(const QString &, const QString &reason)
    {
        return ledger->take(QStringLiteral("screensaver"), reason);
    }
    void UnInhibit(uint cookie) { ledger->release(cookie); }
};

class FakeGnomeSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.SessionManager")
public:
    Ledger *ledger = nullptr;
public slots:
    uint Inhibit(const QString &, uint, const QString &reason, uint flags)
    {
        return ledger->take(QStringLiteral("gnome") + (flags == 8 ? "" : "?"), reason);
    }
    void Uninhibit(uint cookie) { ledger->release(cookie); }
};

// The portal hands out a request object per inhibition; Close on it releases.
// The portal hands out a request object per inhibition; Close on it releases.
class FakePortalRequest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    FakePortalRequest(Ledger *ledger, uint cookie) : ledger(ledger), cookie(cookie) {}
public slots:
    void Close() { ledger->release(cookie); }

private:
    Ledger *ledger;
    uint cookie;
};

class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    Ledger *ledger = nullptr;
    QDBusConnection *bus = nullptr;
public slots:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options)
    {
        const uint cookie = ledger->take(QStringLiteral("portal") + (flags == 8 ? "" : "?"),
                                         options.value(QStringLiteral("reason")).toString());
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/t%1").arg(cookie);
        auto *request = new FakePortalRequest(ledger, cookie);
        request->setParent(this);
        bus->registerObject(path, request, QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }
};

class ChangeLog : public QObject
{
    Q_OBJECT
public:
    QVariant last(const QString &name) const { return values.value(name); }
    int count = 0;
public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &)
    {
        for (auto it = properties.begin(); it != properties.end(); ++it)
            values.insert(it.key(), it.value());
        ++count;
    }

private:
    QVariantMap values;
};

bool hasIcon(const QPushButton *b, const char *name)
{
    const QImage want =
        IconHelper::createIcon(QString::fromLatin1(name), kChromeFg).pixmap(48, 48).toImage();
    return b->icon().pixmap(48, 48).toImage() == want;
}

QVariantMap toMap(const QVariant &v)
{
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(v) : v.toMap();
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void inhibition_data();
    void inhibition();
    void playbackStatus_data();
    void playbackStatus();
    void title_data();
    void title();
    void volumeBothWays();
    void startsWithoutSessionBus();

private:
    // The window playing its (dead) stream, its MPRIS name taken.
    void startPlaying(MainWindow &w);
    QDBusMessage call(const QString &interface, const QString &method,
                      const QVariantList &args = {});
    QVariant property(const QString &interface, const QString &name);
    QDBusConnection peer() const { return QDBusConnection(QStringLiteral("peer")); }

    QProcess daemon;
    QTemporaryDir dir;
    ChangeLog changes;
};

void TestDesktop::initTestCase()
{
    if (qEnvironmentVariableIsSet("VOSTAN_TEST_NO_BUS"))
        return;
    // A bus of our own, with no service files: nothing is activated on it.
    QFile config(dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>"
        "<type>session</type><listen>unix:dir=" +
        dir.path().toUtf8() +
        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    QVERIFY2(daemon.waitForStarted(), "dbus-daemon is missing: run scripts/install-deps");
    QTRY_VERIFY(daemon.canReadLine());
    const QByteArray address = daemon.readLine().trimmed();
    // Before the player's first use of the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), "peer");
    QVERIFY(bus.isConnected());
    QVERIFY(bus.connect(QString(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), &changes,
                        SLOT(changed(QString, QVariantMap, QStringList))));
}

void TestDesktop::cleanupTestCase()
{
    // GLib's own D-Bus client, which libraries that Qt Multimedia loads open on
    // the session bus, raises SIGTERM when that bus goes away; this process
    // is ending anyway.
    std::signal(SIGTERM, SIG_IGN);
    QDBusConnection::disconnectFromBus(QStringLiteral("peer"));
    daemon.kill();
    daemon.waitForFinished();
}

QDBusMessage TestDesktop::call(const QString &interface, const QString &method,
                               const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(args);
    // Never a blocking call: the player answers from this very thread.
    QDBusPendingCallWatcher watcher(peer().asyncCall(message));
    QSignalSpy done(&watcher, &QDBusPendingCallWatcher::finished);
    if (!watcher.isFinished())
        done.wait(10000);
    return watcher.reply();
}

QVariant TestDesktop::property(const QString &interface, const QString &name)
{
    const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {interface, name});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

void TestDesktop::startPlaying(MainWindow &w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(w.findChild<QMediaPlayer *>()->playbackState(), QMediaPlayer::PlayingState);
    QTRY_VERIFY(peer().interface()->isServiceRegistered(kService));
    QTRY_COMPARE(property(kPlayer, QStringLiteral("PlaybackStatus")).toString(),
                 QStringLiteral("Playing"));
}

void TestDesktop::inhibition_data()
{
    QTest::addColumn<QStringList>("services");
    QTest::addColumn<QString>("used");
    const QStringList all{"portal", "screensaver", "gnome"};
    QTest::newRow("portal first") << all << "portal";
    QTest::newRow("no portal: screen saver") << all.mid(1) << "screensaver";
    QTest::newRow("only the GNOME session") << all.mid(2) << "gnome";
}

void TestDesktop::inhibition()
{
    QFETCH(QStringList, services);
    QFETCH(QString, used);
    Ledger ledger;
    FakePortal portal;
    FakeScreenSaver saver;
    FakeGnomeSession gnome;
    portal.ledger = saver.ledger = gnome.ledger = &ledger;
    QDBusConnection bus = peer();
    portal.bus = &bus;
    QStringList offered;
    const auto offer = [&](const char *name, const char *service, const char *path, QObject *o) {
        if (services.contains(QLatin1String(name))) {
            QVERIFY(bus.registerObject(QLatin1String(path), o, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(QLatin1String(service)));
            offered << QLatin1String(service);
        }
    };
    offer("portal", "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", &portal);
    offer("screensaver", "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", &saver);
    offer("gnome", "org.gnome.SessionManager", "/org/gnome/SessionManager", &gnome);

    {
        MainWindow w(nullptr, kDeadPort, nullptr);
        auto *btn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
        startPlaying(w);
        QTRY_COMPARE(ledger.open.size(), 1);
        QCOMPARE(ledger.via, QStringList{used});
        QCOMPARE(ledger.reasons.constFirst(), kReason);
        btn->click();
        QTRY_COMPARE(ledger.open.size(), 0);
        btn->click();
        QTRY_COMPARE(ledger.open.size(), 1);
        QCOMPARE(ledger.via, QStringList({used, used}));
        w.close();
        QTRY_COMPARE(ledger.open.size(), 0);
        QCOMPARE(ledger.via.size(), 2);
    }
    // The fakes leave the bus with their objects; the names stay until given back.
    for (const QString &name : std::as_const(offered))
        bus.unregisterService(name);
}

void TestDesktop::playbackStatus_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("pauses");
    QTest::newRow("click on the button") << "click" << true;
    QTest::newRow("Space key") << "space" << true;
    QTest::newRow("PlayPause over the bus") << "PlayPause" << true;
    QTest::newRow("Pause over the bus") << "Pause" << true;
    QTest::newRow("Stop over the bus pauses") << "Stop" << true;
    QTest::newRow("Play while playing") << "Play" << false;
}

void TestDesktop::playbackStatus()
{
    QFETCH(QString, action);
    QFETCH(bool, pauses);
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *player = w.findChild<QMediaPlayer *>();
    auto *btn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
    startPlaying(w);
    const int before = changes.count;
    if (action == QLatin1String("click")) {
        // Where a pointer would press it.
        const QPoint at = btn->mapTo(&w, btn->rect().center());
        QWidget *target = w.childAt(at);
        QCOMPARE(target, btn);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&w, at));
    } else if (action == QLatin1String("space")) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w,
                        Qt::Key_Space);
    } else {
        QCOMPARE(call(kPlayer, action).type(), QDBusMessage::ReplyMessage);
    }
    const QString status = pauses ? QStringLiteral("Paused") : QStringLiteral("Playing");
    QTRY_COMPARE(player->playbackState(),
                 pauses ? QMediaPlayer::PausedState : QMediaPlayer::PlayingState);
    QVERIFY(hasIcon(btn, pauses ? "play" : "pause"));
    QCOMPARE(property(kPlayer, QStringLiteral("PlaybackStatus")).toString(), status);
    if (pauses)
        QTRY_COMPARE(changes.last(QStringLiteral("PlaybackStatus")).toString(), status);
    else
        QCOMPARE(changes.count, before);

    // Play from the bus resumes as the button does.
    QCOMPARE(call(kPlayer, QStringLiteral("Play")).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(hasIcon(btn, "pause"));
    QTRY_COMPARE(changes.last(QStringLiteral("PlaybackStatus")).toString(),
                 QStringLiteral("Playing"));
}

void TestDesktop::title_data()
{
    QTest::addColumn<QString>("liveTitle");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("title");
    QTest::newRow("on air") << " Кешкі жаңалықтар "
                            << ""
                            << "Кешкі жаңалықтар";
    QTest::newRow("markup stays text") << "A & <b>B</b>"
                                       << ""
                                       << "A & <b>B</b>";
    QTest::newRow("none on air") << "  "
                                 << ""
                                 << "Vostan TV";
    QTest::newRow("guide failed") << "Кешкі жаңалықтар"
                                  << "timeout"
                                  << "Vostan TV";
}

void TestDesktop::title()
{
    QFETCH(QString, liveTitle);
    QFETCH(QString, error);
    QFETCH(QString, title);
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *guide = w.findChild<EpgService *>();
    auto *strip = w.findChild<QLabel *>(QStringLiteral("liveEpgStrip"));
    startPlaying(w);
    const auto shownTitle = [this] {
        return toMap(property(kPlayer, QStringLiteral("Metadata")))
            .value(QStringLiteral("xesam:title"))
            .toString();
    };
    emit guide->finishedPayload(EpgPayload{QStringLiteral("Таңғы эфир"), {}, QString()});
    QTRY_COMPARE(shownTitle(), QStringLiteral("Таңғы эфир"));

    emit guide->finishedPayload(EpgPayload{liveTitle, {}, error});
    QTRY_COMPARE(toMap(changes.last(QStringLiteral("Metadata")))
                     .value(QStringLiteral("xesam:title"))
                     .toString(),
                 title);
    QCOMPARE(shownTitle(), title);
    // The strip shows the same programme.
    if (title != QLatin1String("Vostan TV"))
        QVERIFY(strip->text().contains(title.toHtmlEscaped()));

    const QVariantMap metadata = toMap(property(kPlayer, QStringLiteral("Metadata")));
    QCOMPARE(metadata.value(QStringLiteral("xesam:artist")).toStringList(),
             QStringList{QStringLiteral("Vostan TV")});
    QFile art(QUrl(metadata.value(QStringLiteral("mpris:artUrl")).toString()).toLocalFile());
    QFile logo(QStringLiteral(":/logo.png"));
    QVERIFY(art.open(QIODevice::ReadOnly) && logo.open(QIODevice::ReadOnly));
    QCOMPARE(art.readAll(), logo.readAll());
}

void TestDesktop::volumeBothWays()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *slider = w.findChild<QSlider *>(QStringLiteral("volumeSlider"));
    startPlaying(w);
    QCOMPARE(property(kPlayer, QStringLiteral("Volume")).toDouble(), 0.5);
    slider->setValue(80);
    QTRY_COMPARE(changes.last(QStringLiteral("Volume")).toDouble(), 0.8);
    for (const auto &[written, percent] : {std::pair{0.3, 30}, {1.7, 100}, {-1.0, 0}}) {
        QCOMPARE(
            call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                 {kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(written))})
                .type(),
            QDBusMessage::ReplyMessage);
        QTRY_COMPARE(slider->value(), percent);
        QTRY_COMPARE(changes.last(QStringLiteral("Volume")).toDouble(), percent / 100.0);
    }
}

void TestDesktop::startsWithoutSessionBus()
{
    if (!qEnvironmentVariableIsSet("VOSTAN_TEST_NO_BUS")) {
        // In a process of its own: a process keeps the first bus it finds.
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("VOSTAN_TEST_NO_BUS"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("startsWithoutSessionBus")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestDesktop::startsWithoutSessionBus"), output);
        return;
    }
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!QDBusConnection::sessionBus().isConnected());
    auto *player = w.findChild<QMediaPlayer *>();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"))->click();
    QCOMPARE(player->playbackState(), QMediaPlayer::PausedState);
    w.close();
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
