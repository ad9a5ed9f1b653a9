#pragma once

#include "colourchoice.h"
#include "deinterlacer.h"
#include "framescaler.h"
#include "videofactsbook.h"

#include <QGraphicsVideoItem>
#include <QImage>
#include <QVideoFrame>

class QTimer;

// The player's video item, drawing each frame itself: converted and scaled
// to the pixels it covers in one pass, written straight into the window's
// backing store where it may, else copied unscaled. Qt's item converts the
// whole frame first and scales it again while painting, which for HD costs
// more than decoding it. It also shows what Qt's item cannot know: the
// samples' shape, interlacing (one picture per field) and the stream's
// colours, from the facts the stream gives. Frames it cannot read are drawn
// by Qt into the same rectangle.
class ScaledVideoItem : public QGraphicsVideoItem
{
public:
    explicit ScaledVideoItem(QGraphicsItem *parent = nullptr);

    // What the stream says about its frames of one size; may come before or
    // after those frames.
    void setVideoFacts(const VideoFacts &facts);
    // Where the picture is shown, in the item's coordinates; empty until the
    // first frame.
    QRectF pictureRect() const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    void present(const QVideoFrame &frame);
    void presentFields(const QVideoFrame &frame, bool topFieldFirst);
    void show(const QVideoFrame &frame, const FieldPicture &field);
    void showPendingField();
    void forgetFields();
    void paintUnscaled(QPainter *painter, const QRectF &shown,
                       Qt::AspectRatioMode mode = Qt::IgnoreAspectRatio);

    VideoFactsBook facts;
    Deinterlacer deinterlacer;
    // The second field's picture waits half a frame.
    QTimer *fieldTimer = nullptr;
    FieldPicture pendingField;
    QVideoFrame pendingFrame;
    qint64 lastStart = -1;
    int halfFrameMs = 20;

    // On screen: the frame, or its field's picture, and how it is shown.
    QVideoFrame shownFrame;
    FieldPicture shownField;
    ColourChoice shownColour;
    QSizeF shownShape;
    quint64 shownSerial = 0;

    FrameScaler scaler;
    // The last picture as shown, for repaints without a new one.
    QImage picture;
    quint64 pictureSerial = 0;
    bool pictureCurrent = false;
};
