// Opening a report: the test of a path, the open button, drops, and the steps after the preparation.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uRegEdit.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utLoadThread.h"

#include <QDateTime>
#include <QFileDialog>
#include <QScopeGuard>
#include <sqlite3.h>

#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace {

const QString CannotOpenText = QStringLiteral("Can not open report file!");

void ErrorBox(const QString &Text)
{
    WideMessageDlg(Text, mtError, mbOKOnly);
}

QString ClassName(const std::exception &E)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> name(
        abi::__cxa_demangle(typeid(E).name(), nullptr, nullptr, &status), std::free);
    return QString::fromLatin1(status == 0 && name ? name.get() : typeid(E).name());
}

QString ErrorMessage(const std::exception &E)
{
    if (const auto *e = dynamic_cast<const Exception *>(&E))
        return e->Message();
    return QString::fromLocal8Bit(E.what());
}

// The files SQLite keeps beside an open report, by the endings of their names.
constexpr const char *ReportSideFiles[] = {"-journal", "-wal", "-shm"};

// Whether Path names the report at Report or one of the files SQLite keeps beside it, under that name or
// another (a link, another spelling of its folder). Asked of names and the file system only: a descriptor
// of any of them closed here would drop SQLite's locks on the open report. Side names the file found,
// empty for the report itself.
bool IsReportFile(const QString &Path, const QString &Report, QString &Side)
{
    const auto names = [&](const QString &Name) {
        return Path == Name || IsSameFile(WideToUtf8(Path), WideToUtf8(Name));
    };
    Side.clear();
    if (names(Report))
        return true;
    for (const char *ending : ReportSideFiles) {
        Side = QLatin1String(ending);
        if (names(Report + Side))
            return true;
    }
    return false;
}

} // namespace

bool TMainForm::TryDBorArchive(const QString &Path)
{
    WriteLog("TMainForm.TryDBorArchive - start");
    QString side;
    if (ReportDB && IsReportFile(Path, baseName, side)) {
        const QString running = QStringLiteral("Selected report file is already running.");
        ErrorBox(side.isEmpty()
                     ? running
                     : running + QStringLiteral("\rThe selected file is the \"%1\" file that SQLite keeps "
                                                "beside the open report.")
                                     .arg(side));
        return false;
    }

    WriteLog("TMainForm.TryDBorArchive - try open base");
    QString path = Path;
    QString why;
    const TFileHead head = ReadFileHead(WideToUtf8(path), why);
    // Only a file that does not begin as a database is unpacked: one that SQLite cannot read now (busy,
    // damaged) is told as such below. A file that cannot be read, or holds nothing, goes no further.
    if (head == TFileHead::Unreadable || head == TFileHead::Empty) {
        ErrorBox(CannotOpenText + u'\r' + why);
        return false;
    }
    if (head == TFileHead::Other) {
        WriteLog("TMainForm.TryDBorArchive - try decompress");
        try {
            std::string newName;
            DecompressReport(path, *this, newName);
            path = QString::fromStdString(newName);
        } catch (const std::exception &E) {
            ErrorBox(CannotOpenText + u'\n' + ErrorMessage(E));
            return false;
        }
    }
    if (path.isEmpty()) {
        ErrorBox(CannotOpenText);
        return false;
    }

    WriteLog("TMainForm.TryDBorArchive - it`s not archive. Continue opening...");
    bool result = true;
    const TReportProbe probe = ProbeReport(WideToUtf8(path));
    if (!probe.Error.isEmpty()) {
        ErrorBox(CannotOpenText + u'\r' + probe.Error);
        result = false;
    } else if (probe.Version != 1) {
        WideMessageDlg(QStringLiteral("Mismatching between version of program and report. \rCompatibillity "
                                      "problems may occur."),
                       mtWarning, mbOKOnly);
    }
    WriteLog("TMainForm.TryDBorArchive - finish");
    return result;
}

void TMainForm::tb_OpenBaseClick()
{
    WriteLog("TMainForm.tb_OpenBaseClick - start");
    if (useOpenDialog == 1) {
        if (OpenBaseDialog()->exec() != QDialog::Accepted)
            return;
    } else {
        if (!droppedFileName)
            return;
        OpenBaseDialog()->selectFile(*droppedFileName);
    }
    const QStringList chosen = dlg_OpenBase->selectedFiles();
    const QString path = chosen.isEmpty() ? QString() : chosen.constFirst();
    try {
        if (!TryDBorArchive(path))
            return;
    } catch (const std::exception &E) {
        // As an unhandled error of a click: its message in a box, nothing opened.
        ErrorBox(ErrorMessage(E));
        return;
    }

    std::optional<QString> failure;
    try {
        // The trees leave the update and the window is closed whatever raises.
        RunInWaitForm(QStringLiteral("Preparing report. Please wait. "), tv_FolderTree, tv_FilesTree,
                      [&](TWaitForm *Wait, TThread *&Worker) {
                          // Settings that cannot be written stop no opening.
                          const bool remembered = RememberBaseName(path.toStdString());
                          baseName = path;
                          Worker = new TLoadThread(Wait, this, baseName);
                          FinishWork();
                          il_IconsImList = new TImageList(16, 16);
                          InitLabels();
                          InitializeImages();
                          InitializeTrees();
                          // The path read back is the one opened for work and the export is named after;
                          // after a failed write the settings hold none or an earlier one: the path as
                          // chosen goes on.
                          std::string stored;
                          if (remembered && RecallBaseName(stored))
                              baseName = QString::fromStdString(stored);
                      });
    } catch (const std::exception &E) {
        failure = ErrorMessage(E);
    }
    if (failure)
        ErrorBox(*failure);
    WriteLog("TMainForm.tb_OpenBaseClick - finish");
}

void TMainForm::WMDropFiles(const QStringList &Paths)
{
    useOpenDialog = 0;
    const auto finish = qScopeGuard([this] {
        useOpenDialog = 1;
        droppedFileName.reset();
    });
    // Only the first file counts.
    if (Paths.isEmpty() || Paths.constFirst().isEmpty())
        return;
    droppedFileName = Paths.constFirst();
    tb_OpenBaseClick();
}

void TMainForm::WMDecompressError()
{
    decompressFailed = 1;
}

void TMainForm::FinishLoad()
{
    WriteLog("TMainForm.FinishLoad - start");
    const QString failure = TakeLoadFailure();
    if (!failure.isEmpty()) {
        // The preparation failed: the report is not opened for work.
        baseName.clear();
        ErrorBox(failure);
    } else if (!baseName.isEmpty()) {
        PrepareBaseToWork();
        if (ReportDB)
            CreateRoot();
    }
    WriteLog("TMainForm.FinishLoad - finish");
}

void TMainForm::PrepareBaseToWork()
{
    WriteLog("TMainForm.PrepareBaseToWork - start");
    if (baseName.isEmpty())
        return;
    InitializeBase();
    WriteLog("TMainForm.PrepareBaseToWork - finish");
}

void TMainForm::InitializeBase()
{
    WriteLog("TMainForm.InitializeBase - start");
    try {
        // Never created here: the file was tested and prepared, so a missing one is an error.
        const int result =
            sqlite3_open_v2(WideToUtf8(baseName).c_str(), &ReportDB, SQLITE_OPEN_READWRITE, nullptr);
        if (result != SQLITE_OK)
            RaiseSqliteError(result, ReportDB);
        ReportFile = FileIdOf(sqlite3_db_filename(ReportDB, "main"));
        CheckSqliteResult(RegisterReportFunctions(ReportDB), ReportDB);
        ExecSqlScript(ReportDB, "BEGIN TRANSACTION;");
    } catch (const std::exception &E) {
        // A connection without its transaction is no report open for work.
        sqlite3_close_v2(ReportDB);
        ReportDB = nullptr;
        ErrorBox(ErrorMessage(E));
    }
    WriteLog("TMainForm.InitializeBase - finish");
}

void TMainForm::CreateRoot()
{
    WriteLog("TMainForm.CreateRoot - start");
    FFolderLoadFailureShown = false;
    bool inUpdate = false;
    try {
        WriteLog("TMainForm.CreateRoot - Create NewNextElem");
        NewHistoryItem(HistoryCurrent);
        WriteLog("TMainForm.CreateRoot - Folder tree begin update");
        tv_FolderTree->BeginUpdate();
        inUpdate = true;
        WriteLog("TMainForm.CreateRoot - New(dl);");
        WriteLog("TMainForm.CreateRoot - Split");
        QStringList parts;
        SplitWideString(baseName, {QLatin1Char('/')}, parts);
        WriteLog("TMainForm.CreateRoot - TDirectoryList.Create");
        const double now = QDateTimeToDateTime(QDateTime::currentDateTime());
        auto root = std::make_unique<TDirectoryList>(parts.isEmpty() ? baseName : parts.constLast(), -1, 0, 0,
                                                     true, false, 0, now, now, now);
        WriteLog("TMainForm.CreateRoot - AddInTreeView");
        PVirtualNode node = AddInTreeView(tv_FolderTree, nullptr, root.get());
        TDirectoryList *item = root.release(); // the tree's root item from here on
        WriteLog("TMainForm.CreateRoot - dl^.NodeInFoldTr");
        item->NodeInFoldTr = node;
        WriteLog("TMainForm.CreateRoot - if");
        uint8_t state = 0;
        uint8_t folderState = 0;
        if (IsChecked(ReportDB, -1, state, folderState))
            node->CheckState = static_cast<TCheckState>(state);
        WriteLog("TMainForm.CreateRoot - Expanded");
        tv_FolderTree->SetExpanded(node, true);
        WriteLog("TMainForm.CreateRoot - EndUpdate");
        inUpdate = false;
        tv_FolderTree->EndUpdate();
    } catch (const std::exception &E) {
        WriteLog(QStringLiteral("==========TMainForm.CreateRoot exception - ") + ErrorMessage(E));
        WriteLog(QStringLiteral("==========") + ClassName(E));
        // Left in update, the tree would never show anything again.
        if (inUpdate)
            tv_FolderTree->EndUpdate();
    }
    WriteLog("TMainForm.CreateRoot - finish");
}
