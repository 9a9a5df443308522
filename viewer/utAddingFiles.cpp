// Filling the file list from a loaded folder on a worker thread.
#include "viewer/utAddingFiles.h"

#include "platform/Messages.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "viewer/ufWaitForm.h"

const QString AddingFilesText = QStringLiteral("Adding files. Please wiat, it can take some time.\rRemain: ");

namespace {

constexpr size_t RowsPerText = 500;

} // namespace

TAddingThread::TAddingThread(sqlite3 *DB, TNodeItemCell FolderData, TVirtualStringTree *FilesTree,
                             PVirtualNode FolderNode, TWaitForm *WaitForm)
    : TThread(true), FolderData(FolderData), FilesTree(FilesTree), DB(DB), FolderNode(FolderNode),
      WaitForm(WaitForm)
{
    FreeOnTerminate = true;
}

void TAddingThread::Execute()
{
    const auto finish = [this] { PostMessage(WaitForm, WM_WAITFORM_CLOSE, 0, 0); };
    try {
        TDirectoryList *folder = FolderData.Item();
        uint8_t folderState = 0;
        uint8_t folderFolderState = 0;
        const bool found = IsChecked(DB, folder->id, folderState, folderFolderState);
        // Exactly checked, or mixed after a tick of the folder as a whole: the rows come in checked.
        const TCheckState nodeState = FolderNode->CheckState;
        const bool inheritChecked = nodeState == csCheckedNormal || (nodeState == csMixedNormal && found &&
                                                                     folderFolderState == csCheckedNormal);
        const TDirectoryListChildren &children = folder->GetChildren();
        const size_t count = children.size();
        for (size_t i = 0; i < count; ++i) {
            TDirectoryList *child = children[i];
            PVirtualNode node = AddInTreeView(FilesTree, nullptr, child);
            if (i % RowsPerText == 0 && WaitForm) {
                WaitForm->SetMessageText(AddingFilesText + QString::number(count - i));
                PostMessage(WaitForm, WM_WAITFORM_UPDATE, 0, 0);
            }
            // Straight into the node: no checking events, no tracking.
            if (inheritChecked)
                node->CheckState = csCheckedNormal;
            uint8_t state = 0;
            uint8_t childFolderState = 0;
            if (IsChecked(DB, child->id, state, childFolderState))
                node->CheckState = static_cast<TCheckState>(state);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
