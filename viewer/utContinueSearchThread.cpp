// Filling a search-result page on a worker thread.
#include "viewer/utContinueSearchThread.h"

#include "platform/Messages.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uSQLiteFunc.h"
#include "viewer/Main.h"
#include "viewer/ufWaitForm.h"

#include <QScopeGuard>
#include <sqlite3.h>

#include <memory>
#include <string_view>

namespace {

// Read in place: valid until the statement steps on.
std::string_view ColumnText(sqlite3_stmt *Stmt, int Column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(Stmt, Column));
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(Stmt, Column)))
                : std::string_view();
}

} // namespace

TThread_ContinueSearch::TThread_ContinueSearch(sqlite3 *DB, sqlite3_stmt **StmtHolder,
                                               TVirtualStringTree *FilesTree, PVirtualNode ParentNode,
                                               int PageLimit, TWaitForm *WaitForm, TMainForm *MainForm)
    : TThread(true), StmtHolder(StmtHolder), PageLimit(PageLimit), FilesTree(FilesTree),
      ParentNode(ParentNode), DB(DB), WaitForm(WaitForm), MainForm(MainForm), FInherited(DB)
{
    FreeOnTerminate = true;
}

void TThread_ContinueSearch::AddRow(sqlite3_stmt *Stmt)
{
    const std::string_view name = ColumnText(Stmt, 4);
    auto item = std::make_unique<TDirectoryList>(
        Utf8BufToWide(name.data(), name.size()), sqlite3_column_int64(Stmt, 0), sqlite3_column_int64(Stmt, 1),
        sqlite3_column_int64(Stmt, 5), IntToBool(sqlite3_column_int(Stmt, 2)),
        IntToBool(sqlite3_column_int(Stmt, 3)), sqlite3_column_int(Stmt, 6),
        ReportStrToDateTime(ColumnText(Stmt, 7)), ReportStrToDateTime(ColumnText(Stmt, 8)),
        ReportStrToDateTime(ColumnText(Stmt, 9)));
    if (item->isFolder)
        item->size = sqlite3_column_int64(Stmt, 11);
    // The root owns the row from here on, whatever happens to its node.
    GetNodeItem(ParentNode, FilesTree)->GetChildren().push_back(item.get());
    TDirectoryList *row = item.release();
    PVirtualNode node = AddInTreeView(FilesTree, ParentNode, row);
    uint8_t state = 0;
    uint8_t folderState = 0;
    bool found = IsChecked(DB, row->id, state, folderState);
    if (!found) {
        // The row gives the parent, and a walk up serves all the rows below the ancestors it passed.
        found = FInherited.Checked(row->id, row->id_parent);
        state = csCheckedNormal;
    }
    bool unchecked = true;
    if (found) {
        // Straight into the node: nothing is stored, and the root is worked out once, after the page
        // (through the control each row would recount all the rows before it).
        node->CheckState = static_cast<TCheckState>(state);
        unchecked = state == csUncheckedNormal;
        if (state == csCheckedNormal && !FCheckedPosted)
            FCheckedPosted = PostMessage(MainForm, WM_SEARCH_FOUND_CHECKED);
    }
    // One message of each kind says all the main window needs to know of a page.
    if (unchecked && !FUncheckedPosted)
        FUncheckedPosted = PostMessage(MainForm, WM_SEARCH_FOUND_UNCHECKED);
}

void TThread_ContinueSearch::Execute()
{
    FilesTree->BeginUpdate();
    const auto checking = FilesTree->OnChecking;
    FilesTree->OnChecking = nullptr;
    const auto finish = qScopeGuard([this, &checking] {
        FilesTree->EndUpdate();
        FilesTree->OnChecking = checking;
        PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
    });
    sqlite3_stmt *stmt = StmtHolder ? *StmtHolder : nullptr;
    // Stepped after its end, the statement starts again from its first row: the count leaves it there.
    int result = stmt ? sqlite3_step(stmt) : SQLITE_MISUSE;
    int count = 0;
    while (result == SQLITE_ROW && count < PageLimit) {
        try {
            AddRow(stmt);
            ++count;
        } catch (...) {
            // That row is left out; the page goes on with the next one.
        }
        // A full page leaves the next row to the next page's first step.
        if (count == PageLimit)
            break;
        result = sqlite3_step(stmt);
    }
    FilesTree->RecomputeCheckState(ParentNode);
    // A failing statement would give empty pages for ever: paging ends as at the statement's end.
    if (result != SQLITE_ROW)
        PostMessage(MainForm, WM_SEARCH_NO_MORE);
}
