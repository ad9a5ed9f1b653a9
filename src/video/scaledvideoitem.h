#pragma once

#include "framescaler.h"
#include "videofacts.h"

#include <QGraphicsVideoItem>
#include <QImage>

#include <atomic>

// The player's video item, drawing each frame itself: converted and scaled
// to the pixels it covers in one pass, written straight into the window's
// backing store where it may, else copied unscaled. Qt's item converts the
// whole frame first and scales it again while painting, which for HD costs
// more than decoding it. Frames it cannot read go to Qt's path.
class ScaledVideoItem : public QGraphicsVideoItem
{
public:
    explicit ScaledVideoItem(QGraphicsItem *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    void setVideoFacts(const VideoFacts &facts);

private:
    FrameScaler scaler;
    // The last frame as shown, for repaints without a new frame.
    QImage picture;
    quint64 pictureFrame = 0;
    bool pictureCurrent = false;
    // Counts frames as they reach the sink, on the decoder's thread.
    std::atomic<quint64> frameSerial{0};
};
