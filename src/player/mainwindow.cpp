#include "mainwindow.h"

#include "channelorigin.h"
#include "epgservice.h"
#include "hlsmasterparser.h"
#include "iconhelper.h"
#include "idlebrandpanel.h"
#include "networkspeedmeter.h"
#include "networkspeedtext.h"

#include <QAction>
#include <QApplication>
#include <QAudioOutput>
#include <QBoxLayout>
#include <QComboBox>
#include <QEvent>
#include <QGraphicsScene>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QLabel>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

QIcon chromeIcon(const char *name)
{
    return IconHelper::createIcon(QString::fromLatin1(name), kChromeFg);
}

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

QString masterUrl(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1/hls/master.m3u8").arg(port);
}

void addAutomaticQualityEntry(QComboBox *combo)
{
    combo->addItem(MainWindow::tr("Авто (тірек қоюшы)"), QString());
}

QSettings settingsStore()
{
    return QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
}

} // namespace

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

MainWindow::MainWindow(QWidget *parent, quint16 proxyPort, NetworkSpeedMeter *meter)
    : QMainWindow(parent), appVersion(QStringLiteral("1.1")),
      updateManifestUrl(channelOrigin() + QStringLiteral("/downloads/version.json")),
      proxyPort(proxyPort), speedMeter(meter)
{
    setWindowTitle(QStringLiteral("Vostan TV Плеері"));
    setWindowIcon(QIcon(QStringLiteral(":/logo.png")));
    resize(1280, 720);
    setAttribute(Qt::WA_MouseTracking);
    menuBar()->setNativeMenuBar(false);

    auto *central = new QWidget(this);
    setCentralWidget(central);

    videoScene = new QGraphicsScene(this);
    videoView = new QGraphicsView(videoScene, central);
    videoView->setFrameShape(QFrame::NoFrame);
    videoView->setBackgroundBrush(QBrush(Qt::black, Qt::SolidPattern));
    videoView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    videoView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    videoView->setMouseTracking(true);
    videoItem = new QGraphicsVideoItem();
    videoScene->addItem(videoItem);

    idlePanel = new IdleBrandPanel(central);
    idlePanel->setAttribute(Qt::WA_TransparentForMouseEvents);

    buildOverlay(central);

    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(videoView);

    player = new QMediaPlayer(this);
    audioOutput = new QAudioOutput(this);
    player->setAudioOutput(audioOutput);
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

    refreshStream();

    QTimer::singleShot(3000, Qt::CoarseTimer, this, &MainWindow::checkUpdates);
}

MainWindow::~MainWindow() = default;

// --- Overlay chrome and auto-hide ---

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
    if (type == QEvent::MouseButtonDblClick && videoView && watched == videoView->viewport()) {
        toggleFullscreen();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
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
    QStyle *st = style();
    QMenuBar *bar = menuBar();
    // A window-wide entry with its style icon, wired to a slot of this window.
    const auto entry = [this, st](QMenu *menu, QStyle::StandardPixmap icon, const QString &text,
                                  void (MainWindow::*slot)()) {
        QAction *action = menu->addAction(st->standardIcon(icon), text);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu *fileMenu = bar->addMenu(tr("Файл"));
    QAction *quitAction =
        fileMenu->addAction(st->standardIcon(QStyle::SP_DialogCloseButton), tr("Шығу"));
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
    alwaysOnTopAction->setIcon(st->standardIcon(QStyle::SP_ArrowUp));
    alwaysOnTopAction->setCheckable(true);
    alwaysOnTopAction->setShortcutContext(Qt::WindowShortcut);
    // Only moves the button; its toggled signal applies the flag once.
    connect(alwaysOnTopAction, &QAction::triggered, this, [this](bool checked) {
        if (pinBtn->isChecked() != checked)
            pinBtn->setChecked(checked);
    });

    QMenu *playMenu = bar->addMenu(tr("Ойнату"));
    // Space itself is the central widget's shortcut; this entry only names it.
    QAction *playAction =
        playMenu->addAction(st->standardIcon(QStyle::SP_MediaPlay), tr("Ойнату / Кідірту\tSpace"));
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

void MainWindow::refreshStream()
{
    QNetworkReply *reply = networkManager->get(QNetworkRequest(QUrl(masterUrl(proxyPort))));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        const QByteArray body = reply->readAll();
        const bool failed = reply->error() != QNetworkReply::NoError;
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
    } else if (data.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
               data.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        // Whatever host the playlist names, the request goes through the relay.
        // Path, query and fragment are copied in their encoded form so that an
        // escaped "&" or "#" keeps its meaning.
        const QUrl variant(data);
        source = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(proxyPort));
        source.setPath(variant.path(QUrl::FullyEncoded), QUrl::TolerantMode);
        source.setQuery(variant.query(QUrl::FullyEncoded), QUrl::TolerantMode);
        source.setFragment(variant.fragment(QUrl::FullyEncoded), QUrl::TolerantMode);
    } else {
        source = master.resolved(QUrl(data));
    }
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
    // The guide window arrives with the guide feature.
}

// --- Speed read-out ---

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

void MainWindow::takeScreenshot()
{}

void MainWindow::openSettings()
{}

// --- Updates and About ---

void MainWindow::showAbout()
{}

void MainWindow::checkUpdates()
{}

void MainWindow::downloadUpdate(const QString &)
{}
