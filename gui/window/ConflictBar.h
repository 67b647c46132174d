// The line above the tree after a merge with another program's version
// that conflicted somewhere: how many conflicts, each in turn (what
// happened, and the node's path), the previous and next one selected in the
// tree. It asks nothing and blocks nothing; its close button hides it.
#pragma once

#include "merge/MergeReport.h"

#include <QFrame>

#include <vector>

class QLabel;
class QToolButton;

namespace qv {

class Catalog;
class Node;
class TreePane;

class ConflictBar : public QFrame { // objectName "conflictBar"
    Q_OBJECT
public:
    // Placed in the tree pane, just above the tree; hidden until shown.
    ConflictBar(Catalog &catalog, TreePane &pane);

    // The conflicts of a merge: the bar shows their count and selects the
    // first one's node. Without conflicts nothing changes.
    void showConflicts(std::vector<merge::Conflict> conflicts);
    size_t count() const { return conflicts_.size(); }
    // The conflict shown, from 0.
    size_t current() const { return current_; }
    void next();
    void previous();

    QLabel *label() const { return label_; }              // conflictText
    QToolButton *nextButton() const { return next_; }     // conflictNext
    QToolButton *previousButton() const { return prev_; } // conflictPrevious
    QToolButton *closeButton() const { return close_; }   // conflictClose

private:
    void step(size_t to);
    // The node at a path of captions, or null when it is gone.
    Node *nodeAt(const std::vector<Bytes> &path) const;

    Catalog &catalog_;
    TreePane &pane_;
    QLabel *label_ = nullptr;
    QToolButton *prev_ = nullptr;
    QToolButton *next_ = nullptr;
    QToolButton *close_ = nullptr;
    std::vector<merge::Conflict> conflicts_;
    size_t current_ = 0;
};

} // namespace qv
