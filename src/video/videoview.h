#pragma once

#include <QGraphicsView>

class QGraphicsVideoItem;

// The video view, unchanged but for its black ground: a shown frame covers
// the picture's rectangle, so the ground is filled only around it instead of
// under every new frame as well.
class VideoView : public QGraphicsView
{
public:
    VideoView(QGraphicsScene *scene, QWidget *parent) : QGraphicsView(scene, parent) {}
    // Only the player's own item tells where its picture is; with any other
    // the whole ground is filled.
    void setPicture(QGraphicsVideoItem *item) { picture = item; }

protected:
    void drawBackground(QPainter *painter, const QRectF &rect) override;
    void showEvent(QShowEvent *event) override;

private:
    QRect coveredRect() const;

    QGraphicsVideoItem *picture = nullptr;
};
