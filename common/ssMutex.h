#pragma once
// Mutexes that threads, and by name every running copy of the program of one user, take and give
// back with a time-out. A named mutex lives in a POSIX shared-memory object named after the mutex and
// the user; it is a robust, recursive, process-shared pthread mutex, so it is re-entrant for its
// owning thread and a mutex whose owner ended without giving it back counts as owned by its next taker.
#include <cstdint>
#include <string>

// An operating-system object held through a handle.
class TOSObject
{
public:
    virtual ~TOSObject() = default;
};
using HANDLE = TOSObject *;

// Frees the object behind Handle; a null handle closes nothing.
void CloseHandle(HANDLE Handle);

// Owns one operating-system handle: the destructor closes it when it is not null.
class THandledObject
{
public:
    THandledObject() = default;
    virtual ~THandledObject();
    THandledObject(const THandledObject &) = delete;
    THandledObject &operator=(const THandledObject &) = delete;

    HANDLE Handle = nullptr;
};

// A time-out that never ends.
constexpr uint32_t INFINITE = 0xFFFFFFFF;

// All TMutex objects of one name in a process are one mutex: taken through one, it is given back
// through any. When the process frees the last of them, the freeing thread's ownership is given
// back; no other thread of the process may own it then.
class TMutex : public THandledObject
{
public:
    // Opens the mutex of that name, creating it when no running program has it open; an empty
    // name gives an unnamed mutex private to this object. Not owned after creation.
    // EOSError when the system refuses (name too long, no shared memory, an object of another user).
    explicit TMutex(const std::string &Name = {});

    // Waits up to TimeOut ms (INFINITE: for ever) to own the mutex. True when the calling thread
    // owns it, also when it owned it already (then give it back once more) and when its last owner
    // ended without giving it back; False only on the time-out. EOSError when the wait fails.
    bool Get(uint32_t TimeOut);
    // Gives back one Get of the calling thread. False when that thread does not own the mutex.
    bool Release();
};

// Gives back one successful Get of a TMutex when the scope ends, also when it ends by an exception.
class TMutexRelease
{
public:
    explicit TMutexRelease(TMutex &Mutex) : FMutex(Mutex) {}
    ~TMutexRelease() { FMutex.Release(); }
    TMutexRelease(const TMutexRelease &) = delete;
    TMutexRelease &operator=(const TMutexRelease &) = delete;

private:
    TMutex &FMutex;
};

// The name of the shared-memory object behind a named mutex (for looking at it from tests).
std::string MutexSharedObjectName(const std::string &Name);
