#include "storage/OutlineFile.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"

#include <vector>

namespace qv {

namespace {

// A caption byte the file cannot carry: the line ends CR, LF and NUL, and
// 0x1A, which ends the data of the record file that keys on the same caption.
bool unstorable(char c)
{
    return c == '\r' || c == '\n' || c == '\0' || c == '\x1A';
}

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

void parseOutline(std::string_view bytes, Outline &outline)
{
    auto top = std::make_unique<Node>();
    // chain[k] is the ancestor at depth k of the node added last (which is
    // itself the last entry), so a level maps straight onto its parent.
    std::vector<Node *> chain;
    try {
        const size_t n = bytes.size();
        size_t i = 0;
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
            Bytes caption(line.substr(level));

            if (chain.empty()) {
                // Whatever its indent, the first line gives a root.
                chain.push_back(top->appendChild(std::make_unique<Node>(std::move(caption))));
                continue;
            }
            const size_t depth = chain.size() - 1;
            if (level > depth + 1)
                throw ETreeViewError(static_cast<long long>(level), caption);
            chain.resize(level);
            Node *parent = level == 0 ? top.get() : chain.back();
            chain.push_back(parent->appendChild(std::make_unique<Node>(std::move(caption))));
        }
    } catch (...) {
        // The nodes of the lines before the failure stay.
        outline.replaceAll(std::move(top));
        throw;
    }
    outline.replaceAll(std::move(top));
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

void readOutlineFile(const std::string &path, Outline &outline)
{
    const Bytes bytes = readWholeFile(path);
    parseOutline(bytes, outline);
}

} // namespace qv
