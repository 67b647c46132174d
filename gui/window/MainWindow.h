// The program's one window: the tree pane and the editor pane side by side,
// the start-up sequences (creation, first activation) and the close.
#pragma once

#include "catalog/Catalog.h"
#include "gui/editor/EditorPane.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/tree/TreePane.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogFiles.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>

class QAction;
class QMenu;
class QSplitter;

namespace qv {

class AboutPanel;
class CatalogKeeper;
class CommandMenu;
class ExchangeCommands;
class OutsideWatcher;
class TerminationSignals;

// Keys of the whole window: F6 (and Tab, Shift+Tab) move the focus between
// the tree and the note; the menu key opens the focused pane's own context
// menu, which the window leaves alone.
class MainWindow : public QMainWindow { // objectName "Form1"
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 487;
    static constexpr int kMinimumHeight = 310;

    // `baseDir` is the folder of the catalogue and settings files, ending
    // with a separator. Runs the creation sequence.
    explicit MainWindow(const std::string &baseDir, QWidget *parent = nullptr);
    ~MainWindow() override;

    Catalog &catalog() { return catalog_; }
    const CatalogFiles &files() const;
    const SettingsFile &settingsFile() const { return settings_; }
    TreePane *treePane() const { return treePane_; }
    EditorPane *editorPane() const { return editorPane_; }
    SettingsPanel *settingsPanel() const { return settingsPanel_; }
    AboutPanel *aboutPanel() const { return aboutPanel_; }
    QSplitter *splitter() const { return splitter_; } // RxSplitter1
    // F6: the focus from the tree to the note, and from anywhere else to the tree.
    QAction *switchPaneAction() const { return switchPaneAction_; } // switchPaneAction

    // The menu of every command and the window's own keys.
    CommandMenu *commandMenu() const { return commandMenu_; }
    // Export to a file and import from one.
    ExchangeCommands *exchangeCommands() const { return exchange_; }
    // The catalogue folder's own name (empty for the file system's root).
    const QString &folderName() const { return folderName_; }
    // "<folder> — Quorvel", with the unsaved mark's place after the folder.
    static QString titleFor(const QString &folderName, bool readOnly);

    // The first activation has run (the catalogue was loaded or tried).
    bool started() const { return started_; }
    // Neither the folder nor its catalogue files could be written at the
    // start: the window only shows the catalogue, and its close never
    // blocks (nothing is saved, no backup or journal is made).
    bool readOnly() const;
    // Another copy holds the catalogue folder: the creation stopped after
    // saying so, nothing was read or written, and the window is not to be
    // shown (the program ends with status 1).
    bool refused() const { return refused_; }
    // The close sequence went through, or the run was ended: nothing more
    // is saved.
    bool closed() const { return closed_; }
    // The lock, the journal and the checks around a save.
    CatalogKeeper *keeper() const { return keeper_.get(); }
    // Another program's changes to the files, taken in while the window runs.
    OutsideWatcher *outsideWatcher() const { return outside_; }

    // The save-all command (SpeedButton3, Ctrl+S): saves the catalogue;
    // errors go to the error box.
    // Returns whether the save went through.
    bool saveAll();

    // The ends of a run nobody closes the window for: SIGTERM, SIGINT and
    // SIGHUP (endSession), the session manager's request to save
    // (commitSession), the application told to quit and the event loop's
    // end (saveBeforeQuit). The program calls this once its window exists.
    void watchSessionEnd();
    // The close sequence without a box (errors go to stderr), then the
    // window closes and the event loop ends with status 0, whatever the
    // save did. Runs once; later calls do nothing.
    void endSession();
    // Saves the catalogue and writes the settings as a close does, without
    // a box; the window stays open, since the logout may yet be cancelled.
    void commitSession();
    // The close sequence without a box, unless a close or endSession ran:
    // when the application is told to quit (the session manager's end of
    // the session), when the event loop ends, or when the process exits
    // after losing its display. Does nothing on any thread but the window's.
    void saveBeforeQuit();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Tab and Shift+Tab from the tree go to the note, and from the note to the tree.
    bool focusNextPrevChild(bool next) override;

private:
    void buildLayout();
    void createWindowActions();
    void connectParts();
    // The creation sequence: the folder claimed, the settings read that
    // come before the window is shown.
    void runCreationSequence();
    // The first activation: the placement at once, the rest queued.
    void beginActivation();
    void runActivationSequence();
    void updateSaveAllEnabled();
    void showReadOnly();
    // The close's save and settings; after a failed save the user chooses
    // (retry, a copy elsewhere, close without a save, stay). True when the
    // close may go on.
    bool saveAtClose(bool interactive);
    // The settings' write at the close; after a failure the user may retry,
    // close without it, or stay. True when the close may go on.
    bool writeSettingsAtClose(bool interactive);
    // An empty catalogue: the note takes no typing (there is no node to
    // keep it) and says how to make the first node.
    void updateEmptyCatalogue();
    // The tree's focus goes to the note; any other goes to the tree.
    void switchPane(Qt::FocusReason reason);
    bool treeHasFocus() const;
    // Hints of a menu of this window follow its highlighted item.
    void watchMenu(QMenu *menu);
    void showActionHint(QAction *action);
    // The close: the journal flushed, the catalogue saved, then the
    // settings written, then the settings file and the folder let go (a
    // window that never loaded its catalogue only lets them go).
    // Interactive, errors go to the error box and the first failure stops
    // it, so the window stays open with its edits; otherwise errors go to
    // stderr and nothing waits for an answer. Returns whether every step
    // went through.
    bool runCloseSequence(bool interactive);
    bool saveCatalogue(bool interactive);
    bool writeSettings(bool interactive);
    void report(const std::exception &error, bool interactive);
    // The tree pane's width, held at its minimum of 222.
    void setTreeWidth(int width);
    void showHint(QWidget *widget);
    // The minimum applies to the outer size, frame included.
    void fitMinimumToFrame();

    std::string baseDir_;
    QString folderName_; // the folder's own name, for the title
    Catalog catalog_;
    SettingsFile settings_;
    // The settings in force: read at start, replaced by what the settings
    // panel applies; the panel edits a copy.
    qv::Settings prefs_;
    // Goes before the catalogue it records.
    std::unique_ptr<CatalogKeeper> keeper_;

    qv::TreePane *treePane_ = nullptr;
    qv::EditorPane *editorPane_ = nullptr;
    qv::SettingsPanel *settingsPanel_ = nullptr;
    AboutPanel *aboutPanel_ = nullptr;
    QSplitter *splitter_ = nullptr;
    QAction *switchPaneAction_ = nullptr;
    CommandMenu *commandMenu_ = nullptr;
    ExchangeCommands *exchange_ = nullptr;
    OutsideWatcher *outside_ = nullptr;
    QPointer<QWidget> hintWidget_; // the control whose hint the status bar shows

    bool refused_ = false;   // another copy holds the folder
    bool activated_ = false; // the first activation has begun
    bool started_ = false;   // it reached the catalogue load
    bool closed_ = false;    // the close sequence went through
    bool ending_ = false;    // endSession or saveBeforeQuit has begun
    TerminationSignals *terminationSignals_ = nullptr;
};

} // namespace qv
