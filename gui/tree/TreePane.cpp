#include "gui/tree/TreePane.h"

#include "catalog/Catalog.h"
#include "gui/tree/DATreeView.h"
#include "gui/tree/TreeModel.h"
#include "gui/common/Codec.h"
#include "gui/common/WidgetLook.h"
#include "gui/tree/IconPalette.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"

#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <vector>

using qv::Node;

namespace {

const QString kRefusalTitle = QStringLiteral(u"Неверное действие");

// Label editing: beginning records the caption, confirming goes to the
// pane's rename handler instead of the model.
class RenameDelegate : public QStyledItemDelegate {
public:
    explicit RenameDelegate(TreePane *pane) : QStyledItemDelegate(pane), pane_(pane) {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        pane_->beginRename(index);
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const override
    {
        // A box shown while confirming takes the focus from the editor,
        // which asks to commit once more: that second request is dropped.
        if (committing_)
            return;
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            committing_ = true;
            pane_->finishRename(index, line->text());
            committing_ = false;
        }
    }

private:
    TreePane *pane_;
    mutable bool committing_ = false;
};

struct ToolButtonInfo {
    const char *name;
    int x;
    const char *glyph;
    const char16_t *hint;
};

} // namespace

TreePane::TreePane(qv::Catalog &catalog, QWidget *parent)
    : QFrame(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("Panel1"));
    setFrameShape(QFrame::NoFrame);
    setMinimumWidth(kMinimumWidth);

    buildToolbar();
    palette_ = new IconPalette(this);
    buildTree();
    buildMenu();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar_);
    layout->addWidget(palette_);
    layout->addWidget(tree_, 1);

    connect(palette_, &IconPalette::iconChosen, this, &TreePane::setIcon);
}

void TreePane::buildToolbar()
{
    toolbar_ = new QFrame(this);
    toolbar_->setObjectName(QStringLiteral("CoolBar1"));
    toolbar_->setFixedHeight(30);

    static const ToolButtonInfo buttons[] = {
        {"SpeedButton1", 1, "create", u"Создать узел"},
        {"SpeedButton15", 26, "createChild", u"Создать потомка"},
        {"SpeedButton2", 51, "delete", u"Удалить узел"},
        {"SpeedButton16", 82, "expandAll", u"Развернуть все ветви"},
        {"SpeedButton17", 107, "collapseAll", u"Свернуть все ветви"},
        {"SpeedButton13", 168, "moveUp", u"Перемещение элемента дерева вверх"},
        {"SpeedButton14", 193, "moveDown", u"Перемещение элемента дерева вниз"},
    };
    const std::function<void()> handlers[] = {
        [this] { createNode(); }, [this] { createChild(); }, [this] { deleteNode(); },
        [this] { expandAll(); },  [this] { collapseAll(); }, [this] { moveUp(); },
        [this] { moveDown(); },
    };
    for (size_t i = 0; i < std::size(buttons); ++i) {
        auto *b = new QToolButton(toolbar_);
        b->setObjectName(QString::fromLatin1(buttons[i].name));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setGeometry(buttons[i].x, 1, 25, 25);
        b->setIcon(qv::icons::glyph(QString::fromLatin1(buttons[i].glyph)));
        b->setStatusTip(QString::fromUtf16(buttons[i].hint));
        connect(b, &QToolButton::clicked, this, handlers[i]);
    }

    auto *separator = new QFrame(toolbar_);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setGeometry(78, 3, 2, 21);

    // The bottom edge line of the toolbar.
    auto *edge = new QFrame(toolbar_);
    edge->setFrameShape(QFrame::HLine);
    edge->setFrameShadow(QFrame::Sunken);
    edge->setGeometry(0, 28, 4000, 2);
}

void TreePane::buildMenu()
{
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](const char *name, const char16_t *caption, const char16_t *hint,
                      void (TreePane::*handler)()) {
        QAction *a = menu_->addAction(QString::fromUtf16(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (hint)
            a->setStatusTip(QString::fromUtf16(hint));
        connect(a, &QAction::triggered, this, handler);
    };
    add("N1", u"Создать узел", u"Создать узел", &TreePane::createNode);
    add("N12", u"Создать потомка", nullptr, &TreePane::createChild);
    add("N2", u"Удалить узел", u"Удалить узел", &TreePane::deleteNode);
    menu_->addSeparator();
    add("N14", u"Развернуть все ветви", u"Развернуть все ветви", &TreePane::expandAll);
    add("N15", u"Свернуть все ветви", u"Свернуть все ветви", &TreePane::collapseAll);
    menu_->addSeparator();
    add("N17", u"Переместить выше", nullptr, &TreePane::moveUp);
    add("N18", u"Переместить ниже", u"Перемещение элемента дерева вниз", &TreePane::moveDown);
}

void TreePane::buildTree()
{
    tree_ = new DATreeView(this);
    model_ = new TreeModel(catalog_.outline(), this);
    tree_->setModel(model_);
    tree_->setItemDelegate(new RenameDelegate(this));
    tree_->setFrameShape(QFrame::NoFrame);
    tree_->setHeaderHidden(true);
    tree_->setIndentation(19);
    tree_->setIconSize(QSize(16, 16));
    tree_->setUniformRowHeights(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->viewport()->installEventFilter(this);

    QPalette pal = tree_->palette();
    // The selection stays visible while the tree has no focus.
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    tree_->setPalette(pal);
    setTreeColors(qv::panelColor(), pal.color(QPalette::Active, QPalette::Text));

    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TreePane::selectionChanged);
    connect(tree_, &QTreeView::collapsed, this, &TreePane::branchCollapsed);
    connect(tree_, &QWidget::customContextMenuRequested, this, &TreePane::showMenu);
}

QToolButton *TreePane::button(const QString &name) const
{
    return toolbar_->findChild<QToolButton *>(name);
}

QAction *TreePane::action(const QString &name) const
{
    return menu_->findChild<QAction *>(name);
}

Node *TreePane::selectedNode() const
{
    const QModelIndexList rows = tree_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return model_->nodeFor(rows.first());
}

void TreePane::selectNode(Node *node)
{
    if (!node || node->isTop()) {
        tree_->selectionModel()->clearSelection();
        return;
    }
    // Ancestors are expanded from the nearest outwards: hidden ones only
    // record the state, and the outermost lays out the branch once.
    for (Node *p = node->parent(); p && !p->isTop(); p = p->parent()) {
        const QModelIndex pi = model_->indexFor(p);
        if (!tree_->isExpanded(pi))
            tree_->expand(pi);
    }
    const QModelIndex index = model_->indexFor(node);
    tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                        | QItemSelectionModel::Rows);
    tree_->scrollTo(index);
}

void TreePane::setTreeFont(const QString &face, int pointSize)
{
    qv::applyFontFaceAndSize(tree_, face, pointSize);
}

void TreePane::setTreeColors(const QColor &background, const QColor &text)
{
    qv::applyTextColors(tree_, background, text);
}

void TreePane::run(const std::function<void()> &command)
{
    if (busy_)
        return;
    busy_ = true;
    try {
        if (before_)
            before_();
        command();
    } catch (const std::exception &e) {
        qv::msg::showError(window(), e);
    }
    busy_ = false;
    if (selectionPending_) {
        selectionPending_ = false;
        emit selectionMoved(selectedNode());
    }
    emit commandDone();
}

void TreePane::selectionChanged()
{
    if (busy_)
        selectionPending_ = true;
    else
        emit selectionMoved(selectedNode());
}

void TreePane::branchCollapsed(const QModelIndex &index)
{
    // A collapse that hides the selected node moves the selection to the
    // collapsed node.
    Node *selected = selectedNode();
    Node *collapsed = model_->nodeFor(index);
    if (selected && index.isValid() && collapsed->isAncestorOf(selected))
        selectNode(collapsed);
}

void TreePane::showMenu(const QPoint &pos)
{
    menu_->popup(tree_->viewport()->mapToGlobal(pos));
}

bool TreePane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == tree_->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto *me = static_cast<QMouseEvent *>(event);
            // A right click opens the menu without moving the selection.
            if (me->button() == Qt::RightButton)
                return true;
            if (event->type() == QEvent::MouseButtonRelease && me->button() == Qt::LeftButton) {
                if (Node *n = selectedNode())
                    emit treeClicked(n);
            }
            break;
        }
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void TreePane::createNode()
{
    run([this] {
        Node *selected = selectedNode();
        Node *created = nullptr;
        if (selected) {
            tree_->setUpdatesEnabled(false);
            try {
                created = catalog_.createNode(selected);
            } catch (...) {
                tree_->setUpdatesEnabled(true);
                throw;
            }
            tree_->setUpdatesEnabled(true);
        } else {
            created = catalog_.createNode(nullptr);
        }
        selectNode(created);
    });
}

void TreePane::createChild()
{
    run([this] {
        Node *selected = selectedNode();
        if (!selected)
            return;
        tree_->setUpdatesEnabled(false);
        Node *created = nullptr;
        try {
            created = catalog_.createChild(selected);
        } catch (...) {
            tree_->setUpdatesEnabled(true);
            throw;
        }
        tree_->setUpdatesEnabled(true);
        selectNode(created);
    });
}

void TreePane::deleteNode()
{
    run([this] {
        Node *selected = selectedNode();
        if (!selected)
            return;
        if (selected->hasChildren()) {
            qv::msg::show(window(), QMessageBox::Warning, kRefusalTitle,
                          QStringLiteral(u"Невозможно удалить узел,\r\nсодержащий потомков.\r\n\r\n"
                                         u"Сначала удалите всех потомков."),
                          QMessageBox::Ok);
            return;
        }
        const auto answer = qv::msg::show(window(), QMessageBox::Question,
                                          QStringLiteral(u"Подтверждение удаления"),
                                          QStringLiteral(u"Удалить выбранный узел?"),
                                          QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        // The box's event loop may have let the selection move.
        if (selectedNode() == selected && !selected->hasChildren())
            catalog_.deleteLeaf(selected);
    });
}

void TreePane::expandAll()
{
    run([this] { tree_->expandAll(); });
}

void TreePane::collapseAll()
{
    run([this] {
        tree_->collapseAll();
        // The first collapse that hid the selected node was its root's.
        if (Node *selected = selectedNode()) {
            Node *root = selected;
            while (!root->isRoot())
                root = root->parent();
            if (root != selected)
                selectNode(root);
        }
    });
}

void TreePane::moveUp()
{
    run([this] {
        Node *selected = selectedNode();
        if (selected && catalog_.moveUp(selected))
            selectNode(selected);
    });
}

void TreePane::moveDown()
{
    run([this] {
        Node *selected = selectedNode();
        if (selected && catalog_.moveDown(selected))
            selectNode(selected);
    });
}

void TreePane::setIcon(int k)
{
    run([this, k] {
        if (Node *selected = selectedNode())
            catalog_.setIcon(selected, k);
    });
}

void TreePane::beginRename(const QModelIndex &index)
{
    if (before_) {
        try {
            before_();
        } catch (const std::exception &e) {
            qv::msg::showError(window(), e);
        }
    }
    currentKey_ = model_->nodeFor(index)->caption();
}

void TreePane::finishRename(const QModelIndex &index, const QString &text)
{
    if (!index.isValid())
        return;
    Node *node = model_->nodeFor(index);
    run([this, node, &text] {
        const qv::Bytes s = qv::fromQ(text);
        const qv::Catalog::RenameResult result = catalog_.rename(node, currentKey_, s);
        const QString duplicate = QStringLiteral(u"Узел \"") + qv::toQ(s)
                                  + QStringLiteral(u"\" \r\nуже имеется в списке.\r\n\r\nВведите другое имя.");
        for (size_t i = 0; i < result.duplicateMessages; ++i)
            qv::msg::show(window(), QMessageBox::Warning, kRefusalTitle, duplicate, QMessageBox::Ok);
        if (result.invalidCaption)
            qv::msg::show(window(), QMessageBox::Warning, kRefusalTitle,
                          QStringLiteral(u"Имя узла не может начинаться с пробела или табуляции\r\n"
                                         u"и не может содержать переводов строки."),
                          QMessageBox::Ok);
    });
}
