// The item marks as the trees show them: painted from the tree control's after-item-paint event into
// the real view, offscreen, and read back from its pixels.
#include "viewer/udImg.h"

#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeView.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

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

// Whether every opaque pixel of the comment mark shows at (Left, Top) of the image.
bool CommentMarkAt(const QImage &Image, int Left, int Top)
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

TEST(ItemMarksInTheView, FolderTreeRowsShowTheirItemsMarks)
{
    TVirtualStringTree tree;
    // As the main window's handler: the node's item gives the two states.
    tree.OnAfterItemPaint = [](TVirtualStringTree *Sender, QPainter *Canvas, PVirtualNode Node,
                               const QRect &ItemRect) {
        if (!Node)
            return;
        const auto *item = static_cast<const TMarkedItem *>(Node->Data);
        PaintTreeItemMarks(Sender, Canvas, Node, ItemRect, item->HasComment, item->IsDeleted);
    };
    TMarkedItem commented{true, false}, deletedAndCommented{true, true}, plain{false, false};
    PVirtualNode top = tree.AddChild(nullptr, &commented);
    PVirtualNode child = tree.AddChild(top, &deletedAndCommented);
    PVirtualNode other = tree.AddChild(nullptr, &plain);
    tree.SetExpanded(top, true);
    TVirtualTreeView view(&tree);
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QImage image = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto rowTop = [&](PVirtualNode Node) { return view.visualRect(view.IndexOf(Node)).top(); };
    const int indent = tree.Options().Indent;

    // X = (level + 1) * indent + 11; the comment mark at (X + 12, row top + 1).
    const int topX = indent + 11;
    EXPECT_TRUE(CommentMarkAt(image, topX + 12, rowTop(top) + 1));
    EXPECT_FALSE(IsRed(image.pixel(topX + 19, rowTop(top) + 9)));

    const int childX = 2 * indent + 11;
    const int childTop = rowTop(child);
    EXPECT_TRUE(IsRed(image.pixel(childX + 19, childTop + 9))) << "the red cross over a deleted item";
    EXPECT_TRUE(IsRed(image.pixel(childX + 15, childTop + 5)));
    EXPECT_TRUE(IsRed(image.pixel(childX + 23, childTop + 5)));
    EXPECT_FALSE(IsRed(image.pixel(childX + 19, childTop + 5))) << "a cross, not a block";

    // A row with neither state: the place of the marks shows the row's background only.
    const QRgb background = image.pixel(topX + 12, rowTop(other) + 1);
    for (int y = rowTop(other); y < rowTop(other) + tree.Options().DefaultNodeHeight; ++y)
        for (int x = topX + 12; x < topX + 12 + 16; ++x)
            ASSERT_EQ(image.pixel(x, y), background) << "at " << x << ", " << y;
}

} // namespace
