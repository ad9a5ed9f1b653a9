#include "channelorigin.h"
#include "epgdialog.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QtTest>

#include <algorithm>

using Items = QList<EpgProgramItem>;

class TestEpgDialog : public QObject
{
    Q_OBJECT

private slots:
    void scheduleOrder_data();
    void scheduleOrder();
    void equalStartTimesBothShown();
    void replacesPreviousContent_data();
    void replacesPreviousContent();
    void kazakhDayHeading_data();
    void kazakhDayHeading();
    void refreshButtonEmits();
    void footerLinksToSchedulePage();
};

static EpgProgramItem item(const QString &date, const QString &time, const QString &title,
                           const QString &description = QString())
{
    const QString timeFormat =
        time.size() > 5 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    return {QDate::fromString(date, Qt::ISODate), QTime::fromString(time, timeFormat), title,
            description};
}

static EpgPayload schedule(const Items &items, const QString &liveTitle = QString())
{
    EpgPayload payload;
    payload.liveTitle = liveTitle;
    payload.items = items;
    return payload;
}

// One entry per day table, each "HH:mm title" per row, in the order shown.
static QList<QStringList> shownTables(const EpgDialog &dialog)
{
    QList<QStringList> tables;
    const auto *layout = dialog.findChild<QScrollArea *>()->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        const auto *table = qobject_cast<QTableWidget *>(layout->itemAt(i)->widget());
        if (!table)
            continue;
        QStringList rows;
        for (int row = 0; row < table->rowCount(); ++row)
            rows << table->item(row, 0)->text() + u' ' + table->item(row, 1)->text();
        tables << rows;
    }
    return tables;
}

static QString liveText(const EpgDialog &dialog)
{
    return dialog.findChild<QLabel *>(QStringLiteral("epgLiveTitle"))->text();
}

void TestEpgDialog::scheduleOrder_data()
{
    QTest::addColumn<Items>("items");
    QTest::addColumn<QList<QStringList>>("expected");

    QTest::newRow("one day, rows by start time")
        << Items{item("2024-05-13", "21:00", "Кино"), item("2024-05-13", "06:00", "Таңғы"),
                 item("2024-05-13", "19:30", "Жаңалықтар")}
        << QList<QStringList>{{"06:00 Таңғы", "19:30 Жаңалықтар", "21:00 Кино"}};

    QTest::newRow("days interleaved and descending")
        << Items{item("2024-05-15", "10:00", "C1"), item("2024-05-13", "12:00", "A2"),
                 item("2024-05-14", "08:00", "B1"), item("2024-05-13", "09:00", "A1"),
                 item("2024-05-15", "07:00", "C0")}
        << QList<QStringList>{{"09:00 A1", "12:00 A2"}, {"08:00 B1"}, {"07:00 C0", "10:00 C1"}};

    // Text order of "dd.MM" would put 01.01 before 29.02 and 31.12.
    QTest::newRow("across month and year ends")
        << Items{item("2025-01-01", "00:00", "NewYear"), item("2024-12-31", "23:30", "Eve"),
                 item("2024-02-29", "12:00", "Leap")}
        << QList<QStringList>{{"12:00 Leap"}, {"23:30 Eve"}, {"00:00 NewYear"}};

    QTest::newRow("seconds hidden but still ordered")
        << Items{item("2024-05-13", "19:30:15", "Later"), item("2024-05-13", "19:30:00", "Sharp")}
        << QList<QStringList>{{"19:30 Sharp", "19:30 Later"}};

    QTest::newRow("midnight first, last minute last")
        << Items{item("2024-05-13", "23:59", "Last"), item("2024-05-13", "00:00", "First")}
        << QList<QStringList>{{"00:00 First", "23:59 Last"}};
}

void TestEpgDialog::scheduleOrder()
{
    QFETCH(Items, items);
    QFETCH(QList<QStringList>, expected);

    EpgDialog dialog(nullptr);
    dialog.applyPayload(schedule(items));

    QCOMPARE(shownTables(dialog), expected);
    QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("epgDayTitle")).size(), expected.size());
}

void TestEpgDialog::equalStartTimesBothShown()
{
    EpgDialog dialog(nullptr);
    dialog.applyPayload(
        schedule({item("2024-05-13", "20:00", "Бірінші"), item("2024-05-13", "18:00", "Ертерек"),
                  item("2024-05-13", "20:00", "Екінші")}));

    const QList<QStringList> tables = shownTables(dialog);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.first().first(), QStringLiteral("18:00 Ертерек"));
    // Either order of the two 20:00 programmes is fine.
    QStringList tail = tables.first().mid(1);
    std::sort(tail.begin(), tail.end());
    QCOMPARE(tail, (QStringList{"20:00 Бірінші", "20:00 Екінші"}));
}

void TestEpgDialog::replacesPreviousContent_data()
{
    QTest::addColumn<EpgPayload>("payload");
    QTest::addColumn<QString>("live");
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("emptyLabels");
    QTest::addColumn<int>("layoutItems"); // widgets plus the trailing stretch

    const Items twoDays{item("2024-05-13", "10:00", "Бір"), item("2024-05-14", "11:00", "Екі")};

    EpgPayload failed = schedule(twoDays, QStringLiteral("Жаңалықтар"));
    failed.error = QStringLiteral("Connection refused");
    QTest::newRow("error wins over title and items")
        << failed << QStringLiteral("Желі қатесі: Connection refused") << 0 << 0 << 0;

    QTest::newRow("same schedule again")
        << schedule(twoDays, QStringLiteral("Жаңалықтар"))
        << QStringLiteral("Қазір эфирде: Жаңалықтар") << 2 << 0 << 5;

    QTest::newRow("nothing known")
        << EpgPayload() << QStringLiteral("Қазір эфирде: —") << 0 << 1 << 2;

    QTest::newRow("title without schedule") << schedule({}, QStringLiteral("Кино"))
                                            << QStringLiteral("Қазір эфирде: Кино") << 0 << 1 << 2;

    QTest::newRow("markup in title stays text")
        << schedule({item("2024-05-13", "10:00", "x")}, QStringLiteral("<b>Ән</b> & би"))
        << QStringLiteral("Қазір эфирде: <b>Ән</b> & би") << 1 << 0 << 3;
}

void TestEpgDialog::replacesPreviousContent()
{
    QFETCH(EpgPayload, payload);
    QFETCH(QString, live);
    QFETCH(int, days);
    QFETCH(int, emptyLabels);
    QFETCH(int, layoutItems);

    EpgDialog dialog(nullptr);
    // Start from a full schedule so leftovers of it would show.
    dialog.applyPayload(
        schedule({item("2024-05-12", "09:00", "Old"), item("2024-05-13", "09:00", "Old"),
                  item("2024-05-14", "09:00", "Old")},
                 QStringLiteral("Old")));
    dialog.applyPayload(payload);

    const auto *label = dialog.findChild<QLabel *>(QStringLiteral("epgLiveTitle"));
    QCOMPARE(label->text(), live);
    QCOMPARE(label->textFormat(), Qt::PlainText);

    // No event loop runs here: deferred deletion would leave the old widgets.
    QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("epgDayTitle")).size(), days);
    QCOMPARE(dialog.findChildren<QTableWidget *>().size(), days);
    const QList<QLabel *> empties = dialog.findChildren<QLabel *>(QStringLiteral("epgEmpty"));
    QCOMPARE(empties.size(), emptyLabels);
    if (emptyLabels)
        QCOMPARE(empties.first()->text(), QStringLiteral("Кесте бос немесе талдау қатесі."));
    QCOMPARE(dialog.findChild<QScrollArea *>()->widget()->layout()->count(), layoutItems);
}

void TestEpgDialog::kazakhDayHeading_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("heading");

    QTest::newRow("friday in March") << QDate(2024, 3, 8) << QStringLiteral("жұма, 8 наурыз 2024");
    QTest::newRow("monday in May")
        << QDate(2024, 5, 13) << QStringLiteral("дүйсенбі, 13 мамыр 2024");
    QTest::newRow("new year's day")
        << QDate(2025, 1, 1) << QStringLiteral("сәрсенбі, 1 қаңтар 2025");
}

void TestEpgDialog::kazakhDayHeading()
{
    QFETCH(QDate, date);
    QFETCH(QString, heading);

    EpgDialog dialog(nullptr);
    dialog.applyPayload(schedule({{date, QTime(12, 0), QStringLiteral("x"), QString()}}));

    const QList<QLabel *> titles = dialog.findChildren<QLabel *>(QStringLiteral("epgDayTitle"));
    QCOMPARE(titles.size(), 1);
    QCOMPARE(titles.first()->text(), heading);
}

void TestEpgDialog::refreshButtonEmits()
{
    EpgDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *button = dialog.findChild<QPushButton *>(QStringLiteral("epgRefreshBtn"));
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Жаңарту"));

    QSignalSpy spy(&dialog, &EpgDialog::refreshRequested);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QCOMPARE(spy.size(), 1);
    // Asking for a fetch must not touch what is shown until the answer comes.
    QCOMPARE(liveText(dialog), QString());
}

void TestEpgDialog::footerLinksToSchedulePage()
{
    EpgDialog dialog(nullptr);
    const auto *footer = dialog.findChild<QLabel *>(QStringLiteral("epgFooter"));
    QVERIFY(footer);
    QVERIFY(footer->openExternalLinks());
    QCOMPARE(footer->textInteractionFlags(), Qt::TextBrowserInteraction);

    // Read the markup the way the label renders it, so escaping mistakes show.
    QTextDocument document;
    document.setHtml(footer->text());
    const QString host = QUrl(channelOrigin()).host();
    QVERIFY(!host.isEmpty());
    QCOMPARE(document.toPlainText(), host + QStringLiteral(" — EPG"));

    QStringList hrefs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QString href = it.fragment().charFormat().anchorHref();
            if (!href.isEmpty() && !hrefs.contains(href))
                hrefs << href;
        }
    }
    QCOMPARE(hrefs, QStringList{channelOrigin() + QStringLiteral("/epg_keste.php")});
    const QUrl url(hrefs.first());
    QCOMPARE(url.path(), QStringLiteral("/epg_keste.php"));
    QCOMPARE(url.host(), host);
}

QTEST_MAIN(TestEpgDialog)
#include "tst_epgdialog.moc"
