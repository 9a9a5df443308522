#pragma once
// The worker that writes the export file of the open report: it reads the report through a connection
// of its own (the main window has just committed) and hands the file to ExportChecks. Its last act,
// also after a failure, is WM_WAITFORM_CLOSE to the wait window; why it failed is left in the result
// the starter gave it, so that the starter never takes a failure for a written file.
#include "platform/TThread.h"
#include "report/uExtraFunctions.h"

#include <QString>
#include <memory>
#include <mutex>

class TWaitForm;

// What the worker leaves for its starter. Written by the worker before its close message, read by the
// starter after the wait window's modal show has returned.
class TBuildReportResult
{
public:
    void SetFailure(const QString &Text);
    // Why no export file was written; empty when it was.
    QString Failure() const;

private:
    mutable std::mutex FLock;
    QString FFailure;
};

class BuildReportThread : public TThread
{
public:
    // Created suspended; frees itself when Execute ends.
    // ReportFile: the file that BaseName named when the report was opened for work.
    BuildReportThread(TWaitForm *WaitForm, const QString &BaseName, const TFileId &ReportFile,
                      const QString &ExportName, std::shared_ptr<TBuildReportResult> Result);

protected:
    // Opens BaseName (never creating it) when it still names ReportFile, begins a transaction,
    // ExportChecks(ExportName); then, in every case, ends the transaction, closes the connection, stores
    // the failure and posts the close.
    void Execute() override;

private:
    TWaitForm *WaitForm;
    QString BaseName;
    TFileId ReportFile;
    QString ExportName;
    std::shared_ptr<TBuildReportResult> Result;
};

// The export file of the report at BaseName: its file name up to its last "." (the whole file name
// when it has none), then "_Export.roa", in the report's folder. Paths use "/".
QString ExportFileNameOf(const QString &BaseName);
// The folder that holds Path: up to and including its last "/"; empty when it has none.
QString ContainingFolder(const QString &Path);
