#include "storage/CatalogFiles.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"
#include "storage/JournalFormat.h"
#include "storage/Os.h"
#include "storage/OutlineFile.h"
#include "storage/PairCommit.h"
#include "storage/RecordFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qv {

namespace {

// The backup copy moves at most this many bytes per read-then-write.
constexpr size_t kCopyChunk = 61440;

bool toLocal(int64_t seconds, std::tm &out)
{
    std::time_t t = static_cast<std::time_t>(seconds);
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

// The time a packed DOS date-time in local time keeps of `seconds`: the
// second rounded down to even. Nothing when the year lies outside what the
// packed form can hold (1980..2107).
bool dosRounded(int64_t seconds, int64_t &rounded)
{
    std::tm tm{};
    if (!toLocal(seconds, tm))
        return false;
    int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return false;
    int sec = tm.tm_sec > 59 ? 58 : tm.tm_sec & ~1;
    // Local offsets are whole minutes, so dropping seconds in local time is
    // dropping them from the epoch count; no round trip through mktime,
    // which could pick the wrong side of a clock change.
    rounded = seconds - (tm.tm_sec - sec);
    return true;
}

} // namespace

std::string baseDirectoryOf(const std::string &executablePath)
{
    const size_t pos = executablePath.find_last_of('/');
    if (pos == std::string::npos)
        return std::string("./");
    // Up to and including the separator; for "/name" that is the root.
    return executablePath.substr(0, pos + 1);
}

namespace {

// Whether the open file holds exactly the bytes of the file at `path`.
bool sameBytes(InputFile &in, const std::string &path)
{
    InputFile other(path);
    if (other.size() != in.size())
        return false;
    std::vector<char> a(kCopyChunk), b(kCopyChunk);
    for (;;) {
        const long long n = in.read(a.data(), a.size());
        if (n < 0)
            throw EReadError();
        if (n == 0)
            return other.read(b.data(), 1) == 0;
        for (long long got = 0; got < n;) {
            const long long m = other.read(b.data() + got, static_cast<size_t>(n - got));
            if (m <= 0)
                return false;
            got += m;
        }
        if (std::memcmp(a.data(), b.data(), static_cast<size_t>(n)) != 0)
            return false;
    }
}

void copyInto(InputFile &in, AtomicFile &out)
{
    std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(in.size(), kCopyChunk)));
    // The holes of a sparse source stay holes: each is skipped, not read.
    // Whatever stops the copy's bytes reaching the disk is a stream write
    // error, a full disk included.
    const int64_t size = in.size();
    int64_t done = 0;
    while (done < size) {
        int64_t start = size, end = size;
        if (!in.nextData(done, start, end))
            start = size;
        start = std::clamp(start, done, size);
        if (end <= start || end > size)
            end = size;
        try {
            out.skip(static_cast<uint64_t>(start - done));
        } catch (const EInOutError &) {
            throw EWriteError();
        }
        for (done = start; done < end;) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(end - done, kCopyChunk));
            size_t got = 0;
            while (got < want) {
                long long n = in.read(buf.data() + got, want - got);
                if (n <= 0)
                    throw EReadError();
                got += static_cast<size_t>(n);
            }
            try {
                out.write(std::string_view(buf.data(), want));
            } catch (const EInOutError &) {
                throw EWriteError();
            }
            done += static_cast<int64_t>(want);
        }
    }

    int64_t rounded = 0;
    if (dosRounded(in.modificationTime(), rounded))
        out.setModificationTime(rounded);
    try {
        out.commit();
    } catch (const EInOutError &) {
        throw EWriteError();
    }
}

// Seconds since the epoch, from `clock` when there is one.
int64_t timeNow(const std::function<int64_t()> &clock)
{
    return clock ? clock() : static_cast<int64_t>(std::time(nullptr));
}

// Test hook of BackupCopies::run().
std::function<void()> g_runHook;

// The backup's temporary file, refused as the copy's destination. In a
// folder that takes no new entry, a backup already there is written in place.
std::unique_ptr<AtomicFile> createBackup(const std::string &path)
{
    return std::make_unique<AtomicFile>(path, AtomicFile::Refusal::Create, AtomicFile::Links::ReplaceLink,
                                        AtomicFile::InPlace{true, {}});
}

} // namespace

void backupCopy(const std::string &source, const std::string &destination)
{
    InputFile in(source);
    copyInto(in, *createBackup(destination));
}

CatalogFiles::CatalogFiles(std::string baseDir) : baseDir_(std::move(baseDir)) {}

int64_t CatalogFiles::now() const { return timeNow(clock_); }

void BackupCopies::setRunHook(std::function<void()> hook) { g_runHook = std::move(hook); }

BackupCopies::BackupCopies(std::function<int64_t()> clock) : clock_(std::move(clock)) {}

BackupCopies::~BackupCopies() = default;

void BackupCopies::run()
{
    if (g_runHook)
        g_runHook();
    // Taken out first: a copy that failed is not run again, and the ones
    // after it go with their temporaries.
    std::vector<Copy> copies = std::move(copies_);
    copies_.clear();
    for (Copy &c : copies) {
        keepOldBackup(*c.source, c.backupPath, c.readsWhole);
        copyInto(*c.source, *c.backup);
        // Both files are closed before the next copy begins.
        c.backup.reset();
        c.source.reset();
    }
}

void BackupCopies::keepOldBackup(InputFile &in, const std::string &backup, bool (*readsWhole)(InputFile &))
{
    // A source that reads only in part (or not at all) would make the
    // backup no better than itself; a different old backup is kept first.
    if (!plainFileAt(backup))
        return;
    bool whole = false;
    try {
        whole = readsWhole(in);
    } catch (const Error &) {}
    in.rewind();
    if (!whole && !sameBytes(in, backup))
        kept_.push_back(copyAside(backup, backup + "." + dateStamp(timeNow(clock_))));
    in.rewind();
}

void CatalogFiles::makeBackups()
{
    const std::unique_ptr<BackupCopies> copies = openBackups();
    try {
        copies->run();
    } catch (...) {
        takeKeptBackups(*copies);
        throw;
    }
    takeKeptBackups(*copies);
}

std::unique_ptr<BackupCopies> CatalogFiles::openBackups()
{
    std::unique_ptr<BackupCopies> copies(new BackupCopies(clock_));
    struct Source {
        std::string path, backup;
        bool (*readsWhole)(InputFile &);
    };
    const Source sources[] = {{recordPath(), recordBackupPath(), recordsReadWhole},
                              {outlinePath(), outlineBackupPath(), outlineReadsWhole}};
    for (const Source &s : sources) {
        if (!entryExists(s.path))
            continue;
        std::unique_ptr<InputFile> in;
        try {
            in = std::make_unique<InputFile>(s.path);
            copies->copies_.push_back({nullptr, createBackup(s.backup), s.backup, s.readsWhole});
        } catch (...) {
            // Where the backups one by one would have stopped: the ones
            // before are made, and a damaged source's old backup is kept
            // before its own backup is refused.
            const std::exception_ptr failure = std::current_exception();
            try {
                copies->run();
                if (in)
                    copies->keepOldBackup(*in, s.backup, s.readsWhole);
            } catch (...) {
                takeKeptBackups(*copies);
                throw;
            }
            takeKeptBackups(*copies);
            std::rethrow_exception(failure);
        }
        copies->copies_.back().source = std::move(in);
    }
    return copies;
}

void CatalogFiles::takeKeptBackups(BackupCopies &copies)
{
    keptBackups_.insert(keptBackups_.end(), copies.kept_.begin(), copies.kept_.end());
    copies.kept_.clear();
}

namespace {

// Both files into `catalog` with the icon join; `joinFailed` is set while
// only the join is left to fail.
void readFiles(const std::string &outlinePath, const std::string &recordPath, Catalog &catalog,
               uint64_t &outlineHash, uint64_t &recordHash, std::vector<PartialRead> &partial,
               bool &joinFailed)
{
    if (entryExists(outlinePath)) {
        if (auto stop = readOutlineFile(outlinePath, catalog.outline(), &outlineHash))
            partial.push_back({outlinePath, *stop});
    }
    // The record file is read whether or not the outline file exists:
    // with an empty table in memory, the next save would otherwise
    // write nothing over the notes on disk.
    catalog.records().clear();
    if (entryExists(recordPath)) {
        if (auto stop = readRecordFile(recordPath, catalog.records(), &recordHash))
            partial.push_back({recordPath, *stop});
    }
    joinFailed = true; // every byte is read; only the join can fail now
    catalog.joinIcons();
    joinFailed = false;
}

} // namespace

void CatalogFiles::load(Catalog &catalog)
{
    // Taken before reading: a change made while we read shows as a change.
    rememberIdentities();
    loaded_ = true;
    loadFailed_ = false;
    joinFailed_ = false;
    partial_.clear();
    outlineHash_ = recordHash_ = 0;
    const bool wasModified = catalog.modified();
    try {
        readFiles(outlinePath(), recordPath(), catalog, outlineHash_, recordHash_, partial_, joinFailed_);
    } catch (...) {
        loadFailed_ = true;
        if (!wasModified)
            catalog.clearChanged();
        throw;
    }
    if (!wasModified)
        catalog.clearChanged();
}

CatalogFiles::PairRead CatalogFiles::readPair(const std::string &baseDir, Catalog &catalog)
{
    const CatalogFiles files(baseDir);
    PairRead read;
    read.outline = fileIdentity(files.outlinePath());
    read.record = fileIdentity(files.recordPath());
    bool joinFailed = false;
    try {
        readFiles(files.outlinePath(), files.recordPath(), catalog, read.outlineHash, read.recordHash,
                  read.partialReads, joinFailed);
    } catch (...) {
        read.failure = std::current_exception();
    }
    catalog.clearChanged();
    return read;
}

void CatalogFiles::adoptRead(const PairRead &read)
{
    loaded_ = true;
    loadFailed_ = false;
    joinFailed_ = false;
    partial_.clear();
    outlineIdentity_ = read.outline;
    recordIdentity_ = read.record;
    identityKnown_ = true;
    outlineHash_ = read.outlineHash;
    recordHash_ = read.recordHash;
}

void CatalogFiles::keepOriginals()
{
    const std::string suffix = ".unread-" + dateStamp(now());
    const std::pair<std::string, bool *> files[]
        = {{outlinePath(), &outlineKept_}, {recordPath(), &recordsKept_}};
    for (const auto &[path, done] : files) {
        if (*done)
            continue;
        // A copy, so that the originals stay in place until the save has
        // written their replacements. What is not a regular file holds
        // nothing to keep.
        if (entryExists(path)) {
            try {
                kept_.push_back(copyAside(path, path + suffix));
            } catch (const ENotRegularFile &) {
            } catch (const EFOpenError &) {
                // A file we may not read cannot be copied, but it can be
                // moved aside whole; the save then writes a new one.
                std::string kept;
                const std::string &from = path;
                const auto take
                    = [&from](const std::string &name) { return os::renameNoReplace(from, name); };
                if (const int err = os::takeFreeName(path + suffix, take, kept))
                    throw EInOutError::fromErrno(err);
                kept_.push_back(kept);
            }
        }
        *done = true;
    }
    originalsKept_ = true;
}

void CatalogFiles::save(Catalog &catalog, const std::function<void()> &beforeReplace)
{
    // A load that stopped part way left only part of the files in memory;
    // the first save copies the files as they were aside before replacing
    // them.
    if (keepsOriginals())
        keepOriginals();
    // A marker left by an earlier save of this run whose renames failed.
    finishInterruptedSave();

    // A link is written through only within the folder's boundary.
    std::vector<std::string> replaced;
    const auto linksOf = [this, &replaced](const std::string &path) {
        if (writesThrough(path))
            return AtomicFile::Links::FollowLink;
        replaced.push_back(path);
        return AtomicFile::Links::ReplaceLink;
    };
    // Where the folder takes no new entry, each file is written in place
    // once its old bytes are in its backup.
    AtomicFile text(recordPath(), AtomicFile::Refusal::InOut, linksOf(recordPath()),
                    {true, [this] { backupCopy(recordPath(), recordBackupPath()); }});
    writeRecords(text, catalog.records(), &catalog.outline());
    text.prepare();
    AtomicFile data(outlinePath(), AtomicFile::Refusal::Create, linksOf(outlinePath()),
                    {true, [this] { backupCopy(outlinePath(), outlineBackupPath()); }});
    writeOutline(data, catalog.outline());
    data.prepare();
    linksReplaced_.clear();
    // Something at the marker's name that is no file (a directory, say)
    // cannot stop the save: the pair goes in place as where no marker can
    // be made, and the caller names the entry.
    const os::Kind marker = os::status(paircommit::markerPath(baseDir_), false).kind;
    markerBlocked_ = marker != os::Kind::None && marker != os::Kind::Regular && marker != os::Kind::Link;
    if (text.inPlace() || data.inPlace() || markerBlocked_) {
        saveWithoutMarker(text, data, beforeReplace);
        linksReplaced_ = std::move(replaced);
        rememberIdentities();
        outlineHash_ = data.contentHash();
        recordHash_ = text.contentHash();
        catalog.clearChanged();
        return;
    }

    const std::vector<paircommit::Move> moves{{text.temporaryPath(), text.targetPath()},
                                              {data.temporaryPath(), data.targetPath()}};
    paircommit::writeMarker(baseDir_, moves);
    // From here on the marker answers for the temporaries.
    text.release();
    data.release();
    if (beforeReplace) {
        try {
            beforeReplace();
        } catch (...) {
            // Nothing is replaced yet: withdraw the marker, then its files.
            if (paircommit::removeMarker(baseDir_)) {
                for (const paircommit::Move &m : moves)
                    os::remove(m.temporary);
            }
            throw;
        }
    }
    paircommit::applyMoves(moves);
    paircommit::removeMarker(baseDir_);
    linksReplaced_ = std::move(replaced);
    rememberIdentities();
    outlineHash_ = data.contentHash();
    recordHash_ = text.contentHash();
    catalog.clearChanged();
}

void CatalogFiles::saveWithoutMarker(AtomicFile &text, AtomicFile &data,
                                     const std::function<void()> &beforeReplace)
{
    // A folder that takes no temporary takes no commit marker either: the
    // files are put in place one after the other, text.dat first. A save
    // stopped between the two leaves text.dat new and data.dat old, both
    // whole; one stopped inside an in-place write leaves that file damaged
    // and its old bytes in its backup, synced before the first was written
    // over. A failure before the first write leaves the old pair.
    if (beforeReplace)
        beforeReplace(); // nothing replaced yet: the temporaries go with their objects
    text.commit();
    data.commit();
}

std::optional<std::string> CatalogFiles::linkTarget(const std::string &path)
{
    if (os::status(path, false).kind != os::Kind::Link)
        return std::nullopt;
    return os::canonicalPath(path);
}

bool CatalogFiles::insideFolder(const std::string &realPath) const
{
    const std::optional<std::string> folder = os::canonicalPath(baseDir_);
    if (!folder)
        return false;
    const std::string prefix = folder->back() == '/' ? *folder : *folder + "/";
    return realPath.size() > prefix.size() && realPath.compare(0, prefix.size(), prefix) == 0;
}

std::vector<CatalogFiles::OutsideLink> CatalogFiles::outsideLinks() const
{
    std::vector<OutsideLink> links;
    for (const std::string &path : {outlinePath(), recordPath(), settingsPath()}) {
        const std::optional<std::string> target = linkTarget(path);
        if (target && !insideFolder(*target))
            links.push_back({path, *target});
    }
    return links;
}

bool CatalogFiles::writesThrough(const std::string &path) const
{
    // A dangling link has nothing behind it: the new file takes its place.
    const std::optional<std::string> target = linkTarget(path);
    return !target || insideFolder(*target)
        || std::find(agreed_.begin(), agreed_.end(), *target) != agreed_.end();
}

std::vector<std::string> CatalogFiles::commitTargets() const
{
    std::vector<std::string> targets;
    for (const std::string &path : {recordPath(), outlinePath()}) {
        targets.push_back(path);
        if (const std::optional<std::string> target = linkTarget(path); target && writesThrough(path))
            targets.push_back(*target);
    }
    return targets;
}

bool CatalogFiles::finishInterruptedSave()
{
    if (!os::nameTaken(paircommit::foundMarkerPath(baseDir_)))
        return false;
    // Only the catalogue files themselves, or what a save would write
    // through their links: a marker naming anything else is not acted on.
    const auto moves = paircommit::readMarker(baseDir_, commitTargets());
    const bool renamed = moves && paircommit::applyMoves(*moves) > 0;
    paircommit::removeMarker(baseDir_);
    return renamed;
}

bool CatalogFiles::repairPending() const
{
    if (!os::nameTaken(paircommit::foundMarkerPath(baseDir_)))
        return false;
    const auto moves = paircommit::readMarker(baseDir_, commitTargets());
    return moves && std::any_of(moves->begin(), moves->end(), [](const paircommit::Move &m) {
               return plainFileAt(m.temporary);
           });
}

bool CatalogFiles::repairAtStart()
{
    const bool renamed = finishInterruptedSave();
    const std::string machine = os::machineName();
    paircommit::removeStaleTemporaries(baseDir_,
                                       {"data.dat", "text.dat", "data.bak", "text.bak", "Quorvel.ini",
                                        ".Quorvel.commit", ".Quorvel-" + machine + ".commit",
                                        journal::kUnnamedFileName, journal::fileName(machine)});
    // The temporaries of a catalogue file kept in a subfolder through a
    // link; nothing outside the folder is swept.
    for (const std::string &path : {outlinePath(), recordPath()}) {
        const std::optional<std::string> target = linkTarget(path);
        if (!target || !insideFolder(*target))
            continue;
        const size_t slash = target->find_last_of('/');
        paircommit::removeStaleTemporaries(target->substr(0, slash + 1), {target->substr(slash + 1)});
    }
    return renamed;
}

void CatalogFiles::rememberIdentities()
{
    outlineIdentity_ = fileIdentity(outlinePath());
    recordIdentity_ = fileIdentity(recordPath());
    identityKnown_ = true;
}

bool CatalogFiles::changedOnDisk() const
{
    return identityKnown_
        && (fileIdentity(outlinePath()) != outlineIdentity_ || fileIdentity(recordPath()) != recordIdentity_);
}

std::vector<std::string> CatalogFiles::keepOtherVersion()
{
    const std::string suffix = ".other-" + dateStamp(now());
    std::vector<std::string> kept;
    for (const std::string &path : {outlinePath(), recordPath()}) {
        if (!fileExists(path))
            continue;
        // Whatever holds the name, a dangling link included, keeps it.
        std::string copy;
        os::takeFreeName(
            path + suffix,
            [&path](const std::string &name) {
                if (os::nameTaken(name))
                    return EEXIST;
                backupCopy(path, name);
                return 0;
            },
            copy);
        kept.push_back(copy);
    }
    return kept;
}

} // namespace qv
