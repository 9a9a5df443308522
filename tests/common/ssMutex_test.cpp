#include "common/ssMutex.h"

#include "tests/support/FunctionThread.h"

#include <atomic>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <semaphore>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// A name no other test or test run uses at the same time.
std::string UniqueName(const char *what)
{
    static std::atomic<int> serial{0};
    return std::string("ssMutexTest.") + what + "." + std::to_string(getpid()) + "." +
           std::to_string(++serial);
}

// Runs fn on its own thread and hands back its result.
template <class Fn> auto OnOtherThread(Fn fn)
{
    return std::async(std::launch::async, fn).get();
}

// Takes a mutex on another thread and keeps it until GiveBack (or its own end).
struct THolder
{
    explicit THolder(TMutex &m)
        : Thread([this, &m] {
              Got = m.Get(INFINITE);
              Taken.release();
              Back.acquire();
              m.Release();
          })
    {
        Taken.acquire();
    }
    ~THolder()
    {
        GiveBack();
        Thread.join();
    }
    void GiveBack()
    {
        if (!GivenBack.exchange(true))
            Back.release();
    }
    std::binary_semaphore Taken{0}, Back{0};
    std::atomic<bool> Got{false}, GivenBack{false};
    std::thread Thread; // last: starts once the rest is made
};

} // namespace

// Reentrant for its owner and given back only by it; others time out while it is held, and get it
// once a thread ends holding it.
TEST(TMutex, ReentrantForItsOwnerAndTimeOutElsewhere)
{
    for (const std::string &name : {std::string(), UniqueName("zero")}) {
        TMutex m(name);
        EXPECT_FALSE(m.Release()); // nobody owns it
        ASSERT_TRUE(m.Get(0));
        ASSERT_TRUE(m.Get(1000)); // owned already: at once
        EXPECT_FALSE(OnOtherThread([&] { return m.Release(); }));
        EXPECT_TRUE(m.Release());
        EXPECT_FALSE(OnOtherThread([&] { return m.Get(50); })); // still held once
        EXPECT_TRUE(m.Release());
        EXPECT_FALSE(m.Release()); // nothing left to give back
        THolder holder(m);
        ASSERT_TRUE(holder.Got);
        EXPECT_FALSE(m.Get(0));
        EXPECT_FALSE(m.Get(100));
        EXPECT_FALSE(holder.GivenBack); // it did not wait for the holder
        // A waiter gets it when the owner gives it back within the time-out.
        std::thread giver([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            holder.GiveBack();
        });
        EXPECT_TRUE(m.Get(60000));
        giver.join();
        EXPECT_TRUE(m.Release());
#if !defined(__SANITIZE_THREAD__) // which does not follow a lock abandoned by a thread's end
        // A worker whose work ends holding it ends its thread with it: abandoned, it is the next owner's.
        support::FunctionThread worker([&m](support::FunctionThread &) { m.Get(0); });
        worker.Resume();
        worker.WaitFor();
        EXPECT_TRUE(m.Get(10000));
        EXPECT_TRUE(m.Release());
#endif
    }
}

TEST(TMutex, TwoProcessesShareANamedMutexAndOneThatEndsHoldingItAbandonsIt)
{
    const std::string name = UniqueName("process");
    TMutex m(name);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    for (const char answer : {'g', 'e'}) { // give it back, or end holding it
        SCOPED_TRACE(answer);
        const pid_t pid = fork();
        if (pid == 0) {       // the child: no destructors, no atexit handlers
            TMutex own(name); // opened by name, not inherited
            char c = 0;
            const bool held = own.Get(0) && write(toParent[1], "t", 1) == 1 && read(toChild[0], &c, 1) == 1;
            _exit(held && (c == 'e' || own.Release()) ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        char c = 0;
        ASSERT_EQ(read(toParent[0], &c, 1), 1);
        EXPECT_FALSE(m.Get(0));
        EXPECT_FALSE(m.Get(100));
        ASSERT_EQ(write(toChild[1], &answer, 1), 1);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(m.Get(0));
        EXPECT_TRUE(m.Release());
    }
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        close(fd);
}

TEST(TMutex, AnObjectLeftMarkedForRemovalUnderItsNameIsReplaced)
{
    // What a last user killed between marking the object and removing its name leaves behind: the
    // flag after the 32-bit magic set, the name still there. An opener caught by it would never return.
    const std::string name = UniqueName("stale");
    const int fd =
        shm_open(MutexSharedObjectName(name).c_str(), O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    ASSERT_GE(fd, 0);
    const uint32_t unlinked = 1;
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    ASSERT_EQ(pwrite(fd, &unlinked, sizeof unlinked, 4), ssize_t(sizeof unlinked));
    close(fd);
    TMutex again(name);
    EXPECT_TRUE(OnOtherThread([&] { return again.Get(0) && again.Release(); }));
}
