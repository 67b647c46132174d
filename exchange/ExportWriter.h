// What the export's writers share: the code page's characters as UTF-8,
// the buffered output, a note's lines and the walk over the outline in flat
// order (without recursion).
#pragma once

#include "catalog/Catalog.h"
#include "exchange/Export.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qv::exportdetail {

// ---- characters of the code page ----

struct CharTables {
    std::array<std::string, 256> utf8; // each byte as UTF-8
    std::array<bool, 256> control{};   // a C0 or C1 control other than TAB
};

inline const CharTables &chars()
{
    static const CharTables tables = [] {
        CharTables t;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            t.utf8[b] = cp1251::toUtf8(std::string_view(&c, 1));
            const char16_t u = cp1251::toUtf16(std::string_view(&c, 1)).front();
            t.control[b] = (u < 0x20 && u != u'\t') || (u >= 0x7F && u < 0xA0);
        }
        return t;
    }();
    return tables;
}

inline bool startsWithNoCase(std::string_view text, size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// ---- output ----

class Out {
public:
    explicit Out(const ExportSink &sink) : sink_(sink) { buf_.reserve(kChunk + 4096); }
    void put(std::string_view s)
    {
        buf_ += s;
        if (buf_.size() >= kChunk)
            flush();
    }
    void put(char c) { buf_ += c; }
    void repeat(char c, size_t n)
    {
        while (n) {
            const size_t k = std::min(n, kChunk);
            buf_.append(k, c);
            n -= k;
            if (buf_.size() >= kChunk)
                flush();
        }
    }
    // Windows-1251 bytes as UTF-8.
    void text(std::string_view bytes)
    {
        const CharTables &t = chars();
        for (char c : bytes)
            buf_ += t.utf8[static_cast<unsigned char>(c)];
        if (buf_.size() >= kChunk)
            flush();
    }
    void finish() { flush(); }

private:
    static constexpr size_t kChunk = 64 * 1024;
    void flush()
    {
        if (!buf_.empty())
            sink_(buf_);
        buf_.clear();
    }
    const ExportSink &sink_;
    std::string buf_;
};

// The lines of a node's note (the first record carrying its caption); none
// for an empty note or a node without a record.
inline std::vector<std::string_view> noteLines(const Bytes &note)
{
    std::vector<std::string_view> lines;
    if (note.empty())
        return lines;
    std::string_view rest(note);
    for (;;) {
        const size_t at = rest.find("\r\n");
        lines.push_back(rest.substr(0, at));
        if (at == std::string_view::npos)
            break;
        rest.remove_prefix(at + 2);
    }
    return lines;
}

// Calls visit(node, depth) for every node in flat order, without recursion.
template <class Visit>
void walk(const Outline &outline, Visit visit)
{
    size_t depth = 0;
    const Node *n = outline.first();
    while (n) {
        visit(n, depth);
        if (n->hasChildren()) {
            n = n->firstChild();
            ++depth;
            continue;
        }
        const Node *m = n;
        n = nullptr;
        for (;;) {
            if (const Node *s = m->nextSibling()) {
                n = s;
                break;
            }
            m = m->parent();
            if (!m || m->isTop())
                break;
            --depth;
        }
    }
}

void exportHtml(const Catalog &catalog, Out &out, std::string_view titleUtf8);
void exportMarkdown(const Catalog &catalog, Out &out);
void exportOpml(const Catalog &catalog, Out &out, std::string_view titleUtf8);

} // namespace qv::exportdetail
