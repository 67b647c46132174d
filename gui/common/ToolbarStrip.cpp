#include "gui/common/ToolbarStrip.h"

#include <QEvent>
#include <QLayout>
#include <QToolBar>

#include <algorithm>

namespace qv {

ToolbarStrip::ToolbarStrip(int rowHeight, QWidget *parent) : QWidget(parent), rowHeight_(rowHeight)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QToolBar *ToolbarStrip::addGroup()
{
    auto *group = new QToolBar(this);
    group->setMovable(false);
    group->setFloatable(false);
    group->setIconSize(QSize(16, 16));
    group->setContextMenuPolicy(Qt::PreventContextMenu);
    group->layout()->setContentsMargins(2, 2, 0, 2);
    group->layout()->setSpacing(0);
    group->installEventFilter(this);
    groups_.append(group);
    updateGeometry();
    return group;
}

int ToolbarStrip::arrange(int width, bool place) const
{
    int x = 0;
    int y = 0;
    for (QToolBar *group : groups_) {
        if (group->isHidden())
            continue;
        const int w = group->sizeHint().width();
        if (x > 0 && x + w > width) {
            x = 0;
            y += rowHeight_;
        }
        if (place)
            group->setGeometry(x, y, w, rowHeight_);
        x += w;
    }
    return y + rowHeight_;
}

int ToolbarStrip::heightForWidth(int width) const { return arrange(width, false); }

QSize ToolbarStrip::sizeHint() const
{
    int width = 0;
    for (QToolBar *group : groups_)
        if (!group->isHidden())
            width += group->sizeHint().width();
    return QSize(width, rowHeight_);
}

QSize ToolbarStrip::minimumSizeHint() const
{
    int widest = 0;
    for (QToolBar *group : groups_)
        if (!group->isHidden())
            widest = std::max(widest, group->sizeHint().width());
    return QSize(widest, heightForWidth(widest));
}

void ToolbarStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int needed = arrange(width(), true);
    if (needed != height())
        updateGeometry();
}

bool ToolbarStrip::eventFilter(QObject *watched, QEvent *event)
{
    // A group's size changes with its buttons (font, style, actions).
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show
        || event->type() == QEvent::Hide) {
        updateGeometry();
        arrange(width(), true);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qv
