#pragma once
// The item model through which TVirtualTreeView shows a TVirtualStringTree. It keeps a mirror of
// what the view knows: for each parent whose rows the view has asked for, the list of its visible
// children. While the tree is frozen (in update, or its end not yet taken over) the model answers
// from the mirror alone and reads nothing of the nodes; TVirtualTreeView::Resync brings the mirror
// up to date with the changes the tree recorded. Main thread only.
#include "platform/VirtualStringTree.h"

#include <QAbstractItemModel>

#include <memory>
#include <unordered_map>
#include <vector>

class TVirtualTreeModel : public QAbstractItemModel
{
public:
    // The raw TCheckState of a row with a check box (int), beside Qt::CheckStateRole.
    static constexpr int CheckStateValueRole = Qt::UserRole + 1;

    explicit TVirtualTreeModel(TVirtualStringTree *Tree, QObject *Parent = nullptr);
    ~TVirtualTreeModel() override;

    TVirtualStringTree *Tree() const { return FTree; }
    // The tree is going away: the model empties and stays empty.
    void DetachTree();

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QModelIndex sibling(int row, int column, const QModelIndex &idx) const override;

    // The node of a row, from the mirror (a node flagged vsDeleted may come back until the view has
    // taken the update's end over).
    PVirtualNode NodeOf(const QModelIndex &Index) const;
    // The index of a visible node, making the mirror of every parent on the way. Invalid for the
    // root, a hidden node or one below a hidden node. Not while the tree is frozen.
    QModelIndex IndexOf(PVirtualNode Node, int Column = 0);
    // The index of a visible node whose parent's rows the view already knows; makes no mirror.
    QModelIndex ExistingIndexOf(PVirtualNode Node) const;
    // Visible children of Node (the root for the top level) as the view knows them, made when missing
    // (null while frozen), and the index of one of them.
    const std::vector<PVirtualNode> *RowsOf(PVirtualNode Node);
    QModelIndex ChildIndex(PVirtualNode Parent, int Row) const;
    // Whether something was answered by a guess while the tree was frozen; clears the mark.
    bool TakeStale();

    // Changes made outside updates, as the tree reports them.
    void NodeAdded(PVirtualNode Node);
    void NodeRemoving(PVirtualNode Node);
    void ChildrenRemoving(PVirtualNode Parent);
    void NodeVisibilityChanged(PVirtualNode Node);
    void Sorted();
    void ChildrenSorted(PVirtualNode Parent, const std::vector<PVirtualNode> &Order);
    void ColumnsChanged();

    // Takes over the structural changes of an update. Returns true when the model was reset as a
    // whole; otherwise Rebuilt holds the parents whose rows were all taken anew.
    bool Apply(const TVirtualTreeChanges &Changes, std::vector<PVirtualNode> &Rebuilt);

private:
    // What the view knows of one parent's children.
    struct TMirror
    {
        PVirtualNode Node = nullptr;
        TMirror *Parent = nullptr; // null for the top level
        int Row = -1;              // Node's row in Parent
        std::vector<PVirtualNode> Rows;
        std::vector<TMirror *> Children; // mirrors of some of Rows
        uint64_t Serial = 0;             // order of making
    };

    bool Frozen() const;
    TMirror *Find(PVirtualNode Node) const;
    // A new mirror of Node's visible children (null while frozen).
    TMirror *MakeMirror(PVirtualNode Node, TMirror *Parent, int Row) const;
    TMirror *TopMirror(bool Create) const;
    TMirror *ChildMirror(TMirror *Parent, int Row, bool Create) const;
    void FillRows(TMirror *M) const;
    QModelIndex IndexOfMirror(const TMirror *M) const;
    static int RowOf(const TMirror *M, PVirtualNode Node);
    void DropChildMirrors(TMirror *M);
    void DropMirror(TMirror *M);
    void ShiftRows(TMirror *M, int From, int Delta);
    void InsertRows(TMirror *M, int Row, const std::vector<PVirtualNode> &Nodes);
    void RemoveRow(TMirror *M, int Row);
    void RebuildRows(TMirror *M);
    void ResetAll();

    TVirtualStringTree *FTree;
    mutable std::unordered_map<PVirtualNode, std::unique_ptr<TMirror>> FMirrors;
    mutable TMirror *FLastFound = nullptr;
    mutable uint64_t FSerial = 0;
    mutable bool FStale = false;
};
