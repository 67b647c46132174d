// The editor pane against a catalogue: showing notes, storing every edit in
// the record, the enabling rules, the case commands and the link menu.
#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ToolbarStrip.h"
#include "gui/editor/EditorPane.h"
#include "settings/Settings.h"
#include "support/Fixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace qv;

namespace {

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint pos)
{
    const Qt::MouseButtons held
        = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// Typing any text, one key event per character.
void type(QWidget *w, const QString &text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(w, &release);
    }
}

const QString kNoNodeText
    = QStringLiteral("Введённый текст не будет сохранён,\r\nтак как нет ни одного узла к которому\r\n"
                     "можно прикрепить этот текст.\r\n\r\nСоздайте сначала узел в дереве.");

} // namespace

class EditorPaneTest : public QObject {
    Q_OBJECT

    qv::Catalog cat;
    EditorPane *pane = nullptr;
    QWidget *host = nullptr; // a window around the pane, for the keys
    qv::Node *a = nullptr, *b = nullptr, *c = nullptr;
    qv::Node *selected = nullptr;
    qv::Settings prefs;
    QStringList opened;
    QList<QPair<QString, QString>> started;

    NoteEditor *ed() const { return pane->editor(); }
    // A button's state is its action's, shared with the menu item.
    bool enabled(const char *name) const
    {
        if (QToolButton *toolButton = pane->button(QLatin1String(name))) {
            if (toolButton->isEnabled() != toolButton->defaultAction()->isEnabled())
                return !toolButton->isEnabled(); // fails the caller's check either way
            return toolButton->isEnabled();
        }
        return pane->action(QLatin1String(name))->isEnabled();
    }
    QString record(qv::Node *n) const
    {
        const std::optional<qv::RecordView> r = cat.records().find(n->caption());
        return r ? qv::toQ(r->text) : QStringLiteral("<none>");
    }
    void show(qv::Node *n)
    {
        selected = n;
        pane->showNote(n);
    }
    void select(int from, int to)
    {
        QTextCursor cur(ed()->document());
        cur.setPosition(from);
        cur.setPosition(to, QTextCursor::KeepAnchor);
        ed()->setTextCursor(cur);
    }
    QPoint pointAt(int position) const
    {
        QTextCursor cur(ed()->document());
        cur.setPosition(position);
        const QRect r = ed()->cursorRect(cur);
        return QPoint(r.left() + 2, r.center().y());
    }
    void clickAt(Qt::MouseButton button, QPoint press, QPoint release)
    {
        sendMouse(ed()->viewport(), QEvent::MouseButtonPress, button, press);
        sendMouse(ed()->viewport(), QEvent::MouseButtonRelease, button, release);
    }
    // Right click, then the menu as it opened.
    QMenu *rightClick(QPoint press, QPoint release)
    {
        clickAt(Qt::RightButton, press, release);
        QMenu *menu = pane->contextMenu();
        if (!menu->isVisible())
            return nullptr;
        menu->hide();
        return menu;
    }

private slots:
    void initTestCase()
    {
        qv::msg::setNextAnswers({});
        EditorPane::setUrlOpener([this](const QString &url) { opened << url; });
        EditorPane::setBrowserStarter([this](const QString &program, const QString &arg) {
            started.append({program, arg});
        });
    }

    void init()
    {
        cat.clear();
        qv::Outline &o = cat.outline();
        a = o.append(o.top(), W("Первый"));
        b = o.append(o.top(), W("Второй"));
        c = o.append(o.top(), W("Без записи"));
        cat.records().append(W("Первый"), W("строка~~вторая"), "0");
        cat.records().append(W("Второй"), W("http://b.example/ и текст"), "0");
        cat.clearChanged();
        selected = nullptr;
        prefs.linkSingleClick = false;
        opened.clear();
        started.clear();
        qv::msg::clearShown();
        pane = new EditorPane(cat);
        pane->setSelectedNodeProvider([this] { return selected; });
        pane->setSettings(&prefs);
        pane->resize(600, 400);
        pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(pane));
    }
    void cleanup()
    {
        delete pane;
        pane = nullptr;
        delete host;
        host = nullptr;
    }

    void initialStates()
    {
        for (const char *name :
             {"SpeedButton3", "SpeedButton4", "SpeedButton5", "SpeedButton6", "SpeedButton7", "SpeedButton12",
              "SpeedButton9", "SpeedButton18", "SpeedButton19", "N3", "N4", "N11"})
            QVERIFY2(!enabled(name), name);
        QVERIFY(enabled("N6"));
        QVERIFY(pane->button(QStringLiteral("SpeedButton10"))->isCheckable());
        QVERIFY(pane->button(QStringLiteral("SpeedButton11"))->isCheckable());
        QCOMPARE(pane->button(QStringLiteral("SpeedButton18"))->statusTip(),
                 QStringLiteral("Первая буква большая, остальные маленькие"));
        QCOMPARE(pane->button(QStringLiteral("SpeedButton18"))->toolTip(),
                 QStringLiteral("Первая буква большая, остальные маленькие"));
        // the panel toggles end the toolbar, side by side
        auto inStrip = [this](const char *name) {
            QWidget *button = pane->button(QLatin1String(name));
            return QRect(button->mapTo(pane->toolbar(), QPoint()), button->size());
        };
        const QRect settings = inStrip("SpeedButton10");
        const QRect about = inStrip("SpeedButton11");
        QVERIFY(settings.left() > inStrip("SpeedButton19").right());
        QVERIFY(about.left() > settings.right() && about.left() - settings.right() < 4);
        QVERIFY(pane->toolbar()->rect().contains(about));
        QCOMPARE(pane->toolbar()->height(), 30);
        QCOMPARE(pane->button(QStringLiteral("SpeedButton4"))->focusPolicy(), Qt::NoFocus);
        QVERIFY(pane->action(QStringLiteral("N7"))->isSeparator());
    }

    void loadBeforeAttachIsNoEdit()
    {
        show(a);
        QCOMPARE(ed()->noteText(), QStringLiteral("строка\r\nвторая"));
        QVERIFY(!cat.modified());
        QVERIFY(!pane->saveButton()->isEnabled());
        QVERIFY(!enabled("SpeedButton4"));
    }

    void loadingADifferentNoteCountsAsAnEdit()
    {
        pane->attachChangeHandler();
        QSignalSpy edits(pane, &EditorPane::edited);
        show(a);
        QVERIFY(cat.modified());
        QVERIFY(pane->saveButton()->isEnabled());
        QVERIFY(!edits.isEmpty());
        QCOMPARE(record(a), QStringLiteral("строка~~вторая"));
        QCOMPARE(ed()->textCursor().position(), 0);

        // the same note again: nothing at all
        cat.clearChanged();
        edits.clear();
        ed()->moveCursor(QTextCursor::End);
        show(a);
        QVERIFY(!cat.modified());
        QVERIFY(edits.isEmpty());
        QCOMPARE(ed()->textCursor().position(), 0);
        QVERIFY(qv::msg::shownTexts().isEmpty());
    }

    void typingStoresTheRecordForm()
    {
        show(a);
        pane->attachChangeHandler();
        ed()->setFocus();
        ed()->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed(), QStringLiteral("!"));
        QTest::keyClick(ed(), Qt::Key_Return);
        type(ed(), QStringLiteral("ёж\u00A0~~"));
        QCOMPARE(record(a), QStringLiteral("строка~~вторая!~~ёж\u00A0~~"));
        QVERIFY(cat.modified());
        QVERIFY(pane->saveButton()->isEnabled());
        QVERIFY(enabled("SpeedButton4"));
        QCOMPARE(record(b), QStringLiteral("http://b.example/ и текст"));
    }

    void theEditGoesToTheNodeNowSelected()
    {
        pane->attachChangeHandler();
        show(a);
        show(b); // e.g. moved there with the keyboard
        ed()->setFocus();
        QTest::keyClicks(ed(), QStringLiteral("X"));
        QCOMPARE(record(b), QStringLiteral("Xhttp://b.example/ и текст"));
        QCOMPARE(record(a), QStringLiteral("строка~~вторая"));
    }

    void aNodeWithoutARecordShowsAnEmptyNote()
    {
        pane->attachChangeHandler();
        show(a);
        show(c);
        QCOMPARE(ed()->noteText(), QString());
        // showing it is no edit of it: no record yet
        QCOMPARE(record(c), QStringLiteral("<none>"));
        QCOMPARE(cat.records().size(), size_t(2));
        ed()->setFocus();
        QTest::keyClicks(ed(), QStringLiteral("z"));
        QCOMPARE(record(c), QStringLiteral("z"));
        QCOMPARE(record(a), QStringLiteral("строка~~вторая"));
    }

    // Two notes alike: moving from one to the other loads nothing, yet the
    // first one's steps must not be undone into the second.
    void undoStaysWithItsNote()
    {
        cat.records().setText(b->caption(), W("строка~~вторая"));
        pane->attachChangeHandler();
        show(a);
        ed()->setFocus();
        ed()->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed(), QStringLiteral("q"));
        QTest::keyClick(ed(), Qt::Key_Backspace);
        QVERIFY(enabled("SpeedButton4"));
        show(b);
        QVERIFY(!enabled("SpeedButton4"));
        QVERIFY(!enabled("SpeedButton5"));
        QTest::keyClick(ed(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(record(b), QStringLiteral("строка~~вторая"));
        QCOMPARE(ed()->noteText(), QStringLiteral("строка\r\nвторая"));

        // the same node again keeps its steps
        QTest::keyClicks(ed(), QStringLiteral("w"));
        show(b);
        pane->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(record(b), QStringLiteral("строка~~вторая"));
    }

    void typingWithNoNodeWarnsEachTime()
    {
        pane->attachChangeHandler();
        ed()->setFocus();
        QTest::keyClicks(ed(), QStringLiteral("ab"));
        QCOMPARE(qv::msg::shownTexts(), (QStringList{kNoNodeText, kNoNodeText}));
        QCOMPARE(qv::msg::shownTitles().first(), QStringLiteral("Неверное действие"));
        QCOMPARE(qv::msg::shownIcons().first(), QMessageBox::Warning);
        QCOMPARE(ed()->noteText(), QStringLiteral("ab"));
        QVERIFY(cat.modified());
        QVERIFY(pane->saveButton()->isEnabled());
        QCOMPARE(cat.records().size(), size_t(2));
    }

    void looksAreNoEdit()
    {
        show(a);
        pane->attachChangeHandler();
        pane->setEditorColors(Qt::yellow, Qt::darkBlue);
        pane->setEditorFont(QStringLiteral("Courier New"), 14);
        QVERIFY(!cat.modified());
        QCOMPARE(ed()->font().pointSize(), 14);
        QCOMPARE(ed()->palette().color(QPalette::Base), QColor(Qt::yellow));
        // the selection does not show without the focus
        QCOMPARE(ed()->palette().color(QPalette::Inactive, QPalette::Highlight), QColor(Qt::yellow));
    }

    void selectionAndUndoEnabling()
    {
        show(a);
        pane->attachChangeHandler();
        select(0, 3);
        for (const char *name : {"SpeedButton6", "SpeedButton7", "SpeedButton12", "SpeedButton9",
                                 "SpeedButton18", "SpeedButton19", "N3", "N4", "N11"})
            QVERIFY2(enabled(name), name);
        select(2, 2);
        for (const char *name : {"SpeedButton6", "SpeedButton7", "SpeedButton12", "SpeedButton9",
                                 "SpeedButton18", "SpeedButton19", "N3", "N4", "N11"})
            QVERIFY2(!enabled(name), name);
        QVERIFY(enabled("N6"));

        ed()->setFocus();
        QTest::keyClicks(ed(), QStringLiteral("q"));
        QVERIFY(enabled("SpeedButton4"));
        QVERIFY(!enabled("SpeedButton5"));
        pane->button(QStringLiteral("SpeedButton4"))->click();
        QVERIFY(!enabled("SpeedButton4"));
        QVERIFY(enabled("SpeedButton5"));
        QCOMPARE(record(a), QStringLiteral("строка~~вторая"));
    }

    void deleteLeavesTheClipboardAlone()
    {
        show(a);
        pane->attachChangeHandler();
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        select(0, 7);
        pane->button(QStringLiteral("SpeedButton12"))->click();
        QCOMPARE(record(a), QStringLiteral("вторая"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
        // cut and paste go through the clipboard
        select(0, 3);
        pane->action(QStringLiteral("N3"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("вто"));
        ed()->moveCursor(QTextCursor::End);
        pane->button(QStringLiteral("SpeedButton8"))->click();
        QCOMPARE(record(a), QStringLiteral("раявто"));
    }

    void pasteFollowsTheClipboard()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("text"));
        QVERIFY(enabled("SpeedButton8"));
        QVERIFY(enabled("N5"));
        auto *image = new QMimeData;
        image->setImageData(QImage(1, 1, QImage::Format_RGB32));
        QGuiApplication::clipboard()->setMimeData(image);
        QVERIFY(!enabled("SpeedButton8"));
        QVERIFY(!enabled("N5"));
    }

    void caseCommands_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lower") << QStringLiteral("ПрИвЕт") << 0 << 6 << "SpeedButton19"
                               << QStringLiteral("привет");
        QTest::newRow("upper with ё")
            << QStringLiteral("x ёжик y") << 2 << 6 << "SpeedButton9" << QStringLiteral("x ЁЖИК y");
        QTest::newRow("capitalise") << QStringLiteral("пРИВЕТ мИР") << 0 << 10 << "SpeedButton18"
                                    << QStringLiteral("Привет мир");
        QTest::newRow("across a line break")
            << QStringLiteral("ab\r\ncd") << 1 << 4 << "SpeedButton9" << QStringLiteral("aB\r\nCd");
        QTest::newRow("outside the code page")
            << QStringLiteral("αβ Ωmega") << 0 << 8 << "SpeedButton19" << QStringLiteral("αβ ωmega");
        QTest::newRow("no-break space kept")
            << QStringLiteral("a\u00A0b") << 0 << 3 << "SpeedButton9" << QStringLiteral("A\u00A0B");
    }
    void caseCommands()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, button);
        QFETCH(QString, expected);
        show(a);
        ed()->setNoteText(text); // as typed: may hold characters no record can
        pane->attachChangeHandler();
        select(from, to);
        pane->button(button)->click();
        QCOMPARE(ed()->noteText(), expected);
        QCOMPARE(record(a), qv::toQ(qv::editorToRecord(qv::fromQ(expected))));
        QCOMPARE(ed()->textCursor().selectionStart(), from);
        QCOMPARE(ed()->textCursor().selectionEnd(), to);
    }

    void capitaliseIsUndoneInTwoSteps()
    {
        cat.records().setText(a->caption(), W("Скажи: пРИВЕТ мИР!"));
        show(a);
        pane->attachChangeHandler();
        select(7, 17);
        pane->button(QStringLiteral("SpeedButton18"))->click();
        QCOMPARE(ed()->noteText(), QStringLiteral("Скажи: Привет мир!"));
        QCOMPARE(ed()->textCursor().selectedText(), QStringLiteral("Привет мир"));
        pane->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(ed()->noteText(), QStringLiteral("Скажи: привет мир!"));
        pane->button(QStringLiteral("SpeedButton4"))->click();
        QCOMPARE(ed()->noteText(), QStringLiteral("Скажи: пРИВЕТ мИР!"));
        QCOMPARE(record(a), QStringLiteral("Скажи: пРИВЕТ мИР!"));
    }

    void rightClickMenus()
    {
        const QString link = QStringLiteral("http://m.example/?a=1&b=2");
        cat.records().setText(a->caption(),
                              qv::fromQ(QStringLiteral("see ") + link + QStringLiteral(" plain words")));
        show(a);
        pane->attachChangeHandler();
        prefs.linkSingleClick = true; // a right click never opens, whatever the option

        QMenu *menu = rightClick(pointAt(6), pointAt(12));
        QVERIFY(menu);
        QCOMPARE(pane->linkUnderMenu(), link);
        QAction *n8 = pane->action(QStringLiteral("N8")), *n9 = pane->action(QStringLiteral("N9")),
                *n10 = pane->action(QStringLiteral("N10"));
        // '&' is doubled so it shows as itself
        const QString shown = QStringLiteral("http://m.example/?a=1&&b=2");
        QCOMPARE(n8->text(), QStringLiteral("Копировать: ") + shown);
        QCOMPARE(n9->text(), QStringLiteral("Открыть: ") + shown);
        QCOMPARE(n10->text(), QStringLiteral("Открыть в новом окне: ") + shown);
        QVERIFY(n8->isEnabled());
        QVERIFY(n9->isVisible() && n10->isVisible());
        QVERIFY(opened.isEmpty());

        n8->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), link);
        n9->trigger();
        QCOMPARE(opened, QStringList{link});
        n10->trigger();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0].first, QStringLiteral("x-www-browser"));
        QCOMPARE(started[0].second, link);

        // then on plain text: the link items go away
        const int plain = int(QStringLiteral("see ").size() + link.size()) + 3;
        menu = rightClick(pointAt(plain), pointAt(plain));
        QVERIFY(menu);
        QVERIFY(pane->linkUnderMenu().isEmpty());
        QCOMPARE(n8->text(), QStringLiteral("Копировать ссылку"));
        QVERIFY(!n8->isEnabled());
        QVERIFY(!n9->isVisible() && !n10->isVisible());
        // the open items keep their last captions while hidden
        QCOMPARE(n9->text(), QStringLiteral("Открыть: ") + shown);

        // pressed on the link, released away from it: no link items
        menu = rightClick(pointAt(6), pointAt(plain));
        QVERIFY(menu);
        QVERIFY(!n8->isEnabled());
        QVERIFY(!n9->isVisible());
        QCOMPARE(opened.size(), 1);
    }

    void leftClickOpensOnlyWithTheOption()
    {
        cat.records().setText(a->caption(), W("www.left.example"));
        show(a);
        clickAt(Qt::LeftButton, pointAt(5), pointAt(5));
        QVERIFY(opened.isEmpty());
        QCOMPARE(ed()->textCursor().position(), 5); // placed like on any text

        prefs.linkSingleClick = true; // read at the click
        clickAt(Qt::LeftButton, pointAt(3), pointAt(5));
        QCOMPARE(opened, QStringList{QStringLiteral("www.left.example")});
        // a left click leaves the menu's link alone
        QVERIFY(pane->linkUnderMenu().isEmpty());
        QCOMPARE(pane->action(QStringLiteral("N8"))->text(), QStringLiteral("Копировать ссылку"));
    }
    void actionsAreShared_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("inMenu");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("hint");
        QTest::newRow("save") << "saveAllAction"
                              << "SpeedButton3" << false << QStringLiteral("Сохранить всё (Ctrl+S)")
                              << QStringLiteral("Сохранить всё");
        QTest::newRow("undo") << "undoAction"
                              << "SpeedButton4" << false << QStringLiteral("Отменить (Ctrl+Z)")
                              << QStringLiteral("Отменить");
        QTest::newRow("redo") << "redoAction"
                              << "SpeedButton5" << false << QStringLiteral("Вернуть (Ctrl+Y)")
                              << QStringLiteral("Вернуть");
        QTest::newRow("cut") << "N3"
                             << "SpeedButton6" << true << QStringLiteral("Вырезать (Ctrl+X)")
                             << QStringLiteral("Вырезать");
        QTest::newRow("copy") << "N4"
                              << "SpeedButton7" << true << QStringLiteral("Копировать (Ctrl+C)")
                              << QStringLiteral("Копировать");
        QTest::newRow("paste") << "N5"
                               << "SpeedButton8" << true << QStringLiteral("Вставить (Ctrl+V)")
                               << QStringLiteral("Вставить");
        QTest::newRow("delete") << "N11"
                                << "SpeedButton12" << true << QStringLiteral("Удалить (Del)")
                                << QStringLiteral("Удалить");
        QTest::newRow("select all") << "N6"
                                    << "" << true << QStringLiteral("Выделить всё (Ctrl+A)") << QString();
        QTest::newRow("upper") << "upperCaseAction"
                               << "SpeedButton9" << false << QStringLiteral("Все буквы большие")
                               << QStringLiteral("Все буквы большие");
        QTest::newRow("settings") << "settingsToggleAction"
                                  << "SpeedButton10" << false << QStringLiteral("Настройка")
                                  << QStringLiteral("Настройка");
        QTest::newRow("about") << "aboutToggleAction"
                               << "SpeedButton11" << false << QStringLiteral("О программе...")
                               << QStringLiteral("О программе...");
    }
    void actionsAreShared()
    {
        QFETCH(QString, action);
        QFETCH(QString, button);
        QFETCH(bool, inMenu);
        QFETCH(QString, toolTip);
        QFETCH(QString, hint);
        QAction *command = pane->action(action);
        QVERIFY(command);
        QCOMPARE(command->toolTip(), toolTip);
        QCOMPARE(command->statusTip(), hint);
        QCOMPARE(pane->contextMenu()->actions().contains(command), inMenu);
        if (!button.isEmpty()) {
            QToolButton *toolButton = pane->button(button);
            QVERIFY(toolButton);
            QCOMPARE(toolButton->defaultAction(), command);
            QCOMPARE(toolButton->statusTip(), hint);
            QCOMPARE(toolButton->toolTip(), toolTip);
        }
    }

    // The window and the panels may still set the buttons themselves.

    // Each key with the focus in the note, in the tree or in the tree's
    // rename editor. The effect: note text | selected text | clipboard |
    // saves | keys the tree took | rename text | focus afterwards. Before
    // each key the note is "alpha beta gamma" with "beta" selected, one
    // step to undo and one to redo.
    void editorKeys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("effect");
        const QString unchanged = QStringLiteral("alpha beta gamma|beta|clip|0|0|name2|");
        auto row = [](const char *name, const char *focus, QKeySequence key, const QString &effect) {
            QTest::newRow(name) << QString::fromLatin1(focus) << key << effect + QString::fromLatin1(focus);
        };
        row("undo in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_Z), "alpha beta||clip|0|0|name2|");
        row("undo from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_Z), "alpha beta||clip|0|0|name2|");
        row("undo in the rename editor is its own", "rename", QKeySequence(Qt::CTRL | Qt::Key_Z),
            "alpha beta gamma|beta|clip|0|0|name|");
        row("redo in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_Y),
            "lpha beta gamma||clip|0|0|name2|");
        row("redo from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_Y),
            "lpha beta gamma||clip|0|0|name2|");
        row("shift redo in the note", "note", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
            "lpha beta gamma||clip|0|0|name2|");
        row("shift redo from the tree", "tree", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
            "lpha beta gamma||clip|0|0|name2|");
        row("save in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_S),
            "alpha beta gamma|beta|clip|1|0|name2|");
        row("save from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_S),
            "alpha beta gamma|beta|clip|1|0|name2|");
        row("select all in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_A),
            "alpha beta gamma|alpha beta gamma|clip|0|0|name2|");
        row("select all: not from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_A), unchanged);
        row("copy in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_C),
            "alpha beta gamma|beta|beta|0|0|name2|");
        row("copy: not from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_C), unchanged);
        row("cut in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_X), "alpha  gamma||beta|0|0|name2|");
        row("cut: not from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_X), unchanged);
        row("paste in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_V),
            "alpha clip gamma||clip|0|0|name2|");
        row("paste: not from the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_V), unchanged);
        row("delete in the note", "note", QKeySequence(Qt::Key_Delete), "alpha  gamma||clip|0|0|name2|");
        row("delete in the tree stays the tree's", "tree", QKeySequence(Qt::Key_Delete),
            "alpha beta gamma|beta|clip|0|1|name2|");
        row("insert in the note is no tree key", "note", QKeySequence(Qt::Key_Insert), unchanged);
        row("insert in the tree", "tree", QKeySequence(Qt::Key_Insert),
            "alpha beta gamma|beta|clip|0|1|name2|");
        row("ctrl+insert in the note copies", "note", QKeySequence(Qt::CTRL | Qt::Key_Insert),
            "alpha beta gamma|beta|beta|0|0|name2|");
        row("ctrl+insert in the tree", "tree", QKeySequence(Qt::CTRL | Qt::Key_Insert),
            "alpha beta gamma|beta|clip|0|1|name2|");
        row("home in the note", "note", QKeySequence(Qt::Key_Home), "alpha beta gamma||clip|0|0|name2|");
        row("ctrl+right in the note", "note", QKeySequence(Qt::CTRL | Qt::Key_Right),
            "alpha beta gamma||clip|0|0|name2|");
        QTest::newRow("tab leaves the note") << "note" << QKeySequence(Qt::Key_Tab)
                                             << QStringLiteral("alpha beta gamma|beta|clip|0|0|name2|tree");
    }
    void editorKeys()
    {
        QFETCH(QString, focus);
        QFETCH(QKeySequence, key);
        QFETCH(QString, effect);

        // A window with the pane, a stand-in for the tree with tree-only keys
        // and a line editor like the tree's rename editor.
        host = new QWidget;
        auto *tree = new QTreeView(host);
        auto *rename = new QLineEdit(host);
        auto *layout = new QVBoxLayout(host);
        layout->addWidget(tree);
        layout->addWidget(rename);
        layout->addWidget(pane);
        int treeKeys = 0;
        for (QKeySequence treeKey : {QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Insert),
                                     QKeySequence(Qt::CTRL | Qt::Key_Insert)}) {
            auto *treeCommand = new QAction(tree);
            treeCommand->setShortcut(treeKey);
            treeCommand->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            tree->addAction(treeCommand);
            connect(treeCommand, &QAction::triggered, tree, [&treeKeys] { ++treeKeys; });
        }
        int saves = 0;
        connect(pane->saveAllAction(), &QAction::triggered, host, [&saves] { ++saves; });
        host->resize(600, 600);
        host->show();
        host->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(host));

        cat.records().setText(a->caption(), W("alpha beta"));
        show(a);
        pane->attachChangeHandler();
        ed()->setFocus();
        ed()->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed(), QStringLiteral(" gamma"));
        ed()->moveCursor(QTextCursor::Start);
        QTest::keyClick(ed(), Qt::Key_Delete);
        pane->undoAction()->trigger();
        QCOMPARE(ed()->noteText(), QStringLiteral("alpha beta gamma"));
        select(6, 10);
        rename->setText(QStringLiteral("name"));
        QTest::keyClicks(rename, QStringLiteral("2"));
        QGuiApplication::clipboard()->setText(QStringLiteral("clip"));

        QWidget *target = ed();
        if (focus == u"tree")
            target = tree;
        else if (focus == u"rename")
            target = rename;
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key(key[0].key()), key[0].keyboardModifiers());

        QWidget *now = QApplication::focusWidget();
        const QString focusAfter = now == ed() ? QStringLiteral("note")
            : now == tree                      ? QStringLiteral("tree")
            : now == rename                    ? QStringLiteral("rename")
                                               : QStringLiteral("other");
        const QStringList got = {ed()->noteText(),
                                 ed()->textCursor().selectedText(),
                                 QGuiApplication::clipboard()->text(),
                                 QString::number(saves),
                                 QString::number(treeKeys),
                                 rename->text(),
                                 focusAfter};
        QCOMPARE(got.join(u'|'), effect);
        QCOMPARE(record(a), qv::toQ(qv::editorToRecord(qv::fromQ(ed()->noteText()))));
    }

    // A note too large to edit is viewed a bounded part at a time; together
    // the parts are the note, and viewing stores nothing.
    void largeNoteIsViewedInParts_data()
    {
        QTest::addColumn<QByteArray>("note");
        QByteArray line(200000, 'x');
        line.replace(3 * int(NoteEditor::kPageChars) - 1, 7, "~~~ a ~"); // across a part's end
        QTest::newRow("one long line") << line;
        QByteArray lines;
        for (int i = 0; lines.size() <= int(NoteEditor::kPagedBytes); ++i)
            lines += QByteArray::number(i).repeated(90 + i % 5) + (i % 3 ? "~~" : i % 2 ? "\r\n" : "\r");
        lines.replace(500000, 4, "a\nb~");
        QTest::newRow("many lines") << lines + "end";
    }
    void largeNoteIsViewedInParts()
    {
        QFETCH(QByteArray, note);
        cat.records().setText(a->caption(), note.toStdString());
        pane->attachChangeHandler();
        show(b);
        cat.clearChanged();
        show(a);
        QVERIFY(ed()->isReadOnly());
        QVERIFY(!pane->partsBar()->isHidden());
        QVERIFY(!cat.modified());

        const QString whole = NoteEditor::normalised(qv::toQ(qv::recordToEditor(note.toStdString())));
        QStringList parts;
        for (int i = 0; i < ed()->partCount(); ++i) {
            ed()->showPart(i);
            QVERIFY(ed()->document()->characterCount() <= int(NoteEditor::kPageChars) + 1);
            parts << ed()->noteText();
        }
        QCOMPARE(pane->partsBar()->findChildren<QLabel *>().last()->text(),
                 QStringLiteral("Часть %1 из %1").arg(parts.size()));
        // A part ending at a line break leaves it out.
        qsizetype at = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            QVERIFY2(whole.mid(at, parts[i].size()) == parts[i], qPrintable(QString::number(i)));
            at += parts[i].size();
            if (i + 1 < parts.size() && !parts[i + 1].startsWith(u'\r') && whole.mid(at, 2) == "\r\n")
                at += 2;
        }
        QCOMPARE(at, whole.size());

        // Page Down at the end of a part goes on; nothing can be typed.
        ed()->showPart(0);
        ed()->setFocus();
        ed()->verticalScrollBar()->setValue(ed()->verticalScrollBar()->maximum());
        QTest::keyClick(ed(), Qt::Key_PageDown);
        QCOMPARE(ed()->part(), 1);
        select(0, 3);
        QVERIFY(enabled("N4"));
        QVERIFY(!enabled("N3") && !enabled("SpeedButton9") && !enabled("N11"));
        QTest::keyClicks(ed(), QStringLiteral("typed"));
        QCOMPARE(cat.records().find(a->caption())->text, note.toStdString());
        QVERIFY(!cat.modified());

        // The next note is edited as ever.
        show(b);
        QVERIFY(!ed()->isReadOnly());
        QVERIFY(pane->partsBar()->isHidden());
        QCOMPARE(ed()->noteText(), QStringLiteral("http://b.example/ и текст"));
        QTest::keyClicks(ed(), QStringLiteral("Y"));
        QCOMPARE(record(b), QStringLiteral("Yhttp://b.example/ и текст"));
        QCOMPARE(cat.records().find(a->caption())->text, note.toStdString());
    }

    // 1 MiB of ordinary lines is edited as any note. It goes into the
    // editor a slice at a time; a key pressed before the last one acts on
    // the whole note, and the record is whole all along.
    void largeOrdinaryNoteStaysEditable()
    {
        std::string note;
        while (note.size() < (1u << 20))
            note += "a line of www.example.org words~~";
        cat.records().setText(a->caption(), note);
        pane->attachChangeHandler();
        show(a);
        QVERIFY(!ed()->isReadOnly());
        QVERIFY(pane->partsBar()->isHidden());
        QVERIFY(ed()->document()->characterCount() <= int(NoteEditor::kSliceChars) + 1);
        QVERIFY(!cat.modified());
        QTRY_VERIFY(!ed()->filling());
        QVERIFY(cat.modified());
        QCOMPARE(ed()->document()->characterCount(), int(note.size() / 33 * 32 + 1));
        QCOMPARE(cat.records().find(a->caption())->text, note);

        show(b);
        show(a);
        QVERIFY(ed()->filling());
        ed()->setFocus();
        QTest::keyClick(ed(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(ed(), QStringLiteral("!"));
        QCOMPARE(cat.records().find(a->caption())->text, note + "!");
        QTest::keyClick(ed(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(cat.records().find(a->caption())->text, note);
        QVERIFY(!enabled("SpeedButton4"));
    }

    // A valid catalogue whose note is one line of 43 MB: the window opens at
    // once, the note viewed in parts, and after the close both files are as
    // they were.
    void hugeLineNoteInTheWindow()
    {
        qvtest::WindowFixture f;
        const QByteArray data = "First\r\nSecond\r\n";
        const QByteArray text
            = "2\r\nFirst\r\n" + QByteArray(43000000, 'x') + "~~the end\r\n0\r\nSecond\r\nshort\r\n0\r\n";
        f.writeFile(QStringLiteral("data.dat"), data);
        f.writeFile(QStringLiteral("text.dat"), text);
        f.open();
        auto *editor = f.find<NoteEditor>(QStringLiteral("RxRichEdit1"));
        QVERIFY(editor->isReadOnly());
        QVERIFY(editor->partCount() > 2600);
        QCOMPARE(editor->noteText(), QString(int(NoteEditor::kPageChars), u'x'));
        QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(editor->noteText().endsWith(QStringLiteral("x\r\nthe end")));
        f.selectIndex(1);
        QVERIFY(!editor->isReadOnly());
        QCOMPARE(editor->noteText(), QStringLiteral("short"));
        f.selectIndex(0);
        QVERIFY(editor->isReadOnly());
        QVERIFY(f.close());
        QVERIFY(f.readFile(QStringLiteral("data.dat")) == data);
        QVERIFY(f.readFile(QStringLiteral("text.dat")) == text);
    }

    // The menu key (a context menu asked for from the keyboard) opens the
    // menu as a right click off any link does.
    void menuKeyOpensTheMenuWithoutALink()
    {
        cat.records().setText(a->caption(), W("see http://k.example/ now"));
        show(a);
        QVERIFY(rightClick(pointAt(6), pointAt(8)));
        QCOMPARE(pane->linkUnderMenu(), QStringLiteral("http://k.example/"));

        ed()->setFocus();
        const QPoint caret = ed()->cursorRect().center();
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, caret, ed()->mapToGlobal(caret));
        QCoreApplication::sendEvent(ed(), &menuKey);
        QVERIFY(pane->contextMenu()->isVisible());
        pane->contextMenu()->hide();
        QVERIFY(pane->linkUnderMenu().isEmpty());
        QCOMPARE(pane->copyLinkAction()->text(), QStringLiteral("Копировать ссылку"));
        QVERIFY(!pane->copyLinkAction()->isEnabled());
        QVERIFY(!pane->openLinkAction()->isVisible());
        QVERIFY(!pane->openLinkInNewWindowAction()->isVisible());
    }
};

QTEST_MAIN(EditorPaneTest)
#include "tst_editor_pane.moc"
