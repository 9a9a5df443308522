#pragma once
// The background thread that frees the children of folders not used for a while. One runs for the
// whole life of the main window: its constructor starts it, its destructor stops it.
#include "platform/TThread.h"
#include "platform/VirtualStringTree.h"

class TMainForm;

class TFreeMemThread : public TThread
{
public:
    // Stores the two trees and the window; the thread runs at once and is freed by its owner.
    TFreeMemThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree, TMainForm *MainForm);
    // Asks the thread to stop and waits until it has.
    ~TFreeMemThread() override;

    // Marks a loaded folder's node as the most recently used. Main thread.
    void TouchNode(PVirtualNode Node);

protected:
    void Execute() override;

private:
    TVirtualStringTree *FolderTree;
    TVirtualStringTree *FilesTree;
    TMainForm *MainForm;
    int32_t Threshold = 30;
};
