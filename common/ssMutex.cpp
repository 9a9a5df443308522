#include <cstdlib>
#include "common/ssMutex.h"

#include "common/ssOSError.h"
#include "platform/TThread.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint32_t SharedMagic = 0x5856504D; // set once the mutex in the object is initialised

// The layout of a named mutex's shared-memory object. The bookkeeping fields are read and written
// only under flock on the object.
struct TSharedMutex
{
    uint32_t Magic;
    uint32_t Unlinked; // the name was removed: an opener that still reached this object opens anew
    int64_t RefCount;  // processes that have the object open
    pthread_mutex_t Mutex;
};

QString MutexWhat(const std::string &Name)
{
    return QStringLiteral("Mutex \"%1\"").arg(QString::fromStdString(Name));
}

void InitMutex(pthread_mutex_t *Mutex, bool Shared, const std::string &Name)
{
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc == 0) {
        rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        if (rc == 0)
            rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        if (rc == 0 && Shared)
            rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        if (rc == 0)
            rc = pthread_mutex_init(Mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    if (rc != 0)
        throw EOSError(rc, MutexWhat(Name));
}

void LockFile(int Fd)
{
    while (flock(Fd, LOCK_EX) != 0)
        if (errno != EINTR)
            RaiseLastOSError();
}

// True when the shared-memory name ShmName leads to the object open as Fd.
bool NameLeadsTo(const std::string &ShmName, int Fd)
{
    const int fd = shm_open(ShmName.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat byName, ours;
    const bool same = fstat(fd, &byName) == 0 && fstat(Fd, &ours) == 0 && byName.st_dev == ours.st_dev &&
                      byName.st_ino == ours.st_ino;
    close(fd);
    return same;
}

// How many Gets of each mutex the calling thread holds, by the mutex's serial. Release asks this
// rather than letting a non-owner unlock, which the pthread mutex would refuse as well but which
// thread checkers take for a fault. A thread's entries end with it, as its ownership does.
// The log takes a mutex for every line: a thread's first few entries live in place, so a Get costs
// no allocation, and the table needs no destructor that a late Get at thread exit could outlive.
struct THeld
{
    uint64_t Serial;
    uint32_t Count;
};

class THeldTable
{
public:
    THeld *Find(uint64_t Serial)
    {
        for (uint32_t i = 0; i < FInPlace; ++i)
            if (FSlots[i].Serial == Serial)
                return &FSlots[i];
        if (FMore)
            for (THeld &held : *FMore)
                if (held.Serial == Serial)
                    return &held;
        return nullptr;
    }
    bool Empty() const { return FInPlace == 0; }
    void Add(uint64_t Serial)
    {
        if (FInPlace < InPlace) {
            FSlots[FInPlace++] = {Serial, 1};
            return;
        }
        if (!FMore)
            FMore = new std::vector<THeld>; // as rare as nesting that deep; freed when it empties
        FMore->push_back({Serial, 1});
    }
    void Remove(THeld *Held)
    {
        if (Held >= FSlots && Held < FSlots + InPlace) {
            *Held = FSlots[--FInPlace];
            if (FMore)
                FSlots[FInPlace++] = FMore->back();
        } else {
            *Held = FMore->back();
        }
        if (FMore) {
            FMore->pop_back();
            if (FMore->empty()) {
                delete FMore;
                FMore = nullptr;
            }
        }
    }

private:
    static constexpr uint32_t InPlace = 8;
    THeld FSlots[InPlace];
    uint32_t FInPlace = 0;
    std::vector<THeld> *FMore = nullptr;
};
static_assert(std::is_trivially_destructible_v<THeldTable>);

thread_local THeldTable t_Held;
std::atomic<uint64_t> g_Serial{0};

// A worker's thread that still holds a lock ends with its work, so that the lock is abandoned as the
// next owner expects, rather than kept by a thread parked for the next work.
[[maybe_unused]] const bool g_KeepTestSet = (TThread::SetKeepThreadTest([] { return t_Held.Empty(); }), true);

// One pthread mutex as the threads of this process take it.
class TLock
{
public:
    explicit TLock(pthread_mutex_t *Mutex) : FMutex(Mutex) {}

    bool Get(uint32_t TimeOut);
    bool Release();
    // Gives back every level the calling thread holds, so that no thread's list of robust mutexes
    // keeps pointing into memory about to go.
    void GiveBack()
    {
        while (Release()) {
        }
    }

private:
    pthread_mutex_t *FMutex;
    const uint64_t FSerial = ++g_Serial;
};

bool TLock::Get(uint32_t TimeOut)
{
    int rc;
    if (TimeOut == INFINITE)
        rc = pthread_mutex_lock(FMutex);
    else if ((rc = pthread_mutex_trylock(FMutex)) == EBUSY) {
        // Free mostly: the clock is read only when there is a wait to time.
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += static_cast<time_t>(TimeOut / 1000);
        until.tv_nsec += static_cast<long>(TimeOut % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_timedlock(FMutex, &until);
    }
    switch (rc) {
    case 0:
        break;
    case EOWNERDEAD:
        // Abandoned by its last owner: ours now, and usable again by everyone.
        pthread_mutex_consistent(FMutex);
        break;
    case ETIMEDOUT:
        return false;
    default:
        throw EOSError(rc, QStringLiteral("Mutex wait"));
    }
    if (THeld *held = t_Held.Find(FSerial))
        ++held->Count;
    else {
        try {
            t_Held.Add(FSerial);
        } catch (...) {
            // Unrecorded, the lock could never be given back.
            pthread_mutex_unlock(FMutex);
            throw;
        }
    }
    return true;
}

bool TLock::Release()
{
    THeld *held = t_Held.Find(FSerial);
    if (!held)
        return false;
    const bool unlocked = pthread_mutex_unlock(FMutex) == 0;
    // A failed unlock means the count was wrong (a forked child's copy): forget it.
    if (!unlocked || --held->Count == 0)
        t_Held.Remove(held);
    return unlocked;
}

// What a TMutex's handle refers to.
class TMutexObject : public TOSObject
{
public:
    virtual TLock &Lock() = 0;
};

class TPrivateMutex final : public TMutexObject
{
public:
    TPrivateMutex() { InitMutex(&FStorage, false, {}); }
    ~TPrivateMutex() override
    {
        FLock.GiveBack();
        pthread_mutex_destroy(&FStorage);
    }
    TLock &Lock() override { return FLock; }

private:
    pthread_mutex_t FStorage;
    TLock FLock{&FStorage};
};

// A named mutex's shared-memory object, mapped once per process however many TMutex objects of
// the name the process has, so that ownership is the same through all of them.
class TNamedObject
{
public:
    TNamedObject(const std::string &AShmName, const std::string &Name);
    ~TNamedObject();
    TNamedObject(const TNamedObject &) = delete;
    TNamedObject &operator=(const TNamedObject &) = delete;

    TLock &Lock() { return *FLock; }

    const std::string ShmName;
    const pid_t Pid = getpid();
    int Users = 0; // TMutex objects of this process; under the registry's lock

private:
    // True when the name still leads to the object this one has open.
    bool NameIsOurs() const;

    int FFd = -1;
    TSharedMutex *FShared = nullptr;
    std::unique_ptr<TLock> FLock;
};

TNamedObject::TNamedObject(const std::string &AShmName, const std::string &Name) : ShmName(AShmName)
{
    const QString what = MutexWhat(Name);
    for (;;) {
        const int fd = shm_open(ShmName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0)
            RaiseLastOSError(what);
        void *map = MAP_FAILED;
        try {
            // Closing fd drops the flock as well, on every way out.
            LockFile(fd);
            struct stat st;
            if (fstat(fd, &st) != 0)
                RaiseLastOSError(what);
            if (st.st_uid != geteuid())
                throw EOSError(EACCES, what);
            if (st.st_size < static_cast<off_t>(sizeof(TSharedMutex)) &&
                ftruncate(fd, sizeof(TSharedMutex)) != 0)
                RaiseLastOSError(what);
            map = mmap(nullptr, sizeof(TSharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map == MAP_FAILED)
                RaiseLastOSError(what);
            auto *shared = static_cast<TSharedMutex *>(map);
            if (shared->Unlinked) {
                // Its last user may have ended between marking it and removing its name; a name left
                // leading here would send every opener round this loop for ever.
                if (NameLeadsTo(ShmName, fd))
                    shm_unlink(ShmName.c_str());
                munmap(map, sizeof(TSharedMutex));
                close(fd);
                continue;
            }
            // A fresh object, or one whose creator died before it was ready.
            if (shared->Magic != SharedMagic) {
                InitMutex(&shared->Mutex, true, Name);
                shared->RefCount = 0;
                shared->Magic = SharedMagic;
            }
            ++shared->RefCount;
            flock(fd, LOCK_UN);
            FFd = fd;
            FShared = shared;
            FLock = std::make_unique<TLock>(&shared->Mutex);
            return;
        } catch (...) {
            if (map != MAP_FAILED)
                munmap(map, sizeof(TSharedMutex));
            close(fd);
            throw;
        }
    }
}

bool TNamedObject::NameIsOurs() const
{
    return NameLeadsTo(ShmName, FFd);
}

TNamedObject::~TNamedObject()
{
    FLock->GiveBack();
    // A forked child's copy was never counted in the object.
    if (Pid == getpid()) {
        try {
            LockFile(FFd);
            if (--FShared->RefCount <= 0) {
                FShared->Unlinked = 1;
                if (NameIsOurs())
                    shm_unlink(ShmName.c_str());
            }
        } catch (const EOSError &) {
            // Without the lock the object just stays for the next opener.
        }
    }
    munmap(FShared, sizeof(TSharedMutex));
    close(FFd);
}

// The named objects this process has open, by shared-memory name.
struct TRegistry
{
    std::mutex Lock;
    std::unordered_map<std::string, TNamedObject *> Objects;
    pid_t Pid = getpid();
};

TRegistry &Registry()
{
    static TRegistry *const registry = new TRegistry; // outlives every static TMutex
    return *registry;
}

class TNamedMutex final : public TMutexObject
{
public:
    explicit TNamedMutex(const std::string &Name)
    {
        const std::string shmName = MutexSharedObjectName(Name);
        TRegistry &reg = Registry();
        std::lock_guard<std::mutex> lock(reg.Lock);
        if (reg.Pid != getpid()) {
            // A forked child opens its own; the copies it inherited stay as they are.
            reg.Objects.clear();
            reg.Pid = getpid();
        }
        TNamedObject *&slot = reg.Objects[shmName];
        if (!slot) {
            try {
                slot = new TNamedObject(shmName, Name);
            } catch (...) {
                reg.Objects.erase(shmName);
                throw;
            }
        }
        ++slot->Users;
        FObject = slot;
    }
    ~TNamedMutex() override
    {
        TRegistry &reg = Registry();
        std::lock_guard<std::mutex> lock(reg.Lock);
        if (--FObject->Users > 0)
            return;
        if (FObject->Pid == getpid())
            reg.Objects.erase(FObject->ShmName);
        delete FObject;
    }
    TLock &Lock() override { return FObject->Lock(); }

private:
    TNamedObject *FObject;
};

TLock &LockOf(HANDLE Handle)
{
    if (!Handle)
        throw EOSError(EINVAL, QStringLiteral("Mutex"));
    return static_cast<TMutexObject *>(Handle)->Lock();
}

} // namespace

void CloseHandle(HANDLE Handle)
{
    delete Handle;
}

THandledObject::~THandledObject()
{
    if (Handle)
        CloseHandle(Handle);
}

std::string MutexSharedObjectName(const std::string &Name)
{
    // One slash leads a shared-memory name and none may follow; the user id keeps users apart.
    const auto escape = [](const std::string &text) {
        static const char hex[] = "0123456789ABCDEF";
        std::string escaped;
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '/' || c == '%' || u < 0x20) {
                escaped += '%';
                escaped += hex[u >> 4];
                escaped += hex[u & 15];
            } else
                escaped += c;
        }
        return escaped;
    };
    // Test programs run side by side set a namespace of their own, so one's long hold of "wfMutex"
    // never stalls another.
    const char *space = std::getenv("PARVIX_MUTEX_NAMESPACE");
    const std::string prefix = space && *space ? escape(space) + "." : std::string();
    return "/ParvixViewer.mutex." + std::to_string(geteuid()) + "." + prefix + escape(Name);
}

TMutex::TMutex(const std::string &Name)
{
    if (Name.empty())
        Handle = new TPrivateMutex();
    else
        Handle = new TNamedMutex(Name);
}

bool TMutex::Get(uint32_t TimeOut)
{
    return LockOf(Handle).Get(TimeOut);
}

bool TMutex::Release()
{
    return Handle && LockOf(Handle).Release();
}
