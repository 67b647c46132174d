#include "exchange/Export.h"

#include "exchange/ExportWriter.h"

#include <ostream>

namespace qv {

using namespace exportdetail;

namespace {

// ---- text ----

void exportText(const Catalog &catalog, Out &out)
{
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        out.repeat('\t', depth);
        out.text(n->caption());
        out.put('\n');
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        for (std::string_view line : noteLines(note)) {
            out.repeat('\t', depth + 1);
            out.put(' ');
            out.text(line);
            out.put('\n');
        }
    });
}

} // namespace

bool parseExportFormat(std::string_view name, ExportFormat &format)
{
    if (name == "html")
        format = ExportFormat::Html;
    else if (name == "markdown")
        format = ExportFormat::Markdown;
    else if (name == "text")
        format = ExportFormat::Text;
    else if (name == "opml")
        format = ExportFormat::Opml;
    else
        return false;
    return true;
}

void exportCatalog(const Catalog &catalog, ExportFormat format, const ExportSink &sink,
                   const ExportOptions &options)
{
    Out out(sink);
    switch (format) {
    case ExportFormat::Html:
        exportHtml(catalog, out, options.title);
        break;
    case ExportFormat::Markdown:
        exportMarkdown(catalog, out);
        break;
    case ExportFormat::Text:
        exportText(catalog, out);
        break;
    case ExportFormat::Opml:
        exportOpml(catalog, out, options.title);
        break;
    }
    out.finish();
}

void exportCatalog(const Catalog &catalog, ExportFormat format, std::ostream &out,
                   const ExportOptions &options)
{
    exportCatalog(
        catalog, format,
        [&out](std::string_view piece) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        },
        options);
}

} // namespace qv
