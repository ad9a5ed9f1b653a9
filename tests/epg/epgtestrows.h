#pragma once

#include "epgtypes.h"

#include <QDate>
#include <QStringList>
#include <QTime>

// One comparable line per programme, so a whole schedule compares at once and
// a mismatch shows which row differs.
inline QStringList flatten(const QList<EpgProgramItem> &items)
{
    QStringList rows;
    for (const EpgProgramItem &item : items) {
        rows << QStringLiteral("%1 %2|%3|%4")
                    .arg(item.date.toString(Qt::ISODate), item.time.toString(Qt::ISODate),
                         item.title, item.description);
    }
    return rows;
}
