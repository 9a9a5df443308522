#include "report/uSQLiteFunc.h"
#include "tests/support/ReportTesting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <regex>
#include <string>

using reporttest::FileText;

namespace {

// The log's lines: one per step, written before the step runs.
int LogLines(const std::string &Log)
{
    return int(std::count(Log.begin(), Log.end(), '\n'));
}

const char *const SchemaSql = "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;";
const char *const ChecksSql =
    "SELECT id, quote(comment), checked, fileID, id_parent, quote(flag), checkForFolder "
    "FROM check_and_comment_map ORDER BY id;";

class Preparation : public ::testing::Test
{
protected:
    void TearDown() override { sqlite3_close(FDB); }

    sqlite3 *Open(const std::string &path, int flags = SQLITE_OPEN_READWRITE)
    {
        Close();
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &FDB, flags, nullptr), SQLITE_OK);
        return FDB;
    }
    void Close()
    {
        EXPECT_EQ(sqlite3_close(FDB), SQLITE_OK); // a statement left open would make this fail
        FDB = nullptr;
    }

    // The loading worker's way: all steps inside one transaction, committed at the end. FDone counts
    // the steps done; a failing step's exception passes on.
    void Prepare(const std::string &path, int flags = SQLITE_OPEN_READWRITE)
    {
        sqlite3 *db = Open(path, flags);
        ExecSqlScript(db, "BEGIN TRANSACTION;");
        for (const TPrepareStep &step : ReportPreparationSteps) {
            step.Run(db);
            ++FDone;
        }
        ExecSqlScript(db, "COMMIT;");
        Close();
    }

    std::string SmallReport(support::ReportBuilder builder = support::ReportBuilder())
    {
        builder.Tree("D Docs\n  F a.txt 10\n  D Sub\n    F b.txt 20\nF c.txt 5\n");
        return builder.Write(FLog.Dir.File("report.db"));
    }

    reporttest::TempLog FLog;
    sqlite3 *FDB = nullptr;
    int FDone = 0;
};

} // namespace

TEST_F(Preparation, IsIdempotentAndKeepsStoredTicksCommentsAndIndexesOfTheSameName)
{
    support::ReportBuilder builder;
    builder.Check({std::string("first \xd0\xba\xd0\xbe\xd0\xbc"), 1, 1, -1, std::nullopt, 1});
    builder.Check({std::nullopt, 2, 2, 1, 0, std::nullopt});
    builder.Sql("CREATE INDEX sizeInd ON struct_drive_table(F_NAME);");
    const std::string path = SmallReport(builder);
    const std::string rowsBefore = reporttest::QueryFile(path, ChecksSql);
    ASSERT_NE(rowsBefore, "");

    Prepare(path);
    const std::string once = reporttest::QueryFile(path, SchemaSql);
    Prepare(path);
    EXPECT_EQ(reporttest::QueryFile(path, SchemaSql), once);
    EXPECT_EQ(reporttest::QueryFile(path, ChecksSql), rowsBefore);
    EXPECT_EQ(reporttest::QueryFile(path, "SELECT name FROM pragma_index_xinfo('sizeInd') WHERE key;"),
              "F_NAME\n");
    // A table made by an earlier preparation gets the index on fileID too.
    EXPECT_EQ(reporttest::QueryFile(path, "SELECT name FROM pragma_index_xinfo('fileIdInd') WHERE key;"),
              "fileID\n");
    EXPECT_EQ(LogLines(FLog.Text()), 22);
}

// A failing step raises ESQLite3 with the engine's code and text; closing without a commit leaves the
// report as it was, byte for byte. The failing step's name is logged before it runs.
TEST_F(Preparation, AFailingStepLeavesTheReportAsItWas)
{
    const struct
    {
        const char *what;
        bool driveTable;
        support::ReportBuilder builder;
        int flags;
        int code;
        const char *text;
        int done;
    } cases[] = {
        {"no drive table", false, support::ReportBuilder().WithoutDriveTable(), SQLITE_OPEN_READWRITE,
         SQLITE_ERROR, "struct_drive_table", 0},
        // A check table without the column "checked": the table step finds it, its index step fails.
        {"a foreign check table", true,
         support::ReportBuilder().Sql("CREATE TABLE check_and_comment_map(id INTEGER PRIMARY KEY, fileID "
                                      "INTEGER, id_parent INTEGER);"),
         SQLITE_OPEN_READWRITE, SQLITE_ERROR, "checked", 9},
        {"read-only", true, support::ReportBuilder(), SQLITE_OPEN_READONLY, SQLITE_READONLY, "readonly", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path =
            c.driveTable ? SmallReport(c.builder) : c.builder.Write(FLog.Dir.File("r.db"));
        const std::string schema = reporttest::QueryFile(path, SchemaSql);
        const std::string bytes = FileText(path);
        CreateLogFile();
        FDone = 0;
        try {
            Prepare(path, c.flags);
            ADD_FAILURE() << "no exception";
        } catch (const ESQLite3 &e) {
            EXPECT_EQ(e.ErrorCode & 0xFF, c.code);
            EXPECT_TRUE(e.ErrorMessage.contains(QString::fromUtf8(c.text))) << e.what();
        }
        EXPECT_EQ(FDone, c.done);
        if (c.done > 0) { // inside the transaction the steps done are visible...
            EXPECT_NE(reporttest::Query(FDB, "SELECT 1 FROM sqlite_master WHERE type = 'index'"), "");
        }
        Close(); // ...and gone once the connection is closed without a commit
        EXPECT_EQ(reporttest::QueryFile(path, SchemaSql), schema);
        EXPECT_EQ(FileText(path), bytes);
        EXPECT_EQ(LogLines(FLog.Text()), c.done + 1);
    }
}

// The README's counts are those of the preparation: the indexes it adds besides its tick table, and its
// steps, wherever it names them.
TEST_F(Preparation, TheReadmeCountsTheIndexesAndStepsItMakes)
{
    const char *const Indexes =
        "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL;";
    const std::string path = SmallReport();
    const int before = std::stoi(reporttest::QueryFile(path, Indexes));
    Prepare(path);
    const int made = std::stoi(reporttest::QueryFile(path, Indexes)) - before;
    const std::string words[] = {"no",    "one",   "two",  "three", "four",   "five",  "six",
                                 "seven", "eight", "nine", "ten",   "eleven", "twelve"};
    ASSERT_TRUE(made < 13 && FDone < 13);
    const std::string readme = FileText(VIEWER_SOURCE_DIR "/README.md");
    const std::regex count(R"(\((?:the )?(\w+) (indexes and its tick table|steps)\))");
    int seen = 0;
    for (std::sregex_iterator m(readme.begin(), readme.end(), count), end; m != end; ++m, ++seen)
        EXPECT_EQ((*m)[1].str(), words[(*m)[2] == "steps" ? FDone : made]) << (*m)[0].str();
    EXPECT_GT(seen, 0);
}
