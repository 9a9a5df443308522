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
#include <QStringEncoder>
#include <QToolBar>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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

// Folds a to z to upper case, so that two keys compare as the names do by a plain byte comparison.
void FoldLetters(char *First, char *Last)
{
    for (char *c = First; c != Last; ++c)
        if (*c >= 'a' && *c <= 'z')
            *c = static_cast<char>(*c - 'a' + 'A');
}

// The text in the system's 8-bit code page with a to z folded to upper case.
std::string FoldedKey(const QByteArray &Text)
{
    std::string key(Text.constData(), static_cast<size_t>(Text.size()));
    FoldLetters(key.data(), key.data() + key.size());
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
    const double value = Column == fcCreate   ? Item.f_create
                         : Column == fcUpdate ? Item.f_update
                                              : Item.f_access;
    // Before 30 December 1899 the days count back but the time of day forward: -1.75 is 18:00 of
    // 29 December, later than -1.25 at 06:00. The moment itself is the day plus the time of day.
    const double day = std::trunc(value);
    const double time = value < 0 ? day + (day - value) : value;
    const auto bits = std::bit_cast<int64_t>(time == 0 ? 0.0 : time); // -0 and 0 alike
    return bits >= 0 ? bits : bits ^ std::numeric_limits<int64_t>::max();
}

// A row being sorted: its key and its position before the sort.
struct TSortRow
{
    uint64_t Key;
    uint32_t Place;
};

// Orders rows that come in the order of Place by Key, then Place: a least-significant-digit radix sort
// (which keeps the order of equal keys) over the digits in which the rows differ.
void SortByKey(TSortRow *First, TSortRow *Last, std::vector<TSortRow> &Scratch)
{
    const auto n = static_cast<size_t>(Last - First);
    if (n < 256) {
        std::sort(First, Last, [](const TSortRow &A, const TSortRow &B) {
            return A.Key != B.Key ? A.Key < B.Key : A.Place < B.Place;
        });
        return;
    }
    // Digits of 11 bits: six passes at most, and the counts of one stay in the first-level cache.
    constexpr int Bits = 11;
    constexpr int Digits = (64 + Bits - 1) / Bits;
    constexpr uint64_t Mask = (uint64_t(1) << Bits) - 1;
    std::vector<std::array<uint32_t, Mask + 1>> counts(Digits);
    for (const TSortRow *r = First; r != Last; ++r)
        for (int d = 0; d < Digits; ++d)
            ++counts[d][(r->Key >> (Bits * d)) & Mask];
    Scratch.resize(std::max(Scratch.size(), n));
    TSortRow *from = First;
    TSortRow *to = Scratch.data();
    for (int d = 0; d < Digits; ++d) {
        std::array<uint32_t, Mask + 1> &at = counts[d];
        if (at[(First->Key >> (Bits * d)) & Mask] == n)
            continue; // the same digit in every row
        uint32_t sum = 0;
        for (uint32_t &count : at)
            sum += std::exchange(count, sum);
        for (const TSortRow *r = from; r != from + n; ++r)
            to[at[(r->Key >> (Bits * d)) & Mask]++] = *r;
        std::swap(from, to);
    }
    if (from != First)
        std::copy(from, from + n, First);
}

// The rows' 8-bit texts (by Place) one after another in one buffer, followed by 8 zero bytes so that
// the last bytes of a text can be read as one word.
struct TTexts
{
    std::string Bytes;
    std::vector<uint32_t> Ends;
    std::string_view operator[](uint32_t Place) const
    {
        const uint32_t begin = Place ? Ends[Place - 1] : 0;
        return std::string_view(Bytes).substr(begin, Ends[Place] - begin);
    }
};

// The 7 bytes of Text from Depth on, big-endian, over the count of the bytes from Depth on (at most 8):
// among equal bytes the text that ends first comes first, as in a byte-wise comparison.
uint64_t TextDigit(std::string_view Text, size_t Depth)
{
    const size_t left = Text.size() - Depth;
    uint64_t word;
    std::memcpy(&word, Text.data() + Depth, sizeof word);
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    const size_t kept = std::min<size_t>(left, 7);
    word = kept ? word & ~uint64_t(0) << (64 - 8 * kept) : 0;
    return word | std::min<size_t>(left, 8);
}

// Orders rows that come in the order of Place by their texts from Depth on (byte-wise; reversed when
// Flip is all ones), then Place: by 7 bytes at a time, each run of equal bytes then by the next 7.
void SortByText(TSortRow *First, TSortRow *Last, const TTexts &Texts, size_t Depth, uint64_t Flip,
                std::vector<TSortRow> &Scratch)
{
    if (Last - First < 32) {
        std::sort(First, Last, [&](const TSortRow &A, const TSortRow &B) {
            const int order = Texts[A.Place].substr(Depth).compare(Texts[B.Place].substr(Depth));
            return order != 0 ? (order < 0) == (Flip == 0) : A.Place < B.Place;
        });
        return;
    }
    for (TSortRow *r = First; r != Last; ++r)
        r->Key = TextDigit(Texts[r->Place], Depth) ^ Flip;
    SortByKey(First, Last, Scratch);
    for (TSortRow *run = First, *end; run != Last; run = end) {
        end = std::find_if(run + 1, Last, [run](const TSortRow &R) { return R.Key != run->Key; });
        if (end - run > 1 && Texts[run->Place].size() > Depth + 7)
            SortByText(run, end, Texts, Depth + 7, Flip, Scratch);
    }
}

// The sort of a header click: each parent's children in the order of tv_FilesTreeCompareNodes, equal
// rows keeping their order, each row's key made once. Names sort by their 8-bit bytes, numbers by a
// key in their order, files by the rank of their type text among those met.
class TRowSorter
{
public:
    TRowSorter(TVirtualStringTree *Tree, int Column, TSortDirection Direction)
        : FTree(Tree), FColumn(Column), FFlip(Direction == sdAscending ? 0 : ~uint64_t(0))
    {
    }
    void SortTree()
    {
        std::vector<PVirtualNode> parents{FTree->RootNode()};
        while (!parents.empty()) {
            PVirtualNode parent = parents.back();
            parents.pop_back();
            if (parent->ChildCount == 1)
                parents.push_back(parent->FirstChild);
            else if (parent->ChildCount > 1)
                SortChildren(parent, parents);
        }
    }

private:
    // Sorts Parent's children; those with children of their own go to Parents.
    void SortChildren(PVirtualNode Parent, std::vector<PVirtualNode> &Parents)
    {
        const std::vector<PVirtualNode> &nodes = FTree->ChildList(Parent);
        // Nodes and items lie scattered in memory: each is asked for some rows before it is read.
        FItems.resize(nodes.size());
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (i + 16 < nodes.size())
                __builtin_prefetch(nodes[i + 16]);
            if (i + 8 < nodes.size())
                __builtin_prefetch(nodes[i + 8]->Data);
            FItems[i] = GetNodeItem(nodes[i], FTree);
            if (nodes[i]->ChildCount)
                Parents.push_back(nodes[i]);
        }
        // Rows without an item come first, as the comparison puts them, and last when reversed.
        std::vector<TSortRow> rows;
        std::vector<PVirtualNode> empty;
        rows.reserve(nodes.size());
        for (uint32_t i = 0; i < nodes.size(); ++i)
            if (FItems[i])
                rows.push_back({0, i});
            else
                empty.push_back(nodes[i]);
        if (FColumn == fcName) {
            MakeNameTexts();
            SortByText(rows.data(), rows.data() + rows.size(), FTexts, 0, FFlip, FScratch);
        } else {
            if (FColumn == fcType)
                MakeTypeKeys(rows);
            else
                for (TSortRow &r : rows)
                    r.Key = static_cast<uint64_t>(NumberKey(*FItems[r.Place], FColumn)) ^ (uint64_t(1) << 63);
            for (TSortRow &r : rows)
                r.Key ^= FFlip;
            SortByKey(rows.data(), rows.data() + rows.size(), FScratch);
        }
        std::vector<PVirtualNode> order;
        order.reserve(nodes.size());
        if (!FFlip)
            order = empty;
        for (const TSortRow &r : rows)
            order.push_back(nodes[r.Place]);
        if (FFlip)
            order.insert(order.end(), empty.begin(), empty.end());
        FTree->SetChildOrder(Parent, order);
    }
    // Asks for the item some rows after Row, and for the text of its name a few rows after Row.
    void PrefetchName(size_t Row) const
    {
        if (Row + 16 < FItems.size())
            __builtin_prefetch(FItems[Row + 16]);
        if (Row + 8 < FItems.size() && FItems[Row + 8])
            __builtin_prefetch(FItems[Row + 8]->name.constData());
    }
    // Appends Text as toLocal8Bit gives it: plain ASCII, which the system's code page keeps, byte for
    // byte; anything else through the system's encoder, into the buffer at once.
    void Append8Bit(QStringView Text, std::string &Out)
    {
        const size_t start = Out.size();
        Out.resize(start + static_cast<size_t>(Text.size()));
        char *out = Out.data() + start;
        for (const QChar c : Text) {
            if (c.unicode() >= 0x80) {
                Out.resize(start + static_cast<size_t>(FEncoder.requiredSpace(Text.size())));
                Out.resize(
                    static_cast<size_t>(FEncoder.appendToBuffer(Out.data() + start, Text) - Out.data()));
                return;
            }
            *out++ = static_cast<char>(c.unicode());
        }
    }
    void MakeNameTexts()
    {
        FTexts.Bytes.clear();
        FTexts.Bytes.reserve(FItems.size() * 24);
        FTexts.Ends.assign(FItems.size(), 0);
        for (size_t i = 0; i < FItems.size(); ++i) {
            PrefetchName(i);
            if (FItems[i]) {
                const size_t start = FTexts.Bytes.size();
                Append8Bit(FItems[i]->name, FTexts.Bytes);
                FoldLetters(FTexts.Bytes.data() + start, FTexts.Bytes.data() + FTexts.Bytes.size());
            }
            FTexts.Ends[i] = static_cast<uint32_t>(FTexts.Bytes.size());
        }
        FTexts.Bytes.append(8, '\0');
    }
    // Every folder after the files, which follow the order of their type texts.
    void MakeTypeKeys(std::vector<TSortRow> &Rows)
    {
        std::vector<const uint64_t *> ranks(Rows.size());
        for (size_t i = 0; i < Rows.size(); ++i) {
            PrefetchName(Rows[i].Place);
            const TDirectoryList &item = *FItems[Rows[i].Place];
            if (item.isFolder)
                continue;
            // The 8-bit extension starts at the name's last dot, so its UTF-16 text tells it apart. A
            // name without a dot is an extension of its own: those are asked for on every sort.
            const QStringView name(item.name);
            const qsizetype dot = name.lastIndexOf(u'.');
            if (dot < 0) {
                ranks[i] = RankSlot(name);
                continue;
            }
            const std::u16string_view key(name.utf16() + dot, static_cast<size_t>(name.size() - dot));
            auto found = FRankOfExtension.find(key);
            if (found == FRankOfExtension.end())
                found = FRankOfExtension.emplace(key, RankSlot(name)).first;
            ranks[i] = found->second;
        }
        uint64_t rank = 0;
        for (auto &text : FRankOfText)
            text.second = rank++;
        for (size_t i = 0; i < Rows.size(); ++i)
            Rows[i].Key = ranks[i] ? *ranks[i] : ~uint64_t(0);
    }

    // Where the rank of the type text of a file of that name goes.
    uint64_t *RankSlot(QStringView Name)
    {
        FName.clear();
        Append8Bit(Name, FName);
        const QString &type = TypeNameOf(GetFileExtension(FName));
        auto found = FRankOfType.find(&type);
        if (found == FRankOfType.end())
            found = FRankOfType.emplace(&type, &FRankOfText[FoldedKey(type.toLocal8Bit())]).first;
        return found->second;
    }

    TVirtualStringTree *FTree;
    int FColumn;
    uint64_t FFlip; // all ones for a descending sort, which reverses the order of every key
    QStringEncoder FEncoder{QStringEncoder::System, QStringEncoder::Flag::Stateless}; // as toLocal8Bit's
    std::vector<const TDirectoryList *> FItems;
    std::vector<TSortRow> FScratch;
    TTexts FTexts;
    std::string FName;
    // Extensions are short and few: a plain multiply-and-add hash does.
    struct TExtensionHash
    {
        size_t operator()(std::u16string_view Text) const
        {
            size_t hash = 0;
            for (const char16_t c : Text)
                hash = hash * 131 + c;
            return hash;
        }
    };
    std::unordered_map<std::u16string_view, uint64_t *, TExtensionHash> FRankOfExtension; // into names
    std::unordered_map<const QString *, uint64_t *> FRankOfType; // TypeNameOf's texts, into FRankOfText
    std::map<std::string, uint64_t> FRankOfText;
};

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
            [&] {
                SortFilesTreeAsHeaderShows();
                ShowDeletedMark(item);
            });
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
    TRowSorter(Sender->Treeview(), Sender->SortColumn(), Sender->SortDirection()).SortTree();
}

void TMainForm::SortFilesTreeAsHeaderShows()
{
    const TVTHeader &header = tv_FilesTree->Header;
    if (header.SortColumn() != NoColumn)
        TRowSorter(tv_FilesTree, header.SortColumn(), header.SortDirection()).SortTree();
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
            // The total below replaces it before anything can paint it: only the total is sized.
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
            label->adjustSize();
        }
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
    StoreComment();
    // "Select all" of a result page is no item of the report.
    if (Item && Item->id == SearchRootID)
        Item = nullptr;
    BindComment(Item);
    QString text;
    // Asked of the report, not the cache: a result row and the folder tree's item of the same id
    // cache apart.
    const bool has = Item && ReportDB && GetComment(ReportDB, text, Item->id);
    if (Item && ReportDB)
        Item->SetHasComment(has);
    FCommentShown = has ? text : QString();
    PutCommentText(has ? &text : nullptr);
}

void TMainForm::PutCommentText(const QString *Text)
{
    // Typing into a box that has the focus already follows no enter that would clear a placeholder; a
    // box that edits nothing shows it all the same.
    const bool placeholder = !Text && (!FCommentItem || !mem_Comments->hasFocus());
    // Browsing items without comments: the placeholder shown already stays as it is, unrepainted.
    if (placeholder && FCommentPlaceholder && mem_Comments->toPlainText() == CommentPlaceholder)
        return;
    QPalette palette = mem_Comments->palette();
    palette.setColor(QPalette::Text,
                     placeholder ? PlaceholderColor : QApplication::palette().color(QPalette::WindowText));
    mem_Comments->setPalette(palette);
    mem_Comments->setPlainText(placeholder ? CommentPlaceholder : Text ? *Text : QString());
    FCommentPlaceholder = placeholder;
}

void TMainForm::ForgetCurrentItem()
{
    CurrentItem = nullptr;
    // Nothing focused is shown: the label as it starts, no deleted mark.
    lbl_sizeLabel->setText(QStringLiteral("0"));
    lbl_sizeLabel->adjustSize();
    ShowDeletedMark(nullptr);
}

void TMainForm::ShowDeletedMark(const TDirectoryList *Item)
{
    // The mark is painted with the bar: a repaint now would paint every pending change of the window
    // in the middle of the work, and again at its end.
    const bool deleted = Item && Item->isDeleted;
    if (deleted != FStatusShowsDeleted) {
        FStatusShowsDeleted = deleted;
        sb_InfoStatusBar->update();
    }
}
