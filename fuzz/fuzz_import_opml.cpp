// The OPML reader: the source is refused with its own error or gives a tree
// that passes checkImported.
#include "ImportChecks.h"

using namespace qv::exchange;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImportedTree tree;
    try {
        tree = parseOpml(qvfuzz::view(data, size));
    } catch (const EImportError &) {
        return 0;
    }
    qvfuzz::checkImported(tree);
    return 0;
}
