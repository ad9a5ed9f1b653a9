#include "networkspeedmeter.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

class TestNetworkSpeedMeter : public QObject
{
    Q_OBJECT

private slots:
    void reportsBytesOfOneTick_data();
    void reportsBytesOfOneTick();
    void ratePerTimeReallyPassed_data();
    void ratePerTimeReallyPassed();
    void bytesRecordedAtTickGoToNextTick();
    void ticksOncePerSecond_data();
    void ticksOncePerSecond();
};

void TestNetworkSpeedMeter::reportsBytesOfOneTick_data()
{
    QTest::addColumn<QList<qint64>>("down");
    QTest::addColumn<QList<qint64>>("up");
    QTest::addColumn<double>("mbpsDown");
    QTest::addColumn<double>("mbpsUp");

    QTest::newRow("no traffic") << QList<qint64>{} << QList<qint64>{} << 0.0 << 0.0;
    QTest::newRow("zero and negative ignored")
        << QList<qint64>{0, -5} << QList<qint64>{0, -5} << 0.0 << 0.0;
    QTest::newRow("10 Mbit/s down") << QList<qint64>{1250000} << QList<qint64>{} << 10.0 << 0.0;
}

void TestNetworkSpeedMeter::reportsBytesOfOneTick()
{
    QFETCH(QList<qint64>, down);
    QFETCH(QList<qint64>, up);
    QFETCH(double, mbpsDown);
    QFETCH(double, mbpsUp);

    NetworkSpeedMeter meter;
    QSignalSpy spy(&meter, &NetworkSpeedMeter::ratesUpdated);
    // Record right after a tick so that everything lands in the next one.
    QVERIFY(spy.wait(2000));
    for (qint64 bytes : down)
        meter.recordDownloadBytes(bytes);
    for (qint64 bytes : up)
        meter.recordUploadBytes(bytes);

    QVERIFY(spy.wait(2000));
    // Per the second that really passed, which a coarse timer keeps within 5%.
    QVERIFY(qAbs(spy.at(1).at(0).toDouble() - mbpsDown) <= mbpsDown * 0.06);
    QVERIFY(qAbs(spy.at(1).at(1).toDouble() - mbpsUp) <= mbpsUp * 0.06);
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.at(2).at(0).toDouble(), 0.0);
    QCOMPARE(spy.at(2).at(1).toDouble(), 0.0);
}

void TestNetworkSpeedMeter::ratePerTimeReallyPassed_data()
{
    QTest::addColumn<int>("busyMs");

    QTest::newRow("a steady second") << 0;
    QTest::newRow("after the thread was busy for 2.5 s") << 2500;
}

void TestNetworkSpeedMeter::ratePerTimeReallyPassed()
{
    QFETCH(int, busyMs);

    NetworkSpeedMeter meter;
    QSignalSpy spy(&meter, &NetworkSpeedMeter::ratesUpdated);
    QVERIFY(spy.wait(2000));
    QElapsedTimer sinceTick;
    sinceTick.start();
    // 10 Mbit/s for as long as the thread is held up, then the next tick.
    const qint64 bytes = 1250000LL * qMax(busyMs, 1000) / 1000;
    meter.recordDownloadBytes(bytes);
    QThread::msleep(ulong(busyMs)); // the held-up thread is the case itself
    QVERIFY(spy.wait(3000));
    const double expected = double(bytes) * 8 / 1e6 / (double(sinceTick.elapsed()) / 1000);
    const double shown = spy.last().at(0).toDouble();
    QVERIFY2(qAbs(shown - expected) <= expected * 0.1, QByteArray::number(shown).constData());
}

void TestNetworkSpeedMeter::bytesRecordedAtTickGoToNextTick()
{
    NetworkSpeedMeter meter;
    QSignalSpy spy(&meter, &NetworkSpeedMeter::ratesUpdated);
    bool recorded = false;
    connect(&meter, &NetworkSpeedMeter::ratesUpdated, this, [&] {
        if (!recorded) {
            recorded = true;
            meter.recordDownloadBytes(125000);
            meter.recordUploadBytes(250000);
        }
    });

    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.at(0).at(0).toDouble(), 0.0);
    QVERIFY(spy.wait(2000));
    QVERIFY(qAbs(spy.at(1).at(0).toDouble() - 1.0) <= 0.06);
    QVERIFY(qAbs(spy.at(1).at(1).toDouble() - 2.0) <= 0.12);
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.at(2).at(0).toDouble(), 0.0);
    QCOMPARE(spy.at(2).at(1).toDouble(), 0.0);
}

void TestNetworkSpeedMeter::ticksOncePerSecond_data()
{
    QTest::addColumn<int>("ticks");

    QTest::newRow("first tick") << 1;
    QTest::newRow("third tick") << 3;
}

void TestNetworkSpeedMeter::ticksOncePerSecond()
{
    QFETCH(int, ticks);

    // The rates are per second only because the tick is: tick n comes n
    // seconds after construction (a coarse timer may be up to 5% early).
    QElapsedTimer clock;
    clock.start();
    NetworkSpeedMeter meter;
    QSignalSpy spy(&meter, &NetworkSpeedMeter::ratesUpdated);
    while (spy.size() < ticks)
        QVERIFY(spy.wait(3000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= ticks * 950 && elapsed < ticks * 1000 + 500,
             QByteArray::number(elapsed).constData());
}

QTEST_GUILESS_MAIN(TestNetworkSpeedMeter)
#include "tst_networkspeedmeter.moc"
