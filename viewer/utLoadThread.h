#pragma once
// The worker that prepares a chosen report for the viewer: the indexes and the tick table, in one
// transaction on a connection of its own, with the progress shown on the wait window. It ends by
// posting WM_WAITFORM_CLOSE to the wait window and then WM_LOAD_FINISHED to the main window, also
// after a failure; the main window then opens the report for work, unless the preparation failed.
#include "platform/TThread.h"

#include <QString>

struct sqlite3;
class TMainForm;
class TWaitForm;

class TLoadThread : public TThread
{
public:
    // Created suspended; frees itself when Execute ends. Keeps its own copy of BaseName (the path as
    // chosen). Forgets the failure of an earlier preparation.
    TLoadThread(TWaitForm *WaitForm, TMainForm *MainForm, const QString &BaseName);

protected:
    // Empty BaseName: only the two end messages. Otherwise the preparation steps inside
    // "BEGIN TRANSACTION;" .. "COMMIT;", each group after its percentage on the wait window. A failing
    // step leaves the report as it was (the connection closes with the transaction open) and its
    // message is kept for TakeLoadFailure. Then a write begun and rolled back: a report that cannot be
    // written (a read-only file, a folder where the journal cannot be made) fails here, not at a tick.
    void Execute() override;

private:
    // Open and close the connection; both run on the main thread (Synchronize). The file is opened
    // for reading and writing but never created.
    void OpenBase();
    void CloseBase();
    // Raises ESQLite3 when DB's file or its journal cannot be written; changes nothing.
    void ProbeWrite();
    // WM_WAITFORM_CLOSE to the wait window, then WM_LOAD_FINISHED to the main window, queued only once
    // the close has ended the wait window's modal loop.
    void SendEndMessages();

    TWaitForm *WaitForm;
    TMainForm *MainForm;
    QString BaseName;
    sqlite3 *DB = nullptr;
};

// Why the last preparation failed, empty when it did not; taken once: the text is cleared. The worker
// sets it before it posts WM_LOAD_FINISHED, whose handler takes it. Any thread.
QString TakeLoadFailure();
