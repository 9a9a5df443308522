// Unpacking a compressed report in place (uExtraFunctions).
#include "report/uExtraFunctions.h"

#include "report/uSQLiteFunc.h"
#include "report/utDecompress.h"

#include <QScopeGuard>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

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

// A table the viewer reads or writes, with the columns it uses.
struct TReportTable
{
    const char *Name;
    std::vector<const char *> Columns;
    bool Own; // the viewer's tick table: a report without it gets one at its preparation
};

const TReportTable ReportTables[] = {
    {"information", {"field_Name", "value"}, false},
    {"struct_drive_table",
     {"ID_FILE", "ID_PARENT", "IS_FOLDER", "IS_DELETED", "F_NAME", "F_SIZE", "F_ATTR", "F_CREATE", "F_UPDATE",
      "F_ACCESS", "F_FLAGS", "F_CHILDREN_SIZE"},
     false},
    {"check_and_comment_map",
     {"id", "comment", "checked", "fileID", "id_parent", "flag", "checkForFolder"},
     true},
};

// What keeps Table of db from being used, in words; empty when nothing does. SQLite's failures raise.
QString TableFault(sqlite3 *db, const TReportTable &Table)
{
    const QString name = QLatin1String(Table.Name);
    TStatementCell kind;
    CheckSqliteResult(sqlite3_prepare_v2(db, "SELECT type FROM sqlite_master WHERE name = ?1 COLLATE NOCASE;",
                                         -1, kind.Ptr(), nullptr),
                      db);
    sqlite3_bind_text(kind.Handle(), 1, Table.Name, -1, SQLITE_STATIC);
    if (!StepOrRaise(kind.Handle(), db))
        return Table.Own ? QString() : QStringLiteral("it has no table %1").arg(name);
    const QString type =
        QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(kind.Handle(), 0)));
    if (type != QLatin1String("table"))
        return QStringLiteral("%1 is a %2, not a table").arg(name, type);

    // Generated columns are read like any other, so table_xinfo, which lists them too.
    TStatementCell columns;
    CheckSqliteResult(
        sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_xinfo(?1);", -1, columns.Ptr(), nullptr), db);
    sqlite3_bind_text(columns.Handle(), 1, Table.Name, -1, SQLITE_STATIC);
    QStringList present;
    while (StepOrRaise(columns.Handle(), db))
        present << QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(columns.Handle(), 0)));
    QStringList missing;
    for (const char *column : Table.Columns)
        if (!present.contains(QLatin1String(column), Qt::CaseInsensitive))
            missing << QLatin1String(column);
    if (missing.isEmpty())
        return {};
    return QStringLiteral("the table %1 has no column%2 %3")
        .arg(name, QLatin1String(missing.size() > 1 ? "s" : ""), missing.join(QLatin1String(", ")));
}

} // namespace

TFileHead ReadFileHead(const std::string &Utf8Path, QString &Error)
{
    Error.clear();
    const auto unreadable = [&Error](int Code) {
        Error =
            QStringLiteral("The file can not be read: %1.").arg(QString::fromLocal8Bit(std::strerror(Code)));
        return TFileHead::Unreadable;
    };
    // Without blocking: a pipe or a device would hold the window until something wrote to it.
    const int handle = ::open(Utf8Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (handle < 0)
        return unreadable(errno);
    struct stat status;
    if (::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(handle);
        Error = QStringLiteral("The file can not be read: it is not a regular file.");
        return TFileHead::Unreadable;
    }
    char head[SQLiteHeaderSize];
    size_t count = 0;
    while (count < sizeof head) {
        const ssize_t got = ::read(handle, head + count, sizeof head - count);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(handle);
            return unreadable(error);
        }
        if (got == 0)
            break;
        count += size_t(got);
    }
    ::close(handle);
    if (count == 0) {
        Error = QStringLiteral("The file is empty.");
        return TFileHead::Empty;
    }
    return IsSQLiteHeader(head, count) ? TFileHead::Database : TFileHead::Other;
}

TReportProbe ProbeReport(const std::string &Utf8Path)
{
    TReportProbe probe;
    sqlite3 *db = nullptr;
    try {
        const int opened = sqlite3_open_v2(Utf8Path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (opened != SQLITE_OK)
            RaiseSqliteError(opened, db);
        // A table missing here would only show later, as SQLite's words at some step of the work.
        for (const TReportTable &table : ReportTables) {
            const QString fault = TableFault(db, table);
            if (!fault.isEmpty()) {
                probe.Error =
                    (table.Own ? QStringLiteral("Ticks and comments can not be stored in this report: ")
                               : QStringLiteral("The file is not a scan report: ")) +
                    fault + u'.';
                break;
            }
        }
        if (probe.Error.isEmpty()) {
            TStatementCell stmt;
            CheckSqliteResult(
                sqlite3_prepare_v2(db, "SELECT value FROM information WHERE field_Name  = \"version\";", -1,
                                   stmt.Ptr(), nullptr),
                db);
            if (StepOrRaise(stmt.Handle(), db))
                probe.Version = sqlite3_column_int(stmt.Handle(), 0);
        }
    } catch (const ESQLite3 &E) {
        // Busy, damaged, unreadable: ESQLite3 says which in words.
        probe.Error = E.Message();
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
    if (!probe.Error.isEmpty())
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
