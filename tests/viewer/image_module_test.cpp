// The image module and the marks it paints, checked on the pixels of images painted through it.
#include "viewer/udImg.h"

#include "platform/VirtualStringTree.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>

#include <functional>

namespace {

const QRgb White = qRgb(255, 255, 255);

// A white canvas after fn has painted on it.
QImage Painted(const std::function<void(QPainter &)> &fn, int width = 400, int height = 100)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(White);
    {
        QPainter p(&image);
        fn(p);
    }
    return image;
}

// The smallest rectangle holding every pixel for which pick is true (null when there is none).
QRect BoundsOf(const QImage &image, const std::function<bool(QRgb)> &pick)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (pick(image.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QRect PaintedBounds(const QImage &canvas)
{
    return BoundsOf(canvas, [](QRgb c) { return c != White; });
}

// The opaque part of a picture of the image lists.
QRect OpaqueBounds(const QPixmap &picture)
{
    return BoundsOf(picture.toImage().convertToFormat(QImage::Format_ARGB32),
                    [](QRgb c) { return qAlpha(c) > 0; });
}

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// The comment mark's opaque part.
QRect CommentMark()
{
    return OpaqueBounds(dmImg->ilFantom.Image(FantomCommentImage));
}

TEST(ImageModule, MadeWithTheApplicationWithItsLists)
{
    ASSERT_NE(dmImg, nullptr);
    EXPECT_EQ(dmImg->ilObjType.Count(), 30);
    EXPECT_EQ(dmImg->ilFantom.Count(), 12);
    // The two marks are real pictures from the resources; the last image of ilFantom is the comment mark.
    const QPixmap deleted = dmImg->ilObjType.Image(ObjTypeDeletedImage);
    const QPixmap comment = dmImg->ilFantom.Image(dmImg->ilFantom.Count() - 1);
    ASSERT_EQ(deleted.size(), QSize(16, 16));
    ASSERT_EQ(comment.size(), QSize(16, 16));
    EXPECT_FALSE(OpaqueBounds(deleted).isNull());
    EXPECT_FALSE(CommentMark().isNull());
    EXPECT_NE(deleted.toImage(), comment.toImage());
}

TEST(ImageModule, DrawItemMarks)
{
    // The image alone at (X - 2, Y - 7); near the left edge it is cut, not moved; a negative index
    // paints nothing.
    const auto image = [](int X, int Index) {
        return PaintedBounds(Painted([&](QPainter &p) { dmImg->DrawItemMarks(&p, X, 20, Index, 0, true); }));
    };
    EXPECT_EQ(image(40, FantomCommentImage), CommentMark().translated(38, 13));
    EXPECT_EQ(image(0, FantomCommentImage), CommentMark().translated(-2, 13) & QRect(0, 0, 400, 100));
    EXPECT_TRUE(image(40, -1).isNull());

    // The cross: two red strokes of width 2 from (X+13, 5) to (X+25, 13), crossing at (X+19, 9);
    // Y plays no part.
    const int x = 40;
    const QImage cross =
        Painted([x](QPainter &p) { dmImg->DrawItemMarks(&p, x, 60, -1, MarkCrossFlag, false); });
    const QRect red = BoundsOf(cross, IsRed);
    EXPECT_EQ(red, PaintedBounds(cross)) << "the cross is all red";
    EXPECT_NEAR(red.left(), x + 13, 1);
    EXPECT_NEAR(red.right(), x + 25, 1);
    EXPECT_NEAR(red.top(), 5, 1);
    EXPECT_NEAR(red.bottom(), 13, 1);
    EXPECT_TRUE(IsRed(cross.pixel(x + 19, 9)));
    EXPECT_FALSE(IsRed(cross.pixel(x + 19, 6))) << "a cross, not a filled box";

    // The boxes from (X-10, 0) to (X-2, 8), ends excluded, black edged; the red one over the green one;
    // none without ShowBoxes.
    const auto boxes = [x](uint32_t Flags, bool Show) {
        return Painted([&](QPainter &p) { dmImg->DrawItemMarks(&p, x, 60, -1, Flags, Show); });
    };
    const QImage green = boxes(MarkGreenBoxFlag, true);
    EXPECT_EQ(PaintedBounds(green), QRect(x - 10, 0, 8, 8));
    EXPECT_EQ(green.pixel(x - 10, 0), qRgb(0, 0, 0));
    EXPECT_EQ(green.pixel(x - 3, 7), qRgb(0, 0, 0));
    EXPECT_EQ(green.pixel(x - 6, 4), qRgb(0, 255, 0));
    const QImage both = boxes(MarkGreenBoxFlag | MarkRedBoxFlag, true);
    EXPECT_EQ(both.pixel(x - 6, 4), qRgb(255, 0, 0));
    EXPECT_EQ(both.pixel(x - 3, 0), qRgb(0, 0, 0));
    EXPECT_TRUE(PaintedBounds(boxes(MarkGreenBoxFlag | MarkRedBoxFlag, false)).isNull());
}

TEST(ImageModule, RowMarksOfAFileListRow)
{
    const QRect row(10, 36, 300, 18);
    const int markX = ItemMarkX(row, 0, 0, true, true);
    const auto marks = [&](bool HasComment, bool IsDeleted) {
        return Painted([&](QPainter &p) { PaintItemMarks(&p, row, markX, HasComment, IsDeleted); });
    };
    EXPECT_TRUE(PaintedBounds(marks(false, false)).isNull()) << "a row with neither state shows no mark";
    // The comment mark's corner at left + 27, top + 1.
    const QImage commented = marks(true, false);
    EXPECT_EQ(PaintedBounds(commented), CommentMark().translated(row.left() + 27, row.top() + 1));
    // The cross from left + 29 to left + 39, 4 pixels inside the row's top and bottom.
    const QImage deleted = marks(false, true);
    const QRect red = BoundsOf(deleted, IsRed);
    EXPECT_EQ(red, PaintedBounds(deleted));
    EXPECT_NEAR(red.left(), row.left() + 29, 1);
    EXPECT_NEAR(red.right(), row.left() + 39, 1);
    EXPECT_NEAR(red.top(), row.top() + 4, 1);
    EXPECT_NEAR(red.bottom(), row.top() + row.height() - 4, 1);

    // A deleted file with a comment: both, the cross over the mark; a point of the mark well away
    // from both strokes keeps the mark's colour.
    const QImage both = marks(true, true);
    EXPECT_EQ(PaintedBounds(both), PaintedBounds(commented) | red);
    EXPECT_TRUE(IsRed(both.pixel(row.left() + 34, row.top() + 9)));
    const QPoint awayFromCross(row.left() + 27 + 3, row.top() + 1 + 8);
    ASSERT_NE(commented.pixel(awayFromCross), White);
    EXPECT_EQ(both.pixel(awayFromCross), commented.pixel(awayFromCross));
}

TEST(ImageModule, TreeRowMarksFollowTheNodeAndTheTree)
{
    TVirtualStringTree tree;
    TVirtualTreeOptions options = tree.Options();
    const auto set = [&](int Tag, int Indent, bool ShowRoot) {
        tree.Tag = Tag;
        options.Indent = Indent;
        options.ShowRoot = ShowRoot;
        tree.SetOptions(options);
    };
    PVirtualNode top = tree.AddChild(nullptr);
    PVirtualNode deep = tree.AddChild(tree.AddChild(top));
    const auto markOf = [&](PVirtualNode node) {
        return PaintedBounds(Painted(
            [&](QPainter &p) { PaintTreeItemMarks(&tree, &p, node, QRect(0, 0, 400, 18), true, false); }, 400,
            18));
    };

    // Folder tree (Tag 0): X = left + (level + 1) * indent + 11, the mark at X + 12.
    set(0, 18, true);
    EXPECT_EQ(markOf(top), CommentMark().translated(18 + 11 + 12, 1));
    EXPECT_EQ(markOf(deep), CommentMark().translated(3 * 18 + 11 + 12, 1));
    EXPECT_TRUE(markOf(nullptr).isNull()) << "no node, no marks";
    // File list (Tag 1, indent 0): a top-level row's mark at left + 27.
    set(1, 0, true);
    EXPECT_EQ(markOf(top), CommentMark().translated(27, 1));
    // Without root lines the level plays no part.
    set(0, 18, false);
    EXPECT_EQ(markOf(deep), CommentMark().translated(11 + 12, 1));
}

TEST(ImageModule, StatusPanelImageAtTheRectanglesCorner)
{
    for (const int left : {0, 14}) {
        const QImage canvas = Painted(
            [left](QPainter &p) {
                DrawStatusPanelImage(&p, 0, ObjTypeDeletedImage, QRect(left, 2, 100, 16));
            },
            200, 20);
        EXPECT_EQ(PaintedBounds(canvas),
                  OpaqueBounds(dmImg->ilObjType.Image(ObjTypeDeletedImage)).translated(left, 2))
            << left;
    }
}

} // namespace
