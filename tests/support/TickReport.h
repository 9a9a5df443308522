#pragma once
// A report prepared as the viewer prepares it and opened for the tick store's tests, with readers of
// check_and_comment_map. The log goes to the report's temporary folder.
#include "report/uCheckHelper.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportTesting.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <optional>
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

using Snapshot = std::map<int64_t, StoredRow>;

inline std::optional<StoredRow> Find(const Snapshot &S, int64_t ID)
{
    const auto It = S.find(ID);
    return It == S.end() ? std::nullopt : std::optional<StoredRow>(It->second);
}

class TickReport
{
public:
    // Prepare false leaves the report as written (no tick table unless the builder made one).
    explicit TickReport(const support::ReportBuilder &Builder, bool Prepare = true)
    {
        const std::string Path = Builder.Write(Log.Dir.File("report.db"));
        EXPECT_EQ(sqlite3_open(Path.c_str(), &DB), SQLITE_OK);
        if (!Prepare)
            return;
        ExecSqlScript(DB, "BEGIN TRANSACTION;");
        for (const TPrepareStep &Step : ReportPreparationSteps)
            Step.Run(DB);
        ExecSqlScript(DB, "COMMIT; BEGIN TRANSACTION;");
    }
    ~TickReport()
    {
        DestroyCheckHelper(); // logs, so before the log goes
        sqlite3_close_v2(DB);
    }
    TickReport(const TickReport &) = delete;
    TickReport &operator=(const TickReport &) = delete;

    // Every row by fileID; a second row for one id fails the test.
    Snapshot Rows() const
    {
        Snapshot Result;
        sqlite3_stmt *Stmt = nullptr;
        sqlite3_prepare_v2(DB, "SELECT fileID, checked, checkForFolder, id_parent FROM check_and_comment_map",
                           -1, &Stmt, nullptr);
        while (sqlite3_step(Stmt) == SQLITE_ROW) {
            const int64_t ID = sqlite3_column_int64(Stmt, 0);
            const StoredRow Row{sqlite3_column_int(Stmt, 1), sqlite3_column_int(Stmt, 2),
                                sqlite3_column_int64(Stmt, 3)};
            EXPECT_TRUE(Result.emplace(ID, Row).second) << "second row for id " << ID;
        }
        sqlite3_finalize(Stmt);
        return Result;
    }

    // The item's row; nullopt when it has none.
    std::optional<StoredRow> Row(int64_t ID) const { return Find(Rows(), ID); }

    // SetCheckRecursive; the ids it touched, in list order.
    std::vector<int64_t> Tick(uint8_t State, int64_t ID) const
    {
        TInt64List List;
        SetCheckRecursive(DB, State, List, ID);
        return reporttest::Items(List);
    }

    reporttest::TempLog Log;
    sqlite3 *DB = nullptr;
};

// Runs Work on a thread of its own and aborts the test program when it has not ended within Seconds
// (a walk that loops); an exception of Work passes on.
template <typename TWork> void EndsWithin(int Seconds, TWork Work)
{
    std::future<void> Run = std::async(std::launch::async, Work);
    if (Run.wait_for(std::chrono::seconds(Seconds)) == std::future_status::timeout) {
        std::fprintf(stderr, "the walk did not end within %d s\n", Seconds);
        std::abort();
    }
    Run.get();
}

} // namespace ticktest
