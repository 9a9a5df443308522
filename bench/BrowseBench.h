#pragma once
// Shared by the benchmark programs that browse folders one after another in the real main window
// (offscreen): each folder is focused (loaded, its files listed) and opened, then closed once its
// subfolders were seen, with one cycle of the unloading thread per folder.
#include "bench/BenchSupport.h"
#include "bench/ExpandBench.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "viewer/Main.h"
#include "viewer/utFreeMemThread.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <utility>
#include <vector>

namespace bench {

struct TMemory
{
    double RssMB, HeapMB;
};

inline TMemory MemoryNow()
{
    malloc_trim(0);
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    const struct mallinfo2 m = mallinfo2();
    return {double(resident) * double(sysconf(_SC_PAGESIZE)) / 1e6, double(m.uordblks + m.hblkhd) / 1e6};
}

struct TBrowse
{
    double Seconds = 0;
    TMemory Growth{};
    std::vector<int64_t> Ids;
    int Kept = 0;                   // folders still loaded at the end
    std::vector<std::string> Lines; // of the log, written while the browsing was timed
};

class TBrowser
{
public:
    TBrowser(const std::string &Path, bool Unloading, int FolderCount = 2000)
        : FolderCount(FolderCount),
          Form(std::make_unique<TMainForm>(nullptr,
                                           QStringList{QStringLiteral("v"), QString::fromStdString(Path)}))
    {
        Tree = Form->tv_FolderTree;
        while (!Tree->GetFirst() || !Tree->GetFirst()->ChildCount)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // Without a window to answer it the thread never gets the wait window: it only keeps its list.
        delete FreeMemThread;
        FreeMemThread = new TFreeMemThread(Tree, Form->tv_FilesTree, Unloading ? Form.get() : nullptr, 2);
    }
    ~TBrowser() { Form.reset(); }
    TVirtualStringTree *FolderTree() const { return Tree; }

    TBrowse Run()
    {
        const TMemory before = MemoryNow();
        Visit(Tree->GetFirst());
        const TMemory after = MemoryNow();
        Result.Growth = {after.RssMB - before.RssMB, after.HeapMB - before.HeapMB};
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            Result.Kept += n->ChildCount > 0;
        std::ifstream log(LogFileName(), std::ios::binary);
        for (const auto &[from, to] : FLogged) {
            std::string text(static_cast<size_t>(to - from), '\0');
            log.seekg(from);
            log.read(text.data(), to - from);
            for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
                 start = end + 2)
                Result.Lines.push_back(text.substr(start, end + 2 - start));
        }
        return Result;
    }

private:
    void Visit(PVirtualNode Node)
    {
        if (static_cast<int>(Result.Ids.size()) >= FolderCount)
            return;
        Result.Ids.push_back(GetNodeItem(Node, Tree)->id);
        const std::streamoff logFrom = LogSize();
        Result.Seconds += Seconds([&] {
            Tree->SetFocusedNode(Node);
            Tree->SetSelected(Node, true);
            Tree->SetExpanded(Node, true);
        });
        FLogged.emplace_back(logFrom, LogSize());
        const int cycle = FreeMemThread->Cycles() + 1;
        while (FreeMemThread->Cycles() <= cycle)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
            if (TVirtualStringTree::IsVisible(c))
                Visit(c);
        Tree->SetExpanded(Node, false);
    }

    static std::streamoff LogSize()
    {
        return std::ifstream(LogFileName(), std::ios::binary | std::ios::ate).tellg();
    }

    int FolderCount;
    std::unique_ptr<TMainForm> Form;
    TVirtualStringTree *Tree;
    TBrowse Result;
    std::vector<std::pair<std::streamoff, std::streamoff>> FLogged; // the log's growth in each timed step
};

// The worker's statement of a folder's children, with the folder's id bound.
constexpr const char *BoundChildrenSelect =
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, F_ACCESS, "
    "F_CHILDREN_SIZE FROM struct_drive_table      WHERE (id_parent = ?) ORDER BY IS_FOLDER DESC, "
    "upper(F_NAME)";

// The children's statements of the same folders, stepped to their ends.
inline double BareBrowse(const std::string &Path, const std::vector<int64_t> &Ids)
{
    sqlite3 *db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    const double seconds = Seconds([&] {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, BoundChildrenSelect, -1, &stmt, nullptr);
        int64_t sum = 0;
        for (int64_t id : Ids) {
            sqlite3_bind_int64(stmt, 1, id);
            while (sqlite3_step(stmt) == SQLITE_ROW)
                sum += sqlite3_column_int64(stmt, 0) + sqlite3_column_bytes(stmt, 4);
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        benchmark::DoNotOptimize(sum);
    });
    sqlite3_close_v2(db);
    return seconds;
}

// One statement prepared once and stepped per id, as the viewer keeps its per-item queries.
class TBareQuery
{
public:
    TBareQuery(sqlite3 *DB, const char *SQL) { sqlite3_prepare_v2(DB, SQL, -1, &FStmt, nullptr); }
    ~TBareQuery() { sqlite3_finalize(FStmt); }
    TBareQuery(const TBareQuery &) = delete;
    TBareQuery &operator=(const TBareQuery &) = delete;
    // Whether Id gives a row.
    bool Step(int64_t Id)
    {
        sqlite3_bind_int64(FStmt, 1, Id);
        const bool row = sqlite3_step(FStmt) == SQLITE_ROW;
        sqlite3_reset(FStmt);
        return row;
    }

private:
    sqlite3_stmt *FStmt = nullptr;
};

// The floor of browsing the same folders: what the work on each folder needs of the report, bare, on a
// connection of its own: the children's statement stepped to its end, each child's comment lookup
// and file-list tick lookup, the has-subfolder query of each child that is a folder, the folder's own
// tick lookups (one per worker) and its size; plus the log lines the browsing wrote while it was
// timed, each appended with its own open and close. Returns the two parts' seconds.
inline std::pair<double, double> BareBrowseFloor(const std::string &Path, const std::vector<int64_t> &Ids,
                                                 const std::vector<std::string> &Lines,
                                                 const std::string &LinesPath)
{
    sqlite3 *db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    const double data = Seconds([&] {
        sqlite3_stmt *children = nullptr;
        sqlite3_prepare_v2(db, BoundChildrenSelect, -1, &children, nullptr);
        TBareQuery comment(db, "SELECT comment FROM check_and_comment_map WHERE (fileId = ? );");
        TBareQuery tick(db, "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = ?);");
        TBareQuery subfolder(
            db, "SELECT rowid FROM struct_drive_table WHERE ((id_parent = ? ) and (is_folder = 1) )");
        TBareQuery size(db, "SELECT f_children_size FROM struct_drive_table WHERE id_file = ?");
        int64_t found = 0;
        std::vector<std::pair<int64_t, bool>> rows;
        for (int64_t id : Ids) {
            rows.clear();
            sqlite3_bind_int64(children, 1, id);
            while (sqlite3_step(children) == SQLITE_ROW) {
                found += sqlite3_column_bytes(children, 4) + sqlite3_column_bytes(children, 7) +
                         sqlite3_column_bytes(children, 8) + sqlite3_column_bytes(children, 9);
                rows.emplace_back(sqlite3_column_int64(children, 0), sqlite3_column_int(children, 2) == 1);
            }
            sqlite3_reset(children);
            for (const auto &[child, isFolder] : rows)
                found += comment.Step(child) + tick.Step(child) + (isFolder && subfolder.Step(child));
            found += tick.Step(id) + tick.Step(id) + size.Step(id);
        }
        sqlite3_finalize(children);
        benchmark::DoNotOptimize(found);
    });
    sqlite3_close_v2(db);
    return {data, BareLines(Lines, LinesPath)};
}

} // namespace bench
