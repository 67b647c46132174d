// The HTML page: one self-contained file.
#include "exchange/ExportWriter.h"

#include "catalog/Links.h"
#include "exchange/IconData.h"

namespace qv::exportdetail {

namespace {

void htmlText(Out &out, std::string_view bytes)
{
    // A control character is an error in a page; it shows as U+FFFD.
    static const Out::ByteMap map = Out::makeMap([](unsigned char b, bool control) -> const char * {
        switch (b) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&#39;";
        default:
            return control ? "\xEF\xBF\xBD" : nullptr;
        }
    });
    out.mapped(bytes, map);
}

void htmlNoteLine(Out &out, std::string_view line)
{
    size_t at = 0;
    for (const auto &[start, end] : findLinks(line)) {
        htmlText(out, line.substr(at, start - at));
        const std::string_view link = line.substr(start, end - start);
        out.put("<a href=\"");
        if (startsWithNoCase(link, 0, "www."))
            out.put("http://");
        htmlText(out, link);
        out.put("\">");
        htmlText(out, link);
        out.put("</a>");
        at = end;
    }
    htmlText(out, line.substr(at));
}

void base64(Out &out, const unsigned char *data, size_t size)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < size; i += 3) {
        const unsigned v
            = data[i] << 16 | (i + 1 < size ? data[i + 1] << 8 : 0) | (i + 2 < size ? data[i + 2] : 0);
        out.put(kDigits[v >> 18 & 63]);
        out.put(kDigits[v >> 12 & 63]);
        out.put(i + 1 < size ? kDigits[v >> 6 & 63] : '=');
        out.put(i + 2 < size ? kDigits[v & 63] : '=');
    }
}

bool hasIcon(const Node *n) { return n->imageIndex() >= 0 && n->imageIndex() < exchange::kIconCount; }

// UTF-8 text escaped; control characters as U+FFFD.
void htmlUtf8(Out &out, std::string_view s)
{
    for (char c : s) {
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
        case '\'':
            out.put("&#39;");
            break;
        default:
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7f')
                out.put("\xEF\xBF\xBD");
            else
                out.put(c);
        }
    }
}

// The filter: each item shown when its caption or note holds the text, or
// one below it does; the items above a match opened. Printing opens all.
constexpr std::string_view kScript
    = "<script>\n"
      "(function(){var f=document.getElementById('f');"
      "var items=[].slice.call(document.querySelectorAll('#t li'));"
      "function own(li){var t='';for(var i=0;i<li.children.length;i++){var e=li.children[i];"
      "if(e.tagName==='DETAILS'){for(var k=0;k<e.children.length;k++){var d=e.children[k];"
      "if(d.tagName!=='UL')t+=d.textContent+'\\n';}}else{t+=e.textContent+'\\n';}}return t.toLowerCase();}"
      "f.addEventListener('input',function(){var q=f.value.toLowerCase();"
      "items.forEach(function(li){li.k=false;});"
      "for(var i=items.length-1;i>=0;i--){var li=items[i];"
      "var m=!q||li.k||own(li).indexOf(q)>=0;li.hidden=!m;"
      "var d=li.firstElementChild;if(q&&li.k&&d&&d.tagName==='DETAILS')d.open=true;"
      "var p=li.parentElement&&li.parentElement.closest('li');if(p&&m)p.k=true;}});"
      "f.hidden=false;"
      "window.addEventListener('beforeprint',function(){"
      "[].forEach.call(document.querySelectorAll('details'),function(d){d.open=true;});});})();\n"
      "</script>\n";

} // namespace

void exportHtml(const Catalog &catalog, Out &out, std::string_view titleUtf8)
{
    out.put("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>");
    htmlUtf8(out, titleUtf8);
    out.put("</title>\n<style>\n"
            "body{font:14px/1.4 sans-serif;margin:1em auto;padding:0 2em;max-width:50em;color:#222;"
            "background:#fff}\n"
            "h1{font-size:1.5em;margin:.4em 0}\n"
            "#f{width:100%;max-width:30em;margin:0 0 1em;padding:.3em;font:inherit}\n"
            "ul{list-style:none;margin:0;padding-left:1.5em}\n"
            "body>ul{padding-left:0}\n"
            "summary{cursor:pointer}\n"
            ".c{margin-left:1.1em}\n"
            ".i{display:inline-block;width:16px;height:16px;margin-right:4px;"
            "vertical-align:text-bottom;background-repeat:no-repeat}\n"
            ".n{white-space:pre-wrap;overflow-wrap:anywhere;margin:.2em 0 .6em 1.1em;"
            "padding:.2em .6em;border-left:3px solid #c4cede;color:#333}\n"
            "@media print{body{max-width:none;margin:0;font-size:11pt}#f{display:none}"
            "summary{list-style:none}a{color:inherit}li{break-inside:avoid-page}}\n");
    // Each icon the outline uses, once.
    std::array<bool, exchange::kIconCount> used{};
    walk(catalog.outline(), [&](const Node *n, size_t) {
        if (hasIcon(n))
            used[n->imageIndex()] = true;
    });
    for (int i = 0; i < exchange::kIconCount; ++i) {
        if (!used[i])
            continue;
        out.put(".i");
        out.put(decimal(i));
        out.put("{background-image:url(data:image/png;base64,");
        base64(out, exchange::kIcons[i].data, exchange::kIcons[i].size);
        out.put(")}\n");
    }
    out.put("</style>\n</head>\n<body>\n<h1>");
    htmlUtf8(out, titleUtf8);
    out.put("</h1>\n<input id=\"f\" type=\"search\" placeholder=\"Фильтр\" aria-label=\"Фильтр\" hidden>\n"
            "<ul id=\"t\">\n");

    // Open elements are closed by depth differences: a node with children
    // stays open as <li><details><summary>…</summary>…<ul> until the walk
    // comes back above it; a leaf is closed by the next node.
    bool first = true;
    size_t previous = 0;
    auto closeTo = [&](size_t depth) { // close the previous node and its ancestors down to depth
        out.put("</li>\n");
        for (size_t k = previous; k > depth; --k)
            out.put("</ul></details></li>\n");
    };
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        if (!first && depth <= previous)
            closeTo(depth);
        first = false;
        previous = depth;
        const bool parent = n->hasChildren();
        out.put(parent ? "<li><details open><summary>" : "<li><div class=\"c\">");
        if (hasIcon(n)) {
            out.put("<span class=\"i i");
            out.put(decimal(n->imageIndex()));
            out.put("\"></span>");
        }
        htmlText(out, n->caption());
        out.put(parent ? "</summary>" : "</div>");
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        const std::vector<std::string_view> lines = noteLines(note);
        if (!lines.empty()) {
            out.put("<div class=\"n\">");
            for (size_t i = 0; i < lines.size(); ++i) {
                if (i)
                    out.put('\n');
                htmlNoteLine(out, lines[i]);
            }
            out.put("</div>");
        }
        if (parent)
            out.put("<ul>\n");
    });
    if (!first) {
        closeTo(0);
    }
    out.put("</ul>\n");
    out.put(kScript);
    out.put("</body>\n</html>\n");
}

} // namespace qv::exportdetail
