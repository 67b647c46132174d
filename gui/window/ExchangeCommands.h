// The catalogue written out to a file and a file read into it, as two
// commands of the window's menu. An export goes through a temporary file
// made durable and renamed over the target. An import is parsed on a worker
// thread (a progress box with Cancel once it takes over a second), then
// added in the window in one step of the tree's undo, and its summary shown.
#pragma once

#include "exchange/Export.h"
#include "exchange/Import.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <thread>

class QAction;
class QProgressDialog;
class QWidget;

namespace qv {

class MainWindow;
class Node;

class ExchangeCommands : public QObject {
    Q_OBJECT
public:
    explicit ExchangeCommands(MainWindow &window);
    // Waits for a parse the user cancelled that is still running.
    ~ExchangeCommands() override;

    QAction *exportAction() const { return exportAction_; } // exportAction
    QAction *importAction() const { return importAction_; } // importAction
    // A catalogue that cannot be saved takes no import.
    void setReadOnly(bool readOnly);

    void exportCatalogue();
    void importFile();

    // The file dialogs' filters, in order. A file's format is its
    // extension's, else the chosen filter's (an index into these, -1 for
    // none); nothing when neither tells.
    static QStringList exportFilters();
    static QStringList importFilters();
    static std::optional<ExportFormat> exportFormatFor(const QString &path, int filter);
    static std::optional<exchange::ImportFormat> importFormatFor(const QString &path, int filter);

    // Test hooks; an empty function restores the dialog.
    struct FileChoice {
        QString path; // empty: cancelled
        int filter = -1;
    };
    static void setFileChooser(std::function<FileChoice(QWidget *, bool save)> chooser);
    enum class Placement { Cancel, AfterLastRoot, UnderSelected };
    static void setPlacementChooser(std::function<Placement(QWidget *, const Node *selected)> chooser);
    // The progress box shows after `delayMs` (1000 by default); `shown` is
    // called as it shows. `beforeParse` runs on the worker thread first.
    static void setProgressHooks(int delayMs, std::function<void(QProgressDialog *)> shown,
                                 std::function<void()> beforeParse);

signals:
    void parsed(unsigned run); // from the worker, queued

private:
    FileChoice chooseFile(bool save);
    Placement choosePlacement(const Node *selected);
    // The parse on the worker thread; nothing when cancelled. Raises the
    // parse's error.
    std::optional<exchange::ImportedTree> parse(const std::string &path, exchange::ImportFormat format,
                                                const QString &name);
    void waitForWorker();

    MainWindow &window_;
    QAction *exportAction_ = nullptr;
    QAction *importAction_ = nullptr;
    QString lastFolder_;
    std::thread worker_;
    unsigned run_ = 0; // the parse waited for
};

} // namespace qv
