// One writer per catalogue folder on this machine: a lock file,
// `.Quorvel-<machine>.lock` (storage/Os.h machineName), held with an
// advisory lock for the whole run. The system drops the lock with the
// process, so a file left by a killed run is simply taken over; a clean
// release removes the file. An advisory lock holds on one machine only, so
// the file carries the machine's name: a lock file another machine's run
// left in a folder a sync engine shares is never ours to take, remove or be
// refused by (two machines at once are the sync engine's and the merge's
// business). An unnamed `.Quorvel.lock` that a run of this machine holds
// (one made before the name was carried) still makes the folder busy.
#pragma once

#include "catalog/Text.h"

#include <exception>
#include <string>

namespace qv {

class CatalogLock {
public:
    // `baseDir` ends with a separator.
    explicit CatalogLock(std::string baseDir);
    ~CatalogLock();
    CatalogLock(const CatalogLock &) = delete;
    CatalogLock &operator=(const CatalogLock &) = delete;

    enum class State {
        Held,        // this object holds the lock
        Busy,        // another running copy holds it
        Unavailable, // no lock file can be made (a read-only folder, say):
                     // the program runs without one
        Refused      // an entry at the lock's name that is no regular file
                     // or cannot be opened: the folder cannot be held
    };
    // Takes the lock without waiting. Again while held: Held.
    State acquire();
    // Removes the lock file and lets the lock go. Nothing when not held.
    void release();
    bool held() const { return fd_ >= 0; }
    // After Refused: the error naming the entry (ENotRegularFile or
    // EFOpenError).
    std::exception_ptr refusal() const { return refusal_; }

    const std::string &path() const { return path_; }

private:
    State refuse(bool regular);
    // An unnamed lock file is held by a run on this machine.
    bool unnamedBusy() const;
    std::string path_;
    std::string unnamedPath_;
    int fd_ = -1; // an os::Handle
    std::exception_ptr refusal_;
};

// "Каталог уже открыт другой копией Quorvel"
Bytes catalogBusyText();

} // namespace qv
