#include "tests/support/ReportBuilder.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace support {

const char *const kDriveTableSql =
    "CREATE TABLE struct_drive_table (ID_FILE INTEGER, ID_PARENT INTEGER, IS_FOLDER INTEGER, "
    "IS_DELETED INTEGER, F_NAME TEXT, F_SIZE INTEGER, F_ATTR INTEGER, F_CREATE TEXT, F_UPDATE TEXT, "
    "F_ACCESS TEXT, F_FLAGS INTEGER, F_CHILDREN_SIZE INTEGER);";

const char *const kInformationTableSql = "CREATE TABLE IF NOT EXISTS information (field_Name TEXT, value);";

const char *const kCheckTableSql = "CREATE TABLE IF NOT EXISTS check_and_comment_map("
                                   "id               INTEGER PRIMARY KEY, "
                                   "comment          TEXT,    "
                                   "checked          INTEGER, "
                                   "fileID           INTEGER, "
                                   "id_parent        INTEGER, "
                                   "flag             INTEGER, "
                                   "checkForFolder   INTEGER);";

namespace {

void RemoveDatabaseFiles(const std::string &path)
{
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
}

// SQLITE_STATIC: every bound text outlives the step that reads it.
void BindText(sqlite3_stmt *stmt, int index, const std::string &text)
{
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

template <typename T> void BindOptional(sqlite3_stmt *stmt, int index, const std::optional<T> &value)
{
    if (!value)
        sqlite3_bind_null(stmt, index);
    else if constexpr (std::is_same_v<T, std::string>)
        BindText(stmt, index, *value);
    else
        sqlite3_bind_int64(stmt, index, *value);
}

std::optional<int64_t> WholeNumber(const std::string &text)
{
    int64_t value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

ReportWriter::ReportWriter(const std::string &path, bool driveTable, bool checkTable) : FPath(path)
{
    RemoveDatabaseFiles(FPath);
    try {
        if (sqlite3_open_v2(FPath.c_str(), &FDB, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK)
            Fail("open");
        // Nothing to roll back to for a file made from scratch; a failed write removes the file.
        Exec("PRAGMA journal_mode=OFF;");
        Exec("PRAGMA synchronous=OFF;");
        Exec("PRAGMA locking_mode=EXCLUSIVE;");
        Exec("PRAGMA cache_size=-65536;");
        Exec("BEGIN TRANSACTION;");
        Exec(kInformationTableSql);
        FInfoStmt = Prepare("INSERT INTO information (field_Name, value) VALUES (?1, ?2);");
        if (driveTable) {
            Exec(kDriveTableSql);
            FRowStmt =
                Prepare("INSERT INTO struct_drive_table (ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, "
                        "F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, F_ACCESS, F_FLAGS, "
                        "F_CHILDREN_SIZE) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12);");
        }
        if (checkTable) {
            Exec(kCheckTableSql);
            FCheckTable = true;
        }
    } catch (...) {
        Close();
        RemoveDatabaseFiles(FPath);
        throw;
    }
}

ReportWriter::~ReportWriter()
{
    if (FDB) {
        Close();
        RemoveDatabaseFiles(FPath);
    }
}

int ReportWriter::Close()
{
    for (sqlite3_stmt **stmt : {&FRowStmt, &FCheckStmt, &FInfoStmt}) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    const int rc = sqlite3_close(FDB);
    FDB = nullptr;
    return rc;
}

void ReportWriter::Fail(const std::string &what)
{
    std::string message = "ReportWriter: " + what + " failed for " + FPath;
    if (FDB)
        message += ": " + std::string(sqlite3_errmsg(FDB));
    throw std::runtime_error(message);
}

sqlite3_stmt *ReportWriter::Prepare(const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(FDB, sql, -1, &stmt, nullptr) != SQLITE_OK)
        Fail(std::string("prepare of \"") + sql + "\"");
    return stmt;
}

void ReportWriter::Step(sqlite3_stmt *stmt)
{
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE)
        Fail("insert");
}

void ReportWriter::Exec(const std::string &sql)
{
    if (!FDB)
        throw std::runtime_error("ReportWriter: already finished");
    if (sqlite3_exec(FDB, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail("\"" + sql + "\"");
}

void ReportWriter::Row(const DriveRow &row)
{
    if (!FRowStmt)
        throw std::runtime_error("ReportWriter: no struct_drive_table in " + FPath);
    sqlite3_bind_int64(FRowStmt, 1, row.id);
    sqlite3_bind_int64(FRowStmt, 2, row.parent);
    sqlite3_bind_int(FRowStmt, 3, row.isFolder);
    sqlite3_bind_int(FRowStmt, 4, row.isDeleted);
    BindText(FRowStmt, 5, row.name);
    sqlite3_bind_int64(FRowStmt, 6, row.size);
    sqlite3_bind_int(FRowStmt, 7, row.attr);
    BindText(FRowStmt, 8, row.create);
    BindText(FRowStmt, 9, row.update);
    BindText(FRowStmt, 10, row.access);
    sqlite3_bind_int64(FRowStmt, 11, row.flags);
    sqlite3_bind_int64(FRowStmt, 12, row.childrenSize);
    Step(FRowStmt);
}

void ReportWriter::Check(const CheckRow &row)
{
    if (!FCheckTable) {
        Exec(kCheckTableSql);
        FCheckTable = true;
    }
    if (!FCheckStmt)
        FCheckStmt = Prepare("INSERT INTO check_and_comment_map (comment, checked, fileID, id_parent, flag, "
                             "checkForFolder) VALUES (?1, ?2, ?3, ?4, ?5, ?6);");
    BindOptional(FCheckStmt, 1, row.comment);
    BindOptional(FCheckStmt, 2, row.checked);
    sqlite3_bind_int64(FCheckStmt, 3, row.fileID);
    BindOptional(FCheckStmt, 4, row.idParent);
    BindOptional(FCheckStmt, 5, row.flag);
    BindOptional(FCheckStmt, 6, row.checkForFolder);
    Step(FCheckStmt);
}

void ReportWriter::Information(const std::string &field, const std::string &value)
{
    BindText(FInfoStmt, 1, field);
    if (auto number = WholeNumber(value))
        sqlite3_bind_int64(FInfoStmt, 2, *number);
    else
        BindText(FInfoStmt, 2, value);
    Step(FInfoStmt);
}

void ReportWriter::Finish()
{
    Exec("COMMIT;");
    if (Close() != SQLITE_OK)
        throw std::runtime_error("ReportWriter: close failed for " + FPath);
}

} // namespace support
