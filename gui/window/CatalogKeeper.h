// What keeps the window's catalogue from being lost: the folder's lock for
// the whole run, the repair of an interrupted save at start, the recovery
// journal with its flush timer, and the checks around a save (files another
// program changed, originals kept aside). The window calls its steps; the
// boxes they need are shown from here.
#pragma once

#include "storage/CatalogLock.h"
#include "storage/FileIo.h"
#include "storage/Journal.h"

#include <QObject>
#include <QString>

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QMainWindow;
class QTimer;

namespace qv {

class BackupCopies;
class Catalog;
class CatalogFiles;

class CatalogKeeper : public QObject {
    Q_OBJECT
public:
    // From the first change after a flush to the next flush.
    static constexpr int kFlushDelayMs = 1000;

    // `files` and `window` outlive the keeper; so must the catalogue given
    // to afterLoad().
    CatalogKeeper(CatalogFiles &files, QMainWindow *window);
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
    bool holdsLock() const { return lock_.held(); }

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
    // stderr); old backups kept after afterLoad() told its copies are told
    // in a box of their own. Runs by itself once the worker is done.
    void finishBackups(bool interactive);
    bool backupsPending() const { return backups_ != nullptr; }

    // Right after the load: tells of files read in part and of old backups
    // kept, offers the journal's changes (Yes replays them on `catalog`, No
    // sets the journal aside; one that no longer fits the files is set
    // aside with a word), then records every later change.
    void afterLoad(Catalog &catalog);

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
    bool save(Catalog &catalog, bool interactive);

    Journal &journal() { return journal_; }
    QTimer *flushTimer() const { return flushTimer_; }

private:
    void reportStartupCopies();
    // The old backups kept and not yet named, as a box names them.
    QString keptBackupsText();
    void offerJournal(Catalog &catalog);
    void startTimer();
    bool overwriteAgreed();
    void reportCopies(size_t originalsBefore, const std::vector<std::string> &others, bool interactive);
    void tell(const QString &text, bool interactive);
    void report(const std::exception &error, bool interactive);

    CatalogFiles &files_;
    QMainWindow *window_;
    CatalogLock lock_;
    Journal journal_;
    QTimer *flushTimer_ = nullptr;
    std::unique_ptr<BackupCopies> backups_; // opened, not yet finished
    std::thread backupThread_;              // copying backups_
    std::exception_ptr backupFailure_;      // the worker's error, read after the join
    size_t keptBackupsTold_ = 0;            // files_.keptBackups() named in a box
    bool copiesTold_ = false;               // afterLoad() told the start-up's copies
    bool attached_ = false;                 // afterLoad() ran: flushes may write
    bool flushFailing_ = false;             // the last flush failed and was reported
    QString flushMessage_;                  // the status bar's text about it
    // The files another program wrote, already kept and agreed to be
    // overwritten by a save that then failed.
    std::optional<std::pair<FileIdentity, FileIdentity>> otherKept_;
};

} // namespace qv
