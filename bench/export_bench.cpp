// Exporting 100,000 tick rows of a report of 1,000,000 rows (ExportChecks: set-up, the row-by-row copy
// with re-bound inserts, commit) against the bare work on the same data in the same run: the same
// set-up, then INSERT ... SELECT from the report attached to the export file, and the commit.
// And the export button of the main window on that report (save, wait window, worker, message box
// answered at once) against ExportChecks called directly as its worker calls it.
#include "bench/BenchSupport.h"
#include "common/ssDlgExtW.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
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

std::unique_ptr<Fixture> SharedFixture;

Fixture &Shared()
{
    if (!SharedFixture)
        SharedFixture = std::make_unique<Fixture>();
    return *SharedFixture;
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

// The main window with a copy of the shared report open for work.
struct WindowFixture
{
    std::string Path;
    std::unique_ptr<TMainForm> Form;
    QTimer Answer; // says No to the offer to open the folder as soon as it shows

    WindowFixture()
    {
        Fixture &f = Shared();
        Path = f.Temp.File("window.db3");
        // A fresh copy for each repetition: the one before left its copy prepared and exported.
        std::filesystem::copy_file(f.Path, Path, std::filesystem::copy_options::overwrite_existing);
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(f.Temp.File("config")));
        SetLogFolder(f.Temp.Path() + "/");
        SetOpenFolderHook([](const QUrl &) {});
        Form =
            std::make_unique<TMainForm>(nullptr, QStringList{"ParvixViewer", QString::fromStdString(Path)});
        for (int waited = 0; !ReportDB; ++waited) {
            if (waited > 6000) {
                std::fprintf(stderr, "the report did not open\n");
                std::abort();
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        QObject::connect(&Answer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<TMessageForm *>(QApplication::activeModalWidget()))
                box->done(mrNo);
        });
        Answer.start(1);
    }
    ~WindowFixture()
    {
        Form.reset();
        SetOpenFolderHook({});
        SetLogFolder("");
    }
};

void ExportThroughWindow(benchmark::State &state)
{
    WindowFixture w;
    const QString bareName = QString::fromStdString(Shared().Temp.File("direct_Export.roa"));
    auto ours = [&] { w.Form->tb_ExportBase->click(); };
    auto bare = [&] {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(w.Path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        ExecSqlScript(db, "BEGIN TRANSACTION;");
        ExportChecks(bareName, db);
        ExecSqlScript(db, "COMMIT;");
        sqlite3_close(db);
    };
    ours();
    bare();
    bench::CompareWithBare(
        state, [&] { return bench::Seconds(ours); }, [&] { return bench::Seconds(bare); });
    state.counters["ticks"] = double(TickRows);
}

} // namespace

BENCHMARK(ExportTicks)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(ExportThroughWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // Widgets: the window's export runs under its real wait window.
    return bench::RunWithWidgets(argc, argv, {}, [] { SharedFixture.reset(); }); // removes the report files
}
