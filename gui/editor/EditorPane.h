// The right pane: the editor toolbar, room for the settings and about panels,
// and the note editor bound to the selected node.
#pragma once

#include "gui/editor/NoteEditor.h"

#include <QWidget>

#include <functional>

class RecordMirror;
class QAbstractButton;
class QAction;
class QMenu;
class QToolButton;
class QVBoxLayout;
class QFrame;

namespace qv {
class Catalog;
class Node;
}

class EditorPane : public QWidget {   // objectName "Panel2"
    Q_OBJECT
public:
    EditorPane(qv::Catalog &catalog, QWidget *parent = nullptr);
    ~EditorPane() override;

    NoteEditor *editor() const;
    QAbstractButton *saveButton() const;      // SpeedButton3 "Сохранить всё" (initially disabled)
    QAbstractButton *settingsButton() const;  // SpeedButton10 "Настройка" (checkable)
    QAbstractButton *aboutButton() const;     // SpeedButton11 "О программе..." (checkable)
    // Layout top to bottom: CoolBar2, settingsPanel (Panel4), the editor, aboutPanel (Panel7).
    void setPanels(QWidget *settingsPanel, QWidget *aboutPanel);
    void setSelectedNodeProvider(std::function<qv::Node *()> selected);  // the tree's selected node or null
    void setLinkOption(std::function<bool()> singleClickOpens);       // reads CheckBox4 at each click
    void showNote(qv::Node *node);            // show note (selection change / tree click)
    void attachChangeHandler();               // last start-up step: from now on edits are stored
    void updatePasteEnabled();                // paste controls from the clipboard
    void setEditorFont(const QString &face, int pointSize);
    void setEditorColors(const QColor &background, const QColor &text);
    // Every edit reaches its record as it is made, so there is never anything
    // held back; callers that read or save the catalogue may call this first
    // all the same.
    void flushNote() {}
    // Test hooks: the desktop launcher and the browser program starter.
    static void setUrlOpener(std::function<void(const QString &url)> opener);
    static void setBrowserStarter(std::function<void(const QString &program, const QString &argument)> starter);

    // The editor's context menu (PopupMenu2) and the link under it.
    QMenu *contextMenu() const { return menu_; }
    QString linkUnderMenu() const { return linkUnderMenu_; }
    // A toolbar button or menu item by objectName ("SpeedButton4", "N8", ...).
    QToolButton *button(const QString &name) const;
    QAction *action(const QString &name) const;

signals:
    void edited();                            // the catalogue's unsaved-changes flag was set

private:
    void buildToolbar();
    void buildMenu();
    void textChanged();          // RxRichEdit1Change
    void selectionChanged();     // RxRichEdit1SelectionChange
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void deleteSelection();
    void selectAll();
    void upperCase();
    void capitalise();
    void lowerCase();
    void replaceSelection(const QString &text);
    void urlClicked(const QString &link, Qt::MouseButton button);  // RxRichEdit1URLClick
    void editorMouseDown(Qt::MouseButton button);                   // RxRichEdit1MouseDown
    void menuAboutToShow();                                         // PopupMenu2Popup
    void copyLink();   // N8Click
    void openLink();   // N9Click
    void openLinkInNewWindow();  // N10Click
    void openUrl(const QString &link);
    void storeInto(qv::Node *node);
    void updateUndoRedo();

    qv::Catalog &catalog_;
    NoteEditor *editor_ = nullptr;
    QFrame *toolbar_ = nullptr;
    QVBoxLayout *layout_ = nullptr;
    QMenu *menu_ = nullptr;
    QToolButton *save_ = nullptr;
    QToolButton *settings_ = nullptr;
    QToolButton *about_ = nullptr;
    std::function<qv::Node *()> selected_;
    std::function<bool()> linkOption_;
    QString linkUnderMenu_;
    RecordMirror *mirror_ = nullptr;
    bool attached_ = false;
    bool loading_ = false;                    // a note is being shown, not edited
    const qv::Node *shownNode_ = nullptr;     // compared only, never followed
};
