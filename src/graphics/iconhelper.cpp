#include "iconhelper.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace {

void drawSpeaker(QPainter &p)
{
    const QPointF speaker[] = {{16, 20}, {22, 20}, {28, 14}, {28, 34}, {22, 28}, {16, 28}};
    p.drawPolygon(speaker, 6);
}

// QPainter arcs take sixteenths of a degree.
void drawArcDegrees(QPainter &p, const QRectF &box, int startDeg, int spanDeg)
{
    p.drawArc(box, startDeg * 16, spanDeg * 16);
}

} // namespace

QIcon IconHelper::createIcon(const QString &name, const QColor &color)
{
    QPixmap pixmap(48, 48);
    pixmap.setDevicePixelRatio(1);
    pixmap.fill(Qt::transparent);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QBrush(color), 2.35, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);

    if (name == QLatin1String("play")) {
        const QPointF triangle[] = {{18, 14}, {34, 24}, {18, 34}};
        p.drawPolygon(triangle, 3);
    } else if (name == QLatin1String("pause")) {
        p.drawRect(QRectF(16, 14, 4, 20));
        p.drawRect(QRectF(28, 14, 4, 20));
    } else if (name == QLatin1String("refresh")) {
        drawArcDegrees(p, QRectF(14, 14, 20, 20), 45, 270);
        p.drawLine(QPointF(30, 14), QPointF(34, 18));
        p.drawLine(QPointF(34, 18), QPointF(30, 22));
    } else if (name == QLatin1String("camera")) {
        p.drawRect(QRectF(14, 18, 20, 14));
        p.drawEllipse(QRectF(20, 21, 8, 8));
    } else if (name == QLatin1String("settings")) {
        p.drawEllipse(QRectF(18, 18, 12, 12));
        for (int angle = 0; angle < 360; angle += 45) {
            p.save();
            p.translate(24, 24);
            p.rotate(angle);
            p.drawLine(QPointF(0, -9), QPointF(0, -12));
            p.restore();
        }
    } else if (name == QLatin1String("pin")) {
        p.drawLine(QPointF(24, 12), QPointF(24, 36));
        p.drawRect(QRectF(18, 20, 12, 6));
    } else if (name == QLatin1String("vol_on")) {
        drawSpeaker(p);
        drawArcDegrees(p, QRectF(26, 18, 10, 12), -60, 120);
    } else if (name == QLatin1String("vol_off")) {
        drawSpeaker(p);
        p.drawLine(QPointF(27, 17), QPointF(39, 31));
        p.drawLine(QPointF(39, 17), QPointF(27, 31));
    } else if (name == QLatin1String("fullscreen")) {
        const QLineF brackets[] = {
            {14, 20, 14, 14}, {14, 14, 20, 14}, {28, 14, 34, 14}, {34, 14, 34, 20},
            {34, 28, 34, 34}, {34, 34, 28, 34}, {20, 34, 14, 34}, {14, 34, 14, 28},
        };
        p.drawLines(brackets, 8);
    } else if (name == QLatin1String("info")) {
        p.drawEllipse(QRectF(16, 16, 16, 16));
        p.drawRect(QRectF(23, 23, 2, 6));
        p.drawRect(QRectF(23, 19, 2, 2));
    }

    p.end();
    return QIcon(pixmap);
}
