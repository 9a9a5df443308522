// The fast search on a report of 1,000,000 rows with 100,000 stored tick rows, through the real main
// window (offscreen), for a pattern that about 90,000 names match:
// - the search (its count and its first page) against the bare count of the same statement;
// - each further page of 1,000 rows against its floor: bare stepping of the same statement over as
//   many rows with the tick lookup of each row, and the two log lines that adding a row writes
//   (ratio); against the stepping and the lookups alone (ratio_bare).
#include "bench/MainWindowBench.h"
#include "report/uCheckHelper.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"

#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace {

constexpr int64_t ReportRows = 1000000;
constexpr int StoredRows = 100000;
// Every file whose id ends in 0.
const QString Pattern = QStringLiteral("*0.*");
const char *const SearchSql =
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, F_ACCESS, "
    "F_FLAGS, F_CHILDREN_SIZE FROM  struct_drive_table as sdt    WHERE (sdt.F_NAME   like ? );           ";

struct Fixture
{
    support::TempDir Temp;
    std::unique_ptr<TMainForm> Form;

    Fixture()
    {
        Form = bench::OpenReportWindow(Temp, ReportRows);
        bench::StoreTickRows(ReportDB, StoredRows, "ID_FILE % 3", "ID_FILE % 2");
        Form->edit_Search->setText(Pattern);
    }
    ~Fixture()
    {
        Form.reset();
        SetLogFolder("");
    }
};

// The bare statement of the search, its pattern bound.
sqlite3_stmt *BareStatement()
{
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(ReportDB, SearchSql, -1, &s, nullptr);
    BindUtf8Text(s, 1, "%0.%");
    return s;
}

void FirstPage(benchmark::State &State)
{
    Fixture F;
    int64_t found = 0;
    auto Bare = [&] {
        return bench::Seconds([&] {
            sqlite3_stmt *s = BareStatement();
            found = 0;
            while (sqlite3_step(s) == SQLITE_ROW)
                ++found;
            sqlite3_finalize(s);
        });
    };
    bench::CompareWithBare(
        State, [&] { return bench::Seconds([&] { F.Form->tb_FastSearchClick(); }); }, Bare);
    State.counters["found"] = double(found);
}

void NextPage(benchmark::State &State)
{
    Fixture F;
    F.Form->tb_FastSearchClick();
    sqlite3_stmt *bare = BareStatement();
    auto Ours = [&] {
        if (!F.Form->btn_MoreResults->isEnabled())
            F.Form->tb_FastSearchClick(); // the results are used up: a new search, not timed
        return bench::Seconds([&] { F.Form->btn_MoreResultsClick(); });
    };
    double logs = 0;
    auto Bare = [&] {
        const double stepping = bench::Seconds([&] {
            for (int i = 0; i < SearchPageSize; ++i) {
                if (sqlite3_step(bare) != SQLITE_ROW)
                    continue; // the end: the next step starts again
                uint8_t state = 0;
                uint8_t folderState = 0;
                IsCheckedInherited(ReportDB, sqlite3_column_int64(bare, 0), state, folderState);
            }
        });
        const double lines = bench::Seconds([&] {
            for (int i = 0; i < SearchPageSize; ++i) {
                WriteLog("AddInTreeView - start");
                WriteLog("AddInTreeView - finish");
            }
        });
        logs += lines;
        return stepping + lines;
    };
    bench::CompareWithBare(State, Ours, Bare);
    sqlite3_finalize(bare);
    State.counters["ratio_bare"] =
        State.counters["ours_s"] / (State.counters["bare_s"] - logs / double(State.iterations()));
    State.counters["page_rows"] = double(SearchPageSize);
}

} // namespace

BENCHMARK(FirstPage)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(NextPage)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv);
}
