// The tree control's view, offscreen: the user's clicks, keys and header clicks reach the tree in the
// right order, the view mirrors the tree's state, and the model keeps Qt's rules throughout.
#include "tests/support/VirtualTreeChecks.h"

#include <QHeaderView>
#include <QScrollBar>

#include <string>

namespace {

// A shown view of a tree whose nodes carry a number in their data cell.
class VirtualTreeView : public ::testing::Test
{
protected:
    TVirtualStringTree Tree;
    std::unique_ptr<TVirtualTreeView> View;
    std::vector<std::string> Log;
    int Next = 0;

    VirtualTreeView()
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
    void Click(QPoint At) { QTest::mouseClick(View->viewport(), Qt::LeftButton, {}, At); }
    void Settle()
    {
        QCoreApplication::processEvents();
        View->viewport()->repaint();
    }
};

} // namespace

TEST_F(VirtualTreeView, ClickOnACheckBoxRaisesMouseDownThenCheckingThenChecked)
{
    PVirtualNode p = Add(nullptr);
    PVirtualNode c = Add(p);
    Tree.SetExpanded(p, true);
    Tree.OnMouseDown = [&](TVirtualStringTree *, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        Log.push_back(b == Qt::LeftButton ? "down left" : "down other");
    };
    Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode n, TCheckState &s, bool &) {
        Log.push_back((n == c ? "checking c " : "checking p ") + std::to_string(s));
    };
    Tree.OnChecked = [&](TVirtualStringTree *, PVirtualNode n) {
        Log.push_back(n == c ? "checked c" : "checked p");
    };
    Settle();

    const QRect box = View->CheckBoxRect(c);
    ASSERT_FALSE(box.isEmpty());
    Click(box.center());
    EXPECT_EQ(Log, (std::vector<std::string>{"down left", "checking c 2", "checking p 2", "checked c",
                                             "checked p"}));
    EXPECT_EQ(c->CheckState, csCheckedNormal);
    EXPECT_EQ(Tree.FocusedNode(), nullptr); // a box click does not move the focus

    // A press that leaves the box before the button comes up changes nothing.
    Log.clear();
    QTest::mousePress(View->viewport(), Qt::LeftButton, {}, box.center());
    QTest::mouseRelease(View->viewport(), Qt::LeftButton, {}, RowCenter(c) + QPoint(100, 0));
    EXPECT_EQ(Log, (std::vector<std::string>{"down left"}));
    EXPECT_EQ(c->CheckState, csCheckedNormal);
}

// The view's scroll bars (size, value, enabled; a wide one lies) look exactly as the style draws them.
TEST_F(VirtualTreeView, ScrollBarsLookAsTheStyleDrawsThem)
{
    const std::tuple<QSize, int, bool> cases[] = {{{14, 418}, 0, true},     {{14, 469}, 1234, true},
                                                  {{17, 130}, 3000, false}, {{14, 40}, 100, true},
                                                  {{609, 14}, 800, true},   {{90, 16}, 0, false}};
    ASSERT_NE(View->verticalScrollBar()->style(), QApplication::style());
    for (const auto &[size, value, enabled] : cases) {
        QImage drawn[2] = {QImage(size, QImage::Format_RGB32), QImage(size, QImage::Format_RGB32)};
        for (int i = 0; i < 2; ++i) {
            QScrollBar bar(size.width() > size.height() ? Qt::Horizontal : Qt::Vertical);
            bar.setStyle(i ? QApplication::style() : View->verticalScrollBar()->style());
            bar.setRange(0, 3000);
            bar.setValue(value);
            bar.setEnabled(enabled);
            bar.resize(size);
            drawn[i].fill(Qt::magenta);
            bar.render(&drawn[i], {}, {}, QWidget::DrawChildren);
        }
        EXPECT_EQ(drawn[0], drawn[1]) << size.width() << "x" << size.height() << " at " << value;
    }
}

TEST_F(VirtualTreeView, ADoubleClickOnAColumnDividerFitsTheColumnToItsWidestText)
{
    Add(nullptr);
    View->header()->setStretchLastSection(false);
    View->resizeColumnToContents(0); // what the double click calls
    EXPECT_GT(View->columnWidth(0), View->fontMetrics().horizontalAdvance(QStringLiteral("node 1")));
}
