#include "scaledvideoitem.h"

#include <QPaintDevice>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

ScaledVideoItem::ScaledVideoItem(QGraphicsItem *parent) : QGraphicsVideoItem(parent)
{
    connect(
        videoSink(), &QVideoSink::videoFrameChanged, this, [this] { ++frameSerial; },
        Qt::DirectConnection);
}

void ScaledVideoItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                            QWidget *widget)
{
    const quint64 serial = frameSerial.load();
    const QVideoFrame frame = videoSink()->videoFrame();
    const QTransform world = painter->worldTransform();
    if (!FrameScaler::handles(frame) || aspectRatioMode() != Qt::KeepAspectRatio ||
        world.type() > QTransform::TxScale) {
        QGraphicsVideoItem::paint(painter, option, widget);
        return;
    }
    // Placed as Qt places it: the frame fitted into the item and centred.
    const QRectF area(offset(), size());
    QSizeF fitted = frame.size();
    fitted.scale(area.size(), Qt::KeepAspectRatio);
    QRectF shown(QPointF(), fitted);
    shown.moveCenter(area.center());

    // Whole device pixels, so the copy below is a plain blit.
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRectF logical = world.mapRect(shown);
    const QPoint topLeft(qRound(logical.left() * ratio), qRound(logical.top() * ratio));
    const QSize pixels(qRound(logical.right() * ratio) - topLeft.x(),
                       qRound(logical.bottom() * ratio) - topLeft.y());
    if (pixels.isEmpty())
        return;
    if (serial != pictureFrame || picture.size() != pixels || picture.isNull()) {
        if (!scaler.scale(frame, pixels, picture)) {
            picture = QImage();
            QGraphicsVideoItem::paint(painter, option, widget);
            return;
        }
        pictureFrame = serial;
        picture.setDevicePixelRatio(ratio);
    }
    painter->save();
    painter->resetTransform();
    painter->drawImage(QPointF(topLeft) / ratio, picture);
    painter->restore();
}
