// Taking tree commands back and making them again, from the tree's keys and
// its menu, down to the bytes of the saved files.
#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "gui/editor/NoteEditor.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QUndoStack>

using qv::Node;
using namespace qvtest;

namespace {

// Records out of outline order, one without a node, one node without a record.
const QByteArray kOutline = lines({"A", "\tB", "\t\tC", "\tB2", "D", "\tE", "F"});
const QByteArray kRecords = lines({"6", "F", "note f", "7", "C", "note c", "2", "X", "orphan", "4", "A",
                                   "note a", "1", "D", "note d", "5", "B2", "note b2", "3"});

const QString kUndo = QString::fromUtf8("Отменить");
const QString kRedo = QString::fromUtf8("Повторить");

QString named(const QString &prefix, const char *step, const QString &caption)
{
    return prefix + ": " + QString::fromUtf8(step) + QString::fromUtf8(" «") + caption
        + QString::fromUtf8("»");
}

class Window {
public:
    explicit Window(bool dragDrop = false)
    {
        f.writeFile("data.dat", kOutline);
        f.writeFile("text.dat", kRecords);
        f.writeFile("Quorvel.ini", QByteArray("[Base]\r\nDragDrop=") + (dragDrop ? "1" : "0") + "\r\n");
        f.open();
        f.model()->expandAll();
        QCoreApplication::processEvents();
    }

    qv::TreePane *pane() const { return f.window()->treePane(); }

    Node *node(const char *caption) const { return f.nodeNamed(caption); }

    void select(const char *caption)
    {
        Node *n = node(caption);
        QVERIFY2(n, caption);
        pane()->selectNode(n);
    }

    QPoint labelOf(const char *caption) const
    {
        const QRect item = f.tree()->itemRect(f.model()->indexFor(node(caption)));
        return {item.right() - 2, item.center().y()};
    }

    // The mouse-driven drag of the tree, dropped on the label of `onto`.
    void drag(const char *from, const char *onto)
    {
        QWidget *viewport = f.tree()->viewport();
        const QPoint start = labelOf(from);
        const QPoint end = labelOf(onto);
        QTest::mousePress(viewport, Qt::LeftButton, {}, start);
        QTest::mouseMove(viewport, start + QPoint(0, 8));
        QTest::mouseMove(viewport, end);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, end);
    }

    void key(Qt::Key k, Qt::KeyboardModifiers modifiers)
    {
        f.tree()->setFocus();
        QTest::keyClick(f.tree(), k, modifiers);
    }

    // Saves and returns data.dat and text.dat.
    QByteArray saved()
    {
        if (!f.window()->saveAll())
            return "not saved";
        return f.readFile("data.dat") + "\n--\n" + f.readFile("text.dat");
    }

    WindowFixture f;
};

} // namespace

class TreeUndo : public QObject {
    Q_OBJECT
private slots:
    void everyCommandBackAndAgainByteForByte();
    void menuItemsFollowTheHistory();
    void keysUndoInTheFocusedPart();
    void noteFollowsTheRecordBack();
};

// Each command through its control, named in the undo item; as many Ctrl+Z
// bring back the files, the selection and the record order; redo all brings
// back the end state.
void TreeUndo::everyCommandBackAndAgainByteForByte()
{
    Window w(true);
    QAbstractItemModelTester modelCheck(w.f.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAction *undo = w.pane()->commands()->undoAction();
    w.select("F");
    const QByteArray before = w.saved();
    QVERIFY(!w.f.saveButton()->isEnabled());

    w.f.click("SpeedButton1");
    const QString made = qv::toQ(w.f.selected()->caption());
    QCOMPARE(undo->text(), named(kUndo, "создание узла", made));

    w.key(Qt::Key_F2, {});
    auto *line = w.f.tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(line);
    line->setText(QString::fromUtf8("Новое"));
    QTest::keyClick(line, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(undo->text(), named(kUndo, "переименование", made));

    w.f.click("bi5");
    QCOMPARE(undo->text(), named(kUndo, "смена значка", QString::fromUtf8("Новое")));

    w.select("C");
    WindowFixture::answer({QMessageBox::Yes});
    w.f.click("SpeedButton2");
    QCOMPARE(undo->text(), named(kUndo, "удаление", "C"));

    w.select("B2");
    w.f.click("SpeedButton13");
    QCOMPARE(undo->text(), named(kUndo, "перемещение вверх", "B2"));
    w.f.click("SpeedButton14");
    QCOMPARE(undo->text(), named(kUndo, "перемещение вниз", "B2"));

    w.select("D");
    w.drag("D", "A");
    QCOMPARE(w.f.outlineText(), QString::fromUtf8("A\n\tB\n\tD\n\t\tE\nB2\nНовое\nF"));
    QCOMPARE(undo->text(), named(kUndo, "перетаскивание", "D"));

    w.select("A");
    w.f.click("SpeedButton15");
    QCOMPARE(undo->text(), named(kUndo, "создание потомка", qv::toQ(w.f.selected()->caption())));
    const QString endOutline = w.f.outlineText();
    const QString endSelected = qv::toQ(w.f.selected()->caption());
    const QByteArray after = w.saved();

    const int steps = w.pane()->commands()->undoStack()->count();
    QCOMPARE(steps, 8);
    for (int i = 0; i < steps; ++i) {
        w.key(Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(w.f.saveButton()->isEnabled());
    }
    QVERIFY(!undo->isEnabled());
    QCOMPARE(w.f.selected(), w.node("F"));
    QCOMPARE(w.saved(), before);

    for (int i = 0; i < steps; ++i)
        w.key(i % 2 ? Qt::Key_Y : Qt::Key_Z,
              i % 2 ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(w.f.saveButton()->isEnabled());
    QCOMPARE(w.f.outlineText(), endOutline);
    QCOMPARE(qv::toQ(w.f.selected()->caption()), endSelected);
    QCOMPARE(w.saved(), after);
    QVERIFY(w.f.takeBoxes().size() == 1); // the delete's question only
    w.f.discard();
}

// Plain and disabled with nothing to take back; named by the step; a new
// command after an undo drops what could be made again.
void TreeUndo::menuItemsFollowTheHistory()
{
    Window w;
    QAction *undo = w.pane()->commands()->undoAction();
    QAction *redo = w.pane()->commands()->redoAction();
    const QList<QAction *> menu = w.pane()->popupMenu()->actions();
    QCOMPARE(menu.mid(menu.size() - 3), (QList<QAction *>{menu.at(menu.size() - 3), undo, redo}));
    QVERIFY(menu.at(menu.size() - 3)->isSeparator());
    QCOMPARE(undo->objectName(), QString("treeUndoAction"));
    QCOMPARE(redo->objectName(), QString("treeRedoAction"));

    auto state = [&] {
        return QStringList{undo->text(), undo->isEnabled() ? "on" : "off", redo->text(),
                           redo->isEnabled() ? "on" : "off"};
    };
    QCOMPARE(state(), (QStringList{kUndo, "off", kRedo, "off"}));
    w.select("B2");
    WindowFixture::answer({QMessageBox::Yes});
    w.f.trigger("N2");
    QCOMPARE(state(), (QStringList{named(kUndo, "удаление", "B2"), "on", kRedo, "off"}));
    undo->trigger();
    QCOMPARE(w.f.selected(), w.node("B2"));
    QCOMPARE(state(), (QStringList{kUndo, "off", named(kRedo, "удаление", "B2"), "on"}));
    redo->trigger();
    QVERIFY(!w.node("B2"));
    undo->trigger();
    w.f.trigger("N1");
    const QString made = qv::toQ(w.f.selected()->caption());
    QCOMPARE(state(), (QStringList{named(kUndo, "создание узла", made), "on", kRedo, "off"}));
    QCOMPARE(w.pane()->commands()->undoStack()->count(), 1);
    w.f.discard();
}

// Ctrl+Z takes back the tree's step while the tree has the focus, ahead of
// a window-wide action on the same key; in the note and in the rename line
// it stays theirs.
void TreeUndo::keysUndoInTheFocusedPart()
{
    Window w;
    int windowWide = 0;
    auto *dummy = new QAction(w.f.window());
    dummy->setShortcuts(QKeySequence::Undo);
    dummy->setShortcutContext(Qt::WindowShortcut);
    w.f.window()->addAction(dummy);
    connect(dummy, &QAction::triggered, this, [&windowWide] { ++windowWide; });
    QVERIFY(QTest::qWaitForWindowActive(w.f.window()));

    w.select("F");
    w.f.click("SpeedButton13");
    const QString moved = w.f.outlineText();

    auto *note = w.f.window()->editorPane()->editor();
    note->setFocus();
    QTest::keyClicks(note, "xy");
    const QString typed = note->toPlainText();
    QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(note->toPlainText() != typed);
    QCOMPARE(w.f.outlineText(), moved);

    w.select("A");
    w.key(Qt::Key_F2, {});
    auto *line = w.f.tree()->viewport()->findChild<QLineEdit *>();
    QVERIFY(line && line->hasFocus());
    QTest::keyClicks(line, "q");
    QTest::keyClick(line, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(line->text(), QString("A"));
    QTest::keyClick(line, Qt::Key_Escape);
    QCOMPARE(w.f.outlineText(), moved);

    w.select("F");
    w.key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.f.outlineText(), QString::fromUtf8(kOutline).remove('\r').trimmed());
    QCOMPARE(windowWide, 0);
    w.f.discard();
}

// An icon given to a node without a record made one, which then took a
// note: the undo takes both away, and the note shown with them.
void TreeUndo::noteFollowsTheRecordBack()
{
    Window w;
    w.select("E");
    w.f.click("bi5");
    auto *note = w.f.window()->editorPane()->editor();
    note->setFocus();
    QTest::keyClicks(note, "zz");
    w.key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.f.selected(), w.node("E"));
    QCOMPARE(note->toPlainText(), QString());
    w.key(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(note->toPlainText(), QString("zz"));
    QCOMPARE(w.saved(), kOutline + "\n--\n7" + kRecords.mid(1) + lines({"E", "zz", "5"}));
    w.f.discard();
}

QTEST_MAIN(TreeUndo)
#include "tst_tree_undo.moc"
