#pragma once
// The background thread that frees the children of folders not used for a while. One runs for the
// whole life of the main window: its constructor starts it, its destructor stops it.
#include "common/ssListTypes.h"
#include "platform/TThread.h"
#include "platform/VirtualStringTree.h"

#include <mutex>
#include <vector>

class TMainForm;

class TFreeMemThread : public TThread
{
public:
    // Stores the two trees and the window; the thread runs at once and is freed by its owner.
    TFreeMemThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree, TMainForm *MainForm);
    // Asks the thread to stop and waits until it has.
    ~TFreeMemThread() override;

    // Marks a loaded folder's node as the most recently used: it becomes the last entry of NodeList
    // (appended when it is not there yet). Main thread.
    void TouchNode(PVirtualNode Node);
    // NodeList's entries, least recently used first.
    std::vector<PVirtualNode> Nodes() const;

protected:
    void Execute() override;

private:
    TVirtualStringTree *FolderTree;
    TVirtualStringTree *FilesTree;
    TMainForm *MainForm;
    // Folder-tree nodes of loaded folders, least recently used first; the tree owns the nodes.
    TObjectList NodeList;
    int32_t Threshold = 30;
    // Guards NodeList: the main thread touches nodes while this thread counts and takes them.
    mutable std::mutex NodeListLock;
};
