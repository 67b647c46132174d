// The right pane: the editor toolbar, room for the settings and about panels,
// and the note editor bound to the selected node.
#pragma once

#include "gui/editor/NoteEditor.h"

#include <QWidget>

#include <functional>

class QAbstractButton;
class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class QVBoxLayout;

namespace qv {

class Catalog;
class Node;
class RecordMirror;
class ToolbarStrip;
struct Settings;

// Every editor command is one QAction, shared by its toolbar button, its
// context-menu item and its shortcut; its enabled state is set on the action
// only. Save, undo and redo answer their keys anywhere in the window; the
// editing keys only while the note has the focus, so they never take a key
// from the tree or its rename editor.
class EditorPane : public QWidget { // objectName "Panel2"
    Q_OBJECT
public:
    EditorPane(Catalog &catalog, QWidget *parent = nullptr);
    ~EditorPane() override;

    NoteEditor *editor() const { return noteEditor_; }
    // A catalogue that cannot be saved: the note can be read, selected and
    // copied, and every command that changes it is off.
    void setReadOnly(bool readOnly);
    bool readOnly() const { return readOnly_; }
    ToolbarStrip *toolbar() const { return toolbar_; } // CoolBar2

    // ---- the commands ----
    // "Сохранить всё" (SpeedButton3, Ctrl+S anywhere in the window): the window
    // connects triggered to its save; disabled until there is something to save.
    QAction *saveAllAction() const { return saveAllAction_; }
    QAction *undoAction() const { return undoAction_; }             // SpeedButton4
    QAction *redoAction() const { return redoAction_; }             // SpeedButton5
    QAction *cutAction() const { return cutAction_; }               // N3, SpeedButton6
    QAction *copyAction() const { return copyAction_; }             // N4, SpeedButton7
    QAction *pasteAction() const { return pasteAction_; }           // N5, SpeedButton8
    QAction *deleteTextAction() const { return deleteTextAction_; } // N11, SpeedButton12
    QAction *selectAllAction() const { return selectAllAction_; }   // N6
    QAction *upperCaseAction() const { return upperCaseAction_; }   // SpeedButton9
    QAction *capitalizeAction() const { return capitalizeAction_; } // SpeedButton18
    QAction *lowerCaseAction() const { return lowerCaseAction_; }   // SpeedButton19
    // The panel toggles (checkable): "Настройка" (SpeedButton10), "О программе..." (SpeedButton11).
    QAction *settingsToggleAction() const { return settingsToggleAction_; }
    QAction *aboutToggleAction() const { return aboutToggleAction_; }
    QAction *copyLinkAction() const { return copyLinkAction_; }                       // N8
    QAction *openLinkAction() const { return openLinkAction_; }                       // N9
    QAction *openLinkInNewWindowAction() const { return openLinkInNewWindowAction_; } // N10
    // "Открыть ссылку" (Ctrl+Enter in the note): the link at the caret.
    QAction *openCaretLinkAction() const { return openCaretLinkAction_; } // openCaretLinkAction

    // The toolbar button of the save command. A state set on it directly is
    // passed on to its action.
    QAbstractButton *saveButton() const; // SpeedButton3

    // Layout top to bottom: CoolBar2, settingsPanel (Panel4), the editor, aboutPanel (Panel7).
    void setPanels(QWidget *settingsPanel, QWidget *aboutPanel);
    void setSelectedNodeProvider(std::function<Node *()> selected); // the tree's selected node or null
    // The settings in force (the window's): the link option is read from
    // them at each click; without them the option is off.
    void setSettings(const Settings *settings) { settings_ = settings; }
    void showNote(Node *node);  // show note (selection change / tree click)
    void attachChangeHandler(); // last start-up step: from now on edits are stored
    void updatePasteEnabled();  // paste from the clipboard
    void setEditorFont(const QString &face, int pointSize);
    void setEditorColors(const QColor &background, const QColor &text);
    // Every edit reaches its record as it is made, so there is never anything
    // held back; callers that read or save the catalogue may call this first
    // all the same.
    void flushNote() {}
    // Test hooks: the desktop launcher and the browser program starter.
    static void setUrlOpener(std::function<void(const QString &url)> opener);
    static void setBrowserStarter(
        std::function<void(const QString &program, const QString &argument)> starter);

    // The editor's context menu (PopupMenu2) and the link under it.
    QMenu *contextMenu() const { return contextMenu_; }
    QString linkUnderMenu() const { return linkUnderMenu_; }
    // A toolbar button or an action by objectName ("SpeedButton4", "N8", "undoAction", ...).
    QToolButton *button(const QString &name) const;
    QAction *action(const QString &name) const;
    // The line above the editor while a note too large to edit is shown in
    // parts: what it is, which part, the part before and after.
    QWidget *partsBar() const { return partsBar_; } // partsBar

signals:
    void edited(); // the catalogue's unsaved-changes flag was set

private:
    void createActions();
    void buildToolbar();
    void buildContextMenu();
    void buildPartsBar();
    void partShown(int index, int count);
    void textChanged();
    void selectionChanged();
    void deleteSelection();
    void upperCase();
    void capitalize();
    void lowerCase();
    void replaceSelection(const QString &text);
    void urlClicked(const QString &link, Qt::MouseButton button);
    void editorMouseDown(Qt::MouseButton button);
    void forgetMenuLink();
    void contextMenuAboutToShow();
    void copyLink();
    void openLink();
    void openLinkInNewWindow();
    // The link the caret is in or just after, or empty.
    QString linkAtCaret() const;
    void openLinkAtCaret();
    void openUrl(const QString &link);
    void storeInto(Node *node);
    void updateUndoRedo();

    Catalog &catalog_;
    NoteEditor *noteEditor_ = nullptr;
    ToolbarStrip *toolbar_ = nullptr;
    QVBoxLayout *layout_ = nullptr;
    QMenu *contextMenu_ = nullptr;
    QWidget *partsBar_ = nullptr;
    QLabel *partLabel_ = nullptr;
    QToolButton *previousPart_ = nullptr;
    QToolButton *nextPart_ = nullptr;
    QAction *saveAllAction_ = nullptr;
    QAction *undoAction_ = nullptr;
    QAction *redoAction_ = nullptr;
    QAction *cutAction_ = nullptr;
    QAction *copyAction_ = nullptr;
    QAction *pasteAction_ = nullptr;
    QAction *deleteTextAction_ = nullptr;
    QAction *selectAllAction_ = nullptr;
    QAction *upperCaseAction_ = nullptr;
    QAction *capitalizeAction_ = nullptr;
    QAction *lowerCaseAction_ = nullptr;
    QAction *settingsToggleAction_ = nullptr;
    QAction *aboutToggleAction_ = nullptr;
    QAction *copyLinkAction_ = nullptr;
    QAction *openLinkAction_ = nullptr;
    QAction *openLinkInNewWindowAction_ = nullptr;
    QAction *openCaretLinkAction_ = nullptr;
    std::function<Node *()> selectedNode_;
    const Settings *settings_ = nullptr;
    QString linkUnderMenu_;
    RecordMirror *recordMirror_ = nullptr;
    bool attached_ = false;
    bool readOnly_ = false;
    bool loading_ = false;            // a note is being shown, not edited
    bool fillReported_ = false;       // the note being put in counts as an edit once in
    const Node *shownNode_ = nullptr; // compared only, never followed
};

} // namespace qv
