#include "mprisobject.h"

#include "desktopintegration.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>

#include <cmath>

namespace {

const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

const char kIntrospection[] = R"(  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="CanSetFullscreen" type="b" access="read"/>
    <property name="Fullscreen" type="b" access="readwrite"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek">
      <arg name="Offset" type="x" direction="in"/>
    </method>
    <method name="SetPosition">
      <arg name="TrackId" type="o" direction="in"/>
      <arg name="Position" type="x" direction="in"/>
    </method>
    <method name="OpenUri">
      <arg name="Uri" type="s" direction="in"/>
    </method>
    <signal name="Seeked">
      <arg name="Position" type="x"/>
    </signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read">
      <annotation name="org.qtproject.QtDBus.QtTypeName" value="QVariantMap"/>
    </property>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
)";

const QStringList &propertyNames(const QString &interface)
{
    static const QStringList root{
        QStringLiteral("CanQuit"),           QStringLiteral("CanRaise"),
        QStringLiteral("CanSetFullscreen"),  QStringLiteral("Fullscreen"),
        QStringLiteral("HasTrackList"),      QStringLiteral("Identity"),
        QStringLiteral("DesktopEntry"),      QStringLiteral("SupportedUriSchemes"),
        QStringLiteral("SupportedMimeTypes")};
    static const QStringList player{QStringLiteral("PlaybackStatus"), QStringLiteral("Rate"),
                                    QStringLiteral("Metadata"),       QStringLiteral("Volume"),
                                    QStringLiteral("Position"),       QStringLiteral("MinimumRate"),
                                    QStringLiteral("MaximumRate"),    QStringLiteral("CanGoNext"),
                                    QStringLiteral("CanGoPrevious"),  QStringLiteral("CanPlay"),
                                    QStringLiteral("CanPause"),       QStringLiteral("CanSeek"),
                                    QStringLiteral("CanControl")};
    static const QStringList none;
    return interface == kRoot ? root : interface == kPlayer ? player : none;
}

// The signature each method takes.
QString methodSignature(const QString &interface, const QString &method)
{
    static const QHash<QString, QString> root{{QStringLiteral("Raise"), QString()},
                                              {QStringLiteral("Quit"), QString()}};
    static const QHash<QString, QString> player{
        {QStringLiteral("Next"), QString()},
        {QStringLiteral("Previous"), QString()},
        {QStringLiteral("Pause"), QString()},
        {QStringLiteral("PlayPause"), QString()},
        {QStringLiteral("Stop"), QString()},
        {QStringLiteral("Play"), QString()},
        {QStringLiteral("Seek"), QStringLiteral("x")},
        {QStringLiteral("SetPosition"), QStringLiteral("ox")},
        {QStringLiteral("OpenUri"), QStringLiteral("s")}};
    const QHash<QString, QString> &methods = interface == kRoot ? root : player;
    return methods.value(method, QStringLiteral("?"));
}

bool isNumber(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<double>() && std::isfinite(value.toDouble());
}

} // namespace

MprisObject::MprisObject(DesktopIntegration *desktop)
    : QDBusVirtualObject(desktop), desktop(desktop)
{}

QString MprisObject::introspect(const QString &) const
{
    return QString::fromUtf8(kIntrospection);
}

QVariant MprisObject::property(const QString &interface, const QString &name) const
{
    if (!propertyNames(interface).contains(name))
        return {};
    if (name == QLatin1String("Fullscreen"))
        return desktop->isFullscreen();
    if (name == QLatin1String("Identity"))
        return QStringLiteral("Vostan TV Плеері");
    if (name == QLatin1String("DesktopEntry"))
        return QStringLiteral("tv.vostan.Player");
    if (name.startsWith(QLatin1String("Supported")))
        return QStringList();
    if (name == QLatin1String("PlaybackStatus"))
        return desktop->playbackStatus();
    if (name.endsWith(QLatin1String("Rate")))
        return 1.0;
    if (name == QLatin1String("Metadata"))
        return desktop->metadata();
    if (name == QLatin1String("Volume"))
        return desktop->volume();
    if (name == QLatin1String("Position"))
        return qlonglong(0);
    // Nothing to seek, skip or list; everything else is allowed.
    static const QStringList no{QStringLiteral("HasTrackList"), QStringLiteral("CanGoNext"),
                                QStringLiteral("CanGoPrevious"), QStringLiteral("CanSeek")};
    return !no.contains(name);
}

QVariantMap MprisObject::properties(const QString &interface) const
{
    QVariantMap map;
    for (const QString &name : propertyNames(interface))
        map.insert(name, property(interface, name));
    return map;
}

bool MprisObject::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    const QVariantList args = message.arguments();
    QDBusMessage reply;
    if (interface == kProperties) {
        if (member == QLatin1String("Get") && signature == QLatin1String("ss")) {
            const QVariant value = property(args.at(0).toString(), args.at(1).toString());
            reply = value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                    : message.createErrorReply(QDBusError::UnknownProperty,
                                                               QStringLiteral("No such property"));
        } else if (member == QLatin1String("GetAll") && signature == QLatin1String("s")) {
            reply = message.createReply(QVariant(properties(args.at(0).toString())));
        } else if (member == QLatin1String("Set") && signature == QLatin1String("ssv")) {
            reply = setProperty(message);
        } else {
            return false;
        }
    } else if (interface == kRoot || interface == kPlayer) {
        reply = call(message);
    } else {
        return false;
    }
    connection.send(reply);
    return true;
}

QDBusMessage MprisObject::setProperty(const QDBusMessage &message)
{
    const QString interface = message.arguments().at(0).toString();
    const QString name = message.arguments().at(1).toString();
    const QVariant value = message.arguments().at(2).value<QDBusVariant>().variant();
    if (!propertyNames(interface).contains(name))
        return message.createErrorReply(QDBusError::UnknownProperty,
                                        QStringLiteral("No such property"));
    if (interface == kRoot && name == QLatin1String("Fullscreen")) {
        if (value.metaType() != QMetaType::fromType<bool>())
            return message.createErrorReply(QDBusError::InvalidArgs,
                                            QStringLiteral("Fullscreen is a boolean"));
        emit desktop->fullscreenRequested(value.toBool());
    } else if (name == QLatin1String("Volume")) {
        if (!isNumber(value))
            return message.createErrorReply(QDBusError::InvalidArgs,
                                            QStringLiteral("Volume is a number"));
        // Beyond either end is as far as the slider goes.
        emit desktop->volumeRequested(qRound(qBound(0.0, value.toDouble(), 1.0) * 100));
    } else if (name == QLatin1String("Rate")) {
        if (!isNumber(value))
            return message.createErrorReply(QDBusError::InvalidArgs,
                                            QStringLiteral("Rate is a number"));
        // A live channel plays at one speed; a rate of 0 means pause.
        if (value.toDouble() == 0.0)
            emit desktop->pauseRequested();
    } else {
        return message.createErrorReply(QDBusError::PropertyReadOnly,
                                        QStringLiteral("%1 is read-only").arg(name));
    }
    return message.createReply();
}

QDBusMessage MprisObject::call(const QDBusMessage &message)
{
    const QString interface = message.interface();
    const QString method = message.member();
    const QString expected = methodSignature(interface, method);
    if (expected == QLatin1String("?"))
        return message.createErrorReply(QDBusError::UnknownMethod,
                                        QStringLiteral("No such method"));
    if (message.signature() != expected)
        return message.createErrorReply(QDBusError::InvalidArgs,
                                        QStringLiteral("%1 takes \"%2\"").arg(method, expected));
    if (method == QLatin1String("Raise"))
        emit desktop->raiseRequested();
    else if (method == QLatin1String("Quit"))
        emit desktop->quitRequested();
    else if (method == QLatin1String("Play"))
        emit desktop->playRequested();
    else if (method == QLatin1String("Pause"))
        emit desktop->pauseRequested();
    else if (method == QLatin1String("PlayPause"))
        emit desktop->playPauseRequested();
    else if (method == QLatin1String("Stop"))
        emit desktop->stopRequested();
    return message.createReply();
}
