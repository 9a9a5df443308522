// Browsing 2,000 folders of a 1,000,000-row report one after another in the real main window
// (offscreen): each folder is focused (loaded, its files listed) and opened, then closed once its
// subfolders were seen, with one cycle of the unloading thread per folder, as for a user who spends
// half a second on each. Resident memory and heap at the end with unloading against without it, in
// one run; the browsing time against the bare children's statements of the same folders.
#include "bench/BenchSupport.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"
#include "viewer/utFreeMemThread.h"

#include <QApplication>
#include <QThread>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <vector>

namespace {

constexpr int FolderCount = 2000;

struct TMemory
{
    double RssMB, HeapMB;
};

TMemory MemoryNow()
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
    TBrowser(const std::string &Path, bool Unloading)
        : Form(std::make_unique<TMainForm>(nullptr,
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
        Result.Seconds += bench::Seconds([&] {
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

    std::unique_ptr<TMainForm> Form;
    TVirtualStringTree *Tree;
    TBrowse Result;
};

// The children's statements of the same folders, stepped to their ends.
double Bare(const std::string &Path, const std::vector<int64_t> &Ids)
{
    sqlite3 *db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    const double seconds = bench::Seconds([&] {
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

void BrowseFolders(benchmark::State &state)
{
    support::TempDir temp;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config")));
    SetLogFolder(temp.Path() + "/");
    const std::string path = temp.File("big.db3");
    bench::WriteReport(path, 1000000);
    TBrowse with, without;
    for (auto _ : state) {
        with = TBrowser(path, true).Run();
        without = TBrowser(path, false).Run();
        state.SetIterationTime(with.Seconds);
    }
    const double bare = Bare(path, with.Ids);
    state.counters["folders"] = double(with.Ids.size());
    state.counters["ours_s"] = with.Seconds;
    state.counters["bare_s"] = bare;
    state.counters["s_without"] = without.Seconds;
    state.counters["ratio"] = with.Seconds / bare;
    state.counters["rss_MB_unloading"] = with.Growth.RssMB;
    state.counters["rss_MB_without"] = without.Growth.RssMB;
    state.counters["heap_MB_unloading"] = with.Growth.HeapMB;
    state.counters["heap_MB_without"] = without.Growth.HeapMB;
    state.counters["loaded_unloading"] = with.Kept;
    state.counters["loaded_without"] = without.Kept;
    SetLogFolder("");
}

} // namespace

BENCHMARK(BrowseFolders)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    // The window's named mutexes are shared with other running copies: keep to our own.
    qputenv("PARVIX_MUTEX_NAMESPACE", "free_mem_bench");
    return bench::RunWithWidgets(argc, argv);
}
