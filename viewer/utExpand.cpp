// Loading one folder's children into the folder tree on a worker thread.
#include "viewer/utExpand.h"

#include "platform/Messages.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"

#include <sqlite3.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The columns of the children's statement, in its order.
enum TChildColumn {
    colIdFile,
    colIdParent,
    colIsFolder,
    colIsDeleted,
    colName,
    colSize,
    colAttr,
    colCreate,
    colUpdate,
    colAccess,
    colChildrenSize,
};

std::string ChildrenSelect(int64_t ParentID)
{
    return "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, "
           "F_ACCESS, F_CHILDREN_SIZE FROM struct_drive_table      WHERE (id_parent = " +
           std::to_string(ParentID) + ") ORDER BY IS_FOLDER DESC, upper(F_NAME)";
}

std::string ErrorText(const std::exception &E)
{
    return E.what();
}

std::mutex FailureLock;
QString ExpandFailure; // guarded by FailureLock

void SetExpandFailure(const QString &Text)
{
    std::lock_guard<std::mutex> lock(FailureLock);
    ExpandFailure = Text;
}

// A load that fails as a whole is logged and kept for the starter to show.
void NoteFailure(const std::string &Text)
{
    WriteLog("==========ThreadExpand.Execute exception - " + Text);
    SetExpandFailure(QString::fromStdString(Text));
}

void NoteSqliteFailure(int Code, sqlite3 *DB)
{
    NoteFailure(ESQLite3::Create(Code, Utf8ToWide(sqlite3_errmsg(DB))).Message().toStdString());
}

// The connection's own mutex, held for a scope (re-entered by every call SQLite makes inside it).
class TDBMutexHold
{
public:
    explicit TDBMutexHold(sqlite3 *DB) : FMutex(DB ? sqlite3_db_mutex(DB) : nullptr)
    {
        sqlite3_mutex_enter(FMutex);
    }
    ~TDBMutexHold() { sqlite3_mutex_leave(FMutex); }
    TDBMutexHold(const TDBMutexHold &) = delete;
    TDBMutexHold &operator=(const TDBMutexHold &) = delete;

private:
    sqlite3_mutex *const FMutex;
};

// A text column; a null data() for NULL. The caller holds the connection's mutex, which makes the
// column's value safe to read through: one call that takes the mutex instead of two.
std::string_view ColumnText(sqlite3_stmt *Stmt, int Column)
{
    sqlite3_value *value = sqlite3_column_value(Stmt, Column);
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
    return text ? std::string_view(text, static_cast<size_t>(sqlite3_value_bytes(value)))
                : std::string_view();
}

// The item one row of the children's statement stands for, below the folder ParentID; the caller
// holds the connection's mutex.
std::unique_ptr<TDirectoryList> ItemFromRow(sqlite3_stmt *Stmt, int64_t ParentID)
{
    const std::string_view name = ColumnText(Stmt, colName);
    const bool isFolder = IntToBool(sqlite3_column_int(Stmt, colIsFolder));
    const double created = ReportStrToDateTime(ColumnText(Stmt, colCreate));
    const double updated = ReportStrToDateTime(ColumnText(Stmt, colUpdate));
    const double accessed = ReportStrToDateTime(ColumnText(Stmt, colAccess));
    return std::make_unique<TDirectoryList>(name.data() ? Utf8BufToWide(name.data(), name.size()) : QString(),
                                            sqlite3_column_int64(Stmt, colIdFile), ParentID,
                                            sqlite3_column_int64(Stmt, isFolder ? colChildrenSize : colSize),
                                            isFolder, IntToBool(sqlite3_column_int(Stmt, colIsDeleted)),
                                            sqlite3_column_int(Stmt, colAttr), created, updated, accessed);
}

// Hands Item to ParentItem's children through AddChildItem. When that fails before the list took the
// item, the item is freed here; once in the list, the folder owns it whatever happens after.
PVirtualNode AddOwnedChild(TDirectoryList *ParentItem, sqlite3 *DB, TVirtualStringTree *Tree,
                           PVirtualNode ParentNode, std::unique_ptr<TDirectoryList> Item)
{
    TDirectoryList *item = Item.release();
    try {
        return AddChildItem(ParentItem, DB, Tree, ParentNode, item);
    } catch (...) {
        const TDirectoryListChildren *list = ParentItem->children;
        if (!list || list->empty() || list->back() != item)
            delete item;
        throw;
    }
}

} // namespace

QString TakeExpandFailure()
{
    std::lock_guard<std::mutex> lock(FailureLock);
    return std::exchange(ExpandFailure, QString());
}

ThreadExpand::ThreadExpand(PVirtualNode ParentNode, TVirtualStringTree *FolderTree, sqlite3 *DB,
                           TImageList *IconsImList, const TSystemImageList *SystemImList, TWaitForm *WaitForm,
                           int64_t ParentID)
    : TThread(true), ParentNode(ParentNode), FolderTree(FolderTree), DB(DB), IconsImList(IconsImList),
      SystemImList(SystemImList), WaitForm(WaitForm), ParentID(ParentID)
{
    FreeOnTerminate = true;
    SetExpandFailure(QString());
}

void ThreadExpand::Execute()
{
    auto added = std::make_unique<std::vector<PVirtualNode>>();
    auto stmt = std::make_unique<TStatementCell>();
    FolderTree->BeginUpdate();
    auto finish = [&] {
        WriteLog("ThreadExpand.Execute - FreeAndNil");
        added.reset();
        WriteLog("ThreadExpand.Execute - finalize");
        stmt->Finalize();
        WriteLog("ThreadExpand.Execute - Dispose");
        stmt.reset();
        WriteLog("ThreadExpand.Execute - EndUpdate");
        FolderTree->EndUpdate();
        WriteLog("ThreadExpand.Execute - Post");
        PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
    };
    try {
        // A statement that cannot be prepared leaves none; its first step then ends the loop at once.
        const int prepared =
            sqlite3_prepare_v2(DB, ChildrenSelect(ParentID).c_str(), -1, stmt->Ptr(), nullptr);
        if (prepared != SQLITE_OK)
            NoteSqliteFailure(prepared, DB);
        TDirectoryList *folder = GetNodeItem(ParentNode, FolderTree);
        // The folder and the folders above it as they show now: the stored children may change them.
        std::vector<std::pair<PVirtualNode, TCheckState>> statesBefore;
        for (PVirtualNode n = ParentNode; n && n != FolderTree->RootNode(); n = n->Parent)
            statesBefore.emplace_back(n, n->CheckState);
        const TCheckState stateBefore = ParentNode->CheckState;
        uint8_t rowState = 0;
        uint8_t rowFolderState = 0;
        const bool hasRow = IsChecked(DB, folder->id, rowState, rowFolderState);
        // The children without rows come in as they count: checked when the folder was ticked as a
        // whole, or, without a row of its own, when it shows checked by inheritance itself.
        const bool inheritChecked =
            hasRow ? rowFolderState == csCheckedNormal : stateBefore == csCheckedNormal;
        bool hasSubfolder = false;
        WriteLog("ThreadExpand.Execute - start read data from base");

        sqlite3_stmt *rows = stmt->Handle();
        int stepped;
        for (;;) {
            try {
                std::unique_ptr<TDirectoryList> item;
                {
                    // The step, the column reads and the item's comment lookup each take the
                    // connection's mutex; held across them, they only count up and down.
                    const TDBMutexHold hold(DB);
                    if ((stepped = sqlite3_step(rows)) != SQLITE_ROW)
                        break;
                    item = ItemFromRow(rows, folder->id);
                }
                const bool isFolder = item->isFolder;
                hasSubfolder = hasSubfolder || isFolder;
                PVirtualNode node = AddOwnedChild(folder, DB, FolderTree, ParentNode, std::move(item));
                if (!isFolder && TVirtualStringTree::IsVisible(node))
                    FolderTree->SetVisible(node, false);
                added->push_back(node);
                if (inheritChecked)
                    node->CheckState = csCheckedNormal; // straight into the node: no events, no tracking
            } catch (const std::exception &E) {
                WriteLog("==========ThreadExpand.Execute exception in while: " + ErrorText(E));
            }
        }

        if (prepared == SQLITE_OK && stepped != SQLITE_DONE)
            NoteSqliteFailure(stepped, DB);

        LoadStoredChecks(added->data(), added->size());

        WriteLog("ThreadExpand.Execute - hasFolderChld");
        if (!hasSubfolder) {
            // No expand button. While the tree itself expands the folder it carries the toggling mark,
            // so the collapse has no effect and the tree's own toggle ends as it began.
            FolderTree->SetHasChildren(ParentNode, false);
            FolderTree->SetToggling(ParentNode, true);
            FolderTree->SetExpanded(ParentNode, false);
        }
        WriteLog("ThreadExpand.Execute - CheckState");
        // Every folder that now shows another state is stored so, that the report says what it shows.
        for (const auto &[node, before] : statesBefore)
            if (node->CheckState != before)
                SetChecked(DB, node->CheckState, GetNodeItem(node, FolderTree)->id);
    } catch (const std::exception &E) {
        NoteFailure(ErrorText(E));
        finish();
        throw;
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void ThreadExpand::LoadStoredChecks(const PVirtualNode *Added, size_t Count)
{
    // Setting every changed child through the control would work the folder's state out again from
    // all its children each time: quadratic in a folder with many stored ticks. So each child is
    // written after its checking event, the folder (and its ancestors) are worked out once from the
    // whole, and the checked events follow in the control's order: the children, then the folders.
    // An empty store answers every child with no row: its lookups are spared.
    std::vector<PVirtualNode> changed;
    const bool anyStored = HasStoredRows(DB);
    for (size_t i = 0; anyStored && i < Count; ++i) {
        PVirtualNode node = Added[i];
        try {
            uint8_t stored = 0;
            uint8_t folderState = 0;
            if (!IsChecked(DB, GetNodeItem(node, FolderTree)->id, stored, folderState) ||
                node->CheckState == stored)
                continue;
            auto state = static_cast<TCheckState>(stored);
            if (!FolderTree->DoChecking(node, state) || node->CheckState == state)
                continue;
            node->CheckState = state;
            changed.push_back(node);
        } catch (const std::exception &E) {
            WriteLog("==========ThreadExpand.Execute exception in load checks to added " + ErrorText(E));
        }
    }
    if (changed.empty())
        return;
    try {
        const std::vector<PVirtualNode> folders = FolderTree->RecomputeCheckState(ParentNode);
        changed.insert(changed.end(), folders.begin(), folders.end());
    } catch (const std::exception &E) {
        WriteLog("==========ThreadExpand.Execute exception in load checks to added " + ErrorText(E));
    }
    for (PVirtualNode node : changed) {
        try {
            FolderTree->DoChecked(node);
        } catch (const std::exception &E) {
            WriteLog("==========ThreadExpand.Execute exception in load checks to added " + ErrorText(E));
        }
    }
}
