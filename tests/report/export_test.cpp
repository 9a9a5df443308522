#include "report/uSQLiteFunc.h"
#include "tests/support/ReportTesting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace {

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

// Called from the source's SELECT, after the export file's set-up: a reader takes the file, so that
// the commit cannot get its lock.
void LockExportFile(sqlite3_context *context, int, sqlite3_value **)
{
    auto *reader = static_cast<sqlite3 *>(sqlite3_user_data(context));
    if (sqlite3_get_autocommit(reader))
        ExecSqlScript(reader, "BEGIN; SELECT count(*) FROM information;");
    sqlite3_result_int(context, 1);
}

} // namespace

TEST_F(Export, FailingCommitRollsBackAndLeavesNoConnection)
{
    OpenReport();
    sqlite3 *reader = OpenExport();
    // The source: a view by the copied name whose rows lock the export file as they are read.
    sqlite3 *source = Open(":memory:");
    ASSERT_EQ(sqlite3_create_function(source, "lock_export", 0, SQLITE_UTF8, reader, LockExportFile, nullptr,
                                      nullptr),
              SQLITE_OK);
    ExecSqlScript(source,
                  "CREATE VIEW check_and_comment_map AS SELECT 1 AS id, 'c' AS comment, 1 AS checked, 5 "
                  "AS fileID, -1 AS id_parent, 0 AS flag, 1 AS checkForFolder WHERE lock_export();");
    try {
        ExportChecks(ExportName(), source);
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_BUSY);
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("SQLite3 Error 5 - "))) << e.what();
    }
    ExecSqlScript(reader, "COMMIT;");
    // No connection still holds the export's write transaction: another writer gets in at once.
    EXPECT_NO_THROW(ExecSqlScript(reader, "BEGIN IMMEDIATE; ROLLBACK;"));
    // Set-up done, the copied row rolled back with the closed connection.
    EXPECT_EQ(Dump(reader, CheckCount), "int:0\n");
}
