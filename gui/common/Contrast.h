// Colours that stay readable whatever the palette: the contrast ratio of
// the Web Content Accessibility Guidelines, and colours moved just far
// enough to reach it.
#pragma once

#include <QColor>

namespace qv::contrast {

// The ratio a text colour needs against its background.
inline constexpr double kReadable = 4.5;
// The ratio of a main text that dimmed text (at kReadable) must stand apart from.
inline constexpr double kStrong = 7.0;

// From 1 (the same luminance) to 21 (black on white).
double ratio(const QColor &a, const QColor &b);

// `wanted` when it reaches `minimum` against `other`; otherwise `wanted`
// mixed towards black or white (whichever contrasts more with `other`)
// just far enough to reach it.
QColor readableOn(const QColor &other, const QColor &wanted, double minimum = kReadable);

// `text` moved towards `background` as far as keeps `minimum` (at most
// halfway): a dimmed text that can still be read.
QColor dimmedOn(const QColor &background, const QColor &text, double minimum = kReadable);

} // namespace qv::contrast
