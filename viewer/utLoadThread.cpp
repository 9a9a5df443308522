// Preparing a chosen report on a worker thread.
#include "viewer/utLoadThread.h"

#include "platform/Messages.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "viewer/Main.h"
#include "viewer/ufWaitForm.h"

#include <sqlite3.h>

#include <mutex>

namespace {

std::mutex FailureLock;
QString LoadFailure; // guarded by FailureLock

void SetLoadFailure(const QString &Text)
{
    std::lock_guard<std::mutex> lock(FailureLock);
    LoadFailure = Text;
}

// The percentages shown on the wait window and how many preparation steps run after each; the
// index on fileID joins the table's other steps at 88.
struct TStage
{
    const char *Percent;
    int Steps;
};
constexpr TStage Stages[] = {{"0", 1},  {"12", 1}, {"25", 1}, {"37", 1}, {"50", 1},
                             {"63", 1}, {"75", 1}, {"88", 4}, {"100", 0}};
static_assert([] {
    int steps = 0;
    for (const TStage &stage : Stages)
        steps += stage.Steps;
    return steps == PrepareStepCount;
}());

} // namespace

QString TakeLoadFailure()
{
    std::lock_guard<std::mutex> lock(FailureLock);
    QString text = LoadFailure;
    LoadFailure.clear();
    return text;
}

TLoadThread::TLoadThread(TWaitForm *WaitForm, TMainForm *MainForm, const QString &BaseName)
    : TThread(true), WaitForm(WaitForm), MainForm(MainForm), BaseName(BaseName)
{
    WriteLog("TLoadThread.Create");
    FreeOnTerminate = true;
    SetLoadFailure(QString());
}

void TLoadThread::OpenBase()
{
    WriteLog("TLoadThread.OpenBase");
    // Without SQLITE_OPEN_CREATE: a path that has gone since it was tested must not become an empty file.
    const int result = sqlite3_open_v2(WideToUtf8(BaseName).c_str(), &DB, SQLITE_OPEN_READWRITE, nullptr);
    if (result != SQLITE_OK)
        RaiseSqliteError(result, DB);
}

void TLoadThread::CloseBase()
{
    WriteLog("TLoadThread.CloseBase");
    sqlite3_close(DB);
    DB = nullptr;
}

void TLoadThread::Execute()
{
    if (BaseName.isEmpty()) {
        SendEndMessages();
        WriteLog("TLoadThread.Execute - base have empty name");
        return;
    }
    QString failure;
    try {
        Synchronize([this] { OpenBase(); });
        WriteLog("TLoadThread.Execute - begin transaction");
        ExecSqlScript(DB, "BEGIN TRANSACTION;");
        int step = 0;
        for (const TStage &stage : Stages) {
            if (WaitForm) {
                WaitForm->SetMessageText(
                    QStringLiteral("Preparing report. Please wait. %1%").arg(QLatin1String(stage.Percent)));
                // Waits until the label shows it, so that every percentage is seen, in order.
                SendMessage(WaitForm, WM_WAITFORM_UPDATE, 0, 0);
            }
            for (int i = 0; i < stage.Steps; ++i)
                ReportPreparationSteps[step++].Run(DB);
        }
        ExecSqlScript(DB, "COMMIT;");
        WriteLog("TLoadThread.Execute - transaction commited");
        ProbeWrite();
    } catch (const ESQLite3 &E) {
        // SQLite's own words name no file and no cause the user can act on.
        failure =
            (E.ErrorCode & 0xFF) == SQLITE_READONLY
                ? QStringLiteral("Can not open report file, because it can not be written!\r") + E.Message()
                : E.Message();
    } catch (const Exception &E) {
        failure = E.Message();
    } catch (const std::exception &E) {
        failure = QString::fromLocal8Bit(E.what());
    }
    WriteLog("TLoadThread.Execute - close base");
    try {
        // Closing with the transaction still open (after a failure) rolls it back.
        Synchronize([this] { CloseBase(); });
    } catch (...) {
    }
    if (!failure.isEmpty()) {
        WriteLog(QStringLiteral("==========TLoadThread.Execute exception - ") + failure);
        SetLoadFailure(failure);
    }
    SendEndMessages();
}

void TLoadThread::ProbeWrite()
{
    // A report prepared earlier writes nothing above, and a file or folder that cannot be written
    // would only show at the first tick. A write rolled back tells now, and leaves the file as it was.
    TStatementCell read;
    sqlite3_prepare_v2(DB, "PRAGMA user_version;", -1, read.Ptr(), nullptr);
    const int version = StepOrRaise(read.Handle(), DB) ? sqlite3_column_int(read.Handle(), 0) : 0;
    read.Finalize();
    ExecSqlScript(DB, "BEGIN TRANSACTION; PRAGMA user_version = " + std::to_string(version) + "; ROLLBACK;");
}

void TLoadThread::SendEndMessages()
{
    // A modal loop handles every message queued before it ends, so with both messages posted from here
    // WM_LOAD_FINISHED would run inside the wait window's loop, before the starter has returned. So
    // both go out on the main thread: the close ends the loop, and WM_LOAD_FINISHED is queued behind.
    SendCall(MainForm, [this] {
        if (WaitForm)
            SendMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0);
        PostMessage(MainForm, WM_LOAD_FINISHED, 0, 0);
    });
}
