// File access for the catalogue files: whole-file reads, atomic replacement
// (temporary file beside the target, flushed, renamed over it) and the copy
// kept aside. The system calls under them are in storage/Os.
#pragma once

#include "catalog/Text.h"
#include "storage/Os.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

// A fast 64-bit hash of a stream of bytes, the same however the stream is
// cut into pieces: what tells one content of a file from another (not made
// to resist a forger). Eight lanes of multiply-rotate over 8-byte words:
// a few per cent of what reading and parsing the bytes costs.
class ContentHash {
public:
    void add(const char *p, size_t n);
    // The hash of everything added, folded with `size` (the file's size,
    // which may exceed what was added when a reader stopped early).
    uint64_t value(uint64_t size) const;
    uint64_t added() const { return count_; }

private:
    uint64_t lanes_[8] = {0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu, 0x165667B19E3779F9u, 0x27D4EB2F165667C5u,
                          0x85EBCA77C2B2AE63u, 0x94D049BB133111EBu, 0xBF58476D1CE4E5B9u, 0xFF51AFD7ED558CCDu};
    char tail_[64] = {};
    size_t tailBytes_ = 0;
    uint64_t count_ = 0;
};

// Writes a file through a temporary file in the same directory, renamed over
// the target at commit(). Until commit() succeeds the target is untouched;
// a destructor without commit() removes the temporary file. A write that must
// go in place together with another one is prepare()d (the temporary made
// durable and closed) and then put in place by the caller, or by commit().
//  - A target that exists but cannot be written in place (read-only, or no
//    regular file) is refused at open with `refusal`, as an in-place write
//    would be.
//  - Every write, the flush and the close are checked; a failure raises
//    EInOutError with the mapped code ("Диск полон" for a full disk).
//  - A replaced file keeps its permission bits.
//  - Where the folder takes no new entry (no temporary can be made) but the
//    file itself may be written, an AtomicFile allowed to (InPlace) writes
//    it in place: the bytes are held until commit(), which writes them over
//    the old ones, cuts the file to their length and syncs it. The old bytes
//    are kept first by the caller's `keepOld` (a backup copy); when that
//    fails, the file is refused as it would have been. A write cut short in
//    place leaves the file damaged and the kept copy whole.
class AtomicFile {
public:
    enum class Refusal { Create, InOut };
    // FollowLink: a symbolic link at `path` is resolved and the file it
    // names is replaced (the catalogue may live behind a link).
    // ReplaceLink: a link at `path` is itself replaced by the new file; what
    // it pointed to is never touched (backups and other files of ours).
    enum class Links { FollowLink, ReplaceLink };
    struct InPlace {
        bool allowed = false;
        // Keeps the file's old bytes before they are written over; raises
        // an Error when it cannot. None when empty.
        std::function<void()> keepOld;
    };
    // Opens the temporary file. On failure raises EFCreateError(path) when
    // refusal is Create, else EInOutError.
    AtomicFile(const std::string &path, Refusal refusal, Links links = Links::FollowLink);
    AtomicFile(const std::string &path, Refusal refusal, Links links, const InPlace &inPlace);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Buffered; raises EInOutError.
    void write(std::string_view bytes);
    // Leaves `bytes` zero bytes next, as a hole where the system has them
    // (a sparse copy); raises EInOutError.
    void skip(uint64_t bytes);
    // Flush, fsync, close, rename over the target; raises EInOutError.
    void commit();

    // Flush, fsync and close the temporary file, leaving it beside the target
    // (commit() then only renames); raises EInOutError. In place: nothing.
    void prepare();
    // The file is written in place at commit() (there is no temporary).
    bool inPlace() const { return inPlace_; }
    // The file replaced (a symbolic link resolved) and the temporary file.
    const std::string &targetPath() const { return path_; }
    const std::string &temporaryPath() const { return tmpPath_; }
    // After prepare(): the caller renames the temporary file itself; the
    // destructor then leaves it alone.
    void release() { committed_ = true; }

    // The modification time (seconds since the epoch) the file gets at
    // commit(), before it is put in place; the access time is left alone.
    void setModificationTime(int64_t seconds);
    // A ContentHash of every byte written (none skipped), as a reader of
    // the whole file gets it from InputFile::contentHash().
    uint64_t contentHash() const { return hash_.value(hash_.added()); }

private:
    void flushBuffer();
    void writeInPlace();
    std::string path_;
    std::string tmpPath_;
    os::Handle fd_ = os::kNoHandle;
    std::string buffer_;
    bool inPlace_ = false;
    bool committed_ = false;
    bool prepared_ = false;
    bool hasMtime_ = false;
    int64_t mtime_ = 0;
    uint64_t length_ = 0;     // bytes written and skipped
    bool endsInHole_ = false; // the last bytes were skipped: the file is cut to length_
    ContentHash hash_;
};

// A regular file open for reading, closed by the destructor. Only a
// regular file is opened: a FIFO, device, socket or directory at `path`
// raises ENotRegularFile(path) without blocking and without being read.
class InputFile {
public:
    // What an entry that cannot be opened raises: EFOpenError(path), or
    // EInOutError with the system's code mapped.
    enum class Failure { FOpen, InOut };
    explicit InputFile(const std::string &path, Failure failure = Failure::FOpen);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    int64_t size() const { return size_; }
    int64_t modificationTime() const { return mtime_; }
    unsigned mode() const { return mode_; } // permission bits
    // Reads up to n bytes: the count, 0 at the end, -1 on failure.
    long long read(char *buf, size_t n);
    // Back to the first byte; raises EInOutError.
    void rewind();
    // The next run of data at or after `from` in a sparse file, [start, end)
    // (the whole rest where the system cannot tell); false when only a hole
    // follows. The read position is put at `start`. Raises EInOutError.
    bool nextData(int64_t from, int64_t &start, int64_t &end);
    // Whether any byte from `offset` to the end is not one of `ignorable`.
    // Holes of a sparse file are skipped unread. The read position is left
    // alone. Raises EInOutError.
    bool contentAfter(int64_t offset, std::string_view ignorable);
    // A ContentHash of the bytes read() gave since the open or the last
    // rewind(), folded with the file's size.
    uint64_t contentHash() const { return hash_.value(static_cast<uint64_t>(size_)); }

private:
    ContentHash hash_;
    os::Handle fd_ = os::kNoHandle;
    int64_t size_ = 0;
    int64_t mtime_ = 0;
    unsigned mode_ = 0;
};

// Reads a whole file. Raises EFOpenError(path) when it cannot be opened,
// ENotRegularFile(path) when it is no regular file and EInOutError on a read
// failure.
Bytes readWholeFile(const std::string &path);

// Copies `source` (a regular file) to a new file named `name`, or `name-1`,
// `name-2`, ... when that name is taken: an existing entry, a link included,
// is never replaced nor followed. The copy appears whole or not at all,
// flushed to the disk, with the source's permission bits and modification
// time; the holes of a sparse source stay holes. Returns the name used. Raises EFOpenError/ENotRegularFile for the
// source and EInOutError for the copy.
std::string copyAside(const std::string &source, const std::string &name);

} // namespace qv
