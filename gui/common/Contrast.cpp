#include "gui/common/Contrast.h"

#include <algorithm>
#include <cmath>

namespace qv::contrast {

namespace {

double channel(double c)
{
    c /= 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

QColor mixed(const QColor &from, const QColor &to, double t)
{
    const QColor a = from.toRgb(), b = to.toRgb();
    auto mix = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// The largest (or, with `smallest`, the least) t in [0, limit] for which
// mixed(from, to, t) keeps (reaches) `minimum` against `other`.
double search(const QColor &from, const QColor &to, const QColor &other, double minimum, double limit,
              bool smallest)
{
    double lo = 0, hi = limit;
    for (int i = 0; i < 20; ++i) {
        const double mid = (lo + hi) / 2;
        const bool ok = ratio(mixed(from, to, mid), other) >= minimum;
        if (smallest == ok)
            hi = mid;
        else
            lo = mid;
    }
    return smallest ? hi : lo;
}

} // namespace

double ratio(const QColor &a, const QColor &b)
{
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor readableOn(const QColor &other, const QColor &wanted, double minimum)
{
    if (ratio(wanted, other) >= minimum)
        return wanted;
    const QColor black(0, 0, 0), white(255, 255, 255);
    const QColor far = ratio(black, other) >= ratio(white, other) ? black : white;
    return mixed(wanted, far, search(wanted, far, other, minimum, 1.0, true));
}

QColor dimmedOn(const QColor &background, const QColor &text, double minimum)
{
    if (ratio(text, background) < minimum)
        return text;
    return mixed(text, background, search(text, background, background, minimum, 0.5, false));
}

} // namespace qv::contrast
