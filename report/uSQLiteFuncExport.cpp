// The export file: the report's ticks, comments and information rows in a small database of their own.
#include "report/uSQLiteFunc.h"

#include "report/uExtraFunctions.h"

#include <QScopeGuard>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString ExportIsLinkText =
    QStringLiteral("Can not write export file, because a link stands in its place!");
const QString ExportIsReportText =
    QStringLiteral("Can not write export file, because it is the report file itself!");
const char *const ExportTempSuffix = ".tmp";

namespace {

// A statement of the copy that could not be prepared fails the export.
void Prepare(sqlite3 *db, const char *sql, TStatementCell &cell)
{
    CheckSqliteResult(sqlite3_prepare_v2(db, sql, -1, cell.Ptr(), nullptr), db);
}

std::string ColumnText(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? std::string(text) : std::string();
}

void CopyCheckRows(sqlite3 *dest, sqlite3 *source)
{
    TStatementCell select;
    TStatementCell insert;
    Prepare(
        source,
        "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM check_and_comment_map;",
        select);
    Prepare(dest,
            "INSERT INTO check_and_comment_map (id, comment, checked, fileID, id_parent, flag, "
            "checkForFolder) VALUES (?, ?, ?, ?, ?, ?, ?);",
            insert);
    sqlite3_stmt *const in = insert.Handle();
    sqlite3_stmt *const out = select.Handle();
    while (StepOrRaise(out, source)) {
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
        StepOrRaise(in, dest); // a row that does not go in fails the export
    }
}

void CopyInformationRows(sqlite3 *dest, sqlite3 *source)
{
    TStatementCell select;
    TStatementCell insert;
    Prepare(source, "SELECT field_Name, value FROM information;", select);
    Prepare(dest, "INSERT INTO information (field_Name, value) VALUES (?, ?);", insert);
    sqlite3_stmt *const in = insert.Handle();
    sqlite3_stmt *const out = select.Handle();
    while (StepOrRaise(out, source)) {
        sqlite3_reset(in);
        // Both columns go as text: a number arrives as its decimal text, a null as empty text.
        BindUtf8Text(in, 1, ColumnText(out, 0));
        BindUtf8Text(in, 2, ColumnText(out, 1));
        StepOrRaise(in, dest); // a row that does not go in fails the export
    }
}

bool IsLink(const std::string &Path)
{
    struct stat st;
    return lstat(Path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// True when Path names the file that db has open as its main database.
bool IsFileOf(const std::string &Path, sqlite3 *db)
{
    const char *own = db ? sqlite3_db_filename(db, "main") : nullptr;
    return own && *own && IsSameFile(Path, own);
}

// The connection is used by one thread only, so it goes without SQLite's per-call lock; a link in the
// file's place would send it into whatever file the link points at.
sqlite3 *OpenExportFile(const std::string &Path, int Flags)
{
    sqlite3 *db = nullptr;
    const int result =
        sqlite3_open_v2(Path.c_str(), &db, Flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
    // Only when SQLite could not even allocate a connection is there none; without one the work on it
    // would do nothing and the export would look done.
    if (!db)
        RaiseSqliteError(SQLITE_NOMEM, nullptr);
    if (result != SQLITE_OK) {
        const auto close = qScopeGuard([db] { sqlite3_close_v2(db); });
        RaiseSqliteError(result, db);
    }
    return db;
}

// What the earlier export held goes into the new file first: what the export does not replace (tables
// of other names, information's own columns) stays. Read through SQLite, which first plays back a
// journal that a crash left beside it.
void CopyEarlierExport(sqlite3 *dest, const std::string &Earlier)
{
    struct stat st;
    if (lstat(Earlier.c_str(), &st) != 0)
        return;
    sqlite3 *earlier = OpenExportFile(Earlier, SQLITE_OPEN_READWRITE);
    const auto close = qScopeGuard([earlier] { sqlite3_close_v2(earlier); });
    sqlite3_backup *backup = sqlite3_backup_init(dest, "main", earlier, "main");
    if (!backup)
        RaiseSqliteError(sqlite3_errcode(dest), dest);
    sqlite3_backup_step(backup, -1);
    CheckSqliteResult(sqlite3_backup_finish(backup), dest);
}

[[noreturn]] void RaiseFileError(const std::string &Path)
{
    const int error = errno;
    throw Exception(QStringLiteral("Can not write export file \"%1\". %2")
                        .arg(Utf8ToWide(Path), QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace

sqlite3 *CreateExportBase(const QString &fileName, const std::string &Earlier)
{
    sqlite3 *db = OpenExportFile(WideToUtf8(fileName), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        // A failed export throws the file away: no journal need guard it, and it reaches the disk as a
        // whole, by its writer's fsync, before it takes the export's place.
        ExecSqlScript(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
        CopyEarlierExport(db, Earlier);
        ExecSqlScript(db, "BEGIN TRANSACTION;");
        ExecSqlScript(db, "DROP TABLE IF EXISTS check_and_comment_map;");
        ExecSqlScript(db, "CREATE TABLE IF NOT EXISTS information (field_Name TEXT, value);");
        ExecSqlScript(db, "DELETE FROM information;");
        ExecSqlScript(db, CheckAndCommentMapTableSql);
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
    const std::string path = WideToUtf8(fileName);
    const std::string journal = path + "-journal";
    if (IsLink(path) || IsLink(journal))
        throw Exception(ExportIsLinkText);
    // Written into, the report would lose its ticks and information to the export's set-up.
    if (IsFileOf(path, source))
        throw Exception(ExportIsReportText);
    // Made beside the export and put in its place only when whole and on the disk: a crash leaves the
    // earlier export whole, or none, and at most this file, which the next export replaces.
    const std::string temp = path + ExportTempSuffix;
    unlink(temp.c_str());
    int handle = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (handle < 0)
        RaiseFileError(temp);
    sqlite3 *db = nullptr;
    try {
        db = CreateExportBase(Utf8ToWide(temp), path);
        CopyCheckAndInformation(db, source);
        CommitAndCloseBase(db);
        db = nullptr;
        if (fsync(handle) != 0)
            RaiseFileError(temp);
        close(handle);
        handle = -1;
        // The earlier export's journal was played back by its copy: one still there belongs to no file,
        // and played back into the new one it would break it.
        unlink(journal.c_str());
        if (const int error = ReplaceWithFile(temp, path)) {
            errno = error;
            RaiseFileError(path);
        }
    } catch (...) {
        // After the connection: closing another descriptor of the file would drop SQLite's locks on it.
        sqlite3_close_v2(db);
        if (handle >= 0)
            close(handle);
        unlink(temp.c_str());
        throw;
    }
}
