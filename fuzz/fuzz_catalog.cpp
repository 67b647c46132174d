// The whole catalogue: load → save → load → save. The input is data.dat's
// bytes, then (when present) a line "@text.dat@" and text.dat's bytes:
//     Links\r\n\tNews\r\n@text.dat@\n2\r\nLinks\r\n\r\n1\r\nNews\r\n...
// Whatever the files hold and however the first load ends, the first save
// succeeds, its files read back (at worst with the icon join refused, as the
// first load was) to the same catalogue, and the second save writes the
// very same bytes.
#include "FuzzSupport.h"

#include "catalog/Errors.h"
#include "storage/CatalogFiles.h"

using namespace qv;
using qvfuzz::require;

namespace {

const std::string_view kMarker = "@text.dat@\n";

// Refused: a number that is none (the record count, or an icons field at the join).
enum class Load { Whole, Refused, Failed };

Load load(const std::string &dir, Catalog &catalog)
{
    try {
        CatalogFiles(dir).load(catalog);
        return Load::Whole;
    } catch (const EConvertError &) {
        return Load::Refused;
    } catch (const Error &) {
        return Load::Failed;
    }
}

void save(const std::string &dir, Catalog &catalog)
{
    try {
        CatalogFiles(dir).save(catalog);
    } catch (const Error &) {
        require(false, "a save into a writable folder succeeds");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input = qvfuzz::view(data, size);
    const size_t split = input.find(kMarker);

    const std::string in = qvfuzz::scratchSubdir("in"), one = qvfuzz::scratchSubdir("one"),
                      two = qvfuzz::scratchSubdir("two");
    for (const std::string &dir : {in, one, two})
        qvfuzz::emptyDir(dir);
    qvfuzz::writeBytes(in + "data.dat", input.substr(0, split));
    if (split != std::string_view::npos)
        qvfuzz::writeBytes(in + "text.dat", input.substr(split + kMarker.size()));

    Catalog first;
    const Load firstLoad = load(in, first);
    save(one, first);

    Catalog second;
    const Load secondLoad = load(one, second);
    require(secondLoad != Load::Failed, "saved files read back");
    require(second.outline().nodeCount() == first.outline().nodeCount(), "read back: same node count");
    require(second.records().size() == first.records().size(), "read back: same record count");
    // A caption with 0x1A is saved with '?' in its place, and may then join
    // another record; every other caption comes back as it was.
    bool masked = false;
    for (const Node *a = first.outline().first(), *b = second.outline().first(); a;
         a = flatNext(a), b = flatNext(b)) {
        require(b && a->depth() == b->depth(), "read back: same depths");
        if (a->caption().find('\x1A') == Bytes::npos)
            require(a->caption() == b->caption(), "read back: same captions");
        else
            masked = true;
    }
    require(secondLoad == Load::Whole || firstLoad != Load::Whole || masked,
            "files saved from a whole load read back whole");

    save(two, second);
    require(qvfuzz::readBytes(one + "data.dat") == qvfuzz::readBytes(two + "data.dat"),
            "second save: same data.dat");
    require(qvfuzz::readBytes(one + "text.dat") == qvfuzz::readBytes(two + "text.dat"),
            "second save: same text.dat");
    return 0;
}
