#include "channelorigin.h"
#include "epgdialog.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QtTest>

using Items = QList<EpgProgramItem>;

class TestEpgDialog : public QObject
{
    Q_OBJECT

private slots:
    void scheduleOrder_data();
    void scheduleOrder();
    void replacesPreviousContent_data();
    void replacesPreviousContent();
    void kazakhDayHeadings();
    void dayTableShowsEveryRow();
    void refreshButtonEmits();
    void footerLinksToSchedulePage();
};

// "HH:mm title" per row, one list per day table, in the order shown.
static QList<QStringList> shown(const EpgDialog &dialog)
{
    QList<QStringList> tables;
    for (const QTableWidget *table : dialog.findChildren<QTableWidget *>()) {
        tables.append(QStringList());
        for (int row = 0; row < table->rowCount(); ++row)
            tables.last() << table->item(row, 0)->text() + u' ' + table->item(row, 1)->text();
    }
    return tables;
}

static EpgPayload payloadOf(const QStringList &entries, const QString &liveTitle = QString())
{
    EpgPayload payload;
    payload.liveTitle = liveTitle;
    for (const QString &entry : entries) { // "yyyy-MM-dd HH:mm[:ss] title"
        const QStringList f = entry.split(u' ');
        payload.items.append({QDate::fromString(f[0], Qt::ISODate),
                              QTime::fromString(f[1], f[1].size() > 5 ? "HH:mm:ss" : "HH:mm"), f[2],
                              QString()});
    }
    return payload;
}

void TestEpgDialog::scheduleOrder_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QList<QStringList>>("expected");

    QTest::newRow("days interleaved and descending")
        << QStringList{"2024-05-15 10:00 C1", "2024-05-13 21:00 A2", "2024-05-14 08:00 B1",
                       "2024-05-13 06:00 A1", "2024-05-15 07:00 C0"}
        << QList<QStringList>{{"06:00 A1", "21:00 A2"}, {"08:00 B1"}, {"07:00 C0", "10:00 C1"}};
    // Text order of "dd.MM" would put 01.01 first.
    QTest::newRow("across year end")
        << QStringList{"2025-01-01 00:00 New", "2024-12-31 23:30 Eve", "2024-02-29 12:00 Leap"}
        << QList<QStringList>{{"12:00 Leap"}, {"23:30 Eve"}, {"00:00 New"}};
    QTest::newRow("seconds hidden but still ordered")
        << QStringList{"2024-05-13 19:30:15 Later", "2024-05-13 19:30:00 Sharp"}
        << QList<QStringList>{{"19:30 Sharp", "19:30 Later"}};
}

void TestEpgDialog::scheduleOrder()
{
    QFETCH(QStringList, entries);
    QFETCH(QList<QStringList>, expected);

    EpgDialog dialog(nullptr);
    dialog.applyPayload(payloadOf(entries));
    QCOMPARE(shown(dialog), expected);
}

void TestEpgDialog::replacesPreviousContent_data()
{
    QTest::addColumn<EpgPayload>("payload");
    QTest::addColumn<QString>("live");
    QTest::addColumn<QList<QStringList>>("tables");
    QTest::addColumn<int>("layoutItems"); // widgets plus the trailing stretch

    const QStringList twoDays{"2024-05-13 10:00 Бір", "2024-05-14 11:00 Екі",
                              "2024-05-14 11:00 Екі"};
    EpgPayload failed = payloadOf(twoDays, "Кино");
    failed.error = "Connection refused";
    QTest::newRow("error wins over title and items")
        << failed << "Желі қатесі: Connection refused" << QList<QStringList>{} << 0;
    QTest::newRow("schedule again, equal times both kept")
        << payloadOf(twoDays, "Кино") << "Қазір эфирде: Кино"
        << QList<QStringList>{{"10:00 Бір"}, {"11:00 Екі", "11:00 Екі"}} << 5;
    QTest::newRow("nothing known")
        << EpgPayload() << "Қазір эфирде: —" << QList<QStringList>{} << 2;
    QTest::newRow("markup in title stays text")
        << payloadOf({"2024-05-13 10:00 x"}, "<b>Ән</b> & би") << "Қазір эфирде: <b>Ән</b> & би"
        << QList<QStringList>{{"10:00 x"}} << 3;
}

void TestEpgDialog::replacesPreviousContent()
{
    QFETCH(EpgPayload, payload);
    QFETCH(QString, live);
    QFETCH(QList<QStringList>, tables);
    QFETCH(int, layoutItems);

    EpgDialog dialog(nullptr);
    dialog.applyPayload(payloadOf({"2024-05-12 09:00 Old", "2024-05-16 09:00 Old"}, "Old"));
    dialog.applyPayload(payload);

    const auto *liveLabel = dialog.findChild<QLabel *>("epgLiveTitle");
    QCOMPARE(liveLabel->text(), live);
    QCOMPARE(liveLabel->textFormat(), Qt::PlainText);
    // No event loop runs here, so deferred deletion would leave old tables.
    QCOMPARE(shown(dialog), tables);
    QCOMPARE(dialog.findChildren<QLabel *>("epgDayTitle").size(), tables.size());
    const QList<QLabel *> empty = dialog.findChildren<QLabel *>("epgEmpty");
    QCOMPARE(empty.size(), layoutItems == 2 ? 1 : 0);
    if (!empty.isEmpty())
        QCOMPARE(empty.first()->text(), QStringLiteral("Кесте бос немесе талдау қатесі."));
    QCOMPARE(dialog.findChild<QScrollArea *>()->widget()->layout()->count(), layoutItems);
}

void TestEpgDialog::kazakhDayHeadings()
{
    EpgDialog dialog(nullptr);
    dialog.applyPayload(payloadOf({"2025-01-01 09:00 b", "2024-03-08 09:00 a"}));
    QStringList headings;
    for (const QLabel *label : dialog.findChildren<QLabel *>("epgDayTitle"))
        headings << label->text();
    QCOMPARE(headings, (QStringList{"жұма, 8 наурыз 2024", "сәрсенбі, 1 қаңтар 2025"}));
}

void TestEpgDialog::dayTableShowsEveryRow()
{
    QStringList day;
    for (int hour = 0; hour < 24; hour += 2)
        day << QStringLiteral("2024-05-13 %1:00 Хабар").arg(hour, 2, 10, QChar(u'0'));
    EpgDialog dialog(nullptr);
    dialog.applyPayload(payloadOf(day));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // A whole day is read by scrolling the dialog, not a table inside it.
    const auto *table = dialog.findChild<QTableWidget *>();
    QTRY_VERIFY(table->visualItemRect(table->item(table->rowCount() - 1, 0)).bottom() <
                table->viewport()->height());
}

void TestEpgDialog::refreshButtonEmits()
{
    EpgDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *button = dialog.findChild<QPushButton *>("epgRefreshBtn");
    QCOMPARE(button->text(), QStringLiteral("Жаңарту"));

    QSignalSpy spy(&dialog, &EpgDialog::refreshRequested);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QCOMPARE(spy.size(), 1);
}

void TestEpgDialog::footerLinksToSchedulePage()
{
    EpgDialog dialog(nullptr);
    const auto *footer = dialog.findChild<QLabel *>("epgFooter");
    QVERIFY(footer->openExternalLinks());
    QCOMPARE(footer->textInteractionFlags(), Qt::TextBrowserInteraction);

    // Read the markup as the label renders it, so escaping mistakes show.
    QTextDocument document;
    document.setHtml(footer->text());
    QCOMPARE(document.toPlainText(), QUrl(channelOrigin()).host() + " — EPG");
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::NextCharacter);
    QCOMPARE(cursor.charFormat().anchorHref(), channelOrigin() + "/epg_keste.php");
    QVERIFY(cursor.charFormat().isAnchor());
}

QTEST_MAIN(TestEpgDialog)
#include "tst_epgdialog.moc"
