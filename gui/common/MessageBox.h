// Every message box of the program goes through here: warnings, questions
// and the error box. Tests answer boxes in advance instead of showing them.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <exception>
#include <memory>

namespace qv::msg {

// An application-modal box; returns the button pressed. `defaultButton`
// answers Enter (NoButton: the toolkit's choice).
QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                 const QString &text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
// The same with buttons captioned by us: each given button with its text.
QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                const QString &text,
                                const QList<QPair<QMessageBox::StandardButton, QString>> &buttons,
                                QMessageBox::StandardButton defaultButton);

// The box show() runs, made but not shown: at least as wide as its title
// needs under a window manager's caption (the title in the caption font,
// with room for the caption's icon and buttons).
std::unique_ptr<QMessageBox> createBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                       const QString &text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
// The width a box needs for its title to be read whole in its caption.
int widthForTitle(const QString &title);

// The error box: title "Quorvel", stop icon, OK, the error's message with a
// full stop appended when its last byte sorts after '.'.
void showError(QWidget *parent, const std::exception &error);
// The error box's text for an exception.
QString errorText(const std::exception &error);

// Nobody is there to answer (the run is ending without a close): from now
// on boxes are not shown; each takes the mildest of its buttons (as below)
// and its text goes to stderr. The test hook below takes precedence.
void setUnattended();
// A box's text as one line on stderr, for when no box can be shown.
void logText(const QString &text);

// Test hook. From the first call on, boxes are never shown: each takes the
// next queued answer, or, when none is left, the mildest of its buttons
// (No, Cancel, OK, in that order of preference), and is recorded.
void setNextAnswers(QList<QMessageBox::StandardButton> answers);
// Texts and titles of the recorded boxes, oldest first.
QStringList shownTexts();
QStringList shownTitles();
QList<QMessageBox::Icon> shownIcons();
void clearShown();
// Answers queued but not yet used.
int pendingAnswers();

} // namespace qv::msg
