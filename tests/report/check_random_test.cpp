// Long random sequences of ticks on generated reports. After every tick the stored rows are checked
// against rules stated here from what a tick means, not from how the store works them out.
#include "report/uExtraFunctions.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/TickReport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using support::ReportBuilder;
using namespace ticktest;

namespace {

constexpr int64_t Root = -1;

struct GeneratedTree
{
    std::map<int64_t, int64_t> Parent;
    std::map<int64_t, bool> IsFolder;
    std::map<int64_t, std::vector<int64_t>> Children; // by parent id, -1 included
    std::vector<int64_t> Files;
    std::vector<int64_t> Items;

    void Add(int64_t ID, int64_t ParentID, bool Folder)
    {
        Parent[ID] = ParentID;
        IsFolder[ID] = Folder;
        Children[ParentID].push_back(ID);
        Items.push_back(ID);
        if (!Folder)
            Files.push_back(ID);
    }
    int64_t ParentOf(int64_t ID) const
    {
        const auto It = Parent.find(ID);
        return It == Parent.end() ? Root : It->second;
    }
    ReportBuilder Builder() const
    {
        ReportBuilder B;
        for (int64_t ID : Items)
            B.Row({ID, Parent.at(ID), IsFolder.at(ID) ? 1 : 0, 0, "n" + std::to_string(ID)});
        return B;
    }
};

// Count items with ids from Base; each one's parent is the root or an earlier folder, mostly a recent
// one, so that the tree is deep and bushy by turns.
GeneratedTree MakeTree(std::mt19937_64 &Rng, int Count, int64_t Base)
{
    GeneratedTree T;
    std::vector<int64_t> Folders{Root};
    for (int64_t ID = Base; ID < Base + Count; ++ID) {
        const size_t Window = std::min<size_t>(Folders.size(), 4);
        const int64_t Parent =
            Rng() % 3 == 0 ? Folders[Rng() % Folders.size()] : Folders[Folders.size() - 1 - Rng() % Window];
        T.Add(ID, Parent, Rng() % 3 == 0);
        if (T.IsFolder[ID])
            Folders.push_back(ID);
    }
    return T;
}

// The effective stored value of an item (0, 1 or 2): its own row's, else checked exactly when the
// nearest ancestor with a row (the root's row included) was ticked as a whole.
int Effective(const GeneratedTree &T, const Snapshot &S, int64_t ID)
{
    if (const auto Own = Find(S, ID))
        return Own->checked;
    while (ID != Root) {
        ID = T.ParentOf(ID);
        if (const auto Row = Find(S, ID))
            return Row->checkForFolder == 1 ? 1 : 0;
    }
    return 0;
}

// Before a tick, an item without a row gets rows ticked as a whole as it counts, from below the nearest
// ancestor with a row (from the top-level item when none has one) down to itself.
Snapshot WithInheritedRows(const GeneratedTree &T, Snapshot S, int64_t ID)
{
    if (ID == Root || S.count(ID))
        return S;
    const int Value = Effective(T, S, ID);
    for (; ID != Root && !S.count(ID); ID = T.ParentOf(ID))
        S[ID] = {Value, Value, T.ParentOf(ID)};
    return S;
}

// A folder is checked when every child counts as checked, unchecked when every one counts as
// unchecked, and mixed otherwise.
int Combine(const std::vector<int> &Values)
{
    bool Any0 = false, Any1 = false;
    for (int V : Values) {
        if (V == 2)
            return 2;
        (V == 1 ? Any1 : Any0) = true;
    }
    return Any0 && Any1 ? 2 : (Any1 ? 1 : 0);
}

// What a folder's row must say after its state was worked out from its children: its child rows
// (rows whose id_parent is the folder, also those of ids outside the report, which hang below the
// root) count with their own state, and each child without a row counts as it did before: checked
// when the folder had been ticked as a whole, or, without a row of its own, inherited so. The root counts its
// own row among its children, except when that row was mixed. Before holds the rows as they were before the
// tick, After as they are now.
int RuleFor(const GeneratedTree &T, const Snapshot &Before, const Snapshot &After, int64_t ID)
{
    const auto Was = Find(Before, ID);
    const int WithoutRow = Was ? (Was->checkForFolder == 1 ? 1 : 0) : Effective(T, Before, ID);
    std::vector<int> Values;
    for (const auto &[Row, Data] : After)
        if (Data.idParent == ID && Row != Root)
            Values.push_back(Data.checked);
    if (const auto It = T.Children.find(ID); It != T.Children.end())
        for (int64_t Child : It->second)
            if (!After.count(Child))
                Values.push_back(WithoutRow);
    if (ID == Root && Was && Was->checked != 2)
        Values.push_back(Was->checked);
    return Combine(Values);
}

// Every row that hangs below ID through an unbroken chain of rows.
std::set<int64_t> ChainBelow(const Snapshot &S, int64_t ID)
{
    std::multimap<int64_t, int64_t> ByParent;
    for (const auto &[Row, Data] : S)
        ByParent.emplace(Data.idParent, Row);
    std::set<int64_t> Seen;
    std::vector<int64_t> Pending{ID};
    while (!Pending.empty()) {
        const auto [From, To] = ByParent.equal_range(Pending.back());
        Pending.pop_back();
        for (auto It = From; It != To; ++It)
            if (It->second != ID && Seen.insert(It->second).second)
                Pending.push_back(It->second);
    }
    return Seen;
}

// Whether ID lies below Above in the report (every item lies below the root).
bool IsBelow(const GeneratedTree &T, int64_t ID, int64_t Above)
{
    for (size_t Up = 0; Up <= T.Items.size() && ID != Root; ++Up)
        if ((ID = T.ParentOf(ID)) == Above)
            return true;
    return Above == Root;
}

// What every item of the report counts as.
std::map<int64_t, int> Counts(const GeneratedTree &T, const Snapshot &S)
{
    std::map<int64_t, int> Result;
    for (int64_t ID : T.Items)
        Result[ID] = Effective(T, S, ID);
    return Result;
}

// The list holds ID first, then parents one by one, each id once.
void CheckListShape(const GeneratedTree &T, const std::vector<int64_t> &List, int64_t ID)
{
    ASSERT_FALSE(List.empty());
    ASSERT_EQ(List.front(), ID);
    ASSERT_EQ(std::set<int64_t>(List.begin(), List.end()).size(), List.size());
    for (size_t I = 1; I < List.size(); ++I)
        ASSERT_EQ(List[I], T.ParentOf(List[I - 1])) << "entry " << I;
}

// Checks that hold for every tick: the shape of the rows, the ticked item's own row, the push-down,
// the list, the ancestors worked out again (each agrees with its children afterwards) and no other
// row touched.
void CheckTick(const GeneratedTree &T, const Snapshot &Before, const Snapshot &After, uint8_t State,
               int64_t X, const std::vector<int64_t> &List)
{
    const int Stored = CheckStateToDB(State);
    const bool IsMixed = State == 4;
    for (const auto &[ID, Row] : Before)
        ASSERT_TRUE(After.count(ID)) << "row " << ID << " vanished";

    // The item's own row.
    const std::optional<StoredRow> Old = Find(Before, X);
    ASSERT_TRUE(After.count(X));
    EXPECT_EQ(After.at(X).checked, Stored);
    EXPECT_EQ(After.at(X).checkForFolder, IsMixed ? (Old ? Old->checkForFolder : 0) : Stored);

    // The push-down, to every row below the item, also where items between have no row.
    std::set<int64_t> MayChange{X};
    if (!IsMixed) {
        std::set<int64_t> Below;
        for (const auto &[ID, Row] : After)
            if (ID != X && IsBelow(T, ID, X))
                Below.insert(ID);
        for (int64_t ID : Below) {
            EXPECT_EQ(After.at(ID).checked, Stored) << "row " << ID << " below " << X;
            EXPECT_EQ(After.at(ID).checkForFolder, Stored) << "row " << ID << " below " << X;
            MayChange.insert(ID);
        }
    }

    // The list ends at the root, at a top-level item or at an id outside the report.
    CheckListShape(T, List, X);
    if (X == Root)
        EXPECT_EQ(List.size(), 1u);
    else
        EXPECT_TRUE(List.back() == Root || T.ParentOf(List.back()) == Root || !T.Parent.count(List.back()));

    // The ancestors worked out again: those whose state changed, then the first one that kept it (or
    // the root). The item itself keeping its state ends the walk at once.
    const auto TreeState = [](const std::optional<StoredRow> &Row) {
        return Row ? DBToCheckState(Row->checked) : 0;
    };
    if (TreeState(Old) != State) {
        for (size_t I = 1; I < List.size(); ++I) {
            const int64_t A = List[I];
            ASSERT_TRUE(After.count(A)) << "ancestor " << A << " not stored";
            EXPECT_EQ(After.at(A).checked, RuleFor(T, Before, After, A)) << "ancestor " << A << " of " << X;
            MayChange.insert(A);
            if (After.at(A).checked != 2)
                for (int64_t ID : ChainBelow(After, A))
                    MayChange.insert(ID);
            if (A == Root || DBToCheckState(After.at(A).checked) == TreeState(Find(Before, A)))
                break;
        }
    }

    // Every row is well formed; nothing else changed, and no other row was made.
    for (const auto &[ID, Row] : After) {
        ASSERT_EQ(Row.idParent, T.ParentOf(ID)) << "row " << ID;
        ASSERT_TRUE(Row.checked >= 0 && Row.checked <= 2 && Row.checkForFolder >= 0 &&
                    Row.checkForFolder <= 2)
            << "row " << ID;
        if (MayChange.count(ID))
            continue;
        if (!Before.count(ID) && IsBelow(T, X, ID)) {
            // An ancestor without a row below one left by an earlier review: made as it counted.
            const int Value = Effective(T, Before, ID);
            EXPECT_EQ(Row, (StoredRow{Value, Value, T.ParentOf(ID)}))
                << "row " << ID << " made by a tick of " << X;
        } else {
            EXPECT_EQ(Find(Before, ID), Row) << "row " << ID << " touched by a tick of " << X;
        }
    }
}

// IsCheckedInherited agrees with the definition of the effective state: an item with a row answers
// its own state, one without whether it counts as checked.
void CheckInherited(const TickReport &R, const GeneratedTree &T, const Snapshot &S, int64_t ID)
{
    uint8_t State = 9, Folder = 9;
    const bool Answer = IsCheckedInherited(R.DB, ID, State, Folder);
    const int Value = Effective(T, S, ID);
    EXPECT_EQ(Answer, S.count(ID) || Value == 1) << "item " << ID;
    if (Answer) {
        EXPECT_EQ(State, S.count(ID) ? DBToCheckState(Value) : 2) << "item " << ID;
    }
}

// TInheritedTicks answers as IsCheckedInherited for every item without a row, asked in a row.
void CheckInheritedTicks(const TickReport &R, const GeneratedTree &T)
{
    const Snapshot S = R.Rows();
    TInheritedTicks Ticks(R.DB);
    for (int64_t ID : T.Items) {
        uint8_t State, Folder;
        if (!S.count(ID)) {
            EXPECT_EQ(Ticks.Checked(ID, T.ParentOf(ID)), IsCheckedInherited(R.DB, ID, State, Folder)) << ID;
        }
    }
}

class TickRandom : public testing::TestWithParam<uint64_t>
{
};

} // namespace

TEST_P(TickRandom, TicksKeepTheStoreConsistent)
{
    std::mt19937_64 Rng(GetParam());
    const int64_t Base = GetParam() % 2 ? 1 : (int64_t(1) << 32) + 5;
    const GeneratedTree T = MakeTree(Rng, 60 + int(Rng() % 90), Base);
    TickReport R(T.Builder());
    SCOPED_TRACE("seed " + std::to_string(GetParam()));
    Snapshot Before = R.Rows();
    const auto Step = [&](uint8_t State, int64_t ID) {
        Before = WithInheritedRows(T, Before, ID);
        const std::vector<int64_t> List = R.Tick(State, ID);
        const Snapshot After = R.Rows();
        CheckTick(T, Before, After, State, ID, List);
        CheckInherited(R, T, After, T.Items[Rng() % T.Items.size()]);
        Before = After;
    };

    // Files only, checked or unchecked (pressed forms included).
    for (int I = 0; I < 500 && !HasFailure(); ++I)
        Step(uint8_t(Rng() % 4), T.Files[Rng() % T.Files.size()]);

    // Any item, the root and an id outside the report included, any state. Most picks fall on a few
    // items that change now and then (a folder, its parent and some items below it), so that ticks
    // meet the rows that earlier ticks left, while the folder's other items keep no row.
    std::vector<int64_t> Near;
    for (int I = 0; I < 1500 && !HasFailure(); ++I) {
        if (I % 40 == 0) {
            int64_t Focus = T.Items[Rng() % T.Items.size()];
            while (!T.IsFolder.at(Focus) && T.ParentOf(Focus) != Root)
                Focus = T.ParentOf(Focus);
            std::vector<int64_t> Below{Focus};
            for (size_t J = 0; J < Below.size(); ++J)
                if (const auto It = T.Children.find(Below[J]); It != T.Children.end())
                    Below.insert(Below.end(), It->second.begin(), It->second.end());
            Near = {Focus, T.ParentOf(Focus)};
            for (int J = 0; J < 3; ++J)
                Near.push_back(Below[Rng() % Below.size()]);
        }
        const int Pick = int(Rng() % 20);
        const int64_t ID = Pick == 0   ? Root
                           : Pick == 1 ? Base + 100000
                           : Pick < 6  ? T.Items[Rng() % T.Items.size()]
                                       : Near[Rng() % Near.size()];
        const uint8_t State = Rng() % 10 == 0 ? uint8_t(5) : uint8_t((Rng() % 3) * 2 + (Rng() % 6 == 0));
        SCOPED_TRACE("step " + std::to_string(I) + ": state " + std::to_string(State) + " on " +
                     std::to_string(ID));
        Step(State, ID);
        if (I % 100 == 0)
            CheckInheritedTicks(R, T);
    }
}

// A report that an earlier review left rows in (below folders without rows, unticks inside folders
// ticked whole, comments deep down) goes through ticks, comments and folder loads (a folder stored as
// its children count, as a load shows it). A tick makes the item and everything below it count as
// its state and may work out its ancestors again; nothing else changes what any item counts as.
TEST_P(TickRandom, RowsOfAnEarlierReviewAreKept)
{
    std::mt19937_64 Rng(GetParam() * 7919);
    const GeneratedTree T = MakeTree(Rng, 60 + int(Rng() % 90), 1);
    std::vector<std::tuple<int64_t, int64_t, bool>> Items;
    for (int64_t ID : T.Items)
        Items.emplace_back(ID, T.Parent.at(ID), T.IsFolder.at(ID));
    ReportBuilder B = T.Builder();
    for (const support::CheckRow &Row : EarlierReviewRows(Items, Rng))
        B.Check(Row);
    TickReport R(B);
    SCOPED_TRACE("seed " + std::to_string(GetParam()));
    std::vector<int64_t> Folders{Root};
    for (int64_t ID : T.Items)
        if (T.IsFolder.at(ID) && T.Children.count(ID))
            Folders.push_back(ID);
    Snapshot Before = R.Rows();
    for (int I = 0; I < 600 && !HasFailure(); ++I) {
        const std::map<int64_t, int> Was = Counts(T, Before);
        std::map<int64_t, int> Expected = Was;
        const int64_t ID = Rng() % 2 ? Folders[Rng() % Folders.size()] : T.Items[Rng() % T.Items.size()];
        const int Kind = int(Rng() % 3);
        const uint8_t State = uint8_t((Rng() % 3) * 2);
        SCOPED_TRACE("step " + std::to_string(I) + ": kind " + std::to_string(Kind) + ", state " +
                     std::to_string(State) + " on " + std::to_string(ID));
        if (Kind == 0) {
            Before = WithInheritedRows(T, Before, ID);
            const std::vector<int64_t> List = R.Tick(State, ID);
            const Snapshot After = R.Rows();
            CheckTick(T, Before, After, State, ID, List);
            for (int64_t Item : T.Items)
                if (Item == ID || (State != 4 && IsBelow(T, Item, ID)))
                    Expected[Item] = CheckStateToDB(State);
                else if (IsBelow(T, ID, Item)) // an ancestor, worked out by the rule CheckTick checks
                    Expected[Item] = Effective(T, After, Item);
        } else if (Kind == 1) {
            SetComment(R.DB, QStringLiteral("c"), ID);
            ASSERT_TRUE(R.Row(ID)) << "no row for the comment";
        } else if (const auto Children = T.Children.find(ID);
                   ID != Root && Children != T.Children.end() && T.IsFolder.at(ID)) {
            std::vector<int> Values;
            for (int64_t Child : Children->second)
                Values.push_back(Was.at(Child));
            if (const int Shown = Combine(Values); Shown != Was.at(ID)) {
                SetChecked(R.DB, DBToCheckState(Shown), ID);
                Expected[ID] = Shown;
            }
        }
        Before = R.Rows();
        const std::map<int64_t, int> Now = Counts(T, Before);
        for (int64_t Item : T.Items)
            ASSERT_EQ(Now.at(Item), Expected.at(Item)) << "item " << Item;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TickRandom, testing::Range<uint64_t>(1, 9));

// Reports whose ID_PARENT links run in cycles (an item may be its own parent): every routine ends, and
// the lists hold each id once, along parent links (ancestors and subfolders alike).
TEST(TickRandomCycles, EveryWalkEnds)
{
    ticktest::EndsWithin(120, [] {
        for (uint64_t Seed = 1; Seed <= 12 && !testing::Test::HasFailure(); ++Seed) {
            std::mt19937_64 Rng(Seed);
            GeneratedTree T;
            const int Count = 8 + int(Rng() % 20);
            for (int64_t ID = 1; ID <= Count; ++ID) {
                const int64_t Parent = Rng() % 8 == 0 ? Root : int64_t(1 + Rng() % Count);
                T.Add(ID, Parent, Rng() % 2 == 0);
            }
            TickReport R(T.Builder());
            SCOPED_TRACE("seed " + std::to_string(Seed));
            for (int Step = 0; Step < 150 && !testing::Test::HasFailure(); ++Step) {
                const int64_t ID = T.Items[Rng() % T.Items.size()];
                CheckListShape(T, R.Tick(uint8_t((Rng() % 3) * 2), ID), ID);
                uint8_t S, F;
                IsCheckedInherited(R.DB, T.Items[Rng() % T.Items.size()], S, F);
                CheckInheritedTicks(R, T);
                for (const bool Up : {true, false}) {
                    TInt64List Walked;
                    Up ? CollectAncestorIDs(R.DB, Walked, ID) : CollectSubfolderIDs(R.DB, Walked, ID);
                    const std::vector<int64_t> Path = reporttest::Items(Walked);
                    ASSERT_EQ(std::set<int64_t>(Path.begin(), Path.end()).size(), Path.size());
                }
            }
        }
    });
}
