// A Zim page's wiki text (the notebook's folders are walked by plain code;
// the page text is what a notebook brings): whatever it holds, it becomes a
// note that passes checkImported.
#include "ImportChecks.h"

#include "exchange/ZimText.h"

using namespace qv::exchange;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view page = qvfuzz::view(data, size);
    ImportedTree tree;
    tree.sourceBytes = page.size();
    tree.nodes.push_back({0, "page", zim::pageText(page, "page", tree.counts), 0});
    qvfuzz::checkImported(tree);
    return 0;
}
