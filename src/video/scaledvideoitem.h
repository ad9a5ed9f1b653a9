#pragma once

#include "framescaler.h"

#include <QGraphicsVideoItem>
#include <QImage>

#include <atomic>

// The player's video item, drawing each frame itself: converted and scaled
// to the pixels it covers in one pass, then copied unscaled. Qt's item
// converts the whole frame first and scales it again while painting, which
// for HD costs more than decoding it. Frames it cannot read go to Qt's path.
class ScaledVideoItem : public QGraphicsVideoItem
{
public:
    explicit ScaledVideoItem(QGraphicsItem *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    FrameScaler scaler;
    QImage picture;
    quint64 pictureFrame = 0;
    // Counts frames as they reach the sink, on the decoder's thread.
    std::atomic<quint64> frameSerial{0};
};
