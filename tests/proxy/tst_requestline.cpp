#include "requestline.h"

#include <QTest>

Q_DECLARE_METATYPE(RequestLine::Status)

class TestRequestLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void upstreamUrl_data();
    void upstreamUrl();
};

void TestRequestLine::parse_data()
{
    using S = RequestLine::Status;
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<S>("status");
    QTest::addColumn<QString>("target");

    const QByteArray path(8192 - 16, 'a'); // "GET /" + path + " HTTP/1.1\r\n" is 8 KiB
    QTest::newRow("nothing yet") << QByteArray() << S::Incomplete << QString();
    QTest::newRow("split in target") << QByteArray("GET /hls/mas") << S::Incomplete << QString();
    QTest::newRow("split in line end")
        << QByteArray("GET /x HTTP/1.1\r") << S::Incomplete << QString();
    QTest::newRow("complete request")
        << QByteArray("GET /hls/master.m3u8 HTTP/1.1\r\nHost: a\r\n\r\n") << S::Target
        << QStringLiteral("/hls/master.m3u8");
    QTest::newRow("extra spaces") << QByteArray("  POST   /a?b=c   HTTP/1.1 \r\n") << S::Target
                                  << QStringLiteral("/a?b=c");
    QTest::newRow("no version") << QByteArray("GET /a\r\n") << S::Target << QStringLiteral("/a");
    QTest::newRow("UTF-8 target") << QByteArray("GET /\xc3\xa4 HTTP/1.1\r\n") << S::Target
                                  << QStringLiteral("/\u00e4");
    QTest::newRow("one part") << QByteArray("GET\r\n") << S::BadRequest << QString();
    QTest::newRow("empty line") << QByteArray("\r\nGET /a HTTP/1.1\r\n") << S::BadRequest
                                << QString();
    QTest::newRow("line of 8 KiB") << "GET /" + path + " HTTP/1.1\r\n"
                                   << S::Target << QString("/" + path);
    QTest::newRow("line of 8 KiB + 1") << "GET /a" + path + " HTTP/1.1\r\n"
                                       << S::TooLong << QString();
    QTest::newRow("8 KiB - 1 without end") << QByteArray(8191, 'a') << S::Incomplete << QString();
    QTest::newRow("8 KiB without end") << QByteArray(8192, 'a') << S::TooLong << QString();
}

void TestRequestLine::parse()
{
    QFETCH(QByteArray, buffer);
    QFETCH(RequestLine::Status, status);
    QFETCH(QString, target);

    const RequestLine line = parseRequestLine(buffer);
    QCOMPARE(line.status, status);
    QCOMPARE(line.target, target);
}

void TestRequestLine::upstreamUrl_data()
{
    QTest::addColumn<QString>("targetHost");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("url"); // empty: refused

    const QString origin = QStringLiteral("https://vostan.tv");
    QTest::newRow("path") << origin << "/hls/master.m3u8"
                          << "https://vostan.tv/hls/master.m3u8";
    QTest::newRow("query") << origin << "/epg_api.php?action=now"
                           << "https://vostan.tv/epg_api.php?action=now";
    QTest::newRow("double slash stays a path") << origin << "//evil.example/x"
                                               << "https://vostan.tv//evil.example/x";
    QTest::newRow("origin with port") << "http://127.0.0.1:8443"
                                      << "/a"
                                      << "http://127.0.0.1:8443/a";
    QTest::newRow("userinfo") << origin << "@evil.example/x" << QString();
    QTest::newRow("host suffix") << origin << ".evil.example/x" << QString();
    QTest::newRow("port") << origin << ":9999/x" << QString();
    QTest::newRow("absolute form") << origin << "http://evil.example/x" << QString();
    QTest::newRow("authority form") << origin << "evil.example:443" << QString();
    QTest::newRow("asterisk form") << origin << "*" << QString();
}

void TestRequestLine::upstreamUrl()
{
    QFETCH(QString, targetHost);
    QFETCH(QString, target);
    QFETCH(QString, url);

    const QUrl result = ::upstreamUrl(targetHost, target);
    QCOMPARE(result.isValid(), !url.isEmpty());
    if (result.isValid())
        QCOMPARE(result.toString(), url);
}

QTEST_APPLESS_MAIN(TestRequestLine)
#include "tst_requestline.moc"
