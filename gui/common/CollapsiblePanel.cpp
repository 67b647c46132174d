#include "gui/common/CollapsiblePanel.h"

#include "gui/common/WidgetLook.h"

#include <QAction>

#include <algorithm>

namespace qv {

namespace {

// The panel fills itself with its color and sets its text in the window's
// 8-point font.
void applyPanelLook(QFrame *panel)
{
    panel->setFrameShape(QFrame::NoFrame);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, panelColor());
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    QFont small;
    small.setPointSize(8);
    panel->setFont(small);
}

} // namespace

CollapsiblePanel::CollapsiblePanel(QAction *toggleAction, int openHeight, QWidget *parent)
    : QFrame(parent), toggleAction_(toggleAction), openHeight_(openHeight)
{
    applyPanelLook(this);
    if (!toggleAction_)
        return;
    toggleAction_->setCheckable(true);
    // triggered, not toggled: toggle() sets the action's state itself.
    connect(toggleAction_, &QAction::triggered, this, &CollapsiblePanel::toggle);
}

void CollapsiblePanel::setToggleChecked(bool checked)
{
    if (toggleAction_)
        toggleAction_->setChecked(checked);
}

void CollapsiblePanel::close()
{
    setToggleChecked(false);
    setFixedHeight(0);
    // Hidden as well, so that neither the keyboard nor a screen reader
    // reaches what it holds.
    hide();
}

bool CollapsiblePanel::isOpen() const { return maximumHeight() != 0; }

void CollapsiblePanel::toggle()
{
    if (isOpen()) {
        close();
        return;
    }
    setToggleChecked(true);
    setFixedHeight(openHeight_);
    show();
    fitHeight();
    opened();
}

void CollapsiblePanel::fitHeight()
{
    // A larger font than the panel was laid out for makes it taller.
    if (isOpen())
        setFixedHeight(std::max(openHeight_, minimumSizeHint().height()));
}

} // namespace qv
