#include "screenshotfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>

QString screenshotFileName(const QDateTime &when, int copy)
{
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    if (copy < 2)
        return QStringLiteral("Vostan_TV_%1.png").arg(stamp);
    return QStringLiteral("Vostan_TV_%1_%2.png").arg(stamp).arg(copy);
}

QString saveScreenshot(const QPixmap &picture, const QString &folder, const QDateTime &when)
{
    // An empty folder would put the file at the root of the file system.
    if (picture.isNull() || folder.isEmpty())
        return QString();
    // A failure here shows up as a failed write below.
    QDir().mkpath(folder);

    for (int copy = 1; copy < 1000; ++copy) {
        const QString path = folder + QLatin1Char('/') + screenshotFileName(when, copy);
        // NewOnly refuses an existing name even if one appears after the check.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            return QString();
        }
        const bool written = picture.save(&file, "PNG") && file.flush();
        file.close();
        if (written && file.error() == QFileDevice::NoError)
            return path;
        file.remove();
        return QString();
    }
    return QString();
}
