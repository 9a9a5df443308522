// Unloading least recently used folders in the real main window (offscreen): which folders a pass
// frees, how the threshold grows, and a soak run of browsing while passes run.
#include "viewer/Main.h"

#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"

#include <QTest>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

namespace {

// Counts the pass's hand-outs and modal shows as the main window receives them.
class TPassCounter : public QObject
{
public:
    int Creates = 0, Shows = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (TMessageEvent *m = TMessageEvent::From(e)) {
            Creates += m->Msg == WM_CREATE_FREEMEM_WAIT;
            Shows += m->Msg == WM_SHOW_WAIT_MODAL;
        }
        return false;
    }
};

class FreeMemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
    }
    void TearDown() override
    {
        Form.reset();
        for (const QString &t : Boxes.Texts) ADD_FAILURE() << t.toStdString();
        SetLogFolder("");
    }
    // The window on Rows, its own thread replaced by none: the test decides what is touched.
    void Start(const std::string &Rows)
    {
        Form.reset();
        const std::string path = support::ReportBuilder().Tree(Rows).Write(Temp.File("r.db3"));
        Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("v"), QString::fromStdString(path)});
        ASSERT_TRUE(QTest::qWaitFor([this] { return Tree()->GetFirst() && Tree()->GetFirst()->ChildCount; }, 5000));
        delete FreeMemThread;
        FreeMemThread = nullptr;
        Form->installEventFilter(&Counter);
        Counter.Creates = Counter.Shows = Trims = 0;
    }
    void StartThread(int CycleMs = 5)
    {
        FreeMemThread = new TFreeMemThread(Tree(), Form->tv_FilesTree, Form.get(), CycleMs);
        FreeMemThread->Trim = [this] { ++Trims; };
    }
    TVirtualStringTree *Tree() const { return Form->tv_FolderTree; }
    void Load(PVirtualNode Node)
    {
        bool allowed = true;
        Form->tv_FolderTreeExpanding(Tree(), Node, allowed);
    }
    void Focus(PVirtualNode Node)
    {
        Tree()->SetFocusedNode(Node);
        Tree()->SetSelected(Node, true);
    }
    // Lets the thread run Cycles more cycles.
    void Idle(int Cycles)
    {
        const int until = FreeMemThread->Cycles() + Cycles;
        ASSERT_TRUE(QTest::qWaitFor([&] { return FreeMemThread->Cycles() >= until; }, 10000));
    }
    QString Name(PVirtualNode Node) { return GetNodeItem(Node, Tree())->name; }

    support::TempDir Temp;
    support::ModalGuard Guard;
    support::BoxAnswerer Boxes{false};
    std::unique_ptr<TMainForm> Form;
    TPassCounter Counter;
    int Trims = 0;
};

TEST_F(FreeMemTest, PassFreesCollapsedFoldersOffTheFocusPathAndGrowsTheThresholdWhenNoneCouldGo)
{
    std::string rows;
    for (int i = 0; i < 65; ++i)
        rows += QStringLiteral("D f%1\n  D s\n  F a 1\n").arg(i, 2, 10, QLatin1Char('0')).toStdString();
    const struct
    {
        int Touched; // folders f00.. touched after the root
        std::string Expanded; // f00..: e expanded
        int Focused;
        std::string Unloaded; // f00..: u unloaded, . loaded
        const char *Tail;     // the last entries of the list after the passes
        int Threshold, Passes, Trims;
    } cases[] = {
        // Root and f00..f29: the 21 oldest are taken, the root and the kept ones go back to the end.
        {30, "", 29, "uuuuuuuuuuuuuuuuuuuu..........", "f29 r.db3", 30, 1, 0},
        {30, "...e", 10, "uuu.uuuuuu.uuuuuuuuu..........", "f29 r.db3 f03 f10", 30, 1, 0},
        {30, std::string(20, 'e'), 29, std::string(30, '.'), "f18 f19", 35, 1, 0},
        {29, "", 0, std::string(29, '.'), "f28", 30, 0, 0}, // 30 entries: no pass
        // 66 kept each time: 35, 40, .., 70; the growths to 65 and 70 trim.
        {65, std::string(65, 'e'), 64, std::string(65, '.'), "", 70, 8, 2},
    };
    for (const auto &c : cases) {
        Start(rows);
        std::vector<PVirtualNode> folders;
        for (PVirtualNode n = Tree()->GetFirst()->FirstChild; n; n = n->NextSibling)
            folders.push_back(n);
        for (int i = 0; i < c.Touched; ++i) {
            Load(folders[i]);
            if (i < static_cast<int>(c.Expanded.size()) && c.Expanded[i] == 'e')
                Tree()->SetExpanded(folders[i], true);
        }
        Focus(folders[c.Focused]);
        StartThread();
        FreeMemThread->TouchNode(Tree()->GetFirst());
        for (int i = 0; i < c.Touched; ++i)
            FreeMemThread->TouchNode(folders[i]);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Counter.Shows >= c.Passes; }, 10000));
        Idle(20);

        QString unloaded;
        for (int i = 0; i < c.Touched; ++i)
            unloaded += folders[i]->ChildCount ? '.' : 'u';
        EXPECT_EQ(unloaded.toStdString(), c.Unloaded);
        QStringList tail;
        for (PVirtualNode n : FreeMemThread->Nodes())
            tail << Name(n);
        EXPECT_TRUE(tail.join(' ').endsWith(QLatin1String(c.Tail))) << tail.join(' ').toStdString();
        EXPECT_EQ(FreeMemThread->GetThreshold(), c.Threshold);
        EXPECT_EQ(Counter.Creates, c.Passes);
        EXPECT_EQ(Counter.Shows, c.Passes);
        EXPECT_EQ(Trims, c.Trims);
        // An unloaded folder keeps its button; expanding it loads it again and touches it.
        const auto first = std::find_if(folders.begin(), folders.end(), [](PVirtualNode n) { return !n->ChildCount; });
        if (first != folders.begin() + c.Touched) {
            EXPECT_TRUE(TVirtualStringTree::HasChildren(*first));
            EXPECT_EQ(GetNodeItem(*first, Tree())->ChildCount(), 0u);
            Tree()->SetExpanded(*first, true);
            EXPECT_EQ((*first)->ChildCount, 2u);
            EXPECT_EQ(FreeMemThread->Nodes().back(), *first);
        }
    }
}

TEST(FreeMemThreadTest, TouchMovesANodeToTheEndOnce)
{
    TVirtualNode n[4];
    const struct
    {
        int Touch;
        std::vector<int> After;
    } cases[] = {{1, {0, 2, 1}}, {2, {0, 1, 2}}, {3, {0, 1, 2, 3}}, {0, {1, 2, 0}}};
    for (const auto &c : cases) {
        TFreeMemThread thread(nullptr, nullptr, nullptr);
        for (int i = 0; i < 3; ++i)
            thread.TouchNode(&n[i]);
        thread.TouchNode(&n[c.Touch]);
        std::vector<PVirtualNode> after;
        for (int i : c.After)
            after.push_back(&n[i]);
        EXPECT_EQ(thread.Nodes(), after);
    }
}

// Browsing some 500 folders while passes run every millisecond: nothing left points at a freed node or
// item (the sanitizers watch), and every live folder's nodes and items agree.
TEST_F(FreeMemTest, SoakBrowsingWhilePassesRun)
{
    std::string rows;
    for (int a = 0; a < 8; ++a) {
        rows += "D a" + std::to_string(a) + "\n";
        for (int b = 0; b < 8; ++b) {
            rows += "  D b" + std::to_string(b) + "\n";
            for (int c = 0; c < 7; ++c)
                rows += "    D c" + std::to_string(c) + "\n      F f 1\n";
        }
    }
    Start(rows);
    StartThread(1);
    std::mt19937 random(7);
    const auto check = [this] {
        std::set<PVirtualNode> live;
        for (PVirtualNode n = Tree()->GetFirst(); n; n = Tree()->GetNext(n)) {
            live.insert(n);
            TDirectoryList *item = GetNodeItem(n, Tree());
            ASSERT_EQ(item->NodeInFoldTr, n);
            ASSERT_EQ(item->ChildCount(), n->ChildCount) << item->name.toStdString();
        }
        const std::vector<PVirtualNode> listed = FreeMemThread->Nodes();
        EXPECT_EQ(std::set<PVirtualNode>(listed.begin(), listed.end()).size(), listed.size());
        for (PVirtualNode n : listed)
            ASSERT_TRUE(live.count(n));
        for (PVirtualNode n = Form->tv_FilesTree->GetFirst(); n; n = n->NextSibling)
            EXPECT_FALSE(GetNodeItem(n, Form->tv_FilesTree)->name.isEmpty());
    };
    for (int step = 0; step < 400; ++step) {
        std::vector<PVirtualNode> folders;
        for (PVirtualNode n = Tree()->GetFirst(); n; n = Tree()->GetNext(n))
            if (TVirtualStringTree::IsVisible(n))
                folders.push_back(n);
        PVirtualNode node = folders[random() % folders.size()];
        switch (random() % 4) {
        case 0: Tree()->SetExpanded(node, true); break;
        case 1: Tree()->SetExpanded(node, false); break;
        case 2: Focus(node); break;
        default: // the next folder below the focused one, as the arrow key steps
            for (PVirtualNode n = Tree()->GetNext(Tree()->FocusedNode()); n; n = Tree()->GetNext(n))
                if (TVirtualStringTree::IsVisible(n)) {
                    Focus(n);
                    break;
                }
        }
        QTest::qWait(step % 10 ? 0 : 2);
        if (step % 100 == 0)
            check();
    }
    check();
    EXPECT_GT(Counter.Shows, 0);
    // Closing while the thread may be waiting for its hand-out or in a pass ends without a hang.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Form.reset();
}

} // namespace
