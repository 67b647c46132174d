#include "gui/common/MessageBox.h"

#include "catalog/Errors.h"
#include "gui/common/Codec.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>

#include <algorithm>
#include <cstdio>

namespace qv::msg {

namespace {

struct Hook {
    bool active = false;
    QList<QMessageBox::StandardButton> answers;
    QStringList texts;
    QStringList titles;
    QList<QMessageBox::Icon> icons;
    bool unattended = false;
};

Hook &hook()
{
    static Hook h;
    return h;
}

QMessageBox::StandardButton mildest(QMessageBox::StandardButtons buttons)
{
    for (QMessageBox::StandardButton b : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok})
        if (buttons.testFlag(b))
            return b;
    return QMessageBox::NoButton;
}

} // namespace

QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                 const QString &text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton)
{
    Hook &h = hook();
    if (h.active) {
        h.texts << text;
        h.titles << title;
        h.icons << icon;
        if (!h.answers.isEmpty())
            return h.answers.takeFirst();
        return mildest(buttons);
    }
    if (h.unattended) {
        logText(text);
        return mildest(buttons);
    }
    const std::unique_ptr<QMessageBox> box = createBox(parent, icon, title, text, buttons, defaultButton);
    return QMessageBox::StandardButton(box->exec());
}

QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                const QString &text,
                                const QList<QPair<QMessageBox::StandardButton, QString>> &buttons,
                                QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButtons all;
    for (const auto &b : buttons)
        all |= b.first;
    Hook &h = hook();
    if (h.active || h.unattended)
        return show(parent, icon, title, text, all, defaultButton);
    const std::unique_ptr<QMessageBox> box = createBox(parent, icon, title, text, all, defaultButton);
    for (const auto &[button, caption] : buttons)
        box->button(button)->setText(caption);
    box->setEscapeButton(defaultButton);
    return QMessageBox::StandardButton(box->exec());
}

int widthForTitle(const QString &title)
{
    // Window managers draw the caption in a bold face of the title font.
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    // The caption's icon, up to three buttons and the gaps around them take
    // about six times the caption's line height.
    return metrics.horizontalAdvance(title) + 6 * metrics.height();
}

std::unique_ptr<QMessageBox> createBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                       const QString &text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton)
{
    auto box = std::make_unique<QMessageBox>(icon, title, text, buttons, parent);
    box->setWindowModality(Qt::ApplicationModal);
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    // The box sizes itself to its layout when shown: a row with nothing but
    // an empty item of the title's width keeps it from being narrower.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(widthForTitle(title), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

QString errorText(const std::exception &error)
{
    const auto *e = dynamic_cast<const Error *>(&error);
    const Bytes text = errorBoxText(e ? e->message() : Bytes(error.what()));
    if (!e || e->pathOffset() == Bytes::npos || e->pathOffset() > text.size())
        return toQ(text);
    // The file name is in the system's encoding, the rest in the code page.
    const size_t at = e->pathOffset();
    const size_t length = std::min(e->pathLength(), text.size() - at);
    return toQ(text.substr(0, at)) + QFile::decodeName(QByteArray(text.data() + at, qsizetype(length)))
        + toQ(text.substr(at + length));
}

void showError(QWidget *parent, const std::exception &error)
{
    show(parent, QMessageBox::Critical, QStringLiteral("Quorvel"), errorText(error), QMessageBox::Ok);
}

void setUnattended() { hook().unattended = true; }

void logText(const QString &text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    std::fprintf(stderr, "Quorvel: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

void setNextAnswers(QList<QMessageBox::StandardButton> answers)
{
    Hook &h = hook();
    h.active = true;
    h.answers = std::move(answers);
}

QStringList shownTexts() { return hook().texts; }
QStringList shownTitles() { return hook().titles; }
QList<QMessageBox::Icon> shownIcons() { return hook().icons; }

void clearShown()
{
    Hook &h = hook();
    h.texts.clear();
    h.titles.clear();
    h.icons.clear();
}

int pendingAnswers() { return int(hook().answers.size()); }

} // namespace qv::msg
