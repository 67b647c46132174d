// The menu of every command, the keys list, the window's own keys and its
// title.
#include "support/Fixture.h"

#include "catalog/Outline.h"
#include "gui/common/ToolbarStrip.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/IconPalette.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/CommandMenu.h"
#include "gui/window/MainWindow.h"
#include "gui/window/ShortcutsDialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

using qvtest::lines;
using qvtest::WindowFixture;

namespace {

const QByteArray kOutline = lines({"A", "\tB"});
const QByteArray kRecords = lines({"2", "A", "see www.example.org now", "1", "B", "note b", "2"});

class Window {
public:
    Window()
    {
        f.writeFile("data.dat", kOutline);
        f.writeFile("text.dat", kRecords);
        w = f.open();
        QApplication::setActiveWindow(w);
        menu = w->commandMenu();
    }
    ~Window() { f.discard(); }
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    WindowFixture f;
    qv::MainWindow *w = nullptr;
    qv::CommandMenu *menu = nullptr;
};

// Where an action's keys work: the note, the tree, or the whole window.
QString scopeOf(const qv::MainWindow &w, const QAction *a)
{
    const QList<QObject *> on = a->associatedObjects();
    if (a->shortcutContext() == Qt::WidgetShortcut && on.contains(w.editorPane()->editor()))
        return QStringLiteral("note");
    if (a->shortcutContext() == Qt::WidgetWithChildrenShortcut && on.contains(w.treePane()->tree()))
        return QStringLiteral("tree");
    return QStringLiteral("window");
}

// Closes the menus a test opened (a submenu opens after its menu).
void closePopups()
{
    QCoreApplication::processEvents();
    while (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void everyCommandInMenuAndListWithItsKeys();
    void noKeyServesTwoCommandsOfOnePlace();
    void keysTriggerTheirCommands_data();
    void keysTriggerTheirCommands();
    void keyCommandsDoTheirWork();
    void shortcutsListNarrows();
    void menuButtonNeverAddsARow();
    void titleNamesFolderAndUnsavedState();
    void emptyCatalogueStartsInTheTree();
    void commandLineAnswersWithoutAWindow_data();
    void commandLineAnswersWithoutAWindow();
};

void CommandsTest::everyCommandInMenuAndListWithItsKeys()
{
    Window win;
    win.menu->showShortcuts();
    QTreeWidget *list = win.menu->shortcutsDialog()->list();
    QSet<const QAction *> grouped;
    QStringList faults;
    const QList<QAction *> submenus = win.menu->menu()->actions();
    QCOMPARE(submenus.size(), win.menu->groups().size());
    for (qsizetype g = 0; g < submenus.size(); ++g) {
        const qv::CommandGroup &group = win.menu->groups().at(g);
        QCOMPARE(submenus[g]->text().remove('&'), group.title);
        QTreeWidgetItem *head = list->findItems(group.title, Qt::MatchExactly).value(0);
        QVERIFY2(head, qPrintable(group.title));
        for (QAction *a : group.actions) {
            grouped.insert(a);
            if (a != win.menu->menuAction() && !submenus[g]->menu()->actions().contains(a))
                faults << group.title + ": " + a->objectName() + " not in the menu";
            const QList<QTreeWidgetItem *> rows
                = list->findItems(qv::ShortcutsDialog::commandName(a), Qt::MatchExactly | Qt::MatchRecursive);
            const bool listed = std::any_of(rows.begin(), rows.end(), [a](const QTreeWidgetItem *row) {
                return row->text(1) == qv::ShortcutsDialog::keysText(a);
            });
            if (!listed)
                faults << a->objectName() + " not listed with " + qv::ShortcutsDialog::keysText(a);
        }
    }
    // No command with a key is left out.
    for (const QAction *a : win.w->findChildren<QAction *>())
        if (!a->shortcuts().isEmpty() && !grouped.contains(a))
            faults << a->objectName() + " has keys but no place in the menu";
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void CommandsTest::noKeyServesTwoCommandsOfOnePlace()
{
    Window win;
    QHash<QString, QHash<QKeySequence, QString>> owners; // scope -> key -> action
    QStringList faults;
    for (const qv::CommandGroup &group : win.menu->groups())
        for (const QAction *a : group.actions)
            for (const QKeySequence &key : a->shortcuts()) {
                QString &owner = owners[scopeOf(*win.w, a)][key];
                if (!owner.isEmpty() && owner != a->objectName())
                    faults << owner + " and " + a->objectName() + " share " + key.toString();
                owner = a->objectName();
            }
    // A window-wide key would be ambiguous beside the note's own; the tree
    // takes only its undo and redo keys ahead of the note's window-wide ones.
    const QList<QKeySequence> treeFirst = win.w->treePane()->commands()->undoAction()->shortcuts()
        + win.w->treePane()->commands()->redoAction()->shortcuts();
    for (const QString &scope : {QStringLiteral("note"), QStringLiteral("tree")})
        for (auto it = owners[scope].cbegin(); it != owners[scope].cend(); ++it)
            if (owners["window"].contains(it.key()) && !(scope == "tree" && treeFirst.contains(it.key())))
                faults << it.value() + " and " + owners["window"][it.key()] + " share " + it.key().toString();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void CommandsTest::keysTriggerTheirCommands_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("action");
    const QString note = "note", tree = "tree";
    QTest::newRow("menu") << tree << QKeySequence(Qt::Key_F10) << "menuAction";
    QTest::newRow("keys list") << note << QKeySequence(Qt::Key_F1) << "shortcutsAction";
    QTest::newRow("quit") << note << QKeySequence(Qt::CTRL | Qt::Key_Q) << "quitAction";
    QTest::newRow("palette") << note << QKeySequence(Qt::Key_F8) << "paletteAction";
    QTest::newRow("settings") << tree << QKeySequence(Qt::Key_F9) << "settingsToggleAction";
    QTest::newRow("about") << note << QKeySequence(Qt::CTRL | Qt::Key_F1) << "aboutToggleAction";
    QTest::newRow("upper") << note << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B) << "upperCaseAction";
    QTest::newRow("capital") << note << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P) << "capitalizeAction";
    QTest::newRow("lower") << note << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M) << "lowerCaseAction";
    QTest::newRow("link") << note << QKeySequence(Qt::CTRL | Qt::Key_Return) << "openCaretLinkAction";
    QTest::newRow("link, keypad") << note << QKeySequence(Qt::CTRL | Qt::Key_Enter) << "openCaretLinkAction";
}

void CommandsTest::keysTriggerTheirCommands()
{
    QFETCH(QString, focus);
    QFETCH(QKeySequence, key);
    QFETCH(QString, action);
    Window win;
    QAction *a = win.w->findChild<QAction *>(action);
    QVERIFY(a);
    QSignalSpy spy(a, &QAction::triggered);
    QWidget *target
        = focus == "note" ? static_cast<QWidget *>(win.w->editorPane()->editor()) : win.w->treePane()->tree();
    target->setFocus();
    // The case commands work on a selection.
    win.w->editorPane()->editor()->selectAll();
    QTest::keySequence(target, key);
    QCOMPARE(spy.count(), 1);
    closePopups();
}

void CommandsTest::keyCommandsDoTheirWork()
{
    Window win;
    qv::NoteEditor *note = win.w->editorPane()->editor();
    qv::OutlineView *tree = win.w->treePane()->tree();

    // Alone, Alt opens the menu; with another key it does not.
    QTest::keyPress(note, Qt::Key_Alt);
    QTest::keyRelease(note, Qt::Key_Alt);
    QVERIFY(win.menu->menu()->isVisible());
    closePopups();
    note->setFocus();
    QTest::keyPress(note, Qt::Key_Alt);
    QTest::keyClick(note, Qt::Key_Shift, Qt::AltModifier);
    QTest::keyRelease(note, Qt::Key_Alt);
    QVERIFY(!win.menu->menu()->isVisible());

    // Ctrl+Enter opens the link the caret is in.
    QStringList opened;
    qv::EditorPane::setUrlOpener([&opened](const QString &url) { opened << url; });
    QTextCursor c = note->textCursor();
    c.setPosition(6);
    note->setTextCursor(c);
    QTest::keyClick(note, Qt::Key_Return, Qt::ControlModifier);
    qv::EditorPane::setUrlOpener({});
    QCOMPARE(opened, QStringList{"www.example.org"});

    // The case commands change the selection.
    note->selectAll();
    QTest::keyClick(note, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(note->toPlainText(), QStringLiteral("SEE WWW.EXAMPLE.ORG NOW"));

    // The palette by keys: in at the first icon, the arrows move, Enter sets
    // the selected node's icon, Esc goes back to the tree.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_F8);
    qv::IconPalette *palette = win.w->treePane()->palette();
    QVERIFY(palette->isExpanded());
    QCOMPARE(palette->focusedIcon(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QCOMPARE(palette->focusedIcon(), 12);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(win.f.selected()->imageIndex(), 12);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(tree->hasFocus());

    // The settings panel's key takes the focus into it, and back out.
    QTest::keyClick(tree, Qt::Key_F9);
    QCoreApplication::processEvents();
    QVERIFY(win.w->settingsPanel()->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F9);
    QCoreApplication::processEvents();
    QVERIFY(note->hasFocus());

    // Ctrl+Q closes as the close button does: the close sequence saves.
    QTest::keyClick(note, Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(win.w->closed());
    QVERIFY(!win.w->isVisible());
    QVERIFY(win.f.readFile("text.dat").contains("SEE WWW"));
}

void CommandsTest::shortcutsListNarrows()
{
    Window win;
    QTest::keyClick(win.w->treePane()->tree(), Qt::Key_F1);
    qv::ShortcutsDialog *dialog = win.menu->shortcutsDialog();
    QVERIFY(dialog && dialog->isVisible());
    QTest::keyClicks(dialog->filterField(), QStringLiteral("ctrl+q"));
    QStringList shown;
    for (QTreeWidgetItemIterator it(dialog->list(), QTreeWidgetItemIterator::NotHidden); *it; ++it)
        shown << (*it)->text(0);
    QCOMPARE(shown, (QStringList{"Каталог", "Выход"}));
    dialog->close();
}

void CommandsTest::menuButtonNeverAddsARow()
{
    Window win;
    qv::ToolbarStrip *strip = win.w->editorPane()->toolbar();
    QToolButton *button = win.menu->button();
    QCOMPARE(button->text(), QStringLiteral("☰"));
    int shownAt = 0;
    for (int width = 200; width <= 700; width += 5) {
        strip->resize(width, strip->heightForWidth(width));
        QCoreApplication::processEvents();
        if (!button->isVisible())
            continue;
        ++shownAt;
        const QRect at = button->geometry();
        QVERIFY2(strip->rect().contains(at), qPrintable(QString::number(width)));
        for (const QToolBar *group : strip->groups())
            QVERIFY2(!group->geometry().intersects(at), qPrintable(QString::number(width)));
    }
    QVERIFY(shownAt > 80);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(win.menu->menu()->isVisible());
    closePopups();
}

void CommandsTest::titleNamesFolderAndUnsavedState()
{
    QCOMPARE(qv::MainWindow::titleFor("notes", false), QStringLiteral("notes[*] — Quorvel"));
    QCOMPARE(qv::MainWindow::titleFor("notes", true), QStringLiteral("notes[*] (только чтение) — Quorvel"));
    Window win;
    const QString folder = QFileInfo(win.f.path(QStringLiteral("x"))).dir().dirName();
    QCOMPARE(win.w->windowTitle(), folder + "[*] — Quorvel");
    QVERIFY(!win.w->isWindowModified());
    QTest::keyClicks(win.w->editorPane()->editor(), "x");
    QVERIFY(win.w->isWindowModified());
    QVERIFY(win.w->saveAll());
    QVERIFY(!win.w->isWindowModified());
}

void CommandsTest::emptyCatalogueStartsInTheTree()
{
    WindowFixture f;
    qv::MainWindow *w = f.open();
    QApplication::setActiveWindow(w);
    qv::NoteEditor *note = w->editorPane()->editor();
    QVERIFY(w->treePane()->tree()->hasFocus());
    QVERIFY(note->placeholderText().startsWith(QStringLiteral("Каталог пуст.")));
    // Typing into the note makes no box, keystroke after keystroke.
    WindowFixture::takeBoxes();
    note->setFocus();
    QTest::keyClicks(note, "abc");
    QCOMPARE(note->toPlainText(), QString());
    QCOMPARE(WindowFixture::takeBoxes(), QStringList());
    // The first node: the note is the node's, as ever.
    f.trigger("N1");
    QVERIFY(note->placeholderText().isEmpty());
    QTest::keyClicks(note, "abc");
    QCOMPARE(note->toPlainText(), QStringLiteral("abc"));
    f.discard();
}

void CommandsTest::commandLineAnswersWithoutAWindow_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Использование: quorvel [ПАПКА]\n"
                          << "";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << "quorvel-tool import"
                        << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "Quorvel 1.2\n"
                             << "";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << ""
                                    << "quorvel: неизвестный параметр --bogus\nСправка: quorvel --help\n";
    QTest::newRow("two folders") << QStringList{"a", "b"} << 1 << ""
                                 << "quorvel: программе нужна одна папка каталога\n";
}

void CommandsTest::commandLineAnswersWithoutAWindow()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess program;
    // No display: the answer needs none.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QV_PROGRAM_PATH), args);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), status);
    const QString stdOut = QString::fromUtf8(program.readAllStandardOutput());
    const QString stdErr = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), qPrintable(stdOut));
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    CommandsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_commands.moc"
