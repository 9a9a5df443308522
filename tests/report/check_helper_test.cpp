// The tick store against small hand-made reports.
#include "report/uExtraFunctions.h"
#include "tests/report/TickReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using support::CheckRow;
using support::DriveRow;
using support::ReportBuilder;
using testing::ElementsAre;
using ticktest::StoredRow;
using ticktest::TickReport;

namespace {

constexpr uint8_t Unchecked = 0;
constexpr uint8_t Checked = 2;
constexpr uint8_t Mixed = 4;

// A stored row of the tick table.
CheckRow Stored(int64_t ID, int64_t Parent, int64_t CheckedValue, int64_t Folder)
{
    CheckRow Row;
    Row.fileID = ID;
    Row.idParent = Parent;
    Row.checked = CheckedValue;
    Row.checkForFolder = Folder;
    return Row;
}

DriveRow Item(int64_t ID, int64_t Parent, bool Folder)
{
    DriveRow Row;
    Row.id = ID;
    Row.parent = Parent;
    Row.isFolder = Folder ? 1 : 0;
    Row.name = "item" + std::to_string(ID);
    return Row;
}

struct InheritedAnswer
{
    bool Result;
    uint8_t State;
    uint8_t Folder;
    bool operator==(const InheritedAnswer &) const = default;
};

std::ostream &operator<<(std::ostream &Out, const InheritedAnswer &A)
{
    return Out << "{" << A.Result << ", state " << int(A.State) << ", folder " << int(A.Folder) << "}";
}

InheritedAnswer Inherited(const TickReport &R, int64_t ID)
{
    InheritedAnswer A{false, 99, 99};
    A.Result = IsCheckedInherited(R.DB, ID, A.State, A.Folder);
    return A;
}

} // namespace

TEST(TickConversions, TreeStatesAndStoredValues)
{
    const int32_t Stored[] = {0, 0, 1, 1, 2, 2, 0, 0};
    for (int State = 0; State < 8; ++State)
        EXPECT_EQ(CheckStateToDB(uint8_t(State)), Stored[State]) << State;
    EXPECT_EQ(DBToCheckState(0), 0);
    EXPECT_EQ(DBToCheckState(1), 2);
    EXPECT_EQ(DBToCheckState(2), 4);
    EXPECT_EQ(DBToCheckState(3), 0);
    EXPECT_EQ(DBToCheckState(-1), 0);
}

// Every statement the store runs is one of its own texts, blanks included.
TEST(TickStore, RunsItsOwnSqlTexts)
{
    TickReport R(ReportBuilder().Tree("D A id=10\n"
                                      "  F a1 id=11\n"
                                      "  F a2 id=12\n"
                                      "D B id=20\n"
                                      "  F b1 id=21\n"));
    std::set<std::string> Run;
    sqlite3_trace_v2(
        R.DB, SQLITE_TRACE_STMT,
        [](unsigned, void *Ctx, void *Stmt, void *) {
            static_cast<std::set<std::string> *>(Ctx)->insert(sqlite3_sql(static_cast<sqlite3_stmt *>(Stmt)));
            return 0;
        },
        &Run);
    R.Tick(Checked, 11); // inserts, works out A and the root
    R.Tick(Checked, 11); // updates, state unchanged
    uint8_t State, Folder;
    IsCheckedInherited(R.DB, 12, State, Folder);
    SetChecked(R.DB, Unchecked, 20);
    SetChecked(R.DB, Mixed, 10);
    SetChecked(R.DB, Checked, 10);
    sqlite3_trace_v2(R.DB, 0, nullptr, nullptr);

    const std::set<std::string> Expected = {
        "SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 0) LIMIT 1;",
        "SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 1) LIMIT 1;",
        "SELECT checkForFolder FROM check_and_comment_map WHERE (fileID = ?) ;",
        "SELECT id_file                                    FROM struct_drive_table s                         "
        "WHERE (s.ID_PARENT = ? )                            AND NOT EXISTS (SELECT id_file                  "
        "                  FROM check_and_comment_map c                      WHERE (c.fileID = s.ID_FILE) "
        "LIMIT 1) LIMIT 1;",
        "SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 2 AND fileID <> -1) "
        "LIMIT 1;",
        "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = ?);",
        "UPDATE check_and_comment_map SET checked = ? , checkForFolder = ? WHERE (fileID = ?);",
        "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent )VALUES (?, ?, ?, ?);",
        "SELECT ID_PARENT FROM struct_drive_table WHERE( ID_FILE = ?);",
        "SELECT fileId FROM check_and_comment_map WHERE (id_parent = ?);",
        // The push-down's text ends in a blank after the semicolon, which is no statement of its own.
        "UPDATE check_and_comment_map SET checked = 1 WHERE (id_parent = 11);",
        "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = 20);",
        "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent)VALUES (20, 0, 0, -1);",
        "UPDATE check_and_comment_map SET checked = 0 WHERE (id_parent = 20);",
        "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = 10);",
        "UPDATE check_and_comment_map SET checked = 2 , checkForFolder = 0 WHERE (fileID = 10);",
        "UPDATE check_and_comment_map SET checked = 1 , checkForFolder = 1 WHERE (fileID = 10);",
        "UPDATE check_and_comment_map SET checked = 1 WHERE (id_parent = 10);",
    };
    EXPECT_EQ(Run, Expected);
}

// ---- The parent's state, order by order ----
// P (id 1) is a top-level folder; x (2) is the child that is ticked; y (3) a child with a row; z (4) a
// child without one.

TEST(TickParentRule, Order1_AMixedChildMakesTheParentMixed)
{
    TickReport R(ReportBuilder().Tree("D P id=1\n  F x id=2\n  F y id=3\n").Check(Stored(3, 1, 1, 1)));
    EXPECT_THAT(R.Tick(Mixed, 2), ElementsAre(2, 1, -1));
    EXPECT_EQ(R.Row(2), (StoredRow{2, 0, 1})); // a new mixed row has checkForFolder 0
    EXPECT_EQ(R.Row(1), (StoredRow{2, 0, -1}));
    EXPECT_EQ(R.Row(-1), (StoredRow{2, 0, -1}));
    EXPECT_EQ(R.Row(3), (StoredRow{1, 1, 1})); // mixed is never pushed down
}

TEST(TickParentRule, Order2_AStoredMixedChildWinsOverAllChecked)
{
    TickReport R(ReportBuilder().Tree("D P id=1\n  F x id=2\n  F y id=3\n").Check(Stored(3, 1, 2, 0)));
    R.Tick(Checked, 2);
    EXPECT_EQ(R.Row(1), (StoredRow{2, 0, -1}));
}

TEST(TickParentRule, Order3_CheckedAndUncheckedChildrenComeBeforeTheFolderTick)
{
    // P ticked as a whole would answer checked by order 4; an unchecked child row makes it mixed first.
    TickReport R(ReportBuilder()
                     .Tree("D P id=1\n  F x id=2\n  F y id=3\n")
                     .Check(Stored(1, -1, 1, 1))
                     .Check(Stored(3, 1, 0, 0)));
    R.Tick(Checked, 2);
    EXPECT_EQ(R.Row(1), (StoredRow{2, 1, -1})); // mixed keeps checkForFolder
}

TEST(TickParentRule, Order4_AFolderTickedAsAWholeCountsChildrenWithoutRowsAsChecked)
{
    TickReport R(ReportBuilder()
                     .Tree("D P id=1\n  F x id=2\n  F z id=4\n")
                     .Check(Stored(1, -1, 2, 1))
                     .Check(Stored(2, 1, 0, 0)));
    R.Tick(Checked, 2);
    EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1}));
    EXPECT_FALSE(R.Row(4).has_value());
}

TEST(TickParentRule, Order5_WithoutTheFolderTickAChildWithoutRowCountsAsUnchecked)
{
    {
        TickReport R(ReportBuilder().Tree("D P id=1\n  F x id=2\n  F z id=4\n"));
        EXPECT_THAT(R.Tick(Checked, 2), ElementsAre(2, 1, -1));
        EXPECT_EQ(R.Row(2), (StoredRow{1, 1, 1}));
        EXPECT_EQ(R.Row(1), (StoredRow{2, 0, -1}));
    }
    {
        TickReport R(ReportBuilder().Tree("D P id=1\n  F x id=2\n"));
        R.Tick(Checked, 2);
        EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1}));
    }
}

TEST(TickParentRule, Order6_NoCheckedRowUnderAFolderTickedAsAWhole)
{
    {
        TickReport R(ReportBuilder()
                         .Tree("D P id=1\n  F x id=2\n  F z id=4\n")
                         .Check(Stored(1, -1, 1, 1))
                         .Check(Stored(2, 1, 1, 1)));
        R.Tick(Unchecked, 2);
        EXPECT_EQ(R.Row(1), (StoredRow{2, 1, -1})); // z still counts as checked
    }
    {
        TickReport R(ReportBuilder()
                         .Tree("D P id=1\n  F x id=2\n")
                         .Check(Stored(1, -1, 1, 1))
                         .Check(Stored(2, 1, 1, 1)));
        R.Tick(Unchecked, 2);
        EXPECT_EQ(R.Row(1), (StoredRow{0, 0, -1}));
    }
}

TEST(TickParentRule, Order7_NoCheckedRowAndNoFolderTick)
{
    TickReport R(ReportBuilder()
                     .Tree("D P id=1\n  F x id=2\n  F z id=4\n")
                     .Check(Stored(1, -1, 2, 0))
                     .Check(Stored(2, 1, 1, 1)));
    R.Tick(Unchecked, 2);
    EXPECT_EQ(R.Row(1), (StoredRow{0, 0, -1}));
}

TEST(TickParentRule, AParentWorkedOutCheckedIsPushedDownLikeAUserTick)
{
    // B becomes checked by the rule, so its state reaches the rows below its other child.
    TickReport R(ReportBuilder()
                     .Tree("D B id=1\n  F x id=2\n  D C id=3\n    F c id=4\n")
                     .Check(Stored(3, 1, 1, 0))
                     .Check(Stored(4, 3, 0, 0)));
    R.Tick(Checked, 2);
    EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1}));
    EXPECT_EQ(R.Row(4), (StoredRow{1, 0, 3}));
}

// ---- Inheritance through checkForFolder ----

class TickInheritance : public testing::Test
{
protected:
    TickReport R{ReportBuilder().Tree("D A id=1\n"
                                      "  D B id=2\n"
                                      "    F f id=3\n"
                                      "    F g id=4\n"
                                      "  F h id=5\n"
                                      "F top id=6\n")};
};

TEST_F(TickInheritance, NoStoredAncestorAnswersFalseWithBothUnchecked)
{
    EXPECT_EQ(Inherited(R, 3), (InheritedAnswer{false, 0, 0}));
    EXPECT_EQ(Inherited(R, -1), (InheritedAnswer{false, 0, 0}));
}

TEST_F(TickInheritance, AFolderTickedAsAWholeChecksEverythingBelowWithoutRows)
{
    R.Tick(Checked, 1);
    EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1}));
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{true, Checked, Checked}));
    EXPECT_EQ(Inherited(R, 2), (InheritedAnswer{true, Checked, Checked}));
    EXPECT_EQ(Inherited(R, 6),
              (InheritedAnswer{false, Mixed, 0})); // the root's row: mixed, not a folder tick
}

TEST_F(TickInheritance, AnItemWithARowAnswersWithItsOwnStates)
{
    R.Tick(Checked, 3);
    EXPECT_EQ(Inherited(R, 2), (InheritedAnswer{true, Mixed, 0}));
    EXPECT_EQ(Inherited(R, 3), (InheritedAnswer{true, Checked, Checked}));
}

TEST_F(TickInheritance, UntickingAnItemWithoutRowRecomputesNoAncestor)
{
    R.Tick(Checked, 1);
    EXPECT_THAT(R.Tick(Unchecked, 3), ElementsAre(3, 2, 1));
    EXPECT_EQ(R.Row(3), (StoredRow{0, 0, 2}));
    EXPECT_FALSE(R.Row(2).has_value());
    EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1})); // stays checked
    EXPECT_EQ(Inherited(R, 3), (InheritedAnswer{true, Unchecked, Unchecked}));
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{true, Checked, Checked}));
}

TEST_F(TickInheritance, AFolderTickedAsAWholeWithOneFileUntickedIsMixedAndStillInherits)
{
    R.Tick(Checked, 3);
    R.Tick(Checked, 2);
    EXPECT_EQ(R.Row(2), (StoredRow{1, 1, 1}));
    R.Tick(Unchecked, 3);
    EXPECT_EQ(R.Row(2), (StoredRow{2, 1, 1}));
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{true, Checked, Checked}));
}

TEST_F(TickInheritance, ANearestRowWithoutFolderTickAnswersFalseWhateverItsState)
{
    R.Tick(Checked, 3); // B mixed with checkForFolder 0
    R.Tick(Checked, 1); // pushed down: B checked, checkForFolder still 0
    EXPECT_EQ(R.Row(2), (StoredRow{1, 0, 1}));
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{false, Checked, Unchecked}));
}

TEST_F(TickInheritance, AFolderTickPushedDownUncheckedStillInherits)
{
    R.Tick(Checked, 2);
    R.Tick(Unchecked, 1);
    EXPECT_EQ(R.Row(2), (StoredRow{0, 1, 1}));
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{true, Checked, Checked}));
}

TEST_F(TickInheritance, TheRootsRowIsAnAncestorToo)
{
    R.Tick(Checked, -1);
    EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{true, Checked, Checked}));
    EXPECT_EQ(Inherited(R, 6), (InheritedAnswer{true, Checked, Checked}));
}

// ---- Push-down ----

TEST(TickPushDown, ReachesRowsThroughUnbrokenChainsOnly)
{
    // c's parent B has no row, so c keeps its state; D, E and e hang below A through rows.
    TickReport R(ReportBuilder()
                     .Tree("D A id=1\n"
                           "  D B id=2\n"
                           "    F c id=3\n"
                           "  D D id=4\n"
                           "    D E id=5\n"
                           "      F e id=6\n")
                     .Check(Stored(3, 2, 1, 1))
                     .Check(Stored(4, 1, 0, 0))
                     .Check(Stored(5, 4, 0, 0))
                     .Check(Stored(6, 5, 0, 0)));
    R.Tick(Checked, 1);
    EXPECT_EQ(R.Row(4), (StoredRow{1, 0, 1})); // checkForFolder untouched
    EXPECT_EQ(R.Row(5), (StoredRow{1, 0, 4}));
    EXPECT_EQ(R.Row(6), (StoredRow{1, 0, 5}));
    R.Tick(Unchecked, 1);
    EXPECT_EQ(R.Row(6), (StoredRow{0, 0, 5}));
    EXPECT_EQ(R.Row(3), (StoredRow{1, 1, 2}));
    std::set<int64_t> IDs;
    for (const auto &[ID, Row] : R.Rows())
        IDs.insert(ID);
    EXPECT_EQ(IDs, (std::set<int64_t>{-1, 1, 3, 4, 5, 6})); // no row made for B
}

TEST(TickPushDown, ADeepChainOfRowsIsWalkedWithoutExhaustingTheStack)
{
    const int64_t Depth = 100000;
    ReportBuilder B;
    for (int64_t I = 1; I <= Depth; ++I) {
        B.Row(Item(I, I - 1 == 0 ? -1 : I - 1, I < Depth));
        B.Check(Stored(I, I - 1 == 0 ? -1 : I - 1, 0, 0));
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

// ---- The root ----

TEST(TickRoot, TickingTheRootStoresItsOwnRowAndPushesDown)
{
    TickReport R(ReportBuilder()
                     .Tree("D A id=1\n  F a id=2\nD B id=3\n  F b id=4\n")
                     .Check(Stored(1, -1, 0, 0))
                     .Check(Stored(2, 1, 0, 0))
                     .Check(Stored(4, 3, 0, 0)));
    EXPECT_THAT(R.Tick(Checked, -1), ElementsAre(-1));
    EXPECT_EQ(R.Row(-1), (StoredRow{1, 1, -1}));
    EXPECT_EQ(R.Row(1), (StoredRow{1, 0, -1}));
    EXPECT_EQ(R.Row(2), (StoredRow{1, 0, 1}));
    EXPECT_EQ(R.Row(4), (StoredRow{0, 0, 3}));
}

TEST(TickRoot, TheRootsUncheckedRowMakesItMixedWhenItsOnlyChildIsTicked)
{
    TickReport R(ReportBuilder().Tree("F x id=1\n").Check(Stored(-1, -1, 0, 0)));
    EXPECT_THAT(R.Tick(Checked, 1), ElementsAre(1, -1));
    EXPECT_EQ(R.Row(-1), (StoredRow{2, 0, -1}));
}

TEST(TickRoot, TheRootsCheckedRowMakesItMixedWhenItsOnlyChildIsUnticked)
{
    TickReport R(ReportBuilder().Tree("F x id=1\n").Check(Stored(-1, -1, 1, 1)).Check(Stored(1, -1, 1, 1)));
    EXPECT_THAT(R.Tick(Unchecked, 1), ElementsAre(1, -1));
    EXPECT_EQ(R.Row(-1), (StoredRow{2, 1, -1}));
}

TEST(TickRoot, TheRootsMixedRowIsNoMixedChild)
{
    TickReport R(ReportBuilder().Tree("F x id=1\n").Check(Stored(-1, -1, 2, 0)));
    R.Tick(Checked, 1);
    EXPECT_EQ(R.Row(-1), (StoredRow{1, 1, -1}));
}

// ---- The list of touched ids ----

class TickList : public testing::Test
{
protected:
    TickReport R{ReportBuilder().Tree("D A id=1\n"
                                      "  D B id=2\n"
                                      "    F f id=3\n"
                                      "    F g id=4\n"
                                      "  F h id=5\n"
                                      "D Z id=9\n")};
};

TEST_F(TickList, TheItemThenEveryChangedAncestorThenTheRoot)
{
    EXPECT_THAT(R.Tick(Checked, 3), ElementsAre(3, 2, 1, -1));
}

TEST_F(TickList, AWalkThatReachesTheRootEndsWithItAlsoWhenItsStateStays)
{
    R.Tick(Checked, 3);
    EXPECT_EQ(R.Row(-1), (StoredRow{2, 0, -1}));
    EXPECT_THAT(R.Tick(Checked, 9), ElementsAre(9, -1));
    EXPECT_EQ(R.Row(-1), (StoredRow{2, 0, -1}));
}

TEST_F(TickList, AnAncestorThatKeepsItsStateEndsTheWalkWithTheRestOfThePath)
{
    R.Tick(Checked, 3);
    // B turns checked; A stays mixed (h has no row), so only the path above it is collected.
    EXPECT_THAT(R.Tick(Checked, 4), ElementsAre(4, 2, 1));
    EXPECT_EQ(R.Row(2), (StoredRow{1, 1, 1}));
}

TEST_F(TickList, AnUnchangedItemListsItselfAndItsAncestorsWithoutTheRoot)
{
    EXPECT_THAT(R.Tick(Unchecked, 4), ElementsAre(4, 2, 1));
    EXPECT_THAT(R.Tick(Unchecked, 9), ElementsAre(9));
}

TEST_F(TickList, CollectAncestorIDsStopsBelowTheRoot)
{
    TInt64List List;
    CollectAncestorIDs(R.DB, List, 3);
    CollectAncestorIDs(R.DB, List, -1);
    CollectAncestorIDs(R.DB, List, 777); // no row in the report: itself only
    EXPECT_THAT(TickReport::Items(List), ElementsAre(3, 2, 1, 777));
    EXPECT_EQ(GetParentID(R.DB, 777), -1);
    EXPECT_EQ(GetParentID(R.DB, 3), 2);
}

TEST_F(TickList, AnItemWithoutReportRowEndsTheWalkAfterItself)
{
    EXPECT_THAT(R.Tick(Checked, 777), ElementsAre(777));
    EXPECT_EQ(R.Row(777), (StoredRow{1, 1, -1}));
    EXPECT_FALSE(R.Row(-1).has_value());
}

// ---- Ids beyond 32 bits ----

TEST(TickWideIDs, AreStoredAndWalkedWhole)
{
    const int64_t A = 2147483648LL, F = 3000000001LL, G = 8589934593LL;
    TickReport R(ReportBuilder().Tree("D A id=2147483648\n  F f id=3000000001\n  F g id=8589934593\n"));
    EXPECT_THAT(R.Tick(Checked, G), ElementsAre(G, A, -1));
    EXPECT_EQ(R.Row(G), (StoredRow{1, 1, A}));
    EXPECT_EQ(R.Row(A), (StoredRow{2, 0, -1}));
    EXPECT_EQ(GetParentID(R.DB, F), A);
    SetChecked(R.DB, Unchecked, A); // formatted texts carry the full value
    EXPECT_EQ(R.Row(A), (StoredRow{0, 0, -1}));
    EXPECT_EQ(R.Row(G), (StoredRow{0, 1, A}));
    R.Tick(Checked, A);
    EXPECT_EQ(R.Row(G), (StoredRow{1, 1, A}));
    EXPECT_EQ(Inherited(R, F), (InheritedAnswer{true, Checked, Checked}));
    TInt64List List;
    CollectAncestorIDs(R.DB, List, F);
    EXPECT_THAT(TickReport::Items(List), ElementsAre(F, A));
}

// ---- SetChecked ----

// SetChecked stores exactly what TCheck_Helper::SetCheck stores, and nothing above the item.
TEST(TickSetChecked, StoresWhatSetCheckStores)
{
    const ReportBuilder Builder = ReportBuilder()
                                      .Tree("D A id=1\n  D B id=2\n    F f id=3\n  D C id=4\nF top id=5\n")
                                      .Check(Stored(2, 1, 2, 1))
                                      .Check(Stored(3, 2, 0, 0))
                                      .Check(Stored(4, 1, 1, 0));
    for (uint8_t State : {Unchecked, uint8_t(1), Checked, uint8_t(3), Mixed, uint8_t(5)}) {
        for (int64_t ID : {1, 2, 4, 5}) {
            std::map<int64_t, StoredRow> ByHelper;
            {
                TickReport R(Builder);
                GetParentID(R.DB, ID); // creates CheckHelper on this connection
                CheckHelper->SetCheck(State, ID);
                ByHelper = R.Rows();
            }
            TickReport R(Builder);
            SetChecked(R.DB, State, ID);
            EXPECT_EQ(R.Rows(), ByHelper) << "state " << int(State) << " id " << ID;
        }
    }
}

TEST(TickSetChecked, WorksBeforeAnyOtherRoutineOfTheStore)
{
    // An existing row and a non-mixed state: the push-down needs the store object.
    TickReport R(
        ReportBuilder().Tree("D A id=1\n  F f id=2\n").Check(Stored(1, -1, 2, 0)).Check(Stored(2, 1, 0, 0)));
    ASSERT_EQ(CheckHelper, nullptr);
    SetChecked(R.DB, Checked, 1);
    EXPECT_EQ(R.Row(1), (StoredRow{1, 1, -1}));
    EXPECT_EQ(R.Row(2), (StoredRow{1, 0, 1}));
}

// ---- Life cycle and failures ----

TEST(TickLifeCycle, DestroyCheckHelperLogsAndTheNextQueryMakesANewObject)
{
    TickReport R(ReportBuilder().Tree("F x id=1\n"));
    DestroyCheckHelper();
    EXPECT_EQ(CheckHelper, nullptr);
    uint8_t State, Folder;
    EXPECT_FALSE(IsChecked(R.DB, 1, State, Folder));
    ASSERT_NE(CheckHelper, nullptr);
    EXPECT_EQ(CheckHelper->DB(), R.DB);
    DestroyCheckHelper();
    EXPECT_EQ(R.LogText().find("AddId_parAndCheckIndex\r\nDestroyCheckHelper\r\nDestroyCheckHelper\r\n") !=
                  std::string::npos,
              true)
        << R.LogText();
}

TEST(TickLifeCycle, NoStatementStaysBusyAndDestroyingFinalizesThemAll)
{
    support::TempDir Dir;
    const std::string Path =
        ReportBuilder().Tree("D A id=1\n  F f id=2\n  F g id=3\n").WithCheckTable().Write(Dir.File("r.db"));
    sqlite3 *DB = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &DB), SQLITE_OK);
    TInt64List List;
    SetCheckRecursive(DB, Checked, List, 2);
    uint8_t State, Folder;
    IsCheckedInherited(DB, 3, State, Folder);
    for (sqlite3_stmt *Stmt = sqlite3_next_stmt(DB, nullptr); Stmt; Stmt = sqlite3_next_stmt(DB, Stmt))
        EXPECT_FALSE(sqlite3_stmt_busy(Stmt)) << sqlite3_sql(Stmt);
    SetLogFolder(Dir.Path() + "/");
    CreateLogFile();
    DestroyCheckHelper();
    SetLogFolder("");
    EXPECT_EQ(sqlite3_close(DB), SQLITE_OK); // fails with SQLITE_BUSY while a statement is alive
}

TEST(TickFailures, WithoutTheTickTableQueriesFindNothingAndThePushDownRaises)
{
    support::TempDir Dir;
    const std::string Path = ReportBuilder().Tree("D A id=1\n  F f id=2\n").Write(Dir.File("r.db"));
    sqlite3 *DB = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &DB), SQLITE_OK);
    uint8_t State = 9, Folder = 9;
    EXPECT_FALSE(IsChecked(DB, 2, State, Folder));
    EXPECT_EQ(State, 0);
    EXPECT_EQ(Folder, 0);
    EXPECT_FALSE(CheckHelper->HasCheckedChild(1));
    EXPECT_FALSE(CheckHelper->IsFolderChecked(1));
    EXPECT_EQ(GetParentID(DB, 2), 1);
    TInt64List List;
    try {
        SetCheckRecursive(DB, Checked, List, 2);
        ADD_FAILURE() << "no exception";
    } catch (const ESQLite3 &E) {
        EXPECT_EQ(E.ErrorCode, SQLITE_ERROR);
        EXPECT_NE(std::string(E.what()).find("no such table: check_and_comment_map"), std::string::npos)
            << E.what();
    }
    EXPECT_EQ(List.Count(), 0);
    // Once the table exists the same store object works: failed texts are prepared again.
    ExecSqlScript(DB, CheckAndCommentMapTableSql);
    SetCheckRecursive(DB, Checked, List, 2);
    EXPECT_THAT(TickReport::Items(List), ElementsAre(2, 1, -1));
    EXPECT_TRUE(IsChecked(DB, 1, State, Folder));
    EXPECT_EQ(State, Checked);
    SetLogFolder(Dir.Path() + "/");
    CreateLogFile();
    DestroyCheckHelper();
    SetLogFolder("");
    EXPECT_EQ(sqlite3_close(DB), SQLITE_OK);
}

// ---- Reports whose ID_PARENT links form a cycle ----

class TickCycle : public testing::Test
{
protected:
    // 1 and 2 are each other's parent, 4 lies in 1; 3 is its own parent.
    TickReport R{ReportBuilder()
                     .Row(Item(1, 2, true))
                     .Row(Item(2, 1, true))
                     .Row(Item(3, 3, true))
                     .Row(Item(4, 1, false))};
};

TEST_F(TickCycle, WalksUpwardsEnd)
{
    ticktest::EndsWithin(60, [&] {
        TInt64List List;
        CollectAncestorIDs(R.DB, List, 4);
        EXPECT_THAT(TickReport::Items(List), ElementsAre(4, 1, 2));
        EXPECT_EQ(Inherited(R, 4), (InheritedAnswer{false, 0, 0}));
        EXPECT_EQ(Inherited(R, 3), (InheritedAnswer{false, 0, 0}));
    });
}

TEST_F(TickCycle, TicksEndAndListEachIdOnce)
{
    ticktest::EndsWithin(60, [&] {
        for (uint8_t State : {Checked, Unchecked, Mixed, Checked}) {
            for (int64_t ID : {4, 3, 2}) {
                const std::vector<int64_t> List = R.Tick(State, ID);
                ASSERT_FALSE(List.empty());
                EXPECT_EQ(List.front(), ID);
                EXPECT_EQ(std::set<int64_t>(List.begin(), List.end()).size(), List.size());
            }
        }
        EXPECT_EQ(Inherited(R, 4).Result, true);
    });
}

TEST_F(TickCycle, ThePushDownEndsOnRowsThatFormACycle)
{
    ExecSqlScript(R.DB,
                  "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent) VALUES "
                  "(1, 0, 0, 2), (2, 0, 0, 1), (4, 0, 0, 1), (3, 0, 0, 3);");
    ticktest::EndsWithin(60, [&] {
        GetParentID(R.DB, 1);
        CheckHelper->SetCheckForChildren(Checked, 1);
        CheckHelper->SetCheckForChildren(Checked, 3);
    });
    EXPECT_EQ(R.Row(1), (StoredRow{1, 0, 2}));
    EXPECT_EQ(R.Row(2), (StoredRow{1, 0, 1}));
    EXPECT_EQ(R.Row(4), (StoredRow{1, 0, 1}));
    EXPECT_EQ(R.Row(3), (StoredRow{1, 0, 3}));
}
