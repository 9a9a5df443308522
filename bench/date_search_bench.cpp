// The extended search by date on reports of 1,000,000 rows: the statement the search dialog builds
// today, which finds times of both layouts, against the one it built before, which compared the column
// as text with year-month-day bounds and so missed every day.month.year time ("bare" below).
// - Statement: each side prepared on the report's connection and stepped to its end, as the search
//   counts its rows.
// - FullSearch: the whole search through the main window (offscreen) as the user runs it: the dialog's
//   OK, the count and the first page; the statement before is handed over in the dialog's place.
// Arguments: the share of day.month.year times in the report (percent), the date kind (1 "Changed",
// indexed; 2 "Opened", not indexed), the deleted filter (0 all, 2 not deleted) and the range's length
// in days from 1 January 2020.
#include "bench/MainWindowBench.h"
#include "report/uLog.h"
#include "viewer/ufSearchForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QTimer>

#include <map>
#include <memory>

namespace {

constexpr int64_t ReportRows = 1000000;

struct TReport
{
    std::string Path;
    sqlite3 *DB = nullptr;
    ~TReport() { sqlite3_close_v2(DB); }
};

support::TempDir *Temp = nullptr;
// One prepared report per share of day.month.year times, made on first use.
std::map<int, std::unique_ptr<TReport>> Reports;

const TReport &Report(int DotPercent)
{
    std::unique_ptr<TReport> &report = Reports[DotPercent];
    if (!report) {
        support::SyntheticOptions options;
        options.rows = ReportRows;
        options.dotDateShare = DotPercent / 100.0;
        report = std::make_unique<TReport>();
        report->Path = Temp->File("report" + std::to_string(DotPercent) + ".db3");
        support::MakeSyntheticReport(report->Path, options);
        report->DB = bench::OpenAndPrepare(report->Path);
        bench::Exec(report->DB, "COMMIT;");
        RegisterReportFunctions(report->DB);
    }
    return *report;
}

// The dialog's settings of the benchmark's arguments; returns the statement built before for them.
std::string SetUp(TSearchForm &Form, const benchmark::State &State)
{
    const int kind = int(State.range(1)), deleted = int(State.range(2));
    const QDate start(2020, 1, 1), end = start.addDays(State.range(3) - 1);
    Form.cb_Deleted->setCurrentIndex(deleted);
    Form.cb_TypeDate->setCurrentIndex(Form.cb_TypeDate->findData(kind));
    Form.dtp_Start->setDate(start);
    Form.dtp_Finish->setDate(end);
    Form.chb_UseDate->setChecked(true);
    const std::string column = kind == 1 ? "F_UPDATE" : "F_ACCESS";
    return "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, "
           "F_ACCESS, F_FLAGS, F_CHILDREN_SIZE FROM struct_drive_table WHERE( " +
           std::string(deleted == 2 ? "(IS_DELETED = 0) and " : "") + "(" + column + " >= \"" +
           start.toString(Qt::ISODate).toStdString() + " 00:00:00\") and (" + column + " <= \"" +
           end.toString(Qt::ISODate).toStdString() + " 23:59:59\") );";
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

void Statement(benchmark::State &State)
{
    sqlite3 *db = Report(int(State.range(0))).DB;
    TSearchForm form;
    form.SearchDB = db;
    form.InitCaptions();
    const std::string before = SetUp(form, State);
    form.bb_OkBitBtnClick();
    int64_t foundNow = 0, foundBefore = 0;
    bench::CompareWithBare(
        State, [&] { return bench::Seconds([&] { foundNow = Count(db, form.SearchSQL); }); },
        [&] { return bench::Seconds([&] { foundBefore = Count(db, before); }); });
    State.counters["found"] = double(foundNow);
    State.counters["found_before"] = double(foundBefore);
}

void FullSearch(benchmark::State &State)
{
    const std::string &path = Report(int(State.range(0))).Path;
    std::unique_ptr<TMainForm> window = bench::OpenReportWindowOn(*Temp, path);
    TSearchForm dialog(window.get());
    SearchForm = &dialog;
    std::string before;
    int64_t found[2] = {};
    auto search = [&](bool Before) {
        QTimer::singleShot(0, [&] {
            before = SetUp(dialog, State); // the deleted filter returns to "All files" at each show
            dialog.bb_OkBitBtnClick();
            if (Before)
                dialog.SearchSQL = before;
            dialog.done(QDialog::Accepted);
        });
        const double seconds = bench::Seconds([&] { window->tb_FullSearchClick(); });
        found[Before] = window->lbl_FoundedCount->text().toLongLong();
        return seconds;
    };
    bench::CompareWithBare(
        State, [&] { return search(false); }, [&] { return search(true); });
    State.counters["found"] = double(found[0]);
    State.counters["found_before"] = double(found[1]);
    SearchForm = nullptr;
}

} // namespace

// Share of day.month.year times, date kind, deleted filter, days in the range: the same for both.
void Cases(benchmark::internal::Benchmark *B)
{
    B->ArgNames({"dot%", "kind", "deleted", "days"})
        ->ArgsProduct({{0, 30}, {1}, {0}, {366, 1}})
        ->ArgsProduct({{0, 30}, {2}, {0}, {366}})
        ->ArgsProduct({{0, 30}, {1}, {2}, {366}})
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(Statement)->Apply(Cases);
BENCHMARK(FullSearch)->Apply(Cases);

int main(int argc, char **argv)
{
    support::TempDir temp;
    Temp = &temp;
    return bench::RunWithWidgets(
        argc, argv,
        [&] {
            SetLogFolder(temp.Path() + "/");
            CreateLogFile();
        },
        [] {
            Reports.clear();
            SetLogFolder("");
        });
}
