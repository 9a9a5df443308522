// "Select all" on a result page of 3,000 rows spread over 300 folders, in a report of 1,000,000 rows
// with 100,000 stored tick rows, through the real main window (offscreen): the user's tick of the
// page's root, its worker under the wait window and the folder tree's refresh. Against the same rows
// ticked by SetCheckRecursive in a plain loop on the same connection in the same run. Each pass is
// rolled back to a savepoint afterwards (untimed), so that every pass starts from the same rows.
#include "bench/MainWindowBench.h"
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int64_t ReportRows = 1000000;
constexpr int StoredRows = 100000;
constexpr int PageFolders = 300;
constexpr int RowsPerFolder = 10;

struct TPageRow
{
    int64_t ID;
    int64_t Parent;
};

struct Fixture
{
    support::TempDir Temp;
    std::unique_ptr<TMainForm> Form;
    std::vector<std::unique_ptr<TDirectoryList>> Items;
    std::vector<int64_t> IDs;
    PVirtualNode Root = nullptr;

    Fixture()
    {
        Form = bench::OpenReportWindow(Temp, ReportRows);
        // Stored rows for the first items (ids run breadth first, so every one hangs below the root
        // through rows), all unchecked.
        bench::StoreTickRows(ReportDB, StoredRows, "0", "0");
        // Ten files of each of 300 folders spread over the report.
        std::map<int64_t, std::vector<int64_t>> byFolder;
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(ReportDB,
                           "SELECT ID_FILE, ID_PARENT FROM struct_drive_table WHERE IS_FOLDER = 0 AND "
                           "ID_PARENT > 0 ORDER BY ID_FILE",
                           -1, &s, nullptr);
        std::vector<int64_t> folders;
        while (sqlite3_step(s) == SQLITE_ROW && folders.size() < PageFolders * 20) {
            auto &files = byFolder[sqlite3_column_int64(s, 1)];
            if (files.size() < RowsPerFolder)
                files.push_back(sqlite3_column_int64(s, 0));
            else
                continue;
            if (files.size() == RowsPerFolder)
                folders.push_back(sqlite3_column_int64(s, 1));
        }
        sqlite3_finalize(s);
        if (folders.size() < PageFolders)
            std::abort();
        std::vector<TPageRow> rows;
        for (int i = 0; i < PageFolders; ++i) {
            // Spread over all the folders found, not the first ones only.
            const int64_t folder = folders[static_cast<size_t>(i) * folders.size() / PageFolders];
            for (int64_t id : byFolder[folder])
                rows.push_back({id, folder});
        }
        SearchMode = true;
        auto *root = new TDirectoryList(QStringLiteral("Select all"), SearchRootID, SearchRootID, 0, false,
                                        false, 0, 0, 0, 0);
        Items.emplace_back(root);
        Root = AddInTreeView(Form->tv_FilesTree, nullptr, root);
        for (const TPageRow &r : rows) {
            auto *item =
                new TDirectoryList(QString::number(r.ID), r.ID, r.Parent, 1, false, false, 0, 0, 0, 0);
            Items.emplace_back(item);
            AddInTreeView(Form->tv_FilesTree, Root, item);
            IDs.push_back(r.ID);
        }
    }
    ~Fixture()
    {
        Form->tv_FilesTree->Clear();
        Form.reset();
        SetLogFolder("");
    }
    // Seconds of Work; the report and the page are put back as they were afterwards.
    double Pass(const std::function<void()> &Work)
    {
        bench::Exec(ReportDB, "SAVEPOINT bench;");
        const double seconds = bench::Seconds(Work);
        bench::Exec(ReportDB, "ROLLBACK TO bench; RELEASE bench;");
        for (PVirtualNode n = Root; n; n = Form->tv_FilesTree->GetNext(n))
            n->CheckState = csUncheckedNormal;
        return seconds;
    }
};

void SelectAllPage(benchmark::State &State)
{
    Fixture F;
    auto Ours = [&] {
        F.Form->tv_FilesTreeMouseDown(F.Form->tv_FilesTree, Qt::LeftButton, {}, 0, 0);
        F.Form->tv_FilesTree->ToggleCheck(F.Root);
    };
    TInt64List list;
    auto Bare = [&] {
        for (int64_t id : F.IDs) {
            list.Clear();
            SetCheckRecursive(ReportDB, csCheckedNormal, list, id);
        }
    };
    bench::CompareWithBare(
        State, [&] { return F.Pass(Ours); }, [&] { return F.Pass(Bare); });
    State.counters["page_rows"] = double(F.IDs.size());
    State.counters["report_rows"] = double(ReportRows);
}

} // namespace

BENCHMARK(SelectAllPage)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv);
}
