// Finding in the window: the filter over the outline, the find bar's keys,
// editing while filtered down to the bytes on disk, and the structural
// commands held off while the tree is filtered.
#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/common/Contrast.h"
#include "gui/editor/EditorPane.h"
#include "gui/editor/NoteEditor.h"
#include "gui/tree/FindController.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using qv::Node;
using namespace qvtest;

namespace {

const QByteArray kOutline = lines({"A", "\tB", "\t\tC", "\tB2", "D", "\tE", "Ёлка"});
const QByteArray kRecords = lines({"5", "A", "note a", "1", "C", "first line~~the Needle here, needle", "2",
                                   "B2", "no", "3", "E", "НИТКА и иголка", "4", "Ёлка", "ель", "5"});

class Window {
public:
    Window()
    {
        f.writeFile("data.dat", kOutline);
        f.writeFile("text.dat", kRecords);
        f.writeFile("Quorvel.ini", QByteArray("[Base]\r\nDragDrop=1\r\n"));
        f.open();
        QVERIFY(QTest::qWaitForWindowActive(f.window()));
    }
    qv::TreePane *pane() const { return f.window()->treePane(); }
    Node *node(const char *caption) const { return f.nodeNamed(caption); }
    // Captions of the rows the tree shows, in flat order of the expanded view.
    QStringList shownRows() const
    {
        QStringList rows;
        QAbstractItemModel *m = f.tree()->model();
        for (QModelIndex i = m->index(0, 0); i.isValid(); i = f.tree()->indexBelow(i))
            rows << i.data().toString();
        return rows;
    }
    void find(const QString &text)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        QLineEdit *field = pane()->finder()->findField();
        QVERIFY(field->isVisible() && field->hasFocus());
        for (QChar c : text) { // keyClicks takes Latin-1 only
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(field, &press);
        }
    }
    WindowFixture f;
};

} // namespace

class FindTest : public QObject {
    Q_OBJECT
private slots:
    void countTexts_data();
    void countTexts();
    void findEditLeave();
    void structuralCommandsOffWhileFiltered();
    void editsAreFoundAtTheNextKeystroke();
    void indexKeptWhileIdle();
    void colorsReadableInAnyPalette_data();
    void colorsReadableInAnyPalette();
};

void FindTest::countTexts_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QStringList>("rows");
    const QString none = QString::fromUtf8("Ничего не найдено");
    QTest::newRow("note, any case") << "NEEDLE" << QString::fromUtf8("Найдено: 1")
                                    << QStringList{"A", "B", "C"};
    QTest::newRow("caption and notes")
        << "b" << QString::fromUtf8("Найдено: 2") << QStringList{"A", "B", "B2"};
    QTest::newRow("cyrillic case") << QString::fromUtf8("нитка") << QString::fromUtf8("Найдено: 1")
                                   << QStringList{"D", "E"};
    QTest::newRow("yo is ye") << QString::fromUtf8("ЕЛ") << QString::fromUtf8("Найдено: 1")
                              << QStringList{QString::fromUtf8("Ёлка")};
    QTest::newRow("line break is not tildes") << "~" << none << QStringList{};
    QTest::newRow("nothing") << "zzz" << none << QStringList{};
}

void FindTest::countTexts()
{
    QFETCH(QString, query);
    QFETCH(QString, count);
    QFETCH(QStringList, rows);
    Window w;
    w.find(query);
    QCOMPARE(w.pane()->finder()->findCount()->text(), count);
    QCOMPARE(w.shownRows(), rows);
    w.f.discard();
}

// Ctrl+F, type, Enter, edit the note, Esc: the edit lands in the right record
// and the tree comes back as it was, the found node selected.
void FindTest::findEditLeave()
{
    Window w;
    w.f.model()->collapseAll();
    w.f.model()->setExpanded(w.node("D"), true);
    w.pane()->selectNode(w.node("E"));
    w.find("needle");
    QCOMPARE(w.pane()->finder()->findCount()->text(), QString::fromUtf8("Найдено: 1"));

    QTest::keyClick(w.pane()->finder()->findField(), Qt::Key_Return);
    QCOMPARE(w.pane()->selectedNode(), w.node("C"));
    auto *note = w.f.window()->editorPane()->editor();
    QCOMPARE(note->noteText(), QString("first line\r\nthe Needle here, needle"));
    const std::vector<qv::NoteEditor::LinkRange> found{{15, 21}, {28, 34}};
    QCOMPARE(note->foundRanges(), found);
    QCOMPARE(note->textCursor().position(), 15);
    QTest::keyClick(w.pane()->finder()->findField(), Qt::Key_F3,
                    Qt::ShiftModifier); // wraps onto the only match
    QCOMPARE(w.pane()->selectedNode(), w.node("C"));

    note->setFocus();
    note->moveCursor(QTextCursor::End);
    QTest::keyClicks(note, "!");
    // The caption that no longer matches after a rename stays shown.
    QCOMPARE(w.shownRows(), (QStringList{"A", "B", "C"}));

    w.pane()->finder()->findField()->setFocus();
    QTest::keyClick(w.pane()->finder()->findField(), Qt::Key_Escape);
    QVERIFY(!w.pane()->finder()->findBar()->isVisible());
    QVERIFY(!w.f.model()->filtering());
    QCOMPARE(w.pane()->selectedNode(), w.node("C"));
    QVERIFY(w.f.model()->isExpanded(w.node("D"))); // the expansion before
    QVERIFY(w.f.model()->isExpanded(w.node("B"))); // and the way to C
    QVERIFY(note->foundRanges().empty());

    w.f.saveButton()->click();
    QCOMPARE(w.f.readFile("text.dat"),
             lines({"5", "A", "note a", "1", "C", "first line~~the Needle here, needle!", "2", "B2", "no",
                    "3", "E", "НИТКА и иголка", "4", "Ёлка", "ель", "5"}));
    QCOMPARE(w.f.readFile("data.dat"), kOutline);
    w.f.discard();
}

void FindTest::structuralCommandsOffWhileFiltered()
{
    Window w;
    qv::TreePane *pane = w.pane();
    const QStringList structural{"N1", "N12", "N2", "N17", "N18"};
    pane->selectNode(w.node("B2"));
    pane->commands()->createNodeAction()->trigger(); // something to take back
    w.find("n");
    QVERIFY(pane->filtering());
    for (const QString &name : structural)
        QVERIFY2(!pane->action(name)->isEnabled(), qPrintable(name));
    QVERIFY(!pane->commands()->undoAction()->isEnabled());
    const QString before = w.f.outlineText();
    pane->commands()->createNode();
    pane->commands()->deleteNode();
    pane->commands()->moveUp();
    pane->commands()->undo();
    w.f.tree()->setFocus();
    QTest::keyClick(w.f.tree(), Qt::Key_Insert);
    QTest::keyClick(w.f.tree(), Qt::Key_Z, Qt::ControlModifier);
    // No drag starts on a filtered tree.
    const QRect row = w.f.tree()->itemRect(w.f.tree()->model()->index(0, 0));
    QTest::mousePress(w.f.tree()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseMove(w.f.tree()->viewport(), row.center() + QPoint(0, 40));
    QCOMPARE(w.f.tree()->dragState(), qv::OutlineView::DragState::None);
    QTest::mouseRelease(w.f.tree()->viewport(), Qt::LeftButton, {}, row.center() + QPoint(0, 40));
    QCOMPARE(w.f.outlineText(), before);

    pane->finder()->findField()->clear();
    QVERIFY(!pane->filtering());
    for (const QString &name : structural)
        QVERIFY2(pane->action(name)->isEnabled(), qPrintable(name));
    QVERIFY(pane->commands()->undoAction()->isEnabled());
    w.f.discard();
}

// What was typed into a note is found by the next query, and so is a node
// created since the last one.
void FindTest::editsAreFoundAtTheNextKeystroke()
{
    Window w;
    w.find("zq");
    QCOMPARE(w.pane()->finder()->findCount()->text(), QString::fromUtf8("Ничего не найдено"));
    w.pane()->finder()->findField()->clear();
    w.pane()->selectNode(w.node("B2"));
    auto *note = w.f.window()->editorPane()->editor();
    note->setFocus();
    QTest::keyClicks(note, "zqx");
    w.find("zq");
    QCOMPARE(w.shownRows(), (QStringList{"A", "B2"}));
    QTest::keyClick(w.pane()->finder()->findField(), Qt::Key_Escape);
    w.f.tree()->setFocus();
    QTest::keyClick(w.f.tree(), Qt::Key_Insert); // a new node, named as new nodes are
    const QString created
        = w.pane()->selectedNode() ? qv::toQ(w.pane()->selectedNode()->caption()) : QString();
    w.find(created);
    QVERIFY(w.shownRows().contains(created));
    w.f.discard();
}

// The index follows the catalogue while the window idles: ready after the
// load, and again after a structural command, with no Ctrl+F.
void FindTest::indexKeptWhileIdle()
{
    Window w;
    const qv::FindController *finder = w.pane()->finder();
    QTRY_VERIFY(finder->indexReady());
    w.f.tree()->setFocus();
    QTest::keyClick(w.f.tree(), Qt::Key_Insert);
    QVERIFY(!finder->indexReady());
    QTRY_VERIFY(finder->indexReady());
    w.f.discard();
}

void FindTest::colorsReadableInAnyPalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

// The stored tree background is light by default; a dark theme's light text,
// the dimmed rows, the find's highlight and the links must still read on it.
void FindTest::colorsReadableInAnyPalette()
{
    QFETCH(bool, dark);
    const QPalette saved = QApplication::palette();
    if (dark) {
        QPalette p;
        for (auto [role, color] : {std::pair{QPalette::Window, QColor(53, 53, 53)},
                                   {QPalette::WindowText, QColor(Qt::white)},
                                   {QPalette::Base, QColor(42, 42, 42)},
                                   {QPalette::Text, QColor(Qt::white)},
                                   {QPalette::Button, QColor(53, 53, 53)},
                                   {QPalette::ButtonText, QColor(Qt::white)}})
            p.setColor(role, color);
        QApplication::setPalette(p);
    }
    {
        Window w;
        using qv::contrast::ratio;
        const QPalette tree = w.f.tree()->palette();
        const QColor base = tree.color(QPalette::Base), ink = tree.color(QPalette::Text);
        QVERIFY(ratio(ink, base) >= 4.5);
        if (!dark)
            QCOMPARE(ink, QApplication::palette().color(QPalette::Text)); // a readable choice is kept

        w.find(QStringLiteral("C"));
        const QColor dim = w.f.model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>();
        QVERIFY(ratio(dim, base) >= 4.5 && dim != ink);

        qv::NoteEditor *editor = w.f.window()->editorPane()->editor();
        editor->setNoteText(QStringLiteral("see www.example.org"));
        const QList<QTextLayout::FormatRange> formats = editor->document()->firstBlock().layout()->formats();
        QVERIFY(!formats.isEmpty());
        const QColor link = formats.first().format.foreground().color();
        QVERIFY(ratio(link, editor->palette().color(QPalette::Base)) >= 4.5);
        if (!dark)
            QCOMPARE(link, QColor(0, 0, 255));
        w.f.discard();
    }
    QApplication::setPalette(saved);
}

QTEST_MAIN(FindTest)
#include "tst_find.moc"
