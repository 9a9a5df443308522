#pragma once
// Shared by the benchmark programs that load folders into the folder tree (ThreadExpand, no view)
// and compare the load with its floor: the bare children's statement stepped to its end, plus the
// load's own log lines appended bare.
#include "bench/BenchSupport.h"
#include "platform/VirtualStringTree.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "viewer/utExpand.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace bench {

inline size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// Resident bytes of the process.
inline double ResidentBytes()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// The bare children's statement of ParentId, stepped to its end, reading every column the worker reads.
inline double BareChildren(sqlite3 *DB, int64_t ParentId)
{
    return Seconds([&] {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(DB,
                           "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, "
                           "F_CREATE, F_UPDATE, F_ACCESS, F_CHILDREN_SIZE FROM struct_drive_table      "
                           "WHERE (id_parent = ?) ORDER BY IS_FOLDER DESC, upper(F_NAME)",
                           -1, &stmt, nullptr);
        sqlite3_bind_int64(stmt, 1, ParentId);
        int64_t sum = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            sum += sqlite3_column_int64(stmt, 0) + sqlite3_column_int(stmt, 2) + sqlite3_column_int(stmt, 3);
            sum +=
                sqlite3_column_bytes(stmt, 4) + sqlite3_column_int64(stmt, 5) + sqlite3_column_int(stmt, 6);
            sum += sqlite3_column_bytes(stmt, 7) + sqlite3_column_bytes(stmt, 8) +
                   sqlite3_column_bytes(stmt, 9) + sqlite3_column_int64(stmt, 10);
        }
        sqlite3_finalize(stmt);
        benchmark::DoNotOptimize(sum);
    });
}

// The lines of the log file, each with its line break, as WriteLog appended them.
inline std::vector<std::string> LoggedLines()
{
    std::ifstream in(LogFileName(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end + 2 - start));
    return lines;
}

// The log's floor: each line appended to a file of its own, opened and closed for that line alone.
inline double BareLines(const std::vector<std::string> &Lines, const std::string &Path)
{
    close(open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return Seconds([&] {
        for (const std::string &line : Lines) {
            const int fd = open(Path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                std::abort();
            close(fd);
        }
    });
}

// The folder tree with the report's root and, unless FolderId is the root's (-1), that top-level
// folder's node; Node (not loaded yet) is the one to load.
struct TFolderTree
{
    TVirtualStringTree Tree;
    std::unique_ptr<TDirectoryList> Root;
    PVirtualNode Node = nullptr;

    explicit TFolderTree(int64_t FolderId = 1)
    {
        Root = std::make_unique<TDirectoryList>(QStringLiteral("big.db3"), -1, 0, 0, true, false, 0, 0, 0, 0);
        Node = AddInTreeView(&Tree, nullptr, Root.get());
        if (FolderId != -1) {
            auto *folder =
                new TDirectoryList(QStringLiteral("Big folder"), FolderId, -1, 0, true, false, 0, 0, 0, 0);
            Node = AddChildItem(Root.get(), nullptr, &Tree, Node, folder);
        }
    }
    ~TFolderTree() { Tree.Clear(); }

    // Runs the worker as the expanding event does (the tree in update meanwhile) and waits for its end.
    double Load(sqlite3 *DB)
    {
        std::promise<void> done;
        auto *worker =
            new ThreadExpand(Node, &Tree, DB, nullptr, nullptr, nullptr, GetNodeItem(Node, &Tree)->id);
        worker->OnFinish = [&done] { done.set_value(); };
        return Seconds([&] {
            Tree.BeginUpdate();
            worker->Resume();
            done.get_future().wait();
            Tree.EndUpdate();
        });
    }
    void Unload()
    {
        Tree.BeginUpdate();
        Tree.DeleteChildren(Node);
        GetNodeItem(Node, &Tree)->ClearChildren();
        Tree.EndUpdate();
    }
};

// Loads Tree's node again and again against its floor (CompareWithBare) on DB, whose open hook must
// answer DB; reports the children, the log lines, the floor's two parts and the heap and resident
// bytes that one loaded child costs.
inline void LoadAgainstFloor(benchmark::State &state, sqlite3 *DB, TFolderTree &Tree,
                             const std::string &LinesPath)
{
    const int64_t folderId = GetNodeItem(Tree.Node, &Tree.Tree)->id;
    uint32_t loaded = 0;
    double heap = 0;
    double resident = 0;
    std::vector<std::string> lines;
    double selectTotal = 0;
    double linesTotal = 0;
    CompareWithBare(
        state,
        [&] {
            malloc_trim(0);
            CreateLogFile(); // the log of one load only, as in one run of the program
            const size_t heapBefore = HeapInUse();
            const double residentBefore = ResidentBytes();
            const double seconds = Tree.Load(DB);
            heap = std::max(heap, double(HeapInUse() - heapBefore));
            resident = std::max(resident, ResidentBytes() - residentBefore);
            loaded = Tree.Node->ChildCount;
            lines = LoggedLines();
            Tree.Unload();
            return seconds;
        },
        [&] {
            // The first pass is ours, so the lines of a load are known here.
            const double select = BareChildren(DB, folderId);
            const double append = BareLines(lines, LinesPath);
            selectTotal += select;
            linesTotal += append;
            return select + append;
        });
    state.counters["children"] = loaded;
    state.counters["log_lines"] = double(lines.size());
    state.counters["select_s"] = selectTotal / double(state.iterations());
    state.counters["lines_s"] = linesTotal / double(state.iterations());
    state.counters["bytes_per_item"] = heap / std::max<uint32_t>(loaded, 1);
    state.counters["rss_bytes_per_item"] = resident / std::max<uint32_t>(loaded, 1);
}

} // namespace bench
