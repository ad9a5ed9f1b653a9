#pragma once

#include <QIcon>
#include <QStyle>

// A style's standard icon that is looked up when first drawn or asked
// about. The lookup goes through the icon theme, which costs milliseconds
// at start-up for icons nobody sees until a menu opens.
QIcon deferredStandardIcon(QStyle *style, QStyle::StandardPixmap which);
