// The import's text, Markdown and CherryTree XML readers and the add to a
// catalogue. The first byte picks the format, the rest is the source.
// Whatever it holds, the reader either refuses it with its own error or
// gives a tree that passes checkImported.
#include "ImportChecks.h"

using namespace qv::exchange;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view source = qvfuzz::view(data + 1, size - 1);
    ImportedTree tree;
    try {
        switch (data[0] % 3) {
        case 0:
            tree = parseText(source);
            break;
        case 1:
            tree = parseMarkdown(source);
            break;
        default:
            tree = parseCherryTree(source);
            break;
        }
    } catch (const EImportError &) {
        return 0;
    }
    qvfuzz::checkImported(tree);
    return 0;
}
