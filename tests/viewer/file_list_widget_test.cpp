// The file list of the real main window (offscreen) on reports written by the report builder: filling
// it from a focused folder, the size texts, sorting, and what focusing or double-clicking a row does.
#include "viewer/Main.h"

#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utAddingFiles.h"
#include "viewer/utFreeMemThread.h"

#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <tuple>

namespace {

const std::string Placeholder = "Your comment to file";

class FileListTest : public support::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        QLocale::setDefault(QLocale::system());
    }
    // The window on the report, once its root's children are loaded; then Folder focused as a click does.
    void Start(const support::ReportBuilder &Report, const char *Folder)
    {
        OpenWindow(Report.Write(Temp.File("r.db3")));
        Focus(Folder);
    }
    static PVirtualNode Find(TVirtualStringTree *Tree, const char *Name)
    {
        return support::FindNode(Tree, QLatin1String(Name));
    }
    void Focus(const char *Folder) { support::Focus(Form->tv_FolderTree, Find(Form->tv_FolderTree, Folder)); }
    // The rows in order, a checked one marked "+".
    std::string Rows() const
    {
        QStringList rows;
        for (PVirtualNode n = Form->tv_FilesTree->GetFirst(); n; n = n->NextSibling)
            rows << GetNodeItem(n, Form->tv_FilesTree)->name + (n->CheckState == csCheckedNormal ? "+" : "");
        return rows.join(QLatin1Char(' ')).toStdString();
    }
    std::string Comment() const { return Form->mem_Comments->toPlainText().toStdString(); }
    bool DeletedMarkShown() const { return support::DeletedMarkShown(Form.get()); }
};

// Ticks of the rows, own and inherited, are in the random review test.
TEST_F(FileListTest, FocusingAFolderListsItsChildrenInOrderAndTouchesIt)
{
    Start(support::ReportBuilder().Tree("D Docs\n  D Sub\n  F b.txt 1\n  F A.txt 1\n  F c.txt 1\n"), "Docs");
    EXPECT_EQ(Rows(), "Sub A.txt b.txt c.txt");
    EXPECT_EQ(FreeMemThread->Nodes().back(), Form->tv_FolderTree->FocusedNode());
}

TEST_F(FileListTest, WaitWindowCountsTheRowsToComeAndAnEmptyFolderClosesItAtOnce)
{
    std::string big = "D Empty\nD Big\n";
    for (int i = 0; i < 1200; ++i)
        big += "  F f" + std::to_string(i) + " 1\n";
    Start(support::ReportBuilder().Tree(big), "Big");
    // Each statement the worker runs notes the wait window's text at that moment.
    static std::mutex lock;
    static QStringList texts;
    const auto note = [](unsigned, void *Wait, void *, void *) {
        const QString text = static_cast<TWaitForm *>(Wait)->MessageText();
        const std::lock_guard<std::mutex> guard(lock);
        if (QThread::currentThread() != qApp->thread() && text != AddingFilesText &&
            text.startsWith(AddingFilesText) && !texts.endsWith(text))
            texts << text;
        return 0;
    };
    sqlite3_trace_v2(ReportDB, SQLITE_TRACE_STMT, note, WaitForm.data());
    Focus("Empty");
    EXPECT_TRUE(texts.isEmpty());
    EXPECT_FALSE(Form->tv_FilesTree->GetFirst() || WaitForm->InModalShow() || WaitForm->isVisible());
    Focus("Big");
    EXPECT_EQ(texts,
              QStringList({AddingFilesText + "1200", AddingFilesText + "700", AddingFilesText + "200"}));
    EXPECT_EQ(WaitForm->StateLabel->y(), 15); // two lines
    EXPECT_EQ(Form->tv_FilesTree->ChildCount(nullptr), 1200u);
    sqlite3_trace_v2(ReportDB, 0, nullptr, nullptr);
}

TEST_F(FileListTest, TheShownFolderAgainOrAKeyboardMoveInSearchModeChangeOnlyTheCommentBox)
{
    Start(
        support::ReportBuilder().Tree("D Docs\n  F a 1\nD Other\n  F b 1\n").Check({"note", 0, 1, -1, 0, 0}),
        "Docs");
    PVirtualNode docs = Find(Form->tv_FolderTree, "Docs");
    PVirtualNode other = Find(Form->tv_FolderTree, "Other");
    // New node, SearchMode, MouseDownPending, CheckChanged; whether the list is made anew.
    for (const auto &[node, search, mouseDown, changed, refilled] :
         std::vector<std::tuple<PVirtualNode, bool, bool, bool, bool>>{{docs, false, false, false, false},
                                                                       {docs, false, false, true, true},
                                                                       {other, true, false, false, false},
                                                                       {other, true, true, false, true}}) {
        std::tie(SearchMode, MouseDownPending, CheckChanged) = std::tie(search, mouseDown, changed);
        Form->tv_FilesTree->GetFirst()->CheckState = csMixedPressed; // gone when the rows are made anew
        Form->gb_MoreResults->show();
        Form->mi_MoreResults->setEnabled(true);
        bool allowed = true;
        Form->tv_FolderTreeFocusChanging(Form->tv_FolderTree, docs, node, 0, 0, allowed);
        EXPECT_EQ(Form->tv_FilesTree->GetFirst()->CheckState != csMixedPressed, refilled);
        EXPECT_EQ(SearchMode, search && !refilled);
        EXPECT_EQ(Comment(), node == docs ? "note" : Placeholder);
        EXPECT_FALSE(Form->gb_MoreResults->isVisibleTo(Form.get()) || Form->mi_MoreResults->isEnabled());
    }
}

TEST_F(FileListTest, SizeColumnAndSizeDisplay)
{
    Start(support::ReportBuilder().Tree("D Small\n  F x 500\n"), "Small");
    // Bytes, Size column | size display; one line under German regional settings.
    for (const auto &[bytes, texts, language] :
         std::vector<std::tuple<int64_t, std::string, QLocale::Language>>{
             {0, "0|0.00 KB", QLocale::English},
             {500, "1|0.49 KB", QLocale::English},
             {1022976, "999|999.00 KB", QLocale::English},
             {1025, "2|1.00 KB", QLocale::English},
             {1048575, "1 024|1024.00 KB", QLocale::English},
             {1048576, "1 024|1.00 MB (1024 KB)", QLocale::English},
             {1500000, "1 465|1,43 MB (1465 KB)", QLocale::German},
             {1023998976, "999 999|976.56 MB (999999 KB)", QLocale::English},
             {1073741824, "1 048 576|1.00 GB (1048576 KB)", QLocale::English},
             {1264001024, "1 234 376|1.18 GB (1234376 KB)", QLocale::English},
             {3298534883328, "3 221 225 472|3072.00 GB (3221225472 KB)", QLocale::English}}) {
        QLocale::setDefault(QLocale(language));
        TDirectoryList item(QStringLiteral("f"), 9, 1, bytes, false, false, 0, 0, 0, 0);
        TVirtualStringTree tree;
        QString column;
        Form->tv_FilesTreeGetText(&tree, tree.AddChild(nullptr, &item), 1, ttNormal, column);
        Form->ShowSize(&item, {Form->lbl_sizeLabel});
        EXPECT_EQ(column.toStdString() + "|" + Form->lbl_sizeLabel->text().toStdString(), texts);
    }
}

TEST_F(FileListTest, HeaderClicksSortEachColumnBothWaysAsTheRulesSay)
{
    // File i was made at moment i, updated at i + 2, accessed at i + 4 (mod 6), the folders later.
    const std::pair<const char *, int64_t> files[] = {{"^z.txt", 1024},    {"b.png", 3221225472},
                                                      {"_x.md", 10},       {"A.txt", 1},
                                                      {"[y.png", 1048576}, {"zed.md", 5000}};
    const char *moments[] = {"1850-06-15 00:00:00", "1899-12-29 06:00:00", "1899-12-29 18:00:00",
                             "1899-12-30 00:00:00", "1899-12-30 23:59:59", "1926-05-01 10:00:00"};
    support::ReportBuilder report;
    report.Tree("D Docs\n  D zdir\n  D Adir\n");
    for (int i = 0; i < 6; ++i)
        report.Row({.id = 4 + i,
                    .parent = 1,
                    .name = files[i].first,
                    .size = files[i].second,
                    .create = moments[i],
                    .update = moments[(i + 2) % 6],
                    .access = moments[(i + 4) % 6]});
    Start(report, "Docs");
    TVTHeader &header = Form->tv_FilesTree->Header;
    for (const auto &[column, button, direction, rows] :
         std::vector<std::tuple<int, Qt::MouseButton, TSortDirection, std::string>>{
             {1, Qt::LeftButton, sdAscending, "Adir zdir A.txt _x.md ^z.txt zed.md [y.png b.png"},
             {1, Qt::LeftButton, sdDescending, "b.png [y.png zed.md ^z.txt _x.md A.txt Adir zdir"},
             {1, Qt::LeftButton, sdAscending, "Adir zdir A.txt _x.md ^z.txt zed.md [y.png b.png"},
             {0, Qt::LeftButton, sdAscending, "A.txt Adir b.png zdir zed.md [y.png ^z.txt _x.md"},
             {0, Qt::RightButton, sdAscending, "A.txt Adir b.png zdir zed.md [y.png ^z.txt _x.md"},
             {0, Qt::LeftButton, sdDescending, "_x.md ^z.txt [y.png zed.md zdir b.png Adir A.txt"},
             {2, Qt::LeftButton, sdAscending, "^z.txt b.png _x.md A.txt [y.png zed.md zdir Adir"},
             {3, Qt::LeftButton, sdAscending, "[y.png zed.md ^z.txt b.png _x.md A.txt zdir Adir"},
             {4, Qt::LeftButton, sdAscending, "_x.md A.txt [y.png zed.md ^z.txt b.png zdir Adir"},
             {5, Qt::LeftButton, sdAscending, "_x.md zed.md A.txt ^z.txt [y.png b.png zdir Adir"},
             {5, Qt::LeftButton, sdDescending, "zdir Adir [y.png b.png A.txt ^z.txt _x.md zed.md"}}) {
        Form->tv_FilesTree->OnHeaderClick(&header, column, button, {}, 0, 0);
        EXPECT_EQ(Rows(), rows);
        EXPECT_EQ(header.SortDirection(), direction);
        // The control's own sort through the compare event finds the rows in order already.
        Form->tv_FilesTree->SortTree(header.SortColumn(), header.SortDirection());
        EXPECT_EQ(Rows(), rows);
        for (int i = 0; i < 6 && column >= 2 && column <= 4; ++i) {
            QString text;
            Form->tv_FilesTreeGetText(Form->tv_FilesTree, Find(Form->tv_FilesTree, files[i].first), column,
                                      ttNormal, text);
            EXPECT_TRUE(support::ShowsMoment(text, moments[(i + (column - 2) * 2) % 6]));
        }
    }
    // A new filling comes in the order the header shows.
    Form->tv_FilesTree->OnHeaderClick(&header, 1, Qt::LeftButton, {}, 0, 0);
    Focus("zdir");
    Focus("Docs");
    EXPECT_EQ(Rows(), "Adir zdir A.txt _x.md ^z.txt zed.md [y.png b.png");
}

TEST_F(FileListTest, HeaderClicksOnManyRowsOrderAsAStableSortByTheCompareEvent)
{
    // Enough rows for the long-list sorts; names that share long prefixes, differ only in case, are
    // prefixes of one another or are not ASCII; sizes, dates and types with many ties.
    const QStringList stems = QString::fromUtf8("Same-long-prefix-|same-long-prefix-|SAME-LONG-PREFIX_|"
                                                "Gr\xC3\xB6\xC3\x9F|\xF0\x9F\x98\x80x|Same-long|_|a")
                                  .split(u'|');
    const char *extensions[] = {".txt", ".TXT", ".jpg", "", ".a.b"};
    std::string tree = "D Big\n";
    for (int i = 0; i < 400; ++i)
        tree +=
            std::string("  ") + (i % 7 ? "F \"" : "D \"") + stems[i % 8].toStdString() +
            std::to_string(i % 50) +
            (i % 7 ? extensions[i % 5] + std::string("\" ") + std::to_string(int64_t(i * 37 % 11) * 999999999)
                   : std::string("\"")) +
            " date=19" + std::to_string(20 + i % 3 * 30) + "-01-02 03:04:05\n";
    Start(support::ReportBuilder().Tree(tree), "Big");
    TVirtualStringTree *list = Form->tv_FilesTree;
    TVirtualTreeView *view = Form->tv_FilesTreeView;
    // The view's current and selected row follow their node through every reorder.
    PVirtualNode focused = Find(list, "same-long-prefix-1.TXT");
    list->SetFocusedNode(focused);
    list->SetSelected(focused, true);
    for (int column : {0, 1, 2, 5, 0, 4, 5}) {
        for (int click = 0; click < 2; ++click) {
            std::vector<PVirtualNode> expected = support::ChildNodes(list);
            list->OnHeaderClick(&list->Header, column, Qt::LeftButton, {}, 0, 0);
            const bool ascending = list->Header.SortDirection() == sdAscending;
            std::stable_sort(expected.begin(), expected.end(), [&](PVirtualNode A, PVirtualNode B) {
                int result = 0;
                Form->tv_FilesTreeCompareNodes(list, A, B, column, result);
                return ascending ? result < 0 : result > 0;
            });
            EXPECT_EQ(support::ChildNodes(list), expected)
                << "column " << column << (ascending ? " up" : " down");
            EXPECT_EQ(view->NodeOf(view->currentIndex()), focused);
            EXPECT_EQ(view->selectionModel()->selectedRows(), QModelIndexList{view->IndexOf(focused)});
        }
    }
}

TEST_F(FileListTest, FocusingARowShowsItsSizeCommentAndDeletedMarkAndADoubleClickOpensAFolder)
{
    Start(support::ReportBuilder()
              .Tree("D Docs\n  D zdir\n    F inner.txt 1\n  F b.txt 1024\n  F old.txt 2048 deleted\n")
              .Check({"b note", 0, 4, 1, 0, 0}),
          "Docs");
    for (const auto &[row, size, comment, deleted] :
         std::vector<std::tuple<const char *, std::string, std::string, bool>>{
             {"old.txt", "2.00 KB", Placeholder, true},
             {"b.txt", "1.00 KB", "b note", false},
             {"zdir", "0.00 MB (1 KB)", Placeholder, false}}) {
        Form->tv_FilesTree->SetFocusedNode(Find(Form->tv_FilesTree, row));
        EXPECT_EQ(Form->lbl_sizeLabel->text().toStdString() + "|" + Comment(), size + "|" + comment);
        EXPECT_EQ(DeletedMarkShown(), deleted) << row;
    }
    // Row double-clicked, the folder tree's focused node and the rows after it.
    for (const auto &[row, focused, rows] : std::vector<std::tuple<const char *, std::string, std::string>>{
             {"b.txt", "Docs", "zdir b.txt old.txt"}, {"zdir", "zdir", "inner.txt"}}) {
        auto *view = Form->tv_FilesTreeView;
        const QPoint at = view->visualRect(view->IndexOf(Find(Form->tv_FilesTree, row))).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at); // the first click focuses the row
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        PVirtualNode node = Form->tv_FolderTree->FocusedNode();
        EXPECT_EQ(GetNodeItem(node, Form->tv_FolderTree)->name.toStdString(), focused);
        EXPECT_TRUE(TVirtualStringTree::Selected(node));
        EXPECT_EQ(Rows(), rows);
    }
}

} // namespace
