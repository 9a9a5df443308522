// The tree control's view, offscreen: the user's clicks, keys and header clicks reach the tree in the
// right order, the view mirrors the tree's state, and the model keeps Qt's rules throughout.
#include "platform/ImageList.h"
#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeModel.h"
#include "platform/VirtualTreeView.h"
#include "tests/platform/VirtualTreeChecks.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TViewFixture
{
    TVirtualStringTree Tree;
    std::unique_ptr<TVirtualTreeView> View;
    std::vector<std::string> Log;
    int Next = 0;

    TViewFixture()
    {
        Tree.OnGetText = [](TVirtualStringTree *, PVirtualNode n, int, TVSTTextType, QString &Text) {
            Text = QStringLiteral("node %1").arg(reinterpret_cast<intptr_t>(n->Data));
        };
        View = ShowView(Tree);
    }
    PVirtualNode Add(PVirtualNode Parent)
    {
        PVirtualNode n = Tree.AddChild(Parent, reinterpret_cast<void *>(static_cast<intptr_t>(++Next)));
        Tree.SetCheckType(n, ctTriStateCheckBox);
        return n;
    }
    QPoint RowCenter(PVirtualNode n) { return View->visualRect(View->IndexOf(n)).center(); }
    void Settle()
    {
        QCoreApplication::processEvents();
        View->viewport()->repaint();
    }
};

} // namespace

TEST(VirtualTreeView, ClickOnACheckBoxRaisesMouseDownThenCheckingThenChecked)
{
    TViewFixture f;
    PVirtualNode p = f.Add(nullptr);
    PVirtualNode c = f.Add(p);
    f.Tree.SetExpanded(p, true);
    f.Tree.OnMouseDown = [&](TVirtualStringTree *, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        f.Log.push_back(b == Qt::LeftButton ? "down left" : "down other");
    };
    f.Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode n, TCheckState &s, bool &) {
        f.Log.push_back((n == c ? "checking c " : "checking p ") + std::to_string(s));
    };
    f.Tree.OnChecked = [&](TVirtualStringTree *, PVirtualNode n) {
        f.Log.push_back(n == c ? "checked c" : "checked p");
    };
    f.Settle();

    const QRect box = f.View->CheckBoxRect(c);
    ASSERT_FALSE(box.isEmpty());
    QTest::mouseClick(f.View->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(f.Log, (std::vector<std::string>{"down left", "checking c 2", "checking p 2", "checked c",
                                               "checked p"}));
    EXPECT_EQ(c->CheckState, csCheckedNormal);
    EXPECT_EQ(f.Tree.FocusedNode(), nullptr); // a box click does not move the focus

    // A press that leaves the box before the button comes up changes nothing.
    f.Log.clear();
    QTest::mousePress(f.View->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(f.View->PressedCheckNode(), c);
    QTest::mouseRelease(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(c) + QPoint(100, 0));
    EXPECT_EQ(f.Log, (std::vector<std::string>{"down left"}));
    EXPECT_EQ(c->CheckState, csCheckedNormal);
}

TEST(VirtualTreeView, ClickOnARowFocusesAndSelectsItThroughTheTree)
{
    TViewFixture f;
    PVirtualNode a = f.Add(nullptr);
    PVirtualNode b = f.Add(nullptr);
    f.Tree.OnFocusChanging = [&](TVirtualStringTree *, PVirtualNode, PVirtualNode n, int, int, bool &) {
        f.Log.push_back(n == b ? "changing b" : "changing ?");
    };
    f.Tree.OnFocusChanged = [&](TVirtualStringTree *, PVirtualNode, int) { f.Log.push_back("changed"); };
    f.Settle();

    QTest::mouseClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(b));
    EXPECT_EQ(f.Log, (std::vector<std::string>{"changing b", "changed"}));
    EXPECT_EQ(f.Tree.FocusedNode(), b);
    EXPECT_TRUE(TVirtualStringTree::Selected(b));
    EXPECT_EQ(f.View->currentIndex(), f.View->IndexOf(b));
    EXPECT_TRUE(f.View->selectionModel()->isRowSelected(1, QModelIndex()));
    EXPECT_EQ(f.Tree.GetNodeAt(f.RowCenter(a).x(), f.RowCenter(a).y()), a);
    EXPECT_EQ(f.Tree.GetNodeAt(5, f.RowCenter(b).y()), b);
    EXPECT_EQ(f.Tree.GetNodeAt(5, 200), nullptr);

    // Focus set by code shows in the view, and a refused change leaves both as they were.
    f.Tree.SetFocusedNode(a);
    EXPECT_EQ(f.View->currentIndex(), f.View->IndexOf(a));
    f.Tree.OnFocusChanging = [](TVirtualStringTree *, PVirtualNode, PVirtualNode, int, int, bool &Allowed) {
        Allowed = false;
    };
    QTest::mouseClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(b));
    EXPECT_EQ(f.Tree.FocusedNode(), a);
    EXPECT_EQ(f.View->currentIndex(), f.View->IndexOf(a));
}

TEST(VirtualTreeView, SpaceTogglesTheFocusedNodesBoxAfterTheKeyEvent)
{
    TViewFixture f;
    PVirtualNode a = f.Add(nullptr);
    f.Tree.SetFocusedNode(a);
    int key = -1;
    bool swallow = false;
    TCheckState before = csMixedNormal;
    f.Tree.OnKeyDown = [&](TVirtualStringTree *, int &Key, Qt::KeyboardModifiers) {
        key = Key;
        before = a->CheckState;
        if (swallow)
            Key = 0;
    };
    f.View->setFocus();

    QTest::keyClick(f.View.get(), Qt::Key_Space);
    EXPECT_EQ(key, 0x20);
    EXPECT_EQ(before, csUncheckedNormal); // the key event comes before the tree acts on it
    EXPECT_EQ(a->CheckState, csCheckedNormal);
    QTest::keyClick(f.View.get(), Qt::Key_Space);
    EXPECT_EQ(a->CheckState, csUncheckedNormal);

    swallow = true;
    QTest::keyClick(f.View.get(), Qt::Key_Space);
    EXPECT_EQ(a->CheckState, csUncheckedNormal);
}

TEST(VirtualTreeView, ArrowKeysMoveTheFocusAndOpenNodesThroughTheTree)
{
    TViewFixture f;
    PVirtualNode a = f.Add(nullptr);
    PVirtualNode a1 = f.Add(a);
    PVirtualNode b = f.Add(nullptr);
    int expanding = 0;
    f.Tree.OnExpanding = [&](TVirtualStringTree *, PVirtualNode, bool &) { ++expanding; };
    f.Tree.SetFocusedNode(a);
    f.View->setFocus();
    f.Settle();

    QTest::keyClick(f.View.get(), Qt::Key_Down);
    EXPECT_EQ(f.Tree.FocusedNode(), b);
    QTest::keyClick(f.View.get(), Qt::Key_Up);
    EXPECT_EQ(f.Tree.FocusedNode(), a);
    QTest::keyClick(f.View.get(), Qt::Key_Right);
    EXPECT_EQ(expanding, 1);
    EXPECT_TRUE(f.View->isExpanded(f.View->IndexOf(a)));
    QTest::keyClick(f.View.get(), Qt::Key_Right);
    EXPECT_EQ(f.Tree.FocusedNode(), a1);
    QTest::keyClick(f.View.get(), Qt::Key_Left);
    EXPECT_EQ(f.Tree.FocusedNode(), a);
    QTest::keyClick(f.View.get(), Qt::Key_Left);
    EXPECT_FALSE(TVirtualStringTree::Expanded(a));
    EXPECT_FALSE(f.View->isExpanded(f.View->IndexOf(a)));
}

TEST(VirtualTreeView, DoubleClickTogglesANodeWithChildren)
{
    TViewFixture f;
    PVirtualNode root = f.Add(nullptr);
    f.Add(root);
    f.Add(root);
    PVirtualNode leaf = f.Add(nullptr);
    int dbl = 0;
    f.Tree.OnDblClick = [&](TVirtualStringTree *) { ++dbl; };
    f.Settle();

    QTest::mouseDClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(root));
    EXPECT_EQ(dbl, 1);
    EXPECT_TRUE(TVirtualStringTree::Expanded(root));
    EXPECT_TRUE(f.View->isExpanded(f.View->IndexOf(root)));
    f.Settle();
    ExpectMirrors(*f.View);

    QTest::mouseDClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(root));
    EXPECT_FALSE(TVirtualStringTree::Expanded(root));
    EXPECT_FALSE(f.View->isExpanded(f.View->IndexOf(root)));

    // A node without children stays as it is; a node that carries the toggling mark too.
    QTest::mouseDClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(leaf));
    EXPECT_FALSE(TVirtualStringTree::Expanded(leaf));
    f.Tree.SetToggling(root, true);
    QTest::mouseDClick(f.View->viewport(), Qt::LeftButton, {}, f.RowCenter(root));
    EXPECT_FALSE(TVirtualStringTree::Expanded(root));
    EXPECT_EQ(dbl, 4);
}

TEST(VirtualTreeView, ClickOnTheExpandButtonTogglesThroughTheExpandingEvent)
{
    TViewFixture f;
    PVirtualNode folder = f.Add(nullptr);
    f.Tree.SetHasChildren(folder, true); // children come with the expanding event
    f.Tree.OnExpanding = [&](TVirtualStringTree *t, PVirtualNode n, bool &) {
        t->BeginUpdate();
        for (int i = 0; i < 3; ++i)
            f.Add(n);
        t->EndUpdate();
    };
    f.Settle();
    const QRect button = f.View->ButtonRect(folder);
    ASSERT_FALSE(button.isEmpty());

    QTest::mouseClick(f.View->viewport(), Qt::LeftButton, {}, button.center());
    EXPECT_TRUE(TVirtualStringTree::Expanded(folder));
    EXPECT_EQ(f.View->Model()->rowCount(f.View->IndexOf(folder)), 3);
    f.Settle();
    ExpectMirrors(*f.View);
}

TEST(VirtualTreeView, HeaderClickReachesTheHandlerWithTheColumnAndButton)
{
    TViewFixture f;
    f.Tree.Header.AddColumn(QStringLiteral("Name"), 120);
    f.Tree.Header.AddColumn(QStringLiteral("Size"), 80, Qt::AlignRight);
    f.Tree.Header.SetVisible(true);
    f.Add(nullptr);
    std::vector<std::pair<int, Qt::MouseButton>> clicks;
    f.Tree.OnHeaderClick = [&](TVTHeader *h, int Column, Qt::MouseButton Button, Qt::KeyboardModifiers, int,
                               int) {
        EXPECT_EQ(h, &f.Tree.Header);
        clicks.emplace_back(Column, Button);
        h->SetSortColumn(Column);
        h->SetSortDirection(sdDescending);
    };
    f.Settle();
    QHeaderView *header = f.View->header();
    EXPECT_EQ(header->sectionSize(1), 80);
    const QPoint size(header->sectionViewportPosition(1) + 40, header->height() / 2);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, size);
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, QPoint(20, header->height() / 2));
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0], std::make_pair(1, Qt::LeftButton));
    EXPECT_EQ(clicks[1], std::make_pair(0, Qt::RightButton));
    // The view shows the tree's sort column and direction, not a guess of its own.
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(f.View->Model()->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
              Qt::AlignRight);
}

TEST(VirtualTreeView, AfterItemPaintGetsAPainterAndTheRowFromItsTop)
{
    TViewFixture f;
    f.Tree.Header.AddColumn(QStringLiteral("Name"), 150);
    f.Tree.Header.AddColumn(QStringLiteral("Size"), 100);
    f.Add(nullptr);
    PVirtualNode b = f.Add(nullptr);
    std::vector<std::pair<PVirtualNode, QRect>> painted;
    f.Tree.OnAfterItemPaint = [&](TVirtualStringTree *, QPainter *p, PVirtualNode n, const QRect &r) {
        painted.emplace_back(n, r);
        p->fillRect(QRect(2, 2, 4, 4), Qt::red); // in row coordinates
    };
    f.Settle();
    const QImage shot = f.View->viewport()->grab().toImage();
    const QColor seen = shot.pixelColor(3, f.View->visualRect(f.View->IndexOf(b)).top() + 3);

    ASSERT_GE(painted.size(), 2u);
    bool sawB = false;
    for (const auto &[n, r] : painted) {
        EXPECT_EQ(r, QRect(0, 0, 250, f.Tree.Options().DefaultNodeHeight));
        sawB |= n == b;
    }
    EXPECT_TRUE(sawB);
    EXPECT_EQ(seen, QColor(Qt::red));
}

TEST(VirtualTreeView, ViewFollowsTheTreeOutsideUpdatesAtOnce)
{
    TViewFixture f;
    PVirtualNode a = f.Add(nullptr);
    PVirtualNode b = f.Add(nullptr);
    PVirtualNode a1 = f.Add(a);
    PVirtualNode a2 = f.Add(a);
    f.Add(a1);
    TVirtualTreeModel *m = f.View->Model();

    // Expanded below a collapsed parent: shown once the parent opens.
    f.Tree.SetExpanded(a1, true);
    f.Tree.SetExpanded(a, true);
    EXPECT_TRUE(f.View->isExpanded(f.View->IndexOf(a1)));

    f.Tree.SetVisible(a2, false);
    EXPECT_EQ(m->rowCount(f.View->IndexOf(a)), 1);
    f.Tree.SetVisible(a2, true);
    EXPECT_EQ(m->NodeOf(m->index(1, 0, f.View->IndexOf(a))), a2);
    f.Tree.SetSelected(a2, true);
    EXPECT_TRUE(f.View->selectionModel()->isSelected(f.View->IndexOf(a2)));

    f.Tree.DeleteNode(b);
    EXPECT_EQ(m->rowCount(), 1);
    f.Settle();
    ExpectMirrors(*f.View);

    // A check state written into the field shows after an invalidate.
    a2->CheckState = csCheckedNormal;
    f.Tree.InvalidateNode(a2);
    EXPECT_EQ(m->data(f.View->IndexOf(a2), Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

TEST(VirtualTreeView, DuringAnUpdateTheViewReadsNothingAndTakesAllAfterwards)
{
    TViewFixture f;
    PVirtualNode a = f.Add(nullptr);
    PVirtualNode b = f.Add(nullptr);
    f.Add(a);
    f.Tree.SetExpanded(a, true);
    f.Tree.SetFocusedNode(b);
    f.Settle();
    int texts = 0;
    f.Tree.OnGetText = [&](TVirtualStringTree *, PVirtualNode, int, TVSTTextType, QString &) { ++texts; };

    f.Tree.BeginUpdate();
    f.Tree.DeleteNode(b); // stays allocated: the view still has its row
    PVirtualNode c = f.Add(nullptr);
    f.Tree.SetExpanded(a, false);
    f.View->viewport()->repaint();
    TVirtualTreeModel *m = f.View->Model();
    EXPECT_EQ(m->rowCount(), 2); // what the view knew before the update
    EXPECT_FALSE(m->data(m->index(0, 0)).isValid());
    EXPECT_EQ(texts, 0);
    f.Tree.EndUpdate();

    EXPECT_EQ(f.Tree.FocusedNode(), nullptr);
    EXPECT_EQ(m->rowCount(), 2);
    EXPECT_EQ(m->NodeOf(m->index(1, 0)), c);
    EXPECT_FALSE(f.View->currentIndex().isValid());
    EXPECT_FALSE(f.View->isExpanded(f.View->IndexOf(a)));
    f.Settle();
    EXPECT_GT(texts, 0);
    ExpectMirrors(*f.View);
}

TEST(VirtualTreeView, ModelKeepsQtsRulesThroughEveryKindOfChange)
{
    TTesterFailures failures;
    {
        TViewFixture f;
        f.Tree.Header.AddColumn(QStringLiteral("Name"), 100);
        f.Tree.Header.AddColumn(QStringLiteral("Size"), 100);
        QAbstractItemModelTester tester(f.View->Model(),
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        std::vector<PVirtualNode> top;
        for (int i = 0; i < 5; ++i) {
            top.push_back(f.Add(nullptr));
            for (int j = 0; j < 4; ++j)
                f.Add(top.back());
        }
        f.Tree.SetExpanded(top[0], true);
        f.Tree.SetExpanded(top[2], true);
        f.Tree.SetVisible(top[1], false);
        f.Tree.SetVisible(top[0]->FirstChild, false);
        f.Tree.SetVisible(top[1], true);
        f.Tree.DeleteNode(top[3]);
        f.Tree.DeleteChildren(top[4]);
        f.Tree.SetFocusedNode(top[2]->LastChild);
        f.Settle();

        f.Tree.OnCompareNodes = [](TVirtualStringTree *, PVirtualNode n1, PVirtualNode n2, int, int &Result) {
            Result = int(reinterpret_cast<intptr_t>(n2->Data) - reinterpret_cast<intptr_t>(n1->Data));
        };
        f.Tree.SortTree(0, sdAscending);
        EXPECT_EQ(f.View->currentIndex(), f.View->IndexOf(top[2]->FirstChild)); // follows its node
        f.Settle();
        ExpectMirrors(*f.View);

        // Appends only, then deletions and hidings below a shown parent, then the top level anew.
        f.Tree.BeginUpdate();
        for (int j = 0; j < 50; ++j)
            f.Tree.SetVisible(f.Add(top[2]), j % 3 != 0);
        f.Tree.EndUpdate();
        f.Settle();
        ExpectMirrors(*f.View);

        f.Tree.BeginUpdate();
        f.Tree.DeleteNode(top[2]->FirstChild->NextSibling);
        f.Tree.SetVisible(top[2]->FirstChild, false);
        f.Tree.SetExpanded(top[2]->LastChild, true);
        f.Add(top[2]->LastChild);
        f.Tree.EndUpdate();
        f.Settle();
        ExpectMirrors(*f.View);

        f.Tree.BeginUpdate();
        f.Tree.Clear();
        PVirtualNode n = f.Add(nullptr);
        f.Add(n);
        f.Tree.SetExpanded(n, true);
        f.Tree.EndUpdate();
        f.Settle();
        ExpectMirrors(*f.View);
        EXPECT_TRUE(f.View->isExpanded(f.View->IndexOf(n)));

        f.Tree.Header.AddColumn(QStringLiteral("Type"), 60);
        EXPECT_EQ(f.View->Model()->columnCount(), 3);
        f.Settle();
        ExpectMirrors(*f.View);
    }
    EXPECT_TRUE(failures.Messages.isEmpty()) << failures.Messages.join(QLatin1Char('\n')).toStdString();
}

TEST(VirtualTreeView, TreeGoingFirstLeavesAnEmptyView)
{
    auto tree = std::make_unique<TVirtualStringTree>();
    PVirtualNode a = tree->AddChild(nullptr);
    tree->AddChild(a);
    tree->SetExpanded(a, true);
    auto view = ShowView(*tree);
    EXPECT_EQ(view->Model()->rowCount(), 1);
    tree.reset();
    EXPECT_EQ(view->Model()->rowCount(), 0);
    EXPECT_EQ(view->Tree(), nullptr);
    view->viewport()->repaint();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
}

TEST(VirtualTreeView, DrawsImagesFromTheImageEventAndColumnColours)
{
    TViewFixture f;
    f.Tree.Header.AddColumn(QStringLiteral("Name"), 150);
    f.Tree.Header.AddColumn(QStringLiteral("Size"), 100);
    f.Tree.Header.SetColumnColor(1, QColor(0xF7F7F7));
    TImageList images;
    QPixmap blue(16, 16);
    blue.fill(Qt::blue);
    images.Add(blue);
    f.Tree.SetImages(&images);
    std::vector<TVTImageKind> kinds;
    f.Tree.OnGetImageIndex = [&](TVirtualStringTree *, PVirtualNode, TVTImageKind Kind, int Column, bool &,
                                 int &Index) {
        kinds.push_back(Kind);
        Index = Column == 0 ? 0 : -1;
    };
    int resized = 0;
    f.Tree.OnResize = [&](TVirtualStringTree *) { ++resized; };
    PVirtualNode a = f.Add(nullptr);
    f.Add(nullptr);
    f.Settle();

    const QRect cell = f.View->visualRect(f.View->IndexOf(a));
    const QImage shot = f.View->viewport()->grab().toImage();
    const int imageLeft =
        cell.left() + f.Tree.Options().Margin + TVirtualTreeView::CheckSize + TVirtualTreeView::CheckSpacing;
    EXPECT_EQ(shot.pixelColor(imageLeft + 8, cell.center().y()), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(f.View->columnViewportPosition(1) + 90, cell.center().y()), QColor(0xF7F7F7));
    EXPECT_FALSE(f.View->Model()->data(f.View->Model()->index(0, 1), Qt::DecorationRole).isValid());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), ikNormal), kinds.end());

    f.Tree.SetSelected(a, true);
    kinds.clear();
    (void)f.View->Model()->data(f.View->IndexOf(a), Qt::DecorationRole);
    EXPECT_EQ(kinds, std::vector<TVTImageKind>{ikSelected});

    f.View->resize(300, 200);
    EXPECT_GT(resized, 0);
}
