// Loading a folder of 100,000 and one of 1,000,000 children into the folder tree (ThreadExpand, no
// view), against its floor in the same run: the bare children's statement stepped to its end reading
// the same columns, plus a bare loop that appends the load's own log lines (same count, same bytes)
// opening and closing the file for each, as the log's rule asks. Also reports the heap that one
// loaded child costs (its item and its folder-tree node), and the load of a folder of 100,000
// children of a report with 100,000 stored rows elsewhere against the same load without them.
#include "bench/ExpandBench.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

sqlite3 *OpenDB = nullptr;

sqlite3 *HookDB()
{
    return OpenDB;
}

// A prepared report whose top-level folder id 1 holds Children children (a tenth of them folders),
// with Others rows outside it.
struct TBigReport
{
    support::TempDir Temp;
    sqlite3 *DB = nullptr;
    int64_t Children;

    explicit TBigReport(int64_t Children, int64_t Others = 20000) : Children(Children)
    {
        SetLogFolder(Temp.Path() + "/");
        CreateLogFile();
        const std::string path = Temp.File("big.db3");
        bench::WriteBigFolderReport(path, Children + Others, Children);
        DB = bench::OpenAndPrepare(path);
        bench::Exec(DB, "COMMIT;");
        bench::Exec(DB, "BEGIN TRANSACTION;"); // the open transaction of a report opened for work
    }
    ~TBigReport()
    {
        DestroyCheckHelper();
        sqlite3_close_v2(DB);
        SetLogFolder("");
    }
};

void LoadFolder(benchmark::State &state)
{
    auto report = std::make_unique<TBigReport>(state.range(0));
    OpenDB = report->DB;
    SetReportDBHook(HookDB);
    bench::TFolderTree tree;
    bench::LoadAgainstFloor(state, report->DB, tree, report->Temp.File("floor.log"));
    SetReportDBHook(nullptr);
}

// The same load with 100,000 rows in check_and_comment_map, none under the folder (ours), and without
// them (bare), alternately on the one report; the rows go in and out between the timed loads.
void LoadFolderWithStoredRows(benchmark::State &state)
{
    constexpr int64_t StoredRows = 100000;
    auto report = std::make_unique<TBigReport>(state.range(0), StoredRows + 20000);
    OpenDB = report->DB;
    SetReportDBHook(HookDB);
    bench::Exec(report->DB,
                "CREATE TEMP TABLE stored AS SELECT NULL AS id, CASE WHEN ID_FILE % 2 THEN 'note' END AS "
                "comment, ID_FILE % 3 AS checked, ID_FILE AS fileID, ID_PARENT AS id_parent, NULL AS flag, "
                "ID_FILE % 3 = 1 AS checkForFolder FROM struct_drive_table WHERE ID_PARENT <> 1 AND "
                "ID_FILE <> 1 LIMIT " +
                    std::to_string(StoredRows) + ";");
    bench::TFolderTree tree;
    uint32_t loaded = 0;
    auto load = [&](bool withRows) {
        if (withRows)
            bench::Exec(report->DB, "INSERT INTO check_and_comment_map SELECT * FROM temp.stored;");
        CreateLogFile();
        const double seconds = tree.Load(report->DB);
        loaded = tree.Node->ChildCount;
        tree.Unload();
        bench::Exec(report->DB, "DELETE FROM check_and_comment_map;");
        return seconds;
    };
    bench::CompareWithBare(
        state, [&] { return load(true); }, [&] { return load(false); });
    state.counters["children"] = loaded;
    state.counters["stored_rows"] = StoredRows;
    SetReportDBHook(nullptr);
}

} // namespace

BENCHMARK(LoadFolder)->Arg(100000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFolder)->Arg(1000000)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFolderWithStoredRows)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return bench::RunBenchmarks(argc, argv);
}
