#include "report/uLog.h"

#include "common/ssDlgExtW.h"
#include "common/ssMutex.h"
#include "common/ssOSError.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t LogWaitMs = 4000;

// The test settings. Never freed, like logMutex: a worker may log while statics are destroyed.
struct TSettings
{
    std::mutex Lock;
    std::string Folder;
    TLogErrorDisplay Display;
};

TSettings &Settings()
{
    static TSettings *const settings = new TSettings;
    return *settings;
}

std::atomic<bool> g_ErrorShown{false};
std::atomic<TMutex *> g_OtherMutex{nullptr};

std::string ReadExecutableFolder()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    if (n < 0 || n >= static_cast<ssize_t>(sizeof buf))
        throw EOSError(n < 0 ? errno : ENAMETOOLONG, QStringLiteral("Cannot find the program's folder"));
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

// The program does not move while it runs: read once, not for every line.
const std::string &ExecutableFolder()
{
    static const std::string folder = ReadExecutableFolder();
    return folder;
}

constexpr char LogName[] = "ParvixViewer.log";

// The log file's path with its terminating zero, put together in Path[0 .. Size); false when it does
// not fit.
bool LogFileNameInto(char *Path, size_t Size)
{
    const auto put = [Path, Size](const std::string &Folder) {
        if (Folder.size() + sizeof LogName > Size)
            return false;
        std::memcpy(Path, Folder.data(), Folder.size());
        std::memcpy(Path + Folder.size(), LogName, sizeof LogName);
        return true;
    };
    {
        std::lock_guard<std::mutex> lock(Settings().Lock);
        if (!Settings().Folder.empty())
            return put(Settings().Folder);
    }
    return put(ExecutableFolder());
}

void Display(const QString &Msg)
{
    TLogErrorDisplay display;
    {
        std::lock_guard<std::mutex> lock(Settings().Lock);
        display = Settings().Display;
    }
    if (display)
        display(Msg);
    else
        WideMessageDlg(Msg, mtError, mbOKOnly);
}

// The first failure of the run goes to the main thread's display; the caller never waits on it
// unless it is the main thread itself.
void ShowLogError(const QString &Msg)
{
    if (g_ErrorShown.exchange(true))
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(Msg));
        return;
    }
    if (QThread::currentThread() == app->thread())
        Display(Msg);
    else
        QMetaObject::invokeMethod(
            app, [Msg] { Display(Msg); }, Qt::QueuedConnection);
}

QString FileWhat(const char *Action, const char *Path)
{
    return QStringLiteral("Cannot %1 file \"%2\"").arg(QLatin1String(Action), QString::fromUtf8(Path));
}

void WriteAll(int Fd, const char *Text, size_t Size, const char *Path)
{
    size_t done = 0;
    while (done < Size) {
        const ssize_t n = write(Fd, Text + done, Size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EOSError(n < 0 ? errno : EIO, FileWhat("write", Path));
        done += static_cast<size_t>(n);
    }
}

bool IsLink(const char *Path)
{
    struct stat st;
    return lstat(Path, &st) == 0 && S_ISLNK(st.st_mode);
}

// Opens the log for writing. A symbolic link in its place is never followed: whatever it points to is
// neither written nor truncated nor made, and the log writes nothing.
int OpenLog(const char *Path, int Flags, const char *Action)
{
    const int fd = open(Path, Flags | O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP && IsLink(Path))
            throw EOSError(error, FileWhat(Action, Path) +
                                      QStringLiteral(" through the symbolic link in its place"));
        throw EOSError(error, FileWhat(Action, Path));
    }
    return fd;
}

// Opens, writes and closes; the caller holds logMutex. Copies of the program share the file and the
// first of them to end deletes it: a line that finds it gone makes it again.
void AppendLine(const char *Path, const char *Line, size_t Size)
{
    const int fd = OpenLog(Path, O_APPEND, "open");
    try {
        WriteAll(fd, Line, Size, Path);
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0)
        RaiseLastOSError(FileWhat("close", Path));
}

// Folder loading writes lines by the hundred thousand: the path and a line of usual length are put
// together on the stack, so that a line costs no allocation.
void WriteLogLine(const char *Msg, size_t Length)
{
    try {
        char pathBuffer[PATH_MAX];
        std::string longPath;
        const char *path = pathBuffer;
        if (!LogFileNameInto(pathBuffer, sizeof pathBuffer))
            path = (longPath = LogFileName()).c_str();
        TMutex &mutex = logMutex();
        if (!mutex.Get(LogWaitMs))
            return;
        // Given back before a failure is shown, so a box waiting for the user holds up no writer.
        TMutexRelease release(mutex);
        char buffer[512];
        std::string longLine;
        const char *line = buffer;
        if (Length + 2 <= sizeof buffer) {
            std::memcpy(buffer, Msg, Length);
            std::memcpy(buffer + Length, "\r\n", 2);
        } else {
            line = longLine.assign(Msg, Length).append("\r\n").data();
        }
        AppendLine(path, line, Length + 2);
    } catch (const Exception &e) {
        ShowLogError(e.Message());
    } catch (const std::exception &e) {
        ShowLogError(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

TMutex &logMutex()
{
    // Never freed: a worker may still log while the program exits.
    static TMutex *const named = new TMutex("logMutex");
    TMutex *other = g_OtherMutex.load();
    return other ? *other : *named;
}

std::string LogFileName()
{
    std::string path;
    {
        std::lock_guard<std::mutex> lock(Settings().Lock);
        path = Settings().Folder;
    }
    if (path.empty())
        path = ExecutableFolder();
    return path.append(LogName);
}

void CreateLogFile()
{
    try {
        const std::string path = LogFileName();
        const int fd = OpenLog(path.c_str(), O_TRUNC, "create");
        if (close(fd) != 0)
            RaiseLastOSError(FileWhat("close", path.c_str()));
    } catch (const Exception &e) {
        ShowLogError(e.Message());
    }
}

void WriteLog(const std::string &Msg)
{
    WriteLogLine(Msg.data(), Msg.size());
}

void WriteLog(const char *Msg)
{
    WriteLogLine(Msg ? Msg : "", Msg ? std::strlen(Msg) : 0);
}

void WriteLog(const QString &Msg)
{
    WriteLog(Msg.toStdString());
}

void DeleteLogFile()
{
    try {
        const std::string path = LogFileName();
        // A link in the log's place was never the log: it stays.
        if (IsLink(path.c_str()))
            return;
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            RaiseLastOSError(FileWhat("delete", path.c_str()));
    } catch (const Exception &e) {
        ShowLogError(e.Message());
    }
}

void SetLogFolder(const std::string &Folder)
{
    std::lock_guard<std::mutex> lock(Settings().Lock);
    Settings().Folder = Folder;
}

void SetLogErrorDisplay(TLogErrorDisplay Display)
{
    std::lock_guard<std::mutex> lock(Settings().Lock);
    Settings().Display = std::move(Display);
}

void ResetLogErrorShown()
{
    g_ErrorShown = false;
}

void UseLogMutexName(const std::string &Name)
{
    delete g_OtherMutex.exchange(Name.empty() ? nullptr : new TMutex(Name));
}
