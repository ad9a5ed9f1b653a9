#include "idleinhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kReason = QStringLiteral("Тікелей эфир көрсетілуде");
constexpr uint kIdleFlag = 8;

} // namespace

QDBusMessage IdleInhibitor::inhibitCall(Kind kind)
{
    QDBusMessage call;
    switch (kind) {
    case Portal:
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                              QStringLiteral("/org/freedesktop/portal/desktop"),
                                              QStringLiteral("org.freedesktop.portal.Inhibit"),
                                              QStringLiteral("Inhibit"));
        call << QString() << kIdleFlag << QVariantMap{{QStringLiteral("reason"), kReason}};
        break;
    case ScreenSaver:
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("Inhibit"));
        call << QStringLiteral("Vostan TV Плеері") << kReason;
        break;
    default:
        call = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.SessionManager"), QStringLiteral("/org/gnome/SessionManager"),
            QStringLiteral("org.gnome.SessionManager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("tv.vostan.Player") << 0u << kReason << kIdleFlag;
        break;
    }
    return call;
}

IdleInhibitor::IdleInhibitor(QObject *parent) : QObject(parent)
{}

IdleInhibitor::~IdleInhibitor()
{
    setInhibited(false);
}

void IdleInhibitor::setInhibited(bool on)
{
    if (on == wanted)
        return;
    wanted = on;
#ifdef Q_OS_WIN
    SetThreadExecutionState(on ? (ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED)
                               : ES_CONTINUOUS);
#else
    if (on && held == None && !pending)
        request(Portal);
    else if (!on)
        release(); // one still on its way is let go when it arrives
#endif
}

void IdleInhibitor::request(Kind kind)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    pending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibitCall(kind)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, kind] {
        watcher->deleteLater();
        pending = false;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            // Not there or not willing: ask the next one, if still wanted.
            if (wanted && kind != GnomeSession)
                request(static_cast<Kind>(kind + 1));
            return;
        }
        const QVariant value = reply.arguments().constFirst();
        granted(kind, value.value<QDBusObjectPath>(), value.toUInt());
    });
}

void IdleInhibitor::granted(Kind kind, const QDBusObjectPath &handle, uint newCookie)
{
    held = kind;
    portalHandle = handle;
    cookie = newCookie;
    if (!wanted)
        release();
}

void IdleInhibitor::release()
{
    const Kind kind = held;
    held = None;
    if (kind == None)
        return;
    QDBusMessage call;
    if (kind == Portal)
        call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), portalHandle.path(),
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
    else if (kind == ScreenSaver)
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("UnInhibit"))
               << cookie;
    else
        call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.SessionManager"),
                                              QStringLiteral("/org/gnome/SessionManager"),
                                              QStringLiteral("org.gnome.SessionManager"),
                                              QStringLiteral("Uninhibit"))
               << cookie;
    // Nothing to wait for: the answer would change nothing.
    QDBusConnection::sessionBus().send(call);
}
