// The image module and the marks it paints, checked on the pixels of images painted through it.
#include "viewer/udImg.h"

#include "platform/VirtualStringTree.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>

#include <functional>

void PrintTo(const QRect &r, std::ostream *os)
{
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

namespace {

const QRgb White = qRgb(255, 255, 255);

QImage WhiteCanvas(int width = 400, int height = 100)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(White);
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

void Paint(QImage &canvas, const std::function<void(QPainter &)> &fn)
{
    QPainter p(&canvas);
    fn(p);
}

TEST(ImageModule, MadeWithTheApplicationWithItsLists)
{
    ASSERT_NE(dmImg, nullptr);
    EXPECT_EQ(dmImg->ilObjType.Count(), 30);
    EXPECT_EQ(dmImg->ilFantom.Count(), 12);
    for (const TImageList *list : {&dmImg->ilObjType, &dmImg->ilFantom})
        EXPECT_EQ(QSize(list->Width(), list->Height()), QSize(16, 16));
    EXPECT_EQ(QSize(dmImg->ilMaster.Width(), dmImg->ilMaster.Height()), QSize(32, 32));
    EXPECT_EQ(QSize(dmImg->ilMasterHot.Width(), dmImg->ilMasterHot.Height()), QSize(32, 32));
    EXPECT_EQ(QSize(dmImg->ilMaster20.Width(), dmImg->ilMaster20.Height()), QSize(20, 20));
    EXPECT_EQ(QSize(dmImg->ilMasterHot20.Width(), dmImg->ilMasterHot20.Height()), QSize(20, 20));

    // The two marks are real pictures from the resources; the last image of ilFantom is the comment mark.
    const QPixmap deleted = dmImg->ilObjType.Image(ObjTypeDeletedImage);
    const QPixmap comment = dmImg->ilFantom.Image(dmImg->ilFantom.Count() - 1);
    ASSERT_EQ(deleted.size(), QSize(16, 16));
    ASSERT_EQ(comment.size(), QSize(16, 16));
    EXPECT_FALSE(OpaqueBounds(deleted).isNull());
    EXPECT_FALSE(OpaqueBounds(comment).isNull());
    EXPECT_NE(deleted.toImage(), comment.toImage());
}

TEST(ImageModule, DrawItemMarksPutsTheImageAtXMinus2YMinus7)
{
    QImage canvas = WhiteCanvas();
    Paint(canvas, [](QPainter &p) { dmImg->DrawItemMarks(&p, 40, 20, FantomCommentImage, 0, true); });
    // Flags none: the image alone, nothing else.
    const QRect mark = OpaqueBounds(dmImg->ilFantom.Image(FantomCommentImage));
    EXPECT_EQ(PaintedBounds(canvas), mark.translated(38, 13));

    QImage none = WhiteCanvas();
    Paint(none, [](QPainter &p) { dmImg->DrawItemMarks(&p, 40, 20, -1, 0, true); });
    EXPECT_TRUE(PaintedBounds(none).isNull()) << "a negative index paints nothing";

    // Near the left edge the image is cut, not moved.
    QImage edge = WhiteCanvas();
    Paint(edge, [](QPainter &p) { dmImg->DrawItemMarks(&p, 0, 20, FantomCommentImage, 0, true); });
    const QRect cut = mark.translated(-2, 13) & edge.rect();
    EXPECT_EQ(PaintedBounds(edge), cut);
}

TEST(ImageModule, DrawItemMarksCrossAndBoxes)
{
    const int x = 40;
    QImage cross = WhiteCanvas();
    Paint(cross, [x](QPainter &p) { dmImg->DrawItemMarks(&p, x, 60, -1, MarkCrossFlag, false); });
    const QRect red = BoundsOf(cross, IsRed);
    EXPECT_EQ(red, PaintedBounds(cross)) << "the cross is all red";
    // Two strokes of width 2 from (X+13, 5) to (X+25, 13), crossing at (X+19, 9); Y plays no part.
    EXPECT_NEAR(red.left(), x + 13, 1);
    EXPECT_NEAR(red.right(), x + 25, 1);
    EXPECT_NEAR(red.top(), 5, 1);
    EXPECT_NEAR(red.bottom(), 13, 1);
    EXPECT_TRUE(IsRed(cross.pixel(x + 19, 9)));
    EXPECT_FALSE(IsRed(cross.pixel(x + 19, 6))) << "a cross, not a filled box";

    const QRgb black = qRgb(0, 0, 0), green = qRgb(0, 255, 0), redFill = qRgb(255, 0, 0);
    QImage greenBox = WhiteCanvas();
    Paint(greenBox, [x](QPainter &p) { dmImg->DrawItemMarks(&p, x, 60, -1, MarkGreenBoxFlag, true); });
    EXPECT_EQ(PaintedBounds(greenBox), QRect(x - 10, 0, 8, 8)) << "(X-10, 0) to (X-2, 8), ends excluded";
    EXPECT_EQ(greenBox.pixel(x - 10, 0), black);
    EXPECT_EQ(greenBox.pixel(x - 3, 7), black);
    EXPECT_EQ(greenBox.pixel(x - 6, 4), green);

    QImage both = WhiteCanvas();
    Paint(both,
          [x](QPainter &p) { dmImg->DrawItemMarks(&p, x, 60, -1, MarkGreenBoxFlag | MarkRedBoxFlag, true); });
    EXPECT_EQ(both.pixel(x - 6, 4), redFill) << "the red box is drawn over the green one";
    EXPECT_EQ(both.pixel(x - 3, 0), black);

    QImage hidden = WhiteCanvas();
    Paint(hidden, [x](QPainter &p) {
        dmImg->DrawItemMarks(&p, x, 60, -1, MarkGreenBoxFlag | MarkRedBoxFlag, false);
    });
    EXPECT_TRUE(PaintedBounds(hidden).isNull()) << "no boxes without ShowBoxes";
}

TEST(ImageModule, RowMarksOfAFileListRow)
{
    const QRect row(10, 36, 300, 18);
    const int markX = ItemMarkX(row, 0, 0, true, true);
    const QRect comment = OpaqueBounds(dmImg->ilFantom.Image(FantomCommentImage));

    QImage plain = WhiteCanvas();
    Paint(plain, [&](QPainter &p) { PaintItemMarks(&p, row, markX, false, false); });
    EXPECT_TRUE(PaintedBounds(plain).isNull()) << "a row with neither state shows no mark";

    // The comment mark's corner at left + 27, top + 1.
    QImage commented = WhiteCanvas();
    Paint(commented, [&](QPainter &p) { PaintItemMarks(&p, row, markX, true, false); });
    EXPECT_EQ(PaintedBounds(commented), comment.translated(row.left() + 27, row.top() + 1));

    // The cross from left + 29 to left + 39, 4 pixels inside the row's top and bottom.
    QImage deleted = WhiteCanvas();
    Paint(deleted, [&](QPainter &p) { PaintItemMarks(&p, row, markX, false, true); });
    const QRect red = BoundsOf(deleted, IsRed);
    EXPECT_EQ(red, PaintedBounds(deleted));
    EXPECT_NEAR(red.left(), row.left() + 29, 1);
    EXPECT_NEAR(red.right(), row.left() + 39, 1);
    EXPECT_NEAR(red.top(), row.top() + 4, 1);
    EXPECT_NEAR(red.bottom(), row.top() + row.height() - 4, 1);
    EXPECT_TRUE(IsRed(deleted.pixel(row.left() + 34, row.top() + 9)));

    // A deleted file with a comment: both, the cross over the mark.
    QImage both = WhiteCanvas();
    Paint(both, [&](QPainter &p) { PaintItemMarks(&p, row, markX, true, true); });
    EXPECT_EQ(PaintedBounds(both), PaintedBounds(commented) | red);
    EXPECT_TRUE(IsRed(both.pixel(row.left() + 34, row.top() + 9)));
    // A point of the mark well away from both strokes keeps the mark's colour.
    const QPoint awayFromCross(row.left() + 27 + 3, row.top() + 1 + 8);
    ASSERT_NE(commented.pixel(awayFromCross), White);
    EXPECT_EQ(both.pixel(awayFromCross), commented.pixel(awayFromCross));
}

TEST(ImageModule, TreeRowMarksFollowTheNodeAndTheTree)
{
    TVirtualStringTree tree;
    TVirtualTreeOptions options = tree.Options();
    options.Indent = 18;
    options.ShowRoot = true;
    tree.SetOptions(options);
    PVirtualNode top = tree.AddChild(nullptr);
    PVirtualNode deep = tree.AddChild(tree.AddChild(top));
    const QRect row(0, 0, 400, 18);
    const QRect comment = OpaqueBounds(dmImg->ilFantom.Image(FantomCommentImage));
    auto markOf = [&](PVirtualNode node) {
        QImage canvas = WhiteCanvas(400, 18);
        Paint(canvas, [&](QPainter &p) { PaintTreeItemMarks(&tree, &p, node, row, true, false); });
        return PaintedBounds(canvas);
    };

    // Folder tree (Tag 0): X = left + (level + 1) * indent + 11, the mark at X + 12.
    EXPECT_EQ(markOf(top), comment.translated(18 + 11 + 12, 1));
    EXPECT_EQ(markOf(deep), comment.translated(3 * 18 + 11 + 12, 1));
    EXPECT_TRUE(markOf(nullptr).isNull()) << "no node, no marks";

    // File list (Tag 1, indent 0): a top-level row's mark at left + 27.
    tree.Tag = 1;
    options.Indent = 0;
    tree.SetOptions(options);
    EXPECT_EQ(markOf(top), comment.translated(27, 1));

    // Without root lines the level plays no part.
    tree.Tag = 0;
    options.Indent = 18;
    options.ShowRoot = false;
    tree.SetOptions(options);
    EXPECT_EQ(markOf(deep), comment.translated(11 + 12, 1));
}

TEST(ImageModule, StatusPanelImageAtTheRectanglesCorner)
{
    QImage canvas = WhiteCanvas(200, 20);
    Paint(canvas,
          [](QPainter &p) { DrawStatusPanelImage(&p, 0, ObjTypeDeletedImage, QRect(0, 2, 100, 16)); });
    const QRect mark = OpaqueBounds(dmImg->ilObjType.Image(ObjTypeDeletedImage));
    EXPECT_EQ(PaintedBounds(canvas), mark.translated(0, 2));

    QImage moved = WhiteCanvas(200, 20);
    Paint(moved,
          [](QPainter &p) { DrawStatusPanelImage(&p, 0, ObjTypeDeletedImage, QRect(14, 2, 100, 16)); });
    EXPECT_EQ(PaintedBounds(moved), mark.translated(14, 2));
}

} // namespace
