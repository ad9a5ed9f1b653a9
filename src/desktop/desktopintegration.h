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
    // Muted reads as volume 0 on the bus, so sound menus show it.
    void setMuted(bool muted);
    // The programme on air; empty while none is known.
    void setTitle(const QString &title);

    // Read by the MPRIS object.
    QString playbackStatus() const;
    double volume() const { return muted ? 0.0 : volumePercent / 100.0; }
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
    bool muted = false;
    bool fullscreen = false;
    QString title;
    // Counts the programmes, so each gets a track id of its own.
    int programme = 0;
    bool onBus = false;
};
