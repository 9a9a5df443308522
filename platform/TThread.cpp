#include "platform/TThread.h"

#include "platform/Messages.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <new>
#include <vector>

namespace {

// One pending Synchronize call; the worker waits on Done.
struct TSyncRequest
{
    std::function<void()> Fn;
    std::exception_ptr Error;
    bool Done = false;
};

// Never destroyed: a self-freeing worker may still signal while the program exits.
std::mutex &syncLock = *new std::mutex;
std::condition_variable &syncSignal = *new std::condition_variable; // a request queued, or one done
std::deque<TSyncRequest *> &syncQueue = *new std::deque<TSyncRequest *>;

bool IsMainThread()
{
    auto *app = QCoreApplication::instance();
    return !app || app->thread() == QThread::currentThread();
}

} // namespace

// Runs the objects handed to it on one system thread; between works it waits parked for the next.
class TThreadRunner
{
public:
    // Hands Work to a parked thread, or to a new one when none waits.
    static void Start(TThread *Work);

private:
    void Loop(TThread *Work);

    std::condition_variable FWake;
    std::atomic<TThread *> FNext{nullptr}; // the work Start handed over, set under the pool's lock
};

namespace {

// Enough for the works that overlap; a thread beyond them ends with its work.
constexpr size_t MaxParked = 4;
constexpr auto ParkedFor = std::chrono::seconds(30);
// A work often follows the one before within this time (a folder's files after its children):
// watched for awake, it starts at once instead of after the wake-up of a sleeping thread.
constexpr auto AwakeFor = std::chrono::microseconds(200);

// The parked threads, each waiting on its own signal for a work.
struct TRunnerPool
{
    std::mutex Lock;
    std::vector<TThreadRunner *> Parked;
};
TRunnerPool *runnerPool = nullptr;

TRunnerPool &Pool()
{
    // Never destroyed: parked threads may still wait on it while the program exits.
    static TRunnerPool *const pool = [] {
        runnerPool = new TRunnerPool;
        // A forked child has none of the parent's other threads: it starts with an empty pool (made
        // in place, since the parent may have held the lock at the fork).
        pthread_atfork(nullptr, nullptr, [] { new (runnerPool) TRunnerPool; });
        return runnerPool;
    }();
    return *pool;
}

std::atomic<bool (*)()> keepThreadTest{nullptr};
// The object whose Execute this thread runs, for the destructor that runs on it.
thread_local TThread *t_Running = nullptr;

} // namespace

void TThreadRunner::Start(TThread *Work)
{
    {
        TRunnerPool &pool = Pool();
        std::lock_guard<std::mutex> guard(pool.Lock);
        if (!pool.Parked.empty()) {
            TThreadRunner *runner = pool.Parked.back();
            pool.Parked.pop_back();
            runner->FNext = Work;
            runner->FWake.notify_one();
            return;
        }
    }
    std::thread([Work] { TThreadRunner().Loop(Work); }).detach();
}

void TThreadRunner::Loop(TThread *Work)
{
    TRunnerPool &pool = Pool();
    while (Work) {
        t_Running = Work;
        Work->Run();
        t_Running = nullptr;
        bool (*const keep)() = keepThreadTest;
        if (keep && !keep())
            return;
        {
            std::lock_guard<std::mutex> guard(pool.Lock);
            if (pool.Parked.size() >= MaxParked)
                return;
            FNext = nullptr;
            pool.Parked.push_back(this);
        }
        const auto awakeUntil = std::chrono::steady_clock::now() + AwakeFor;
        while (!FNext.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < awakeUntil)
            std::this_thread::yield();
        std::unique_lock<std::mutex> lock(pool.Lock);
        if (!FWake.wait_for(lock, ParkedFor, [this] { return FNext.load() != nullptr; }))
            pool.Parked.erase(std::find(pool.Parked.begin(), pool.Parked.end(), this));
        Work = FNext;
    }
}

TThread::TThread(bool CreateSuspended)
{
    if (!CreateSuspended)
        Resume();
}

TThread::~TThread()
{
    // A self-freeing thread deletes the object on its own thread, once it no longer needs it.
    if (t_Running != this)
        WaitFor();
}

void TThread::SetKeepThreadTest(bool (*Test)())
{
    keepThreadTest = Test;
}

void TThread::Resume()
{
    if (FStarted.exchange(true))
        return;
    try {
        TThreadRunner::Start(this);
    } catch (...) {
        // Never started: nothing to wait for.
        FStarted = false;
        throw;
    }
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // A worker's unhandled error ends it quietly.
    }
    if (OnFinish) {
        try {
            OnFinish();
        } catch (...) {
        }
    }
    const bool freeSelf = FreeOnTerminate;
    {
        std::lock_guard<std::mutex> guard(syncLock);
        FFinished = true;
    }
    syncSignal.notify_all();
    if (freeSelf)
        delete this;
}

int TThread::WaitFor()
{
    if (!FStarted)
        return ReturnValue;
    const bool serve = IsMainThread();
    std::unique_lock<std::mutex> lock(syncLock);
    while (!FFinished) {
        if (serve && !syncQueue.empty()) {
            lock.unlock();
            CheckSynchronize();
            lock.lock();
            continue;
        }
        syncSignal.wait(lock);
    }
    return ReturnValue;
}

void TThread::CheckSynchronize()
{
    for (;;) {
        TSyncRequest *req;
        {
            std::lock_guard<std::mutex> guard(syncLock);
            if (syncQueue.empty())
                return;
            req = syncQueue.front();
            syncQueue.pop_front();
        }
        try {
            req->Fn();
        } catch (...) {
            req->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(syncLock);
            req->Done = true;
        }
        syncSignal.notify_all();
    }
}

void TThread::Synchronize(const std::function<void()> &fn)
{
    if (IsMainThread()) {
        fn();
        return;
    }
    TSyncRequest req;
    req.Fn = fn;
    {
        std::lock_guard<std::mutex> guard(syncLock);
        syncQueue.push_back(&req);
    }
    syncSignal.notify_all(); // wakes a main thread that sits in WaitFor
    if (auto *app = QCoreApplication::instance())
        PostCall(app, [] { CheckSynchronize(); });
    std::unique_lock<std::mutex> lock(syncLock);
    syncSignal.wait(lock, [&req] { return req.Done; });
    lock.unlock();
    if (req.Error)
        std::rethrow_exception(req.Error);
}
