#include "videoview.h"

#include "frameconversion.h"
#include "scaledvideoitem.h"

#include <QRegion>
#include <QtMath>

void VideoView::drawBackground(QPainter *painter, const QRectF &rect)
{
    const QRect covered = coveredRect();
    if (covered.isEmpty() || !transform().isIdentity()) {
        QGraphicsView::drawBackground(painter, rect);
        return;
    }
    for (const QRect &part : QRegion(rect.toAlignedRect()).subtracted(covered))
        QGraphicsView::drawBackground(painter, part);
}

void VideoView::showEvent(QShowEvent *event)
{
    // The view is first shown with the window, before its first paint and
    // after the stream was asked for, which the OpenGL probe would delay.
    chooseFrameConversion();
    QGraphicsView::showEvent(event);
}

// The pixels the item's picture surely paints, less any pixel it only
// partly covers.
QRect VideoView::coveredRect() const
{
    const auto *item = dynamic_cast<const ScaledVideoItem *>(picture);
    if (!item || !item->isVisible() || item->opacity() < 1.0 ||
        item->aspectRatioMode() != Qt::KeepAspectRatio)
        return {};
    const QRectF shown = item->mapRectToScene(item->pictureRect());
    if (shown.isEmpty())
        return {};
    return QRect(QPoint(qCeil(shown.left()), qCeil(shown.top())),
                 QPoint(qFloor(shown.right()) - 1, qFloor(shown.bottom()) - 1));
}
