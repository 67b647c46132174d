#include "catalog/Search.h"

#include "catalog/Catalog.h"

namespace qv {

Bytes foldForSearch(std::string_view text)
{
    Bytes out(text);
    for (char &c : out) {
        if (c == '\xA8' || c == '\xB8') // Ё ё
            c = '\xE5';                 // е
        else
            c = cp1251::toLower(c);
    }
    return out;
}

void SearchIndex::build(const Catalog &catalog)
{
    entries_.clear();
    positions_.clear();
    const Outline &outline = catalog.outline();
    entries_.reserve(outline.nodeCount());
    positions_.reserve(outline.nodeCount());
    for (const Node *n = outline.first(); n; n = flatNext(n)) {
        Entry e{n, foldForSearch(n->caption()), {}};
        if (const NoteRecord *r = catalog.records().find(n->caption()))
            e.note = foldForSearch(replaceAll(r->text, kRecordLineBreak, "\n"));
        positions_.emplace(n, entries_.size());
        entries_.push_back(std::move(e));
    }
}

bool SearchIndex::matches(const Entry &e, std::string_view folded) const
{
    return e.caption.find(folded) != Bytes::npos || e.note.find(folded) != Bytes::npos;
}

std::vector<SearchHit> SearchIndex::find(std::string_view query) const
{
    std::vector<SearchHit> hits;
    if (query.empty())
        return hits;
    const Bytes folded = foldForSearch(query);
    for (const Entry &e : entries_) {
        SearchHit hit{e.node, e.caption.find(folded) != Bytes::npos, {}};
        uint32_t line = 1;
        size_t start = 0;
        while (start <= e.note.size()) {
            size_t end = e.note.find('\n', start);
            if (end == Bytes::npos)
                end = e.note.size();
            if (std::string_view(e.note).substr(start, end - start).find(folded) != std::string_view::npos)
                hit.noteLines.push_back(line);
            ++line;
            start = end + 1;
        }
        if (hit.inCaption || !hit.noteLines.empty())
            hits.push_back(std::move(hit));
    }
    return hits;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query) const
{
    std::vector<const Node *> nodes;
    if (query.empty())
        return nodes;
    const Bytes folded = foldForSearch(query);
    for (const Entry &e : entries_)
        if (matches(e, folded))
            nodes.push_back(e.node);
    return nodes;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query,
                                                 const std::vector<const Node *> &among) const
{
    std::vector<const Node *> nodes;
    if (query.empty())
        return nodes;
    const Bytes folded = foldForSearch(query);
    for (const Node *n : among) {
        auto it = positions_.find(n);
        if (it != positions_.end() && matches(entries_[it->second], folded))
            nodes.push_back(n);
    }
    return nodes;
}

} // namespace qv
