#include "storage/FileIo.h"

#include "catalog/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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
    bool symlink = false;
    unsigned mode = 0;  // permission bits
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

int openRead(const std::string &path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

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

// Size, modification time and kind of an open file.
bool describe(int fd, int64_t &size, int64_t &mtime, bool &directory)
{
    struct stat sb {};
    if (::fstat(fd, &sb) != 0)
        return false;
    size = static_cast<int64_t>(sb.st_size);
    mtime = static_cast<int64_t>(sb.st_mtime);
    directory = S_ISDIR(sb.st_mode);
    return true;
}

int closeFile(int fd) { return ::close(fd); }
// Counted for the tests: a write whose sync went missing shows.
long long g_syncs = 0;
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
int renameFile(const std::string &from, const std::string &to) { return ::rename(from.c_str(), to.c_str()); }
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

InputFile::InputFile(const std::string &path)
{
    fd_ = os::openRead(path);
    if (fd_ < 0)
        throw EFOpenError(path);
    bool directory = false;
    if (!os::describe(fd_, size_, mtime_, directory) || directory) {
        os::closeFile(fd_);
        fd_ = -1;
        throw EFOpenError(path);
    }
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        os::closeFile(fd_);
}

long long InputFile::read(char *buf, size_t n)
{
    return os::readSome(fd_, buf, n);
}

int renameFile(const std::string &from, const std::string &to)
{
    return os::renameFile(from, to) == 0 ? 0 : errno;
}

Bytes readWholeFile(const std::string &path)
{
    int fd = os::openRead(path);
    if (fd < 0)
        throw EFOpenError(path);
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

AtomicFile::AtomicFile(const std::string &path, Refusal refusal)
    : path_(os::resolveLink(path))
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
    // user made it read-only for a reason).
    os::Status target = os::status(path_);
    if (target.exists && (target.directory || !os::writableInPlace(path_)))
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
        throw EInOutError(103);  // not open
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

long long AtomicFile::syncCount()
{
    return os::g_syncs;
}

void AtomicFile::prepare()
{
    if (fd_ < 0 || committed_ || prepared_)
        throw EInOutError(103);
    flushBuffer();
    if (failAt_ >= 0 && written_ >= failAt_)
        throw EInOutError::fromErrno(failErr_);
    if (hasMtime_)
        os::setModificationTime(fd_, mtime_);  // a time stamp is not worth failing for
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

} // namespace qv
