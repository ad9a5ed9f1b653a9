#include "pictureshape.h"

QSizeF displayShape(const QSize &frameSize, const VideoFacts &facts, int rotation)
{
    QSizeF shape = frameSize;
    // Unknown or absurd ratios mean square samples, as decoders take them.
    if (facts.sarNum > 0 && facts.sarDen > 0 && facts.sarNum <= 16 * facts.sarDen &&
        facts.sarDen <= 16 * facts.sarNum)
        shape.setWidth(shape.width() * facts.sarNum / facts.sarDen);
    if (rotation % 180)
        shape.transpose();
    return shape;
}

QRectF fittedRect(const QSizeF &shape, const QRectF &area)
{
    if (shape.isEmpty())
        return {};
    QSizeF fitted = shape;
    fitted.scale(area.size(), Qt::KeepAspectRatio);
    QRectF shown(QPointF(), fitted);
    shown.moveCenter(area.center());
    return shown;
}
