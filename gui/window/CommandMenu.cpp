#include "gui/window/CommandMenu.h"

#include "gui/common/CollapsiblePanel.h"
#include "gui/common/ToolbarStrip.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/FindController.h"
#include "gui/tree/IconPalette.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/ExchangeCommands.h"
#include "gui/window/MainWindow.h"
#include "gui/window/ShortcutsDialog.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QToolButton>

namespace qv {

namespace {

QKeySequence keys(QKeyCombination key) { return QKeySequence(key); }

// The first control of `panel` that takes the focus from the keyboard.
QWidget *firstControl(QWidget *panel)
{
    for (QWidget *w : panel->findChildren<QWidget *>())
        if (w->isEnabled() && w->isVisibleTo(panel) && (w->focusPolicy() & Qt::TabFocus))
            return w;
    return nullptr;
}

} // namespace

CommandMenu::CommandMenu(MainWindow &window) : QObject(&window), window_(window)
{
    createActions();
    assignKeys();
    buildGroups();
    buildMenu();
    qApp->installEventFilter(this);
}

CommandMenu::~CommandMenu() { qApp->removeEventFilter(this); }

void CommandMenu::createActions()
{
    auto windowWide = [this](const char *name, const char16_t *text, const QList<QKeySequence> &keys) {
        auto *a = new QAction(QString::fromUtf16(text), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(a->text());
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        window_.addAction(a);
        return a;
    };
    menuAction_ = windowWide("menuAction", u"Меню команд", {keys(Qt::Key_F10)});
    connect(menuAction_, &QAction::triggered, this, &CommandMenu::openMenu);
    shortcutsAction_ = windowWide("shortcutsAction", u"Сочетания клавиш", {keys(Qt::Key_F1)});
    connect(shortcutsAction_, &QAction::triggered, this, &CommandMenu::showShortcuts);
    quitAction_ = windowWide("quitAction", u"Выход", {keys(Qt::CTRL | Qt::Key_Q)});
    // Exactly as the window's close button: the close sequence decides.
    connect(quitAction_, &QAction::triggered, &window_, &QWidget::close);
    paletteAction_ = windowWide("paletteAction", u"Палитра значков", {keys(Qt::Key_F8)});
    connect(paletteAction_, &QAction::triggered, this, &CommandMenu::paletteKey);

    TreePane *tree = window_.treePane();
    connect(tree->palette(), &IconPalette::left, tree->tree(),
            [tree] { tree->tree()->setFocus(Qt::ShortcutFocusReason); });

    // The button at the end of the editor toolbar.
    button_ = new QToolButton;
    button_->setObjectName(QStringLiteral("menuButton"));
    button_->setText(QStringLiteral(u"☰"));
    button_->setToolTip(QStringLiteral(u"Меню команд (F10)"));
    button_->setStatusTip(menuAction_->text());
    connect(button_, &QToolButton::clicked, this, &CommandMenu::openMenu);
    button_->setAutoRaise(true);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button_->setFixedSize(25, 25);
    window_.editorPane()->toolbar()->setTrailing(button_);
}

void CommandMenu::assignKeys()
{
    // The note's own keys work while it has the focus, and only there.
    EditorPane *editor = window_.editorPane();
    auto noteKeys = [editor](QAction *a, QKeyCombination key) {
        a->setShortcut(QKeySequence(key));
        a->setShortcutContext(Qt::WidgetShortcut);
        editor->editor()->addAction(a);
    };
    noteKeys(editor->upperCaseAction(), Qt::CTRL | Qt::SHIFT | Qt::Key_B);
    noteKeys(editor->capitalizeAction(), Qt::CTRL | Qt::SHIFT | Qt::Key_P);
    noteKeys(editor->lowerCaseAction(), Qt::CTRL | Qt::SHIFT | Qt::Key_M);
    editor->settingsToggleAction()->setShortcut(keys(Qt::Key_F9));
    editor->aboutToggleAction()->setShortcut(keys(Qt::CTRL | Qt::Key_F1));
    for (QAction *toggle : {editor->settingsToggleAction(), editor->aboutToggleAction()})
        toggle->setShortcutContext(Qt::WindowShortcut);

    // The tree takes its undo and redo keys itself, ahead of the note's
    // window-wide ones (TreePane::eventFilter): the keys set here are the
    // ones the menus show.
    TreeCommands *commands = window_.treePane()->commands();
    commands->undoAction()->setShortcut(keys(Qt::CTRL | Qt::Key_Z));
    commands->redoAction()->setShortcuts(
        {keys(Qt::CTRL | Qt::Key_Y), keys(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    for (QAction *a : {commands->undoAction(), commands->redoAction()}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        window_.treePane()->tree()->addAction(a);
    }
}

void CommandMenu::buildGroups()
{
    const EditorPane *e = window_.editorPane();
    const TreeCommands *t = window_.treePane()->commands();
    const FindController *f = window_.treePane()->finder();
    const ExchangeCommands *x = window_.exchangeCommands();
    groups_ = {
        {QStringLiteral(u"Каталог"), {e->saveAllAction(), x->exportAction(), x->importAction(), quitAction_}},
        {QStringLiteral(u"Дерево"),
         {t->createNodeAction(), t->createChildAction(), t->deleteNodeAction(), t->moveUpAction(),
          t->moveDownAction(), t->undoAction(), t->redoAction(), f->findAction(), f->findNextAction(),
          f->findPreviousAction()}},
        {QStringLiteral(u"Заметка"),
         {e->undoAction(), e->redoAction(), e->cutAction(), e->copyAction(), e->pasteAction(),
          e->deleteTextAction(), e->selectAllAction(), e->upperCaseAction(), e->capitalizeAction(),
          e->lowerCaseAction(), e->openCaretLinkAction()}},
        {QStringLiteral(u"Вид"),
         {t->expandAllAction(), t->collapseAllAction(), paletteAction_, window_.switchPaneAction(),
          e->settingsToggleAction()}},
        {QStringLiteral(u"Справка"), {shortcutsAction_, menuAction_, e->aboutToggleAction()}},
    };
}

void CommandMenu::buildMenu()
{
    menu_ = new QMenu(&window_);
    menu_->setObjectName(QStringLiteral("commandMenu"));
    for (const CommandGroup &group : std::as_const(groups_)) {
        QMenu *sub = menu_->addMenu(QLatin1Char('&') + group.title);
        for (QAction *a : group.actions) {
            // The menu offers itself by its name, not by its button's glyph.
            if (a == menuAction_)
                continue;
            sub->addAction(a);
        }
    }
    // A panel opened from the menu takes the focus as from its key.
    connect(menu_, &QMenu::triggered, this,
            [this](QAction *a) { panelCommandDone(a, QApplication::focusWidget()); });
}

void CommandMenu::panelCommandDone(QAction *a, const QPointer<QWidget> &focusBefore)
{
    const EditorPane *e = window_.editorPane();
    if (a == e->settingsToggleAction())
        followPanel(window_.settingsPanel(), focusBefore);
    else if (a == e->aboutToggleAction())
        followPanel(window_.aboutPanel(), focusBefore);
}

void CommandMenu::openMenu()
{
    if (menu_->isVisible())
        return;
    altAlone_ = false;
    QPoint at;
    if (button_->isVisible())
        at = button_->mapToGlobal(QPoint(button_->width(), button_->height()))
            - QPoint(menu_->sizeHint().width(), 0);
    else
        at = window_.editorPane()->mapToGlobal(QPoint(0, 0));
    menu_->popup(at);
    if (!menu_->actions().isEmpty())
        menu_->setActiveAction(menu_->actions().first());
}

void CommandMenu::showShortcuts()
{
    if (!dialog_)
        dialog_ = new ShortcutsDialog(groups_, &window_);
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void CommandMenu::paletteKey()
{
    IconPalette *palette = window_.treePane()->palette();
    if (palette->focusedIcon()) {
        palette->collapse();
        window_.treePane()->tree()->setFocus(Qt::ShortcutFocusReason);
        return;
    }
    palette->enterIcons(1);
}

void CommandMenu::followPanel(CollapsiblePanel *panel, const QPointer<QWidget> &focusBefore)
{
    if (panel->isOpen()) {
        if (QWidget *first = firstControl(panel))
            first->setFocus(Qt::ShortcutFocusReason);
        return;
    }
    // The closed panel is hidden, and Qt has already moved a focus it held
    // on to whatever came next: it goes to the note instead.
    const QWidget *focus = QApplication::focusWidget();
    if (!focus || panel->isAncestorOf(focus) || !focusBefore || panel->isAncestorOf(focusBefore))
        window_.editorPane()->editor()->setFocus(Qt::ShortcutFocusReason);
}

bool CommandMenu::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Shortcut:
        // A panel's key (not a click on its button) takes the focus along.
        if (auto *a = qobject_cast<QAction *>(watched))
            QMetaObject::invokeMethod(
                this,
                [this, a, focus = QPointer<QWidget>(QApplication::focusWidget())] {
                    panelCommandDone(a, focus);
                },
                Qt::QueuedConnection);
        break;
    // A lone Alt (pressed and let go with nothing between) opens the menu.
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        altAlone_ = key->key() == Qt::Key_Alt && (key->modifiers() & ~Qt::AltModifier) == Qt::NoModifier
            && !key->isAutoRepeat() && window_.isActiveWindow() && !QApplication::activePopupWidget()
            && !QApplication::activeModalWidget();
        break;
    }
    case QEvent::KeyRelease: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Alt && altAlone_ && window_.isActiveWindow())
            openMenu();
        else if (!key->isAutoRepeat())
            altAlone_ = false;
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
    case QEvent::ApplicationStateChange:
        altAlone_ = false;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qv
