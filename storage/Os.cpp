#include "storage/Os.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace qv {

namespace os {
namespace {

int64_t nanoseconds(const struct timespec &t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

Kind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::Regular;
    if (S_ISDIR(mode))
        return Kind::Directory;
    if (S_ISLNK(mode))
        return Kind::Link;
    return Kind::Other;
}

// ---- the test hooks ----
// Backups are copied on a worker thread while the window saves on its own:
// the hook's state is shared under a lock, the count is atomic.
std::atomic<long long> g_syncs = 0;
std::atomic<bool> g_hookSet = false;
std::mutex g_hookMutex;
struct Hook {
    long long failAt = -1; // waiting for the next file
    int err = 0;
    int skip = 0;
    std::string name;         // only files of this name count; any when empty
    Handle armed = kNoHandle; // the file it fails
    long long armedAt = -1;
    int armedErr = 0;
    long long written = 0;
} g_hook;

void disarm()
{
    g_hook.armed = kNoHandle;
    g_hookSet = g_hook.failAt >= 0;
}

// A file was created or opened for writing, to become `target`.
void opened(Handle h, const std::string &target)
{
    if (!g_hookSet)
        return;
    std::lock_guard lock(g_hookMutex);
    if (g_hook.failAt < 0)
        return;
    if (!g_hook.name.empty() && target.substr(target.find_last_of('/') + 1) != g_hook.name)
        return;
    if (g_hook.skip > 0) {
        --g_hook.skip;
        return;
    }
    g_hook.armed = h;
    g_hook.armedAt = g_hook.failAt;
    g_hook.armedErr = g_hook.err;
    g_hook.written = 0;
    g_hook.failAt = -1;
}

// How many of `n` bytes may be written to `h` before the injected failure;
// `n` when none is due.
size_t allowedWrite(Handle h, size_t n, int &err)
{
    if (!g_hookSet)
        return n;
    std::lock_guard lock(g_hookMutex);
    if (g_hook.armed != h || g_hook.written + static_cast<long long>(n) <= g_hook.armedAt) {
        if (g_hook.armed == h)
            g_hook.written += static_cast<long long>(n);
        return n;
    }
    const auto allowed = static_cast<size_t>(g_hook.armedAt - g_hook.written);
    err = g_hook.armedErr;
    disarm();
    return allowed;
}

// The injected failure due at a sync of `h`, or 0.
int syncFailure(Handle h)
{
    if (!g_hookSet)
        return 0;
    std::lock_guard lock(g_hookMutex);
    if (g_hook.armed != h || g_hook.written < g_hook.armedAt)
        return 0;
    const int err = g_hook.armedErr;
    disarm();
    return err;
}

void closed(Handle h)
{
    if (!g_hookSet)
        return;
    std::lock_guard lock(g_hookMutex);
    if (g_hook.armed == h)
        disarm();
}

} // namespace

// ---- names and kinds ----

Status status(const std::string &path, bool followLinks)
{
    Status st;
    struct stat sb {};
    if ((followLinks ? ::stat(path.c_str(), &sb) : ::lstat(path.c_str(), &sb)) != 0)
        return st;
    st.kind = kindOf(sb.st_mode);
    st.mode = sb.st_mode & 07777;
    st.uid = sb.st_uid;
    st.gid = sb.st_gid;
    return st;
}

bool nameTaken(const std::string &path) { return status(path, false).exists(); }

bool writable(const std::string &path) { return ::access(path.c_str(), W_OK) == 0; }

std::string resolveLink(const std::string &path)
{
    if (status(path, false).kind != Kind::Link)
        return path;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf))
        return buf;
    return path;
}

std::optional<std::string> canonicalPath(const std::string &path)
{
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return std::nullopt;
    std::string out = real;
    std::free(real);
    return out;
}

int makeFolder(const std::string &path, unsigned mode)
{
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

bool runsAsRoot() { return ::geteuid() == 0; }

std::string userHome()
{
    const passwd *pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

std::string machineName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    std::string name;
    for (const char *c = host; *c && name.size() < 64; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
        name.push_back(plain || u == '-' || u == '_' ? *c : '_');
    }
    return name.empty() ? "machine" : name;
}

std::string folderOf(const std::string &path)
{
    const size_t pos = path.find_last_of('/');
    if (pos == std::string::npos)
        return ".";
    return path.substr(0, pos == 0 ? 1 : pos);
}

// ---- reading ----

Handle openForReading(const std::string &path, bool &notRegular, bool followLinks)
{
    notRegular = false;
    struct stat sb {};
    if (followLinks && ::stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode)) {
        notRegular = true;
        return kNoHandle;
    }
    // Non-blocking, so that an entry swapped for a FIFO since the look above
    // cannot hang the open; the kind is checked again on what was opened.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kNoHandle;
    if (::fstat(fd, &sb) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return kNoHandle;
    }
    if (!S_ISREG(sb.st_mode)) {
        notRegular = true;
        ::close(fd);
        return kNoHandle;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

int describe(Handle h, Info &info)
{
    struct stat sb {};
    if (::fstat(h, &sb) != 0)
        return -1;
    info.size = static_cast<int64_t>(sb.st_size);
    info.mtime = static_cast<int64_t>(sb.st_mtime);
    info.mtimeNs = nanoseconds(sb.st_mtim);
    info.mode = sb.st_mode & 07777;
    return 0;
}

long long readSome(Handle h, char *buf, size_t n)
{
    for (;;) {
        const ssize_t r = ::read(h, buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

long long readFull(Handle h, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const long long r = readSome(h, buf + got, n - got);
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long long>(got);
}

long long readAt(Handle h, char *buf, size_t n, int64_t offset)
{
    for (;;) {
        const ssize_t r = ::pread(h, buf, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

int readRest(Handle h, std::string &out)
{
    char buf[64 * 1024];
    for (;;) {
        const long long n = readSome(h, buf, sizeof buf);
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        out.append(buf, static_cast<size_t>(n));
    }
}

int64_t nextData(Handle h, int64_t from)
{
    const off_t at = ::lseek(h, static_cast<off_t>(from), SEEK_DATA);
    if (at >= 0)
        return static_cast<int64_t>(at);
    return errno == ENXIO ? -1 : from;
}

int64_t nextHole(Handle h, int64_t from)
{
    const off_t at = ::lseek(h, static_cast<off_t>(from), SEEK_HOLE);
    if (at >= 0)
        return static_cast<int64_t>(at);
    struct stat st {};
    return ::fstat(h, &st) == 0 ? std::max<int64_t>(from, static_cast<int64_t>(st.st_size)) : from;
}

int seekTo(Handle h, int64_t offset)
{
    return ::lseek(h, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) ? 0 : -1;
}

int rewind(Handle h) { return ::lseek(h, 0, SEEK_SET) == 0 ? 0 : -1; }

std::optional<std::string> readBounded(const std::string &path, size_t limit)
{
    bool notRegular = false;
    const Handle h = openForReading(path, notRegular, false);
    if (h == kNoHandle)
        return std::nullopt;
    std::string data(limit + 1, '\0');
    const long long got = readFull(h, data.data(), data.size());
    close(h);
    if (got < 0 || static_cast<size_t>(got) > limit)
        return std::nullopt;
    data.resize(static_cast<size_t>(got));
    return data;
}

// ---- writing ----

Handle createTemporaryBeside(const std::string &target, std::string &tmpPath)
{
    const std::string dir = folderOf(target);
    const size_t slash = target.find_last_of('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string buf = (dir == "/" ? dir : dir + "/") + "." + name + "." + machineName() + ".tmp-XXXXXX";
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0)
        return kNoHandle;
    tmpPath = buf;
    opened(fd, target);
    return fd;
}

Handle openForWritingInPlace(const std::string &path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kNoHandle;
    if (!isRegular(fd)) {
        ::close(fd);
        errno = EINVAL;
        return kNoHandle;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    opened(fd, path);
    return fd;
}

Handle openOrCreateNoFollow(const std::string &path)
{
    // A file we may read but not write still serves, as long as it is there.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(path.c_str(), O_RDONLY | flags);
    return fd;
}

int writeAll(Handle h, std::string_view bytes, int64_t offset)
{
    int injected = 0;
    const size_t allowed = allowedWrite(h, bytes.size(), injected);
    std::string_view left = bytes.substr(0, allowed);
    while (!left.empty()) {
        const ssize_t n = offset < 0 ? ::write(h, left.data(), left.size())
                                     : ::pwrite(h, left.data(), left.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        left.remove_prefix(static_cast<size_t>(n));
        if (offset >= 0)
            offset += n;
    }
    return injected;
}

int syncFile(Handle h, bool dataOnly)
{
    if (const int err = syncFailure(h))
        return err;
    ++g_syncs;
    if ((dataOnly ? ::fdatasync(h) : ::fsync(h)) != 0)
        return errno;
    return 0;
}

int truncate(Handle h, int64_t size) { return ::ftruncate(h, static_cast<off_t>(size)) == 0 ? 0 : errno; }

int setMode(Handle h, unsigned mode) { return ::fchmod(h, static_cast<mode_t>(mode)); }

void setOwner(Handle h, long long uid, long long gid)
{
    (void)!::fchown(h, static_cast<uid_t>(uid), static_cast<gid_t>(gid));
}

long long ownerOf(Handle h, bool group)
{
    struct stat sb {};
    if (::fstat(h, &sb) != 0)
        return -1;
    return group ? sb.st_gid : sb.st_uid;
}

int setModificationTimeNs(Handle h, int64_t ns)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
    times[1].tv_nsec = static_cast<long>(ns % 1000000000);
    return ::futimens(h, times);
}

int close(Handle h)
{
    closed(h);
    return ::close(h);
}

unsigned currentUmask()
{
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// ---- names ----

int rename(const std::string &from, const std::string &to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int renameNoReplace(const std::string &from, const std::string &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the exclusive rename: a hard link is just as
    // exclusive, then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

bool remove(const std::string &path) { return ::unlink(path.c_str()) == 0; }

bool removeFolder(const std::string &path) { return ::rmdir(path.c_str()) == 0; }

std::vector<std::string> namesIn(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d))
        names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

int takeFreeName(const std::string &name, const std::function<int(const std::string &)> &take,
                 std::string &taken)
{
    taken = name;
    for (int n = 1;; ++n) {
        const int err = take(taken);
        if (err != EEXIST)
            return err;
        taken = name + "-" + std::to_string(n);
    }
}

// ---- locks ----

Lock lockExclusive(Handle h)
{
    int rc;
    do {
        rc = ::flock(h, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return Lock::Ok;
    return errno == EWOULDBLOCK ? Lock::Busy : Lock::Refused;
}

bool sameFile(Handle h, const std::string &path)
{
    struct stat open {
    }, named{};
    if (::fstat(h, &open) != 0 || ::lstat(path.c_str(), &named) != 0)
        return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool isRegular(Handle h)
{
    struct stat sb {};
    return ::fstat(h, &sb) == 0 && S_ISREG(sb.st_mode);
}

// ---- test hooks ----

void failAfter(long long bytes, int err, int skipFiles, const std::string &name)
{
    std::lock_guard lock(g_hookMutex);
    g_hook.failAt = bytes;
    g_hook.err = err;
    g_hook.skip = bytes >= 0 ? skipFiles : 0;
    g_hook.name = name;
    if (bytes < 0)
        g_hook.armed = kNoHandle;
    g_hookSet = bytes >= 0 || g_hook.armed != kNoHandle;
}

long long syncCount() { return g_syncs; }

} // namespace os

// ---- the shared vocabulary ----

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
    id.mtimeNs = os::nanoseconds(sb.st_mtim);
    return id;
}

bool fileExists(const std::string &path)
{
    const os::Status st = os::status(path);
    return st.exists() && st.kind != os::Kind::Directory;
}

bool entryExists(const std::string &path) { return os::status(path).exists(); }

bool plainFileAt(const std::string &path) { return os::status(path, false).kind == os::Kind::Regular; }

void syncDirectory(const std::string &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

std::string dateStamp(int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char buf[80];
    if (!localtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%Y-%m-%d-%H%M%S", &tm) == 0)
        return std::to_string(seconds);
    return buf;
}

} // namespace qv
