// What every import reader's fuzz target checks of the tree it gave: depths
// that step down by at most one, and, added to a catalogue holding one node,
// every node added with a storable caption carried by one node only.
#pragma once

#include "FuzzSupport.h"

#include "exchange/Import.h"

#include <unordered_set>

namespace qvfuzz {

inline void checkImported(const qv::exchange::ImportedTree &tree)
{
    using namespace qv;
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        require(tree.nodes[i].depth <= (i ? tree.nodes[i - 1].depth + 1 : 0), "depths step by one");

    Catalog catalog;
    catalog.outline().append(catalog.outline().top(), W("Без имени"));
    exchange::ImportSummary s;
    try {
        s = exchange::addToCatalog(tree, catalog);
    } catch (const exchange::EImportError &) {
        require(catalog.outline().nodeCount() == 1, "a refused import adds nothing");
        return;
    }
    require(s.nodes == tree.nodes.size(), "every node added");
    require(catalog.outline().nodeCount() == tree.nodes.size() + 1, "node count");
    std::unordered_set<Bytes> seen;
    for (const Node *n = catalog.outline().first(); n; n = flatNext(n)) {
        require(Catalog::captionStorable(n->caption()) && !n->caption().empty(), "storable caption");
        require(seen.insert(n->caption()).second, "unique caption");
        require(catalog.records().count(n->caption()) <= 1, "one record per caption");
    }
}

} // namespace qvfuzz
