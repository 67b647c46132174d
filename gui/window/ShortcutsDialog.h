// The window's keys, every command with all its keys, in the command
// menu's groups, read from the actions each time the list is shown; the
// field above narrows it to the commands whose name or key holds its text.
#pragma once

#include "gui/window/CommandMenu.h"

#include <QDialog>

class QLineEdit;
class QTreeWidget;

namespace qv {

class ShortcutsDialog : public QDialog { // objectName "shortcutsDialog"
    Q_OBJECT
public:
    ShortcutsDialog(QList<CommandGroup> groups, QWidget *parent = nullptr);

    QLineEdit *filterField() const { return filter_; } // shortcutsFilter
    QTreeWidget *list() const { return list_; }        // shortcutsList: groups, then a row per command
    // The keys of an action as the list shows them.
    static QString keysText(const QAction *action);
    // The command's name without its menu mnemonic or a link it names.
    static QString commandName(const QAction *action);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fill();
    void narrow(const QString &text);

    QList<CommandGroup> groups_;
    QLineEdit *filter_ = nullptr;
    QTreeWidget *list_ = nullptr;
};

} // namespace qv
