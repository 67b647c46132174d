#include "gui/editor/RecordMirror.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/NoteEditor.h"

#include <QTextBlock>
#include <QTextDocument>

namespace qv {

namespace {

// A block break is one character of the document and two bytes of the record.
static_assert(kRecordLineBreak.size() == 2);

// One block's text (or part of it) in record form.
void appendRecordForm(Bytes &out, const QString &blockText) { out += fromQ(NoteEditor::noteLine(blockText)); }

} // namespace

RecordMirror::RecordMirror(QTextDocument *document, QObject *parent) : QObject(parent), document_(document)
{
    connect(document_, &QTextDocument::contentsChange, this, &RecordMirror::contentsChange);
    rebuild();
}

Bytes RecordMirror::convert(const QTextDocument &document)
{
    Bytes out;
    out.reserve(size_t(document.characterCount()) + size_t(document.blockCount()));
    for (QTextBlock b = document.begin(); b.isValid(); b = b.next()) {
        if (b != document.begin())
            out += kRecordLineBreak;
        appendRecordForm(out, b.text());
    }
    return out;
}

void RecordMirror::rebuild()
{
    bytes_ = convert(*document_);
    blocks_ = document_->blockCount();
    ++rebuilds_;
}

Bytes RecordMirror::convertRange(int from, int to) const
{
    Bytes out;
    QTextBlock b = document_->findBlock(from);
    while (b.isValid() && b.position() < to) {
        const int start = std::max(from, b.position());
        const int textEnd = b.position() + b.length() - 1; // before the block's break
        const int end = std::min(to, textEnd);
        if (end > start)
            appendRecordForm(out, b.text().mid(start - b.position(), end - start));
        if (to > textEnd)
            out += kRecordLineBreak;
        b = b.next();
    }
    return out;
}

void RecordMirror::contentsChange(int position, int removed, int added)
{
    // The document's text positions map to record bytes one to one, except
    // that each block break before a position adds one byte ("~~" for one
    // break character). Anything that does not fit that picture (a change
    // reported over the end of the text, characters the code page folds)
    // is handled by converting everything again.
    const int length = document_->characterCount() - 1;
    const int blocks = document_->blockCount();
    if (position < 0 || removed < 0 || added < 0 || position + added > length) {
        rebuild();
        return;
    }
    const int breaksBefore = document_->findBlock(position).blockNumber();
    const int breaksAdded = document_->findBlock(position + added).blockNumber() - breaksBefore;
    const int breaksRemoved = breaksAdded - (blocks - blocks_);
    const size_t offset = size_t(position) + size_t(breaksBefore);
    const size_t removedBytes = size_t(removed) + size_t(std::max(0, breaksRemoved));
    if (breaksRemoved < 0 || offset + removedBytes > bytes_.size()) {
        rebuild();
        return;
    }
    bytes_.replace(offset, removedBytes, convertRange(position, position + added));
    blocks_ = blocks;
    if (bytes_.size() != size_t(length) + size_t(blocks - 1)) {
        rebuild();
        return;
    }
    ++patches_;
}

} // namespace qv
