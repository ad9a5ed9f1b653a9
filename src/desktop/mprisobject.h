#pragma once

#include <QDBusVirtualObject>
#include <QVariant>

class DesktopIntegration;

// The MPRIS object at /org/mpris/MediaPlayer2: org.mpris.MediaPlayer2 (the
// window) and org.mpris.MediaPlayer2.Player (a live channel: play, pause,
// stop and volume; nothing to seek or skip to). Its properties are answered
// here rather than by Qt's adaptors, which turn a written value of the wrong
// type into the right one ("yes" into true) or fail it as an internal error.
class MprisObject : public QDBusVirtualObject
{
    Q_OBJECT

public:
    explicit MprisObject(DesktopIntegration *desktop);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    // An invalid variant when the interface has no such property.
    QVariant property(const QString &interface, const QString &name) const;
    QVariantMap properties(const QString &interface) const;
    QDBusMessage setProperty(const QDBusMessage &message);
    QDBusMessage call(const QDBusMessage &message);

    DesktopIntegration *desktop;
};
