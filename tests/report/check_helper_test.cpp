// The tick store against small hand-made reports.
#include "report/uExtraFunctions.h"
#include "tests/report/TickReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
Expected NoRow(int64_t ID)
{
    return {ID, std::nullopt};
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

// One tick on a hand-made report, then the rows expected. An empty List is not looked at.
void OneTick(const char *What, const char *Tree, const std::vector<CheckRow> &Given, uint8_t State,
             int64_t ID, const std::vector<int64_t> &List, const std::vector<Expected> &Then)
{
    SCOPED_TRACE(What);
    TickReport R(Report(Tree, Given));
    const std::vector<int64_t> Touched = R.Tick(State, ID);
    if (!List.empty()) {
        EXPECT_EQ(Touched, List);
    }
    ExpectRows(R, Then);
}

// The parent's state order by order, the root's own row among its children, and a parent worked out
// checked pushed down like a user's tick.
TEST(TickRules, OneTickEachRule)
{
    // P (1) is a top-level folder; x (2) is ticked; y (3) has a row in some cases; z (4) never has one.
    const char *const XY = "D P id=1\n  F x id=2\n  F y id=3\n";
    const char *const XZ = "D P id=1\n  F x id=2\n  F z id=4\n";
    const char *const X = "D P id=1\n  F x id=2\n";
    // A new mixed row has checkForFolder 0; mixed is never pushed down.
    OneTick("order 1: a mixed child", XY, {Stored(3, 1, 1, 1)}, Mixed, 2, {2, 1, -1},
            {Has(2, 2, 0, 1), Has(1, 2, 0, -1), Has(-1, 2, 0, -1), Has(3, 1, 1, 1)});
    OneTick("order 2: a stored mixed child wins over all checked", XY, {Stored(3, 1, 2, 0)}, Checked, 2, {},
            {Has(1, 2, 0, -1)});
    // P ticked as a whole would answer checked by order 4; mixed keeps checkForFolder.
    OneTick("order 3: checked and unchecked child rows", XY, {Stored(1, -1, 1, 1), Stored(3, 1, 0, 0)},
            Checked, 2, {}, {Has(1, 2, 1, -1)});
    OneTick("order 4: P ticked as a whole, z counts checked", XZ, {Stored(1, -1, 2, 1), Stored(2, 1, 0, 0)},
            Checked, 2, {}, {Has(1, 1, 1, -1), NoRow(4)});
    OneTick("order 5: z counts unchecked", XZ, {}, Checked, 2, {2, 1, -1},
            {Has(2, 1, 1, 1), Has(1, 2, 0, -1)});
    OneTick("order 5: only child", X, {}, Checked, 2, {}, {Has(1, 1, 1, -1)});
    OneTick("order 6: z still counts checked", XZ, {Stored(1, -1, 1, 1), Stored(2, 1, 1, 1)}, Unchecked, 2,
            {}, {Has(1, 2, 1, -1)});
    OneTick("order 6: only child", X, {Stored(1, -1, 1, 1), Stored(2, 1, 1, 1)}, Unchecked, 2, {},
            {Has(1, 0, 0, -1)});
    OneTick("order 7: no checked row, no folder tick", XZ, {Stored(1, -1, 2, 0), Stored(2, 1, 1, 1)},
            Unchecked, 2, {}, {Has(1, 0, 0, -1)});
    OneTick("a parent worked out checked", "D B id=1\n  F x id=2\n  D C id=3\n    F c id=4\n",
            {Stored(3, 1, 1, 0), Stored(4, 3, 0, 0)}, Checked, 2, {}, {Has(1, 1, 1, -1), Has(4, 1, 0, 3)});
    OneTick("the root's unchecked row", "F x id=1\n", {Stored(-1, -1, 0, 0)}, Checked, 1, {1, -1},
            {Has(-1, 2, 0, -1)});
    OneTick("the root's checked row", "F x id=1\n", {Stored(-1, -1, 1, 1), Stored(1, -1, 1, 1)}, Unchecked, 1,
            {1, -1}, {Has(-1, 2, 1, -1)});
    OneTick("the root's mixed row is no mixed child", "F x id=1\n", {Stored(-1, -1, 2, 0)}, Checked, 1, {},
            {Has(-1, 1, 1, -1)});
    OneTick("ticking the root", "D A id=1\n  F a id=2\nD B id=3\n  F b id=4\n",
            {Stored(1, -1, 0, 0), Stored(2, 1, 0, 0), Stored(4, 3, 0, 0)}, Checked, -1, {-1},
            {Has(-1, 1, 1, -1), Has(1, 1, 0, -1), Has(2, 1, 0, 1), Has(4, 0, 0, 3)});
}

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
    for (sqlite3_stmt *Stmt = sqlite3_next_stmt(R.DB, nullptr); Stmt; Stmt = sqlite3_next_stmt(R.DB, Stmt))
        EXPECT_FALSE(sqlite3_stmt_busy(Stmt)) << sqlite3_sql(Stmt);
    DestroyCheckHelper();
    EXPECT_EQ(sqlite3_close(R.DB), SQLITE_OK); // fails with SQLITE_BUSY while a statement is alive
    R.DB = nullptr;
}

// A report whose ID_PARENT links form a cycle: 1 and 2 are each other's parent, 4 lies in 1; 3 is its
// own parent. Ticks on such reports are also in check_random_test.
