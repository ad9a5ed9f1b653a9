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

// Fills *out with the variants, highest bandwidth first. Always true.
bool parseHlsMasterVariants(const QByteArray &playlist, QList<HlsVariant> *out);

QString formatHlsVariantLabel(const HlsVariant &variant);
