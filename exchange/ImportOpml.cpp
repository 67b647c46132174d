// OPML, the outliners' interchange format: the outline elements in the body
// give the tree, each by its text attribute, its note in _note.
#include "exchange/Import.h"
#include "exchange/XmlReader.h"

#include <cstring>

namespace qv::exchange {

namespace {

class OpmlReader : public XmlReader {
public:
    ImportedTree tree;
    bool rootSeen = false;

    void start(const char *name, const char **atts) override
    {
        if (!rootSeen) {
            rootSeen = true;
            if (std::strcmp(name, "opml") != 0)
                fail("это не документ OPML (корневой элемент не opml)");
            return;
        }
        if (std::strcmp(name, "body") == 0 && !inBody_) {
            inBody_ = true;
            return;
        }
        if (!inBody_ || std::strcmp(name, "outline") != 0) {
            ++other_;
            return;
        }
        if (other_)
            return;
        const char *text = attribute(atts, "text");
        const char *note = attribute(atts, "_note");
        tree.nodes.push_back({depth_, text ? text : "", note ? note : "", 0});
        ++depth_;
    }

    void end(const char *name) override
    {
        if (other_) {
            --other_;
            return;
        }
        if (std::strcmp(name, "outline") == 0 && depth_)
            --depth_;
        else if (std::strcmp(name, "body") == 0)
            inBody_ = false;
    }

    void text(std::string_view) override {}

private:
    bool inBody_ = false;
    size_t depth_ = 0; // open outline elements
    size_t other_ = 0; // open elements of other kinds (what they hold is not the outline)
};

} // namespace

ImportedTree parseOpml(std::string_view xml)
{
    OpmlReader reader;
    reader.tree.sourceBytes = reader.parse(xml);
    for (ImportedNode &n : reader.tree.nodes) {
        // Line ends as the other readers give them.
        std::string note;
        note.reserve(n.note.size());
        for (size_t i = 0; i < n.note.size(); ++i)
            if (!(n.note[i] == '\r' && i + 1 < n.note.size() && n.note[i + 1] == '\n'))
                note += n.note[i] == '\r' ? '\n' : n.note[i];
        n.note = std::move(note);
    }
    return std::move(reader.tree);
}

} // namespace qv::exchange
