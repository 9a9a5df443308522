// The file list: filling it from the focused folder, its cell texts and icons, sorting by a header
// click, the double click; and what focusing an item shows (size display, comment box, deleted mark).
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uSQLiteFunc.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utAddingFiles.h"
#include "viewer/utFreeMemThread.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QToolBar>

#include <algorithm>
#include <bit>
#include <compare>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

enum TFileColumn { fcName, fcSize, fcCreate, fcUpdate, fcAccess, fcType };

const QColor SortColumnColor(0xF7, 0xF7, 0xF7);
const QColor PlaceholderColor(0x80, 0x80, 0x80);
const QString CommentPlaceholder = QStringLiteral("Your comment to file");

// Bytes in KB, rounded up (as the division in floating point would, but exact for every count).
int64_t KBRoundedUp(int64_t Bytes)
{
    return Bytes / 1024 + (Bytes % 1024 > 0 ? 1 : 0);
}

// Digits in groups of three from the right, a blank between groups.
QString GroupedDigits(int64_t Value)
{
    QString text = QString::number(Value);
    const qsizetype first = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    for (qsizetype at = text.size() - 3; at > first; at -= 3)
        text.insert(at, QLatin1Char(' '));
    return text;
}

// "%.2f" with the user's decimal separator and no group separators.
QString TwoDecimals(double Value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(Value, 'f', 2);
}

// The text in the system's 8-bit code page with a to z folded to upper case, so that two keys
// compare as the names do by a plain byte comparison.
std::string FoldedKey(const QByteArray &Text)
{
    std::string key(Text.constData(), static_cast<size_t>(Text.size()));
    for (char &c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

// The shell's type name of an extension, asked once per extension: the list's cells and sorts
// need it for every row. Main thread only.
const QString &TypeNameOf(const std::string &Extension)
{
    static std::unordered_map<std::string, QString> names;
    auto found = names.find(Extension);
    if (found == names.end())
        found = names.emplace(Extension, GetFileTypeName(Extension)).first;
    return found->second;
}

QString TypeName(const TDirectoryList &Item)
{
    return TypeNameOf(GetFileExtension(Item.name.toLocal8Bit().toStdString()));
}

int Sign(int Value)
{
    return (Value > 0) - (Value < 0);
}

template <class T> int CompareValues(T A, T B)
{
    return (A > B) - (A < B);
}

// Type names, looked up once per extension within one sort.
using TTypeNames = std::unordered_map<std::string, std::string>;

// The key a row sorts by in the name or type column: its 8-bit text folded as FoldedKey does; in
// the type column a first byte puts every file (0) before every folder (1), folders being equal.
std::string TextKey(const TDirectoryList &Item, int Column, TTypeNames &Types)
{
    if (Column == fcName)
        return FoldedKey(Item.name.toLocal8Bit());
    if (Item.isFolder)
        return std::string(1, '\1');
    const std::string extension = GetFileExtension(Item.name.toLocal8Bit().toStdString());
    auto found = Types.find(extension);
    if (found == Types.end())
        found = Types.emplace(extension, FoldedKey(TypeNameOf(extension).toLocal8Bit())).first;
    return std::string(1, '\0') + found->second;
}

// The key a row sorts by in the size and time columns; times map onto integers in their own order.
int64_t NumberKey(const TDirectoryList &Item, int Column)
{
    if (Column == fcSize)
        return Item.size;
    const double time = Column == fcCreate   ? Item.f_create
                        : Column == fcUpdate ? Item.f_update
                                             : Item.f_access;
    const auto bits = std::bit_cast<int64_t>(time == 0 ? 0.0 : time); // -0 and 0 alike
    return bits >= 0 ? bits : bits ^ std::numeric_limits<int64_t>::max();
}

// Orders Parent's rows by their keys of Column, made once for each row; equal rows keep their order.
template <class TKey, class TKeyOf>
void SortRows(TVirtualStringTree *Tree, PVirtualNode Parent, TSortDirection Direction, const TKeyOf &KeyOf)
{
    struct TRow
    {
        TKey Key;
        uint32_t Place;
    };
    std::vector<PVirtualNode> nodes;
    std::vector<TRow> rows;
    nodes.reserve(Parent->ChildCount);
    rows.reserve(Parent->ChildCount);
    for (PVirtualNode n = Parent->FirstChild; n; n = n->NextSibling) {
        const TDirectoryList *item = GetNodeItem(n, Tree);
        rows.push_back({item ? KeyOf(*item) : TKey(), static_cast<uint32_t>(nodes.size())});
        nodes.push_back(n);
    }
    const bool ascending = Direction == sdAscending;
    std::sort(rows.begin(), rows.end(), [ascending](const TRow &A, const TRow &B) {
        const auto order = A.Key <=> B.Key;
        if (order != 0)
            return ascending ? order < 0 : order > 0;
        return A.Place < B.Place;
    });
    std::vector<PVirtualNode> order;
    order.reserve(rows.size());
    for (const TRow &row : rows)
        order.push_back(nodes[row.Place]);
    Tree->SetChildOrder(Parent, order);
}

} // namespace

void TMainForm::ConnectFileList()
{
    tv_FolderTree->OnFocusChanging = [this](TVirtualStringTree *Sender, PVirtualNode OldNode,
                                            PVirtualNode NewNode, int OldColumn, int NewColumn,
                                            bool &Allowed) {
        tv_FolderTreeFocusChanging(Sender, OldNode, NewNode, OldColumn, NewColumn, Allowed);
    };
    tv_FolderTree->OnResize = [this](TVirtualStringTree *) { tv_FolderTreeResize(tv_FolderTreeView); };
    tv_FilesTree->OnGetText = [this](TVirtualStringTree *Sender, PVirtualNode Node, int Column,
                                     TVSTTextType TextType, QString &CellText) {
        tv_FilesTreeGetText(Sender, Node, Column, TextType, CellText);
    };
    tv_FilesTree->OnGetImageIndex = [this](TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                           int Column, bool &Ghosted, int &ImageIndex) {
        tv_FilesTreeGetImageIndex(Sender, Node, Kind, Column, Ghosted, ImageIndex);
    };
    tv_FilesTree->OnHeaderClick = [this](TVTHeader *Sender, int Column, Qt::MouseButton Button,
                                         Qt::KeyboardModifiers Shift, int X, int Y) {
        tv_FilesTreeHeaderClick(Sender, Column, Button, Shift, X, Y);
    };
    tv_FilesTree->OnCompareNodes = [this](TVirtualStringTree *Sender, PVirtualNode Node1, PVirtualNode Node2,
                                          int Column, int &Result) {
        tv_FilesTreeCompareNodes(Sender, Node1, Node2, Column, Result);
    };
    tv_FilesTree->OnDblClick = [this](TVirtualStringTree *Sender) { tv_FilesTreeDblClick(Sender); };
    tv_FilesTree->OnFocusChanging = [this](TVirtualStringTree *Sender, PVirtualNode OldNode,
                                           PVirtualNode NewNode, int OldColumn, int NewColumn,
                                           bool &Allowed) {
        tv_FilesTreeFocusChanging(Sender, OldNode, NewNode, OldColumn, NewColumn, Allowed);
    };
    tv_FilesTree->OnAfterItemPaint = [this](TVirtualStringTree *Sender, QPainter *Canvas, PVirtualNode Node,
                                            const QRect &ItemRect) {
        tv_FolderTreeAfterItemPaint(Sender, Canvas, Node, ItemRect);
    };
    sb_InfoStatusBar->OnDrawPanel = [this](TStatusBar *, int Panel, QPainter *Canvas, const QRect &) {
        if (Panel == 0 && FStatusShowsDeleted)
            DrawStatusPanelImage(Canvas, Panel, ObjTypeDeletedImage, QRect(0, 2, 16, 16));
    };
}

void TMainForm::tv_FolderTreeFocusChanging(TVirtualStringTree *Sender, PVirtualNode OldNode,
                                           PVirtualNode NewNode, int, int, bool &Allowed)
{
    if (!NewNode)
        return;
    TDirectoryList *item = GetNodeItem(NewNode, Sender);
    ShowItemComment(item);
    gb_MoreResults->hide();
    mi_MoreResults->setEnabled(false);
    // A keyboard move keeps a result page in the list; the shown folder is not filled again unless
    // a tick changed it.
    if (!Allowed || (SearchMode && !MouseDownPending) || (NewNode == OldNode && !CheckChanged))
        return;
    if (FreeMemThread)
        FreeMemThread->TouchNode(NewNode);
    SearchMode = false;
    CheckChanged = false;
    CurrentItem = item;
    ShowSize(CurrentItem, {lbl_sizeLabel});
    Allowed = false;
    try {
        // Given back after the trees leave the update.
        const auto allow = qScopeGuard([&] { Allowed = true; });
        RunInWaitForm(
            AddingFilesText, tv_FilesTree, tv_FolderTree,
            [&](TWaitForm *Wait, TThread *&Worker) {
                Worker = new TAddingThread(ReportDB, GetNodeItem(NewNode, tv_FolderTree), tv_FilesTree,
                                           NewNode, Wait);
                UserCheckAction = false;
                tv_FolderTreeExpanding(tv_FolderTree, NewNode, Allowed);
                ClearFilesTree();
            },
            [&] { ShowDeletedMark(item); });
    } catch (const std::exception &E) {
        // What the framework does with an error that reaches it: the message, and the window goes on.
        WideMessageDlg(QString::fromUtf8(E.what()), mtError, mbOKOnly);
    }
}

void TMainForm::tv_FolderTreeResize(QObject *)
{
    // Rows added to the folder tree can resize it inside a wait window while a worker fills the list:
    // the list then belongs to the worker, and the end of its update repaints it. The lock keeps a
    // worker from starting an update in between.
    const std::lock_guard<std::recursive_mutex> lock(tv_FilesTree->ViewLock());
    if (tv_FilesTree->UpdateCount() == 0)
        tv_FilesTree->Repaint();
    tbar_FolderToolBar->repaint();
}

void TMainForm::tv_FilesTreeGetText(TVirtualStringTree *Sender, PVirtualNode Node, int Column, TVSTTextType,
                                    QString &CellText)
{
    if (!Node)
        return;
    const TDirectoryList *item = GetNodeItem(Node, Sender);
    if (!item) {
        CellText = QStringLiteral("Error");
        return;
    }
    try {
        switch (Column) {
        case fcName:
            CellText = item->name;
            break;
        case fcSize:
            CellText = GroupedDigits(KBRoundedUp(item->size));
            break;
        case fcCreate:
            CellText = DateTimeToStr(item->f_create);
            break;
        case fcUpdate:
            CellText = DateTimeToStr(item->f_update);
            break;
        case fcAccess:
            CellText = DateTimeToStr(item->f_access);
            break;
        case fcType:
            CellText = item->isFolder ? QStringLiteral("folder") : TypeName(*item);
            break;
        default:
            break;
        }
    } catch (...) {
        CellText = QStringLiteral("Error");
    }
}

void TMainForm::tv_FilesTreeGetImageIndex(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                          int Column, bool &, int &ImageIndex)
{
    TDirectoryList *item = GetNodeItem(Node, Sender);
    if ((Kind == ikNormal || Kind == ikSelected) && Column == fcName && item && il_IconsImList)
        ImageIndex = item->GetImageIndex(*il_IconsImList, il_SystemImList);
    else
        ImageIndex = -1;
}

void TMainForm::tv_FilesTreeHeaderClick(TVTHeader *Sender, int Column, Qt::MouseButton Button,
                                        Qt::KeyboardModifiers, int, int)
{
    if (Button != Qt::LeftButton)
        return;
    const int sortColumn = Sender->SortColumn();
    if (sortColumn != NoColumn)
        Sender->SetColumnParentColor(sortColumn, true);
    if (sortColumn == NoColumn || Column != sortColumn) {
        Sender->SetSortColumn(Column);
        Sender->SetSortDirection(sdAscending);
    } else {
        Sender->SetSortDirection(Sender->SortDirection() == sdAscending ? sdDescending : sdAscending);
    }
    Sender->SetColumnColor(Sender->SortColumn(), SortColumnColor);
    // The order of tv_FilesTreeCompareNodes, with each row's key made once rather than per comparison.
    TVirtualStringTree *tree = Sender->Treeview();
    const int column = Sender->SortColumn();
    TTypeNames types;
    for (PVirtualNode parent = tree->RootNode(); parent; parent = tree->GetNext(parent)) {
        if (parent->ChildCount < 2)
            continue;
        if (column == fcName || column == fcType)
            SortRows<std::string>(tree, parent, Sender->SortDirection(),
                                  [&](const TDirectoryList &Item) { return TextKey(Item, column, types); });
        else
            SortRows<int64_t>(tree, parent, Sender->SortDirection(),
                              [&](const TDirectoryList &Item) { return NumberKey(Item, column); });
    }
}

void TMainForm::tv_FilesTreeCompareNodes(TVirtualStringTree *Sender, PVirtualNode Node1, PVirtualNode Node2,
                                         int Column, int &Result)
{
    const TDirectoryList *item1 = GetNodeItem(Node1, Sender);
    const TDirectoryList *item2 = GetNodeItem(Node2, Sender);
    if (!item1 || !item2) {
        Result = CompareValues(item1 != nullptr, item2 != nullptr);
        return;
    }
    if (Column == fcName || Column == fcType) {
        TTypeNames types;
        const std::string key1 = TextKey(*item1, Column, types);
        const std::string key2 = TextKey(*item2, Column, types);
        // Files against folders by the Type rule's own values; otherwise the sign of the comparison.
        Result = Column == fcType && item1->isFolder != item2->isFolder ? (item1->isFolder ? 1000 : -1000)
                                                                        : Sign(key1.compare(key2));
    } else if (Column >= fcSize && Column <= fcAccess) {
        Result = CompareValues(NumberKey(*item1, Column), NumberKey(*item2, Column));
    } else {
        Result = 0;
    }
}

void TMainForm::tv_FilesTreeDblClick(TVirtualStringTree *)
{
    PVirtualNode node = tv_FilesTree->FocusedNode();
    if (!node)
        return;
    TDirectoryList *item = GetNodeItem(node, tv_FilesTree);
    if (!item || !item->isFolder)
        return;
    // A folder of a result page has no node in the folder tree until the folders on its way are loaded.
    PVirtualNode folder = item->NodeInFoldTr ? item->NodeInFoldTr : LoadPathTo(item->id);
    if (!folder)
        return;
    bool allowed = true;
    tv_FolderTreeExpanding(tv_FolderTree, folder, allowed);
    ShowFolder(folder);
}

void TMainForm::tv_FilesTreeFocusChanging(TVirtualStringTree *Sender, PVirtualNode OldNode,
                                          PVirtualNode NewNode, int, int, bool &)
{
    if (!NewNode || NewNode == OldNode)
        return;
    CurrentItem = GetNodeItem(NewNode, Sender);
    if (!CurrentItem)
        return;
    ShowSize(CurrentItem, {lbl_sizeLabel});
    ShowItemComment(CurrentItem);
    ShowDeletedMark(CurrentItem);
}

void TMainForm::ShowSize(TDirectoryList *Item, const QList<QLabel *> &Labels)
{
    for (QLabel *label : Labels) {
        if (Item->isFolder && label == lbl_sizeLabel) {
            label->setText(QStringLiteral("Calculation..."));
        } else {
            QString text;
            Item->GetPropertyText(label->objectName().toStdString(), "lbl_", "Label", text);
            const int64_t size = text.toLongLong();
            const double kb = static_cast<double>(size) / 1024;
            if (size < 1024 * 1024)
                label->setText(TwoDecimals(kb) + QStringLiteral(" KB"));
            else if (size < 1024 * 1024 * 1024)
                label->setText(
                    QStringLiteral("%1 MB (%2 KB)").arg(TwoDecimals(kb / 1024)).arg(KBRoundedUp(size)));
            else
                label->setText(QStringLiteral("%1 GB (%2 KB)")
                                   .arg(TwoDecimals(kb / 1024 / 1024))
                                   .arg(KBRoundedUp(size)));
        }
        label->adjustSize();
    }
    if (Item->isFolder) {
        const int64_t total = ReportDB ? GetChildrenSize(ReportDB, Item->id) : 0;
        lbl_sizeLabel->setText(QStringLiteral("%1 MB (%2 KB)")
                                   .arg(TwoDecimals(static_cast<double>(total) / 1024 / 1024))
                                   .arg(KBRoundedUp(total)));
        lbl_sizeLabel->adjustSize();
    }
}

void TMainForm::ShowItemComment(TDirectoryList *Item)
{
    QString text = CommentPlaceholder;
    QColor color = PlaceholderColor;
    if (Item && Item->HasComment() && ReportDB) {
        text.clear();
        GetComment(ReportDB, text, Item->id);
        color = QApplication::palette().color(QPalette::WindowText);
    }
    QPalette palette = mem_Comments->palette();
    palette.setColor(QPalette::Text, color);
    mem_Comments->setPalette(palette);
    mem_Comments->setPlainText(text);
}

void TMainForm::ShowDeletedMark(const TDirectoryList *Item)
{
    FStatusShowsDeleted = Item && Item->isDeleted;
    sb_InfoStatusBar->repaint();
}
