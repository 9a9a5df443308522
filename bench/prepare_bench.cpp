// Preparing a report of 1,000,000 rows (every step, with its log line and result tests) against
// the same statements run bare through sqlite3_exec on the same connection in the same run.
// Each pass runs inside a transaction that is rolled back afterwards (untimed), so that every pass
// starts from the unprepared report; the commit's writing would be the same for both sides.
#include "bench/BenchSupport.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <functional>
#include <memory>

namespace {

constexpr int64_t ReportRows = 1000000;

struct Fixture
{
    support::TempDir Temp;
    std::string Path;
    sqlite3 *DB = nullptr;

    Fixture()
    {
        Path = Temp.File("report.db");
        bench::WriteReport(Path, ReportRows);
        sqlite3_open(Path.c_str(), &DB);
        SetLogFolder(Temp.Path() + "/");
        CreateLogFile();
    }
    ~Fixture()
    {
        sqlite3_close(DB);
        SetLogFolder("");
    }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

void PrepareReport(benchmark::State &state)
{
    Fixture &f = Shared();
    auto ours = [&] {
        for (const TPrepareStep &step : ReportPreparationSteps)
            step.Run(f.DB);
    };
    auto bare = [&] {
        for (const TPrepareStep &step : ReportPreparationSteps)
            bench::Exec(f.DB, step.Sql);
    };
    bench::TimedAndRolledBack(f.DB, bare); // warm the page cache
    bench::CompareWithBare(
        state, [&] { return bench::TimedAndRolledBack(f.DB, ours); },
        [&] { return bench::TimedAndRolledBack(f.DB, bare); });
    state.counters["rows"] = double(ReportRows);
}

} // namespace

BENCHMARK(PrepareReport)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
