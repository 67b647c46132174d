#include "ui/IconPalette.h"

#include <QLabel>
#include <QToolButton>

IconPalette::IconPalette(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel3"));
    setFixedHeight(kCollapsedHeight);
}

void IconPalette::collapse() { showState(false); }
void IconPalette::fillPictures() {}
bool IconPalette::isExpanded() const { return height() == kExpandedHeight; }
void IconPalette::toggle() { showState(!isExpanded()); }
QToolButton *IconPalette::button(int) const { return nullptr; }
bool IconPalette::eventFilter(QObject *watched, QEvent *event) { return QFrame::eventFilter(watched, event); }
void IconPalette::resizeEvent(QResizeEvent *event) { QFrame::resizeEvent(event); }
void IconPalette::showState(bool expanded) { setFixedHeight(expanded ? kExpandedHeight : kCollapsedHeight); }
