#include "fuzzcheck.h"
#include "updatemanifest.h"
#include "versioncompare.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<UpdateManifest> manifest = parseUpdateManifest(body);
    if (!manifest)
        return 0;

    check(!manifest->version.isEmpty(), "manifest without a version");
    check(QJsonDocument::fromJson(body).isObject(), "manifest from something not an object");
    check(manifest->version.size() + manifest->url.size() + manifest->changelog.size() <=
              body.size(),
          "fields longer than the body");
    check(compareVersions(manifest->version, manifest->version) == 0, "version unequal to itself");

    // Written back and read again, the manifest is the same.
    const QJsonObject object{{QStringLiteral("version"), manifest->version},
                             {QStringLiteral("url"), manifest->url},
                             {QStringLiteral("changelog"), manifest->changelog}};
    const std::optional<UpdateManifest> again =
        parseUpdateManifest(QJsonDocument(object).toJson(QJsonDocument::Compact));
    check(again && again->version == manifest->version && again->url == manifest->url &&
              again->changelog == manifest->changelog,
          "manifest does not survive a round trip");
    return 0;
}
