#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cmath>

// Sizes of the idle panel's drawing for a panel of w x h pixels. Integer
// divisions truncate on purpose: the picture steps with the size.
struct IdleBrandLayout
{
    int barWidth = 0;
    int gap = 0;
    int groupWidth = 0;
    int x0 = 0;
    int baseline = 0;
    int maxHeight = 0;
    int hdPointSize = 0;
    int captionPointSize = 0;
    double captionSpacing = 0.0;
    int taglinePointSize = 0;
};

inline IdleBrandLayout idleBrandLayout(int w, int h)
{
    IdleBrandLayout l;
    l.barWidth = w >= 1080 ? 14 : (w <= 503 ? 6 : w / 72);
    l.gap = l.barWidth / 2 + 2;
    l.groupWidth = 9 * l.barWidth + 8 * l.gap;
    l.x0 = (w - l.groupWidth) / 2;
    l.baseline = h >= 798 ? h / 2 - 56 : h / 2 - std::max(24, h / 14);
    l.maxHeight = h >= 684 ? 170 : (h >= 212 ? h / 4 : 52);
    l.hdPointSize = w >= 1210 ? 10 : std::max(7, w / 110);
    l.captionPointSize = w >= 1120 ? 34 : std::max(18, w / 32);
    l.captionSpacing = std::clamp(w / 450.0, 2.0, 5.0);
    l.taglinePointSize = w >= 832 ? 15 : std::max(11, w / 52);
    return l;
}

// Height in pixels of bar i (0..8) at the given phase; the sixth bar carries
// the accent colour and runs slightly ahead of the others.
inline int idleBarHeight(int i, double phase, int maxHeight)
{
    static constexpr double baseHeights[9] = {0.36, 0.52, 0.63, 0.78, 0.94, 0.71, 0.56, 0.41, 0.34};
    const double t = i * 0.92 + phase;
    if (i == 5)
        return static_cast<int>((std::sin(t + 0.35) * 0.22 + 0.78) * 0.71 * maxHeight);
    return static_cast<int>((std::sin(t) * 0.22 + 0.78) * baseHeights[i] * maxHeight);
}
