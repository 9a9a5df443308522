// The extended search by date on reports of 1,000,000 rows: the statement the search dialog builds
// today, which finds times of both layouts, against the one it built before, which compared the column
// as text with year-month-day bounds and so missed every day.month.year time. Each side is prepared on
// the report's connection and stepped to its end, as the search counts its rows; the first page costs
// both sides the same. Arguments: the share of day.month.year times in the report (percent), the date
// kind (1 "Changed", indexed; 2 "Opened", not indexed), the deleted filter (0 all, 2 not deleted) and
// the range's length in days (from 1 January 2020).
#include "bench/BenchSupport.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufSearchForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>

#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr int64_t ReportRows = 1000000;

struct TReport
{
    sqlite3 *DB = nullptr;
    ~TReport() { sqlite3_close_v2(DB); }
};

support::TempDir *Temp = nullptr;
// One prepared report per share of day.month.year times, made on first use.
std::map<int, std::unique_ptr<TReport>> Reports;

sqlite3 *Report(int DotPercent)
{
    std::unique_ptr<TReport> &report = Reports[DotPercent];
    if (!report) {
        support::SyntheticOptions options;
        options.rows = ReportRows;
        options.dotDateShare = DotPercent / 100.0;
        const std::string path = Temp->File("report" + std::to_string(DotPercent) + ".db3");
        support::MakeSyntheticReport(path, options);
        report = std::make_unique<TReport>();
        report->DB = bench::OpenAndPrepare(path);
        bench::Exec(report->DB, "COMMIT;");
        RegisterReportFunctions(report->DB);
    }
    return report->DB;
}

// Prepares Sql on DB and steps it to its end; the rows found.
int64_t Count(sqlite3 *DB, const std::string &Sql)
{
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(DB, Sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        std::abort();
    int64_t found = 0;
    while (sqlite3_step(s) == SQLITE_ROW)
        ++found;
    sqlite3_finalize(s);
    return found;
}

void DateSearch(benchmark::State &State)
{
    const int dotPercent = int(State.range(0)), kind = int(State.range(1)), deleted = int(State.range(2));
    const QDate start(2020, 1, 1), end = start.addDays(State.range(3) - 1);
    sqlite3 *db = Report(dotPercent);

    TSearchForm form;
    form.SearchDB = db;
    form.InitCaptions();
    form.cb_Deleted->setCurrentIndex(deleted);
    form.cb_TypeDate->setCurrentIndex(form.cb_TypeDate->findData(kind));
    form.dtp_Start->setDate(start);
    form.dtp_Finish->setDate(end);
    form.chb_UseDate->setChecked(true);
    form.bb_OkBitBtnClick();
    const std::string column = kind == 1 ? "F_UPDATE" : "F_ACCESS";
    const std::string before =
        "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, "
        "F_ACCESS, F_FLAGS, F_CHILDREN_SIZE FROM struct_drive_table WHERE( " +
        std::string(deleted == 2 ? "(IS_DELETED = 0) and " : "") + "(" + column + " >= \"" +
        start.toString(Qt::ISODate).toStdString() + " 00:00:00\") and (" + column + " <= \"" +
        end.toString(Qt::ISODate).toStdString() + " 23:59:59\") );";

    int64_t foundNow = 0, foundBefore = 0;
    bench::CompareWithBare(
        State, [&] { return bench::Seconds([&] { foundNow = Count(db, form.SearchSQL); }); },
        [&] { return bench::Seconds([&] { foundBefore = Count(db, before); }); });
    State.counters["found"] = double(foundNow);
    State.counters["found_before"] = double(foundBefore);
}

} // namespace

BENCHMARK(DateSearch)
    ->ArgNames({"dot%", "kind", "deleted", "days"})
    ->Args({0, 1, 0, 366})
    ->Args({0, 1, 0, 1})
    ->Args({0, 2, 0, 366})
    ->Args({0, 1, 2, 366})
    ->Args({30, 1, 0, 366})
    ->Args({30, 1, 0, 1})
    ->Args({30, 2, 0, 366})
    ->Args({30, 1, 2, 366})
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    support::TempDir temp;
    Temp = &temp;
    return bench::RunWithWidgets(
        argc, argv,
        [&] {
            UseLogMutexName("dateSearchBench." + std::to_string(getpid()));
            SetLogFolder(temp.Path() + "/");
            CreateLogFile();
        },
        [] {
            Reports.clear();
            SetLogFolder("");
            UseLogMutexName({});
        });
}
