// Ticking a folder (SetCheckRecursive) whose subtree holds 100,000 stored rows, in a report of
// 1,000,000 rows, against one bare UPDATE of those rows on the same connection in the same run.
// Each pass runs inside a transaction that is rolled back afterwards (untimed), so that every pass
// starts from the same rows, all unchecked.
#include "bench/BenchSupport.h"
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <functional>

namespace {

constexpr int64_t ReportRows = 1000000;
constexpr int64_t StoredRows = 100000;

int64_t QueryInt64(sqlite3 *DB, const std::string &SQL)
{
    sqlite3_stmt *Stmt = nullptr;
    sqlite3_prepare_v2(DB, SQL.c_str(), -1, &Stmt, nullptr);
    const int64_t Value = sqlite3_step(Stmt) == SQLITE_ROW ? sqlite3_column_int64(Stmt, 0) : -1;
    sqlite3_finalize(Stmt);
    return Value;
}

struct Fixture
{
    support::TempDir Temp;
    sqlite3 *DB = nullptr;
    int64_t Folder = 0;
    int64_t Subtree = 0;

    Fixture()
    {
        SetLogFolder(Temp.Path() + "/");
        CreateLogFile();
        const std::string Path = Temp.File("report.db");
        bench::WriteReport(Path, ReportRows);
        DB = bench::OpenAndPrepare(Path);
        // The top-level folder with the largest subtree, and rows for its first 100,000 items below
        // it, breadth first, so that every one hangs below the folder through rows.
        const std::string Below =
            "WITH RECURSIVE below(id, parent) AS (SELECT ID_FILE, ID_PARENT FROM "
            "struct_drive_table WHERE ID_PARENT = %1 UNION ALL SELECT s.ID_FILE, "
            "s.ID_PARENT FROM struct_drive_table s JOIN below b ON s.ID_PARENT = b.id) ";
        int64_t Largest = -1;
        sqlite3_stmt *Top = nullptr;
        sqlite3_prepare_v2(DB,
                           "SELECT ID_FILE FROM struct_drive_table WHERE ID_PARENT = -1 AND IS_FOLDER = 1",
                           -1, &Top, nullptr);
        while (sqlite3_step(Top) == SQLITE_ROW) {
            const int64_t ID = sqlite3_column_int64(Top, 0);
            std::string SQL = Below + "SELECT count(*) FROM below;";
            SQL.replace(SQL.find("%1"), 2, std::to_string(ID));
            const int64_t Count = QueryInt64(DB, SQL);
            if (Count > Largest) {
                Largest = Count;
                Folder = ID;
            }
        }
        sqlite3_finalize(Top);
        std::string Insert = Below +
                             "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, "
                             "id_parent) SELECT id, 0, 0, parent FROM below LIMIT " +
                             std::to_string(StoredRows) + ";";
        Insert.replace(Insert.find("%1"), 2, std::to_string(Folder));
        bench::Exec(DB, Insert);
        bench::Exec(DB,
                    "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent) VALUES (" +
                        std::to_string(Folder) + ", 0, 0, -1);");
        bench::Exec(DB, "COMMIT;");
        Subtree = QueryInt64(DB, "SELECT count(*) FROM check_and_comment_map WHERE fileID <> " +
                                     std::to_string(Folder) + ";");
        if (Subtree != StoredRows) {
            std::fprintf(stderr, "the report has no folder with %lld items below it\n",
                         (long long)StoredRows);
            std::abort();
        }
    }
    ~Fixture()
    {
        DestroyCheckHelper();
        sqlite3_close(DB);
        SetLogFolder("");
    }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

void TickFolder(benchmark::State &State)
{
    Fixture &F = Shared();
    TInt64List List;
    auto Ours = [&] {
        List.Clear();
        SetCheckRecursive(F.DB, 2, List, F.Folder);
    };
    const std::string Update =
        "UPDATE check_and_comment_map SET checked = 1 WHERE fileID <> " + std::to_string(F.Folder) + ";";
    auto Bare = [&] { bench::Exec(F.DB, Update); };
    bench::TimedAndRolledBack(F.DB, Ours); // warm the page cache and the store's statements
    bench::CompareWithBare(
        State, [&] { return bench::TimedAndRolledBack(F.DB, Ours); },
        [&] { return bench::TimedAndRolledBack(F.DB, Bare); });
    State.counters["stored_rows"] = double(F.Subtree);
    State.counters["report_rows"] = double(ReportRows);
    State.counters["touched_ids"] = double(List.Count());
}

} // namespace

BENCHMARK(TickFolder)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
