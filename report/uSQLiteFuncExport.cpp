// The export file: the report's ticks, comments and information rows in a small database of their own.
#include "report/uSQLiteFunc.h"

#include <sqlite3.h>

namespace {

std::string ColumnText(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? std::string(text) : std::string();
}

void CopyCheckRows(sqlite3 *dest, sqlite3 *source)
{
    TStatementCell select;
    TStatementCell insert;
    sqlite3_prepare_v2(source,
                       "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM "
                       "check_and_comment_map;",
                       -1, select.Ptr(), nullptr);
    sqlite3_prepare_v2(dest,
                       "INSERT INTO check_and_comment_map (id, comment, checked, fileID, id_parent, flag, "
                       "checkForFolder) VALUES (?, ?, ?, ?, ?, ?, ?);",
                       -1, insert.Ptr(), nullptr);
    sqlite3_stmt *const in = insert.Handle();
    sqlite3_stmt *const out = select.Handle();
    while (sqlite3_step(out) == SQLITE_ROW) {
        sqlite3_reset(in);
        sqlite3_bind_int64(in, 1, sqlite3_column_int64(out, 0));
        // The comment's bytes stay valid until the SELECT moves on, which is after the insert's step;
        // a null comment binds null.
        sqlite3_bind_text(in, 2, reinterpret_cast<const char *>(sqlite3_column_text(out, 1)), -1,
                          SQLITE_STATIC);
        sqlite3_bind_int(in, 3, sqlite3_column_int(out, 2));
        sqlite3_bind_int64(in, 4, sqlite3_column_int64(out, 3));
        sqlite3_bind_int64(in, 5, sqlite3_column_int64(out, 4));
        sqlite3_bind_int64(in, 6, sqlite3_column_int64(out, 5));
        sqlite3_bind_int(in, 7, sqlite3_column_int(out, 6));
        sqlite3_step(in);
    }
}

void CopyInformationRows(sqlite3 *dest, sqlite3 *source)
{
    TStatementCell select;
    TStatementCell insert;
    sqlite3_prepare_v2(source, "SELECT field_Name, value FROM information;", -1, select.Ptr(), nullptr);
    sqlite3_prepare_v2(dest, "INSERT INTO information (field_Name, value) VALUES (?, ?);", -1, insert.Ptr(),
                       nullptr);
    sqlite3_stmt *const in = insert.Handle();
    sqlite3_stmt *const out = select.Handle();
    while (sqlite3_step(out) == SQLITE_ROW) {
        sqlite3_reset(in);
        // Both columns go as text: a number arrives as its decimal text, a null as empty text.
        BindUtf8Text(in, 1, ColumnText(out, 0));
        BindUtf8Text(in, 2, ColumnText(out, 1));
        sqlite3_step(in);
    }
}

} // namespace

sqlite3 *CreateExportBase(const QString &fileName)
{
    sqlite3 *db = nullptr;
    // The open's result is not tested: a file that cannot be opened fails at the first statement. The
    // connection is used by one thread only, so it goes without SQLite's per-call lock.
    sqlite3_open_v2(WideToUtf8(fileName).c_str(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    // Only when SQLite could not even allocate a connection is there none; without one the set-up
    // below would do nothing and the export would look done.
    if (!db)
        RaiseSqliteError(SQLITE_NOMEM, nullptr);
    try {
        ExecSqlScript(db, "DROP TABLE IF EXISTS check_and_comment_map;");
        ExecSqlScript(db, "CREATE TABLE IF NOT EXISTS information (field_Name TEXT, value);");
        ExecSqlScript(db, "DELETE FROM information;");
        ExecSqlScript(db, CheckAndCommentMapTableSql);
        ExecSqlScript(db, "BEGIN TRANSACTION;");
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    return db;
}

void CopyCheckAndInformation(sqlite3 *dest, sqlite3 *source)
{
    CopyCheckRows(dest, source);
    CopyInformationRows(dest, source);
}

void CommitAndCloseBase(sqlite3 *db)
{
    ExecSqlScript(db, "COMMIT;");
    sqlite3_close_v2(db);
}

void ExportChecks(const QString &fileName, sqlite3 *source)
{
    sqlite3 *db = CreateExportBase(fileName);
    try {
        CopyCheckAndInformation(db, source);
        CommitAndCloseBase(db);
    } catch (...) {
        // Closing with the transaction open rolls the copied rows back.
        sqlite3_close_v2(db);
        throw;
    }
}
