#pragma once

// Bodies for the fake origin, shared by the relay tests.

#include <QByteArray>
#include <QList>

// Letters whose sequence never repeats within a few kilobytes, so a lost,
// doubled or reordered block shows in a comparison.
inline QByteArray patternBody(qsizetype size)
{
    QByteArray body(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        body[i] = char('a' + (i / 4093 + i) % 26);
    return body;
}

inline QList<QByteArray> splitInto(const QByteArray &data, qsizetype pieceSize)
{
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < data.size(); at += pieceSize)
        pieces.append(data.mid(at, pieceSize));
    return pieces;
}
