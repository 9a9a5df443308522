// Loading a folder of 100,000 and one of 1,000,000 children into the folder tree (ThreadExpand, no
// view), against its floor in the same run: the bare children's statement stepped to its end reading
// the same columns, plus a bare loop that appends the load's own log lines (same count, same bytes)
// opening and closing the file for each, as the log's rule asks. Also reports the heap that one
// loaded child costs (its item and its folder-tree node), and the load of a folder of 100,000
// children of a report with 100,000 stored rows elsewhere against the same load without them.
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
#include <fcntl.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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

// The lines of the log file, each with its line break, as WriteLog appended them.
std::vector<std::string> LoggedLines()
{
    std::ifstream in(LogFileName(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end + 2 - start));
    return lines;
}

// The log's floor: each line appended to a file of its own, opened and closed for that line alone.
double BareLines(const std::vector<std::string> &Lines, const std::string &Path)
{
    close(open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return bench::Seconds([&] {
        for (const std::string &line : Lines) {
            const int fd = open(Path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                std::abort();
            close(fd);
        }
    });
}

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
    std::vector<std::string> lines;
    const std::string linesPath = report->Temp.File("floor.log");
    double selectTotal = 0;
    double linesTotal = 0;
    bench::CompareWithBare(
        state,
        [&] {
            malloc_trim(0);
            CreateLogFile(); // the log of one load only, as in one run of the program
            const size_t before = HeapInUse();
            const double seconds = tree.Load(report->DB);
            bytes = std::max(bytes, HeapInUse() - before);
            loaded = tree.BigNode->ChildCount;
            lines = LoggedLines();
            tree.Unload();
            return seconds;
        },
        [&] {
            // The first pass is ours, so the lines of a load are known here.
            const double select = report->Bare();
            const double append = BareLines(lines, linesPath);
            selectTotal += select;
            linesTotal += append;
            return select + append;
        });
    state.counters["children"] = loaded;
    state.counters["log_lines"] = double(lines.size());
    state.counters["select_s"] = selectTotal / double(state.iterations());
    state.counters["lines_s"] = linesTotal / double(state.iterations());
    state.counters["bytes_per_item"] = double(bytes) / std::max<uint32_t>(loaded, 1);
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
    TFolderTree tree;
    uint32_t loaded = 0;
    auto load = [&](bool withRows) {
        if (withRows)
            bench::Exec(report->DB, "INSERT INTO check_and_comment_map SELECT * FROM temp.stored;");
        CreateLogFile();
        const double seconds = tree.Load(report->DB);
        loaded = tree.BigNode->ChildCount;
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
