// The note editor: a plain-text editor with one font and color, link
// detection and link press/release reports.
#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <string>
#include <string_view>

#include <utility>
#include <vector>

class QMimeData;
class QTimer;

namespace qv {

namespace links {
class Highlighter;
}

class NoteEditor : public QPlainTextEdit { // objectName "RxRichEdit1"
    Q_OBJECT
public:
    // The most characters a note can hold.
    static constexpr int kMaxChars = 16777215;
    // Pixels at the left edge where a click selects whole lines.
    static constexpr int kLineStripWidth = 6;

    explicit NoteEditor(QWidget *parent = nullptr);
    ~NoteEditor() override;

    // The text with every line break as CR LF and every other character kept (no-break spaces too).
    QString noteText() const;
    void setNoteText(const QString &text); // CR LF / LF line breaks in; all at once
    // The document's own form of a note given in its record form ("~~", CR
    // LF and a lone CR as block breaks, a lone LF as a line separator).
    static QString documentText(std::string_view recordText);
    // Whether the editor shows this text (in the document's own form).
    bool holds(const QString &documentText) const;
    // Shows a text in the document's own form, caret at its start. A long
    // one goes into the document a slice at a time: the first screens at
    // once, the rest from the event loop. Input, and anything that reads
    // the whole text, first puts in the rest; the undo history starts after
    // the last slice.
    void setDocumentText(const QString &documentText);
    static constexpr qsizetype kSliceChars = 32768;
    bool filling() const { return !fillText_.isEmpty(); }
    void completeText(); // puts in what is still to come
    // What noteText() gives back after setNoteText(text): every line break
    // (CR LF, lone CR or LF, line and paragraph separators) as CR LF.
    static QString normalised(const QString &text);
    // A block's text (or part of one) as the note holds it: a line separator
    // inside a block stands for a lone LF of the stored note.
    static QString noteLine(const QString &blockText);

    // A catalogue that cannot be saved: the editor stays read-only, parts
    // view or not.
    void setCatalogueReadOnly(bool readOnly);
    // The catalogue has no node to keep a note: the editor takes no typing.
    void setNoNode(bool none);

    // The colour links are drawn in.
    void setLinkColor(const QColor &color);

    // ---- a note too large to edit ----
    // A note over kPagedBytes bytes, or with a line over kPagedLine
    // characters, would take the toolkit seconds to minutes to lay out: it
    // is shown read-only, a part of at most kPageChars characters at a time.
    static constexpr size_t kPagedBytes = size_t(2) << 20;
    static constexpr size_t kPagedLine = 32768;
    static constexpr size_t kPageChars = 16384;
    static constexpr qsizetype kLongWrap = 4096; // a longer line of a part wraps anywhere
    // Whether a note, in its record form (line breaks as "~~"), is shown in parts.
    static bool needsParts(std::string_view recordText);
    // Shows a note in parts, from its first part, read-only. Nothing is
    // stored back: the editor's text is one part only. A note already shown
    // in parts stays on its part.
    void showInParts(std::string_view recordText);
    // Back to editing: the shown part stays in the editor until the next
    // note replaces it.
    void endParts();
    bool inParts() const { return !partStarts_.empty(); }
    int partCount() const { return int(partStarts_.size()); }
    int part() const { return part_; }
    // Shows a part; `atEnd` puts the caret at its end, otherwise at its start.
    void showPart(int index, bool atEnd = false);

    // A detected link: document positions, end exclusive.
    struct LinkRange {
        int start = -1;
        int end = -1;
        bool operator==(const LinkRange &) const = default;
    };
    // The link at a document position, or {-1, -1}.
    LinkRange linkAt(int position) const;
    // The link under a viewport point, or {-1, -1}.
    LinkRange linkAtPoint(const QPoint &viewportPos) const;
    // Every link of the document, in order.
    std::vector<LinkRange> links() const;
    // The text of a document range.
    QString textOfRange(int start, int end) const;

    // Highlights every occurrence of the find text (any case, "ё" as "е"),
    // scrolling the first into view when `scroll`; an empty text clears.
    void showFound(const QString &query, bool scroll);
    // The highlighted occurrences: document positions, end exclusive.
    std::vector<LinkRange> foundRanges() const;

    // The last press recorded over a link (range -1, -1 when none).
    LinkRange pendingRange() const { return pending_; }
    Qt::MouseButton pendingButton() const { return pendingButton_; }

signals:
    void urlClick(const QString &linkText, Qt::MouseButton button);
    void mouseDown(Qt::MouseButton button); // after any link report of the press
    // The menu key (a context menu asked for from the keyboard), with the
    // caret's place in viewport coordinates.
    void menuKeyPressed(const QPoint &viewportPos);
    // The last slice of a text put in a slice at a time is in.
    void filled();
    // Another part of a note shown in parts (counted from 0).
    void partShown(int index, int count);

protected:
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    void updateReadOnly();
    void reportLinkPress(QMouseEvent *e);
    void reportLinkRelease(QMouseEvent *e);
    // A left press in the strip at the left edge starts selecting whole lines.
    bool startLineSelection(QMouseEvent *e);
    // A drag selection past the word it began in extends to whole words.
    void snapSelectionToWords();
    bool inLineStrip(const QPoint &viewportPos) const;
    void selectLines(int fromBlock, int toBlock);
    int roomLeft() const;
    void updateSelectionColors();
    // Page Up / Page Down (or the wheel) past the shown part's edge goes on
    // to the part before or after it.
    bool turnPart(bool forward);
    void fillSlice();
    void appendText(QStringView text);

    qv::links::Highlighter *highlighter_ = nullptr;
    LinkRange pending_;
    Qt::MouseButton pendingButton_ = Qt::LeftButton;
    bool stripDrag_ = false;
    int wordAnchor_ = -1; // where a plain left press put the caret, while it lasts
    int stripAnchorBlock_ = -1;
    bool updatingPalette_ = false;
    QString fillText_; // a text being put in a slice at a time
    qsizetype filledTo_ = 0;
    QTimer *fillTimer_ = nullptr;
    std::string partsText_;          // a note shown in parts, in record form
    std::vector<size_t> partStarts_; // where each part begins in it
    bool catalogueReadOnly_ = false;
    bool noNode_ = false;
    int part_ = 0;
};

} // namespace qv
