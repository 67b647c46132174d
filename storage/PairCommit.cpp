#include "storage/PairCommit.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::paircommit {

// ---------------------------------------------------------------------------
// The operating-system layer; a port replaces only this block.
namespace os {
namespace {

enum class Kind { None, Regular, Directory, Link, Other };

// What a name stands for, a link not followed.
Kind kindOf(const std::string &path)
{
    struct stat sb {};
    if (::lstat(path.c_str(), &sb) != 0)
        return Kind::None;
    if (S_ISREG(sb.st_mode))
        return Kind::Regular;
    if (S_ISDIR(sb.st_mode))
        return Kind::Directory;
    if (S_ISLNK(sb.st_mode))
        return Kind::Link;
    return Kind::Other;
}

// A regular file's bytes, a link not followed, when it holds at most `limit`.
std::optional<std::string> readSmall(const std::string &path, size_t limit)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;
    struct stat sb {};
    std::optional<std::string> out;
    if (::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode)) {
        std::string data(limit + 1, '\0');
        size_t got = 0;
        for (;;) {
            ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
            if (got == data.size())
                break;
        }
        if (got <= limit) {
            data.resize(got);
            out = std::move(data);
        }
    }
    ::close(fd);
    return out;
}

int renameFile(const std::string &from, const std::string &to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool removeEntry(const std::string &path) { return ::unlink(path.c_str()) == 0; }

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

std::string resolveLink(const std::string &path)
{
    if (kindOf(path) != Kind::Link)
        return path;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf))
        return buf;
    return path;
}

} // namespace
} // namespace os
// ---------------------------------------------------------------------------

namespace {

constexpr char kHeader[] = "Quorvel commit";
constexpr char kTrailer[] = "end";
// Four full paths and the frame fit many times over.
constexpr size_t kMarkerLimit = 64 * 1024;
// What an atomic write appends to ".<name>": ".tmp-" and six letters/digits.
constexpr char kTemporaryInfix[] = ".tmp-";
constexpr size_t kUniqueLength = 6;

// Directory part with its trailing separator ("./" when none) and name part.
void splitPath(const std::string &path, std::string &dir, std::string &name)
{
    const size_t pos = path.find_last_of('/');
    if (pos == std::string::npos) {
        dir = "./";
        name = path;
    } else {
        dir = path.substr(0, pos + 1);
        name = path.substr(pos + 1);
    }
}

bool isTemporaryName(const std::string &name, const std::string &of)
{
    const std::string prefix = "." + of + kTemporaryInfix;
    if (name.size() != prefix.size() + kUniqueLength || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// The temporary sits beside its target under the name an atomic write of the
// target gives it, and is either gone or a plain file.
bool isOurTemporary(const Move &m)
{
    std::string tmpDir, tmpName, targetDir, targetName;
    splitPath(m.temporary, tmpDir, tmpName);
    splitPath(m.target, targetDir, targetName);
    if (tmpDir != targetDir || !isTemporaryName(tmpName, targetName))
        return false;
    const os::Kind kind = os::kindOf(m.temporary);
    return kind == os::Kind::None || kind == os::Kind::Regular;
}

} // namespace

std::string markerPath(const std::string &baseDir) { return baseDir + ".Quorvel.commit"; }

std::string resolvedPath(const std::string &path) { return os::resolveLink(path); }

bool entryExists(const std::string &path) { return os::kindOf(path) != os::Kind::None; }

void removeFile(const std::string &path) { os::removeEntry(path); }

void writeMarker(const std::string &baseDir, const std::vector<Move> &moves)
{
    // The marker is a file of NUL-terminated fields: the header, a temporary
    // and its target per move, the trailer. A marker missing its trailer was
    // cut short and is not acted on.
    std::string bytes(kHeader, sizeof kHeader);
    for (const Move &m : moves) {
        bytes.append(m.temporary).push_back('\0');
        bytes.append(m.target).push_back('\0');
    }
    bytes.append(kTrailer, sizeof kTrailer);

    const std::string path = markerPath(baseDir);
    if (os::kindOf(path) == os::Kind::Link)
        os::removeEntry(path);
    AtomicFile file(path, AtomicFile::Refusal::InOut);
    file.write(bytes);
    file.commit(); // fsynced, renamed, the folder synced
}

std::optional<std::vector<Move>> readMarker(const std::string &baseDir,
                                            const std::vector<std::string> &targets)
{
    const std::optional<std::string> bytes = os::readSmall(markerPath(baseDir), kMarkerLimit);
    if (!bytes || bytes->empty() || bytes->back() != '\0')
        return std::nullopt;
    std::vector<std::string> fields;
    for (size_t pos = 0; pos < bytes->size();) {
        const size_t end = bytes->find('\0', pos);
        fields.push_back(bytes->substr(pos, end - pos));
        pos = end + 1;
    }
    if (fields.size() < 4 || fields.size() % 2 != 0 || fields.front() != kHeader || fields.back() != kTrailer)
        return std::nullopt;
    std::vector<Move> moves;
    for (size_t i = 1; i + 1 < fields.size(); i += 2) {
        Move m{fields[i], fields[i + 1]};
        if (std::find(targets.begin(), targets.end(), m.target) == targets.end() || !isOurTemporary(m))
            return std::nullopt;
        moves.push_back(std::move(m));
    }
    return moves;
}

size_t applyMoves(const std::vector<Move> &moves)
{
    size_t renamed = 0;
    std::vector<std::string> dirs;
    for (const Move &m : moves) {
        if (os::kindOf(m.temporary) != os::Kind::Regular)
            continue; // renamed before the interruption
        if (int err = os::renameFile(m.temporary, m.target))
            throw EInOutError::fromErrno(err);
        ++renamed;
        std::string dir, name;
        splitPath(m.target, dir, name);
        if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
            dirs.push_back(dir);
    }
    for (const std::string &dir : dirs)
        syncDirectory(dir);
    return renamed;
}

bool removeMarker(const std::string &baseDir)
{
    const std::string path = markerPath(baseDir);
    const os::Kind kind = os::kindOf(path);
    if (kind == os::Kind::None)
        return true;
    if (kind == os::Kind::Directory || !os::removeEntry(path))
        return false;
    syncDirectory(baseDir);
    return true;
}

void removeStaleTemporaries(const std::string &dir, const std::vector<std::string> &names)
{
    for (const std::string &entry : os::namesIn(dir)) {
        const bool ours = std::any_of(names.begin(), names.end(),
                                      [&](const std::string &n) { return isTemporaryName(entry, n); });
        if (ours && os::kindOf(dir + entry) == os::Kind::Regular)
            os::removeEntry(dir + entry);
    }
}

} // namespace qv::paircommit
