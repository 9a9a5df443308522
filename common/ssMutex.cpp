#include "common/ssMutex.h"

#include "common/ssOSError.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t SharedMagic = 0x5856504D; // set once the mutex in the object is initialised

// The layout of a named mutex's shared-memory object. The bookkeeping fields are read and written
// only under flock on the object.
struct TSharedMutex
{
    uint32_t Magic;
    uint32_t Unlinked; // the name was removed: an opener that still reached this object opens anew
    int64_t RefCount;  // open TMutex objects of all processes
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

class TMutexObject : public TOSObject
{
public:
    explicit TMutexObject(pthread_mutex_t *Mutex) : FMutex(Mutex) {}
    pthread_mutex_t *Mutex() const { return FMutex; }

protected:
    // Unlocks every level the calling thread holds, so that no thread's list of robust mutexes
    // keeps pointing into memory about to go.
    void GiveBack()
    {
        while (pthread_mutex_unlock(FMutex) == 0) {
        }
    }
    pthread_mutex_t *FMutex;
};

class TPrivateMutex final : public TMutexObject
{
public:
    TPrivateMutex() : TMutexObject(&FStorage) { InitMutex(&FStorage, false, {}); }
    ~TPrivateMutex() override
    {
        GiveBack();
        pthread_mutex_destroy(&FStorage);
    }

private:
    pthread_mutex_t FStorage;
};

class TNamedMutex final : public TMutexObject
{
public:
    explicit TNamedMutex(const std::string &Name);
    ~TNamedMutex() override;

private:
    // True when the name still leads to the object this one has open.
    bool NameIsOurs() const;

    std::string FShmName;
    int FFd = -1;
    TSharedMutex *FShared = nullptr;
};

TNamedMutex::TNamedMutex(const std::string &Name)
    : TMutexObject(nullptr), FShmName(MutexSharedObjectName(Name))
{
    const QString what = MutexWhat(Name);
    for (;;) {
        const int fd = shm_open(FShmName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
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
            FMutex = &shared->Mutex;
            return;
        } catch (...) {
            if (map != MAP_FAILED)
                munmap(map, sizeof(TSharedMutex));
            close(fd);
            throw;
        }
    }
}

bool TNamedMutex::NameIsOurs() const
{
    const int fd = shm_open(FShmName.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat byName, ours;
    const bool same = fstat(fd, &byName) == 0 && fstat(FFd, &ours) == 0 && byName.st_dev == ours.st_dev &&
                      byName.st_ino == ours.st_ino;
    close(fd);
    return same;
}

TNamedMutex::~TNamedMutex()
{
    GiveBack();
    try {
        LockFile(FFd);
        if (--FShared->RefCount <= 0) {
            FShared->Unlinked = 1;
            if (NameIsOurs())
                shm_unlink(FShmName.c_str());
        }
    } catch (const EOSError &) {
        // Without the lock the object just stays for the next opener.
    }
    munmap(FShared, sizeof(TSharedMutex));
    close(FFd);
}

TMutexObject *MutexOf(HANDLE Handle)
{
    if (!Handle)
        throw EOSError(EINVAL, QStringLiteral("Mutex"));
    return static_cast<TMutexObject *>(Handle);
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
    static const char hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : Name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '%' || u < 0x20) {
            escaped += '%';
            escaped += hex[u >> 4];
            escaped += hex[u & 15];
        } else
            escaped += c;
    }
    return "/ParvixViewer.mutex." + std::to_string(geteuid()) + "." + escaped;
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
    pthread_mutex_t *m = MutexOf(Handle)->Mutex();
    int rc;
    if (TimeOut == INFINITE)
        rc = pthread_mutex_lock(m);
    else {
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += static_cast<time_t>(TimeOut / 1000);
        until.tv_nsec += static_cast<long>(TimeOut % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_timedlock(m, &until);
    }
    switch (rc) {
    case 0:
        return true;
    case EOWNERDEAD:
        // Abandoned by its last owner: ours now, and usable again by everyone.
        pthread_mutex_consistent(m);
        return true;
    case ETIMEDOUT:
        return false;
    default:
        throw EOSError(rc, QStringLiteral("Mutex wait"));
    }
}

bool TMutex::Release()
{
    return Handle && pthread_mutex_unlock(MutexOf(Handle)->Mutex()) == 0;
}
