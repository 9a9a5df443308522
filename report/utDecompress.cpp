// Inflating a compressed report on a worker thread.
#include "report/utDecompress.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr size_t WriteBufferSize = 256 * 1024;
constexpr size_t InputBufferSize = 64 * 1024;
constexpr size_t OutputBufferSize = 64 * 1024;
// The worker's piece: inflated bytes are read and written this many at a time.
constexpr size_t PieceSize = 1000;
// The unpacking asks for the free room again after this many bytes.
constexpr uint64_t FreeRoomStepBytes = 1ull << 20;

QString SystemText(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

// Raises when writing the next step's bytes would leave Dest's disk with less free room than the
// unpacked report's size and the reserve.
void CheckFreeRoom(TFileStream &Dest, uint64_t Written)
{
    Dest.Flush();
    const uint64_t free = Dest.FreeRoom();
    const uint64_t after = Written + FreeRoomStepBytes;
    if (free < FreeRoomStepBytes + after + UnpackReserveBytes)
        throw EStreamError(
            QStringLiteral("The disk has too little free room to unpack the report: %1 MB unpacked, "
                           "%2 MB free; opening the report needs as much free room again as "
                           "its size, and %3 MB more.")
                .arg(Written >> 20)
                .arg(free >> 20)
                .arg(UnpackReserveBytes >> 20));
}

} // namespace

std::function<uint64_t(int Handle)> FreeRoomOf = [](int Handle) -> uint64_t {
    struct statvfs info
    {
    };
    if (::fstatvfs(Handle, &info) != 0)
        throw EStreamError(
            QStringLiteral("Cannot tell the free room of the disk. %1").arg(SystemText(errno)));
    return uint64_t(info.f_bavail) * info.f_frsize;
};

bool IsSQLiteHeader(const void *Bytes, size_t Count)
{
    return Count >= SQLiteHeaderSize && std::memcmp(Bytes, "SQLite format 3", SQLiteHeaderSize) == 0;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string &FileName, TMode Mode) : FFileName(FileName)
{
    if (Mode == fmOpenRead) {
        FHandle = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (FHandle < 0)
            throw EStreamError(QStringLiteral("Cannot open file \"%1\". %2")
                                   .arg(QString::fromStdString(FileName), SystemText(errno)));
    } else {
        std::string name = FileName + ".XXXXXX";
        // mkostemp opens with O_CREAT | O_EXCL, which never follows a link at that name
        FHandle = ::mkostemp(name.data(), O_CLOEXEC);
        if (FHandle < 0)
            throw EStreamError(QStringLiteral("Cannot create a file \"%1\". %2")
                                   .arg(QString::fromStdString(FileName + ".XXXXXX"), SystemText(errno)));
        FFileName = name;
        FBuffer.reserve(WriteBufferSize);
        FSyncOnClose = true;
    }
}

TFileStream::~TFileStream()
{
    try {
        Close();
    } catch (const EStreamError &) {
        ::close(FHandle); // a flush that failed left the file open
    }
}

void TFileStream::Fail(const char *What, int Error) const
{
    throw EStreamError(QStringLiteral("%1 \"%2\". %3")
                           .arg(QLatin1String(What), QString::fromStdString(FFileName), SystemText(Error)));
}

size_t TFileStream::Read(void *Buffer, size_t Count)
{
    for (;;) {
        const ssize_t got = ::read(FHandle, Buffer, Count);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno != EINTR)
            Fail("Cannot read file", errno);
    }
}

void TFileStream::WriteOut(const char *Bytes, size_t Count)
{
    while (Count > 0) {
        const ssize_t put = ::write(FHandle, Bytes, Count);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot write file", errno);
        }
        Bytes += put;
        Count -= static_cast<size_t>(put);
    }
}

void TFileStream::Write(const void *Buffer, size_t Count)
{
    const char *bytes = static_cast<const char *>(Buffer);
    if (FBuffer.size() + Count > WriteBufferSize)
        Flush();
    if (Count >= WriteBufferSize)
        WriteOut(bytes, Count);
    else
        FBuffer.insert(FBuffer.end(), bytes, bytes + Count);
}

void TFileStream::Flush()
{
    if (FBuffer.empty())
        return;
    WriteOut(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
}

void TFileStream::Close()
{
    if (FHandle < 0)
        return;
    Flush();
    // The unpacked file replaces the only copy of the report: it must survive a crash first.
    if (FSyncOnClose && ::fsync(FHandle) != 0)
        Fail("Cannot write file", errno);
    const int handle = FHandle;
    FHandle = -1;
    // the descriptor is gone after close() whatever it answers, so it is never closed twice
    if (::close(handle) != 0 && errno != EINTR)
        Fail("Cannot close file", errno);
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(TFileStream &Source)
    : FSource(Source), FInput(InputBufferSize), FOutput(OutputBufferSize)
{
    if (inflateInit(&FZ) != Z_OK)
        throw EZDecompressionError(QStringLiteral("Cannot set up the decompression: %1")
                                       .arg(QLatin1String(FZ.msg ? FZ.msg : "out of memory")));
}

TDecompressionStream::~TDecompressionStream()
{
    inflateEnd(&FZ);
}

size_t TDecompressionStream::Read(void *Buffer, size_t Count)
{
    char *dest = static_cast<char *>(Buffer);
    size_t copied = 0;
    while (copied < Count) {
        if (FOutPos == FOutEnd && !Inflate())
            break;
        const size_t n = std::min(Count - copied, FOutEnd - FOutPos);
        std::memcpy(dest + copied, FOutput.data() + FOutPos, n);
        FOutPos += n;
        copied += n;
    }
    return copied;
}

bool TDecompressionStream::Inflate()
{
    if (FEnded)
        return false;
    // Large calls: inflating a few hundred bytes per call costs a fifth more than the inflating itself.
    FZ.next_out = FOutput.data();
    FZ.avail_out = static_cast<uInt>(FOutput.size());
    while (FZ.avail_out > 0) {
        if (FZ.avail_in == 0) {
            const size_t got = FSource.Read(FInput.data(), FInput.size());
            if (got == 0)
                throw EZDecompressionError(QStringLiteral("The compressed data ends before its end mark"));
            FZ.next_in = FInput.data();
            FZ.avail_in = static_cast<uInt>(got);
        }
        const int result = inflate(&FZ, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            FEnded = true;
            break;
        }
        if (result != Z_OK && result != Z_BUF_ERROR)
            throw EZDecompressionError(QStringLiteral("Decompression error: %1")
                                           .arg(QLatin1String(FZ.msg ? FZ.msg : zError(result))));
    }
    FOutPos = 0;
    FOutEnd = FOutput.size() - FZ.avail_out;
    return FOutEnd > 0;
}

// ---- TDeCompressThread ----

TDeCompressThread::TDeCompressThread(HWND WaitForm, HWND MainHandle, TFileStream *Source, TFileStream *Dest)
    : TThread(true), WaitForm(WaitForm), Source(Source), Dest(Dest), MainHandle(MainHandle)
{
    FreeOnTerminate = true;
}

void TDeCompressThread::Execute()
{
    try {
        TDecompressionStream unzip(*Source);
        char buffer[PieceSize];
        uint64_t written = 0;
        uint64_t checkedUpTo = 0; // written may grow this far before the free room is asked again
        for (;;) {
            const size_t got = unzip.Read(buffer, sizeof buffer);
            // Anything else would be written out whole, however large, only to be refused then.
            if (written == 0 && !IsSQLiteHeader(buffer, got))
                throw Exception(
                    QStringLiteral("The compressed file holds no report: what it unpacks to does not "
                                   "begin as an SQLite database does."));
            if (got == 0)
                break;
            if (written + got > checkedUpTo) {
                CheckFreeRoom(*Dest, written);
                checkedUpTo = written + FreeRoomStepBytes;
            }
            Dest->Write(buffer, got);
            written += got;
        }
        Dest->Flush();
        FCompletion.set_value();
    } catch (...) {
        // whatever went wrong, the main window hears of it and the starter gets the cause
        FCompletion.set_exception(std::current_exception());
        PostMessage(MainHandle, WM_DECOMPRESS_ERROR, 0, 0);
    }
    // The starter may free the streams as soon as the close message has arrived.
    PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
}
