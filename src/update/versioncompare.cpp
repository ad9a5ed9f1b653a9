#include "versioncompare.h"

#include <QStringList>

#include <algorithm>

int compareVersions(const QString &current, const QString &remote)
{
    const QStringList mine = current.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList theirs = remote.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const qsizetype n = std::max(mine.size(), theirs.size());
    const QString zero = QStringLiteral("0");

    for (qsizetype i = 0; i < n; ++i) {
        const QString &a = i < mine.size() ? mine.at(i) : zero;
        const QString &b = i < theirs.size() ? theirs.at(i) : zero;
        bool aIsNumber = false;
        bool bIsNumber = false;
        const int x = a.toInt(&aIsNumber);
        const int y = b.toInt(&bIsNumber);
        if (aIsNumber && bIsNumber) {
            if (x != y)
                return x < y ? -1 : 1;
            continue;
        }
        const int order = QString::compare(a, b, Qt::CaseSensitive);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}
