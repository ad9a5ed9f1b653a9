#pragma once

#include "videofacts.h"

#include <QRectF>
#include <QSizeF>

// The shape a picture is shown in: its size with the samples' own aspect
// ratio, turned as the frame is turned.
QSizeF displayShape(const QSize &frameSize, const VideoFacts &facts, int rotation = 0);

// `shape` scaled to fit `area` and centred in it.
QRectF fittedRect(const QSizeF &shape, const QRectF &area);
