#pragma once
// The worker thread class the system's workers derive from: created suspended or running,
// Resume, Terminate/Terminated, WaitFor, FreeOnTerminate and Synchronize.
//
// Each started object runs on a thread of its own, never the main thread nor one that runs another
// object's Execute at the same time. A thread whose work ended waits parked for the next Resume a
// while before it ends, so that a work started right after another one does not pay for a new
// system thread; a work that leaves a lock held (see SetKeepThreadTest) ends its thread instead.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class TThread
{
public:
    explicit TThread(bool CreateSuspended);
    // Waits for a running thread that does not free itself (Terminate first to ask it to stop).
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Starts a suspended thread; a no-op once started.
    void Resume();
    // Asks Execute to stop: sets Terminated, which Execute polls.
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }
    // Waits until Execute has returned and gives ReturnValue. Called on the main thread it keeps
    // running the worker's Synchronize calls meanwhile, so the two never wait on each other.
    // Not for a thread with FreeOnTerminate (it may be gone).
    int WaitFor();

    // When True, the object deletes itself on its own thread once Execute has returned.
    std::atomic<bool> FreeOnTerminate{false};
    // Runs after Execute on the worker's thread, before the object is freed (like OnTerminate, but
    // on the worker's thread). May be empty.
    std::function<void()> OnFinish;

    // Runs fn on the main thread while the calling worker waits; an exception fn throws is
    // rethrown in the worker. Called on the main thread, fn runs at once.
    static void Synchronize(const std::function<void()> &fn);
    // Runs the Synchronize calls waiting for the main thread (the main thread's event loop does this
    // by itself; WaitFor does it while it waits).
    static void CheckSynchronize();
    // Asked on a worker's thread once its object's work is over: False when the thread must end now
    // rather than wait for another work (it holds what only its end gives back, such as a robust
    // mutex the next owner should find abandoned). None: every thread may wait. Set once, at start.
    static void SetKeepThreadTest(bool (*Test)());

protected:
    virtual void Execute() = 0;
    int ReturnValue = 0;

private:
    friend class TThreadRunner;
    void Run();

    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FStarted{false};
};
