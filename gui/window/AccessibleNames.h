// Names and descriptions for screen readers, in one place: every control of
// the window found by its object name and told what it is, in Russian.
#pragma once

#include <QString>

class QWidget;

namespace qv {

// Names the window's controls. Controls whose text already says what they
// are (check boxes, labelled buttons, toolbar buttons with their commands)
// keep the name the toolkit gives them.
void nameForScreenReaders(QWidget *window);

// What the icon of the list at `index` (0..79) shows, as a screen reader
// says it.
QString iconMeaning(int index);

} // namespace qv
