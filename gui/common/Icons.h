// The program's artwork: the 80-image icon list shared by the tree and the
// palette, the toolbar glyphs, the palette header and the program icon.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

namespace qv::icons {

constexpr int kImageCount = 80;

// ImageList1: 80 distinct 16x16 icons; index 0 is the plain default icon.
const QList<QIcon> &imageList();
// One icon of the list; an index outside 0..79 gives a null QIcon.
QIcon image(int index);
// Toolbar and panel pictures by name: "create", "createChild", "delete", "expandAll",
// "collapseAll", "moveUp", "moveDown", "save", "undo", "redo", "cut", "copy", "paste",
// "erase", "upper", "capitalise", "lower", "settings", "about", "expand", "collapse".
// An unknown name gives a null QIcon.
QIcon glyph(const QString &name);
// The 122x21 tab picture with the word "Значки" at the left of the palette header.
QPixmap paletteHeader();
// The 98x21 strip right of the header picture, stretched with the palette's width.
QPixmap paletteStrip();
// The 10x10 pictures of the palette toggle: the expand arrow (true) or the collapse arrow.
QPixmap toggleGlyph(bool expand);
QIcon programIcon();

} // namespace qv::icons
