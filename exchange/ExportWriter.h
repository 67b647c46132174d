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
        // ASCII runs as they are, each other byte as its character.
        size_t i = 0;
        while (i < bytes.size()) {
            size_t j = i;
            while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80)
                ++j;
            buf_.append(bytes.data() + i, j - i);
            if (j < bytes.size())
                buf_ += t.utf8[static_cast<unsigned char>(bytes[j++])];
            i = j;
        }
        if (buf_.size() >= kChunk)
            flush();
    }
    // Windows-1251 bytes through a table of what each becomes; runs of
    // bytes marked plain (ASCII written as it is) are copied at once.
    struct ByteMap {
        std::array<std::string, 256> out;
        std::array<bool, 256> plain{};
    };
    void mapped(std::string_view bytes, const ByteMap &m)
    {
        size_t i = 0;
        while (i < bytes.size()) {
            size_t j = i;
            while (j < bytes.size() && m.plain[static_cast<unsigned char>(bytes[j])])
                ++j;
            buf_.append(bytes.data() + i, j - i);
            if (j < bytes.size())
                buf_ += m.out[static_cast<unsigned char>(bytes[j++])];
            i = j;
        }
        if (buf_.size() >= kChunk)
            flush();
    }
    // The map of the code page's characters as UTF-8 with those `special`
    // gives a replacement for (a null one: as UTF-8) replaced.
    template <class Special>
    static ByteMap makeMap(Special special)
    {
        const CharTables &t = chars();
        ByteMap m;
        for (int b = 0; b < 256; ++b) {
            const char *r = special(static_cast<unsigned char>(b), t.control[b]);
            m.out[b] = r ? std::string(r) : t.utf8[b];
            m.plain[b] = !r && b < 0x80;
        }
        return m;
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
