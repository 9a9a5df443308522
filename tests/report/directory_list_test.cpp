// The item record: image indexes, the has-comment cache, property texts, children, and items in trees.
#include "report/uDirectoryList.h"

#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "platform/VirtualStringTree.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace {

sqlite3 *OpenDB = nullptr; // what the hook hands out

sqlite3 *TestReportDB()
{
    return OpenDB;
}

// 11 March 2021, 14:30:15 and two other moments.
constexpr double Create = 44266.6043402778;
constexpr double Update = 44267.5;
constexpr double Access = 44268.0;

std::unique_ptr<TDirectoryList> Item(const QString &Name, int64_t Id, bool Folder = false,
                                     int64_t Parent = -1)
{
    return std::make_unique<TDirectoryList>(Name, Id, Parent, 1234, Folder, false, 32, Create, Update,
                                            Access);
}

class DirectoryListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetLogFolder(FTemp.Path() + "/");
        CreateLogFile();
        SetReportDBHook(&TestReportDB);
        FillIconList(FIcons, FSystem);
    }
    void TearDown() override
    {
        SetReportDBHook(nullptr);
        if (OpenDB)
            sqlite3_close_v2(OpenDB);
        OpenDB = nullptr;
        SetLogFolder("");
    }

    // Writes the report and makes it the open report of the hook; counts the statements run on it.
    sqlite3 *OpenReport(support::ReportBuilder Builder)
    {
        const std::string path = Builder.WithCheckTable().Write(FTemp.File("report.db"));
        EXPECT_EQ(sqlite3_open(path.c_str(), &OpenDB), SQLITE_OK);
        sqlite3_trace_v2(
            OpenDB, SQLITE_TRACE_STMT,
            [](unsigned, void *Context, void *, void *) {
                ++*static_cast<int *>(Context);
                return 0;
            },
            &Statements);
        return OpenDB;
    }

    support::TempDir FTemp;
    TImageList FIcons;
    TSystemImageList FSystem;
    int Statements = 0;
};

TEST_F(DirectoryListTest, ImageIndexes)
{
    // The roots have the drive image from creation: the id alone decides, whatever the name.
    for (int64_t id : {int64_t(-1), SearchRootID}) {
        auto root = Item(QStringLiteral("report.txt"), id);
        EXPECT_EQ(root->im_ind, 0);
        EXPECT_EQ(root->GetImageIndex(FIcons, FSystem), 0);
    }
    EXPECT_EQ(Item(QStringLiteral("x"), SearchRootID - 1)->im_ind, -1);
    auto folder = Item(QStringLiteral("Music.mp3"), 5, true);
    EXPECT_EQ(folder->im_ind, -1);
    EXPECT_EQ(folder->GetImageIndex(FIcons, FSystem), 1);
    EXPECT_EQ(FIcons.Count(), 2) << "no icon was looked up";

    // one image per extension, letter case aside
    auto lower = Item(QStringLiteral("notes.txt"), 6);
    const int txt = lower->GetImageIndex(FIcons, FSystem);
    EXPECT_EQ(txt, 2);
    EXPECT_EQ(lower->im_ind, txt);
    EXPECT_EQ(Item(QStringLiteral("OLD.NOTES.TXT"), 7)->GetImageIndex(FIcons, FSystem), txt);
    EXPECT_EQ(FIcons.Count(), 3);
    // a file without a dot is keyed by its whole name: "folder" is the folder image
    EXPECT_EQ(Item(QStringLiteral("folder"), 8)->GetImageIndex(FIcons, FSystem), 1);
    // non-ASCII names go in as 8-bit text
    EXPECT_GE(Item(QStringLiteral(u"отчёт.ТХТ"), 9)->GetImageIndex(FIcons, FSystem), 3);
    EXPECT_EQ(IconCache.IndexOf(".ТХТ"), IconCache.Count() - 1);
    // computed once for the item's life
    lower->name = QStringLiteral("now.png");
    EXPECT_EQ(lower->GetImageIndex(FIcons, FSystem), txt);
}

TEST_F(DirectoryListTest, CommentStateIsLookedUpOnceAtCreation)
{
    support::ReportBuilder builder;
    builder.Tree("F a.txt id=1\nF b.txt id=2\nF c.txt id=3\nF d.txt id=4\n")
        .Check({.comment = std::string("hello"), .checked = 0, .fileID = 1, .idParent = -1})
        .Check({.comment = std::string("   "), .checked = 0, .fileID = 2, .idParent = -1})
        .Check({.comment = std::nullopt, .checked = 1, .fileID = 3, .idParent = -1});
    sqlite3 *db = OpenReport(builder);

    auto commented = Item(QStringLiteral("a.txt"), 1);
    EXPECT_EQ(Statements, 1) << "one query per item built";
    EXPECT_EQ(commented->commentState, 1);
    EXPECT_TRUE(commented->HasComment());
    EXPECT_EQ(Item(QStringLiteral("b.txt"), 2)->commentState, 0) << "blanks only";
    EXPECT_EQ(Item(QStringLiteral("c.txt"), 3)->commentState, 0) << "NULL comment";
    EXPECT_EQ(Item(QStringLiteral("d.txt"), 4)->commentState, 0) << "no row";

    // the cache answers from now on, whatever the report says
    auto plain = Item(QStringLiteral("d.txt"), 4);
    SetComment(db, QStringLiteral("added"), 4);
    Statements = 0;
    EXPECT_FALSE(plain->HasComment());
    EXPECT_TRUE(commented->HasComment());
    EXPECT_EQ(Statements, 0);
    plain->SetHasComment(true);
    EXPECT_TRUE(plain->HasComment());
    EXPECT_EQ(plain->commentState, 1);
    commented->SetHasComment(false);
    EXPECT_FALSE(commented->HasComment());
    EXPECT_EQ(commented->commentState, 0);
    EXPECT_EQ(Statements, 0);

    // the open report's connection is asked, whichever one the creator holds
    SetReportDBHook(nullptr);
    EXPECT_EQ(Item(QStringLiteral("a.txt"), 1)->commentState, 0);
    OpenDB = nullptr;
    SetReportDBHook(&TestReportDB);
    EXPECT_EQ(Item(QStringLiteral("a.txt"), 1)->commentState, 0) << "no report open";
    sqlite3_close_v2(db);
}

TEST_F(DirectoryListTest, PropertyTextByComponentName)
{
    auto item = std::make_unique<TDirectoryList>(QStringLiteral("Name with blanks "), 42, 7, int64_t(5) << 33,
                                                 false, true, -3, Create, Update, Access);
    const auto text = [&](const std::string &Name, const std::string &Prefix = "lbl_",
                          const std::string &Suffix = "Label") {
        QString t = QStringLiteral("unchanged");
        item->GetPropertyText(Name, Prefix, Suffix, t);
        return t.toStdString();
    };
    // The key between prefix and suffix, exact and case-sensitive; anything else leaves the text alone.
    const char *const keys[] = {"name",     "id",        "id_parent", "size",
                                "isFolder", "isDeleted", "f_attr",    "im_ind"};
    const char *const texts[] = {"Name with blanks ", "42", "7", "42949672960", "false", "true", "-3", "-1"};
    for (size_t i = 0; i < std::size(keys); ++i)
        EXPECT_EQ(text("lbl_" + std::string(keys[i]) + "Label"), texts[i]) << keys[i];
    EXPECT_EQ(text("lbl_f_createLabel"), DateTimeToStr(Create).toStdString());
    EXPECT_EQ(text("lbl_f_updateLabel"), DateTimeToStr(Update).toStdString());
    EXPECT_EQ(text("lbl_f_accessLabel"), DateTimeToStr(Access).toStdString());
    for (const std::string key : {"Size", "size ", "children", "commentState", "", "sizeLabel"})
        EXPECT_EQ(text("lbl_" + key + "Label"), "unchanged") << key;
    EXPECT_EQ(text("lbl_size"), "unchanged");
    EXPECT_EQ(text("Label"), "unchanged");
    EXPECT_EQ(text("size", "", ""), "42949672960");
    item->isFolder = true;
    EXPECT_EQ(text("xisFoldery", "x", "y"), "true");
    item->GetImageIndex(FIcons, FSystem);
    EXPECT_EQ(text("lbl_im_indLabel"), std::to_string(item->im_ind));
}

TEST_F(DirectoryListTest, ChildrenComeAndGo)
{
    auto folder = Item(QStringLiteral("Docs"), 1, true);
    EXPECT_EQ(folder->children, nullptr) << "no list until one is needed";
    EXPECT_EQ(folder->ChildCount(), 0u);
    auto *sub = Item(QStringLiteral("Sub"), 2, true, 1).release();
    folder->GetChildren().push_back(sub);
    sub->GetChildren().push_back(Item(QStringLiteral("deep.txt"), 3, false, 2).release());
    EXPECT_EQ(folder->ChildCount(), 1u);

    folder->ClearChildren(); // frees Sub and deep.txt (the sanitizer build sees a leak or a double free)
    EXPECT_EQ(folder->children, nullptr);
    folder->ClearChildren();
    EXPECT_EQ(folder->children, nullptr);
    TDirectoryListChildren &fresh = folder->GetChildren();
    EXPECT_TRUE(fresh.empty());
    EXPECT_EQ(&folder->GetChildren(), &fresh) << "the same list until it is cleared";
}

TEST_F(DirectoryListTest, AddChildItemInTheFolderTree)
{
    support::ReportBuilder builder;
    builder.Tree("D WithSub id=10\n"
                 "  D Inner id=11\n"
                 "D FilesOnly id=20\n"
                 "  F a.txt id=21\n"
                 "D Empty id=30\n"
                 "F top.txt id=40\n");
    sqlite3 *db = OpenReport(builder);
    TVirtualStringTree tree;
    ASSERT_EQ(tree.Tag, 0);
    auto root = Item(QStringLiteral("report"), -1, true, 0);
    PVirtualNode rootNode = AddInTreeView(&tree, nullptr, root.get());
    root->NodeInFoldTr = rootNode;

    std::vector<TDirectoryList *> items;
    std::vector<PVirtualNode> nodes;
    for (auto [name, id, folder] : {std::tuple{"WithSub", 10, true}, std::tuple{"FilesOnly", 20, true},
                                    std::tuple{"Empty", 30, true}, std::tuple{"top.txt", 40, false}}) {
        items.push_back(Item(QString::fromLatin1(name), id, folder).release());
        nodes.push_back(AddChildItem(root.get(), db, &tree, rootNode, items.back()));
    }
    ASSERT_EQ(root->ChildCount(), 4u);
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(root->GetChildren()[i], items[i]) << "in the order added";
        ASSERT_NE(nodes[i], nullptr);
        EXPECT_EQ(tree.NodeParent(nodes[i]), rootNode);
        EXPECT_EQ(nodes[i]->Index, i);
        EXPECT_EQ(items[i]->NodeInFoldTr, nodes[i]);
        EXPECT_EQ(GetNodeItem(nodes[i], &tree).Item(), items[i]);
        EXPECT_EQ(TVirtualStringTree::CheckType(nodes[i]), ctTriStateCheckBox);
    }
    EXPECT_TRUE(TVirtualStringTree::HasChildren(nodes[0])) << "has a subfolder row";
    EXPECT_FALSE(TVirtualStringTree::HasChildren(nodes[1])) << "files only";
    EXPECT_FALSE(TVirtualStringTree::HasChildren(nodes[2]));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(TVirtualStringTree::IsVisible(nodes[i]));
    EXPECT_FALSE(TVirtualStringTree::IsVisible(nodes[3])) << "a file's node is present but hidden";
    EXPECT_FALSE(TVirtualStringTree::HasChildren(nodes[3]));

    // a report without the table: no mark, no error
    sqlite3 *empty = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &empty), SQLITE_OK);
    PVirtualNode lone =
        AddChildItem(root.get(), empty, &tree, rootNode, Item(QStringLiteral("X"), 10, true).release());
    EXPECT_FALSE(TVirtualStringTree::HasChildren(lone));
    sqlite3_close_v2(empty);

    tree.Clear(); // the nodes go first; the items belong to the root
}

TEST_F(DirectoryListTest, AddChildItemInTheFileListAndOtherTrees)
{
    TVirtualStringTree files;
    files.Tag = 1;
    auto folder = Item(QStringLiteral("Docs"), 1, true);
    auto *file = Item(QStringLiteral("a.txt"), 2, false, 1).release();
    PVirtualNode node = AddChildItem(folder.get(), nullptr, &files, nullptr, file);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(files.NodeParent(node), nullptr) << "top level";
    EXPECT_TRUE(TVirtualStringTree::IsVisible(node));
    EXPECT_EQ(TVirtualStringTree::CheckType(node), ctTriStateCheckBox);
    EXPECT_EQ(node->Data, file);
    EXPECT_EQ(GetNodeItem(node, &files)->id, 2);
    EXPECT_EQ(file->NodeInFoldTr, nullptr) << "the file list leaves the folder-tree node alone";
    auto *sub = Item(QStringLiteral("Sub"), 3, true, 1).release();
    EXPECT_FALSE(TVirtualStringTree::HasChildren(AddChildItem(folder.get(), nullptr, &files, nullptr, sub)));

    TVirtualStringTree other;
    other.Tag = 7;
    auto *third = Item(QStringLiteral("b.txt"), 4, false, 1).release();
    EXPECT_EQ(AddChildItem(folder.get(), nullptr, &other, nullptr, third), nullptr);
    EXPECT_EQ(other.TotalCount(), 0u);
    EXPECT_EQ(folder->ChildCount(), 3u) << "the item is still the folder's";

    // The node's cell: none for no node, written through.
    EXPECT_EQ(static_cast<TDirectoryList *>(GetNodeItem(nullptr, &files)), nullptr);
    GetNodeItem(node, &files) = sub;
    EXPECT_EQ(node->Data, sub);
    EXPECT_EQ(GetNodeItem(node, &files)->name, QStringLiteral("Sub"));
}

} // namespace
