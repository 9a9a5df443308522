// make-report: writes a report database for trying the viewer and for benchmarks, either synthetic
// (any size, shape and mix of names and dates) or from a real directory walk.
#include "tests/support/SyntheticReport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

const char *const kUsage = R"(Usage: make-report OUTPUT [options]

Writes a report database to OUTPUT (replacing it).

  --rows N               rows of struct_drive_table (default 100000)
  --fanout N             subfolders per folder (default 10)
  --depth N              folder levels below the root (default 4)
  --folder-share X       at most this share of the rows are folders (default 0.1)
  --deleted X            share of deleted items (default 0.05)
  --non-ascii X          share of non-ASCII names: Cyrillic, accented Latin, CJK, a few
                         characters outside the BMP (default 0.2)
  --dot-dates X          share of rows with "DD.MM.YYYY hh:mm:ss" times; the others read
                         "YYYY-MM-DD hh:mm:ss" (default 0.3)
  --big-folder N         one top-level folder (id 1) with N children (default 0: none)
  --big-folder-folders X share of the big folder's children that are folders (default 0)
  --seed N               random seed (default 1)
  --compress             write the zlib-compressed report instead of the database
  --level N              zlib level for --compress, 0..9 (default 6)
  --from-dir PATH        report the directory tree under PATH instead (uses --dot-dates,
                         --seed, --compress, --level)
  --help                 this text
)";

[[noreturn]] void Die(const std::string &message)
{
    std::fprintf(stderr, "make-report: %s\n(make-report --help shows the options)\n", message.c_str());
    std::exit(2);
}

template <typename T> T Number(std::string_view option, const char *text)
{
    char *end = nullptr;
    errno = 0;
    T value{};
    if constexpr (std::is_floating_point_v<T>)
        value = static_cast<T>(std::strtod(text, &end));
    else if constexpr (std::is_unsigned_v<T>)
        value = static_cast<T>(std::strtoull(text, &end, 10));
    else
        value = static_cast<T>(std::strtoll(text, &end, 10));
    if (end == text || *end != '\0' || errno != 0)
        Die("bad number for " + std::string(option) + ": " + text);
    return value;
}

} // namespace

int main(int argc, char **argv)
{
    support::SyntheticOptions options;
    std::string output;
    std::string fromDir;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                Die(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--rows")
            options.rows = Number<int64_t>(arg, value());
        else if (arg == "--fanout")
            options.fanout = Number<int>(arg, value());
        else if (arg == "--depth")
            options.depth = Number<int>(arg, value());
        else if (arg == "--folder-share")
            options.folderShare = Number<double>(arg, value());
        else if (arg == "--deleted")
            options.deletedShare = Number<double>(arg, value());
        else if (arg == "--non-ascii")
            options.nonAsciiShare = Number<double>(arg, value());
        else if (arg == "--dot-dates")
            options.dotDateShare = Number<double>(arg, value());
        else if (arg == "--big-folder")
            options.bigFolder = Number<int64_t>(arg, value());
        else if (arg == "--big-folder-folders")
            options.bigFolderFolders = Number<double>(arg, value());
        else if (arg == "--seed")
            options.seed = Number<uint64_t>(arg, value());
        else if (arg == "--compress")
            options.compressed = true;
        else if (arg == "--level")
            options.level = Number<int>(arg, value());
        else if (arg == "--from-dir")
            fromDir = value();
        else if (arg.size() > 1 && arg[0] == '-')
            Die("unknown option " + std::string(arg));
        else if (output.empty())
            output = arg;
        else
            Die("more than one output file");
    }
    if (output.empty())
        Die("no output file given");
    if (options.level < -1 || options.level > 9)
        Die("--level must lie between 0 and 9");

    const auto start = std::chrono::steady_clock::now();
    support::SyntheticReport report;
    try {
        report = fromDir.empty() ? support::MakeSyntheticReport(output, options)
                                 : support::MakeReportFromDirectory(output, fromDir, options);
    } catch (const std::exception &e) {
        Die(e.what());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %lld rows (%lld folders, %lld deleted, %lld non-ASCII names, %lld dotted dates)",
                output.c_str(), static_cast<long long>(report.rows), static_cast<long long>(report.folders),
                static_cast<long long>(report.deleted), static_cast<long long>(report.nonAscii),
                static_cast<long long>(report.dotDates));
    if (report.bigFolderId != 0)
        std::printf(", big folder id %lld", static_cast<long long>(report.bigFolderId));
    std::printf(", depth %d%s in %.2f s\n", report.maxDepth, options.compressed ? ", compressed" : "",
                seconds);
    return 0;
}
