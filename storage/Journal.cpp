#include "storage/Journal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace qv {

EJournalMismatch::EJournalMismatch()
    : Error(W("Журнал несохранённых изменений не подходит к каталогу; восстановлена только часть изменений"))
{}

namespace {

// ---------------------------------------------------------------------------
// The file's layout.
//
//   header: magic (8) | version u32 | data.dat identity | text.dat identity | CRC-32 u32
//           identity: exists u8 | device u64 | inode u64 | size i64 | mtime ns i64
//   batch:  payload length u64 | time i64 | CRC-32 u32 (of length, time, payload) | payload
//
// Fixed-size numbers are little-endian. A payload is a sequence of changes,
// each an operation byte and its fields: counts, rows and lengths as LEB128,
// icon numbers zigzag-coded, text as length and bytes, a node as its path
// (count, then the row at each level from the top; empty for the top).

constexpr char kMagic[8] = {'Q', 'V', 'J', 'R', 'N', 'L', '\r', '\n'};
constexpr uint32_t kVersion = 1;
constexpr size_t kIdentityBytes = 1 + 8 * 4;
constexpr size_t kHeaderBytes = sizeof kMagic + 4 + 2 * kIdentityBytes + 4;
constexpr size_t kBatchHeaderBytes = 8 + 8 + 4;
constexpr char kFileName[] = "Quorvel.journal";

enum Op : uint8_t {
    // outline
    Insert = 1,          // parent, row, caption, icon
    InsertBranch = 2,    // parent, row, nodes
    Remove = 3,          // node
    Move = 4,            // node, new parent, row
    CopyToAndRemove = 5, // dragged node, target
    SetCaption = 6,      // node, caption
    SetImages = 7,       // node, icon
    ReplaceAll = 8,      // nodes of the whole forest
    // record table
    Append = 16, // section, text, icons
    Clear = 17,
    RemoveRecord = 18, // section
    Rename = 19,       // old section, new section
    SetText = 20,      // section, text
    SetIcons = 21,     // section, icons
    InsertAt = 22,     // row, section, text, icons
    RemoveAt = 23,     // row
    RenameAt = 24,     // row, new section
    SetIconsAt = 25,   // row, icons
};

uint32_t crc32(uint32_t crc, std::string_view bytes)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (unsigned char b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void putFixed(Bytes &out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint64_t getFixed(const char *p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

void putVar(Bytes &out, uint64_t v)
{
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

void putIcon(Bytes &out, int32_t v)
{
    const int64_t s = v;
    putVar(out, (static_cast<uint64_t>(s) << 1) ^ static_cast<uint64_t>(s >> 63));
}

void putText(Bytes &out, std::string_view s)
{
    putVar(out, s.size());
    out.append(s);
}

void putPath(Bytes &out, const Node *n)
{
    std::vector<size_t> rows;
    for (; n && !n->isTop(); n = n->parent())
        rows.push_back(n->row());
    putVar(out, rows.size());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        putVar(out, *it);
}

// Visits root and its descendants in flat order, root at depth 0. No recursion.
template <class F>
void preOrder(const Node *root, F &&visit)
{
    const Node *x = root;
    size_t depth = 0;
    for (;;) {
        visit(x, depth);
        if (x->hasChildren()) {
            x = x->firstChild();
            ++depth;
            continue;
        }
        while (x != root && !x->nextSibling()) {
            x = x->parent();
            --depth;
        }
        if (x == root)
            return;
        x = x->nextSibling();
    }
}

void putBranch(Bytes &out, const Node *n)
{
    putVar(out, branchSize(n));
    preOrder(n, [&out](const Node *x, size_t depth) {
        putVar(out, depth);
        putText(out, x->caption());
        putIcon(out, x->imageIndex());
    });
}

void putForest(Bytes &out, const Outline &outline)
{
    putVar(out, outline.nodeCount());
    for (size_t i = 0; i < outline.rootCount(); ++i)
        preOrder(outline.root(i), [&out](const Node *x, size_t depth) {
            putVar(out, depth);
            putText(out, x->caption());
            putIcon(out, x->imageIndex());
        });
}

// The whole catalogue as changes that rebuild it from anything.
Bytes snapshot(const Catalog &catalog)
{
    Bytes out;
    out.push_back(char(ReplaceAll));
    putForest(out, catalog.outline());
    out.push_back(char(Clear));
    for (size_t i = 0; i < catalog.records().size(); ++i) {
        const RecordView r = catalog.records().at(i);
        out.push_back(char(Append));
        putText(out, r.section);
        putText(out, r.text);
        putText(out, r.icons);
    }
    return out;
}

void putIdentity(Bytes &out, const FileIdentity &id)
{
    putFixed(out, id.exists ? 1 : 0, 1);
    putFixed(out, id.device, 8);
    putFixed(out, id.inode, 8);
    putFixed(out, static_cast<uint64_t>(id.size), 8);
    putFixed(out, static_cast<uint64_t>(id.mtimeNs), 8);
}

FileIdentity getIdentity(const char *p)
{
    FileIdentity id;
    id.exists = p[0] == 1;
    id.device = getFixed(p + 1, 8);
    id.inode = getFixed(p + 9, 8);
    id.size = static_cast<int64_t>(getFixed(p + 17, 8));
    id.mtimeNs = static_cast<int64_t>(getFixed(p + 25, 8));
    return id;
}

Bytes header(const FileIdentity &data, const FileIdentity &text)
{
    Bytes out(kMagic, sizeof kMagic);
    putFixed(out, kVersion, 4);
    putIdentity(out, data);
    putIdentity(out, text);
    putFixed(out, crc32(0, out), 4);
    return out;
}

void putBatch(Bytes &out, int64_t time, std::string_view payload)
{
    const size_t start = out.size();
    putFixed(out, payload.size(), 8);
    putFixed(out, static_cast<uint64_t>(time), 8);
    const uint32_t crc = crc32(crc32(0, std::string_view(out).substr(start)), payload);
    putFixed(out, crc, 4);
    out.append(payload);
}

// ---------------------------------------------------------------------------
// Reading the file.

long long readFull(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long long>(got);
}

// Walks the sound part of a journal file: the header, then batch after batch
// until one is cut short or does not check.
class Reader {
public:
    explicit Reader(const std::string &path)
    {
        // Never a link, never a FIFO or device.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        struct stat sb {};
        if (::fstat(fd_, &sb) != 0 || !S_ISREG(sb.st_mode))
            return;
        size_ = static_cast<uint64_t>(sb.st_size);
        char h[kHeaderBytes];
        if (readFull(fd_, h, sizeof h) != static_cast<long long>(sizeof h))
            return;
        if (std::memcmp(h, kMagic, sizeof kMagic) != 0 || getFixed(h + 8, 4) != kVersion
            || getFixed(h + kHeaderBytes - 4, 4) != crc32(0, std::string_view(h, kHeaderBytes - 4)))
            return;
        data_ = getIdentity(h + 12);
        text_ = getIdentity(h + 12 + kIdentityBytes);
        pos_ = kHeaderBytes;
        ok_ = true;
    }
    ~Reader()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool ok() const { return ok_; }
    const FileIdentity &data() const { return data_; }
    const FileIdentity &text() const { return text_; }

    // The next sound batch, or false at the end of the sound part.
    bool next(int64_t &time, Bytes &payload)
    {
        if (!ok_)
            return false;
        char h[kBatchHeaderBytes];
        if (readFull(fd_, h, sizeof h) != static_cast<long long>(sizeof h))
            return stop();
        const uint64_t length = getFixed(h, 8);
        if (size_ < pos_ + kBatchHeaderBytes || length > size_ - pos_ - kBatchHeaderBytes)
            return stop();
        payload.resize(static_cast<size_t>(length));
        if (readFull(fd_, payload.data(), payload.size()) != static_cast<long long>(length))
            return stop();
        const uint32_t crc = crc32(crc32(0, std::string_view(h, 16)), payload);
        if (crc != getFixed(h + 16, 4))
            return stop();
        time = static_cast<int64_t>(getFixed(h + 8, 8));
        pos_ += kBatchHeaderBytes + length;
        return true;
    }

private:
    bool stop()
    {
        ok_ = false;
        return false;
    }

    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
    bool ok_ = false;
    FileIdentity data_, text_;
};

// The fields of one change, as replay reads them. Anything out of place
// raises EJournalMismatch.
class Fields {
public:
    explicit Fields(std::string_view bytes) : p_(bytes) {}
    bool atEnd() const { return p_.empty(); }
    size_t left() const { return p_.size(); }

    uint8_t op()
    {
        need(1);
        const uint8_t v = static_cast<uint8_t>(p_[0]);
        p_.remove_prefix(1);
        return v;
    }
    uint64_t var()
    {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            need(1);
            const auto b = static_cast<unsigned char>(p_[0]);
            p_.remove_prefix(1);
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        throw EJournalMismatch();
    }
    int32_t icon()
    {
        const uint64_t z = var();
        const int64_t v = static_cast<int64_t>(z >> 1) ^ -static_cast<int64_t>(z & 1);
        if (v < INT32_MIN || v > INT32_MAX)
            throw EJournalMismatch();
        return static_cast<int32_t>(v);
    }
    Bytes text()
    {
        const uint64_t n = var();
        need(n);
        Bytes s(p_.substr(0, static_cast<size_t>(n)));
        p_.remove_prefix(static_cast<size_t>(n));
        return s;
    }
    // The node a path names, or the top for an empty one.
    Node *node(const Outline &outline)
    {
        const uint64_t levels = var();
        Node *n = outline.top();
        for (uint64_t i = 0; i < levels; ++i) {
            const uint64_t row = var();
            if (row >= n->childCount())
                throw EJournalMismatch();
            n = n->child(static_cast<size_t>(row));
        }
        return n;
    }
    Node *nonTop(const Outline &outline)
    {
        Node *n = node(outline);
        if (n->isTop())
            throw EJournalMismatch();
        return n;
    }
    // `count` nodes in flat order with their depths: a forest under a fresh
    // top (roots at depth 0), or one branch (a single node at depth 0).
    std::unique_ptr<Node> nodes(bool forest)
    {
        const uint64_t count = var();
        // Each node takes at least three bytes.
        if (count > p_.size() / 3 || (!forest && count == 0))
            throw EJournalMismatch();
        auto top = std::make_unique<Node>();
        std::unique_ptr<Node> root;
        std::vector<Node *> chain; // the last node at each depth so far
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t depth = var();
            if (depth > chain.size() || (!forest && (i == 0) != (depth == 0)))
                throw EJournalMismatch();
            chain.resize(static_cast<size_t>(depth));
            auto n = std::make_unique<Node>(text());
            n->setImages(icon());
            Node *raw = n.get();
            if (depth > 0)
                chain.back()->appendChild(std::move(n));
            else if (forest)
                top->appendChild(std::move(n));
            else
                root = std::move(n);
            chain.push_back(raw);
        }
        return forest ? std::move(top) : std::move(root);
    }

private:
    void need(uint64_t n)
    {
        if (n > p_.size())
            throw EJournalMismatch();
    }
    std::string_view p_;
};

bool nameTaken(const std::string &path)
{
    struct stat sb {};
    return ::lstat(path.c_str(), &sb) == 0;
}

bool writeAll(int fd, std::string_view bytes, uint64_t offset)
{
    while (!bytes.empty()) {
        ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

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

Journal::Journal(std::string baseDir) : baseDir_(std::move(baseDir)), path_(baseDir_ + kFileName) {}

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
    const uint64_t files
        = static_cast<uint64_t>(std::max<int64_t>(data_.size, 0) + std::max<int64_t>(text_.size, 0));
    return std::max<uint64_t>(uint64_t(64) << 20, 4 * files);
}

void Journal::changed()
{
    if (onChange_)
        onChange_();
}

bool Journal::present() const
{
    struct stat sb {};
    return ::lstat(path_.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

std::optional<int64_t> Journal::pendingSince() const
{
    Reader reader(path_);
    if (!reader.ok() || reader.data() != fileIdentity(baseDir_ + "data.dat")
        || reader.text() != fileIdentity(baseDir_ + "text.dat"))
        return std::nullopt;
    std::optional<int64_t> last;
    int64_t time = 0;
    Bytes payload;
    while (reader.next(time, payload))
        last = time;
    return last;
}

void Journal::replay(Catalog &catalog)
{
    Reader reader(path_);
    if (!reader.ok())
        return;

    // Replayed changes are not recorded again as they are applied.
    struct Quiet {
        Catalog &c;
        OutlineChangeSink *outline;
        RecordChangeSink *records;
        explicit Quiet(Catalog &cat)
            : c(cat), outline(cat.outline().changeSink()), records(cat.records().changeSink())
        {
            c.outline().setChangeSink(nullptr);
            c.records().setChangeSink(nullptr);
        }
        ~Quiet()
        {
            c.outline().setChangeSink(outline);
            c.records().setChangeSink(records);
        }
    } quiet(catalog);

    closeFile();
    replayed_.clear();
    replayedData_ = reader.data();
    replayedText_ = reader.text();
    Outline &o = catalog.outline();
    RecordTable &t = catalog.records();
    Batch batch;
    size_t opStart = 0;
    try {
        while (reader.next(batch.time, batch.payload)) {
            Fields f(batch.payload);
            while (!f.atEnd()) {
                opStart = batch.payload.size() - f.left();
                const uint8_t op = f.op();
                switch (op) {
                case Insert: {
                    Node *parent = f.node(o);
                    const uint64_t row = f.var();
                    Bytes caption = f.text();
                    const int32_t icon = f.icon();
                    if (row > parent->childCount())
                        throw EJournalMismatch();
                    o.insert(parent, static_cast<size_t>(row), std::move(caption), icon);
                    break;
                }
                case InsertBranch: {
                    Node *parent = f.node(o);
                    const uint64_t row = f.var();
                    std::unique_ptr<Node> branch = f.nodes(false);
                    if (row > parent->childCount())
                        throw EJournalMismatch();
                    o.insertBranch(parent, static_cast<size_t>(row), std::move(branch));
                    break;
                }
                case Remove:
                    o.remove(f.nonTop(o));
                    break;
                case Move: {
                    Node *n = f.nonTop(o);
                    Node *parent = f.node(o);
                    const uint64_t row = f.var();
                    if (parent == n || n->isAncestorOf(parent) || row > parent->childCount())
                        throw EJournalMismatch();
                    o.move(n, parent, static_cast<size_t>(row));
                    break;
                }
                case CopyToAndRemove: {
                    Node *d = f.nonTop(o);
                    Node *target = f.node(o);
                    if (!o.copyToAndRemove(d, target))
                        throw EJournalMismatch();
                    break;
                }
                case SetCaption: {
                    Node *n = f.nonTop(o);
                    o.setCaption(n, f.text());
                    break;
                }
                case SetImages: {
                    Node *n = f.nonTop(o);
                    o.setImages(n, f.icon());
                    break;
                }
                case ReplaceAll:
                    o.replaceAll(f.nodes(true));
                    break;
                case Append: {
                    Bytes section = f.text();
                    Bytes text = f.text();
                    t.append(std::move(section), std::move(text), f.text());
                    break;
                }
                case Clear:
                    t.clear();
                    break;
                case RemoveRecord:
                    if (!t.remove(f.text()))
                        throw EJournalMismatch();
                    break;
                case Rename: {
                    Bytes from = f.text();
                    if (!t.rename(from, f.text()))
                        throw EJournalMismatch();
                    break;
                }
                case SetText: {
                    Bytes section = f.text();
                    if (!t.setText(section, f.text()))
                        throw EJournalMismatch();
                    break;
                }
                case SetIcons: {
                    Bytes section = f.text();
                    if (!t.setIcons(section, f.text()))
                        throw EJournalMismatch();
                    break;
                }
                case InsertAt: {
                    const uint64_t row = f.var();
                    NoteRecord r;
                    r.section = f.text();
                    r.text = f.text();
                    r.icons = f.text();
                    if (row > t.size())
                        throw EJournalMismatch();
                    t.insertAt(static_cast<size_t>(row), std::move(r));
                    break;
                }
                case RemoveAt:
                case RenameAt:
                case SetIconsAt: {
                    const uint64_t row = f.var();
                    if (row >= t.size())
                        throw EJournalMismatch();
                    if (op == RemoveAt)
                        t.removeAt(static_cast<size_t>(row));
                    else if (op == RenameAt)
                        t.renameAt(static_cast<size_t>(row), f.text());
                    else
                        t.setIconsAt(static_cast<size_t>(row), f.text());
                    break;
                }
                default:
                    throw EJournalMismatch();
                }
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
    if (!nameTaken(path_))
        return {};
    closeFile();
    const std::string dated = path_ + "." + dateStamp(when);
    std::string target = dated;
    for (int n = 1; nameTaken(target); ++n)
        target = dated + "-" + std::to_string(n);
    if (::rename(path_.c_str(), target.c_str()) != 0)
        throw EInOutError::fromErrno(errno);
    syncDirectory(baseDir_);
    return target;
}

void Journal::attach(Catalog &catalog, FileIdentity data, FileIdentity text)
{
    detach();
    closeFile();
    if (data != replayedData_ || text != replayedText_)
        replayed_.clear();
    catalog_ = &catalog;
    data_ = data;
    text_ = text;
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

void Journal::rebase(FileIdentity data, FileIdentity text)
{
    discard();
    data_ = data;
    text_ = text;
}

bool Journal::dirty() const { return !replayed_.empty() || (recorder_ && !recorder_->empty()); }

void Journal::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    fileEnd_ = 0;
    truncate_ = false;
}

void Journal::discard()
{
    closeFile();
    ::unlink(path_.c_str());
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
    const FileIdentity &data = replayed_.empty() ? data_ : replayedData_;
    const FileIdentity &text = replayed_.empty() ? text_ : replayedText_;
    Bytes bytes = header(data, text);
    for (const Batch &b : batches)
        putBatch(bytes, b.time, b.payload);

    std::string tmp = baseDir_ + "." + kFileName + ".tmp-XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EInOutError::fromErrno(errno);
    if (!writeAll(fd, bytes, 0) || ::fsync(fd) != 0 || ::rename(tmp.c_str(), path_.c_str()) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        throw EInOutError::fromErrno(err);
    }
    syncDirectory(baseDir_);
    closeFile();
    fd_ = fd;
    fileEnd_ = bytes.size();
}

void Journal::append(const Batch &batch)
{
    Bytes bytes;
    putBatch(bytes, batch.time, batch.payload);
    if (truncate_) {
        if (::ftruncate(fd_, static_cast<off_t>(fileEnd_)) != 0)
            throw EInOutError::fromErrno(errno);
        truncate_ = false;
    }
    if (!writeAll(fd_, bytes, fileEnd_) || ::fdatasync(fd_) != 0) {
        truncate_ = true;
        throw EInOutError::fromErrno(errno);
    }
    fileEnd_ += bytes.size();
}

} // namespace qv
