// The program's one window: the tree pane and the editor pane side by side,
// the start-up sequences (creation, first activation) and the close.
#pragma once

#include "catalog/Catalog.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogFiles.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>

class AboutPanel;
class CatalogKeeper;
class QSplitter;
class TerminationSignals;

namespace qv {
class TreePane;
}

namespace qv {
class SettingsPanel;
}

namespace qv {
class EditorPane;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 487;
    static constexpr int kMinimumHeight = 310;

    // `baseDir` is the folder of the catalogue and settings files, ending
    // with a separator. Runs the creation sequence.
    explicit MainWindow(const std::string &baseDir, QWidget *parent = nullptr);
    ~MainWindow() override;

    qv::Catalog &catalog() { return catalog_; }
    qv::CatalogFiles &files() { return files_; }
    const qv::SettingsFile &settingsFile() const { return settings_; }
    qv::TreePane *treePane() const { return treePane_; }
    qv::EditorPane *editorPane() const { return editorPane_; }
    qv::SettingsPanel *settingsPanel() const { return settingsPanel_; }
    AboutPanel *aboutPanel() const { return aboutPanel_; }
    QSplitter *splitter() const { return splitter_; }

    // The first activation has run (the catalogue was loaded or tried).
    bool started() const { return started_; }
    // Another copy holds the catalogue folder: the creation stopped after
    // saying so, nothing was read or written, and the window is not to be
    // shown (the program ends with status 1).
    bool refused() const { return refused_; }
    // The lock, the journal and the checks around a save.
    CatalogKeeper *keeper() const { return keeper_.get(); }

    // SpeedButton3Click: saves the catalogue; errors go to the error box.
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

private:
    void buildLayout();
    void connectParts();
    void formCreate();
    // The first activation: the placement at once, the rest queued.
    void beginActivation();
    void formActivate();
    void refreshSaveButton();
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
    qv::Catalog catalog_;
    qv::CatalogFiles files_;
    qv::SettingsFile settings_;
    // Goes before the catalogue it records.
    std::unique_ptr<CatalogKeeper> keeper_;

    qv::TreePane *treePane_ = nullptr;
    qv::EditorPane *editorPane_ = nullptr;
    qv::SettingsPanel *settingsPanel_ = nullptr;
    AboutPanel *aboutPanel_ = nullptr;
    QSplitter *splitter_ = nullptr;
    QPointer<QWidget> hintWidget_;   // the control whose hint the status bar shows

    bool refused_ = false;     // another copy holds the folder
    bool activated_ = false;   // the first activation has begun
    bool started_ = false;     // it reached the catalogue load
    bool closed_ = false;      // the close sequence went through
    bool ending_ = false;      // endSession or saveBeforeQuit has begun
    TerminationSignals *termination_ = nullptr;
};
