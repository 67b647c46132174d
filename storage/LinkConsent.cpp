#include "storage/LinkConsent.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"
#include "storage/Os.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace qv::linkconsent {

namespace {

constexpr char kRecordName[] = "outside-links";
constexpr char kOwnJournals[] = "own-journals";
constexpr size_t kRecordLimit = 1024 * 1024;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Every pair of the record `name`, each field ended by a NUL.
Pairs readRecord(const char *name)
{
    Pairs pairs;
    const std::string dir = stateFolder();
    if (dir.empty())
        return pairs;
    const std::optional<std::string> bytes = os::readBounded(dir + name, kRecordLimit);
    if (!bytes)
        return pairs;
    std::vector<std::string> fields;
    for (size_t pos = 0; pos < bytes->size();) {
        const size_t end = bytes->find('\0', pos);
        if (end == std::string::npos)
            break; // a field cut short is no field
        fields.push_back(bytes->substr(pos, end - pos));
        pos = end + 1;
    }
    for (size_t i = 0; i + 1 < fields.size(); i += 2)
        pairs.emplace_back(fields[i], fields[i + 1]);
    return pairs;
}

// Replaces the record `name` with `pairs`, creating the state folder (0700)
// when missing. Raises the write's errors.
void writeRecord(const char *name, const Pairs &pairs)
{
    const std::string dir = stateFolder();
    if (dir.empty())
        throw EFCreateError(name);
    // mkdir -p: the missing parents with the usual mode, the folder itself private.
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        const bool last = at + 1 == dir.size();
        if (const int err = os::makeFolder(dir.substr(0, at), last ? 0700 : 0755); err != 0 && err != EEXIST)
            throw EFCreateError(dir + name);
    }
    std::string bytes;
    for (const auto &[f, value] : pairs) {
        bytes.append(f).push_back('\0');
        bytes.append(value).push_back('\0');
    }
    AtomicFile file(dir + name, AtomicFile::Refusal::Create, AtomicFile::Links::ReplaceLink);
    file.write(bytes);
    file.commit();
}

} // namespace

std::string stateFolder()
{
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/quorvel/";
    std::string home;
    if (const char *env = std::getenv("HOME"); env && *env)
        home = env;
    else
        home = os::userHome();
    if (home.empty())
        return {};
    return home + "/.local/state/quorvel/";
}

std::vector<std::string> agreedTargets(const std::string &folder)
{
    std::vector<std::string> targets;
    for (const auto &[f, target] : readRecord(kRecordName))
        if (f == folder)
            targets.push_back(target);
    return targets;
}

void agree(const std::string &folder, const std::vector<std::string> &targets)
{
    Pairs pairs = readRecord(kRecordName);
    for (const std::string &target : targets) {
        const std::pair<std::string, std::string> pair{folder, target};
        if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end())
            pairs.push_back(pair);
    }
    writeRecord(kRecordName, pairs);
}

bool isOwnJournal(const std::string &folder, const std::string &journal)
{
    const Pairs pairs = readRecord(kOwnJournals);
    return std::find(pairs.begin(), pairs.end(), std::pair{folder, journal}) != pairs.end();
}

void recordOwnJournal(const std::string &folder, const std::string &journal) noexcept
{
    try {
        Pairs pairs = readRecord(kOwnJournals);
        std::erase_if(pairs, [&](const auto &p) { return p.first == folder || !os::nameTaken(p.first); });
        pairs.emplace_back(folder, journal);
        writeRecord(kOwnJournals, pairs);
    } catch (...) {}
}

} // namespace qv::linkconsent
