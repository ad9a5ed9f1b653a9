#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

// Where the downloaded installer is written: the temporary folder.
QString installerFilePath();

// Silent in-place upgrade that closes and restarts the player.
QStringList installerArguments();

// The installer may come only over https, or from the channel origin itself
// (same scheme, host and port). Everything else is refused before any fetch.
bool isAllowedInstallerUrl(const QUrl &url, const QUrl &origin);

// Whether body is the whole installer: not empty and, when a length was
// announced (expectedLength >= 0), exactly that long.
bool isCompleteDownload(const QByteArray &body, qint64 expectedLength);

// Writes body to path completely or not at all: a previous file stays as it
// was on any failure. expectedLength is the announced Content-Length, or -1
// when unknown (no header, or the body was decoded). An empty body is refused.
bool writeInstallerFile(const QString &path, const QByteArray &body, qint64 expectedLength);
