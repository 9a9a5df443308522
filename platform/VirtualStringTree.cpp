#include "platform/VirtualStringTree.h"

#include <algorithm>

namespace {

bool IsCheckedState(TCheckState s)
{
    return s == csCheckedNormal || s == csCheckedPressed;
}
bool IsMixedState(TCheckState s)
{
    return s == csMixedNormal || s == csMixedPressed;
}

// The next node of Top's subtree in pre-order after Node, or null; skips Node's children unless Descend.
PVirtualNode NextInSubtree(PVirtualNode Top, PVirtualNode Node, bool Descend = true)
{
    if (Descend && Node->FirstChild)
        return Node->FirstChild;
    while (Node != Top && !Node->NextSibling)
        Node = Node->Parent;
    return Node == Top ? nullptr : Node->NextSibling;
}

// Node and its descendants, pre-order.
template <class F> void ForSubtree(PVirtualNode Node, F &&Fn)
{
    Fn(Node);
    for (PVirtualNode n = Node->FirstChild ? Node->FirstChild : nullptr; n; n = NextInSubtree(Node, n))
        Fn(n);
}

// Node's descendants and then Node, children before their parents.
template <class F> void ForSubtreePostOrder(PVirtualNode Node, F &&Fn)
{
    PVirtualNode n = Node;
    while (n->FirstChild)
        n = n->FirstChild;
    for (;;) {
        PVirtualNode next = nullptr;
        if (n != Node) {
            if (n->NextSibling) {
                next = n->NextSibling;
                while (next->FirstChild)
                    next = next->FirstChild;
            } else {
                next = n->Parent;
            }
        }
        Fn(n); // may free n: nothing of it is read afterwards
        if (!next)
            return;
        n = next;
    }
}

} // namespace

// ---- Header ----

int TVTHeader::AddColumn(const QString &Text, int Width, Qt::Alignment Alignment)
{
    TVirtualTreeColumn c;
    c.Text = Text;
    c.Width = Width;
    c.Alignment = Alignment;
    FColumns.push_back(c);
    Changed(true);
    return ColumnCount() - 1;
}

void TVTHeader::SetColumnText(int i, const QString &Text)
{
    FColumns.at(static_cast<size_t>(i)).Text = Text;
    Changed(false);
}

void TVTHeader::SetColumnWidth(int i, int Width)
{
    FColumns.at(static_cast<size_t>(i)).Width = Width;
    Changed(false);
}

void TVTHeader::SetColumnColor(int i, const QColor &Color)
{
    auto &c = FColumns.at(static_cast<size_t>(i));
    c.Color = Color;
    c.ParentColor = false;
    Changed(false);
}

void TVTHeader::SetColumnParentColor(int i, bool ParentColor)
{
    FColumns.at(static_cast<size_t>(i)).ParentColor = ParentColor;
    Changed(false);
}

void TVTHeader::SetSortColumn(int Column)
{
    FSortColumn = Column < 0 || Column >= ColumnCount() ? NoColumn : Column;
    Changed(false);
}

void TVTHeader::SetSortDirection(TSortDirection Direction)
{
    FSortDirection = Direction;
    Changed(false);
}

void TVTHeader::SetVisible(bool Visible)
{
    FVisible = Visible;
    Changed(false);
}

void TVTHeader::Changed(bool Columns)
{
    if (!FQuiet && FTree->FObserver)
        FTree->FObserver->HeaderChanged(Columns);
}

// ---- Tree ----

TVirtualStringTree::TVirtualStringTree() : Header(this)
{
    FRoot.States = vsVisible | vsExpanded;
}

TVirtualStringTree::~TVirtualStringTree()
{
    if (FObserver)
        FObserver->TreeDestroyed();
    FObserver = nullptr;
    for (PVirtualNode n : FChanges.Deleted)
        FreeSubtree(n);
    FChanges = TVirtualTreeChanges();
    while (PVirtualNode c = FRoot.FirstChild) {
        FRoot.FirstChild = c->NextSibling;
        FreeSubtree(c);
    }
}

void TVirtualStringTree::BeforeChange()
{
    if (InUpdate() || !FObserver)
        return;
    bool pending;
    {
        std::lock_guard<std::recursive_mutex> g(FViewLock);
        pending = FResyncPending;
    }
    if (pending)
        FObserver->Flush();
}

void TVirtualStringTree::SetObserver(TVirtualTreeObserver *Observer)
{
    std::lock_guard<std::recursive_mutex> g(FViewLock);
    if (!Observer && FObserver && !InUpdate()) {
        // No view reaches the nodes any more: what was waiting for it is done.
        TVirtualTreeChanges c = TakeChanges();
        FinishChanges(c);
    }
    FObserver = Observer;
}

PVirtualNode TVirtualStringTree::AddChild(PVirtualNode Parent, void *Data)
{
    BeforeChange();
    if (!Parent)
        Parent = &FRoot;
    ForgetChildList();
    auto *n = new TVirtualNode;
    n->Data = Data;
    n->Parent = Parent;
    n->Index = Parent->ChildCount;
    n->PrevSibling = Parent->LastChild;
    if (Parent->LastChild)
        Parent->LastChild->NextSibling = n;
    else
        Parent->FirstChild = n;
    Parent->LastChild = n;
    ++Parent->ChildCount;
    ++FTotalCount;
    const bool hadButton = Parent->States & vsHasChildren;
    Parent->States |= vsHasChildren;
    if (InUpdate()) {
        n->States |= vsNew;
        if (!(Parent->States & (vsChildrenAdded | vsChildrenChanged)))
            FChanges.Parents.push_back({Parent, n});
        Parent->States |= vsChildrenAdded;
        if (!hadButton && !(Parent->States & vsNew))
            FChanges.ButtonsChanged = true;
    } else if (FObserver) {
        FObserver->NodeAdded(n);
        if (!hadButton)
            FObserver->NodeButtonChanged(Parent);
    }
    return n;
}

void TVirtualStringTree::MarkChildrenChanged(PVirtualNode Parent)
{
    if (!(Parent->States & (vsChildrenAdded | vsChildrenChanged)))
        FChanges.Parents.push_back({Parent, nullptr});
    Parent->States |= vsChildrenChanged;
}

void TVirtualStringTree::MarkExpandChanged(PVirtualNode Node)
{
    if (!(Node->States & vsExpandPending)) {
        Node->States |= vsExpandPending;
        FChanges.ExpandChanged.push_back(Node);
    }
}

void TVirtualStringTree::RaiseFreeNode(PVirtualNode Node)
{
    if (OnFreeNode)
        ForSubtreePostOrder(Node, [this](PVirtualNode n) {
            if (OnFreeNode)
                OnFreeNode(this, n);
        });
}

void TVirtualStringTree::FreeSubtree(PVirtualNode Node)
{
    ForSubtreePostOrder(Node, [](PVirtualNode n) { delete n; });
}

void TVirtualStringTree::UnlinkChild(PVirtualNode Node)
{
    ForgetChildList();
    PVirtualNode p = Node->Parent;
    if (Node->PrevSibling)
        Node->PrevSibling->NextSibling = Node->NextSibling;
    else
        p->FirstChild = Node->NextSibling;
    if (Node->NextSibling)
        Node->NextSibling->PrevSibling = Node->PrevSibling;
    else
        p->LastChild = Node->PrevSibling;
    for (PVirtualNode s = Node->NextSibling; s; s = s->NextSibling)
        --s->Index;
    --p->ChildCount;
    Node->PrevSibling = Node->NextSibling = nullptr;
}

// Call after the deleted subtree has been flagged vsDeleted.
void TVirtualStringTree::DropFromFocusAndSelection(PVirtualNode Subtree)
{
    (void)Subtree;
    bool focusLost = false;
    for (PVirtualNode n = FFocusedNode; n && n != &FRoot; n = n->Parent)
        if (n->States & vsDeleted) {
            FFocusedNode = nullptr;
            focusLost = true;
            break;
        }
    const size_t before = FSelection.size();
    FSelection.erase(std::remove_if(FSelection.begin(), FSelection.end(),
                                    [](PVirtualNode n) {
                                        for (; n; n = n->Parent)
                                            if (n->States & vsDeleted)
                                                return true;
                                        return false;
                                    }),
                     FSelection.end());
    const bool selectionLost = FSelection.size() != before;
    if (InUpdate()) {
        FChanges.FocusChanged |= focusLost;
        FChanges.SelectionChanged |= selectionLost;
    } else if (FObserver) {
        if (focusLost)
            FObserver->FocusChanged();
        if (selectionLost)
            FObserver->SelectionChanged();
    }
}

void TVirtualStringTree::DeleteNode(PVirtualNode Node)
{
    if (!Node || Node == &FRoot)
        return;
    BeforeChange();
    RaiseFreeNode(Node);
    PVirtualNode parent = Node->Parent;
    uint32_t count = 0;
    if (InUpdate()) {
        UnlinkChild(Node);
        ForSubtree(Node, [&count](PVirtualNode n) {
            n->States |= vsDeleted;
            ++count;
        });
        FTotalCount -= count;
        MarkChildrenChanged(parent);
        FChanges.Deleted.push_back(Node);
        DropFromFocusAndSelection(Node);
        return;
    }
    if (FObserver)
        FObserver->NodeRemoving(Node);
    UnlinkChild(Node);
    ForSubtree(Node, [&count](PVirtualNode n) {
        n->States |= vsDeleted;
        ++count;
    });
    FTotalCount -= count;
    DropFromFocusAndSelection(Node);
    FreeSubtree(Node);
}

void TVirtualStringTree::DeleteChildren(PVirtualNode Node, bool ResetHasChildren)
{
    if (!Node)
        Node = &FRoot;
    if (Node->FirstChild) {
        BeforeChange();
        ForgetChildList();
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
            RaiseFreeNode(c);
        if (!InUpdate() && FObserver)
            FObserver->ChildrenRemoving(Node);
        uint32_t count = 0;
        std::vector<PVirtualNode> children;
        children.reserve(Node->ChildCount);
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling) {
            children.push_back(c);
            ForSubtree(c, [&count](PVirtualNode n) {
                n->States |= vsDeleted;
                ++count;
            });
        }
        Node->FirstChild = Node->LastChild = nullptr;
        Node->ChildCount = 0;
        FTotalCount -= count;
        if (InUpdate()) {
            MarkChildrenChanged(Node);
            FChanges.Deleted.insert(FChanges.Deleted.end(), children.begin(), children.end());
            DropFromFocusAndSelection(Node);
        } else {
            DropFromFocusAndSelection(Node);
            for (PVirtualNode c : children)
                FreeSubtree(c);
        }
    }
    if (ResetHasChildren && Node != &FRoot)
        SetHasChildren(Node, false);
}

int TVirtualStringTree::GetNodeLevel(PVirtualNode Node) const
{
    int level = -1;
    for (; Node && Node != &FRoot; Node = Node->Parent)
        ++level;
    return level;
}

PVirtualNode TVirtualStringTree::GetNext(PVirtualNode Node) const
{
    if (!Node)
        return nullptr;
    if (Node->FirstChild)
        return Node->FirstChild;
    while (Node && Node != &FRoot) {
        if (Node->NextSibling)
            return Node->NextSibling;
        Node = Node->Parent;
    }
    return nullptr;
}

PVirtualNode TVirtualStringTree::NodeParent(PVirtualNode Node) const
{
    if (!Node || Node == &FRoot || Node->Parent == &FRoot)
        return nullptr;
    return Node->Parent;
}

void TVirtualStringTree::SetVisible(PVirtualNode Node, bool Visible)
{
    if (!Node || Node == &FRoot || IsVisible(Node) == Visible)
        return;
    BeforeChange();
    if (Visible)
        Node->States |= vsVisible;
    else
        Node->States &= ~vsVisible;
    if (InUpdate()) {
        // A node added in this update is placed by the view when it takes the additions over.
        if (!(Node->States & vsNew))
            MarkChildrenChanged(Node->Parent);
    } else if (FObserver) {
        FObserver->NodeVisibilityChanged(Node);
    }
}

void TVirtualStringTree::SetHasChildren(PVirtualNode Node, bool Value)
{
    if (!Node || Node == &FRoot || HasChildren(Node) == Value)
        return;
    BeforeChange();
    if (Value)
        Node->States |= vsHasChildren;
    else
        Node->States &= ~vsHasChildren;
    if (InUpdate()) {
        if (!(Node->States & vsNew))
            FChanges.ButtonsChanged = true;
    } else if (FObserver) {
        FObserver->NodeButtonChanged(Node);
    }
}

void TVirtualStringTree::SetToggling(PVirtualNode Node, bool Value)
{
    if (!Node || Node == &FRoot)
        return;
    if (Value)
        Node->States |= vsToggling;
    else
        Node->States &= ~vsToggling;
}

bool TVirtualStringTree::SetExpanded(PVirtualNode Node, bool Value)
{
    if (!Node || Node == &FRoot || Expanded(Node) == Value || (Node->States & vsToggling))
        return false;
    BeforeChange();
    Node->States |= vsToggling;
    bool allowed = true;
    try {
        if (Value && OnExpanding)
            OnExpanding(this, Node, allowed);
        else if (!Value && OnCollapsing)
            OnCollapsing(this, Node, allowed);
    } catch (...) {
        Node->States &= ~vsToggling; // a failed handler must not leave the node untoggleable
        throw;
    }
    Node->States &= ~vsToggling;
    if (!allowed)
        return false;
    BeforeChange(); // the handler may have run an update of its own
    if (Value)
        Node->States |= vsExpanded;
    else
        Node->States &= ~vsExpanded;
    if (InUpdate())
        MarkExpandChanged(Node);
    else if (FObserver)
        FObserver->NodeExpandedChanged(Node);
    if (Value && OnExpanded)
        OnExpanded(this, Node);
    else if (!Value && OnCollapsed)
        OnCollapsed(this, Node);
    return true;
}

void TVirtualStringTree::SetSelected(PVirtualNode Node, bool Value)
{
    if (!Node || Node == &FRoot || Selected(Node) == Value)
        return;
    BeforeChange();
    if (Value) {
        for (PVirtualNode n : FSelection)
            n->States &= ~vsSelected;
        FSelection.assign(1, Node);
        Node->States |= vsSelected;
    } else {
        Node->States &= ~vsSelected;
        FSelection.erase(std::remove(FSelection.begin(), FSelection.end(), Node), FSelection.end());
    }
    if (InUpdate())
        FChanges.SelectionChanged = true;
    else if (FObserver)
        FObserver->SelectionChanged();
}

void TVirtualStringTree::ClearSelection()
{
    if (FSelection.empty())
        return;
    BeforeChange();
    for (PVirtualNode n : FSelection)
        n->States &= ~vsSelected;
    FSelection.clear();
    if (InUpdate())
        FChanges.SelectionChanged = true;
    else if (FObserver)
        FObserver->SelectionChanged();
}

bool TVirtualStringTree::SetFocusedNode(PVirtualNode Node)
{
    if (Node == &FRoot || Node == FFocusedNode)
        return false;
    BeforeChange();
    bool allowed = true;
    if (OnFocusChanging)
        OnFocusChanging(this, FFocusedNode, Node, 0, 0, allowed);
    if (!allowed)
        return false;
    BeforeChange();
    FFocusedNode = Node;
    if (InUpdate())
        FChanges.FocusChanged = true;
    else if (FObserver)
        FObserver->FocusChanged();
    if (OnFocusChanged)
        OnFocusChanged(this, Node, 0);
    return true;
}

void TVirtualStringTree::ScrollIntoView(PVirtualNode Node)
{
    if (!Node || Node == &FRoot)
        return;
    // Inside an update the view scrolls to the focused node when the update ends.
    if (InUpdate()) {
        if (Node == FFocusedNode)
            FChanges.FocusChanged = true;
    } else if (FObserver) {
        FObserver->ScrollIntoView(Node);
    }
}

void TVirtualStringTree::SetCheckType(PVirtualNode Node, TCheckType Type)
{
    if (!Node || Node == &FRoot || Node->CheckType == Type)
        return;
    Node->CheckType = Type;
    Invalidate();
}

TCheckState TVirtualStringTree::NextCheckState(TCheckState State)
{
    return IsCheckedState(State) ? csUncheckedNormal : csCheckedNormal;
}

bool TVirtualStringTree::DoChecking(PVirtualNode Node, TCheckState &State)
{
    bool allowed = true;
    if (OnChecking) {
        const auto handler = OnChecking; // survives the handler detaching itself
        handler(this, Node, State, allowed);
    }
    return allowed;
}

void TVirtualStringTree::DoChecked(PVirtualNode Node)
{
    if (OnChecked) {
        const auto handler = OnChecked;
        handler(this, Node);
    }
}

void TVirtualStringTree::PushCheckDown(PVirtualNode Node, TCheckState State,
                                       std::vector<PVirtualNode> *Changed)
{
    if (IsMixedState(State))
        return;
    const TCheckState target = IsCheckedState(State) ? csCheckedNormal : csUncheckedNormal;
    PVirtualNode c = Node->FirstChild;
    while (c) {
        bool descend = true;
        if (c->CheckType != ctNone && c->CheckState != target) {
            TCheckState s = target;
            if (DoChecking(c, s)) {
                c->CheckState = s;
                if (Changed)
                    Changed->push_back(c);
            } else {
                descend = false; // a refused node keeps its subtree as it is
            }
        }
        c = NextInSubtree(Node, c, descend);
    }
}

void TVirtualStringTree::RecomputeAncestors(PVirtualNode Node, std::vector<PVirtualNode> *Changed)
{
    for (PVirtualNode p = Node->Parent; p && p != &FRoot; p = p->Parent) {
        if (p->CheckType != ctTriStateCheckBox)
            return;
        uint32_t total = 0, checked = 0, mixed = 0;
        for (PVirtualNode c = p->FirstChild; c; c = c->NextSibling) {
            if (c->CheckType == ctNone)
                continue;
            ++total;
            if (IsCheckedState(c->CheckState))
                ++checked;
            else if (IsMixedState(c->CheckState))
                ++mixed;
        }
        if (total == 0)
            return;
        TCheckState s = checked == total             ? csCheckedNormal
                        : checked == 0 && mixed == 0 ? csUncheckedNormal
                                                     : csMixedNormal;
        if (p->CheckState == s || !DoChecking(p, s) || p->CheckState == s)
            return;
        p->CheckState = s;
        if (Changed)
            Changed->push_back(p);
    }
}

bool TVirtualStringTree::SetCheckState(PVirtualNode Node, TCheckState State)
{
    if (!Node || Node == &FRoot || Node->CheckState == State)
        return false;
    BeforeChange();
    if (!DoChecking(Node, State) || Node->CheckState == State)
        return false;
    std::vector<PVirtualNode> changed;
    std::vector<PVirtualNode> *track = OnChecked ? &changed : nullptr;
    Node->CheckState = State;
    if (track)
        track->push_back(Node);
    if (FOptions.AutoTristateTracking) {
        PushCheckDown(Node, State, track);
        RecomputeAncestors(Node, track);
    }
    Invalidate();
    for (PVirtualNode n : changed)
        DoChecked(n);
    return true;
}

std::vector<PVirtualNode> TVirtualStringTree::RecomputeCheckState(PVirtualNode Node)
{
    std::vector<PVirtualNode> changed;
    if (!Node || Node == &FRoot)
        return changed;
    BeforeChange();
    // The tracking works out the parents of a node: starting at a child reaches Node itself.
    if (FOptions.AutoTristateTracking && Node->FirstChild)
        RecomputeAncestors(Node->FirstChild, &changed);
    Invalidate();
    return changed;
}

void TVirtualStringTree::BeginUpdate()
{
    std::lock_guard<std::recursive_mutex> g(FViewLock);
    ++FUpdateCount;
}

void TVirtualStringTree::EndUpdate()
{
    std::lock_guard<std::recursive_mutex> g(FViewLock);
    if (FUpdateCount.load() == 0 || --FUpdateCount > 0)
        return;
    if (!FObserver) {
        TVirtualTreeChanges c = TakeChanges();
        FinishChanges(c);
        return;
    }
    FResyncPending = true;
    FObserver->UpdateEnded();
}

TVirtualTreeChanges TVirtualStringTree::TakeChanges()
{
    TVirtualTreeChanges c = std::move(FChanges);
    FChanges = TVirtualTreeChanges();
    FResyncPending = false;
    return c;
}

void TVirtualStringTree::FinishChanges(TVirtualTreeChanges &Changes)
{
    for (const auto &p : Changes.Parents) {
        PVirtualNode node = p.Node;
        if (node->States & vsDeleted)
            continue;
        PVirtualNode first = (node->States & vsChildrenChanged) ? node->FirstChild : p.FirstAdded;
        for (PVirtualNode c = first; c; c = c->NextSibling)
            c->States &= ~vsNew;
        node->States &= ~(vsChildrenAdded | vsChildrenChanged);
    }
    for (PVirtualNode n : Changes.ExpandChanged)
        n->States &= ~vsExpandPending;
    for (PVirtualNode n : Changes.Deleted)
        FreeSubtree(n);
    Changes = TVirtualTreeChanges();
}

bool TVirtualStringTree::SortChildren(PVirtualNode Node, int Column, TSortDirection Direction)
{
    if (Node->ChildCount < 2)
        return false;
    std::vector<PVirtualNode> v;
    v.reserve(Node->ChildCount);
    for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
        v.push_back(c);
    ForgetChildList();
    const auto &compare = OnCompareNodes;
    std::stable_sort(v.begin(), v.end(), [&](PVirtualNode a, PVirtualNode b) {
        int r = 0;
        compare(this, a, b, Column, r);
        return Direction == sdAscending ? r < 0 : r > 0;
    });
    return RelinkChildren(Node, v);
}

bool TVirtualStringTree::RelinkChildren(PVirtualNode Node, const std::vector<PVirtualNode> &Sorted)
{
    // One pass over the children: with a hundred thousand of them, each visit is likely a cache miss.
    bool moved = false;
    for (size_t i = 0; i < Sorted.size(); ++i) {
        PVirtualNode n = Sorted[i];
        moved |= n->Index != i;
        n->Index = static_cast<uint32_t>(i);
        n->PrevSibling = i ? Sorted[i - 1] : nullptr;
        n->NextSibling = i + 1 < Sorted.size() ? Sorted[i + 1] : nullptr;
    }
    if (!moved)
        return false;
    Node->FirstChild = Sorted.front();
    Node->LastChild = Sorted.back();
    if (InUpdate())
        MarkChildrenChanged(Node);
    return true;
}

void TVirtualStringTree::SetChildOrder(PVirtualNode Node, const std::vector<PVirtualNode> &Children)
{
    if (!Node)
        Node = &FRoot;
    if (Children.size() != Node->ChildCount || Children.size() < 2)
        return;
    BeforeChange();
    if (RelinkChildren(Node, Children) && !InUpdate() && FObserver)
        FObserver->ChildrenSorted(Node, Children);
    if (&Children != &FChildList)
        FChildList = Children;
    FChildListOf = Node;
}

const std::vector<PVirtualNode> &TVirtualStringTree::ChildList(PVirtualNode Node)
{
    if (!Node)
        Node = &FRoot;
    if (FChildListOf != Node) {
        FChildList.clear();
        FChildList.reserve(Node->ChildCount);
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
            FChildList.push_back(c);
        FChildListOf = Node;
    }
    return FChildList;
}

void TVirtualStringTree::ForgetChildList()
{
    if (FChildListOf) {
        FChildListOf = nullptr;
        std::vector<PVirtualNode>().swap(FChildList); // a million rows once need not stay reserved
    }
}

void TVirtualStringTree::Sort(PVirtualNode Node, int Column, TSortDirection Direction, bool Recursive)
{
    if (!Node)
        Node = &FRoot;
    if (!OnCompareNodes)
        return;
    BeforeChange();
    bool moved = false;
    if (Recursive) {
        for (PVirtualNode n = Node; n; n = n == Node && !n->FirstChild ? nullptr : NextInSubtree(Node, n))
            if (n->ChildCount > 1)
                moved |= SortChildren(n, Column, Direction);
    } else {
        moved = SortChildren(Node, Column, Direction);
    }
    if (moved && !InUpdate() && FObserver)
        FObserver->Sorted();
}

PVirtualNode TVirtualStringTree::GetNodeAt(int X, int Y) const
{
    return FObserver ? FObserver->NodeAt(X, Y) : nullptr;
}

void TVirtualStringTree::Invalidate()
{
    if (InUpdate())
        FChanges.Repaint = true;
    else if (FObserver)
        FObserver->Invalidate();
}

void TVirtualStringTree::SetOptions(const TVirtualTreeOptions &Options)
{
    FOptions = Options;
    if (FObserver)
        FObserver->OptionsChanged();
}

void TVirtualStringTree::SetImages(TImageList *Images)
{
    FImages = Images;
    if (FObserver)
        FObserver->OptionsChanged();
}
