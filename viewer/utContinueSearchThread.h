#pragma once
// The worker that fills one result page: it steps the running search statement on from where the
// last page left it and adds one row under the page's root for each result, up to the page size, with
// the row's tick state from the tick store.
//
// The starter (TMainForm::mi_MoreResultsClick) holds the file list in update and waits in the wait
// window's modal loop; meanwhile the worker alone touches the file list, the statement and the
// connection. It tells the main window what it found by WM_SEARCH_FOUND_CHECKED,
// WM_SEARCH_FOUND_UNCHECKED and WM_SEARCH_NO_MORE, and its last act is WM_WAITFORM_CLOSE to the wait
// window, so the main window has handled the others when the modal show returns.
#include "platform/TThread.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"

#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;
class TMainForm;
class TWaitForm;

class TThread_ContinueSearch : public TThread
{
public:
    // Created suspended; frees itself when Execute ends. StmtHolder may be null (no statement: an
    // empty page that ends the paging). ParentNode's item is the page's root item, which takes the
    // row items into its children and so owns them.
    TThread_ContinueSearch(sqlite3 *DB, sqlite3_stmt **StmtHolder, TVirtualStringTree *FilesTree,
                           PVirtualNode ParentNode, int PageLimit, TWaitForm *WaitForm, TMainForm *MainForm);

protected:
    // At most PageLimit rows. A row that cannot be made is skipped; any end of the rows other than a
    // full page (the statement's end, or its failure) posts WM_SEARCH_NO_MORE.
    void Execute() override;

private:
    void AddRow(sqlite3_stmt *Stmt);

    sqlite3_stmt **StmtHolder;
    int PageLimit;
    TVirtualStringTree *FilesTree;
    PVirtualNode ParentNode;
    sqlite3 *DB;
    TWaitForm *WaitForm;
    TMainForm *MainForm;
    // What rows without a tick row of their own inherit; the store does not change during a page.
    TInheritedTicks FInherited;
    bool FCheckedPosted = false;
    bool FUncheckedPosted = false;
};
