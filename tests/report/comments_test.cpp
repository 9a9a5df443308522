#include "report/uCheckHelper.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/TickReport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>

namespace {

class Comments : public ::testing::Test
{
protected:
    // Writes and opens a prepared report of the tree.
    sqlite3 *OpenReport(const std::string &tree)
    {
        return FDB = FReport.emplace(support::ReportBuilder().Tree(tree).WithCheckTable()).DB;
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
