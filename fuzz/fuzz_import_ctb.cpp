// CherryTree's SQLite reader, on a file holding the input (SQLite reads only
// files). Whatever the file holds, the reader either refuses it with its own
// error or gives a tree that passes checkImported, and leaves the file as it
// was.
#include "ImportChecks.h"

#include <fstream>
#include <iterator>

using namespace qv;
using namespace qv::exchange;
using qvfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = qvfuzz::scratchDir() + "notes.ctb";
    const std::string_view source = qvfuzz::view(data, size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(source.data(), static_cast<std::streamsize>(source.size()));
    }
    try {
        qvfuzz::checkImported(parseCherryTreeDb(path));
    } catch (const EImportError &) {}
    std::ifstream in(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    require(after == source, "the file is left as it was");
    return 0;
}
