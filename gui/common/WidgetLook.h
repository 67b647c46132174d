// The face, size and colors the settings give the tree and the editor, and
// the panels' own color.
#pragma once

#include <QColor>

class QString;
class QWidget;

namespace qv {

// The panels' fixed light blue-grey (color code colorcode::kPanel), also the
// tree's background until the settings give another.
QColor panelColor();

// Face and size only: an empty face keeps the current one, and sizes of 0
// and below mean nothing to Qt, so the widget keeps its size then.
void applyFontFaceAndSize(QWidget *widget, const QString &face, int pointSize);
// Background (Base) and text color of the widget's whole text, in every state.
void applyTextColors(QWidget *widget, const QColor &background, const QColor &text);

} // namespace qv
