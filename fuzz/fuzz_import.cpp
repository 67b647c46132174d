// The import's text readers and the add to a catalogue. The first byte
// picks the format (text, Markdown, CherryTree's XML, OPML, a Zim page), the
// rest is the source.
// Whatever it holds, the reader either refuses it with its own error or
// gives a tree whose depths step down by at most one; added to a catalogue
// holding one node, every caption comes out storable and carried by one
// node only.
#include "FuzzSupport.h"

#include "exchange/Import.h"
#include "exchange/ZimText.h"

#include <unordered_set>

using namespace qv;
using namespace qv::exchange;
using qvfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view source = qvfuzz::view(data + 1, size - 1);
    ImportedTree tree;
    try {
        switch (data[0] % 5) {
        case 0:
            tree = parseText(source);
            break;
        case 1:
            tree = parseMarkdown(source);
            break;
        case 2:
            tree = parseCherryTree(source);
            break;
        case 3:
            tree = parseOpml(source);
            break;
        default:
            tree.nodes.push_back({0, "page", zim::pageText(source, "page", tree.counts), 0});
            tree.sourceBytes = source.size();
            break;
        }
    } catch (const EImportError &) {
        return 0;
    }
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        require(tree.nodes[i].depth <= (i ? tree.nodes[i - 1].depth + 1 : 0), "depths step by one");

    Catalog catalog;
    catalog.outline().append(catalog.outline().top(), W("Без имени"));
    const ImportSummary s = addToCatalog(tree, catalog);
    require(s.nodes == tree.nodes.size(), "every node added");
    require(catalog.outline().nodeCount() == tree.nodes.size() + 1, "node count");
    std::unordered_set<Bytes> seen;
    for (const Node *n = catalog.outline().first(); n; n = flatNext(n)) {
        require(Catalog::captionStorable(n->caption()) && !n->caption().empty(), "storable caption");
        require(seen.insert(n->caption()).second, "unique caption");
        require(catalog.records().count(n->caption()) <= 1, "one record per caption");
    }
    return 0;
}
