// The item marks as the trees show them: painted from the tree control's after-item-paint event into
// the real view, offscreen, and read back from its pixels.
#include "viewer/udImg.h"

#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeView.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

// What the item record tells the marks.
struct TMarkedItem
{
    bool HasComment;
    bool IsDeleted;
};

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

class ItemMarksInTheView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // As the main window's handler: the node's item gives the two states.
        Tree.OnAfterItemPaint = [](TVirtualStringTree *Sender, QPainter *Canvas, PVirtualNode Node,
                                   const QRect &ItemRect) {
            if (!Node)
                return;
            const auto *item = static_cast<const TMarkedItem *>(Node->Data);
            PaintTreeItemMarks(Sender, Canvas, Node, ItemRect, item->HasComment, item->IsDeleted);
        };
    }

    // Shows the tree in a view and gives what its rows show.
    QImage Show()
    {
        View = std::make_unique<TVirtualTreeView>(&Tree);
        View->resize(400, 300);
        View->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(View.get()));
        return View->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    int RowTop(PVirtualNode Node) const { return View->visualRect(View->IndexOf(Node)).top(); }

    // Whether every opaque pixel of the comment mark shows at (Left, Top) of the image.
    static bool CommentMarkAt(const QImage &Image, int Left, int Top)
    {
        const QImage mark =
            dmImg->ilFantom.Image(FantomCommentImage).toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < mark.height(); ++y)
            for (int x = 0; x < mark.width(); ++x) {
                const QRgb m = mark.pixel(x, y);
                if (qAlpha(m) != 255)
                    continue;
                ++opaque;
                if (Image.pixel(Left + x, Top + y) != (m | 0xFF000000u))
                    return false;
            }
        return opaque > 0;
    }

    TVirtualStringTree Tree;
    std::unique_ptr<TVirtualTreeView> View;
};

TEST_F(ItemMarksInTheView, FolderTreeRowsShowTheirItemsMarks)
{
    TMarkedItem commented{true, false}, deletedAndCommented{true, true}, plain{false, false};
    PVirtualNode top = Tree.AddChild(nullptr, &commented);
    PVirtualNode child = Tree.AddChild(top, &deletedAndCommented);
    PVirtualNode other = Tree.AddChild(nullptr, &plain);
    Tree.SetExpanded(top, true);
    const QImage image = Show();
    const int indent = Tree.Options().Indent;

    // X = (level + 1) * indent + 11; the comment mark at (X + 12, row top + 1).
    const int topX = indent + 11;
    EXPECT_TRUE(CommentMarkAt(image, topX + 12, RowTop(top) + 1));
    EXPECT_FALSE(IsRed(image.pixel(topX + 19, RowTop(top) + 9)));

    const int childX = 2 * indent + 11;
    const int childTop = RowTop(child);
    EXPECT_TRUE(IsRed(image.pixel(childX + 19, childTop + 9))) << "the red cross over a deleted item";
    EXPECT_TRUE(IsRed(image.pixel(childX + 15, childTop + 5)));
    EXPECT_TRUE(IsRed(image.pixel(childX + 23, childTop + 5)));
    EXPECT_FALSE(IsRed(image.pixel(childX + 19, childTop + 5))) << "a cross, not a block";

    // A row with neither state: the place of the marks shows the row's background only.
    const int otherX = indent + 11;
    const QRgb background = image.pixel(otherX + 12, RowTop(other) + 1);
    for (int y = RowTop(other); y < RowTop(other) + Tree.Options().DefaultNodeHeight; ++y)
        for (int x = otherX + 12; x < otherX + 12 + 16; ++x)
            ASSERT_EQ(image.pixel(x, y), background) << "at " << x << ", " << y;
}

TEST_F(ItemMarksInTheView, FileListTopLevelRowPutsTheMarkAtLeftPlus27)
{
    Tree.Tag = 1;
    TVirtualTreeOptions options = Tree.Options();
    options.Indent = 0;
    Tree.SetOptions(options);
    TMarkedItem commented{true, false};
    PVirtualNode row = Tree.AddChild(nullptr, &commented);
    const QImage image = Show();
    EXPECT_TRUE(CommentMarkAt(image, 27, RowTop(row) + 1));
}

} // namespace
