#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class DesktopIntegration;

// org.mpris.MediaPlayer2: who the player is and what it lets the desktop do
// with its window.
class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool CanSetFullscreen READ yes)
    Q_PROPERTY(bool Fullscreen READ fullscreen WRITE setFullscreen)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)

public:
    explicit MprisRootAdaptor(DesktopIntegration *desktop);

    QString identity() const;
    QString desktopEntry() const;
    bool yes() const { return true; }
    bool no() const { return false; }
    QStringList none() const { return {}; }
    bool fullscreen() const;
    void setFullscreen(bool on);

public slots:
    void Raise();
    void Quit();

private:
    DesktopIntegration *desktop;
};
