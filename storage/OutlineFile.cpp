#include "storage/OutlineFile.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace qv {

namespace {

// A caption byte the file cannot carry: the line ends CR, LF and NUL, and
// 0x1A, which ends the data of the record file that keys on the same caption.
bool unstorable(char c) { return c == '\r' || c == '\n' || c == '\0' || c == '\x1A'; }

} // namespace

Bytes storedCaption(std::string_view caption)
{
    Bytes stored(caption);
    std::replace_if(stored.begin(), stored.end(), unstorable, '?');
    return stored;
}

namespace {

void appendLine(Bytes &line, size_t depth, const Bytes &caption)
{
    line.append(depth, '\t');
    const size_t start = line.size();
    line.append(caption);
    for (size_t i = start; i < line.size(); ++i)
        if (unstorable(line[i]))
            line[i] = '?';
    line.append("\r\n");
}

// Calls emit(line) for every node in flat order. The depth is carried along
// the walk: one deeper on entering a child, one shallower per ancestor left.
template <typename Emit>
void walkLines(const Outline &outline, Emit &&emit)
{
    Bytes line;
    size_t depth = 0;
    for (const Node *n = outline.first(); n;) {
        line.clear();
        appendLine(line, depth, n->caption());
        emit(line);
        const Node *next = flatNext(n);
        if (!next)
            break;
        if (next->parent() == n) {
            ++depth;
        } else {
            for (const Node *p = n->parent(); p != next->parent(); p = p->parent())
                --depth;
        }
        n = next;
    }
}

} // namespace

Bytes outlineBytes(const Outline &outline)
{
    Bytes out;
    walkLines(outline, [&out](const Bytes &line) { out.append(line); });
    return out;
}

namespace {

// Calls add(level, caption) for each line up to the first NUL, the level
// already checked against the line before: whatever its indent, the first
// line gives a root (level 0); a later one may go at most one level deeper
// than the line before, else EOutlineLevelError.
template <typename Add>
void scanLines(std::string_view bytes, Add &&add)
{
    const size_t n = bytes.size();
    size_t i = 0;
    size_t depth = 0;
    bool first = true;
    while (i < n && bytes[i] != '\0') {
        size_t end = i;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n' && bytes[end] != '\0')
            ++end;
        std::string_view line = bytes.substr(i, end - i);
        i = end;
        if (i < n && bytes[i] == '\r')
            ++i;
        if (i < n && bytes[i] == '\n')
            ++i;

        size_t level = 0;
        while (level < line.size() && (line[level] == '\t' || line[level] == ' '))
            ++level;
        const std::string_view caption = line.substr(level);
        if (first) {
            level = 0;
            first = false;
        } else if (level > depth + 1) {
            throw EOutlineLevelError(static_cast<long long>(level), Bytes(caption));
        }
        depth = level;
        add(level, caption);
    }
}

// Bytes a read that stopped early may leave after its stop without losing
// anything: padding and line ends.
constexpr std::string_view kIgnorableAfterStop("\0\x1A\r\n", 4);

// Reads the file in chunks up to its first NUL (nothing after it is read
// into memory). `stop` is the NUL's offset when anything else follows it.
Bytes readUpToNul(InputFile &in, std::optional<uint64_t> &stop)
{
    constexpr size_t kChunk = size_t(1) << 20;
    Bytes data;
    std::vector<char> buf(kChunk);
    for (;;) {
        const long long n = in.read(buf.data(), buf.size());
        if (n < 0)
            throw EInOutError::fromErrno(errno);
        if (n == 0)
            break;
        const auto got = static_cast<size_t>(n);
        if (const void *nul = std::memchr(buf.data(), '\0', got)) {
            data.append(buf.data(), static_cast<size_t>(static_cast<const char *>(nul) - buf.data()));
            if (in.contentAfter(static_cast<int64_t>(data.size()) + 1, kIgnorableAfterStop))
                stop = data.size();
            break;
        }
        data.append(buf.data(), got);
    }
    return data;
}

} // namespace

void parseOutline(std::string_view bytes, Outline &outline)
{
    auto top = std::make_unique<Node>();
    // chain[k] is the ancestor at depth k of the node added last (which is
    // itself the last entry), so a level maps straight onto its parent.
    std::vector<Node *> chain;
    size_t nodes = 0;
    try {
        scanLines(bytes, [&](size_t level, std::string_view caption) {
            chain.resize(level);
            Node *parent = level == 0 ? top.get() : chain.back();
            chain.push_back(parent->appendChild(std::make_unique<Node>(Bytes(caption))));
            ++nodes;
        });
    } catch (...) {
        // The nodes of the lines before the failure stay.
        outline.replaceAll(std::move(top), nodes, bytes.size());
        throw;
    }
    outline.replaceAll(std::move(top), nodes, bytes.size());
}

void writeOutline(AtomicFile &file, const Outline &outline)
{
    walkLines(outline, [&file](const Bytes &line) { file.write(line); });
}

void writeOutlineFile(const std::string &path, const Outline &outline)
{
    AtomicFile file(path, AtomicFile::Refusal::Create);
    writeOutline(file, outline);
    file.commit();
}

std::optional<uint64_t> readOutlineFile(const std::string &path, Outline &outline, uint64_t *contentHash)
{
    InputFile in(path);
    std::optional<uint64_t> stop;
    const Bytes bytes = readUpToNul(in, stop);
    if (contentHash)
        *contentHash = in.contentHash();
    parseOutline(bytes, outline);
    return stop;
}

bool outlineReadsWhole(InputFile &file)
{
    std::optional<uint64_t> stop;
    const Bytes bytes = readUpToNul(file, stop);
    if (stop)
        return false;
    try {
        scanLines(bytes, [](size_t, std::string_view) {});
    } catch (const EOutlineLevelError &) {
        return false;
    }
    return true;
}

} // namespace qv
