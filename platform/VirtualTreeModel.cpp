#include "platform/VirtualTreeModel.h"

#include "platform/ImageList.h"

#include <QBrush>
#include <QIcon>

#include <algorithm>

namespace {

using TLock = std::unique_lock<std::recursive_mutex>;

Qt::CheckState ToQtCheckState(TCheckState s)
{
    switch (s) {
    case csCheckedNormal:
    case csCheckedPressed:
        return Qt::Checked;
    case csMixedNormal:
    case csMixedPressed:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace

TVirtualTreeModel::TVirtualTreeModel(TVirtualStringTree *Tree, QObject *Parent)
    : QAbstractItemModel(Parent), FTree(Tree)
{
}

TVirtualTreeModel::~TVirtualTreeModel() = default;

void TVirtualTreeModel::DetachTree()
{
    beginResetModel();
    FMirrors.clear();
    FLastFound = nullptr;
    FTree = nullptr;
    endResetModel();
}

bool TVirtualTreeModel::Frozen() const
{
    if (FTree->ViewFrozen()) {
        FStale = true;
        return true;
    }
    return false;
}

bool TVirtualTreeModel::TakeStale()
{
    const bool stale = FStale;
    FStale = false;
    return stale;
}

TVirtualTreeModel::TMirror *TVirtualTreeModel::Find(PVirtualNode Node) const
{
    if (FLastFound && FLastFound->Node == Node)
        return FLastFound;
    auto it = FMirrors.find(Node);
    if (it == FMirrors.end())
        return nullptr;
    FLastFound = it->second.get();
    return FLastFound;
}

void TVirtualTreeModel::FillRows(TMirror *M) const
{
    M->Rows.clear();
    M->Rows.reserve(M->Node->ChildCount);
    for (PVirtualNode c = M->Node->FirstChild; c; c = c->NextSibling)
        if (c->States & vsVisible)
            M->Rows.push_back(c);
}

TVirtualTreeModel::TMirror *TVirtualTreeModel::MakeMirror(PVirtualNode Node, TMirror *Parent, int Row) const
{
    TLock lock(FTree->ViewLock());
    if (Frozen())
        return nullptr;
    auto owned = std::make_unique<TMirror>();
    TMirror *m = owned.get();
    m->Node = Node;
    m->Parent = Parent;
    m->Row = Row;
    m->Serial = ++FSerial;
    FillRows(m);
    if (Parent)
        Parent->Children.push_back(m);
    FMirrors.emplace(Node, std::move(owned));
    return m;
}

TVirtualTreeModel::TMirror *TVirtualTreeModel::TopMirror(bool Create) const
{
    if (!FTree)
        return nullptr;
    TMirror *m = Find(FTree->RootNode());
    return m || !Create ? m : MakeMirror(FTree->RootNode(), nullptr, -1);
}

TVirtualTreeModel::TMirror *TVirtualTreeModel::ChildMirror(TMirror *Parent, int Row, bool Create) const
{
    if (!Parent || Row < 0 || Row >= static_cast<int>(Parent->Rows.size()))
        return nullptr;
    PVirtualNode node = Parent->Rows[static_cast<size_t>(Row)];
    TMirror *m = Find(node);
    return m || !Create ? m : MakeMirror(node, Parent, Row);
}

QModelIndex TVirtualTreeModel::IndexOfMirror(const TMirror *M) const
{
    return M && M->Parent ? createIndex(M->Row, 0, M->Parent) : QModelIndex();
}

int TVirtualTreeModel::RowOf(const TMirror *M, PVirtualNode Node)
{
    // Rows keep the order of the siblings, so their indexes ascend.
    auto it = std::lower_bound(M->Rows.begin(), M->Rows.end(), Node->Index,
                               [](PVirtualNode a, uint32_t i) { return a->Index < i; });
    return it != M->Rows.end() && *it == Node ? static_cast<int>(it - M->Rows.begin()) : -1;
}

QModelIndex TVirtualTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!FTree || row < 0 || column < 0 || column >= columnCount())
        return QModelIndex();
    TMirror *m;
    if (!parent.isValid()) {
        m = TopMirror(true);
    } else {
        if (parent.column() != 0 || parent.model() != this)
            return QModelIndex();
        m = ChildMirror(static_cast<TMirror *>(parent.internalPointer()), parent.row(), true);
    }
    if (!m || row >= static_cast<int>(m->Rows.size()))
        return QModelIndex();
    return createIndex(row, column, m);
}

QModelIndex TVirtualTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || !FTree)
        return QModelIndex();
    return IndexOfMirror(static_cast<TMirror *>(child.internalPointer()));
}

int TVirtualTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!FTree)
        return 0;
    TMirror *m;
    if (!parent.isValid()) {
        m = TopMirror(true);
    } else {
        if (parent.column() != 0)
            return 0;
        m = ChildMirror(static_cast<TMirror *>(parent.internalPointer()), parent.row(), true);
    }
    return m ? static_cast<int>(m->Rows.size()) : 0;
}

int TVirtualTreeModel::columnCount(const QModelIndex &) const
{
    return FTree ? std::max(1, FTree->Header.ColumnCount()) : 1;
}

bool TVirtualTreeModel::hasChildren(const QModelIndex &parent) const
{
    if (!FTree)
        return false;
    if (!parent.isValid())
        return rowCount(parent) > 0;
    if (parent.column() != 0)
        return false;
    auto *pm = static_cast<TMirror *>(parent.internalPointer());
    if (parent.row() >= static_cast<int>(pm->Rows.size()))
        return false;
    PVirtualNode node = pm->Rows[static_cast<size_t>(parent.row())];
    TMirror *m = Find(node);
    if (m && !m->Rows.empty())
        return true;
    TLock lock(FTree->ViewLock());
    if (Frozen())
        return false;
    return (node->States & vsHasChildren) != 0;
}

QModelIndex TVirtualTreeModel::sibling(int row, int column, const QModelIndex &idx) const
{
    if (!idx.isValid() || !FTree || row < 0 || column < 0 || column >= columnCount())
        return QModelIndex();
    auto *m = static_cast<TMirror *>(idx.internalPointer());
    if (row >= static_cast<int>(m->Rows.size()))
        return QModelIndex();
    return createIndex(row, column, m);
}

PVirtualNode TVirtualTreeModel::NodeOf(const QModelIndex &Index) const
{
    if (!FTree || !Index.isValid() || Index.model() != this)
        return nullptr;
    auto *m = static_cast<TMirror *>(Index.internalPointer());
    return Index.row() < static_cast<int>(m->Rows.size()) ? m->Rows[static_cast<size_t>(Index.row())]
                                                          : nullptr;
}

QVariant TVirtualTreeModel::data(const QModelIndex &index, int role) const
{
    if (!FTree || !index.isValid())
        return QVariant();
    TLock lock(FTree->ViewLock());
    if (Frozen())
        return QVariant();
    PVirtualNode node = NodeOf(index);
    if (!node || (node->States & vsDeleted))
        return QVariant();
    const int columns = FTree->Header.ColumnCount();
    const int column = columns == 0 ? NoColumn : index.column();
    const bool main = index.column() == 0;
    try {
        switch (role) {
        case Qt::DisplayRole: {
            QString text;
            if (FTree->OnGetText)
                FTree->OnGetText(FTree, node, column, ttNormal, text);
            return text;
        }
        case Qt::DecorationRole: {
            TImageList *images = FTree->Images();
            if (!images || !FTree->OnGetImageIndex)
                return QVariant();
            bool ghosted = false;
            int image = -1;
            FTree->OnGetImageIndex(FTree, node, (node->States & vsSelected) ? ikSelected : ikNormal, column,
                                   ghosted, image);
            if (image < 0)
                return QVariant();
            QIcon icon = images->Icon(image);
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        case Qt::CheckStateRole:
            if (!main || node->CheckType == ctNone)
                return QVariant();
            return int(ToQtCheckState(node->CheckState));
        case CheckStateValueRole:
            if (!main || node->CheckType == ctNone)
                return QVariant();
            return int(node->CheckState);
        case Qt::TextAlignmentRole:
            if (column < 0)
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            return int(FTree->Header.Column(column).Alignment | Qt::AlignVCenter);
        case Qt::BackgroundRole:
            if (column < 0 || FTree->Header.Column(column).ParentColor)
                return QVariant();
            return QBrush(FTree->Header.Column(column).Color);
        default:
            return QVariant();
        }
    } catch (...) {
        // A handler's failure shows as an empty cell; it must not unwind through Qt's painting.
        return QVariant();
    }
}

Qt::ItemFlags TVirtualTreeModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant TVirtualTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!FTree || orientation != Qt::Horizontal || section < 0 || section >= FTree->Header.ColumnCount())
        return QVariant();
    const TVirtualTreeColumn &c = FTree->Header.Column(section);
    if (role == Qt::DisplayRole)
        return c.Text;
    if (role == Qt::TextAlignmentRole)
        return int(c.Alignment | Qt::AlignVCenter);
    return QVariant();
}

QModelIndex TVirtualTreeModel::IndexOf(PVirtualNode Node, int Column)
{
    if (!FTree || !Node || Node == FTree->RootNode())
        return QModelIndex();
    TLock lock(FTree->ViewLock());
    if (FTree->ViewFrozen() || (Node->States & vsDeleted))
        return QModelIndex();
    std::vector<PVirtualNode> path;
    for (PVirtualNode n = Node; n && n != FTree->RootNode(); n = n->Parent) {
        if (!(n->States & vsVisible))
            return QModelIndex();
        path.push_back(n);
    }
    TMirror *m = TopMirror(true);
    for (size_t i = path.size(); m && i-- > 0;) {
        const int row = RowOf(m, path[i]);
        if (row < 0)
            return QModelIndex();
        if (i == 0)
            return createIndex(row, Column, m);
        m = ChildMirror(m, row, true);
    }
    return QModelIndex();
}

QModelIndex TVirtualTreeModel::ExistingIndexOf(PVirtualNode Node) const
{
    if (!FTree || !Node || Node == FTree->RootNode() || (Node->States & vsDeleted))
        return QModelIndex();
    const TMirror *m = Find(Node->Parent);
    const int row = m ? RowOf(m, Node) : -1;
    return row >= 0 ? createIndex(row, 0, const_cast<TMirror *>(m)) : QModelIndex();
}

QModelIndex TVirtualTreeModel::ChildIndex(PVirtualNode Parent, int Row) const
{
    const TMirror *m = Find(Parent);
    if (!m || Row < 0 || Row >= static_cast<int>(m->Rows.size()))
        return QModelIndex();
    return createIndex(Row, 0, const_cast<TMirror *>(m));
}

const std::vector<PVirtualNode> *TVirtualTreeModel::RowsOf(PVirtualNode Node)
{
    if (!FTree || !Node)
        return nullptr;
    TMirror *m = nullptr;
    if (Node == FTree->RootNode()) {
        m = TopMirror(true);
    } else {
        QModelIndex i = IndexOf(Node);
        if (i.isValid())
            m = ChildMirror(static_cast<TMirror *>(i.internalPointer()), i.row(), true);
    }
    return m ? &m->Rows : nullptr;
}

void TVirtualTreeModel::DropChildMirrors(TMirror *M)
{
    for (TMirror *c : M->Children) {
        DropChildMirrors(c);
        if (FLastFound == c)
            FLastFound = nullptr;
        FMirrors.erase(c->Node);
    }
    M->Children.clear();
}

void TVirtualTreeModel::DropMirror(TMirror *M)
{
    DropChildMirrors(M);
    if (M->Parent) {
        auto &siblings = M->Parent->Children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), M), siblings.end());
    }
    if (FLastFound == M)
        FLastFound = nullptr;
    FMirrors.erase(M->Node);
}

void TVirtualTreeModel::ShiftRows(TMirror *M, int From, int Delta)
{
    for (TMirror *c : M->Children)
        if (c->Row >= From)
            c->Row += Delta;
}

void TVirtualTreeModel::InsertRows(TMirror *M, int Row, const std::vector<PVirtualNode> &Nodes)
{
    if (Nodes.empty())
        return;
    beginInsertRows(IndexOfMirror(M), Row, Row + static_cast<int>(Nodes.size()) - 1);
    ShiftRows(M, Row, static_cast<int>(Nodes.size()));
    M->Rows.insert(M->Rows.begin() + Row, Nodes.begin(), Nodes.end());
    endInsertRows();
}

void TVirtualTreeModel::RemoveRow(TMirror *M, int Row)
{
    beginRemoveRows(IndexOfMirror(M), Row, Row);
    if (TMirror *c = Find(M->Rows[static_cast<size_t>(Row)]))
        DropMirror(c);
    M->Rows.erase(M->Rows.begin() + Row);
    ShiftRows(M, Row, -1);
    endRemoveRows();
}

void TVirtualTreeModel::RebuildRows(TMirror *M)
{
    const QModelIndex parent = IndexOfMirror(M);
    if (!M->Rows.empty()) {
        beginRemoveRows(parent, 0, static_cast<int>(M->Rows.size()) - 1);
        DropChildMirrors(M);
        std::vector<PVirtualNode>().swap(M->Rows);
        endRemoveRows();
    }
    TMirror fresh;
    fresh.Node = M->Node;
    FillRows(&fresh);
    if (!fresh.Rows.empty()) {
        beginInsertRows(parent, 0, static_cast<int>(fresh.Rows.size()) - 1);
        M->Rows = std::move(fresh.Rows);
        endInsertRows();
    }
}

void TVirtualTreeModel::ResetAll()
{
    beginResetModel();
    FMirrors.clear();
    FLastFound = nullptr;
    endResetModel();
}

void TVirtualTreeModel::NodeAdded(PVirtualNode Node)
{
    TMirror *m = Find(Node->Parent);
    if (m && (Node->States & vsVisible))
        InsertRows(m, static_cast<int>(m->Rows.size()), {Node});
}

void TVirtualTreeModel::NodeRemoving(PVirtualNode Node)
{
    TMirror *m = Find(Node->Parent);
    if (!m)
        return;
    const int row = RowOf(m, Node);
    if (row >= 0)
        RemoveRow(m, row);
}

void TVirtualTreeModel::ChildrenRemoving(PVirtualNode Parent)
{
    TMirror *m = Find(Parent);
    if (!m || m->Rows.empty())
        return;
    beginRemoveRows(IndexOfMirror(m), 0, static_cast<int>(m->Rows.size()) - 1);
    DropChildMirrors(m);
    std::vector<PVirtualNode>().swap(m->Rows); // a million rows once need not stay reserved
    endRemoveRows();
}

void TVirtualTreeModel::NodeVisibilityChanged(PVirtualNode Node)
{
    TMirror *m = Find(Node->Parent);
    if (!m)
        return;
    if (Node->States & vsVisible) {
        auto it = std::lower_bound(m->Rows.begin(), m->Rows.end(), Node->Index,
                                   [](PVirtualNode a, uint32_t i) { return a->Index < i; });
        InsertRows(m, static_cast<int>(it - m->Rows.begin()), {Node});
    } else {
        const int row = RowOf(m, Node);
        if (row >= 0)
            RemoveRow(m, row);
    }
}

void TVirtualTreeModel::Sorted()
{
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    std::vector<PVirtualNode> nodes;
    nodes.reserve(static_cast<size_t>(from.size()));
    for (const QModelIndex &i : from)
        nodes.push_back(NodeOf(i));
    for (auto &entry : FMirrors)
        FillRows(entry.second.get());
    for (auto &entry : FMirrors) {
        TMirror *m = entry.second.get();
        if (m->Parent)
            m->Row = RowOf(m->Parent, m->Node);
    }
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i) {
        auto *m = static_cast<TMirror *>(from[i].internalPointer());
        const int row = nodes[static_cast<size_t>(i)] ? RowOf(m, nodes[static_cast<size_t>(i)]) : -1;
        to.append(row >= 0 ? createIndex(row, from[i].column(), m) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged();
}

void TVirtualTreeModel::ChildrenSorted(PVirtualNode Parent, const std::vector<PVirtualNode> &Order)
{
    TMirror *m = Find(Parent);
    if (!m)
        return; // the view never asked for these rows
    Q_EMIT layoutAboutToBeChanged({}, VerticalSortHint);
    // Only the persistent indexes of Parent's rows move; their nodes are read before the rows change.
    QModelIndexList from;
    std::vector<PVirtualNode> nodes;
    for (const QModelIndex &i : persistentIndexList())
        if (i.internalPointer() == m) {
            from.append(i);
            nodes.push_back(NodeOf(i));
        }
    // The rows take the new order as it comes when every child is visible, without reading the nodes.
    if (m->Rows.size() == Order.size()) {
        m->Rows = Order;
    } else {
        m->Rows.clear();
        for (PVirtualNode c : Order)
            if (c->States & vsVisible)
                m->Rows.push_back(c);
    }
    for (TMirror *c : m->Children)
        c->Row = RowOf(m, c->Node);
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i) {
        const int row = nodes[static_cast<size_t>(i)] ? RowOf(m, nodes[static_cast<size_t>(i)]) : -1;
        to.append(row >= 0 ? createIndex(row, from[i].column(), m) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, VerticalSortHint);
}

void TVirtualTreeModel::ColumnsChanged()
{
    ResetAll();
}

bool TVirtualTreeModel::Apply(const TVirtualTreeChanges &Changes, std::vector<PVirtualNode> &Rebuilt)
{
    struct TItem
    {
        PVirtualNode Node;
        PVirtualNode FirstAdded;
        int Level;
    };
    std::vector<TItem> items;
    for (const auto &p : Changes.Parents)
        if (!(p.Node->States & vsDeleted))
            items.push_back({p.Node, p.FirstAdded, FTree->GetNodeLevel(p.Node)});
    // Parents before their children: a parent taken anew drops the mirrors below it.
    std::stable_sort(items.begin(), items.end(),
                     [](const TItem &a, const TItem &b) { return a.Level < b.Level; });
    // A mirror made while this runs (by whoever answers the signals) already holds the tree's new state.
    const uint64_t made = FSerial;
    for (const TItem &item : items) {
        TMirror *m = Find(item.Node);
        if (!m || m->Serial > made)
            continue; // the view never asked for these children, or has them already
        if (item.Node->States & vsChildrenChanged) {
            // The top level too: a reset would also make the header measure its sections anew.
            RebuildRows(m);
            Rebuilt.push_back(item.Node);
        } else {
            std::vector<PVirtualNode> added;
            for (PVirtualNode c = item.FirstAdded; c; c = c->NextSibling)
                if (c->States & vsVisible)
                    added.push_back(c);
            InsertRows(m, static_cast<int>(m->Rows.size()), added);
        }
    }
    return false;
}
