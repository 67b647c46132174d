// OPML: one outline element per node, its caption in text and its note in
// _note, as outliners write them.
#include "exchange/ExportWriter.h"

namespace qv::exportdetail {

namespace {

// An attribute value: markup characters as entities, line breaks and TABs
// as character references (a reader keeps those), characters XML cannot
// hold as U+FFFD.
void attribute(Out &out, std::string_view bytes, bool utf8 = false)
{
    const CharTables &t = chars();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out.put("&amp;");
            break;
        case '<':
            out.put("&lt;");
            break;
        case '>':
            out.put("&gt;");
            break;
        case '"':
            out.put("&quot;");
            break;
        case '\t':
            out.put("&#9;");
            break;
        case '\n':
            out.put("&#10;");
            break;
        default:
            if (utf8)
                out.put(b < 0x20 || b == 0x7F ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1));
            else
                out.put(t.control[b] && b < 0x20 ? std::string_view("\xEF\xBF\xBD")
                                                 : std::string_view(t.utf8[b]));
        }
    }
}

} // namespace

void exportOpml(const Catalog &catalog, Out &out, std::string_view titleUtf8)
{
    out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n<head>\n<title>");
    attribute(out, titleUtf8, true);
    out.put("</title>\n</head>\n<body>\n");
    bool first = true;
    size_t previous = 0;
    bool open = false; // the previous node has children
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        if (!first) {
            if (!open)
                out.put("/>\n");
            for (size_t k = previous; k > depth; --k) {
                out.repeat(' ', k - 1);
                out.put("</outline>\n");
            }
        }
        first = false;
        previous = depth;
        out.repeat(' ', depth);
        out.put("<outline text=\"");
        attribute(out, n->caption());
        out.put('"');
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        if (!note.empty()) {
            out.put(" _note=\"");
            attribute(out, replaceAll(note, "\r\n", "\n"));
            out.put('"');
        }
        open = n->hasChildren();
        if (open)
            out.put(">\n");
    });
    if (!first) {
        if (!open)
            out.put("/>\n");
        for (size_t k = previous; k > 0; --k) {
            out.repeat(' ', k - 1);
            out.put("</outline>\n");
        }
    }
    out.put("</body>\n</opml>\n");
}

} // namespace qv::exportdetail
