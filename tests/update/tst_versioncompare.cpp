#include "versioncompare.h"

#include <QtTest>

class TestVersionCompare : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
};

void TestVersionCompare::compare_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("expected"); // sign: -1 current lower, 0 equal, 1 current higher

    QTest::newRow("1.2 newer") << "1.1"
                               << "1.2" << -1;
    QTest::newRow("1.10 numeric, not textual") << "1.1"
                                               << "1.10" << -1;
    QTest::newRow("missing part is zero") << "1.1"
                                          << "1.1.0" << 0;
    QTest::newRow("leading zero") << "1.1"
                                  << "1.01" << 0;
    QTest::newRow("1.0.9 older") << "1.1"
                                 << "1.0.9" << 1;
    QTest::newRow("first difference decides") << "2.0"
                                              << "1.99" << 1;
    QTest::newRow("non-numeric part compares as text") << "1.1"
                                                       << "r1.2" << -1;
    QTest::newRow("text is case-sensitive") << "1.a"
                                            << "1.B" << 1;
    QTest::newRow("surrounding blanks") << "1.1"
                                        << " 1.1 " << 0;
    QTest::newRow("empty part dropped") << "1.1"
                                        << "1..2" << -1;
    QTest::newRow("trailing dot") << "1.1"
                                  << "1.1." << 0;
    QTest::newRow("empty vs empty") << ""
                                    << "" << 0;
    QTest::newRow("empty vs 1.1") << ""
                                  << "1.1" << -1;
    // Past int range a part falls back to text: "1" < "9…" but "5" > "1…".
    QTest::newRow("overflow, text order lower") << "1.1"
                                                << "1.99999999999" << -1;
    QTest::newRow("overflow, text order higher") << "1.5"
                                                 << "1.10000000000" << 1;
}

void TestVersionCompare::compare()
{
    QFETCH(QString, current);
    QFETCH(QString, remote);
    QFETCH(int, expected);

    const auto sign = [](int v) {
        return (v > 0) - (v < 0);
    };
    QCOMPARE(sign(compareVersions(current, remote)), expected);
    QCOMPARE(sign(compareVersions(remote, current)), -expected);
}

QTEST_APPLESS_MAIN(TestVersionCompare)
#include "tst_versioncompare.moc"
