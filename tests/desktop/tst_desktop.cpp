// Before Qt's headers, which define "signals", a name GLib's use.
#ifdef VOSTAN_HAVE_GIO
#include <gio/gio.h>
#endif

#include "epgservice.h"
#include "iconhelper.h"
#include "mainwindow.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

constexpr quint16 kDeadPort = 1; // refuses at once: the stream "plays" without data
const QString kService = QStringLiteral("org.mpris.MediaPlayer2.vostan_tv");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
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

class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    Ledger *ledger = nullptr;
    QDBusConnection *bus = nullptr;
    bool slow = false; // answers only on grant()
    QList<QDBusMessage> held;
    void grant()
    {
        for (const QDBusMessage &call : std::exchange(held, {}))
            bus->send(call.createReply(
                QVariant::fromValue(Inhibit({}, call.arguments().at(1).toUInt(),
                                            qdbus_cast<QVariantMap>(call.arguments().at(2))))));
    }
public slots:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options)
    {
        if (slow && calledFromDBus()) {
            setDelayedReply(true);
            held << message();
            return {};
        }
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
    QString interfaceOf(const QString &name) const { return interfaces.value(name); }
    int count = 0;
public slots:
    void changed(const QString &interface, const QVariantMap &properties, const QStringList &)
    {
        for (auto it = properties.begin(); it != properties.end(); ++it) {
            values.insert(it.key(), it.value());
            interfaces.insert(it.key(), interface);
        }
        ++count;
    }

private:
    QVariantMap values;
    QHash<QString, QString> interfaces;
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
    void requests_data();
    void requests();
    void startsWithoutSessionBus();
    void outlivesSessionBus();

private:
    // The window playing its (dead) stream, its MPRIS name taken.
    void startPlaying(MainWindow &w);
    QDBusMessage call(const QString &interface, const QString &method,
                      const QVariantList &args = {});
    QVariant property(const QString &interface, const QString &name);
    QDBusMessage setProperty(const QString &interface, const QString &name, const QVariant &value)
    {
        return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {interface, name, QVariant::fromValue(QDBusVariant(value))});
    }
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
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Asked for, as no window manager may be there to give it.
    w.activateWindow();
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
    QTest::addColumn<bool>("slow"); // the portal answers after the pause
    const QStringList all{"portal", "screensaver", "gnome"};
    QTest::newRow("portal first") << all << "portal" << false;
    QTest::newRow("no portal: screen saver") << all.mid(1) << "screensaver" << false;
    QTest::newRow("only the GNOME session") << all.mid(2) << "gnome" << false;
    QTest::newRow("paused before the grant") << all << "portal" << true;
}

void TestDesktop::inhibition()
{
    QFETCH(QStringList, services);
    QFETCH(QString, used);
    QFETCH(bool, slow);
    Ledger ledger;
    FakePortal portal;
    FakeScreenSaver saver;
    FakeGnomeSession gnome;
    portal.ledger = saver.ledger = gnome.ledger = &ledger;
    QDBusConnection bus = peer();
    portal.bus = &bus;
    portal.slow = slow;
    QStringList offered;
    // The fakes leave the bus with their objects; the names stay until given back.
    const auto giveBack = qScopeGuard([&] {
        for (const QString &name : std::as_const(offered))
            bus.unregisterService(name);
    });
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
        if (QTest::currentTestFailed())
            return;
        if (slow) {
            QTRY_COMPARE(portal.held.size(), 1);
            btn->click();
            portal.grant();
            QCOMPARE(ledger.open.size(), 1);
            // The grant that came after the pause is given back.
            QTRY_COMPARE(ledger.open.size(), 0);
            portal.slow = false;
            btn->click();
        }
        QTRY_COMPARE(ledger.open.size(), 1);
        QCOMPARE(ledger.via, QStringList(slow ? 2 : 1, used));
        QCOMPARE(ledger.reasons.constFirst(), kReason);
        const QStringList before = ledger.via;
        btn->click();
        QTRY_COMPARE(ledger.open.size(), 0);
        btn->click();
        QTRY_COMPARE(ledger.open.size(), 1);
        QCOMPARE(ledger.via, before + QStringList{used});
        w.close();
        QTRY_COMPARE(ledger.open.size(), 0);
        QCOMPARE(ledger.via.size(), before.size() + 1);
    }
}

void TestDesktop::playbackStatus_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("status");
    QTest::newRow("click on the button") << "click"
                                         << "Paused";
    QTest::newRow("Space key") << "space"
                               << "Paused";
    QTest::newRow("PlayPause over the bus") << "PlayPause"
                                            << "Paused";
    QTest::newRow("Pause over the bus") << "Pause"
                                        << "Paused";
    QTest::newRow("Stop over the bus stops") << "Stop"
                                             << "Stopped";
    QTest::newRow("rate 0 over the bus pauses") << "Rate"
                                                << "Paused";
    QTest::newRow("Play while playing") << "Play"
                                        << "Playing";
}

void TestDesktop::playbackStatus()
{
    QFETCH(QString, action);
    QFETCH(QString, status);
    const bool pauses = status != QLatin1String("Playing");
    const auto state = status == QLatin1String("Stopped") ? QMediaPlayer::StoppedState
                       : pauses                           ? QMediaPlayer::PausedState
                                                          : QMediaPlayer::PlayingState;
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *player = w.findChild<QMediaPlayer *>();
    auto *btn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
    startPlaying(w);
    if (QTest::currentTestFailed())
        return;
    QSignalSpy sources(player, &QMediaPlayer::sourceChanged);
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
    } else if (action == QLatin1String("Rate")) {
        QCOMPARE(setProperty(kPlayer, action, 0.0).type(), QDBusMessage::ReplyMessage);
    } else {
        QCOMPARE(call(kPlayer, action).type(), QDBusMessage::ReplyMessage);
    }
    QTRY_COMPARE(player->playbackState(), state);
    QVERIFY(hasIcon(btn, pauses ? "play" : "pause"));
    QCOMPARE(property(kPlayer, QStringLiteral("PlaybackStatus")).toString(), status);
    if (pauses)
        QTRY_COMPARE(changes.last(QStringLiteral("PlaybackStatus")).toString(), status);
    else
        QCOMPARE(changes.count, before);

    // Play from the bus resumes as the button does; after a stop it starts
    // the channel afresh, at the live edge.
    QCOMPARE(call(kPlayer, QStringLiteral("Play")).type(), QDBusMessage::ReplyMessage);
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(hasIcon(btn, "pause"));
    QTRY_COMPARE(changes.last(QStringLiteral("PlaybackStatus")).toString(),
                 QStringLiteral("Playing"));
    QCOMPARE(sources.size(), state == QMediaPlayer::StoppedState ? 2 : 0);
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
    if (QTest::currentTestFailed())
        return;
    const auto shownTitle = [this] {
        return toMap(property(kPlayer, QStringLiteral("Metadata")))
            .value(QStringLiteral("xesam:title"))
            .toString();
    };
    const auto trackId = [this] {
        return toMap(property(kPlayer, QStringLiteral("Metadata")))
            .value(QStringLiteral("mpris:trackid"))
            .value<QDBusObjectPath>()
            .path();
    };
    emit guide->finishedPayload(EpgPayload{QStringLiteral("Таңғы эфир"), {}, QString()});
    QTRY_COMPARE(shownTitle(), QStringLiteral("Таңғы эфир"));
    const QString morning = trackId();

    emit guide->finishedPayload(EpgPayload{liveTitle, {}, error});
    QTRY_COMPARE(toMap(changes.last(QStringLiteral("Metadata")))
                     .value(QStringLiteral("xesam:title"))
                     .toString(),
                 title);
    QCOMPARE(shownTitle(), title);
    // Clients that watch the track see the programme change.
    QVERIFY(!trackId().isEmpty() && trackId() != morning);
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
    if (QTest::currentTestFailed())
        return;
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

void TestDesktop::requests_data()
{
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("name");   // a property to set, else a method to call
    QTest::addColumn<QVariant>("value"); // none: call the method
    QTest::addColumn<QString>("error");  // empty: answered without one
    QTest::newRow("full screen") << kRoot << "Fullscreen" << QVariant(true) << "";
    QTest::newRow("full screen as a string")
        << kRoot << "Fullscreen" << QVariant("true") << kInvalidArgs;
    QTest::newRow("volume as a string") << kPlayer << "Volume" << QVariant("0.3") << kInvalidArgs;
    QTest::newRow("volume not a number")
        << kPlayer << "Volume" << QVariant(qQNaN()) << kInvalidArgs;
    QTest::newRow("rate as a string") << kPlayer << "Rate" << QVariant("0") << kInvalidArgs;
    QTest::newRow("volume while muted") << kPlayer << "Volume" << QVariant(0.5) << "";
    QTest::newRow("raise") << kRoot << "Raise" << QVariant() << "";
    QTest::newRow("quit") << kRoot << "Quit" << QVariant() << "";
}

void TestDesktop::requests()
{
    QFETCH(QString, interface);
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QFETCH(QString, error);
    MainWindow w(nullptr, kDeadPort, nullptr);
    QWidget other; // holds the focus before a raise
    int quits = 0;
    w.setQuitHandler([&quits] { ++quits; });
    auto *slider = w.findChild<QSlider *>(QStringLiteral("volumeSlider"));
    auto *out = w.findChild<QAudioOutput *>();
    auto *player = w.findChild<QMediaPlayer *>();
    startPlaying(w);
    if (QTest::currentTestFailed())
        return;
    if (QByteArray(QTest::currentDataTag()) == "volume while muted") {
        QVERIFY(QMetaObject::invokeMethod(&w, "toggleMute"));
        QTRY_COMPARE(changes.last(QStringLiteral("Volume")).toDouble(), 0.0);
        QCOMPARE(property(kPlayer, QStringLiteral("Volume")).toDouble(), 0.0);
    } else if (name == QLatin1String("Raise")) {
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
    }
    const QVariant before = value.isValid() ? property(interface, name) : QVariant();

    const QDBusMessage reply =
        value.isValid() ? setProperty(interface, name, value) : call(interface, name);
    QCOMPARE(reply.errorName(), error);
    if (!error.isEmpty()) {
        QCOMPARE(property(interface, name), before);
        QVERIFY(!w.isFullScreen());
        QCOMPARE(slider->value(), 50);
        QCOMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    } else if (name == QLatin1String("Fullscreen")) {
        QTRY_VERIFY(w.isFullScreen());
        QTRY_COMPARE(changes.last(name).toBool(), true);
        QCOMPARE(changes.interfaceOf(name), kRoot);
        QCOMPARE(setProperty(kRoot, name, false).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(!w.isFullScreen());
        QTRY_COMPARE(changes.last(name).toBool(), false);
    } else if (name == QLatin1String("Volume")) {
        // At the slider's own level: only the mute changes.
        QTRY_COMPARE(changes.last(name).toDouble(), 0.5);
        QVERIFY(!out->isMuted());
        QCOMPARE(slider->value(), 50);
    } else if (name == QLatin1String("Raise")) {
        QTRY_VERIFY(w.isActiveWindow());
    } else {
        QTRY_COMPARE(quits, 1);
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

void TestDesktop::outlivesSessionBus()
{
#ifndef VOSTAN_HAVE_GIO
    QSKIP("GLib's D-Bus client is not built in");
#else
    if (!qEnvironmentVariableIsSet("VOSTAN_TEST_BUS_LOSS")) {
        // In a process of its own, which the lost bus would end.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VOSTAN_TEST_BUS_LOSS"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("outlivesSessionBus")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
        QVERIFY2(output.contains("PASS   : TestDesktop::outlivesSessionBus"), output);
        return;
    }
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *player = w.findChild<QMediaPlayer *>();
    auto *btn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
    startPlaying(w);
    if (QTest::currentTestFailed())
        return;
    // GLib's shared connection, the one GIO modules use. Its closed signal
    // runs GLib's own handler first, which would end the process.
    GDBusConnection *glib = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    QVERIFY(glib);
    bool closed = false;
    g_signal_connect_data(glib, "closed",
                          G_CALLBACK(+[](GDBusConnection *, gboolean, GError *, gpointer flag) {
                              *static_cast<bool *>(flag) = true;
                          }),
                          &closed, nullptr, G_CONNECT_AFTER);
    daemon.kill();
    QVERIFY(daemon.waitForFinished());
    QTRY_VERIFY(closed);
    // The picture and the window carry on; the bus side has gone quiet.
    QCOMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    btn->click();
    QCOMPARE(player->playbackState(), QMediaPlayer::PausedState);
    btn->click();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    g_object_unref(glib);
#endif
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
