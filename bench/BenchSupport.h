#pragma once
// Shared by the benchmark programs.
//
// CompareWithBare times our code and the bare SQLite/zlib work on the same data in the same run, alternately,
// so that neither side always meets the warmer cache. Each benchmark iteration runs both once; the iteration
// time is ours (use UseManualTime), and the counters ours_s, bare_s (mean seconds) and ratio
// (ours / bare) are reported.
#include "report/uSQLiteFunc.h"
#include "tests/support/RunLocks.h"
#include "tests/support/SyntheticReport.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

// Before main: no benchmark shares a lock with a viewer or another run.
inline const bool RunLocksNamed = (support::NameRunLocks(), true);

// Seconds taken by work.
inline double Seconds(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ours and bare each run one pass and return the seconds it took (the part of it to be compared).
inline void CompareWithBare(benchmark::State &state, const std::function<double()> &ours,
                            const std::function<double()> &bare)
{
    double oursTotal = 0;
    double bareTotal = 0;
    int pass = 0;
    for (auto _ : state) {
        double mine;
        if (pass++ % 2 == 0) {
            mine = ours();
            bareTotal += bare();
        } else {
            bareTotal += bare();
            mine = ours();
        }
        oursTotal += mine;
        state.SetIterationTime(mine);
    }
    state.counters["ours_s"] = oursTotal / pass;
    state.counters["bare_s"] = bareTotal / pass;
    state.counters["ratio"] = oursTotal / bareTotal;
}

// Runs sql bare; a failure ends the program, since the figures would mean nothing.
inline void Exec(sqlite3 *db, const std::string &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
        std::abort();
    }
}

// Tick rows for the report's first Count items by id, their checked and checkForFolder given as SQL
// expressions over struct_drive_table's columns.
inline void StoreTickRows(sqlite3 *db, int64_t Count, const std::string &Checked,
                          const std::string &ForFolder)
{
    Exec(db, "INSERT OR IGNORE INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent) SELECT "
             "ID_FILE, " +
                 Checked + ", " + ForFolder + ", ID_PARENT FROM struct_drive_table ORDER BY ID_FILE LIMIT " +
                 std::to_string(Count) + ";");
}

// Seconds taken by work inside a transaction on db that is rolled back afterwards (not timed), so that
// every pass starts from the same database.
inline double TimedAndRolledBack(sqlite3 *db, const std::function<void()> &work)
{
    Exec(db, "BEGIN TRANSACTION;");
    const double seconds = Seconds(work);
    Exec(db, "ROLLBACK;");
    return seconds;
}

// The body of a benchmark program's main, once its application object exists. Before runs once the
// arguments are accepted, After once the benchmarks are done (shared data set up and removed).
inline int RunBenchmarks(int &argc, char **argv, const std::function<void()> &Before = {},
                         const std::function<void()> &After = {})
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (Before)
        Before();
    benchmark::RunSpecifiedBenchmarks();
    if (After)
        After();
    benchmark::Shutdown();
    return 0;
}

// The same with a widget application, offscreen unless told otherwise.
inline int RunWithWidgets(int argc, char **argv, const std::function<void()> &Before = {},
                          const std::function<void()> &After = {})
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RunBenchmarks(argc, argv, Before, After);
}

// Writes the synthetic report of the given size (default options otherwise) to path.
inline void WriteReport(const std::string &path, int64_t rows)
{
    support::SyntheticOptions options;
    options.rows = rows;
    support::MakeSyntheticReport(path, options);
}

// Writes the synthetic report whose top-level folder id 1 holds bigFolder of its rows (a tenth of them
// folders) to path.
inline void WriteBigFolderReport(const std::string &path, int64_t rows, int64_t bigFolder)
{
    support::SyntheticOptions options;
    options.rows = rows;
    options.bigFolder = bigFolder;
    options.bigFolderFolders = 0.1;
    support::MakeSyntheticReport(path, options);
}

// Opens the report at path and runs the preparation steps in a transaction it leaves open for the
// caller to add to and commit.
inline sqlite3 *OpenAndPrepare(const std::string &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, "BEGIN TRANSACTION;");
    for (const TPrepareStep &step : ReportPreparationSteps)
        step.Run(db);
    return db;
}

} // namespace bench
