#include "videoview.h"

#include "frameconversion.h"

#include <QGraphicsVideoItem>
#include <QRegion>
#include <QVideoFrame>
#include <QVideoSink>
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

// The pixels the item's picture surely paints: the frame's size fitted into
// the item and centred, as QVideoFrame::paint places it, less any pixel it
// only partly covers.
QRect VideoView::coveredRect() const
{
    if (!picture || picture->aspectRatioMode() != Qt::KeepAspectRatio)
        return {};
    // The item may still hold the frame before the sink's newest; its size
    // then tells whether they are placed alike.
    const QVideoFrame frame = picture->videoSink()->videoFrame();
    if (!frame.isValid() || QSizeF(frame.size()) != picture->nativeSize())
        return {};
    QSizeF size = frame.size();
    if (frame.rotationAngle() % 180)
        size.transpose();
    const QRectF area = picture->mapRectToScene(QRectF(picture->offset(), picture->size()));
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRectF shown(QPointF(), size);
    shown.moveCenter(area.center());
    return QRect(QPoint(qCeil(shown.left()), qCeil(shown.top())),
                 QPoint(qFloor(shown.right()) - 1, qFloor(shown.bottom()) - 1));
}
