#include "storage/CatalogLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

// ---------------------------------------------------------------------------
// The operating-system layer of the lock; a port replaces only this block.
namespace os {
namespace {

enum class Open { Ok, Link, Refused };

// Opens (creating when missing) the lock file without following a link and
// without blocking on something that is not a file. A file we may read but
// not write still serves, as long as it is there.
Open openLockFile(const std::string &path, int &fd)
{
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | flags);
    if (fd >= 0)
        return Open::Ok;
    return errno == ELOOP ? Open::Link : Open::Refused;
}

enum class Lock { Ok, Busy, Refused };

Lock lockExclusive(int fd)
{
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return Lock::Ok;
    return errno == EWOULDBLOCK ? Lock::Busy : Lock::Refused;
}

bool isRegular(int fd)
{
    struct stat sb {};
    return ::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
}

// The name still names the open file: nobody removed or replaced it between
// our open and our lock.
bool sameFile(int fd, const std::string &path)
{
    struct stat open {
    }, named{};
    if (::fstat(fd, &open) != 0 || ::lstat(path.c_str(), &named) != 0)
        return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void removeEntry(const std::string &path) { ::unlink(path.c_str()); }
void closeFile(int fd) { ::close(fd); }

} // namespace
} // namespace os
// ---------------------------------------------------------------------------

namespace {

// Another copy may remove the file between our open and our lock; we then
// start over with a fresh file. A handful of rounds is plenty.
constexpr int kAttempts = 16;

} // namespace

Bytes catalogBusyText() { return W("Каталог уже открыт другой копией Quorvel"); }

CatalogLock::CatalogLock(std::string baseDir) : path_(std::move(baseDir) + ".Quorvel.lock") {}

CatalogLock::~CatalogLock() { release(); }

CatalogLock::State CatalogLock::acquire()
{
    if (fd_ >= 0)
        return State::Held;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int fd = -1;
        switch (os::openLockFile(path_, fd)) {
        case os::Open::Ok:
            break;
        case os::Open::Link:
            // A link planted in its place must not lead us elsewhere.
            os::removeEntry(path_);
            continue;
        case os::Open::Refused:
            return State::Unavailable;
        }
        if (!os::isRegular(fd)) {
            os::closeFile(fd);
            os::removeEntry(path_);
            continue;
        }
        switch (os::lockExclusive(fd)) {
        case os::Lock::Ok:
            break;
        case os::Lock::Busy:
            os::closeFile(fd);
            return State::Busy;
        case os::Lock::Refused:
            // A file system without locks: leave no file behind.
            if (os::sameFile(fd, path_))
                os::removeEntry(path_);
            os::closeFile(fd);
            return State::Unavailable;
        }
        if (os::sameFile(fd, path_)) {
            fd_ = fd;
            return State::Held;
        }
        // The holder released (and removed) it while we were opening.
        os::closeFile(fd);
    }
    return State::Unavailable;
}

void CatalogLock::release()
{
    if (fd_ < 0)
        return;
    // Removed while still locked: whoever opened the old file finds it no
    // longer named and starts over, so no two copies can both hold a lock.
    if (os::sameFile(fd_, path_))
        os::removeEntry(path_);
    os::closeFile(fd_);
    fd_ = -1;
}

} // namespace qv
