// Unpacking a compressed report in place, with the real wait window and worker thread.
#include "report/uExtraFunctions.h"

#include "report/uLog.h"
#include "report/utDecompress.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/DecompressHost.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/SyntheticReport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string &Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string &Path, const std::string &Bytes)
{
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

// Takes the file-permission override away from this thread while it lives (root passes every
// permission check otherwise), so that a mode of 0 or 0555 means what it says.
class TNoPermissionOverride
{
public:
    TNoPermissionOverride()
    {
        FOk = syscall(SYS_capget, &FHeader, FSaved) == 0;
        __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        FOk = FOk && syscall(SYS_capset, &FHeader, reduced) == 0;
    }
    ~TNoPermissionOverride()
    {
        if (FOk)
            syscall(SYS_capset, &FHeader, FSaved);
    }
    // Whether Path cannot be opened with Flags now (where it can, the test has nothing to show).
    static bool Denied(const std::string &Path, int Flags)
    {
        const int fd = ::open(Path.c_str(), Flags, 0666);
        if (fd >= 0)
            ::close(fd);
        return fd < 0;
    }

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FOk = false;
};

class DecompressTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLogFolder(FTemp.Path() + "/");
        SetLogErrorDisplay([](const QString &msg) { ADD_FAILURE() << "log error: " << msg.toStdString(); });
        CreateLogFile();
        FOldCwd = fs::current_path();
        fs::create_directory(Work());
        fs::create_directory(Reports());
        fs::current_path(Work());
    }
    void TearDown() override
    {
        fs::current_path(FOldCwd);
        for (const std::string &dir : {Work(), Reports()})
            if (fs::exists(dir))
                fs::permissions(dir, fs::perms::owner_all);
        SetLogErrorDisplay({});
        SetLogFolder("");
    }

    std::string Work() const { return FTemp.File("work"); }
    std::string Reports() const { return FTemp.File("reports"); }
    std::string TempFile() const { return Work() + "/tempKorrinBaseFile"; }

    // A small report compressed under Reports(); returns its path.
    std::string SmallCompressed(const std::string &Name)
    {
        const std::string packed = Reports() + "/" + Name;
        support::ReportBuilder().Tree("D Docs\n  F a.txt 10\n  F b.doc 20\nF c.md 5\n").Write(packed);
        FPlain = ReadAll(packed);
        support::CompressInPlace(packed);
        return packed;
    }

    std::string Decompress(const std::string &Source, bool BoxExpected = false)
    {
        support::BoxAnswerer boxes(BoxExpected);
        support::ModalGuard guard;
        std::string newName = "not cleared";
        DecompressReport(QString::fromStdString(Source), Host, newName);
        BoxTexts = boxes.Texts;
        return newName;
    }

    support::TempDir FTemp;
    fs::path FOldCwd;
    std::string FPlain; // the database inside SmallCompressed
    support::DecompressHost Host;
    QStringList BoxTexts;
};

TEST_F(DecompressTest, ValidReportReplacesTheSourceUnderItsOwnWaitWindow)
{
    // large enough for many pieces, write-buffer flushes and input refills
    const std::string source = Reports() + "/report.rpt";
    support::MakeSyntheticReport(source, {.rows = 20000});
    const std::string expected = ReadAll(source);
    ASSERT_GT(expected.size(), 1000000u);
    support::CompressInPlace(source);
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(source, mode);
    Host.decompressFailed = 1;

    EXPECT_EQ(Decompress(source), source);
    EXPECT_TRUE(ReadAll(source) == expected) << "the inflated database stands at the source path";
    EXPECT_FALSE(fs::exists(TempFile()));
    EXPECT_EQ(fs::status(source).permissions() & fs::perms::all, mode);
    EXPECT_EQ(Host.decompressFailed, 0);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"close"});
    // a wait window of its own, owned by the main window, with its text, closed again
    ASSERT_EQ(Host.WaitForms.size(), 1u);
    EXPECT_EQ(Host.WaitForms[0]->parent(), &Host);
    EXPECT_EQ(Host.WaitTexts[0], QStringLiteral("Extracting report."));
    EXPECT_FALSE(Host.WaitForms[0]->isVisible());
    EXPECT_EQ(std::distance(fs::directory_iterator(Reports()), fs::directory_iterator()), 1)
        << "nothing left beside the report either";
}

TEST_F(DecompressTest, BrokenStreamsLeaveTheSourceAsItWas)
{
    const std::string packed = ReadAll(SmallCompressed("ok.rpt"));
    std::string flipped = packed;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x5A);
    std::string badCheck = packed;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    const struct
    {
        const char *Name;
        std::string Bytes;
    } cases[] = {
        {"garbage", std::string(5000, 'x')},
        {"a database that is not compressed", FPlain},
        {"a stream cut in half", packed.substr(0, packed.size() / 2)},
        {"a stream without its check value", packed.substr(0, packed.size() - 4)},
        {"a stream cut after its header", packed.substr(0, 2)},
        {"damaged deflate data", flipped},
        {"a wrong check value", badCheck},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string source = Reports() + "/broken.rpt";
        WriteAll(source, c.Bytes);
        Host.Messages.clear();
        EXPECT_EQ(Decompress(source), ""); // no box: the caller tells the user
        EXPECT_TRUE(ReadAll(source) == c.Bytes) << "the source is untouched";
        EXPECT_EQ(Host.decompressFailed, 1);
        // the failure reaches the main window before the wait window closes
        EXPECT_EQ(Host.Messages, (std::vector<std::string>{"error", "close"}));
        EXPECT_FALSE(Host.WaitForms.back()->isVisible());
        EXPECT_TRUE(fs::exists(TempFile())) << "the partial file stays behind";
    }
}

TEST_F(DecompressTest, SuccessAfterAFailureClearsTheFlag)
{
    const std::string broken = Reports() + "/broken.rpt";
    WriteAll(broken, "not a zlib stream");
    EXPECT_EQ(Decompress(broken), "");
    EXPECT_EQ(Host.decompressFailed, 1);

    // a longer leftover of an earlier run is cut, not written over in part
    WriteAll(TempFile(), std::string(400000, 'z'));
    const std::string good = SmallCompressed("good.rpt");
    EXPECT_EQ(Decompress(good), good);
    EXPECT_EQ(Host.decompressFailed, 0);
    EXPECT_TRUE(ReadAll(good) == FPlain);
    EXPECT_FALSE(fs::exists(TempFile()));
    EXPECT_EQ(Host.WaitForms.size(), 2u) << "every unpacking makes a wait window of its own";

    // an empty source inflates to an empty file
    WriteAll(broken, "");
    Host.decompressFailed = 1;
    EXPECT_EQ(Decompress(broken), broken);
    EXPECT_TRUE(fs::exists(broken) && fs::file_size(broken) == 0);
    EXPECT_FALSE(fs::exists(TempFile()));
    EXPECT_EQ(Host.decompressFailed, 0);
}

TEST_F(DecompressTest, UnreadableSourcePassesTheErrorOnAndStaysAsItWas)
{
    std::string newName = "x";
    EXPECT_THROW(DecompressReport(QString::fromStdString(Reports() + "/missing.rpt"), Host, newName),
                 EStreamError);
    EXPECT_EQ(newName, "");

    const std::string source = SmallCompressed("locked.rpt");
    const std::string before = ReadAll(source);
    fs::permissions(source, fs::perms::none);
    Host.decompressFailed = 1;
    newName = "x";
    {
        TNoPermissionOverride noOverride;
        if (!noOverride.Denied(source, O_RDONLY))
            GTEST_SKIP() << "a file of mode 0 stays readable here";
        try {
            DecompressReport(QString::fromStdString(source), Host, newName);
            ADD_FAILURE() << "no exception";
        } catch (const EStreamError &e) {
            EXPECT_TRUE(e.Message().startsWith(
                QStringLiteral("Cannot open file \"%1\".").arg(QString::fromStdString(source))))
                << e.Message().toStdString();
        }
    }
    EXPECT_EQ(newName, "");
    EXPECT_EQ(Host.decompressFailed, 0) << "cleared before the source is opened";
    fs::permissions(source, fs::perms::owner_read);
    EXPECT_TRUE(ReadAll(source) == before);
    EXPECT_TRUE(Host.WaitForms.empty()) << "no wait window without a source";
}

TEST_F(DecompressTest, UnwritableTemporaryLocationShowsTheErrorInABox)
{
    const std::string report = SmallCompressed("report.rpt");
    const std::string packed = ReadAll(report);
    // a folder where the temporary file belongs; a report that is itself the temporary file (it must
    // not be cut); a current folder that cannot be written
    for (const std::string kind : {"folder", "same file", "unwritable"}) {
        SCOPED_TRACE(kind);
        std::string source = report;
        if (kind == "folder") {
            fs::create_directory(TempFile());
        } else if (kind == "same file") {
            WriteAll(TempFile(), packed);
            source = TempBaseFileName;
        } else {
            fs::permissions(Work(), fs::perms::owner_read | fs::perms::owner_exec);
        }
        Host.decompressFailed = 1;
        {
            TNoPermissionOverride noOverride;
            if (kind == "unwritable" && !noOverride.Denied(TempFile(), O_WRONLY | O_CREAT))
                GTEST_SKIP() << "a folder of mode 0500 stays writable here";
            EXPECT_EQ(Decompress(source, true), "");
        }
        ASSERT_EQ(BoxTexts.size(), 1);
        EXPECT_TRUE(BoxTexts[0].startsWith(QStringLiteral("Cannot create file \"tempKorrinBaseFile\". ")))
            << BoxTexts[0].toStdString();
        EXPECT_EQ(Host.decompressFailed, 1) << "nothing happened after the box";
        EXPECT_TRUE(Host.WaitForms.empty());
        EXPECT_TRUE(ReadAll(source) == packed);
        fs::remove_all(TempFile());
    }
}

TEST_F(DecompressTest, ReplacesAcrossFileSystems)
{
    struct stat shm = {}, reports = {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(Reports().c_str(), &reports) != 0 ||
        shm.st_dev == reports.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    char pattern[] = "/dev/shm/parvix-work-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string work = pattern;
    const std::unique_ptr<const char, void (*)(const char *)> removeWork(
        pattern, [](const char *dir) { fs::remove_all(dir); });
    fs::current_path(work);

    const std::string source = SmallCompressed("report.rpt");
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Decompress(source), source);
    EXPECT_TRUE(ReadAll(source) == FPlain);
    EXPECT_EQ(fs::status(source).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(work + "/tempKorrinBaseFile"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Reports()), fs::directory_iterator()), 1)
        << "the copy beside the report was renamed over it";
}

TEST_F(DecompressTest, ReplacementThatCannotBeMadeKeepsBothFiles)
{
    const std::string source = SmallCompressed("report.rpt");
    const std::string before = ReadAll(source);
    fs::permissions(Reports(), fs::perms::owner_read | fs::perms::owner_exec);
    std::string newName;
    {
        TNoPermissionOverride noOverride;
        if (!noOverride.Denied(Reports() + "/probe", O_WRONLY | O_CREAT))
            GTEST_SKIP() << "a folder of mode 0500 stays writable here";
        newName = Decompress(source);
    }
    EXPECT_EQ(newName, "");
    EXPECT_TRUE(ReadAll(source) == before) << "the compressed report is still there";
    EXPECT_TRUE(ReadAll(TempFile()) == FPlain) << "and so is the whole inflated one";
    EXPECT_EQ(Host.decompressFailed, 0);
}

// The inflating stream hands out the same bytes whatever pieces it is read in, and stops at the end
// mark: what follows it is not read as content.
TEST_F(DecompressTest, DecompressionStreamReadsInAnyPieces)
{
    std::string content;
    for (int i = 0; content.size() < 300000; ++i)
        content += std::to_string(i * 7919 % 100003) + (i % 3 ? "," : "\n");
    const std::string source = Reports() + "/data.z";
    WriteAll(source, content);
    support::CompressInPlace(source);
    std::ofstream(source, std::ios::binary | std::ios::app) << "trailing bytes";
    for (size_t piece : {size_t(1), size_t(7), size_t(1000), size_t(65536), size_t(70001)}) {
        SCOPED_TRACE(piece);
        TFileStream in(source, TFileStream::fmOpenRead);
        TDecompressionStream unzip(in);
        std::string got;
        std::vector<char> buffer(piece);
        for (size_t n; (n = unzip.Read(buffer.data(), piece)) > 0;) {
            EXPECT_TRUE(n == piece || got.size() + n == content.size()) << "short read before the end";
            got.append(buffer.data(), n);
        }
        EXPECT_TRUE(got == content);
        EXPECT_EQ(unzip.Read(buffer.data(), piece), 0u);
    }
}

// The worker alone: a failing write is reported, in the order of its messages.
TEST_F(DecompressTest, WorkerReportsAWriteFailure)
{
    const std::string source = SmallCompressed("report.rpt");
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TFileStream in(source, TFileStream::fmOpenRead);
    TFileStream out("/dev/full", TFileStream::fmCreate);
    QObject *wait = Host.CreateDecompressWaitForm(QStringLiteral("w"));
    auto *worker = new TDeCompressThread(wait, &Host, &in, &out);
    std::future<bool> done = worker->Completion();
    worker->Resume();
    support::ModalGuard guard;
    Host.ShowDecompressWaitForm(wait);
    EXPECT_FALSE(done.get());
    EXPECT_EQ(Host.decompressFailed, 1);
    EXPECT_EQ(Host.Messages, (std::vector<std::string>{"error", "close"}));
}

} // namespace
