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

    void setTrailing(QWidget *widget) { trailing_ = widget; }

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
        QList<int> rowEnds; // where each row's groups end
        for (QWidget *group : shown()) {
            const int w = group->sizeHint().width();
            if (x > 0 && x + w > rect.width()) {
                rowEnds.append(x);
                x = 0;
                y += rowHeight_;
            }
            // The group is given the row's height whatever its own size
            // policy says.
            if (place)
                group->setGeometry(rect.x() + x, rect.y() + y, w, rowHeight_);
            x += w;
        }
        rowEnds.append(x);
        if (place && trailing_)
            placeTrailing(rect, rowEnds);
        return y + rowHeight_;
    }

    void placeTrailing(const QRect &rect, const QList<int> &rowEnds) const
    {
        const QSize size = trailing_->sizeHint();
        for (qsizetype row = rowEnds.size() - 1; row >= 0; --row) {
            if (rowEnds[row] + size.width() <= rect.width()) {
                const int top = rect.y() + int(row) * rowHeight_ + (rowHeight_ - size.height()) / 2;
                trailing_->setGeometry(rect.x() + rect.width() - size.width(), top, size.width(),
                                       size.height());
                trailing_->setVisible(true);
                return;
            }
        }
        trailing_->setVisible(false);
    }

    QList<QLayoutItem *> items_;
    QWidget *trailing_ = nullptr;
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

void ToolbarStrip::setTrailing(QWidget *widget)
{
    trailing_ = widget;
    widget->setParent(this);
    static_cast<WrapLayout *>(layout())->setTrailing(widget);
    layout()->setGeometry(rect());
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
