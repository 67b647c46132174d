// The note editor: a plain-text editor with one font and color, link
// detection and link press/release reports.
#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <utility>
#include <vector>

class QMimeData;

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
    void setNoteText(const QString &text); // CR LF / LF line breaks in
    // What noteText() gives back after setNoteText(text): every line break
    // (CR LF, lone CR or LF, line and paragraph separators) as CR LF.
    static QString normalised(const QString &text);
    // A block's text (or part of one) as the note holds it: a line separator
    // inside a block stands for a lone LF of the stored note.
    static QString noteLine(const QString &blockText);

    // The colour links are drawn in.
    void setLinkColor(const QColor &color);

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
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
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

    qv::links::Highlighter *highlighter_ = nullptr;
    LinkRange pending_;
    Qt::MouseButton pendingButton_ = Qt::LeftButton;
    bool stripDrag_ = false;
    int wordAnchor_ = -1; // where a plain left press put the caret, while it lasts
    int stripAnchorBlock_ = -1;
    bool updatingPalette_ = false;
};

} // namespace qv
