#pragma once
// The worker thread class the system's workers derive from: created suspended or running,
// Resume, Terminate/Terminated, WaitFor, FreeOnTerminate and Synchronize.
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

protected:
    virtual void Execute() = 0;
    int ReturnValue = 0;

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FStarted{false};
    std::mutex FStartLock; // held by Resume until FThread is assigned
};
