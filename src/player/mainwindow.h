#pragma once

#include "epgtypes.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QAudioOutput;
class QComboBox;
class QGraphicsScene;
class QGraphicsView;
class QLabel;
class QMediaPlayer;
class QNetworkAccessManager;
class QPushButton;
class QSlider;
class QTimer;
class DesktopIntegration;
class EpgService;
class IdleBrandPanel;
class NetworkSpeedMeter;
class ScaledVideoItem;
class VideoFactsTap;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(QWidget *parent, quint16 proxyPort, NetworkSpeedMeter *meter);
    ~MainWindow() override;

    // How an update is found and handed over. The defaults are the channel's
    // manifest, a detached start and quitting; tests put fakes here.
    using InstallerStarter = std::function<bool(const QString &program, const QStringList &args)>;
    void setUpdateManifestUrl(const QString &url) { updateManifestUrl = url; }
    void setInstallerStarter(InstallerStarter starter) { startInstaller = std::move(starter); }
    void setQuitHandler(std::function<void()> handler) { quitApplication = std::move(handler); }
    // What the relay reads from the stream reaches the picture from here on.
    void setVideoFactsTap(VideoFactsTap *tap);

private slots:
    void playPauseClicked();
    void updateVolume(int volume);
    void toggleFullscreen();
    void applyAlwaysOnTop(bool checked);
    void followAudioDevices();
    void toggleMute();
    void refreshStream();
    void takeScreenshot();
    void openSettings();
    void showAbout();
    void hideControls();
    void showControls();
    void checkUpdates();
    void downloadUpdate(const QString &url);
    void applyEpgPayload(const EpgPayload &payload);
    void openEpgDialog();
    void updateNetworkSpeedDisplay(double mbpsDown, double mbpsUp);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setupMenus();
    void updateLiveStrip();
    void fillQualityCombo(const QByteArray &playlist);
    void applyPlaybackUrlFromSelection();
    void buildOverlay(QWidget *central);
    void activity();
    void onQualityActivated(int index);
    bool isPictureDoubleClick(QObject *watched, QEvent *event) const;
    void showScreenshotConfirmation();
    void offerUpdate(const QString &version, const QString &url, const QString &changelog);
    void installDownloadedUpdate(const QByteArray &body, qint64 expectedLength);
    void showUpdateError(const QString &text);
    void setupDesktopIntegration();
    void setupKeys();
    void changeVolumeByKey(int step);

    QString appVersion;
    QString updateManifestUrl;
    QMediaPlayer *player = nullptr;
    QGraphicsView *videoView = nullptr;
    QGraphicsScene *videoScene = nullptr;
    ScaledVideoItem *videoItem = nullptr;
    QAudioOutput *audioOutput = nullptr;
    QWidget *videoOverlay = nullptr;
    QWidget *topBar = nullptr;
    QWidget *bottomBar = nullptr;
    QPushButton *playPauseBtn = nullptr;
    QPushButton *fullscreenBtn = nullptr;
    QPushButton *pinBtn = nullptr;
    QPushButton *muteBtn = nullptr;
    QPushButton *refreshBtn = nullptr;
    QPushButton *screenshotBtn = nullptr;
    QPushButton *settingsBtn = nullptr;
    QPushButton *aboutBtn = nullptr;
    QSlider *volumeSlider = nullptr;
    QComboBox *qualityCombo = nullptr;
    IdleBrandPanel *idlePanel = nullptr;
    QTimer *hideTimer = nullptr;
    bool alwaysOnTop = false;
    quint16 proxyPort = 0;
    QNetworkAccessManager *networkManager = nullptr;
    QAction *alwaysOnTopAction = nullptr;
    QLabel *liveEpgStrip = nullptr;
    QLabel *netSpeedLabel = nullptr;
    NetworkSpeedMeter *speedMeter = nullptr;
    bool epgReceived = false;
    EpgService *epgService = nullptr;
    EpgPayload lastEpgPayload;
    QTimer *epgTimer = nullptr;
    InstallerStarter startInstaller;
    std::function<void()> quitApplication;
    // From an update question until its download's last box is closed.
    bool updateInProgress = false;
    DesktopIntegration *desktop = nullptr;
};
