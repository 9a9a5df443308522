// Browsing 2,000 folders of a 1,000,000-row report one after another in the real main window
// (offscreen): each folder is focused (loaded, its files listed) and opened, then closed once its
// subfolders were seen, with one cycle of the unloading thread per folder, as for a user who spends
// half a second on each. Resident memory and heap at the end with unloading against without it, in
// one run; the browsing time against the bare children's statements of the same folders.
#include "bench/BrowseBench.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"

namespace {

void BrowseFolders(benchmark::State &state)
{
    support::TempDir temp;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config")));
    SetLogFolder(temp.Path() + "/");
    const std::string path = temp.File("big.db3");
    bench::WriteReport(path, 1000000);
    bench::TBrowse with, without;
    for (auto _ : state) {
        with = bench::TBrowser(path, true).Run();
        without = bench::TBrowser(path, false).Run();
        state.SetIterationTime(with.Seconds);
    }
    const double bare = bench::BareBrowse(path, with.Ids);
    state.counters["folders"] = double(with.Ids.size());
    state.counters["ours_s"] = with.Seconds;
    state.counters["bare_s"] = bare;
    state.counters["s_without"] = without.Seconds;
    state.counters["ratio"] = with.Seconds / bare;
    state.counters["rss_MB_unloading"] = with.Growth.RssMB;
    state.counters["rss_MB_without"] = without.Growth.RssMB;
    state.counters["heap_MB_unloading"] = with.Growth.HeapMB;
    state.counters["heap_MB_without"] = without.Growth.HeapMB;
    state.counters["loaded_unloading"] = with.Kept;
    state.counters["loaded_without"] = without.Kept;
    SetLogFolder("");
}

} // namespace

BENCHMARK(BrowseFolders)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv);
}
