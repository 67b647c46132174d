#include "storage/PairCommit.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"
#include "storage/Os.h"

#include <algorithm>

namespace qv::paircommit {

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
    // This machine's, or one without a machine's name (made before the
    // name was carried); another machine's is never ours to touch.
    const std::string named = "." + of + "." + os::machineName() + kTemporaryInfix;
    const std::string prefix = name.compare(0, named.size(), named) == 0 ? named : "." + of + kTemporaryInfix;
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
    const os::Kind kind = os::status(m.temporary, false).kind;
    return kind == os::Kind::None || kind == os::Kind::Regular;
}

} // namespace

std::string markerPath(const std::string &baseDir)
{
    return baseDir + ".Quorvel-" + os::machineName() + ".commit";
}

std::string foundMarkerPath(const std::string &baseDir)
{
    const std::string named = markerPath(baseDir), unnamed = baseDir + ".Quorvel.commit";
    return os::nameTaken(named) || !os::nameTaken(unnamed) ? named : unnamed;
}

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
    if (os::status(path, false).kind == os::Kind::Link)
        os::remove(path);
    AtomicFile file(path, AtomicFile::Refusal::InOut);
    file.write(bytes);
    file.commit(); // fsynced, renamed, the folder synced
}

std::optional<std::vector<Move>> readMarker(const std::string &baseDir,
                                            const std::vector<std::string> &targets)
{
    const std::optional<std::string> bytes = os::readBounded(foundMarkerPath(baseDir), kMarkerLimit);
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
        if (os::status(m.temporary, false).kind != os::Kind::Regular)
            continue; // renamed before the interruption
        if (int err = os::rename(m.temporary, m.target))
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
    const std::string path = foundMarkerPath(baseDir);
    const os::Kind kind = os::status(path, false).kind;
    if (kind == os::Kind::None)
        return true;
    if (kind == os::Kind::Directory || !os::remove(path))
        return false;
    syncDirectory(baseDir);
    return true;
}

void removeStaleTemporaries(const std::string &dir, const std::vector<std::string> &names)
{
    for (const std::string &entry : os::namesIn(dir)) {
        const bool ours = std::any_of(names.begin(), names.end(),
                                      [&](const std::string &n) { return isTemporaryName(entry, n); });
        if (ours && plainFileAt(dir + entry))
            os::remove(dir + entry);
    }
}

} // namespace qv::paircommit
