#include "storage/CatalogLock.h"

#include "catalog/Errors.h"
#include "storage/Os.h"

#include <cerrno>

namespace qv {

namespace {

// Another copy may remove the file between our open and our lock; we then
// start over with a fresh file. A handful of rounds is plenty.
constexpr int kAttempts = 16;

} // namespace

Bytes catalogBusyText() { return W("Каталог уже открыт другой копией Quorvel"); }

CatalogLock::CatalogLock(std::string baseDir)
    : path_(baseDir + ".Quorvel-" + os::machineName() + ".lock"),
      unnamedPath_(std::move(baseDir) + ".Quorvel.lock")
{}

bool CatalogLock::unnamedBusy() const
{
    bool notRegular = false;
    const os::Handle fd = os::openForReading(unnamedPath_, notRegular, false);
    if (fd == os::kNoHandle)
        return false;
    const bool busy = os::lockExclusive(fd) == os::Lock::Busy;
    os::close(fd); // lets our hold of it go at once
    return busy;
}

CatalogLock::~CatalogLock() { release(); }

CatalogLock::State CatalogLock::acquire()
{
    if (fd_ >= 0)
        return State::Held;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Opened without blocking on something that is not a file.
        const os::Handle fd = os::openOrCreateNoFollow(path_);
        if (fd == os::kNoHandle && errno == ELOOP) {
            // A link planted in its place must not lead us elsewhere.
            os::remove(path_);
            continue;
        }
        if (fd == os::kNoHandle) {
            // Only a folder that takes no new entry runs without a lock; an
            // entry there that cannot serve as one would switch the one
            // writer off.
            if (!os::nameTaken(path_))
                return State::Unavailable;
            return refuse(os::status(path_, false).kind == os::Kind::Regular);
        }
        if (!os::isRegular(fd)) {
            os::close(fd);
            return refuse(false);
        }
        switch (os::lockExclusive(fd)) {
        case os::Lock::Ok:
            break;
        case os::Lock::Busy:
            os::close(fd);
            return State::Busy;
        case os::Lock::Refused:
            // A file system without locks: leave no file behind.
            if (os::sameFile(fd, path_))
                os::remove(path_);
            os::close(fd);
            return State::Unavailable;
        }
        if (os::sameFile(fd, path_)) {
            if (unnamedBusy()) {
                os::remove(path_);
                os::close(fd);
                return State::Busy;
            }
            fd_ = fd;
            return State::Held;
        }
        // The holder released (and removed) it while we were opening.
        os::close(fd);
    }
    return State::Unavailable;
}

CatalogLock::State CatalogLock::refuse(bool regular)
{
    try {
        if (regular)
            throw EFOpenError(path_);
        throw ENotRegularFile(path_);
    } catch (...) {
        refusal_ = std::current_exception();
    }
    return State::Refused;
}

void CatalogLock::release()
{
    if (fd_ < 0)
        return;
    // Removed while still locked: whoever opened the old file finds it no
    // longer named and starts over, so no two copies can both hold a lock.
    if (os::sameFile(fd_, path_))
        os::remove(path_);
    os::close(fd_);
    fd_ = -1;
}

} // namespace qv
