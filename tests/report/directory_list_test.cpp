// The item record: image indexes, the has-comment cache, property texts, children, and items in trees.
#include "report/uDirectoryList.h"

#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/ReportTesting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

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
        SetReportDBHook(&TestReportDB);
        FillIconList(FIcons, FSystem);
    }
    void TearDown() override
    {
        SetReportDBHook(nullptr);
        if (OpenDB)
            sqlite3_close_v2(OpenDB);
        OpenDB = nullptr;
    }

    // Writes the report and makes it the open report of the hook; counts the statements run on it.
    sqlite3 *OpenReport(support::ReportBuilder Builder)
    {
        const std::string path = Builder.WithCheckTable().Write(FLog.Dir.File("report.db"));
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

    reporttest::TempLog FLog;
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
    auto folder = Item(QStringLiteral("Music.mp3"), 5, true);
    EXPECT_EQ(folder->im_ind, -1);
    EXPECT_EQ(folder->GetImageIndex(FIcons, FSystem), 1);

    // one image per extension, letter case aside
    auto lower = Item(QStringLiteral("notes.txt"), 6);
    const int txt = lower->GetImageIndex(FIcons, FSystem);
    EXPECT_EQ(txt, 2);
    EXPECT_EQ(Item(QStringLiteral("OLD.NOTES.TXT"), 7)->GetImageIndex(FIcons, FSystem), txt);
    // a file without a dot is keyed by its whole name: "folder" is the folder image
    EXPECT_EQ(Item(QStringLiteral("folder"), 8)->GetImageIndex(FIcons, FSystem), 1);
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
    for (int64_t id : {2, 3, 4}) // blanks only, NULL comment, no row
        EXPECT_EQ(Item(QStringLiteral("x"), id)->commentState, 0) << id;

    // the cache answers from now on, whatever the report says
    auto plain = Item(QStringLiteral("d.txt"), 4);
    SetComment(db, QStringLiteral("added"), 4);
    Statements = 0;
    EXPECT_FALSE(plain->HasComment());
    EXPECT_TRUE(commented->HasComment());
    EXPECT_EQ(Statements, 0);

    // the open report's connection is asked, whichever one the creator holds
    SetReportDBHook(nullptr);
    EXPECT_EQ(Item(QStringLiteral("a.txt"), 1)->commentState, 0);
    OpenDB = nullptr;
    SetReportDBHook(&TestReportDB);
    EXPECT_EQ(Item(QStringLiteral("a.txt"), 1)->commentState, 0) << "no report open";
    sqlite3_close_v2(db);
}

} // namespace
