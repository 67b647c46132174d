// The outline reader over any bytes: it either builds an outline or raises
// the level error keeping the nodes before it; whatever it built saves to
// bytes that read back to the same outline.
#include "FuzzSupport.h"

#include "catalog/Errors.h"
#include "storage/OutlineFile.h"

using namespace qv;
using qvfuzz::require;

namespace {

// Walks the outline checking what every reader of it relies on.
void checkShape(const Outline &outline)
{
    size_t count = 0;
    for (const Node *n = outline.first(); n; n = flatNext(n)) {
        ++count;
        require(n->parent() && n->parent()->child(n->row()) == n, "row matches the parent's child");
        require(outline.captionCount(n->caption()) >= 1, "caption index counts every caption");
        require(n->caption().find_first_of("\r\n", 0) == Bytes::npos
                    && n->caption().find('\0') == Bytes::npos,
                "caption holds no line end");
        require(n->caption().empty() || (n->caption()[0] != '\t' && n->caption()[0] != ' '),
                "caption starts with no indent");
    }
    require(count == outline.nodeCount(), "node count matches the walk");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Outline outline;
    try {
        parseOutline(qvfuzz::view(data, size), outline);
    } catch (const EOutlineLevelError &) {
        // The nodes of the earlier lines stay; they are checked like the rest.
    }
    checkShape(outline);

    const Bytes saved = outlineBytes(outline);
    Outline again;
    try {
        parseOutline(saved, again);
    } catch (const Error &) {
        require(false, "a saved outline reads back");
    }
    checkShape(again);
    require(again.nodeCount() == outline.nodeCount(), "read back: same node count");
    require(outlineBytes(again) == saved, "read back: same outline");

    // Node by node: same depth, and the caption unless the file had to mask it.
    for (const Node *a = outline.first(), *b = again.first(); a; a = flatNext(a), b = flatNext(b)) {
        require(b && a->depth() == b->depth(), "read back: same depths");
        if (a->caption().find('\x1A') == Bytes::npos)
            require(a->caption() == b->caption(), "read back: same captions");
    }
    return 0;
}
