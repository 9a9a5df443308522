#pragma once
// A report prepared as the viewer prepares it and opened for the tick store's tests, with readers of
// check_and_comment_map. The log goes to the report's temporary folder.
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ticktest {

struct StoredRow
{
    int checked = 0;
    int checkForFolder = 0;
    int64_t idParent = 0;
    bool operator==(const StoredRow &) const = default;
};

inline std::ostream &operator<<(std::ostream &Out, const StoredRow &R)
{
    return Out << "{checked " << R.checked << ", checkForFolder " << R.checkForFolder << ", id_parent "
               << R.idParent << "}";
}

class TickReport
{
public:
    explicit TickReport(const support::ReportBuilder &Builder)
    {
        SetLogFolder(Dir.Path() + "/");
        CreateLogFile();
        const std::string Path = Builder.Write(Dir.File("report.db"));
        EXPECT_EQ(sqlite3_open(Path.c_str(), &DB), SQLITE_OK);
        ExecSqlScript(DB, "BEGIN TRANSACTION;");
        for (const TPrepareStep &Step : ReportPreparationSteps)
            Step.Run(DB);
        ExecSqlScript(DB, "COMMIT;");
        ExecSqlScript(DB, "BEGIN TRANSACTION;");
    }
    ~TickReport()
    {
        DestroyCheckHelper();
        sqlite3_close_v2(DB);
        SetLogFolder("");
    }
    TickReport(const TickReport &) = delete;
    TickReport &operator=(const TickReport &) = delete;

    // The item's row; nullopt when it has none.
    std::optional<StoredRow> Row(int64_t ID) const
    {
        std::optional<StoredRow> Result;
        sqlite3_stmt *Stmt = nullptr;
        sqlite3_prepare_v2(DB,
                           "SELECT checked, checkForFolder, id_parent FROM check_and_comment_map "
                           "WHERE fileID = ?",
                           -1, &Stmt, nullptr);
        sqlite3_bind_int64(Stmt, 1, ID);
        int Count = 0;
        while (sqlite3_step(Stmt) == SQLITE_ROW) {
            ++Count;
            Result = StoredRow{sqlite3_column_int(Stmt, 0), sqlite3_column_int(Stmt, 1),
                               sqlite3_column_int64(Stmt, 2)};
        }
        sqlite3_finalize(Stmt);
        EXPECT_LE(Count, 1) << "rows for id " << ID;
        return Result;
    }

    // Every row by fileID; a second row for one id fails the test.
    std::map<int64_t, StoredRow> Rows() const
    {
        std::map<int64_t, StoredRow> Result;
        sqlite3_stmt *Stmt = nullptr;
        sqlite3_prepare_v2(DB, "SELECT fileID, checked, checkForFolder, id_parent FROM check_and_comment_map",
                           -1, &Stmt, nullptr);
        while (sqlite3_step(Stmt) == SQLITE_ROW) {
            const int64_t ID = sqlite3_column_int64(Stmt, 0);
            const bool Added =
                Result
                    .emplace(ID, StoredRow{sqlite3_column_int(Stmt, 1), sqlite3_column_int(Stmt, 2),
                                           sqlite3_column_int64(Stmt, 3)})
                    .second;
            EXPECT_TRUE(Added) << "second row for id " << ID;
        }
        sqlite3_finalize(Stmt);
        return Result;
    }

    // SetCheckRecursive; the ids it touched, in list order.
    std::vector<int64_t> Tick(uint8_t State, int64_t ID) const
    {
        TInt64List List;
        SetCheckRecursive(DB, State, List, ID);
        return Items(List);
    }

    static std::vector<int64_t> Items(const TInt64List &List)
    {
        std::vector<int64_t> Result;
        for (int I = 0; I < List.Count(); ++I)
            Result.push_back(List.GetItem(I));
        return Result;
    }

    std::string LogText() const
    {
        std::ifstream In(LogFileName(), std::ios::binary);
        std::stringstream Text;
        Text << In.rdbuf();
        return Text.str();
    }

    support::TempDir Dir;
    sqlite3 *DB = nullptr;
};

// Runs Work, aborting the test program when it has not returned within Seconds (a walk that loops).
template <typename TWork> void EndsWithin(int Seconds, TWork Work)
{
    std::promise<void> Done;
    std::future<void> Finished = Done.get_future();
    std::thread Watchdog([&] {
        if (Finished.wait_for(std::chrono::seconds(Seconds)) == std::future_status::timeout) {
            std::fprintf(stderr, "the walk did not end within %d s\n", Seconds);
            std::abort();
        }
    });
    try {
        Work();
    } catch (...) {
        Done.set_value();
        Watchdog.join();
        throw;
    }
    Done.set_value();
    Watchdog.join();
}

} // namespace ticktest
