#include "idlebrandpanel.h"

#include "idlebrandlayout.h"

#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

void paintBars(QPainter &p, const IdleBrandLayout &l, double phase)
{
    static const QColor barColor(QStringLiteral("#f4f4f4"));
    static const QColor accentColor(QStringLiteral("#0098ff"));
    for (int i = 0; i < 9; ++i) {
        const int h = idleBarHeight(i, phase, l.maxHeight);
        p.setBrush(i == 5 ? accentColor : barColor);
        p.drawRoundedRect(QRectF(l.x0 + i * (l.barWidth + l.gap), l.baseline - h, l.barWidth, h), 2,
                          2);
    }
}

// Where the bars and their reflection can reach, with room for the
// antialiased edges; nothing else in the panel moves.
QRect animatedRect(const IdleBrandLayout &l)
{
    const int top = l.baseline - l.maxHeight;
    const int reflectionBottom = l.baseline + 6 + int(std::ceil(0.42 * (l.maxHeight + 6)));
    return QRect(l.x0, top, l.groupWidth, reflectionBottom - top).adjusted(-2, -2, 2, 2);
}

} // namespace

IdleBrandPanel::IdleBrandPanel(QWidget *parent) : QWidget(parent)
{
    setAutoFillBackground(false);
    // Every pixel is painted, black first, so the widgets under the panel
    // need no painting when it changes.
    setAttribute(Qt::WA_OpaquePaintEvent);
    animTimer = new QTimer(this);
    animTimer->setInterval(48);
    connect(animTimer, &QTimer::timeout, this, [this] {
        phase += 0.26;
        update(animatedRect(idleBrandLayout(width(), height())));
    });
}

void IdleBrandPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    animTimer->start();
}

void IdleBrandPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    animTimer->stop();
}

void IdleBrandPanel::paintEvent(QPaintEvent *)
{
    const int w = width();
    const int h = height();
    const IdleBrandLayout l = idleBrandLayout(w, h);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(rect(), QColor(QStringLiteral("#000000")));

    p.setPen(Qt::NoPen);
    paintBars(p, l, phase);

    // Mirror about a line just under the bars and squash it into a faint floor.
    p.save();
    p.translate(0, l.baseline + 6);
    p.scale(1, -0.42);
    p.translate(0, -l.baseline - 6);
    p.setOpacity(0.26);
    paintBars(p, l, phase);
    p.restore();

    p.save();
    p.translate(w / 2 + l.groupWidth / 2 + 18, l.baseline - l.maxHeight + 8);
    p.rotate(-38);
    p.setOpacity(0.85);
    QFont hdFont(QStringLiteral("Segoe UI"));
    hdFont.setWeight(QFont::Bold);
    hdFont.setPointSize(l.hdPointSize);
    p.setFont(hdFont);
    p.setPen(QColor(QStringLiteral("#dddddd")));
    p.drawText(QPointF(0, 0), QStringLiteral("HD"));
    p.restore();

    QFont captionFont(QStringLiteral("Georgia"));
    captionFont.setWeight(QFont::Bold);
    captionFont.setPointSize(l.captionPointSize);
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, l.captionSpacing);
    p.setFont(captionFont);
    p.setPen(QColor(QStringLiteral("#f5f5f5")));
    const int captionTop = l.baseline + 88;
    p.drawText(QRect(0, captionTop, w, l.captionPointSize + 12), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("VOSTAN TV"));

    QFont taglineFont(QStringLiteral("Georgia"));
    taglineFont.setWeight(QFont::Normal);
    taglineFont.setPointSize(l.taglinePointSize);
    taglineFont.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    p.setFont(taglineFont);
    p.setPen(QColor(QStringLiteral("#c8c8c8")));
    p.drawText(QRect(0, captionTop + l.captionPointSize + 14, w, 48),
               Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("ҚОЛЖЕТІМДІ ТІКЕЛЕЙ ЭФИР"));
}
