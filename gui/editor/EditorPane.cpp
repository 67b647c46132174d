#include "gui/editor/EditorPane.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/common/Contrast.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ToolbarStrip.h"
#include "gui/common/WidgetLook.h"
#include "gui/editor/RecordMirror.h"
#include "settings/Settings.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace qv {

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

void defaultOpen(const QString &link) { QDesktopServices::openUrl(urlFor(link)); }

void defaultStartBrowser(const QString &program, const QString &argument)
{
    // Started directly, never through a shell; a failure is not reported.
    if (!QProcess::startDetached(program, {argument}))
        QProcess::startDetached(QStringLiteral("xdg-open"), {urlFor(argument).toString()});
}

// Letter case through the catalogue's code-page tables; characters the code
// page cannot hold follow their own Unicode rules.
char16_t unicodeUpper(char16_t unit) { return QChar(unit).toUpper().unicode(); }
char16_t unicodeLower(char16_t unit) { return QChar(unit).toLower().unicode(); }

QString upperCased(const QString &text)
{
    return QString::fromStdU16String(cp1251::upper(text.toStdU16String(), unicodeUpper));
}

QString lowerCased(const QString &text)
{
    return QString::fromStdU16String(cp1251::lower(text.toStdU16String(), unicodeLower));
}

QString capitalized(const QString &text)
{
    return QString::fromStdU16String(cp1251::capitalized(text.toStdU16String(), unicodeUpper, unicodeLower));
}

const QString kNoNodeTitle = QStringLiteral("Неверное действие");
const QString kNoNodeText
    = QStringLiteral("Введённый текст не будет сохранён,\r\nтак как нет ни одного узла к которому\r\n"
                     "можно прикрепить этот текст.\r\n\r\nСоздайте сначала узел в дереве.");
const QString kCopyLink = QStringLiteral("Копировать ссылку");

// A link inside a menu caption: '&' would otherwise mark a shortcut letter.
QString captionText(const QString &link)
{
    QString s = link;
    s.replace(u'&', QStringLiteral("&&"));
    return s;
}

// The keys of a standard command on this platform, with `required` added
// where the platform leaves them out.
QList<QKeySequence> keysFor(QKeySequence::StandardKey command, std::initializer_list<QKeySequence> required)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(command);
    for (const QKeySequence &key : required) {
        if (!keys.contains(key))
            keys.append(key);
    }
    return keys;
}

} // namespace

EditorPane::EditorPane(Catalog &catalog, QWidget *parent) : QWidget(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("Panel2"));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    noteEditor_ = new NoteEditor(this);
    recordMirror_ = new RecordMirror(noteEditor_->document(), this);
    createActions();
    buildToolbar();
    buildContextMenu();
    buildPartsBar();
    layout_->addWidget(toolbar_);
    layout_->addWidget(partsBar_);
    layout_->addWidget(noteEditor_, 1);

    connect(noteEditor_, &QPlainTextEdit::textChanged, this, &EditorPane::textChanged);
    connect(noteEditor_, &QPlainTextEdit::selectionChanged, this, &EditorPane::selectionChanged);
    connect(noteEditor_, &QPlainTextEdit::undoAvailable, this, &EditorPane::updateUndoRedo);
    connect(noteEditor_, &QPlainTextEdit::redoAvailable, this, &EditorPane::updateUndoRedo);
    connect(noteEditor_, &NoteEditor::urlClick, this, &EditorPane::urlClicked);
    connect(noteEditor_, &NoteEditor::mouseDown, this, &EditorPane::editorMouseDown);
    connect(noteEditor_, &NoteEditor::partShown, this, &EditorPane::partShown);
    connect(noteEditor_, &NoteEditor::filled, this, [this] {
        if (!std::exchange(fillReported_, false) || !selectedNode_ || selectedNode_() != shownNode_)
            return;
        const QScopedValueRollback<bool> loading(loading_, true);
        textChanged();
    });
    connect(noteEditor_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { contextMenu_->popup(noteEditor_->viewport()->mapToGlobal(pos)); });
    // The menu key opens the menu as a right click on the link at the
    // caret does, or off any link when there is none.
    connect(noteEditor_, &NoteEditor::menuKeyPressed, this, [this](const QPoint &pos) {
        const QString link = linkAtCaret();
        if (link.isEmpty())
            forgetMenuLink();
        else
            urlClicked(link, Qt::RightButton);
        contextMenu_->popup(noteEditor_->viewport()->mapToGlobal(pos));
    });
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        connect(clipboard, &QClipboard::dataChanged, this, &EditorPane::updatePasteEnabled);
}

EditorPane::~EditorPane() = default;

QAbstractButton *EditorPane::saveButton() const { return button(QStringLiteral("SpeedButton3")); }

QToolButton *EditorPane::button(const QString &name) const
{
    return toolbar_->findChild<QToolButton *>(name);
}

QAction *EditorPane::action(const QString &name) const
{
    if (QAction *command = findChild<QAction *>(name, Qt::FindDirectChildrenOnly))
        return command;
    return contextMenu_->findChild<QAction *>(name, Qt::FindDirectChildrenOnly); // the separator N7
}

void EditorPane::createActions()
{
    auto add = [this](const char *objectName, const QString &text, const char *glyph, const QString &hint,
                      void (EditorPane::*command)()) {
        auto *action = new QAction(text, this);
        action->setObjectName(QLatin1String(objectName));
        if (glyph) {
            // A toolbar command: its tooltip is its whole text, "..." included,
            // and its picture stays on the toolbar (menu items have none).
            action->setIcon(icons::glyph(QLatin1String(glyph)));
            action->setIconVisibleInMenu(false);
            action->setToolTip(text);
        }
        action->setStatusTip(hint);
        if (command)
            connect(action, &QAction::triggered, this, command);
        return action;
    };
    // Each tooltip names the command's first key.
    auto setKeys = [this](QAction *action, const QList<QKeySequence> &keys, Qt::ShortcutContext context) {
        action->setShortcuts(keys);
        action->setShortcutContext(context);
        action->setToolTip(
            QStringLiteral("%1 (%2)").arg(action->text(), keys.first().toString(QKeySequence::NativeText)));
        // Keys of the note alone are the editor's own.
        if (context == Qt::WidgetShortcut)
            noteEditor_->addAction(action);
    };
    auto editorCommand = [this](void (QPlainTextEdit::*command)()) {
        return [this, command] {
            noteEditor_->completeText();
            (noteEditor_->*command)();
        };
    };

    saveAllAction_ = add("saveAllAction", QStringLiteral("Сохранить всё"), "save",
                         QStringLiteral("Сохранить всё"), nullptr);
    saveAllAction_->setEnabled(false);
    setKeys(saveAllAction_, keysFor(QKeySequence::Save, {QKeySequence(Qt::CTRL | Qt::Key_S)}),
            Qt::WindowShortcut);

    undoAction_ = add("undoAction", QStringLiteral("Отменить"), "undo", QStringLiteral("Отменить"), nullptr);
    connect(undoAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::undo));
    setKeys(undoAction_, keysFor(QKeySequence::Undo, {QKeySequence(Qt::CTRL | Qt::Key_Z)}),
            Qt::WindowShortcut);
    redoAction_ = add("redoAction", QStringLiteral("Вернуть"), "redo", QStringLiteral("Вернуть"), nullptr);
    connect(redoAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::redo));
    setKeys(redoAction_,
            keysFor(QKeySequence::Redo,
                    {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}),
            Qt::WindowShortcut);

    cutAction_ = add("N3", QStringLiteral("Вырезать"), "cut", QStringLiteral("Вырезать"), nullptr);
    connect(cutAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::cut));
    setKeys(cutAction_, keysFor(QKeySequence::Cut, {QKeySequence(Qt::CTRL | Qt::Key_X)}), Qt::WidgetShortcut);
    copyAction_ = add("N4", QStringLiteral("Копировать"), "copy", QStringLiteral("Копировать"), nullptr);
    connect(copyAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::copy));
    setKeys(copyAction_, keysFor(QKeySequence::Copy, {QKeySequence(Qt::CTRL | Qt::Key_C)}),
            Qt::WidgetShortcut);
    pasteAction_ = add("N5", QStringLiteral("Вставить"), "paste", QStringLiteral("Вставить"), nullptr);
    connect(pasteAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::paste));
    setKeys(pasteAction_, keysFor(QKeySequence::Paste, {QKeySequence(Qt::CTRL | Qt::Key_V)}),
            Qt::WidgetShortcut);
    deleteTextAction_ = add("N11", QStringLiteral("Удалить"), "erase", QStringLiteral("Удалить"),
                            &EditorPane::deleteSelection);
    setKeys(deleteTextAction_, keysFor(QKeySequence::Delete, {QKeySequence(Qt::Key_Delete)}),
            Qt::WidgetShortcut);
    selectAllAction_ = add("N6", QStringLiteral("Выделить всё"), nullptr, QString(), nullptr);
    connect(selectAllAction_, &QAction::triggered, this, editorCommand(&QPlainTextEdit::selectAll));
    setKeys(selectAllAction_, keysFor(QKeySequence::SelectAll, {QKeySequence(Qt::CTRL | Qt::Key_A)}),
            Qt::WidgetShortcut);

    upperCaseAction_ = add("upperCaseAction", QStringLiteral("Все буквы большие"), "upper",
                           QStringLiteral("Все буквы большие"), &EditorPane::upperCase);
    capitalizeAction_
        = add("capitalizeAction", QStringLiteral("Первая буква большая, остальные маленькие"), "capitalise",
              QStringLiteral("Первая буква большая, остальные маленькие"), &EditorPane::capitalize);
    lowerCaseAction_ = add("lowerCaseAction", QStringLiteral("Все буквы маленькие"), "lower",
                           QStringLiteral("Все буквы маленькие"), &EditorPane::lowerCase);
    for (QAction *action : {undoAction_, redoAction_, cutAction_, copyAction_, pasteAction_,
                            deleteTextAction_, upperCaseAction_, capitalizeAction_, lowerCaseAction_})
        action->setEnabled(false);

    settingsToggleAction_ = add("settingsToggleAction", QStringLiteral("Настройка"), "settings",
                                QStringLiteral("Настройка"), nullptr);
    settingsToggleAction_->setCheckable(true);
    aboutToggleAction_ = add("aboutToggleAction", QStringLiteral("О программе..."), "about",
                             QStringLiteral("О программе..."), nullptr);
    aboutToggleAction_->setCheckable(true);

    copyLinkAction_ = add("N8", kCopyLink, nullptr, QString(), &EditorPane::copyLink);
    openLinkAction_ = add("N9", QStringLiteral("Открыть"), nullptr, QString(), &EditorPane::openLink);
    openLinkInNewWindowAction_ = add("N10", QStringLiteral("Открыть в новом окне"), nullptr, QString(),
                                     &EditorPane::openLinkInNewWindow);
    openCaretLinkAction_
        = add("openCaretLinkAction", QStringLiteral("Открыть ссылку"), nullptr,
              QStringLiteral("Открыть ссылку, в которой стоит курсор"), &EditorPane::openLinkAtCaret);
    setKeys(openCaretLinkAction_,
            {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
            Qt::WidgetShortcut);
}

void EditorPane::buildToolbar()
{
    // Groups of buttons side by side, 2 px in from the edges; a narrow pane
    // carries the later groups onto a second row.
    toolbar_ = new ToolbarStrip(30, this);
    toolbar_->setObjectName(QStringLiteral("CoolBar2"));
    QToolBar *group = nullptr;
    auto add = [&group](QAction *action, const char *buttonName, int width) {
        group->addAction(action);
        QWidget *button = group->widgetForAction(action);
        button->setObjectName(QLatin1String(buttonName));
        button->setMinimumSize(width, 25);
    };
    group = toolbar_->addGroup();
    add(saveAllAction_, "SpeedButton3", 25);
    group->addSeparator();
    add(undoAction_, "SpeedButton4", 25);
    add(redoAction_, "SpeedButton5", 25);
    group->addSeparator();
    group = toolbar_->addGroup();
    add(cutAction_, "SpeedButton6", 25);
    add(copyAction_, "SpeedButton7", 25);
    add(pasteAction_, "SpeedButton8", 25);
    add(deleteTextAction_, "SpeedButton12", 25);
    group->addSeparator();
    group = toolbar_->addGroup();
    add(upperCaseAction_, "SpeedButton9", 32);
    add(capitalizeAction_, "SpeedButton18", 32);
    add(lowerCaseAction_, "SpeedButton19", 32);
    group->addSeparator();
    group = toolbar_->addGroup();
    add(settingsToggleAction_, "SpeedButton10", 25);
    add(aboutToggleAction_, "SpeedButton11", 25);
}

void EditorPane::buildContextMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("PopupMenu2"));
    contextMenu_->addActions({cutAction_, copyAction_, pasteAction_, deleteTextAction_, selectAllAction_});
    QAction *separator = contextMenu_->addSeparator();
    separator->setObjectName(QStringLiteral("N7"));
    contextMenu_->addActions({copyLinkAction_, openLinkAction_, openLinkInNewWindowAction_});
    connect(contextMenu_, &QMenu::aboutToShow, this, &EditorPane::contextMenuAboutToShow);
}

void EditorPane::buildPartsBar()
{
    partsBar_ = new QWidget(this);
    partsBar_->setObjectName(QStringLiteral("partsBar"));
    auto *row = new QHBoxLayout(partsBar_);
    row->setContentsMargins(6, 2, 2, 2);
    auto *told = new QLabel(QStringLiteral("Заметка слишком велика для редактирования и показана только "
                                           "для чтения, по частям."),
                            partsBar_);
    told->setWordWrap(true);
    row->addWidget(told, 1);
    partLabel_ = new QLabel(partsBar_);
    row->addWidget(partLabel_);
    auto turn = [this](Qt::ArrowType arrow, const QString &tip, int step) {
        auto *button = new QToolButton(partsBar_);
        button->setArrowType(arrow);
        button->setToolTip(tip);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this,
                [this, step] { noteEditor_->showPart(noteEditor_->part() + step); });
        partsBar_->layout()->addWidget(button);
        return button;
    };
    previousPart_ = turn(Qt::LeftArrow, QStringLiteral("Предыдущая часть (PgUp)"), -1);
    nextPart_ = turn(Qt::RightArrow, QStringLiteral("Следующая часть (PgDn)"), 1);
    partsBar_->hide();
}

void EditorPane::partShown(int index, int count)
{
    partsBar_->setVisible(count > 0);
    if (count == 0)
        return;
    partLabel_->setText(QStringLiteral("Часть %1 из %2").arg(index + 1).arg(count));
    previousPart_->setEnabled(index > 0);
    nextPart_->setEnabled(index + 1 < count);
}

void EditorPane::setPanels(QWidget *settingsPanel, QWidget *aboutPanel)
{
    if (settingsPanel)
        layout_->insertWidget(layout_->indexOf(toolbar_) + 1, settingsPanel);
    if (aboutPanel)
        layout_->insertWidget(layout_->indexOf(noteEditor_) + 1, aboutPanel);
}

void EditorPane::setSelectedNodeProvider(std::function<Node *()> selected)
{
    selectedNode_ = std::move(selected);
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

void EditorPane::showNote(Node *node)
{
    if (!node)
        return;
    try {
        // A note too large to edit is only viewed: nothing of it is stored
        // back, and showing it is no edit.
        const std::optional<RecordView> record = catalog_.records().find(node->caption());
        if (record && NoteEditor::needsParts(record->text)) {
            noteEditor_->showInParts(record->text);
            shownNode_ = node;
            selectionChanged();
            updateUndoRedo();
            return;
        }
        const bool wasInParts = noteEditor_->inParts();
        noteEditor_->endParts();
        // A node without a record shows an empty note rather than the text of
        // the node shown before, which would otherwise be stored under it.
        const QString text = NoteEditor::documentText(record ? record->text : std::string_view());
        if (wasInParts || !noteEditor_->holds(text)) {
            // Reported as a text change; loading alone appends no record. A
            // note put in a slice at a time is reported once it is all in.
            const QScopedValueRollback<bool> loading(loading_, true);
            fillReported_ = attached_;
            noteEditor_->setDocumentText(text); // also starts a fresh undo history
        } else if (node != shownNode_) {
            // The same text under another node: the steps of the note shown
            // before must not be undone into this one.
            noteEditor_->document()->clearUndoRedoStacks();
        }
        shownNode_ = node;
        QTextCursor c = noteEditor_->textCursor();
        c.movePosition(QTextCursor::Start);
        noteEditor_->setTextCursor(c);
        selectionChanged();
        updateUndoRedo();
    } catch (const std::exception &e) {
        msg::showError(window(), e);
    }
}

void EditorPane::attachChangeHandler() { attached_ = true; }

void EditorPane::storeInto(Node *node)
{
    // The record takes the text in its own form, kept current by the mirror;
    // only a node without a record needs the editor text converted whole.
    // Such a node gets its record from its first edit, not from showing its
    // (empty) note.
    if (!catalog_.setRecordText(node, recordMirror_->bytes()) && !loading_)
        catalog_.storeNote(node, fromQ(noteEditor_->noteText()));
}

void EditorPane::textChanged()
{
    if (!attached_ || noteEditor_->inParts() || noteEditor_->filling())
        return;
    try {
        Node *node = selectedNode_ ? selectedNode_() : nullptr;
        if (node)
            storeInto(node);
        else
            msg::show(window(), QMessageBox::Warning, kNoNodeTitle, kNoNodeText, QMessageBox::Ok);
        catalog_.markChanged();
        saveAllAction_->setEnabled(true);
        updateUndoRedo();
        emit edited();
    } catch (const std::exception &e) {
        msg::showError(window(), e);
    }
}

void EditorPane::updateUndoRedo()
{
    undoAction_->setEnabled(!readOnly_ && noteEditor_->document()->isUndoAvailable());
    redoAction_->setEnabled(!readOnly_ && noteEditor_->document()->isRedoAvailable());
}

void EditorPane::setReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    noteEditor_->setCatalogueReadOnly(readOnly);
    updateUndoRedo();
    selectionChanged();
}

void EditorPane::selectionChanged()
{
    const bool any = noteEditor_->textCursor().hasSelection();
    const bool editable = any && !noteEditor_->isReadOnly();
    copyAction_->setEnabled(any);
    for (QAction *action :
         {cutAction_, deleteTextAction_, upperCaseAction_, capitalizeAction_, lowerCaseAction_})
        action->setEnabled(editable);
    updatePasteEnabled();
}

void EditorPane::updatePasteEnabled()
{
    pasteAction_->setEnabled(!noteEditor_->isReadOnly() && noteEditor_->canPaste());
}

// ---- commands ----

void EditorPane::deleteSelection()
{
    noteEditor_->completeText();
    QTextCursor c = noteEditor_->textCursor();
    if (!c.hasSelection() || noteEditor_->isReadOnly())
        return;
    c.removeSelectedText();
    noteEditor_->setTextCursor(c);
}

void EditorPane::replaceSelection(const QString &text)
{
    noteEditor_->completeText();
    QTextCursor c = noteEditor_->textCursor();
    if (noteEditor_->isReadOnly())
        return;
    const int start = c.selectionStart();
    c.beginEditBlock();
    c.insertText(text);
    c.endEditBlock();
    // Block breaks count one character each, as in the selection's text.
    c.setPosition(start);
    c.setPosition(start + int(text.size()), QTextCursor::KeepAnchor);
    noteEditor_->setTextCursor(c);
    noteEditor_->ensureCursorVisible();
}

void EditorPane::upperCase()
{
    const QTextCursor c = noteEditor_->textCursor();
    if (c.hasSelection())
        replaceSelection(upperCased(c.selectedText()));
}

void EditorPane::lowerCase()
{
    const QTextCursor c = noteEditor_->textCursor();
    if (c.hasSelection())
        replaceSelection(lowerCased(c.selectedText()));
}

void EditorPane::capitalize()
{
    if (!noteEditor_->textCursor().hasSelection())
        return;
    lowerCase();
    const QString lowered = noteEditor_->textCursor().selectedText();
    if (lowered.isEmpty())
        return;
    replaceSelection(capitalized(lowered));
}

void EditorPane::setEditorFont(const QString &face, int pointSize)
{
    applyFontFaceAndSize(noteEditor_, face, pointSize);
}

void EditorPane::setEditorColors(const QColor &background, const QColor &text)
{
    applyTextColors(noteEditor_, background, text);
    noteEditor_->setLinkColor(contrast::readableOn(background, QColor(0, 0, 255)));
}

// ---- links ----

void EditorPane::urlClicked(const QString &link, Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        if (settings_ && settings_->linkSingleClick)
            openUrl(link);
        return;
    }
    if (button != Qt::RightButton)
        return;
    linkUnderMenu_ = link;
    const QString shown = captionText(link);
    copyLinkAction_->setText(QStringLiteral("Копировать: ") + shown);
    openLinkAction_->setText(QStringLiteral("Открыть: ") + shown);
    openLinkInNewWindowAction_->setText(QStringLiteral("Открыть в новом окне: ") + shown);
}

void EditorPane::editorMouseDown(Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        forgetMenuLink();
}

void EditorPane::forgetMenuLink()
{
    linkUnderMenu_.clear();
    copyLinkAction_->setText(kCopyLink);
}

void EditorPane::contextMenuAboutToShow()
{
    const bool link = !linkUnderMenu_.isEmpty();
    copyLinkAction_->setEnabled(link);
    openLinkAction_->setVisible(link);
    openLinkInNewWindowAction_->setVisible(link);
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

QString EditorPane::linkAtCaret() const
{
    const int caret = noteEditor_->textCursor().position();
    NoteEditor::LinkRange range = noteEditor_->linkAt(caret);
    if (range.start < 0 && caret > 0)
        range = noteEditor_->linkAt(caret - 1);
    if (range.start < 0)
        return {};
    QTextCursor c(noteEditor_->document());
    c.setPosition(range.start);
    c.setPosition(range.end, QTextCursor::KeepAnchor);
    return c.selectedText();
}

void EditorPane::openLinkAtCaret()
{
    const QString link = linkAtCaret();
    if (!link.isEmpty())
        openUrl(link);
}

void EditorPane::openUrl(const QString &link)
{
    if (urlOpener())
        urlOpener()(link);
    else
        defaultOpen(link);
}

} // namespace qv
