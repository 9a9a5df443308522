#pragma once
// The worker of "Select all": stores one state on every row of a search-result page.
//
// The starter (TMainForm::CheckNodesInThread) holds both trees in update and waits in the wait
// window's modal loop; meanwhile the worker alone touches the trees' nodes, the file list's checking
// event, CheckedIDs and the connection. Its last act is WM_WAITFORM_CLOSE to the wait window.
#include "platform/TThread.h"
#include "platform/VirtualStringTree.h"

#include <QString>

class TMainForm;
class TWaitForm;

// What a failing CheckingThread leaves for its starter, written before it closes the wait window.
struct TCheckingFailure
{
    bool Failed = false;
    QString Message;
};

class CheckingThread : public TThread
{
public:
    // Created suspended; frees itself when Execute ends. Node is the page's root row; Failure (may be
    // null) is filled when a row cannot be stored.
    CheckingThread(TWaitForm *WaitForm, TMainForm *MainForm, PVirtualNode Node, TCheckState NewState,
                   TCheckingFailure *Failure = nullptr);

protected:
    // Each child row through TMainForm::tv_FilesTreeChecking, then the root's own field. On a failure
    // the rows from the failing one on, and the root, show what the report holds again.
    void Execute() override;

private:
    TWaitForm *WaitForm;
    PVirtualNode Node;
    TCheckState NewState;
    TCheckingFailure *Failure;
};

// The main window the worker works for; set by the constructor.
extern TMainForm *MainFormRef;
