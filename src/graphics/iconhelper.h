#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// Colour of every icon on the light overlay buttons.
inline const QColor kChromeFg = QColor(10, 12, 14);

// Paints the button icons in code: 48 x 48 line drawings, stroked only.
class IconHelper
{
public:
    static QIcon createIcon(const QString &name, const QColor &color);
};
