// Folder navigation: the history of focused folders with the Previous and Next buttons, Up, and going
// to the folder of a listed item, loading the folders on the way.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"

#include <QAction>
#include <QScopeGuard>
#include <QThread>
#include <QToolButton>

#include <unordered_set>
#include <vector>

namespace {

// Every node an entry was given, so that the nodes of a deletion (a whole folder's files, say) pass
// by the history at the cost of one look-up each; a node leaves when it is freed.
std::unordered_set<PVirtualNode> RecordedNodes;

// Takes Entry out of the list and frees it; Entry has a neighbour.
void UnlinkHistoryEntry(THistoryItem *Entry)
{
    if (HistoryCurrent == Entry)
        HistoryCurrent = Entry->Prev ? Entry->Prev : Entry->Next;
    if (Entry->Prev)
        Entry->Prev->Next = Entry->Next;
    if (Entry->Next)
        Entry->Next->Prev = Entry->Prev;
    delete Entry;
}

// Drops Entry, whose node goes, and gives the entry after the place it held. A lone entry stays as
// the list's "nothing visited yet"; two equal neighbours left behind become one, so that a step
// always moves.
THistoryItem *DropHistoryEntry(THistoryItem *Entry)
{
    if (!Entry->Prev && !Entry->Next) {
        Entry->Node = nullptr;
        return nullptr;
    }
    THistoryItem *before = Entry->Prev;
    THistoryItem *after = Entry->Next;
    UnlinkHistoryEntry(Entry);
    if (!before || !after || before->Node != after->Node)
        return after;
    if (after == HistoryCurrent) {
        UnlinkHistoryEntry(before);
        return after;
    }
    THistoryItem *beyond = after->Next;
    UnlinkHistoryEntry(after);
    return beyond;
}

} // namespace

void TMainForm::ConnectNavigation()
{
    tv_FolderTree->OnFocusChanged = [this](TVirtualStringTree *Sender, PVirtualNode Node, int Column) {
        tv_FolderTreeFocusChanged(Sender, Node, Column);
    };
    // Whoever else listens to freed nodes (the unloading's list) keeps listening.
    tv_FolderTree->OnFreeNode = [this, Previous = tv_FolderTree->OnFreeNode](TVirtualStringTree *Sender,
                                                                             PVirtualNode Node) {
        if (Previous)
            Previous(Sender, Node);
        tv_FolderTreeFreeNode(Sender, Node);
    };
    QObject::connect(tb_Prev, &QToolButton::clicked, this, [this] { tb_PrevClick(); });
    QObject::connect(tb_Next, &QToolButton::clicked, this, [this] { tb_NextClick(); });
    QObject::connect(tb_Up, &QToolButton::clicked, this, [this] { tb_UpClick(); });
    QObject::connect(mi_GoToFolder, &QAction::triggered, this, [this] { mi_GoToFolderClick(); });
}

void TMainForm::tv_FolderTreeFocusChanged(TVirtualStringTree *, PVirtualNode Node, int)
{
    if (NavigatingHistory) {
        NavigatingHistory = false;
        return;
    }
    // A focus that left every node leads nowhere to come back to.
    if (!HistoryCurrent || !Node)
        return;
    FreeNextItems(HistoryCurrent->Next);
    RecordedNodes.insert(Node);
    if (!HistoryCurrent->Node) {
        HistoryCurrent->Node = Node;
        HistoryCurrent->Prev = nullptr;
        return;
    }
    HistoryCurrent = AddHistoryItem(HistoryCurrent, Node);
    UpdateHistoryButtons();
}

void TMainForm::tv_FolderTreeFreeNode(TVirtualStringTree *, PVirtualNode Node)
{
    if (!RecordedNodes.erase(Node) || !HistoryCurrent)
        return;
    THistoryItem *entry = HistoryCurrent;
    while (entry->Prev)
        entry = entry->Prev;
    bool dropped = false;
    while (entry) {
        if (entry->Node == Node) {
            entry = DropHistoryEntry(entry);
            dropped = true;
        } else {
            entry = entry->Next;
        }
    }
    if (!dropped)
        return;
    // Unloading deletes nodes on its own thread while this one waits in the wait window.
    if (QThread::currentThread() == thread())
        UpdateHistoryButtons();
    else
        AfterWork([this] { UpdateHistoryButtons(); });
}

void TMainForm::UpdateHistoryButtons()
{
    tb_Prev->setEnabled(HistoryCurrent && HistoryCurrent->Prev);
    tb_Next->setEnabled(HistoryCurrent && HistoryCurrent->Next && HistoryCurrent->Next->Node);
}

void TMainForm::tb_PrevClick()
{
    if (!HistoryCurrent || !HistoryCurrent->Prev) {
        tb_Prev->setEnabled(false);
        return;
    }
    StepHistory(HistoryCurrent->Prev);
}

void TMainForm::tb_NextClick()
{
    if (HistoryCurrent && HistoryCurrent->Next && HistoryCurrent->Next->Node)
        StepHistory(HistoryCurrent->Next);
}

void TMainForm::StepHistory(THistoryItem *Entry)
{
    NavigatingHistory = true;
    HistoryCurrent = Entry;
    // A focus that did not move (or failed) raised no focus change to use the flag up.
    const auto done = qScopeGuard([this] {
        NavigatingHistory = false;
        UpdateHistoryButtons();
    });
    FocusFolder(Entry->Node);
}

void TMainForm::tb_UpClick()
{
    PVirtualNode focused = tv_FolderTree->FocusedNode();
    TDirectoryList *item = focused ? GetNodeItem(focused, tv_FolderTree).Item() : nullptr;
    if (!item || !item->NodeInFoldTr)
        return;
    // The report's root has no parent folder: Up stays there.
    PVirtualNode parent = tv_FolderTree->NodeParent(item->NodeInFoldTr);
    if (!parent)
        return;
    tv_FolderTree->SetExpanded(parent, true);
    try {
        FocusFolder(parent);
    } catch (const std::exception &) {
    }
}

TDirectoryList *TMainForm::FollowPathTo(int64_t ID, const std::function<bool(TDirectoryList *)> &Step)
{
    PVirtualNode root = tv_FolderTree->GetFirst();
    TDirectoryList *item = root ? GetNodeItem(root, tv_FolderTree).Item() : nullptr;
    if (!item || !ReportDB)
        return nullptr;
    TInt64List ids;
    CollectAncestorIDs(ReportDB, ids, ID);
    for (int i = ids.Count() - 1; i >= 0; --i) {
        item = item->LoadedChild(ids.GetItem(i));
        if (!item || (Step && !Step(item)))
            return nullptr;
    }
    return ids.Count() > 0 ? item : nullptr;
}

PVirtualNode TMainForm::LoadPathTo(int64_t ID)
{
    TDirectoryList *item = FollowPathTo(ID, [this](TDirectoryList *Item) {
        if (!Item->NodeInFoldTr)
            return false;
        bool allowed = true;
        tv_FolderTreeExpanding(tv_FolderTree, Item->NodeInFoldTr, allowed);
        return true;
    });
    return item ? item->NodeInFoldTr : nullptr;
}

void TMainForm::mi_GoToFolderClick()
{
    if (RightClickX == -1 || RightClickY == -1)
        return;
    PVirtualNode row = tv_FilesTree->GetNodeAt(RightClickX, RightClickY);
    TDirectoryList *item = row ? GetNodeItem(row, tv_FilesTree).Item() : nullptr;
    // "Select all" of a result page is no item of the report and lies in no folder.
    if (!item || item->id == SearchRootID)
        return;
    PVirtualNode node = LoadPathTo(item->id);
    // Parents that lead round in a cycle or to a missing row never reach the report's root: the walk
    // stops before it loads anything, and the user hears why nothing moved.
    if (!node) {
        WideMessageDlg(QStringLiteral("Can not find the folder of \"%1\" in the report.\rIts chain of parent "
                                      "folders is broken.")
                           .arg(item->name),
                       mtError, mbOKOnly);
        return;
    }
    if (PVirtualNode folder = tv_FolderTree->NodeParent(node))
        ShowFolder(folder);
}

bool TMainForm::FocusFolder(PVirtualNode Node)
{
    const bool moved = tv_FolderTree->SetFocusedNode(Node);
    tv_FolderTree->SetSelected(Node, true);
    // As the control scrolls a focused node into view: the folders above it open, top first.
    std::vector<PVirtualNode> closed;
    for (PVirtualNode p = tv_FolderTree->NodeParent(Node); p; p = tv_FolderTree->NodeParent(p))
        if (!TVirtualStringTree::Expanded(p))
            closed.push_back(p);
    for (auto p = closed.rbegin(); p != closed.rend(); ++p)
        tv_FolderTree->SetExpanded(*p, true);
    if (!closed.empty())
        tv_FolderTree->ScrollIntoView(Node);
    return moved;
}

void TMainForm::ShowFolder(PVirtualNode Node)
{
    // A result page gives way to the folder's contents, also when the folder is focused already.
    const bool resultPage = SearchMode;
    SearchMode = false;
    if (!FocusFolder(Node) && resultPage && Node == tv_FolderTree->FocusedNode()) {
        CheckChanged = true;
        bool allowed = true;
        tv_FolderTreeFocusChanging(tv_FolderTree, Node, Node, 0, 0, allowed);
    }
}
