#include "catalog/gui/DATreeView.h"

DATreeView::DATreeView(QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("TreeView1"));
}
