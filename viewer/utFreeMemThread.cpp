#include "viewer/utFreeMemThread.h"

#include <chrono>
#include <thread>

TFreeMemThread::TFreeMemThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree,
                               TMainForm *MainForm)
    : TThread(true), FolderTree(FolderTree), FilesTree(FilesTree), MainForm(MainForm)
{
    Resume();
}

TFreeMemThread::~TFreeMemThread()
{
    Terminate();
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

std::vector<PVirtualNode> TFreeMemThread::Nodes() const
{
    const std::lock_guard<std::mutex> lock(NodeListLock);
    std::vector<PVirtualNode> nodes;
    for (int i = 0; i < NodeList.Count(); ++i)
        nodes.push_back(static_cast<PVirtualNode>(NodeList.GetItem(i)));
    return nodes;
}

void TFreeMemThread::Execute()
{
    // Short steps, so that stopping the thread at exit takes no noticeable time.
    while (!Terminated())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
