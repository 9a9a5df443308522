// Loading a folder of 100,000 and one of 1,000,000 children into the folder tree (ThreadExpand, no
// view), against the bare children's statement stepped to its end reading the same columns, in the
// same run. Also reports the heap that one loaded child costs (its item and its folder-tree node).
#include "bench/BenchSupport.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/utExpand.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <future>
#include <memory>

namespace {

sqlite3 *OpenDB = nullptr;

sqlite3 *HookDB()
{
    return OpenDB;
}

size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A prepared report whose top-level folder id 1 holds Children children (a tenth of them folders).
struct TBigReport
{
    support::TempDir Temp;
    sqlite3 *DB = nullptr;
    int64_t Children;

    explicit TBigReport(int64_t Children) : Children(Children)
    {
        SetLogFolder(Temp.Path() + "/");
        CreateLogFile();
        const std::string path = Temp.File("big.db3");
        support::SyntheticOptions options;
        options.rows = Children + 20000;
        options.bigFolder = Children;
        options.bigFolderFolders = 0.1;
        support::MakeSyntheticReport(path, options);
        sqlite3_open(path.c_str(), &DB);
        bench::Exec(DB, "BEGIN TRANSACTION;");
        for (const TPrepareStep &step : ReportPreparationSteps)
            step.Run(DB);
        bench::Exec(DB, "COMMIT;");
        bench::Exec(DB, "BEGIN TRANSACTION;"); // the open transaction of a report opened for work
    }
    ~TBigReport()
    {
        DestroyCheckHelper();
        sqlite3_close_v2(DB);
        SetLogFolder("");
    }

    // The bare statement, stepped to its end, reading every column the worker reads.
    double Bare() const
    {
        return bench::Seconds([this] {
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(DB,
                               "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, "
                               "F_CREATE, F_UPDATE, F_ACCESS, F_CHILDREN_SIZE FROM struct_drive_table      "
                               "WHERE (id_parent = 1) ORDER BY IS_FOLDER DESC, upper(F_NAME)",
                               -1, &stmt, nullptr);
            int64_t sum = 0;
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                sum +=
                    sqlite3_column_int64(stmt, 0) + sqlite3_column_int(stmt, 2) + sqlite3_column_int(stmt, 3);
                sum += sqlite3_column_bytes(stmt, 4) + sqlite3_column_int64(stmt, 5) +
                       sqlite3_column_int(stmt, 6);
                sum += sqlite3_column_bytes(stmt, 7) + sqlite3_column_bytes(stmt, 8) +
                       sqlite3_column_bytes(stmt, 9) + sqlite3_column_int64(stmt, 10);
            }
            sqlite3_finalize(stmt);
            benchmark::DoNotOptimize(sum);
        });
    }
};

// The folder tree with the report's root and the big folder's node, not loaded yet.
struct TFolderTree
{
    TVirtualStringTree Tree;
    std::unique_ptr<TDirectoryList> Root;
    PVirtualNode BigNode = nullptr;

    TFolderTree()
    {
        Root = std::make_unique<TDirectoryList>(QStringLiteral("big.db3"), -1, 0, 0, true, false, 0, 0, 0, 0);
        PVirtualNode rootNode = AddInTreeView(&Tree, nullptr, Root.get());
        auto *big = new TDirectoryList(QStringLiteral("Big folder"), 1, -1, 0, true, false, 0, 0, 0, 0);
        BigNode = AddChildItem(Root.get(), nullptr, &Tree, rootNode, big);
    }
    ~TFolderTree() { Tree.Clear(); }

    // Runs the worker as the expanding event does (the tree in update meanwhile) and waits for its end.
    double Load(sqlite3 *DB)
    {
        std::promise<void> done;
        auto *worker =
            new ThreadExpand(BigNode, &Tree, DB, nullptr, nullptr, nullptr, GetNodeItem(BigNode, &Tree)->id);
        worker->OnFinish = [&done] { done.set_value(); };
        return bench::Seconds([&] {
            Tree.BeginUpdate();
            worker->Resume();
            done.get_future().wait();
            Tree.EndUpdate();
        });
    }
    void Unload()
    {
        Tree.BeginUpdate();
        Tree.DeleteChildren(BigNode);
        GetNodeItem(BigNode, &Tree)->ClearChildren();
        Tree.EndUpdate();
    }
};

void LoadFolder(benchmark::State &state)
{
    auto report = std::make_unique<TBigReport>(state.range(0));
    OpenDB = report->DB;
    SetReportDBHook(HookDB);
    TFolderTree tree;
    size_t bytes = 0;
    uint32_t loaded = 0;
    bench::CompareWithBare(
        state,
        [&] {
            malloc_trim(0);
            CreateLogFile(); // the log of one load only, as in one run of the program
            const size_t before = HeapInUse();
            const double seconds = tree.Load(report->DB);
            bytes = std::max(bytes, HeapInUse() - before);
            loaded = tree.BigNode->ChildCount;
            tree.Unload();
            return seconds;
        },
        [&] { return report->Bare(); });
    state.counters["children"] = loaded;
    state.counters["bytes_per_item"] = double(bytes) / std::max<uint32_t>(loaded, 1);
    SetReportDBHook(nullptr);
}

} // namespace

BENCHMARK(LoadFolder)->Arg(100000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFolder)->Arg(1000000)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return bench::RunBenchmarks(argc, argv);
}
