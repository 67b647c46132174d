#include "gui/editor/EditorPane.h"

#include "catalog/Catalog.h"
#include "gui/editor/RecordMirror.h"
#include "gui/common/Codec.h"
#include "gui/common/WidgetLook.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHash>
#include <QMenu>
#include <QProcess>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char *const kBrowserProgram = "x-www-browser";

// Where a "www." address or a typed path goes when handed to the desktop.
QUrl urlFor(const QString &link)
{
    if (link.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + link);
    const QUrl url(link);
    return url.isValid() && !url.scheme().isEmpty() ? url : QUrl::fromUserInput(link);
}

std::function<void(const QString &)> &urlOpener()
{
    static std::function<void(const QString &)> opener;
    return opener;
}

std::function<void(const QString &, const QString &)> &browserStarter()
{
    static std::function<void(const QString &, const QString &)> starter;
    return starter;
}

void defaultOpen(const QString &link)
{
    QDesktopServices::openUrl(urlFor(link));
}

void defaultStartBrowser(const QString &program, const QString &argument)
{
    // Started directly, never through a shell; a failure is not reported.
    if (!QProcess::startDetached(program, {argument}))
        QProcess::startDetached(QStringLiteral("xdg-open"), {urlFor(argument).toString()});
}

// Letter case over the code page's letters, as the catalogue's bytes see
// them; characters the code page cannot hold follow their own case rules.
class CaseTables {
public:
    static const CaseTables &get()
    {
        static const CaseTables tables;
        return tables;
    }
    QString map(const QString &text, bool toUpper) const
    {
        const QHash<char16_t, char16_t> &table = toUpper ? upper_ : lower_;
        QString out = text;
        for (qsizetype i = 0; i < out.size(); ++i) {
            const char16_t c = out[i].unicode();
            const auto it = table.constFind(c);
            if (it != table.constEnd())
                out[i] = QChar(*it);
            else if (!codePage_.contains(c) && !QChar::isSurrogate(c) && c != QChar::ParagraphSeparator)
                out[i] = toUpper ? out[i].toUpper() : out[i].toLower();
        }
        return out;
    }

private:
    CaseTables()
    {
        for (int b = 0; b < 256; ++b) {
            const qv::Bytes one(1, char(b));
            const std::u16string u = qv::cp1251::toUtf16(one);
            if (u.size() != 1 || qv::cp1251::fromUtf16(u) != one)
                continue;
            codePage_.insert(u[0], true);
            const std::u16string up = qv::cp1251::toUtf16(qv::cp1251::upper(one));
            const std::u16string low = qv::cp1251::toUtf16(qv::cp1251::lower(one));
            if (up.size() == 1 && up[0] != u[0])
                upper_.insert(u[0], up[0]);
            if (low.size() == 1 && low[0] != u[0])
                lower_.insert(u[0], low[0]);
        }
    }
    QHash<char16_t, bool> codePage_;
    QHash<char16_t, char16_t> upper_;
    QHash<char16_t, char16_t> lower_;
};

const QString kNoNodeTitle = QStringLiteral("Неверное действие");
const QString kNoNodeText = QStringLiteral(
    "Введённый текст не будет сохранён,\r\nтак как нет ни одного узла к которому\r\n"
    "можно прикрепить этот текст.\r\n\r\nСоздайте сначала узел в дереве.");
const QString kCopyLink = QStringLiteral("Копировать ссылку");

// A link inside a menu caption: '&' would otherwise mark a shortcut letter.
QString captionText(const QString &link)
{
    QString s = link;
    s.replace(u'&', QStringLiteral("&&"));
    return s;
}

} // namespace

EditorPane::EditorPane(qv::Catalog &catalog, QWidget *parent) : QWidget(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("Panel2"));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    editor_ = new NoteEditor(this);
    mirror_ = new RecordMirror(editor_->document(), this);
    buildToolbar();
    buildMenu();
    layout_->addWidget(toolbar_);
    layout_->addWidget(editor_, 1);

    connect(editor_, &QPlainTextEdit::textChanged, this, &EditorPane::textChanged);
    connect(editor_, &QPlainTextEdit::selectionChanged, this, &EditorPane::selectionChanged);
    connect(editor_, &QPlainTextEdit::undoAvailable, this, &EditorPane::updateUndoRedo);
    connect(editor_, &QPlainTextEdit::redoAvailable, this, &EditorPane::updateUndoRedo);
    connect(editor_, &NoteEditor::urlClick, this, &EditorPane::urlClicked);
    connect(editor_, &NoteEditor::mouseDown, this, &EditorPane::editorMouseDown);
    connect(editor_, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        menu_->popup(editor_->viewport()->mapToGlobal(pos));
    });
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        connect(clipboard, &QClipboard::dataChanged, this, &EditorPane::updatePasteEnabled);
}

EditorPane::~EditorPane() = default;

NoteEditor *EditorPane::editor() const { return editor_; }
QAbstractButton *EditorPane::saveButton() const { return save_; }
QAbstractButton *EditorPane::settingsButton() const { return settings_; }
QAbstractButton *EditorPane::aboutButton() const { return about_; }

QToolButton *EditorPane::button(const QString &name) const
{
    return toolbar_->findChild<QToolButton *>(name, Qt::FindDirectChildrenOnly);
}

QAction *EditorPane::action(const QString &name) const
{
    return menu_->findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
}

void EditorPane::buildToolbar()
{
    toolbar_ = new QFrame(this);
    toolbar_->setObjectName(QStringLiteral("CoolBar2"));
    toolbar_->setFixedHeight(30);

    auto add = [this](const char *name, int x, int width, const char *glyph, const QString &hint,
                      void (EditorPane::*handler)()) {
        auto *b = new QToolButton(toolbar_);
        b->setObjectName(QLatin1String(name));
        b->setAutoRaise(true);
        b->setGeometry(x, 2, width, 25);
        b->setIconSize(QSize(16, 16));
        b->setIcon(qv::icons::glyph(QLatin1String(glyph)));
        b->setStatusTip(hint);
        b->setToolTip(QString());
        b->setFocusPolicy(Qt::NoFocus);
        if (handler)
            connect(b, &QToolButton::clicked, this, handler);
        return b;
    };
    auto separator = [this](int x) {
        auto *line = new QFrame(toolbar_);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setGeometry(x, 3, 2, 23);
    };

    save_ = add("SpeedButton3", 2, 25, "save", QStringLiteral("Сохранить всё"), nullptr);
    save_->setEnabled(false);
    separator(29);
    add("SpeedButton4", 33, 25, "undo", QStringLiteral("Отменить"), &EditorPane::undo)->setEnabled(false);
    add("SpeedButton5", 58, 25, "redo", QStringLiteral("Вернуть"), &EditorPane::redo)->setEnabled(false);
    separator(85);
    add("SpeedButton6", 89, 25, "cut", QStringLiteral("Вырезать"), &EditorPane::cut)->setEnabled(false);
    add("SpeedButton7", 114, 25, "copy", QStringLiteral("Копировать"), &EditorPane::copy)->setEnabled(false);
    add("SpeedButton8", 139, 25, "paste", QStringLiteral("Вставить"), &EditorPane::paste)->setEnabled(false);
    add("SpeedButton12", 164, 25, "erase", QStringLiteral("Удалить"), &EditorPane::deleteSelection)
        ->setEnabled(false);
    separator(193);
    add("SpeedButton9", 197, 32, "upper", QStringLiteral("Все буквы большие"), &EditorPane::upperCase)
        ->setEnabled(false);
    add("SpeedButton18", 229, 32, "capitalise",
        QStringLiteral("Первая буква большая, остальные маленькие"), &EditorPane::capitalise)
        ->setEnabled(false);
    add("SpeedButton19", 261, 32, "lower", QStringLiteral("Все буквы маленькие"), &EditorPane::lowerCase)
        ->setEnabled(false);
    separator(297);
    settings_ = add("SpeedButton10", 302, 25, "settings", QStringLiteral("Настройка"), nullptr);
    settings_->setCheckable(true);
    about_ = add("SpeedButton11", 327, 25, "about", QStringLiteral("О программе..."), nullptr);
    about_->setCheckable(true);
}

void EditorPane::buildMenu()
{
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("PopupMenu2"));
    auto add = [this](const char *name, const QString &caption, void (EditorPane::*handler)()) {
        auto *a = new QAction(caption, menu_);
        a->setObjectName(QLatin1String(name));
        if (handler)
            connect(a, &QAction::triggered, this, handler);
        menu_->addAction(a);
        return a;
    };
    add("N3", QStringLiteral("Вырезать"), &EditorPane::cut)->setEnabled(false);
    add("N4", QStringLiteral("Копировать"), &EditorPane::copy)->setEnabled(false);
    add("N5", QStringLiteral("Вставить"), &EditorPane::paste)->setEnabled(false);
    add("N11", QStringLiteral("Удалить"), &EditorPane::deleteSelection)->setEnabled(false);
    add("N6", QStringLiteral("Выделить всё"), &EditorPane::selectAll);
    QAction *sep = menu_->addSeparator();
    sep->setObjectName(QStringLiteral("N7"));
    sep->setParent(menu_);
    add("N8", kCopyLink, &EditorPane::copyLink);
    add("N9", QStringLiteral("Открыть"), &EditorPane::openLink);
    add("N10", QStringLiteral("Открыть в новом окне"), &EditorPane::openLinkInNewWindow);
    connect(menu_, &QMenu::aboutToShow, this, &EditorPane::menuAboutToShow);
}

void EditorPane::setPanels(QWidget *settingsPanel, QWidget *aboutPanel)
{
    if (settingsPanel)
        layout_->insertWidget(layout_->indexOf(toolbar_) + 1, settingsPanel);
    if (aboutPanel)
        layout_->insertWidget(layout_->indexOf(editor_) + 1, aboutPanel);
}

void EditorPane::setSelectedNodeProvider(std::function<qv::Node *()> selected)
{
    selected_ = std::move(selected);
}

void EditorPane::setLinkOption(std::function<bool()> singleClickOpens)
{
    linkOption_ = std::move(singleClickOpens);
}

void EditorPane::setUrlOpener(std::function<void(const QString &)> opener)
{
    urlOpener() = std::move(opener);
}

void EditorPane::setBrowserStarter(std::function<void(const QString &, const QString &)> starter)
{
    browserStarter() = std::move(starter);
}

// ---- the binding to the selected node ----

void EditorPane::showNote(qv::Node *node)
{
    if (!node)
        return;
    try {
        // A node without a record shows an empty note rather than the text of
        // the node shown before, which would otherwise be stored under it.
        const std::optional<qv::Bytes> note = catalog_.noteForEditor(node->caption());
        const QString text = NoteEditor::normalised(note ? qv::toQ(*note) : QString());
        if (text != editor_->noteText()) {
            // Reported as a text change; loading alone appends no record.
            const QScopedValueRollback<bool> loading(loading_, true);
            editor_->setNoteText(text);  // also starts a fresh undo history
        } else if (node != shownNode_) {
            // The same text under another node: the steps of the note shown
            // before must not be undone into this one.
            editor_->document()->clearUndoRedoStacks();
        }
        shownNode_ = node;
        QTextCursor c = editor_->textCursor();
        c.movePosition(QTextCursor::Start);
        editor_->setTextCursor(c);
        selectionChanged();
        updateUndoRedo();
    } catch (const std::exception &e) {
        qv::msg::showError(window(), e);
    }
}

void EditorPane::attachChangeHandler()
{
    attached_ = true;
}

void EditorPane::storeInto(qv::Node *node)
{
    // The record takes the text in its own form, kept current by the mirror;
    // only a node without a record needs the editor text converted whole.
    // Such a node gets its record from its first edit, not from showing its
    // (empty) note.
    if (!catalog_.records().setText(node->caption(), mirror_->bytes()) && !loading_)
        catalog_.storeNote(node, qv::fromQ(editor_->noteText()));
}

void EditorPane::textChanged()
{
    if (!attached_)
        return;
    try {
        qv::Node *node = selected_ ? selected_() : nullptr;
        if (node)
            storeInto(node);
        else
            qv::msg::show(window(), QMessageBox::Warning, kNoNodeTitle, kNoNodeText, QMessageBox::Ok);
        catalog_.markChanged();
        save_->setEnabled(true);
        updateUndoRedo();
        emit edited();
    } catch (const std::exception &e) {
        qv::msg::showError(window(), e);
    }
}

void EditorPane::updateUndoRedo()
{
    button(QStringLiteral("SpeedButton4"))->setEnabled(editor_->document()->isUndoAvailable());
    button(QStringLiteral("SpeedButton5"))->setEnabled(editor_->document()->isRedoAvailable());
}

void EditorPane::selectionChanged()
{
    const bool any = editor_->textCursor().hasSelection();
    for (const char *name : {"SpeedButton6", "SpeedButton7", "SpeedButton12", "SpeedButton9", "SpeedButton18",
                             "SpeedButton19"})
        button(QLatin1String(name))->setEnabled(any);
    for (const char *name : {"N3", "N4", "N11"})
        action(QLatin1String(name))->setEnabled(any);
    updatePasteEnabled();
}

void EditorPane::updatePasteEnabled()
{
    const bool can = editor_->canPaste();
    button(QStringLiteral("SpeedButton8"))->setEnabled(can);
    action(QStringLiteral("N5"))->setEnabled(can);
}

// ---- commands ----

void EditorPane::undo() { editor_->undo(); }
void EditorPane::redo() { editor_->redo(); }
void EditorPane::cut() { editor_->cut(); }
void EditorPane::copy() { editor_->copy(); }
void EditorPane::paste() { editor_->paste(); }
void EditorPane::selectAll() { editor_->selectAll(); }

void EditorPane::deleteSelection()
{
    QTextCursor c = editor_->textCursor();
    if (!c.hasSelection())
        return;
    c.removeSelectedText();
    editor_->setTextCursor(c);
}

void EditorPane::replaceSelection(const QString &text)
{
    QTextCursor c = editor_->textCursor();
    const int start = c.selectionStart();
    c.beginEditBlock();
    c.insertText(text);
    c.endEditBlock();
    // Block breaks count one character each, as in the selection's text.
    c.setPosition(start);
    c.setPosition(start + int(text.size()), QTextCursor::KeepAnchor);
    editor_->setTextCursor(c);
    editor_->ensureCursorVisible();
}

void EditorPane::upperCase()
{
    const QTextCursor c = editor_->textCursor();
    if (c.hasSelection())
        replaceSelection(CaseTables::get().map(c.selectedText(), true));
}

void EditorPane::lowerCase()
{
    const QTextCursor c = editor_->textCursor();
    if (c.hasSelection())
        replaceSelection(CaseTables::get().map(c.selectedText(), false));
}

void EditorPane::capitalise()
{
    if (!editor_->textCursor().hasSelection())
        return;
    lowerCase();
    const QString lowered = editor_->textCursor().selectedText();
    if (lowered.isEmpty())
        return;
    replaceSelection(CaseTables::get().map(lowered.left(1), true) + lowered.mid(1));
}

void EditorPane::setEditorFont(const QString &face, int pointSize)
{
    qv::applyFontFaceAndSize(editor_, face, pointSize);
}

void EditorPane::setEditorColors(const QColor &background, const QColor &text)
{
    qv::applyTextColors(editor_, background, text);
}

// ---- links ----

void EditorPane::urlClicked(const QString &link, Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        if (linkOption_ && linkOption_())
            openUrl(link);
        return;
    }
    if (button != Qt::RightButton)
        return;
    linkUnderMenu_ = link;
    const QString shown = captionText(link);
    action(QStringLiteral("N8"))->setText(QStringLiteral("Копировать: ") + shown);
    action(QStringLiteral("N9"))->setText(QStringLiteral("Открыть: ") + shown);
    action(QStringLiteral("N10"))->setText(QStringLiteral("Открыть в новом окне: ") + shown);
}

void EditorPane::editorMouseDown(Qt::MouseButton button)
{
    if (button != Qt::RightButton)
        return;
    linkUnderMenu_.clear();
    action(QStringLiteral("N8"))->setText(kCopyLink);
}

void EditorPane::menuAboutToShow()
{
    const bool link = !linkUnderMenu_.isEmpty();
    action(QStringLiteral("N8"))->setEnabled(link);
    action(QStringLiteral("N9"))->setVisible(link);
    action(QStringLiteral("N10"))->setVisible(link);
}

void EditorPane::copyLink()
{
    if (linkUnderMenu_.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(linkUnderMenu_);
}

void EditorPane::openLink()
{
    if (!linkUnderMenu_.isEmpty())
        openUrl(linkUnderMenu_);
}

void EditorPane::openLinkInNewWindow()
{
    if (linkUnderMenu_.isEmpty())
        return;
    const QString program = QLatin1String(kBrowserProgram);
    if (browserStarter())
        browserStarter()(program, linkUnderMenu_);
    else
        defaultStartBrowser(program, linkUnderMenu_);
}

void EditorPane::openUrl(const QString &link)
{
    if (urlOpener())
        urlOpener()(link);
    else
        defaultOpen(link);
}
