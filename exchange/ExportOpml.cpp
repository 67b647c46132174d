// OPML: one outline element per node, its caption in text and its note in
// _note, as outliners write them.
#include "exchange/ExportWriter.h"

namespace qv::exportdetail {

namespace {

// An attribute value: markup characters as entities, line breaks and TABs
// as character references (a reader keeps those), characters XML cannot
// hold as U+FFFD.
const char *special(unsigned char b)
{
    switch (b) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    default:
        return b < 0x20 ? "\xEF\xBF\xBD" : nullptr;
    }
}

void attribute(Out &out, std::string_view bytes)
{
    static const Out::ByteMap map = Out::makeMap([](unsigned char b, bool) { return special(b); });
    out.mapped(bytes, map);
}

// UTF-8 text (the title) the same way.
void attributeUtf8(Out &out, std::string_view utf8)
{
    for (char c : utf8) {
        const char *r = special(static_cast<unsigned char>(c));
        out.put(r ? std::string_view(r) : std::string_view(&c, 1));
    }
}

} // namespace

void exportOpml(const Catalog &catalog, Out &out, std::string_view titleUtf8)
{
    out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n<head>\n<title>");
    attributeUtf8(out, titleUtf8);
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
