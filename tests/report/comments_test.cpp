#include "report/uCheckHelper.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/TickReport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <vector>

namespace {

class Comments : public ::testing::Test
{
protected:
    // Writes and opens a prepared report of the builder's rows, the tree and the given tick rows.
    sqlite3 *OpenReport(const std::string &tree, const std::vector<support::CheckRow> &checks = {},
                        support::ReportBuilder builder = support::ReportBuilder())
    {
        FReport.reset(); // its check helper is bound to the connection
        builder.Tree(tree).WithCheckTable();
        for (const auto &row : checks)
            builder.Check(row);
        return FDB = FReport.emplace(builder).DB;
    }

    // The item's row as "quoted comment|checked|id_parent|checkForFolder", "" when it has none.
    std::string Row(int64_t fileID)
    {
        return reporttest::Query(
            FDB, "SELECT quote(comment), checked, id_parent, checkForFolder FROM check_and_comment_map "
                 "WHERE fileID = " +
                     std::to_string(fileID) + ";");
    }
    std::string RowCount() { return reporttest::Query(FDB, "SELECT count(*) FROM check_and_comment_map;"); }

    std::optional<ticktest::TickReport> FReport;
    sqlite3 *FDB = nullptr;
};

// Docs (1) holds a.txt (2) and Sub (3), which holds b.txt (4); c.txt (5) is at the top.
const char *const Tree = "D Docs\n  F a.txt 10\n  D Sub\n    F b.txt 20\nF c.txt 5\n";

} // namespace

TEST_F(Comments, ANewRowTakesTheInheritedStateAnExistingRowKeepsItsOwn)
{
    // Inside a folder ticked as a whole: checked. The tick store works Sub out again (checked through
    // its only stored child); Docs stays.
    sqlite3 *db = OpenReport(Tree, {{std::nullopt, 1, 1, -1, std::nullopt, 1}});
    SetComment(db, QStringLiteral("look at this"), 4);
    EXPECT_EQ(Row(4), "'look at this'|1|3|1\n");
    EXPECT_EQ(Row(3), "NULL|1|1|1\n");
    EXPECT_EQ(Row(1), "NULL|1|-1|1\n");
    EXPECT_EQ(RowCount(), "3\n");

    // Inside an unticked folder, and without any stored ancestor: unchecked.
    db = OpenReport(Tree, {{std::nullopt, 0, 1, -1, std::nullopt, 0}});
    SetComment(db, QStringLiteral("x"), 2);
    EXPECT_EQ(Row(2), "'x'|0|1|0\n");

    db = OpenReport(Tree, {{std::string("old"), 2, 1, -1, std::nullopt, 1}});
    SetComment(db, QStringLiteral("new"), 1);
    EXPECT_EQ(Row(1), "'new'|2|-1|1\n");
    EXPECT_EQ(RowCount(), "1\n");
}

// A comment is stored as given (an empty one as empty text, not NULL); it counts as one when it holds
// more than blanks and control characters.
TEST_F(Comments, StoredTextAndTheHasCommentAnswer)
{
    sqlite3 *db = OpenReport(Tree);
    const struct
    {
        QString text;
        bool hasComment;
    } cases[] = {
        {QString(), false},
        {QStringLiteral("  \t \r\n "), false},
        {QStringLiteral("  \u041f\u0440\u043e\u0432\u0435\u0440\u0438\u0442\u044c \u6587\u4ef6  "), true},
        {QStringLiteral(" \u00a0 "), true}, // a non-breaking space is no blank
        {QStringLiteral("\t!\t"), true},
    };
    QString out;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        SetComment(db, c.text, 3);
        EXPECT_EQ(Row(3), "'" + WideToUtf8(c.text) + "'|0|1|0\n");
        out = QStringLiteral("previous");
        EXPECT_EQ(GetComment(db, out, 3), c.hasComment);
        EXPECT_EQ(out, c.text);
    }
    EXPECT_EQ(RowCount(), "2\n"); // and its folder's, unchecked as it counts

    TInt64List touched;
    SetCheckRecursive(db, 2, touched, 5); // a row with a tick and a null comment reads as empty text
    EXPECT_FALSE(GetComment(db, out, 5));
    EXPECT_EQ(out, QString());
}
