// The wait window and the worker protocol, driven with real worker threads on the offscreen platform.
#include "viewer/ufWaitForm.h"

#include "common/ssMutex.h"
#include "platform/Messages.h"
#include "platform/TThread.h"
#include "report/uLog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMovie>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

// Readable values in failure messages.
void PrintTo(const QPoint &p, std::ostream *os)
{
    *os << "(" << p.x() << ", " << p.y() << ")";
}
void PrintTo(const QSize &s, std::ostream *os)
{
    *os << s.width() << " x " << s.height();
}
void PrintTo(const QRect &r, std::ostream *os)
{
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

namespace {

const QString LoadText = QStringLiteral("Load folder data. Please wiat, it can take some time.");

// A worker as the system writes them: suspended, freeing itself, and posting the close message as
// its very last act, also when its work throws.
class TTestWorker : public TThread
{
public:
    TTestWorker(TWaitForm *Wait, std::function<void(TWaitForm *)> Work)
        : TThread(true), FWait(Wait), FWork(std::move(Work))
    {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override
    {
        struct TPostClose
        {
            TWaitForm *Wait;
            ~TPostClose() { PostMessage(Wait, WM_WAITFORM_CLOSE); }
        } postClose{FWait};
        if (FWork)
            FWork(FWait);
    }

private:
    TWaitForm *FWait;
    std::function<void(TWaitForm *)> FWork;
};

// Starts a worker on Wait; the future becomes ready once it has posted its close message.
std::future<void> StartWorker(TWaitForm *Wait, std::function<void(TWaitForm *)> Work = {})
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> result = done->get_future();
    auto *worker = new TTestWorker(Wait, std::move(Work));
    worker->OnFinish = [done] { done->set_value(); };
    worker->Resume();
    return result;
}

// Runs fn on a thread of its own and gives its result: mutex ownership belongs to threads.
template <typename F> auto OnOtherThread(F fn)
{
    return std::async(std::launch::async, fn).get();
}

// Whether another thread gets formIsBusyMutex within TimeOut ms (it gives it back at once).
bool OtherThreadGetsBusyMutex(uint32_t TimeOut)
{
    return OnOtherThread([TimeOut] {
        TMutex m("formIsBusyMutex");
        const bool got = m.Get(TimeOut);
        if (got)
            m.Release();
        return got;
    });
}

// Ends a modal loop that no close message ended within 20 s, as a failure instead of a hang.
class TModalGuard
{
public:
    explicit TModalGuard(QDialog *Dialog)
    {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, Dialog, [Dialog] {
            ADD_FAILURE() << "the modal show did not end";
            Dialog->done(QDialog::Rejected);
        });
        FTimer.start(20000);
    }

private:
    QTimer FTimer;
};

// Counts the shows of the wait window and of every other dialog (a message box would be one).
class TShowSpy : public QObject
{
public:
    explicit TShowSpy(QWidget *Wait) : FWait(Wait) { qApp->installEventFilter(this); }
    ~TShowSpy() override { qApp->removeEventFilter(this); }
    int WaitShows = 0;
    int OtherDialogShows = 0;

protected:
    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (e->type() == QEvent::Show && obj->isWidgetType()) {
            if (obj == FWait)
                ++WaitShows;
            else if (qobject_cast<QDialog *>(obj))
                ++OtherDialogShows;
        }
        return false;
    }

private:
    QWidget *FWait;
};

class WaitFormTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        LogDir = new QTemporaryDir;
        SetLogFolder(LogDir->path().toStdString() + "/");
        SetLogErrorDisplay([](const QString &msg) { ADD_FAILURE() << "log error: " << msg.toStdString(); });
    }
    static void TearDownTestSuite()
    {
        SetLogErrorDisplay({});
        SetLogFolder({});
        delete LogDir;
    }
    void SetUp() override { CreateLogFile(); }
    void TearDown() override
    {
        FreeWaitForm();
        EXPECT_TRUE(WaitForm.isNull());
    }

    // The modal show, with a guard that ends a loop no close message ended (a failure, not a hang).
    static void ShowModalGuarded(TWaitForm *w)
    {
        TModalGuard guard(w);
        w->WMShowModal();
    }

    static QString LogText()
    {
        QFile f(QString::fromStdString(LogFileName()));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static inline QTemporaryDir *LogDir = nullptr;
};

TEST_F(WaitFormTest, CreatedHiddenWithItsPartsAndNotClosable)
{
    QWidget owner;
    TWaitForm *w = ShowWaitForm(&owner, LoadText);
    ASSERT_EQ(w, WaitForm.data());
    EXPECT_EQ(w->parentWidget(), &owner);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->CanClose());
    EXPECT_EQ(w->MessageText(), LoadText);
    EXPECT_EQ(w->StateLabel->text(), LoadText);
    EXPECT_EQ(w->StateLabel->pos(), QPoint(75, 20));
    EXPECT_EQ(w->StateLabel->height(), 13);
    // The window is at least its design size and grows with a text wider than that.
    EXPECT_GE(w->width(), 345);
    EXPECT_GT(w->width(), w->StateLabel->geometry().right());
    EXPECT_EQ(w->height(), 54);
    EXPECT_EQ(w->mainPanel->geometry(), QRect(QPoint(0, 0), w->size()));
    w->SetMessageText(QStringLiteral("Search"));
    EXPECT_EQ(w->size(), QSize(345, 54));
    EXPECT_EQ(w->mainPanel->geometry(), QRect(0, 0, 345, 54));
    EXPECT_EQ(w->Image1->geometry(), QRect(2, 2, 50, 50));
    EXPECT_FALSE(w->Image1->isEnabled());

    // The animation: 32 x 32, eight frames of 70 ms, repeated without end.
    QMovie *movie = w->Image1->movie();
    ASSERT_NE(movie, nullptr);
    ASSERT_TRUE(movie->isValid());
    EXPECT_EQ(movie->frameCount(), 8);
    EXPECT_EQ(movie->loopCount(), -1);
    ASSERT_TRUE(movie->jumpToFrame(0));
    EXPECT_EQ(movie->currentImage().size(), QSize(32, 32));
    EXPECT_EQ(movie->nextFrameDelay(), 70);

    // A close request is refused until a close message has been handled.
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->CanClose());
    w->Close();
}

TEST_F(WaitFormTest, LabelPlacedByLineBreaks)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    const QString one = QStringLiteral("Adding files. Please wiat, it can take some time.\rRemain: 1500");
    const QString two = QStringLiteral("a\rb\rc");
    const QString three = QStringLiteral("a\rb\rc\rd");

    w->SetMessageText(one);
    EXPECT_EQ(w->StateLabel->y(), 15);
    EXPECT_EQ(w->StateLabel->text(),
              QStringLiteral("Adding files. Please wiat, it can take some time.\nRemain: 1500"));
    w->SetMessageText(two);
    EXPECT_EQ(w->StateLabel->y(), 8);
    w->SetMessageText(three);
    EXPECT_EQ(w->StateLabel->y(), 8) << "three breaks keep the previous top";
    EXPECT_EQ(w->StateLabel->text(), QStringLiteral("a\nb\nc\nd"));
    w->SetMessageText(LoadText);
    EXPECT_EQ(w->StateLabel->y(), 20);
    w->SetMessageText(three);
    EXPECT_EQ(w->StateLabel->y(), 20) << "three breaks keep the previous top";
    // The window grows to hold the four lines, and shrinks back to its design size afterwards.
    EXPECT_GE(w->height(), w->StateLabel->geometry().bottom() + 1);
    w->SetMessageText(QStringLiteral("x"));
    EXPECT_EQ(w->size(), QSize(345, 54));
    w->Close();
}

TEST_F(WaitFormTest, WorkerEndingBeforeTheModalShowEndsItAtOnce)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    TShowSpy spy(w);
    std::future<void> done = StartWorker(w);
    done.get(); // the close message is queued; nothing has handled it yet
    EXPECT_FALSE(w->CanClose());

    ShowModalGuarded(w);
    EXPECT_TRUE(w->CanClose());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(spy.WaitShows, 1);
    w->Close();
    EXPECT_TRUE(LogText().contains(QStringLiteral("TWaitForm.END_MSG_HANDLE - close WaitForm - start\r\n"
                                                  "TWaitForm.END_MSG_HANDLE - close WaitForm - finish\r\n")));
}

TEST_F(WaitFormTest, CloseMessageHandledBeforeTheShowDoesNotLeaveTheWindowOpen)
{
    // Something between the hand-out and the modal show ran the event loop.
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    TShowSpy spy(w);
    StartWorker(w).get();
    QCoreApplication::processEvents();
    EXPECT_TRUE(w->CanClose());
    ShowModalGuarded(w);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(spy.WaitShows, 0);
    w->Close();
}

TEST_F(WaitFormTest, FailingWorkerClosesTheWindowWithoutAnyBox)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    TShowSpy spy(w);
    std::atomic<bool> reached{false};
    StartWorker(w, [&reached](TWaitForm *wait) {
        wait->SetMessageText(QStringLiteral("Checking files. Please wait."));
        reached = true;
        throw std::runtime_error("worker failed");
    });
    ShowModalGuarded(w);
    EXPECT_TRUE(reached);
    EXPECT_TRUE(w->CanClose());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(spy.WaitShows, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.OtherDialogShows, 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    w->Close();
}

TEST_F(WaitFormTest, WorkerTextReachesTheLabelOnlyThroughTheMainThread)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    const QString remain = QStringLiteral("Adding files. Please wiat, it can take some time.\rRemain: 500");
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    std::promise<void> textSet;
    QString labelSeenByWorker;
    StartWorker(w, [&, goSignal](TWaitForm *wait) {
        wait->SetMessageText(remain);
        textSet.set_value();
        goSignal.wait();
    });
    textSet.get_future().get();
    // Stored at once, but the label is still the main thread's old one.
    EXPECT_EQ(w->MessageText(), remain);
    EXPECT_EQ(w->StateLabel->text(), LoadText);
    EXPECT_EQ(w->StateLabel->y(), 20);
    go.set_value();
    ShowModalGuarded(w);
    // The update posted by SetMessageText was handled in the modal loop, before the close.
    EXPECT_EQ(w->StateLabel->text(),
              QStringLiteral("Adding files. Please wiat, it can take some time.\nRemain: 500"));
    EXPECT_EQ(w->StateLabel->y(), 15);
    w->Close();
}

TEST_F(WaitFormTest, TextUpdateSkippedWhileAnotherThreadHoldsWfMutex)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    std::promise<void> held, release;
    std::future<void> releaseSignal = release.get_future();
    std::thread holder([&] {
        TMutex m("wfMutex");
        ASSERT_TRUE(m.Get(10000));
        held.set_value();
        releaseSignal.wait();
        m.Release();
    });
    held.get_future().get();
    const QString two = QStringLiteral("first\rsecond\rthird");
    w->SetMessageText(two); // waits its 3000 ms and gives up
    EXPECT_EQ(w->StateLabel->text(), LoadText);
    EXPECT_EQ(w->StateLabel->y(), 20);
    EXPECT_EQ(w->MessageText(), two);
    release.set_value();
    holder.join();

    // The next update shows the newest text.
    PostMessage(w, WM_WAITFORM_UPDATE);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->StateLabel->text(), QStringLiteral("first\nsecond\nthird"));
    EXPECT_EQ(w->StateLabel->y(), 8);
    w->Close();
}

TEST_F(WaitFormTest, SecondHandOutReturnsTheSameWindowAlreadyClosable)
{
    TWaitForm *first = ShowWaitForm(nullptr, LoadText);
    StartWorker(first);
    ShowModalGuarded(first);
    first->Close();
    ASSERT_TRUE(first->CanClose());

    TWaitForm *second = ShowWaitForm(nullptr, QStringLiteral("Search"));
    EXPECT_EQ(second, first);
    EXPECT_TRUE(second->CanClose());
    EXPECT_EQ(second->StateLabel->text(), QStringLiteral("Search"));
    EXPECT_FALSE(second->isVisible());

    // And it serves a second work just like the first.
    TShowSpy spy(second);
    StartWorker(second, [](TWaitForm *wait) { wait->SetMessageText(QStringLiteral("Search")); });
    ShowModalGuarded(second);
    EXPECT_EQ(spy.WaitShows, 1);
    EXPECT_FALSE(second->isVisible());
    second->Close();
}

TEST_F(WaitFormTest, FormIsBusyMutexHeldDuringAHandOutAndGivenBackAtItsEnd)
{
    // A work ended by its close message.
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    EXPECT_FALSE(OtherThreadGetsBusyMutex(0));
    StartWorker(w);
    ShowModalGuarded(w);
    EXPECT_TRUE(OtherThreadGetsBusyMutex(15000));
    w->Close();
    EXPECT_TRUE(OtherThreadGetsBusyMutex(15000))
        << "the starter's close after the message gives back nothing more";

    // A hand-out the starter closes itself, without a worker: never shown, and the mutex comes back.
    TShowSpy spy(w);
    ASSERT_EQ(ShowWaitForm(nullptr, LoadText), w);
    EXPECT_FALSE(OtherThreadGetsBusyMutex(0));
    w->Close();
    EXPECT_EQ(spy.WaitShows, 0);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(OtherThreadGetsBusyMutex(15000));
}

TEST_F(WaitFormTest, FirstHandOutClosedWithoutAWorkerIsNeverShown)
{
    TWaitForm *w = ShowWaitForm(nullptr, QStringLiteral("Extracting report."));
    TShowSpy spy(w);
    w->Close(); // refused: no close message yet, and the window stays hidden
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->CanClose());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(spy.WaitShows, 0);
    EXPECT_TRUE(OtherThreadGetsBusyMutex(15000));
}

TEST_F(WaitFormTest, FreeingTheWindowGivesBackAnOpenHandOut)
{
    ShowWaitForm(nullptr, LoadText);
    FreeWaitForm();
    EXPECT_TRUE(WaitForm.isNull());
    EXPECT_TRUE(OtherThreadGetsBusyMutex(15000));
}

TEST_F(WaitFormTest, EscapeDoesNotEndTheWaitAndShowMessageShowsModally)
{
    TWaitForm *w = ShowWaitForm(nullptr, LoadText);
    // Closing for good after the first work: CanClose stays True, yet Escape must not end a wait.
    StartWorker(w);
    ShowModalGuarded(w);
    ShowWaitForm(nullptr, LoadText);

    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    StartWorker(w, [goSignal](TWaitForm *) { goSignal.wait(); });
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
    TModalGuard guard(w);
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible() && visibleAfterEscape, 20000);
    EXPECT_TRUE(visibleAfterEscape);
    w->Close();
}

} // namespace
