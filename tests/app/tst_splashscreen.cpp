#include "splashscreen.h"
#include "startup.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class SplashScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void stepsThroughTextsThenFinishesOnce();
    void isFixedFramelessAndOnTop();
    void handOverShowsWindowOnlyWhenFinished();
};

void SplashScreenTest::stepsThroughTextsThenFinishesOnce()
{
    // Started before the splash, whose timer runs from construction: a busy
    // machine may take a while to build it.
    QElapsedTimer clock;
    clock.start();
    SplashScreen splash;
    auto *status = splash.findChild<QLabel *>(QStringLiteral("loadingText"));
    auto *timer = splash.findChild<QTimer *>();
    QVERIFY(status);
    QVERIFY(timer);
    QCOMPARE(status->text(), QStringLiteral("Жүктелуде..."));
    // The sequence runs from construction on, one step per 350 ms tick.
    QVERIFY(timer->isActive());
    QVERIFY(!timer->isSingleShot());
    QCOMPARE(timer->interval(), 350);

    QSignalSpy finished(&splash, &SplashScreen::loadingFinished);
    // Connected after the splash's own slot, so each entry is the state after a tick.
    QStringList texts;
    QList<int> finishedAtTick;
    QList<qint64> tickAt;
    QList<int> intervals;
    connect(timer, &QTimer::timeout, this, [&] {
        texts << status->text();
        finishedAtTick << int(finished.count());
        tickAt << clock.elapsed();
        intervals << timer->interval();
    });

    splash.show();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);

    const QStringList expected = {
        QStringLiteral("Негізгі модульдерді жүктеу..."),
        QStringLiteral("Qt Мультимедиасын Инициализациялау..."),
        QStringLiteral("Тарату серверіне қосылу..."),
        QStringLiteral("HLS ағынын шешу..."),
        QStringLiteral("Буферлік медиа..."),
        QStringLiteral("Дайын."),
        QStringLiteral("Дайын."),
    };
    QCOMPARE(texts, expected);
    QCOMPARE(finishedAtTick, (QList<int>{0, 0, 0, 0, 0, 0, 1}));
    QCOMPARE(intervals, QList<int>(7, 350));
    // A coarse timer may fire up to 5 % early, never a whole tick early.
    for (int tick = 0; tick < tickAt.size(); ++tick)
        QVERIFY2(tickAt[tick] >= (tick + 1) * 330, qPrintable(QString::number(tickAt[tick])));
    QVERIFY(!timer->isActive());
    QVERIFY(splash.isVisible()); // closing is the caller's job
}

void SplashScreenTest::isFixedFramelessAndOnTop()
{
    SplashScreen splash;
    QVERIFY(splash.isWindow());
    QVERIFY(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(splash.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(splash.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(splash.minimumSize(), QSize(800, 450));
    QCOMPARE(splash.maximumSize(), QSize(800, 450));
    splash.show();
    QCOMPARE(splash.size(), QSize(800, 450));
}

void SplashScreenTest::handOverShowsWindowOnlyWhenFinished()
{
    QWidget window;
    QPointer<SplashScreen> splash = new SplashScreen(nullptr);
    QSignalSpy finished(splash.data(), &SplashScreen::loadingFinished);
    bool windowShownEarly = false;
    connect(splash->findChild<QTimer *>(), &QTimer::timeout, this, [&] {
        if (finished.isEmpty() && window.isVisible())
            windowShownEarly = true;
    });
    handOverOnFinish(splash, &window);
    splash->show();

    QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 10000);
    QVERIFY(!windowShownEarly);
    QCOMPARE(finished.count(), 1);
    QTRY_VERIFY(splash.isNull());
}

QTEST_MAIN(SplashScreenTest)
#include "tst_splashscreen.moc"
