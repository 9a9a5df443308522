#include "platform/TThread.h"

#include "platform/Messages.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <deque>
#include <exception>

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

TThread::TThread(bool CreateSuspended)
{
    if (!CreateSuspended)
        Resume();
}

TThread::~TThread()
{
    // A self-freeing thread has detached itself before it deletes the object.
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            WaitFor();
    }
}

void TThread::Resume()
{
    if (FStarted.exchange(true))
        return;
    std::lock_guard<std::mutex> guard(FStartLock);
    FThread = std::thread([this] { Run(); });
}

void TThread::Run()
{
    {
        // Wait until Resume has stored the handle, so a self-freeing thread can detach it.
        std::lock_guard<std::mutex> guard(FStartLock);
    }
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
    if (freeSelf)
        FThread.detach();
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
    if (!FThread.joinable())
        return ReturnValue;
    if (IsMainThread()) {
        std::unique_lock<std::mutex> lock(syncLock);
        while (!FFinished) {
            if (!syncQueue.empty()) {
                lock.unlock();
                CheckSynchronize();
                lock.lock();
                continue;
            }
            syncSignal.wait(lock);
        }
    }
    FThread.join();
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
