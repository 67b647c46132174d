// The window's menu of every command and the keys of the window itself.
// The menu is made of the panes' own actions, in groups (nothing is listed
// twice, so an item shows its command's current text, state and keys); the
// keys list (ShortcutsDialog) reads the same groups. The menu opens from
// the ☰ button at the end of the editor toolbar, F10 or a lone Alt.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QToolButton;
class QWidget;

namespace qv {

class CollapsiblePanel;
class MainWindow;
class ShortcutsDialog;

struct CommandGroup {
    QString title; // without the '&' of the menu's mnemonic
    QList<QAction *> actions;
};

class CommandMenu : public QObject {
    Q_OBJECT
public:
    explicit CommandMenu(MainWindow &window);
    ~CommandMenu() override;

    // Каталог, Дерево, Заметка, Вид, Справка; an action may stand in two.
    const QList<CommandGroup> &groups() const { return groups_; }
    QMenu *menu() const { return menu_; }
    QToolButton *button() const { return button_; } // menuButton

    QAction *menuAction() const { return menuAction_; }           // F10
    QAction *shortcutsAction() const { return shortcutsAction_; } // F1
    QAction *quitAction() const { return quitAction_; }           // Ctrl+Q
    QAction *paletteAction() const { return paletteAction_; }     // F8

    void openMenu();
    void showShortcuts();
    // The window's keys list, once it has been opened.
    ShortcutsDialog *shortcutsDialog() const { return dialog_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createActions();
    void assignKeys();
    void buildGroups();
    void buildMenu();
    // F8: into the palette (opened first), or out of it when it has the focus.
    void paletteKey();
    // A panel opened from its key or the menu takes the focus; closed, it
    // gives the focus to the note.
    // `focusBefore`: the focus as the command came.
    void followPanel(CollapsiblePanel *panel, const QPointer<QWidget> &focusBefore);
    void panelCommandDone(QAction *action, const QPointer<QWidget> &focusBefore);

    MainWindow &window_;
    QList<CommandGroup> groups_;
    QMenu *menu_ = nullptr;
    QToolButton *button_ = nullptr;
    QAction *menuAction_ = nullptr;
    QAction *shortcutsAction_ = nullptr;
    QAction *quitAction_ = nullptr;
    QAction *paletteAction_ = nullptr;
    ShortcutsDialog *dialog_ = nullptr; // made when first shown, kept with the window
    bool altAlone_ = false;             // Alt is down and nothing else happened since
};

} // namespace qv
