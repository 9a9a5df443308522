#pragma once
// A list of equally sized images addressed by index, as the trees' image-index events hand them out.
// The list owns copies of its images (QPixmap is implicitly shared, so copies are cheap). Main thread only.
#include <QIcon>
#include <QPixmap>
#include <QVector>

class TImageList
{
public:
    explicit TImageList(int width = 16, int height = 16);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return static_cast<int>(FImages.size()); }

    // Appends image and returns its index. An image of another size is scaled to fit the list's size.
    int Add(const QPixmap &image);
    // The image at index, or a null pixmap outside 0..Count-1.
    QPixmap Image(int index) const;
    // The image at index as an icon for item views (a null icon outside the list).
    QIcon Icon(int index) const;
    void Clear() { FImages.clear(); }

private:
    int FWidth;
    int FHeight;
    QVector<QPixmap> FImages;
};
