#pragma once
// The item record of the trees: one file or folder of the open report, as the nodes of the folder
// tree and of the file list carry it, and the routines that put an item into a tree.
//
// Ownership: an item owns its loaded children (and so their whole subtrees); the report's root item
// owns the loaded hierarchy. Items never own tree nodes: whoever frees items deletes their nodes.
// Items take no lock: one thread at a time uses them (the main thread, or a worker while the main
// thread waits in the wait window's modal loop).
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
class TImageList;
class TSystemImageList;
class TVirtualStringTree;
struct TVirtualNode;
using PVirtualNode = TVirtualNode *;

// The reserved id of a search-result page's root item ("Select all").
constexpr int64_t SearchRootID = 0x00000000FFFFEFFF;

// ---- The open report's connection ----
// Items look their comment state up on the viewer's open-report connection (ReportDB), which the
// report layer cannot see; the viewer hands it over through this hook.
using TReportDBHook = sqlite3 *(*)();
// Sets (or with null removes) the hook. Set it before any item is built; items built while no hook
// or no connection is there count as having no comment.
void SetReportDBHook(TReportDBHook Hook);
// The connection the hook gives, or null.
sqlite3 *HookedReportDB();

class TDirectoryList;
using TDirectoryListChildren = std::vector<TDirectoryList *>;

class TDirectoryList
{
public:
    // Stores the fields, gives the report's root (id -1) and a search root (SearchRootID) image 0
    // at once, and looks the comment state up (one query on the open-report connection).
    TDirectoryList(QString name, int64_t id, int64_t id_parent, int64_t size, bool isFolder, bool isDeleted,
                   int32_t f_attr, double f_create, double f_update, double f_access);
    // Frees the loaded children with their subtrees.
    ~TDirectoryList();
    TDirectoryList(const TDirectoryList &) = delete;
    TDirectoryList &operator=(const TDirectoryList &) = delete;

    // Frees every child item (each frees its own subtree) and drops the list; nothing when there is
    // none. The nodes of those items are the caller's to delete.
    void ClearChildren();
    // The list of the loaded children; a new empty one when there is none (after ClearChildren, or
    // before the first child). An empty list means the folder has to be loaded.
    TDirectoryListChildren &GetChildren();
    // The number of loaded children, without making a list.
    size_t ChildCount() const { return children ? children->size() : 0; }
    // The first loaded child with that id; null when none is loaded. Makes no list.
    TDirectoryList *LoadedChild(int64_t ID) const;

    // Whether the item has a non-blank comment; the first call asks the report, later calls answer
    // from the cache.
    bool HasComment();
    // The user changed the comment: the cache takes the new answer.
    void SetHasComment(bool Has);

    // The item's image in the trees' icon list: 0 for a root, 1 for a folder, the icon of the file's
    // extension otherwise (appended to Icons the first time that extension is met). Computed once.
    // Main thread only (the icon cache has no lock).
    int32_t GetImageIndex(TImageList &Icons, const TSystemImageList &SysImages);

    // Writes into Text the field whose key makes Prefix + key + Suffix equal to ComponentName
    // ("lbl_" + "size" + "Label" for the label lbl_sizeLabel); keys: name, id, id_parent, size,
    // isFolder, isDeleted, f_attr, f_create, f_update, f_access, im_ind. Leaves Text unchanged when
    // no key matches.
    void GetPropertyText(const std::string &ComponentName, const std::string &Prefix,
                         const std::string &Suffix, QString &Text) const;

    // Fields, read directly by the viewer. Ordered to pack: one item stands for each loaded row.
    QString name;
    int64_t id;
    int64_t id_parent;
    int64_t size; // F_SIZE of a file, F_CHILDREN_SIZE of a folder
    double f_create;
    double f_update;
    double f_access;
    int32_t im_ind = -1; // -1 until GetImageIndex
    int32_t f_attr;
    uint16_t commentState = 0xFFFF; // 0xFFFF not looked up, 0 no comment, 1 has a comment
    bool isFolder;
    bool isDeleted;
    // The loaded children, owned; null until the first child (or GetChildren) and after ClearChildren.
    TDirectoryListChildren *children = nullptr;
    // The item's node in the folder tree; null for items that have none (search results).
    PVirtualNode NodeInFoldTr = nullptr;
};

// A node's data cell, through which handlers and workers reach the node's item: reads give the item
// (null for a null node or an empty cell), an assignment stores one.
class TNodeItemCell
{
public:
    explicit TNodeItemCell(void **Cell) : FCell(Cell) {}
    TDirectoryList *Item() const { return FCell ? static_cast<TDirectoryList *>(*FCell) : nullptr; }
    operator TDirectoryList *() const { return Item(); }
    TDirectoryList *operator->() const { return Item(); }
    TNodeItemCell &operator=(TDirectoryList *Item)
    {
        *FCell = Item;
        return *this;
    }

private:
    void **FCell;
};

// The data cell of Node in Tree.
TNodeItemCell GetNodeItem(PVirtualNode Node, TVirtualStringTree *Tree);

// Adds a node for Item under ParentNode (null: the top level) with a three-state check box and Item
// in its data cell; logs "AddInTreeView - start" and "AddInTreeView - finish". Returns the node.
PVirtualNode AddInTreeView(TVirtualStringTree *Tree, PVirtualNode ParentNode, TDirectoryList *Item);

// A child row just read from the report: appends Item to ParentItem's children (which then own it)
// and gives it its node under ParentNode. In the folder tree (Tag 0) a folder gets a visible node with
// the has-children mark when the report holds a subfolder row of it (asked on DB), a file a hidden
// node; either becomes Item's NodeInFoldTr. In the file list (Tag 1) it gets a plain node. Returns
// the node; null for a tree of another Tag.
PVirtualNode AddChildItem(TDirectoryList *ParentItem, sqlite3 *DB, TVirtualStringTree *Tree,
                          PVirtualNode ParentNode, TDirectoryList *Item);
