// Storing the rows of a search-result page on a worker thread.
#include "viewer/utCheckingThread.h"

#include "platform/Messages.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "viewer/Main.h"
#include "viewer/ufWaitForm.h"

#include <QScopeGuard>

TMainForm *MainFormRef = nullptr;

namespace {

// Rows from First on get the state the report holds for them (the control had pushed the new one
// down already); then the root is worked out from its rows.
void ShowStoredStates(TVirtualStringTree *Tree, PVirtualNode Root, PVirtualNode First)
{
    for (PVirtualNode row = First; row; row = row->NextSibling) {
        uint8_t state = 0;
        uint8_t folderState = 0;
        if (!IsCheckedInherited(ReportDB, GetNodeItem(row, Tree)->id, state, folderState))
            state = csUncheckedNormal;
        row->CheckState = static_cast<TCheckState>(state);
    }
    Tree->RecomputeCheckState(Root);
}

} // namespace

CheckingThread::CheckingThread(TWaitForm *WaitForm, TMainForm *MainForm, PVirtualNode Node,
                               TCheckState NewState, TCheckingFailure *Failure)
    : TThread(true), WaitForm(WaitForm), Node(Node), NewState(NewState), Failure(Failure)
{
    MainFormRef = MainForm;
    FreeOnTerminate = true;
}

void CheckingThread::Execute()
{
    TVirtualStringTree *files = MainFormRef->tv_FilesTree;
    const auto finish = qScopeGuard([this] {
        MainFormRef->AttachFilesTreeChecking();
        PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
    });
    files->OnChecking = nullptr;
    PVirtualNode child = Node->FirstChild;
    try {
        for (uint32_t i = 0, count = Node->ChildCount; i < count && child; ++i, child = child->NextSibling) {
            TCheckState state = NewState;
            bool allowed = true;
            MainFormRef->tv_FilesTreeChecking(files, child, state, allowed);
        }
        Node->CheckState = NewState;
    } catch (const std::exception &E) {
        WriteLog(std::string("CheckingThread.Execute - ") + E.what());
        if (Failure) {
            Failure->Failed = true;
            Failure->Message = QString::fromUtf8(E.what());
        }
        ShowStoredStates(files, Node, child);
    }
}
