#include "gui/common/CollapsiblePanel.h"

#include "gui/common/WidgetLook.h"

#include <QAbstractButton>

CollapsiblePanel::CollapsiblePanel(QAbstractButton *toggleButton, int openHeight, QWidget *parent)
    : QFrame(parent), m_toggleButton(toggleButton), m_openHeight(openHeight)
{
    setFrameShape(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, qv::panelColor());
    setPalette(pal);
    setAutoFillBackground(true);
    // The panel is laid out for the window's 8-point font.
    QFont small;
    small.setPointSize(8);
    setFont(small);
    if (m_toggleButton) {
        m_toggleButton->setCheckable(true);
        // clicked, not toggled: toggle() sets the button's state itself.
        connect(m_toggleButton, &QAbstractButton::clicked, this, &CollapsiblePanel::toggle);
    }
}

void CollapsiblePanel::close()
{
    if (m_toggleButton)
        m_toggleButton->setChecked(false);
    setFixedHeight(0);
}

bool CollapsiblePanel::isOpen() const
{
    return maximumHeight() != 0;
}

void CollapsiblePanel::toggle()
{
    if (isOpen()) {
        close();
        return;
    }
    if (m_toggleButton)
        m_toggleButton->setChecked(true);
    setFixedHeight(m_openHeight);
    opened();
}
