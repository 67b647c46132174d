#include "storage/BackupChoice.h"

#include "storage/Os.h"
#include "storage/OutlineFile.h"
#include "storage/RecordFile.h"

#include <algorithm>
#include <set>

namespace qv {

namespace {

constexpr char kOutlineBackup[] = "data.bak";
constexpr char kRecordBackup[] = "text.bak";

bool plainFile(const std::string &path) { return os::status(path, false).kind == os::Kind::Regular; }

} // namespace

std::vector<BackupPair> backupPairs(const std::string &baseDir)
{
    const std::string outline = baseDir + kOutlineBackup, records = baseDir + kRecordBackup;
    std::set<std::string> dates;
    for (const std::string &name : os::namesIn(baseDir))
        for (const std::string &prefix :
             {std::string(kOutlineBackup) + ".", std::string(kRecordBackup) + "."})
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
                dates.insert(name.substr(prefix.size()));
    std::vector<BackupPair> pairs;
    auto add = [&](std::string o, std::string r) {
        // Both halves, or a pair would open without its notes or its tree.
        if (!plainFile(o) || !plainFile(r))
            return;
        const int64_t time = std::max(fileIdentity(o).mtimeNs, fileIdentity(r).mtimeNs);
        pairs.push_back({std::move(o), std::move(r), time});
    };
    add(outline, records);
    for (const std::string &date : dates) {
        const std::string o = outline + "." + date, r = records + "." + date;
        add(plainFile(o) ? o : outline, plainFile(r) ? r : records);
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const BackupPair &a, const BackupPair &b) { return a.mtimeNs > b.mtimeNs; });
    return pairs;
}

bool readPairWhole(const BackupPair &pair, Catalog &catalog)
{
    const bool wasModified = catalog.modified();
    catalog.outline().clear();
    catalog.records().clear();
    bool whole = true;
    if (plainFile(pair.outlinePath) && readOutlineFile(pair.outlinePath, catalog.outline()))
        whole = false;
    if (plainFile(pair.recordPath) && readRecordFile(pair.recordPath, catalog.records()))
        whole = false;
    catalog.joinIcons();
    if (!wasModified)
        catalog.clearChanged();
    return whole;
}

std::optional<BackupPair> newestWholeBackup(const std::string &baseDir)
{
    for (const BackupPair &pair : backupPairs(baseDir)) {
        Catalog scratch;
        try {
            if (readPairWhole(pair, scratch))
                return pair;
        } catch (const std::exception &) {}
    }
    return std::nullopt;
}

} // namespace qv
