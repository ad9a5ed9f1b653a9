#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

class IdleInhibitor;
class QWidget;

// What the desktop sees of the player: idle inhibition while the picture
// plays, and the MPRIS 2 interface (org.mpris.MediaPlayer2.vostan_tv) for
// media keys, sound menus and remotes. The window feeds it state through the
// setters and carries out its requests; each change is announced on the bus.
// Without a session bus it only keeps its state.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    enum class Playback
    {
        Stopped,
        Playing,
        Paused,
    };

    explicit DesktopIntegration(QObject *parent = nullptr);
    ~DesktopIntegration() override;

    // Full screen follows this window's state; closing it ends the inhibition.
    void followWindow(QWidget *window);

    void setPlayback(Playback playback);
    void setVolume(int percent); // 0-100
    // The programme on air; empty while none is known.
    void setTitle(const QString &title);

    // Read by the MPRIS adaptors.
    QString playbackStatus() const;
    double volume() const { return volumePercent / 100.0; }
    bool isFullscreen() const { return fullscreen; }
    QVariantMap metadata() const;

signals:
    void playRequested();
    void pauseRequested();
    void playPauseRequested();
    void stopRequested();
    void volumeRequested(int percent);
    void fullscreenRequested(bool on);
    void raiseRequested();
    void quitRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void registerOnBus();
    void announce(const QString &interface, const QString &property, const QVariant &value) const;
    void updateInhibition();

    IdleInhibitor *inhibitor = nullptr;
    QWidget *window = nullptr;
    bool windowOpen = true;
    Playback playback = Playback::Stopped;
    int volumePercent = 0;
    bool fullscreen = false;
    QString title;
    bool onBus = false;
};
