#pragma once
// The tick store: the three-state ticks of report items, kept in check_and_comment_map.
//
// A state ticked on an item is pushed down to every stored row below it and carried up: each
// ancestor's state is worked out again from what its children count as until one does not change.
// Items without a row inherit from the nearest ancestor with one through its checkForFolder, so
// ticking a folder writes one row however many items lie below it. A tick on an item without a row
// first gives the items between it and the nearest stored ancestor rows of what they count as. A
// report reviewed before may hold rows below items without rows: they keep what they count as until
// a tick of an item above them.
//
// Tree states (bytes): 0 unchecked, 2 checked, 4 mixed; 1, 3, 5 their pressed forms. "Mixed" in every
// decision here means exactly 4. Ids are 64-bit; the report's root is -1.
//
// A report whose ID_PARENT links form a cycle is walked as far as the first id met twice: the walks
// upwards and the push-down never visit an id twice within one call.
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class TInt64List;
class TIdQuery;

// Runs the store's queries on one connection. Its statements are prepared on first use and kept
// (reset after every use, so none is busy between calls); the destructor finalizes them. So destroy
// it before closing its connection with sqlite3_close, or close with sqlite3_close_v2, which waits
// for them. A test that cannot be prepared or run gives no row; the writes, and the reads that decide
// them, raise ESQLite3 instead.
class TCheck_Helper
{
public:
    explicit TCheck_Helper(sqlite3 *DB);
    ~TCheck_Helper();
    TCheck_Helper(const TCheck_Helper &) = delete;
    TCheck_Helper &operator=(const TCheck_Helper &) = delete;

    sqlite3 *DB() const { return FDB; }

    // The item's own row: True when there is one, with its checked and checkForFolder as tree states;
    // both 0 when there is none.
    bool GetCheckRecord(int64_t ID, uint8_t &State, uint8_t &FolderState);
    // Stores State on the item (updates its row or inserts one with its id_parent) and, unless State
    // is mixed or PushDown is false, pushes it down. checkForFolder takes State's stored value, except
    // that mixed keeps the stored one (0 on a new row). Does not touch the ancestors. Returns the
    // item's own state before (unchecked without a row). Raises ESQLite3 when the write, or a read it
    // rests on, fails.
    uint8_t SetCheck(uint8_t State, int64_t ID, bool PushDown = true);
    // Sets checked and checkForFolder := State's stored value on every row below ID through an unbroken
    // chain of rows, so that the items below them without rows count as they show; no row is created. Raises
    // ESQLite3 when an update or a read of the child rows fails.
    void SetCheckForChildren(uint8_t State, int64_t ID);
    // The same for the rows below ID that hang below an item without a row (a report reviewed before
    // may hold them), and the rows below those. Reads check_and_comment_map and the ancestors of such
    // rows only, never the items below ID; nothing at all when ID has no item below it.
    void SetCheckForDetachedRows(uint8_t State, int64_t ID);

    // Tests on ID's child rows (rows whose id_parent is ID); the mixed test leaves out the root's row.
    bool HasUncheckedChild(int64_t ID);
    bool HasCheckedChild(int64_t ID);
    bool HasMixedChild(int64_t ID);
    // Some item of struct_drive_table under ID has no row of its own.
    bool HasChildWithoutRecord(int64_t ID);
    // The item has a row whose checkForFolder is 1.
    bool IsFolderChecked(int64_t ID);

    // The item's ID_PARENT: True when it has a row in struct_drive_table; ParentID -1 otherwise.
    bool TryGetParentID(int64_t ID, int64_t &ParentID);
    // The item's ID_PARENT, -1 when it has no row in struct_drive_table.
    int64_t GetParentID(int64_t ID);

    // check_and_comment_map holds a row at all.
    bool HasStoredRows();

private:
    friend class TIdQuery;

    // One SQL text and the statement kept for it.
    struct TQuery
    {
        const char *SQL;
        sqlite3_stmt *Stmt = nullptr;
    };
    class TRun;

    // The statement kept for SQL, a text that lives as long as the program (found by its address);
    // prepared on first use, null when that fails (tried again next time).
    sqlite3_stmt *KeptStatement(const char *SQL);

    // Runs a single-id query and tells whether it gave a row; Read sees the row. With Raise, a failed
    // prepare or step raises ESQLite3 instead of reading as no row.
    template <typename TRead> bool QueryByID(TQuery &Query, int64_t ID, TRead Read, bool Raise = false);
    bool HasRowFor(TQuery &Query, int64_t ID);

    // SetCheckForChildren's walk from Start, over the rows not yet in Visited.
    void PushDown(int32_t Stored, int64_t Start, std::unordered_set<int64_t> &Visited);

    sqlite3 *const FDB;
    TQuery FUncheckedChildSQL;
    TQuery FCheckedChildSQL;
    TQuery FFolderCheckedSQL;
    TQuery FChildWithoutRecordSQL;
    TQuery FMixedChildSQL;
    TQuery FCheckRecordSQL;
    TQuery FUpdateSQL;
    TQuery FInsertSQL;
    TQuery FParentIDSQL;
    TQuery FChildRowsSQL;
    TQuery FPushDownSQL;
    TQuery FHasItemsBelowSQL;
    TQuery FDetachedRowsSQL;
    // Other per-item queries on the same connection (comments, subfolder tests), kept likewise.
    std::vector<std::pair<const char *, sqlite3_stmt *>> FKept;
};

// A query with the id as parameter 1, run where items are built one by one. It uses the statement
// that CheckHelper keeps for Sql when CheckHelper serves DB (reset when the run ends; the runs of one
// text must not nest), otherwise one prepared for this run alone. Sql must live as long as the
// program. A text that cannot be prepared gives no row.
class TIdQuery
{
public:
    TIdQuery(sqlite3 *DB, const char *Sql, int64_t ID);
    ~TIdQuery();
    TIdQuery(const TIdQuery &) = delete;
    TIdQuery &operator=(const TIdQuery &) = delete;

    sqlite3_stmt *Stmt() const { return FStmt; }
    // True when the next step gives a row.
    bool Step();

private:
    sqlite3_stmt *FStmt = nullptr;
    bool FOwned = false;
};

// The one store of the program; none at start. The routines below create it with the connection they
// are given when there is none; it then stays bound to that connection until DestroyCheckHelper.
extern TCheck_Helper *CheckHelper;

// The item's own row (see TCheck_Helper::GetCheckRecord). Any exception inside is logged and answers
// False.
bool IsChecked(sqlite3 *DB, int64_t ID, uint8_t &State, uint8_t &FolderState);
// Whether the item counts as ticked: by its own row (True with its own states), or else by the
// nearest ancestor with a row whose checkForFolder is 1 (True, state checked). Otherwise False, with
// that ancestor's states (both 0 when no ancestor has a row). Use State only on True.
bool IsCheckedInherited(sqlite3 *DB, int64_t ID, uint8_t &State, uint8_t &FolderState);
// IsCheckedInherited for many items without a row of their own, as a page of search results needs it:
// the answer found for an item is remembered for every ancestor its walk passed, so that its siblings
// and cousins cost no query. Valid only while the store does not change.
class TInheritedTicks
{
public:
    explicit TInheritedTicks(sqlite3 *DB) : FDB(DB) {}
    // Whether an item that has no row and whose ID_PARENT is Parent counts as ticked through the
    // nearest ancestor with a row (state checked), as IsCheckedInherited answers for it.
    bool Checked(int64_t ID, int64_t Parent);

private:
    sqlite3 *FDB;
    // Per id: what an item without a row directly below it inherits.
    std::unordered_map<int64_t, bool> FKnown;
};
// A tick: stores State on ID, pushes it down (to every row below ID, also below items without rows),
// then works out the ancestors again while their states change (stored without a push-down). Appends the
// touched ids to List: ID first, then its ancestors from the nearest upwards (ending with -1 when the change
// reached the root; the root ticked itself gives -1 alone).
void SetCheckRecursive(sqlite3 *DB, uint8_t State, TInt64List &List, int64_t ID);
// Stores a folder's state worked out from what its children count as (a folder load), with texts of
// its own: checkForFolder as TCheck_Helper::SetCheck sets it, except that a new mixed row takes what
// the item inherited, and nothing is pushed down, so that no item comes to count as anything else. No
// ancestor is worked out and no list is kept. Raises ESQLite3 when the write fails.
void SetChecked(sqlite3 *DB, uint8_t State, int64_t ID);
// Gives an item without a row one, and each item between it and its nearest ancestor with a row too,
// each ticked as a whole as it counts (the root, which inherits nothing, unchecked); nothing is pushed
// down, so what every item counts as stays the same. Raises ESQLite3 when a write fails.
void StoreInheritedRows(sqlite3 *DB, int64_t ID);
// Appends ID and its ancestors, nearest first, up to the top-level item (-1 is never appended).
void CollectAncestorIDs(sqlite3 *DB, TInt64List &List, int64_t ID);
// The item's ID_PARENT, -1 when it has no row in struct_drive_table.
int64_t GetParentID(sqlite3 *DB, int64_t ID);
// Whether the store holds any row: when it holds none, every item answers IsChecked with False.
bool HasStoredRows(sqlite3 *DB);
// Logs "DestroyCheckHelper", frees CheckHelper and sets it back to none.
void DestroyCheckHelper();
