#include "viewer/utFreeMemThread.h"

#include "platform/Messages.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "viewer/Main.h"

#include <QScopeGuard>

#include <chrono>

namespace {

// About five minutes of 500 ms cycles between two trims after a pass.
constexpr int TrimCycles = 600;

bool OnPathOf(const TVirtualStringTree *Tree, PVirtualNode Node, PVirtualNode Shown)
{
    for (PVirtualNode n = Shown; n; n = Tree->NodeParent(n))
        if (n == Node)
            return true;
    return false;
}

} // namespace

TFreeMemThread::TFreeMemThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree,
                               TMainForm *MainForm, int CycleMs)
    : TThread(true), Trim(TrimWorkingSet), FolderTree(FolderTree), FilesTree(FilesTree), MainForm(MainForm),
      CycleMs(CycleMs)
{
    Resume();
}

TFreeMemThread::~TFreeMemThread()
{
    Terminate();
    {
        // Taken so that the wake-up cannot fall between a waiter's test and its wait.
        const std::lock_guard<std::mutex> lock(NodeListLock);
    }
    FWake.notify_all();
    WaitFor();
}

void TFreeMemThread::TouchNode(PVirtualNode Node)
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    const int at = NodeList.IndexOf(Node);
    if (at >= 0 && at == NodeList.Count() - 1)
        return;
    if (at >= 0)
        NodeList.Delete(at);
    NodeList.Add(Node);
}

PVirtualNode TFreeMemThread::PopOldestNode()
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    if (NodeList.Count() == 0)
        return nullptr;
    auto *node = static_cast<PVirtualNode>(NodeList.GetItem(0));
    NodeList.Delete(0);
    return node;
}

bool TFreeMemThread::CanFreeNode(PVirtualNode Node) const
{
    if (!Node || (Node->States & vsDeleted) || TVirtualStringTree::Expanded(Node))
        return false;
    if (OnPathOf(FolderTree, Node, FolderTree->FocusedNode()))
        return false;
    // The comment box edits its item until another fills it.
    const TDirectoryList *comment = MainForm ? MainForm->CommentItem() : nullptr;
    if (comment && comment->NodeInFoldTr &&
        OnPathOf(FolderTree, Node, FolderTree->NodeParent(comment->NodeInFoldTr)))
        return false;
    // A result page or a refused focus change can leave the list showing another folder than the
    // focused one; its rows refer to that folder's items.
    const TDirectoryList *row = GetNodeItem(FilesTree->GetFirst(), FilesTree);
    return !row || !row->NodeInFoldTr ||
           !OnPathOf(FolderTree, Node, FolderTree->NodeParent(row->NodeInFoldTr));
}

void TFreeMemThread::ClearNodeList()
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    NodeList.Clear();
}

void TFreeMemThread::ModalShown()
{
    {
        const std::lock_guard<std::mutex> lock(NodeListLock);
        FModalShown = true;
    }
    FWake.notify_all();
}

std::vector<PVirtualNode> TFreeMemThread::Nodes() const
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    std::vector<PVirtualNode> nodes;
    for (int i = 0; i < NodeList.Count(); ++i)
        nodes.push_back(static_cast<PVirtualNode>(NodeList.GetItem(i)));
    return nodes;
}

int32_t TFreeMemThread::GetThreshold() const
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    return Threshold;
}

void TFreeMemThread::DropDeletedNodes()
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    // Deleted nodes stay allocated, flagged, until the trees' update ends: their flags can be read here.
    for (int i = NodeList.Count() - 1; i >= 0; --i)
        if (static_cast<PVirtualNode>(NodeList.GetItem(i))->States & vsDeleted)
            NodeList.Delete(i);
}

void TFreeMemThread::Sleep(int Ms)
{
    std::unique_lock<std::mutex> lock(NodeListLock);
    FWake.wait_for(lock, std::chrono::milliseconds(Ms), [this] { return Terminated(); });
}

bool TFreeMemThread::WaitForModalShow()
{
    std::unique_lock<std::mutex> lock(NodeListLock);
    FWake.wait(lock, [this] { return FModalShown || Terminated(); });
    return FModalShown;
}

void TFreeMemThread::FreeOldNodes()
{
    HWND wait = nullptr;
    {
        const std::lock_guard<std::mutex> lock(NodeListLock);
        FModalShown = false;
    }
    // Through Synchronize, which the main window's destructor still runs while it waits for this
    // thread; by then the thread is told to stop and asks for nothing.
    Synchronize([this, &wait] {
        if (!Terminated())
            SendMessage(MainForm, WM_CREATE_FREEMEM_WAIT, reinterpret_cast<WPARAM>(&wait));
    });
    if (!wait)
        return; // another work holds the wait window
    const auto close = qScopeGuard([wait] { PostMessage(wait, WM_WAITFORM_CLOSE); });
    PostMessage(MainForm, WM_SHOW_WAIT_MODAL);
    if (!WaitForModalShow())
        return;

    const TTreeUpdateGuard update(FolderTree, FilesTree);
    const auto grow = qScopeGuard([this] {
        DropDeletedNodes();
        bool trim = false;
        {
            const std::lock_guard<std::mutex> lock(NodeListLock);
            if (NodeList.Count() >= Threshold) {
                Threshold += 5;
                trim = Threshold > 60;
            }
        }
        if (trim)
            Trim();
    });
    const int32_t times = GetThreshold() - 9;
    for (int32_t i = 0; i < times; ++i) {
        try {
            PVirtualNode node = PopOldestNode();
            // Gone with the children of a folder freed earlier in this pass (its item too).
            if (!node || (node->States & vsDeleted))
                continue;
            TDirectoryList *item = GetNodeItem(node, FolderTree);
            PVirtualNode folder = item ? item->NodeInFoldTr : nullptr;
            if (CanFreeNode(folder)) {
                // Nodes first: the tree's free-node event still finds their items.
                FolderTree->DeleteChildren(folder);
                item->ClearChildren();
            } else {
                TouchNode(node);
            }
        } catch (...) {
        }
    }
}

void TFreeMemThread::Execute()
{
    int cycles = 0;
    while (!Terminated()) {
        try {
            ++cycles;
            ++FCycles;
            Sleep(CycleMs);
            if (Terminated())
                break;
            bool over;
            {
                const std::lock_guard<std::mutex> lock(NodeListLock);
                over = NodeList.Count() > Threshold;
            }
            if (!over)
                continue;
            FreeOldNodes();
            if (cycles > TrimCycles) {
                Trim();
                cycles = 0;
            }
        } catch (...) {
        }
    }
}
