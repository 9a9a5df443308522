// The wait window and the worker protocol, driven with real worker threads on the offscreen platform.
#include "viewer/ufWaitForm.h"

#include "common/ssMutex.h"
#include "platform/Messages.h"
#include "platform/TThread.h"
#include "report/uLog.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/FunctionThread.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/WaitSpy.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString LoadText = QStringLiteral("Load folder data. Please wiat, it can take some time.");

// Starts a worker on Wait that posts the close message as its very last act, also when its work
// throws; the future becomes ready once it has.
std::future<void> StartWorker(TWaitForm *Wait, std::function<void()> Work = {})
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> result = done->get_future();
    auto *worker = new support::FunctionThread([Work = std::move(Work)](support::FunctionThread &) {
        if (Work)
            Work();
    });
    worker->FreeOnTerminate = true; // as the system's workers do
    worker->OnFinish = [Wait, done] {
        PostMessage(Wait, WM_WAITFORM_CLOSE);
        done->set_value();
    };
    worker->Resume();
    return result;
}

// Whether another thread gets Wait's formIsBusyMutex within TimeOut ms (and gives it back at once).
bool OtherThreadGetsBusyMutex(TWaitForm *Wait, uint32_t TimeOut)
{
    return std::async(std::launch::async,
                      [&m = Wait->BusyMutex(), TimeOut] { return m.Get(TimeOut) && m.Release(); })
        .get();
}

class WaitFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLogErrorDisplay([](const QString &msg) { ADD_FAILURE() << "log error: " << msg.toStdString(); });
    }
    void TearDown() override
    {
        FreeWaitForm();
        EXPECT_TRUE(WaitForm.isNull());
        SetLogErrorDisplay({});
    }

    reporttest::TempLog Log;
    support::ModalGuard Guard{20000}; // a modal show no close message ends fails instead of hanging
};

TEST_F(WaitFormTest, WorkerEndingOrFailingEndsTheModalShowWithoutAnyBox)
{
    // A worker that ended before the show, its close message still queued or already handled by
    // something that ran the event loop; and one that throws while the window shows.
    TWaitForm *w = nullptr;
    const auto throwing = [&w] {
        w->SetMessageText(QStringLiteral("Checking files. Please wait."));
        throw std::runtime_error("worker failed");
    };
    const struct
    {
        const char *Name;
        bool HandledBefore;
        std::function<void()> Work;
    } cases[] = {{"queued", false, {}}, {"handled", true, {}}, {"throwing", false, throwing}};
    // Each case on a window of its own, then all on one window shown again and again.
    for (size_t pass = 0; pass < 2 * std::size(cases); ++pass) {
        const auto &c = cases[pass % std::size(cases)];
        const bool reuse = pass >= std::size(cases);
        SCOPED_TRACE(std::string(c.Name) + (reuse ? " on the reused window" : ""));
        const bool closedBefore = reuse && WaitForm;
        w = ShowWaitForm(nullptr, LoadText);
        support::WaitSpy spy;
        std::future<void> done = StartWorker(w, c.Work);
        if (!c.Work)
            done.get();
        if (c.HandledBefore)
            QCoreApplication::processEvents();
        EXPECT_EQ(w->CanClose(), c.HandledBefore || closedBefore);
        w->WMShowModal();
        EXPECT_TRUE(w->CanClose());
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(spy.WaitShows, c.HandledBefore ? 0 : 1);
        if (c.Work) {
            EXPECT_EQ(w->StateLabel->text(), QStringLiteral("Checking files. Please wait."));
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(spy.OtherDialogShows, 0);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        w->Close();
        if (!reuse)
            FreeWaitForm();
    }
}

TEST_F(WaitFormTest, WorkerTextReachesTheLabelOnlyThroughTheMainThreadAndNotWhileWfMutexIsHeld)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    const QString remain = QStringLiteral("Adding files.\rRemain: 500");
    std::promise<void> go, textSet;
    std::shared_future<void> goSignal = go.get_future().share();
    StartWorker(w, [&, goSignal] {
        w->SetMessageText(remain);
        textSet.set_value();
        goSignal.wait();
    });
    textSet.get_future().get();
    // Stored at once, but the label is still the main thread's old one.
    EXPECT_EQ(w->MessageText(), remain);
    EXPECT_EQ(w->StateLabel->text(), LoadText);
    go.set_value();
    w->WMShowModal();
    // The update posted by SetMessageText was handled in the modal loop, before the close.
    EXPECT_EQ(w->StateLabel->text(), QStringLiteral("Adding files.\nRemain: 500"));
    w->Close();

    // While another thread holds wfMutex the label's update is skipped; the next shows the newest text.
    ShowWaitForm(nullptr, LoadText);
    std::promise<void> held, release;
    std::thread holder([&, releaseSignal = release.get_future()] {
        TMutex &m = w->TextMutex();
        ASSERT_TRUE(m.Get(10000));
        held.set_value();
        releaseSignal.wait();
        m.Release();
    });
    held.get_future().get();
    const QString two = QStringLiteral("first\rsecond\rthird");
    w->SetMessageText(two); // waits its 3000 ms and gives up
    EXPECT_EQ(w->StateLabel->text(), LoadText);
    EXPECT_EQ(w->MessageText(), two);
    release.set_value();
    holder.join();
    PostMessage(w, WM_WAITFORM_UPDATE);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->StateLabel->text(), QStringLiteral("first\nsecond\nthird"));
    w->Close();
}

TEST_F(WaitFormTest, FormIsBusyMutexHeldDuringAHandOutAndGivenBackAtItsEnd)
{
    // A first hand-out the starter closes itself, without a worker: the close is refused and the
    // window never shown, yet the mutex comes back.
    TWaitForm *w = ShowWaitForm(nullptr, QStringLiteral("Extracting report."));
    support::WaitSpy spy;
    EXPECT_FALSE(OtherThreadGetsBusyMutex(w, 0));
    w->Close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->CanClose());
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(OtherThreadGetsBusyMutex(w, 15000));

    // A work ended by its close message; the starter's close after it gives back nothing more.
    ASSERT_EQ(ShowWaitForm(nullptr, LoadText), w);
    EXPECT_FALSE(OtherThreadGetsBusyMutex(w, 0));
    StartWorker(w);
    w->WMShowModal();
    EXPECT_TRUE(OtherThreadGetsBusyMutex(w, 15000));
    w->Close();
    EXPECT_TRUE(OtherThreadGetsBusyMutex(w, 15000));
    EXPECT_EQ(spy.WaitShows, 1) << "only the work's modal show";
}

TEST_F(WaitFormTest, TwoCopiesHandOutTheirWindowsAtOnceWithoutWaitingForEachOther)
{
    // This copy holds both locks of its window: a hand-out that no close message ended, and the text
    // lock held by one of its threads.
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    std::promise<void> held, release;
    std::thread holder([&, releaseSignal = release.get_future()] {
        w->TextMutex().Get(INFINITE);
        held.set_value();
        releaseSignal.wait();
        w->TextMutex().Release();
    });
    held.get_future().get();
    const pid_t pid = fork();
    if (pid == 0) {
        // The other copy hands out a window of its own: its text shows and the hand-out holds its lock.
        TWaitForm other(nullptr, LoadText);
        other.HandOut(QStringLiteral("Search"));
        _exit(other.StateLabel->text() == QStringLiteral("Search") && other.BusyMutex().Get(0) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    release.set_value();
    holder.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    w->Close();
}

TEST_F(WaitFormTest, EscapeDoesNotEndTheWaitAndShowMessageShowsModally)
{
    // After a first work CanClose stays True, yet Escape must not end a wait.
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    StartWorker(w);
    w->WMShowModal();
    ShowWaitForm(nullptr, LoadText);

    std::promise<void> go;
    StartWorker(w, [goSignal = go.get_future().share()] { goSignal.wait(); });
    bool visibleAfterEscape = false;
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, w, [&] {
        if (!w->isVisible())
            return;
        escape.stop();
        QTest::keyClick(w, Qt::Key_Escape);
        visibleAfterEscape = w->isVisible();
        go.set_value();
    });
    escape.start(20);
    // WM_WAITFORM_SHOW runs the modal show from the message queue.
    PostMessage(w, WM_WAITFORM_SHOW);
    EXPECT_TRUE(QTest::qWaitFor([&] { return visibleAfterEscape && !w->isVisible(); }, 20000));
    EXPECT_TRUE(visibleAfterEscape);
    w->Close();
}

// A window that works asked to repaint paints once they have ended, at most once per frame of the
// screen however fast the works follow each other, and always shows the last of them.
TEST_F(WaitFormTest, PaintsHeldByWorksComeAtMostOncePerFrameAndTheLastAlways)
{
    struct TWindow : QWidget
    {
        std::atomic<int> Value = 0;
        std::vector<int> Painted;
        void paintEvent(QPaintEvent *) override { Painted.push_back(Value); }
    } window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    constexpr int Works = 40;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= Works; ++i) {
        TWaitForm *w = ShowWaitForm(nullptr, LoadText);
        QTimer::singleShot(0, &window, [&window, i] { window.Value = i, window.update(); });
        StartWorker(w, [&window, i] {
            while (window.Value != i)
                std::this_thread::yield();
        });
        w->WMShowModal();
        w->Close();
        QCoreApplication::processEvents(); // as between two keys
    }
    const double frames = double(clock.nsecsElapsed()) * window.screen()->refreshRate() / 1e9;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !window.Painted.empty() && window.Painted.back() == Works; }, 5000));
    EXPECT_LE(double(window.Painted.size()), frames + 4) << "in " << frames << " frames, + first paints";
}

} // namespace
