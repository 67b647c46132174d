// The outline as a Qt item model. It holds no copy of the data: each index
// points at its Node, and every structural change of the outline reaches the
// views as Qt's begin/end pair through the outline's listener.
#pragma once

#include "catalog/Outline.h"

#include <QAbstractItemModel>

#include <vector>

namespace qv {

class TreeModel : public QAbstractItemModel, public OutlineListener {
    Q_OBJECT
public:
    explicit TreeModel(Outline &outline, QObject *parent = nullptr);
    ~TreeModel() override;

    Outline &outline() const { return outline_; }

    // The index of a node; the outline's top node (or null) gives the invalid index.
    QModelIndex indexFor(const Node *node) const;
    // The node of an index; the invalid index gives the outline's top node.
    Node *nodeFor(const QModelIndex &index) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Renaming goes through the window's rename handler, never through here.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // OutlineListener
    void aboutToInsert(Node *parent, size_t row, size_t count) override;
    void inserted() override;
    void aboutToRemove(Node *parent, size_t row, size_t count) override;
    void removed() override;
    void aboutToMove(Node *srcParent, size_t srcRow, Node *dstParent, size_t dstRow) override;
    void moved() override;
    void aboutToReset() override;
    void reset() override;
    void changed(Node *node) override;

private:
    // What aboutToMove started, so moved() finishes the same thing.
    enum class MoveKind { Move, Nothing, Reset };

    Outline &outline_;
    std::vector<MoveKind> moves_;
};

} // namespace qv
