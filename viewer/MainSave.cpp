// Saving the ticks and comments into the report, and the export file sent back to the report's maker.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utBuildReportThread.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QToolButton>
#include <QUrl>
#include <sqlite3.h>

namespace {

std::function<void(const QUrl &)> OpenFolderHook;

void OpenFolder(const QString &Folder)
{
    // A report named without a folder lies in the current one.
    const QUrl url = QUrl::fromLocalFile(QDir(Folder).absolutePath());
    if (OpenFolderHook)
        OpenFolderHook(url);
    // Without a desktop's file manager nothing would happen at all: say where the folder is.
    else if (!QDesktopServices::openUrl(url))
        WideMessageDlg(QStringLiteral("Can not open folder: ") + url.toLocalFile(), mtError, mbOKOnly);
}

void OfferFolder(const QString &Text, const QString &Folder)
{
    if (WideMessageDlg(Text, mtInformation, mbYesNo) == mrYes)
        OpenFolder(Folder);
}

// A tool button's caption shows "&" only when doubled.
QString CaptionOfPath(QString Path)
{
    return Path.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString PathOfCaption(QString Caption)
{
    return Caption.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

} // namespace

void SetOpenFolderHook(std::function<void(const QUrl &)> Hook)
{
    OpenFolderHook = std::move(Hook);
}

void CheckOpenReport(bool Closing)
{
    // SQLite would commit into the file it has open, which another program has taken from the report's
    // place, and then refuse every write as read-only.
    if (!ReportDB || NamesFile(sqlite3_db_filename(ReportDB, "main"), ReportFile))
        return;
    if (Closing)
        throw Exception(ReportGoneText);
    // Nothing is rolled back: back in its place, the report takes the changes at the next save.
    throw Exception(
        ReportGoneText +
        QStringLiteral("\rThe changes since the last save are kept until the viewer closes or opens "
                       "another report: put the report back in its place and save them then."));
}

bool TMainForm::CommitWork()
{
    if (!ReportDB)
        return false;
    StoreComment();
    QString failure;
    bool lost = false;
    try {
        CheckOpenReport();
        // No transaction is left to commit after a failure that SQLite rolled back.
        if (!sqlite3_get_autocommit(ReportDB))
            ExecSqlScript(ReportDB, "COMMIT;");
    } catch (const Exception &E) {
        failure = E.Message();
        // A busy report keeps the transaction and its changes for the next save; an I/O failure
        // (disk full, say) rolls it back.
        lost = sqlite3_get_autocommit(ReportDB);
        if (lost)
            failure += QStringLiteral("\rThe changes since the last save are lost.");
    }
    try {
        if (sqlite3_get_autocommit(ReportDB))
            ExecSqlScript(ReportDB, "BEGIN TRANSACTION;");
    } catch (const Exception &E) {
        failure += (failure.isEmpty() ? QString() : QStringLiteral("\r")) + E.Message();
    }
    if (failure.isEmpty())
        return true;
    WriteLog(QStringLiteral("TMainForm.CommitWork - ") + failure);
    // What the trees and the comment box show must not outlive a rollback.
    if (lost)
        ShowReportState();
    WideMessageDlg(failure, mtError, mbOKOnly);
    return false;
}

void TMainForm::tb_SaveButtonClick()
{
    CommitWork();
}

void TMainForm::tb_ExportBaseClick()
{
    if (!ReportDB)
        return;
    const QString exportName = ExportFileNameOf(baseName);
    const auto notCreated = [&](const QString &Failure) {
        WideMessageDlg(QStringLiteral("Report was not created. File: ") + exportName + QChar(13) + Failure,
                       mtError, mbOKOnly);
    };
    try {
        CheckOpenReport();
    } catch (const Exception &E) {
        notCreated(E.Message());
        return;
    }
    // A failed save stops the export: it would not hold the changes the user sees.
    if (!CommitWork())
        return;
    try {
        const QString folder = ContainingFolder(exportName);
        std::shared_ptr<TBuildReportResult> result;
        RunInWaitForm(QStringLiteral("Preparing report. Please wait. "), nullptr, nullptr,
                      [&](TWaitForm *Wait, TThread *&Worker) {
                          result = std::make_shared<TBuildReportResult>();
                          Worker = new BuildReportThread(Wait, baseName, ReportFile, exportName, result);
                      });
        const QString failure = result->Failure();
        if (!failure.isEmpty()) {
            notCreated(failure);
            return;
        }
        OfferFolder(QStringLiteral("Report created. File: ") + exportName + QChar(13) +
                        QStringLiteral("Open containing folder?"),
                    folder);
        tb_ExportFileName->setText(CaptionOfPath(exportName));
        tb_ExportFileName->show();
        tb_ExportFileName->setFixedHeight(30);
        tbar_OpenFolder->setFixedWidth(tb_ExportFileName->sizeHint().width() + 30);
    } catch (const std::exception &) {
        WideMessageDlg(QStringLiteral("An unexcepted error has occured!"), mtError, mbOKOnly);
    }
}

void TMainForm::tb_ExportFileNameClick()
{
    const QString path = PathOfCaption(tb_ExportFileName->text());
    if (!QFileInfo::exists(path)) {
        tb_ExportFileName->hide();
        return;
    }
    OfferFolder(QStringLiteral("Open containing folder?"), ContainingFolder(path));
}
