#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A manifest is tiny; anything larger than this is not one, so the download
// is aborted rather than buffered.
constexpr qint64 kMaxManifestBytes = 64 * 1024;

struct UpdateManifest
{
    QString version; // exactly as read, untrimmed
    QString url;
    QString changelog;
};

// nullopt unless the body is JSON whose top-level object has a non-empty
// string "version". "url" and "changelog" of any other type read as empty.
std::optional<UpdateManifest> parseUpdateManifest(const QByteArray &body);

// True when the running version is lower than the manifest's.
bool offersUpdate(const QString &appVersion, const UpdateManifest &manifest);
