// The node commands as the user reaches them: toolbar, tree menu, palette
// and in-place renaming, down to the bytes of the saved files.
#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/RowIndex.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>
#include <utility>

using namespace qvtest;

namespace {

const char *const kRefusal
    = "Невозможно удалить узел,\r\nсодержащий потомков.\r\n\r\nСначала удалите всех потомков.";
const char *const kConfirm = "Удалить выбранный узел?";

QString duplicateText(const QString &name)
{
    return QString::fromUtf8("Узел \"") + name
        + QString::fromUtf8("\" \r\nуже имеется в списке.\r\n\r\nВведите другое имя.");
}

// The outline text ("A\n\tB") as data.dat bytes.
QByteArray fileOf(const QString &outline)
{
    if (outline.isEmpty())
        return {};
    QByteArray out;
    for (const QString &line : outline.split('\n'))
        out += QByteArray::fromStdString(qv::fromQ(line)) + "\r\n";
    return out;
}

// Every ancestor of the node is expanded, so its row is shown.
bool shown(WindowFixture &f, qv::Node *n)
{
    for (qv::Node *p = n->parent(); p && !p->isTop(); p = p->parent())
        if (!f.model()->isExpanded(p))
            return false;
    return true;
}

} // namespace

class TreeCommands : public QObject {
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void recordsFollowTheCommands();
    void rename_data();
    void rename();
    void renameCancelledWithEscape();
    void clickOnSelectedLabelRenamesUnlessFocusLeft();
    void paletteGivesIcons();
    void modelAnnouncesCaptionAndIconChanges();
    void collapseMovesSelectionToTheCollapsedNode();
    void marksAndKeysOpenAndCloseBranches();
    void rightClickKeepsSelection();
    void modelFollowsEveryCoreChange();
    void rowIndexMatchesAPlainList_data();
    void rowIndexMatchesAPlainList();
    void actionsAreSharedByButtonAndMenu();
    void keysRunTheCommands_data();
    void keysRunTheCommands();
    void keysBelongToTheTree_data();
    void keysBelongToTheTree();
    void menuKeyOpensTheMenuAtTheSelection_data();
    void menuKeyOpensTheMenuAtTheSelection();
};

void TreeCommands::commands_data()
{
    QTest::addColumn<QString>("data");       // outline before, "\n" between lines
    QTest::addColumn<QStringList>("script"); // "sel N", "yes", "no" or a control's name
    QTest::addColumn<QString>("outline");    // outline after
    QTest::addColumn<QString>("selected");   // caption of the selected node after
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QStringList>("boxes");

    const QString n0 = QString::fromUtf8("Новый элемент 0");
    const QString n2 = QString::fromUtf8("Новый элемент 2");
    const QString n3 = QString::fromUtf8("Новый элемент 3");

    QTest::newRow("create on an empty tree")
        << "" << QStringList{"SpeedButton1"} << n0 << n0 << true << QStringList{};
    QTest::newRow("create before the selected")
        << "A\nB\nC" << QStringList{"sel 1", "N1"} << "A\n" + n3 + "\nB\nC" << n3 << true << QStringList{};
    QTest::newRow("create before a first child") << "A\n\tB" << QStringList{"sel 1", "SpeedButton1"}
                                                 << "A\n\t" + n2 + "\n\tB" << n2 << true << QStringList{};
    QTest::newRow("child of a collapsed node") << "A\n\tB" << QStringList{"sel 0", "SpeedButton15"}
                                               << "A\n\tB\n\t" + n2 << n2 << true << QStringList{};
    QTest::newRow("child through the menu")
        << "A" << QStringList{"sel 0", "N12"} << "A\n\t" + QString::fromUtf8("Новый элемент 1")
        << QString::fromUtf8("Новый элемент 1") << true << QStringList{};
    QTest::newRow("child with nothing selected") << "" << QStringList{"SpeedButton15"} << ""
                                                 << "" << false << QStringList{};

    QTest::newRow("move up a first child out of its branch")
        << "A\n\tB" << QStringList{"sel 1", "SpeedButton13"} << "B\nA"
        << "B" << true << QStringList{};
    QTest::newRow("move up into the branch above")
        << "A\n\tB\nC" << QStringList{"sel 2", "N17"} << "A\n\tC\n\tB"
        << "C" << true << QStringList{};
    QTest::newRow("move up the first node") << "A\nB" << QStringList{"sel 0", "SpeedButton13"} << "A\nB"
                                            << "A" << false << QStringList{};
    QTest::newRow("move down the next-to-last child to the end")
        << "A\n\tB\n\tC" << QStringList{"sel 1", "SpeedButton14"} << "A\n\tC\nB"
        << "B" << true << QStringList{};
    QTest::newRow("move down into the following branch")
        << "A\nB\n\tC" << QStringList{"sel 0", "N18"} << "B\n\tA\n\tC"
        << "A" << true << QStringList{};
    QTest::newRow("move down the last node") << "A\nB" << QStringList{"sel 1", "SpeedButton14"} << "A\nB"
                                             << "B" << false << QStringList{};
    QTest::newRow("a node with children does not move")
        << "A\n\tB\nC" << QStringList{"sel 0", "SpeedButton14", "SpeedButton13"} << "A\n\tB\nC"
        << "A" << false << QStringList{};
    QTest::newRow("deep moves keep their place in flat order")
        << "A\n\tB\n\t\tC\nD" << QStringList{"sel 3", "SpeedButton13", "SpeedButton13", "SpeedButton13"}
        << "D\nA\n\tB\n\t\tC"
        << "D" << true << QStringList{};

    QTest::newRow("delete a leaf") << "A\nB\nC" << QStringList{"sel 1", "yes", "SpeedButton2"} << "A\nC"
                                   << "C" << true << QStringList{QString::fromUtf8(kConfirm)};
    QTest::newRow("delete answered no") << "A\nB" << QStringList{"sel 1", "no", "N2"} << "A\nB"
                                        << "B" << false << QStringList{QString::fromUtf8(kConfirm)};
    QTest::newRow("delete a node with children")
        << "A\n\tB" << QStringList{"sel 0", "SpeedButton2"} << "A\n\tB"
        << "A" << false << QStringList{QString::fromUtf8(kRefusal)};
    QTest::newRow("delete the last node")
        << "A" << QStringList{"sel 0", "yes", "SpeedButton2", "SpeedButton2"} << ""
        << "" << true << QStringList{QString::fromUtf8(kConfirm)};
    QTest::newRow("create after deletions may repeat a count")
        << "A\nB\nC" << QStringList{"sel 1", "yes", "N2", "N1"} << "A\n" + n2 + "\nC" << n2 << true
        << QStringList{QString::fromUtf8(kConfirm)};

    QTest::newRow("expand and collapse change nothing")
        << "A\n\tB" << QStringList{"sel 0", "SpeedButton16", "N15", "N14", "SpeedButton17"} << "A\n\tB"
        << "A" << false << QStringList{};
}

void TreeCommands::commands()
{
    QFETCH(QString, data);
    QFETCH(QStringList, script);
    QFETCH(QString, outline);
    QFETCH(QString, selected);
    QFETCH(bool, modified);
    QFETCH(QStringList, boxes);

    WindowFixture f;
    f.writeFile("data.dat", fileOf(data));
    f.open();
    QList<QMessageBox::StandardButton> answers;
    for (const QString &step : script) {
        if (step.startsWith("sel ")) {
            f.model()->collapseAll();
            f.selectIndex(step.mid(4).toInt());
        } else if (step == "yes" || step == "no") {
            answers << (step == "yes" ? QMessageBox::Yes : QMessageBox::No);
            f.answer(answers);
        } else if (step.startsWith('N')) {
            f.trigger(step);
        } else {
            f.click(step);
        }
    }
    QCOMPARE(f.outlineText(), outline);
    qv::Node *sel = f.selected();
    QCOMPARE(sel ? qv::toQ(sel->caption()) : QString(), selected);
    if (sel)
        QVERIFY(shown(f, sel));
    QCOMPARE(f.saveButton()->isEnabled(), modified);
    QCOMPARE(f.takeBoxes(), boxes);
    // The commands check the selection themselves: no state disables one
    // (the undo and redo items follow the history instead).
    qv::TreePane *pane = f.window()->treePane();
    for (QAction *a : pane->popupMenu()->actions())
        if (a != pane->commands()->undoAction() && a != pane->commands()->redoAction())
            QVERIFY(a->isEnabled());
    QVERIFY(f.close());
    QCOMPARE(f.readFile("data.dat"), fileOf(outline));
}

void TreeCommands::recordsFollowTheCommands()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "\tB", "C"}));
    f.writeFile("text.dat",
                lines({"4", "A", "note a", "2", "X", "orphan", "9", "B", "note b", "0", "B", "twin", "1"}));
    f.open();

    f.selectIndex(1); // B
    f.click("bi5");
    QCOMPARE(f.node(1)->imageIndex(), 5);
    f.selectIndex(2); // C has no record: the icon shows, a record is made
    f.click("bi12");
    f.selectIndex(0);
    f.click("SpeedButton1"); // a new root before A
    f.selectIndex(2);        // B
    f.answer({QMessageBox::Yes});
    f.click("SpeedButton2");
    QCOMPARE(f.outlineText(), QString::fromUtf8("Новый элемент 3\nA\nC"));
    QVERIFY(f.close());

    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 3", "A", "C"}));
    // B's first record went with B; its twin and the orphan stay.
    QCOMPARE(f.readFile("text.dat"),
             lines({"5", "A", "note a", "2", "X", "orphan", "9", "B", "twin", "1", "C", "", "12",
                    "Новый элемент 3", "", "0"}));
}

void TreeCommands::rename_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("outline");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QStringList>("boxes");
    const QString invalid = QString::fromUtf8(
        "Имя узла не может начинаться с пробела или табуляции\r\nи не может содержать переводов строки.");

    QTest::newRow("accepted") << QString::fromUtf8("Новое имя") << QString::fromUtf8("Новое имя\nB\nb")
                              << true << QStringList{};
    QTest::newRow("another node's caption")
        << "B"
        << "A\nB\nb" << false << QStringList{duplicateText("B"), duplicateText("B")};
    QTest::newRow("differs only in case") << "a"
                                          << "A\nB\nb" << false << QStringList{duplicateText("a")};
    QTest::newRow("unchanged") << "A"
                               << "A\nB\nb" << false << QStringList{duplicateText("A")};
    QTest::newRow("empty") << ""
                           << "A\nB\nb" << false << QStringList{};
    QTest::newRow("leading blank") << " Z"
                                   << "A\nB\nb" << false << QStringList{invalid};
    QTest::newRow("trailing blank kept") << "Z "
                                         << "Z \nB\nb" << true << QStringList{};
}

void TreeCommands::rename()
{
    QFETCH(QString, text);
    QFETCH(QString, outline);
    QFETCH(bool, modified);
    QFETCH(QStringList, boxes);

    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B", "b"}));
    // Two records carry B; "a" has a record but no node.
    f.writeFile("text.dat",
                lines({"5", "A", "x", "0", "B", "y", "0", "B", "z", "0", "a", "", "0", "b", "", "0"}));
    f.open();
    f.selectIndex(0);
    QTest::keyClick(f.tree(), Qt::Key_F2);
    auto *editor = f.tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QString("A"));
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();

    QCOMPARE(f.takeBoxes(), boxes);
    QCOMPARE(f.outlineText(), outline);
    QCOMPARE(f.saveButton()->isEnabled(), modified);
    QVERIFY(f.close());
    const QByteArray first = f.readFile("text.dat").split('\r').value(1).mid(1);
    QCOMPARE(qv::toQ(first.toStdString()), outline.section('\n', 0, 0));
}

// A click on the selected label starts renaming after the double-click time;
// a click into the note meanwhile keeps the typing out of the caption.
void TreeCommands::clickOnSelectedLabelRenamesUnlessFocusLeft()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B"}));
    f.writeFile("text.dat", lines({"2", "A", "", "0", "B", "", "0"}));
    f.open();
    f.selectIndex(1);
    qv::OutlineView *tree = f.tree();
    const QPoint label = tree->visualRect(f.model()->indexFor(f.node(1))).center();

    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, label);
    QTRY_VERIFY(tree->viewport()->findChild<QLineEdit *>());
    QTest::keyClick(tree->viewport()->findChild<QLineEdit *>(), Qt::Key_Escape);
    QTRY_VERIFY(!tree->viewport()->findChild<QLineEdit *>());

    auto *note = f.find<QWidget>("RxRichEdit1");
    QVERIFY(note);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, label);
    note->setFocus(Qt::MouseFocusReason);
    QTest::qWait(QApplication::doubleClickInterval() + 200);
    QVERIFY(!tree->viewport()->findChild<QLineEdit *>());
    QTest::keyClicks(note, "typed");
    QCOMPARE(f.outlineText(), QString("A\nB"));
    QVERIFY(f.close());
    QCOMPARE(f.readFile("text.dat"), lines({"2", "A", "", "0", "B", "typed", "0"}));
}

void TreeCommands::renameCancelledWithEscape()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B"}));
    f.open();
    f.selectIndex(1);
    QTest::keyClick(f.tree(), Qt::Key_F2);
    auto *editor = f.tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    editor->setText("A");
    QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.outlineText(), QString("A\nB"));
    QVERIFY(!f.saveButton()->isEnabled());
    f.discard();
}

void TreeCommands::paletteGivesIcons()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    f.writeFile("text.dat", lines({"1", "A", "", "3"}));
    f.open();
    f.tree()->selectionModel()->clearSelection();
    f.click("bi7");
    QCOMPARE(f.node(0)->imageIndex(), 3);
    QVERIFY(!f.saveButton()->isEnabled());

    f.selectIndex(0);
    f.click("bi79");
    QCOMPARE(f.node(0)->imageIndex(), 79);
    QCOMPARE(f.node(0)->selectedImageIndex(), 79);
    QVERIFY(f.saveButton()->isEnabled());
    const QIcon shownIcon
        = f.model()->data(f.model()->indexFor(f.node(0)), Qt::DecorationRole).value<QIcon>();
    QVERIFY(!shownIcon.isNull());
    f.click("bi80");
    QCOMPARE(f.node(0)->imageIndex(), 0);
    QVERIFY(f.close());
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "", "0"}));
}

// The view repaints a row only when the model says it changed.
void TreeCommands::modelAnnouncesCaptionAndIconChanges()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B"}));
    f.open();
    f.selectIndex(1);
    QSignalSpy spy(f.model(), &QAbstractItemModel::dataChanged);
    const QPersistentModelIndex row = f.model()->indexFor(f.node(1));
    auto announced = [&] {
        for (const QList<QVariant> &args : std::as_const(spy))
            if (args.at(0).toModelIndex() == row && args.at(1).toModelIndex() == row)
                return true;
        return false;
    };

    QTest::keyClick(f.tree(), Qt::Key_F2);
    auto *editor = f.tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    editor->setText("Z");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(f.outlineText(), QString("A\nZ"));
    QVERIFY(announced());

    spy.clear();
    f.click("bi7");
    QCOMPARE(f.node(1)->imageIndex(), 7);
    QVERIFY(announced());
    f.discard();
}

void TreeCommands::collapseMovesSelectionToTheCollapsedNode()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "\tB", "\t\tC", "D"}));
    f.writeFile("text.dat", lines({"3", "A", "note A", "0", "B", "note B", "0", "C", "note C", "0"}));
    qv::MainWindow *w = f.open();
    f.selectIndex(2);
    QCOMPARE(w->editorPane()->editor()->noteText(), QString("note C"));

    // The user folds B away: the selection goes to B and the editor follows.
    f.model()->setExpanded(f.node(1), false);
    QCOMPARE(f.selected(), f.node(1));
    QCOMPARE(w->editorPane()->editor()->noteText(), QString("note B"));

    f.click("SpeedButton16");
    for (int i : {0, 1})
        QVERIFY(f.model()->isExpanded(f.node(i)));
    f.selectIndex(2);
    f.click("SpeedButton17");
    QCOMPARE(f.selected(), f.node(0));
    QCOMPARE(w->editorPane()->editor()->noteText(), QString("note A"));
    for (int i : {0, 1})
        QVERIFY(!f.model()->isExpanded(f.node(i)));
    // Expanding a root again shows its children collapsed.
    f.model()->setExpanded(f.node(0), true);
    QVERIFY(!f.model()->isExpanded(f.node(1)));
    f.discard();
}

// The open mark, a double click and the keys open and close a branch; the
// press on a mark selects nothing.
void TreeCommands::marksAndKeysOpenAndCloseBranches()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "\tB", "C", "\tD", "\t\tE"}));
    QVERIFY(QTest::qWaitForWindowActive(f.open()));
    f.model()->collapseAll();
    f.selectIndex(0);
    qv::Node *c = f.node(2);
    qv::Node *d = f.node(3);
    qv::OutlineView *tree = f.tree();
    auto clickMark = [&](qv::Node *n) {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->markRect(f.model()->indexFor(n)).center());
    };
    clickMark(c);
    QVERIFY(f.model()->isExpanded(c));
    QCOMPARE(f.selected(), f.node(0));
    clickMark(c);
    QVERIFY(!f.model()->isExpanded(c));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->itemRect(f.model()->indexFor(c)).center());
    QVERIFY(f.model()->isExpanded(c));
    tree->setFocus();
    f.selectIndex(3);
    const std::pair<Qt::Key, bool> keys[]
        = {{Qt::Key_Right, true}, {Qt::Key_Minus, false}, {Qt::Key_Plus, true}, {Qt::Key_Left, false}};
    for (const auto &[key, open] : keys) {
        QTest::keyClick(tree, key);
        QCOMPARE(f.model()->isExpanded(d), open);
    }
    f.model()->collapseAll();
    f.selectIndex(2);
    QTest::keyClick(tree, Qt::Key_Asterisk);
    QVERIFY(f.model()->isExpanded(c) && f.model()->isExpanded(d));
    f.discard();
}

void TreeCommands::rightClickKeepsSelection()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B"}));
    qv::MainWindow *w = f.open();
    f.selectIndex(0);
    const QRect row = f.tree()->visualRect(f.model()->indexFor(f.node(1)));
    QTest::mouseClick(f.tree()->viewport(), Qt::RightButton, {}, row.center());
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, row.center(),
                                f.tree()->viewport()->mapToGlobal(row.center()));
    QCoreApplication::sendEvent(f.tree()->viewport(), &menuEvent);
    QMenu *menu = w->treePane()->popupMenu();
    QVERIFY(menu->isVisible());
    menu->hide();
    QCOMPARE(f.selected(), f.node(0));
    // The menu's commands act on the node selected before.
    f.answer({QMessageBox::Yes});
    f.trigger("N2");
    QCOMPARE(f.outlineText(), QString("B"));
    f.discard();
}

// The rows the model shows, against what they must be, through random node
// commands, undos, opening and closing, and finds, under the model tester
// and a view; a persistent index follows its node or goes with it.
void TreeCommands::modelFollowsEveryCoreChange()
{
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        qv::Catalog catalog;
        qv::Outline &o = catalog.outline();
        qv::TreeModel model(o);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        std::mt19937 random(seed);
        auto pick = [&random](size_t n) { return size_t(random() % std::max<size_t>(n, 1)); };
        std::vector<qv::Node *> nodes;
        auto anyNode = [&]() -> qv::Node * {
            nodes.clear();
            for (qv::Node *n = o.first(); n; n = qv::flatNext(n))
                nodes.push_back(n);
            return nodes.empty() ? nullptr : nodes[pick(nodes.size())];
        };
        for (int i = 0; i < 12; ++i)
            catalog.createChild(i % 3 ? anyNode() : catalog.createNode(nullptr));
        std::vector<std::unique_ptr<qv::EditStep>> steps;
        QPersistentModelIndex kept;
        qv::Node *keptNode = nullptr;

        for (int i = 0; i < 400; ++i) {
            qv::Node *n = anyNode();
            switch (pick(13)) {
            case 0:
                steps.push_back(qv::createNodeStep(catalog, n));
                break;
            case 1:
                steps.push_back(n ? qv::createChildStep(catalog, n) : nullptr);
                break;
            case 2:
                steps.push_back(n && !n->hasChildren() ? qv::deleteLeafStep(catalog, n) : nullptr);
                break;
            case 3:
                steps.push_back(qv::moveUpStep(catalog, n));
                break;
            case 4:
                steps.push_back(qv::moveDownStep(catalog, n));
                break;
            case 5:
                steps.push_back(n ? qv::dragMoveStep(catalog, n, anyNode(), nullptr) : nullptr);
                break;
            case 6:
                if (!steps.empty() && steps.back())
                    steps.back()->undo(catalog);
                steps.clear(); // the rows named by older steps may differ now
                break;
            case 7:
                model.setExpanded(n, random() % 3 != 0);
                break;
            case 8:
                random() % 2 ? model.expandAll() : model.collapseAll();
                break;
            case 9:
                random() % 2 ? model.expandBranch(n) : model.reveal(n);
                break;
            case 10: {
                std::vector<const qv::Node *> matches;
                for (qv::Node *m : nodes)
                    if (random() % 4 == 0)
                        matches.push_back(m);
                model.setFilter(matches);
                break;
            }
            case 11:
                model.clearFilter();
                break;
            default:
                if (n)
                    catalog.setIcon(n, int32_t(pick(80)));
                break;
            }
            // The rows: every node whose ancestors are all open, or while
            // filtering, every match and every ancestor of one.
            std::set<const qv::Node *> onTheWay;
            for (const qv::Node *m : model.matches())
                for (const qv::Node *p = m; !p->isTop(); p = p->parent())
                    onTheWay.insert(p);
            QStringList expected, shown;
            for (qv::Node *m = o.first(); m; m = qv::flatNext(m)) {
                bool open = true;
                for (const qv::Node *p = m->parent(); !p->isTop(); p = p->parent())
                    open = open && model.isExpanded(p);
                if (model.filtering() ? onTheWay.count(m) != 0 : open)
                    expected << QString::number(quintptr(m));
            }
            for (int r = 0; r < model.rowCount(); ++r) {
                shown << QString::number(quintptr(model.nodeAt(r)));
                QCOMPARE(model.rowOf(model.nodeAt(r)), r);
                const bool match
                    = std::count(model.matches().begin(), model.matches().end(), model.nodeAt(r));
                QCOMPARE(model.data(model.index(r, 0), Qt::ForegroundRole).isValid(),
                         model.filtering() && !match);
            }
            QCOMPARE(shown, expected);
            if (kept.isValid())
                QCOMPARE(model.nodeFor(kept), keptNode);
            if (!kept.isValid() && model.rowCount() > 0) {
                kept = model.index(int(pick(size_t(model.rowCount()))), 0);
                keptNode = model.nodeFor(kept);
            }
        }
    }
}

// The chunked rows against a plain list through random insertions,
// removals, moves and rebuilds, chunks small enough to split and join often:
// every row gives its node and every node its row, or -1 once it is gone.
void TreeCommands::rowIndexMatchesAPlainList_data()
{
    QTest::addColumn<int>("chunkMax");
    QTest::addColumn<unsigned>("seed");
    for (int chunkMax : {4, 16})
        for (unsigned seed : {1u, 2u})
            QTest::addRow("chunks of %d, seed %u", chunkMax, seed) << chunkMax << seed;
}

void TreeCommands::rowIndexMatchesAPlainList()
{
    QFETCH(int, chunkMax);
    QFETCH(unsigned, seed);
    std::vector<std::unique_ptr<qv::Node>> pool;
    for (int i = 0; i < 300; ++i)
        pool.push_back(std::make_unique<qv::Node>());
    qv::RowIndex index{size_t(chunkMax)};
    std::vector<qv::Node *> plain;
    std::mt19937 random(seed);
    auto pick = [&random](size_t n) { return size_t(random() % (n + 1)); };
    auto outside = [&] {
        std::vector<qv::Node *> out;
        for (auto &n : pool)
            if (std::find(plain.begin(), plain.end(), n.get()) == plain.end())
                out.push_back(n.get());
        std::shuffle(out.begin(), out.end(), random);
        out.resize(pick(std::min<size_t>(out.size(), size_t(chunkMax) * 3)));
        return out;
    };
    for (int step = 0; step < 1500; ++step) {
        const size_t a = pick(plain.size());
        const size_t b = a + pick(std::min(plain.size() - a, size_t(chunkMax) * 3));
        switch (random() % 8) {
        case 0:
        case 1: {
            const std::vector<qv::Node *> in = outside();
            index.insert(a, in.data(), in.size());
            plain.insert(plain.begin() + long(a), in.begin(), in.end());
            break;
        }
        case 2:
        case 3:
            index.erase(a, b);
            plain.erase(plain.begin() + long(a), plain.begin() + long(b));
            break;
        case 4:
        case 5: {
            const size_t to = pick(plain.size());
            index.move(a, b, to);
            if (to < a)
                std::rotate(plain.begin() + long(to), plain.begin() + long(a), plain.begin() + long(b));
            else if (to > b)
                std::rotate(plain.begin() + long(a), plain.begin() + long(b), plain.begin() + long(to));
            break;
        }
        case 6:
            for (qv::Node *n : outside()) {
                index.append(n);
                plain.push_back(n);
            }
            break;
        default:
            if (random() % 8 == 0) {
                index.clear();
                plain.clear();
            }
        }
        QCOMPARE(index.size(), plain.size());
        for (size_t r = 0; r < plain.size(); ++r)
            QCOMPARE(index.at(r), plain[r]);
        for (auto &n : pool) {
            const auto it = std::find(plain.begin(), plain.end(), n.get());
            QCOMPARE(index.rowOf(n.get()), it == plain.end() ? -1LL : (long long)(it - plain.begin()));
        }
    }
}

void TreeCommands::actionsAreSharedByButtonAndMenu()
{
    WindowFixture f;
    qv::MainWindow *w = f.open();
    w->resize(w->minimumSize());
    QCoreApplication::processEvents();
    qv::TreePane *pane = w->treePane();
    QStringList menuOrder;
    for (QAction *a : pane->popupMenu()->actions())
        menuOrder << a->objectName();
    QCOMPARE(menuOrder,
             (QStringList{"N1", "N12", "N2", "", "N14", "N15", "", "N17", "N18", "", "treeUndoAction",
                          "treeRedoAction"}));

    const std::pair<const char *, QAction *> buttons[] = {
        {"SpeedButton1", pane->commands()->createNodeAction()},
        {"SpeedButton15", pane->commands()->createChildAction()},
        {"SpeedButton2", pane->commands()->deleteNodeAction()},
        {"SpeedButton16", pane->commands()->expandAllAction()},
        {"SpeedButton17", pane->commands()->collapseAllAction()},
        {"SpeedButton13", pane->commands()->moveUpAction()},
        {"SpeedButton14", pane->commands()->moveDownAction()},
    };
    for (const auto &[name, action] : buttons) {
        QToolButton *b = pane->button(name);
        QVERIFY2(b && b->defaultAction() == action, name);
        // The whole toolbar shows at the window's minimum size.
        QVERIFY2(b->isVisible() && pane->toolbar()->rect().contains(b->geometry()), name);
        QVERIFY(pane->popupMenu()->actions().contains(action));
        QCOMPARE(action->shortcutContext(), Qt::WidgetWithChildrenShortcut);
        QVERIFY(f.tree()->actions().contains(action));
        QCOMPARE(action->toolTip(),
                 action->statusTip() + " (" + action->shortcut().toString(QKeySequence::NativeText) + ")");
    }
    f.discard();
}

void TreeCommands::keysRunTheCommands_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("select");
    QTest::addColumn<bool>("startExpanded");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("outline");
    QTest::addColumn<QString>("expanded"); // captions of the expanded nodes
    QTest::addColumn<QStringList>("boxes");

    const QString n2 = QString::fromUtf8("Новый элемент 2");
    const QString n3 = QString::fromUtf8("Новый элемент 3");
    const QString deep = "A\n\tB\n\t\tC";
    const Qt::KeyboardModifiers none = Qt::NoModifier, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
    QTest::newRow("Insert") << "A\nB" << 1 << false << int(Qt::Key_Insert) << none << "A\n" + n2 + "\nB"
                            << "" << QStringList{};
    QTest::newRow("Ctrl+N") << "A\nB" << 1 << false << int(Qt::Key_N) << ctrl << "A\n" + n2 + "\nB"
                            << "" << QStringList{};
    QTest::newRow("Ctrl+Insert") << "A\nB" << 1 << false << int(Qt::Key_Insert) << ctrl << "A\nB\n\t" + n2
                                 << "B" << QStringList{};
    QTest::newRow("Ctrl+Shift+N") << deep << 0 << false << int(Qt::Key_N) << (ctrl | Qt::ShiftModifier)
                                  << deep + "\n\t" + n3 << "A" << QStringList{};
    QTest::newRow("Delete") << "A\nB" << 1 << false << int(Qt::Key_Delete) << none << "A"
                            << "" << QStringList{QString::fromUtf8(kConfirm)};
    QTest::newRow("Alt+Up") << "A\nB" << 1 << false << int(Qt::Key_Up) << alt << "B\nA"
                            << "" << QStringList{};
    QTest::newRow("Alt+Down") << "A\nB" << 0 << false << int(Qt::Key_Down) << alt << "B\nA"
                              << "" << QStringList{};
    // The tree's own + and - open or close the current node only.
    QTest::newRow("Ctrl+Plus") << deep << 0 << false << int(Qt::Key_Plus) << ctrl << deep << "A B"
                               << QStringList{};
    QTest::newRow("Ctrl+=") << deep << 0 << false << int(Qt::Key_Equal) << ctrl << deep << "A B"
                            << QStringList{};
    QTest::newRow("Ctrl+keypad plus") << deep << 0 << false << int(Qt::Key_Plus)
                                      << (ctrl | Qt::KeypadModifier) << deep << "A B" << QStringList{};
    QTest::newRow("Ctrl+Minus") << deep << 1 << true << int(Qt::Key_Minus) << ctrl << deep << ""
                                << QStringList{};
}

// Each node command's key, pressed in the focused tree.
void TreeCommands::keysRunTheCommands()
{
    QFETCH(QString, data);
    QFETCH(int, select);
    QFETCH(bool, startExpanded);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, outline);
    QFETCH(QString, expanded);
    QFETCH(QStringList, boxes);

    WindowFixture f;
    f.writeFile("data.dat", fileOf(data));
    QVERIFY(QTest::qWaitForWindowActive(f.open()));
    f.model()->collapseAll();
    f.selectIndex(select);
    if (startExpanded)
        f.model()->expandAll();
    f.tree()->setFocus();
    f.answer({QMessageBox::Yes});
    QTest::keyClick(f.tree(), Qt::Key(key), modifiers);
    QCOMPARE(f.outlineText(), outline);
    QStringList open;
    for (qv::Node *n = f.window()->catalog().outline().first(); n; n = qv::flatNext(n))
        if (n->hasChildren() && f.model()->isExpanded(n))
            open << qv::toQ(n->caption());
    QCOMPARE(open.join(' '), expanded);
    QCOMPARE(f.takeBoxes(), boxes);
    f.discard();
}

void TreeCommands::keysBelongToTheTree_data()
{
    QTest::addColumn<bool>("inNote"); // else in the rename line
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    const std::tuple<const char *, Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {"Insert", Qt::Key_Insert, Qt::NoModifier},
        {"Ctrl+N", Qt::Key_N, Qt::ControlModifier},
        {"Ctrl+Insert", Qt::Key_Insert, Qt::ControlModifier},
        {"Ctrl+Shift+N", Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier},
        {"Delete", Qt::Key_Delete, Qt::NoModifier},
        {"Alt+Up", Qt::Key_Up, Qt::AltModifier},
        {"Alt+Down", Qt::Key_Down, Qt::AltModifier},
        {"Ctrl+Plus", Qt::Key_Plus, Qt::ControlModifier},
        {"Ctrl+Minus", Qt::Key_Minus, Qt::ControlModifier},
    };
    for (bool inNote : {true, false})
        for (const auto &[name, key, modifiers] : keys)
            QTest::addRow("%s in the %s", name, inNote ? "note" : "rename line")
                << inNote << int(key) << modifiers;
}

// The node commands' keys do nothing to the outline while the note editor
// or the rename line has the focus.
void TreeCommands::keysBelongToTheTree()
{
    QFETCH(bool, inNote);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);

    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "\tB", "C"}));
    QVERIFY(QTest::qWaitForWindowActive(f.open()));
    f.selectIndex(1);
    QVERIFY(f.model()->isExpanded(f.node(0)));
    QWidget *target = nullptr;
    if (inNote) {
        target = f.find<QWidget>("RxRichEdit1");
        target->setFocus();
    } else {
        f.tree()->setFocus();
        QTest::keyClick(f.tree(), Qt::Key_F2);
        target = f.tree()->viewport()->findChild<QLineEdit *>();
    }
    QVERIFY(target && target->hasFocus());
    f.answer({QMessageBox::Yes});
    QTest::keyClick(target, Qt::Key(key), modifiers);
    QCOMPARE(f.outlineText(), QString("A\n\tB\nC"));
    QVERIFY(f.model()->isExpanded(f.node(0)));
    QVERIFY(f.takeBoxes().isEmpty());
    if (f.tree()->isRenaming())
        QTest::keyClick(target, Qt::Key_Escape);
    f.discard();
}

void TreeCommands::menuKeyOpensTheMenuAtTheSelection_data()
{
    QTest::addColumn<bool>("shiftF10");
    QTest::newRow("menu key") << false;
    QTest::newRow("Shift+F10") << true;
}

void TreeCommands::menuKeyOpensTheMenuAtTheSelection()
{
    QFETCH(bool, shiftF10);
    WindowFixture f;
    f.writeFile("data.dat", lines({"A", "B", "C"}));
    qv::MainWindow *w = f.open();
    f.selectIndex(1);
    f.tree()->setFocus();
    if (shiftF10) {
        QTest::keyClick(f.tree(), Qt::Key_F10, Qt::ShiftModifier);
    } else {
        // What the window system's menu key brings to the focused tree.
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                  f.tree()->mapToGlobal(QPoint(1, 1)));
        QCoreApplication::sendEvent(f.tree(), &menuKey);
    }
    QMenu *menu = w->treePane()->popupMenu();
    QVERIFY(menu->isVisible());
    const QRect item = f.tree()->itemRect(f.model()->indexFor(f.node(1)));
    QCOMPARE(menu->pos(), f.tree()->viewport()->mapToGlobal(item.bottomLeft()));
    menu->hide();
    QCOMPARE(f.selected(), f.node(1));
    f.discard();
}

QTEST_MAIN(TreeCommands)
#include "tst_tree_commands.moc"
