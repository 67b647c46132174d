#include "editor/NoteEditor.h"

NoteEditor::NoteEditor(QWidget *parent) : QPlainTextEdit(parent) { setObjectName(QStringLiteral("RxRichEdit1")); }
NoteEditor::~NoteEditor() = default;
QString NoteEditor::noteText() const { return QString(); }
void NoteEditor::setNoteText(const QString &text) { setPlainText(text); }
NoteEditor::LinkRange NoteEditor::linkAt(int) const { return {}; }
NoteEditor::LinkRange NoteEditor::linkAtPoint(const QPoint &) const { return {}; }
std::vector<NoteEditor::LinkRange> NoteEditor::links() const { return {}; }
QString NoteEditor::textOfRange(int, int) const { return QString(); }
bool NoteEditor::canInsertFromMimeData(const QMimeData *s) const { return QPlainTextEdit::canInsertFromMimeData(s); }
void NoteEditor::insertFromMimeData(const QMimeData *s) { QPlainTextEdit::insertFromMimeData(s); }
void NoteEditor::mousePressEvent(QMouseEvent *e) { QPlainTextEdit::mousePressEvent(e); }
void NoteEditor::mouseReleaseEvent(QMouseEvent *e) { QPlainTextEdit::mouseReleaseEvent(e); }
void NoteEditor::mouseMoveEvent(QMouseEvent *e) { QPlainTextEdit::mouseMoveEvent(e); }
void NoteEditor::mouseDoubleClickEvent(QMouseEvent *e) { QPlainTextEdit::mouseDoubleClickEvent(e); }
void NoteEditor::keyPressEvent(QKeyEvent *e) { QPlainTextEdit::keyPressEvent(e); }
void NoteEditor::inputMethodEvent(QInputMethodEvent *e) { QPlainTextEdit::inputMethodEvent(e); }
void NoteEditor::focusInEvent(QFocusEvent *e) { QPlainTextEdit::focusInEvent(e); }
void NoteEditor::focusOutEvent(QFocusEvent *e) { QPlainTextEdit::focusOutEvent(e); }
void NoteEditor::changeEvent(QEvent *e) { QPlainTextEdit::changeEvent(e); }
void NoteEditor::reportLinkPress(QMouseEvent *) {}
void NoteEditor::reportLinkRelease(QMouseEvent *) {}
bool NoteEditor::inLineStrip(const QPoint &) const { return false; }
void NoteEditor::selectLines(int, int) {}
int NoteEditor::roomLeft() const { return kMaxChars; }
void NoteEditor::updateSelectionColours() {}
