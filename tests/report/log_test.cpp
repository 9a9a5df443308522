#include "report/uLog.h"

#include "common/ssMutex.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct TShown
{
    QString Msg;
    bool OnMainThread;
};

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        SetLogFolder(FDir.path().toStdString() + "/");
        // A mutex of this test's own, so that holding it stalls no other program's log.
        UseLogMutexName("logTest." + std::to_string(getpid()));
        ResetLogErrorShown();
        SetLogErrorDisplay([this](const QString &msg) {
            FShown.push_back({msg, QThread::currentThread() == QCoreApplication::instance()->thread()});
        });
    }
    void TearDown() override
    {
        SetLogErrorDisplay({});
        SetLogFolder({});
        UseLogMutexName({});
        ResetLogErrorShown();
    }

    QString LogPath() const { return FDir.path() + QStringLiteral("/ParvixViewer.log"); }
    QByteArray Content() const
    {
        QFile f(LogPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir FDir;
    std::vector<TShown> FShown; // touched on the main thread only
};

// A line written by writer w as its n-th: long enough that a torn line cannot pass for a whole one.
std::string Line(int w, int n)
{
    return "writer " + std::to_string(w) + " line " + std::to_string(n) + " " +
           std::string(300, char('a' + w)) + " end";
}

// Every line whole and each writer's lines complete and in its own order.
void ExpectWholeLines(const QByteArray &content, int writers, int perWriter)
{
    ASSERT_TRUE(content.endsWith("\r\n"));
    const QList<QByteArray> lines = content.chopped(1).split('\n');
    ASSERT_EQ(lines.size(), writers * perWriter);
    std::map<int, int> next;
    for (const QByteArray &raw : lines) {
        ASSERT_TRUE(raw.endsWith('\r')) << raw.toStdString();
        const QByteArray line = raw.chopped(1);
        int w = -1, n = -1;
        ASSERT_EQ(std::sscanf(line.constData(), "writer %d line %d", &w, &n), 2) << line.toStdString();
        ASSERT_EQ(line.toStdString(), Line(w, n));
        ASSERT_EQ(n, next[w]++) << "lines of writer " << w << " out of order";
    }
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(next[w], perWriter);
}

} // namespace

TEST_F(LogTest, LinesOfTwoThreadsOrTwoProcessesNeverInterleaveAndOutliveTheOtherCopysEnd)
{
    constexpr int perWriter = 2000;
    const auto write = [](int w) {
        for (int n = 0; n < perWriter; ++n)
            WriteLog(Line(w, n));
    };
    CreateLogFile();
    std::thread other(write, 1);
    write(0);
    other.join();
    ExpectWholeLines(Content(), 2, perWriter);
    EXPECT_TRUE(FShown.empty());

    CreateLogFile(); // empties the file
    EXPECT_EQ(Content(), QByteArray());
    pid_t pid = fork();
    if (pid == 0) {
        write(1);
        _exit(0);
    }
    ASSERT_GT(pid, 0);
    write(0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ExpectWholeLines(Content(), 2, perWriter);

    // The other copy ends first and deletes the shared log: this one's next line makes it again.
    if ((pid = fork()) == 0) {
        DeleteLogFile();
        _exit(0);
    }
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    WriteLog("still running");
    EXPECT_EQ(Content(), QByteArray("still running\r\n"));
    EXPECT_TRUE(FShown.empty());
}

TEST_F(LogTest, AnUnwritableFolderShowsOneBoxPerRunOnTheMainThreadWithoutBlockingAWorker)
{
    // A folder that does not exist: the tests may run as root, who may write anywhere.
    SetLogFolder(FDir.path().toStdString() + "/missing/");
    std::promise<void> written, end;
    std::thread worker([&] {
        WriteLog("from a worker");
        written.set_value();
        end.get_future().wait();
    });
    // The worker got through before the main thread looked at its events: it did not wait for the box.
    written.get_future().wait();
    EXPECT_TRUE(FShown.empty());
    // And it gave the mutex back (it is still alive, so this is no abandoned mutex).
    EXPECT_TRUE(logMutex().Get(0));
    EXPECT_TRUE(logMutex().Release());
    end.set_value();
    worker.join();
    QCoreApplication::processEvents();
    ASSERT_EQ(FShown.size(), 1u);
    EXPECT_TRUE(FShown[0].OnMainThread);
    EXPECT_TRUE(FShown[0].Msg.contains(QStringLiteral("/missing/ParvixViewer.log")));

    // No further box in this run, from any thread.
    CreateLogFile();
    std::thread([] { WriteLog("line"); }).join();
    WriteLog("line");
    QCoreApplication::processEvents();
    EXPECT_EQ(FShown.size(), 1u);
}

// A symbolic link at the log's path, to a file or to nothing, is never followed nor removed: its target
// is neither emptied, written nor made. The log writes nothing and says so once.
TEST_F(LogTest, ALinkInTheLogsPlaceIsNeverFollowedNorRemoved)
{
    const QString target = FDir.path() + QStringLiteral("/target.txt");
    for (const QByteArray kept : {QByteArray("kept\n"), QByteArray("<missing>")}) {
        if (QFile f(target); !kept.startsWith('<'))
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(kept) == kept.size());
        QFile::remove(LogPath());
        ASSERT_TRUE(QFile::link(target, LogPath()));
        ResetLogErrorShown();
        FShown.clear();
        CreateLogFile();
        WriteLog("line");
        EXPECT_EQ(Content().toStdString(), kept.toStdString());
        DeleteLogFile();
        EXPECT_EQ(QFileInfo(LogPath()).symLinkTarget().toStdString(), target.toStdString());
        EXPECT_TRUE(FShown.size() == 1 && FShown[0].Msg.contains(QStringLiteral("symbolic link")));
        QFile::remove(target);
    }
}
