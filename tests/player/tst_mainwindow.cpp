#include "epgtypes.h"
#include "fakeorigin.h"
#include "iconhelper.h"
#include "idlebrandpanel.h"
#include "mainwindow.h"
#include "networkspeedmeter.h"
#include "networkspeedtext.h"

#include <QAction>
#include <QApplication>
#include <QAudioOutput>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QLabel>
#include <QMediaPlayer>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

namespace {

// Port 1 on loopback refuses at once, so the start-up playlist fetch fails fast.
constexpr quint16 kDeadPort = 1;

QPushButton *button(QWidget &w, const QString &accessibleName)
{
    const auto buttons = w.findChildren<QPushButton *>();
    for (QPushButton *b : buttons)
        if (b->accessibleName() == accessibleName)
            return b;
    return nullptr;
}

bool hasIcon(const QPushButton *b, const char *name)
{
    const QImage want =
        IconHelper::createIcon(QString::fromLatin1(name), kChromeFg).pixmap(48, 48).toImage();
    return b->icon().pixmap(48, 48).toImage() == want;
}

// The panel has no meta-object of its own, so findChild cannot tell it apart.
IdleBrandPanel *idlePanelOf(QWidget &w)
{
    const auto widgets = w.findChildren<QWidget *>();
    for (QWidget *child : widgets)
        if (auto *panel = dynamic_cast<IdleBrandPanel *>(child))
            return panel;
    return nullptr;
}

QTimer *hideTimerOf(QWidget &w)
{
    const auto timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTimer *t : timers)
        if (t->interval() == 5000)
            return t;
    return nullptr;
}

QAction *menuEntry(QMainWindow &w, const QString &text)
{
    const auto menus = w.menuBar()->findChildren<QMenu *>();
    for (QMenu *m : menus)
        for (QAction *a : m->actions())
            if (a->text() == text)
                return a;
    return nullptr;
}

void sendMouse(QWidget *target, QEvent::Type type)
{
    QMouseEvent event(type, QPointF(10, 10), target->mapToGlobal(QPointF(10, 10)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// A real pointer move, so enter and leave reach the widgets on the way.
void movePointer(QWidget &window, QPoint at)
{
    QWidget *target = window.childAt(at);
    if (target)
        QTest::mouseMove(target, target->mapFrom(&window, at));
    else
        QCursor::setPos(window.mapToGlobal(at));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // Off every window, so no window starts under the pointer.
    void init() { QCursor::setPos(-500, -500); }
    void bitrateText_data();
    void bitrateText();
    void speedLabel_data();
    void speedLabel();
    void speedLabelHiddenWithoutMeter();
    void autoHide_data();
    void autoHide();
    void activitySources_data();
    void activitySources();
    void resizeKeepsLayersTogether();
    void playPause();
    void muteAndVolume();
    void keys_data();
    void keys();
    void alwaysOnTopFromButtonAndMenu();
    void menuTree();
    void menuBarTextIsDark();
    void menuEntryReachesItsSlot_data();
    void menuEntryReachesItsSlot();
    void doubleClick_data();
    void doubleClick();
    void screenshot();
    void aboutBox();
    void settingsFromMenu();
    void idlePanelFollowsPlaybackState();
    void liveStripWaiting();
};

void TestMainWindow::bitrateText_data()
{
    QTest::addColumn<double>("mbps");
    QTest::addColumn<QString>("text");
    QTest::newRow("negative") << -1.0 << QStringLiteral("0 Кбит/с");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0 Кбит/с");
    QTest::newRow("below 0.05 kbit") << 0.00001 << QStringLiteral("0 Кбит/с");
    QTest::newRow("just below 0.05 kbit") << 0.0000499 << QStringLiteral("0 Кбит/с");
    QTest::newRow("exactly 0.05 kbit") << 0.00005 << QStringLiteral("0.1 Кбит/с");
    QTest::newRow("kbit one decimal") << 0.0123 << QStringLiteral("12.3 Кбит/с");
    QTest::newRow("49 kbit") << 0.049 << QStringLiteral("49.0 Кбит/с");
    QTest::newRow("just below 100 kbit") << 0.0999 << QStringLiteral("99.9 Кбит/с");
    QTest::newRow("rounds up to 100.0 kbit") << 0.09999 << QStringLiteral("100.0 Кбит/с");
    QTest::newRow("100 kbit no decimals") << 0.1 << QStringLiteral("100 Кбит/с");
    QTest::newRow("500 kbit") << 0.5 << QStringLiteral("500 Кбит/с");
    QTest::newRow("just below 1") << 0.999 << QStringLiteral("999 Кбит/с");
    QTest::newRow("rounds up to 1000 kbit") << 0.9999 << QStringLiteral("1000 Кбит/с");
    QTest::newRow("exactly 1") << 1.0 << QStringLiteral("1.00 Мбит/с");
    QTest::newRow("2.5") << 2.5 << QStringLiteral("2.50 Мбит/с");
    QTest::newRow("rounds up to 10.00") << 9.999 << QStringLiteral("10.00 Мбит/с");
    QTest::newRow("just below 10") << 9.99 << QStringLiteral("9.99 Мбит/с");
    QTest::newRow("exactly 10") << 10.0 << QStringLiteral("10.0 Мбит/с");
    QTest::newRow("12.34") << 12.34 << QStringLiteral("12.3 Мбит/с");
    QTest::newRow("just below 1000") << 999.9 << QStringLiteral("999.9 Мбит/с");
    QTest::newRow("rounds up to 1000.0") << 999.99 << QStringLiteral("1000.0 Мбит/с");
    QTest::newRow("exactly 1000") << 1000.0 << QStringLiteral("1.00 Гбит/с");
    QTest::newRow("1234.5") << 1234.5 << QStringLiteral("1.23 Гбит/с");
}

void TestMainWindow::bitrateText()
{
    QFETCH(double, mbps);
    QFETCH(QString, text);
    // A comma locale must not leak into the read-out.
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(formatBitrateMbps(mbps), text);
    QLocale::setDefault(QLocale::c());
}

void TestMainWindow::speedLabel_data()
{
    QTest::addColumn<double>("down");
    QTest::addColumn<double>("up");
    QTest::addColumn<QString>("text");
    QTest::newRow("quiet") << 0.0 << 0.0 << QStringLiteral("Желі: тыныш · ↓ 0 Кбит/с · ↑ 0 Кбит/с");
    QTest::newRow("threshold down")
        << 0.05 << 0.0 << QStringLiteral("Желі: белсенді · ↓ 50.0 Кбит/с · ↑ 0 Кбит/с");
    QTest::newRow("threshold up") << 0.0 << 0.05
                                  << QStringLiteral("Желі: белсенді · ↓ 0 Кбит/с · ↑ 50.0 Кбит/с");
    QTest::newRow("just below") << 0.049 << 0.049
                                << QStringLiteral("Желі: тыныш · ↓ 49.0 Кбит/с · ↑ 49.0 Кбит/с");
    QTest::newRow("down just below")
        << 0.0499 << 0.0 << QStringLiteral("Желі: тыныш · ↓ 49.9 Кбит/с · ↑ 0 Кбит/с");
    QTest::newRow("up just below")
        << 0.0 << 0.0499 << QStringLiteral("Желі: тыныш · ↓ 0 Кбит/с · ↑ 49.9 Кбит/с");
    QTest::newRow("down just above")
        << 0.0501 << 0.0 << QStringLiteral("Желі: белсенді · ↓ 50.1 Кбит/с · ↑ 0 Кбит/с");
    QTest::newRow("up just above")
        << 0.0 << 0.0501 << QStringLiteral("Желі: белсенді · ↓ 0 Кбит/с · ↑ 50.1 Кбит/с");
}

void TestMainWindow::speedLabel()
{
    QFETCH(double, down);
    QFETCH(double, up);
    QFETCH(QString, text);
    NetworkSpeedMeter meter;
    MainWindow w(nullptr, kDeadPort, &meter);
    auto *label = w.findChild<QLabel *>(QStringLiteral("netSpeedLabel"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Желі: күту…"));
    emit meter.ratesUpdated(down, up);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->toolTip(),
             QStringLiteral("Жергілікті прокси арқылы серверге бағытталған нақты уақыттағы "
                            "дерек ағыны."));
}

void TestMainWindow::speedLabelHiddenWithoutMeter()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    auto *label = w.findChild<QLabel *>(QStringLiteral("netSpeedLabel"));
    QVERIFY(label);
    QVERIFY(!label->isVisible());
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("liveEpgStrip"))->isVisible());
}

void TestMainWindow::autoHide_data()
{
    QTest::addColumn<QString>("pointer");
    QTest::addColumn<bool>("keeps");
    QTest::newRow("resting on the picture") << QStringLiteral("picture") << true;
    QTest::newRow("resting on a bar's button") << QStringLiteral("playPauseBtn") << true;
    QTest::newRow("resting on the menu bar") << QStringLiteral("menu") << false;
    QTest::newRow("outside the window") << QStringLiteral("outside") << false;
}

void TestMainWindow::autoHide()
{
    QFETCH(QString, pointer);
    QFETCH(bool, keeps);
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *top = w.findChild<QWidget *>(QStringLiteral("topBar"));
    auto *bottom = w.findChild<QWidget *>(QStringLiteral("bottomBar"));
    auto *overlay = w.findChild<QWidget *>(QStringLiteral("videoOverlay"));
    QTimer *timer = hideTimerOf(w);
    QVERIFY(top && bottom && overlay && timer);
    QVERIFY(timer->isActive());

    if (pointer == QStringLiteral("picture"))
        movePointer(w, w.centralWidget()->geometry().center());
    else if (pointer == QStringLiteral("menu"))
        movePointer(w, w.menuBar()->geometry().center());
    else if (pointer == QStringLiteral("outside"))
        movePointer(w, QPoint(-40, -40));
    else
        movePointer(w, w.findChild<QWidget *>(pointer)->mapTo(&w, QPoint(20, 20)));
    QTRY_COMPARE(overlay->underMouse(), keeps);

    // A tick with the pointer over the overlay keeps everything; elsewhere it
    // hides both bars and the pointer.
    QVERIFY(QMetaObject::invokeMethod(&w, "hideControls"));
    QCOMPARE(top->isVisible(), keeps);
    QCOMPARE(bottom->isVisible(), keeps);
    QCOMPARE(w.cursor().shape(), keeps ? Qt::ArrowCursor : Qt::BlankCursor);
    QVERIFY(timer->isActive());
}

void TestMainWindow::activitySources_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("shows");
    QTest::newRow("move over video") << 0 << true;
    QTest::newRow("press over video") << 1 << true;
    QTest::newRow("key") << 2 << false;
    QTest::newRow("wheel") << 3 << false;
    QTest::newRow("move over menu bar") << 4 << false;
    QTest::newRow("guide payload") << 5 << true;
}

void TestMainWindow::activitySources()
{
    QFETCH(int, kind);
    QFETCH(bool, shows);
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *top = w.findChild<QWidget *>(QStringLiteral("topBar"));
    auto *bottom = w.findChild<QWidget *>(QStringLiteral("bottomBar"));
    QTimer *timer = hideTimerOf(w);

    // Let over a second of the period run out, so a restart is visible.
    QTRY_VERIFY_WITH_TIMEOUT(timer->remainingTime() < 4000, 5000);
    QVERIFY(QMetaObject::invokeMethod(&w, "hideControls"));
    QVERIFY(!top->isVisible());
    QWidget *viewport = w.findChild<QGraphicsView *>()->viewport();
    switch (kind) {
    case 0:
        sendMouse(viewport, QEvent::MouseMove);
        break;
    case 1:
        sendMouse(viewport, QEvent::MouseButtonPress);
        break;
    case 2:
        QTest::keyClick(viewport, Qt::Key_A);
        break;
    case 3: {
        QWheelEvent wheel(QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        break;
    }
    case 4:
        sendMouse(w.menuBar(), QEvent::MouseMove);
        break;
    case 5:
        QVERIFY(QMetaObject::invokeMethod(&w, "applyEpgPayload", Q_ARG(EpgPayload, EpgPayload())));
        break;
    }
    QCOMPARE(top->isVisible(), shows);
    QCOMPARE(bottom->isVisible(), shows);
    QCOMPARE(w.cursor().shape(), shows ? Qt::ArrowCursor : Qt::BlankCursor);
    // Activity starts a fresh five seconds; anything else leaves the period running.
    QCOMPARE(timer->interval(), 5000);
    QVERIFY2((timer->remainingTime() > 4500) == shows,
             qPrintable(QString::number(timer->remainingTime())));
}

void TestMainWindow::resizeKeepsLayersTogether()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *view = w.findChild<QGraphicsView *>();
    auto *panel = idlePanelOf(w);
    auto *overlay = w.findChild<QWidget *>(QStringLiteral("videoOverlay"));
    QGraphicsVideoItem *item = nullptr;
    for (QGraphicsItem *i : view->scene()->items())
        if ((item = dynamic_cast<QGraphicsVideoItem *>(i)))
            break;
    QVERIFY(view && panel && overlay && item);

    for (const QSize size : {QSize(1280, 720), QSize(640, 400), QSize(1000, 900)}) {
        w.resize(size);
        QTRY_COMPARE(w.size(), size);
        const QRect r = w.centralWidget()->rect();
        QCOMPARE(view->geometry(), r);
        QCOMPARE(view->sceneRect(), QRectF(r));
        QCOMPARE(item->size(), QSizeF(r.size()));
        QCOMPARE(panel->geometry(), r);
        QCOMPARE(overlay->geometry(), r);
        QCOMPARE(w.centralWidget()->children().last(), overlay);
    }
}

void TestMainWindow::playPause()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *btn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
    QVERIFY(btn);
    QCOMPARE(btn->accessibleName(), QStringLiteral("Ойнату / Кідірту"));
    QVERIFY(hasIcon(btn, "pause"));
    auto *player = w.findChild<QMediaPlayer *>();
    player->setSource(QUrl());
    btn->setIcon(QIcon());
    // Stopped: pressing asks to play and shows "pause", even with no source.
    btn->click();
    QVERIFY(hasIcon(btn, "pause"));

    // The back end enters the playing state even for a source it cannot read.
    player->setSource(QUrl(QStringLiteral("http://127.0.0.1:1/x.m3u8")));
    btn->click();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    btn->click();
    QCOMPARE(player->playbackState(), QMediaPlayer::PausedState);
    QVERIFY(hasIcon(btn, "play"));
    btn->click();
    QCOMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(hasIcon(btn, "pause"));
}

void TestMainWindow::muteAndVolume()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *out = w.findChild<QAudioOutput *>();
    auto *mute = button(w, QStringLiteral("Дыбысты өшіру / қосу"));
    auto *slider = w.findChild<QSlider *>(QStringLiteral("volumeSlider"));
    QVERIFY(out && mute && slider);
    QCOMPARE(slider->value(), 50);
    QCOMPARE(out->volume(), 0.5f);
    QVERIFY(hasIcon(mute, "vol_on"));

    // One user action per row: -1 presses mute, anything else moves the slider.
    struct Step
    {
        int action;
        bool muted;
        const char *icon;
        float volume;
    };
    const Step steps[] = {
        {-1, true, "vol_off", 0.5f}, // mute keeps the volume
        {-1, false, "vol_on", 0.5f}, // unmute returns to the slider's volume
        {-1, true, "vol_off", 0.5f}, //
        {30, false, "vol_on", 0.3f}, // muted, moved above zero: unmuted
        {-1, true, "vol_off", 0.3f}, //
        {0, true, "vol_off", 0.0f},  // muted, moved to zero: stays muted
        {-1, false, "vol_on", 0.0f}, //
        {20, false, "vol_on", 0.2f}, //
        {0, false, "vol_off", 0.0f}, // zero shows off without muting
        {-1, true, "vol_off", 0.0f}, //
        {-1, false, "vol_on", 0.0f}, // unmuted at zero shows on
    };
    int row = 0;
    for (const Step &step : steps) {
        const int sliderBefore = slider->value();
        if (step.action < 0)
            mute->click();
        else
            slider->setValue(step.action);
        const QByteArray where = "step " + QByteArray::number(row++);
        QVERIFY2(out->isMuted() == step.muted, where);
        QVERIFY2(hasIcon(mute, step.icon), where);
        QVERIFY2(out->volume() == step.volume, where);
        if (step.action < 0)
            QVERIFY2(slider->value() == sliderBefore, where);
    }
}

void TestMainWindow::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focus"); // object name of the focused widget; empty: as it is
    QTest::addColumn<bool>("fullScreen");
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("muted");
    QTest::addColumn<int>("volumeAfter");
    QTest::addColumn<bool>("mutedAfter");
    QTest::addColumn<bool>("bars"); // shown after the key

    QTest::newRow("Esc leaves full screen")
        << int(Qt::Key_Escape) << "" << true << 50 << false << 50 << false << false;
    QTest::newRow("Esc in a window: nothing")
        << int(Qt::Key_Escape) << "" << false << 50 << false << 50 << false << false;
    QTest::newRow("M mutes") << int(Qt::Key_M) << "" << false << 50 << false << 50 << true << true;
    QTest::newRow("M unmutes") << int(Qt::Key_M) << "" << false << 50 << true << 50 << false
                               << true;
    QTest::newRow("Up: 5 louder") << int(Qt::Key_Up) << "" << true << 50 << false << 55 << false
                                  << true;
    QTest::newRow("Down: 5 quieter")
        << int(Qt::Key_Down) << "" << false << 50 << false << 45 << false << true;
    QTest::newRow("Up at the top")
        << int(Qt::Key_Up) << "" << false << 98 << false << 100 << false << true;
    QTest::newRow("Up in the quality box")
        << int(Qt::Key_Up) << "qualityCombo" << false << 50 << false << 50 << false << true;
    QTest::newRow("Down on the slider: its own step")
        << int(Qt::Key_Down) << "volumeSlider" << false << 50 << false << 49 << false << true;
}

void TestMainWindow::keys()
{
    QFETCH(int, key);
    QFETCH(QString, focus);
    QFETCH(bool, fullScreen);
    QFETCH(int, volume);
    QFETCH(bool, muted);
    QFETCH(int, volumeAfter);
    QFETCH(bool, mutedAfter);
    QFETCH(bool, bars);
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *slider = w.findChild<QSlider *>(QStringLiteral("volumeSlider"));
    auto *out = w.findChild<QAudioOutput *>();
    auto *top = w.findChild<QWidget *>(QStringLiteral("topBar"));
    if (fullScreen)
        w.showFullScreen();
    else
        w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    slider->setValue(volume);
    out->setMuted(muted);
    if (!focus.isEmpty()) {
        auto *target = w.findChild<QWidget *>(focus);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
    } else {
        // Hidden bars give up the focus, so only here.
        QVERIFY(QMetaObject::invokeMethod(&w, "hideControls"));
        QVERIFY(!top->isVisible());
    }

    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key(key));
    QTRY_COMPARE(w.isFullScreen(), fullScreen && key != Qt::Key_Escape);
    QCOMPARE(slider->value(), volumeAfter);
    QCOMPARE(out->volume(), volumeAfter / 100.0f);
    QCOMPARE(out->isMuted(), mutedAfter);
    QCOMPARE(top->isVisible(), bars);
}

void TestMainWindow::alwaysOnTopFromButtonAndMenu()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *pin = button(w, QStringLiteral("Әрқашан үстінде"));
    QAction *entry = menuEntry(w, QStringLiteral("Әрқашан үстінде"));
    QVERIFY(pin && entry);
    QVERIFY(pin->isCheckable() && entry->isCheckable());
    QVERIFY(!pin->isChecked() && !entry->isChecked());

    int applied = 0;
    connect(pin, &QPushButton::toggled, &w, [&applied] { ++applied; });

    pin->click();
    QVERIFY(entry->isChecked());
    QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(w.isVisible());
    QCOMPARE(applied, 1);

    entry->trigger(); // unchecks
    QVERIFY(!pin->isChecked());
    QVERIFY(!entry->isChecked());
    QVERIFY(!(w.windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(w.isVisible());
    QCOMPARE(applied, 2);

    entry->trigger();
    QVERIFY(pin->isChecked());
    QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(applied, 3);
}

void TestMainWindow::menuTree()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    QVERIFY(!w.menuBar()->isNativeMenuBar());
    struct Entry
    {
        QString text;
        QKeySequence keys;
        Qt::ShortcutContext context;
        bool checkable;
    };
    const QList<QPair<QString, QList<Entry>>> expected = {
        {QStringLiteral("Файл"),
         {{QStringLiteral("Шығу"), QKeySequence(QKeySequence::Quit), Qt::ApplicationShortcut,
           false},
          {QString(), {}, Qt::WindowShortcut, false},
          {QStringLiteral("Жаңартуды тексеру"), {}, Qt::WindowShortcut, false}}},
        {QStringLiteral("Көрініс"),
         {{QStringLiteral("Телехабарлар кестесі (EPG)"), {}, Qt::WindowShortcut, false},
          {QStringLiteral("Толық экран"), QKeySequence(Qt::Key_F11), Qt::WindowShortcut, false},
          {QStringLiteral("Әрқашан үстінде"), {}, Qt::WindowShortcut, true}}},
        {QStringLiteral("Ойнату"),
         {{QStringLiteral("Ойнату / Кідірту\tSpace"), {}, Qt::WindowShortcut, false},
          {QStringLiteral("Ағынды жаңарту"), {}, Qt::WindowShortcut, false}}},
        {QStringLiteral("Құралдар"),
         {{QStringLiteral("Баптаулар"), {}, Qt::WindowShortcut, false},
          {QStringLiteral("Скриншот"), {}, Qt::WindowShortcut, false}}},
        {QStringLiteral("Көмек"),
         {{QStringLiteral("Бағдарлама туралы"), {}, Qt::WindowShortcut, false}}},
    };
    const QList<QAction *> menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), expected.size());
    for (int m = 0; m < menus.size(); ++m) {
        QCOMPARE(menus[m]->text(), expected[m].first);
        const QList<QAction *> entries = menus[m]->menu()->actions();
        QCOMPARE(entries.size(), expected[m].second.size());
        for (int e = 0; e < entries.size(); ++e) {
            const Entry &want = expected[m].second[e];
            QAction *a = entries[e];
            if (want.text.isEmpty()) {
                QVERIFY(a->isSeparator());
                continue;
            }
            QCOMPARE(a->text(), want.text);
            QCOMPARE(a->shortcut(), want.keys);
            QCOMPARE(a->shortcutContext(), want.context);
            QCOMPARE(a->isCheckable(), want.checkable);
            QVERIFY(!a->icon().isNull());
        }
    }
}

void TestMainWindow::menuBarTextIsDark()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    const QPalette pal = w.menuBar()->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            QCOMPARE(pal.color(group, role), QColor(QStringLiteral("#050505")));
}

void TestMainWindow::menuEntryReachesItsSlot_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("full screen") << QStringLiteral("Толық экран");
    QTest::newRow("play / pause") << QStringLiteral("Ойнату / Кідірту\tSpace");
    QTest::newRow("refresh") << QStringLiteral("Ағынды жаңарту");
    QTest::newRow("screenshot") << QStringLiteral("Скриншот");
    QTest::newRow("about") << QStringLiteral("Бағдарлама туралы");
    QTest::newRow("check for updates") << QStringLiteral("Жаңартуды тексеру");
}

// Each entry, triggered as a click on it would, does its own job and no other's.
void TestMainWindow::menuEntryReachesItsSlot()
{
    QFETCH(QString, entry);
    QSettings store(QStringLiteral("VostanTV"), QStringLiteral("Player"));
    store.remove(QStringLiteral("hlsVariantUri"));
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    store.setValue(QStringLiteral("screenshotPath"), tmp.path());
    // Relay and update origin: one variant in the master playlist, nothing else.
    FakeOrigin origin;
    FakeResponse master;
    master.bodyPieces = {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nv.m3u8\n"};
    origin.setResponse(master);
    QVERIFY(origin.listen());
    // Requests the window itself made (the media back end has its own agent).
    const auto fetches = [&origin](const QByteArray &target) {
        int n = 0;
        for (const ReceivedRequest &r : origin.requests())
            n += r.target == target && r.header("User-Agent").startsWith("Mozilla/");
        return n;
    };
    const QByteArray playlist = "/hls/master.m3u8";
    const QByteArray manifest = "/version.json";

    MainWindow w(nullptr, origin.port(), nullptr);
    w.setUpdateManifestUrl(origin.url() + QStringLiteral("/version.json"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *combo = w.findChild<QComboBox *>(QStringLiteral("qualityCombo"));
    auto *player = w.findChild<QMediaPlayer *>();
    auto *playPauseBtn = w.findChild<QPushButton *>(QStringLiteral("playPauseBtn"));
    QAction *action = menuEntry(w, entry);
    QVERIFY(combo && player && playPauseBtn && action);
    QTRY_COMPARE(combo->count(), 2); // the start-up fetch is in
    QCOMPARE(fetches(playlist), 1);
    player->setSource(QUrl(QStringLiteral("http://127.0.0.1:1/x.m3u8")));
    player->play();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    combo->setCurrentIndex(1);

    QString modalTitle;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &w, [&] {
        if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            modalTitle = box->windowTitle();
            box->reject();
        }
    });
    closer.start(20);

    // Start-up asks for the manifest once by itself; let that pass first.
    const bool checks = entry == QStringLiteral("Жаңартуды тексеру");
    if (checks)
        QTRY_COMPARE_WITH_TIMEOUT(fetches(manifest), 1, 10000);

    action->trigger();
    const bool fullScreen = entry == QStringLiteral("Толық экран");
    QTRY_COMPARE(w.isFullScreen(), fullScreen);
    const bool paused = entry.startsWith(QStringLiteral("Ойнату"));
    QCOMPARE(player->playbackState(),
             paused ? QMediaPlayer::PausedState : QMediaPlayer::PlayingState);
    QVERIFY(hasIcon(playPauseBtn, paused ? "play" : "pause"));
    if (entry == QStringLiteral("Ағынды жаңарту")) {
        // Only a new fetch rebuilds the box, back on the automatic entry.
        QTRY_COMPARE(combo->currentIndex(), 0);
        QCOMPARE(fetches(playlist), 2);
    } else {
        QCOMPARE(combo->currentIndex(), 1);
        QCOMPARE(fetches(playlist), 1);
    }
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(),
             entry == QStringLiteral("Скриншот") ? 1 : 0);
    QCOMPARE(modalTitle, entry == QStringLiteral("Бағдарлама туралы") ? entry : QString());
    if (checks)
        QTRY_COMPARE(fetches(manifest), 2);

    // The same entry again undoes a toggle.
    if (fullScreen || paused) {
        action->trigger();
        QTRY_VERIFY(!w.isFullScreen());
        QCOMPARE(player->playbackState(), QMediaPlayer::PlayingState);
        QVERIFY(hasIcon(playPauseBtn, "pause"));
    }
    store.remove(QStringLiteral("screenshotPath"));
}

void TestMainWindow::doubleClick_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("toggles");
    QTest::newRow("picture centre") << QStringLiteral("centre") << true;
    QTest::newRow("picture left edge") << QStringLiteral("left") << true;
    QTest::newRow("guide strip") << QStringLiteral("liveEpgStrip") << false;
    QTest::newRow("volume slider") << QStringLiteral("volumeSlider") << false;
    QTest::newRow("top bar between controls") << QStringLiteral("topBar") << false;
}

// The double-click goes where a user's would: to the widget under the point.
void TestMainWindow::doubleClick()
{
    QFETCH(QString, where);
    QFETCH(bool, toggles);
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect picture = w.centralWidget()->geometry();
    QPoint at = picture.center();
    if (where == QStringLiteral("left")) {
        at.setX(picture.left() + 5);
    } else if (where != QStringLiteral("centre")) {
        auto *widget = w.findChild<QWidget *>(where);
        QVERIFY(widget);
        // The top bar's own background: just inside its left margin.
        const QPoint local = where == QStringLiteral("topBar") ? QPoint(4, widget->height() / 2)
                                                               : widget->rect().center();
        at = widget->mapTo(&w, local);
    }
    for (int round = 0; round < 2; ++round) {
        QWidget *target = w.childAt(at);
        QVERIFY(target);
        const bool before = w.isFullScreen();
        QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, target->mapFrom(&w, at));
        if (toggles) {
            QTRY_COMPARE(w.isFullScreen(), !before);
            QVERIFY(w.menuBar()->isVisible());
            // The picture fills the new size; the same spot is still picture.
            at = w.centralWidget()->geometry().center();
        } else {
            QTest::qWait(50);
            QCOMPARE(w.isFullScreen(), before);
        }
    }
}

void TestMainWindow::screenshot()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.path() + QStringLiteral("/not/yet/there");
    QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"))
        .setValue(QStringLiteral("screenshotPath"), folder);
    MainWindow w(nullptr, kDeadPort, nullptr);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPushButton *camera = button(w, QStringLiteral("Скриншот"));
    QVERIFY(camera);

    QElapsedTimer shown;
    shown.start();
    QTest::mouseClick(camera, Qt::LeftButton);
    QTest::mouseClick(camera, Qt::LeftButton);
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    // Two captures in one second never share a file.
    QVERIFY2(files.size() == 2, qPrintable(files.join(QLatin1Char(' '))));
    const QRegularExpression name(
        QStringLiteral(R"(^Vostan_TV_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}(_2)?\.png$)"));
    for (const QString &file : files)
        QVERIFY2(name.match(file).hasMatch(), qPrintable(file));
    const QImage shot(QDir(folder).filePath(files.first()));
    QCOMPARE(shot.size(), w.findChild<QGraphicsView *>()->size());

    QCOMPARE(camera->text(), QStringLiteral("✓"));
    QVERIFY(camera->icon().isNull());
    QTRY_VERIFY_WITH_TIMEOUT(camera->text().isEmpty(), 4000);
    // About two seconds: long enough to be seen.
    QVERIFY2(shown.elapsed() >= 1500, qPrintable(QString::number(shown.elapsed())));
    QVERIFY(hasIcon(camera, "camera"));
    QVERIFY(camera->styleSheet().isEmpty());

    // A folder that cannot exist (a file is in the way): no confirmation.
    QFile blocker(tmp.path() + QStringLiteral("/file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"))
        .setValue(QStringLiteral("screenshotPath"), blocker.fileName() + QStringLiteral("/sub"));
    QTest::mouseClick(camera, Qt::LeftButton);
    QVERIFY(camera->text().isEmpty());
    QVERIFY(hasIcon(camera, "camera"));
    QSettings(QStringLiteral("VostanTV"), QStringLiteral("Player"))
        .remove(QStringLiteral("screenshotPath"));
}

void TestMainWindow::aboutBox()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    QString text;
    QString title;
    QSize icon;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &w, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        closer.stop();
        text = box->text();
        title = box->windowTitle();
        icon = box->iconPixmap().size();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);
    QVERIFY(QMetaObject::invokeMethod(&w, "showAbout"));
    QCOMPARE(title, QStringLiteral("Бағдарлама туралы"));
    QCOMPARE(icon, QSize(128, 128));
    QVERIFY(text.startsWith(QStringLiteral("<h2>Vostan TV Player</h2><p><b>Нұсқа:</b> 1.1</p>")));
    // The parts in their order; the language standard is the one compiled with.
    const QStringList order = {
        QStringLiteral("<p><b>Әзірлеуші:</b> "),
        QStringLiteral("<hr>"),
        QStringLiteral("<p><b>Қолданылған технологиялар:</b></p><ul>"),
        QStringLiteral("<li><b>Qt 6 Framework</b> — заманауи графикалық интерфейс.</li>"),
        QStringLiteral("<li><b>C++ (C++%1)</b> — ").arg((__cplusplus / 100) % 100),
        QStringLiteral("<li><b>FFmpeg</b> — мультимедиалық ағындарды өңдеу.</li>"),
        QStringLiteral("<li><b>HLS Streaming</b> — жоғары сапалы онлайн көрсетілім.</li></ul>"),
        QStringLiteral("<hr>"),
        QStringLiteral("<p><a href='") + QStringLiteral(VOSTAN_CHANNEL_ORIGIN) +
            QStringLiteral("' style='color: #ffd700;'>"),
    };
    qsizetype from = 0;
    for (const QString &part : order) {
        const qsizetype at = text.indexOf(part, from);
        QVERIFY2(at >= 0, qPrintable(part));
        from = at + part.size();
    }
    QVERIFY(text.endsWith(QStringLiteral("</a></p>")));
}

void TestMainWindow::settingsFromMenu()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    QWidget *seen = nullptr;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &w, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        closer.stop();
        seen = dialog;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Баптаулар"));
        QCOMPARE(dialog->parentWidget(), &w);
        dialog->reject();
    });
    closer.start(20);
    QAction *entry = menuEntry(w, QStringLiteral("Баптаулар"));
    QVERIFY(entry);
    entry->trigger();
    QVERIFY(seen);
}

void TestMainWindow::idlePanelFollowsPlaybackState()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *panel = idlePanelOf(w);
    auto *player = w.findChild<QMediaPlayer *>();
    QVERIFY(panel && player);
    // Before any stream the panel covers the video and lets the mouse through.
    QVERIFY(!panel->isHidden());
    QVERIFY(panel->testAttribute(Qt::WA_TransparentForMouseEvents));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Shown exactly while stopped, whatever the source.
    player->play();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(!panel->isVisible());
    player->pause();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::PausedState);
    QVERIFY(!panel->isVisible());
    player->stop();
    QTRY_COMPARE(player->playbackState(), QMediaPlayer::StoppedState);
    QVERIFY(panel->isVisible());
}

void TestMainWindow::liveStripWaiting()
{
    MainWindow w(nullptr, kDeadPort, nullptr);
    auto *strip = w.findChild<QLabel *>(QStringLiteral("liveEpgStrip"));
    QVERIFY(strip);
    QVERIFY(strip->text().contains(QStringLiteral("• ТІКЕЛЕЙ ЭФИР")));
    QVERIFY(strip->text().contains(QStringLiteral("Қазір: …")));
    QVERIFY(strip->toolTip().isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
