#pragma once

// The schedule page's scrapers written plainly with its patterns: the
// reference for what the bounded scans must find. Quadratic on some inputs,
// so only for short pages. Shared by the unit tests and the fuzz harness.

#include "epgparsing.h"

#include <QRegularExpression>

inline QString plainLiveTitle(const QString &text)
{
    static const QRegularExpression reStrong(
        QStringLiteral(R"(<strong[^>]*\bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)</strong>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reLoose(
        QStringLiteral(R"(\bid\s*=\s*["']liveTitle["'][^>]*>\s*([^<]*)\s*</[^>\s]+>)"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch m = reStrong.match(text);
    if (m.hasMatch()) {
        const QString title = decodeHtmlEntities(m.captured(1).trimmed());
        if (!title.isEmpty())
            return title;
    }
    m = reLoose.match(text);
    return m.hasMatch() ? decodeHtmlEntities(m.captured(1).trimmed()) : QString();
}

inline QList<EpgProgramItem> plainSchedule(const QString &text)
{
    static const QRegularExpression reDayBlocks(
        QStringLiteral(R"(<h2>\s*(\d{2})\.(\d{2})\.(\d{4})\s*</h2>\s*<table[\s\S]*?</table>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reRow(
        QStringLiteral(R"(<td\s[^>]*\bclass\s*=\s*["']time["'][^>]*>\s*(\d{2}:\d{2})\s*</td>)"
                       R"(\s*<td[^>]*>([\s\S]*?)</td>\s*<td[^>]*>([\s\S]*?)</td>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reTag(QStringLiteral("<[^>]+>"));
    QList<EpgProgramItem> items;
    for (const QRegularExpressionMatch &block : reDayBlocks.globalMatch(text)) {
        const QDate date(block.captured(3).toInt(), block.captured(2).toInt(),
                         block.captured(1).toInt());
        if (!date.isValid())
            continue;
        for (const QRegularExpressionMatch &row : reRow.globalMatch(block.captured(0))) {
            const QTime time = QTime::fromString(row.captured(1), QStringLiteral("HH:mm"));
            if (time.isValid())
                items.append({date, time, decodeHtmlEntities(row.captured(2).remove(reTag)),
                              decodeHtmlEntities(row.captured(3).remove(reTag))});
        }
    }
    return items;
}
