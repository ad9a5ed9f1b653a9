#include "installerfile.h"

#include <QDir>
#include <QSaveFile>

namespace {

int effectivePort(const QUrl &url)
{
    const QString scheme = url.scheme();
    const int fallback = scheme == QLatin1String("https")  ? 443
                         : scheme == QLatin1String("http") ? 80
                                                           : -1;
    return url.port(fallback);
}

bool isAbsoluteWithHost(const QUrl &url)
{
    return url.isValid() && !url.isRelative() && !url.host().isEmpty();
}

} // namespace

QString installerFilePath()
{
    return QDir::tempPath() + QLatin1String("/VostanPlayer_Update.exe");
}

QStringList installerArguments()
{
    return {QStringLiteral("/VERYSILENT"), QStringLiteral("/CLOSEAPPLICATIONS"),
            QStringLiteral("/RESTARTAPPLICATIONS")};
}

bool isAllowedInstallerUrl(const QUrl &url, const QUrl &origin)
{
    if (!isAbsoluteWithHost(url))
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    return isAbsoluteWithHost(origin) && url.scheme() == origin.scheme() &&
           url.host() == origin.host() && effectivePort(url) == effectivePort(origin);
}

bool isCompleteDownload(const QByteArray &body, qint64 expectedLength)
{
    return !body.isEmpty() && (expectedLength < 0 || body.size() == expectedLength);
}

bool writeInstallerFile(const QString &path, const QByteArray &body, qint64 expectedLength)
{
    if (!isCompleteDownload(body, expectedLength))
        return false;

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(body) != body.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
