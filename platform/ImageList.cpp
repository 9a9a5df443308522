#include "platform/ImageList.h"

TImageList::TImageList(int width, int height) : FWidth(width), FHeight(height) {}

int TImageList::Add(const QPixmap &image)
{
    if (!image.isNull() && (image.width() != FWidth || image.height() != FHeight))
        FImages.append(image.scaled(FWidth, FHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    else
        FImages.append(image);
    return Count() - 1;
}

QPixmap TImageList::Image(int index) const
{
    if (index < 0 || index >= Count())
        return {};
    return FImages.at(index);
}

QIcon TImageList::Icon(int index) const
{
    const QPixmap image = Image(index);
    return image.isNull() ? QIcon() : QIcon(image);
}
