// Ticks and comments: a user's tick in either tree goes into the tick store and both trees are kept in
// step with what it then holds; "Select all" of a result page; the comment box.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "common/ssListTypes.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utCheckingThread.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QThread>
#include <sqlite3.h>

namespace {

// Calls Enter whenever the watched widget gains the focus, however it came (a click into the box of a
// window coming back from another program brings the focus in with the window's activation); Exit when
// it loses the focus within the window: a popup menu or another window taking it for a while is no
// leaving.
class TFocusWatcher : public QObject
{
public:
    TFocusWatcher(QObject *Watched, std::function<void()> Enter, std::function<void()> Exit)
        : QObject(Watched), FEnter(std::move(Enter)), FExit(std::move(Exit))
    {
        Watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::FocusIn && e->type() != QEvent::FocusOut)
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(e)->reason();
        if (e->type() == QEvent::FocusIn)
            FEnter();
        else if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            FExit();
        return false;
    }

private:
    std::function<void()> FEnter;
    std::function<void()> FExit;
};

bool OnMainThread()
{
    return QThread::currentThread() == qApp->thread();
}

// What the framework does with an error that leaves an event of the main thread: its message. A
// checking event that raises is refused, so the control leaves the node as it was. Called from a
// catch block only: on a worker, which shows no window, the error goes on to the worker's handling.
void ShowError(const std::exception &E)
{
    if (!OnMainThread())
        throw;
    WideMessageDlg(QString::fromUtf8(E.what()), mtError, mbOKOnly);
}

// One tick, all or nothing: a store that fails part way leaves the report as it was, so that the
// trees, which keep their states on a failure, still show what it holds.
void StoreTick(TCheckState State, int64_t ID)
{
    if (!CheckedIDs) {
        CheckedIDs = new TInt64List;
        CheckedIDs->SetCapacity(100);
    }
    CheckOpenReport();
    ExecSqlScript(ReportDB, "SAVEPOINT tick;");
    try {
        SetCheckRecursive(ReportDB, State, *CheckedIDs, ID);
        ExecSqlScript(ReportDB, "RELEASE tick;");
    } catch (...) {
        sqlite3_exec(ReportDB, "ROLLBACK TO tick; RELEASE tick;", nullptr, nullptr, nullptr);
        throw;
    }
}

void EmptyCheckedIDs()
{
    if (CheckedIDs)
        CheckedIDs->Clear();
}

// The item's stored state as a tree state; unchecked without a row.
TCheckState StoredState(sqlite3 *DB, int64_t ID)
{
    uint8_t state = 0;
    uint8_t folderState = 0;
    IsChecked(DB, ID, state, folderState);
    return static_cast<TCheckState>(state);
}

// What the item counts as in the report, as a tree state; unchecked when it counts as nothing.
TCheckState InheritedState(sqlite3 *DB, int64_t ID)
{
    uint8_t state = 0;
    uint8_t folderState = 0;
    return IsCheckedInherited(DB, ID, state, folderState) ? static_cast<TCheckState>(state)
                                                          : csUncheckedNormal;
}

// The bindings of the folder tree's tick events, for the binding and for re-attaching after a step
// detached them.
void AttachFolderTreeChecking(TMainForm *Form)
{
    Form->tv_FolderTree->OnChecking = [Form](TVirtualStringTree *Sender, PVirtualNode Node,
                                             TCheckState &NewState, bool &Allowed) {
        try {
            Form->tv_FolderTreeChecking(Sender, Node, NewState, Allowed);
        } catch (const std::exception &E) {
            Allowed = false;
            ShowError(E);
        }
    };
}

void AttachFolderTreeChecked(TMainForm *Form)
{
    Form->tv_FolderTree->OnChecked = [Form](TVirtualStringTree *Sender, PVirtualNode Node) {
        Form->tv_FolderTreeChecked(Sender, Node);
    };
}

bool IsBelow(PVirtualNode Node, PVirtualNode Ancestor)
{
    for (PVirtualNode p = Node->Parent; p; p = p->Parent)
        if (p == Ancestor)
            return true;
    return false;
}

} // namespace

void RefreshCheckStates(TInt64List &List, TVirtualStringTree *Tree, sqlite3 *DB)
{
    PVirtualNode node = Tree->GetFirst();
    TDirectoryList *item = GetNodeItem(node, Tree);
    for (int i = List.Count() - 1; i >= 0 && node && item && item->ChildCount() > 0; --i) {
        const int64_t id = List.GetItem(i);
        if (id != -1) {
            TDirectoryList *child = item->LoadedChild(id);
            if (!child)
                break;
            item = child;
            node = child->NodeInFoldTr;
            if (!node)
                break;
        }
        const TCheckState stored = StoredState(DB, item->id);
        if (node->CheckState != stored)
            node->CheckState = stored;
        // The ticked item itself: the store pushed its state down to everything below it, so its loaded
        // descendants show that state too.
        if (i == 0 && stored != csMixedNormal)
            for (PVirtualNode n = Tree->GetNext(node); n && IsBelow(n, node); n = Tree->GetNext(n))
                n->CheckState = stored;
        Tree->Invalidate();
    }
}

void TMainForm::ConnectChecks()
{
    AttachFolderTreeChecked(this);
    AttachFolderTreeChecking(this);
    AttachFilesTreeChecking();
    tv_FilesTree->OnChecked = [this](TVirtualStringTree *Sender, PVirtualNode Node) {
        tv_FilesTreeChecked(Sender, Node);
    };
    tv_FolderTree->OnMouseDown = [this](TVirtualStringTree *Sender, Qt::MouseButton Button,
                                        Qt::KeyboardModifiers Shift, int X,
                                        int Y) { tv_FolderTreeMouseDown(Sender, Button, Shift, X, Y); };
    tv_FolderTree->OnKeyDown = [this](TVirtualStringTree *Sender, int &Key, Qt::KeyboardModifiers Shift) {
        tv_FolderTreeKeyDown(Sender, Key, Shift);
    };
    tv_FilesTree->OnMouseDown = [this](TVirtualStringTree *Sender, Qt::MouseButton Button,
                                       Qt::KeyboardModifiers Shift, int X,
                                       int Y) { tv_FilesTreeMouseDown(Sender, Button, Shift, X, Y); };
    new TFocusWatcher(
        mem_Comments, [this] { mem_CommentsEnter(mem_Comments); },
        [this] {
            try {
                mem_CommentsExit(mem_Comments);
            } catch (const std::exception &E) {
                ShowError(E);
            }
        });
}

void TMainForm::AttachFilesTreeChecking()
{
    tv_FilesTree->OnChecking = [this](TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState,
                                      bool &Allowed) {
        try {
            tv_FilesTreeChecking(Sender, Node, NewState, Allowed);
        } catch (const std::exception &E) {
            Allowed = false;
            ShowError(E);
        }
    };
}

void TMainForm::tv_FolderTreeMouseDown(TVirtualStringTree *, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    UserCheckAction = true;
    MouseDownPending = true;
    LastClickedNode = nullptr;
}

void TMainForm::tv_FolderTreeKeyDown(TVirtualStringTree *, int &Key, Qt::KeyboardModifiers)
{
    if (Key == Qt::Key_Space)
        UserCheckAction = true;
}

void TMainForm::tv_FilesTreeMouseDown(TVirtualStringTree *Sender, Qt::MouseButton Button,
                                      Qt::KeyboardModifiers, int X, int Y)
{
    UserCheckAction = true;
    MouseDownPending = true;
    LastClickedNode = nullptr;
    RightClickX = -1;
    RightClickY = -1;
    if (Button == Qt::RightButton && Sender->GetNodeAt(X, Y)) {
        RightClickX = X;
        RightClickY = Y;
    }
}

void TMainForm::tv_FolderTreeChecking(TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState,
                                      bool &)
{
    // The control's own tracking after the user's node, and the states a folder load sets, come
    // without a press before them: the store has propagated those already.
    if (!UserCheckAction)
        return;
    const auto empty = qScopeGuard(EmptyCheckedIDs);
    StoreTick(NewState, GetNodeItem(Node, Sender)->id);
    UserCheckAction = false;
    CheckChanged = true;
    FRowsStale = true;
}

void TMainForm::tv_FolderTreeChecked(TVirtualStringTree *Sender, PVirtualNode Node)
{
    // The first checked event of a user's tick comes once the tree shows all of it.
    if (FRowsStale && OnMainThread()) {
        FRowsStale = false;
        ShowRowStates();
    }
    if (!CheckChanged || Node != Sender->FocusedNode())
        return;
    if (!OnMainThread()) {
        // A folder load's worker changed the focused folder: the refill needs the wait window and a
        // worker of its own, so it runs once the load's wait window has closed.
        AfterWork([this] {
            PVirtualNode focused = tv_FolderTree->FocusedNode();
            bool allowed = true;
            if (CheckChanged && focused)
                tv_FolderTreeFocusChanging(tv_FolderTree, focused, focused, 0, 0, allowed);
        });
        return;
    }
    bool allowed = true;
    tv_FolderTreeFocusChanging(Sender, Node, Node, 0, 0, allowed);
}

void TMainForm::tv_FilesTreeChecking(TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState,
                                     bool &)
{
    if (MouseDownPending) {
        LastClickedNode = Node;
        MouseDownPending = false;
    }
    TDirectoryList *item = GetNodeItem(Node, Sender);
    if (!item)
        return;
    const auto empty = qScopeGuard(EmptyCheckedIDs);
    if (!SearchMode) {
        tv_FolderTree->OnChecking = nullptr;
        tv_FolderTree->OnChecked = nullptr;
        const auto reattach = qScopeGuard([this] {
            AttachFolderTreeChecked(this);
            AttachFolderTreeChecking(this);
        });
        // Stored first: when the store fails, the folder tree has not been changed either.
        StoreTick(NewState, item->id);
        CheckChanged = false;
        // Its tracking shows the tick on the folder's ancestors and loaded descendants at once.
        if (item->NodeInFoldTr)
            tv_FolderTree->SetCheckState(item->NodeInFoldTr, NewState);
        return;
    }
    tv_FolderTree->OnChecking = nullptr;
    const auto reattach = qScopeGuard([this] { AttachFolderTreeChecking(this); });
    if (item->id == SearchRootID) {
        // The user's own tick of "Select all": the control pushes it down to the rows with no per-row
        // handling, and the checked event stores them all in one work.
        if (NewState != csMixedNormal && Node == LastClickedNode)
            Sender->OnChecking = nullptr;
        return;
    }
    StoreTick(NewState, item->id);
    UserCheckAction = false;
    RefreshCheckStates(*CheckedIDs, tv_FolderTree, ReportDB);
    // The page's other rows below or above this one; "Select all" shows its page once it is done.
    if (OnMainThread())
        ShowRowStates(Node);
}

void TMainForm::tv_FilesTreeChecked(TVirtualStringTree *Sender, PVirtualNode Node)
{
    try {
        const TDirectoryList *item = GetNodeItem(Node, Sender);
        if (!item || item->id != SearchRootID || Node->CheckState == csMixedNormal || Node != LastClickedNode)
            return;
        LastClickedNode = nullptr;
        AttachFilesTreeChecking();
        CheckNodesInThread(tv_FolderTree, tv_FilesTree, Node, Node->CheckState);
    } catch (...) {
        AttachFilesTreeChecking();
    }
}

void TMainForm::CheckNodesInThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree,
                                   PVirtualNode Node, TCheckState NewState)
{
    TCheckingFailure failure;
    RunInWaitForm(
        QStringLiteral("Checking files. Please wait."), FilesTree, FolderTree,
        [&](TWaitForm *Wait, TThread *&Worker) {
            Worker = new CheckingThread(Wait, this, Node, NewState, &failure);
        },
        [&] {
            // After a failure the rows show what the report holds; pushing NewState again would store it.
            if (!failure.Failed)
                FilesTree->SetCheckState(Node, NewState);
        },
        [FilesTree] { FilesTree->Repaint(); });
    if (failure.Failed)
        WideMessageDlg(failure.Message, mtError, mbOKOnly);
}

void TMainForm::mem_CommentsEnter(QObject *)
{
    // A box that edits nothing keeps its placeholder.
    if (!FCommentPlaceholder || !FCommentItem)
        return;
    const QString empty;
    PutCommentText(&empty);
    FCommentPlaceholder = false;
}

void TMainForm::mem_CommentsExit(QObject *)
{
    StoreComment();
    // Blanks and control characters only: the placeholder comes back.
    for (QChar c : mem_Comments->toPlainText())
        if (c.unicode() > 0x20)
            return;
    if (!FCommentPlaceholder && !mem_Comments->hasFocus())
        PutCommentText(nullptr);
}

void TMainForm::StoreComment()
{
    if (!FCommentItem || !ReportDB || FCommentPlaceholder)
        return;
    const QString text = mem_Comments->toPlainText();
    if (text == FCommentShown)
        return;
    // Taken as stored also when the store fails: the message says so, and the next item's filling
    // must not wait for it.
    FCommentShown = text;
    try {
        SetComment(ReportDB, text, FCommentItem->id);
    } catch (const std::exception &E) {
        WideMessageDlg(QString::fromUtf8(E.what()), mtError, mbOKOnly);
        return;
    }
    ShowCommentMark(FCommentItem->id, !text.isEmpty());
}

void TMainForm::ShowCommentMark(int64_t ID, bool Has)
{
    // The box's item, the folder tree's item of that id (which its folder's file list shows too) and a
    // result page's rows each cache the answer apart.
    if (FCommentItem && FCommentItem->id == ID)
        FCommentItem->SetHasComment(Has);
    if (TDirectoryList *loaded = FollowPathTo(ID))
        loaded->SetHasComment(Has);
    if (FResultPage)
        for (TDirectoryList *row : FResultPage->GetChildren())
            if (row->id == ID)
                row->SetHasComment(Has);
    tv_FolderTree->Invalidate();
    tv_FilesTree->Invalidate();
}

void TMainForm::UnbindComment()
{
    StoreComment();
    BindComment(nullptr);
    FCommentShown.clear();
    PutCommentText(nullptr);
}

void TMainForm::BindComment(TDirectoryList *Item)
{
    FCommentItem = Item;
    // Typing, pasting or dropping text into a box that edits nothing would show text never stored.
    mem_Comments->setReadOnly(!Item);
}

void TMainForm::ShowRowStates(PVirtualNode Except)
{
    PVirtualNode first = tv_FilesTree->GetFirst();
    if (!first || !ReportDB)
        return;
    if (!FResultPage) {
        for (PVirtualNode row = first; row; row = row->NextSibling)
            if (TDirectoryList *item = GetNodeItem(row, tv_FilesTree); item && item->NodeInFoldTr)
                row->CheckState = item->NodeInFoldTr->CheckState;
    } else {
        // As the page was filled: each row's own state, else what it inherits, the walks up shared.
        TInheritedTicks inherited(ReportDB);
        for (PVirtualNode row = first->FirstChild; row; row = row->NextSibling) {
            if (row == Except)
                continue;
            const TDirectoryList *item = GetNodeItem(row, tv_FilesTree);
            uint8_t state = 0, folderState = 0;
            if (!IsChecked(ReportDB, item->id, state, folderState))
                state = inherited.Checked(item->id, item->id_parent) ? csCheckedNormal : csUncheckedNormal;
            row->CheckState = static_cast<TCheckState>(state);
        }
        if (!Except) {
            // Worked out from the rows with nothing stored: the root stores nothing.
            const auto checking = tv_FilesTree->OnChecking;
            tv_FilesTree->OnChecking = nullptr;
            const auto reattach = qScopeGuard([&] { tv_FilesTree->OnChecking = checking; });
            tv_FilesTree->RecomputeCheckState(first);
        }
    }
    tv_FilesTree->Invalidate();
}

void TMainForm::ShowReportState()
{
    for (TVirtualStringTree *tree : {tv_FolderTree, tv_FilesTree})
        for (PVirtualNode n = tree->GetFirst(); n; n = tree->GetNext(n))
            if (TDirectoryList *item = GetNodeItem(n, tree); item && item->id != SearchRootID) {
                n->CheckState = InheritedState(ReportDB, item->id);
                item->commentState = 0xFFFF; // asked again
            }
    ShowRowStates();
    tv_FolderTree->Invalidate();
    // The box's edit has been stored and lost with the rest: it shows the item's comment as kept.
    TDirectoryList *item = FCommentItem;
    FCommentItem = nullptr;
    ShowItemComment(item);
}
