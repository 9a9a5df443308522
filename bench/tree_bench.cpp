// The tree control with a million children under one parent: adding them inside an update and ending
// it with the view shown (the view then lays the rows out and paints), deleting them, ticking the
// parent (pushed down to every child), sorting them, and the memory a node costs. Each is compared
// with the bare SQLite work of reading as many rows (a SELECT of id and name stepped to its end) in the
// same run.
#include "bench/BenchSupport.h"
#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeModel.h"
#include "platform/VirtualTreeView.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int Children = 1000000;

// A table of a million rows in memory, read bare.
struct TBareRows
{
    sqlite3 *DB = nullptr;
    TBareRows()
    {
        sqlite3_open(":memory:", &DB);
        bench::Exec(DB, "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT);");
        bench::Exec(DB, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                            std::to_string(Children) +
                            ") INSERT INTO t SELECT i, 'file_' || i || '.txt' FROM n;");
    }
    ~TBareRows() { sqlite3_close(DB); }
    double Read() const
    {
        return bench::Seconds([this] {
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(DB, "SELECT id, name FROM t", -1, &stmt, nullptr);
            int64_t sum = 0;
            while (sqlite3_step(stmt) == SQLITE_ROW)
                sum += sqlite3_column_int64(stmt, 0) + sqlite3_column_bytes(stmt, 1);
            sqlite3_finalize(stmt);
            benchmark::DoNotOptimize(sum);
        });
    }
};

TBareRows &Bare()
{
    static TBareRows bare;
    return bare;
}

// Heap in use, the large blocks that malloc maps on their own included.
size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A tree shown in a view, like the file list: columns, check boxes, a text event.
struct TShown
{
    TVirtualStringTree Tree;
    std::unique_ptr<TVirtualTreeView> View;
    PVirtualNode Parent = nullptr;

    explicit TShown(bool WithView)
    {
        Tree.Header.AddColumn(QStringLiteral("Name"), 300);
        Tree.Header.AddColumn(QStringLiteral("Size"), 150, Qt::AlignRight);
        Tree.Header.SetVisible(true);
        Tree.OnGetText = [](TVirtualStringTree *, PVirtualNode n, int, TVSTTextType, QString &Text) {
            Text = QString::number(reinterpret_cast<intptr_t>(n->Data));
        };
        Parent = Tree.AddChild(nullptr);
        Tree.SetCheckType(Parent, ctTriStateCheckBox);
        if (WithView) {
            View = std::make_unique<TVirtualTreeView>(&Tree);
            View->resize(800, 600);
            View->show();
            QCoreApplication::processEvents();
        }
        Tree.SetExpanded(Parent, true);
    }
    // Adds the children inside an update and ends it; with a view, until the rows are laid out and painted.
    void Fill()
    {
        Tree.BeginUpdate();
        for (intptr_t i = 0; i < Children; ++i) {
            PVirtualNode n = Tree.AddChild(Parent, reinterpret_cast<void *>(i));
            n->CheckType = ctTriStateCheckBox;
        }
        Tree.EndUpdate();
        if (View)
            View->viewport()->repaint();
    }
    void Empty()
    {
        Tree.BeginUpdate();
        Tree.DeleteChildren(Parent);
        Tree.EndUpdate();
        if (View)
            View->viewport()->repaint();
    }
};

void AddMillion(benchmark::State &state, bool WithView)
{
    TShown shown(WithView);
    size_t bytes = 0;
    bench::CompareWithBare(
        state,
        [&] {
            const size_t before = HeapInUse();
            const double s = bench::Seconds([&] { shown.Fill(); });
            bytes = std::max(bytes, HeapInUse() - before); // the first pass: later ones reuse what stays
            shown.Empty();
            return s;
        },
        [] { return Bare().Read(); });
    state.counters["bytes_per_node"] = double(bytes) / Children;
}

void AddMillionChildrenShown(benchmark::State &state)
{
    AddMillion(state, true);
}

void AddMillionChildrenNoView(benchmark::State &state)
{
    AddMillion(state, false);
}

void DeleteMillionChildrenShown(benchmark::State &state)
{
    TShown shown(true);
    bench::CompareWithBare(
        state,
        [&] {
            shown.Fill();
            return bench::Seconds([&] { shown.Empty(); });
        },
        [] { return Bare().Read(); });
}

void TickParentOfMillion(benchmark::State &state)
{
    TShown shown(true);
    shown.Fill();
    int checking = 0;
    shown.Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode, TCheckState &, bool &) { ++checking; };
    bool on = false;
    bench::CompareWithBare(
        state,
        [&] {
            on = !on;
            return bench::Seconds([&] {
                shown.Tree.SetCheckState(shown.Parent, on ? csCheckedNormal : csUncheckedNormal);
                shown.View->viewport()->repaint();
            });
        },
        [] { return Bare().Read(); });
    benchmark::DoNotOptimize(checking);
}

void SortMillionChildrenShown(benchmark::State &state)
{
    TShown shown(true);
    shown.Fill();
    shown.Tree.OnCompareNodes = [](TVirtualStringTree *, PVirtualNode a, PVirtualNode b, int, int &Result) {
        const intptr_t x = reinterpret_cast<intptr_t>(a->Data), y = reinterpret_cast<intptr_t>(b->Data);
        Result = x < y ? -1 : x > y ? 1 : 0;
    };
    bool down = false;
    bench::CompareWithBare(
        state,
        [&] {
            down = !down;
            return bench::Seconds([&] {
                shown.Tree.SortTree(0, down ? sdDescending : sdAscending);
                shown.View->viewport()->repaint();
            });
        },
        [] { return Bare().Read(); });
}

// Scrolling the shown million rows from top to bottom, one page at a time, painting each page: the
// view asks only for the rows in sight, whatever the count.
void ScrollMillionChildrenShown(benchmark::State &state)
{
    TShown shown(true);
    shown.Fill();
    constexpr int Pages = 2000;
    QScrollBar *bar = shown.View->verticalScrollBar();
    bench::CompareWithBare(
        state,
        [&] {
            return bench::Seconds([&] {
                for (int p = 0; p <= Pages; ++p) {
                    bar->setValue(int(int64_t(bar->maximum()) * p / Pages));
                    shown.View->viewport()->repaint();
                }
            });
        },
        [] { return Bare().Read(); });
    state.counters["pages"] = Pages + 1;
}

} // namespace

BENCHMARK(ScrollMillionChildrenShown)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(AddMillionChildrenShown)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(AddMillionChildrenNoView)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteMillionChildrenShown)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(TickParentOfMillion)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(SortMillionChildrenShown)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv, Bare);
}
