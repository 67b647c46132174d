// Another program (a sync engine) replaces the catalogue files while the
// window runs: the window takes the new version in by itself, without a
// box: reloaded when nothing is unsaved, merged with the unsaved changes
// otherwise, the conflicts shown in the bar above the tree.
#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/window/CatalogKeeper.h"
#include "gui/window/ConflictBar.h"
#include "gui/window/OutsideWatcher.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QToolButton>
#include <QUndoStack>

#include <cstdio>

using namespace qvtest;

namespace {

const QByteArray kData = lines({"A", "\tA1", "\tA2", "B"});
const QByteArray kText = lines({"2", "A1", "one~~two~~three", "0", "B", "bee", "0"});

// As a sync engine writes: each file to a temporary beside it, renamed into
// place, data.dat first and text.dat a moment later.
void writeAsSyncEngine(WindowFixture &f, const QByteArray &data, const QByteArray &text)
{
    const std::pair<const char *, const QByteArray *> files[] = {{"data.dat", &data}, {"text.dat", &text}};
    for (const auto &[name, bytes] : files) {
        const QString tmp = QStringLiteral(".syncthing.%1.tmp").arg(QString::fromLatin1(name));
        f.writeFile(tmp, *bytes);
        QCOMPARE(std::rename(qPrintable(f.path(tmp)), qPrintable(f.path(QString::fromLatin1(name)))), 0);
        QTest::qWait(300);
    }
}

// Opens the folder, expands A, selects A1 and puts its note's caret at
// `caret`.
qv::MainWindow *openAtA1(WindowFixture &f, int caret)
{
    f.writeFile("data.dat", kData);
    f.writeFile("text.dat", kText);
    qv::MainWindow *w = f.open();
    f.selectIndex(1);
    QTextCursor cursor = w->editorPane()->editor()->textCursor();
    cursor.setPosition(caret);
    w->editorPane()->editor()->setTextCursor(cursor);
    return w;
}

void typeAt(qv::MainWindow *w, int position, const char *text)
{
    QTextCursor cursor = w->editorPane()->editor()->textCursor();
    cursor.setPosition(position);
    w->editorPane()->editor()->setTextCursor(cursor);
    QTest::keyClicks(w->editorPane()->editor(), QString::fromUtf8(text));
}

} // namespace

class OutsideChanges : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reloadedInPlace();
    void mergedWithUnsavedChanges();
    void conflictsSteppedThrough();
    void conflictCopyAppearingIsMergedAndSaved();

private:
    QTemporaryDir state_;
};

void OutsideChanges::initTestCase()
{
    // The bases of the merges are kept here, not in the user's state folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(state_.path()));
}

void OutsideChanges::cleanupTestCase() { qunsetenv("XDG_STATE_HOME"); }

// Nothing unsaved: the new version is shown at once, the selected node,
// its open parent and the caret where they were, the tree's steps gone
// (they name nodes that were), nothing to save and no box.
void OutsideChanges::reloadedInPlace()
{
    WindowFixture f;
    qv::MainWindow *w = openAtA1(f, 5);
    f.trigger("N18"); // a step on the stack, saved
    QVERIFY(w->saveAll());
    f.selectIndex(2);
    QTextCursor cursor = w->editorPane()->editor()->textCursor();
    cursor.setPosition(5);
    w->editorPane()->editor()->setTextCursor(cursor);
    QVERIFY(!w->catalog().modified());

    const QByteArray data = lines({"C", "A", "\tA1", "\tA2", "B"});
    const QByteArray text = lines({"2", "A1", "one~~TWO~~three", "0", "B", "bee", "0"});
    writeAsSyncEngine(f, data, text);
    QTRY_VERIFY_WITH_TIMEOUT(f.nodeNamed("C"), 10000);

    QCOMPARE(f.outlineText(), QStringLiteral("C\nA\n\tA1\n\tA2\nB"));
    QCOMPARE(f.selected(), f.nodeNamed("A1"));
    QVERIFY(f.model()->isExpanded(f.nodeNamed("A")));
    QCOMPARE(w->editorPane()->editor()->noteText(), QStringLiteral("one\r\nTWO\r\nthree"));
    QCOMPARE(w->editorPane()->editor()->textCursor().position(), 5);
    QCOMPARE(w->treePane()->commands()->undoStack()->count(), 0);
    QVERIFY(!w->catalog().modified());
    QVERIFY(!w->keeper()->session().unflushed());
    QVERIFY(!f.saveButton()->isEnabled());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("data.dat"), data);
    QCOMPARE(f.readFile("text.dat"), text);
}

// Unsaved edits: the other version is merged in, the result unsaved and in
// the journal at once, so a window killed then offers it back whole; the
// save writes both sides' edits.
void OutsideChanges::mergedWithUnsavedChanges()
{
    WindowFixture f;
    qv::MainWindow *w = openAtA1(f, 0);
    typeAt(w, 0, "my ");
    writeAsSyncEngine(f, lines({"A", "\tA1", "\tA2", "B", "C"}),
                      lines({"3", "A1", "one~~two~~three", "0", "B", "bee changed", "0", "C", "sea", "0"}));
    QTRY_VERIFY_WITH_TIMEOUT(f.nodeNamed("C"), 10000);
    QVERIFY(w->catalog().modified());
    QVERIFY(f.saveButton()->isEnabled());
    QCOMPARE(f.selected(), f.nodeNamed("A1"));
    QCOMPARE(w->editorPane()->editor()->textCursor().position(), 3);
    QVERIFY(!w->outsideWatcher()->conflictBar()->isVisibleTo(w));
    QVERIFY(f.takeBoxes().isEmpty());

    // Killed: the journal holds the merge.
    f.discard();
    f.answer({QMessageBox::Yes});
    f.open();
    QCOMPARE(f.takeBoxes().size(), 1);
    QVERIFY(f.close());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("data.dat"), lines({"A", "\tA1", "\tA2", "B", "C"}));
    QCOMPARE(f.readFile("text.dat"),
             lines({"3", "A1", "my one~~two~~three", "0", "B", "bee changed", "0", "C", "sea", "0"}));
}

// Both sides changed one line of two notes: the bar counts the conflicts
// and its buttons select each conflicting node in turn.
void OutsideChanges::conflictsSteppedThrough()
{
    WindowFixture f;
    qv::MainWindow *w = openAtA1(f, 0);
    typeAt(w, 0, "ours ");
    f.selectIndex(3);
    typeAt(w, 0, "ours ");
    writeAsSyncEngine(f, kData, lines({"2", "A1", "theirs one~~two~~three", "0", "B", "theirs bee", "0"}));
    qv::ConflictBar *bar = w->outsideWatcher()->conflictBar();
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisibleTo(w), 10000);
    QCOMPARE(bar->objectName(), QStringLiteral("conflictBar"));
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(bar->count(), size_t(2));
    QVERIFY2(bar->label()->text().contains(QString::fromUtf8("расхождений 2")),
             qPrintable(bar->label()->text()));
    QCOMPARE(f.selected(), f.nodeNamed("A1"));
    const std::pair<const char *, const char *> steps[]
        = {{"conflictNext", "B"}, {"conflictNext", "A1"}, {"conflictPrevious", "B"}};
    for (const auto &[button, caption] : steps) {
        f.click(QString::fromLatin1(button));
        QCOMPARE(f.selected(), f.nodeNamed(caption));
    }
    f.click("conflictClose");
    QVERIFY(!bar->isVisibleTo(w));
    QVERIFY(w->catalog().modified());
    f.discard();
}

// A sync engine's conflict copy appearing while the window runs: its edits
// join the catalogue, which is saved, and the copy leaves the folder.
void OutsideChanges::conflictCopyAppearingIsMergedAndSaved()
{
    WindowFixture f;
    openAtA1(f, 0);
    f.writeFile("text.sync-conflict-20261208-120000-ABCDEFG.dat", kText);
    f.writeFile("data.sync-conflict-20261208-120001-ABCDEFG.dat", kData + "D\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.nodeNamed("D"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.exists("data.sync-conflict-20261208-120001-ABCDEFG.dat"), 5000);
    QVERIFY(!f.exists("text.sync-conflict-20261208-120000-ABCDEFG.dat"));
    QCOMPARE(f.readFile("data.dat"), kData + "D\r\n");
    QCOMPARE(f.readFile("text.dat"), kText);
    QVERIFY(f.takeBoxes().isEmpty());
}

QTEST_MAIN(OutsideChanges)
#include "tst_outside_changes.moc"
