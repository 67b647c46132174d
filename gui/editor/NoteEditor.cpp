#include "gui/editor/NoteEditor.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/LinkDetector.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QWheelEvent>

#include <cstring>

namespace {

// Text with line breaks turned into the document's block breaks ('\n'):
// CR LF, a lone CR and the paragraph separator always. A lone LF too, unless
// `keepLoneLineFeeds`: a stored note can hold one inside its text line, and
// it then becomes a line separator inside the block so it goes back as a
// lone LF. Pasted text has every break made an ordinary one.
QString withBlockBreaks(const QString &text, bool keepLoneLineFeeds)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < n && text[i + 1] == u'\n')
                ++i;
            out += u'\n';
        } else if (c == u'\n' && keepLoneLineFeeds) {
            out += QChar::LineSeparator;
        } else if (c == QChar::ParagraphSeparator || (c == QChar::LineSeparator && !keepLoneLineFeeds)) {
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

// The line breaks of a note in record form, in order: "~~", CR LF and a
// lone CR (each a block break in the editor). Tildes pair from the left,
// as the record's reader pairs them.
class RecordBreaks {
public:
    explicit RecordBreaks(std::string_view text) : text_(text), tilde_(find('~', 0)), cr_(find('\r', 0)) {}
    // The next break at or after `from`: its start and length (text's end and 0 when none).
    std::pair<size_t, size_t> next(size_t from)
    {
        const size_t n = text_.size();
        for (;;) {
            if (tilde_ < from)
                tilde_ = find('~', from);
            if (cr_ < from)
                cr_ = find('\r', from);
            if (cr_ < tilde_)
                return {cr_, cr_ + 1 < n && text_[cr_ + 1] == '\n' ? 2 : 1};
            if (tilde_ >= n)
                return {n, 0};
            if (tilde_ + 1 < n && text_[tilde_ + 1] == '~')
                return {tilde_, 2};
            from = tilde_ + 1; // a lone tilde is an ordinary character
        }
    }

private:
    size_t find(char c, size_t from) const
    {
        const void *at
            = from < text_.size() ? std::memchr(text_.data() + from, c, text_.size() - from) : nullptr;
        return at ? size_t(static_cast<const char *>(at) - text_.data()) : text_.size();
    }

    std::string_view text_;
    size_t tilde_;
    size_t cr_;
};

// Where each part of a note shown in parts begins: a part ends after the
// last line break in its second half, or else where it is full, never
// inside a line break.
std::vector<size_t> partStartsOf(std::string_view text)
{
    constexpr size_t kPart = qv::NoteEditor::kPageChars;
    std::vector<size_t> starts{0};
    RecordBreaks breaks(text);
    size_t start = 0;
    size_t afterBreak = 0;
    for (size_t from = 0;;) {
        const auto [at, length] = breaks.next(from);
        while (at + length - start > kPart) {
            start = afterBreak > start + kPart / 2 ? afterBreak : std::min(start + kPart, at);
            starts.push_back(start);
        }
        if (length == 0)
            return starts;
        from = afterBreak = at + length;
    }
}

// Where a slice of at most `size` characters from `from` ends: before the
// last block break in its second half, or else where it is full, never
// inside a surrogate pair.
qsizetype sliceEnd(const QString &text, qsizetype from, qsizetype size)
{
    qsizetype end = std::min(text.size(), from + size);
    if (end == text.size())
        return end;
    const qsizetype lineBreak = text.lastIndexOf(u'\n', end - 1);
    if (lineBreak > from + size / 2)
        return lineBreak;
    if (text[end - 1].isHighSurrogate())
        --end;
    return end;
}

} // namespace

namespace qv {

NoteEditor::NoteEditor(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("RxRichEdit1"));
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabChangesFocus(true);
    // The left margin doubles as the strip where a click selects whole lines.
    document()->setDocumentMargin(kLineStripWidth);
    // The context menu follows the button's release, after the link report.
    setContextMenuPolicy(Qt::CustomContextMenu);
    viewport()->setMouseTracking(true);
    fillTimer_ = new QTimer(this);
    fillTimer_->setSingleShot(true);
    fillTimer_->setInterval(0);
    connect(fillTimer_, &QTimer::timeout, this, &NoteEditor::fillSlice);
    highlighter_ = new qv::links::Highlighter(document());
    highlighter_->rehighlight();
    updateSelectionColors();
}

NoteEditor::~NoteEditor() = default;

QString NoteEditor::noteText() const
{
    const_cast<NoteEditor *>(this)->completeText();
    QString out;
    out.reserve(document()->characterCount() + document()->blockCount());
    const QString lineBreak = QString::fromLatin1(kEditorLineBreak);
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        if (b != document()->begin())
            out += lineBreak;
        out += noteLine(b.text());
    }
    return out;
}

QString NoteEditor::noteLine(const QString &blockText)
{
    if (!blockText.contains(QChar::LineSeparator))
        return blockText;
    QString line = blockText;
    line.replace(QChar::LineSeparator, QChar(u'\n'));
    return line;
}

void NoteEditor::setNoteText(const QString &text)
{
    setDocumentText(withBlockBreaks(text, true));
    completeText();
}

QString NoteEditor::documentText(std::string_view recordText)
{
    const QString text = toQ(recordText);
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'~' && i + 1 < n && text[i + 1] == u'~') {
            ++i;
            out += u'\n';
        } else if (c == u'\r') {
            if (i + 1 < n && text[i + 1] == u'\n')
                ++i;
            out += u'\n';
        } else if (c == u'\n') {
            out += QChar::LineSeparator;
        } else if (c == QChar::ParagraphSeparator) {
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

bool NoteEditor::holds(const QString &documentText) const
{
    if (filling())
        return fillText_ == documentText;
    if (document()->characterCount() - 1 != documentText.size())
        return false;
    QString shown = document()->toRawText();
    shown.replace(QChar::ParagraphSeparator, u'\n');
    return shown == documentText;
}

void NoteEditor::setDocumentText(const QString &documentText)
{
    fillTimer_->stop();
    fillText_.clear();
    filledTo_ = 0;
    const qsizetype first = sliceEnd(documentText, 0, kSliceChars);
    // Filling from the first slice on: nothing reads a part as the note.
    if (first < documentText.size()) {
        fillText_ = documentText;
        filledTo_ = first;
        fillTimer_->start();
    }
    setPlainText(first == documentText.size() ? documentText : documentText.left(first));
    QTextCursor c(document());
    c.movePosition(QTextCursor::Start);
    setTextCursor(c);
    pending_ = {};
}

void NoteEditor::appendText(QStringView text)
{
    // Part of showing the note, so no step to undo.
    document()->setUndoRedoEnabled(false);
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.beginEditBlock();
    c.insertText(text.toString());
    c.endEditBlock();
    document()->setUndoRedoEnabled(true);
}

void NoteEditor::fillSlice()
{
    if (!filling())
        return;
    const qsizetype end = sliceEnd(fillText_, filledTo_, 2 * kSliceChars);
    appendText(QStringView(fillText_).mid(filledTo_, end - filledTo_));
    filledTo_ = end;
    if (filledTo_ < fillText_.size()) {
        fillTimer_->start();
        return;
    }
    fillText_.clear();
    filledTo_ = 0;
    emit filled();
}

void NoteEditor::completeText()
{
    if (!filling())
        return;
    fillTimer_->stop();
    appendText(QStringView(fillText_).mid(filledTo_));
    fillText_.clear();
    filledTo_ = 0;
    emit filled();
}

QString NoteEditor::normalised(const QString &text)
{
    QString out = withBlockBreaks(text, true);
    out.replace(u'\n', QString::fromLatin1(kEditorLineBreak));
    return noteLine(out);
}

// ---- a note shown in parts ----

bool NoteEditor::needsParts(std::string_view recordText)
{
    if (recordText.size() > kPagedBytes)
        return true;
    if (recordText.size() <= kPagedLine)
        return false;
    RecordBreaks breaks(recordText);
    for (size_t from = 0;;) {
        const auto [at, length] = breaks.next(from);
        if (at - from > kPagedLine)
            return true;
        if (length == 0)
            return false;
        from = at + length;
    }
}

void NoteEditor::showInParts(std::string_view recordText)
{
    if (inParts() && partsText_ == recordText)
        return;
    fillTimer_->stop();
    fillText_.clear();
    filledTo_ = 0;
    partsText_.assign(recordText);
    partStarts_ = partStartsOf(partsText_);
    setReadOnly(true);
    showPart(0);
}

void NoteEditor::endParts()
{
    if (!inParts())
        return;
    std::string().swap(partsText_);
    partStarts_.clear();
    part_ = 0;
    updateReadOnly();
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    emit partShown(0, 0);
}

void NoteEditor::showPart(int index, bool atEnd)
{
    if (!inParts())
        return;
    part_ = std::clamp(index, 0, partCount() - 1);
    const bool last = part_ + 1 == partCount();
    const size_t from = partStarts_[size_t(part_)];
    const size_t to = last ? partsText_.size() : partStarts_[size_t(part_) + 1];
    QString text
        = withBlockBreaks(toQ(recordToEditor(std::string_view(partsText_).substr(from, to - from))), true);
    // A part that ends at a line break leaves it out: the next part begins
    // on the next line.
    if (!last && text.endsWith(u'\n'))
        text.chop(1);
    // A line that long is broken anywhere: looking for word boundaries in
    // it would cost the toolkit time growing with its square.
    qsizetype longest = 0;
    for (qsizetype at = 0; at <= text.size();) {
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = text.size();
        longest = std::max(longest, end - at);
        at = end + 1;
    }
    setWordWrapMode(longest > kLongWrap ? QTextOption::WrapAnywhere
                                        : QTextOption::WrapAtWordBoundaryOrAnywhere);
    setPlainText(text);
    QTextCursor c(document());
    c.movePosition(atEnd ? QTextCursor::End : QTextCursor::Start);
    setTextCursor(c);
    ensureCursorVisible();
    pending_ = {};
    emit partShown(part_, partCount());
}

bool NoteEditor::turnPart(bool forward)
{
    if (!inParts())
        return false;
    const QScrollBar *bar = verticalScrollBar();
    const bool atEdge = forward ? bar->value() >= bar->maximum() : bar->value() <= bar->minimum();
    const int next = part_ + (forward ? 1 : -1);
    if (!atEdge || next < 0 || next >= partCount())
        return false;
    showPart(next, !forward);
    return true;
}

void NoteEditor::wheelEvent(QWheelEvent *e)
{
    const int dy = e->angleDelta().y();
    if (dy != 0 && turnPart(dy < 0)) {
        e->accept();
        return;
    }
    QPlainTextEdit::wheelEvent(e);
}

NoteEditor::LinkRange NoteEditor::linkAt(int position) const
{
    if (position < 0 || position >= document()->characterCount() - 1)
        return {};
    const QTextBlock b = document()->findBlock(position);
    const int local = position - b.position();
    for (const auto &s : qv::links::spansOf(b)) {
        if (local >= s.first && local < s.second)
            return {b.position() + s.first, b.position() + s.second};
    }
    return {};
}

NoteEditor::LinkRange NoteEditor::linkAtPoint(const QPoint &viewportPos) const
{
    // The character under the pointer is on one side of the nearest caret place.
    const int k = cursorForPosition(viewportPos).position();
    for (int cand : {k - 1, k}) {
        const LinkRange r = linkAt(cand);
        if (r.start < 0)
            continue;
        QTextCursor c(document());
        c.setPosition(cand);
        const QRect left = cursorRect(c);
        const QChar ch = document()->characterAt(cand);
        const int right = left.left() + std::max(1, fontMetrics().horizontalAdvance(ch));
        if (viewportPos.x() >= left.left() && viewportPos.x() < right && viewportPos.y() >= left.top()
            && viewportPos.y() <= left.bottom())
            return r;
    }
    return {};
}

std::vector<NoteEditor::LinkRange> NoteEditor::links() const
{
    const_cast<NoteEditor *>(this)->completeText();
    std::vector<LinkRange> out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        for (const auto &s : qv::links::spansOf(b))
            out.push_back({b.position() + s.first, b.position() + s.second});
    }
    return out;
}

QString NoteEditor::textOfRange(int start, int end) const
{
    const int last = document()->characterCount() - 1;
    start = std::clamp(start, 0, last);
    end = std::clamp(end, start, last);
    QString out;
    out.reserve(end - start);
    for (int i = start; i < end; ++i) {
        const QChar c = document()->characterAt(i);
        out += c == QChar::ParagraphSeparator ? QChar(u'\n') : c;
    }
    return out;
}

QMimeData *NoteEditor::createMimeDataFromSelection() const
{
    // Plain text only, each character as the note holds it: no-break spaces
    // stay (the toolkit's own copy would make them blanks), and no formatted
    // copy carries the editor's font and colors along.
    QString text = textCursor().selectedText();
    for (QChar &c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    }
    auto *mimeData = new QMimeData;
    mimeData->setText(text);
    return mimeData;
}

bool NoteEditor::canInsertFromMimeData(const QMimeData *source) const { return source && source->hasText(); }

void NoteEditor::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText())
        return;
    QString text = withBlockBreaks(source->text(), false);
    const int room = roomLeft();
    if (text.size() > room) {
        qsizetype keep = room;
        if (keep > 0 && text[keep - 1].isHighSurrogate())
            --keep; // never half a character
        text.truncate(keep);
    }
    if (text.isEmpty() && !textCursor().hasSelection())
        return;
    QMimeData plain;
    plain.setText(text);
    QPlainTextEdit::insertFromMimeData(&plain);
}

int NoteEditor::roomLeft() const
{
    const QTextCursor c = textCursor();
    const int used = document()->characterCount() - 1 - (c.selectionEnd() - c.selectionStart());
    return std::max(0, kMaxChars - used);
}

// ---- mouse ----

void NoteEditor::reportLinkPress(QMouseEvent *e)
{
    const Qt::MouseButton b = e->button();
    if (b != Qt::LeftButton && b != Qt::RightButton)
        return;
    const LinkRange r = linkAtPoint(e->position().toPoint());
    if (r.start < 0)
        return;
    pending_ = r;
    pendingButton_ = b;
}

void NoteEditor::reportLinkRelease(QMouseEvent *e)
{
    const Qt::MouseButton b = e->button();
    if (b != Qt::LeftButton && b != Qt::RightButton)
        return;
    const LinkRange r = linkAtPoint(e->position().toPoint());
    if (r.start < 0)
        return;
    const bool matched = pendingButton_ == b && pending_ == r;
    pending_ = {};
    if (matched)
        emit urlClick(textOfRange(r.start, r.end), b);
}

bool NoteEditor::inLineStrip(const QPoint &viewportPos) const
{
    return viewportPos.x() >= 0 && viewportPos.x() < kLineStripWidth;
}

void NoteEditor::selectLines(int fromBlock, int toBlock)
{
    const QTextBlock a = document()->findBlockByNumber(std::min(fromBlock, toBlock));
    const QTextBlock z = document()->findBlockByNumber(std::max(fromBlock, toBlock));
    if (!a.isValid() || !z.isValid())
        return;
    QTextCursor c(document());
    const QTextBlock after = z.next();
    const int end = after.isValid() ? after.position() : z.position() + z.length() - 1;
    if (fromBlock <= toBlock) {
        c.setPosition(a.position());
        c.setPosition(end, QTextCursor::KeepAnchor);
    } else {
        c.setPosition(end);
        c.setPosition(a.position(), QTextCursor::KeepAnchor);
    }
    setTextCursor(c);
}

void NoteEditor::mousePressEvent(QMouseEvent *e)
{
    reportLinkPress(e);
    wordAnchor_ = -1;
    if (!startLineSelection(e)) {
        QPlainTextEdit::mousePressEvent(e);
        if (e->button() == Qt::LeftButton && !(e->modifiers() & Qt::ShiftModifier))
            wordAnchor_ = textCursor().position();
    }
    emit mouseDown(e->button());
}

void NoteEditor::snapSelectionToWords()
{
    QTextCursor c = textCursor();
    const int pos = c.position();
    QTextCursor word(document());
    word.setPosition(wordAnchor_);
    word.select(QTextCursor::WordUnderCursor);
    // Within the word the press was in, the selection goes by characters.
    if (word.hasSelection() && pos >= word.selectionStart() && pos <= word.selectionEnd())
        return;
    auto boundary = [this](int at, QTextCursor::MoveOperation op) {
        QTextCursor b(document());
        b.setPosition(at);
        b.movePosition(op);
        return b.position();
    };
    int from = wordAnchor_;
    int to = pos;
    if (pos > wordAnchor_) {
        from = boundary(wordAnchor_, QTextCursor::StartOfWord);
        to = boundary(pos, QTextCursor::EndOfWord);
    } else {
        from = boundary(wordAnchor_, QTextCursor::EndOfWord);
        to = boundary(pos, QTextCursor::StartOfWord);
    }
    if (from == c.anchor() && to == pos)
        return;
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    setTextCursor(c);
}

bool NoteEditor::startLineSelection(QMouseEvent *e)
{
    const QPoint p = e->position().toPoint();
    if (e->button() != Qt::LeftButton || !inLineStrip(p))
        return false;
    setFocus(Qt::MouseFocusReason);
    const int block = cursorForPosition(p).blockNumber();
    stripDrag_ = true;
    stripAnchorBlock_ = block;
    selectLines(block, block);
    e->accept();
    return true;
}

void NoteEditor::mouseDoubleClickEvent(QMouseEvent *e)
{
    // A double-click press is no link press.
    wordAnchor_ = -1;
    if (!startLineSelection(e))
        QPlainTextEdit::mouseDoubleClickEvent(e);
    emit mouseDown(e->button());
}

void NoteEditor::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint p = e->position().toPoint();
    if (stripDrag_ && (e->buttons() & Qt::LeftButton)) {
        selectLines(stripAnchorBlock_, cursorForPosition(p).blockNumber());
        e->accept();
        return;
    }
    viewport()->setCursor(linkAtPoint(p).start >= 0 ? Qt::PointingHandCursor
                              : inLineStrip(p)      ? Qt::ArrowCursor
                                                    : Qt::IBeamCursor);
    QPlainTextEdit::mouseMoveEvent(e);
    // Automatic word selection: once a drag leaves the word it began in,
    // the selection takes whole words.
    if (wordAnchor_ >= 0 && (e->buttons() & Qt::LeftButton) && textCursor().hasSelection())
        snapSelectionToWords();
}

void NoteEditor::mouseReleaseEvent(QMouseEvent *e)
{
    reportLinkRelease(e);
    if (e->button() == Qt::LeftButton)
        wordAnchor_ = -1;
    if (stripDrag_ && e->button() == Qt::LeftButton) {
        stripDrag_ = false;
        e->accept();
    } else {
        QPlainTextEdit::mouseReleaseEvent(e);
    }
    if (e->button() == Qt::RightButton && contextMenuPolicy() == Qt::CustomContextMenu)
        emit customContextMenuRequested(e->position().toPoint());
}

bool NoteEditor::event(QEvent *e)
{
    // Whatever the user does to the note is done to all of it.
    switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
        completeText();
        break;
    default:
        break;
    }
    // The menu key opens the menu at the caret, never over a link.
    if (e->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent *>(e)->reason() != QContextMenuEvent::Mouse
        && contextMenuPolicy() == Qt::CustomContextMenu) {
        e->accept();
        emit menuKeyPressed(cursorRect().center());
        return true;
    }
    return QPlainTextEdit::event(e);
}

bool NoteEditor::viewportEvent(QEvent *e)
{
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::DragEnter:
    case QEvent::Drop:
        completeText();
        break;
    default:
        break;
    }
    // A mouse-made context menu request is answered at the right button's
    // release instead (above), so the link report comes first.
    if (e->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent *>(e)->reason() == QContextMenuEvent::Mouse
        && contextMenuPolicy() == Qt::CustomContextMenu) {
        e->accept();
        return true;
    }
    return QPlainTextEdit::viewportEvent(e);
}

// ---- keyboard and input limits ----

void NoteEditor::keyPressEvent(QKeyEvent *e)
{
    if (inParts()) {
        const bool turned = (e->matches(QKeySequence::MoveToNextPage) && turnPart(true))
            || (e->matches(QKeySequence::MoveToPreviousPage) && turnPart(false));
        if (turned) {
            e->accept();
            return;
        }
        if (e->matches(QKeySequence::MoveToStartOfDocument) && part_ > 0) {
            showPart(0);
            e->accept();
            return;
        }
        if (e->matches(QKeySequence::MoveToEndOfDocument) && part_ + 1 < partCount()) {
            showPart(partCount() - 1, true);
            e->accept();
            return;
        }
    }
    // Shift+Enter makes the same line break as Enter: the note has one kind.
    if (e->matches(QKeySequence::InsertLineSeparator)) {
        QKeyEvent plain(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        keyPressEvent(&plain);
        e->setAccepted(plain.isAccepted());
        return;
    }
    const bool breaks = e->matches(QKeySequence::InsertParagraphSeparator);
    const QString t = e->text();
    const bool types = breaks || (!t.isEmpty() && t.at(0).isPrint());
    if (types && !isReadOnly()) {
        const int adds = breaks ? 1 : int(t.size());
        if (adds > roomLeft()) {
            e->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(e);
}

void NoteEditor::inputMethodEvent(QInputMethodEvent *e)
{
    if (e->commitString().size() > roomLeft()) {
        QInputMethodEvent cut(e->preeditString(), e->attributes());
        cut.setCommitString(e->commitString().left(roomLeft()), e->replacementStart(),
                            e->replacementLength());
        QPlainTextEdit::inputMethodEvent(&cut);
        return;
    }
    QPlainTextEdit::inputMethodEvent(e);
}

// ---- looks ----

void NoteEditor::changeEvent(QEvent *e)
{
    QPlainTextEdit::changeEvent(e);
    if (e->type() == QEvent::PaletteChange && !updatingPalette_)
        updateSelectionColors();
}

void NoteEditor::updateSelectionColors()
{
    // Without the focus the selection is drawn in the text's own colors, so
    // it does not show.
    QPalette p = palette();
    if (p.color(QPalette::Inactive, QPalette::Highlight) == p.color(QPalette::Inactive, QPalette::Base)
        && p.color(QPalette::Inactive, QPalette::HighlightedText)
            == p.color(QPalette::Inactive, QPalette::Text))
        return;
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Inactive, QPalette::Base));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Inactive, QPalette::Text));
    updatingPalette_ = true;
    setPalette(p);
    updatingPalette_ = false;
}

namespace {

// The find's folding over the editor's text: one unit for one unit.
QString foldForFind(const QString &text)
{
    QString folded = text;
    for (QChar &c : folded) {
        c = c.toLower();
        if (c == QChar(0x0451)) // ё
            c = QChar(0x0435);  // е
    }
    return folded;
}

} // namespace

void NoteEditor::setCatalogueReadOnly(bool readOnly)
{
    catalogueReadOnly_ = readOnly;
    updateReadOnly();
}

void NoteEditor::setNoNode(bool none)
{
    noNode_ = none;
    updateReadOnly();
}

void NoteEditor::updateReadOnly() { setReadOnly(catalogueReadOnly_ || noNode_ || inParts()); }

void NoteEditor::setLinkColor(const QColor &color)
{
    if (highlighter_->linkColor() != color)
        highlighter_->setLinkColor(color);
}

void NoteEditor::showFound(const QString &query, bool scroll)
{
    completeText();
    QList<QTextEdit::ExtraSelection> found;
    if (!query.isEmpty()) {
        const QString needle = foldForFind(query);
        QTextCharFormat format;
        format.setBackground(QColor(255, 230, 80));
        format.setForeground(QColor(Qt::black));
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            const QString text = foldForFind(block.text());
            for (qsizetype at = text.indexOf(needle); at >= 0;
                 at = text.indexOf(needle, at + needle.size())) {
                QTextCursor cursor(block);
                cursor.setPosition(block.position() + int(at));
                cursor.setPosition(block.position() + int(at + needle.size()), QTextCursor::KeepAnchor);
                found.append({cursor, format});
            }
        }
    }
    setExtraSelections(found);
    if (scroll && !found.isEmpty()) {
        QTextCursor first = found.first().cursor;
        first.setPosition(first.selectionStart());
        // The caret goes to the first occurrence, which scrolls it into view.
        setTextCursor(first);
        ensureCursorVisible();
    }
}

std::vector<NoteEditor::LinkRange> NoteEditor::foundRanges() const
{
    std::vector<LinkRange> ranges;
    for (const QTextEdit::ExtraSelection &s : extraSelections())
        ranges.push_back({s.cursor.selectionStart(), s.cursor.selectionEnd()});
    return ranges;
}

} // namespace qv
