// The folder tree's events: loading a folder on expansion, its texts, icons and item marks.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "report/uDirectoryList.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utExpand.h"
#include "viewer/utFreeMemThread.h"

void TMainForm::tv_FolderTreeExpanding(TVirtualStringTree *, PVirtualNode Node, bool &Allowed)
{
    // The ticks set while a folder loads are no user's.
    UserCheckAction = false;
    QString failure;
    bool loaded = false;
    Allowed = false;
    RunInWaitForm(
        QStringLiteral("Load folder data. Please wiat, it can take some time."), tv_FolderTree, tv_FilesTree,
        [&](TWaitForm *Wait, TThread *&Worker) {
            TDirectoryList *item = GetNodeItem(Node, tv_FolderTree);
            // A folder is read once; an empty child list means it has not been (or has been unloaded).
            if (!item->GetChildren().empty())
                return;
            if (FreeMemThread)
                FreeMemThread->TouchNode(Node);
            Worker = new ThreadExpand(Node, tv_FolderTree, ReportDB, il_IconsImList, &il_SystemImList, Wait,
                                      item->id);
            loaded = true;
        },
        [&] { failure = TakeExpandFailure(); });
    Allowed = true;
    // The stored children may have changed the states of the folder and those above it, which the
    // list may show as rows.
    if (loaded)
        ShowRowStates();
    // Once per report: a broken folder statement fails for every folder, and focusing one retries it.
    if (!failure.isEmpty() && !FFolderLoadFailureShown) {
        FFolderLoadFailureShown = true;
        // After the work that asked for the folder: the root's expansion runs inside an update, and
        // Go to folder loads one folder after another.
        AfterWork([failure] { WideMessageDlg(failure, mtError, mbOKOnly); });
    }
}

void TMainForm::tv_FolderTreeGetText(TVirtualStringTree *Sender, PVirtualNode Node, int, TVSTTextType,
                                     QString &CellText)
{
    if (!Node)
        return;
    const TDirectoryList *item = GetNodeItem(Node, Sender);
    CellText = item ? item->name : QStringLiteral("Error");
}

void TMainForm::tv_FolderTreeGetImageIndex(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                           int, bool &, int &ImageIndex)
{
    TDirectoryList *item = GetNodeItem(Node, Sender);
    if ((Kind == ikNormal || Kind == ikSelected) && item && il_IconsImList)
        ImageIndex = item->GetImageIndex(*il_IconsImList, il_SystemImList);
    else
        ImageIndex = -1;
}

void TMainForm::tv_FolderTreeAfterItemPaint(TVirtualStringTree *Sender, QPainter *TargetCanvas,
                                            PVirtualNode Node, const QRect &ItemRect)
{
    if (!Node)
        return;
    TDirectoryList *item = GetNodeItem(Node, Sender);
    if (item)
        PaintTreeItemMarks(Sender, TargetCanvas, Node, ItemRect, item->HasComment(), item->isDeleted);
}
