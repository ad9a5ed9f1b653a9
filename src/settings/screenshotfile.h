#pragma once

#include <QDateTime>
#include <QString>

class QPixmap;

// "Vostan_TV_yyyy-MM-dd_hh-mm-ss.png"; copy 2 and up adds "_<copy>" before
// the suffix, for further captures within the same second.
QString screenshotFileName(const QDateTime &when, int copy = 1);

// Saves picture as PNG in folder (created with its parents) under the first
// name of when that no file holds yet; an existing file is never replaced.
// Returns the saved path, or an empty string when nothing was saved.
QString saveScreenshot(const QPixmap &picture, const QString &folder, const QDateTime &when);
