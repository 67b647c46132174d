#include "storage/ConflictCopies.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"
#include "storage/LinkConsent.h"
#include "storage/MergeBase.h"
#include "storage/Os.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <tuple>

namespace qv::conflicts {

namespace {

constexpr int64_t kKeptDays = 30;

struct Original {
    std::string_view stem;
    std::string_view extension;
    Which which;
};
constexpr Original kOriginals[]
    = {{"data", ".dat", Which::Data}, {"text", ".dat", Which::Text}, {"Quorvel", ".ini", Which::Settings}};

bool digitsAt(std::string_view s, size_t at, size_t n)
{
    if (at + n > s.size())
        return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(at),
                       s.begin() + static_cast<std::ptrdiff_t>(at + n),
                       [](char c) { return c >= '0' && c <= '9'; });
}

int numberAt(std::string_view s, size_t at, size_t n)
{
    int v = 0;
    for (size_t i = at; i < at + n; ++i)
        v = v * 10 + (s[i] - '0');
    return v;
}

// "YYYYMMDDHHMMSS" when the fields read as a date and a time.
std::optional<std::string> stampOf(std::string_view date, std::string_view time)
{
    const std::string stamp = std::string(date) + std::string(time);
    if (stamp.size() != 14 || !digitsAt(stamp, 0, 14))
        return std::nullopt;
    const int month = numberAt(stamp, 4, 2), day = numberAt(stamp, 6, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || numberAt(stamp, 8, 2) > 23
        || numberAt(stamp, 10, 2) > 59 || numberAt(stamp, 12, 2) > 60)
        return std::nullopt;
    return stamp;
}

// "YYYY-MM-DD" as "YYYYMMDD", else "".
std::string isoDate(std::string_view s)
{
    if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !digitsAt(s, 0, 4) || !digitsAt(s, 5, 2)
        || !digitsAt(s, 8, 2))
        return {};
    return std::string(s.substr(0, 4)) + std::string(s.substr(5, 2)) + std::string(s.substr(8, 2));
}

// ".sync-conflict-YYYYMMDD-HHMMSS-DEVICE"
bool syncthing(std::string_view middle, Copy &copy)
{
    constexpr std::string_view prefix = ".sync-conflict-";
    if (middle.size() != prefix.size() + 8 + 1 + 6 + 1 + 7 || middle.substr(0, prefix.size()) != prefix)
        return false;
    const std::string_view rest = middle.substr(prefix.size());
    if (rest[8] != '-' || rest[15] != '-')
        return false;
    const std::string_view device = rest.substr(16);
    if (!std::all_of(device.begin(), device.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7'); }))
        return false;
    const std::optional<std::string> stamp = stampOf(rest.substr(0, 8), rest.substr(9, 6));
    if (!stamp)
        return false;
    copy.engine = Engine::Syncthing;
    copy.stamp = *stamp;
    copy.device = device;
    return true;
}

// " (conflicted copy YYYY-MM-DD HHMMSS)"
bool nextcloud(std::string_view middle, Copy &copy)
{
    constexpr std::string_view prefix = " (conflicted copy ";
    if (middle.size() != prefix.size() + 10 + 1 + 6 + 1 || middle.substr(0, prefix.size()) != prefix
        || middle.back() != ')')
        return false;
    const std::string_view rest = middle.substr(prefix.size());
    if (rest[10] != ' ')
        return false;
    const std::optional<std::string> stamp = stampOf(isoDate(rest.substr(0, 10)), rest.substr(11, 6));
    if (!stamp)
        return false;
    copy.engine = Engine::Nextcloud;
    copy.stamp = *stamp;
    return true;
}

// " (<who> conflicted copy YYYY-MM-DD)" or " (<who> conflicted copy YYYY-MM-DD (N))"
bool dropbox(std::string_view middle, Copy &copy)
{
    constexpr std::string_view marker = " conflicted copy ";
    if (middle.size() < 2 || middle.substr(0, 2) != " (" || middle.back() != ')')
        return false;
    const size_t at = middle.rfind(marker);
    if (at == std::string_view::npos || at <= 2)
        return false;
    const std::string_view who = middle.substr(2, at - 2);
    std::string_view rest = middle.substr(at + marker.size());
    rest.remove_suffix(1); // the closing parenthesis
    std::string number;
    if (rest.size() > 10) {
        const std::string_view n = rest.substr(10);
        if (n.size() < 4 || n.substr(0, 2) != " (" || n.back() != ')' || !digitsAt(n, 2, n.size() - 3))
            return false;
        number = n.substr(2, n.size() - 3);
    }
    const std::optional<std::string> stamp = stampOf(isoDate(rest.substr(0, 10)), "000000");
    if (!stamp)
        return false;
    copy.engine = Engine::Dropbox;
    copy.stamp = *stamp;
    copy.device = std::string(who) + (number.empty() ? "" : " (" + number + ")");
    return true;
}

// Regular files directly in the folder, links not followed.
std::vector<Copy> copiesIn(const std::string &folder)
{
    std::vector<Copy> copies;
    for (const std::string &name : os::namesIn(folder)) {
        std::optional<Copy> copy = recognise(name);
        if (copy && os::status(folder + name, false).kind == os::Kind::Regular)
            copies.push_back(std::move(*copy));
    }
    std::sort(copies.begin(), copies.end(), [](const Copy &a, const Copy &b) {
        return std::tie(a.stamp, a.name) < std::tie(b.stamp, b.name);
    });
    return copies;
}

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void makeFolders(const std::string &dir)
{
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        const bool last = at + 1 == dir.size();
        if (const int err = os::makeFolder(dir.substr(0, at), last ? 0700 : 0755); err != 0 && err != EEXIST)
            throw EFCreateError(dir);
    }
}

void prune(const std::string &dir, int64_t now)
{
    constexpr int64_t kKept = kKeptDays * 24 * 60 * 60 * int64_t{1000000000};
    for (const std::string &name : os::namesIn(dir)) {
        const std::string path = dir + name;
        if (os::status(path, false).kind == os::Kind::Regular && fileIdentity(path).mtimeNs < now - kKept)
            os::remove(path);
    }
}

} // namespace

std::optional<Copy> recognise(std::string_view name)
{
    for (const Original &original : kOriginals) {
        const size_t fixed = original.stem.size() + original.extension.size();
        if (name.size() <= fixed || name.substr(0, original.stem.size()) != original.stem
            || name.substr(name.size() - original.extension.size()) != original.extension)
            continue;
        const std::string_view middle = name.substr(original.stem.size(), name.size() - fixed);
        Copy copy;
        if (syncthing(middle, copy) || nextcloud(middle, copy) || dropbox(middle, copy)) {
            copy.name = name;
            copy.which = original.which;
            return copy;
        }
    }
    return std::nullopt;
}

namespace {

// A stamp as seconds since 1970 (the civil calendar, no time zone: only
// differences count).
int64_t secondsOf(const std::string &stamp)
{
    int64_t y = numberAt(stamp, 0, 4);
    const int64_t m = numberAt(stamp, 4, 2), d = numberAt(stamp, 6, 2);
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + numberAt(stamp, 8, 2) * 3600 + numberAt(stamp, 10, 2) * 60 + numberAt(stamp, 12, 2);
}

// A sync engine stamps the two copies of one moment as it meets each file,
// so they may differ by a second or two.
constexpr int64_t kSameMomentSeconds = 5;

// Halves of one engine and device whose stamps lie that close become one
// pair, the nearest first: a data.dat copy never meets another moment's
// notes while its own are there.
void joinHalves(std::vector<CopyPair> &found)
{
    for (size_t i = 0; i < found.size(); ++i) {
        CopyPair &half = found[i];
        if (half.copies.size() != 1 || half.text.empty() == half.data.empty())
            continue;
        size_t best = found.size();
        int64_t bestGap = kSameMomentSeconds + 1;
        for (size_t j = 0; j < found.size(); ++j) {
            const CopyPair &other = found[j];
            if (j == i || other.copies.size() != 1 || other.engine != half.engine
                || other.device != half.device || other.data.empty() == half.data.empty()
                || other.text.empty() == other.data.empty())
                continue;
            const int64_t gap = std::llabs(secondsOf(other.stamp) - secondsOf(half.stamp));
            if (gap < bestGap) {
                bestGap = gap;
                best = j;
            }
        }
        if (best == found.size())
            continue;
        CopyPair &other = found[best];
        (half.data.empty() ? half.data : half.text) = other.data.empty() ? other.text : other.data;
        half.copies.push_back(other.copies.front());
        half.stamp = std::min(half.stamp, other.stamp);
        found.erase(found.begin() + static_cast<std::ptrdiff_t>(best));
        if (best < i)
            --i;
    }
}

} // namespace

std::vector<CopyPair> find(const std::string &folder)
{
    // By engine, stamp and device: a data copy and a text copy of one moment.
    std::map<std::tuple<std::string, Engine, std::string>, CopyPair> pairs;
    for (const Copy &copy : copiesIn(folder)) {
        if (copy.which == Which::Settings)
            continue;
        CopyPair &pair = pairs[{copy.stamp, copy.engine, copy.device}];
        std::string &slot = copy.which == Which::Data ? pair.data : pair.text;
        if (!slot.empty()) {
            // Two copies of one file at one moment (the same Dropbox owner
            // and day): each its own version.
            CopyPair alone;
            alone.stamp = copy.stamp;
            alone.engine = copy.engine;
            alone.device = copy.device;
            (copy.which == Which::Data ? alone.data : alone.text) = copy.name;
            alone.copies.push_back(copy.name);
            pairs[{copy.stamp + "+" + copy.name, copy.engine, copy.device}] = std::move(alone);
            continue;
        }
        slot = copy.name;
        pair.stamp = copy.stamp;
        pair.engine = copy.engine;
        pair.device = copy.device;
        pair.copies.push_back(copy.name);
    }
    std::vector<CopyPair> found;
    for (auto &[key, pair] : pairs)
        found.push_back(std::move(pair));
    joinHalves(found);
    for (CopyPair &pair : found) {
        if (pair.data.empty())
            pair.data = "data.dat";
        if (pair.text.empty())
            pair.text = "text.dat";
    }
    std::stable_sort(found.begin(), found.end(), [](const CopyPair &a, const CopyPair &b) {
        return std::tie(a.stamp, a.copies.front()) < std::tie(b.stamp, b.copies.front());
    });
    return found;
}

std::vector<Copy> settingsCopies(const std::string &folder)
{
    std::vector<Copy> copies = copiesIn(folder);
    copies.erase(std::remove_if(copies.begin(), copies.end(),
                                [](const Copy &c) { return c.which != Which::Settings; }),
                 copies.end());
    std::sort(copies.begin(), copies.end(), [](const Copy &a, const Copy &b) { return a.name < b.name; });
    return copies;
}

SetAside setAside(const std::string &folder, const std::vector<std::string> &names)
{
    SetAside result;
    const std::string state = linkconsent::stateFolder();
    const std::optional<std::string> real = os::canonicalPath(folder);
    if (state.empty() || !real || names.empty())
        return result;
    const std::string dir = state + "conflicts/" + mergebase::folderKey(*real) + "/";
    makeFolders(dir);
    result.where = dir;
    const int64_t now = nowNs();
    for (const std::string &name : names) {
        const std::string from = folder + name;
        // Moved already by an attempt that stopped later.
        if (!os::nameTaken(from))
            continue;
        std::string taken;
        const auto take = [&from](const std::string &to) { return os::renameNoReplace(from, to); };
        if (const int err = os::takeFreeName(dir + name, take, taken)) {
            if (err != EXDEV)
                throw EInOutError::fromErrno(err);
            taken = copyAside(from, dir + name);
            if (!os::remove(from))
                throw EInOutError::fromErrno(errno);
        }
        // Kept for a time counted from now, whatever the copy's own age.
        if (const os::Handle h = os::openForWritingInPlace(taken); h != os::kNoHandle) {
            os::setModificationTimeNs(h, now);
            os::close(h);
        }
        result.names.push_back(taken.substr(dir.size()));
    }
    syncDirectory(folder);
    syncDirectory(dir);
    prune(dir, now);
    return result;
}

} // namespace qv::conflicts
