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

uint64_t hashOf(const Bytes &bytes)
{
    ContentHash hash;
    hash.add(bytes.data(), bytes.size());
    return hash.value(bytes.size());
}

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
    const Bytes data = readWholeFile(catalogDir + "data.dat");
    const Bytes text = readWholeFile(catalogDir + "text.dat");
    if (hashOf(data) != dataHash || hashOf(text) != textHash)
        return false;
    makeFolders(dir);
    // The folder's name goes last: a base is used only once it is whole.
    if (os::nameTaken(dir + kFolderFile))
        os::remove(dir + kFolderFile);
    writeWhole(dir + "data.dat", data);
    writeWhole(dir + "text.dat", text);
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
