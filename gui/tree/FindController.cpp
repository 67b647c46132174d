#include "gui/tree/FindController.h"

#include "catalog/Catalog.h"
#include "catalog/Search.h"
#include "gui/common/Codec.h"
#include "gui/common/Contrast.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace qv {

FindController::FindController(TreePane &pane, Catalog &catalog)
    : QObject(&pane), pane_(pane), catalog_(catalog)
{
    buildActions();
    buildBar();
    TreeModel *model = pane_.model();
    // A new catalogue, or a change to the outline under a find, ends the find.
    connect(model, &TreeModel::filterDropped, this, &FindController::closeFind, Qt::QueuedConnection);
    // A reset that brings another catalogue (a load) builds the index anew;
    // one that only shows the same outline otherwise keeps it.
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        resetFrom_ = {catalog_.outline().shapeVersion(), catalog_.records().size()};
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        if (resetFrom_ != std::pair(catalog_.outline().shapeVersion(), catalog_.records().size()))
            stale_ = true;
    });
    // The index follows the catalogue from its load on, a slice at a time
    // while the window is idle, so neither Ctrl+F nor the first letter
    // waits for it.
    connect(model, &QAbstractItemModel::modelReset, this, &FindController::scheduleBuild);
    connect(model, &QAbstractItemModel::rowsInserted, this, &FindController::scheduleBuild);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &FindController::scheduleBuild);
    connect(model, &QAbstractItemModel::rowsMoved, this, &FindController::scheduleBuild);
    scheduleBuild();
}

FindController::~FindController() = default;

void FindController::buildActions()
{
    // Finding works from anywhere in the window.
    auto windowWide = [this](const char *name, const char16_t *text, const QKeySequence &key,
                             void (FindController::*handler)()) {
        auto *a = new QAction(QString::fromUtf16(text), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(a->text());
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(QStringLiteral("%1 (%2)").arg(a->statusTip(), key.toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        pane_.addAction(a);
        return a;
    };
    findAction_
        = windowWide("findAction", u"Найти", QKeySequence(QKeySequence::Find), &FindController::openFind);
    findAction_->setIcon(QIcon::fromTheme(QStringLiteral("edit-find"),
                                          pane_.style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    findNextAction_ = windowWide("findNextAction", u"Найти следующий", QKeySequence(Qt::Key_F3),
                                 &FindController::findNext);
    findPreviousAction_ = windowWide("findPreviousAction", u"Найти предыдущий",
                                     QKeySequence(Qt::SHIFT | Qt::Key_F3), &FindController::findPrevious);
}

void FindController::buildBar()
{
    findBar_ = new QWidget(&pane_);
    findBar_->setObjectName(QStringLiteral("findBar"));
    auto *row = new QHBoxLayout(findBar_);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    findField_ = new QLineEdit(findBar_);
    findField_->setObjectName(QStringLiteral("findField"));
    findField_->setPlaceholderText(QStringLiteral(u"Найти"));
    findField_->setClearButtonEnabled(true);
    findField_->installEventFilter(this);
    findCount_ = new QLabel(findBar_);
    findCount_->setObjectName(QStringLiteral("findCount"));
    row->addWidget(findField_, 1);
    row->addWidget(findCount_);
    findBar_->hide();
    connect(findField_, &QLineEdit::textChanged, this, &FindController::queryEdited);
}

bool FindController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == findField_ && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            moveToMatch(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            closeFind();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

QString FindController::query() const { return findBar_->isVisible() ? findField_->text() : QString(); }

void FindController::openFind()
{
    findBar_->show();
    findField_->setFocus(Qt::ShortcutFocusReason);
    findField_->selectAll();
    scheduleBuild();
}

void FindController::closeFind()
{
    findField_->clear(); // shows the whole tree again
    findBar_->hide();
    pane_.tree()->setFocus(Qt::OtherFocusReason);
    emit queryChanged(QString());
}

void FindController::queryEdited(const QString &text)
{
    TreeModel *model = pane_.model();
    OutlineView *tree = pane_.tree();
    const Bytes query = fromQ(text);
    if (query.empty()) {
        stopFiltering();
        findCount_->clear();
        lastQuery_.clear();
        emit queryChanged(QString());
        return;
    }
    freshen(SIZE_MAX);
    std::vector<const Node *> found;
    if (narrowable_ && model->filtering() && !lastQuery_.isEmpty()
        && foldForSearch(query).starts_with(foldForSearch(fromQ(lastQuery_)))) {
        // Typing on narrows the previous result.
        found = search_->findNodes(query, model->matches());
    } else {
        found = search_->findNodes(query);
    }
    narrowable_ = true;
    lastQuery_ = text;

    Node *selected = pane_.selectedNode();
    if (!model->filtering()) {
        // Dimmed: towards the background, as far as it can still be read.
        model->setDimColor(
            contrast::dimmedOn(tree->palette().color(QPalette::Base), tree->palette().color(QPalette::Text)));
    }
    refiltering_ = true;
    model->setFilter(std::move(found));
    refiltering_ = false;
    emit filteringChanged();
    const size_t count = model->matches().size();
    findCount_->setText(count == 0 ? QStringLiteral(u"Ничего не найдено")
                                   : QStringLiteral(u"Найдено: %1").arg(count));
    // The selection stays on a node still shown.
    const QModelIndex at = selected ? model->indexFor(selected) : QModelIndex();
    if (at.isValid() && model->nodeFor(tree->currentIndex()) != selected) {
        refiltering_ = true; // the same node: its note stays as it is
        tree->selectionModel()->setCurrentIndex(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        refiltering_ = false;
    } else if (!at.isValid() && selected) {
        emit selectionHidden();
    }
    emit queryChanged(text);
}

bool FindController::freshen(size_t nodes)
{
    if (stale_ || !search_) {
        search_ = std::make_unique<SearchIndex>();
        stale_ = false;
    }
    if (!search_->current(catalog_)) {
        narrowable_ = false;
        if (!search_->buildSome(catalog_, nodes))
            return false;
    }
    if (!edited_.empty()) {
        search_->updateCaptions(catalog_, edited_);
        edited_.clear();
        narrowable_ = false; // an edited note may match now
    }
    return true;
}

bool FindController::indexReady() const
{
    return search_ && !stale_ && search_->current(catalog_) && edited_.empty();
}

void FindController::scheduleBuild()
{
    if (building_)
        return;
    building_ = true;
    QTimer::singleShot(0, this, [this] {
        building_ = false;
        // About a few milliseconds of the window's time a slice.
        constexpr size_t kSliceNodes = 16384;
        if (!freshen(kSliceNodes))
            scheduleBuild();
    });
}

void FindController::noteEdited()
{
    // The index reads each note where the catalogue holds it; only which
    // record shows a caption's note may have changed (one stored for a node
    // that had none), once per caption.
    const Node *n = pane_.selectedNode();
    if (n && std::find(edited_.begin(), edited_.end(), n->caption()) == edited_.end())
        edited_.push_back(n->caption());
}

void FindController::captionsChanged(const Bytes &before, const Bytes &after)
{
    edited_.push_back(before);
    edited_.push_back(after);
}

void FindController::stopFiltering()
{
    TreeModel *model = pane_.model();
    if (!model->filtering())
        return;
    Node *selected = pane_.selectedNode();
    // The open branches are as they were before the find; the way to the
    // node selected during it opens too.
    refiltering_ = true;
    model->clearFilter();
    pane_.selectNode(selected);
    refiltering_ = false;
    emit filteringChanged();
    if (selected)
        pane_.tree()->scrollTo(model->indexFor(selected), QAbstractItemView::PositionAtCenter);
}

void FindController::moveToMatch(int step)
{
    TreeModel *model = pane_.model();
    if (!model->filtering() || model->matches().empty())
        return;
    // The nearest match after (before) the selection in flat order, wrapping.
    const int rows = model->rowCount();
    const Node *selected = pane_.selectedNode();
    const int from = selected ? model->rowOf(selected) : -1;
    Node *next = nullptr;
    if (from >= 0) {
        for (int r = from + step; r >= 0 && r < rows && !next; r += step)
            if (model->isMatchRow(r))
                next = model->nodeAt(r);
    }
    if (!next)
        next = const_cast<Node *>(step > 0 ? model->matches().front() : model->matches().back());
    pane_.selectNode(next);
    pane_.tree()->scrollTo(model->indexFor(next));
}

} // namespace qv
