#include "scaledvideoitem.h"

#include "pictureshape.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QTimer>
#include <QVideoSink>

extern "C" {
struct AVFrame;
}

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

// Frame stamps further apart than this are a seek or a new stream.
constexpr qint64 kGapUs = 1000000;

} // namespace

ScaledVideoItem::ScaledVideoItem(QGraphicsItem *parent) : QGraphicsVideoItem(parent)
{
    fieldTimer = new QTimer(this);
    fieldTimer->setSingleShot(true);
    fieldTimer->setTimerType(Qt::PreciseTimer);
    connect(fieldTimer, &QTimer::timeout, this, [this] { showPendingField(); });
    // Qt's item handles each frame too: its repaint, queued apart from this
    // one's, now and then lands between them and costs a second conversion,
    // and it takes the frame's size for the picture's shape. So frames come
    // to this item alone, and nativeSize() stays empty.
    disconnect(videoSink(), nullptr, this, nullptr);
    // Queued from the decoder's thread; a frame is taken on the GUI thread,
    // so the picture painted and the rectangle the view leaves for it agree.
    connect(videoSink(), &QVideoSink::videoFrameChanged, this,
            [this](const QVideoFrame &frame) { present(frame); });
}

void ScaledVideoItem::setVideoFacts(const VideoFacts &newFacts)
{
    facts.add(newFacts);
    if (shownFrame.isValid() && shownFrame.size() == newFacts.size)
        show(shownFrame, shownField);
}

QRectF ScaledVideoItem::pictureRect() const
{
    return fittedRect(shownShape, QRectF(offset(), size()));
}

QRectF ScaledVideoItem::boundingRect() const
{
    if (aspectRatioMode() != Qt::KeepAspectRatio)
        return QGraphicsVideoItem::boundingRect();
    const QRectF shown = pictureRect();
    return shown.isEmpty() ? QRectF(offset(), size()) : shown;
}

void ScaledVideoItem::present(const QVideoFrame &frame)
{
    // An empty frame (between sizes, at a new source) keeps the last
    // picture: black would flash until the next frame.
    if (!frame.isValid()) {
        forgetFields();
        return;
    }
    const VideoFacts *known = facts.find(frame.size());
    if (known && known->interlaced() && Deinterlacer::available() && FrameScaler::handles(frame)) {
        presentFields(frame, known->scan == VideoFacts::Scan::TopFieldFirst);
        return;
    }
    if (deinterlacer.holdsFields())
        forgetFields();
    show(frame, {});
}

void ScaledVideoItem::presentFields(const QVideoFrame &frame, bool topFieldFirst)
{
    const qint64 start = frame.startTime();
    if (lastStart >= 0 && start >= 0) {
        const qint64 step = start - lastStart;
        if (step <= 0 || step > kGapUs)
            forgetFields();
        else if (step >= 10000 && step <= 100000)
            halfFrameMs = int((step + 1000) / 2000);
    }
    lastStart = start;
    // The previous frame's second field is late: shown now, not skipped.
    if (pendingField) {
        fieldTimer->stop();
        showPendingField();
    }
    const std::vector<FieldPicture> fields = deinterlacer.deinterlace(frame, topFieldFirst);
    // Right after a reset the filter waits for the next frame; the last
    // picture stays meanwhile.
    if (fields.empty())
        return;
    show(frame, fields.front());
    if (fields.size() > 1) {
        pendingField = fields.back();
        pendingFrame = frame;
        fieldTimer->start(halfFrameMs);
    }
}

void ScaledVideoItem::showPendingField()
{
    if (!pendingField)
        return;
    const FieldPicture field = std::move(pendingField);
    const QVideoFrame frame = std::move(pendingFrame);
    pendingField.reset();
    pendingFrame = QVideoFrame();
    show(frame, field);
}

void ScaledVideoItem::forgetFields()
{
    fieldTimer->stop();
    pendingField.reset();
    pendingFrame = QVideoFrame();
    deinterlacer.reset();
    lastStart = -1;
}

void ScaledVideoItem::show(const QVideoFrame &frame, const FieldPicture &field)
{
    const VideoFacts *known = facts.find(frame.size());
    const QSizeF shape =
        displayShape(frame.size(), known ? *known : VideoFacts(), frame.rotationAngle());
    if (shape != shownShape) {
        prepareGeometryChange();
        shownShape = shape;
    }
    shownFrame = frame;
    shownField = field;
    shownColour = chooseColour(frame.surfaceFormat(), known ? *known : VideoFacts(), known);
    ++shownSerial;
    update();
}

void ScaledVideoItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                            QWidget *widget)
{
    Q_UNUSED(option);
    Q_UNUSED(widget);
    if (!shownFrame.isValid())
        return;
    if (aspectRatioMode() != Qt::KeepAspectRatio) {
        paintUnscaled(painter, QRectF(offset(), size()), aspectRatioMode());
        return;
    }
    const QRectF shown = pictureRect();
    if (shown.isEmpty())
        return;
    const QTransform device = painter->deviceTransform();
    if (device.type() > QTransform::TxScale || (!shownField && !FrameScaler::handles(shownFrame))) {
        paintUnscaled(painter, shown);
        return;
    }
    const QRect pixels = pixelRect(device.mapRect(shown));
    if (pixels.isEmpty())
        return;
    const AVFrame *field = shownField.get();

    // A new picture over the whole rectangle goes straight to the screen's
    // backing store; the copy kept for other repaints is then out of date.
    if (shownSerial != pictureSerial || !pictureCurrent) {
        if (QImage *target = directTarget(painter, pixels)) {
            if (field ? scaler.scaleInto(field, shownColour, *target, pixels)
                      : scaler.scaleInto(shownFrame, shownColour, *target, pixels)) {
                pictureSerial = shownSerial;
                pictureCurrent = false;
                return;
            }
        }
    }
    if (shownSerial != pictureSerial || picture.size() != pixels.size() || !pictureCurrent) {
        if (!(field ? scaler.scale(field, shownColour, pixels.size(), picture)
                    : scaler.scale(shownFrame, shownColour, pixels.size(), picture))) {
            picture = QImage();
            paintUnscaled(painter, shown);
            return;
        }
        pictureSerial = shownSerial;
        pictureCurrent = true;
    }
    // In device pixels, where the picture was placed above.
    painter->save();
    painter->setTransform(device.inverted() * painter->worldTransform(), false);
    painter->drawImage(pixels.topLeft(), picture);
    painter->restore();
}

// Through the painter's transform: frames libswscale cannot read (Qt
// converts those), or a turned or sheared view. Qt would fit the frame by its
// pixel count, so it is told the rectangle instead.
void ScaledVideoItem::paintUnscaled(QPainter *painter, const QRectF &shown,
                                    Qt::AspectRatioMode mode)
{
    if (shownField) {
        const QSize size = shown.size().toSize();
        if (!size.isEmpty() && scaler.scale(shownField.get(), shownColour, size, picture)) {
            pictureCurrent = false;
            painter->drawImage(shown, picture);
        }
        return;
    }
    // A frame on the GPU maps only through Qt's own conversion: painted either way.
    QVideoFrame frame = shownFrame;
    const bool mapped = frame.map(QVideoFrame::ReadOnly);
    frame.paint(painter, shown, {Qt::transparent, mode, {}});
    if (mapped)
        frame.unmap();
}
