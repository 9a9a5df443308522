#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

namespace {

const std::vector<std::string> StepNames = {
    "AddIdIndex",     "AddPIdIndex",    "AddDelIndex",         "AddFoldIndex",      "AddSizeIndex",
    "AddCreateIndex", "AddUpdateIndex", "AddPIdIsFolderIndex", "CreateChAComTable", "AddId_parAndCheckIndex"};

// The schema as SQLite keeps it: type, name and table of every object, with its SQL text.
std::map<std::string, std::string> Schema(sqlite3 *db)
{
    std::map<std::string, std::string> objects;
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT type || ' ' || name || ' ON ' || tbl_name, sql FROM sqlite_master;", -1,
                       &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto *sql = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        objects[reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))] = sql ? sql : "";
    }
    sqlite3_finalize(stmt);
    return objects;
}

std::map<std::string, std::string> SchemaOf(const std::string &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    auto schema = Schema(db);
    sqlite3_close(db);
    return schema;
}

// Index columns in order, with "DESC" after a descending one.
std::vector<std::string> IndexColumns(sqlite3 *db, const std::string &index)
{
    std::vector<std::string> columns;
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, ("PRAGMA index_xinfo(" + index + ");").c_str(), -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        if (sqlite3_column_int(stmt, 5) == 0) // key columns only, not the rowid
            continue;
        std::string name = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2));
        if (sqlite3_column_int(stmt, 3))
            name += " DESC";
        columns.push_back(name);
    }
    sqlite3_finalize(stmt);
    return columns;
}

std::string FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> LogLines()
{
    std::istringstream in(FileBytes(LogFileName()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string CheckRows(sqlite3 *db)
{
    std::string rows;
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, quote(comment), checked, fileID, id_parent, quote(flag), checkForFolder "
                       "FROM check_and_comment_map ORDER BY id;",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0; c < 7; ++c) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
            rows += text ? text : "NULL";
            rows += c < 6 ? "|" : "\n";
        }
    }
    sqlite3_finalize(stmt);
    return rows;
}

class Preparation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLogFolder(FTemp.Path() + "/");
        CreateLogFile();
    }
    void TearDown() override
    {
        if (FDB)
            sqlite3_close(FDB);
        SetLogFolder("");
    }

    sqlite3 *Open(const std::string &path, int flags = SQLITE_OPEN_READWRITE)
    {
        if (FDB)
            sqlite3_close(FDB);
        FDB = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &FDB, flags, nullptr), SQLITE_OK);
        return FDB;
    }
    void Close()
    {
        EXPECT_EQ(sqlite3_close(FDB), SQLITE_OK); // a statement left open would make this fail
        FDB = nullptr;
    }

    // The loading worker's way: all steps inside one transaction, committed at the end.
    void Prepare(const std::string &path)
    {
        sqlite3 *db = Open(path);
        ExecSqlScript(db, "BEGIN TRANSACTION;");
        for (const TPrepareStep &step : ReportPreparationSteps)
            step.Run(db);
        ExecSqlScript(db, "COMMIT;");
        Close();
    }

    std::string SmallReport(support::ReportBuilder builder = support::ReportBuilder())
    {
        builder.Tree("D Docs\n  F a.txt 10\n  D Sub\n    F b.txt 20\nF c.txt 5\n");
        return builder.Write(FTemp.File("report.db"));
    }

    support::TempDir FTemp;
    sqlite3 *FDB = nullptr;
};

} // namespace

TEST_F(Preparation, CreatesAllIndexesAndTheTableAndLogsTheSteps)
{
    const std::string path = SmallReport();
    Prepare(path);

    const auto schema = SchemaOf(path);
    const std::map<std::string, std::vector<std::string>> indexes = {
        {"idInd ON struct_drive_table", {"ID_FILE"}},
        {"pidInd ON struct_drive_table", {"ID_PARENT"}},
        {"delInd ON struct_drive_table", {"IS_DELETED"}},
        {"foldInd ON struct_drive_table", {"IS_FOLDER"}},
        {"sizeInd ON struct_drive_table", {"F_SIZE"}},
        {"createInd ON struct_drive_table", {"F_CREATE"}},
        {"updateInd ON struct_drive_table", {"F_UPDATE"}},
        {"pIDAndIsFoldInd ON struct_drive_table", {"ID_PARENT", "IS_FOLDER DESC"}},
        {"id_parAndCheckIndex ON check_and_comment_map", {"id_parent", "checked"}},
    };
    sqlite3 *db = Open(path, SQLITE_OPEN_READONLY);
    int indexCount = 0;
    for (const auto &[key, sql] : schema)
        if (key.rfind("index ", 0) == 0 && sql != "")
            ++indexCount;
    EXPECT_EQ(indexCount, 9);
    for (const auto &[key, columns] : indexes) {
        ASSERT_TRUE(schema.count("index " + key)) << key;
        EXPECT_EQ(IndexColumns(db, key.substr(0, key.find(' '))), columns) << key;
    }
    // SQLite keeps the text as written, without "IF NOT EXISTS": the blank runs are all there.
    EXPECT_EQ(schema.at("table check_and_comment_map ON check_and_comment_map"),
              "CREATE TABLE check_and_comment_map(id               INTEGER PRIMARY KEY, comment          "
              "TEXT,    checked          INTEGER, fileID           INTEGER, id_parent        INTEGER, flag "
              "            INTEGER, checkForFolder   INTEGER)");
    EXPECT_EQ(CheckRows(db), "");
    EXPECT_EQ(LogLines(), StepNames);
}

TEST_F(Preparation, StepsAreTheNamedRoutinesInOrder)
{
    void (*const routines[])(sqlite3 *) = {
        AddIdIndex,     AddPIdIndex,    AddDelIndex,         AddFoldIndex,      AddSizeIndex,
        AddCreateIndex, AddUpdateIndex, AddPIdIsFolderIndex, CreateChAComTable, AddId_parAndCheckIndex};
    for (int i = 0; i < PrepareStepCount; ++i) {
        EXPECT_EQ(ReportPreparationSteps[i].Name, StepNames[size_t(i)]);
        EXPECT_EQ(ReportPreparationSteps[i].Run, routines[i]);
    }
    EXPECT_STREQ(ReportPreparationSteps[8].Sql, CheckAndCommentMapTableSql);
}

TEST_F(Preparation, IsIdempotentAndKeepsStoredTicksAndComments)
{
    support::ReportBuilder builder;
    builder.Check({std::string("first \xd0\xba\xd0\xbe\xd0\xbc"), 1, 1, -1, std::nullopt, 1});
    builder.Check({std::nullopt, 2, 2, 1, 0, std::nullopt});
    const std::string path = SmallReport(builder);
    sqlite3 *db = Open(path, SQLITE_OPEN_READONLY);
    const std::string rowsBefore = CheckRows(db);
    Close();
    ASSERT_NE(rowsBefore, "");

    Prepare(path);
    const auto once = SchemaOf(path);
    Prepare(path);
    EXPECT_EQ(SchemaOf(path), once);

    db = Open(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(CheckRows(db), rowsBefore);
    std::vector<std::string> twice = StepNames;
    twice.insert(twice.end(), StepNames.begin(), StepNames.end());
    EXPECT_EQ(LogLines(), twice);
}

TEST_F(Preparation, ExistingIndexOfTheSameNameStaysAsItWas)
{
    support::ReportBuilder builder;
    builder.Sql("CREATE INDEX sizeInd ON struct_drive_table(F_NAME);");
    const std::string path = SmallReport(builder);
    Prepare(path);
    sqlite3 *db = Open(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(IndexColumns(db, "sizeInd"), std::vector<std::string>{"F_NAME"});
}

TEST_F(Preparation, DatabaseWithoutDriveTableFailsAtTheFirstStepAndKeepsNothing)
{
    support::ReportBuilder builder;
    builder.WithoutDriveTable();
    const std::string path = builder.Write(FTemp.File("other.db"));
    const auto before = SchemaOf(path);
    const std::string bytes = FileBytes(path);

    sqlite3 *db = Open(path);
    ExecSqlScript(db, "BEGIN TRANSACTION;");
    try {
        for (const TPrepareStep &step : ReportPreparationSteps)
            step.Run(db);
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_ERROR);
        EXPECT_TRUE(e.ErrorMessage.contains(QStringLiteral("struct_drive_table"))) << e.what();
    }
    Close(); // closing with the transaction open rolls it back
    EXPECT_EQ(LogLines(), std::vector<std::string>{"AddIdIndex"});
    EXPECT_EQ(SchemaOf(path), before);
    EXPECT_EQ(FileBytes(path), bytes);
}

TEST_F(Preparation, LateFailureLeavesTheReportAsItWas)
{
    // A check table without the column "checked": the table step finds it, its index step fails.
    support::ReportBuilder builder;
    builder.Sql(
        "CREATE TABLE check_and_comment_map(id INTEGER PRIMARY KEY, fileID INTEGER, id_parent INTEGER);");
    const std::string path = SmallReport(builder);
    const auto before = SchemaOf(path);
    const std::string bytes = FileBytes(path);

    sqlite3 *db = Open(path);
    ExecSqlScript(db, "BEGIN TRANSACTION;");
    int done = 0;
    try {
        for (const TPrepareStep &step : ReportPreparationSteps) {
            step.Run(db);
            ++done;
        }
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_ERROR);
        EXPECT_TRUE(e.ErrorMessage.contains(QStringLiteral("checked"))) << e.what();
    }
    EXPECT_EQ(done, 9);
    // Inside the transaction the first nine steps are visible...
    EXPECT_EQ(Schema(db).count("index idInd ON struct_drive_table"), 1u);
    Close();
    // ...and gone once the connection is closed without a commit.
    EXPECT_EQ(SchemaOf(path), before);
    EXPECT_EQ(FileBytes(path), bytes);
    EXPECT_EQ(LogLines(), StepNames); // the failing step's name is logged before it runs
}

TEST_F(Preparation, ReadOnlyReportFailsWithTheEnginesCode)
{
    const std::string path = SmallReport();
    sqlite3 *db = Open(path, SQLITE_OPEN_READONLY);
    ExecSqlScript(db, "BEGIN TRANSACTION;");
    try {
        AddIdIndex(db);
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode & 0xFF, SQLITE_READONLY);
        EXPECT_EQ(e.Message(), QStringLiteral("SQLite3 Error %1 - %2").arg(e.ErrorCode).arg(e.ErrorMessage));
    }
    Close();
    EXPECT_EQ(SchemaOf(path).count("index idInd ON struct_drive_table"), 0u);
}
