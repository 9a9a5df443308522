// A reviewer's whole review through the real main window (offscreen), on a compressed report such as
// tools/make-report writes: browse, tick, comment, search both ways, navigate, save, export, reopen.
// The unloading thread runs passes meanwhile.
#include "platform/VirtualTreeView.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/SyntheticReport.h"
#include "viewer/ufSearchForm.h"
#include "viewer/utFreeMemThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <set>

namespace {

class ReviewTest : public support::MainWindowFixture
{
protected:
    // Opens the report as the program does with it on its command line.
    void Open()
    {
        SearchForm = nullptr;
        Search.reset(); // before the window that owns it
        OpenWindow(Path);
        Search = std::make_unique<TSearchForm>(Form.get());
        SearchForm = Search.get();
    }
    void TearDown() override
    {
        SearchForm = nullptr;
        Search.reset();
        MainWindowFixture::TearDown();
    }
    TVirtualStringTree *Folders() const { return Form->tv_FolderTree; }
    TVirtualStringTree *Files() const { return Form->tv_FilesTree; }
    // The loaded node of the item with this id in Tree; null when none is.
    static PVirtualNode Node(TVirtualStringTree *Tree, int64_t ID)
    {
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (GetNodeItem(n, Tree)->id == ID)
                return n;
        return nullptr;
    }
    int64_t Focused() const { return GetNodeItem(Folders()->FocusedNode(), Folders())->id; }
    void Focus(int64_t ID)
    {
        Form->tv_FolderTreeMouseDown(Folders(), Qt::LeftButton, {}, 0, 0);
        support::Focus(Folders(), Node(Folders(), ID));
    }
    // The first number of a query on the open report.
    static int64_t Count(const std::string &Sql) { return std::stoll(reporttest::Query(ReportDB, Sql)); }
    std::string Path = Temp.File("review.db3");
    std::unique_ptr<TSearchForm> Search;
};

TEST_F(ReviewTest, AReviewEndToEndKeepsEveryTickAndCommentInTheReportAndItsExport)
{
    // Folders 1-6 at the top, 7-42 below them, 43-258 below those; ids breadth first.
    support::MakeSyntheticReport(
        Path, {.rows = 4000, .fanout = 6, .depth = 3, .deletedShare = 0.3, .compressed = true});
    ASSERT_NE(reporttest::FileText(Path).substr(0, 15), "SQLite format 3");
    support::BoxAnswerer boxes;
    Open();
    EXPECT_EQ(reporttest::FileText(Path).substr(0, 15), "SQLite format 3"); // unpacked in place
    delete FreeMemThread;                                                   // one that looks every 5 ms
    FreeMemThread = new TFreeMemThread(Folders(), Files(), Form.get(), 5);

    // Browsing loads 42 folders, more than a pass lets stay: the oldest collapsed ones are unloaded.
    for (PVirtualNode top = Folders()->GetFirst()->FirstChild; top; top = top->NextSibling)
        if (Folders()->SetExpanded(top, true); TVirtualStringTree::IsVisible(top))
            for (PVirtualNode sub = top->FirstChild; sub; sub = sub->NextSibling)
                if (TVirtualStringTree::IsVisible(sub)) {
                    Folders()->SetExpanded(sub, true);
                    Folders()->SetExpanded(sub, false);
                }
    PVirtualNode seven = Node(Folders(), 7);
    ASSERT_TRUE(QTest::qWaitFor([seven] { return seven->ChildCount == 0; }, 10000));
    EXPECT_TRUE(TVirtualStringTree::HasChildren(seven));

    // Listing 7 loads it again. A folder ticked in the tree, a file in the list, a comment on another.
    Focus(7);
    ASSERT_EQ(Count("SELECT count(*) FROM struct_drive_table WHERE ID_PARENT = 7"), Files()->TotalCount());
    support::ClickCheck(Folders(), Node(Folders(), 2));
    PVirtualNode file = Files()->GetFirst();
    while (GetNodeItem(file, Files())->isFolder)
        file = file->NextSibling;
    support::ClickCheck(Files(), file);
    const int64_t ticked = GetNodeItem(file, Files())->id,
                  commented = GetNodeItem(file->NextSibling, Files())->id;
    Files()->SetFocusedNode(file->NextSibling);
    const QString comment = QString::fromUtf8("zu prüfen");
    support::WriteComment(Form->mem_Comments, comment);
    EXPECT_EQ(Node(Folders(), 1)->CheckState, csMixedNormal);
    EXPECT_EQ(Node(Folders(), 2)->CheckState, csCheckedNormal);

    // A fast search with two pages; "Select all" of the first.
    SearchPageSize = 100;
    Form->edit_Search->setText(QStringLiteral("*report*"));
    QTest::keyClick(Form->edit_Search, Qt::Key_Return);
    EXPECT_EQ(Form->lbl_FoundedCount->text().toLongLong(),
              Count("SELECT count(*) FROM struct_drive_table WHERE F_NAME LIKE '%report%'"));
    EXPECT_EQ(Form->lbl_ShownCount->text(), QStringLiteral("1 - 100"));
    support::ClickCheck(Files(), Files()->GetFirst());
    EXPECT_EQ(Node(Folders(), 2)->CheckState, csCheckedNormal); // the page's files in it were ticked already
    std::set<int64_t> ticks{2, ticked};
    for (PVirtualNode n = Files()->GetFirst()->FirstChild; n; n = n->NextSibling)
        ticks.insert(GetNodeItem(n, Files())->id);
    Form->btn_MoreResults->click();
    EXPECT_EQ(Form->lbl_ShownCount->text(), QStringLiteral("101 - 200"));
    PVirtualNode unticked = Files()->GetFirst()->FirstChild; // and one row of the second page
    while (unticked->CheckState != csUncheckedNormal)
        unticked = unticked->NextSibling;
    support::ClickCheck(Files(), unticked);
    ticks.insert(GetNodeItem(unticked, Files())->id);

    // Focusing a folder ends the search; an extended search in folder 3 and below, answered from
    // inside the dialog's modal show.
    Focus(3);
    EXPECT_FALSE(SearchMode || Form->gb_MoreResults->isVisible());
    EXPECT_EQ(Files()->TotalCount(),
              uint32_t(Count("SELECT count(*) FROM struct_drive_table WHERE ID_PARENT = 3")));
    QTimer::singleShot(0, [this] {
        Search->chb_UseName->setChecked(true);
        Search->edit_AddName->setText(QStringLiteral("report;notes"));
        Search->edit_DelName->setText(QStringLiteral(".exe"));
        Search->chb_UseDate->setChecked(true);
        Search->dtp_Start->setDate(QDate(2000, 1, 1));
        Search->dtp_Finish->setDate(QDate(2019, 12, 31));
        Search->chb_UseSize->setChecked(true);
        Search->edit_MinSize->setText(QStringLiteral("1"));
        Search->cb_CapMinComboBox->setCurrentText(QStringLiteral("KB"));
        Search->edit_MaxSize->setText(QStringLiteral("512"));
        Search->cb_CapMaxComboBox->setCurrentText(QStringLiteral("MB"));
        Search->cb_Deleted->setCurrentText(QStringLiteral("Deleted files"));
        Search->cb_Folder->setCurrentText(QStringLiteral("In selected folder and all subfolders"));
        Search->bb_OkBitBtn->click();
    });
    Form->tb_FullSearch->click();
    // Exactly the rows of a hand-written query of the same conditions, all on the first page.
    const std::string wanted = reporttest::Query(
        ReportDB,
        "WITH RECURSIVE below(id) AS (SELECT 3 UNION SELECT ID_FILE FROM struct_drive_table, below "
        "WHERE ID_PARENT = below.id AND IS_FOLDER = 1) SELECT ID_FILE FROM struct_drive_table WHERE "
        "ID_PARENT IN below AND IS_DELETED = 1 AND (F_NAME LIKE '%report%' OR F_NAME LIKE '%notes%') AND "
        "F_NAME NOT LIKE '%.exe%' AND (CASE WHEN F_CREATE LIKE '__.%' THEN substr(F_CREATE, 7, 4) || '-' || "
        "substr(F_CREATE, 4, 2) || '-' || substr(F_CREATE, 1, 2) || substr(F_CREATE, 11) ELSE F_CREATE END) "
        "BETWEEN '2000-01-01' AND '2019-12-31 23:59:59' AND "
        "F_SIZE BETWEEN 1024 AND 536870912 ORDER BY ID_FILE");
    std::set<int64_t> page;
    for (PVirtualNode n = Files()->GetFirst()->FirstChild; n; n = n->NextSibling)
        page.insert(GetNodeItem(n, Files())->id);
    std::string shown;
    for (int64_t id : page)
        shown += std::to_string(id) + '\n';
    EXPECT_EQ(shown, wanted);
    ASSERT_GT(page.size(), 1u);
    EXPECT_EQ(Form->lbl_FoundedCount->text().toULongLong(), page.size());

    // Go to folder from a result below 3; Previous, Next and Up.
    PVirtualNode row = Files()->GetFirst()->FirstChild;
    while (row->NextSibling && GetNodeItem(row, Files())->id_parent == 3)
        row = row->NextSibling;
    const int64_t parent = GetNodeItem(row, Files())->id_parent;
    const QPoint at = Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(row)).center();
    Files()->OnMouseDown(Files(), Qt::RightButton, {}, at.x(), at.y());
    Files()->SetFocusedNode(row);
    Form->mi_GoToFolder->trigger();
    EXPECT_FALSE(SearchMode || Form->gb_MoreResults->isVisible());
    EXPECT_EQ(Focused(), parent);
    Form->tb_Prev->click();
    EXPECT_EQ(Focused(), 3);
    Form->tb_Next->click();
    EXPECT_EQ(Focused(), parent);
    Form->tb_Up->click();
    EXPECT_EQ(Focused(), GetNodeItem(Folders()->NodeParent(Node(Folders(), parent)), Folders())->id);

    // Save, export (its folder not opened), close and open again.
    Form->tb_SaveButton->click();
    boxes.Press = QStringLiteral("mbNo");
    Form->tb_ExportBase->click();
    const std::string exported = Temp.File("review_Export.roa");
    EXPECT_EQ(boxes.Texts, QStringList{"Report created. File: " + QString::fromStdString(exported) +
                                       "\nOpen containing folder?"});
    Form->close();
    Open();
    Folders()->SetExpanded(Node(Folders(), 1), true);
    Focus(7);
    EXPECT_EQ(Node(Files(), ticked)->CheckState, csCheckedNormal);
    Files()->SetFocusedNode(Node(Files(), commented));
    EXPECT_EQ(Form->mem_Comments->toPlainText(), comment);
    EXPECT_EQ(Node(Folders(), 2)->CheckState, csCheckedNormal);

    // Both files hold every tick and the comment, read through connections of their own.
    std::string in;
    for (int64_t id : ticks)
        in += (in.empty() ? "" : ",") + std::to_string(id);
    const std::string sql =
        "SELECT (SELECT count(*) FROM check_and_comment_map WHERE checked = 1 AND fileID IN (" + in +
        ")), (SELECT comment FROM check_and_comment_map WHERE fileID = " + std::to_string(commented) + ")";
    const std::string expected = std::to_string(ticks.size()) + '|' + comment.toStdString() + '\n';
    EXPECT_EQ(reporttest::QueryFile(Path, sql), expected);
    EXPECT_EQ(reporttest::QueryFile(exported, sql), expected);
}

} // namespace
