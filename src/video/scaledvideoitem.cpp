#include "scaledvideoitem.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace {

// Whole device pixels covering `r`, so that the picture is copied unscaled.
QRect pixelRect(const QRectF &r)
{
    const QPoint topLeft(qRound(r.left()), qRound(r.top()));
    return QRect(topLeft, QSize(qRound(r.right()) - topLeft.x(), qRound(r.bottom()) - topLeft.y()));
}

// The image the painter draws into when the picture may be written straight
// into it: a raster surface (the window's backing store), nothing clipped
// away inside `area` and nothing blended over it.
QImage *directTarget(QPainter *painter, const QRect &area)
{
    QPaintEngine *engine = painter->paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || painter->hasClipping() ||
        painter->opacity() < 1.0 ||
        painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return nullptr;
    QPaintDevice *device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    const QRegion allowed = engine->systemClip();
    if (!allowed.isEmpty() && !QRegion(area).subtracted(allowed).isEmpty())
        return nullptr;
    return static_cast<QImage *>(device);
}

} // namespace

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
    const QTransform device = painter->deviceTransform();
    if (!FrameScaler::handles(frame) || aspectRatioMode() != Qt::KeepAspectRatio ||
        device.type() > QTransform::TxScale) {
        QGraphicsVideoItem::paint(painter, option, widget);
        return;
    }
    // Placed as Qt places it: the frame fitted into the item and centred.
    const QRectF area(offset(), size());
    QSizeF fitted = frame.size();
    fitted.scale(area.size(), Qt::KeepAspectRatio);
    QRectF shown(QPointF(), fitted);
    shown.moveCenter(area.center());
    const QRect pixels = pixelRect(device.mapRect(shown));
    if (pixels.isEmpty())
        return;

    // A new frame over the whole picture goes straight to the screen's
    // backing store; the copy kept for other repaints is then out of date.
    if (serial != pictureFrame || !pictureCurrent) {
        if (QImage *target = directTarget(painter, pixels)) {
            if (scaler.scaleInto(frame, *target, pixels)) {
                pictureFrame = serial;
                pictureCurrent = false;
                return;
            }
        }
    }
    if (serial != pictureFrame || picture.size() != pixels.size() || !pictureCurrent) {
        if (!scaler.scale(frame, pixels.size(), picture)) {
            picture = QImage();
            QGraphicsVideoItem::paint(painter, option, widget);
            return;
        }
        pictureFrame = serial;
        pictureCurrent = true;
    }
    // In device pixels, where the picture was placed above.
    painter->save();
    painter->setTransform(device.inverted() * painter->worldTransform(), false);
    painter->drawImage(pixels.topLeft(), picture);
    painter->restore();
}

void ScaledVideoItem::setVideoFacts(const VideoFacts &facts)
{
    Q_UNUSED(facts);
}
