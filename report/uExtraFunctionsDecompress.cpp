// Unpacking a compressed report in place (uExtraFunctions).
#include "report/uExtraFunctions.h"

#include "common/ssDlgExtW.h"
#include "report/utDecompress.h"

#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const TempBaseFileName = "tempKorrinBaseFile";

namespace {

bool SameFile(const std::string &A, const std::string &B)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    return ::stat(A.c_str(), &a) == 0 && ::stat(B.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Copies the file From into the open descriptor To; false when reading or writing fails.
bool CopyInto(const std::string &From, int To)
{
    const int in = ::open(From.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    std::vector<char> buffer(1024 * 1024);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(To, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno != EINTR)
                ok = false;
            else if (put > 0)
                done += put;
        }
        if (!ok)
            break;
    }
    ::close(in);
    return ok;
}

} // namespace

bool ReplaceFileWith(const std::string &Target, const std::string &Temp)
{
    struct stat target
    {
    };
    const bool keepMode = ::stat(Target.c_str(), &target) == 0;
    const mode_t mode = target.st_mode & 07777;
    if (keepMode)
        ::chmod(Temp.c_str(), mode);
    // rename replaces Target in one step: there is always one of the two files at its name
    if (::rename(Temp.c_str(), Target.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    // Temp lies on another file system: copy it beside Target first, then rename the copy over it.
    std::string beside = Target + ".XXXXXX";
    const int out = ::mkstemp(beside.data());
    if (out < 0)
        return false;
    bool ok = CopyInto(Temp, out);
    if (keepMode)
        ::fchmod(out, mode);
    ok = ::close(out) == 0 && ok;
    if (!ok || ::rename(beside.c_str(), Target.c_str()) != 0) {
        ::unlink(beside.c_str());
        return false;
    }
    ::unlink(Temp.c_str());
    return true;
}

void DecompressReport(const QString &SourcePath, TDecompressHost &MainForm, std::string &NewName)
{
    NewName.clear();
    const std::string source = SourcePath.toStdString();
    try {
        // truncating the temporary file must never truncate the report itself
        if (SameFile(source, TempBaseFileName))
            throw EStreamError(QStringLiteral("Cannot create file \"%1\". It is the report to extract.")
                                   .arg(QLatin1String(TempBaseFileName)));
        TFileStream(TempBaseFileName, TFileStream::fmCreate).Close();
    } catch (const Exception &e) {
        WideMessageDlg(e.Message(), mtError, MsgDlgButton(mbOK));
        return;
    }
    MainForm.SetDecompressFailed(0);

    auto sourceStream = std::make_unique<TFileStream>(source, TFileStream::fmOpenRead);
    auto dest = std::make_unique<TFileStream>(TempBaseFileName, TFileStream::fmCreate);
    QObject *waitForm = MainForm.CreateDecompressWaitForm(QStringLiteral("Extracting report."));
    auto *worker = new TDeCompressThread(waitForm, MainForm.MainHandle(), sourceStream.get(), dest.get());
    std::future<bool> completion = worker->Completion();
    try {
        worker->Resume();
    } catch (...) {
        delete worker; // never started, so it cannot free itself
        throw;
    }
    try {
        MainForm.ShowDecompressWaitForm(waitForm);
    } catch (...) {
        completion.wait(); // the worker may still be using the streams
        throw;
    }
    // set before the close message that ended the modal show
    const bool complete = completion.get();
    sourceStream.reset();
    bool closed = true;
    try {
        dest->Close();
    } catch (const EStreamError &) {
        closed = false;
    }
    dest.reset();

    // Replaced only when the whole stream went into the temporary file; otherwise the compressed file
    // stays as it was and the temporary file stays behind.
    if (MainForm.GetDecompressFailed() != 0 || !complete || !closed)
        return;
    if (ReplaceFileWith(source, TempBaseFileName))
        NewName = source;
}
