#include "viewer/udImg.h"

#include "platform/VirtualStringTree.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>

TdmImg *dmImg = nullptr;

namespace {

constexpr int ObjTypeCount = 30;
constexpr int FantomCount = 12;

// Fills List with Count images, Picture at index Special and empty (transparent) ones elsewhere:
// nothing draws the others.
void FillList(TImageList &List, int Count, int Special, const QString &Picture)
{
    QPixmap empty(List.Width(), List.Height());
    empty.fill(Qt::transparent);
    for (int i = 0; i < Count; ++i)
        List.Add(i == Special ? QPixmap(Picture) : empty);
}

// The module lives as long as the application object: made as it starts, freed as it goes.
void CreateImageModule()
{
    if (dmImg)
        return;
    dmImg = new TdmImg;
    qAddPostRoutine([] {
        delete dmImg;
        dmImg = nullptr;
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(CreateImageModule)

TdmImg::TdmImg()
{
    FillList(ilObjType, ObjTypeCount, ObjTypeDeletedImage, QStringLiteral(":/deleted_mark.png"));
    FillList(ilFantom, FantomCount, FantomCommentImage, QStringLiteral(":/comment_mark.png"));
}

void TdmImg::DrawItemMarks(QPainter *Canvas, int X, int Y, int32_t ImageIndex, uint32_t Flags,
                           bool ShowBoxes) const
{
    Canvas->save();
    Canvas->setRenderHint(QPainter::Antialiasing, false);
    if (Flags & MarkCrossFlag) {
        Canvas->setPen(QPen(Qt::red, 2));
        Canvas->drawLine(X + 13, 5, X + 25, 13);
        Canvas->drawLine(X + 25, 5, X + 13, 13);
    }
    // The boxes cover (X-10, 0) up to, not including, (X-2, 8): outline and fill.
    const auto drawBox = [Canvas, X](const QColor &fill) {
        Canvas->setPen(QPen(Qt::black, 1));
        Canvas->setBrush(fill);
        Canvas->drawRect(QRect(X - 10, 0, 7, 7));
    };
    if (ShowBoxes && (Flags & MarkGreenBoxFlag))
        drawBox(QColor(0x00, 0xFF, 0x00));
    if (ShowBoxes && (Flags & MarkRedBoxFlag))
        drawBox(QColor(0xFF, 0x00, 0x00));
    Canvas->restore();
    if (ImageIndex >= 0)
        Canvas->drawPixmap(X - 2, Y - 7, ilFantom.Image(ImageIndex));
}

int ItemMarkX(const QRect &ItemRect, int Level, int Indent, bool ShowRootLines, bool FileList)
{
    int x = ShowRootLines ? ItemRect.left() + (Level + 1) * Indent + 11 : ItemRect.left() + 11;
    if (FileList)
        x += 4;
    return x;
}

void PaintItemMarks(QPainter *Canvas, const QRect &ItemRect, int MarkX, bool HasComment, bool IsDeleted)
{
    if (!HasComment && !IsDeleted)
        return;
    // The marks are laid out from the row's own top: the painter's origin moves there.
    Canvas->save();
    Canvas->translate(0, ItemRect.top());
    const int bottom = ItemRect.height();
    if (HasComment && dmImg)
        dmImg->DrawItemMarks(Canvas, MarkX + 14, 8, FantomCommentImage, 0, true);
    if (IsDeleted) {
        Canvas->setRenderHint(QPainter::Antialiasing, false);
        Canvas->setPen(QPen(Qt::red, 2));
        Canvas->drawLine(MarkX + 14, 4, MarkX + 24, bottom - 4);
        Canvas->drawLine(MarkX + 14, bottom - 4, MarkX + 24, 4);
    }
    Canvas->restore();
}

void PaintTreeItemMarks(TVirtualStringTree *Tree, QPainter *Canvas, TVirtualNode *Node, const QRect &ItemRect,
                        bool HasComment, bool IsDeleted)
{
    if (!Node)
        return;
    const TVirtualTreeOptions &options = Tree->Options();
    const int markX =
        ItemMarkX(ItemRect, Tree->GetNodeLevel(Node), options.Indent, options.ShowRoot, Tree->Tag == 1);
    PaintItemMarks(Canvas, ItemRect, markX, HasComment, IsDeleted);
}

void DrawStatusPanelImage(QPainter *Canvas, int Panel, int ImageIndex, const QRect &Rect)
{
    Q_UNUSED(Panel);
    if (dmImg)
        Canvas->drawPixmap(Rect.topLeft(), dmImg->ilObjType.Image(ImageIndex));
}
