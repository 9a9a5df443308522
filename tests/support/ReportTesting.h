#pragma once
// Helpers of the report layer's tests: a query's rows as text, a list's items, a file's bytes, and the
// log kept in a temporary folder.
#include "common/ssListTypes.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace reporttest {

struct DbCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
// A connection closed when it goes.
using Db = std::unique_ptr<sqlite3, DbCloser>;

inline Db OpenDb(const std::string &Path)
{
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK) << Path;
    return Db(db);
}

// The rows of a query, columns joined by '|', each row ended by '\n'; NULL reads "NULL". Typed puts
// each value's storage class before it: "int:5", "text:a", "null".
inline std::string Query(sqlite3 *db, const std::string &sql, bool typed = false)
{
    std::string out;
    sqlite3_stmt *stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db) << sql;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0, n = sqlite3_column_count(stmt); c < n; ++c) {
            static const char *const types[] = {"?", "int:", "real:", "text:", "blob:", "null"};
            const int type = sqlite3_column_type(stmt, c); // before the text, which may convert the value
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
            out += typed ? std::string(types[type]) + (text ? text : "") : std::string(text ? text : "NULL");
            out += c + 1 < n ? "|" : "\n";
        }
    }
    sqlite3_finalize(stmt);
    return out;
}

// Query's rows on a read-only connection of its own to the database at Path.
inline std::string QueryFile(const std::string &Path, const std::string &Sql, bool Typed = false)
{
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(Path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << Path;
    const std::string out = Query(db, Sql, Typed);
    sqlite3_close(db);
    return out;
}

// Everything the database at Path holds, as text: SQLite's own check of the file ("ok"), then every
// table by name with its rows, but for the table named Skip. Opened for writing, so that a journal a
// killed writer left is rolled back.
inline std::string Whole(const std::string &Path, const std::string &Skip = {})
{
    Db db = OpenDb(Path);
    std::string out = Query(db.get(), "PRAGMA integrity_check;");
    const std::string tables =
        Query(db.get(), "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name;");
    for (size_t at = 0, end; (end = tables.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string name = tables.substr(at, end - at);
        if (name != Skip)
            out += name + ":\n" + Query(db.get(), "SELECT * FROM \"" + name + "\" ORDER BY rowid;", true);
    }
    return out;
}

inline std::vector<int64_t> Items(const TInt64List &list)
{
    std::vector<int64_t> items;
    for (int i = 0; i < list.Count(); ++i)
        items.push_back(list.GetItem(i));
    return items;
}

inline std::string FileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An item's fields: "name id parent size folder deleted attr create|update|access", the flags as 0 or
// 1, the times as year-month-day hours:minutes:seconds.
inline std::string ItemFields(const TDirectoryList &Item)
{
    const auto time = [](double Value) {
        return DateTimeToQDateTime(Value).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    };
    return Item.name.toStdString() + " " + std::to_string(Item.id) + " " + std::to_string(Item.id_parent) +
           " " + std::to_string(Item.size) + " " + std::to_string(Item.isFolder) + " " +
           std::to_string(Item.isDeleted) + " " + std::to_string(Item.f_attr) + " " + time(Item.f_create) +
           "|" + time(Item.f_update) + "|" + time(Item.f_access);
}

// Another program reading the database at Path while the object lives: its read transaction keeps a
// commit of another connection from writing the file.
class Reader
{
public:
    explicit Reader(const std::string &Path)
    {
        sqlite3_open(Path.c_str(), &FDB);
        sqlite3_exec(FDB, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    }
    ~Reader()
    {
        sqlite3_exec(FDB, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(FDB);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

private:
    sqlite3 *FDB = nullptr;
};

// A temporary folder that holds a new log file while the object lives.
struct TempLog
{
    TempLog()
    {
        SetLogFolder(Dir.Path() + "/");
        CreateLogFile();
    }
    ~TempLog() { SetLogFolder(""); }
    TempLog(const TempLog &) = delete;
    TempLog &operator=(const TempLog &) = delete;
    std::string Text() const { return FileText(LogFileName()); }

    support::TempDir Dir;
};

} // namespace reporttest
