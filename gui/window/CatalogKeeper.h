// The window's side of its catalogue session (storage/CatalogSession.h):
// the boxes that tell what the session's steps found, the questions they
// ask (recover the journal? overwrite files another program changed?) and
// the journal's flush timer.
#pragma once

#include "merge/MergeReport.h"
#include "storage/CatalogSession.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <string>
#include <vector>

class QMainWindow;
class QTimer;

namespace qv {

class Catalog;

class CatalogKeeper : public QObject {
    Q_OBJECT
public:
    // From the first change after a flush to the next flush.
    static constexpr int kFlushDelayMs = 1000;

    // `baseDir` is the catalogue folder, ending with a separator; `window`
    // outlives the keeper, and so must the catalogue given to load().
    CatalogKeeper(const std::string &baseDir, QMainWindow *window);
    ~CatalogKeeper() override;

    // The first step of the start-up: takes the folder's lock, then
    // finishes or clears an interrupted save (the journal goes when that
    // save is finished). False when another copy holds the folder: the
    // error box has been shown, and nothing more may be read or written.
    // A folder where no lock can be made (read-only) is used without one.
    bool claimFolder();
    // Lets the folder go (the lock file is removed). Also done by the
    // destructor.
    void releaseFolder();
    bool holdsLock() const { return session_.holdsLock(); }

    // The backups of this start (when the option asks for them): opened at
    // once, raising what makeBackups() raises for a source that cannot be
    // opened or a backup that cannot be created, and copied on a worker
    // thread from startBackups() on, while the window is in use. Every
    // save waits for them first, and so do the close and the keeper's end,
    // so a backup always holds the files as the run found them.
    void openBackups();
    void startBackups();
    // Waits for the backups (making them here when they have not begun)
    // and reports a failure (interactive: the error box, otherwise
    // stderr); old backups kept after load() told its copies are told
    // in a box of their own. Runs by itself once the worker is done.
    void finishBackups(bool interactive);
    bool backupsPending() const { return session_.backupsPending(); }

    // Loads the catalogue (an error goes to the error box and the start
    // goes on), then tells of files read in part and of old backups kept,
    // offers the journal's changes (Yes replays them on `catalog`, No sets
    // the journal aside; one that no longer fits the files is set aside
    // with a word), then records every later change.
    void load(Catalog &catalog);
    // Merges the sync engines' conflict copies in the folder into `catalog`
    // and, when that changed it, saves it unattended so that the copies
    // leave the folder (a copy that cannot be read is told and stays).
    merge::Report mergeConflictCopies(Catalog &catalog);

    // Writes the changes recorded since the last flush to the journal. The
    // first failure of a run of them is reported (interactive: a box,
    // otherwise stderr), each one in the status bar; the next change tries
    // again. Returns whether the journal holds every change.
    bool flush(bool interactive);
    // A change reached the catalogue (the window's edit and command
    // signals): after a failed flush, this times the next try.
    void changed();

    // Saves the catalogue, once the backups are made and the files on disk
    // are known to be ours: when another program changed them, the
    // interactive save asks first (No: no save, false) and keeps their
    // version under a dated name; the
    // non-interactive one keeps it without asking. The journal goes just
    // before the new files replace the old ones. Errors are reported
    // (interactive: the error box, otherwise stderr); dated copies made on
    // the way are named in one box, whether the save went through or not.
    // Before the first interactive save, catalogue files that are links to
    // outside the folder are asked about (Yes: written through, and
    // remembered for this folder; No: replaced by regular files).
    bool save(Catalog &catalog, bool interactive);
    // The last save failed (as opposed to the user declining to overwrite).
    bool saveFailed() const { return saveFailed_; }

    // After a save at close failed: what the user chose. `journalled`: the
    // journal holds every change, so closing without a save keeps them.
    enum class AfterFailedSave {
        Retry,
        CopySaved,    // the catalogue went into another folder: close
        CloseUnsaved, // the user agreed to close without a save
        KeepOpen,
    };
    AfterFailedSave askAfterFailedSave(Catalog &catalog, bool journalled);
    // Saves the pair into `folder` the safe way, under its lock; existing
    // catalogue files there are kept under dated names. Failures are told.
    bool saveCopy(Catalog &catalog, const std::string &folder);
    // Test hook replacing the folder dialog ("" = cancelled). An empty
    // function restores the dialog.
    static void setFolderChooser(std::function<QString(QWidget *)> chooser);

    const CatalogSession &session() const { return session_; }
    QTimer *flushTimer() const { return flushTimer_; }

    // ---- another program's version (gui/window/OutsideWatcher) ----
    // The base of later merges is kept from now on (after the first load).
    void watchOutside();
    // The window's catalogue becomes `version`, made from `read` (see
    // CatalogSession::takeIn); a modified one goes into the journal at once.
    void takeIn(Catalog &catalog, Catalog &version, const CatalogFiles::PairRead &read,
                const std::function<void()> &show);
    // A save that finds files another program wrote first calls `taker`:
    // true when it took them in (the save goes on), false when they cannot
    // be read whole or merged (the save asks before overwriting them, and
    // at the end of a run keeps them under a dated name).
    void setOutsideTaker(std::function<bool()> taker) { outsideTaker_ = std::move(taker); }

signals:
    // An entry that is none of the catalogue's own appeared in the folder
    // (a sync engine's conflict copy, say).
    void folderChanged();

private:
    // A folder refused at open(): its lock's entry, or another copy holds it.
    void reportRefusal(const CatalogSession::Opened &opened);
    void reportStartupCopies(const CatalogSession::Loaded &loaded);
    // After a load that read in part or failed: the newest backup that
    // reads whole, offered with its time; true when it was opened.
    bool offerBackup(Catalog &catalog);
    // The old backups kept and not yet named, as a box names them.
    QString keptBackupsText();
    void offerJournal(Catalog &catalog, const CatalogSession::Loaded &loaded);
    void startTimer();
    // Links to outside the folder, asked about once a run before a save.
    void askLinks();
    bool overwriteAgreed();
    void reportCopies(const CatalogSession::Saved &saved, bool interactive);
    // A save that takes in what another program wrote first, again when it
    // changed meanwhile; ChangedOutside when it cannot be taken in.
    CatalogSession::Saved saveTakingIn(Catalog &catalog);
    void tell(const QString &text, bool interactive);
    // Rethrows `failure` (when there is one) and reports it.
    void report(const std::exception_ptr &failure, bool interactive);

    CatalogSession session_;
    QMainWindow *window_;
    QTimer *flushTimer_ = nullptr;
    size_t keptBackupsTold_ = 0; // session_.files().keptBackups() named in a box
    bool copiesTold_ = false;    // load() told the start-up's copies
    bool flushFailing_ = false;  // the last flush failed and was reported
    bool saveFailed_ = false;
    QString flushMessage_; // the status bar's text about it
    std::function<bool()> outsideTaker_;
};

} // namespace qv
