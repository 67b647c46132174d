// One writer per catalogue folder: a lock file, `.Quorvel.lock`, held with
// an advisory lock for the whole run. The system drops the lock with the
// process, so a file left by a killed run is simply taken over; a clean
// release removes the file.
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
    std::string path_;
    int fd_ = -1; // an os::Handle
    std::exception_ptr refusal_;
};

// "Каталог уже открыт другой копией Quorvel"
Bytes catalogBusyText();

} // namespace qv
