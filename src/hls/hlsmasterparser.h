#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One variant stream of an HLS master playlist.
struct HlsVariant
{
    QString uri;
    qint64 bandwidth = 0;
    QString resolution;
    QString name;
};

// A master playlist is a few kilobytes. Parsing takes several times its size
// in memory, so anything larger than this is refused unread.
constexpr qsizetype kMaxHlsMasterBytes = 1024 * 1024;

// Fills *out with the variants, highest bandwidth first. False, with *out
// empty, for a playlist over kMaxHlsMasterBytes.
bool parseHlsMasterVariants(const QByteArray &playlist, QList<HlsVariant> *out);

QString formatHlsVariantLabel(const HlsVariant &variant);
