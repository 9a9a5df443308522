#pragma once
// Shared by the benchmark programs that browse folders one after another in the real main window
// (offscreen): each folder is focused (loaded, its files listed) and opened, then closed once its
// subfolders were seen, with one cycle of the unloading thread per folder.
#include "bench/BenchSupport.h"
#include "report/uDirectoryList.h"
#include "viewer/Main.h"
#include "viewer/utFreeMemThread.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <memory>
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
    int Kept = 0; // folders still loaded at the end
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
        return Result;
    }

private:
    void Visit(PVirtualNode Node)
    {
        if (static_cast<int>(Result.Ids.size()) >= FolderCount)
            return;
        Result.Ids.push_back(GetNodeItem(Node, Tree)->id);
        Result.Seconds += Seconds([&] {
            Tree->SetFocusedNode(Node);
            Tree->SetSelected(Node, true);
            Tree->SetExpanded(Node, true);
        });
        const int cycle = FreeMemThread->Cycles() + 1;
        while (FreeMemThread->Cycles() <= cycle)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
            if (TVirtualStringTree::IsVisible(c))
                Visit(c);
        Tree->SetExpanded(Node, false);
    }

    int FolderCount;
    std::unique_ptr<TMainForm> Form;
    TVirtualStringTree *Tree;
    TBrowse Result;
};

// The children's statements of the same folders, stepped to their ends.
inline double BareBrowse(const std::string &Path, const std::vector<int64_t> &Ids)
{
    sqlite3 *db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    const double seconds = Seconds([&] {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(
            db,
            "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, "
            "F_UPDATE, F_ACCESS, F_CHILDREN_SIZE FROM struct_drive_table WHERE (id_parent = ?) "
            "ORDER BY IS_FOLDER DESC, upper(F_NAME)",
            -1, &stmt, nullptr);
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

} // namespace bench
