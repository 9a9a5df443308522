// The tick store where the random tick test does not reach: wide ids, deep chains, a missing table.
#include "report/uExtraFunctions.h"
#include "tests/support/TickReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using support::CheckRow;
using support::ReportBuilder;
using testing::ElementsAre;
using testing::HasSubstr;
using ticktest::StoredRow;
using ticktest::TickReport;

namespace {

constexpr uint8_t Unchecked = 0;
constexpr uint8_t Checked = 2;
constexpr uint8_t Mixed = 4;

// A stored row of the tick table.
CheckRow Stored(int64_t ID, int64_t Parent, int64_t CheckedValue, int64_t Folder)
{
    return {std::nullopt, CheckedValue, ID, Parent, std::nullopt, Folder};
}

ReportBuilder Report(const char *Tree, const std::vector<CheckRow> &Rows = {})
{
    ReportBuilder B;
    B.Tree(Tree);
    for (const CheckRow &Row : Rows)
        B.Check(Row);
    return B;
}

// A row expected after a tick; nullopt: the item has no row.
using Expected = std::pair<int64_t, std::optional<StoredRow>>;
Expected Has(int64_t ID, int C, int F, int64_t Parent)
{
    return {ID, StoredRow{C, F, Parent}};
}

void ExpectRows(const TickReport &R, const std::vector<Expected> &Rows)
{
    for (const auto &[ID, Row] : Rows)
        EXPECT_EQ(R.Row(ID), Row) << "row of " << ID;
}

// IsCheckedInherited's answer as "result state folder-state", e.g. "1 2 2".
std::string Inherited(const TickReport &R, int64_t ID)
{
    uint8_t State = 99, Folder = 99;
    const bool Result = IsCheckedInherited(R.DB, ID, State, Folder);
    return std::to_string(Result) + " " + std::to_string(State) + " " + std::to_string(Folder);
}
const std::string ByFolder = "1 2 2";

} // namespace

TEST(TickPushDown, ADeepChainOfRowsIsWalkedWithoutExhaustingTheStack)
{
    const int64_t Depth = 100000;
    ReportBuilder B;
    for (int64_t I = 1; I <= Depth; ++I) {
        B.Row({I, I == 1 ? -1 : I - 1, I < Depth ? 1 : 0, 0, "d"});
        B.Check(Stored(I, I == 1 ? -1 : I - 1, 0, 0));
    }
    TickReport R(B);
    GetParentID(R.DB, 1);
    CheckHelper->SetCheckForChildren(Checked, 1);
    EXPECT_EQ(R.Row(Depth), (StoredRow{1, 0, Depth - 1}));
    TInt64List List;
    CollectAncestorIDs(R.DB, List, Depth);
    ASSERT_EQ(List.Count(), Depth);
    EXPECT_EQ(List.GetItem(int(Depth - 1)), 1);
}

// The touched-id list: the item, then every ancestor worked out again while states change, then the
// root when the walk reaches it.
TEST(TickWideIDs, AreStoredAndWalkedWhole)
{
    const int64_t A = 2147483648LL, F = 3000000001LL, G = 8589934593LL;
    TickReport R(Report("D A id=2147483648\n  F f id=3000000001\n  F g id=8589934593\n"));
    EXPECT_THAT(R.Tick(Checked, G), ElementsAre(G, A, -1));
    ExpectRows(R, {Has(G, 1, 1, A), Has(A, 2, 0, -1)});
    EXPECT_EQ(GetParentID(R.DB, F), A);
    SetChecked(R.DB, Unchecked, A); // formatted texts carry the full value
    ExpectRows(R, {Has(A, 0, 0, -1), Has(G, 0, 1, A)});
    R.Tick(Checked, A);
    EXPECT_EQ(R.Row(G), (StoredRow{1, 1, A}));
    EXPECT_EQ(Inherited(R, F), ByFolder);
    TInt64List List;
    CollectAncestorIDs(R.DB, List, F);
    EXPECT_THAT(reporttest::Items(List), ElementsAre(F, A));
}

// SetChecked stores exactly what TCheck_Helper::SetCheck stores, and nothing above the item; it
// needs no other routine of the store before it, also where it pushes a state down (B's row, f's row).
TEST(TickFailures, WithoutTheTickTableQueriesFindNothingThePushDownRaisesAndNothingStaysBusy)
{
    TickReport R(Report("D A id=1\n  F f id=2\n  F g id=3\n"), /*Prepare=*/false);
    uint8_t State = 9, Folder = 9;
    EXPECT_FALSE(IsChecked(R.DB, 2, State, Folder));
    EXPECT_EQ(State, 0);
    EXPECT_EQ(Folder, 0);
    EXPECT_FALSE(CheckHelper->HasCheckedChild(1));
    EXPECT_FALSE(CheckHelper->IsFolderChecked(1));
    EXPECT_EQ(GetParentID(R.DB, 2), 1);
    TInt64List List;
    try {
        SetCheckRecursive(R.DB, Checked, List, 2);
        ADD_FAILURE() << "no exception";
    } catch (const ESQLite3 &E) {
        EXPECT_EQ(E.ErrorCode, SQLITE_ERROR);
        EXPECT_THAT(E.what(), HasSubstr("no such table: check_and_comment_map"));
    }
    EXPECT_EQ(List.Count(), 0);
    // Once the table exists the same store object works: failed texts are prepared again.
    ExecSqlScript(R.DB, CheckAndCommentMapTableSql);
    SetCheckRecursive(R.DB, Checked, List, 2);
    EXPECT_THAT(reporttest::Items(List), ElementsAre(2, 1, -1));
    EXPECT_FALSE(IsCheckedInherited(R.DB, 3, State, Folder)); // A is mixed, not ticked as a whole
    EXPECT_EQ(State, Mixed);
    QString Comment;
    EXPECT_FALSE(GetComment(R.DB, Comment, 2)); // on a statement the store keeps
    for (sqlite3_stmt *Stmt = sqlite3_next_stmt(R.DB, nullptr); Stmt; Stmt = sqlite3_next_stmt(R.DB, Stmt))
        EXPECT_FALSE(sqlite3_stmt_busy(Stmt)) << sqlite3_sql(Stmt);
    DestroyCheckHelper();
    EXPECT_EQ(sqlite3_close(R.DB), SQLITE_OK); // fails with SQLITE_BUSY while a statement is alive
    R.DB = nullptr;
}

// Every write of a tick or a comment that the engine refuses raises its code and text, leaves f's row
// as it was and no statement busy: f's own row inserted or updated, a push-down onto it, its comment.
TEST(TickFailures, ARefusedWriteRaises)
{
    const std::string Insert = "INSERT ON check_and_comment_map WHEN NEW.fileID = 2",
                      Update = "UPDATE ON check_and_comment_map WHEN OLD.fileID = 2",
                      Comment = "UPDATE OF comment ON check_and_comment_map";
    const auto Tick = [](uint8_t State, int64_t ID) {
        return [=](sqlite3 *DB) {
            TInt64List List;
            SetCheckRecursive(DB, State, List, ID);
        };
    };
    const auto Set = [](uint8_t State, int64_t ID) {
        return [=](sqlite3 *DB) { SetChecked(DB, State, ID); };
    };
    const auto Note = [](sqlite3 *DB) { SetComment(DB, QStringLiteral("note"), 2); };
    const struct
    {
        const std::string &Refused;
        bool FHasRow;
        std::function<void(sqlite3 *)> Write;
    } Cases[] = {
        {Insert, false, Tick(Checked, 2)},
        {Update, true, Tick(Checked, 2)},
        {Update, true, Tick(Mixed, 2)},
        {Update, true, Tick(Checked, 1)},
        {Insert, false, Set(Checked, 2)},
        {Update, true, Set(Checked, 1)},
        {Insert, false, Note},
        {Comment, true, Note},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(int(&C - Cases));
        // g checked makes A mixed, so that no push-down onto f follows a refused own-row write.
        std::vector Rows{Stored(3, 1, 1, 1)};
        if (C.FHasRow)
            Rows.push_back(Stored(2, 1, 0, 0));
        TickReport R(Report("D A id=1\n  F f id=2\n  F g id=3\n", Rows));
        ExecSqlScript(R.DB, "CREATE TRIGGER refuse BEFORE " + C.Refused +
                                " BEGIN SELECT RAISE(ABORT, 'refused here'); END;");
        const std::optional<StoredRow> Before = R.Row(2);
        try {
            C.Write(R.DB);
            ADD_FAILURE() << "no exception";
        } catch (const ESQLite3 &E) {
            EXPECT_EQ(E.ErrorCode, SQLITE_CONSTRAINT);
            EXPECT_EQ(E.ErrorMessage.toStdString(), "refused here");
        }
        EXPECT_EQ(R.Row(2), Before);
        for (sqlite3_stmt *Stmt = sqlite3_next_stmt(R.DB, nullptr); Stmt;
             Stmt = sqlite3_next_stmt(R.DB, Stmt))
            EXPECT_FALSE(sqlite3_stmt_busy(Stmt)) << sqlite3_sql(Stmt);
    }
}

// A report whose ID_PARENT links form a cycle: 1 and 2 are each other's parent, 4 lies in 1; 3 is its
// own parent. Ticks on such reports are also in check_random_test.
