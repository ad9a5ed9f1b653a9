#include "mainwindow.h"

#include "channelorigin.h"
#include "deferredstyleicon.h"
#include "desktopintegration.h"
#include "epgdialog.h"
#include "epgservice.h"
#include "hlsmasterparser.h"
#include "iconhelper.h"
#include "idlebrandpanel.h"
#include "installerfile.h"
#include "networkspeedmeter.h"
#include "networkspeedtext.h"
#include "scaledvideoitem.h"
#include "screenshotfile.h"
#include "settingsdialog.h"
#include "updatemanifest.h"
#include "videofactstap.h"
#include "videoview.h"

#include <QAction>
#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QGraphicsScene>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <utility>

// --- Helpers shared by several concerns ---

namespace {

QIcon chromeIcon(const char *name)
{
    return IconHelper::createIcon(QString::fromLatin1(name), kChromeFg);
}

// The quality box always offers this entry, first.
void addAutomaticQualityEntry(QComboBox *combo)
{
    combo->addItem(MainWindow::tr("Авто (тірек қоюшы)"), QString());
}

} // namespace

// --- Construction ---

MainWindow::MainWindow(QWidget *parent, quint16 proxyPort, NetworkSpeedMeter *meter)
    : QMainWindow(parent), appVersion(QStringLiteral("1.1")),
      updateManifestUrl(channelOrigin() + QStringLiteral("/downloads/version.json")),
      proxyPort(proxyPort), speedMeter(meter),
      startInstaller([](const QString &program, const QStringList &args) {
          return QProcess::startDetached(program, args, QString());
      }),
      quitApplication([] { QCoreApplication::quit(); })
{
    setWindowTitle(QStringLiteral("Vostan TV Плеері"));
    setWindowIcon(QIcon(QStringLiteral(":/logo.png")));
    resize(1280, 720);
    setAttribute(Qt::WA_MouseTracking);
    menuBar()->setNativeMenuBar(false);

    auto *central = new QWidget(this);
    setCentralWidget(central);

    videoScene = new QGraphicsScene(this);
    auto *view = new VideoView(videoScene, central);
    videoView = view;
    videoView->setFrameShape(QFrame::NoFrame);
    videoView->setBackgroundBrush(QBrush(Qt::black, Qt::SolidPattern));
    videoView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    videoView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    videoView->setMouseTracking(true);
    // The view paints every pixel it shows (black ground, then the picture),
    // so the widgets under it need no painting for each new frame.
    videoView->viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // The picture is scaled up to the window: interpolate instead of
    // repeating pixels, which shows blocks in full screen.
    videoView->setRenderHint(QPainter::SmoothPixmapTransform);
    videoItem = new ScaledVideoItem();
    videoScene->addItem(videoItem);
    view->setPicture(videoItem);

    idlePanel = new IdleBrandPanel(central);
    idlePanel->setAttribute(Qt::WA_TransparentForMouseEvents);

    buildOverlay(central);

    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(videoView);

    player = new QMediaPlayer(this);
    audioOutput = new QAudioOutput(this);
    followAudioDevices();
    player->setVideoOutput(videoItem);
    audioOutput->setVolume(0.5f);
    connect(player, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState) {
        if (idlePanel)
            idlePanel->setVisible(player->playbackState() == QMediaPlayer::StoppedState);
    });

    hideTimer = new QTimer(this);
    hideTimer->setInterval(5000);
    connect(hideTimer, &QTimer::timeout, this, &MainWindow::hideControls);
    hideTimer->start();

    connect(playPauseBtn, &QPushButton::clicked, this, &MainWindow::playPauseClicked);
    connect(fullscreenBtn, &QPushButton::clicked, this, &MainWindow::toggleFullscreen);
    connect(pinBtn, &QPushButton::toggled, this, &MainWindow::applyAlwaysOnTop);
    connect(muteBtn, &QPushButton::clicked, this, &MainWindow::toggleMute);
    connect(volumeSlider, &QSlider::valueChanged, this, &MainWindow::updateVolume);
    connect(refreshBtn, &QPushButton::clicked, this, &MainWindow::refreshStream);
    connect(screenshotBtn, &QPushButton::clicked, this, &MainWindow::takeScreenshot);
    connect(settingsBtn, &QPushButton::clicked, this, &MainWindow::openSettings);
    connect(aboutBtn, &QPushButton::clicked, this, &MainWindow::showAbout);

    // On the application, so mouse activity over any child widget counts.
    qApp->installEventFilter(this);

    setupMenus();

    epgService = new EpgService(this, proxyPort);
    connect(epgService, &EpgService::finishedPayload, this, &MainWindow::applyEpgPayload);
    epgTimer = new QTimer(this);
    epgTimer->setInterval(900000);
    connect(epgTimer, &QTimer::timeout, epgService, &EpgService::fetch);
    epgTimer->start();
    QTimer::singleShot(1500, epgService, &EpgService::fetch);
    updateLiveStrip();

    if (speedMeter)
        connect(speedMeter, &NetworkSpeedMeter::ratesUpdated, this,
                &MainWindow::updateNetworkSpeedDisplay);
    else
        netSpeedLabel->hide();

    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), central);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &MainWindow::playPauseClicked);
    setupKeys();

    setupDesktopIntegration();
    refreshStream();

    QTimer::singleShot(3000, Qt::CoarseTimer, this, &MainWindow::checkUpdates);
}

MainWindow::~MainWindow() = default;

// --- Overlay chrome and auto-hide ---

namespace {

QPushButton *makeIconButton(QWidget *parent, const char *icon, int iconSize, const QString &tip)
{
    auto *button = new QPushButton(parent);
    button->setIcon(chromeIcon(icon));
    button->setIconSize(QSize(iconSize, iconSize));
    if (!tip.isEmpty()) {
        button->setToolTip(tip);
        // Icon-only buttons have no text for screen readers otherwise.
        button->setAccessibleName(tip);
    }
    return button;
}

} // namespace

void MainWindow::buildOverlay(QWidget *central)
{
    videoOverlay = new QWidget(central);
    videoOverlay->setObjectName(QStringLiteral("videoOverlay"));
    videoOverlay->setAttribute(Qt::WA_MouseTracking);
    videoOverlay->setAttribute(Qt::WA_TranslucentBackground);
    auto *overlayLayout = new QVBoxLayout(videoOverlay);
    overlayLayout->setContentsMargins(22, 22, 22, 24);
    overlayLayout->setSpacing(0);

    topBar = new QWidget(videoOverlay);
    topBar->setObjectName(QStringLiteral("topBar"));

    liveEpgStrip = new QLabel(topBar);
    liveEpgStrip->setObjectName(QStringLiteral("liveEpgStrip"));
    liveEpgStrip->setTextFormat(Qt::RichText);
    liveEpgStrip->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    liveEpgStrip->setVisible(true);
    liveEpgStrip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    liveEpgStrip->setWordWrap(false);
    liveEpgStrip->setMinimumWidth(280);

    netSpeedLabel = new QLabel(topBar);
    netSpeedLabel->setObjectName(QStringLiteral("netSpeedLabel"));
    netSpeedLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    netSpeedLabel->setMinimumWidth(210);
    netSpeedLabel->setMaximumWidth(340);
    netSpeedLabel->setWordWrap(false);
    netSpeedLabel->setText(tr("Желі: күту…"));

    screenshotBtn = makeIconButton(topBar, "camera", 30, tr("Скриншот"));
    pinBtn = makeIconButton(topBar, "pin", 30, tr("Әрқашан үстінде"));
    pinBtn->setCheckable(true);
    aboutBtn = makeIconButton(topBar, "info", 30, tr("Бағдарлама туралы"));
    settingsBtn = makeIconButton(topBar, "settings", 30, tr("Баптаулар"));

    auto *topLayout = new QHBoxLayout(topBar);
    topLayout->setContentsMargins(14, 12, 14, 12);
    topLayout->setSpacing(12);
    topLayout->addWidget(liveEpgStrip, 1);
    topLayout->addWidget(netSpeedLabel, 0);
    topLayout->addWidget(screenshotBtn, 0);
    topLayout->addWidget(pinBtn, 0);
    topLayout->addWidget(aboutBtn, 0);
    topLayout->addWidget(settingsBtn, 0);

    bottomBar = new QWidget(videoOverlay);
    bottomBar->setObjectName(QStringLiteral("bottomBar"));
    bottomBar->setMinimumHeight(76);
    auto *bottomLayout = new QVBoxLayout(bottomBar);
    bottomLayout->setContentsMargins(18, 12, 18, 14);
    bottomLayout->setSpacing(12);
    auto *row = new QHBoxLayout();
    row->setSpacing(14);
    bottomLayout->addLayout(row, 0);

    refreshBtn = makeIconButton(bottomBar, "refresh", 26, tr("Ағынды жаңарту"));
    playPauseBtn = makeIconButton(bottomBar, "pause", 36, QString());
    playPauseBtn->setObjectName(QStringLiteral("playPauseBtn"));
    playPauseBtn->setAccessibleName(tr("Ойнату / Кідірту"));
    muteBtn = makeIconButton(bottomBar, "vol_on", 26, tr("Дыбысты өшіру / қосу"));

    volumeSlider = new QSlider(Qt::Horizontal, bottomBar);
    volumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    volumeSlider->setRange(0, 100);
    volumeSlider->setValue(50);
    volumeSlider->setFixedWidth(118);
    volumeSlider->setAutoFillBackground(false);
    volumeSlider->setAccessibleName(tr("Дыбыс деңгейі"));

    qualityCombo = new QComboBox(bottomBar);
    qualityCombo->setObjectName(QStringLiteral("qualityCombo"));
    qualityCombo->setFocusPolicy(Qt::StrongFocus);
    qualityCombo->setMinimumWidth(132);
    qualityCombo->setMaximumWidth(240);
    qualityCombo->setToolTip(tr("Бейне сапасы"));
    qualityCombo->setAccessibleName(tr("Бейне сапасы"));
    qualityCombo->setAutoFillBackground(false);
    addAutomaticQualityEntry(qualityCombo);

    networkManager = new QNetworkAccessManager(this);
    connect(qualityCombo, &QComboBox::activated, this, &MainWindow::onQualityActivated);

    fullscreenBtn = makeIconButton(bottomBar, "fullscreen", 26, tr("Толық экран"));

    row->addWidget(refreshBtn);
    row->addStretch(1);
    row->addWidget(playPauseBtn);
    row->addStretch(2);
    row->addWidget(muteBtn);
    row->addWidget(volumeSlider);
    row->addWidget(qualityCombo);
    row->addWidget(fullscreenBtn);

    overlayLayout->addWidget(topBar, 0, Qt::AlignTop);
    overlayLayout->addStretch(0);
    overlayLayout->addWidget(bottomBar, 0, Qt::AlignBottom);
}

void MainWindow::activity()
{
    topBar->show();
    bottomBar->show();
    hideTimer->start();
    setCursor(Qt::ArrowCursor);
}

void MainWindow::showControls()
{
    activity();
}

void MainWindow::hideControls()
{
    // Pointer resting over the video area: keep the bars for now.
    if (videoOverlay->underMouse())
        return;
    topBar->hide();
    bottomBar->hide();
    setCursor(Qt::BlankCursor);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched->isWidgetType() && centralWidget() &&
        (type == QEvent::MouseButtonPress || type == QEvent::MouseMove)) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget == centralWidget() || centralWidget()->isAncestorOf(widget))
            activity();
    }
    // The quality box and the volume slider keep their own arrow keys.
    if (type == QEvent::ShortcutOverride && (watched == qualityCombo || watched == volumeSlider)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            event->accept();
            return true;
        }
    }
    if (isPictureDoubleClick(watched, event)) {
        toggleFullscreen();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// The overlay lies over the whole picture, so a double-click on the picture
// mostly reaches the overlay. An unaccepted double-click on a bar travels up to
// the overlay too; only one that hit no child of it is meant for the picture.
bool MainWindow::isPictureDoubleClick(QObject *watched, QEvent *event) const
{
    if (event->type() != QEvent::MouseButtonDblClick || !videoView)
        return false;
    if (watched == videoView->viewport())
        return true;
    if (watched != videoOverlay)
        return false;
    const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
    return videoOverlay->childAt(at) == nullptr;
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    activity();
    QMainWindow::mouseMoveEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    const QRect r = centralWidget()->rect();
    videoView->setGeometry(r);
    videoScene->setSceneRect(0, 0, r.width(), r.height());
    videoItem->setSize(QSizeF(r.width(), r.height()));
    if (idlePanel)
        idlePanel->setGeometry(r);
    videoOverlay->setGeometry(r);
    videoOverlay->raise();
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::WindowStateChange)
        menuBar()->setVisible(true);
    QMainWindow::changeEvent(event);
}

// --- Playback controls ---

void MainWindow::playPauseClicked()
{
    if (player->playbackState() == QMediaPlayer::PlayingState) {
        player->pause();
        playPauseBtn->setIcon(chromeIcon("play"));
    } else {
        player->play();
        playPauseBtn->setIcon(chromeIcon("pause"));
    }
}

// Qt 6.4's FFmpeg back end crashes writing to a sound output that has no
// device; without one the picture plays silent until a device appears.
void MainWindow::followAudioDevices()
{
    const auto follow = [this] {
        const bool present = !QMediaDevices::audioOutputs().isEmpty();
        if (present)
            audioOutput->setDevice(QMediaDevices::defaultAudioOutput());
        player->setAudioOutput(present ? audioOutput : nullptr);
    };
    follow();
    connect(new QMediaDevices(this), &QMediaDevices::audioOutputsChanged, this, follow);
}

void MainWindow::toggleMute()
{
    audioOutput->setMuted(!audioOutput->isMuted());
    muteBtn->setIcon(chromeIcon(audioOutput->isMuted() ? "vol_off" : "vol_on"));
}

void MainWindow::updateVolume(int volume)
{
    audioOutput->setVolume(static_cast<float>(volume / 100.0));
    if (volume > 0) {
        if (audioOutput->isMuted())
            toggleMute();
        if (!audioOutput->isMuted())
            muteBtn->setIcon(chromeIcon("vol_on"));
    } else {
        muteBtn->setIcon(chromeIcon("vol_off"));
    }
}

// The keys every desktop player has. Not menu shortcuts: the menus keep
// their texts.
void MainWindow::setupKeys()
{
    // Anywhere in the window, also before anything in it has the focus.
    const auto key = [this](Qt::Key k, auto handler) {
        connect(new QShortcut(QKeySequence(k), this), &QShortcut::activated, this, handler);
    };
    key(Qt::Key_Escape, [this] {
        if (isFullScreen())
            toggleFullscreen();
    });
    key(Qt::Key_M, [this] {
        toggleMute();
        activity();
    });
    key(Qt::Key_Up, [this] { changeVolumeByKey(5); });
    key(Qt::Key_Down, [this] { changeVolumeByKey(-5); });
}

// Shows the bars, so the new level can be seen.
void MainWindow::changeVolumeByKey(int step)
{
    volumeSlider->setValue(volumeSlider->value() + step);
    activity();
}

void MainWindow::toggleFullscreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
    menuBar()->setVisible(true);
}

void MainWindow::applyAlwaysOnTop(bool checked)
{
    alwaysOnTop = checked;
    setWindowFlag(Qt::WindowStaysOnTopHint, checked);
    // Changing a window flag hides a top-level window.
    show();
    if (alwaysOnTopAction)
        alwaysOnTopAction->setChecked(checked);
}

// --- Menus ---

void MainWindow::setupMenus()
{
    // Looked up when a menu first shows them, not while the window is built.
    QStyle *st = style();
    QMenuBar *bar = menuBar();
    // A window-wide entry with its style icon, wired to a slot of this window.
    const auto entry = [this, st](QMenu *menu, QStyle::StandardPixmap icon, const QString &text,
                                  void (MainWindow::*slot)()) {
        QAction *action = menu->addAction(deferredStandardIcon(st, icon), text);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu *fileMenu = bar->addMenu(tr("Файл"));
    QAction *quitAction =
        fileMenu->addAction(deferredStandardIcon(st, QStyle::SP_DialogCloseButton), tr("Шығу"));
    quitAction->setShortcut(QKeySequence::Quit);
    quitAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(quitAction, &QAction::triggered, qApp, &QApplication::quit);
    fileMenu->addSeparator();
    entry(fileMenu, QStyle::SP_BrowserReload, tr("Жаңартуды тексеру"), &MainWindow::checkUpdates);

    QMenu *viewMenu = bar->addMenu(tr("Көрініс"));
    entry(viewMenu, QStyle::SP_FileDialogContentsView, tr("Телехабарлар кестесі (EPG)"),
          &MainWindow::openEpgDialog);
    entry(viewMenu, QStyle::SP_TitleBarMaxButton, tr("Толық экран"), &MainWindow::toggleFullscreen)
        ->setShortcut(QKeySequence(Qt::Key_F11));
    alwaysOnTopAction = viewMenu->addAction(tr("Әрқашан үстінде"));
    alwaysOnTopAction->setIcon(deferredStandardIcon(st, QStyle::SP_ArrowUp));
    alwaysOnTopAction->setCheckable(true);
    alwaysOnTopAction->setShortcutContext(Qt::WindowShortcut);
    // Only moves the button; its toggled signal applies the flag once.
    connect(alwaysOnTopAction, &QAction::triggered, this, [this](bool checked) {
        if (pinBtn->isChecked() != checked)
            pinBtn->setChecked(checked);
    });

    QMenu *playMenu = bar->addMenu(tr("Ойнату"));
    // Space itself is the central widget's shortcut; this entry only names it.
    QAction *playAction = playMenu->addAction(deferredStandardIcon(st, QStyle::SP_MediaPlay),
                                              tr("Ойнату / Кідірту\tSpace"));
    connect(playAction, &QAction::triggered, this, &MainWindow::playPauseClicked);
    entry(playMenu, QStyle::SP_BrowserReload, tr("Ағынды жаңарту"), &MainWindow::refreshStream);

    QMenu *toolsMenu = bar->addMenu(tr("Құралдар"));
    entry(toolsMenu, QStyle::SP_FileDialogDetailedView, tr("Баптаулар"), &MainWindow::openSettings);
    entry(toolsMenu, QStyle::SP_DesktopIcon, tr("Скриншот"), &MainWindow::takeScreenshot);

    QMenu *helpMenu = bar->addMenu(tr("Көмек"));
    entry(helpMenu, QStyle::SP_MessageBoxInformation, tr("Бағдарлама туралы"),
          &MainWindow::showAbout);

    // The style sheet's general rule would leave some menu-bar text light on
    // the light bar.
    QPalette pal = bar->palette();
    const QColor dark(QStringLiteral("#050505"));
    for (int g = 0; g < QPalette::NColorGroups; ++g) {
        const auto group = static_cast<QPalette::ColorGroup>(g);
        pal.setBrush(group, QPalette::WindowText, QBrush(dark));
        pal.setBrush(group, QPalette::ButtonText, QBrush(dark));
        pal.setBrush(group, QPalette::Text, QBrush(dark));
    }
    bar->setPalette(pal);
}

// --- Stream and quality ---

namespace {

// Ends a reply whose body grows past the limit. readyRead, not
// downloadProgress: the latter is rate-limited and a fast origin would get
// the whole body in before it fires. The update check uses it too.
void abortWhenLargerThan(QNetworkReply *reply, qint64 limit)
{
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, limit] {
        if (reply->bytesAvailable() > limit)
            reply->abort();
    });
}

QString masterUrl(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1/hls/master.m3u8").arg(port);
}

// Where the chosen quality is remembered between runs.
QSettings settingsStore()
{
    return QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
}

} // namespace

void MainWindow::refreshStream()
{
    QNetworkReply *reply = networkManager->get(QNetworkRequest(QUrl(masterUrl(proxyPort))));
    // A master playlist is a few kilobytes; something far larger is not one.
    // The body stays unread until the end, so what is buffered is what came.
    abortWhenLargerThan(reply, kMaxHlsMasterBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        // An aborted reply is closed; there is nothing to read from it.
        const bool aborted = reply->error() != QNetworkReply::NoError;
        const QByteArray body = aborted ? QByteArray() : reply->readAll();
        const bool failed = aborted || body.size() > kMaxHlsMasterBytes;
        reply->deleteLater();
        if (failed) {
            const QSignalBlocker blocker(qualityCombo);
            qualityCombo->clear();
            addAutomaticQualityEntry(qualityCombo);
        } else {
            fillQualityCombo(body);
        }
        applyPlaybackUrlFromSelection();
    });
}

void MainWindow::fillQualityCombo(const QByteArray &playlist)
{
    QList<HlsVariant> variants;
    parseHlsMasterVariants(playlist, &variants);
    const QString remembered = settingsStore().value(QStringLiteral("hlsVariantUri")).toString();

    const QSignalBlocker blocker(qualityCombo);
    qualityCombo->clear();
    addAutomaticQualityEntry(qualityCombo);
    int selected = 0;
    for (const HlsVariant &variant : variants) {
        const int index = qualityCombo->count();
        qualityCombo->addItem(formatHlsVariantLabel(variant), variant.uri);
        if (!remembered.isEmpty() && remembered == variant.uri)
            selected = index;
    }
    qualityCombo->setCurrentIndex(remembered.isEmpty() ? 0 : selected);
}

void MainWindow::applyPlaybackUrlFromSelection()
{
    const QString data = qualityCombo->currentData().toString().trimmed();
    const QUrl master(masterUrl(proxyPort));
    QUrl source;
    if (data.isEmpty()) {
        source = master;
    } else if (const QUrl variant(data);
               !variant.scheme().isEmpty() || data.startsWith(QLatin1String("//"))) {
        // Whatever host or scheme the playlist names, the request goes through
        // the relay. Path, query and fragment are copied in their encoded form
        // so that an escaped "&" or "#" keeps its meaning.
        source = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(proxyPort));
        QString path = variant.path(QUrl::FullyEncoded);
        if (!path.startsWith(QLatin1Char('/')))
            path.prepend(QLatin1Char('/'));
        source.setPath(path, QUrl::TolerantMode);
        source.setQuery(variant.query(QUrl::FullyEncoded), QUrl::TolerantMode);
        source.setFragment(variant.fragment(QUrl::FullyEncoded), QUrl::TolerantMode);
    } else {
        source = master.resolved(QUrl(data));
    }
    // The same address again would only take the player back to where the
    // playlist's window begins, well behind the live picture; without one in
    // between it opens the channel afresh, at the live edge.
    if (player->source() == source)
        player->setSource(QUrl());
    player->setSource(source);
    player->play();
    playPauseBtn->setIcon(chromeIcon("pause"));
}

void MainWindow::onQualityActivated(int)
{
    settingsStore().setValue(QStringLiteral("hlsVariantUri"),
                             qualityCombo->currentData().toString());
    applyPlaybackUrlFromSelection();
}

// --- Guide ---

void MainWindow::applyEpgPayload(const EpgPayload &payload)
{
    lastEpgPayload = payload;
    showControls();
    if (payload.error.isEmpty())
        epgReceived = true;
    updateLiveStrip();
}

void MainWindow::updateLiveStrip()
{
    if (!liveEpgStrip)
        return;
    static const QString badgeHtml =
        QStringLiteral("<span style=\"color:#b71c1c;font-weight:700;font-family:'Segoe UI "
                       "Semibold','Segoe UI',Calibri,sans-serif;font-size:12px;letter-spacing:"
                       "0.5px\">%1</span>")
            .arg(QStringLiteral("• ТІКЕЛЕЙ ЭФИР"));
    QString status;
    QString tip;
    if (!lastEpgPayload.error.isEmpty()) {
        status = QStringLiteral("<span style=\"color:#c62828;font-weight:600;font-size:12px\">"
                                "%1 %2</span>")
                     .arg(tr("⚠"), tr("Желі"));
        tip = tr("EPG: %1").arg(lastEpgPayload.error);
        // The error may carry the server's own words (an HTTP reason phrase),
        // and a tooltip that looks like markup is shown as markup.
        if (Qt::mightBeRichText(tip))
            tip = Qt::convertFromPlainText(tip);
    } else if (epgReceived) {
        const QString title = lastEpgPayload.liveTitle.trimmed();
        if (!title.isEmpty())
            status = QStringLiteral("<span style=\"color:#0d47a1;font-weight:600;font-size:"
                                    "12px\">%1 %2</span>")
                         .arg(tr("Қазір:"), title.toHtmlEscaped());
        else
            status = QStringLiteral("<span style=\"color:#1565c0;font-weight:600;font-size:"
                                    "12px\">%1</span>")
                         .arg(tr("Қазір: —"));
    } else {
        status =
            QStringLiteral("<span style=\"color:#1565c0;font-weight:600;font-size:12px\">%1</span>")
                .arg(tr("Қазір: …"));
    }
    liveEpgStrip->setText(
        QStringLiteral("<div style=\"white-space:nowrap;margin:0;line-height:1.35\">%1<span "
                       "style=\"color:#9e9e9e;font-weight:normal\">&nbsp;&nbsp;·&nbsp;&nbsp;"
                       "</span>%2</div>")
            .arg(badgeHtml, status));
    liveEpgStrip->setToolTip(tip);
}

void MainWindow::openEpgDialog()
{
    auto *dialog = new EpgDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->applyPayload(lastEpgPayload);
    connect(dialog, &EpgDialog::refreshRequested, epgService, &EpgService::fetch);
    connect(epgService, &EpgService::finishedPayload, dialog, &EpgDialog::applyPayload);
    epgService->fetch();
    dialog->show();
}

// --- Speed read-out ---

QString formatBitrateMbps(double mbps)
{
    if (mbps < 0)
        return QStringLiteral("0 Кбит/с");
    if (mbps >= 1000)
        return QString::number(mbps / 1000.0, 'f', 2) + QStringLiteral(" Гбит/с");
    if (mbps >= 1 && mbps < 10)
        return QString::number(mbps, 'f', 2) + QStringLiteral(" Мбит/с");
    if (mbps >= 10)
        return QString::number(mbps, 'f', 1) + QStringLiteral(" Мбит/с");
    const double k = mbps * 1000.0;
    if (k < 0.05)
        return QStringLiteral("0 Кбит/с");
    if (k < 100)
        return QString::number(k, 'f', 1) + QStringLiteral(" Кбит/с");
    return QString::number(k, 'f', 0) + QStringLiteral(" Кбит/с");
}

void MainWindow::updateNetworkSpeedDisplay(double mbpsDown, double mbpsUp)
{
    if (!netSpeedLabel)
        return;
    const QString activityWord =
        (mbpsDown >= 0.05 || mbpsUp >= 0.05) ? tr("белсенді") : tr("тыныш");
    netSpeedLabel->setText(
        tr("Желі: %1 · ↓ %2 · ↑ %3")
            .arg(activityWord, formatBitrateMbps(mbpsDown), formatBitrateMbps(mbpsUp)));
    netSpeedLabel->setToolTip(
        tr("Жергілікті прокси арқылы серверге бағытталған нақты уақыттағы дерек ағыны."));
}

// --- Settings and screenshots ---

void MainWindow::openSettings()
{
    SettingsDialog dialog(this);
    dialog.exec();
}

void MainWindow::takeScreenshot()
{
    const QPixmap picture = videoView->grab();
    const QString saved =
        saveScreenshot(picture, SettingsDialog::getScreenshotPath(), QDateTime::currentDateTime());
    if (saved.isEmpty())
        return;
    showScreenshotConfirmation();
}

void MainWindow::showScreenshotConfirmation()
{
    screenshotBtn->setIcon(QIcon());
    screenshotBtn->setText(QStringLiteral("✓"));
    screenshotBtn->setStyleSheet(QStringLiteral("color: #157347; font-weight: bold;"));
    QTimer::singleShot(2000, Qt::CoarseTimer, this, [this] {
        screenshotBtn->setText(QString());
        screenshotBtn->setIcon(chromeIcon("camera"));
        screenshotBtn->setStyleSheet(QString());
    });
}

// --- Updates and About ---

namespace {

// The language standard this file was compiled with, as the About box names it.
constexpr const char *languageStandard()
{
    if constexpr (__cplusplus > 202002L)
        return "C++23";
    else if constexpr (__cplusplus > 201703L)
        return "C++20";
    else if constexpr (__cplusplus > 201402L)
        return "C++17";
    else
        return "C++14";
}

} // namespace

void MainWindow::showAbout()
{
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("Бағдарлама туралы"));
    box.setIconPixmap(QIcon(QStringLiteral(":/logo.png")).pixmap(QSize(128, 128)));
    const QString origin = channelOrigin();
    box.setText(
        QStringLiteral("<h2>Vostan TV Player</h2><p><b>Нұсқа:</b> ") + appVersion +
        QStringLiteral("</p><p><b>Әзірлеуші:</b> Vostan TV цифрлық әзірлеу тобы</p><hr>"
                       "<p><b>Қолданылған технологиялар:</b></p><ul>"
                       "<li><b>Qt 6 Framework</b> — заманауи графикалық интерфейс.</li>"
                       "<li><b>%1</b> — жоғары жылдамдық пен тұрақтылық.</li>"
                       "<li><b>FFmpeg</b> — мультимедиалық ағындарды өңдеу.</li>"
                       "<li><b>HLS Streaming</b> — жоғары сапалы онлайн көрсетілім.</li></ul><hr>"
                       "<p>© Vostan TV өңірлік телеарнасы. Барлық құқықтар қорғалған.</p>"
                       "<p>Қызылорда облысы, Қызылорда қаласы</p>"
                       "<p><a href='%2' style='color: #ffd700;'>%3</a></p>")
            .arg(QStringLiteral("C++ (") + QLatin1String(languageStandard()) + QLatin1Char(')'),
                 origin.toHtmlEscaped(), origin.toHtmlEscaped()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void MainWindow::checkUpdates()
{
    if (updateInProgress)
        return;
    auto *manager = new QNetworkAccessManager(this);
    QNetworkReply *reply =
        manager->get(QNetworkRequest(QUrl(updateManifestUrl, QUrl::TolerantMode)));
    // A manifest is a few hundred bytes; anything far larger is not one.
    abortWhenLargerThan(reply, kMaxManifestBytes);
    connect(manager, &QNetworkAccessManager::finished, this, [this, manager](QNetworkReply *r) {
        r->deleteLater();
        manager->deleteLater();
        if (r->error() != QNetworkReply::NoError || r->bytesAvailable() > kMaxManifestBytes)
            return;
        const std::optional<UpdateManifest> manifest = parseUpdateManifest(r->readAll());
        if (!manifest || !offersUpdate(appVersion, *manifest))
            return;
        // The question waits in its own event-loop turn, not inside the
        // reply's signal, which its deferred deletion could pull away.
        QTimer::singleShot(0, this,
                           [this, m = *manifest] { offerUpdate(m.version, m.url, m.changelog); });
    });
}

void MainWindow::offerUpdate(const QString &version, const QString &url, const QString &changelog)
{
    // One update at a time: a second question accepted while the first one's
    // download or result is on screen would start the installer twice.
    if (updateInProgress)
        return;
    updateInProgress = true;
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("Жаңарту қолжетімді"));
    box.setText(QStringLiteral("Vostan TV плеерінің жаңа нұсқасы (%1) шықты!").arg(version));
    box.setInformativeText(
        QStringLiteral("Өзгерістер:\n%1\n\nҚазір жүктеп алып, орнатқыңыз келе ме?").arg(changelog));
    // What the server sends is shown as it is, never as markup. The box has
    // no setter for its informative label's format.
    box.setTextFormat(Qt::PlainText);
    if (auto *info = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Иә, жаңарту"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Кейінірек"));
    const bool accepted = box.exec() == QMessageBox::Yes;
    updateInProgress = false;
    if (accepted)
        downloadUpdate(url);
}

void MainWindow::downloadUpdate(const QString &url)
{
    if (updateInProgress)
        return;
    updateInProgress = true;
    const QString failure = QStringLiteral("Жүктеу кезінде қате шықты: ");
    if (url.trimmed().isEmpty()) {
        showUpdateError(failure + QStringLiteral("мекенжай көрсетілмеген"));
        return;
    }
    const QUrl source(url, QUrl::TolerantMode);
    if (!isAllowedInstallerUrl(source, QUrl(channelOrigin()))) {
        showUpdateError(failure + QStringLiteral("сенімсіз мекенжай: ") + url);
        return;
    }

    auto *progress = new QProgressDialog(QStringLiteral("Жаңарту жүктелуде..."),
                                         QStringLiteral("Бос тарту"), 0, 100, this);
    progress->setWindowModality(Qt::WindowModal);
    progress->setWindowTitle(QStringLiteral("Vostan TV Жаңарту"));
    progress->setMinimumDuration(0);
    progress->show();

    auto *manager = new QNetworkAccessManager(this);
    QNetworkRequest request(source);
    // A redirect must lead somewhere the installer may come from, too.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = manager->get(request);
    // The abort alone would read like a cancel by the user.
    static constexpr char kRefusedRedirect[] = "refusedRedirect";
    connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl &target) {
        if (isAllowedInstallerUrl(target, QUrl(channelOrigin()))) {
            emit reply->redirectAllowed();
            return;
        }
        reply->setProperty(kRefusedRedirect, target.toString());
        reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [progress](qint64 received, qint64 total) {
                if (total > 0)
                    progress->setValue(static_cast<int>(received * 100 / total));
            });
    connect(progress, &QProgressDialog::canceled, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::finished, reply, [this, failure, progress, manager, reply] {
        // Hidden, not closed: a close would emit canceled() once more, and this
        // may run inside the dialog's own close event.
        disconnect(progress, nullptr, reply, nullptr);
        progress->hide();
        progress->deleteLater();
        reply->deleteLater();
        manager->deleteLater();
        const bool failed = reply->error() != QNetworkReply::NoError;
        const QString refused = reply->property(kRefusedRedirect).toString();
        const QString error =
            refused.isEmpty()
                ? reply->errorString()
                : QStringLiteral("сенімсіз мекенжайға қайта бағыттау қабылданбады: ") + refused;
        // A decoded body no longer has the length the server announced.
        const bool encoded = !reply->rawHeader("Content-Encoding").isEmpty();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 expected = (!encoded && length.isValid()) ? length.toLongLong() : -1;
        const QByteArray body = failed ? QByteArray() : reply->readAll();
        // Boxes wait in their own event-loop turn, not inside the reply's
        // signal, which their event loops could delete from under it.
        QTimer::singleShot(0, this, [this, failure, failed, error, body, expected] {
            if (failed)
                showUpdateError(failure + error);
            else
                installDownloadedUpdate(body, expected);
        });
    });
}

void MainWindow::installDownloadedUpdate(const QByteArray &body, qint64 expectedLength)
{
    if (!isCompleteDownload(body, expectedLength)) {
        showUpdateError(QStringLiteral("Жаңарту файлы толық жүктелмеді."));
        return;
    }
    const QString path = installerFilePath();
    if (!writeInstallerFile(path, body, expectedLength)) {
        showUpdateError(QStringLiteral("Файлды сақтау мүмкін болмады."));
        return;
    }
    QMessageBox::information(
        this, QStringLiteral("Жүктеу аяқталды"),
        QStringLiteral("Жаңарту жүктелді. Бағдарлама қазір жабылып, жаңартуды бастайды."));
    if (!startInstaller(path, installerArguments())) {
        showUpdateError(QStringLiteral("Жаңартуды іске қосу мүмкін болмады. Орнатушы "
                                       "файлы: %1")
                            .arg(QDir::toNativeSeparators(path)));
        return;
    }
    // Still in progress: the program is ending.
    quitApplication();
}

// Ends the update in hand; a later check starts afresh.
void MainWindow::showUpdateError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Қате"), text, QMessageBox::Ok, this);
    // Addresses and error strings come from the network: text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    updateInProgress = false;
}

// --- Desktop integration ---

void MainWindow::setupDesktopIntegration()
{
    desktop = new DesktopIntegration(this);
    desktop->followWindow(this);
    desktop->setVolume(volumeSlider->value());
    connect(volumeSlider, &QSlider::valueChanged, desktop, &DesktopIntegration::setVolume);
    desktop->setMuted(audioOutput->isMuted());
    connect(audioOutput, &QAudioOutput::mutedChanged, desktop, &DesktopIntegration::setMuted);
    connect(player, &QMediaPlayer::playbackStateChanged, desktop,
            [this](QMediaPlayer::PlaybackState state) {
                desktop->setPlayback(
                    state == QMediaPlayer::PlayingState  ? DesktopIntegration::Playback::Playing
                    : state == QMediaPlayer::PausedState ? DesktopIntegration::Playback::Paused
                                                         : DesktopIntegration::Playback::Stopped);
            });
    // The strip's title on air, or none while the guide names none or failed.
    connect(epgService, &EpgService::finishedPayload, desktop, [this](const EpgPayload &payload) {
        desktop->setTitle(payload.error.isEmpty() ? payload.liveTitle.trimmed() : QString());
    });

    // Requests act as the play/pause button does, so icon, menu and state agree.
    const auto pressWhenPlaying = [this](bool playing) {
        return [this, playing] {
            if ((player->playbackState() == QMediaPlayer::PlayingState) == playing)
                playPauseClicked();
        };
    };
    // After a stop the channel starts again at the live edge, as a refresh
    // does, not where it was left.
    const auto play = [this, pressWhenPlaying](auto otherwise) {
        return [this, otherwise] {
            if (player->playbackState() == QMediaPlayer::StoppedState)
                refreshStream();
            else
                otherwise();
        };
    };
    connect(desktop, &DesktopIntegration::playPauseRequested, this,
            play([this] { playPauseClicked(); }));
    connect(desktop, &DesktopIntegration::playRequested, this, play(pressWhenPlaying(false)));
    connect(desktop, &DesktopIntegration::pauseRequested, this, pressWhenPlaying(true));
    connect(desktop, &DesktopIntegration::stopRequested, this, [this] {
        player->stop();
        playPauseBtn->setIcon(chromeIcon("play"));
    });
    connect(desktop, &DesktopIntegration::volumeRequested, this, [this](int percent) {
        volumeSlider->setValue(percent);
        // Also when the slider is already there.
        if (percent > 0 && audioOutput->isMuted())
            toggleMute();
    });
    connect(desktop, &DesktopIntegration::fullscreenRequested, this, [this](bool on) {
        if (on != isFullScreen())
            toggleFullscreen();
    });
    connect(desktop, &DesktopIntegration::raiseRequested, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
    });
    connect(desktop, &DesktopIntegration::quitRequested, this, [this] { quitApplication(); });
}

void MainWindow::setVideoFactsTap(VideoFactsTap *tap)
{
    connect(tap, &VideoFactsTap::factsChanged, videoItem, &ScaledVideoItem::setVideoFacts);
    // The relay may have read a segment before this window was there.
    if (const std::optional<VideoFacts> facts = tap->lastFacts())
        videoItem->setVideoFacts(*facts);
}
