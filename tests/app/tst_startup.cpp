#include "startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using PortList = QList<quint16>;

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void choosesFirstFreePort_data();
    void choosesFirstFreePort();
    void noFreePortShowsErrorAndExitsWithOne();
    void styleSheetComesFromResource();
    void missingStyleSheetIsIgnored();
    void artwork_data();
    void artwork();

private:
    // Holds the given loopback ports; false when one was not ours to take.
    bool occupy(const PortList &ports);

    std::vector<std::unique_ptr<QTcpServer>> holders;
};

// The relay ports are fixed, so another program on the machine can spoil them.
static QString busyRelayPort()
{
    for (quint16 port = kFirstRelayPort; port <= kLastRelayPort; ++port) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, port))
            return QStringLiteral("port %1 is already in use on this machine").arg(port);
    }
    return {};
}

#define SKIP_IF_RELAY_PORTS_BUSY()                                                                 \
    if (const QString busy = busyRelayPort(); !busy.isEmpty())                                     \
    QSKIP(qPrintable(busy))

void StartupTest::cleanup()
{
    holders.clear();
    qApp->setStyleSheet(QString());
}

bool StartupTest::occupy(const PortList &ports)
{
    for (quint16 port : ports) {
        auto holder = std::make_unique<QTcpServer>();
        if (!holder->listen(QHostAddress::LocalHost, port))
            return false;
        holders.push_back(std::move(holder));
    }
    return true;
}

static PortList portRange(quint16 first, quint16 last)
{
    PortList ports;
    for (quint16 p = first; p <= last; ++p)
        ports << p;
    return ports;
}

void StartupTest::choosesFirstFreePort_data()
{
    QTest::addColumn<PortList>("taken");
    QTest::addColumn<quint16>("expected"); // 0: nothing bound

    QTest::newRow("all free") << PortList{} << quint16(8080);
    QTest::newRow("fallback only in use") << PortList{8081} << quint16(8080);
    QTest::newRow("8080 taken") << PortList{8080} << quint16(8081);
    QTest::newRow("gap after 8081") << PortList{8080, 8082} << quint16(8081);
    QTest::newRow("all but the last") << portRange(8080, 8089) << quint16(8090);
    QTest::newRow("all eleven") << portRange(8080, 8090) << quint16(0);
}

void StartupTest::choosesFirstFreePort()
{
    QFETCH(PortList, taken);
    QFETCH(quint16, expected);
    SKIP_IF_RELAY_PORTS_BUSY();
    QVERIFY(occupy(taken));

    QTcpServer relay;
    QCOMPARE(listenOnFirstFreePort(relay), expected != 0);
    QCOMPARE(relay.isListening(), expected != 0);
    if (expected != 0) {
        QCOMPARE(relay.serverPort(), expected);
        QCOMPARE(relay.serverAddress(), QHostAddress(QHostAddress::LocalHost));
    }
}

void StartupTest::noFreePortShowsErrorAndExitsWithOne()
{
    SKIP_IF_RELAY_PORTS_BUSY();
    QVERIFY(occupy(portRange(kFirstRelayPort, kLastRelayPort)));

    // The real box runs modally; inspect and dismiss it from inside its loop.
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool hadParent = true;
    QTimer dismisser;
    connect(&dismisser, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        dismisser.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        hadParent = box->parentWidget() != nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    dismisser.start(10);

    int reports = 0;
    QTcpServer relay;
    const std::optional<int> exitCode = startRelay(relay, [&] {
        ++reports;
        showNoFreePortError();
    });

    QCOMPARE(exitCode, std::optional<int>(1));
    QCOMPARE(reports, 1);
    QVERIFY(!relay.isListening());
    QCOMPARE(title, QStringLiteral("Қате"));
    QCOMPARE(text, QStringLiteral("Жергілікті прокси қосылмады (порттар 8080–8090 бос емес)."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!hadParent);

    holders.clear();
    QTcpServer second;
    QCOMPARE(startRelay(second, [&] { ++reports; }), std::nullopt);
    QCOMPARE(reports, 1);
    QCOMPARE(second.serverPort(), kFirstRelayPort);
}

void StartupTest::styleSheetComesFromResource()
{
    QFile file(QStringLiteral(":/style.qss"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString bundled = QString::fromUtf8(file.readAll());

    loadApplicationStyleSheet(*qApp);
    QCOMPARE(qApp->styleSheet(), bundled);

    const char *const objectNames[] = {
        "titleText",     "loadingText",   "videoOverlay", "topBar",       "bottomBar",
        "liveEpgStrip",  "netSpeedLabel", "playPauseBtn", "volumeSlider", "qualityCombo",
        "epgDialog",     "epgFooter",     "epgEmpty",     "epgLiveBar",   "epgLiveTitle",
        "epgRefreshBtn", "epgDayTitle",   "epgTable"};
    for (const char *name : objectNames)
        QVERIFY2(bundled.contains(QLatin1Char('#') + QLatin1String(name)), name);
}

void StartupTest::missingStyleSheetIsIgnored()
{
    qApp->setStyleSheet(QStringLiteral("QWidget { color: red; }"));
    loadApplicationStyleSheet(*qApp, QStringLiteral(":/no-such-style.qss"));
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QWidget { color: red; }"));
}

void StartupTest::artwork_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");

    QTest::newRow("logo") << QStringLiteral(":/logo.png") << QSize(256, 256) << true;
    QTest::newRow("splash") << QStringLiteral(":/splash.png") << QSize(1600, 900) << false;
}

void StartupTest::artwork()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);

    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QCOMPARE(image.hasAlphaChannel(), alpha);
    if (alpha)
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // transparent ground around the tile
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
