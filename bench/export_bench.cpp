// Exporting 100,000 tick rows of a report of 1,000,000 rows (ExportChecks: set-up, the row-by-row copy
// with re-bound inserts, commit) against the bare work on the same data in the same run: the same
// set-up, then INSERT ... SELECT from the report attached to the export file, and the commit.
#include "bench/BenchSupport.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QString>
#include <functional>
#include <string>

namespace {

constexpr int64_t ReportRows = 1000000;
constexpr int64_t TickRows = 100000;

struct Fixture
{
    support::TempDir Temp;
    std::string Path;
    sqlite3 *Source = nullptr;

    Fixture()
    {
        Path = Temp.File("report.db");
        bench::WriteReport(Path, ReportRows);
        sqlite3 *db = nullptr;
        sqlite3_open(Path.c_str(), &db);
        bench::Exec(db, CheckAndCommentMapTableSql);
        // Every tenth item ticked; every fifth of those with a comment, some of them non-ASCII.
        bench::Exec(
            db,
            "INSERT INTO check_and_comment_map (comment, checked, fileID, id_parent, flag, checkForFolder) "
            "SELECT CASE WHEN ID_FILE % 50 = 0 THEN 'comment on ' || F_NAME END, ID_FILE % 3, ID_FILE, "
            "ID_PARENT, NULL, IS_FOLDER FROM struct_drive_table WHERE ID_FILE % 10 = 0 LIMIT " +
                std::to_string(TickRows) + ";");
        bench::Exec(db, "INSERT INTO information VALUES ('scanner', 'bench'), ('drive', 'C:');");
        sqlite3_close(db);
        // The export worker's reading connection, inside its own transaction.
        sqlite3_open(Path.c_str(), &Source);
        bench::Exec(Source, "BEGIN TRANSACTION;");
    }
    ~Fixture()
    {
        bench::Exec(Source, "COMMIT;");
        sqlite3_close(Source);
    }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

void BareExport(const std::string &exportPath, const std::string &reportPath)
{
    sqlite3 *db = nullptr;
    sqlite3_open(exportPath.c_str(), &db);
    bench::Exec(db, "DROP TABLE IF EXISTS check_and_comment_map;");
    bench::Exec(db, "CREATE TABLE IF NOT EXISTS information (field_Name TEXT, value);");
    bench::Exec(db, "DELETE FROM information;");
    bench::Exec(db, CheckAndCommentMapTableSql);
    bench::Exec(db, "ATTACH DATABASE '" + reportPath + "' AS report;");
    bench::Exec(db, "BEGIN TRANSACTION;");
    bench::Exec(
        db,
        "INSERT INTO check_and_comment_map (id, comment, checked, fileID, id_parent, flag, checkForFolder) "
        "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM "
        "report.check_and_comment_map;");
    bench::Exec(
        db, "INSERT INTO information (field_Name, value) SELECT field_Name, value FROM report.information;");
    bench::Exec(db, "COMMIT;");
    bench::Exec(db, "DETACH DATABASE report;");
    sqlite3_close(db);
}

void ExportTicks(benchmark::State &state)
{
    Fixture &f = Shared();
    const std::string oursPath = f.Temp.File("ours_Export.roa");
    const std::string barePath = f.Temp.File("bare_Export.roa");
    const QString oursName = QString::fromStdString(oursPath);
    auto ours = [&] { ExportChecks(oursName, f.Source); };
    auto bare = [&] { BareExport(barePath, f.Path); };
    ours(); // warm the page cache and create both files, so that every timed pass reuses one
    bare();
    bench::CompareWithBare(
        state, [&] { return bench::Seconds(ours); }, [&] { return bench::Seconds(bare); });
    state.counters["ticks"] = double(TickRows);
}

} // namespace

BENCHMARK(ExportTicks)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
