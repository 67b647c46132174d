// The highlighter that draws a note's web addresses as links (found by
// catalog/Links.h) and keeps each block's link ranges beside it.
#pragma once

#include <QSyntaxHighlighter>

#include <utility>
#include <vector>

namespace qv::links {

// A link inside one line: [start, end) in UTF-16 units.
using Span = std::pair<int, int>;

// The link ranges of one block, kept as the block's user data.
class BlockLinks : public QTextBlockUserData {
public:
    std::vector<Span> spans;
};

// Underlines and colors links, recomputed for every block the document
// reports as changed (typing, paste, undo, load).
class Highlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit Highlighter(QTextDocument *document);
    void setLinkColor(const QColor &color);
    QColor linkColor() const { return format_.foreground().color(); }

protected:
    void highlightBlock(const QString &text) override;

private:
    QTextCharFormat format_;
};

// The spans of a block (empty when it holds no link).
const std::vector<Span> &spansOf(const QTextBlock &block);

} // namespace qv::links
