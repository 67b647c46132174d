#include "storage/MergeBase.h"

#include "catalog/Errors.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"
#include "storage/LinkConsent.h"
#include "storage/Os.h"

#include <cerrno>
#include <functional>
#include <optional>
#include <string_view>

namespace qv::mergebase {

namespace {

constexpr char kFolderFile[] = "folder";
// The ContentHash of each file kept, "data text" in decimal.
constexpr char kHashesFile[] = "hashes";
// A base not kept again for this long is dropped.
constexpr int64_t kBaseDays = 90;

// mkdir -p: the missing parents with the usual mode, the last one private.
void makeFolders(const std::string &dir)
{
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        const bool last = at + 1 == dir.size();
        if (const int err = os::makeFolder(dir.substr(0, at), last ? 0700 : 0755); err != 0 && err != EEXIST)
            throw EFCreateError(dir);
    }
}

void writeWhole(const std::string &path, std::string_view bytes)
{
    AtomicFile file(path, AtomicFile::Refusal::Create, AtomicFile::Links::ReplaceLink);
    file.write(bytes);
    file.commit();
}

// Copies `from` into `to` (not committed); false when its bytes do not
// hash to `expected`.
bool copyHashed(const std::string &from, AtomicFile &to, uint64_t expected)
{
    InputFile in(from);
    std::string piece(size_t(1) << 16, '\0');
    for (;;) {
        const long long n = in.read(piece.data(), piece.size());
        if (n < 0)
            throw EReadError();
        if (n == 0)
            break;
        to.write(std::string_view(piece.data(), size_t(n)));
    }
    return in.contentHash() == expected;
}

} // namespace

std::string folderKey(const std::string &folder)
{
    ContentHash hash;
    hash.add(folder.data(), folder.size());
    static const char digits[] = "0123456789abcdef";
    std::string key;
    for (uint64_t v = hash.value(folder.size()), i = 0; i < 16; ++i, v >>= 4)
        key.insert(key.begin(), digits[v & 15]);
    return key;
}

std::string baseFolder(const std::string &folder)
{
    const std::string state = linkconsent::stateFolder();
    if (state.empty())
        return {};
    return state + "bases/" + folderKey(folder) + "/";
}

bool keep(const std::string &folder, const std::string &catalogDir, uint64_t dataHash, uint64_t textHash)
{
    const std::string dir = baseFolder(folder);
    if (dir.empty())
        throw EFCreateError("bases");
    // The base kept already holds these bytes: nothing to read or write
    // (a large catalogue's start and save pay nothing for it).
    const std::string hashes = std::to_string(dataHash) + ' ' + std::to_string(textHash);
    if (os::readBounded(dir + kHashesFile, 64) == hashes
        && os::readBounded(dir + kFolderFile, folder.size() + 1) == folder)
        return true;
    makeFolders(dir);
    // A piece at a time into temporaries, put in place only once both
    // hash as expected: the pair is never held in memory whole.
    AtomicFile data(dir + "data.dat", AtomicFile::Refusal::Create, AtomicFile::Links::ReplaceLink);
    AtomicFile text(dir + "text.dat", AtomicFile::Refusal::Create, AtomicFile::Links::ReplaceLink);
    if (!copyHashed(catalogDir + "data.dat", data, dataHash)
        || !copyHashed(catalogDir + "text.dat", text, textHash))
        return false;
    // The folder's name goes last: a base is used only once it is whole.
    if (os::nameTaken(dir + kFolderFile))
        os::remove(dir + kFolderFile);
    data.commit();
    text.commit();
    writeWhole(dir + kHashesFile, hashes);
    writeWhole(dir + kFolderFile, folder);
    return true;
}

bool load(const std::string &folder, Catalog &base)
{
    const std::string dir = baseFolder(folder);
    if (dir.empty())
        return false;
    const std::optional<std::string> owner = os::readBounded(dir + kFolderFile, folder.size() + 1);
    if (!owner || *owner != folder)
        return false;
    CatalogFiles files(dir);
    files.load(base);
    return true;
}

void prune(int64_t now) noexcept
{
    try {
        const std::string state = linkconsent::stateFolder();
        if (state.empty())
            return;
        const std::string bases = state + "bases/";
        const std::string stamp = bases + ".pruned";
        constexpr int64_t kDay = 24 * 60 * 60;
        const auto secondsOf
            = [](const std::string &path) { return fileIdentity(path).mtimeNs / 1000000000; };
        if (!os::nameTaken(bases) || (fileExists(stamp) && secondsOf(stamp) > now - kDay))
            return;
        for (const std::string &key : os::namesIn(bases)) {
            const std::string dir = bases + key + "/";
            if (key.front() == '.' || os::status(dir, false).kind != os::Kind::Directory)
                continue;
            // "folder" is written by every keep: its time is when the
            // folder was last seen.
            const std::optional<std::string> owner = os::readBounded(dir + kFolderFile, 1 << 16);
            const bool gone = !owner || os::status(*owner).kind != os::Kind::Directory;
            if (!gone && secondsOf(dir + kFolderFile) > now - kBaseDays * kDay)
                continue;
            for (const std::string &name : os::namesIn(dir))
                if (name != "." && name != "..")
                    os::remove(dir + name);
            os::removeFolder(dir);
        }
        writeWhole(stamp, {});
    } catch (...) {
        // The next day tries again.
    }
}

} // namespace qv::mergebase
