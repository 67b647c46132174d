#include "gui/common/ToolbarStrip.h"

#include <QEvent>
#include <QLayout>
#include <QToolBar>

#include <algorithm>

namespace qv {

namespace {

// Lays the groups side by side while they fit and carries the rest onto a
// further row: each group as wide as it asks, every row `rowHeight` high,
// a hidden group left out.
class WrapLayout : public QLayout {
public:
    WrapLayout(int rowHeight, QWidget *parent) : QLayout(parent), rowHeight_(rowHeight)
    {
        setContentsMargins(0, 0, 0, 0);
        setSpacing(0);
        setSizeConstraint(QLayout::SetNoConstraint);
    }
    ~WrapLayout() override
    {
        while (QLayoutItem *item = WrapLayout::takeAt(0))
            delete item;
    }
    WrapLayout(const WrapLayout &) = delete;
    WrapLayout &operator=(const WrapLayout &) = delete;

    void addItem(QLayoutItem *item) override { items_.append(item); }
    int count() const override { return int(items_.size()); }
    QLayoutItem *itemAt(int index) const override { return items_.value(index); }
    QLayoutItem *takeAt(int index) override
    {
        return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }

    QSize sizeHint() const override
    {
        int width = 0;
        for (const QWidget *group : shown())
            width += group->sizeHint().width();
        return QSize(width, rowHeight_);
    }

    QSize minimumSize() const override
    {
        int widest = 0;
        for (const QWidget *group : shown())
            widest = std::max(widest, group->sizeHint().width());
        return QSize(widest, heightForWidth(widest));
    }

    void setGeometry(const QRect &rect) override
    {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }

private:
    QList<QWidget *> shown() const
    {
        QList<QWidget *> groups;
        for (QLayoutItem *item : items_)
            if (QWidget *group = item->widget(); group && !group->isHidden())
                groups.append(group);
        return groups;
    }

    // Places the groups in `rect` (when `place`); returns the height they take.
    int arrange(const QRect &rect, bool place) const
    {
        int x = 0;
        int y = 0;
        for (QWidget *group : shown()) {
            const int w = group->sizeHint().width();
            if (x > 0 && x + w > rect.width()) {
                x = 0;
                y += rowHeight_;
            }
            // The group is given the row's height whatever its own size
            // policy says.
            if (place)
                group->setGeometry(rect.x() + x, rect.y() + y, w, rowHeight_);
            x += w;
        }
        return y + rowHeight_;
    }

    QList<QLayoutItem *> items_;
    int rowHeight_;
};

} // namespace

ToolbarStrip::ToolbarStrip(int rowHeight, QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    new WrapLayout(rowHeight, this);
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
    layout()->addWidget(group);
    groups_.append(group);
    updateGeometry();
    return group;
}

void ToolbarStrip::resizeEvent(QResizeEvent *event)
{
    // The layout has placed the groups for the new width.
    QWidget::resizeEvent(event);
    if (heightForWidth(width()) != height())
        updateGeometry();
}

bool ToolbarStrip::eventFilter(QObject *watched, QEvent *event)
{
    // A group's size changes with its buttons (font, style, actions).
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show
        || event->type() == QEvent::Hide) {
        updateGeometry();
        layout()->setGeometry(rect());
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qv
