#pragma once
// The worker that loads one folder's children from the report into the folder tree: one item per
// row, folders as visible nodes, files as hidden ones, each with its tick state from the folder and
// from the tick store.
//
// The starter (TMainForm::tv_FolderTreeExpanding) puts the trees into update, hands the shared wait
// window out, resumes the worker and shows the window modally; meanwhile the worker alone touches the
// folder tree, its items and the connection. Its last act is WM_WAITFORM_CLOSE to the wait window.
#include "platform/TThread.h"

#include <QString>

#include <cstdint>

struct sqlite3;
class TImageList;
class TSystemImageList;
class TVirtualStringTree;
class TWaitForm;
struct TVirtualNode;
using PVirtualNode = TVirtualNode *;

class ThreadExpand : public TThread
{
public:
    // Created suspended; frees itself when Execute ends. Keeps references only: the items it makes
    // belong to the folder's item from the moment they are added. The image lists are kept, not used.
    // WaitForm may be null (nothing is then posted).
    ThreadExpand(PVirtualNode ParentNode, TVirtualStringTree *FolderTree, sqlite3 *DB,
                 TImageList *IconsImList, const TSystemImageList *SystemImList, TWaitForm *WaitForm,
                 int64_t ParentID);

protected:
    // Reads the children of ParentID folders first, then by upper-cased name, and adds them under
    // ParentNode. A failing row is logged and skipped; a load that fails as a whole (the statement, its
    // steps) is logged and kept for TakeExpandFailure. A folder without subfolders loses its expand
    // button; a folder whose state the stored ticks of its children change has its new state stored.
    void Execute() override;

private:
    // The stored states of the added nodes, put through the tree's checking events; the folder's state
    // is then worked out once from all its children, not once per changed child.
    void LoadStoredChecks(const PVirtualNode *Added, size_t Count);

    PVirtualNode ParentNode;
    TVirtualStringTree *FolderTree;
    sqlite3 *DB;
    TImageList *IconsImList;
    const TSystemImageList *SystemImList;
    TWaitForm *WaitForm;
    int64_t ParentID;
};

// Why the last folder load failed as a whole (its statement could not be prepared or stepped, or an
// error outside the per-row steps), empty when it did not; taken once: the text is cleared. The worker
// sets it before its close message, the starter takes it after the modal show. Any thread.
QString TakeExpandFailure();
