#include "storage/Journal.h"

#include "storage/JournalFormat.h"
#include "storage/LinkConsent.h"
#include "storage/Os.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace qv {

EJournalMismatch::EJournalMismatch()
    : Error(W("Журнал несохранённых изменений не подходит к каталогу; восстановлена только часть изменений"))
{}

using namespace journal;

namespace {

// Takes the catalogue's change sinks away for its lifetime.
class MutedSinks {
public:
    explicit MutedSinks(Catalog &catalog)
        : catalog_(catalog), outline_(catalog.outline().changeSink()),
          records_(catalog.records().changeSink())
    {
        catalog_.outline().setChangeSink(nullptr);
        catalog_.records().setChangeSink(nullptr);
    }
    ~MutedSinks()
    {
        catalog_.outline().setChangeSink(outline_);
        catalog_.records().setChangeSink(records_);
    }
    MutedSinks(const MutedSinks &) = delete;
    MutedSinks &operator=(const MutedSinks &) = delete;

private:
    Catalog &catalog_;
    OutlineChangeSink *outline_;
    RecordChangeSink *records_;
};

} // namespace

// ---------------------------------------------------------------------------
// The recorder: turns each change the sinks report into its encoded form.

class Journal::Recorder final : public OutlineChangeSink, public RecordChangeSink {
public:
    Recorder(const Catalog &catalog, std::function<void()> onFirst)
        : catalog_(catalog), onFirst_(std::move(onFirst))
    {}

    bool empty() const { return ops_.empty() && !lazy_; }
    // Everything recorded, the pending note text included.
    const Bytes &encoded()
    {
        materialise();
        return ops_;
    }
    void clear()
    {
        ops_.clear();
        lazy_.reset();
    }

    // ---- outline ----
    void inserted(const Node *n) override
    {
        if (n->hasChildren()) {
            begin(InsertBranch);
            putPath(ops_, n->parent());
            putVar(ops_, n->row());
            putBranch(ops_, n);
        } else {
            begin(Insert);
            putPath(ops_, n->parent());
            putVar(ops_, n->row());
            putText(ops_, n->caption());
            putIcon(ops_, n->imageIndex());
        }
    }
    void removing(const Node *n) override
    {
        begin(Remove);
        putPath(ops_, n);
    }
    void moving(const Node *n, const Node *newParent, size_t row) override
    {
        begin(Move);
        putPath(ops_, n);
        putPath(ops_, newParent);
        putVar(ops_, row);
    }
    void copiedToAndRemoving(const Node *d, const Node *copy) override
    {
        begin(CopyToAndRemove);
        putPath(ops_, d);
        putPath(ops_, copy->parent());
    }
    void captionChanged(const Node *n) override
    {
        begin(SetCaption);
        putPath(ops_, n);
        putText(ops_, n->caption());
    }
    void imagesChanged(const Node *n) override
    {
        begin(SetImages);
        putPath(ops_, n);
        putIcon(ops_, n->imageIndex());
    }
    void replaced() override
    {
        begin(ReplaceAll);
        putForest(ops_, catalog_.outline());
    }

    // ---- records ----
    void appending(std::string_view section, std::string_view text, std::string_view icons) override
    {
        begin(Append);
        putText(ops_, section);
        putText(ops_, text);
        putText(ops_, icons);
    }
    void clearing() override { begin(Clear); }
    void removing(std::string_view section) override
    {
        begin(RemoveRecord);
        putText(ops_, section);
    }
    void renaming(std::string_view oldSection, std::string_view newSection) override
    {
        begin(Rename);
        putText(ops_, oldSection);
        putText(ops_, newSection);
    }
    void settingText(std::string_view section, std::string_view) override
    {
        // The text is taken from the table when it is needed: a run of edits
        // to one note costs one copy of it per flush, not one per keystroke.
        if (lazy_ && *lazy_ == section)
            return;
        noteFirst();
        materialise();
        lazy_ = Bytes(section);
    }
    void settingIcons(std::string_view section, std::string_view icons) override
    {
        begin(SetIcons);
        putText(ops_, section);
        putText(ops_, icons);
    }
    void insertingAt(size_t row, const RecordView &record) override
    {
        begin(InsertAt);
        putVar(ops_, row);
        putText(ops_, record.section);
        putText(ops_, record.text);
        putText(ops_, record.icons);
    }
    void removingAt(size_t row) override
    {
        begin(RemoveAt);
        putVar(ops_, row);
    }
    void renamingAt(size_t row, std::string_view newSection) override
    {
        begin(RenameAt);
        putVar(ops_, row);
        putText(ops_, newSection);
    }
    void settingIconsAt(size_t row, std::string_view icons) override
    {
        begin(SetIconsAt);
        putVar(ops_, row);
        putText(ops_, icons);
    }

private:
    void noteFirst()
    {
        if (empty() && onFirst_)
            onFirst_();
    }
    // Every other change comes after the pending note text; that text is
    // written out first, while the table still holds it.
    void begin(Op op)
    {
        noteFirst();
        materialise();
        ops_.push_back(static_cast<char>(op));
    }
    void materialise()
    {
        if (!lazy_)
            return;
        const std::optional<RecordView> r = catalog_.records().find(*lazy_);
        ops_.push_back(static_cast<char>(SetText));
        putText(ops_, *lazy_);
        putText(ops_, r ? r->text : std::string_view());
        lazy_.reset();
    }

    const Catalog &catalog_;
    std::function<void()> onFirst_;
    Bytes ops_;
    std::optional<Bytes> lazy_; // section whose first record's text was set last
};

// ---------------------------------------------------------------------------

Journal::Journal(std::string baseDir)
    : baseDir_(std::move(baseDir)), path_(baseDir_ + fileName(os::machineName())),
      unnamed_(baseDir_ + kUnnamedFileName)
{}

std::string Journal::foundPath() const
{
    return os::nameTaken(path_) || !os::nameTaken(unnamed_) ? path_ : unnamed_;
}

Journal::~Journal()
{
    detach();
    closeFile();
}

void Journal::setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
void Journal::setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }
void Journal::setSizeLimit(uint64_t bytes) { sizeLimit_ = bytes; }

int64_t Journal::now() const { return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr)); }

uint64_t Journal::sizeLimit() const
{
    if (sizeLimit_)
        return sizeLimit_;
    const uint64_t files = static_cast<uint64_t>(std::max<int64_t>(base_.data.size, 0)
                                                 + std::max<int64_t>(base_.text.size, 0));
    return std::max<uint64_t>(uint64_t(64) << 20, 4 * files);
}

void Journal::changed()
{
    if (onChange_)
        onChange_();
}

bool Journal::present() const { return plainFileAt(foundPath()); }

std::optional<Journal::Pending> Journal::pending(const JournalBase &current) const
{
    // Without catalogue files there is nothing the changes were made on: a
    // journal there could only install a catalogue of its own, unless this
    // machine began it in a new catalogue that never got saved.
    if (!current.data.exists && !current.text.exists && !ownJournal())
        return std::nullopt;
    Reader reader(foundPath());
    if (!reader.ok())
        return std::nullopt;
    const JournalBase &base = reader.base();
    const bool same = reader.hashed()
        ? base.data.exists == current.data.exists && base.text.exists == current.text.exists
            && base.dataHash == current.dataHash && base.textHash == current.textHash
        : base.data == current.data && base.text == current.text;
    std::optional<Pending> found;
    int64_t time = 0;
    Bytes payload;
    while (reader.next(time, payload))
        found = Pending{time, !same};
    return found;
}

void Journal::replay(Catalog &catalog)
{
    Reader reader(foundPath());
    if (!reader.ok())
        return;

    // Replayed changes are not recorded again as they are applied.
    const MutedSinks muted(catalog);

    closeFile();
    replayed_.clear();
    Outline &o = catalog.outline();
    RecordTable &t = catalog.records();
    Batch batch;
    size_t opStart = 0;
    try {
        while (reader.next(batch.time, batch.payload)) {
            for (size_t at = 0; at < batch.payload.size();) {
                opStart = at;
                at = journal::applyChange(batch.payload, at, o, t);
                catalog.markChanged();
            }
            replayed_.push_back(std::move(batch));
            batch = Batch();
        }
    } catch (const EJournalMismatch &) {
        // What was applied stays, and stays on record.
        if (opStart > 0) {
            batch.payload.resize(opStart);
            replayed_.push_back(std::move(batch));
        }
        if (!replayed_.empty())
            changed();
        throw;
    }
    if (!replayed_.empty())
        changed();
}

std::string Journal::setAside(int64_t when)
{
    const std::string found = foundPath();
    if (!os::nameTaken(found))
        return {};
    closeFile();
    std::string target;
    const auto take = [&found](const std::string &name) { return os::renameNoReplace(found, name); };
    if (const int err = os::takeFreeName(found + "." + dateStamp(when), take, target))
        throw EInOutError::fromErrno(err);
    syncDirectory(baseDir_);
    return target;
}

void Journal::attach(Catalog &catalog, const JournalBase &base)
{
    detach();
    closeFile();
    catalog_ = &catalog;
    base_ = base;
    recorder_ = std::make_unique<Recorder>(catalog, [this] { changed(); });
    catalog.outline().setChangeSink(recorder_.get());
    catalog.records().setChangeSink(recorder_.get());
}

void Journal::detach()
{
    if (catalog_) {
        if (catalog_->outline().changeSink() == recorder_.get())
            catalog_->outline().setChangeSink(nullptr);
        if (catalog_->records().changeSink() == recorder_.get())
            catalog_->records().setChangeSink(nullptr);
    }
    catalog_ = nullptr;
    recorder_.reset();
}

void Journal::rebase(const JournalBase &base)
{
    discard();
    base_ = base;
}

void Journal::restart(Catalog &catalog, const JournalBase &base)
{
    attach(catalog, base);
    replayed_.clear();
    if (!catalog.modified()) {
        discard();
        return;
    }
    replayed_.push_back(Batch{now(), snapshot(catalog)});
    changed();
}

bool Journal::dirty() const { return !replayed_.empty() || (recorder_ && !recorder_->empty()); }

void Journal::closeFile()
{
    if (fd_ != os::kNoHandle)
        os::close(fd_);
    fd_ = os::kNoHandle;
    fileEnd_ = 0;
    truncate_ = false;
}

void Journal::discard()
{
    closeFile();
    os::remove(path_);
    os::remove(unnamed_);
    replayed_.clear();
    if (recorder_)
        recorder_->clear();
}

void Journal::flush()
{
    if (!dirty())
        return;
    Batch live{now(), recorder_ ? recorder_->encoded() : Bytes()};
    if (fd_ >= 0 && fileEnd_ + kBatchHeaderBytes + live.payload.size() > sizeLimit() && catalog_) {
        // The journal has grown past the catalogue's size several times
        // over: the catalogue itself is shorter.
        writeFresh({Batch{live.time, snapshot(*catalog_)}});
    } else if (fd_ < 0) {
        std::vector<Batch> batches = replayed_;
        if (!live.payload.empty())
            batches.push_back(std::move(live));
        writeFresh(batches);
    } else {
        append(live);
    }
    replayed_.clear();
    if (recorder_)
        recorder_->clear();
}

void Journal::writeFresh(const std::vector<Batch> &batches)
{
    // Written beside and renamed into place: the journal there stays whole
    // until this one is, and a link in its place is replaced, not followed.
    Bytes bytes = header(base_);
    for (const Batch &b : batches)
        putBatch(bytes, b.time, b.payload);

    std::string tmp;
    const os::Handle fd = os::createTemporaryBeside(path_, tmp);
    if (fd == os::kNoHandle)
        throw EInOutError::fromErrno(errno);
    int err = os::writeAll(fd, bytes, 0);
    if (err == 0)
        err = os::syncFile(fd);
    if (err == 0)
        err = os::rename(tmp, path_);
    if (err != 0) {
        os::close(fd);
        os::remove(tmp);
        throw EInOutError::fromErrno(err);
    }
    // What an unnamed journal held is in this one now.
    if (plainFileAt(unnamed_))
        os::remove(unnamed_);
    syncDirectory(baseDir_);
    closeFile();
    fd_ = fd;
    fileEnd_ = bytes.size();
    if (!base_.data.exists && !base_.text.exists)
        if (const auto key = ownKey())
            linkconsent::recordOwnJournal(key->first, key->second);
}

std::optional<std::pair<std::string, std::string>> Journal::ownKey() const
{
    // The folder's real path and the journal file itself (device and inode:
    // a journal written anew, or copied in, is another file).
    const std::optional<std::string> folder = os::canonicalPath(baseDir_);
    const std::string found = foundPath();
    if (!folder || !plainFileAt(found))
        return std::nullopt;
    const FileIdentity id = fileIdentity(found);
    return std::pair{*folder, std::to_string(id.device) + ':' + std::to_string(id.inode)};
}

bool Journal::ownJournal() const
{
    const auto key = ownKey();
    return key && linkconsent::isOwnJournal(key->first, key->second);
}

void Journal::append(const Batch &batch)
{
    Bytes bytes;
    putBatch(bytes, batch.time, batch.payload);
    if (truncate_) {
        if (const int err = os::truncate(fd_, static_cast<int64_t>(fileEnd_)))
            throw EInOutError::fromErrno(err);
        truncate_ = false;
    }
    int err = os::writeAll(fd_, bytes, static_cast<int64_t>(fileEnd_));
    if (err == 0)
        err = os::syncFile(fd_, true);
    if (err != 0) {
        truncate_ = true;
        throw EInOutError::fromErrno(err);
    }
    fileEnd_ += bytes.size();
}

} // namespace qv
