// The tick store where the random tick test does not reach: deep chains, refused writes.
#include "report/uExtraFunctions.h"
#include "tests/support/TickReport.h"

#include <gtest/gtest.h>

#include <functional>

using support::CheckRow;
using support::ReportBuilder;
using ticktest::StoredRow;
using ticktest::TickReport;

namespace {

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

} // namespace

TEST(TickPushDown, ADeepChainIsWalkedWithoutExhaustingTheStack)
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
    EXPECT_EQ(R.Row(Depth), (StoredRow{1, 1, Depth - 1}));
    TInt64List List;
    CollectAncestorIDs(R.DB, List, Depth);
    ASSERT_EQ(List.Count(), Depth);
    EXPECT_EQ(List.GetItem(int(Depth - 1)), 1);
    TInt64List Below; // the last 3000 folders of the chain (the walk checks each id against the list)
    CollectSubfolderIDs(R.DB, Below, Depth - 3001);
    EXPECT_EQ(Below.Count(), 3000);
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
        {Update, true, Set(Checked, 2)},
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
