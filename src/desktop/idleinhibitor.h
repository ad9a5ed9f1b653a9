#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>

// Keeps the screen saver and idle sleep away while held. On Linux it asks the
// first of the desktop portal, org.freedesktop.ScreenSaver and the GNOME
// session manager that answers on the session bus, never waiting on it; on
// Windows it flags the thread's execution state. Without a bus or a service
// nothing happens.
class IdleInhibitor : public QObject
{
    Q_OBJECT

public:
    explicit IdleInhibitor(QObject *parent = nullptr);
    ~IdleInhibitor() override;

    void setInhibited(bool on);
    bool isInhibited() const { return wanted; }

private:
    enum Kind
    {
        None,
        Portal,
        ScreenSaver,
        GnomeSession,
    };

    static QDBusMessage inhibitCall(Kind kind);
    void request(Kind kind);
    void granted(Kind kind, const QDBusObjectPath &handle, uint cookie);
    void release();

    bool wanted = false;
    bool pending = false;
    Kind held = None;
    QDBusObjectPath portalHandle;
    uint cookie = 0;
};
