#include "gui/editor/LinkDetector.h"

#include <QRegularExpression>
#include <QTextBlock>

namespace qv::links {

namespace {

// A link starts with a known scheme or "www." at a word start.
const QRegularExpression &startPattern()
{
    static const QRegularExpression re(
        QStringLiteral("(?<![\\w@.\\-/])(?:(?:https?|ftp|gopher|telnet|wais|prospero|nntp)://|"
                       "(?:file|mailto|news):|www\\.)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

bool stopsLink(QChar c)
{
    if (c.isSpace() || c.category() == QChar::Other_Control)
        return true;
    switch (c.unicode()) {
    case '<':
    case '>':
    case '"':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '`':
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool trailingPunctuation(QChar c)
{
    switch (c.unicode()) {
    case '.':
    case ',':
    case ';':
    case ':':
    case '!':
    case '?':
    case '\'':
    case '*':
        return true;
    default:
        return false;
    }
}

// Closing brackets end a link unless the link opened them itself.
bool unbalancedClose(QStringView link, QChar close)
{
    QChar open = close == u')' ? u'(' : close == u']' ? u'[' : QChar();
    if (open.isNull())
        return false;
    return link.count(open) < link.count(close);
}

} // namespace

std::vector<Span> find(QStringView line)
{
    std::vector<Span> out;
    const QRegularExpression &re = startPattern();
    qsizetype from = 0;
    while (from < line.size()) {
        const QRegularExpressionMatch m = re.match(line, from);
        if (!m.hasMatch())
            break;
        const qsizetype start = m.capturedStart();
        const qsizetype prefixEnd = m.capturedEnd();
        qsizetype end = prefixEnd;
        while (end < line.size() && !stopsLink(line[end]))
            ++end;
        // Give back punctuation that closes the sentence rather than the address.
        while (end > prefixEnd) {
            const QChar last = line[end - 1];
            if (trailingPunctuation(last)
                || ((last == u')' || last == u']') && unbalancedClose(line.mid(start, end - start), last)))
                --end;
            else
                break;
        }
        if (end > prefixEnd) {
            out.emplace_back(int(start), int(end));
            from = end;
        } else {
            from = prefixEnd;
        }
    }
    return out;
}

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
