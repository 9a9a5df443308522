// Browsing 2,000 folders of a 1,000,000-row report one after another in the real main window
// (offscreen): each folder is focused (loaded, its files listed) and opened, then closed once its
// subfolders were seen, with one cycle of the unloading thread per folder, as for a user who spends
// half a second on each. Resident memory and heap at the end with unloading against without it, in
// one run; the browsing time against the bare children's statements of the same folders, and against
// the floor of all the work those folders need of the report and the log (BareBrowseFloor).
// BrowseTopFolders does the same over the 100 top folders (about 30 files each) of a small report,
// the shape the browsing in the real window under X is measured on.
#include "bench/BrowseBench.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"

namespace {

// Adds the floor's counters for a browsing of Path that took Ours seconds.
void CountFloor(benchmark::State &state, const support::TempDir &temp, const std::string &path,
                const bench::TBrowse &ours)
{
    const auto [data, lines] = bench::BareBrowseFloor(path, ours.Ids, ours.Lines, temp.File("lines.log"));
    state.counters["floor_s"] = data + lines;
    state.counters["floor_data_s"] = data;
    state.counters["floor_lines_s"] = lines;
    state.counters["log_lines"] = double(ours.Lines.size());
    state.counters["ratio_floor"] = ours.Seconds / (data + lines);
}

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
    CountFloor(state, temp, path, with);
    state.counters["rss_MB_unloading"] = with.Growth.RssMB;
    state.counters["rss_MB_without"] = without.Growth.RssMB;
    state.counters["heap_MB_unloading"] = with.Growth.HeapMB;
    state.counters["heap_MB_without"] = without.Growth.HeapMB;
    state.counters["loaded_unloading"] = with.Kept;
    state.counters["loaded_without"] = without.Kept;
    SetLogFolder("");
}

void BrowseTopFolders(benchmark::State &state)
{
    support::TempDir temp;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config")));
    SetLogFolder(temp.Path() + "/");
    const std::string path = temp.File("top.db3");
    support::SyntheticOptions options;
    options.rows = 3100;
    options.fanout = 100;
    options.depth = 1;
    options.folderShare = 0.04;
    support::MakeSyntheticReport(path, options);
    bench::TBrowse ours;
    double best = 0;
    for (auto _ : state) {
        // The root and its 100 folders, each loaded anew in a new window.
        ours = bench::TBrowser(path, false, 101).Run();
        state.SetIterationTime(ours.Seconds);
        best = best == 0 ? ours.Seconds : std::min(best, ours.Seconds);
    }
    state.counters["folders"] = double(ours.Ids.size());
    state.counters["ours_ms_per_folder"] = 1000 * best / double(ours.Ids.size());
    state.counters["bare_ms_per_folder"] = 1000 * bench::BareBrowse(path, ours.Ids) / double(ours.Ids.size());
    CountFloor(state, temp, path, ours);
    state.counters["floor_ms_per_folder"] = 1000 * state.counters["floor_s"] / double(ours.Ids.size());
    state.counters["ratio_floor"] = best / state.counters["floor_s"];
    SetLogFolder("");
}

} // namespace

BENCHMARK(BrowseFolders)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BrowseTopFolders)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv);
}
