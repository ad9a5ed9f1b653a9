#include "epgdialog.h"

#include "channelorigin.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMap>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

EpgDialog::EpgDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Телехабарлар кестесі — EPG"));
    setMinimumSize(580, 440);
    resize(760, 540);
    setObjectName(QStringLiteral("epgDialog"));

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(18, 18, 18, 16);
    root->setSpacing(12);

    auto *liveBar = new QFrame(this);
    liveBar->setObjectName(QStringLiteral("epgLiveBar"));
    auto *liveLayout = new QHBoxLayout(liveBar);
    liveLayout->setContentsMargins(14, 12, 14, 12);
    liveLayout->setSpacing(12);

    liveTitleLabel = new QLabel(liveBar);
    liveTitleLabel->setObjectName(QStringLiteral("epgLiveTitle"));
    liveTitleLabel->setWordWrap(true);
    // Titles come from the channel's server; "<b>" in one must stay text.
    liveTitleLabel->setTextFormat(Qt::PlainText);
    liveLayout->addWidget(liveTitleLabel, 1);

    auto *refreshButton = new QPushButton(tr("Жаңарту"), liveBar);
    refreshButton->setObjectName(QStringLiteral("epgRefreshBtn"));
    connect(refreshButton, &QPushButton::clicked, this, &EpgDialog::refreshRequested);
    liveLayout->addWidget(refreshButton, 0);
    root->addWidget(liveBar, 0);

    scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scheduleHost = new QWidget;
    scheduleLayout = new QVBoxLayout(scheduleHost);
    scheduleLayout->setSpacing(18);
    scheduleLayout->setContentsMargins(2, 2, 2, 8);
    scrollArea->setWidget(scheduleHost);
    root->addWidget(scrollArea, 1);

    const QString origin = channelOrigin();
    const QString href = origin + QStringLiteral("/epg_keste.php");
    const QString text = QUrl(origin).host() + QStringLiteral(" — EPG");
    auto *footer = new QLabel(this);
    footer->setObjectName(QStringLiteral("epgFooter"));
    footer->setTextFormat(Qt::RichText);
    footer->setText(
        // Style sheets colour a label's text but not its links, which would
        // be dark blue on the dark window; this is the footer rule's colour.
        QStringLiteral("<a href=\"%1\" style=\"color:#7eb8ff\">%2</a>")
            .arg(href.toHtmlEscaped(), text.toHtmlEscaped()));
    footer->setOpenExternalLinks(true);
    footer->setTextInteractionFlags(Qt::TextBrowserInteraction);
    root->addWidget(footer, 0);
}

void EpgDialog::clearSchedule()
{
    while (QLayoutItem *item = scheduleLayout->takeAt(0)) {
        // At once, not deferred: a second payload in the same event-loop turn
        // must not find the old tables still among the host's children.
        delete item->widget();
        delete item;
    }
}

void EpgDialog::applyPayload(const EpgPayload &payload)
{
    if (!payload.error.isEmpty()) {
        liveTitleLabel->setText(tr("Желі қатесі: %1").arg(payload.error));
        clearSchedule();
        return;
    }

    liveTitleLabel->setText(payload.liveTitle.isEmpty()
                                ? tr("Қазір эфирде: —")
                                : tr("Қазір эфирде: %1").arg(payload.liveTitle));
    clearSchedule();

    if (payload.items.isEmpty()) {
        auto *empty = new QLabel(tr("Кесте бос немесе талдау қатесі."), scheduleHost);
        empty->setObjectName(QStringLiteral("epgEmpty"));
        scheduleLayout->addWidget(empty, 0);
        scheduleLayout->addStretch(0);
        return;
    }

    QMap<QDate, QList<EpgProgramItem>> byDate;
    for (const EpgProgramItem &item : payload.items)
        byDate[item.date].append(item);

    // QMap already iterates its keys in ascending date order.
    const QLocale kazakh(QStringLiteral("kk_KZ"));
    for (auto it = byDate.cbegin(); it != byDate.cend(); ++it) {
        QList<EpgProgramItem> day = it.value();
        std::sort(day.begin(), day.end(),
                  [](const EpgProgramItem &a, const EpgProgramItem &b) { return a.time < b.time; });

        auto *title = new QLabel(kazakh.toString(it.key(), QStringLiteral("dddd, d MMMM yyyy")),
                                 scheduleHost);
        title->setObjectName(QStringLiteral("epgDayTitle"));

        auto *table = new QTableWidget(int(day.size()), 3, scheduleHost);
        table->setObjectName(QStringLiteral("epgTable"));
        table->setShowGrid(false);
        table->setSelectionMode(QAbstractItemView::NoSelection);
        table->setFocusPolicy(Qt::NoFocus);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->verticalHeader()->setVisible(false);
        table->setHorizontalHeaderLabels({tr("Уақыт"), tr("Бағдарлама"), tr("Қысқаша")});
        table->setAlternatingRowColors(true);
        QHeaderView *header = table->horizontalHeader();
        header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(1, QHeaderView::Stretch);
        header->setSectionResizeMode(2, QHeaderView::Stretch);
        table->verticalHeader()->setDefaultSectionSize(34);
        // The outer scroll area scrolls the days; a table squeezed to its own
        // scroll bar would show a row or two of a day.
        table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
        table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

        for (int row = 0; row < day.size(); ++row) {
            const EpgProgramItem &program = day.at(row);
            auto *timeItem = new QTableWidgetItem(program.time.toString(QStringLiteral("HH:mm")));
            timeItem->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            table->setItem(row, 0, timeItem);
            table->setItem(row, 1, new QTableWidgetItem(program.title));
            table->setItem(row, 2, new QTableWidgetItem(program.description));
        }

        scheduleLayout->addWidget(title, 0);
        scheduleLayout->addWidget(table, 0);
    }
    scheduleLayout->addStretch(1);
}
