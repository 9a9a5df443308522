#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <vector>

namespace {

struct StoredRow
{
    std::optional<std::string> comment;
    std::string commentType;
    int checked = -1;
    int64_t idParent = 0;
    int checkForFolder = -1;
};

std::vector<int64_t> Items(const TInt64List &list)
{
    std::vector<int64_t> items;
    for (int i = 0; i < list.Count(); ++i)
        items.push_back(list.GetItem(i));
    return items;
}

class Comments : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLogFolder(FTemp.Path() + "/");
        CreateLogFile();
    }
    void TearDown() override
    {
        DestroyCheckHelper(); // it is bound to this test's connection
        if (FDB)
            sqlite3_close_v2(FDB);
        SetLogFolder("");
    }

    // Writes and opens a prepared report of the tree, with the given rows of the tick table.
    sqlite3 *OpenReport(const std::string &tree, const std::vector<support::CheckRow> &checks = {},
                        support::ReportBuilder builder = support::ReportBuilder())
    {
        builder.Tree(tree).WithCheckTable();
        for (const auto &row : checks)
            builder.Check(row);
        const std::string path = builder.Write(FTemp.File("report.db"));
        EXPECT_EQ(sqlite3_open(path.c_str(), &FDB), SQLITE_OK);
        for (const TPrepareStep &step : ReportPreparationSteps)
            ExecSqlScript(FDB, step.Sql);
        return FDB;
    }

    std::optional<StoredRow> Row(int64_t fileID)
    {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(FDB,
                           "SELECT comment, typeof(comment), checked, id_parent, checkForFolder FROM "
                           "check_and_comment_map WHERE fileID = ?;",
                           -1, &stmt, nullptr);
        sqlite3_bind_int64(stmt, 1, fileID);
        std::optional<StoredRow> row;
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            row.emplace();
            if (const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)))
                row->comment = std::string(text, size_t(sqlite3_column_bytes(stmt, 0)));
            row->commentType = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
            row->checked = sqlite3_column_int(stmt, 2);
            row->idParent = sqlite3_column_int64(stmt, 3);
            row->checkForFolder = sqlite3_column_int(stmt, 4);
            EXPECT_NE(sqlite3_step(stmt), SQLITE_ROW) << "more than one row for " << fileID;
        }
        sqlite3_finalize(stmt);
        return row;
    }

    int64_t RowCount()
    {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(FDB, "SELECT count(*) FROM check_and_comment_map;", -1, &stmt, nullptr);
        sqlite3_step(stmt);
        const int64_t n = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        return n;
    }

    support::TempDir FTemp;
    sqlite3 *FDB = nullptr;
};

// Docs (1) holds a.txt (2) and Sub (3), which holds b.txt (4); c.txt (5) is at the top.
const char *const Tree = "D Docs\n  F a.txt 10\n  D Sub\n    F b.txt 20\nF c.txt 5\n";

} // namespace

TEST_F(Comments, NewRowInsideAFolderTickedAsAWholeIsChecked)
{
    sqlite3 *db = OpenReport(Tree, {{std::nullopt, 1, 1, -1, std::nullopt, 1}});
    SetComment(db, QStringLiteral("look at this"), 4);

    const auto row = Row(4);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->checked, 1);
    EXPECT_EQ(row->checkForFolder, 1);
    EXPECT_EQ(row->idParent, 3);
    EXPECT_EQ(row->comment, "look at this");
    // The tick store works out Sub again (now checked through its only stored child); Docs stays.
    ASSERT_TRUE(Row(3));
    EXPECT_EQ(Row(3)->checked, 1);
    EXPECT_EQ(Row(3)->comment, std::nullopt);
    EXPECT_EQ(Row(1)->checked, 1);
    EXPECT_EQ(RowCount(), 3);
}

TEST_F(Comments, NewRowInsideAnUntickedFolderIsUnchecked)
{
    sqlite3 *db = OpenReport(Tree, {{std::nullopt, 0, 1, -1, std::nullopt, 0}});
    SetComment(db, QStringLiteral("x"), 2);
    const auto row = Row(2);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->checked, 0);
    EXPECT_EQ(row->checkForFolder, 0);
    EXPECT_EQ(row->idParent, 1);
    EXPECT_EQ(Row(1)->checked, 0);

    // Without any stored ancestor the item counts as unchecked too.
    SetComment(db, QStringLiteral("top"), 5);
    EXPECT_EQ(Row(5)->checked, 0);
    EXPECT_EQ(Row(5)->idParent, -1);
}

TEST_F(Comments, ExistingRowKeepsItsTickState)
{
    sqlite3 *db = OpenReport(Tree, {{std::string("old"), 2, 1, -1, std::nullopt, 1}});
    SetComment(db, QStringLiteral("new"), 1);
    const auto row = Row(1);
    EXPECT_EQ(row->checked, 2);
    EXPECT_EQ(row->checkForFolder, 1);
    EXPECT_EQ(row->comment, "new");
    EXPECT_EQ(RowCount(), 1);
}

TEST_F(Comments, EmptyCommentIsStoredAsEmptyTextAndIsNoComment)
{
    sqlite3 *db = OpenReport(Tree);
    SetComment(db, QString(), 2);
    const auto row = Row(2);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->commentType, "text");
    EXPECT_EQ(row->comment, "");

    QString out = QStringLiteral("previous");
    EXPECT_FALSE(GetComment(db, out, 2));
    EXPECT_EQ(out, QString());
}

TEST_F(Comments, BlankCommentIsStoredUnchangedAndIsNoComment)
{
    sqlite3 *db = OpenReport(Tree);
    const QString blanks = QStringLiteral("  \t \r\n ");
    SetComment(db, blanks, 5);
    EXPECT_EQ(Row(5)->comment, "  \t \r\n ");
    QString out;
    EXPECT_FALSE(GetComment(db, out, 5));
    EXPECT_EQ(out, blanks);
}

TEST_F(Comments, HasCommentAnswerAndTextRoundTrip)
{
    sqlite3 *db = OpenReport(Tree);
    const QString text =
        QStringLiteral("  \u041f\u0440\u043e\u0432\u0435\u0440\u0438\u0442\u044c \u6587\u4ef6  ");
    SetComment(db, text, 3);
    QString out;
    EXPECT_TRUE(GetComment(db, out, 3));
    EXPECT_EQ(out, text);
    EXPECT_EQ(Row(3)->comment, WideToUtf8(text));

    // A single character above the blank is a comment; a non-breaking space is no blank.
    SetComment(db, QStringLiteral(" \u00a0 "), 3);
    EXPECT_TRUE(GetComment(db, out, 3));
    SetComment(db, QStringLiteral("\t!\t"), 3);
    EXPECT_TRUE(GetComment(db, out, 3));
    EXPECT_EQ(RowCount(), 1); // unchanged state: nothing above the item was stored
}

TEST_F(Comments, ItemWithoutRowHasNoCommentAndTheOutTextStays)
{
    sqlite3 *db = OpenReport(Tree, {{std::string("only for 1"), 0, 1, -1, std::nullopt, 0}});
    QString out = QStringLiteral("untouched");
    EXPECT_FALSE(GetComment(db, out, 2));
    EXPECT_EQ(out, QStringLiteral("untouched"));

    // A row that holds a tick but a null comment reads as empty text.
    TInt64List touched;
    SetCheckRecursive(db, 2, touched, 5);
    out = QStringLiteral("untouched");
    EXPECT_FALSE(GetComment(db, out, 5));
    EXPECT_EQ(out, QString());
}

TEST_F(Comments, LargeIdsKeepTheirFullWidth)
{
    const int64_t folder = 5000000000LL;
    const int64_t file = 5000000001LL;
    const int64_t sub = 9000000000000000001LL;
    sqlite3 *db = OpenReport("D Big id=5000000000\n  F f id=5000000001\n  D S id=9000000000000000001\n"
                             "D Low id=705032704\n");
    SetComment(db, QStringLiteral("wide"), file);
    const auto row = Row(file);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->idParent, folder);
    EXPECT_FALSE(Row(file & 0xFFFFFFFF)); // 705032705: no truncated twin
    QString out;
    EXPECT_TRUE(GetComment(db, out, file));
    EXPECT_EQ(out, QStringLiteral("wide"));

    TInt64List list;
    CollectSubfolderIDs(db, list, folder);
    EXPECT_EQ(Items(list), std::vector<int64_t>{sub});
    EXPECT_EQ(GetChildrenSize(db, folder), 0);
}

TEST_F(Comments, FailureInTheTickStorePassesAndLeavesNoStatementBusy)
{
    // Sub (3) has no row but its file b.txt (4) has one, so storing Sub's state pushes it down to that
    // row; the trigger makes the push-down fail.
    sqlite3 *db = OpenReport(Tree, {{std::string("b"), 0, 4, 3, std::nullopt, 0}});
    ExecSqlScript(db, "CREATE TRIGGER no_update BEFORE UPDATE OF checked ON check_and_comment_map "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    try {
        SetComment(db, QStringLiteral("never stored"), 3);
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_CONSTRAINT);
        EXPECT_EQ(e.ErrorMessage, QStringLiteral("refused"));
    }
    for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
        EXPECT_FALSE(sqlite3_stmt_busy(s)) << sqlite3_sql(s);
    const auto row = Row(3);
    ASSERT_TRUE(row); // the tick store's insert stays in the open transaction, the comment never came
    EXPECT_FALSE(row->comment);
}

TEST_F(Comments, SubfoldersInPreOrder)
{
    // Top (1): A (2) holding A1 (3) and a file, B (5); ids make the engine return A before B.
    sqlite3 *db = OpenReport("D Top\n  D A\n    D A1\n    F f.txt 3\n  D B\n    F g.txt 4\nD Other\n");
    TInt64List list;
    list.Add(77); // the routine appends
    CollectSubfolderIDs(db, list, 1);
    EXPECT_EQ(Items(list), (std::vector<int64_t>{77, 2, 3, 5}));

    TInt64List none;
    CollectSubfolderIDs(db, none, 3); // a folder without subfolders
    CollectSubfolderIDs(db, none, 4); // a file
    CollectSubfolderIDs(db, none, 12345);
    EXPECT_EQ(none.Count(), 0);

    TInt64List all;
    CollectSubfolderIDs(db, all, -1);
    EXPECT_EQ(Items(all), (std::vector<int64_t>{1, 2, 3, 5, 7}));
}

TEST_F(Comments, SubfolderWalkEndsOnACyclicReport)
{
    // 10 and 11 are each other's parent; 12 hangs below 11; 20 is its own parent.
    support::ReportBuilder builder;
    builder.Row({10, 11, 1, 0, "x"})
        .Row({11, 10, 1, 0, "y"})
        .Row({12, 11, 1, 0, "z"})
        .Row({20, 20, 1, 0, "s"});
    sqlite3 *db = OpenReport("", {}, builder);

    TInt64List list;
    CollectSubfolderIDs(db, list, 10);
    EXPECT_EQ(Items(list), (std::vector<int64_t>{11, 12}));
    TInt64List self;
    CollectSubfolderIDs(db, self, 20);
    EXPECT_EQ(self.Count(), 0);
    TInt64List fromTwelve;
    CollectSubfolderIDs(db, fromTwelve, 11);
    EXPECT_EQ(Items(fromTwelve), (std::vector<int64_t>{10, 12}));
}

TEST_F(Comments, DeepTreeIsWalkedCompletely)
{
    support::ReportBuilder builder;
    const int depth = 3000;
    for (int i = 1; i <= depth; ++i)
        builder.Row({i, i == 1 ? -1 : i - 1, 1, 0, "d"});
    sqlite3 *db = OpenReport("", {}, builder);
    TInt64List list;
    CollectSubfolderIDs(db, list, -1);
    ASSERT_EQ(list.Count(), depth);
    EXPECT_EQ(list.GetItem(depth - 1), depth);
}

TEST_F(Comments, ChildrenSize)
{
    support::ReportBuilder builder;
    support::DriveRow nullSize{40, -1, 1, 0, "n"};
    builder.Tree(Tree).Row(nullSize).Sql(
        "UPDATE struct_drive_table SET F_CHILDREN_SIZE = NULL WHERE ID_FILE = 40;");
    sqlite3 *db = OpenReport("", {}, builder);
    EXPECT_EQ(GetChildrenSize(db, 1), 30);
    EXPECT_EQ(GetChildrenSize(db, 3), 20);
    EXPECT_EQ(GetChildrenSize(db, 999), 0);
    EXPECT_EQ(GetChildrenSize(db, 40), 0);
}

TEST_F(Comments, DatabaseWithoutTheTablesReadsAsNoRows)
{
    support::ReportBuilder builder;
    builder.WithoutDriveTable();
    const std::string path = builder.Write(FTemp.File("empty.db"));
    ASSERT_EQ(sqlite3_open(path.c_str(), &FDB), SQLITE_OK);
    QString out = QStringLiteral("kept");
    EXPECT_FALSE(GetComment(FDB, out, 1));
    EXPECT_EQ(out, QStringLiteral("kept"));
    EXPECT_EQ(GetChildrenSize(FDB, 1), 0);
    TInt64List list;
    CollectSubfolderIDs(FDB, list, -1);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(sqlite3_next_stmt(FDB, nullptr), nullptr);
}
