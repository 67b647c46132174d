#include "gui/window/ConflictBar.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreePane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv {

namespace {

QString conflictText(const merge::Conflict &c)
{
    using Kind = merge::Conflict::Kind;
    const QString other = toQ(c.other);
    switch (c.kind) {
    case Kind::Note:
        return QStringLiteral(u"заметку правили с обеих сторон, в ней оставлены обе версии");
    case Kind::Caption:
        return QStringLiteral(u"переименован с обеих сторон, имя «%1» не взято").arg(other);
    case Kind::Icon:
        return QStringLiteral(u"значок задан с обеих сторон, значок %1 не взят").arg(other);
    case Kind::Place:
        return QStringLiteral(u"перемещён с обеих сторон, место под «%1» не взято").arg(other);
    case Kind::Created:
        return QStringLiteral(u"«%1» создан с обеих сторон с разными заметками, один переименован")
            .arg(other);
    }
    return {};
}

QString pathText(const std::vector<Bytes> &path)
{
    QStringList captions;
    for (const Bytes &caption : path)
        captions << toQ(caption);
    return captions.join(QStringLiteral(" / "));
}

QToolButton *barButton(QWidget *parent, const char *name, const QString &text, const QString &tip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

ConflictBar::ConflictBar(Catalog &catalog, TreePane &pane) : QFrame(&pane), catalog_(catalog), pane_(pane)
{
    setObjectName(QStringLiteral("conflictBar"));
    setFrameShape(QFrame::StyledPanel);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("conflictText"));
    label_->setWordWrap(true);
    prev_ = barButton(this, "conflictPrevious", QStringLiteral(u"◀"),
                      QStringLiteral(u"Предыдущее расхождение"));
    next_ = barButton(this, "conflictNext", QStringLiteral(u"▶"), QStringLiteral(u"Следующее расхождение"));
    close_ = barButton(this, "conflictClose", QStringLiteral(u"✕"), QStringLiteral(u"Закрыть"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 2, 2);
    row->addWidget(label_, 1);
    row->addWidget(prev_);
    row->addWidget(next_);
    row->addWidget(close_);
    connect(prev_, &QToolButton::clicked, this, &ConflictBar::previous);
    connect(next_, &QToolButton::clicked, this, &ConflictBar::next);
    connect(close_, &QToolButton::clicked, this, &QWidget::hide);
    hide();
    // Just above the tree, below the find bar.
    if (auto *layout = qobject_cast<QVBoxLayout *>(pane.layout()))
        layout->insertWidget(layout->indexOf(pane.tree()), this);
}

void ConflictBar::showConflicts(std::vector<merge::Conflict> conflicts)
{
    if (conflicts.empty())
        return;
    conflicts_ = std::move(conflicts);
    show();
    step(0);
}

void ConflictBar::next() { step(conflicts_.empty() ? 0 : (current_ + 1) % conflicts_.size()); }

void ConflictBar::previous()
{
    step(conflicts_.empty() ? 0 : (current_ + conflicts_.size() - 1) % conflicts_.size());
}

void ConflictBar::step(size_t to)
{
    if (conflicts_.empty())
        return;
    current_ = to;
    const merge::Conflict &c = conflicts_[current_];
    label_->setText(QStringLiteral(u"Слияние с версией другой программы: расхождений %1. %2 из %3: %4 — %5")
                        .arg(conflicts_.size())
                        .arg(current_ + 1)
                        .arg(conflicts_.size())
                        .arg(conflictText(c), pathText(c.path)));
    if (Node *node = nodeAt(c.path))
        pane_.selectNode(node);
}

Node *ConflictBar::nodeAt(const std::vector<Bytes> &path) const
{
    Node *at = catalog_.outline().top();
    for (const Bytes &caption : path) {
        Node *found = nullptr;
        for (size_t i = 0; i < at->childCount() && !found; ++i)
            if (at->child(i)->caption() == caption)
                found = at->child(i);
        if (!found)
            return nullptr;
        at = found;
    }
    return at == catalog_.outline().top() ? nullptr : at;
}

} // namespace qv
