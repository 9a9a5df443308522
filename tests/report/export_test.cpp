#include "report/uSQLiteFunc.h"
#include "tests/support/ReportTesting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Every row of a query, each column as "type:value".
std::string Dump(sqlite3 *db, const char *sql)
{
    return reporttest::Query(db, sql, true);
}

const char *const AllChecks = "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM "
                              "check_and_comment_map ORDER BY id;";
const char *const CheckCount = "SELECT count(*) FROM check_and_comment_map;";

class Export : public ::testing::Test
{
protected:
    sqlite3 *Open(const std::string &path) { return FOpen.emplace_back(reporttest::OpenDb(path)).get(); }
    sqlite3 *OpenExport() { return Open(ExportName().toStdString()); }

    // A report with ticks and comments of every kind and three information rows.
    sqlite3 *OpenReport()
    {
        support::ReportBuilder builder;
        builder.Tree("D Docs\n  F a.txt 10\nF b.txt 5\n");
        builder.Check({std::nullopt, 1, -1, -1, std::nullopt, 1});
        builder.Check(
            {std::string("\xd0\x9a\xd0\xbe\xd0\xbc\xd0\xbc\xd0\xb5\xd0\xbd\xd1\x82"), 2, 1, -1, 7, 1});
        builder.Check({std::string(""), std::nullopt, 2, 1, std::nullopt, std::nullopt});
        builder.Information("creator", "scanner 2.0");
        builder.Information("drive", "C:");
        return Open(builder.Write(FTemp.File("report.db")));
    }

    // Not plain ASCII, so that the name's conversion shows.
    QString ExportName() const
    {
        return QString::fromStdString(FTemp.Path()) +
               QStringLiteral("/\u041e\u0442\u0447\u0451\u0442 caf\u00e9_Export.roa");
    }

    support::TempDir FTemp;
    std::vector<reporttest::Db> FOpen;
};

} // namespace

// Into a file that exists with tables of its own, twice.
TEST_F(Export, CopiesTicksCommentsAndInformationAndKeepsForeignTables)
{
    sqlite3 *report = OpenReport();
    sqlite3 *existing = OpenExport();
    ExecSqlScript(existing, "CREATE TABLE notes(a, b); INSERT INTO notes VALUES (1, 'keep me');"
                            "CREATE TABLE information (field_Name TEXT, value, extra);"
                            "INSERT INTO information VALUES ('old', 'row', 'x');");
    for (int time = 1; time <= 2; ++time) {
        SCOPED_TRACE(time);
        ExportChecks(ExportName(), report);
        sqlite3 *exported = OpenExport();
        // Null comment stays null, null flag and null checked become 0, the stored bytes arrive as they are.
        EXPECT_EQ(Dump(exported, AllChecks),
                  "int:1|null|int:1|int:-1|int:-1|int:0|int:1\n"
                  "int:2|text:\xd0\x9a\xd0\xbe\xd0\xbc\xd0\xbc\xd0\xb5\xd0\xbd\xd1\x82|int:2|int:1|int:-1|"
                  "int:7|int:1\n"
                  "int:3|text:|int:0|int:2|int:1|int:0|int:0\n");
        // The existing information table is emptied and reused as it is; the report's integer version
        // arrives as text.
        EXPECT_EQ(Dump(exported, "SELECT field_Name, value, extra FROM information ORDER BY rowid;"),
                  "text:version|text:1|null\ntext:creator|text:scanner 2.0|null\ntext:drive|text:C:|null\n");
        // The drive table and the indexes stay behind; the file's own table stays.
        EXPECT_EQ(
            Dump(exported, "SELECT type, name FROM sqlite_master ORDER BY name;"),
            "text:table|text:check_and_comment_map\ntext:table|text:information\ntext:table|text:notes\n");
        EXPECT_EQ(Dump(exported, "SELECT * FROM notes;"), "int:1|text:keep me\n");
    }
    EXPECT_EQ(Dump(report, CheckCount), "int:3\n"); // the report is unchanged and still usable
}

namespace {

// A reader of the new export file, which it opens when the source's SELECT, after the file's set-up,
// first reads a row: it takes the file, so that the commit cannot get its lock.
struct TLocker
{
    std::string Path;
    reporttest::Db Reader;
};

void LockExportFile(sqlite3_context *context, int, sqlite3_value **)
{
    auto *locker = static_cast<TLocker *>(sqlite3_user_data(context));
    if (!locker->Reader) {
        locker->Reader = reporttest::OpenDb(locker->Path);
        ExecSqlScript(locker->Reader.get(), "BEGIN; SELECT count(*) FROM sqlite_master;");
    }
    sqlite3_result_int(context, 1);
}

} // namespace

TEST_F(Export, FailingCommitRollsBackAndLeavesNoConnection)
{
    OpenReport();
    TLocker locker{ExportName().toStdString() + ExportTempSuffix, nullptr};
    // The source: a view by the copied name whose rows lock the export file as they are read.
    sqlite3 *source = Open(":memory:");
    ASSERT_EQ(sqlite3_create_function(source, "lock_export", 0, SQLITE_UTF8, &locker, LockExportFile, nullptr,
                                      nullptr),
              SQLITE_OK);
    ExecSqlScript(source,
                  "CREATE VIEW check_and_comment_map AS SELECT 1 AS id, 'c' AS comment, 1 AS checked, 5 "
                  "AS fileID, -1 AS id_parent, 0 AS flag, 1 AS checkForFolder WHERE lock_export();"
                  "CREATE TABLE information (field_Name, value);");
    try {
        ExportChecks(ExportName(), source);
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_BUSY);
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("SQLite3 Error 5 - "))) << e.what();
    }
    sqlite3 *reader = locker.Reader.get();
    ASSERT_TRUE(reader);
    // Neither the new file nor an export is left.
    EXPECT_FALSE(fs::exists(locker.Path) || fs::exists(ExportName().toStdString()));
    ExecSqlScript(reader, "COMMIT;");
    // No connection is left on the removed file but the reader: one descriptor of it in the process.
    int descriptors = 0;
    std::error_code listing; // the listing's own descriptor is gone when its entry is read
    for (const auto &fd : fs::directory_iterator("/proc/self/fd"))
        descriptors += fs::read_symlink(fd, listing).string().rfind(locker.Path, 0) == 0;
    EXPECT_EQ(descriptors, 1);
    // The set-up and the copied row rolled back with the closed connection.
    EXPECT_EQ(Dump(reader, "SELECT count(*) FROM sqlite_master;"), "int:0\n");
}

TEST_F(Export, NeverWritesThroughALinkNorIntoTheReportItself)
{
    sqlite3 *report = OpenReport();
    const std::string reportPath = FTemp.File("report.db");
    const std::string other = support::ReportBuilder()
                                  .Tree("F c.txt 1\n")
                                  .Check({std::string("other's"), 1, 1, -1, 0, 1})
                                  .Write(FTemp.File("other.db"));
    const std::string name = ExportName().toStdString();
    const struct
    {
        const char *Name;
        std::function<void()> Place;
        const QString &Text;
    } cases[] = {
        {"link to the report", [&] { fs::create_symlink(reportPath, name); }, ExportIsLinkText},
        {"link to another report", [&] { fs::create_symlink(other, name); }, ExportIsLinkText},
        {"link as its journal", [&] { fs::create_symlink(other, name + "-journal"); }, ExportIsLinkText},
        {"the report's second name", [&] { fs::create_hard_link(reportPath, name); }, ExportIsReportText},
    };
    const std::string reportBefore = reporttest::Whole(reportPath), otherBefore = reporttest::Whole(other);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        c.Place();
        try {
            ExportChecks(ExportName(), report);
            ADD_FAILURE() << "exported";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), c.Text);
        }
        fs::remove(name);
        fs::remove(name + "-journal");
        EXPECT_EQ(reporttest::Whole(reportPath), reportBefore);
        EXPECT_EQ(reporttest::Whole(other), otherBefore);
    }
}

namespace {

const char *KillAt = ""; // in a child: the start of the export file's statement that kills it

int KillAtStatement(unsigned, void *, void *, void *Sql)
{
    if (std::strncmp(static_cast<const char *>(Sql), KillAt, std::strlen(KillAt)) == 0)
        kill(getpid(), SIGKILL);
    return 0;
}

int TraceExport(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    return sqlite3_trace_v2(db, SQLITE_TRACE_STMT, KillAtStatement, nullptr);
}

// Exports Report to Name in a child process that Arm has set to kill itself: whether it was killed so.
::testing::AssertionResult KilledExporting(const QString &Name, const std::string &Report,
                                           const std::function<void()> &Arm)
{
    const pid_t pid = fork();
    if (pid == 0) {
        Arm();
        ExportChecks(Name, reporttest::OpenDb(Report).get());
        _exit(0);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the child's status: " << status;
}

} // namespace

TEST_F(Export, KilledAtAnyStepItLeavesTheEarlierExportWhole)
{
    const std::string name = ExportName().toStdString();
    ExportChecks(ExportName(), OpenReport());
    const std::string before = reporttest::Whole(name);
    FOpen.clear(); // a child must not share the report's connection
    const std::string reportPath = FTemp.File("report.db");
    ExecSqlScript(Open(reportPath), "UPDATE check_and_comment_map SET comment = 'new';"
                                    "INSERT INTO information VALUES ('new', 'row');");
    FOpen.clear();
    const std::string report = reporttest::Whole(reportPath);
    for (const char *step : {"DROP TABLE", "DELETE FROM information", "INSERT INTO check_and_comment_map",
                             "INSERT INTO information", "COMMIT"}) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(KilledExporting(ExportName(), reportPath, [step] {
            KillAt = step;
            sqlite3_auto_extension(reinterpret_cast<void (*)()>(TraceExport));
        }));
        EXPECT_EQ(reporttest::Whole(name), before);
        EXPECT_EQ(reporttest::Whole(reportPath), report);
    }
    ExportChecks(ExportName(), Open(reportPath));
    EXPECT_NE(reporttest::Whole(name).find("text:new|text:row"), std::string::npos);
}

namespace {

// In a child: where its export is killed, the Times-th start of a statement of the export file that
// begins with Statement, or the closing of the new export file's connection once it is whole.
struct TKillPoint
{
    const char *Name;
    const char *Statement;
    int Times;
};
TKillPoint KillPoint{};
int StatementsSeen = 0;

int KillAtPoint(unsigned Event, void *, void *Db, void *Sql)
{
    const bool closingNewFile =
        Event == SQLITE_TRACE_CLOSE && !KillPoint.Statement &&
        std::string_view(sqlite3_db_filename(static_cast<sqlite3 *>(Db), "main")).ends_with(ExportTempSuffix);
    const bool statement = Event == SQLITE_TRACE_STMT && KillPoint.Statement &&
                           std::strncmp(static_cast<const char *>(Sql), KillPoint.Statement,
                                        std::strlen(KillPoint.Statement)) == 0 &&
                           ++StatementsSeen == KillPoint.Times;
    if (closingNewFile || statement)
        kill(getpid(), SIGKILL);
    return 0;
}

int TraceKillPoint(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    return sqlite3_trace_v2(db, SQLITE_TRACE_STMT | SQLITE_TRACE_CLOSE, KillAtPoint, nullptr);
}

std::set<std::string> FileNames(const std::string &Folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(Folder))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

// The export file alone, as a user sends it: never a journal beside it that it needs.
TEST_F(Export, KilledAnywhereItLeavesTheEarlierExportWholeOnItsOwnOrNoneAndTheNextExportClearsUp)
{
    constexpr int Rows = 40000; // more than SQLite's page cache holds: written out before the commit
    const std::string reportPath =
        support::ReportBuilder()
            .Tree("F a.txt 1\n")
            .WithCheckTable()
            .Sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                 std::to_string(Rows) +
                 ") INSERT INTO check_and_comment_map (comment, checked, fileID, id_parent, flag, "
                 "checkForFolder) SELECT printf('%0100d', i), 1, i, -1, 0, 1 FROM n;")
            .Write(FTemp.File("report.db"));
    const std::string name = ExportName().toStdString();
    const std::string reportName = fs::path(reportPath).filename().string();
    const std::string exportName = fs::path(name).filename().string();
    const std::string alone = FTemp.File("sent/") + exportName;
    fs::create_directory(fs::path(alone).parent_path());
    const TKillPoint points[] = {
        {"the old rows dropped", "DROP TABLE", 1},
        {"half the rows copied", "INSERT INTO check_and_comment_map", Rows / 2},
        {"at the commit", "COMMIT", 1},
        {"whole, not yet in its place", nullptr, 0},
    };
    for (const bool earlier : {false, true}) {
        std::string before;
        if (earlier) {
            ExportChecks(ExportName(), Open(reportPath));
            before = reporttest::Whole(name);
            ExecSqlScript(Open(reportPath), "UPDATE check_and_comment_map SET comment = 'new';");
            FOpen.clear(); // a child must not share the report's connection
        }
        const std::string report = reporttest::Whole(reportPath);
        for (const TKillPoint &point : points) {
            SCOPED_TRACE(std::string(point.Name) + (earlier ? ", over an earlier export" : ""));
            EXPECT_TRUE(KilledExporting(ExportName(), reportPath, [&point] {
                KillPoint = point;
                sqlite3_auto_extension(reinterpret_cast<void (*)()>(TraceKillPoint));
            }));
            EXPECT_FALSE(fs::exists(name + "-journal"));
            if (earlier) {
                fs::copy_file(name, alone, fs::copy_options::overwrite_existing);
                EXPECT_TRUE(reporttest::Whole(alone) == before); // 40,000 rows: no listing when not
            } else {
                EXPECT_FALSE(fs::exists(name));
            }
            std::set<std::string> left = FileNames(FTemp.Path());
            left.erase(exportName + ExportTempSuffix);
            EXPECT_EQ(left, (earlier ? std::set<std::string>{reportName, exportName, "sent"}
                                     : std::set<std::string>{reportName, "sent"}));
            EXPECT_EQ(reporttest::Whole(reportPath), report);
        }
    }
    ExportChecks(ExportName(), Open(reportPath));
    EXPECT_EQ(FileNames(FTemp.Path()), (std::set<std::string>{reportName, exportName, "sent"}));
    EXPECT_EQ(Dump(Open(name), "SELECT count(*), min(comment) FROM check_and_comment_map;"),
              "int:" + std::to_string(Rows) + "|text:new\n");
}
