#include "desktopintegration.h"

#include "glibsessionbus.h"
#include "idleinhibitor.h"
#include "mprisobject.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.vostan_tv");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kChannelName = QStringLiteral("Vostan TV");

// The channel logo as a file the desktop's shell can read, written when the
// cached copy is missing or differs.
QString writeCachedLogo()
{
    QFile source(QStringLiteral(":/logo.png"));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    const QByteArray png = source.readAll();
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return {};
    const QString path = dir + QStringLiteral("/logo.png");
    QFile cached(path);
    if (!cached.open(QIODevice::ReadOnly) || cached.readAll() != png) {
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size() || !out.commit())
            return {};
    }
    return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
}

// Once a process, when a client first asks, not while the window is built.
QString cachedLogoUrl()
{
    static const QString url = writeCachedLogo();
    return url;
}

// Asks for the name without queueing behind another owner; a second running
// player takes an instance name instead, as MPRIS suggests.
void requestName(QObject *context, const QString &name)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"))
        << name << 4u;
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, context, [context, watcher, name] {
            watcher->deleteLater();
            const QDBusPendingReply<uint> reply = *watcher;
            const bool owner = !reply.isError() && (reply.value() == 1 || reply.value() == 4);
            if (!owner && name == kServiceName)
                requestName(
                    context,
                    kServiceName +
                        QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()));
        });
}

} // namespace

DesktopIntegration::DesktopIntegration(QObject *parent)
    : QObject(parent), inhibitor(new IdleInhibitor(this)), title(kChannelName)
{
    registerOnBus();
    // A quit from the menu closes no window.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            windowOpen = false;
            updateInhibition();
        });
}

DesktopIntegration::~DesktopIntegration()
{
    if (!onBus)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    for (const QString &name :
         {kServiceName,
          kServiceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())})
        bus.send(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("/org/freedesktop/DBus"),
                                                QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("ReleaseName"))
                 << name);
}

void DesktopIntegration::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    keepGlibSessionBusFromEndingProcess();
    if (!bus.registerVirtualObject(kObjectPath, new MprisObject(this)))
        return;
    onBus = true;
    requestName(this, kServiceName);
}

void DesktopIntegration::followWindow(QWidget *followed)
{
    if (window)
        window->removeEventFilter(this);
    window = followed;
    window->installEventFilter(this);
    fullscreen = window->isFullScreen();
}

bool DesktopIntegration::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window) {
        switch (event->type()) {
        case QEvent::WindowStateChange:
            if (window->isFullScreen() != fullscreen) {
                fullscreen = !fullscreen;
                announce(kRootInterface, QStringLiteral("Fullscreen"), fullscreen);
            }
            break;
        case QEvent::Close:
        case QEvent::Show:
            windowOpen = event->type() == QEvent::Show;
            updateInhibition();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DesktopIntegration::setPlayback(Playback newPlayback)
{
    if (newPlayback == playback)
        return;
    playback = newPlayback;
    announce(kPlayerInterface, QStringLiteral("PlaybackStatus"), playbackStatus());
    updateInhibition();
}

void DesktopIntegration::setVolume(int percent)
{
    percent = qBound(0, percent, 100);
    if (percent == volumePercent)
        return;
    const double before = volume();
    volumePercent = percent;
    if (volume() != before)
        announce(kPlayerInterface, QStringLiteral("Volume"), volume());
}

void DesktopIntegration::setMuted(bool on)
{
    if (on == muted)
        return;
    const double before = volume();
    muted = on;
    if (volume() != before)
        announce(kPlayerInterface, QStringLiteral("Volume"), volume());
}

void DesktopIntegration::setTitle(const QString &newTitle)
{
    const QString shown = newTitle.isEmpty() ? kChannelName : newTitle;
    if (shown == title)
        return;
    title = shown;
    ++programme;
    announce(kPlayerInterface, QStringLiteral("Metadata"), metadata());
}

QString DesktopIntegration::playbackStatus() const
{
    switch (playback) {
    case Playback::Playing:
        return QStringLiteral("Playing");
    case Playback::Paused:
        return QStringLiteral("Paused");
    case Playback::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap DesktopIntegration::metadata() const
{
    QVariantMap map{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(
             QDBusObjectPath(QStringLiteral("/tv/vostan/Player/programme%1").arg(programme)))},
        {QStringLiteral("xesam:title"), title},
        {QStringLiteral("xesam:artist"), QStringList{kChannelName}},
    };
    const QString artUrl = onBus ? cachedLogoUrl() : QString();
    if (!artUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), artUrl);
    return map;
}

void DesktopIntegration::announce(const QString &interface, const QString &property,
                                  const QVariant &value) const
{
    if (!onBus)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << QVariantMap{{property, value}} << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

void DesktopIntegration::updateInhibition()
{
    inhibitor->setInhibited(playback == Playback::Playing && windowOpen);
}
