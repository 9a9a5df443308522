#pragma once
// The database layer: running SQL scripts with every result tested, the SQLite exception, binding UTF-8
// text, and the UTF-8 <-> UTF-16 conversions used at the database boundary. All other database work
// calls the SQLite API directly; statements outside ExecSqlScript are prepared, stepped and finalized
// within one call and their results are not raised.
#include "common/ssException.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;
class TInt64List;

// A failed SQLite call: raised by ExecSqlScript and by the writes of ticks and comments.
class ESQLite3 : public Exception
{
public:
    // "SQLite3 Error %d - %s": the result code and the connection's error text. A full disk
    // (SQLITE_FULL) is said in words first: "The disk is full!" and a carriage return; a report that
    // is busy, read-only, damaged or cannot be opened, or whose folder can not be written, gets the
    // reason in words after the text. Detail: the connection's extended result code, which tells a
    // folder that can not be written.
    ESQLite3(int code, const QString &text, int detail = 0);
    // "SQLite3 Error %d": the code alone (no connection was given); a full disk as above.
    explicit ESQLite3(int code);

    static ESQLite3 Create(int code, const QString &text) { return ESQLite3(code, text); }
    static ESQLite3 CreateCode(int code) { return ESQLite3(code); }

    int ErrorCode;        // the result code exactly as the failing call returned it
    QString ErrorMessage; // the connection's error text; empty without a connection
};

// Runs every statement of sql in order on db and drops their rows. Raises ESQLite3 at the first
// failing prepare or run; statements that ran before it stay done (no transaction of its own).
// Without a connection it does nothing.
void ExecSqlScript(sqlite3 *db, const std::string &sql);

// Returns code unchanged when its low 8 bits are SQLITE_OK, SQLITE_ROW or SQLITE_DONE; raises
// ESQLite3 otherwise.
int CheckSqliteResult(int code, sqlite3 *db);

// Raises ESQLite3 with db's error text, or with the code alone when db is null.
[[noreturn]] void RaiseSqliteError(int code, sqlite3 *db);

// Steps stmt once: True on a row, False when it is done; any other end raises ESQLite3 with the
// engine's precise code and text (also for a statement made by the legacy sqlite3_prepare). The
// statement is left to its owner to reset or finalize.
bool StepOrRaise(sqlite3_stmt *stmt, sqlite3 *db);

// Adds the SQL function ReportTimeIn(time, from, to) to db: 1 when time is a time text of one of the two
// full layouts (ReportTimeKey) whose moment lies from the moment of from to that of to, both
// "yyyy-mm-dd hh:mm:ss"; else 0. The extended search's statements use it, so every connection that
// prepares them registers it first. It keeps no state: any thread may step those statements.
// Returns sqlite3_create_function_v2's result.
int RegisterReportFunctions(sqlite3 *db);

// Binds text (UTF-8) to parameter index (from 1) of stmt. SQLite reads a shared, reference-counted
// buffer in place and gives its reference back through ReleaseBoundText when it rebinds or finalizes.
// An empty text binds a text of length 0 (not NULL). Returns sqlite3_bind_text's result, untested.
int BindUtf8Text(sqlite3_stmt *stmt, int index, const std::string &text);

// The release routine handed to sqlite3_bind_text by BindUtf8Text: drops the reference on the bytes.
void ReleaseBoundText(void *bytes);

// UTF-8 -> UTF-16. Malformed input becomes U+FFFD; a character outside the Basic Multilingual Plane
// becomes the single unit U+FFFD (no surrogate pair is ever made).
QString Utf8ToWide(const std::string &text);
QString Utf8BufToWide(const char *bytes, size_t count);

// UTF-16 -> UTF-8, each 16-bit unit encoded on its own: a surrogate pair becomes two 3-byte sequences.
std::string WideToUtf8(const QString &text);
std::string WideBufToUtf8(const char16_t *units, size_t count);

// Decodes one character from bytes (available >= 1). Returns the bytes consumed (1 to 6) and stores
// the code point, U+FFFD for a malformed, overlong or out-of-range sequence.
int DecodeUtf8Char(const char *bytes, size_t available, uint32_t &codePoint);

// Encodes codePoint into dest (room for 6 bytes). Returns the bytes written, 1 to 6, or 0 for a value
// above 0x7FFFFFFF.
int EncodeUtf8Char(uint32_t codePoint, char *dest);

// Owns one statement handle and finalizes it on every way out of the scope that holds it.
class TStatementCell
{
public:
    TStatementCell() = default;
    ~TStatementCell();
    TStatementCell(const TStatementCell &) = delete;
    TStatementCell &operator=(const TStatementCell &) = delete;

    sqlite3_stmt *Handle() const { return FStmt; }
    // Out-parameter for sqlite3_prepare*; a statement still held is finalized first.
    sqlite3_stmt **Ptr();
    // Finalizes now (when a statement is held) and returns sqlite3_finalize's result, 0 when none.
    int Finalize();

private:
    sqlite3_stmt *FStmt = nullptr;
};

// ---------------------------------------------------------------------------------------------------
// Report preparation: indexes on struct_drive_table and the tick/comment table with its indexes. Each
// step writes its own name to the log, then runs its text through ExecSqlScript (ESQLite3 on failure).
// They open no transaction: the caller runs all of them inside one, so that a failure leaves the report
// as it was once the caller rolls back or closes.

void AddIdIndex(sqlite3 *db);
void AddPIdIndex(sqlite3 *db);
void AddDelIndex(sqlite3 *db);
void AddFoldIndex(sqlite3 *db);
void AddSizeIndex(sqlite3 *db);
void AddCreateIndex(sqlite3 *db);
void AddUpdateIndex(sqlite3 *db);
void AddPIdIsFolderIndex(sqlite3 *db);
void CreateChAComTable(sqlite3 *db);
void AddId_parAndCheckIndex(sqlite3 *db);
// Every lookup of an item's stored row goes by fileID; without this index each one scans the table.
void AddFileIdIndex(sqlite3 *db);

// One preparation step: its name (and log line), its SQL text and its routine.
struct TPrepareStep
{
    const char *Name;
    const char *Sql;
    void (*Run)(sqlite3 *db);
};
constexpr int PrepareStepCount = 11;
// The steps in the order in which a report is prepared.
extern const TPrepareStep ReportPreparationSteps[PrepareStepCount];

// The CREATE TABLE text of check_and_comment_map, used by the preparation and the export file.
extern const char *const CheckAndCommentMapTableSql;

// ---------------------------------------------------------------------------------------------------
// Comments and folder queries. The reads test no SQLite result: a failed prepare reads as no row.

// Makes sure the item has a row in check_and_comment_map (a new row carries the item's inherited tick
// state, stored through the tick store), then writes comment into it. Raises ESQLite3 when the
// lookup or a write fails.
void SetComment(sqlite3 *db, const QString &comment, int64_t id);

// Reads the item's comment into comment when the item has a row (left untouched otherwise). True when
// the comment holds more than blanks and control characters.
bool GetComment(sqlite3 *db, QString &comment, int64_t id);

// Appends the id of every folder below folderId, at any depth, in pre-order (each subfolder followed
// by its own subfolders). The folder itself is not appended; an id met again (a cycle of ID_PARENT
// links, or a repeated row) is neither appended nor walked again.
void CollectSubfolderIDs(sqlite3 *db, TInt64List &list, int64_t folderId);

// F_CHILDREN_SIZE of the item; 0 when there is no such row.
int64_t GetChildrenSize(sqlite3 *db, int64_t id);

// ---------------------------------------------------------------------------------------------------
// Export file: check_and_comment_map and information copied from a report into a small database.

// Opens (creates) the new export file fileName, never through a symbolic link and without a journal,
// starts it as a copy of the earlier export at Earlier when there is one, begins a transaction, and in
// it drops and recreates check_and_comment_map and empties information (creating it when missing).
// Returns the connection, which is opened for use by one thread at a time without SQLite's own lock;
// on a failure it is closed and ESQLite3 raised.
sqlite3 *CreateExportBase(const QString &fileName, const std::string &Earlier);

// Copies every row of check_and_comment_map and of information from source into dest. A failing read
// or insert raises ESQLite3: an export with rows missing is no export.
void CopyCheckAndInformation(sqlite3 *dest, sqlite3 *source);

// Commits and closes the connection. When the commit raises, the connection stays open.
void CommitAndCloseBase(sqlite3 *db);

// Why an export file is refused before anything is written to it.
extern const QString ExportIsLinkText;
extern const QString ExportIsReportText;
// The new export is written to its file name followed by this, beside it.
extern const char *const ExportTempSuffix;

// CreateExportBase, CopyCheckAndInformation, CommitAndCloseBase on a new file beside fileName (a
// leftover of a crash is replaced), which is synced to the disk and then renamed over fileName: the
// earlier export stays whole until the new one takes its place. Refused with Exception (texts above)
// when the export file or its journal is a symbolic link, or when it is source's own file. The export
// connection is closed in every case; after a failure the new file is removed, fileName is as it was,
// and the exception passes on.
void ExportChecks(const QString &fileName, sqlite3 *source);
