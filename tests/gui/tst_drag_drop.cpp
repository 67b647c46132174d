// Moving branches of the outline by dragging them in the tree, driven by
// mouse presses, moves and releases on the tree's viewport.
#include "support/Fixture.h"
#include "support/OutlineViewProbe.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "gui/editor/NoteEditor.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimerEvent>

#include <vector>

using qv::Node;
using qvtest::cp;
using qvtest::lines;

namespace {

// Flat order: A B C B2 D C1 E C2 F (indices 0..8).
const QByteArray kOutline = lines({"A", "\tB", "\t\tC", "\tB2", "D", "\tC1", "\t\tE", "\tC2", "F"});
const char *const kCaptions[] = {"A", "B", "C", "B2", "D", "C1", "E", "C2", "F"};

QByteArray recordFile()
{
    QByteArray out = "9\r\n";
    int icon = 3;
    for (const char *c : kCaptions) {
        out += cp(c) + "\r\n" + cp("заметка ") + cp(c) + "~~" + cp("вторая строка") + "\r\n";
        out += QByteArray::number(icon++) + "\r\n";
    }
    return out;
}

// Every node with the same note, so that showing notes changes nothing.
QByteArray sameNotes()
{
    QByteArray out = "9\r\n";
    for (const char *c : kCaptions)
        out += cp(c) + "\r\n" + cp("одна~~заметка") + "\r\n0\r\n";
    return out;
}

QString noteOf(const char *caption)
{
    return QStringLiteral(u"заметка ") + QString::fromUtf8(caption) + QStringLiteral(u"\r\nвторая строка");
}

enum class Spot { Icon, Label, Arrow, Indent, RightOfLabel };

} // namespace

class DragDropTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unarmedPressesMoveNothing_data();
    void unarmedPressesMoveNothing();
    void releaseWithinThresholdOnlyClicks();
    void dropsThatChangeNothing_data();
    void dropsThatChangeNothing();
    void dropOnOwnParentMovesBehindSiblings();
    void branchDroppedOnAnotherRoot_data();
    void branchDroppedOnAnotherRoot();
    void moveLeavesTheSaveButtonAlone();
    void dragFeedbackOverTheTree();
    void customDropCallsTheHandlerOnly_data();
    void customDropCallsTheHandlerOnly();
    void optionAppliedFromTheSettingsPanel();
    void deepBranchMovesWhole();
    void controlKeepsTheSelection_data();
    void controlKeepsTheSelection();

private:
    // Starts the window on the sample catalogue, every branch expanded.
    void start(bool dragDrop, const QByteArray &records = recordFile());
    Node *node(const char *caption) const;
    QModelIndex indexOf(const char *caption) const;
    QPoint at(const char *caption, Spot spot) const;
    QWidget *viewport() const;
    QPoint belowTheNodes() const;
    // Press, move through `via` and release at the last point.
    void drag(QPoint from, std::initializer_list<QPoint> via, Qt::MouseButton button = Qt::LeftButton);
    void dragNode(const char *from, const char *onto);
    QString note() const;

    std::unique_ptr<qvtest::WindowFixture> fx_;
};

void DragDropTest::init() { fx_ = std::make_unique<qvtest::WindowFixture>(); }

void DragDropTest::cleanup() { fx_.reset(); }

void DragDropTest::start(bool dragDrop, const QByteArray &records)
{
    fx_->writeFile(QStringLiteral("data.dat"), kOutline);
    fx_->writeFile(QStringLiteral("text.dat"), records);
    fx_->writeFile(QStringLiteral("Quorvel.ini"),
                   QByteArray("[Base]\r\nDragDrop=") + (dragDrop ? "1" : "0") + "\r\n");
    fx_->open();
    QCOMPARE(fx_->tree()->dragDropEnabled(), dragDrop);
    fx_->model()->expandAll();
    QCoreApplication::processEvents();
}

Node *DragDropTest::node(const char *caption) const { return fx_->nodeNamed(caption); }

QModelIndex DragDropTest::indexOf(const char *caption) const { return fx_->model()->indexFor(node(caption)); }

QPoint DragDropTest::at(const char *caption, Spot spot) const
{
    qv::OutlineView *tree = fx_->tree();
    const QModelIndex index = indexOf(caption);
    const QRect item = tree->itemRect(index);
    const int y = item.center().y();
    switch (spot) {
    case Spot::Icon:
        return {item.left() + 3, y};
    case Spot::Label:
        return {item.right() - 2, y};
    case Spot::Arrow:
        return {tree->visualRect(index).left() - tree->indentation() / 2, y};
    case Spot::Indent:
        return {2, y};
    case Spot::RightOfLabel:
        return {item.right() + 6, y};
    }
    return {};
}

QWidget *DragDropTest::viewport() const { return fx_->tree()->viewport(); }

QPoint DragDropTest::belowTheNodes() const
{
    const QRect last = fx_->tree()->visualRect(indexOf("F"));
    return {last.left() + 10, last.bottom() + 15};
}

void DragDropTest::drag(QPoint from, std::initializer_list<QPoint> via, Qt::MouseButton button)
{
    QTest::mousePress(viewport(), button, {}, from);
    QPoint last = from;
    for (const QPoint &p : via) {
        QTest::mouseMove(viewport(), p);
        last = p;
    }
    QTest::mouseRelease(viewport(), button, {}, last);
}

void DragDropTest::dragNode(const char *from, const char *onto)
{
    const QPoint start = at(from, Spot::Label);
    const QPoint end = at(onto, Spot::Label);
    drag(start, {start + QPoint(0, 8), end});
}

QString DragDropTest::note() const { return fx_->window()->editorPane()->editor()->noteText(); }

// Presses that arm no drag: the option off, other buttons, or a left press
// beside the item. Nothing moves whatever the pointer does; a left click is
// reported at the release as usual.
void DragDropTest::unarmedPressesMoveNothing_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("spot");
    QTest::addColumn<int>("clicks");

    QTest::newRow("option off") << false << int(Qt::LeftButton) << int(Spot::Label) << 1;
    QTest::newRow("right button") << true << int(Qt::RightButton) << int(Spot::Label) << 0;
    QTest::newRow("middle button") << true << int(Qt::MiddleButton) << int(Spot::Label) << 0;
    QTest::newRow("expand button") << true << int(Qt::LeftButton) << int(Spot::Arrow) << 1;
    QTest::newRow("indent") << true << int(Qt::LeftButton) << int(Spot::Indent) << 1;
    QTest::newRow("right of label") << true << int(Qt::LeftButton) << int(Spot::RightOfLabel) << 1;
}

void DragDropTest::unarmedPressesMoveNothing()
{
    QFETCH(bool, enabled);
    QFETCH(int, button);
    QFETCH(int, spot);
    QFETCH(int, clicks);
    start(enabled);
    // C1 has an expand button and an indent.
    const QString before = fx_->outlineText();
    QSignalSpy clicked(fx_->window()->treePane(), &qv::TreePane::treeClicked);
    const auto b = Qt::MouseButton(button);

    QTest::mousePress(viewport(), b, {}, at("C1", Spot(spot)));
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::None);
    QCOMPARE(clicked.count(), 0);
    QTest::mouseMove(viewport(), at("C1", Spot(spot)) + QPoint(0, 12));
    QTest::mouseMove(viewport(), at("F", Spot::Label));
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::None);
    QVERIFY(!fx_->tree()->dragImage());
    QTest::mouseRelease(viewport(), b, {}, at("F", Spot::Label));

    QCOMPARE(fx_->outlineText(), before);
    QCOMPARE(clicked.count(), clicks);
}

// With the option on, a press on the label is reported as a click at once;
// released before the pointer went 7 pixels away it moves nothing, reports
// no second click and starts no renaming at once.
void DragDropTest::releaseWithinThresholdOnlyClicks()
{
    start(true);
    fx_->selectIndex(4); // D
    QCOMPARE(fx_->selected(), node("D"));
    const QString before = fx_->outlineText();
    QSignalSpy clicked(fx_->window()->treePane(), &qv::TreePane::treeClicked);
    QSignalSpy viewClicked(fx_->tree(), &QAbstractItemView::clicked);

    const QPoint p = at("D", Spot::Label);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, p);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(viewClicked.count(), 1);
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::Pending);
    QTest::mouseMove(viewport(), p + QPoint(6, 6));
    QTest::mouseMove(viewport(), p + QPoint(-6, 6));
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::Pending);
    QVERIFY(!fx_->tree()->dragImage());
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, p + QPoint(-6, 6));

    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::None);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(viewClicked.count(), 1);
    QCOMPARE(fx_->outlineText(), before);
    QCOMPARE(fx_->selected(), node("D"));
    QCOMPARE(note(), noteOf("D"));
    QVERIFY(!fx_->tree()->viewport()->findChild<QLineEdit *>());

    // The click on the already selected label still renames, after the
    // double-click time, as it does without dragging.
    const int timer = fx_->tree()->renameTimerId();
    QVERIFY(timer);
    QTimerEvent due(timer);
    QCoreApplication::sendEvent(fx_->tree(), &due);
    auto *label = fx_->tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("D"));
    QTest::keyClick(label, Qt::Key_Escape);
    QCoreApplication::processEvents();

    // A drag that starts from it does not.
    QTest::mousePress(viewport(), Qt::LeftButton, {}, p);
    QVERIFY(fx_->tree()->renameTimerId());
    QTest::mouseMove(viewport(), p + QPoint(0, 7));
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::Active);
    QVERIFY(!fx_->tree()->renameTimerId());
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, p);
    QCOMPARE(fx_->outlineText(), before);
    QVERIFY(!fx_->tree()->renameTimerId());
}

// Drops that are accepted but move nothing; the drop itself reports no click.
void DragDropTest::dropsThatChangeNothing_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("on itself") << "self";
    QTest::newRow("empty space below the nodes") << "below";
    QTest::newRow("expand button of a node") << "arrow";
    QTest::newRow("indent of a node") << "indent";
    QTest::newRow("right of a label") << "right";
    QTest::newRow("outside the tree") << "outside";
    QTest::newRow("on a node after Esc") << "escape";
}

void DragDropTest::dropsThatChangeNothing()
{
    QFETCH(QString, where);
    start(true);
    const QString before = fx_->outlineText();
    QSignalSpy clicked(fx_->window()->treePane(), &qv::TreePane::treeClicked);
    std::vector<Node *> deleted;
    qv::OutlineViewProbe::onDeleteNode(fx_->tree()) = [&deleted](Node *n) { deleted.push_back(n); };

    QPoint end;
    if (where == "self")
        end = at("C2", Spot::Icon);
    else if (where == "below")
        end = belowTheNodes();
    else if (where == "arrow")
        end = at("A", Spot::Arrow);
    else if (where == "indent")
        end = at("B", Spot::Indent);
    else if (where == "right")
        end = at("F", Spot::RightOfLabel);
    else if (where == "escape")
        end = at("F", Spot::Label);
    else
        end = QPoint(viewport()->width() + 20, at("F", Spot::Label).y());
    if (where == "below")
        QVERIFY2(viewport()->rect().contains(end), "the tree has no room below its nodes");

    // Over another node first, then to the drop point.
    const QPoint from = at("C2", Spot::Label);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport(), from + QPoint(0, 9));
    QTest::mouseMove(viewport(), at("F", Spot::Label));
    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::Active);
    if (where == "escape") {
        QTest::keyClick(fx_->tree(), Qt::Key_Escape);
        QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::None);
        QVERIFY(!fx_->tree()->dragImage());
    }
    QTest::mouseMove(viewport(), end);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, end);

    QCOMPARE(fx_->tree()->dragState(), qv::OutlineView::DragState::None);
    QCOMPARE(fx_->outlineText(), before);
    QVERIFY(deleted.empty());
    QCOMPARE(clicked.count(), 1); // the one at the press
    QCOMPARE(fx_->selected(), node("C2"));
    QVERIFY(!fx_->tree()->dropTarget());
}

void DragDropTest::dropOnOwnParentMovesBehindSiblings()
{
    start(true);
    std::vector<QString> deleted;
    qv::OutlineViewProbe::onDeleteNode(fx_->tree())
        = [&deleted](Node *n) { deleted.push_back(qv::toQ(n->caption())); };
    QSignalSpy inserted(fx_->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(fx_->model(), &QAbstractItemModel::rowsRemoved);

    dragNode("C1", "D");

    // The view hears of one new row and one removed row, whatever the branch holds.
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(removed.count(), 1);

    QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB\n\t\tC\n\tB2\nD\n\tC2\n\tC1\n\t\tE\nF"));
    QCOMPARE(deleted, (std::vector<QString>{"E", "C1"}));
    // D keeps its expanded state, the copy comes collapsed.
    QVERIFY(fx_->model()->isExpanded(node("D")));
    QVERIFY(!fx_->model()->isExpanded(node("C1")));
    // C1 stood before C2: C2 took its place and is selected.
    QCOMPARE(fx_->selected(), node("C2"));
    QCOMPARE(note(), noteOf("C2"));
}

void DragDropTest::branchDroppedOnAnotherRoot_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("expanded");
    QTest::newRow("a leaf") << "F" << false;
    QTest::newRow("an expanded root") << "A" << true;
    QTest::newRow("a collapsed root") << "A" << false;
}

// D (children C1 with E, and C2) dropped on a root: the branch becomes its
// last child whole, icons and notes kept, collapsed, D's nodes gone deepest
// first; the target keeps its own expanded state; the files get the new
// outline and the same records.
void DragDropTest::branchDroppedOnAnotherRoot()
{
    QFETCH(QString, target);
    QFETCH(bool, expanded);
    start(true);
    const QByteArray t = target.toUtf8();
    if (!expanded)
        fx_->model()->setExpanded(node(t.constData()), false);
    std::vector<QString> deleted;
    qv::OutlineViewProbe::onDeleteNode(fx_->tree())
        = [&deleted](Node *n) { deleted.push_back(qv::toQ(n->caption())); };
    std::vector<int32_t> iconsBefore;
    for (const char *c : {"D", "C1", "E", "C2"})
        iconsBefore.push_back(node(c)->imageIndex());
    QSignalSpy clicked(fx_->window()->treePane(), &qv::TreePane::treeClicked);

    dragNode("D", t.constData());

    QCOMPARE(deleted, (std::vector<QString>{"C2", "E", "C1", "D"}));
    QCOMPARE(clicked.count(), 1);
    const QString moved = QStringLiteral("\tD\n\t\tC1\n\t\t\tE\n\t\tC2");
    if (target == "A")
        QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB\n\t\tC\n\tB2\n") + moved + QStringLiteral("\nF"));
    else
        QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB\n\t\tC\n\tB2\nF\n") + moved);
    std::vector<int32_t> iconsAfter;
    for (const char *c : {"D", "C1", "E", "C2"})
        iconsAfter.push_back(node(c)->imageIndex());
    QCOMPARE(iconsAfter, iconsBefore);
    QCOMPARE(fx_->model()->isExpanded(node(t.constData())), expanded);
    for (const char *c : {"D", "C1"})
        QVERIFY2(!fx_->model()->isExpanded(node(c)), c);
    QCOMPARE(fx_->tree()->visualRect(indexOf("D")).isValid(), expanded);

    // D stood between A and F: F took its place and is selected and shown.
    QCOMPARE(fx_->selected(), node("F"));
    QCOMPARE(note(), noteOf("F"));

    // The moved nodes still show their notes.
    for (const char *c : {"D", "C1", "E", "C2"}) {
        fx_->selectIndex(int(fx_->window()->catalog().outline().absoluteIndex(node(c))));
        QCOMPARE(fx_->selected(), node(c));
        QCOMPARE(note(), noteOf(c));
    }

    QVERIFY(fx_->close());
    const QByteArray movedFile = lines({"\tD", "\t\tC1", "\t\t\tE", "\t\tC2"});
    if (target == "A")
        QCOMPARE(fx_->readFile(QStringLiteral("data.dat")),
                 lines({"A", "\tB", "\t\tC", "\tB2"}) + movedFile + lines({"F"}));
    else
        QCOMPARE(fx_->readFile(QStringLiteral("data.dat")),
                 lines({"A", "\tB", "\t\tC", "\tB2", "F"}) + movedFile);
    QCOMPARE(fx_->readFile(QStringLiteral("text.dat")), recordFile());
}

// With every note alike, selecting moves nothing into the records, so the
// save-all button shows what the move itself did: nothing.
void DragDropTest::moveLeavesTheSaveButtonAlone()
{
    start(true, sameNotes());
    fx_->selectIndex(1);
    QVERIFY(!fx_->saveButton()->isEnabled());

    dragNode("B", "D");
    QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB2\nD\n\tC1\n\t\tE\n\tC2\n\tB\n\t\tC\nF"));
    QCOMPARE(fx_->selected(), node("B2"));
    QVERIFY(!fx_->saveButton()->isEnabled());
    QVERIFY(!fx_->window()->catalog().modified());
}

// While the drag runs: the image follows the pointer held at 2,2, the row
// under the pointer is highlighted (kept over empty space, cleared off the
// tree and at the release), and the cursor tells whether a drop is taken.
// A branch cannot go under one of its own nodes: refused there, and the
// release leaves everything as it was.
void DragDropTest::dragFeedbackOverTheTree()
{
    start(true);
    qv::OutlineView *tree = fx_->tree();
    const QString before = fx_->outlineText();
    std::vector<Node *> deleted;
    qv::OutlineViewProbe::onDeleteNode(tree) = [&deleted](Node *n) { deleted.push_back(n); };

    const QPoint p = at("D", Spot::Icon);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, p);
    QTest::mouseMove(viewport(), p + QPoint(7, 0));
    QCOMPARE(tree->dragState(), qv::OutlineView::DragState::Active);
    QVERIFY(tree->dragImage());
    QCOMPARE(tree->dragImage()->pos(), p + QPoint(7, 0) - QPoint(2, 2));
    QCOMPARE(tree->dragImage()->size(), tree->itemRect(indexOf("D")).size());
    QCOMPARE(tree->dropTarget(), node("D"));
    QVERIFY(tree->dropAccepted());
    QCOMPARE(viewport()->cursor().shape(), Qt::DragMoveCursor);

    const QPoint overF = at("F", Spot::Label);
    QTest::mouseMove(viewport(), overF);
    QCOMPARE(tree->dragImage()->pos(), overF - QPoint(2, 2));
    QCOMPARE(tree->dropTarget(), node("F"));
    QVERIFY(tree->dropAccepted());

    QTest::mouseMove(viewport(), belowTheNodes());
    QCOMPARE(tree->dropTarget(), node("F"));
    QVERIFY(tree->dropAccepted());

    QTest::mouseMove(viewport(), QPoint(viewport()->width() + 30, overF.y()));
    QVERIFY(!tree->dropTarget());
    QVERIFY(!tree->dragImage());
    QVERIFY(!tree->dropAccepted());

    for (const char *inside : {"C1", "E", "C2"}) {
        QTest::mouseMove(viewport(), at(inside, Spot::Label));
        QCOMPARE(tree->dropTarget(), node(inside));
        QVERIFY(tree->dragImage());
        QVERIFY2(!tree->dropAccepted(), inside);
        QCOMPARE(viewport()->cursor().shape(), Qt::ForbiddenCursor);
    }
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at("C2", Spot::Label));
    QVERIFY(!tree->dropTarget());
    QVERIFY(!tree->dragImage());
    QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(fx_->outlineText(), before);
    QVERIFY(deleted.empty());
}

void DragDropTest::customDropCallsTheHandlerOnly_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("another node") << "F";
    QTest::newRow("the dragged node itself") << "D";
    QTest::newRow("a node of its own branch") << "E";
}

void DragDropTest::customDropCallsTheHandlerOnly()
{
    QFETCH(QString, target);
    start(true);
    const QString before = fx_->outlineText();
    qv::OutlineView *tree = fx_->tree();
    qv::OutlineViewProbe::setCustomDragDrop(tree, true);
    std::vector<std::pair<Node *, Node *>> calls;
    qv::OutlineViewProbe::onDragNodeEvent(tree)
        = [&calls](Node *src, Node *dst) { calls.emplace_back(src, dst); };
    std::vector<Node *> deleted;
    qv::OutlineViewProbe::onDeleteNode(tree) = [&deleted](Node *n) { deleted.push_back(n); };
    const QByteArray t = target.toUtf8();

    dragNode("D", t.constData());

    QCOMPARE(calls.size(), size_t(1));
    QCOMPARE(calls[0].first, node("D"));
    QCOMPARE(calls[0].second, node(t.constData()));
    QCOMPARE(fx_->outlineText(), before);
    QVERIFY(deleted.empty());

    // Without a handler the option alone changes nothing: the drop moves.
    if (target == "F") {
        qv::OutlineViewProbe::onDragNodeEvent(tree) = nullptr;
        dragNode("D", "F");
        QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB\n\t\tC\n\tB2\nF\n\tD\n\t\tC1\n\t\t\tE\n\t\tC2"));
    }
}

// The option takes effect when the settings panel applies it.
void DragDropTest::optionAppliedFromTheSettingsPanel()
{
    start(false);
    fx_->click(QStringLiteral("SpeedButton10"));
    auto *box = fx_->find<QCheckBox>(QStringLiteral("CheckBox1"));
    QVERIFY(box);
    box->setChecked(true);
    QVERIFY(!fx_->tree()->dragDropEnabled());
    fx_->click(QStringLiteral("Button2"));
    QVERIFY(fx_->tree()->dragDropEnabled());

    dragNode("B2", "F");
    QCOMPARE(fx_->outlineText(), QStringLiteral("A\n\tB\n\t\tC\nD\n\tC1\n\t\tE\n\tC2\nF\n\tB2"));
}

// A branch nested far deeper than any recursion could follow moves whole
// and comes out of the files the same.
void DragDropTest::deepBranchMovesWhole()
{
    constexpr int kDepth = 20000;
    QByteArray outline = lines({"X"});
    QByteArray records = "0\r\n";
    for (int i = 0; i < kDepth; ++i)
        outline += QByteArray(i + 1, '\t') + "n" + QByteArray::number(i) + "\r\n";
    outline += lines({"Y"});
    fx_->writeFile(QStringLiteral("data.dat"), outline);
    fx_->writeFile(QStringLiteral("text.dat"), records);
    fx_->writeFile(QStringLiteral("Quorvel.ini"), "[Base]\r\nDragDrop=1\r\n");
    fx_->open();
    size_t count = 0;
    qv::OutlineViewProbe::onDeleteNode(fx_->tree()) = [&count](Node *) { ++count; };

    dragNode("X", "Y");

    QCOMPARE(count, size_t(kDepth + 1));
    const qv::Outline &o = fx_->window()->catalog().outline();
    QCOMPARE(o.rootCount(), size_t(1));
    QCOMPARE(o.nodeCount(), size_t(kDepth + 2));
    QCOMPARE(qv::toQ(qv::deepestLast(o.root(0))->caption()), QStringLiteral("n%1").arg(kDepth - 1));
    QCOMPARE(qv::deepestLast(o.root(0))->depth(), size_t(kDepth + 1));
    QCOMPARE(fx_->selected(), node("Y"));
    QVERIFY(fx_->close());
    QByteArray expected = lines({"Y", "\tX"});
    for (int i = 0; i < kDepth; ++i)
        expected += QByteArray(i + 2, '\t') + "n" + QByteArray::number(i) + "\r\n";
    QCOMPARE(fx_->readFile(QStringLiteral("data.dat")), expected);
}

void DragDropTest::controlKeepsTheSelection_data()
{
    QTest::addColumn<bool>("dragDrop");
    QTest::newRow("drag off") << false;
    QTest::newRow("drag on") << true;
}

// Ctrl with a click or with Space on the selected node leaves it selected,
// so a following keystroke in the editor still has a note to go to.
void DragDropTest::controlKeepsTheSelection()
{
    QFETCH(bool, dragDrop);
    start(dragDrop);
    fx_->selectIndex(4); // D
    QCOMPARE(fx_->selected(), node("D"));
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::ControlModifier, at("D", Spot::Label));
    QCOMPARE(fx_->selected(), node("D"));
    fx_->tree()->setFocus();
    QTest::keyClick(fx_->tree(), Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(fx_->selected(), node("D"));
    // and Ctrl with a click on another node selects that one
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::ControlModifier, at("F", Spot::Label));
    QCOMPARE(fx_->selected(), node("F"));
    QCOMPARE(note(), noteOf("F"));
}

QTEST_MAIN(DragDropTest)
#include "tst_drag_drop.moc"
