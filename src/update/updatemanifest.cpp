#include "updatemanifest.h"

#include "versioncompare.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

std::optional<UpdateManifest> parseUpdateManifest(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isNull())
        return std::nullopt;

    // An array (or any non-object) top level reads as an empty object.
    const QJsonObject object = document.object();
    UpdateManifest manifest;
    manifest.version = object.value(QLatin1String("version")).toString();
    if (manifest.version.isEmpty())
        return std::nullopt;
    manifest.url = object.value(QLatin1String("url")).toString();
    manifest.changelog = object.value(QLatin1String("changelog")).toString();
    return manifest;
}

bool offersUpdate(const QString &appVersion, const UpdateManifest &manifest)
{
    return compareVersions(appVersion, manifest.version) < 0;
}
