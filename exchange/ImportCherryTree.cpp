// CherryTree's XML document (.ctd): node elements give the tree; a node's
// rich_text runs, and its tables, code boxes and images (which the document
// keeps after the text, each with its offset), give its note.
#include "exchange/CherryTreeNote.h"
#include "exchange/XmlReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qv::exchange {

namespace {

using namespace cherrytree;

long long offsetOf(const char **atts)
{
    const char *v = XmlReader::attribute(atts, "char_offset");
    return v ? std::strtoll(v, nullptr, 10) : -1;
}

class DocumentReader : public XmlReader {
public:
    ImportedTree tree;
    std::vector<std::pair<std::string, size_t>> ids;
    bool rootSeen = false;

    void start(const char *name, const char **atts) override
    {
        if (!rootSeen) {
            rootSeen = true;
            if (std::strcmp(name, "cherrytree") != 0)
                fail("это не документ CherryTree (корневой элемент не cherrytree)");
            return;
        }
        if (skip_) {
            ++skip_;
            return;
        }
        if (std::strcmp(name, "node") == 0) {
            const char *caption = attribute(atts, "name");
            const char *tags = attribute(atts, "tags");
            const char *icon = attribute(atts, "custom_icon_id");
            const char *id = attribute(atts, "unique_id");
            ImportedNode node{open_.size(), caption ? caption : "", {}, 0};
            countIcon(icon ? std::strtoll(icon, nullptr, 10) : 0, node, tree.counts);
            if (id)
                ids.emplace_back(id, tree.nodes.size());
            open_.push_back({tree.nodes.size(), {}, tags ? tags : ""});
            tree.nodes.push_back(std::move(node));
            mode_ = Mode::None;
        } else if (open_.empty()) {
            return;
        } else if (std::strcmp(name, "rich_text") == 0) {
            const char *link = attribute(atts, "link");
            open_.back().note.beginRun(link ? link : "", tree.counts);
            mode_ = Mode::Rich;
        } else if (std::strcmp(name, "codebox") == 0) {
            offset_ = offsetOf(atts);
            code_.clear();
            mode_ = Mode::Code;
        } else if (std::strcmp(name, "table") == 0) {
            offset_ = offsetOf(atts);
            rows_.clear();
            inTable_ = true;
        } else if (std::strcmp(name, "row") == 0 && inTable_) {
            rows_.emplace_back();
        } else if (std::strcmp(name, "cell") == 0 && inTable_) {
            if (rows_.empty())
                rows_.emplace_back();
            rows_.back().emplace_back();
            mode_ = Mode::Cell;
        } else if (std::strcmp(name, "encoded_png") == 0 || std::strcmp(name, "image") == 0) {
            const char *file = attribute(atts, "filename");
            const char *anchor = attribute(atts, "anchor");
            std::string marker;
            if (file && file == kFormulaFile) {
                marker = formulaMarker();
                ++tree.counts.formulas;
            } else if (file) {
                marker = fileMarker(file);
                ++tree.counts.files;
            } else if (anchor) {
                marker = anchorMarker(anchor);
                ++tree.counts.anchors;
            } else {
                marker = imageMarker();
                ++tree.counts.images;
            }
            open_.back().note.object(offsetOf(atts), std::move(marker));
            skip_ = 1;
        }
    }

    void end(const char *name) override
    {
        if (skip_) {
            --skip_;
            return;
        }
        if (std::strcmp(name, "node") == 0) {
            if (open_.empty())
                return;
            Open &o = open_.back();
            tree.nodes[o.index].note = o.note.finish(o.tags, tree.counts);
            open_.pop_back();
            mode_ = Mode::None;
        } else if (open_.empty()) {
            return;
        } else if (std::strcmp(name, "rich_text") == 0 || std::strcmp(name, "cell") == 0) {
            mode_ = Mode::None;
        } else if (std::strcmp(name, "codebox") == 0) {
            while (!code_.empty() && code_.back() == '\n')
                code_.pop_back();
            open_.back().note.object(offset_, std::move(code_));
            code_.clear();
            ++tree.counts.codeBoxes;
            mode_ = Mode::None;
        } else if (std::strcmp(name, "table") == 0 && inTable_) {
            open_.back().note.object(offset_, tableLines(std::move(rows_)));
            rows_.clear();
            ++tree.counts.tables;
            inTable_ = false;
            mode_ = Mode::None;
        }
    }

    void text(std::string_view s) override
    {
        if (skip_ || open_.empty())
            return;
        switch (mode_) {
        case Mode::Rich:
            open_.back().note.append(s);
            break;
        case Mode::Code:
            code_ += s;
            break;
        case Mode::Cell:
            if (!rows_.empty() && !rows_.back().empty())
                rows_.back().back() += s;
            break;
        case Mode::None:
            break;
        }
    }

private:
    enum class Mode { None, Rich, Code, Cell };
    struct Open {
        size_t index; // in tree.nodes
        NoteBuilder note;
        std::string tags;
    };
    std::vector<Open> open_;
    Mode mode_ = Mode::None;
    int skip_ = 0; // inside an image's element
    long long offset_ = -1;
    std::string code_;
    std::vector<std::vector<std::string>> rows_;
    bool inTable_ = false;
};

} // namespace

ImportedTree parseCherryTree(const std::function<size_t(char *, size_t)> &read)
{
    DocumentReader reader;
    reader.tree.sourceBytes = reader.parse(read);
    if (!reader.rootSeen)
        throw EImportError(W("это не документ CherryTree"));
    resolveNodeLinks(reader.tree, reader.ids);
    return std::move(reader.tree);
}

ImportedTree parseCherryTree(std::string_view xml)
{
    size_t at = 0;
    return parseCherryTree([&](char *buf, size_t n) {
        const size_t take = std::min(n, xml.size() - at);
        std::copy_n(xml.data() + at, take, buf);
        at += take;
        return take;
    });
}

} // namespace qv::exchange
