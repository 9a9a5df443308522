// Unpacking a compressed report in place, with the real worker thread.
#include "report/uExtraFunctions.h"
#include "report/utDecompress.h"

#include "common/ssException.h"
#include "tests/support/DecompressHost.h"
#include "tests/support/NoPermissionOverride.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/SyntheticReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using reporttest::FileText;

void WriteAll(const std::string &Path, const std::string &Bytes)
{
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

std::string Compressed(const std::string &Bytes, const std::string &Scratch)
{
    WriteAll(Scratch, Bytes);
    support::CompressInPlace(Scratch);
    std::string packed = FileText(Scratch);
    fs::remove(Scratch);
    return packed;
}

std::vector<std::string> Listing(const std::string &Dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(Dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Files may grow to Bytes only while it lives; a write past that fails with EFBIG instead of a signal.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t Bytes) : FOldSignal(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &FOld);
        const rlimit limit{Bytes, FOld.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }

private:
    rlimit FOld{};
    void (*FOldSignal)(int);
};

class DecompressTest : public ::testing::Test
{
protected:
    // Returns the new name, or the failure's message after "!".
    std::string Unpack(const std::string &Source)
    {
        std::string newName = "not cleared";
        try {
            DecompressReport(QString::fromStdString(Source), Host, newName);
        } catch (const Exception &e) {
            EXPECT_EQ(newName, "");
            return "!" + e.Message().toStdString();
        }
        return newName;
    }

    support::TempDir Temp;
    support::DecompressHost Host;
};

// Two unpackings in one folder at once, beside links planted where a temporary file might go: each
// report is replaced by its own whole content, with its permission bits, and no link is followed.
TEST_F(DecompressTest, TwoAtOnceInOneFolderFollowNoLink)
{
    const std::string dir = Temp.File("reports");
    fs::create_directory(dir);
    const std::string big = dir + "/big.rpt", small = dir + "/small.rpt";
    support::MakeSyntheticReport(big, {.rows = 20000}); // many pieces, buffer flushes and refills
    support::ReportBuilder().Tree("D Docs\n  F a.txt 10\nF c.md 5\n").Write(small);
    const std::string bigPlain = FileText(big), smallPlain = FileText(small);
    ASSERT_GT(bigPlain.size(), 1000000u);
    support::CompressInPlace(big);
    support::CompressInPlace(small);
    fs::permissions(big, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string victim = Temp.File("victim");
    WriteAll(victim, "keep me");
    for (const char *name : {"tempKorrinBaseFile", "tempKorrinBaseFile.XXXXXX"})
        fs::create_symlink(victim, dir + "/" + name);
    const fs::path oldCwd = fs::current_path();
    fs::current_path(dir);
    Host.decompressFailed = 1;

    std::string smallResult;
    Host.BeforeShow = [&] {
        // the first one's temporary file stands beside the reports now
        EXPECT_EQ(Listing(dir).size(), 5u);
        smallResult = Unpack(small);
    };
    EXPECT_EQ(Unpack(big), big);
    fs::current_path(oldCwd);
    EXPECT_EQ(smallResult, small);
    EXPECT_TRUE(FileText(big) == bigPlain);
    EXPECT_TRUE(FileText(small) == smallPlain);
    EXPECT_EQ(fs::status(big).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FileText(victim), "keep me");
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"big.rpt", "small.rpt", "tempKorrinBaseFile",
                                                      "tempKorrinBaseFile.XXXXXX"}));
    EXPECT_TRUE(fs::is_symlink(dir + "/tempKorrinBaseFile"));
    EXPECT_EQ(Host.decompressFailed, 0);
    EXPECT_EQ(Host.Messages, (std::vector<std::string>{"close", "close"}));
}

// Every failure leaves the source byte for byte and nothing beside it, and says what happened; the
// worker's failure reaches the main window before its wait window closes.
TEST_F(DecompressTest, FailuresLeaveTheSourceAsItWas)
{
    const std::string dir = Temp.File("reports");
    fs::create_directory(dir);
    const std::string source = dir + "/report.rpt", scratch = Temp.File("scratch");
    support::MakeSyntheticReport(source, {.rows = 20000});
    const std::string plain = FileText(source);
    const std::string packed = Compressed(plain, scratch);
    std::string badCheck = packed;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    std::string sqliteJunk("SQLite format 3\0", 16);
    sqliteJunk.append(8192, '\x5a');
    enum TSetup { None, FullDisk, ReadOnlyFolder, UnreadableSource };
    const struct
    {
        const char *Name;
        std::string Bytes;
        TSetup Setup;
        const char *Says;     // part of the failure's message
        const char *Messages; // what the host heard
    } cases[] = {
        {"plain text", Compressed("no report in here", scratch), None, "no report", "error close"},
        {"an SQLite header and junk", Compressed(sqliteJunk, scratch), None, "no report", "close"},
        {"an empty stream", Compressed("", scratch), None, "no report", "error close"},
        {"an empty file", "", None, "before its end mark", "error close"},
        {"a stream cut in half", packed.substr(0, packed.size() / 2), None, "before its end mark",
         "error close"},
        {"a wrong check value", badCheck, None, "incorrect data check", "error close"},
        {"a database that is not compressed", plain, None, "incorrect header check", "error close"},
        {"a full disk", packed, FullDisk, std::strerror(EFBIG), "error close"},
        {"a folder that takes no file", packed, ReadOnlyFolder, std::strerror(EACCES), ""},
        {"a source that cannot be read", packed, UnreadableSource, std::strerror(EACCES), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        WriteAll(source, c.Bytes);
        Host.Messages.clear();
        std::string result;
        {
            support::TNoPermissionOverride noOverride;
            std::optional<TFileSizeLimit> limit;
            if (c.Setup == FullDisk)
                limit.emplace(plain.size() / 4);
            if (c.Setup == ReadOnlyFolder)
                fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
            if (c.Setup == UnreadableSource)
                fs::permissions(source, fs::perms::none);
            result = Unpack(source);
            fs::permissions(dir, fs::perms::owner_all);
            fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
        }
        EXPECT_EQ(result.rfind('!', 0), 0u) << result;
        EXPECT_NE(result.find(c.Says), std::string::npos) << result;
        EXPECT_TRUE(FileText(source) == c.Bytes);
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"report.rpt"});
        std::string heard;
        for (const std::string &m : Host.Messages)
            heard += (heard.empty() ? "" : " ") + m;
        EXPECT_EQ(heard, c.Messages);
    }
}

// Unpacking stops early, says why and leaves nothing behind: at its first bytes when they are no
// database (a small file that would fill the disk), and before the disk would keep less room free than
// the report's size and the reserve.
TEST_F(DecompressTest, StopsBeforeItFillsTheDisk)
{
    const std::string source = Temp.File("report.rpt"), scratch = Temp.File("scratch");
    support::MakeSyntheticReport(source, {.rows = 20000});
    const std::string plain = FileText(source);
    const uint64_t size = plain.size();
    ASSERT_GT(size, 1000000u);
    const std::string packed = Compressed(plain, scratch);
    const struct
    {
        const char *Name;
        std::string Bytes;
        uint64_t Capacity;
        const char *Says; // part of the failure's message; none for a success
    } cases[] = {
        // Far larger than what a file may grow to here: only its first bytes are ever written.
        {"zeros", Compressed(std::string(64 << 20, '\0'), scratch), UINT64_MAX, "no report"},
        {"a disk too small", packed, UnpackReserveBytes + size, "too little free room"},
        {"a disk large enough", packed, UnpackReserveBytes + 3 * size, nullptr},
    };
    const auto realDisk = FreeRoomOf;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        WriteAll(source, c.Bytes);
        // A disk that holds nothing but the file being unpacked; the largest that file was when asked.
        std::atomic<uint64_t> largest{0};
        FreeRoomOf = [&largest, &c](int Handle) -> uint64_t {
            struct stat status
            {
            };
            fstat(Handle, &status);
            largest = std::max<uint64_t>(largest, status.st_size);
            return c.Capacity - std::min<uint64_t>(c.Capacity, status.st_size);
        };
        std::string result;
        {
            TFileSizeLimit limit(size);
            result = Unpack(source);
        }
        FreeRoomOf = realDisk;
        if (!c.Says) {
            EXPECT_EQ(result, source);
            EXPECT_TRUE(FileText(source) == plain);
            continue;
        }
        EXPECT_NE(result.find(c.Says), std::string::npos) << result;
        EXPECT_LE(largest + UnpackReserveBytes, c.Capacity);
        EXPECT_TRUE(FileText(source) == c.Bytes);
        EXPECT_EQ(Listing(Temp.Path()), std::vector<std::string>{"report.rpt"});
    }
}

} // namespace
