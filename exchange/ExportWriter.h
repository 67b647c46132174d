// What the export's writers share: the code page's characters as UTF-8,
// the buffered output, a note's lines and the walk over the outline in flat
// order (without recursion).
#pragma once

#include "catalog/Catalog.h"
#include "exchange/Export.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv::exportdetail {

// ---- characters of the code page ----

struct CharTables {
    std::array<std::string, 256> utf8; // each byte as UTF-8
    std::array<bool, 256> control{};   // a C0 or C1 control other than TAB
    // The same UTF-8 in four bytes (zeros after it) and its length.
    std::array<std::array<char, 4>, 256> packed{};
    std::array<unsigned char, 256> packedLength{};
};

inline const CharTables &chars()
{
    static const CharTables tables = [] {
        CharTables t;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            t.utf8[b] = cp1251::toUtf8(std::string_view(&c, 1));
            std::memcpy(t.packed[b].data(), t.utf8[b].data(), std::min<size_t>(t.utf8[b].size(), 4));
            t.packedLength[b] = static_cast<unsigned char>(t.utf8[b].size());
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
    // Windows-1251 bytes as UTF-8 (at most three bytes each).
    void text(std::string_view bytes)
    {
        const CharTables &t = chars();
        const size_t at = buf_.size();
        buf_.resize(at + 3 * bytes.size() + 4); // room for a whole 4-byte copy at the end
        char *o = buf_.data() + at;
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                *o++ = c;
            } else {
                std::memcpy(o, t.packed[b].data(), 4);
                o += t.packedLength[b];
            }
        }
        buf_.resize(static_cast<size_t>(o - buf_.data()));
        if (buf_.size() >= kChunk)
            flush();
    }
    // Windows-1251 bytes through a table of what each becomes; runs of
    // bytes marked plain (ASCII written as it is) are copied at once.
    struct ByteMap {
        // Each byte's output in eight bytes (zeros after it; no output
        // is longer) and its length.
        std::array<std::array<char, 8>, 256> out{};
        std::array<unsigned char, 256> length{};
        size_t longest = 0;
    };
    void mapped(std::string_view bytes, const ByteMap &m)
    {
        const size_t at = buf_.size();
        buf_.resize(at + m.longest * bytes.size() + 8); // room for a whole 8-byte copy at the end
        char *o = buf_.data() + at;
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            std::memcpy(o, m.out[b].data(), 8);
            o += m.length[b];
        }
        buf_.resize(static_cast<size_t>(o - buf_.data()));
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
            const std::string_view to = r ? std::string_view(r) : std::string_view(t.utf8[b]);
            if (to.size() > m.out[b].size())
                throw std::logic_error("export map entry too long");
            std::memcpy(m.out[b].data(), to.data(), to.size());
            m.length[b] = static_cast<unsigned char>(to.size());
            m.longest = std::max(m.longest, to.size());
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
