// Writing the export file on a worker thread.
#include "viewer/utBuildReportThread.h"

#include "platform/Messages.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"

#include <sqlite3.h>

void TBuildReportResult::SetFailure(const QString &Text)
{
    std::lock_guard<std::mutex> lock(FLock);
    FFailure = Text;
}

QString TBuildReportResult::Failure() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FFailure;
}

BuildReportThread::BuildReportThread(TWaitForm *WaitForm, const QString &BaseName, const TFileId &ReportFile,
                                     const QString &ExportName, std::shared_ptr<TBuildReportResult> Result)
    : TThread(true), WaitForm(WaitForm), BaseName(BaseName), ReportFile(ReportFile), ExportName(ExportName),
      Result(std::move(Result))
{
    FreeOnTerminate = true;
}

void BuildReportThread::Execute()
{
    if (BaseName.isEmpty()) {
        PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
        return;
    }
    QString failure;
    sqlite3 *db = nullptr;
    try {
        const std::string path = WideToUtf8(BaseName);
        // The path names the report's file before and after the connection opens it: so the connection
        // reads that file, never another one put in its place.
        const auto checkReport = [&] {
            if (!NamesFile(path, ReportFile))
                throw Exception(ReportGoneText);
        };
        checkReport();
        // Never created: a report that has gone would otherwise export as an empty one.
        const int result = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (result != SQLITE_OK)
            RaiseSqliteError(result, db);
        checkReport();
        ExecSqlScript(db, "BEGIN TRANSACTION;");
        ExportChecks(ExportName, db);
    } catch (const Exception &E) {
        failure = E.Message();
    } catch (const std::exception &E) {
        failure = QString::fromLocal8Bit(E.what());
    }
    try {
        // The transaction only read; its end cannot lose anything.
        ExecSqlScript(db, "COMMIT;");
    } catch (...) {
    }
    sqlite3_close(db);
    if (!failure.isEmpty())
        WriteLog(QStringLiteral("==========BuildReportThread.Execute exception - ") + failure);
    Result->SetFailure(failure);
    PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
}

QString ExportFileNameOf(const QString &BaseName)
{
    const qsizetype dot = BaseName.lastIndexOf(QLatin1Char('.'));
    const bool inFileName = dot > BaseName.lastIndexOf(QLatin1Char('/'));
    return (inFileName ? BaseName.left(dot) : BaseName) + QStringLiteral("_Export.roa");
}

QString ContainingFolder(const QString &Path)
{
    return Path.left(Path.lastIndexOf(QLatin1Char('/')) + 1);
}
