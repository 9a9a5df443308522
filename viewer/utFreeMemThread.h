#pragma once
// The background thread that frees the children of folders not used for a while. One runs for the
// whole life of the main window: its constructor starts it, its destructor stops it.
//
// A pass follows the worker's side of the wait-window protocol with the main window as its starter:
// WM_CREATE_FREEMEM_WAIT hands the shared wait window out (refused while another work holds it: the
// cycle is skipped), WM_SHOW_WAIT_MODAL shows it, and the pass touches the trees only after the main
// window has reported from inside that modal loop (ModalShown). Its last act is WM_WAITFORM_CLOSE.
#include "common/ssListTypes.h"
#include "platform/TThread.h"
#include "platform/VirtualStringTree.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class TMainForm;

class TFreeMemThread : public TThread
{
public:
    // Stores the two trees and the window; the thread runs at once and is freed by its owner.
    // CycleMs is the sleep between two looks at NodeList (the program uses 500).
    TFreeMemThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree, TMainForm *MainForm,
                   int CycleMs = 500);
    // Asks the thread to stop and waits until it has; a pass that waits for the main thread gives up.
    ~TFreeMemThread() override;

    // Marks a loaded folder's node as the most recently used: it becomes the last entry of NodeList
    // (appended when it is not there yet). Main thread, and this thread during a pass.
    void TouchNode(PVirtualNode Node);
    // Takes the least recently used entry out of NodeList; null when it is empty.
    PVirtualNode PopOldestNode();
    // True when Node exists, is collapsed, and neither it nor anything below it is what the windows
    // show: the folder tree's focused node or the folder the file list was filled from. Read while the
    // main thread waits in the modal loop of a pass (or on the main thread).
    bool CanFreeNode(PVirtualNode Node) const;
    // One pass: frees the children of up to Threshold - 9 least recently used folders.
    void FreeOldNodes();
    // Empties NodeList: the folder tree has been cleared. Main thread.
    void ClearNodeList();
    // The main window is inside the modal loop of the wait window that this pass asked for. Main thread.
    void ModalShown();

    // NodeList's entries, least recently used first.
    std::vector<PVirtualNode> Nodes() const;
    int32_t GetThreshold() const;
    // Cycles run since the start (any thread).
    int Cycles() const { return FCycles; }
    // What trims the working set; TrimWorkingSet unless replaced before the first pass.
    std::function<void()> Trim;

protected:
    void Execute() override;

private:
    // Entries of nodes that a pass deleted (freed with an ancestor's children) leave the list.
    void DropDeletedNodes();
    // Sleeps up to Ms or until the thread is asked to stop.
    void Sleep(int Ms);
    // Waits until ModalShown or a stop; True for ModalShown.
    bool WaitForModalShow();

    TVirtualStringTree *FolderTree;
    TVirtualStringTree *FilesTree;
    TMainForm *MainForm;
    // Folder-tree nodes of loaded folders, least recently used first; the tree owns the nodes.
    TObjectList NodeList;
    int32_t Threshold = 30;
    const int CycleMs;
    std::atomic<int> FCycles{0};
    // Guards NodeList, Threshold and FModalShown: the main thread touches nodes while this thread
    // counts and takes them.
    mutable std::mutex NodeListLock;
    std::condition_variable FWake; // a stop, or ModalShown
    bool FModalShown = false;
};
