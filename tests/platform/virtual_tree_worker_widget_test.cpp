// A worker changes the tree control's nodes while the main thread waits in a modal loop with the view
// shown and busy (painting, laying out, asking the model): the view must read nothing of the nodes
// meanwhile and show the tree's state afterwards. Run under ThreadSanitizer and AddressSanitizer too.
#include "platform/Messages.h"
#include "tests/support/VirtualTreeChecks.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

// A tree whose nodes carry a number in their data cell, shown in a view.
struct TShownTree
{
    TVirtualStringTree Tree;
    std::unique_ptr<TVirtualTreeView> View;
    std::vector<PVirtualNode> Top;
    std::atomic<intptr_t> Next{0};
    std::atomic<int> Freed{0};

    TShownTree()
    {
        Tree.Header.AddColumn(QStringLiteral("Name"), 150);
        Tree.Header.AddColumn(QStringLiteral("Size"), 80);
        Tree.Header.SetVisible(true);
        Tree.OnGetText = [](TVirtualStringTree *, PVirtualNode n, int Column, TVSTTextType, QString &Text) {
            Text = QString::number(reinterpret_cast<intptr_t>(n->Data) * (Column + 1));
        };
        Tree.OnFreeNode = [this](TVirtualStringTree *, PVirtualNode n) {
            n->Data = nullptr; // what an owner of the cell does
            ++Freed;
        };
        for (int i = 0; i < 4; ++i) {
            Top.push_back(Add(nullptr));
            for (int j = 0; j < 300; ++j)
                Add(Top.back());
        }
        Tree.SetExpanded(Top[0], true);
        Tree.SetExpanded(Top[1], true);
        Tree.SetExpanded(Top[1]->FirstChild, true);
        Tree.SetFocusedNode(Top[1]->LastChild);
        Tree.SetSelected(Top[1]->LastChild, true);
        View = ShowView(Tree);
    }
    PVirtualNode Add(PVirtualNode Parent)
    {
        PVirtualNode n = Tree.AddChild(Parent, reinterpret_cast<void *>(++Next));
        Tree.SetCheckType(n, ctTriStateCheckBox);
        return n;
    }

    // Many thousands of additions and deletions of every kind, as the system's workers make them.
    void Work()
    {
        Tree.BeginUpdate();
        for (int round = 0; round < 8; ++round) {
            for (int j = 0; j < 2500; ++j) {
                PVirtualNode n = Add(Top[0]);
                if (j % 4 == 0)
                    Tree.SetVisible(n, false);
                if (j % 500 == 0) {
                    Add(n);
                    Tree.SetExpanded(n, true);
                }
            }
            Tree.SetCheckState(Top[0], round % 2 ? csUncheckedNormal : csCheckedNormal);
            for (int j = 0; j < 600 && Top[0]->FirstChild; ++j)
                Tree.DeleteNode(Top[0]->FirstChild);
            Tree.DeleteChildren(Top[1]->FirstChild);
            for (int j = 0; j < 200; ++j)
                Add(Top[1]->FirstChild);
            Tree.DeleteNode(Top[1]->LastChild); // the focused and selected node on the first round
            Top[2]->LastChild->CheckState = csCheckedNormal;
            Tree.Invalidate();
        }
        Tree.DeleteChildren(Top[3]);
        Tree.SetExpanded(Top[3], true);
        Tree.EndUpdate();
    }

    // Keeps the view busy on the main thread while the modal loop runs.
    void Poke(int tick)
    {
        View->resize(400 + tick % 2, 300);
        View->viewport()->repaint();
        TVirtualTreeModel *m = View->Model();
        for (int r = 0; r < m->rowCount(); ++r) {
            const QModelIndex i = m->index(r, 0);
            (void)m->data(i);
            (void)m->hasChildren(i);
            (void)m->rowCount(i);
        }
        (void)Tree.GetNodeAt(10, 30);
        (void)View->indexAt(QPoint(10, 30));
    }
};

// Runs Work on a worker while the main thread sits in a modal dialog, poking the view; the worker's
// last act is a queued call that closes the dialog.
int RunModalWhileWorking(TShownTree &t)
{
    QDialog dialog;
    dialog.resize(120, 80);
    int pokes = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { t.Poke(pokes++); });
    timer.start(0);
    std::thread worker([&] {
        t.Work();
        PostCall(&dialog, [&dialog] { dialog.accept(); });
    });
    dialog.exec();
    worker.join();
    timer.stop();
    return pokes;
}

uint32_t CountVisible(PVirtualNode Parent)
{
    uint32_t n = 0;
    for (PVirtualNode c = Parent->FirstChild; c; c = c->NextSibling)
        n += TVirtualStringTree::IsVisible(c) ? 1 : 0;
    return n;
}

} // namespace

TEST(VirtualTreeWorker, WorkerChangesTheTreeUnderAModalWaitWhileTheViewIsBusy)
{
    // With the main thread's update around the wait (as the system holds it while the wait window is
    // shown) the view takes the tree over at that EndUpdate; without it, the outermost EndUpdate runs on
    // the worker and the view takes the tree over in the modal loop, before the dialog's close arrives.
    for (bool mainUpdate : {true, false}) {
        SCOPED_TRACE(mainUpdate ? "update held by the main thread" : "the worker's own update");
        TShownTree t;
        TModelWatch watch(t.View->Model());
        TVirtualTreeModel *m = t.View->Model();
        const int rowsBefore = m->rowCount(t.View->IndexOf(t.Top[0]));
        if (mainUpdate)
            t.Tree.BeginUpdate();
        EXPECT_GT(RunModalWhileWorking(t), 0);
        if (mainUpdate) {
            EXPECT_EQ(m->rowCount(m->index(0, 0)), rowsBefore); // still in update: the view has not moved
            t.Tree.EndUpdate();
        }

        EXPECT_EQ(t.Tree.UpdateCount(), 0);
        EXPECT_GT(t.Freed.load(), 5000);
        EXPECT_EQ(t.Tree.FocusedNode(), nullptr);
        EXPECT_EQ(t.Top[0]->CheckState, csUncheckedNormal);
        EXPECT_EQ(m->rowCount(t.View->IndexOf(t.Top[0])), static_cast<int>(CountVisible(t.Top[0])));
        t.View->viewport()->repaint();
        ExpectMirrors(*t.View);
        EXPECT_TRUE(t.View->isExpanded(t.View->IndexOf(t.Top[3])));

        // And the main thread goes on changing the tree as usual.
        t.Tree.DeleteNode(t.Top[0]);
        t.Add(t.Top[1]);
        ExpectMirrors(*t.View);
    }
}

TEST(VirtualTreeWorker, MainThreadChangeBeforeTheQueuedTakeOverComesFirstTakesItOver)
{
    TShownTree t;
    const uint32_t before = CountVisible(t.Top[0]);
    std::thread worker([&t] {
        t.Tree.BeginUpdate();
        for (int j = 0; j < 1000; ++j)
            t.Add(t.Top[0]);
        t.Tree.DeleteNode(t.Top[0]->FirstChild);
        t.Tree.EndUpdate(); // queues the view's take-over on the main thread
    });
    worker.join();
    // The view still shows the old rows and reads nothing of them...
    EXPECT_EQ(t.View->Model()->rowCount(t.View->Model()->index(0, 0)), static_cast<int>(before));
    EXPECT_FALSE(t.View->Model()->data(t.View->Model()->index(0, 0)).isValid());
    // ...until the main thread changes the tree, which takes the worker's changes over first.
    PVirtualNode added = t.Add(t.Top[0]);
    EXPECT_EQ(t.View->Model()->rowCount(t.View->IndexOf(t.Top[0])), static_cast<int>(before + 1000));
    EXPECT_EQ(t.View->Model()->NodeOf(
                  t.View->Model()->index(static_cast<int>(before + 999), 0, t.View->IndexOf(t.Top[0]))),
              added);
    QCoreApplication::processEvents(); // the queued take-over finds nothing left to do
    ExpectMirrors(*t.View);
}
