#include "gui/window/ShortcutsDialog.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qv {

ShortcutsDialog::ShortcutsDialog(QList<CommandGroup> groups, QWidget *parent)
    : QDialog(parent), groups_(std::move(groups))
{
    setObjectName(QStringLiteral("shortcutsDialog"));
    setWindowTitle(QStringLiteral(u"Сочетания клавиш"));
    auto *layout = new QVBoxLayout(this);
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("shortcutsFilter"));
    filter_->setPlaceholderText(QStringLiteral(u"Найти команду или клавишу"));
    filter_->setClearButtonEnabled(true);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("shortcutsList"));
    list_->setHeaderLabels({QStringLiteral(u"Команда"), QStringLiteral(u"Клавиши")});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list_->header()->setStretchLastSection(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(filter_);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    connect(filter_, &QLineEdit::textChanged, this, &ShortcutsDialog::narrow);
    resize(560, 560);
    fill();
}

QString ShortcutsDialog::keysText(const QAction *action)
{
    QStringList keys;
    for (const QKeySequence &key : action->shortcuts())
        keys << key.toString(QKeySequence::NativeText);
    return keys.join(QStringLiteral(", "));
}

QString ShortcutsDialog::commandName(const QAction *action)
{
    // A history command names its step after ": " (the menus show it);
    // the list names the command alone.
    QString name = action->text();
    const QString hint = action->statusTip();
    if (!hint.isEmpty() && name.startsWith(hint + QLatin1Char(':')))
        name = hint;
    name.remove(QLatin1Char('&'));
    return name;
}

void ShortcutsDialog::showEvent(QShowEvent *event)
{
    // The keys and names as they are now.
    fill();
    QDialog::showEvent(event);
    filter_->setFocus(Qt::OtherFocusReason);
}

void ShortcutsDialog::fill()
{
    list_->clear();
    QSet<const QAction *> listed;
    for (const CommandGroup &group : std::as_const(groups_)) {
        auto *head = new QTreeWidgetItem(list_, {group.title});
        QFont bold = head->font(0);
        bold.setBold(true);
        head->setFont(0, bold);
        head->setFirstColumnSpanned(true);
        for (const QAction *a : group.actions) {
            if (listed.contains(a))
                continue;
            listed.insert(a);
            auto *row = new QTreeWidgetItem(head, {commandName(a), keysText(a)});
            row->setToolTip(0, row->text(0));
        }
    }
    list_->expandAll();
    narrow(filter_->text());
}

void ShortcutsDialog::narrow(const QString &text)
{
    const QString wanted = text.trimmed();
    for (int g = 0; g < list_->topLevelItemCount(); ++g) {
        QTreeWidgetItem *head = list_->topLevelItem(g);
        int shown = 0;
        for (int i = 0; i < head->childCount(); ++i) {
            QTreeWidgetItem *row = head->child(i);
            const bool match = wanted.isEmpty() || row->text(0).contains(wanted, Qt::CaseInsensitive)
                || row->text(1).contains(wanted, Qt::CaseInsensitive);
            row->setHidden(!match);
            shown += match ? 1 : 0;
        }
        head->setHidden(shown == 0);
    }
}

} // namespace qv
