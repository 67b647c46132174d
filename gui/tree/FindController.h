// The tree pane's find: the bar above the tree (field and count), its three
// actions, and the search index behind it. Typing narrows the tree to the
// matches (TreeModel::setFilter); Enter / F3 and Shift+Enter / Shift+F3 walk
// through them; Esc closes the bar and brings the whole tree back.
#pragma once

#include "catalog/Text.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QWidget;

namespace qv {

class Catalog;
class SearchIndex;
class TreePane;

class FindController : public QObject {
    Q_OBJECT
public:
    // The bar is a child of `pane`, which lays it out; the actions are the
    // pane's window-wide ones.
    FindController(TreePane &pane, Catalog &catalog);
    ~FindController() override;

    // Ctrl+F (anywhere in the window) or the toolbar's button opens the bar;
    // F3 / Shift+F3 (and Enter / Shift+Enter in the field) move through the
    // matches.
    QAction *findAction() const { return findAction_; }                 // findAction, findButton
    QAction *findNextAction() const { return findNextAction_; }         // findNextAction
    QAction *findPreviousAction() const { return findPreviousAction_; } // findPreviousAction
    QWidget *findBar() const { return findBar_; }                       // findBar
    QLineEdit *findField() const { return findField_; }                 // findField
    QLabel *findCount() const { return findCount_; }                    // findCount

    // The text being found, or empty when the bar is closed.
    QString query() const;
    void openFind();
    void closeFind();
    void findNext() { moveToMatch(1); }
    void findPrevious() { moveToMatch(-1); }

    // Whether the search index is up to date with the catalogue (it is kept
    // so while the window idles).
    bool indexReady() const;

    // While the find changes the rows, the selection the model carries over
    // is not a new selection.
    bool refiltering() const { return refiltering_; }

    // What the index must take in before its next search: the selected
    // node's note changed; a rename changed which notes two captions show;
    // anything at all may have changed (undo, redo).
    void noteEdited();
    void captionsChanged(const Bytes &before, const Bytes &after);
    void invalidate()
    {
        stale_ = true;
        scheduleBuild();
    }

signals:
    // The tree started or stopped showing only the matches.
    void filteringChanged();
    // The find hid the selected node.
    void selectionHidden();
    // The text changed (empty when the bar closed).
    void queryChanged(const QString &query);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildActions();
    void buildBar();
    void queryEdited(const QString &text);
    // Brings the index up to the catalogue, taking in at most `nodes` nodes
    // of a build; true when it is up to date.
    bool freshen(size_t nodes);
    // A slice of the build on the next turn of the event loop, and more
    // after it until the index is up to date.
    void scheduleBuild();
    void stopFiltering();
    void moveToMatch(int step);

    TreePane &pane_;
    Catalog &catalog_;
    QAction *findAction_ = nullptr;
    QAction *findNextAction_ = nullptr;
    QAction *findPreviousAction_ = nullptr;
    QWidget *findBar_ = nullptr;
    QLineEdit *findField_ = nullptr;
    QLabel *findCount_ = nullptr;
    std::unique_ptr<SearchIndex> search_;
    // The index is built again when stale or when the outline's shape has
    // changed since; the captions whose notes or names changed are taken
    // in node by node.
    bool stale_ = true;
    bool building_ = false;
    std::pair<uint64_t, size_t> resetFrom_; // the outline's shape and the records' count before a reset
    std::vector<Bytes> edited_;
    // Whether the next query may search among the last one's matches.
    bool narrowable_ = false;
    QString lastQuery_;
    bool refiltering_ = false;
};

} // namespace qv
