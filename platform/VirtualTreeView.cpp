#include "platform/VirtualTreeView.h"

#include "platform/ImageList.h"
#include "platform/Messages.h"
#include "platform/VirtualTreeModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QThread>

#include <utility>

namespace {

using TLock = std::unique_lock<std::recursive_mutex>;

// The application's style, drawing a scroll bar a band of rows at a time into an image of its own.
// Qt's raster engine hands every fill of more than about a hundred rows to its thread pool: a tall
// scroll bar, which repaints with each step of the browsing, woke the pool's threads for each of its
// fills, at far more cost than the fills. An image no taller than a band keeps every fill on this
// thread; the style fills the whole bar with opaque colours first, so each band comes out as the
// style draws it on the screen.
class TBandedScrollStyle : public QProxyStyle
{
public:
    static constexpr int BandRows = 64;

    static QStyle *Instance()
    {
        static QPointer<TBandedScrollStyle> style;
        if (!style)
            style = new TBandedScrollStyle(qApp);
        return style;
    }

    void drawComplexControl(ComplexControl Control, const QStyleOptionComplex *Option, QPainter *Painter,
                            const QWidget *Widget) const override
    {
        const QRect r = Option->rect;
        if (Control != CC_ScrollBar || !Painter->transform().isIdentity()) {
            QProxyStyle::drawComplexControl(Control, Option, Painter, Widget);
            return;
        }
        const qreal ratio = Painter->device()->devicePixelRatioF();
        if (FBand.width() != qRound(r.width() * ratio) || FBand.devicePixelRatio() != ratio) {
            FBand = QImage(qRound(r.width() * ratio), qRound(BandRows * ratio),
                           QImage::Format_ARGB32_Premultiplied);
            FBand.setDevicePixelRatio(ratio);
        }
        for (int top = r.top(); top <= r.bottom(); top += BandRows) {
            FBand.fill(Qt::transparent);
            {
                QPainter band(&FBand);
                band.setRenderHints(Painter->renderHints());
                band.translate(-r.left(), -top);
                // Without a clip the engine hands even a short bar's fills to its threads.
                band.setClipRect(QRect(r.left(), top, r.width(), BandRows));
                QProxyStyle::drawComplexControl(Control, Option, &band, Widget);
            }
            const int rows = std::min(BandRows, r.bottom() + 1 - top);
            Painter->drawImage(QPoint(r.left(), top), FBand,
                               QRect(0, 0, FBand.width(), qRound(rows * ratio)));
        }
    }

private:
    explicit TBandedScrollStyle(QObject *Parent)
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
        setParent(Parent);
    }

    mutable QImage FBand;
};

// A scroll bar that repaints only when its steps really change: the view sets the same steps again
// at every layout, and a styled scroll bar is dear to paint.
class TScrollBar : public QScrollBar
{
public:
    explicit TScrollBar(Qt::Orientation Orientation) : QScrollBar(Orientation)
    {
        setStyle(TBandedScrollStyle::Instance());
    }

protected:
    void sliderChange(SliderChange Change) override
    {
        if (Change == SliderStepsChange) {
            const std::pair<int, int> steps(singleStep(), pageStep());
            if (steps == FSteps)
                return;
            FSteps = steps;
        }
        QScrollBar::sliderChange(Change);
    }

private:
    std::pair<int, int> FSteps{-1, -1};
};

} // namespace

TVirtualTreeView::TVirtualTreeView(TVirtualStringTree *Tree, QWidget *Parent)
    : QTreeView(Parent), FTree(Tree), FModel(new TVirtualTreeModel(Tree, this))
{
    setModel(FModel);
    setItemDelegate(new TVirtualTreeDelegate(this));
    setUniformRowHeights(true);
    // Expansion, focus and selection change only through the tree.
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setAutoScroll(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAnimated(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    for (const Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
        auto *bar = new TScrollBar(o);
        // What the item view connects to its own bars, which the new ones replace.
        if (o == Qt::Horizontal) {
            setHorizontalScrollBar(bar);
            connect(bar, &QScrollBar::actionTriggered, this, &TVirtualTreeView::horizontalScrollbarAction);
            connect(bar, &QScrollBar::valueChanged, this, &TVirtualTreeView::horizontalScrollbarValueChanged);
        } else {
            setVerticalScrollBar(bar);
            connect(bar, &QScrollBar::actionTriggered, this, &TVirtualTreeView::verticalScrollbarAction);
            connect(bar, &QScrollBar::valueChanged, this, &TVirtualTreeView::verticalScrollbarValueChanged);
        }
    }
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->viewport()->installEventFilter(this);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) { HeaderClicked(section); });
    connect(header(), &QHeaderView::sectionResized, this, [this](int section, int, int width) {
        if (FApplyingHeader || !FTree || section >= FTree->Header.ColumnCount())
            return;
        FTree->Header.FQuiet = true;
        FTree->Header.SetColumnWidth(section, width);
        FTree->Header.FQuiet = false;
    });
    FTree->SetObserver(this);
    ApplyOptions();
    ApplyHeader(true);
}

TVirtualTreeView::~TVirtualTreeView()
{
    TVirtualStringTree *tree = FTree;
    FTree = nullptr;
    FModel->DetachTree();
    if (tree)
        tree->SetObserver(nullptr);
}

void TVirtualTreeView::TreeDestroyed()
{
    FTree = nullptr;
    FPressedCheck = nullptr;
    FModel->DetachTree();
}

bool TVirtualTreeView::Frozen() const
{
    if (!FTree)
        return true;
    TLock lock(FTree->ViewLock());
    return FTree->ViewFrozen();
}

QModelIndex TVirtualTreeView::IndexOf(PVirtualNode Node) const
{
    return FModel->IndexOf(Node);
}

PVirtualNode TVirtualTreeView::NodeOf(const QModelIndex &Index) const
{
    return FModel->NodeOf(Index);
}

QRect TVirtualTreeView::CheckBoxRect(PVirtualNode Node) const
{
    if (!FTree || !Node || Node->CheckType == ctNone)
        return QRect();
    const QRect cell = visualRect(IndexOf(Node));
    if (cell.isEmpty())
        return QRect();
    const int x = cell.left() + FTree->Options().Margin;
    return QRect(x, cell.top() + (cell.height() - CheckSize) / 2, CheckSize, CheckSize);
}

QRect TVirtualTreeView::ButtonRect(PVirtualNode Node) const
{
    const QModelIndex i = IndexOf(Node);
    if (!i.isValid() || indentation() <= 0 || !FModel->hasChildren(i))
        return QRect();
    if (!rootIsDecorated() && !i.parent().isValid())
        return QRect();
    const QRect cell = visualRect(i);
    if (cell.isEmpty())
        return QRect();
    return QRect(cell.left() - indentation(), cell.top(), indentation(), cell.height());
}

// ---- Taking the tree's state ----

void TVirtualTreeView::UpdateEnded()
{
    if (QThread::currentThread() == thread())
        Resync();
    else
        PostCall(this, [this] { Resync(); });
}

void TVirtualTreeView::Resync()
{
    if (!FTree)
        return;
    TLock lock(FTree->ViewLock());
    if (FTree->UpdateCount() > 0)
        return; // the outermost EndUpdate still to come takes it
    TVirtualTreeChanges changes = FTree->TakeChanges();
    // A guess may have been laid out; a frozen paint only left old rows on the screen.
    const bool stale = FModel->TakeStale();
    const bool unpainted = FPaintedFrozen;
    FPaintedFrozen = false;
    if (changes.Empty() && !stale && !unpainted && !FHeaderPending)
        return;
    if (!changes.Deleted.empty())
        FPressedCheck = nullptr;
    if (FHeaderPending) {
        FHeaderPending = false;
        ApplyHeader(true);
    }
    std::vector<PVirtualNode> rebuilt;
    if (FModel->Apply(changes, rebuilt)) {
        ReapplyExpansion(FTree->RootNode());
    } else {
        for (PVirtualNode n : rebuilt)
            ReapplyExpansion(n);
    }
    for (PVirtualNode n : changes.ExpandChanged)
        if (!(n->States & vsDeleted))
            SyncExpanded(n);
    if (changes.ButtonsChanged || stale)
        scheduleDelayedItemsLayout();
    SyncCurrent(changes.FocusChanged);
    SyncSelection();
    // Laid out now rather than by the paint, whose layout would ask for a second paint.
    executeDelayedItemsLayout();
    viewport()->update();
    FWholePaintDue = true;
    // The model holds none of the deleted nodes any more.
    FTree->FinishChanges(changes);
}

void TVirtualTreeView::SyncExpanded(PVirtualNode Node)
{
    const QModelIndex i = FModel->ExistingIndexOf(Node);
    if (!i.isValid())
        return; // the view knows nothing below the parent yet; ReapplyExpansion does it then
    if (Node->States & vsExpanded) {
        if (!isExpanded(i))
            expand(i);
        ReapplyExpansion(Node);
    } else if (isExpanded(i)) {
        collapse(i);
    }
}

void TVirtualTreeView::ReapplyExpansion(PVirtualNode Node)
{
    const std::vector<PVirtualNode> *rows = FModel->RowsOf(Node);
    if (!rows)
        return;
    std::vector<std::pair<int, PVirtualNode>> open;
    for (size_t r = 0; r < rows->size(); ++r)
        if ((*rows)[r]->States & vsExpanded)
            open.emplace_back(static_cast<int>(r), (*rows)[r]);
    for (const auto &[row, node] : open) {
        const QModelIndex i = FModel->ChildIndex(Node, row);
        if (!isExpanded(i))
            expand(i);
        ReapplyExpansion(node);
    }
}

void TVirtualTreeView::SyncCurrent(bool Scroll)
{
    PVirtualNode f = FTree->FocusedNode();
    const QModelIndex i = f ? FModel->IndexOf(f) : QModelIndex();
    if (selectionModel()->currentIndex() != i)
        selectionModel()->setCurrentIndex(i, QItemSelectionModel::NoUpdate);
    if (Scroll && i.isValid())
        scrollTo(i);
}

void TVirtualTreeView::SyncCurrentAndSelection()
{
    SyncCurrent(false);
    SyncSelection();
}

void TVirtualTreeView::SyncSelection()
{
    QItemSelection selection;
    if (PVirtualNode n = FTree->GetFirstSelected()) {
        const QModelIndex i = FModel->IndexOf(n);
        if (i.isValid())
            selection.select(i, i.siblingAtColumn(FModel->columnCount() - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TVirtualTreeView::ApplyOptions()
{
    const TVirtualTreeOptions &o = FTree->Options();
    setIndentation(o.Indent);
    setRootIsDecorated(o.ShowRoot);
    setAllColumnsShowFocus(o.FullRowSelect);
    QPalette p = palette();
    p.setColor(QPalette::Base, o.Color);
    setPalette(p);
    scheduleDelayedItemsLayout();
    viewport()->update();
}

void TVirtualTreeView::ApplyHeader(bool Columns)
{
    if (Columns) {
        if (Frozen()) {
            FHeaderPending = true;
            return;
        }
        FModel->ColumnsChanged();
        ReapplyExpansion(FTree->RootNode());
        SyncCurrentAndSelection();
    }
    const TVTHeader &h = FTree->Header;
    FApplyingHeader = true;
    setHeaderHidden(!h.Visible());
    header()->setStretchLastSection(h.ColumnCount() == 0);
    for (int i = 0; i < h.ColumnCount(); ++i)
        if (header()->sectionSize(i) != h.Column(i).Width)
            header()->resizeSection(i, h.Column(i).Width);
    FApplyingHeader = false;
    ApplySortIndicator();
    header()->viewport()->update();
    viewport()->update();
}

void TVirtualTreeView::ApplySortIndicator()
{
    const int column = FTree->Header.SortColumn();
    header()->setSortIndicatorShown(column != NoColumn);
    if (column != NoColumn)
        header()->setSortIndicator(
            column, FTree->Header.SortDirection() == sdAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// ---- What the tree reports outside updates ----

void TVirtualTreeView::NodeAdded(PVirtualNode Node)
{
    FModel->NodeAdded(Node);
}

void TVirtualTreeView::ReleasePressBelow(PVirtualNode Top, bool Inclusive)
{
    if (!FPressedCheck)
        return;
    for (PVirtualNode n = Inclusive ? FPressedCheck : FPressedCheck->Parent; n; n = n->Parent)
        if (n == Top) {
            FPressedCheck = nullptr;
            return;
        }
}

void TVirtualTreeView::NodeRemoving(PVirtualNode Node)
{
    ReleasePressBelow(Node, true);
    FModel->NodeRemoving(Node);
    SyncCurrentAndSelection();
}

void TVirtualTreeView::ChildrenRemoving(PVirtualNode Parent)
{
    ReleasePressBelow(Parent, false);
    FModel->ChildrenRemoving(Parent);
    SyncCurrentAndSelection();
}

void TVirtualTreeView::NodeVisibilityChanged(PVirtualNode Node)
{
    FModel->NodeVisibilityChanged(Node);
    if (Node->States & vsVisible)
        SyncExpanded(Node);
    else
        SyncCurrentAndSelection();
}

void TVirtualTreeView::NodeButtonChanged(PVirtualNode Node)
{
    if (FModel->ExistingIndexOf(Node).isValid())
        scheduleDelayedItemsLayout(); // the view keeps whether a row has children
}

void TVirtualTreeView::NodeExpandedChanged(PVirtualNode Node)
{
    SyncExpanded(Node);
}

void TVirtualTreeView::Sorted()
{
    FModel->Sorted();
}

void TVirtualTreeView::ChildrenSorted(PVirtualNode Parent, const std::vector<PVirtualNode> &Order)
{
    FModel->ChildrenSorted(Parent, Order);
}

void TVirtualTreeView::FocusChanged()
{
    SyncCurrent(true);
}

void TVirtualTreeView::ScrollIntoView(PVirtualNode Node)
{
    const QModelIndex i = FModel->IndexOf(Node);
    if (i.isValid())
        scrollTo(i);
}

void TVirtualTreeView::SelectionChanged()
{
    SyncSelection();
}

void TVirtualTreeView::Invalidate()
{
    viewport()->update();
}

void TVirtualTreeView::HeaderChanged(bool Columns)
{
    ApplyHeader(Columns);
}

void TVirtualTreeView::OptionsChanged()
{
    ApplyOptions();
}

PVirtualNode TVirtualTreeView::NodeAt(int X, int Y)
{
    return Frozen() ? nullptr : NodeAtPos(QPoint(X, Y));
}

PVirtualNode TVirtualTreeView::NodeAtPos(const QPoint &Pos)
{
    // The whole row counts, whatever the column.
    QModelIndex i = indexAt(Pos);
    if (!i.isValid())
        i = indexAt(QPoint(columnViewportPosition(0), Pos.y()));
    return NodeOf(i);
}

// ---- Painting ----

void TVirtualTreeView::paintEvent(QPaintEvent *e)
{
    // The viewport is opaque: it paints its own background, so that a paint while the tree is frozen
    // can leave the rows it showed last in place instead of blanking them.
    const auto background = [&] {
        QPainter(viewport()).fillRect(e->rect(), viewport()->palette().brush(viewport()->backgroundRole()));
    };
    if (!FTree) {
        background();
        QTreeView::paintEvent(e);
        return;
    }
    // Held for the whole paint, so that no worker starts an update in the middle of it.
    TLock lock(FTree->ViewLock());
    const QRect at(viewport()->mapTo(window(), QPoint()), viewport()->size());
    if (FTree->ViewFrozen()) {
        // The end of the update paints it all anew.
        FPaintedFrozen = true;
        if (at != FShownAt)
            background(); // what was there is not this view's
        return;
    }
    background();
    QTreeView::paintEvent(e);
    FShownAt = at;
    FWholePaintDue = false;
}

int TVirtualTreeView::sizeHintForColumn(int column) const
{
    FMeasuringWidths = true;
    const auto measured = qScopeGuard([this] { FMeasuringWidths = false; });
    return QTreeView::sizeHintForColumn(column);
}

void TVirtualTreeView::scrollContentsBy(int dx, int dy)
{
    // Rows moved on the screen would be painted over anyway; moving them may wait for the window
    // system to finish showing the last picture.
    if (dx == 0 && FWholePaintDue) {
        viewport()->update();
        return;
    }
    QTreeView::scrollContentsBy(dx, dy);
}

void TVirtualTreeView::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    QTreeView::drawRow(painter, option, index);
    if (!FTree || !FTree->OnAfterItemPaint)
        return;
    PVirtualNode node = NodeOf(index);
    if (!node || (node->States & vsDeleted))
        return;
    painter->save();
    painter->translate(-header()->offset(), option.rect.y());
    try {
        FTree->OnAfterItemPaint(FTree, painter, node, QRect(0, 0, header()->length(), option.rect.height()));
    } catch (...) {
        // A failing mark must not unwind through Qt's painting.
    }
    painter->restore();
}

void TVirtualTreeDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    TVirtualStringTree *tree = FView->Tree();
    if (!tree)
        return;
    const TVirtualTreeOptions &o = tree->Options();
    const bool main = index.column() == 0;
    QStyleOptionViewItem opt = option;
    if (!o.FullRowSelect && !main)
        opt.state &= ~QStyle::State_Selected;
    const bool selected = opt.state & QStyle::State_Selected;
    QStyle *style = FView->style();

    const QVariant background = index.data(Qt::BackgroundRole);
    if (!selected && background.canConvert<QBrush>())
        painter->fillRect(opt.rect, background.value<QBrush>());
    {
        QStyleOptionViewItem panel = opt;
        panel.state &= ~QStyle::State_HasFocus;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, FView);
    }

    const QRect r = opt.rect;
    int x = r.left();
    if (main) {
        x += o.Margin;
        const QVariant check = index.data(TVirtualTreeModel::CheckStateValueRole);
        if (check.isValid()) {
            const auto state = static_cast<TCheckState>(check.toInt());
            QStyleOptionViewItem box = opt;
            box.rect = QRect(x, r.top() + (r.height() - TVirtualTreeView::CheckSize) / 2,
                             TVirtualTreeView::CheckSize, TVirtualTreeView::CheckSize);
            box.state = (opt.state & QStyle::State_Enabled) | QStyle::State_Item;
            if (state == csCheckedNormal || state == csCheckedPressed)
                box.state |= QStyle::State_On;
            else if (state == csMixedNormal || state == csMixedPressed)
                box.state |= QStyle::State_NoChange;
            else
                box.state |= QStyle::State_Off;
            if ((state & 1) ||
                (FView->PressedCheckNode() && FView->PressedCheckNode() == FView->NodeOf(index)))
                box.state |= QStyle::State_Sunken;
            style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, FView);
            x += TVirtualTreeView::CheckSize + TVirtualTreeView::CheckSpacing;
        }
        const QVariant decoration = index.data(Qt::DecorationRole);
        if (decoration.userType() == QMetaType::QIcon && tree->Images()) {
            const int w = tree->Images()->Width(), h = tree->Images()->Height();
            const QIcon icon = decoration.value<QIcon>();
            icon.paint(painter, QRect(x, r.top() + (r.height() - h) / 2, w, h), Qt::AlignCenter,
                       selected ? QIcon::Selected : QIcon::Normal);
            x += w + TVirtualTreeView::ImageSpacing;
        }
    }
    x += o.TextMargin;
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        const QRect textRect(x, r.top(), r.right() - o.TextMargin - x + 1, r.height());
        const QVariant align = index.data(Qt::TextAlignmentRole);
        const int flags = align.isValid() ? align.toInt() : int(Qt::AlignLeft | Qt::AlignVCenter);
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                                : QPalette::Inactive;
        painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(opt.font);
        painter->drawText(textRect, flags,
                          opt.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
    }
    if (opt.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(opt);
        focus.rect = r;
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.backgroundColor = opt.palette.color(selected ? QPalette::Highlight : QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, FView);
    }
}

QSize TVirtualTreeDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    TVirtualStringTree *tree = FView->Tree();
    if (!tree)
        return QSize(0, 18);
    const TVirtualTreeOptions &o = tree->Options();
    // Rows are all of one height; a cell's text is measured only for the width of its column.
    if (!FView->MeasuringWidths())
        return QSize(0, o.DefaultNodeHeight);
    int w = 2 * o.TextMargin + option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    if (index.column() == 0) {
        w += o.Margin;
        if (index.data(TVirtualTreeModel::CheckStateValueRole).isValid())
            w += TVirtualTreeView::CheckSize + TVirtualTreeView::CheckSpacing;
        if (tree->Images() && index.data(Qt::DecorationRole).isValid())
            w += tree->Images()->Width() + TVirtualTreeView::ImageSpacing;
    }
    return QSize(w, o.DefaultNodeHeight);
}

// ---- Input ----

void TVirtualTreeView::FocusAndSelect(PVirtualNode Node)
{
    if (FTree->FocusedNode() != Node)
        FTree->SetFocusedNode(Node);
    if (FTree && FTree->FocusedNode() == Node)
        FTree->SetSelected(Node, true);
}

void TVirtualTreeView::mousePressEvent(QMouseEvent *e)
{
    if (Frozen())
        return;
    const QPoint pos = e->position().toPoint();
    if (FTree->OnMouseDown)
        FTree->OnMouseDown(FTree, e->button(), e->modifiers(), pos.x(), pos.y());
    // The handler may have changed anything: look again.
    PVirtualNode node = LeftPressAt(e, pos);
    if (!node)
        return;
    if (ButtonRect(node).contains(pos)) {
        FTree->ToggleNode(node);
        return;
    }
    FocusAndSelect(node);
}

PVirtualNode TVirtualTreeView::LeftPressAt(QMouseEvent *e, const QPoint &Pos)
{
    if (Frozen() || e->button() != Qt::LeftButton)
        return nullptr;
    PVirtualNode node = NodeAtPos(Pos);
    if (node && CheckBoxRect(node).contains(Pos)) {
        FPressedCheck = node; // toggled when the button comes up over the same box
        viewport()->update();
        return nullptr;
    }
    return node;
}

void TVirtualTreeView::mouseReleaseEvent(QMouseEvent *e)
{
    if (!FPressedCheck)
        return;
    PVirtualNode pressed = FPressedCheck;
    FPressedCheck = nullptr;
    viewport()->update();
    if (Frozen() || e->button() != Qt::LeftButton)
        return;
    const QPoint pos = e->position().toPoint();
    PVirtualNode node = NodeAtPos(pos);
    if (node == pressed && CheckBoxRect(node).contains(pos))
        FTree->ToggleCheck(node);
}

void TVirtualTreeView::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (Frozen())
        return;
    const QPoint pos = e->position().toPoint();
    if (FTree->OnDblClick)
        FTree->OnDblClick(FTree);
    if (Frozen())
        return;
    if (FTree->OnMouseDown)
        FTree->OnMouseDown(FTree, e->button(), e->modifiers(), pos.x(), pos.y());
    PVirtualNode node = LeftPressAt(e, pos);
    if (node && FTree->Options().ToggleOnDblClick &&
        (node->ChildCount > 0 || TVirtualStringTree::HasChildren(node)))
        FTree->ToggleNode(node);
}

void TVirtualTreeView::mouseMoveEvent(QMouseEvent *e)
{
    if (e->buttons() == Qt::NoButton && !Frozen())
        QTreeView::mouseMoveEvent(e); // hover only; dragging selects nothing
}

void TVirtualTreeView::keyPressEvent(QKeyEvent *e)
{
    if (Frozen()) {
        e->ignore();
        return;
    }
    int key = e->key();
    if (FTree->OnKeyDown)
        FTree->OnKeyDown(FTree, key, e->modifiers());
    e->accept();
    if (key == 0 || Frozen())
        return;
    PVirtualNode focused = FTree->FocusedNode();
    const bool canOpen = focused && (focused->ChildCount > 0 || TVirtualStringTree::HasChildren(focused));
    switch (key) {
    case Qt::Key_Space:
        if (focused && focused->CheckType != ctNone)
            FTree->ToggleCheck(focused);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: {
        const CursorAction action = key == Qt::Key_Up         ? MoveUp
                                    : key == Qt::Key_Down     ? MoveDown
                                    : key == Qt::Key_PageUp   ? MovePageUp
                                    : key == Qt::Key_PageDown ? MovePageDown
                                    : key == Qt::Key_Home     ? MoveHome
                                                              : MoveEnd;
        if (PVirtualNode n = NodeOf(moveCursor(action, e->modifiers())))
            FocusAndSelect(n);
        break;
    }
    case Qt::Key_Left:
    case Qt::Key_Minus:
        if (focused && TVirtualStringTree::Expanded(focused))
            FTree->SetExpanded(focused, false);
        else if (key == Qt::Key_Left && FTree->NodeParent(focused))
            FocusAndSelect(FTree->NodeParent(focused));
        break;
    case Qt::Key_Right:
    case Qt::Key_Plus:
        if (canOpen && !TVirtualStringTree::Expanded(focused)) {
            FTree->SetExpanded(focused, true);
        } else if (key == Qt::Key_Right && focused && TVirtualStringTree::Expanded(focused)) {
            const auto *rows = FModel->RowsOf(focused);
            if (rows && !rows->empty())
                FocusAndSelect(rows->front());
        }
        break;
    default:
        e->ignore();
        break;
    }
}

void TVirtualTreeView::focusInEvent(QFocusEvent *e)
{
    // Not QAbstractItemView's: it would make a current row the tree never focused.
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void TVirtualTreeView::resizeEvent(QResizeEvent *e)
{
    QTreeView::resizeEvent(e);
    if (FTree && FTree->OnResize)
        FTree->OnResize(FTree);
}

void TVirtualTreeView::contextMenuEvent(QContextMenuEvent *e)
{
    if (FTree && FTree->PopupMenu && !Frozen()) {
        FTree->PopupMenu->popup(e->globalPos());
        e->accept();
    }
}

bool TVirtualTreeView::eventFilter(QObject *watched, QEvent *e)
{
    if (FTree && watched == header()->viewport()) {
        if (e->type() == QEvent::MouseButtonPress) {
            auto *me = static_cast<QMouseEvent *>(e);
            FHeaderPressSection = header()->logicalIndexAt(me->position().toPoint());
            FHeaderPressOnHandle = header()->viewport()->cursor().shape() == Qt::SplitHCursor;
        } else if (e->type() == QEvent::MouseButtonRelease) {
            auto *me = static_cast<QMouseEvent *>(e);
            FHeaderButton = me->button();
            FHeaderModifiers = me->modifiers();
            FHeaderPos = me->position().toPoint();
            // The header itself reports left clicks only (sectionClicked); the others go from here.
            const int section = header()->logicalIndexAt(FHeaderPos);
            if (me->button() != Qt::LeftButton && section >= 0 && section == FHeaderPressSection &&
                !FHeaderPressOnHandle && section < FTree->Header.ColumnCount() && FTree->OnHeaderClick)
                FTree->OnHeaderClick(&FTree->Header, section, FHeaderButton, FHeaderModifiers, FHeaderPos.x(),
                                     FHeaderPos.y());
        }
    }
    return QTreeView::eventFilter(watched, e);
}

void TVirtualTreeView::HeaderClicked(int Section)
{
    if (!FTree || Frozen())
        return;
    if (Section >= 0 && Section < FTree->Header.ColumnCount() && FTree->OnHeaderClick)
        FTree->OnHeaderClick(&FTree->Header, Section, Qt::LeftButton, FHeaderModifiers, FHeaderPos.x(),
                             FHeaderPos.y());
    if (FTree)
        ApplySortIndicator(); // the header turns its own indicator on a click
}
