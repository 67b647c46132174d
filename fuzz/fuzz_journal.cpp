// The recovery journal's reader and replay over any bytes. The first byte
// picks what the rest is:
//   0: a whole journal file, header and frames as they come (torn tails,
//      damaged checksums, any declared size);
//   1: batch payloads, each as a 2-byte little-endian length and its bytes
//      (the last one takes what is left), framed here into a sound journal
//      so every change reaches the replay.
// Whatever the bytes, the replay applies changes or stops with
// EJournalMismatch on a catalogue that stays whole, and what it applied,
// written to a fresh journal, replays to the same catalogue.
#include "FuzzSupport.h"

#include "storage/Journal.h"
#include "storage/JournalFormat.h"
#include "storage/Os.h"
#include "storage/OutlineFile.h"

using namespace qv;
using qvfuzz::require;

namespace {

// The catalogue the changes are replayed on: nodes on three levels and
// records, one section carried twice.
void seed(Catalog &c)
{
    Outline &o = c.outline();
    Node *a = o.append(o.top(), "a");
    Node *b = o.append(o.top(), "b");
    Node *a1 = o.append(a, "a1");
    o.append(a1, "a11");
    o.append(a, "a2");
    o.append(b, "b1");
    c.records().append("a", "note a", "1");
    c.records().append("a1", "note a1", "2");
    c.records().append("a", "second a", "3");
    c.records().append("b1", "", "");
}

// What the catalogue holds, as bytes to compare.
std::string dump(const Catalog &c)
{
    std::string out = outlineBytes(c.outline());
    out += '|';
    for (size_t i = 0; i < c.records().size(); ++i) {
        const RecordView r = c.records().at(i);
        for (const std::string_view field : {r.section, r.text, r.icons}) {
            out += std::to_string(field.size()) + ':';
            out += field;
        }
    }
    return out;
}

// A journal of these payloads against a base with both files there.
std::string frame(std::string_view rest, const JournalBase &base)
{
    std::string out = journal::header(base);
    int64_t time = 1;
    while (!rest.empty()) {
        size_t n = rest.size() < 2 ? 0 : uint8_t(rest[0]) | size_t(uint8_t(rest[1])) << 8;
        rest.remove_prefix(std::min<size_t>(2, rest.size()));
        n = std::min(n, rest.size());
        journal::putBatch(out, time++, rest.substr(0, n));
        rest.remove_prefix(n);
    }
    return out;
}

// Replays the journal in `dir` on a fresh catalogue: true when it all fit.
bool replay(const std::string &dir, Catalog &c)
{
    seed(c);
    Journal j(dir);
    try {
        j.replay(c);
    } catch (const EJournalMismatch &) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || data[0] > 1)
        return 0;
    const std::string dir = qvfuzz::scratchSubdir("journal");
    qvfuzz::emptyDir(dir);
    JournalBase base;
    base.data.exists = base.text.exists = true;
    const std::string_view rest = qvfuzz::view(data + 1, size - 1);
    qvfuzz::writeBytes(dir + journal::fileName(os::machineName()),
                       data[0] == 0 ? std::string(rest) : frame(rest, base));

    (void)Journal(dir).pending(base);

    Catalog first;
    replay(dir, first);
    size_t nodes = 0;
    for (const Node *n = first.outline().first(); n; n = flatNext(n))
        ++nodes;
    require(nodes == first.outline().nodeCount(), "the outline stays whole");
    const std::string applied = dump(first);

    // What applied is rewritten whole and gives the same catalogue again.
    {
        Journal j(dir);
        Catalog c;
        seed(c);
        try {
            j.replay(c);
        } catch (const EJournalMismatch &) {}
        require(dump(c) == applied, "a replay is the same every time");
        if (!j.dirty())
            return 0;
        j.attach(c, base);
        j.flush();
        j.detach();
    }
    Catalog second;
    require(replay(dir, second), "a rewritten journal fits wholly");
    require(dump(second) == applied, "a rewritten journal gives the same catalogue");
    return 0;
}
