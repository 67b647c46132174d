// A Zim page's wiki text as plain text, over any bytes: it ends, never
// grows a line beyond the markers it adds, and gives no more lines than it
// was given.
#include "FuzzSupport.h"
#include "exchange/ImportZim.h"

#include <algorithm>
#include <string>

using qvfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view wiki = qvfuzz::view(data, size);
    size_t images = 0;
    const std::string plain = qv::exchange::zimPageToPlain(wiki, "Page", images);
    require(std::count(plain.begin(), plain.end(), '\n') <= std::count(wiki.begin(), wiki.end(), '\n'),
            "no line added");
    // Each image marker adds its words; everything else only takes away
    // (a bullet's four bytes replace two).
    require(plain.size() <= 2 * wiki.size() + images * 32, "bounded growth");
    return 0;
}
