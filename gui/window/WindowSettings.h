// The window's placement between the settings and the screen.
#pragma once

#include "settings/Settings.h"

#include <QList>
#include <QMargins>
#include <QRect>

#include <functional>

class QWidget;

namespace qv {

// The frame and caption around a top-level window as the window system
// reports them now, none while they are not known; and the window's outer
// rectangle with them, where the window system has the window. Not the
// widget's frameGeometry(): a widget learns its frame only with a move or a
// resize, and a window manager may tell the frame after the last of them.
QMargins frameMarginsOf(const QWidget &window);
QRect outerFrame(const QWidget &window);

// The window's state and outer rectangle in the normal state, frame and
// caption included, as the close stores them (state 1 when maximized).
Placement placementOf(const QWidget &window);

// Maximized, or the normal state with the stored outer rectangle. The
// rectangle is the frame's: a window manager that frames the window only
// once it is on screen gets the rectangle corrected then, so that a start
// and a close with no change store what was read. A rectangle that leaves
// no grip of the caption on any screen is moved onto one (reachableFrame).
// `framed` runs when the frame becomes known, before that correction.
void applyPlacement(QWidget &window, const Placement &placement, std::function<void()> framed = {});

// `frame` unchanged when at least a grip of its caption (the top
// kCaptionHeight rows, kGripWidth wide, half of them tall) lies on one of
// `areas`; otherwise the same size moved onto the area nearest to it, as
// far in as it fits, its top-left corner on the area when it is larger.
inline constexpr int kCaptionHeight = 24;
inline constexpr int kGripWidth = 48;
QRect reachableFrame(const QRect &frame, const QList<QRect> &areas);

} // namespace qv
