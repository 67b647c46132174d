#include "editor/EditorPane.h"

#include "catalog/Catalog.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

EditorPane::EditorPane(qv::Catalog &catalog, QWidget *parent) : QWidget(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("Panel2"));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    save_ = new QToolButton(this);
    save_->setObjectName(QStringLiteral("SpeedButton3"));
    save_->setEnabled(false);
    settings_ = new QToolButton(this);
    settings_->setObjectName(QStringLiteral("SpeedButton10"));
    settings_->setCheckable(true);
    about_ = new QToolButton(this);
    about_->setObjectName(QStringLiteral("SpeedButton11"));
    about_->setCheckable(true);
    editor_ = new NoteEditor(this);
    layout_->addWidget(editor_, 1);
    menu_ = new QMenu(this);
}
EditorPane::~EditorPane() = default;
NoteEditor *EditorPane::editor() const { return editor_; }
QAbstractButton *EditorPane::saveButton() const { return save_; }
QAbstractButton *EditorPane::settingsButton() const { return settings_; }
QAbstractButton *EditorPane::aboutButton() const { return about_; }
void EditorPane::setPanels(QWidget *settingsPanel, QWidget *aboutPanel)
{
    layout_->insertWidget(0, settingsPanel);
    layout_->addWidget(aboutPanel);
}
void EditorPane::setSelectedNodeProvider(std::function<qv::Node *()> selected) { selected_ = std::move(selected); }
void EditorPane::setLinkOption(std::function<bool()> o) { linkOption_ = std::move(o); }
void EditorPane::showNote(qv::Node *) {}
void EditorPane::attachChangeHandler() { attached_ = true; }
void EditorPane::updatePasteEnabled() {}
void EditorPane::setEditorFont(const QString &, int) {}
void EditorPane::setEditorColors(const QColor &, const QColor &) {}
void EditorPane::flushNote() {}
void EditorPane::setUrlOpener(std::function<void(const QString &)>) {}
void EditorPane::setBrowserStarter(std::function<void(const QString &, const QString &)>) {}
QToolButton *EditorPane::button(const QString &name) const { return findChild<QToolButton *>(name); }
QAction *EditorPane::action(const QString &name) const { return findChild<QAction *>(name); }
void EditorPane::buildToolbar() {}
void EditorPane::buildMenu() {}
void EditorPane::textChanged() {}
void EditorPane::selectionChanged() {}
void EditorPane::undo() {}
void EditorPane::redo() {}
void EditorPane::cut() {}
void EditorPane::copy() {}
void EditorPane::paste() {}
void EditorPane::deleteSelection() {}
void EditorPane::selectAll() {}
void EditorPane::upperCase() {}
void EditorPane::capitalise() {}
void EditorPane::lowerCase() {}
void EditorPane::replaceSelection(const QString &) {}
void EditorPane::urlClicked(const QString &, Qt::MouseButton) {}
void EditorPane::editorMouseDown(Qt::MouseButton) {}
void EditorPane::menuAboutToShow() {}
void EditorPane::copyLink() {}
void EditorPane::openLink() {}
void EditorPane::openLinkInNewWindow() {}
void EditorPane::openUrl(const QString &) {}
