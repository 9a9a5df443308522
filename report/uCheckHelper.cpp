#include "report/uCheckHelper.h"

#include "common/ssListTypes.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"

#include <sqlite3.h>

#include <exception>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr uint8_t csUnchecked = 0;
constexpr uint8_t csChecked = 2;
constexpr uint8_t csMixed = 4;
constexpr int64_t RootID = -1;

// A statement for Sql, or null when it cannot be prepared (Code then says why).
sqlite3_stmt *Prepared(sqlite3 *DB, const char *Sql, int *Code = nullptr)
{
    sqlite3_stmt *Stmt = nullptr;
    const int Result = sqlite3_prepare_v2(DB, Sql, -1, &Stmt, nullptr);
    if (Code)
        *Code = Result;
    if (Result != SQLITE_OK) {
        sqlite3_finalize(Stmt);
        Stmt = nullptr;
    }
    return Stmt;
}

} // namespace

// Binds the id as parameter 1 of a kept statement (prepared now when it is not yet) and resets the
// statement when the run ends, also on an exception, so that none stays busy between calls. A text
// that cannot be prepared leaves no statement: binds do nothing and stepping gives no row.
class TCheck_Helper::TRun
{
public:
    TRun(sqlite3 *DB, TQuery &Query, int64_t ID) : FDB(DB)
    {
        if (!Query.Stmt)
            Query.Stmt = Prepared(DB, Query.SQL, &FPrepareCode);
        FStmt = Query.Stmt;
        BindInt64(1, ID);
    }
    ~TRun()
    {
        if (FStmt)
            sqlite3_reset(FStmt);
    }
    TRun(const TRun &) = delete;
    TRun &operator=(const TRun &) = delete;

    sqlite3_stmt *Stmt() const { return FStmt; }
    void BindInt(int Index, int32_t Value)
    {
        if (FStmt)
            sqlite3_bind_int(FStmt, Index, Value);
    }
    void BindInt64(int Index, int64_t Value)
    {
        if (FStmt)
            sqlite3_bind_int64(FStmt, Index, Value);
    }
    bool Step() { return FStmt && sqlite3_step(FStmt) == SQLITE_ROW; }
    // Step for the writes and for the reads that decide a write: an error, the prepare's too, raises
    // ESQLite3, so that a write never fails unseen.
    bool StepOrRaise()
    {
        if (!FStmt)
            RaiseSqliteError(FPrepareCode, FDB);
        return ::StepOrRaise(FStmt, FDB);
    }

private:
    sqlite3 *const FDB;
    sqlite3_stmt *FStmt = nullptr;
    int FPrepareCode = SQLITE_OK;
};

TCheck_Helper::TCheck_Helper(sqlite3 *DB)
    : FDB(DB),
      FUncheckedChildSQL{
          "SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 0) LIMIT 1;"},
      FCheckedChildSQL{
          "SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 1) LIMIT 1;"},
      FFolderCheckedSQL{"SELECT checkForFolder FROM check_and_comment_map WHERE (fileID = ?) ;"},
      FChildWithoutRecordSQL{"SELECT id_file                                    "
                             "FROM struct_drive_table s                         "
                             "WHERE (s.ID_PARENT = ? )                            "
                             "AND NOT EXISTS (SELECT id_file                                    "
                             "FROM check_and_comment_map c                      "
                             "WHERE (c.fileID = s.ID_FILE) LIMIT 1) LIMIT 1;"},
      FMixedChildSQL{"SELECT fileID FROM check_and_comment_map WHERE (id_parent = ? AND checked = 2 AND "
                     "fileID <> -1) LIMIT 1;"},
      FCheckRecordSQL{"SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = ?);"},
      FUpdateSQL{"UPDATE check_and_comment_map SET checked = ? , checkForFolder = ? WHERE (fileID = ?);"},
      FInsertSQL{
          "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent )VALUES (?, ?, "
          "?, ?);"},
      FParentIDSQL{"SELECT ID_PARENT FROM struct_drive_table WHERE( ID_FILE = ?);"},
      FChildRowsSQL{"SELECT fileId FROM check_and_comment_map WHERE (id_parent = ?);"},
      FPushDownSQL{
          "UPDATE check_and_comment_map SET checked = ? , checkForFolder = ? WHERE (id_parent = ?); "},
      FHasItemsBelowSQL{"SELECT ID_FILE FROM struct_drive_table WHERE (ID_PARENT = ?) LIMIT 1;"},
      // The items without a row that rows hang on, each walked up its ancestors until it meets the id
      // (or the root); then the rows on those that did.
      FDetachedRowsSQL{
          "WITH RECURSIVE gap(id) AS (SELECT g.id FROM (SELECT DISTINCT id_parent AS id FROM "
          "check_and_comment_map) g WHERE g.id <> -1 AND NOT EXISTS (SELECT 1 FROM "
          "check_and_comment_map p WHERE p.fileID = g.id)), up(gap, id) AS (SELECT id, id FROM gap "
          "UNION SELECT up.gap, s.ID_PARENT FROM up JOIN struct_drive_table s ON s.ID_FILE = up.id "
          "WHERE up.id <> ?1) SELECT c.fileID FROM up JOIN check_and_comment_map c ON "
          "c.id_parent = up.gap WHERE up.id = ?1;"}
{
}

TCheck_Helper::~TCheck_Helper()
{
    for (TQuery *Query : {&FUncheckedChildSQL, &FCheckedChildSQL, &FFolderCheckedSQL, &FChildWithoutRecordSQL,
                          &FMixedChildSQL, &FCheckRecordSQL, &FUpdateSQL, &FInsertSQL, &FParentIDSQL,
                          &FChildRowsSQL, &FPushDownSQL, &FHasItemsBelowSQL, &FDetachedRowsSQL})
        sqlite3_finalize(Query->Stmt);
    for (const auto &[SQL, Stmt] : FKept)
        sqlite3_finalize(Stmt);
}

sqlite3_stmt *TCheck_Helper::KeptStatement(const char *SQL)
{
    for (const auto &[Text, Stmt] : FKept)
        if (Text == SQL)
            return Stmt;
    sqlite3_stmt *Stmt = Prepared(FDB, SQL);
    if (Stmt)
        FKept.emplace_back(SQL, Stmt);
    return Stmt;
}

TIdQuery::TIdQuery(sqlite3 *DB, const char *Sql, int64_t ID)
{
    if (CheckHelper && CheckHelper->DB() == DB) {
        FStmt = CheckHelper->KeptStatement(Sql);
    } else {
        FStmt = Prepared(DB, Sql);
        FOwned = true;
    }
    if (FStmt)
        sqlite3_bind_int64(FStmt, 1, ID);
}

TIdQuery::~TIdQuery()
{
    if (FOwned)
        sqlite3_finalize(FStmt);
    else if (FStmt)
        sqlite3_reset(FStmt);
}

bool TIdQuery::Step()
{
    return FStmt && sqlite3_step(FStmt) == SQLITE_ROW;
}

template <typename TRead> bool TCheck_Helper::QueryByID(TQuery &Query, int64_t ID, TRead Read, bool Raise)
{
    TRun Run(FDB, Query, ID);
    if (!(Raise ? Run.StepOrRaise() : Run.Step()))
        return false;
    Read(Run.Stmt());
    return true;
}

bool TCheck_Helper::HasRowFor(TQuery &Query, int64_t ID)
{
    return QueryByID(Query, ID, [](sqlite3_stmt *) {});
}

bool TCheck_Helper::GetCheckRecord(int64_t ID, uint8_t &State, uint8_t &FolderState)
{
    State = csUnchecked;
    FolderState = csUnchecked;
    return QueryByID(FCheckRecordSQL, ID, [&](sqlite3_stmt *Stmt) {
        State = DBToCheckState(sqlite3_column_int(Stmt, 0));
        FolderState = DBToCheckState(sqlite3_column_int(Stmt, 1));
    });
}

uint8_t TCheck_Helper::SetCheck(uint8_t State, int64_t ID, bool PushDown)
{
    // The row read here decides between update and insert, so a failed read must not pass as none.
    int32_t OldState = 0;
    int32_t StoredFolder = 0;
    const bool Exists = QueryByID(
        FCheckRecordSQL, ID,
        [&](sqlite3_stmt *Stmt) {
            OldState = sqlite3_column_int(Stmt, 0);
            StoredFolder = sqlite3_column_int(Stmt, 1);
        },
        true);
    const int32_t Stored = CheckStateToDB(State);
    if (Exists) {
        TRun Write(FDB, FUpdateSQL, ID);
        Write.BindInt(1, Stored); // parameter 1 of the update is the state, not the id
        Write.BindInt(2, State == csMixed ? StoredFolder : Stored);
        Write.BindInt64(3, ID);
        Write.StepOrRaise();
    } else {
        int64_t ParentID = RootID;
        QueryByID(
            FParentIDSQL, ID, [&](sqlite3_stmt *Stmt) { ParentID = sqlite3_column_int64(Stmt, 0); }, true);
        TRun Write(FDB, FInsertSQL, ID);
        Write.BindInt(2, Stored);
        Write.BindInt(3, State == csMixed ? 0 : Stored);
        Write.BindInt64(4, ParentID);
        Write.StepOrRaise();
    }
    if (PushDown && State != csMixed)
        SetCheckForChildren(State, ID);
    return DBToCheckState(OldState);
}

void TCheck_Helper::SetCheckForChildren(uint8_t State, int64_t ID)
{
    std::unordered_set<int64_t> Visited{ID};
    PushDown(CheckStateToDB(State), ID, Visited);
}

void TCheck_Helper::PushDown(int32_t Stored, int64_t Start, std::unordered_set<int64_t> &Visited)
{
    // Depth first, each item's rows updated before those below them. The walk keeps its own stack
    // (a deep report must not exhaust the thread's) and visits every id once (rows whose id_parent
    // links form a cycle must not loop); the root's row, its own child, is met as already visited.
    std::vector<int64_t> Pending{Start};
    std::vector<int64_t> Children;
    while (!Pending.empty()) {
        const int64_t Current = Pending.back();
        Pending.pop_back();
        // The child rows are read before they are updated (the update changes no fileID), so that
        // an item without child rows, most of them, costs one statement instead of two.
        Children.clear();
        bool HasRows = false;
        {
            TRun Run(FDB, FChildRowsSQL, Current);
            while (Run.StepOrRaise()) { // rows a failed read left out would keep their old state
                HasRows = true;
                const int64_t Child = sqlite3_column_int64(Run.Stmt(), 0);
                if (Child != Current && Visited.insert(Child).second)
                    Children.push_back(Child);
            }
        }
        if (HasRows) {
            TRun Update(FDB, FPushDownSQL, Current);
            // checkForFolder too: a folder row below keeps what its own row-less items inherit in step
            // with the state it shows.
            Update.BindInt(1, Stored);
            Update.BindInt(2, Stored);
            Update.BindInt64(3, Current);
            Update.StepOrRaise();
        }
        // Reversed, so that the first child row is the next one taken.
        Pending.insert(Pending.end(), Children.rbegin(), Children.rend());
    }
}

void TCheck_Helper::SetCheckForDetachedRows(uint8_t State, int64_t ID)
{
    const auto readNothing = [](sqlite3_stmt *) {};
    if (!QueryByID(FHasItemsBelowSQL, ID, readNothing, true))
        return; // a file: nothing can hang below it
    // Read whole before any of them is written.
    std::vector<int64_t> Detached;
    {
        TRun Run(FDB, FDetachedRowsSQL, ID);
        while (Run.StepOrRaise())
            Detached.push_back(sqlite3_column_int64(Run.Stmt(), 0));
    }
    const int32_t Stored = CheckStateToDB(State);
    std::unordered_set<int64_t> Visited{ID};
    for (int64_t Row : Detached) {
        if (!Visited.insert(Row).second)
            continue;
        TRun Write(FDB, FUpdateSQL, Row);
        Write.BindInt(1, Stored);
        Write.BindInt(2, Stored);
        Write.BindInt64(3, Row);
        Write.StepOrRaise();
        PushDown(Stored, Row, Visited);
    }
}

bool TCheck_Helper::HasUncheckedChild(int64_t ID)
{
    return HasRowFor(FUncheckedChildSQL, ID);
}

bool TCheck_Helper::HasCheckedChild(int64_t ID)
{
    return HasRowFor(FCheckedChildSQL, ID);
}

bool TCheck_Helper::HasMixedChild(int64_t ID)
{
    return HasRowFor(FMixedChildSQL, ID);
}

bool TCheck_Helper::HasChildWithoutRecord(int64_t ID)
{
    return HasRowFor(FChildWithoutRecordSQL, ID);
}

bool TCheck_Helper::IsFolderChecked(int64_t ID)
{
    int32_t Folder = 0;
    QueryByID(FFolderCheckedSQL, ID, [&](sqlite3_stmt *Stmt) { Folder = sqlite3_column_int(Stmt, 0); });
    return Folder == 1;
}

bool TCheck_Helper::TryGetParentID(int64_t ID, int64_t &ParentID)
{
    ParentID = RootID;
    return QueryByID(FParentIDSQL, ID, [&](sqlite3_stmt *Stmt) { ParentID = sqlite3_column_int64(Stmt, 0); });
}

int64_t TCheck_Helper::GetParentID(int64_t ID)
{
    int64_t ParentID;
    TryGetParentID(ID, ParentID);
    return ParentID;
}

bool TCheck_Helper::HasStoredRows()
{
    sqlite3_stmt *Stmt = KeptStatement("SELECT fileID FROM check_and_comment_map LIMIT 1;");
    const bool Has = Stmt && sqlite3_step(Stmt) == SQLITE_ROW;
    if (Stmt)
        sqlite3_reset(Stmt);
    return Has;
}

// ---- The store's routines ----

TCheck_Helper *CheckHelper = nullptr;

namespace {

TCheck_Helper &Helper(sqlite3 *DB)
{
    if (!CheckHelper)
        CheckHelper = new TCheck_Helper(DB);
    return *CheckHelper;
}

// P's state worked out from its children after one of them was stored with State. A child without a
// row counts as checked when P's checkForFolder is 1, as unchecked otherwise; P is checked when every
// child counts as checked, unchecked when every one counts as unchecked, mixed otherwise.
uint8_t ParentState(TCheck_Helper &H, uint8_t State, int64_t P)
{
    if (State == csMixed || H.HasMixedChild(P))
        return csMixed;
    const bool Checked = H.HasCheckedChild(P);
    const bool Unchecked = H.HasUncheckedChild(P);
    if (Checked && Unchecked)
        return csMixed;
    const bool Folder = H.IsFolderChecked(P);
    if (Checked && Folder)
        return csChecked;
    if (Checked)
        return H.HasChildWithoutRecord(P) ? csMixed : csChecked;
    if (Folder)
        return H.HasChildWithoutRecord(P) ? csMixed : csUnchecked;
    return csUnchecked;
}

// Appends ID and its ancestors up to the top-level item, stopping before -1 or an id already in Seen.
void CollectAncestors(sqlite3 *DB, TInt64List &List, int64_t ID, std::unordered_set<int64_t> &Seen)
{
    while (ID != RootID && Seen.insert(ID).second) {
        List.Add(ID);
        ID = GetParentID(DB, ID);
    }
}

// An item without a row gets rows, from below the nearest ancestor with one (or from the top-level
// item when none has one) down to itself, ticked as a whole as it counts: checked when that ancestor's
// checkForFolder is 1, unchecked otherwise. What every item counts as stays the same, and the new rows
// hang below the root through an unbroken chain of rows, so that a push-down from any ancestor reaches
// them; and working out its parents counts its row-less siblings as they count.
void StoreInheritedTick(sqlite3 *DB, TCheck_Helper &H, int64_t ID)
{
    std::vector<int64_t> Path;
    std::unordered_set<int64_t> Seen;
    uint8_t State = 0, Folder = 0;
    for (int64_t Current = ID; !H.GetCheckRecord(Current, State, Folder); Current = H.GetParentID(Current)) {
        if (!Seen.insert(Current).second)
            return;
        if (Current == RootID) {
            if (ID == RootID)
                Path.push_back(RootID);
            break;
        }
        Path.push_back(Current);
    }
    const std::string Stored = Folder == csChecked ? "1" : "0";
    for (auto It = Path.rbegin(); It != Path.rend(); ++It)
        ExecSqlScript(
            DB, "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent)VALUES (" +
                    std::to_string(*It) + ", " + Stored + ", " + Stored + ", " +
                    std::to_string(H.GetParentID(*It)) + ");");
}

} // namespace

bool IsChecked(sqlite3 *DB, int64_t ID, uint8_t &State, uint8_t &FolderState)
{
    try {
        return Helper(DB).GetCheckRecord(ID, State, FolderState);
    } catch (const std::exception &E) {
        WriteLog(std::string("==========IsChecked exception - ") + E.what());
    } catch (...) {
        WriteLog("==========IsChecked exception - ");
    }
    WriteLog("==========id = " + std::to_string(ID));
    return false;
}

bool IsCheckedInherited(sqlite3 *DB, int64_t ID, uint8_t &State, uint8_t &FolderState)
{
    // Up to the nearest item with a row, the root, or an id met before (a cycle).
    std::unordered_set<int64_t> Seen;
    for (int64_t Current = ID;;) {
        const bool HasRow = IsChecked(DB, Current, State, FolderState);
        if (Current == ID && (HasRow || Current == RootID))
            return HasRow;
        if (HasRow || Current == RootID)
            break;
        Seen.insert(Current);
        Current = GetParentID(DB, Current);
        if (Seen.count(Current))
            break; // the states are those of an item without a row: both unchecked
    }
    if (FolderState == csChecked) {
        State = csChecked;
        return true;
    }
    return false;
}

bool TInheritedTicks::Checked(int64_t ID, int64_t Parent)
{
    if (ID == RootID)
        return false; // the root inherits nothing
    // Every id entered stands for unchecked until the walk ends: met again on the same walk it is a
    // cycle of ids without rows, which gives unchecked, as IsCheckedInherited's walk does.
    const auto [Own, OwnIsNew] = FKnown.try_emplace(ID, false);
    if (!OwnIsNew)
        return Own->second;
    bool &OwnAnswer = Own->second; // the element stays where it is when the table grows
    std::vector<int64_t> Path;
    bool Answer = false;
    for (int64_t Current = Parent;;) {
        const auto [Known, IsNew] = FKnown.try_emplace(Current, false);
        if (!IsNew) {
            Answer = Known->second;
            break;
        }
        Path.push_back(Current);
        uint8_t State = 0;
        uint8_t FolderState = 0;
        if (IsChecked(FDB, Current, State, FolderState) || Current == RootID) {
            Answer = FolderState == csChecked;
            break;
        }
        Current = GetParentID(FDB, Current);
    }
    if (Answer) {
        OwnAnswer = true;
        for (int64_t Passed : Path)
            FKnown[Passed] = true;
    }
    return Answer;
}

void SetCheckRecursive(sqlite3 *DB, uint8_t State, TInt64List &List, int64_t ID)
{
    TCheck_Helper &H = Helper(DB);
    StoreInheritedTick(DB, H, ID);
    std::unordered_set<int64_t> Walked;
    for (bool Ticked = true;; Ticked = false) {
        // Only the ticked item's state goes down, also to the rows an earlier review left below items
        // without rows. An ancestor's is worked out from what its children count as: rows further
        // below that differ from it are ticks of their own.
        const uint8_t Old = H.SetCheck(State, ID, Ticked);
        if (Ticked && State != csMixed)
            H.SetCheckForDetachedRows(State, ID);
        if (ID == RootID) {
            List.Add(RootID);
            return;
        }
        if (State == Old) {
            CollectAncestors(DB, List, ID, Walked); // the rest of the path, each id once
            return;
        }
        List.Add(ID);
        Walked.insert(ID);
        int64_t P;
        if (!H.TryGetParentID(ID, P) || Walked.count(P))
            return; // no row in struct_drive_table, or the links lead round in a cycle
        // A row an earlier review left below items without rows: they get rows of what they count as
        // before the first of them is worked out from its children.
        StoreInheritedTick(DB, H, P);
        State = ParentState(H, State, P);
        ID = P;
    }
}

void SetChecked(sqlite3 *DB, uint8_t State, int64_t ID)
{
    const std::string Id = std::to_string(ID);
    TStatementCell Lookup;
    const std::string Select =
        "SELECT checked, checkForFolder FROM check_and_comment_map WHERE (fileID = " + Id + ");";
    CheckSqliteResult(sqlite3_prepare_v2(DB, Select.c_str(), -1, Lookup.Ptr(), nullptr), DB);
    const bool Exists = StepOrRaise(Lookup.Handle(), DB); // it decides between update and insert
    const int32_t StoredFolder = Exists ? sqlite3_column_int(Lookup.Handle(), 1) : 0;
    const int32_t Stored = CheckStateToDB(State);
    int32_t NewFolder = Stored;
    if (!Exists && State == csMixed) {
        // The folder's row-less items go on counting as they did through its nearest stored ancestor.
        uint8_t Inherited = 0, Folder = 0;
        NewFolder = IsCheckedInherited(DB, ID, Inherited, Folder) ? 1 : 0;
    }
    std::string Write;
    if (Exists)
        Write = "UPDATE check_and_comment_map SET checked = " + std::to_string(Stored) +
                " , checkForFolder = " + std::to_string(State == csMixed ? StoredFolder : Stored) +
                " WHERE (fileID = " + Id + ");";
    else
        Write = "INSERT INTO check_and_comment_map(fileID, checked, checkForFolder, id_parent)VALUES (" + Id +
                ", " + std::to_string(Stored) + ", " + std::to_string(NewFolder) + ", " +
                std::to_string(GetParentID(DB, ID)) + ");";
    // Not pushed down: the state was worked out from what the children count as, and rows further
    // below that differ from it are ticks of their own.
    ExecSqlScript(DB, Write);
}

void StoreInheritedRows(sqlite3 *DB, int64_t ID)
{
    StoreInheritedTick(DB, Helper(DB), ID);
}

void CollectAncestorIDs(sqlite3 *DB, TInt64List &List, int64_t ID)
{
    std::unordered_set<int64_t> Seen;
    CollectAncestors(DB, List, ID, Seen);
}

int64_t GetParentID(sqlite3 *DB, int64_t ID)
{
    return Helper(DB).GetParentID(ID);
}

bool HasStoredRows(sqlite3 *DB)
{
    return Helper(DB).HasStoredRows();
}

void DestroyCheckHelper()
{
    WriteLog("DestroyCheckHelper");
    delete CheckHelper;
    CheckHelper = nullptr;
}
