// Unpacking a compressed report in place (uExtraFunctions).
#include "report/uExtraFunctions.h"

#include "report/uSQLiteFunc.h"
#include "report/utDecompress.h"

#include <QScopeGuard>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const TempBaseFileName = "tempKorrinBaseFile";

namespace {

// The folder part of Path with its closing slash; empty for a name in the current folder.
std::string FolderOf(const std::string &Path)
{
    const size_t slash = Path.rfind('/');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

// Beside the report, so that replacing it stays one rename on one file system.
std::string TempPrefixBeside(const std::string &Path)
{
    return FolderOf(Path) + TempBaseFileName;
}

} // namespace

TReportProbe ProbeReport(const std::string &Utf8Path)
{
    TReportProbe probe;
    sqlite3 *db = nullptr;
    probe.Open = sqlite3_open_v2(Utf8Path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (probe.Open == SQLITE_OK) {
        TStatementCell stmt;
        if (sqlite3_prepare_v2(db, "SELECT value FROM information WHERE field_Name  = \"version\";", -1,
                               stmt.Ptr(), nullptr) != SQLITE_OK)
            probe.Error = QString::fromUtf8(sqlite3_errmsg(db));
        // Stepping no statement gives SQLITE_MISUSE: the file is no report database.
        probe.Step = sqlite3_step(stmt.Handle());
        if (probe.Step == SQLITE_ROW)
            probe.Version = sqlite3_column_int(stmt.Handle(), 0);
        probe.Answered = probe.Step == SQLITE_ROW || probe.Step == SQLITE_DONE;
        if (!probe.Answered && probe.Error.isEmpty())
            probe.Error = QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        probe.Error = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(probe.Open));
    }
    sqlite3_close_v2(db);
    return probe;
}

void DecompressReport(const QString &SourcePath, TDecompressHost &MainForm, std::string &NewName)
{
    NewName.clear();
    const std::string source = SourcePath.toStdString();
    MainForm.SetDecompressFailed(0);

    auto sourceStream = std::make_unique<TFileStream>(source, TFileStream::fmOpenRead);
    auto dest = std::make_unique<TFileStream>(TempPrefixBeside(source), TFileStream::fmCreateUnique);
    const std::string temp = dest->FileName();
    // Whatever fails from here on, the temporary file goes and the source stays as it was.
    auto removeTemp = qScopeGuard([&] {
        dest.reset();
        ::unlink(temp.c_str());
    });

    QObject *waitForm = MainForm.CreateDecompressWaitForm(QStringLiteral("Extracting report."));
    auto *worker = new TDeCompressThread(waitForm, MainForm.MainHandle(), sourceStream.get(), dest.get());
    std::future<void> completion = worker->Completion();
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
    // Ready before the close message that ended the modal show; raises what stopped the worker.
    completion.get();
    sourceStream.reset();
    dest->Close();

    const TReportProbe probe = ProbeReport(temp);
    if (!probe.Answered)
        throw Exception(QStringLiteral("The unpacked file is no report: %1").arg(probe.Error));
    // At the source's name there is always either the compressed or the whole unpacked file.
    if (const int error = ReplaceWithFile(temp, source))
        throw EStreamError(QStringLiteral("Cannot replace file \"%1\". %2")
                               .arg(SourcePath, QString::fromLocal8Bit(std::strerror(error))));
    removeTemp.dismiss();
    NewName = source;
}

int ReplaceWithFile(const std::string &Temp, const std::string &Path)
{
    struct stat status
    {
    };
    if (::stat(Path.c_str(), &status) == 0)
        ::chmod(Temp.c_str(), status.st_mode & 07777);
    if (::rename(Temp.c_str(), Path.c_str()) != 0)
        return errno;
    // The rename itself lasts once the folder's entry is on the disk; the file is whole either way.
    const std::string folder = FolderOf(Path);
    const int folderHandle =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderHandle >= 0) {
        ::fsync(folderHandle);
        ::close(folderHandle);
    }
    return 0;
}
