#include "storage/FileIo.h"

#include "catalog/Errors.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace qv {

// ---------------------------------------------------------------------------
// The operating-system layer. Everything below this block goes through these
// few calls; a port replaces only them.
namespace os {
namespace {

struct Status {
    bool exists = false;
    bool directory = false;
    bool regular = false;
    bool symlink = false;
    unsigned mode = 0; // permission bits
    long long uid = -1, gid = -1;
};

Status status(const std::string &path, bool followLinks = true)
{
    Status st;
    struct stat sb {};
    int rc = followLinks ? ::stat(path.c_str(), &sb) : ::lstat(path.c_str(), &sb);
    if (rc != 0)
        return st;
    st.exists = true;
    st.directory = S_ISDIR(sb.st_mode);
    st.regular = S_ISREG(sb.st_mode);
    st.symlink = S_ISLNK(sb.st_mode);
    st.mode = sb.st_mode & 07777;
    st.uid = sb.st_uid;
    st.gid = sb.st_gid;
    return st;
}

bool writableInPlace(const std::string &path) { return ::access(path.c_str(), W_OK) == 0; }

// Resolves a symbolic link so that the file it names is the one replaced.
std::string resolveLink(const std::string &path)
{
    if (!status(path, false).symlink)
        return path;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf))
        return buf;
    return path;
}

unsigned currentUmask()
{
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// Opens a regular file for reading. A FIFO, device, socket or directory is
// never read (nor waited on): `notRegular` is set and -1 returned. Any other
// failure returns -1 with errno set.
int openRegular(const std::string &path, bool &notRegular)
{
    notRegular = false;
    struct stat sb {};
    if (::stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode)) {
        notRegular = true;
        return -1;
    }
    // Non-blocking, so that an entry swapped for a FIFO since the look above
    // cannot hang the open; the kind is checked again on what was opened.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &sb) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (!S_ISREG(sb.st_mode)) {
        notRegular = true;
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Reads up to n bytes at `offset` without moving the file position; -1 with
// errno set on failure.
long long readAt(int fd, char *buf, size_t n, int64_t offset)
{
    for (;;) {
        ssize_t r = ::pread(fd, buf, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

// The first offset at or after `from` that holds data (not a hole of a
// sparse file); -1 when only a hole follows; `from` when the file system
// cannot tell.
int64_t nextData(int fd, int64_t from)
{
    off_t at = ::lseek(fd, static_cast<off_t>(from), SEEK_DATA);
    if (at >= 0)
        return static_cast<int64_t>(at);
    return errno == ENXIO ? -1 : from;
}

int rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : -1; }

// Reads up to n bytes; -1 with errno set on failure, 0 at the end.
long long readSome(int fd, char *buf, size_t n)
{
    for (;;) {
        ssize_t r = ::read(fd, buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

// Writes up to n bytes; -1 with errno set on failure.
long long writeSome(int fd, const char *buf, size_t n)
{
    for (;;) {
        ssize_t r = ::write(fd, buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

// Size, modification time (seconds, and nanoseconds since the epoch) and
// permission bits of an open file.
bool describe(int fd, int64_t &size, int64_t &mtime, int64_t &mtimeNs, unsigned &mode)
{
    struct stat sb {};
    if (::fstat(fd, &sb) != 0)
        return false;
    size = static_cast<int64_t>(sb.st_size);
    mtime = static_cast<int64_t>(sb.st_mtime);
    mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
    mode = sb.st_mode & 07777;
    return true;
}

int closeFile(int fd) { return ::close(fd); }
// Counted for the tests: a write whose sync went missing shows. Backups
// sync on a worker thread while the window's saves sync on its own.
std::atomic<long long> g_syncs = 0;
int syncFile(int fd)
{
    ++g_syncs;
    return ::fsync(fd);
}
int setMode(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)); }
void setOwner(int fd, long long uid, long long gid)
{
    // Best effort: only a privileged process can give a file away.
    (void)!::fchown(fd, static_cast<uid_t>(uid), static_cast<gid_t>(gid));
}
long long ownerOf(int fd, bool group)
{
    struct stat sb {};
    if (::fstat(fd, &sb) != 0)
        return -1;
    return group ? sb.st_gid : sb.st_uid;
}
int setModificationTime(int fd, int64_t seconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    return ::futimens(fd, times);
}
int setModificationTimeNs(int fd, int64_t ns)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
    times[1].tv_nsec = static_cast<long>(ns % 1000000000);
    return ::futimens(fd, times);
}
int renameFile(const std::string &from, const std::string &to) { return ::rename(from.c_str(), to.c_str()); }
// Gives `from` the name `to` only when no entry has that name (a link
// included); -1 with errno EEXIST when one has.
int renameNoReplace(const std::string &from, const std::string &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    // A file system without the exclusive rename: a hard link is just as
    // exclusive, then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
}
void removeFile(const std::string &path) { ::unlink(path.c_str()); }

// Creates a new, empty, uniquely named file from a template ending in
// "XXXXXX"; returns its descriptor and the chosen name, or -1.
int createUnique(std::string &nameTemplate)
{
    std::string buf = nameTemplate;
    int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd >= 0)
        nameTemplate = buf;
    return fd;
}

// Makes a rename inside `dir` durable. Best effort.
void syncDirectory(const std::string &dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace
} // namespace os
// ---------------------------------------------------------------------------

namespace {

constexpr size_t kBufferSize = 64 * 1024;

// The test hook, consumed by the next AtomicFile.
long long g_failAt = -1;
int g_failErr = 0;
int g_failSkip = 0;

// Directory part (without trailing separator, "." when none) and name part.
void splitPath(const std::string &path, std::string &dir, std::string &name)
{
    size_t pos = path.find_last_of('/');
    if (pos == std::string::npos) {
        dir.assign(1, '.');
        name = path;
    } else {
        dir = path.substr(0, pos == 0 ? 1 : pos);
        name = path.substr(pos + 1);
    }
}

[[noreturn]] void refuse(const std::string &path, AtomicFile::Refusal refusal, int code)
{
    if (refusal == AtomicFile::Refusal::Create)
        throw EFCreateError(path);
    throw EInOutError(code);
}

} // namespace

bool fileExists(const std::string &path)
{
    os::Status st = os::status(path);
    return st.exists && !st.directory;
}

bool entryExists(const std::string &path) { return os::status(path).exists; }

bool plainFileAt(const std::string &path) { return os::status(path, false).regular; }

FileIdentity fileIdentity(const std::string &path)
{
    FileIdentity id;
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0)
        return id;
    id.exists = true;
    id.device = static_cast<uint64_t>(sb.st_dev);
    id.inode = static_cast<uint64_t>(sb.st_ino);
    id.size = static_cast<int64_t>(sb.st_size);
    id.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
    return id;
}

namespace {

// Opens a regular file for reading or raises the error `failure` asks for.
int openForReading(const std::string &path, InputFile::Failure failure)
{
    bool notRegular = false;
    const int fd = os::openRegular(path, notRegular);
    if (fd >= 0)
        return fd;
    if (notRegular)
        throw ENotRegularFile(path);
    if (failure == InputFile::Failure::InOut)
        throw EInOutError::fromErrno(errno);
    throw EFOpenError(path);
}

} // namespace

InputFile::InputFile(const std::string &path, Failure failure)
{
    fd_ = openForReading(path, failure);
    int64_t mtimeNs = 0;
    if (!os::describe(fd_, size_, mtime_, mtimeNs, mode_)) {
        const int err = errno;
        os::closeFile(fd_);
        fd_ = -1;
        if (failure == Failure::InOut)
            throw EInOutError::fromErrno(err);
        throw EFOpenError(path);
    }
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        os::closeFile(fd_);
}

long long InputFile::read(char *buf, size_t n) { return os::readSome(fd_, buf, n); }

void InputFile::rewind()
{
    if (os::rewind(fd_) != 0)
        throw EInOutError::fromErrno(errno);
}

bool InputFile::contentAfter(int64_t offset, std::string_view ignorable)
{
    bool skip[256] = {};
    for (char c : ignorable)
        skip[static_cast<unsigned char>(c)] = true;
    std::vector<char> buf(kBufferSize);
    int64_t pos = offset;
    for (;;) {
        pos = os::nextData(fd_, pos);
        if (pos < 0)
            return false;
        const long long n = os::readAt(fd_, buf.data(), buf.size(), pos);
        if (n < 0)
            throw EInOutError::fromErrno(errno);
        if (n == 0)
            return false;
        for (long long i = 0; i < n; ++i)
            if (!skip[static_cast<unsigned char>(buf[static_cast<size_t>(i)])])
                return true;
        pos += n;
    }
}

int renameFile(const std::string &from, const std::string &to)
{
    return os::renameFile(from, to) == 0 ? 0 : errno;
}

Bytes readWholeFile(const std::string &path)
{
    int fd = openForReading(path, InputFile::Failure::FOpen);
    Bytes data;
    char buf[kBufferSize];
    for (;;) {
        long long n = os::readSome(fd, buf, sizeof buf);
        if (n < 0) {
            int err = errno;
            os::closeFile(fd);
            throw EInOutError::fromErrno(err);
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    os::closeFile(fd);
    return data;
}

// ---- AtomicFile ----

void AtomicFile::failAfter(long long bytes, int err, int skipFiles)
{
    g_failAt = bytes;
    g_failErr = err;
    g_failSkip = skipFiles;
}

AtomicFile::AtomicFile(const std::string &path, Refusal refusal, Links links)
    : path_(links == Links::FollowLink ? os::resolveLink(path) : path)
{
    if (g_failAt >= 0 && g_failSkip > 0) {
        --g_failSkip;
    } else {
        failAt_ = g_failAt;
        failErr_ = g_failErr;
        g_failAt = -1;
    }

    // Refuse what an in-place write would be refused: a directory, or an
    // existing file we may not write (a rename could replace it, but the
    // user made it read-only for a reason). A FIFO, device or socket is
    // no file of ours to replace either.
    os::Status target = os::status(path_, links == Links::FollowLink);
    if (target.symlink)
        target = {}; // the link goes, its target is none of our business
    if (target.exists && (!target.regular || !os::writableInPlace(path_)))
        refuse(path, refusal, 5);

    std::string dir, name;
    splitPath(path_, dir, name);
    std::string tmpl = (dir == "/" ? dir : dir + "/") + "." + name + ".tmp-XXXXXX";
    fd_ = os::createUnique(tmpl);
    if (fd_ < 0)
        refuse(path, refusal, EInOutError::codeFromErrno(errno));
    tmpPath_ = tmpl;

    // The replacement carries the old file's permissions (and, when we are
    // allowed to, its owner); a new file gets the usual default.
    unsigned mode = target.exists ? target.mode : (0666u & ~os::currentUmask());
    if (target.exists && (os::ownerOf(fd_, false) != target.uid || os::ownerOf(fd_, true) != target.gid))
        os::setOwner(fd_, target.uid, target.gid);
    if (os::setMode(fd_, mode) != 0) {
        int err = errno;
        os::closeFile(fd_);
        fd_ = -1;
        os::removeFile(tmpPath_);
        refuse(path, refusal, EInOutError::codeFromErrno(err));
    }
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile()
{
    if (fd_ >= 0)
        os::closeFile(fd_);
    if (!committed_ && !tmpPath_.empty())
        os::removeFile(tmpPath_);
}

void AtomicFile::write(std::string_view bytes)
{
    if (fd_ < 0)
        throw EInOutError(103); // not open
    if (buffer_.size() + bytes.size() < kBufferSize) {
        buffer_.append(bytes);
        return;
    }
    // Fill the buffer, hand it over, and keep going in whole buffers.
    size_t take = kBufferSize - buffer_.size();
    buffer_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    flushBuffer();
    while (bytes.size() >= kBufferSize) {
        buffer_.assign(bytes.substr(0, kBufferSize));
        bytes.remove_prefix(kBufferSize);
        flushBuffer();
    }
    buffer_.assign(bytes);
}

void AtomicFile::flushBuffer()
{
    const char *p = buffer_.data();
    size_t left = buffer_.size();
    while (left > 0) {
        size_t chunk = left;
        if (failAt_ >= 0 && written_ + static_cast<long long>(chunk) > failAt_) {
            chunk = static_cast<size_t>(failAt_ - written_);
            if (chunk == 0)
                throw EInOutError::fromErrno(failErr_);
        }
        long long n = os::writeSome(fd_, p, chunk);
        if (n < 0)
            throw EInOutError::fromErrno(errno);
        if (n == 0)
            throw EInOutError::fromErrno(ENOSPC);
        written_ += n;
        p += n;
        left -= static_cast<size_t>(n);
    }
    buffer_.clear();
}

void AtomicFile::setModificationTime(int64_t seconds)
{
    hasMtime_ = true;
    mtime_ = seconds;
}

long long AtomicFile::syncCount() { return os::g_syncs; }

void AtomicFile::prepare()
{
    if (fd_ < 0 || committed_ || prepared_)
        throw EInOutError(103);
    flushBuffer();
    if (failAt_ >= 0 && written_ >= failAt_)
        throw EInOutError::fromErrno(failErr_);
    if (hasMtime_)
        os::setModificationTime(fd_, mtime_); // a time stamp is not worth failing for
    if (os::syncFile(fd_) != 0)
        throw EInOutError::fromErrno(errno);
    int fd = fd_;
    fd_ = -1;
    if (os::closeFile(fd) != 0)
        throw EInOutError::fromErrno(errno);
    prepared_ = true;
}

void AtomicFile::commit()
{
    if (!prepared_)
        prepare();
    if (committed_)
        throw EInOutError(103);
    if (os::renameFile(tmpPath_, path_) != 0)
        throw EInOutError::fromErrno(errno);
    committed_ = true;
    std::string dir, name;
    splitPath(path_, dir, name);
    os::syncDirectory(dir);
}

// ---- copyAside ----

std::string copyAside(const std::string &source, const std::string &name)
{
    const int in = openForReading(source, InputFile::Failure::FOpen);
    struct Closer {
        int fd;
        std::string removeMe;
        ~Closer()
        {
            if (fd >= 0)
                os::closeFile(fd);
            if (!removeMe.empty())
                os::removeFile(removeMe);
        }
    } input{in, {}};
    int64_t size = 0, mtime = 0, mtimeNs = 0;
    unsigned mode = 0;
    if (!os::describe(in, size, mtime, mtimeNs, mode))
        throw EInOutError::fromErrno(errno);

    std::string dir, base;
    splitPath(name, dir, base);
    std::string tmp = (dir == "/" ? dir : dir + "/") + "." + base + ".tmp-XXXXXX";
    const int out = os::createUnique(tmp);
    if (out < 0)
        throw EInOutError::fromErrno(errno);
    Closer output{out, tmp};

    std::vector<char> buf(kBufferSize);
    for (;;) {
        const long long n = os::readSome(in, buf.data(), buf.size());
        if (n < 0)
            throw EInOutError::fromErrno(errno);
        if (n == 0)
            break;
        for (long long done = 0; done < n;) {
            const long long w = os::writeSome(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0)
                throw EInOutError::fromErrno(errno);
            if (w == 0)
                throw EInOutError::fromErrno(ENOSPC);
            done += w;
        }
    }
    if (os::setMode(out, mode) != 0)
        throw EInOutError::fromErrno(errno);
    os::setModificationTimeNs(out, mtimeNs); // a time stamp is not worth failing for
    if (os::syncFile(out) != 0)
        throw EInOutError::fromErrno(errno);
    output.fd = -1;
    if (os::closeFile(out) != 0)
        throw EInOutError::fromErrno(errno);

    std::string chosen = name;
    for (int n = 1;; ++n) {
        if (os::renameNoReplace(tmp, chosen) == 0)
            break;
        if (errno != EEXIST)
            throw EInOutError::fromErrno(errno);
        chosen = name + "-" + std::to_string(n);
    }
    output.removeMe.clear();
    os::syncDirectory(dir);
    return chosen;
}

void syncDirectory(const std::string &dir) { os::syncDirectory(dir); }

std::string dateStamp(int64_t seconds)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char buf[80];
    if (!localtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%Y-%m-%d-%H%M%S", &tm) == 0)
        return std::to_string(seconds);
    return buf;
}

} // namespace qv
