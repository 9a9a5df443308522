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
#include <tuple>
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

// Rows that a review by an earlier build or another copy may have left: folders ticked as a whole,
// some with an untick inside (mixed), items with rows of their own (a comment, a tick) below folders
// without rows, and folders whose checked and checkForFolder differ (an earlier push-down changed
// checked only). Items holds (id, parent id, is folder), parents before their children; the root -1
// may get a row too.
template <typename TRng>
std::vector<support::CheckRow> EarlierReviewRows(const std::vector<std::tuple<int64_t, int64_t, bool>> &Items,
                                                 TRng &Rng)
{
    std::map<int64_t, int64_t> Parent;
    std::map<int64_t, std::pair<int64_t, int64_t>> Stored; // checked, checkForFolder
    const auto Inherited = [&](int64_t ID) {
        for (int Up = 0; Up < 10000 && ID != -1; ++Up) {
            ID = Parent.count(ID) ? Parent[ID] : -1;
            if (const auto It = Stored.find(ID); It != Stored.end())
                return It->second.second == 1 ? int64_t(1) : int64_t(0);
        }
        return int64_t(0);
    };
    std::vector<support::CheckRow> Rows;
    const auto Add = [&](int64_t ID, int64_t P, int64_t Checked, int64_t Folder, bool Comment) {
        Stored[ID] = {Checked, Folder};
        Rows.push_back({Comment ? std::optional<std::string>("earlier") : std::nullopt, Checked, ID, P,
                        std::nullopt, Folder});
    };
    if (Rng() % 3 == 0) {
        const int64_t V = int64_t(Rng() % 2);
        Add(-1, -1, V, V, false);
    }
    for (const auto &[ID, P, IsFolder] : Items) {
        Parent[ID] = P;
        const int64_t Own = Inherited(ID), V = int64_t(Rng() % 2);
        switch (Rng() % 24) {
        case 0: // a comment keeps what the item counts as
            Add(ID, P, Own, Own, true);
            break;
        case 1: // a tick of its own
            Add(ID, P, 1 - Own, 1 - Own, Rng() % 2 == 0);
            break;
        case 2:
            if (IsFolder)
                Add(ID, P, V, V, false);
            break;
        case 3: // ticked as a whole, then something inside unticked
        case 4:
            if (IsFolder)
                Add(ID, P, 2, Rng() % 4 ? 1 : 0, false);
            break;
        case 5:
            if (IsFolder)
                Add(ID, P, V, 1 - V, false);
            break;
        }
    }
    return Rows;
}

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
