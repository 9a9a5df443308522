// Unpacking a compressed report of 1 GB (DecompressReport: the worker, its wait window and the
// replacement of the source) against a bare zlib inflate loop over the same file into a file beside it,
// synced to the disk as the unpacking does, in the same run. DECOMPRESS_BENCH_MB sets another size of
// the inflated report for quick runs. The files live in a folder under /tmp that is removed at the end.
#include "bench/BenchSupport.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "tests/support/DecompressHost.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/SyntheticReport.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int64_t TargetBytes()
{
    const char *mb = std::getenv("DECOMPRESS_BENCH_MB");
    const int64_t size = mb && *mb ? std::atoll(mb) : 1024;
    return (size > 0 ? size : 1024) * 1024 * 1024;
}

struct Fixture
{
    std::string Dir;
    std::string Packed; // the compressed report, kept for every pass
    std::string Source; // a fresh copy of it for each unpacking
    std::string BareOut;
    uintmax_t PlainSize = 0;
    support::DecompressHost Host;

    Fixture()
    {
        char pattern[] = "/tmp/parvix-decompress-XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        Dir = pattern;
        Packed = Dir + "/report.packed";
        Source = Dir + "/report.rpt";
        BareOut = Dir + "/bare.db";
        SetLogFolder(Dir + "/");
        CreateLogFile();

        // rows for the wanted size, from the size of a sample
        const std::string plain = Dir + "/report.plain";
        constexpr int64_t SampleRows = 20000;
        bench::WriteReport(plain, SampleRows);
        const int64_t rows = std::max<int64_t>(
            SampleRows, int64_t(double(TargetBytes()) * SampleRows / double(fs::file_size(plain))));
        bench::WriteReport(plain, rows);
        PlainSize = fs::file_size(plain);
        support::CompressFile(plain, Packed);
        fs::remove(plain);
        std::fprintf(stderr, "report: %lld rows, %.1f MB inflated, %.1f MB compressed\n",
                     static_cast<long long>(rows), double(PlainSize) / 1048576.0,
                     double(fs::file_size(Packed)) / 1048576.0);
    }
    ~Fixture()
    {
        SetLogFolder("");
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
};

std::unique_ptr<Fixture> Shared;

Fixture &Get()
{
    if (!Shared)
        Shared = std::make_unique<Fixture>();
    return *Shared;
}

// Inflates Packed into Out with plain zlib calls: 64 KiB in, 64 KiB out, written by stdio.
void BareInflate(const std::string &Packed, const std::string &Out)
{
    std::FILE *in = std::fopen(Packed.c_str(), "rb");
    std::FILE *out = std::fopen(Out.c_str(), "wb");
    if (!in || !out)
        std::abort();
    std::vector<unsigned char> input(65536), output(65536);
    z_stream z{};
    inflateInit(&z);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (z.avail_in == 0) {
            z.avail_in = static_cast<uInt>(std::fread(input.data(), 1, input.size(), in));
            z.next_in = input.data();
            if (z.avail_in == 0)
                std::abort();
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        result = inflate(&z, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            std::abort();
        std::fwrite(output.data(), 1, output.size() - z.avail_out, out);
    }
    inflateEnd(&z);
    std::fclose(in);
    // On the disk before it counts as written, as the unpacking makes sure before replacing the source.
    if (std::fflush(out) != 0 || ::fsync(fileno(out)) != 0 || std::fclose(out) != 0)
        std::abort();
}

void DecompressReport1GB(benchmark::State &state)
{
    Fixture &f = Get();
    auto ours = [&] {
        fs::copy_file(f.Packed, f.Source, fs::copy_options::overwrite_existing);
        ::sync(); // the copy's writing is no part of the unpacking
        std::string newName;
        const double seconds =
            bench::Seconds([&] { DecompressReport(QString::fromStdString(f.Source), f.Host, newName); });
        if (newName != f.Source || fs::file_size(f.Source) != f.PlainSize) {
            std::fprintf(stderr, "unpacking failed\n");
            std::abort();
        }
        fs::remove(f.Source);
        return seconds;
    };
    auto bare = [&] {
        ::sync();
        const double seconds = bench::Seconds([&] { BareInflate(f.Packed, f.BareOut); });
        if (fs::file_size(f.BareOut) != f.PlainSize)
            std::abort();
        fs::remove(f.BareOut);
        return seconds;
    };
    bench::CompareWithBare(state, ours, bare);
    state.counters["MB"] = double(f.PlainSize) / 1048576.0;
}

} // namespace

BENCHMARK(DecompressReport1GB)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return bench::RunWithWidgets(argc, argv, {}, [] { Shared.reset(); }); // removes the report files
}
