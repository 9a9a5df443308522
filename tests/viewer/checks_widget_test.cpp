// Ticks in both trees, "Select all" of a result page and the comment box, on the real main window
// (offscreen): what the trees show and which rows the report holds afterwards.
#include "viewer/Main.h"

#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/NoPermissionOverride.h"
#include "tests/support/ReportTesting.h"
#include "viewer/ufWaitForm.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

// A 1, B 2, x 3, y 4, z 5, C 6, w 7. The trigger makes every change of y's row fail.
const char *const Drive = "D A\n  D B\n    F x 1\n    F y 1\n  F z 1\nD C\n  F w 1\n";
const char *const Refuse = "CREATE TRIGGER refuse BEFORE UPDATE ON check_and_comment_map WHEN OLD.fileID = 4 "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END;";
// z's own row cannot be made.
const char *const RefuseZ =
    "CREATE TRIGGER refuse BEFORE INSERT ON check_and_comment_map WHEN NEW.fileID = 5 "
    "BEGIN SELECT RAISE(ABORT, 'refused'); END;";

class ChecksTest : public support::MainWindowFixture
{
protected:
    void TearDown() override
    {
        if (Form)
            Form->tv_FilesTree->Clear(); // before the page's items go
        MainWindowFixture::TearDown();
    }
    // The window on the report, written at Name in the temporary folder, with A and, when LoadB, B
    // loaded.
    void Open(const support::ReportBuilder *Report, bool LoadB = true, const std::string &Name = "r.db3")
    {
        SearchMode = CheckChanged = UserCheckAction = MouseDownPending = false;
        std::filesystem::create_directories(std::filesystem::path(Temp.File(Name)).parent_path());
        OpenWindow(Report->Write(Temp.File(Name)));
        Form->tv_FolderTree->SetExpanded(Find(Form->tv_FolderTree, "A"), true);
        if (LoadB)
            Form->tv_FolderTree->SetExpanded(Find(Form->tv_FolderTree, "B"), true);
    }
    static PVirtualNode Find(TVirtualStringTree *Tree, const char *Name)
    {
        return support::FindNode(Tree, QLatin1String(Name));
    }
    // Focuses the folder and marks the list with a row without item, which a refill drops.
    void Focus(const char *Name)
    {
        Form->tv_FolderTree->SetFocusedNode(Find(Form->tv_FolderTree, Name));
        Form->tv_FilesTree->AddChild(nullptr);
    }
    bool Refilled() const { return Form->tv_FilesTree->GetLastChild(Form->tv_FilesTree->RootNode())->Data; }
    // Each node's state, in order, the report's root left out: "+" checked, "~" mixed.
    static std::string States(TVirtualStringTree *Tree)
    {
        std::string out;
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (TDirectoryList *item = GetNodeItem(n, Tree); item && item->id != -1)
                out += (out.empty() ? "" : " ") + item->name.toStdString() +
                       (n->CheckState == csCheckedNormal ? "+"
                        : n->CheckState == csMixedNormal ? "~"
                                                         : "");
        return out;
    }
    // The stored rows by id: "id:checked/checkForFolder", then ":'comment'" when there is one.
    static std::string Table()
    {
        const std::string rows = reporttest::Query(
            ReportDB, "SELECT group_concat(fileID || ':' || checked || '/' || checkForFolder || "
                      "ifnull(':''' || comment || '''', ''), ' ') FROM (SELECT * FROM check_and_comment_map "
                      "ORDER BY fileID)");
        return rows == "NULL\n" ? "" : rows.substr(0, rows.size() - 1);
    }
    // A result page as the search builds it: "Select all" with a new item for each named one.
    PVirtualNode Page(std::initializer_list<const char *> Names)
    {
        Form->tv_FilesTree->Clear();
        SearchMode = true;
        Items.emplace_back(new TDirectoryList(QStringLiteral("Select all"), SearchRootID, SearchRootID, 0,
                                              false, false, 0, 0, 0, 0));
        PVirtualNode root = AddInTreeView(Form->tv_FilesTree, nullptr, Items.back().get());
        for (const char *name : Names) {
            const TDirectoryList *from = GetNodeItem(Find(Form->tv_FolderTree, name), Form->tv_FolderTree);
            Items.emplace_back(new TDirectoryList(from->name, from->id, from->id_parent, 1, from->isFolder,
                                                  false, 0, 0, 0, 0));
            AddInTreeView(Form->tv_FilesTree, root, Items.back().get());
        }
        return root;
    }

    std::vector<std::unique_ptr<TDirectoryList>> Items;
};

TEST_F(ChecksTest, ATickInEitherTreeStoresOneChangeAndShowsInBothOrNeitherWhenTheStoreFails)
{
    const struct
    {
        const char *Focused;
        bool InList;
        const char *Node;
        bool Pressed;        // by the mouse, or with no press before it
        const char *Refused; // the trigger that refuses the tick's write, if any
        const char *Table;
        const char *Folders;
        bool Refilled;
    } cases[] = {
        {"B", false, "A", true, nullptr, "-1:2/0 1:1/1", "A+ B+ x+ y+ z+ C", true}, // pushed to B
        // The control's follow-on changes and a folder load's come with no press before them.
        {"A", false, "C", false, nullptr, "", "A B x y z C+", false},
        {"A", false, "B", true, Refuse, "3:0/0 4:0/0", "A B x y z C", false},
        {"A", true, "B", true, Refuse, "3:0/0 4:0/0", "A B x y z C", false},
        {"A", false, "z", true, RefuseZ, "3:0/0 4:0/0", "A B x y z C", false},
    };
    for (const auto &c : cases) {
        support::ReportBuilder report;
        report.Tree(Drive).WithCheckTable();
        if (c.Refused)
            report.Check({{}, 0, 3, 2, 0, 0}).Check({{}, 0, 4, 2, 0, 0}).Sql(c.Refused);
        Open(&report);
        Focus(c.Focused);
        support::BoxAnswerer boxes;
        TVirtualStringTree *tree = c.InList ? Form->tv_FilesTree : Form->tv_FolderTree;
        PVirtualNode node = Find(tree, c.Node);
        c.Pressed ? support::ClickCheck(tree, node) : tree->ToggleCheck(node);
        EXPECT_EQ(Table(), c.Table) << c.Node;
        EXPECT_EQ(States(Form->tv_FolderTree), c.Folders) << c.Node;
        EXPECT_EQ(Refilled(), c.Refilled) << c.Node;
        EXPECT_EQ(boxes.Texts,
                  c.Refused ? QStringList{QStringLiteral("SQLite3 Error 19 - refused")} : QStringList());
        EXPECT_EQ(Find(Form->tv_FilesTree, c.Node) &&
                      Find(Form->tv_FilesTree, c.Node)->CheckState == csUncheckedNormal,
                  c.Refused != nullptr);
        EXPECT_TRUE(Form->tv_FolderTree->OnChecking && Form->tv_FolderTree->OnChecked);
    }
}

// Rows an earlier review left below B, which has no row: focusing B changes nothing any item counts
// as, and A and B show (and are stored) as their children count; a tick of A reaches x.
TEST_F(ChecksTest, RowsAnEarlierReviewLeftBelowAFolderWithoutRowKeepWhatTheyCount)
{
    const struct
    {
        bool WholeA; // A stored ticked as a whole before
        bool TickA;
        const char *Folders;
        const char *Rows; // B's file list
        const char *Table;
    } cases[] = {
        {true, false, "A~ B~ x y+ z+ C", "x y+", "-1:2/0 1:2/1 2:2/1 3:0/0:'c'"},
        {false, true, "A+ B+ x+ y+ z+ C", "x+ y+", "-1:2/0 1:1/1 3:1/1:'c'"},
    };
    for (const auto &c : cases) {
        support::ReportBuilder report;
        report.Tree(Drive).Check({"c", 0, 3, 2, 0, 0});
        if (c.WholeA)
            report.Check({{}, 1, 1, -1, 0, 1});
        Open(&report, false);
        if (c.TickA)
            support::ClickCheck(Form->tv_FolderTree, Find(Form->tv_FolderTree, "A"));
        Focus("B");
        EXPECT_EQ(States(Form->tv_FolderTree), c.Folders);
        EXPECT_EQ(States(Form->tv_FilesTree), c.Rows);
        EXPECT_EQ(Table(), c.Table);
    }
}

TEST_F(ChecksTest, SelectAllStoresEveryRowInAWorkerAndARowAloneOnlyItself)
{
    enum TDo { ClickRoot, SpaceOnRoot, ClickRow };
    const struct
    {
        TDo Do;
        bool Refused;
        const char *Rows;
        const char *Table;
        const char *Folders;
        const char *WaitText;
    } cases[] = {
        {ClickRoot, false, "Select all+ x+ B+ z+", "-1:2/0 1:1/1 2:1/1 3:1/1 4:1/1 5:1/1", "A+ B+ x+ y+ z+ C",
         "Checking files. Please wait."},
        // With no press the root's road is not taken: the rows are stored one by one here.
        {SpaceOnRoot, false, "Select all+ x+ B+ z+", "-1:2/0 1:1/1 2:1/1 3:1/1 4:1/1 5:1/1",
         "A+ B+ x+ y+ z+ C", "-"},
        // The root turns mixed: nothing stored for it, no worker.
        {ClickRow, false, "Select all~ x+ B z", "-1:2/0 1:2/0 2:2/0 3:1/1 4:0/0", "A~ B~ x+ y z C", "-"},
        // B cannot be stored: x stays stored (which made B mixed), B and z show what the report holds.
        {ClickRoot, true, "Select all~ x+ B~ z", "-1:2/0 1:2/0 2:2/0 3:1/1 4:0/0", "A~ B~ x+ y z C",
         "Checking files. Please wait."},
    };
    for (const auto &c : cases) {
        support::ReportBuilder report;
        report.Tree(Drive).Check({{}, 0, 4, 2, 0, 0});
        if (c.Refused)
            report.Sql(Refuse);
        Open(&report);
        PVirtualNode root = Page({"x", "B", "z"});
        WaitForm->SetMessageText(QStringLiteral("-"));
        support::BoxAnswerer boxes;
        if (c.Do == SpaceOnRoot) {
            MouseDownPending = false;
            LastClickedNode = nullptr;
            Form->tv_FilesTree->ToggleCheck(root);
        } else {
            support::ClickCheck(Form->tv_FilesTree, c.Do == ClickRoot ? root : root->FirstChild);
        }
        EXPECT_EQ(States(Form->tv_FilesTree), c.Rows);
        EXPECT_EQ(Table(), c.Table);
        EXPECT_EQ(States(Form->tv_FolderTree), c.Folders);
        EXPECT_EQ(WaitForm->MessageText(), QLatin1String(c.WaitText));
        EXPECT_EQ(boxes.Texts.size(), c.Refused ? 1 : 0);
        EXPECT_TRUE(Form->tv_FilesTree->OnChecking && Form->tv_FolderTree->OnChecking);
    }
}

TEST_F(ChecksTest, ALoadThatChangesTheFocusedFolderAfterATickRefillsTheListOnTheMainThread)
{
    support::ReportBuilder report;
    report.Tree("D A\n  D B\n    F x 1\nD C\n").Check({{}, 1, 3, 2, 0, 1});
    Open(&report, false);
    Focus("A");
    support::ClickCheck(Form->tv_FolderTree,
                        Find(Form->tv_FolderTree, "C")); // not the focused folder: no refill
    ASSERT_TRUE(CheckChanged && !Refilled());
    // Loading B finds x stored, which makes B and with it the focused A checked on the load's worker.
    Form->tv_FolderTree->SetExpanded(Find(Form->tv_FolderTree, "B"), true);
    EXPECT_TRUE(QTest::qWaitFor([this] { return Refilled(); }, 5000));
    EXPECT_FALSE(CheckChanged);
    EXPECT_EQ(States(Form->tv_FilesTree), "B+");
}

TEST_F(ChecksTest, ATickTheReportCanNotTakeNowIsRefusedWithWhyInWords)
{
    namespace fs = std::filesystem;
    reporttest::Db holder; // another program's write transaction on the report
    const struct
    {
        const char *Name;
        std::function<void(const std::string &Report)> Break;
        QString Text;
    } cases[] = {
        {"held by another program",
         [&](auto &Report) {
             holder = reporttest::OpenDb(Report);
             ExecSqlScript(holder.get(), "BEGIN IMMEDIATE;");
         },
         "SQLite3 Error 5 - database is locked\nThe report is in use by another program. Try again when that "
         "program has finished with it."},
        {"its folder made read-only",
         [](auto &Report) {
             fs::permissions(fs::path(Report).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
         },
         "SQLite3 Error 8 - attempt to write a readonly database\nThe report's folder can not be written: "
         "nothing can be stored in the report, which keeps what was saved before."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        support::ReportBuilder report;
        Open(&report.Tree(Drive).WithCheckTable(), true, std::string(c.Name) + "/r.db3");
        const std::string path = Temp.File(std::string(c.Name) + "/r.db3");
        support::BoxAnswerer boxes;
        {
            support::TNoPermissionOverride asAUser;
            c.Break(path);
            support::ClickCheck(Form->tv_FolderTree, Find(Form->tv_FolderTree, "A"));
            fs::permissions(fs::path(path).parent_path(), fs::perms::owner_all);
        }
        holder.reset();
        EXPECT_EQ(boxes.Texts, QStringList{c.Text});
        EXPECT_EQ(States(Form->tv_FolderTree), "A B x y z C");
        EXPECT_EQ(Table(), "");
    }
}

// Blanks only: stored as typed, and the grey placeholder is back.
TEST_F(ChecksTest, ABlankCommentIsStoredAndTheGreyPlaceholderComesBack)
{
    support::ReportBuilder report;
    Open(&report.Tree(Drive).WithCheckTable());
    Focus("B");
    Form->tv_FilesTree->SetFocusedNode(Find(Form->tv_FilesTree, "x"));
    support::WriteComment(Form->mem_Comments, QStringLiteral("  "));
    EXPECT_EQ(Table(), "1:0/0 2:0/0 3:0/0:'  '");
    EXPECT_EQ(Form->mem_Comments->toPlainText(), QLatin1String("Your comment to file"));
    EXPECT_EQ(Form->mem_Comments->palette().color(QPalette::Text), QColor(0x80, 0x80, 0x80));
}

// Keys typed after the focus came into the box, for whatever reason, go into the item's comment alone;
// a box bound to no item (nothing focused yet, "Select all") takes none.
TEST_F(ChecksTest, TheBoxTakesKeysForItsItemHoweverTheFocusCameAndNoneWithoutAnItem)
{
    support::ReportBuilder report;
    Open(&report.Tree(Drive).WithCheckTable());
    QPlainTextEdit *box = Form->mem_Comments;
    const auto type = [box](Qt::FocusReason Reason, const char *Keys) {
        QFocusEvent in(QEvent::FocusIn, Reason);
        QApplication::sendEvent(box, &in);
        QTest::keyClicks(box, QLatin1String(Keys));
        const QString shown = box->toPlainText();
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QApplication::sendEvent(box, &out);
        return shown.toStdString();
    };
    EXPECT_EQ(type(Qt::MouseFocusReason, "lost"), "Your comment to file");
    Focus("B");
    // The row focused, the reason the focus came into the box, the keys, what the box showed, the rows.
    const struct
    {
        const char *Row;
        Qt::FocusReason Reason;
        const char *Keys;
        const char *Shown;
        const char *Table;
    } cases[] = {{"x", Qt::ActiveWindowFocusReason, "back", "back", "1:0/0 2:0/0 3:0/0:'back'"},
                 {"y", Qt::PopupFocusReason, "menu", "menu", "1:0/0 2:0/0 3:0/0:'back' 4:0/0:'menu'"},
                 {"x", Qt::TabFocusReason, "+", "+back", "1:0/0 2:0/0 3:0/0:'+back' 4:0/0:'menu'"}};
    for (const auto &c : cases) {
        Form->tv_FilesTree->SetFocusedNode(Find(Form->tv_FilesTree, c.Row));
        EXPECT_EQ(type(c.Reason, c.Keys), c.Shown);
        EXPECT_EQ(Table(), c.Table) << c.Keys;
    }
    PVirtualNode root = Page({"x"});
    Form->tv_FilesTree->SetFocusedNode(root);
    EXPECT_EQ(type(Qt::MouseFocusReason, "lost"), "Your comment to file");
    box->moveCursor(QTextCursor::End);
    QTest::keyClick(box, Qt::Key_Backspace, Qt::ControlModifier); // the word keys edit nothing either
    EXPECT_EQ(box->toPlainText(), QLatin1String("Your comment to file"));
    EXPECT_EQ(Table(), "1:0/0 2:0/0 3:0/0:'+back' 4:0/0:'menu'");
}

// A comment stored through one record of an item marks or unmarks all its loaded records: the folder
// tree's (which its folder's file list shows as well) and a result page's row.
TEST_F(ChecksTest, ACommentStoredThroughOneRecordOfAnItemShowsOnEveryRecordOfIt)
{
    support::ReportBuilder report;
    Open(&report.Tree(Drive).WithCheckTable());
    TDirectoryList *inFolderTree = GetNodeItem(Find(Form->tv_FolderTree, "B"), Form->tv_FolderTree);
    Form->edit_Search->setText(QStringLiteral("B"));
    QTest::keyClick(Form->edit_Search, Qt::Key_Return);
    PVirtualNode row = Form->tv_FilesTree->GetFirst()->FirstChild;
    TDirectoryList *onPage = GetNodeItem(row, Form->tv_FilesTree);
    // Written on the page's row or else in the folder tree, the comment, the marks of both records.
    const struct
    {
        bool OnPage;
        const char *Text;
        const char *Marks;
    } cases[] = {{true, "note", "++"}, {false, "", "--"}, {false, "again", "++"}, {true, "", "--"}};
    for (const auto &c : cases) {
        TVirtualStringTree *tree = c.OnPage ? Form->tv_FilesTree : Form->tv_FolderTree;
        tree->SetFocusedNode(nullptr);
        tree->SetFocusedNode(c.OnPage ? row : inFolderTree->NodeInFoldTr);
        Form->mem_Comments->clear();
        support::WriteComment(Form->mem_Comments, QLatin1String(c.Text));
        const std::string marks{inFolderTree->HasComment() ? '+' : '-', onPage->HasComment() ? '+' : '-'};
        EXPECT_EQ(marks, c.Marks) << c.OnPage << c.Text;
    }
}

} // namespace
