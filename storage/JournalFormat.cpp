#include "storage/JournalFormat.h"

#include "storage/Journal.h"
#include "storage/Os.h"

#include <array>
#include <cstring>
#include <vector>

namespace qv::journal {

namespace {

constexpr char kMagic[8] = {'Q', 'V', 'J', 'R', 'N', 'L', '\r', '\n'};
constexpr uint32_t kVersion = 2;
constexpr size_t kIdentityBytes = 1 + 8 * 4;
constexpr size_t kHeaderV1Bytes = sizeof kMagic + 4 + 2 * kIdentityBytes + 4;
constexpr size_t kHeaderBytes = kHeaderV1Bytes + 2 * 8;

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

Bytes header(const JournalBase &base)
{
    Bytes out(kMagic, sizeof kMagic);
    putFixed(out, kVersion, 4);
    putIdentity(out, base.data);
    putIdentity(out, base.text);
    putFixed(out, base.dataHash, 8);
    putFixed(out, base.textHash, 8);
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

Reader::Reader(const std::string &path)
{
    // Never a link, never a FIFO or device.
    bool notRegular = false;
    fd_ = os::openForReading(path, notRegular, false);
    os::Info info;
    if (fd_ == os::kNoHandle || os::describe(fd_, info) != 0)
        return;
    size_ = static_cast<uint64_t>(info.size);
    char h[kHeaderBytes];
    if (os::readFull(fd_, h, 12) != 12 || std::memcmp(h, kMagic, sizeof kMagic) != 0)
        return;
    const uint64_t version = getFixed(h + 8, 4);
    if (version != 1 && version != kVersion)
        return;
    hashed_ = version == kVersion;
    const size_t bytes = hashed_ ? kHeaderBytes : kHeaderV1Bytes;
    if (os::readFull(fd_, h + 12, bytes - 12) != static_cast<long long>(bytes - 12)
        || getFixed(h + bytes - 4, 4) != crc32(0, std::string_view(h, bytes - 4)))
        return;
    base_.data = getIdentity(h + 12);
    base_.text = getIdentity(h + 12 + kIdentityBytes);
    if (hashed_) {
        base_.dataHash = getFixed(h + 12 + 2 * kIdentityBytes, 8);
        base_.textHash = getFixed(h + 20 + 2 * kIdentityBytes, 8);
    }
    pos_ = bytes;
    ok_ = true;
}

Reader::~Reader()
{
    if (fd_ != os::kNoHandle)
        os::close(fd_);
}

bool Reader::next(int64_t &time, Bytes &payload)
{
    if (!ok_)
        return false;
    char h[kBatchHeaderBytes];
    if (os::readFull(fd_, h, sizeof h) != static_cast<long long>(sizeof h))
        return stop();
    const uint64_t length = getFixed(h, 8);
    if (size_ < pos_ + kBatchHeaderBytes || length > size_ - pos_ - kBatchHeaderBytes)
        return stop();
    payload.resize(static_cast<size_t>(length));
    if (os::readFull(fd_, payload.data(), payload.size()) != static_cast<long long>(length))
        return stop();
    const uint32_t crc = crc32(crc32(0, std::string_view(h, 16)), payload);
    if (crc != getFixed(h + 16, 4))
        return stop();
    time = static_cast<int64_t>(getFixed(h + 8, 8));
    pos_ += kBatchHeaderBytes + length;
    return true;
}

bool Reader::stop()
{
    ok_ = false;
    return false;
}

// ---------------------------------------------------------------------------
// Replaying.

namespace {

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

// ---------------------------------------------------------------------------
// Replaying: one function per operation, each reading its fields and making
// its change, or raising EJournalMismatch when the change does not fit.

void applyInsert(Fields &f, Outline &o, RecordTable &)
{
    Node *parent = f.node(o);
    const uint64_t row = f.var();
    Bytes caption = f.text();
    const int32_t icon = f.icon();
    if (row > parent->childCount())
        throw EJournalMismatch();
    o.insert(parent, static_cast<size_t>(row), std::move(caption), icon);
}

void applyInsertBranch(Fields &f, Outline &o, RecordTable &)
{
    Node *parent = f.node(o);
    const uint64_t row = f.var();
    std::unique_ptr<Node> branch = f.nodes(false);
    if (row > parent->childCount())
        throw EJournalMismatch();
    o.insertBranch(parent, static_cast<size_t>(row), std::move(branch));
}

void applyRemove(Fields &f, Outline &o, RecordTable &) { o.remove(f.nonTop(o)); }

void applyMove(Fields &f, Outline &o, RecordTable &)
{
    Node *n = f.nonTop(o);
    Node *parent = f.node(o);
    const uint64_t row = f.var();
    if (parent == n || n->isAncestorOf(parent) || row > parent->childCount())
        throw EJournalMismatch();
    o.move(n, parent, static_cast<size_t>(row));
}

void applyCopyToAndRemove(Fields &f, Outline &o, RecordTable &)
{
    Node *d = f.nonTop(o);
    Node *target = f.node(o);
    if (!o.copyToAndRemove(d, target))
        throw EJournalMismatch();
}

void applySetCaption(Fields &f, Outline &o, RecordTable &)
{
    Node *n = f.nonTop(o);
    o.setCaption(n, f.text());
}

void applySetImages(Fields &f, Outline &o, RecordTable &)
{
    Node *n = f.nonTop(o);
    o.setImages(n, f.icon());
}

void applyReplaceAll(Fields &f, Outline &o, RecordTable &) { o.replaceAll(f.nodes(true)); }

void applyAppend(Fields &f, Outline &, RecordTable &t)
{
    Bytes section = f.text();
    Bytes text = f.text();
    t.append(std::move(section), std::move(text), f.text());
}

void applyClear(Fields &, Outline &, RecordTable &t) { t.clear(); }

void applyRemoveRecord(Fields &f, Outline &, RecordTable &t)
{
    if (!t.remove(f.text()))
        throw EJournalMismatch();
}

void applyRename(Fields &f, Outline &, RecordTable &t)
{
    Bytes from = f.text();
    if (!t.rename(from, f.text()))
        throw EJournalMismatch();
}

void applySetText(Fields &f, Outline &, RecordTable &t)
{
    Bytes section = f.text();
    if (!t.setText(section, f.text()))
        throw EJournalMismatch();
}

void applySetIcons(Fields &f, Outline &, RecordTable &t)
{
    Bytes section = f.text();
    if (!t.setIcons(section, f.text()))
        throw EJournalMismatch();
}

void applyInsertAt(Fields &f, Outline &, RecordTable &t)
{
    const uint64_t row = f.var();
    NoteRecord r;
    r.section = f.text();
    r.text = f.text();
    r.icons = f.text();
    if (row > t.size())
        throw EJournalMismatch();
    t.insertAt(static_cast<size_t>(row), std::move(r));
}

// A row of the table as the change names it.
size_t existingRow(Fields &f, const RecordTable &t)
{
    const uint64_t row = f.var();
    if (row >= t.size())
        throw EJournalMismatch();
    return static_cast<size_t>(row);
}

void applyRemoveAt(Fields &f, Outline &, RecordTable &t) { t.removeAt(existingRow(f, t)); }

void applyRenameAt(Fields &f, Outline &, RecordTable &t)
{
    const size_t row = existingRow(f, t);
    t.renameAt(row, f.text());
}

void applySetIconsAt(Fields &f, Outline &, RecordTable &t)
{
    const size_t row = existingRow(f, t);
    t.setIconsAt(row, f.text());
}

// Reads the change with operation code `op` and makes it.
void applyOp(uint8_t op, Fields &f, Outline &o, RecordTable &t)
{
    using Apply = void (*)(Fields &, Outline &, RecordTable &);
    static const auto table = [] {
        std::array<Apply, 256> a{};
        a[Insert] = applyInsert;
        a[InsertBranch] = applyInsertBranch;
        a[Remove] = applyRemove;
        a[Move] = applyMove;
        a[CopyToAndRemove] = applyCopyToAndRemove;
        a[SetCaption] = applySetCaption;
        a[SetImages] = applySetImages;
        a[ReplaceAll] = applyReplaceAll;
        a[Append] = applyAppend;
        a[Clear] = applyClear;
        a[RemoveRecord] = applyRemoveRecord;
        a[Rename] = applyRename;
        a[SetText] = applySetText;
        a[SetIcons] = applySetIcons;
        a[InsertAt] = applyInsertAt;
        a[RemoveAt] = applyRemoveAt;
        a[RenameAt] = applyRenameAt;
        a[SetIconsAt] = applySetIconsAt;
        return a;
    }();
    if (!table[op])
        throw EJournalMismatch();
    table[op](f, o, t);
}

} // namespace

size_t applyChange(std::string_view payload, size_t at, Outline &outline, RecordTable &table)
{
    Fields f(payload.substr(at));
    applyOp(f.op(), f, outline, table);
    return payload.size() - f.left();
}

} // namespace qv::journal
