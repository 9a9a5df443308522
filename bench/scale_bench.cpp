// A report of 10,000,000 rows whose top-level folder id 1 holds 1,000,000 children (a tenth of them
// folders), made once per run and shared by the cases, which run in this order:
// - preparing it (the eleven steps), against the same statements run bare; each pass starts from the
//   report as it was made (what a pass before added is dropped first, untimed), both sides are rolled
//   back, and the report is prepared once more at the end (untimed) for the cases after it;
// - loading the top folder and the big folder into the folder tree (ThreadExpand, no view), against
//   their floor: the bare children's statement stepped to its end plus the load's log lines appended
//   bare; with the heap and resident memory that one loaded child costs;
// - the fast search through the real main window (offscreen), its count and first page, against the
//   bare count of the same statement;
// - browsing a few hundred folders in the main window with the unloading thread, against the bare
//   children's statements of the same folders; resident memory at the end and after two more
//   unloading cycles.
// The run takes about two minutes here (a sixth of it making the report) and a few GB of /tmp.
#include "bench/BrowseBench.h"
#include "bench/ExpandBench.h"
#include "bench/MainWindowBench.h"
#include "report/uCheckHelper.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

namespace {

constexpr int64_t ReportRows = 10000000;
constexpr int64_t BigFolder = 1000000;
constexpr int BrowsedFolders = 300;

support::TempDir *Temp = nullptr;
std::string ReportPath;
sqlite3 *OpenDB = nullptr;

sqlite3 *HookDB()
{
    return OpenDB;
}

// Reads the whole file once, so that neither side meets a cold page cache first.
void WarmPageCache()
{
    std::ifstream in(ReportPath, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
    }
}

// The names of the report's own tables and indexes, as made by the scanner.
std::set<std::string> SchemaNames(sqlite3 *db)
{
    std::set<std::string> names;
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master;", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
        names.insert(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    return names;
}

// Drops every index and table that is not among made, so that a pass prepares the report afresh.
void Unprepare(sqlite3 *db, const std::set<std::string> &made)
{
    for (const char *type : {"index", "table"}) {
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = ?;", -1, &s, nullptr);
        sqlite3_bind_text(s, 1, type, -1, SQLITE_STATIC);
        std::vector<std::string> added;
        while (sqlite3_step(s) == SQLITE_ROW) {
            const std::string name = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
            if (!made.count(name) && name.rfind("sqlite_", 0) != 0)
                added.push_back(name);
        }
        sqlite3_finalize(s);
        for (const std::string &name : added)
            bench::Exec(db, "DROP " + std::string(type) + " IF EXISTS \"" + name + "\";");
    }
}

void PrepareReport(benchmark::State &state)
{
    sqlite3 *db = nullptr;
    sqlite3_open(ReportPath.c_str(), &db);
    CreateLogFile();
    static const std::set<std::string> made = SchemaNames(db); // before the first repetition
    Unprepare(db, made); // a repetition before this one left the report prepared
    WarmPageCache();
    auto bare = [&] {
        return bench::TimedAndRolledBack(db, [&] {
            for (const TPrepareStep &step : ReportPreparationSteps)
                bench::Exec(db, step.Sql);
        });
    };
    auto ours = [&] {
        return bench::TimedAndRolledBack(db, [&] {
            for (const TPrepareStep &step : ReportPreparationSteps)
                step.Run(db);
        });
    };
    bench::CompareWithBare(state, ours, bare);
    // The cases after this one work on the prepared report.
    bench::Exec(db, "BEGIN TRANSACTION;");
    for (const TPrepareStep &step : ReportPreparationSteps)
        step.Run(db);
    bench::Exec(db, "COMMIT;");
    sqlite3_close(db);
    state.counters["rows"] = double(ReportRows);
}

// Loads the folder FolderId (-1: the top folder) with the heap and resident memory a loaded child costs.
void LoadFolder(benchmark::State &state)
{
    const int64_t folderId = state.range(0);
    sqlite3 *db = nullptr;
    sqlite3_open(ReportPath.c_str(), &db);
    bench::Exec(db, "BEGIN TRANSACTION;"); // the open transaction of a report opened for work
    OpenDB = db;
    SetReportDBHook(HookDB);
    bench::TFolderTree tree(folderId);
    bench::LoadAgainstFloor(state, db, tree, Temp->File("floor.log"));
    SetReportDBHook(nullptr);
    OpenDB = nullptr;
    DestroyCheckHelper();
    sqlite3_close_v2(db);
}

// Every file whose id ends in 0.
const char *const SearchSql =
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, F_ACCESS, "
    "F_FLAGS, F_CHILDREN_SIZE FROM  struct_drive_table as sdt    WHERE (sdt.F_NAME   like ? );           ";

void FastSearch(benchmark::State &state)
{
    std::unique_ptr<TMainForm> form = bench::OpenReportWindowOn(*Temp, ReportPath);
    form->edit_Search->setText(QStringLiteral("*0.*"));
    int64_t found = 0;
    auto bare = [&] {
        return bench::Seconds([&] {
            sqlite3_stmt *s = nullptr;
            sqlite3_prepare_v2(ReportDB, SearchSql, -1, &s, nullptr);
            BindUtf8Text(s, 1, "%0.%");
            found = 0;
            while (sqlite3_step(s) == SQLITE_ROW)
                ++found;
            sqlite3_finalize(s);
        });
    };
    bench::CompareWithBare(
        state, [&] { return bench::Seconds([&] { form->tb_FastSearchClick(); }); }, bare);
    state.counters["found"] = double(found);
    // A count that differs from the bare one is a fault, not a figure.
    const QString shown = form->lbl_FoundedCount->text();
    state.counters["found_shown"] = shown.toDouble();
    if (shown.toLongLong() != found)
        state.SkipWithError(
            ("count shown " + shown.toStdString() + ", bare " + std::to_string(found)).c_str());
}

void BrowseFolders(benchmark::State &state)
{
    bench::TBrowse browse;
    bench::TMemory end{};
    bench::TMemory settled{};
    int64_t nodes = 0;
    for (auto _ : state) {
        bench::TBrowser browser(ReportPath, true, BrowsedFolders);
        browse = browser.Run();
        for (PVirtualNode n = browser.FolderTree()->GetFirst(); n; n = browser.FolderTree()->GetNext(n))
            ++nodes;
        end = bench::MemoryNow();
        // The user rests: the unloading thread gets two more cycles.
        const int cycle = FreeMemThread->Cycles() + 2;
        while (FreeMemThread->Cycles() <= cycle)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        settled = bench::MemoryNow();
        state.SetIterationTime(browse.Seconds);
    }
    const double bare = bench::BareBrowse(ReportPath, browse.Ids);
    state.counters["folders"] = double(browse.Ids.size());
    state.counters["ours_s"] = browse.Seconds;
    state.counters["bare_s"] = bare;
    state.counters["ratio"] = browse.Seconds / bare;
    state.counters["rss_MB_grown"] = browse.Growth.RssMB;
    state.counters["heap_MB_grown"] = browse.Growth.HeapMB;
    state.counters["rss_MB_end"] = end.RssMB;
    state.counters["heap_MB_end"] = end.HeapMB;
    state.counters["still_loaded"] = browse.Kept;
    state.counters["tree_nodes"] = double(nodes);
    state.counters["big_folder_browsed"] =
        std::count(browse.Ids.begin(), browse.Ids.end(), int64_t(1)) ? 1 : 0;
    state.counters["rss_MB_rested"] = settled.RssMB;
    state.counters["heap_MB_rested"] = settled.HeapMB;
}

} // namespace

BENCHMARK(PrepareReport)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(LoadFolder)->Arg(-1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFolder)->Arg(1)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(FastSearch)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BrowseFolders)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(
        argc, argv,
        [] {
            Temp = new support::TempDir;
            SetLogFolder(Temp->Path() + "/");
            qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp->File("config")));
            ReportPath = Temp->File("big.db3");
            const double seconds =
                bench::Seconds([] { bench::WriteBigFolderReport(ReportPath, ReportRows, BigFolder); });
            std::fprintf(stderr, "report of %lld rows made in %.1f s\n", static_cast<long long>(ReportRows),
                         seconds);
        },
        [] {
            SetLogFolder("");
            delete Temp; // removes the report
        });
}
