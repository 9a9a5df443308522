#pragma once
// The tree control that both trees of the main window stand on: nodes with one data cell each,
// three-state check boxes with automatic tracking, hidden nodes, expansion, focus, selection, sorting
// through a compare event and a header. This half holds all state and logic and needs no display;
// TVirtualTreeView (platform/VirtualTreeView.h) draws it and hands the user's input back to it.
//
// Threads: outside an update every change is made on the main thread and shown at once. A worker may
// add, change and delete nodes only while the tree is in update (BeginUpdate..EndUpdate, nested, from
// any thread) and the main thread leaves the tree alone meanwhile; the view then reads nothing of the
// tree and takes its state again after the outermost EndUpdate. Nodes deleted during an update stay
// allocated (flagged vsDeleted) until no view can reach them any more.
#include <QColor>
#include <QString>
#include <Qt>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class QMenu;
class QPainter;
class QRect;
class TImageList;
class TVirtualStringTree;

// The pressed forms (odd values) are what a box shows while the mouse holds it down.
enum TCheckState : uint8_t {
    csUncheckedNormal = 0,
    csUncheckedPressed = 1,
    csCheckedNormal = 2,
    csCheckedPressed = 3,
    csMixedNormal = 4,
    csMixedPressed = 5,
};

enum TCheckType : uint8_t { ctNone, ctCheckBox, ctTriStateCheckBox };

enum TVirtualNodeState : uint32_t {
    vsVisible = 0x1,     // drawn and counted by the view (with all its ancestors visible)
    vsHasChildren = 0x2, // shows an expand button, whether or not children are there yet
    vsToggling = 0x4,    // the tree refuses to expand or collapse the node
    vsExpanded = 0x8,
    vsSelected = 0x10,
    vsDeleted = 0x20, // deleted during an update, freed once the view has let go of it
    // Bookkeeping of the pending update (see TVirtualStringTree::TakeChanges); not for users.
    vsNew = 0x100,             // added during the pending update
    vsChildrenAdded = 0x200,   // children appended during the pending update
    vsChildrenChanged = 0x400, // children deleted, shown, hidden or sorted during the pending update
    vsExpandPending = 0x800,   // expanded or collapsed during the pending update
};

// One node. The fields may be read directly; CheckState may also be written directly, which changes
// that node only and raises nothing. Everything else changes through TVirtualStringTree.
struct TVirtualNode
{
    uint32_t Index = 0; // position among its siblings
    uint32_t ChildCount = 0;
    uint32_t States = vsVisible;
    TCheckState CheckState = csUncheckedNormal;
    TCheckType CheckType = ctNone;
    TVirtualNode *Parent = nullptr; // the tree's hidden root for a top-level node
    TVirtualNode *PrevSibling = nullptr;
    TVirtualNode *NextSibling = nullptr;
    TVirtualNode *FirstChild = nullptr;
    TVirtualNode *LastChild = nullptr;
    void *Data = nullptr; // the data cell: one pointer, owned by whoever stores it
};
using PVirtualNode = TVirtualNode *;

enum TSortDirection { sdAscending, sdDescending };
enum TVSTTextType { ttNormal, ttStatic };
enum TVTImageKind { ikNormal, ikSelected, ikState, ikOverlay };

constexpr int NoColumn = -1;

struct TVirtualTreeColumn
{
    QString Text;
    int Width = 50;
    Qt::Alignment Alignment = Qt::AlignLeft;
    QColor Color = QColor(Qt::white);
    bool ParentColor = true; // the column takes the tree's colour instead of Color
};

// The header: columns, sort column and direction. Main thread only.
class TVTHeader
{
public:
    explicit TVTHeader(TVirtualStringTree *Tree) : FTree(Tree) {}
    TVirtualStringTree *Treeview() const { return FTree; }

    // Appends a column and returns its index.
    int AddColumn(const QString &Text, int Width = 50, Qt::Alignment Alignment = Qt::AlignLeft);
    int ColumnCount() const { return static_cast<int>(FColumns.size()); }
    // Column i; i must be 0..ColumnCount()-1.
    const TVirtualTreeColumn &Column(int i) const { return FColumns.at(static_cast<size_t>(i)); }
    void SetColumnText(int i, const QString &Text);
    void SetColumnWidth(int i, int Width);
    // Gives the column a colour of its own (it stops taking the tree's colour).
    void SetColumnColor(int i, const QColor &Color);
    void SetColumnParentColor(int i, bool ParentColor);

    // NoColumn (-1) until one is set.
    int SortColumn() const { return FSortColumn; }
    void SetSortColumn(int Column);
    TSortDirection SortDirection() const { return FSortDirection; }
    void SetSortDirection(TSortDirection Direction);
    bool Visible() const { return FVisible; }
    void SetVisible(bool Visible);
    // The column that carries the tree lines, check boxes and images.
    int MainColumn() const { return 0; }

private:
    friend class TVirtualTreeView;
    void Changed(bool Columns);

    TVirtualStringTree *FTree;
    std::vector<TVirtualTreeColumn> FColumns;
    int FSortColumn = NoColumn;
    TSortDirection FSortDirection = sdAscending;
    bool FVisible = false;
    bool FQuiet = false; // set while the view itself reports a width the user dragged
};

struct TVirtualTreeOptions
{
    bool AutoTristateTracking = true; // a check state pushes down and recomputes the ancestors
    bool ToggleOnDblClick = true;     // a double click expands or collapses a node with children
    bool ShowRoot = true;             // lines and buttons for top-level nodes
    bool FullRowSelect = false;
    int Indent = 18;            // per level
    int Margin = 4;             // before the check box
    int TextMargin = 4;         // between image and text
    int DefaultNodeHeight = 18; // every row has this height
    QColor Color = QColor(Qt::white);
};

// What the view is told. Outside updates the calls come on the main thread as the change happens;
// during an update the tree only records what changed and calls UpdateEnded after the outermost
// EndUpdate, on whatever thread ran it.
class TVirtualTreeObserver
{
public:
    virtual ~TVirtualTreeObserver() = default;
    virtual void NodeAdded(PVirtualNode Node) = 0;             // now its parent's last child
    virtual void NodeRemoving(PVirtualNode Node) = 0;          // still linked
    virtual void ChildrenRemoving(PVirtualNode Parent) = 0;    // all children, still linked
    virtual void NodeVisibilityChanged(PVirtualNode Node) = 0; // after the change
    virtual void NodeButtonChanged(PVirtualNode Node) = 0;     // has-children mark
    virtual void NodeExpandedChanged(PVirtualNode Node) = 0;
    virtual void Sorted() = 0;
    // Parent's children were put into Order (each child once) outside an update.
    virtual void ChildrenSorted(PVirtualNode Parent, const std::vector<PVirtualNode> &Order) = 0;
    virtual void FocusChanged() = 0;
    virtual void ScrollIntoView(PVirtualNode Node) = 0; // its parents expanded
    virtual void SelectionChanged() = 0;
    virtual void Invalidate() = 0; // texts, images or check states changed
    virtual void HeaderChanged(bool Columns) = 0;
    virtual void OptionsChanged() = 0;
    virtual void UpdateEnded() = 0;
    // Takes the tree's state again when an UpdateEnded is still waiting for the main thread.
    virtual void Flush() = 0;
    virtual PVirtualNode NodeAt(int X, int Y) = 0;
    virtual void TreeDestroyed() = 0;
};

// What changed during an update, for the view to take over (TakeChanges).
struct TVirtualTreeChanges
{
    struct TChangedParent
    {
        PVirtualNode Node;
        PVirtualNode FirstAdded; // the first child appended during the update, or null
    };
    std::vector<TChangedParent> Parents; // children appended (vsChildrenAdded) or changed otherwise
    std::vector<PVirtualNode> ExpandChanged;
    std::vector<PVirtualNode> Deleted; // roots of deleted subtrees, still allocated
    bool FocusChanged = false;
    bool SelectionChanged = false;
    bool ButtonsChanged = false; // has-children marks of nodes the view may already show
    bool Repaint = false;
    bool Empty() const
    {
        return Parents.empty() && ExpandChanged.empty() && Deleted.empty() && !FocusChanged &&
               !SelectionChanged && !ButtonsChanged && !Repaint;
    }
};

class TVirtualStringTree
{
public:
    TVirtualStringTree();
    ~TVirtualStringTree();
    TVirtualStringTree(const TVirtualStringTree &) = delete;
    TVirtualStringTree &operator=(const TVirtualStringTree &) = delete;

    // ---- Nodes ----
    // The hidden root; top-level nodes are its children. Never drawn, counted, checked or deleted.
    PVirtualNode RootNode() { return &FRoot; }
    // Appends a node under Parent (null: top level), visible, unchecked, without check box, in O(1).
    // Sets the parent's has-children mark.
    PVirtualNode AddChild(PVirtualNode Parent, void *Data = nullptr);
    // Deletes Node and everything below it (OnFreeNode for each, children first). The focus and the
    // selection leave deleted nodes. Node must not be the root.
    void DeleteNode(PVirtualNode Node);
    // Deletes all children of Node (null: the root); Node keeps its has-children mark unless
    // ResetHasChildren.
    void DeleteChildren(PVirtualNode Node, bool ResetHasChildren = false);
    void Clear() { DeleteChildren(&FRoot, true); }
    // All nodes but the root, hidden ones included.
    uint32_t TotalCount() const { return FTotalCount; }
    uint32_t ChildCount(PVirtualNode Node) const { return Node ? Node->ChildCount : FRoot.ChildCount; }
    // 0 for a top-level node.
    int GetNodeLevel(PVirtualNode Node) const;
    // The node's data cell.
    static void **GetNodeData(PVirtualNode Node) { return Node ? &Node->Data : nullptr; }

    // Iteration over all nodes, hidden ones included. Null at the end.
    PVirtualNode GetFirst() const { return FRoot.FirstChild; }
    // The next node in pre-order (first child, else next sibling, else an ancestor's next sibling).
    PVirtualNode GetNext(PVirtualNode Node) const;
    static PVirtualNode GetFirstChild(PVirtualNode Node) { return Node ? Node->FirstChild : nullptr; }
    static PVirtualNode GetLastChild(PVirtualNode Node) { return Node ? Node->LastChild : nullptr; }
    static PVirtualNode GetNextSibling(PVirtualNode Node) { return Node ? Node->NextSibling : nullptr; }
    static PVirtualNode GetPrevSibling(PVirtualNode Node) { return Node ? Node->PrevSibling : nullptr; }
    // The parent, or null for a top-level node (Node->Parent gives the hidden root instead).
    PVirtualNode NodeParent(PVirtualNode Node) const;

    // ---- Node flags ----
    static bool IsVisible(PVirtualNode Node) { return Node && (Node->States & vsVisible); }
    // A hidden node is neither drawn nor counted by the view, nor is anything below it.
    void SetVisible(PVirtualNode Node, bool Visible);
    static bool HasChildren(PVirtualNode Node) { return Node && (Node->States & vsHasChildren); }
    void SetHasChildren(PVirtualNode Node, bool Value);
    static bool Toggling(PVirtualNode Node) { return Node && (Node->States & vsToggling); }
    void SetToggling(PVirtualNode Node, bool Value);
    static bool Expanded(PVirtualNode Node) { return Node && (Node->States & vsExpanded); }
    // Expands or collapses through the control: OnExpanding / OnCollapsing may refuse; the node
    // carries the toggling mark while they run, and a node that already carries it is not toggled.
    // Then OnExpanded / OnCollapsed. Returns whether the node changed.
    bool SetExpanded(PVirtualNode Node, bool Value);
    bool ToggleNode(PVirtualNode Node) { return SetExpanded(Node, !Expanded(Node)); }

    static bool Selected(PVirtualNode Node) { return Node && (Node->States & vsSelected); }
    // One node is selected at a time: selecting a node clears the others.
    void SetSelected(PVirtualNode Node, bool Value);
    void ClearSelection();
    PVirtualNode GetFirstSelected() const { return FSelection.empty() ? nullptr : FSelection.front(); }
    uint32_t SelectedCount() const { return static_cast<uint32_t>(FSelection.size()); }

    PVirtualNode FocusedNode() const { return FFocusedNode; }
    int FocusedColumn() const { return 0; }
    // OnFocusChanging may refuse; then the focus moves and OnFocusChanged runs. Returns whether it moved.
    bool SetFocusedNode(PVirtualNode Node);
    // Scrolls the view to Node once the folders above it are open.
    void ScrollIntoView(PVirtualNode Node);

    static TCheckType CheckType(PVirtualNode Node) { return Node ? Node->CheckType : ctNone; }
    void SetCheckType(PVirtualNode Node, TCheckType Type);
    static TCheckState CheckState(PVirtualNode Node) { return Node ? Node->CheckState : csUncheckedNormal; }
    // Sets the state through the control: nothing when unchanged; else OnChecking (which may change
    // the state or refuse), then with automatic tracking a checked or unchecked state is pushed down
    // to all children and the ancestors are recomputed from their children (OnChecking for each of
    // them too), and finally OnChecked for every node whose state changed. Returns whether Node changed.
    bool SetCheckState(PVirtualNode Node, TCheckState State);
    // What a click or the Space key does to a box: unchecked -> checked, checked -> unchecked,
    // mixed -> checked.
    static TCheckState NextCheckState(TCheckState State);
    // For children whose CheckState was written directly: works Node's state and then its ancestors'
    // out again from their children, as the automatic tracking does after a change below them
    // (OnChecking for each that would change). Raises no OnChecked; returns the nodes that changed,
    // Node's nearest first, for the caller to raise it after its own children's.
    std::vector<PVirtualNode> RecomputeCheckState(PVirtualNode Node);
    // The checking and checked events as the control raises them. A copy of the handler is called, so
    // that a handler may detach itself while it runs. DoChecking returns whether the change is allowed.
    bool DoChecking(PVirtualNode Node, TCheckState &State);
    void DoChecked(PVirtualNode Node);

    // ---- Updates ----
    // Nested; any thread. Between the outermost BeginUpdate and EndUpdate the view reads nothing.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount.load(); }

    // ---- Sorting ----
    // Orders Node's children (null: the top level) by OnCompareNodes for Column; descending reverses
    // the comparison. Stable. Recursive sorts every level below as well.
    void Sort(PVirtualNode Node, int Column, TSortDirection Direction, bool Recursive = false);
    // Sorts every level of the tree.
    void SortTree(int Column, TSortDirection Direction) { Sort(&FRoot, Column, Direction, true); }
    // Puts Node's children (null: the top level) into the order of Children, which holds each of them
    // once: for a sort that orders the rows by keys of its own instead of the compare event.
    void SetChildOrder(PVirtualNode Node, const std::vector<PVirtualNode> &Children);
    // Node's children (null: the top level) in order. The list is kept, and the reference holds, until
    // children are added, deleted or moved: a sort after a reorder then need not walk siblings that lie
    // scattered in memory, one cache miss after the other.
    const std::vector<PVirtualNode> &ChildList(PVirtualNode Node);

    // ---- The view ----
    // The node in the row at (X, Y) of the view's client area; null without a view or row.
    PVirtualNode GetNodeAt(int X, int Y) const;
    // Repaint; a node's own states are read anew (after direct writes of CheckState, say).
    void Invalidate();
    void InvalidateNode(PVirtualNode) { Invalidate(); }
    void Repaint() { Invalidate(); }
    const TVirtualTreeOptions &Options() const { return FOptions; }
    void SetOptions(const TVirtualTreeOptions &Options);
    TImageList *Images() const { return FImages; }
    void SetImages(TImageList *Images);

    TVTHeader Header;
    int Tag = 0;
    QMenu *PopupMenu = nullptr; // shown on a right click in the view

    // ---- Events; an empty one is detached and not called ----
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, int Column, TVSTTextType TextType,
                       QString &CellText)>
        OnGetText;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind, int Column,
                       bool &Ghosted, int &ImageIndex)>
        OnGetImageIndex;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState, bool &Allowed)>
        OnChecking;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node)> OnChecked;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, bool &Allowed)> OnExpanding;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, bool &Allowed)> OnCollapsing;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node)> OnExpanded;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node)> OnCollapsed;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode OldNode, PVirtualNode NewNode, int OldColumn,
                       int NewColumn, bool &Allowed)>
        OnFocusChanging;
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node, int Column)> OnFocusChanged;
    // Result < 0 puts Node1 first in ascending order.
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node1, PVirtualNode Node2, int Column,
                       int &Result)>
        OnCompareNodes;
    // A node is being deleted (its data cell is still there); on the deleting thread.
    std::function<void(TVirtualStringTree *Sender, PVirtualNode Node)> OnFreeNode;
    // Raised by the view, on the main thread. Positions are in the view's client area.
    std::function<void(TVTHeader *Sender, int Column, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                       int X, int Y)>
        OnHeaderClick;
    std::function<void(TVirtualStringTree *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y)>
        OnMouseDown;
    // Key is Qt's key code (Qt::Key_Space is 0x20); set it to 0 to keep the tree from acting on it.
    std::function<void(TVirtualStringTree *Sender, int &Key, Qt::KeyboardModifiers Shift)> OnKeyDown;
    std::function<void(TVirtualStringTree *Sender)> OnDblClick;
    std::function<void(TVirtualStringTree *Sender)> OnResize;
    // After a row is painted. The painter's origin is the row's top-left corner; ItemRect is the row
    // (0, 0, width of all columns, row height).
    std::function<void(TVirtualStringTree *Sender, QPainter *TargetCanvas, PVirtualNode Node,
                       const QRect &ItemRect)>
        OnAfterItemPaint;

    // ---- For the view (platform/VirtualTreeView.cpp) ----
    void SetObserver(TVirtualTreeObserver *Observer);
    // The lock that orders the view's reading against BeginUpdate on other threads (recursive).
    std::recursive_mutex &ViewLock() const { return FViewLock; }
    // True while the view must read nothing of the nodes: in update, or an outermost EndUpdate has
    // not been taken over yet. Call with ViewLock held.
    bool ViewFrozen() const { return FUpdateCount.load() > 0 || FResyncPending; }
    // Hands what changed since the last call over to the view. Call with ViewLock held, not in update.
    TVirtualTreeChanges TakeChanges();
    // Clears the bookkeeping of the changes and frees their deleted nodes. Call when the view no
    // longer reaches any of them, with ViewLock held.
    void FinishChanges(TVirtualTreeChanges &Changes);
    // Runs the user's check toggle (click or Space) on Node.
    void ToggleCheck(PVirtualNode Node) { SetCheckState(Node, NextCheckState(Node->CheckState)); }

private:
    friend class TVTHeader;
    bool InUpdate() const { return FUpdateCount.load() > 0; }
    void BeforeChange();
    void MarkChildrenChanged(PVirtualNode Parent);
    void MarkExpandChanged(PVirtualNode Node);
    void FreeSubtree(PVirtualNode Node);
    void RaiseFreeNode(PVirtualNode Node);
    void UnlinkChild(PVirtualNode Node);
    void DropFromFocusAndSelection(PVirtualNode Subtree);
    void PushCheckDown(PVirtualNode Node, TCheckState State, std::vector<PVirtualNode> *Changed);
    void RecomputeAncestors(PVirtualNode Node, std::vector<PVirtualNode> *Changed);
    bool SortChildren(PVirtualNode Node, int Column, TSortDirection Direction);
    // Relinks Node's children in the order of Sorted; returns whether any moved.
    bool RelinkChildren(PVirtualNode Node, const std::vector<PVirtualNode> &Sorted);
    void ForgetChildList();

    TVirtualNode FRoot;
    uint32_t FTotalCount = 0;
    PVirtualNode FFocusedNode = nullptr;
    std::vector<PVirtualNode> FSelection;
    TVirtualTreeOptions FOptions;
    TImageList *FImages = nullptr;

    mutable std::recursive_mutex FViewLock;
    std::atomic<int> FUpdateCount{0};
    bool FResyncPending = false; // guarded by FViewLock
    TVirtualTreeObserver *FObserver = nullptr;
    TVirtualTreeChanges FChanges; // of the pending update; written by whoever changes the nodes
    PVirtualNode FChildListOf = nullptr; // whose children FChildList holds; null for none
    std::vector<PVirtualNode> FChildList;
};

// Holds one or two trees in update for a scope: BeginUpdate on each as it is made, EndUpdate on each in
// the same order when it ends, also through an exception. Take it before anything that may raise.
class TTreeUpdateGuard
{
public:
    explicit TTreeUpdateGuard(TVirtualStringTree *First, TVirtualStringTree *Second = nullptr)
        : FFirst(First), FSecond(Second)
    {
        FFirst->BeginUpdate();
        if (FSecond)
            FSecond->BeginUpdate();
    }
    ~TTreeUpdateGuard()
    {
        FFirst->EndUpdate();
        if (FSecond)
            FSecond->EndUpdate();
    }
    TTreeUpdateGuard(const TTreeUpdateGuard &) = delete;
    TTreeUpdateGuard &operator=(const TTreeUpdateGuard &) = delete;

private:
    TVirtualStringTree *FFirst;
    TVirtualStringTree *FSecond;
};
