#include "storage/CatalogSession.h"

#include "merge/OutlineMerge.h"
#include "storage/BackupChoice.h"
#include "storage/ConflictCopies.h"
#include "storage/LinkConsent.h"
#include "storage/MergeBase.h"
#include "storage/Os.h"
#include "storage/PairCommit.h"

#include <algorithm>
#include <climits>
#include <ctime>

namespace qv {

namespace {

// `catalog` takes what `from` holds, told to its listener and its journal
// as one replacement of each half.
void replaceContents(Catalog &catalog, const Catalog &from)
{
    catalog.outline().replaceAll(Outline::copyBranch(from.outline().top()), from.outline().nodeCount());
    catalog.records().clear();
    for (size_t i = 0; i < from.records().size(); ++i) {
        const RecordView r = from.records().at(i);
        catalog.records().append(r.section, r.text, r.icons);
    }
}

int64_t newestSeconds(const std::vector<std::string> &paths)
{
    int64_t newest = 0;
    for (const std::string &path : paths)
        newest = std::max(newest, fileIdentity(path).mtimeNs / 1000000000);
    return newest;
}

} // namespace

CatalogSession::CatalogSession(std::string baseDir, Options options)
    : options_(options), files_(baseDir), lock_(baseDir), journal_(baseDir)
{}

CatalogSession::~CatalogSession()
{
    // The backups are never left half made, nor their thread running.
    close();
}

int64_t CatalogSession::now() const { return static_cast<int64_t>(std::time(nullptr)); }

JournalBase CatalogSession::journalBase() const
{
    return {files_.outlineIdentity(), files_.recordIdentity(), files_.outlineHash(), files_.recordHash()};
}

CatalogSession::Opened CatalogSession::open()
{
    Opened opened;
    if (options_.askLinks) {
        if (const std::optional<std::string> folder = os::canonicalPath(baseDir())) {
            agreed_ = linkconsent::agreedTargets(*folder);
            files_.setAgreedTargets(agreed_);
        }
    }
    if (options_.access == Access::ReadAsIs)
        return opened;
    switch (lock_.acquire()) {
    case CatalogLock::State::Held:
        opened.lock = Lock::Held;
        break;
    case CatalogLock::State::Busy:
        opened.lock = Lock::Busy;
        opened.refused = options_.access == Access::Write;
        return opened;
    case CatalogLock::State::Refused:
        opened.lock = Lock::Refused;
        opened.refused = options_.access == Access::Write;
        opened.lockRefusal = lock_.refusal();
        return opened;
    case CatalogLock::State::Unavailable:
        opened.lock = Lock::Unlocked;
        if (options_.access == Access::Read)
            return opened;
        // What the save would write is out of reach: a new entry in the
        // folder, or the files themselves in place.
        readOnly_ = !os::writable(baseDir()) && !os::writable(files_.outlinePath())
            && !os::writable(files_.recordPath());
        opened.readOnly = readOnly_;
        if (readOnly_)
            return opened;
        break;
    }
    try {
        // A finished save holds everything the journal had.
        if (files_.repairAtStart()) {
            journal_.discard();
            opened.repaired = true;
        }
    } catch (...) {
        opened.repairFailure = std::current_exception();
    }
    resolveSettingsCopies();
    if (options_.keepBase)
        mergebase::prune(now());
    return opened;
}

void CatalogSession::openBackups()
{
    if (!readOnly_)
        backups_ = files_.openBackups();
}

void CatalogSession::startBackups(std::function<void()> done)
{
    if (!backups_ || backupThread_.joinable())
        return;
    backupThread_ = std::thread([this, copies = backups_.get(), done = std::move(done)] {
        try {
            copies->run();
        } catch (...) {
            backupFailure_ = std::current_exception();
        }
        if (done)
            done();
    });
}

void CatalogSession::completeBackups()
{
    if (!backups_)
        return;
    if (backupThread_.joinable()) {
        backupThread_.join();
    } else {
        try {
            backups_->run();
        } catch (...) {
            backupFailure_ = std::current_exception();
        }
    }
    files_.takeKeptBackups(*backups_);
    backups_.reset();
}

std::exception_ptr CatalogSession::finishBackups()
{
    completeBackups();
    return std::exchange(backupFailure_, nullptr);
}

CatalogSession::Loaded CatalogSession::load(Catalog &catalog)
{
    Loaded loaded;
    try {
        files_.load(catalog);
    } catch (...) {
        loaded.failure = std::current_exception();
    }
    loaded.partialReads = files_.partialReads();
    // Only a source that reads in part or not at all has its old backup
    // kept aside: the caller names it, so such a load waits for them.
    if (files_.loadFailed() || !loaded.partialReads.empty())
        loaded.backupFailure = finishBackups();
    loaded.keptBackups = files_.keptBackups();
    // With conflict copies beside it, the pair loaded is one side of the
    // merge to come, not what the sides grew from: the base stays.
    if (!loaded.failure && loaded.partialReads.empty() && conflicts::find(baseDir()).empty())
        keepBase(true);
    // A read-only run leaves a journal where it is, for a run that can save.
    if (options_.journal && !readOnly_) {
        if (const std::optional<Journal::Pending> pending = journal_.pending(journalBase())) {
            loaded.journal = pending->baseChanged ? JournalFound::BaseChanged : JournalFound::Pending;
            loaded.journalSince = pending->since;
        } else if (journal_.present()) {
            loaded.journal = JournalFound::Unfitting;
        }
        journalFound_ = loaded.journal;
    }
    return loaded;
}

CatalogSession::Recovered CatalogSession::recover(Catalog &catalog, bool accept)
{
    Recovered recovered;
    if (!options_.journal || readOnly_)
        return recovered;
    bool setAside = journalFound_ != JournalFound::None;
    if ((journalFound_ == JournalFound::Pending || journalFound_ == JournalFound::BaseChanged) && accept) {
        try {
            journal_.replay(catalog);
            setAside = false;
        } catch (...) {
            // What applied stays, and goes into a fresh journal; the file
            // itself is kept as it was.
            recovered.replayFailure = std::current_exception();
        }
    }
    journalFound_ = JournalFound::None;
    if (setAside) {
        try {
            recovered.setAside = journal_.setAside(now());
        } catch (...) {
            recovered.setAsideFailure = std::current_exception();
        }
    }
    journal_.attach(catalog, journalBase());
    recording_ = true;
    return recovered;
}

void CatalogSession::setOnJournalChange(std::function<void()> onChange)
{
    journal_.setOnChange(std::move(onChange));
}

void CatalogSession::flush()
{
    // Nothing is recorded, nor written, before the journal knows its base.
    if (recording_)
        journal_.flush();
}

std::vector<CatalogFiles::OutsideLink> CatalogSession::linksToAsk() const
{
    std::vector<CatalogFiles::OutsideLink> links;
    if (!options_.askLinks || linksDecided_)
        return links;
    for (const CatalogFiles::OutsideLink &link : files_.outsideLinks())
        if (std::find(agreed_.begin(), agreed_.end(), link.target) == agreed_.end())
            links.push_back(link);
    return links;
}

void CatalogSession::decideLinks(bool agree)
{
    const std::vector<CatalogFiles::OutsideLink> links = linksToAsk();
    linksDecided_ = true;
    if (!agree || links.empty())
        return;
    std::vector<std::string> targets;
    for (const CatalogFiles::OutsideLink &link : links)
        targets.push_back(link.target);
    agreed_.insert(agreed_.end(), targets.begin(), targets.end());
    files_.setAgreedTargets(agreed_);
    const std::optional<std::string> folder = os::canonicalPath(baseDir());
    if (!folder)
        throw ENotRegularFile(baseDir());
    linkconsent::agree(*folder, targets);
}

CatalogSession::Saved CatalogSession::save(Catalog &catalog, Consent consent)
{
    // A backup holds the files as the run found them, never a newer save.
    completeBackups();
    Saved saved;
    const size_t originalsBefore = files_.keptOriginals().size();
    try {
        if (files_.changedOnDisk()) {
            const std::pair onDisk{fileIdentity(files_.outlinePath()), fileIdentity(files_.recordPath())};
            // Unless a save that failed kept this very version already.
            if (otherKept_ != onDisk) {
                if (consent == Consent::Ask) {
                    saved.status = Saved::Status::ChangedOutside;
                    return saved;
                }
                saved.othersKept = files_.keepOtherVersion();
                otherKept_ = onDisk;
            }
        }
        files_.save(catalog, [this] {
            if (options_.journal)
                journal_.discard();
        });
        otherKept_.reset();
        tellRemarks(saved);
        if (options_.journal)
            journal_.rebase(journalBase());
        saved.status = Saved::Status::Saved;
        keepBase(true);
        // Their edits are in the files now.
        setAsideMergedCopies(saved);
    } catch (...) {
        saved.failure = std::current_exception();
    }
    const std::vector<std::string> &kept = files_.keptOriginals();
    saved.originalsKept.assign(kept.begin() + static_cast<std::ptrdiff_t>(originalsBefore), kept.end());
    return saved;
}

void CatalogSession::keepBase(bool later) noexcept
{
    waitForBase();
    if (!options_.keepBase)
        return;
    const auto keep = [dir = baseDir(), data = files_.outlineHash(), text = files_.recordHash()] {
        try {
            if (const std::optional<std::string> folder = os::canonicalPath(dir))
                mergebase::keep(*folder, dir, data, text);
        } catch (...) {
            // Without a base the next merge takes the empty one: nothing is lost.
        }
    };
    if (later) {
        try {
            baseThread_ = std::thread(keep);
            return;
        } catch (...) {}
    }
    keep();
}

void CatalogSession::waitForBase() const
{
    if (baseThread_.joinable())
        baseThread_.join();
}

CatalogFiles::PairRead CatalogSession::readOutside(const std::string &baseDir, Catalog &theirs)
{
    return CatalogFiles::readPair(baseDir, theirs);
}

bool CatalogSession::takesIn(const CatalogFiles::PairRead &read) const
{
    // A file gone is a version in the middle of its making (or a folder
    // being emptied), never one to take: the save asks about it instead.
    if (read.failure || !read.partialReads.empty()
        || (files_.outlineIdentity().exists && !read.outline.exists)
        || (files_.recordIdentity().exists && !read.record.exists))
        return false;
    return fileIdentity(files_.outlinePath()) == read.outline
        && fileIdentity(files_.recordPath()) == read.record;
}

void CatalogSession::takeIn(Catalog &catalog, Catalog &version, const CatalogFiles::PairRead &read,
                            const std::function<void()> &show)
{
    // The whole catalogue goes into the journal at once, not change by change.
    if (recording_)
        journal_.detach();
    catalog.replaceWith(version);
    if (show) {
        const bool modified = catalog.modified();
        show();
        if (!modified)
            catalog.clearChanged();
    }
    files_.adoptRead(read);
    otherKept_.reset();
    if (recording_)
        journal_.restart(catalog, journalBase());
    keepBase(true);
}

void CatalogSession::keepBaseFromNow()
{
    options_.keepBase = true;
    if (files_.loaded() && !files_.loadFailed() && files_.partialReads().empty())
        keepBase(true);
}

bool CatalogSession::loadBase(Catalog &base) const
{
    waitForBase();
    const std::optional<std::string> folder = os::canonicalPath(baseDir());
    return folder && mergebase::load(*folder, base);
}

void CatalogSession::resolveSettingsCopies() noexcept
{
    try {
        const std::vector<conflicts::Copy> copies = conflicts::settingsCopies(baseDir());
        if (copies.empty())
            return;
        const std::string settings = files_.settingsPath();
        // The newer file wins; on a tie the file in place stays.
        int64_t newestNs = fileExists(settings) ? fileIdentity(settings).mtimeNs : INT64_MIN;
        const conflicts::Copy *newest = nullptr;
        for (const conflicts::Copy &copy : copies) {
            if (const int64_t ns = fileIdentity(baseDir() + copy.name).mtimeNs; ns > newestNs) {
                newestNs = ns;
                newest = &copy;
            }
        }
        std::vector<std::string> aside;
        for (const conflicts::Copy &copy : copies)
            if (&copy != newest)
                aside.push_back(copy.name);
        if (newest) {
            const std::string from = baseDir() + newest->name;
            if (os::status(settings, false).kind == os::Kind::Link) {
                // A link keeps its place as the save treats it: its bytes
                // are written through or the link replaced.
                const Bytes bytes = readWholeFile(from);
                AtomicFile file(settings, AtomicFile::Refusal::Create,
                                files_.writesThrough(settings) ? AtomicFile::Links::FollowLink
                                                               : AtomicFile::Links::ReplaceLink);
                file.write(bytes);
                file.commit();
                aside.push_back(newest->name);
            } else if (const int err = os::rename(from, settings)) {
                throw EInOutError::fromErrno(err);
            }
            syncDirectory(baseDir());
        }
        conflicts::setAside(baseDir(), aside);
    } catch (...) {
        // The copies stay in the folder; the next start tries again.
    }
}

CatalogSession::ConflictsMerged CatalogSession::mergeConflictCopies(Catalog &catalog)
{
    ConflictsMerged merged;
    // A catalogue read in part would read as nodes deleted on this side.
    if (options_.access == Access::ReadAsIs || (options_.access == Access::Read && !lock_.held()) || readOnly_
        || !files_.loaded() || files_.loadFailed() || !files_.partialReads().empty())
        return merged;
    const std::vector<conflicts::CopyPair> pairs = conflicts::find(baseDir());
    if (pairs.empty())
        return merged;
    auto base = std::make_unique<Catalog>();
    try {
        loadBase(*base);
    } catch (...) {
        // A base that does not read: the empty one, which loses nothing.
        base = std::make_unique<Catalog>();
    }
    const auto baseFits = [&base](const Catalog &side) {
        // A base that is one side's very version is that side's own last
        // save, not what the two grew from: merged over it the other side
        // would undo this one's edits. The empty base keeps both.
        if (merge::sameCatalog(*base, side))
            base = std::make_unique<Catalog>();
    };
    const merge::Side ours{cp1251::fromUtf8(os::machineName()),
                           catalog.modified() ? now()
                                              : newestSeconds({files_.outlinePath(), files_.recordPath()})};
    std::unique_ptr<Catalog> current; // the merge so far
    std::vector<std::string> copies;
    for (const conflicts::CopyPair &pair : pairs) {
        const std::string first = baseDir() + pair.copies.front();
        try {
            Catalog theirs;
            if (!readPairWhole({baseDir() + pair.data, baseDir() + pair.text, 0}, theirs))
                throw Error(W("Файл "), first, W(" прочитан не полностью: он не объединён с каталогом"));
            std::vector<std::string> paths;
            for (const std::string &name : pair.copies)
                paths.push_back(baseDir() + name);
            const merge::Side theirSide{
                cp1251::fromUtf8(pair.device.empty() ? pair.copies.front() : pair.device),
                newestSeconds(paths)};
            baseFits(current ? *current : catalog);
            baseFits(theirs);
            auto out = std::make_unique<Catalog>();
            const merge::Report report
                = merge::mergeCatalogs(*base, current ? *current : catalog, theirs, ours, theirSide, *out);
            merged.report.oursChanges += report.oursChanges;
            merged.report.theirsChanges += report.theirsChanges;
            merged.report.conflicts.insert(merged.report.conflicts.end(), report.conflicts.begin(),
                                           report.conflicts.end());
            current = std::move(out);
        } catch (...) {
            // Not merged, so not moved: its bytes stay where they are.
            if (!merged.failure)
                merged.failure = std::current_exception();
            continue;
        }
        ++merged.copies;
        copies.insert(copies.end(), pair.copies.begin(), pair.copies.end());
    }
    if (current && !merge::sameCatalog(*current, catalog)) {
        replaceContents(catalog, *current);
        catalog.markChanged();
    }
    merged.setAsideNames = copies;
    copiesMerged_.insert(copiesMerged_.end(), copies.begin(), copies.end());
    // Nothing to save: the files already hold every copy's edits.
    if (!catalog.modified() && !copiesMerged_.empty()) {
        Saved none;
        setAsideMergedCopies(none);
        if (!merged.failure)
            merged.failure = none.setAsideFailure;
    }
    return merged;
}

void CatalogSession::setAsideMergedCopies(Saved &saved)
{
    if (copiesMerged_.empty())
        return;
    try {
        const conflicts::SetAside moved = conflicts::setAside(baseDir(), copiesMerged_);
        // Without a state folder they stay in the folder, merged.
        if (!moved.where.empty()) {
            for (const std::string &name : moved.names)
                saved.copiesSetAside.push_back(moved.where + name);
            copiesMerged_.clear();
        }
    } catch (...) {
        saved.setAsideFailure = std::current_exception();
    }
}

void CatalogSession::tellRemarks(Saved &saved)
{
    std::vector<std::string> links = files_.linksReplaced();
    // The window writes Quorvel.ini by the same rule.
    if (options_.askLinks && !files_.writesThrough(files_.settingsPath()))
        links.push_back(files_.settingsPath());
    for (const std::string &link : links) {
        if (std::find(linksTold_.begin(), linksTold_.end(), link) != linksTold_.end())
            continue;
        linksTold_.push_back(link);
        saved.remarks.emplace_back(W("Файл "), link,
                                   W(" - ссылка на файл вне папки каталога: при записи она заменяется "
                                     "обычным файлом, файл, на который она указывает, не изменяется"));
    }
    if (files_.markerBlocked() && !std::exchange(markerTold_, true))
        saved.remarks.emplace_back(W("Файл "), paircommit::markerPath(baseDir()),
                                   W(" не является обычным файлом: файлы каталога записаны без него"));
}

void CatalogSession::close()
{
    waitForBase();
    completeBackups();
    backupFailure_ = nullptr;
    lock_.release();
}

} // namespace qv
