#include "gui/editor/LinkDetector.h"

#include "catalog/Links.h"

#include <QTextBlock>

namespace qv::links {

namespace {

bool isWordOutsideCodePage(char32_t c) { return QChar::isLetterOrNumber(c); }

// The links of one block, in UTF-16 units.
std::vector<Span> find(const QString &text)
{
    const std::vector<LinkSpan> found = findLinks(
        std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size())),
        isWordOutsideCodePage);
    std::vector<Span> spans;
    spans.reserve(found.size());
    for (const auto &[start, end] : found)
        spans.emplace_back(int(start), int(end));
    return spans;
}

} // namespace

Highlighter::Highlighter(QTextDocument *document) : QSyntaxHighlighter(document)
{
    format_.setFontUnderline(true);
    format_.setForeground(QColor(0, 0, 255));
}

void Highlighter::setLinkColor(const QColor &color)
{
    format_.setForeground(color);
    rehighlight();
}

void Highlighter::highlightBlock(const QString &text)
{
    std::vector<Span> spans = find(text);
    for (const Span &s : spans)
        setFormat(s.first, s.second - s.first, format_);
    auto *data = static_cast<BlockLinks *>(currentBlockUserData());
    if (spans.empty()) {
        if (data)
            data->spans.clear();
        return;
    }
    if (!data) {
        data = new BlockLinks;
        setCurrentBlockUserData(data);
    }
    data->spans = std::move(spans);
}

const std::vector<Span> &spansOf(const QTextBlock &block)
{
    static const std::vector<Span> none;
    const auto *data = static_cast<const BlockLinks *>(block.userData());
    return data ? data->spans : none;
}

} // namespace qv::links
