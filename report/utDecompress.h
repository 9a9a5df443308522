#pragma once
// The worker that inflates a compressed report (one zlib stream over the whole file) into a
// temporary file, with the file and inflating streams it reads and writes through.
#include "common/ssException.h"
#include "platform/Messages.h"
#include "platform/TThread.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <zlib.h>

// Every SQLite database file begins with these 16 bytes ("SQLite format 3" and a zero byte).
constexpr size_t SQLiteHeaderSize = 16;
// Whether Bytes (Count of them) begin with that header.
bool IsSQLiteHeader(const void *Bytes, size_t Count);

// Room an unpacking leaves free on its disk besides the unpacked report: the report's preparation next
// writes indexes and a journal, about as much again as the report, and the system needs some room too.
constexpr uint64_t UnpackReserveBytes = 64ull << 20;

// The bytes this user may still write on the file system of the open file Handle; raises EStreamError
// when that cannot be told. Tests put a smaller disk in its place, while no unpacking runs.
extern std::function<uint64_t(int Handle)> FreeRoomOf;

// A file stream failed: opening, creating, reading, writing or closing.
class EStreamError : public Exception
{
public:
    using Exception::Exception;
};

// The compressed data is no zlib stream, is damaged, or ends before its end mark.
class EZDecompressionError : public Exception
{
public:
    using Exception::Exception;
};

// A file as a byte stream. Writes are buffered and reach the file at Flush, Close or when the buffer
// is full; a failure raises EStreamError. One thread at a time.
class TFileStream
{
public:
    enum TMode { fmOpenRead, fmCreateUnique };
    // fmOpenRead opens FileName (8-bit) for reading. fmCreateUnique creates a new file for writing whose
    // name is FileName with a unique ending (see FileName()), exclusively and never through a link, with
    // permissions 0600. Raises EStreamError ("Cannot open file ..." / "Cannot create a file ...").
    TFileStream(const std::string &FileName, TMode Mode);
    // Closes the file; what is still buffered is written, and a failure there is dropped: callers that
    // must know call Close first.
    ~TFileStream();
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;

    // Up to Count bytes from the current position; 0 at the end of the file.
    size_t Read(void *Buffer, size_t Count);
    // All Count bytes, or EStreamError.
    void Write(const void *Buffer, size_t Count);
    // Writes the buffered bytes to the file.
    void Flush();
    // Flushes and closes; raises EStreamError when either fails. Nothing when already closed.
    void Close();
    const std::string &FileName() const { return FFileName; }
    // FreeRoomOf for the file's file system; what is buffered is not counted.
    uint64_t FreeRoom() const { return FreeRoomOf(FHandle); }

private:
    void WriteOut(const char *Bytes, size_t Count);
    [[noreturn]] void Fail(const char *What, int Error) const;

    std::string FFileName;
    int FHandle = -1;
    std::vector<char> FBuffer; // pending writes (fmCreateUnique only)
    bool FSyncOnClose = false; // the written file is on the disk before Close returns
};

// A read-only stream of the bytes inflated from Source, which it reads from its current position on.
class TDecompressionStream
{
public:
    // Raises EZDecompressionError when zlib cannot be set up.
    explicit TDecompressionStream(TFileStream &Source);
    ~TDecompressionStream();
    TDecompressionStream(const TDecompressionStream &) = delete;
    TDecompressionStream &operator=(const TDecompressionStream &) = delete;

    // Up to Count inflated bytes; 0 once the stream's end mark has been passed. Raises
    // EZDecompressionError for data that is no zlib stream, damaged data, a wrong check value, or a
    // source that ends before the end mark (a cut or empty file); reading errors of Source pass on.
    size_t Read(void *Buffer, size_t Count);

private:
    // Inflates the next piece into FOutput; false when nothing more comes.
    bool Inflate();

    TFileStream &FSource;
    z_stream FZ{};
    std::vector<unsigned char> FInput;
    std::vector<unsigned char> FOutput; // inflated, not read yet: FOutPos..FOutEnd
    size_t FOutPos = 0;
    size_t FOutEnd = 0;
    bool FEnded = false; // the end mark was passed
};

// Inflates Source into Dest, posts WM_DECOMPRESS_ERROR to MainHandle when anything of that fails, and
// then, as its very last act, WM_WAITFORM_CLOSE to WaitForm. It stops before it writes anything when
// the inflated bytes do not begin with an SQLite database's header, and before Dest's disk would keep
// less free room than the bytes written and UnpackReserveBytes. Created suspended; frees itself.
class TDeCompressThread : public TThread
{
public:
    // Neither stream is owned; both must stay open until the close message has arrived.
    TDeCompressThread(HWND WaitForm, HWND MainHandle, TFileStream *Source, TFileStream *Dest);

    // Becomes ready before the worker posts its messages: when Dest received the whole inflated content
    // (stream end reached, every byte written), or else with the exception that stopped it. Call before
    // Resume, once.
    std::future<void> Completion() { return FCompletion.get_future(); }

protected:
    void Execute() override;

private:
    HWND WaitForm;
    TFileStream *Source;
    TFileStream *Dest;
    HWND MainHandle;
    std::promise<void> FCompletion;
};
