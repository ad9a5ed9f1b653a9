#include "updatemanifest.h"

#include <QtTest>

class TestUpdateManifest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestUpdateManifest::parse_data()
{
    QTest::addColumn<QByteArray>("body");
    // "version|url|changelog|offered to 1.1", or empty when no manifest is read.
    QTest::addColumn<QString>("expected");

    QTest::newRow("equal") << QByteArray(R"({"version":"1.1","url":"https://h/i.exe"})")
                           << "1.1|https://h/i.exe||no";
    QTest::newRow("equal, blanks kept") << QByteArray(R"({"version":" 1.1.0 "})") << " 1.1.0 |||no";
    QTest::newRow("older") << QByteArray(R"({"version":"1.0.9","url":"u","changelog":"c"})")
                           << "1.0.9|u|c|no";
    QTest::newRow("newer with changelog")
        << QByteArray(R"({"version":"1.2","url":"https://h/i.exe","changelog":"Жаңа\n- fix"})")
        << "1.2|https://h/i.exe|Жаңа\n- fix|yes";
    QTest::newRow("url missing") << QByteArray(R"({"version":"2.0","changelog":"c"})")
                                 << "2.0||c|yes";
    QTest::newRow("url and changelog of other types")
        << QByteArray(R"({"version":"2.0","url":5,"changelog":["a"]})") << "2.0|||yes";
    QTest::newRow("array top level") << QByteArray(R"([{"version":"9.9"}])") << "";
    QTest::newRow("numeric version") << QByteArray(R"({"version":1.2})") << "";
    QTest::newRow("empty version") << QByteArray(R"({"version":"","url":"https://h"})") << "";
    QTest::newRow("not json") << QByteArray("<html>404</html>") << "";
}

void TestUpdateManifest::parse()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    const std::optional<UpdateManifest> m = parseUpdateManifest(body);
    const QString got = !m ? QString()
                           : QStringList{m->version, m->url, m->changelog,
                                         offersUpdate(QStringLiteral("1.1"), *m) ? "yes" : "no"}
                                 .join(QLatin1Char('|'));
    QCOMPARE(got, expected);
}

QTEST_APPLESS_MAIN(TestUpdateManifest)
#include "tst_updatemanifest.moc"
