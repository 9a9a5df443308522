#pragma once
// The worker that fills the file list with the loaded children of the focused folder: one top-level
// row per child item, in the order of the folder's child list, each with its tick state from the
// folder and from the tick store. It reads no folder contents from the report.
//
// The starter (TMainForm::tv_FolderTreeFocusChanging) puts both trees into update, clears the list,
// resumes the worker and shows the shared wait window modally; meanwhile the worker alone touches the
// file list and the connection. Its last act is WM_WAITFORM_CLOSE to the wait window.
#include "platform/TThread.h"
#include "report/uDirectoryList.h"

struct sqlite3;
class TVirtualStringTree;
class TWaitForm;

class TAddingThread : public TThread
{
public:
    // Created suspended; frees itself when Execute ends. FolderData is the folder's data cell in the
    // folder tree, FolderNode its node there. WaitForm may be null (nothing is then posted).
    TAddingThread(sqlite3 *DB, TNodeItemCell FolderData, TVirtualStringTree *FilesTree,
                  PVirtualNode FolderNode, TWaitForm *WaitForm);

protected:
    // Adds the rows; the wait window's text gives the rows still to come every 500 rows. A failure
    // ends the filling quietly with the rows added until then.
    void Execute() override;

private:
    TNodeItemCell FolderData;
    TVirtualStringTree *FilesTree;
    sqlite3 *DB;
    PVirtualNode FolderNode;
    TWaitForm *WaitForm;
};

// The wait window's text while the list is filled; the count of rows still to come follows it.
extern const QString AddingFilesText;
