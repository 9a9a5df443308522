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
    (void)Node;
}

void TFreeMemThread::Execute()
{
    // Short steps, so that stopping the thread at exit takes no noticeable time.
    while (!Terminated())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
