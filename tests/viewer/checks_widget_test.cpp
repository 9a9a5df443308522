// Ticks in both trees, "Select all" of a result page and the comment box, on the real main window
// (offscreen): what the trees show and which rows the report holds afterwards.
#include "viewer/Main.h"

#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufWaitForm.h"

#include <QFocusEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

// Readable texts in failure messages.
void PrintTo(const QString &Text, std::ostream *os)
{
    *os << '"' << Text.toStdString() << '"';
}

namespace {

// A 1, B 2, x 3, y 4, z 5, C 6, w 7.
const char *const Drive = "D A\n  D B\n    F x 1\n    F y 1\n  F z 1\nD C\n  F w 1\n";

class ChecksTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
    }
    void TearDown() override
    {
        if (Form)
            Form->tv_FilesTree->Clear(); // before the page's items go
        Form.reset();
        SetLogFolder("");
    }
    void Start(const support::ReportBuilder &Report, bool LoadB = true)
    {
        Form.reset();
        SearchMode = CheckChanged = UserCheckAction = MouseDownPending = false;
        Path = Report.Write(Temp.File("r.db3"));
        Open(LoadB);
    }
    // The window on the report at Path, with A (and B) loaded.
    void Open(bool LoadB = true)
    {
        Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("ParvixViewer"), QString::fromStdString(Path)});
        ASSERT_TRUE(QTest::qWaitFor([this] { return Folder("A"); }, 5000));
        Form->tv_FolderTree->SetExpanded(Folder("A"), true);
        if (LoadB)
            Form->tv_FolderTree->SetExpanded(Folder("B"), true);
    }
    static PVirtualNode Find(TVirtualStringTree *Tree, const char *Name)
    {
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (GetNodeItem(n, Tree) && GetNodeItem(n, Tree)->name == QLatin1String(Name))
                return n;
        return nullptr;
    }
    PVirtualNode Folder(const char *Name) const { return Find(Form->tv_FolderTree, Name); }
    PVirtualNode Row(const char *Name) const { return Find(Form->tv_FilesTree, Name); }
    void Focus(const char *Name)
    {
        Form->tv_FolderTree->SetFocusedNode(Folder(Name));
        // A row without item: gone once the list is filled again.
        Form->tv_FilesTree->AddChild(nullptr);
    }
    bool Refilled() const { return Form->tv_FilesTree->GetLastChild(Form->tv_FilesTree->RootNode())->Data; }
    // What a press on the box and its release do.
    static void Click(TVirtualStringTree *Tree, PVirtualNode Node)
    {
        Tree->OnMouseDown(Tree, Qt::LeftButton, {}, 0, 0);
        Tree->ToggleCheck(Node);
    }
    // Each node's state in the tree, in order, the report's root left out: "+" checked, "~" mixed.
    static QString States(TVirtualStringTree *Tree)
    {
        QStringList out;
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (GetNodeItem(n, Tree) && GetNodeItem(n, Tree)->id != -1)
                out << GetNodeItem(n, Tree)->name +
                           (n->CheckState == csCheckedNormal ? "+" : n->CheckState == csMixedNormal ? "~" : "");
        return out.join(QLatin1Char(' '));
    }
    // The stored rows as "id:checked/checkForFolder" (and ":comment" when there is one), by id.
    static std::string Table()
    {
        std::string out;
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(ReportDB, "SELECT fileID, checked, checkForFolder, comment FROM check_and_comment_map ORDER BY fileID", -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) {
            out += (out.empty() ? "" : " ") + std::to_string(sqlite3_column_int64(s, 0)) + ":" +
                   std::to_string(sqlite3_column_int(s, 1)) + "/" + std::to_string(sqlite3_column_int(s, 2));
            if (sqlite3_column_type(s, 3) != SQLITE_NULL)
                out += ":'" + std::string(reinterpret_cast<const char *>(sqlite3_column_text(s, 3))) + "'";
        }
        sqlite3_finalize(s);
        return out;
    }
    // A result page as the search builds it: "Select all" with one new item per named item.
    PVirtualNode Page(std::initializer_list<const char *> Names)
    {
        Focus("A");
        Form->tv_FilesTree->Clear();
        SearchMode = true;
        auto *root = new TDirectoryList(QStringLiteral("Select all"), SearchRootID, SearchRootID, 0, false, false, 0, 0, 0, 0);
        Items.emplace_back(root);
        PVirtualNode rootNode = AddInTreeView(Form->tv_FilesTree, nullptr, root);
        for (const char *name : Names) {
            const TDirectoryList *from = GetNodeItem(Folder(name), Form->tv_FolderTree);
            auto *item = new TDirectoryList(from->name, from->id, from->id_parent, 1, from->isFolder, false, 0, 0, 0, 0);
            Items.emplace_back(item);
            AddInTreeView(Form->tv_FilesTree, rootNode, item);
        }
        return rootNode;
    }

    support::TempDir Temp;
    support::ModalGuard Guard;
    std::string Path;
    std::unique_ptr<TMainForm> Form;
    std::vector<std::unique_ptr<TDirectoryList>> Items;
};

TEST_F(ChecksTest, AFolderTickStoresOneChangeAndRefillsTheListOnlyWhenTheFocusedFolderChanged)
{
    enum TBy { Mouse, Space, Nothing };
    const struct
    {
        const char *Node;
        TBy By;
        const char *Table;
        const char *Tree;
        bool Refilled;
    } cases[] = {
        {"B", Mouse, "-1:2/0 1:2/0 2:1/1", "A~ B+ x+ y+ z C", true},
        {"A", Space, "-1:2/0 1:1/1", "A+ B+ x+ y+ z+ C", true},
        {"C", Mouse, "-1:2/0 6:1/1", "A B x y z C+", false},
        // The control's changes and a folder load's come without a press: nothing is stored.
        {"C", Nothing, "", "A B x y z C+", false},
    };
    for (const auto &c : cases) {
        Start(support::ReportBuilder().Tree(Drive).WithCheckTable());
        Focus("A");
        TVirtualStringTree *tree = Form->tv_FolderTree;
        if (c.By == Mouse) {
            Click(tree, Folder(c.Node));
        } else {
            int key = c.By == Space ? Qt::Key_Space : Qt::Key_Down;
            tree->OnKeyDown(tree, key, {});
            tree->ToggleCheck(Folder(c.Node));
        }
        EXPECT_EQ(Table(), c.Table) << c.Node;
        EXPECT_EQ(States(tree), QLatin1String(c.Tree)) << c.Node;
        EXPECT_EQ(Refilled(), c.Refilled) << c.Node;
    }
}

TEST_F(ChecksTest, AFileRowTickShowsOnTheFolderTreeAtOnceWithoutRefilling)
{
    Start(support::ReportBuilder().Tree(Drive).WithCheckTable());
    Focus("B");
    Click(Form->tv_FilesTree, Row("x"));
    EXPECT_EQ(States(Form->tv_FolderTree), QLatin1String("A~ B~ x+ y z C"));
    Click(Form->tv_FilesTree, Row("y"));
    EXPECT_EQ(States(Form->tv_FolderTree), QLatin1String("A~ B+ x+ y+ z C"));
    EXPECT_FALSE(Refilled());
    EXPECT_EQ(Table(), "-1:2/0 1:2/0 2:1/1 3:1/1 4:1/1");
}

TEST_F(ChecksTest, AFailingStoreLeavesBothTreesAndTheReportAsTheyWere)
{
    // B's child rows refuse every change.
    const auto report = [] {
        return support::ReportBuilder()
            .Tree(Drive)
            .Check({{}, 0, 3, 2, 0, 0})
            .Check({{}, 0, 4, 2, 0, 0})
            .Sql("CREATE TRIGGER refuse BEFORE UPDATE ON check_and_comment_map WHEN OLD.id_parent = 2 "
                 "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    };
    for (const bool inList : {false, true}) {
        Start(report());
        Focus("A");
        const std::string before = Table();
        support::BoxAnswerer boxes;
        if (inList)
            Click(Form->tv_FilesTree, Row("B"));
        else
            Click(Form->tv_FolderTree, Folder("B"));
        EXPECT_EQ(Table(), before);
        EXPECT_EQ(States(Form->tv_FolderTree), QLatin1String("A B x y z C"));
        EXPECT_EQ(Row("B")->CheckState, csUncheckedNormal);
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains(QLatin1String("refused")));
        EXPECT_TRUE(Form->tv_FolderTree->OnChecking && Form->tv_FolderTree->OnChecked);
    }
}

TEST_F(ChecksTest, ARowOfAResultPageRefreshesItsLoadedFoldersAndItsRootStoresNothing)
{
    Start(support::ReportBuilder().Tree(Drive).WithCheckTable());
    PVirtualNode root = Page({"x", "z"});
    Click(Form->tv_FilesTree, Row("x"));
    EXPECT_EQ(States(Form->tv_FilesTree), QLatin1String("Select all~ x+ z"));
    EXPECT_EQ(States(Form->tv_FolderTree), QLatin1String("A~ B~ x+ y z C"));
    EXPECT_EQ(Table(), "-1:2/0 1:2/0 2:2/0 3:1/1");
    // The root became checked from its rows: no worker, every event attached.
    Click(Form->tv_FilesTree, Row("z"));
    EXPECT_EQ(root->CheckState, csCheckedNormal);
    EXPECT_EQ(Table(), "-1:2/0 1:2/0 2:2/0 3:1/1 5:1/1");
    EXPECT_NE(WaitForm->MessageText(), QLatin1String("Checking files. Please wait."));
    EXPECT_TRUE(Form->tv_FilesTree->OnChecking && Form->tv_FolderTree->OnChecking);
}

TEST_F(ChecksTest, SelectAllStoresEveryRowInAWorkerOrOneByOneAfterASpaceAndStopsAtAFailure)
{
    const struct
    {
        bool Space;
        bool Refuse;
        const char *Rows;
        const char *Table;
        const char *WaitText;
    } cases[] = {
        {false, false, "Select all+ x+ B+ z+", "-1:2/0 1:1/1 2:1/1 3:1/1 4:1/0 5:1/1", "Checking files. Please wait."},
        {true, false, "Select all+ x+ B+ z+", "-1:2/0 1:1/1 2:1/1 3:1/1 4:1/0 5:1/1", "-"},
        // B cannot be stored: x stays stored, B and z show what the report holds (x made B mixed).
        {false, true, "Select all~ x+ B~ z", "-1:2/0 1:2/0 2:2/0 3:1/1 4:0/0", "Checking files. Please wait."},
    };
    for (const auto &c : cases) {
        support::ReportBuilder report;
        report.Tree(Drive).Check({{}, 0, 4, 2, 0, 0});
        if (c.Refuse)
            report.Sql("CREATE TRIGGER refuse BEFORE UPDATE ON check_and_comment_map WHEN OLD.id_parent = 2 "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
        Start(report);
        PVirtualNode root = Page({"x", "B", "z"});
        WaitForm->SetMessageText(QStringLiteral("-"));
        support::BoxAnswerer boxes;
        if (c.Space) {
            MouseDownPending = false;
            LastClickedNode = nullptr;
            Form->tv_FilesTree->ToggleCheck(root);
        } else {
            Click(Form->tv_FilesTree, root);
        }
        EXPECT_EQ(States(Form->tv_FilesTree), QLatin1String(c.Rows));
        EXPECT_EQ(Table(), c.Table);
        EXPECT_EQ(WaitForm->MessageText(), QLatin1String(c.WaitText));
        EXPECT_EQ(boxes.Texts.size(), c.Refuse ? 1 : 0);
        EXPECT_TRUE(Form->tv_FilesTree->OnChecking && Form->tv_FolderTree->OnChecking);
        EXPECT_EQ(Form->tv_FilesTree->UpdateCount(), 0);
    }
}

TEST_F(ChecksTest, ALoadThatChangesTheFocusedFolderAfterATickRefillsTheListOnTheMainThread)
{
    Start(support::ReportBuilder().Tree("D A\n  D B\n    F x 1\nD C\n").Check({{}, 1, 3, 2, 0, 1}), false);
    Focus("A");
    Click(Form->tv_FolderTree, Folder("C")); // not the focused folder: the list stays, CheckChanged stays
    ASSERT_TRUE(CheckChanged);
    ASSERT_FALSE(Refilled());
    // Loading B finds x stored, which makes B and with it the focused A checked on the load's worker.
    Form->tv_FolderTree->SetExpanded(Folder("B"), true);
    EXPECT_TRUE(QTest::qWaitFor([this] { return Refilled(); }, 5000));
    EXPECT_FALSE(CheckChanged);
    EXPECT_EQ(States(Form->tv_FilesTree), QLatin1String("B+"));
}

void Type(QWidget *Box, const QString &Text)
{
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(Box, &in);
    static_cast<QPlainTextEdit *>(Box)->insertPlainText(Text);
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(Box, &out);
}

TEST_F(ChecksTest, LeavingTheCommentBoxStoresWhatWasTypedAndBringsThePlaceholderBackForBlanks)
{
    const struct
    {
        const char *Typed;
        bool HasComment;
        const char *Shown;
    } cases[] = {
        {"", false, "Your comment to file"},
        {"  ", true, "Your comment to file"},
        {"seen", true, "seen"},
    };
    for (const auto &c : cases) {
        Start(support::ReportBuilder().Tree(Drive).WithCheckTable());
        Focus("B");
        Form->tv_FilesTree->SetFocusedNode(Row("x"));
        Type(Form->mem_Comments, QString::fromLatin1(c.Typed));
        EXPECT_EQ(Table(), std::string("3:0/0:'") + c.Typed + "'");
        EXPECT_EQ(GetNodeItem(Row("x"), Form->tv_FilesTree)->HasComment(), c.HasComment);
        EXPECT_EQ(Form->mem_Comments->toPlainText(), QLatin1String(c.Shown));
        EXPECT_EQ(Form->mem_Comments->palette().color(QPalette::Text) == QColor(0x80, 0x80, 0x80),
                  QLatin1String(c.Shown) == QLatin1String("Your comment to file"));
    }
}

TEST_F(ChecksTest, TicksAndCommentsSurviveClosingAndOpeningTheReport)
{
    Start(support::ReportBuilder().Tree(Drive).WithCheckTable());
    Focus("B");
    Click(Form->tv_FilesTree, Row("x"));
    Click(Form->tv_FolderTree, Folder("C"));
    Form->tv_FilesTree->SetFocusedNode(Row("y"));
    Type(Form->mem_Comments, QStringLiteral("look"));
    const QString tree = States(Form->tv_FolderTree);
    Form->close();
    Form.reset();
    Open();
    EXPECT_EQ(States(Form->tv_FolderTree), tree);
    Focus("B");
    EXPECT_EQ(States(Form->tv_FilesTree), QLatin1String("x+ y"));
    Form->tv_FilesTree->SetFocusedNode(Row("y"));
    EXPECT_EQ(Form->mem_Comments->toPlainText(), QLatin1String("look"));
}

} // namespace
