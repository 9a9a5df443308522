#include "platform/Messages.h"
#include "platform/TThread.h"
#include "tests/support/FunctionThread.h"

#include <QCoreApplication>
#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Records the messages it receives, in order, with the thread they arrived on.
class TReceiver : public QObject
{
public:
    std::vector<unsigned> Got;
    std::vector<std::thread::id> On;

protected:
    bool event(QEvent *e) override
    {
        if (auto *m = TMessageEvent::From(e)) {
            Got.push_back(m->Msg);
            On.push_back(std::this_thread::get_id());
            return true;
        }
        return QObject::event(e);
    }
};

using TFunctionThread = support::FunctionThread;

} // namespace

// Messages and calls posted from a worker arrive later, in order, on the receiver's thread; a call
// whose target went away is skipped.
TEST(Messages, PostedMessagesAndCallsArriveInOrderOnTheReceiversThread)
{
    TReceiver r;
    auto *gone = new QObject;
    int calls = 0;
    std::thread worker([&] {
        for (unsigned i = 0; i < 200; ++i)
            PostMessage(&r, WM_USER + i % 11);
        PostCall(&r, [&] {
            r.On.push_back(std::this_thread::get_id());
            ++calls;
        });
        PostCall(gone, [&] { calls += 100; });
    });
    worker.join();
    delete gone;
    PostMessage(&r, WM_USER + 99);
    EXPECT_TRUE(r.Got.empty()) << "posting must not deliver at once";
    EXPECT_TRUE(QTest::qWaitFor([&r] { return r.Got.size() == 201; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(r.Got.size(), 201u);
    for (unsigned i = 0; i < 200; ++i)
        EXPECT_EQ(r.Got[i], WM_USER + i % 11);
    EXPECT_EQ(r.Got.back(), WM_USER + 99);
    EXPECT_EQ(r.On.size(), 202u);
    for (auto id : r.On)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(PostMessage(nullptr, WM_USER));
}

// Works one after another, every other one failing, some waited for and deleted, the others freeing
// themselves: each runs once, off the main thread, and ends. A work started while another still
// runs gets a thread of its own.
TEST(Thread, WorksRunOnceEachOffTheMainThreadAndAnErrorEndsOneQuietly)
{
    const int before = TFunctionThread::Destroyed;
    const auto mainId = std::this_thread::get_id();
    std::atomic<int> offMain{0};
    for (int i = 0; i < 50; ++i) {
        auto *t = new TFunctionThread([&offMain, mainId, i](TFunctionThread &self) {
            offMain += std::this_thread::get_id() != mainId;
            self.SetReturn(i);
            if (i % 2)
                throw std::runtime_error("worker failure");
        });
        t->FreeOnTerminate = i >= 6;
        t->Resume();
        if (i < 6) {
            EXPECT_EQ(t->WaitFor(), i);
            delete t;
        }
    }
    (void)QTest::qWaitFor([&] { return TFunctionThread::Destroyed - before == 50; }, 10000);
    EXPECT_EQ(TFunctionThread::Destroyed - before, 50);
    EXPECT_EQ(offMain, 50);
    std::promise<void> secondRan;
    bool firstSawIt = false;
    TFunctionThread first([&, ran = secondRan.get_future().share()](TFunctionThread &) {
        firstSawIt = ran.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    });
    TFunctionThread second([&](TFunctionThread &) { secondRan.set_value(); });
    first.Resume();
    second.Resume();
    first.WaitFor();
    EXPECT_TRUE(firstSawIt);
}

// Synchronize runs on the main thread while the worker waits, served by a modal loop and by WaitFor;
// what the call raises reaches the worker.
TEST(Thread, SynchronizeRunsOnTheMainThreadWhileTheWorkerWaits)
{
    const auto mainId = std::this_thread::get_id();
    std::vector<std::thread::id> ranOn;
    std::atomic<bool> errorSeen{false}, modalEnded{false};
    QDialog dlg;
    TFunctionThread t([&](TFunctionThread &) {
        TThread::Synchronize([&ranOn] { ranOn.push_back(std::this_thread::get_id()); });
        PostCall(&dlg, [&dlg] { dlg.done(3); });
        while (!modalEnded)
            std::this_thread::yield();
        for (int i = 0; i < 4; ++i)
            TThread::Synchronize([&ranOn] { ranOn.push_back(std::this_thread::get_id()); });
        try {
            TThread::Synchronize([] { throw std::runtime_error("from main"); });
        } catch (const std::runtime_error &e) {
            errorSeen = std::string(e.what()) == "from main";
        }
    });
    t.Resume();
    EXPECT_EQ(dlg.exec(), 3);
    modalEnded = true;
    t.WaitFor(); // serves the calls that come now: no deadlock
    ASSERT_EQ(ranOn.size(), 5u);
    for (auto id : ranOn)
        EXPECT_EQ(id, mainId);
    EXPECT_TRUE(errorSeen);
}
