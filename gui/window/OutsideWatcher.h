// The window living with another writer of its catalogue files (a sync
// engine, a second machine): the files are watched (file system events on
// data.dat, text.dat and the folder, and a poll of their identities for
// file systems that send none), and once the pair changed outside and has
// been quiet for a second, the new version is read on a worker thread and
// taken in: reloaded in place when nothing is unsaved, merged with the
// unsaved changes otherwise (base: the pair this window last loaded or
// saved). The selected node, the open branches and the note's caret and
// scroll stay where their nodes still are; a merge that conflicted shows
// the conflict bar. A version that cannot be read whole is left to the
// save, which asks before overwriting it.
#pragma once

#include "storage/CatalogFiles.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>

class QFileSystemWatcher;
class QTimer;

namespace qv {

class Catalog;
class CatalogKeeper;
class ConflictBar;
class MainWindow;

class OutsideWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kQuietMs = 1000;
    static constexpr int kPollMs = 3000;

    // Becomes the keeper's way to take in a version before a save.
    OutsideWatcher(MainWindow &window, CatalogKeeper &keeper);
    ~OutsideWatcher() override;

    // After the first load: the base is kept from now on, and the watching begins.
    void start();
    // The close: nothing more is taken in.
    void stop();
    bool watching() const { return watching_; }

    // Takes in the version on disk now, when another program wrote one:
    // false when it cannot be read whole (or merged).
    bool takeInNow();

    ConflictBar *conflictBar() const { return conflictBar_; }

signals:
    // The window's catalogue was replaced by the version on disk, reloaded
    // or merged.
    void tookIn();

private:
    using Identities = std::pair<FileIdentity, FileIdentity>;
    struct Read {
        std::unique_ptr<Catalog> theirs;
        CatalogFiles::PairRead read;
    };

    Identities onDisk() const;
    void watchFiles();
    void filesMoved();
    void folderMoved();
    void quietEnded();
    // The conflict copies in the folder merged in (and saved).
    void mergeCopies();
    // Something in the window must not lose its nodes now (a box, the
    // rename line, a drag, a command).
    bool busy() const;
    void startRead();
    void readDone(uint64_t generation);
    void cancelRead();
    // True when the window holds the version read.
    bool apply(Read &read);
    // Whether `read` is the version on disk now; false, nothing taken, when
    // it cannot be read whole or merged (remembered until the files change).
    bool takeIn(Read &read);

    MainWindow &window_;
    CatalogKeeper &keeper_;
    std::string baseDir_;
    QFileSystemWatcher *fsWatcher_ = nullptr;
    QTimer *quiet_ = nullptr;
    QTimer *poll_ = nullptr;
    ConflictBar *conflictBar_ = nullptr;
    bool watching_ = false;
    Identities seen_;                   // the pair at the last look
    std::optional<Identities> refused_; // a version not taken in
    std::vector<std::string> names_;    // the folder's entries at the last look
    std::thread reader_;
    std::thread disposer_;             // freeing a catalogue replaced
    std::unique_ptr<Read> readResult_; // filled by the worker
    uint64_t generation_ = 0;          // of the read under way
    bool reading_ = false;
    bool copiesPending_ = false; // an entry appeared: conflict copies to look for
};

} // namespace qv
