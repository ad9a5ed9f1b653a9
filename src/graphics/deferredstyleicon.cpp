#include "deferredstyleicon.h"

#include <QIconEngine>
#include <QPointer>

namespace {

class DeferredStyleIconEngine final : public QIconEngine
{
public:
    DeferredStyleIconEngine(QStyle *style, QStyle::StandardPixmap which)
        : style(style), which(which)
    {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    // `size` comes in device pixels.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return icon().pixmap(scale > 0 ? size / scale : size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("DeferredStyleIconEngine"); }
    QIconEngine *clone() const override { return new DeferredStyleIconEngine(*this); }

private:
    QIcon &icon()
    {
        if (!resolved && style) {
            real = style->standardIcon(which);
            resolved = true;
        }
        return real;
    }

    QPointer<QStyle> style;
    QStyle::StandardPixmap which;
    bool resolved = false;
    QIcon real;
};

} // namespace

QIcon deferredStandardIcon(QStyle *style, QStyle::StandardPixmap which)
{
    return QIcon(new DeferredStyleIconEngine(style, which));
}
