// Comments and folder queries on the open report.
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uSQLiteFunc.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

namespace {

std::string WithId(const char *head, int64_t id, const char *tail)
{
    return head + std::to_string(id) + tail;
}

// An item has a comment when the text holds more than characters up to and including the blank.
bool HasCommentText(const QString &comment)
{
    for (QChar c : comment)
        if (c.unicode() > 32)
            return true;
    return false;
}

} // namespace

void SetComment(sqlite3 *db, const QString &comment, int64_t id)
{
    const std::string text = WideToUtf8(comment); // bound in place, so it outlives the statements
    TStatementCell lookup;
    TStatementCell update;
    const std::string select = WithId("SELECT fileID FROM check_and_comment_map WHERE (fileID = ", id, ");");
    // A failed lookup must not pass as no row: the tick store would store the item's state again.
    CheckSqliteResult(sqlite3_prepare_v2(db, select.c_str(), -1, lookup.Ptr(), nullptr), db);
    // A new row carries the state the item has by inheritance; nothing below it changes.
    if (!StepOrRaise(lookup.Handle(), db))
        StoreInheritedRows(db, id);
    CheckSqliteResult(sqlite3_prepare(db, "UPDATE check_and_comment_map SET comment = ? WHERE (fileID = ?);",
                                      -1, update.Ptr(), nullptr),
                      db);
    sqlite3_bind_text(update.Handle(), 1, text.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int64(update.Handle(), 2, id);
    StepOrRaise(update.Handle(), db);
}

bool GetComment(sqlite3 *db, QString &comment, int64_t id)
{
    // Asked for every item built: kept prepared rather than made and parsed per item.
    TIdQuery query(db, "SELECT comment FROM check_and_comment_map WHERE (fileId = ? );", id);
    if (!query.Step())
        return false;
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(query.Stmt(), 0));
    comment = text ? Utf8BufToWide(text, std::strlen(text)) : QString();
    return HasCommentText(comment);
}

void CollectSubfolderIDs(sqlite3 *db, TInt64List &list, int64_t folderId)
{
    // Depth first with an explicit stack of open statements, so that a deep tree cannot exhaust the
    // call stack; the order is that of the plain recursion (pre-order).
    std::vector<std::unique_ptr<TStatementCell>> open;
    std::unordered_set<int64_t> seen{folderId};
    auto openLevel = [&](int64_t parent) {
        auto cell = std::make_unique<TStatementCell>();
        const std::string select = WithId(
            "SELECT ID_FILE FROM struct_drive_table WHERE (is_folder = 1) and (id_parent = ", parent, ") ;");
        sqlite3_prepare_v2(db, select.c_str(), -1, cell->Ptr(), nullptr);
        open.push_back(std::move(cell));
    };
    openLevel(folderId);
    while (!open.empty()) {
        sqlite3_stmt *level = open.back()->Handle();
        if (sqlite3_step(level) != SQLITE_ROW) {
            open.pop_back();
            continue;
        }
        const int64_t child = sqlite3_column_int64(level, 0);
        // A folder met again would walk the same ID_PARENT cycle for ever.
        if (!seen.insert(child).second)
            continue;
        list.Add(child);
        openLevel(child);
    }
}

int64_t GetChildrenSize(sqlite3 *db, int64_t id)
{
    TStatementCell stmt;
    const std::string select =
        WithId("SELECT f_children_size FROM struct_drive_table WHERE id_file = ", id, "");
    sqlite3_prepare_v2(db, select.c_str(), -1, stmt.Ptr(), nullptr);
    if (sqlite3_step(stmt.Handle()) != SQLITE_ROW)
        return 0;
    return sqlite3_column_int64(stmt.Handle(), 0);
}
