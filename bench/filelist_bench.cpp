// The file list of a loaded folder of 100,000 children, in a report with a stored tick row for each:
// - filling it (TAddingThread, no display) against its floor measured bare in the same run: the same
//   tick lookups on a kept prepared statement, and the two log lines that adding a row writes;
// - sorting it by each column with a header click of the real main window (offscreen) against a
//   std::sort of the same keys.
#include "bench/BenchSupport.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"
#include "viewer/utAddingFiles.h"
#include "viewer/utExpand.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <memory>

namespace {

constexpr int64_t Children = 100000;

sqlite3 *OpenDB = nullptr;
sqlite3 *HookDB()
{
    return OpenDB;
}

// Runs Worker (created suspended, freeing itself) to its end.
void RunToEnd(TThread *Worker)
{
    std::promise<void> done;
    Worker->OnFinish = [&done] { done.set_value(); };
    Worker->Resume();
    done.get_future().wait();
}

// A prepared report whose folder id 1 holds the children, each with a stored tick row, loaded into a
// folder tree as focusing the folder loads it.
struct TLoadedFolder
{
    support::TempDir Temp;
    sqlite3 *DB = nullptr;
    TVirtualStringTree FolderTree;
    TVirtualStringTree FilesTree;
    std::unique_ptr<TDirectoryList> Root;
    PVirtualNode BigNode = nullptr;

    TLoadedFolder()
    {
        SetLogFolder(Temp.Path() + "/");
        CreateLogFile();
        const std::string path = Temp.File("big.db3");
        bench::WriteBigFolderReport(path, Children + 20000, Children);
        DB = bench::OpenAndPrepare(path);
        bench::Exec(DB,
                    "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent) "
                    "SELECT ID_FILE, ID_FILE % 3, 0, ID_PARENT FROM struct_drive_table WHERE ID_PARENT = 1;");
        // Without an index on fileID every lookup reads the whole table, ours and the floor alike.
        bench::Exec(DB, "CREATE INDEX IF NOT EXISTS benchFileIdInd ON check_and_comment_map(fileID);");
        bench::Exec(DB, "COMMIT;");
        bench::Exec(DB, "BEGIN TRANSACTION;");
        OpenDB = DB;
        SetReportDBHook(HookDB);
        FilesTree.Tag = 1;
        Root = std::make_unique<TDirectoryList>(QStringLiteral("big.db3"), -1, 0, 0, true, false, 0, 0, 0, 0);
        PVirtualNode rootNode = AddInTreeView(&FolderTree, nullptr, Root.get());
        BigNode =
            AddChildItem(Root.get(), DB, &FolderTree, rootNode,
                         new TDirectoryList(QStringLiteral("Big folder"), 1, -1, 0, true, false, 0, 0, 0, 0));
        FolderTree.BeginUpdate();
        RunToEnd(new ThreadExpand(BigNode, &FolderTree, DB, nullptr, nullptr, nullptr, 1));
        FolderTree.EndUpdate();
    }
    ~TLoadedFolder()
    {
        FilesTree.Clear();
        FolderTree.Clear();
        SetReportDBHook(nullptr);
        OpenDB = nullptr;
        DestroyCheckHelper();
        sqlite3_close_v2(DB);
        SetLogFolder("");
    }
    const TDirectoryListChildren &Items() { return GetNodeItem(BigNode, &FolderTree)->GetChildren(); }

    // The worker's run, with the list in update as the focus handler keeps it.
    double Fill()
    {
        FilesTree.Clear();
        CreateLogFile();
        auto *worker = new TAddingThread(DB, GetNodeItem(BigNode, &FolderTree), &FilesTree, BigNode, nullptr);
        return bench::Seconds([&] {
            FilesTree.BeginUpdate();
            RunToEnd(worker);
            FilesTree.EndUpdate();
        });
    }
    // The floor: the folder's and each child's tick lookup, bare, and the two log lines of each row.
    double Floor()
    {
        CreateLogFile();
        return bench::Seconds([&] {
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(
                DB, "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = ?);", -1,
                &stmt, nullptr);
            int64_t sum = 0;
            const auto lookUp = [&](int64_t ID) {
                sqlite3_bind_int64(stmt, 1, ID);
                if (sqlite3_step(stmt) == SQLITE_ROW)
                    sum += sqlite3_column_int(stmt, 0) + sqlite3_column_int(stmt, 1);
                sqlite3_reset(stmt);
            };
            lookUp(1);
            for (const TDirectoryList *item : Items()) {
                WriteLog("AddInTreeView - start");
                WriteLog("AddInTreeView - finish");
                lookUp(item->id);
            }
            sqlite3_finalize(stmt);
            benchmark::DoNotOptimize(sum);
        });
    }
};

std::unique_ptr<TLoadedFolder> Folder;
std::unique_ptr<TMainForm> Form;

void FillList(benchmark::State &state)
{
    bench::CompareWithBare(
        state, [] { return Folder->Fill(); }, [] { return Folder->Floor(); });
    state.counters["rows"] = Folder->FilesTree.ChildCount(nullptr);
}

// 8-bit text with a to z folded to upper case: what the name and type columns order by.
std::string Folded(const QString &Text)
{
    std::string key = Text.toLocal8Bit().toStdString();
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    return key;
}

// Seconds of a std::sort of each row's key of that column.
template <class T> double SortBare(std::vector<T> Keys)
{
    return bench::Seconds([&] { std::sort(Keys.begin(), Keys.end()); });
}

double BareSort(int Column)
{
    const TDirectoryListChildren &items = Folder->Items();
    std::vector<std::string> texts;
    std::vector<int64_t> sizes;
    std::vector<double> dates;
    for (const TDirectoryList *item : items) {
        switch (Column) {
        case 0:
            texts.push_back(Folded(item->name));
            break;
        case 5: // folders after every file type
            texts.push_back(item->isFolder
                                ? std::string("\xFF")
                                : Folded(GetFileTypeName(GetFileExtension(item->name.toStdString()))));
            break;
        case 1:
            sizes.push_back(item->size);
            break;
        default:
            dates.push_back(Column == 2 ? item->f_create : Column == 3 ? item->f_update : item->f_access);
        }
    }
    return Column == 1 ? SortBare(sizes) : dates.empty() ? SortBare(texts) : SortBare(dates);
}

void SortColumn(benchmark::State &state)
{
    const int column = static_cast<int>(state.range(0));
    TVirtualStringTree *list = Form->tv_FilesTree;
    if (list->ChildCount(nullptr) == 0) {
        list->BeginUpdate();
        for (TDirectoryList *item : Folder->Items())
            list->AddChild(nullptr, item);
        list->EndUpdate();
    }
    const auto click = [list](int Column) {
        return bench::Seconds([&] { list->OnHeaderClick(&list->Header, Column, Qt::LeftButton, {}, 0, 0); });
    };
    bench::CompareWithBare(
        state,
        [&] {
            click((column + 1) % 6); // every timed sort starts from the same order, ascending
            return click(column);
        },
        [&] { return BareSort(column); });
}

} // namespace

BENCHMARK(FillList)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(SortColumn)->DenseRange(0, 5)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is measured
    // The window deletes the log file when it goes; the lines written after that are of no interest.
    SetLogErrorDisplay([](const QString &) {});
    return bench::RunWithWidgets(
        argc, argv,
        [] {
            Folder = std::make_unique<TLoadedFolder>();
            Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("filelist_bench")});
        },
        [] {
            Form->tv_FilesTree->Clear();
            Form.reset();
            Folder.reset();
        });
}
