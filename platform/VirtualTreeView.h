#pragma once
// The Qt half of the tree control: a QTreeView that draws a TVirtualStringTree (texts and images from
// its events, check boxes, the after-paint marks, column colours) and hands the user's clicks, keys,
// double clicks and header clicks back to it. The node tree is the truth: the view changes nothing
// of its own accord (expansion, focus, selection all go through the tree) and mirrors what the tree
// holds. Main thread only; the tree may be changed by workers while it is in update (see
// platform/VirtualStringTree.h).
#include "platform/VirtualStringTree.h"

#include <QStyledItemDelegate>
#include <QTreeView>

class TVirtualTreeModel;

class TVirtualTreeView : public QTreeView, public TVirtualTreeObserver
{
public:
    // The sizes of the main column's parts, left to right after the indentation: Margin, check box
    // (CheckSize wide, then CheckSpacing), image (the image list's width, then ImageSpacing),
    // TextMargin, text.
    static constexpr int CheckSize = 16;
    static constexpr int CheckSpacing = 2;
    static constexpr int ImageSpacing = 2;

    explicit TVirtualTreeView(TVirtualStringTree *Tree, QWidget *Parent = nullptr);
    ~TVirtualTreeView() override;

    TVirtualStringTree *Tree() const { return FTree; }
    TVirtualTreeModel *Model() const { return FModel; }
    // The model index of a visible node (column 0), invalid otherwise.
    QModelIndex IndexOf(PVirtualNode Node) const;
    PVirtualNode NodeOf(const QModelIndex &Index) const;
    // Where a node's check box and expand button are, in viewport coordinates (empty when the node is
    // not laid out, has no box or no button).
    QRect CheckBoxRect(PVirtualNode Node) const;
    QRect ButtonRect(PVirtualNode Node) const;
    // The node whose check box the mouse holds down (drawn pressed), if any.
    PVirtualNode PressedCheckNode() const { return FPressedCheck; }
    // Whether a column's width is being worked out from its cells (else only a row's height is asked).
    bool MeasuringWidths() const { return FMeasuringWidths; }

    // TVirtualTreeObserver
    void NodeAdded(PVirtualNode Node) override;
    void NodeRemoving(PVirtualNode Node) override;
    void ChildrenRemoving(PVirtualNode Parent) override;
    void NodeVisibilityChanged(PVirtualNode Node) override;
    void NodeButtonChanged(PVirtualNode Node) override;
    void NodeExpandedChanged(PVirtualNode Node) override;
    void Sorted() override;
    void ChildrenSorted(PVirtualNode Parent, const std::vector<PVirtualNode> &Order) override;
    void FocusChanged() override;
    void ScrollIntoView(PVirtualNode Node) override;
    void SelectionChanged() override;
    void Invalidate() override;
    void HeaderChanged(bool Columns) override;
    void OptionsChanged() override;
    void UpdateEnded() override;
    void Flush() override { Resync(); }
    PVirtualNode NodeAt(int X, int Y) override;
    void TreeDestroyed() override;

protected:
    void paintEvent(QPaintEvent *e) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                 const QModelIndex &index) const override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;
    int sizeHintForColumn(int column) const override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    bool Frozen() const;
    // Takes over what changed during the updates since the last call.
    void Resync();
    void SyncExpanded(PVirtualNode Node);
    // Expands in the view the expanded children of Node, and theirs.
    void ReapplyExpansion(PVirtualNode Node);
    void SyncCurrent(bool Scroll);
    void SyncSelection();
    void SyncCurrentAndSelection();
    // Lets go of a held-down check box below Top (or on Top itself when Inclusive).
    void ReleasePressBelow(PVirtualNode Top, bool Inclusive);
    void ApplyOptions();
    void ApplyHeader(bool Columns);
    void ApplySortIndicator();
    void FocusAndSelect(PVirtualNode Node);
    PVirtualNode NodeAtPos(const QPoint &Pos);
    // A left press at Pos: holds a check box down, or gives the node hit otherwise.
    PVirtualNode LeftPressAt(QMouseEvent *e, const QPoint &Pos);
    void HeaderClicked(int Section);

    TVirtualStringTree *FTree;
    TVirtualTreeModel *FModel;
    PVirtualNode FPressedCheck = nullptr;
    bool FPaintedFrozen = false;
    bool FWholePaintDue = false; // the whole viewport is to be painted anew
    mutable bool FMeasuringWidths = false;
    QRect FShownAt; // where in the window the viewport was at its last full paint
    bool FHeaderPending = false;
    bool FApplyingHeader = false;
    // The last press and release on the header.
    int FHeaderPressSection = -1;
    bool FHeaderPressOnHandle = false;
    Qt::MouseButton FHeaderButton = Qt::NoButton;
    Qt::KeyboardModifiers FHeaderModifiers;
    QPoint FHeaderPos;
};

// Draws one cell of a TVirtualTreeView: column colour, selection, check box, image, text.
class TVirtualTreeDelegate : public QStyledItemDelegate
{
public:
    explicit TVirtualTreeDelegate(TVirtualTreeView *View) : QStyledItemDelegate(View), FView(View) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    TVirtualTreeView *FView;
};
