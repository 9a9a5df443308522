// A small window with both kinds of tree as the viewer uses them: a folder tree whose files are hidden
// nodes, and a six-column list with ticks in all three states, a comment mark and a deleted item's
// red cross. Checked on the painted pixels; with DEMO_SCREENSHOT=<png> it also saves a picture, and
// with DEMO_HOLD_MS=<ms> it stays on screen that long (for a look under Xvfb).
#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeView.h"
#include "report/uExtraFunctions.h"
#include "viewer/udImg.h"

#include <QHeaderView>
#include <QImage>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace {

struct TDemoItem
{
    QString Name;
    QString Size, Create, Update, Access, Type;
    bool Folder = false;
    bool HasComment = false;
    bool Deleted = false;
};

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

class TreeDemo : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FillIconList(Icons, SysImages);
        FileIcon = GetIconIndexByExt(".txt", Icons, SysImages);
        for (TVirtualStringTree *t : {&Folders, &Files}) {
            t->SetImages(&Icons);
            t->OnGetImageIndex = [this](TVirtualStringTree *, PVirtualNode Node, TVTImageKind Kind, int Column,
                                        bool &, int &Index) {
                if ((Kind == ikNormal || Kind == ikSelected) && Column <= 0)
                    Index = Item(Node)->Folder ? 1 : FileIcon;
            };
            t->OnAfterItemPaint = [this](TVirtualStringTree *Sender, QPainter *Canvas, PVirtualNode Node,
                                         const QRect &Rect) {
                if (Node)
                    PaintTreeItemMarks(Sender, Canvas, Node, Rect, Item(Node)->HasComment, Item(Node)->Deleted);
            };
        }
        Files.Tag = 1;
        Folders.OnGetText = [this](TVirtualStringTree *, PVirtualNode Node, int, TVSTTextType, QString &Text) {
            Text = Item(Node)->Name;
        };
        Files.OnGetText = [this](TVirtualStringTree *, PVirtualNode Node, int Column, TVSTTextType,
                                 QString &Text) {
            const TDemoItem *i = Item(Node);
            const QString cells[] = {i->Name, i->Size, i->Create, i->Update, i->Access, i->Type};
            Text = Column >= 0 && Column < 6 ? cells[Column] : QString();
        };
        auto options = Files.Options();
        options.Indent = 0;
        options.Margin = 8;
        options.FullRowSelect = true;
        Files.SetOptions(options);
        const struct
        {
            const char *Text;
            int Width;
            Qt::Alignment Align;
        } columns[] = {{"Name", 300, Qt::AlignLeft}, {"Size", 150, Qt::AlignRight}, {"Create", 150, Qt::AlignLeft},
                       {"Update", 150, Qt::AlignLeft}, {"Access", 150, Qt::AlignLeft}, {"Type", 150, Qt::AlignLeft}};
        for (const auto &c : columns)
            Files.Header.AddColumn(QString::fromLatin1(c.Text), c.Width, c.Align);
        Files.Header.SetVisible(true);

        // Folder tree: the report's root, three folders, files hidden.
        Root = Add(Folders, nullptr, {QStringLiteral("scan-2026.db3"), {}, {}, {}, {}, {}, true});
        Docs = Add(Folders, Root, {QStringLiteral("Documents"), {}, {}, {}, {}, {}, true, true});
        Photos = Add(Folders, Root, {QStringLiteral("Фотографии"), {}, {}, {}, {}, {}, true});
        Add(Folders, Root, {QStringLiteral("Empty"), {}, {}, {}, {}, {}, true, false, true});
        Add(Folders, Photos, {QStringLiteral("2025"), {}, {}, {}, {}, {}, true});
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            Folders.SetVisible(Add(Folders, Docs, {QString::fromLatin1(name)}), false);
        Folders.SetVisible(Add(Folders, Photos, {QStringLiteral("beach.jpg")}), false);
        Folders.SetExpanded(Root, true);
        Folders.SetExpanded(Photos, true);
        Folders.SetCheckState(Docs, csCheckedNormal);
        Folders.SetCheckState(Folders.GetFirstChild(Photos), csCheckedNormal); // Photos and root mixed

        // File list: ticks in all three states, a comment and a deleted item.
        const QString when = QStringLiteral("06.12.2026 10:20:30");
        Checked = Add(Files, nullptr, {QStringLiteral("report.txt"), "12", when, when, when, "Plain text document"});
        Mixed = Add(Files, nullptr, {QStringLiteral("Projects"), "4 096", when, when, when, "folder", true});
        Commented = Add(Files, nullptr,
                        {QStringLiteral("notes.txt"), "1", when, when, when, "Plain text document", false, true});
        Deleted = Add(Files, nullptr,
                      {QStringLiteral("old.doc"), "88", when, when, when, "Word document", false, false, true});
        Checked->CheckState = csCheckedNormal;
        Mixed->CheckState = csMixedNormal;

        Window = std::make_unique<QSplitter>();
        FolderView = new TVirtualTreeView(&Folders, Window.get());
        FileView = new TVirtualTreeView(&Files, Window.get());
        Window->setSizes({260, 900});
        Window->resize(1160, 320);
        Window->setWindowTitle(QStringLiteral("Tree control demo"));
        Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    }

    PVirtualNode Add(TVirtualStringTree &Tree, PVirtualNode Parent, TDemoItem Item)
    {
        Items.push_back(std::move(Item));
        PVirtualNode node = Tree.AddChild(Parent, &Items.back());
        Tree.SetCheckType(node, ctTriStateCheckBox);
        return node;
    }
    static const TDemoItem *Item(PVirtualNode Node) { return static_cast<const TDemoItem *>(Node->Data); }

    static int RedPixels(const QImage &Image, const QRect &Row)
    {
        int red = 0;
        for (int y = Row.top(); y <= Row.bottom(); ++y)
            for (int x = Row.left(); x <= Row.right() && x < Image.width(); ++x)
                red += IsRed(Image.pixel(x, y));
        return red;
    }
    static int ChangedPixels(const QImage &A, const QImage &B, const QRect &Row)
    {
        int changed = 0;
        for (int y = Row.top(); y <= Row.bottom(); ++y)
            for (int x = Row.left(); x <= Row.right() && x < A.width(); ++x)
                changed += A.pixel(x, y) != B.pixel(x, y);
        return changed;
    }

    TImageList Icons;
    TSystemImageList SysImages;
    int FileIcon = -1;
    std::deque<TDemoItem> Items;
    TVirtualStringTree Folders, Files;
    PVirtualNode Root = nullptr, Docs = nullptr, Photos = nullptr;
    PVirtualNode Checked = nullptr, Mixed = nullptr, Commented = nullptr, Deleted = nullptr;
    std::unique_ptr<QSplitter> Window;
    TVirtualTreeView *FolderView = nullptr;
    TVirtualTreeView *FileView = nullptr;
};

TEST_F(TreeDemo, BothTreesShowWhatTheViewerNeeds)
{
    // The folder tree shows folders only; the file nodes are there but hidden.
    EXPECT_EQ(Folders.TotalCount(), 9u);
    EXPECT_EQ(FolderView->model()->rowCount(FolderView->IndexOf(Docs)), 0);
    EXPECT_EQ(FolderView->model()->rowCount(FolderView->IndexOf(Root)), 3);
    EXPECT_FALSE(FolderView->IndexOf(Folders.GetFirstChild(Docs)).isValid());

    // Three-state tracking went up from the ticked folders.
    EXPECT_EQ(Docs->CheckState, csCheckedNormal);
    EXPECT_EQ(Photos->CheckState, csMixedNormal);
    EXPECT_EQ(Root->CheckState, csMixedNormal);
    EXPECT_EQ(Folders.GetFirstChild(Docs)->CheckState, csCheckedNormal) << "pushed down to hidden files";

    // The list's six columns and the three tick states as the view reports them.
    auto *model = FileView->model();
    ASSERT_EQ(model->columnCount(), 6);
    const char *headers[] = {"Name", "Size", "Create", "Update", "Access", "Type"};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c]));
    EXPECT_EQ(model->data(FileView->IndexOf(Checked), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(model->data(FileView->IndexOf(Mixed), Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(model->data(FileView->IndexOf(Commented), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(model->data(model->index(0, 5), Qt::DisplayRole).toString(), QStringLiteral("Plain text document"));

    // Painted marks: a red cross only on the deleted row; the comment mark changes the commented row
    // against the same row without it.
    QTest::qWait(50);
    const QImage shot = FileView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect deletedRow = FileView->visualRect(FileView->IndexOf(Deleted));
    const QRect checkedRow = FileView->visualRect(FileView->IndexOf(Checked));
    EXPECT_GT(RedPixels(shot, QRect(0, deletedRow.top(), 120, deletedRow.height())), 5);
    EXPECT_EQ(RedPixels(shot, QRect(0, checkedRow.top(), 120, checkedRow.height())), 0);

    const QRect commentRow = FileView->visualRect(FileView->IndexOf(Commented));
    const_cast<TDemoItem *>(Item(Commented))->HasComment = false;
    FileView->viewport()->update();
    QTest::qWait(50);
    const QImage plain = FileView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(ChangedPixels(shot, plain, QRect(0, commentRow.top(), 60, commentRow.height())), 10);
    const_cast<TDemoItem *>(Item(Commented))->HasComment = true;
    FileView->viewport()->update();

    if (const QByteArray path = qgetenv("DEMO_SCREENSHOT"); !path.isEmpty())
        Window->grab().save(QString::fromLocal8Bit(path));
    if (const int hold = qEnvironmentVariableIntValue("DEMO_HOLD_MS"); hold > 0)
        QTest::qWait(hold);
}

} // namespace
