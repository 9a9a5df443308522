// The item record of the trees.
#include "report/uDirectoryList.h"

#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"

#include <sqlite3.h>

#include <atomic>
#include <utility>

namespace {

// Set once by the viewer on the main thread; read by the workers that build items.
std::atomic<TReportDBHook> ReportDBHook{nullptr};

QString BoolText(bool Value)
{
    return Value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

void SetReportDBHook(TReportDBHook Hook)
{
    ReportDBHook.store(Hook);
}

sqlite3 *HookedReportDB()
{
    const TReportDBHook hook = ReportDBHook.load();
    return hook ? hook() : nullptr;
}

TDirectoryList::TDirectoryList(QString name, int64_t id, int64_t id_parent, int64_t size, bool isFolder,
                               bool isDeleted, int32_t f_attr, double f_create, double f_update,
                               double f_access)
    : name(std::move(name)), id(id), id_parent(id_parent), size(size), f_create(f_create), f_update(f_update),
      f_access(f_access), f_attr(f_attr), isFolder(isFolder), isDeleted(isDeleted)
{
    if (id == -1 || id == SearchRootID)
        im_ind = 0;
    HasComment();
}

TDirectoryList::~TDirectoryList()
{
    ClearChildren();
}

void TDirectoryList::ClearChildren()
{
    if (!children)
        return;
    for (TDirectoryList *child : *children)
        delete child;
    delete children;
    children = nullptr;
}

TDirectoryListChildren &TDirectoryList::GetChildren()
{
    if (!children)
        children = new TDirectoryListChildren;
    return *children;
}

TDirectoryList *TDirectoryList::LoadedChild(int64_t ID) const
{
    if (children)
        for (TDirectoryList *c : *children)
            if (c->id == ID)
                return c;
    return nullptr;
}

bool TDirectoryList::HasComment()
{
    if (commentState == 0xFFFF) {
        // GetComment would hand a null connection to SQLite, which need not survive it
        sqlite3 *db = HookedReportDB();
        QString comment;
        commentState = db && GetComment(db, comment, id) ? 1 : 0;
    }
    return commentState == 1;
}

void TDirectoryList::SetHasComment(bool Has)
{
    commentState = Has ? 1 : 0;
}

int32_t TDirectoryList::GetImageIndex(TImageList &Icons, const TSystemImageList &SysImages)
{
    if (im_ind >= 0)
        return im_ind;
    if (isFolder)
        im_ind = 1;
    else
        im_ind = GetIconIndexByExt(GetFileExtension(name.toStdString()), Icons, SysImages);
    return im_ind;
}

void TDirectoryList::GetPropertyText(const std::string &ComponentName, const std::string &Prefix,
                                     const std::string &Suffix, QString &Text) const
{
    // Only names that start with Prefix and end with Suffix can match; the key is what lies between.
    if (ComponentName.size() < Prefix.size() + Suffix.size() ||
        ComponentName.compare(0, Prefix.size(), Prefix) ||
        ComponentName.compare(ComponentName.size() - Suffix.size(), Suffix.size(), Suffix))
        return;
    const std::string key =
        ComponentName.substr(Prefix.size(), ComponentName.size() - Prefix.size() - Suffix.size());
    if (key == "name")
        Text = name;
    else if (key == "id")
        Text = QString::number(id);
    else if (key == "id_parent")
        Text = QString::number(id_parent);
    else if (key == "size")
        Text = QString::number(size);
    else if (key == "isFolder")
        Text = BoolText(isFolder);
    else if (key == "isDeleted")
        Text = BoolText(isDeleted);
    else if (key == "f_attr")
        Text = QString::number(f_attr);
    else if (key == "f_create")
        Text = DateTimeToStr(f_create);
    else if (key == "f_update")
        Text = DateTimeToStr(f_update);
    else if (key == "f_access")
        Text = DateTimeToStr(f_access);
    else if (key == "im_ind")
        Text = QString::number(im_ind);
}

TNodeItemCell GetNodeItem(PVirtualNode Node, TVirtualStringTree *)
{
    return TNodeItemCell(TVirtualStringTree::GetNodeData(Node));
}

PVirtualNode AddInTreeView(TVirtualStringTree *Tree, PVirtualNode ParentNode, TDirectoryList *Item)
{
    WriteLog("AddInTreeView - start");
    PVirtualNode node = Tree->AddChild(ParentNode);
    Tree->SetCheckType(node, ctTriStateCheckBox);
    GetNodeItem(node, Tree) = Item;
    WriteLog("AddInTreeView - finish");
    return node;
}

namespace {

// Whether the report holds a folder row under FolderId; a failing query counts as none.
bool HasSubfolder(sqlite3 *DB, int64_t FolderId)
{
    if (!DB)
        return false;
    // Asked for every folder added: kept prepared rather than made and parsed per folder.
    TIdQuery query(DB, "SELECT rowid FROM struct_drive_table WHERE ((id_parent = ? ) and (is_folder = 1) )",
                   FolderId);
    return query.Step();
}

} // namespace

PVirtualNode AddChildItem(TDirectoryList *ParentItem, sqlite3 *DB, TVirtualStringTree *Tree,
                          PVirtualNode ParentNode, TDirectoryList *Item)
{
    ParentItem->GetChildren().push_back(Item);
    switch (Tree->Tag) {
    case 0: {
        PVirtualNode node = AddInTreeView(Tree, ParentNode, Item);
        if (Item->isFolder) {
            if (HasSubfolder(DB, Item->id))
                Tree->SetHasChildren(node, true);
        } else {
            Tree->SetVisible(node, false);
        }
        Item->NodeInFoldTr = node;
        return node;
    }
    case 1:
        return AddInTreeView(Tree, ParentNode, Item);
    default:
        return nullptr;
    }
}
