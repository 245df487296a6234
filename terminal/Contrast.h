// Colour contrast as WCAG 2 measures it: the window backs its blue banner when the palette
// would swallow it, and the layout tests check every text against it. Pure functions of two
// colours, for any thread.
#pragma once

#include <QColor>
#include <algorithm>
#include <cmath>

// The least contrast ratio at which normal-size text reads well (WCAG 2, level AA).
inline constexpr double kReadableContrast = 4.5;

// The relative luminance of an sRGB colour.
inline double Luminance(const QColor& c)
{
    const auto linear = [](double v)
    { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// The ratio of the lighter colour's luminance to the darker's, each plus 0.05: 1 to 21.
inline double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
