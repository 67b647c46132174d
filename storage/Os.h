// The file-system layer: every system call the storage makes goes through
// here, once. The rest of storage/ speaks of handles, kinds and errno-style
// codes; a port to another system replaces Os.cpp alone.
//
// The write path (writeAll, syncFile) carries the test hooks: a write failure
// injected into the next file created or opened for writing, and a count of
// the files made durable. Every writer (atomic replacements, backups, copies
// kept aside, the commit marker, the journal) is reached by them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// What tells one version of a file from another without reading it: the
// device and inode (a rename keeps them, a replacement changes them), the
// size and the modification time to the nanosecond. Symbolic links are
// followed. `exists` is false (and the rest zero) when there is no entry.
struct FileIdentity {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity &) const = default;
};
FileIdentity fileIdentity(const std::string &path);

// An entry of that name exists and is not a directory (links followed).
bool fileExists(const std::string &path);
// An entry of that name exists, whatever it is (links followed; a dangling
// link is no entry). The readers refuse one that is not a regular file.
bool entryExists(const std::string &path);
// A regular file stands at `path` itself (a symbolic link is not followed).
bool plainFileAt(const std::string &path);

// Makes the renames and removals inside `dir` durable. Best effort.
void syncDirectory(const std::string &dir);

// "2026-12-07-083015": local time, for the dated names of kept files.
std::string dateStamp(int64_t seconds);

namespace os {

using Handle = int;
inline constexpr Handle kNoHandle = -1;

enum class Kind { None, Regular, Directory, Link, Other };

struct Status {
    Kind kind = Kind::None;
    unsigned mode = 0; // permission bits
    long long uid = -1, gid = -1;
    bool exists() const { return kind != Kind::None; }
};
// What a name stands for; with `followLinks` false a link is Kind::Link.
Status status(const std::string &path, bool followLinks = true);
// Something, a link (even a dangling one) included, has this name.
bool nameTaken(const std::string &path);
// The process may write the file at `path` in place.
bool writable(const std::string &path);
// The file a path stands for: a symbolic link at `path` resolved (to an
// absolute path), anything else as it is.
std::string resolveLink(const std::string &path);
// The path with every link and "."/".." step resolved, when it exists.
std::optional<std::string> canonicalPath(const std::string &path);
// Creates a folder; 0 or errno.
int makeFolder(const std::string &path, unsigned mode);
// The process runs with the administrator's rights.
bool runsAsRoot();
// The home folder the user database gives the user; "" when none.
std::string userHome();
// This machine's name (the host name) as it may stand in a file name:
// letters, digits, '-' and '_' kept, anything else '_', at most 64 bytes;
// "machine" when the system names none.
std::string machineName();
// The folder part of a path, without its trailing separator ("." when none,
// "/" for the root).
std::string folderOf(const std::string &path);

// ---- reading ----
// Opens a regular file for reading without ever blocking on a FIFO or device
// (and, with `followLinks` false, never through a link): kNoHandle with
// `notRegular` set for anything else there, kNoHandle with errno set on
// other failures.
Handle openForReading(const std::string &path, bool &notRegular, bool followLinks = true);
struct Info {
    int64_t size = 0;
    int64_t mtime = 0;   // seconds since the epoch
    int64_t mtimeNs = 0; // nanoseconds since the epoch
    unsigned mode = 0;   // permission bits
};
// -1 with errno set on failure (here and below, unless said otherwise).
int describe(Handle h, Info &info);
long long readSome(Handle h, char *buf, size_t n);
// Reads until `n` bytes or the end: the count.
long long readFull(Handle h, char *buf, size_t n);
// Reads at `offset` without moving the file position.
long long readAt(Handle h, char *buf, size_t n, int64_t offset);
// Appends everything from the current position to the end; errno or 0.
int readRest(Handle h, std::string &out);
// The first offset at or after `from` that holds data (not a hole of a
// sparse file); -1 when only a hole follows; `from` when the system cannot
// tell.
int64_t nextData(Handle h, int64_t from);
// The first offset at or after `from` where a hole begins (the end of the
// file counts as one); the end of the file when the system cannot tell.
// Both move the file position: put it back with seekTo.
int64_t nextHole(Handle h, int64_t from);
int seekTo(Handle h, int64_t offset);
int rewind(Handle h);
// A regular file's bytes, a link not followed, when it holds at most `limit`.
std::optional<std::string> readBounded(const std::string &path, size_t limit);

// ---- writing ----
// Creates ".<name>.<machine>.tmp-XXXXXX" beside `target` (machineName(): a
// folder shared by a sync engine tells this machine's temporaries apart), new and empty (mode 0600
// until setMode); `tmpPath` gets its name. kNoHandle with errno set.
Handle createTemporaryBeside(const std::string &target, std::string &tmpPath);
// Opens an existing regular file for writing in place, never through a link
// and never blocking: kNoHandle with errno set (ELOOP for a link, EINVAL for
// something that is no regular file).
Handle openForWritingInPlace(const std::string &path);
// Opens, creating when missing, a file for locking: read-write, or read-only
// when that is all we may, never through a link (kNoHandle, errno ELOOP).
Handle openOrCreateNoFollow(const std::string &path);
// Writes all of `bytes` at `offset` (-1: at the current position); 0 or errno.
int writeAll(Handle h, std::string_view bytes, int64_t offset = -1);
// fsync (fdatasync with `dataOnly`); 0 or errno.
int syncFile(Handle h, bool dataOnly = false);
int truncate(Handle h, int64_t size);
int setMode(Handle h, unsigned mode);
// Best effort: only a privileged process can give a file away.
void setOwner(Handle h, long long uid, long long gid);
long long ownerOf(Handle h, bool group);
int setModificationTimeNs(Handle h, int64_t ns);
int close(Handle h);
// The process's file creation mask.
unsigned currentUmask();

// ---- names ----
// 0 or errno.
int rename(const std::string &from, const std::string &to);
// Gives `from` the name `to` only when nothing has that name (a link
// included); EEXIST when something has. 0 or errno.
int renameNoReplace(const std::string &from, const std::string &to);
// Removes a name (a link itself, never what it points to). False on failure.
bool remove(const std::string &path);
// Removes an empty folder. False on failure.
bool removeFolder(const std::string &path);
std::vector<std::string> namesIn(const std::string &dir);
// Takes `name`, or else the first free one of `name-1`, `name-2`, ...:
// `take` tries a name and answers 0 when it took it, EEXIST when the name is
// taken, any other errno to give up. Returns that answer; `taken` gets the
// name taken.
int takeFreeName(const std::string &name, const std::function<int(const std::string &)> &take,
                 std::string &taken);

// ---- locks ----
enum class Lock { Ok, Busy, Refused };
// An exclusive advisory lock, without waiting.
Lock lockExclusive(Handle h);
// The name still names the open file (same device and inode).
bool sameFile(Handle h, const std::string &path);
bool isRegular(Handle h);

// ---- test hooks ----
// The next file created or opened for writing (or, with `skipFiles`, the one
// after that many more) fails with `err` (errno) once `bytes` bytes in total
// have been handed to the system: at the write that would pass that mark
// (the bytes before it are written), or else at its next sync. It fails
// once; the hook then switches itself off. -1 switches it off at once.
// With a `name`, only files written to become a file of that name ("text.dat")
// count.
void failAfter(long long bytes, int err, int skipFiles = 0, const std::string &name = {});
// How many files (not folders) this process has synced so far.
long long syncCount();

} // namespace os
} // namespace qv
