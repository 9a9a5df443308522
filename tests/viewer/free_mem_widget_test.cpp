// Unloading least recently used folders in the real main window (offscreen): what a pass frees, how
// the threshold grows, and browsing while passes run.
#include "viewer/Main.h"

#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/MainWindowRig.h"
#include "viewer/utFreeMemThread.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

// Counts the passes' modal shows as the main window receives them.
struct TPassCounter : QObject
{
    int Shows = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        TMessageEvent *m = TMessageEvent::From(e);
        Shows += m && m->Msg == WM_SHOW_WAIT_MODAL;
        return false;
    }
};

class FreeMemTest : public support::MainWindowFixture
{
protected:
    // The window on Rows with no unloading thread until StartThread: the test decides what is touched.
    void Start(const std::string &Rows)
    {
        OpenWindow(support::ReportBuilder().Tree(Rows).Write(Temp.File("r.db3")));
        delete FreeMemThread;
        FreeMemThread = nullptr;
        Passes = std::make_unique<TPassCounter>();
        Form->installEventFilter(Passes.get());
        Trims = 0;
    }
    void StartThread(int CycleMs)
    {
        FreeMemThread = new TFreeMemThread(Tree(), Form->tv_FilesTree, Form.get(), CycleMs);
        FreeMemThread->Trim = [this] { ++Trims; };
    }
    TVirtualStringTree *Tree() const { return Form->tv_FolderTree; }
    void Focus(PVirtualNode Node) { support::Focus(Tree(), Node); }

    support::BoxAnswerer Boxes{false};
    std::unique_ptr<TPassCounter> Passes;
    int Trims = 0;
};

TEST_F(FreeMemTest, PassFreesCollapsedFoldersOffTheFocusPathAndGrowsTheThresholdWhenNoneCouldGo)
{
    std::string rows;
    for (int i = 0; i < 65; ++i)
        rows += QStringLiteral("D f%1\n  D s\n  F a 1\n").arg(i, 2, 10, QLatin1Char('0')).toStdString();
    const struct
    {
        int Touched;          // f00.. touched after the root
        std::string Expanded; // f00..: e expanded
        int Focused;          // -N: the first subfolder of fN, which stays collapsed
        std::string Unloaded; // f00..: u unloaded
        const char *Tail;     // the list's last entries after the passes
        int Threshold, Passes, Trims;
    } cases[] = {
        // The root and f00..f29: the 21 oldest are taken; those kept go back to the end in turn.
        {30, "", -5, "uuuuu.uuuuuuuuuuuuuu..........", "f29 r.db3 f05", 30, 1, 0},
        {30, "...e", 10, "uuu.uuuuuu.uuuuuuuuu..........", "f29 r.db3 f03 f10", 30, 1, 0},
        // 30 kept: the list did not get below the threshold.
        {30, std::string(19, 'e'), 29, std::string(19, '.') + "u" + std::string(10, '.'), "f17 f18", 35, 1,
         0},
        {29, "", 0, std::string(29, '.'), "f28", 30, 0, 0}, // 30 entries: no pass
        // 66 kept each time: 35, 40, .., 70; the growths to 65 and 70 trim.
        {65, std::string(65, 'e'), 64, std::string(65, '.'), "", 70, 8, 2},
    };
    for (const auto &c : cases) {
        Start(rows);
        const std::vector<PVirtualNode> folders = support::ChildNodes(Tree(), Tree()->GetFirst());
        for (int i = 0; i < c.Touched; ++i) {
            bool allowed = true;
            Form->tv_FolderTreeExpanding(Tree(), folders[i], allowed);
            Tree()->SetExpanded(folders[i], i < int(c.Expanded.size()) && c.Expanded[i] == 'e');
        }
        Focus(c.Focused < 0 ? folders[-c.Focused]->FirstChild : folders[c.Focused]);
        StartThread(5);
        FreeMemThread->TouchNode(Tree()->GetFirst());
        for (int i = 0; i < c.Touched; ++i)
            FreeMemThread->TouchNode(folders[i]);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Passes->Shows >= c.Passes; }, 30000));
        const int cycles = FreeMemThread->Cycles() + 20;
        ASSERT_TRUE(QTest::qWaitFor([&] { return FreeMemThread->Cycles() >= cycles; }, 30000));

        std::string unloaded;
        for (int i = 0; i < c.Touched; ++i)
            unloaded += folders[i]->ChildCount ? '.' : 'u';
        EXPECT_EQ(unloaded, c.Unloaded);
        QStringList names;
        for (PVirtualNode n : FreeMemThread->Nodes())
            names << GetNodeItem(n, Tree())->name;
        EXPECT_TRUE(names.join(' ').endsWith(QLatin1String(c.Tail))) << names.join(' ').toStdString();
        EXPECT_EQ(FreeMemThread->GetThreshold(), c.Threshold);
        EXPECT_EQ(Passes->Shows, c.Passes);
        EXPECT_EQ(Trims, c.Trims);
        // An unloaded folder keeps its button; expanding it loads it again and touches it.
        if (c.Unloaded[0] == 'u') {
            EXPECT_TRUE(TVirtualStringTree::HasChildren(folders[0]));
            Tree()->SetExpanded(folders[0], true);
            EXPECT_EQ(folders[0]->ChildCount, 2u);
            EXPECT_EQ(FreeMemThread->Nodes().back(), folders[0]);
        }
    }
}

// Some 500 folders expanded, collapsed, focused, stepped through and visited again through the
// history (Back, Next, Up) or from a search's result row (Go to folder) while passes run every
// millisecond: nothing points at a freed node or item (the sanitizers watch), nodes and items agree, a
// history step or Go to folder lands on a live node of the folder its entry or row names (unless a pass
// ran meanwhile), and closing the window while a pass may be under way ends.
TEST_F(FreeMemTest, SoakBrowsingWhilePassesRun)
{
    std::string rows;
    for (int a = 0; a < 8; ++a) {
        rows += "D a\n";
        for (int b = 0; b < 8; ++b) {
            rows += "  D b\n";
            for (int c = 0; c < 7; ++c)
                rows += "    D c\n      F f 1\n";
        }
    }
    Start(rows);
    StartThread(1);
    Focus(Tree()->GetFirst());
    SearchPageSize = 100; // of the 448 files found, more than one page
    TVirtualStringTree *files = Form->tv_FilesTree;
    const auto live = [this](PVirtualNode Node) {
        PVirtualNode n = Tree()->GetFirst();
        while (n && n != Node)
            n = Tree()->GetNext(n);
        return n != nullptr;
    };
    std::mt19937 random(2);
    int historySteps = 0;
    for (int step = 0; step <= 700; ++step) {
        std::vector<PVirtualNode> folders;
        for (PVirtualNode n = Tree()->GetFirst(); n; n = Tree()->GetNext(n))
            if (TVirtualStringTree::IsVisible(n))
                folders.push_back(n);
        PVirtualNode node = folders[random() % folders.size()], next = Tree()->GetNext(Tree()->FocusedNode());
        while (next && !TVirtualStringTree::IsVisible(next))
            next = Tree()->GetNext(next);
        const int action = random() % (step % 5 ? 7 : 9); // searches: a few, they are slow
        if (action < 2) {
            Tree()->SetExpanded(node, action == 0);
        } else if (action < 4) { // a random folder, or the next one as the arrow key steps
            Focus(action == 2 || !next ? node : next);
        } else if (action > 6) { // a fast search, sometimes its next page, sometimes Go to folder from a row
            Form->edit_Search->setText(QStringLiteral("f"));
            Form->tb_FastSearchClick();
            if (random() % 2 && Form->mi_MoreResults->isEnabled())
                Form->mi_MoreResultsClick();
            PVirtualNode row = files->GetFirst()->FirstChild;
            for (int skip = random() % 4; row && skip; --skip)
                row = row->NextSibling;
            if (action == 8 && row) {
                const int64_t folder = GetNodeItem(row, files)->id_parent;
                const QPoint at =
                    Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(row)).center();
                files->OnMouseDown(files, Qt::RightButton, {}, at.x(), at.y());
                const int shows = Passes->Shows;
                Form->mi_GoToFolderClick();
                ASSERT_TRUE(live(Tree()->FocusedNode())) << step;
                if (Passes->Shows == shows) {
                    ASSERT_EQ(GetNodeItem(Tree()->FocusedNode(), Tree())->id, folder) << step;
                }
            }
        } else {
            THistoryItem *target = action == 4   ? HistoryCurrent->Prev
                                   : action == 5 ? HistoryCurrent->Next
                                                 : nullptr;
            PVirtualNode focused = Tree()->FocusedNode(), parent = Tree()->NodeParent(focused);
            // Back and Next with no entry there, and Up on the root, stay.
            PVirtualNode goal = target ? target->Node : action == 6 && parent ? parent : focused;
            const int shows = Passes->Shows;
            action == 4 ? Form->tb_PrevClick() : action == 5 ? Form->tb_NextClick() : Form->tb_UpClick();
            focused = Tree()->FocusedNode();
            ASSERT_TRUE(live(focused)) << step;
            ASSERT_EQ(focused, HistoryCurrent->Node) << step;
            // A pass during the step may have dropped the entry; the step then lands on a neighbour.
            if (Passes->Shows == shows) {
                ASSERT_EQ(focused, goal) << step;
            }
            historySteps += target != nullptr;
        }
        QTest::qWait(step % 10 ? 0 : 2);
        if (step % 100)
            continue;
        for (PVirtualNode n = Tree()->GetFirst(); n; n = Tree()->GetNext(n)) {
            ASSERT_EQ(GetNodeItem(n, Tree())->NodeInFoldTr, n);
            ASSERT_EQ(GetNodeItem(n, Tree())->ChildCount(), n->ChildCount);
        }
        const std::vector<PVirtualNode> listed = FreeMemThread->Nodes();
        EXPECT_EQ(std::set<PVirtualNode>(listed.begin(), listed.end()).size(), listed.size());
        for (PVirtualNode n : listed)
            ASSERT_TRUE(live(n));
    }
    THistoryItem *e = HistoryCurrent;
    while (e->Prev)
        e = e->Prev;
    for (; e; e = e->Next)
        EXPECT_TRUE(live(e->Node));
    EXPECT_GT(historySteps, 50);
    EXPECT_GT(Passes->Shows, 0);
    Form.reset();
}

} // namespace
