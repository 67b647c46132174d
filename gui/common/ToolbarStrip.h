// A row of toolbars that wraps: each group of buttons is a QToolBar of its
// own, laid side by side while they fit and carried onto a further row of
// the strip's width when they do not, so no button is ever cut off or
// hidden behind an overflow arrow.
#pragma once

#include <QWidget>

class QToolBar;

namespace qv {

class ToolbarStrip : public QWidget {
    Q_OBJECT
public:
    // Rows are `rowHeight` high (the 96-dpi toolbar height). The strip's
    // layout places the groups; its height follows its width.
    explicit ToolbarStrip(int rowHeight, QWidget *parent = nullptr);

    // A new group at the end of the strip: not movable, not floatable,
    // icons of 16 pixels.
    QToolBar *addGroup();
    const QList<QToolBar *> &groups() const { return groups_; }
    // A widget kept at the right end of a row, outside the groups' flow:
    // the last row with room for it takes it, and it hides while no row
    // has room, so it never adds a row of its own. The strip owns it.
    void setTrailing(QWidget *widget);
    QWidget *trailing() const { return trailing_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QToolBar *> groups_;
    QWidget *trailing_ = nullptr;
};

} // namespace qv
