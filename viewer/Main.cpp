// The main window's life cycle: creation, restoring and saving its geometry, closing a report,
// destruction; its window messages and drops; what the report layer needs of it.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "common/ssException.h"
#include "platform/OSVersion.h"
#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uRegEdit.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"
#include "viewer/utLoadThread.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <sqlite3.h>

TMainForm *MainForm = nullptr;
sqlite3 *ReportDB = nullptr;
TFileId ReportFile;
QString baseName;
int32_t SearchPageSize = 1000;
sqlite3_stmt **SearchStmt = nullptr;
THistoryItem *HistoryCurrent = nullptr;
TDirectoryList *CurrentItem = nullptr;
PVirtualNode LastClickedNode = nullptr;
bool UserCheckAction = false;
bool MouseDownPending = false;
bool CheckChanged = false;
bool SearchMode = false;
bool NavigatingHistory = false;
int32_t RightClickX = -1;
int32_t RightClickY = -1;
TFreeMemThread *FreeMemThread = nullptr;
bool FoundCheckedFlag = false;
bool FoundUncheckedFlag = false;
TInt64List *CheckedIDs = nullptr;

namespace {

// The open report's connection, as the item records ask for it.
sqlite3 *OpenReportDB()
{
    return ReportDB;
}

// Runs Fn when the scope ends, also through an exception.
template <class F> class TFinally
{
public:
    explicit TFinally(F Fn) : FFn(std::move(Fn)) {}
    ~TFinally() { FFn(); }
    TFinally(const TFinally &) = delete;
    TFinally &operator=(const TFinally &) = delete;

private:
    F FFn;
};

bool InRange(int32_t Value, int32_t Low, int32_t High)
{
    return Value >= Low && Value <= High;
}

QStringList LocalPaths(const QMimeData *Data)
{
    QStringList paths;
    if (Data && Data->hasUrls())
        for (const QUrl &url : Data->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    return paths;
}

} // namespace

TMainForm::TMainForm(QWidget *Owner) : TMainForm(Owner, QCoreApplication::arguments()) {}

TMainForm::TMainForm(QWidget *Owner, const QStringList &Arguments) : QMainWindow(Owner)
{
    MainForm = this;
    BuildComponents();
    try {
        Create(Arguments);
    } catch (...) {
        // No destructor runs for a window whose creation fails: what it started must stop here.
        Release();
        throw;
    }
}

std::unique_ptr<TMainForm> CreateMainForm(const QStringList &Arguments)
{
    try {
        return std::make_unique<TMainForm>(nullptr, Arguments);
    } catch (const std::exception &E) {
        WideMessageDlg(QString::fromLocal8Bit(E.what()), mtError, mbOKOnly);
    }
    return nullptr;
}

void TMainForm::Create(const QStringList &Arguments)
{
    SetReportDBHook(&OpenReportDB);

    useOpenDialog = 1;
    droppedFileName.reset();
    mem_AdditionalInfo->hide();
    im_Logo->hide();

    CreateLogFile();
    WriteLog(DateTimeToStr(QDateTimeToDateTime(QDateTime::currentDateTime())));
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = 148;
    GetVersionExA(&version);
    WriteLog("Version OS: " + std::to_string(version.dwMajorVersion) + "." +
             std::to_string(version.dwMinorVersion));

    hide();
    LoadFormParams();
    show();

    SearchPageSize = 1000;
    FreeMemThread = new TFreeMemThread(tv_FolderTree, tv_FilesTree, this);

    // A report named on the command line; whatever goes wrong here, the window comes up without it.
    try {
        WriteLog("TMainForm.Create - read baseName parameter");
        baseName = Arguments.value(1);
        if (!baseName.isEmpty()) {
            if (TryDBorArchive(baseName))
                RememberBaseName(baseName.toStdString());
            else
                baseName.clear();
        }
    } catch (...) {
    }

    pc_Information->setCurrentWidget(ts_Information);
    setAcceptDrops(true);
    // The boxes take drops of their own; a file there goes to this window's drop.
    for (QWidget *box : std::initializer_list<QWidget *>{edit_Search, mem_Comments, mem_Comments->viewport()})
        box->installEventFilter(this);

    RunInWaitForm(QStringLiteral("Extracting report."), nullptr, nullptr,
                  [this](TWaitForm *Wait, TThread *&Worker) {
                      Worker = new TLoadThread(Wait, this, baseName);
                      InitLabels();
                      InitializeImages();
                      InitializeTrees();
                      InitControlCaptions();
                      InitHintTextes();
                      // The worker's close message ends the modal show; its WM_LOAD_FINISHED waits for the
                      // message loop.
                      if (QFileInfo(baseName).isFile())
                          return;
                      // Nothing to prepare: FinishLoad runs from the message loop all the same.
                      PostMessage(this, WM_LOAD_FINISHED);
                      delete Worker;
                      Worker = nullptr;
                  });
}

TMainForm::~TMainForm()
{
    Release();
}

void TMainForm::Release()
{
    delete FreeMemThread;
    FreeMemThread = nullptr;

    // A window freed without being closed still gives back its report and items (nothing is saved).
    FreeReportItems();
    FreeSearchStmt();
    sqlite3_close_v2(ReportDB);
    ReportDB = nullptr;
    DestroyCheckHelper();
    ClearList(HistoryCurrent);

    DeleteLogFile();
    FreeWaitForm();
    setAcceptDrops(false);

    SetReportDBHook(nullptr);
    // The views go with the window's children; they let go of their trees first.
    delete tv_FolderTreeView;
    delete tv_FilesTreeView;
    delete tv_FolderTree;
    delete tv_FilesTree;
    delete il_IconsImList;
    delete il_NavigationImList;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::LoadFormParams()
{
    WriteLog("TMainForm.LoadFormParams - start");
    std::unique_ptr<TStateTable> state = ReadFromStateTableFromReg();
    if (!state)
        return;
    TFinally finish([] { WriteLog("TMainForm.LoadFormParams - finish"); });
    const QSize screen = QGuiApplication::primaryScreen()->size();
    resize(InRange(state->FormSizeX, 201, screen.width() - 1) ? state->FormSizeX : 700, height());
    resize(width(), InRange(state->FormSizeY, 101, screen.height() - 1) ? state->FormSizeY : 600);
    move(x(), InRange(state->FormTop, 0, screen.height()) ? state->FormTop : 0);
    move(InRange(state->FormLeft, 0, screen.width()) ? state->FormLeft : 0, y());
    SetInfoPanelHeight(InRange(state->Splitter1Top, 21, height()) ? state->Splitter1Top : 100);
    SetFoldersPanelWidth(InRange(state->Splitter2Left, 21, width()) ? state->Splitter2Left : 100);
    NoteNormalBounds();
    if (state->FullScreen && !isMaximized())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::SetInfoPanelHeight(int Height)
{
    // A hidden window lays itself out only when shown; the splitter must know its size now.
    if (layout())
        layout()->activate();
    Splitter1->setSizes({Splitter1->height() - Splitter1->handleWidth() - Height, Height});
}

void TMainForm::SetFoldersPanelWidth(int Width)
{
    if (layout())
        layout()->activate();
    if (p_MainPanel->layout())
        p_MainPanel->layout()->activate();
    Splitter2->setSizes({Width, Splitter2->width() - Splitter2->handleWidth() - Width});
}

void TMainForm::NoteNormalBounds()
{
    // Some window systems report a maximized window's normal geometry without its frame, or before
    // the frame is known; the bounds noted while the window was normal are the ones to save.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        FNormalBounds = QRect(pos(), size());
}

void TMainForm::moveEvent(QMoveEvent *e)
{
    QMainWindow::moveEvent(e);
    NoteNormalBounds();
}

void TMainForm::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    NoteNormalBounds();
}

void TMainForm::FreeSearchStmt()
{
    if (!SearchStmt)
        return;
    sqlite3_finalize(*SearchStmt);
    delete SearchStmt;
    SearchStmt = nullptr;
}

void TMainForm::FreeReportItems()
{
    // A result page goes with the report; its paging with the statement.
    ClearFilesTree();
    gb_MoreResults->hide();
    mi_MoreResults->setEnabled(false);
    PVirtualNode root = tv_FolderTree->GetFirst();
    if (!root)
        return;
    UnbindComment();
    TDirectoryList *rootItem = GetNodeItem(root, tv_FolderTree);
    tv_FolderTree->Clear();
    if (FreeMemThread)
        FreeMemThread->ClearNodeList();
    delete rootItem;
    // Both pointed into the freed items and nodes.
    ForgetCurrentItem();
    LastClickedNode = nullptr;
}

void TMainForm::FinishWork()
{
    WriteLog("TMainForm.FinishWork - start");
    bool folderTreeInUpdate = false;
    bool filesTreeInUpdate = false;
    TFinally endUpdates([&] {
        if (folderTreeInUpdate)
            tv_FolderTree->EndUpdate();
        if (filesTreeInUpdate)
            tv_FilesTree->EndUpdate();
    });

    FreeSearchStmt();
    StoreComment();

    try {
        // Closing the connection without its commit rolls the changes back out of a file that is no
        // longer the report.
        CheckOpenReport(true);
        // A read that failed on the disk (a journal that a folder made read-only keeps from being
        // played back) ended the working transaction: it had nothing left to commit.
        if (ReportDB && !sqlite3_get_autocommit(ReportDB))
            ExecSqlScript(ReportDB, "COMMIT;");
    } catch (const Exception &E) {
        WriteLog("TMainForm.FinishWork - commit error  : " + E.Message());
        // The ticks and comments since the last save are lost: the user must know.
        WideMessageDlg(QStringLiteral("Can not save changes to the report file!\r") + E.Message(), mtError,
                       mbOKOnly);
    }

    tv_FolderTree->BeginUpdate();
    folderTreeInUpdate = true;
    tv_FilesTree->BeginUpdate();
    filesTreeInUpdate = true;
    FreeReportItems();

    if (il_IconsImList) {
        il_IconsImList->Clear();
        tv_FolderTree->SetImages(nullptr);
        tv_FilesTree->SetImages(nullptr);
        delete il_IconsImList;
        il_IconsImList = nullptr;
    }

    // The normal-state bounds, also while maximized (the window stays maximized).
    const bool wasMaximized = isMaximized();
    NoteNormalBounds();
    const QRect bounds = FNormalBounds;
    try {
        WriteStateTableToReg(bounds.width(), bounds.height(), bounds.top(), bounds.left(),
                             gb_InfoGroupBox->height(), gb_FoldersTree->width(), wasMaximized);
    } catch (const std::exception &E) {
        // Closing the report matters more than the geometry.
        WriteLog(std::string("TMainForm.FinishWork - ") + E.what());
    }

    sqlite3_close_v2(ReportDB);
    ReportDB = nullptr;
    DestroyCheckHelper();
    ClearList(HistoryCurrent);
    tb_Next->setEnabled(false);
    tb_Prev->setEnabled(false);
}

void TMainForm::FormClose()
{
    FinishWork();
}

void TMainForm::closeEvent(QCloseEvent *e)
{
    FormClose();
    e->accept();
}

void TMainForm::lbl_DevelopInfoClick(QObject *Sender)
{
    if (auto *label = qobject_cast<QLabel *>(Sender))
        QDesktopServices::openUrl(QUrl(label->toolTip()));
}

void TMainForm::pc_InformationChanging(QObject *, bool &) {}

void TMainForm::pc_InformationChange(QObject *) {}

TWaitForm *TMainForm::ShowWaitForm(const QString &Text)
{
    return ::ShowWaitForm(this, Text);
}

void TMainForm::RunInWaitForm(const QString &Text, TVirtualStringTree *First, TVirtualStringTree *Second,
                              const std::function<void(TWaitForm *, TThread *&)> &Prepare,
                              const std::function<void()> &AfterRun, const std::function<void()> &BeforeClose)
{
    std::optional<TTreeUpdateGuard> update;
    if (First)
        update.emplace(First, Second);
    TWaitForm *wait = nullptr;
    TThread *worker = nullptr;
    bool started = false;
    const auto cleanUp = qScopeGuard([&] {
        if (!started)
            delete worker;
        if (BeforeClose)
            BeforeClose();
        if (wait)
            wait->Close();
    });
    wait = ShowWaitForm(Text);
    Prepare(wait, worker);
    if (!worker)
        return;
    // Set only once the thread runs: a worker that could not start is still ours to delete.
    worker->Resume();
    // A new thread waits as a rule on this processor, which the show below would keep busy painting:
    // let the worker in first.
    std::this_thread::yield();
    started = true;
    wait->WMShowModal();
    if (AfterRun)
        AfterRun();
}

TWaitForm *TMainForm::ShowFreeMemWait()
{
    return ShowWaitForm(QStringLiteral("Deallocating of outdated resources. Please wait."));
}

void TMainForm::WMCreateFreeMemWait(HWND *Handle)
{
    *Handle = nullptr;
    // Whoever runs a modal loop or holds a tree in update may hold nodes the pass would free.
    const bool treeInUpdate = tv_FolderTree->UpdateCount() > 0 || tv_FilesTree->UpdateCount() > 0;
    if ((WaitForm && WaitForm->Busy()) || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget() || treeInUpdate)
        return;
    // The pass never frees the box's item, but the edit is stored before the trees change.
    StoreComment();
    *Handle = ShowFreeMemWait();
}

void TMainForm::WMShowWaitModal()
{
    TWaitForm *wait = WaitForm;
    if (!wait)
        return;
    if (wait->InModalShow()) {
        AfterWork([this] { WMShowWaitModal(); });
        return;
    }
    // Handled first inside the modal loop: from then on the pass may change the trees.
    PostCall(this, [wait] {
        if (FreeMemThread && wait->InModalShow())
            FreeMemThread->ModalShown();
    });
    wait->WMShowModal();
    wait->Close();
}

bool TMainForm::event(QEvent *e)
{
    if (TMessageEvent *message = TMessageEvent::From(e)) {
        switch (message->Msg) {
        case WM_LOAD_FINISHED:
            // The worker posts it right after the wait window's close message, and Qt hands both out
            // in one pass, still inside the wait window's modal loop. Opening the report there would
            // nest the folder load's modal show in it; so it waits until that loop has returned.
            if (WaitForm && WaitForm->InModalShow())
                PostMessage(this, WM_LOAD_FINISHED);
            else
                FinishLoad();
            return true;
        case WM_DECOMPRESS_ERROR:
            WMDecompressError();
            return true;
        case WM_CREATE_FREEMEM_WAIT:
            WMCreateFreeMemWait(reinterpret_cast<HWND *>(message->WParam));
            return true;
        case WM_SHOW_WAIT_MODAL:
            WMShowWaitModal();
            return true;
        case WM_SEARCH_FOUND_CHECKED:
            WMSearchFoundChecked();
            return true;
        case WM_SEARCH_FOUND_UNCHECKED:
            WMSearchFoundUnchecked();
            return true;
        case WM_SEARCH_NO_MORE:
            WMSearchNoMoreResults();
            return true;
        default:
            break;
        }
    }
    return QMainWindow::event(e);
}

bool TMainForm::eventFilter(QObject *Watched, QEvent *e)
{
    if (Watched == lbl_DevelopInfo && e->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) {
        lbl_DevelopInfoClick(lbl_DevelopInfo);
        return true;
    }
    if (Watched == gb_MoreResults && e->type() == QEvent::Resize)
        PlaceMoreResultsButton();
    // A file dragged over a box is a report to open, as anywhere on the window, never text to insert.
    if ((e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove || e->type() == QEvent::Drop) &&
        (Watched == edit_Search || Watched == mem_Comments || Watched == mem_Comments->viewport())) {
        auto *drop = static_cast<QDropEvent *>(e);
        if (LocalPaths(drop->mimeData()).isEmpty())
            return QMainWindow::eventFilter(Watched, e);
        if (e->type() == QEvent::Drop)
            dropEvent(drop);
        else
            drop->acceptProposedAction();
        return true;
    }
    return QMainWindow::eventFilter(Watched, e);
}

void TMainForm::dragEnterEvent(QDragEnterEvent *e)
{
    if (!LocalPaths(e->mimeData()).isEmpty())
        e->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *e)
{
    const QStringList paths = LocalPaths(e->mimeData());
    if (paths.isEmpty())
        return;
    e->acceptProposedAction();
    // As the shell's drop message, handled after the drop has ended: opening runs modal loops.
    DeliverDrop(paths);
}

void TMainForm::DeliverDrop(const QStringList &Paths)
{
    // Never inside a running work's wait: closing the report there would free nodes its worker uses.
    AfterWork([this, Paths] { WMDropFiles(Paths); });
}

void TMainForm::AfterWork(const std::function<void()> &Fn)
{
    PostCall(this, [this, Fn] {
        if (WaitForm && WaitForm->InModalShow())
            QTimer::singleShot(50, this, [this, Fn] { AfterWork(Fn); });
        else
            Fn();
    });
}

QObject *TMainForm::CreateDecompressWaitForm(const QString &Text)
{
    return new TWaitForm(this, Text);
}

void TMainForm::ShowDecompressWaitForm(QObject *Form)
{
    if (auto *wait = qobject_cast<TWaitForm *>(Form)) {
        wait->WMShowModal();
        // Its work has ended and nothing more is posted to it.
        wait->deleteLater();
    }
}
