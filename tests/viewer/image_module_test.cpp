// The image module and the marks it paints, checked on the pixels of images painted through it.
#include "viewer/udImg.h"

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

// A file-list row: no mark, the comment mark, the red cross, or the cross over the mark.
TEST(ImageModule, RowMarksOfAFileListRow)
{
    const QRect row(10, 36, 300, 18);
    const int markX = ItemMarkX(row, 0, 0, true, true);
    const auto marks = [&](bool HasComment, bool IsDeleted) {
        return Painted([&](QPainter &p) { PaintItemMarks(&p, row, markX, HasComment, IsDeleted); });
    };
    EXPECT_TRUE(PaintedBounds(marks(false, false)).isNull()) << "a row with neither state shows no mark";
    const QImage commented = marks(true, false);
    EXPECT_EQ(PaintedBounds(commented), CommentMark().translated(row.left() + 27, row.top() + 1));
    const QImage deleted = marks(false, true);
    const QRect red = BoundsOf(deleted, IsRed);
    EXPECT_EQ(red, PaintedBounds(deleted)) << "the cross is all red";
    EXPECT_TRUE(row.contains(red));
    // Both: a point of the mark well away from the strokes keeps the mark's colour.
    const QImage both = marks(true, true);
    EXPECT_EQ(PaintedBounds(both), PaintedBounds(commented) | red);
    const QPoint awayFromCross(row.left() + 27 + 3, row.top() + 1 + 8);
    ASSERT_NE(commented.pixel(awayFromCross), White);
    EXPECT_EQ(both.pixel(awayFromCross), commented.pixel(awayFromCross));
}

} // namespace
