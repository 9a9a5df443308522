#pragma once
// The image module: the image lists the windows share, and the marks painted from them onto the rows
// of both trees (comment mark, red cross of a deleted item) and onto the status bar.
//
// dmImg exists from the application object's creation to its end: it is made as the QApplication
// starts (before any window) and freed when the application object goes.
#include "platform/ImageList.h"

#include <QMenu>
#include <QRect>
#include <cstdint>

class QPainter;
class TVirtualStringTree;
struct TVirtualNode;

// Image indexes that the system draws.
constexpr int ObjTypeDeletedImage = 14; // ilObjType: the deleted mark of the status bar
constexpr int FantomCommentImage = 11;  // ilFantom: the comment mark of the tree rows

// DrawItemMarks flags.
constexpr uint32_t MarkCrossFlag = 0x80;
constexpr uint32_t MarkGreenBoxFlag = 0x2000;
constexpr uint32_t MarkRedBoxFlag = 0x1000;

class TdmImg
{
public:
    // Loads the pictures from the resources. Needs the QApplication.
    TdmImg();

    TImageList ilMaster{32, 32};      // not drawn by the system
    TImageList ilMaster20{20, 20};    // not drawn by the system
    TImageList ilMasterHot20{20, 20}; // not drawn by the system
    TImageList ilMasterHot{32, 32};   // not drawn by the system
    TImageList ilObjType{16, 16};     // 30 images; ObjTypeDeletedImage is the status bar's deleted mark
    TImageList ilFantom{16, 16};      // 12 images; FantomCommentImage is the rows' comment mark
    QMenu PopupMenu1;                 // without items; nothing shows it

    // Paints an item's marks, in this order: with MarkCrossFlag a red cross from (X+13, 5) to
    // (X+25, 13); when ShowBoxes, with MarkGreenBoxFlag a green and then with MarkRedBoxFlag a red box
    // outlined black over (X-10, 0) to (X-2, 8), the right and bottom edges excluded; when ImageIndex
    // is not negative, that image of ilFantom with its top-left corner at (X-2, Y-7).
    void DrawItemMarks(QPainter *Canvas, int X, int Y, int32_t ImageIndex, uint32_t Flags,
                       bool ShowBoxes) const;
};

// The one instance; none before the QApplication exists and after it has gone.
extern TdmImg *dmImg;

// Where a tree row's marks start. ItemRect is the row's rectangle; Level is the node's level (0 for a
// top-level node), Indent the tree's indent in pixels, ShowRootLines whether the tree shows lines at
// the root level; the file list (FileList) puts its marks 4 pixels further right.
int ItemMarkX(const QRect &ItemRect, int Level, int Indent, bool ShowRootLines, bool FileList);

// The after-item-paint marks of one row, painted over what the tree drew. MarkX comes from
// ItemMarkX. With HasComment the comment mark goes to (MarkX + 12, row top + 1); with IsDeleted a red
// cross spans MarkX + 14 to MarkX + 24 between 4 pixels below the row's top and 4 above its bottom.
// The item record supplies the two states: its cached has-comment answer and its deleted flag.
void PaintItemMarks(QPainter *Canvas, const QRect &ItemRect, int MarkX, bool HasComment, bool IsDeleted);

// The marks of Node's row, for the trees' after-item-paint event (the painter's origin at the row's
// top-left, ItemRect the row): the mark position follows the node's level, the tree's indent and its
// root lines, and the file list (Tag 1) moves it 4 pixels right. No node: nothing. The caller takes
// the two states from the node's item; its has-comment answer must be the cached one, since this runs
// for every row painted.
void PaintTreeItemMarks(TVirtualStringTree *Tree, QPainter *Canvas, TVirtualNode *Node, const QRect &ItemRect,
                        bool HasComment, bool IsDeleted);

// Draws image ImageIndex of ilObjType with its top-left corner at Rect's top-left, for the status
// bar's owner-drawn panel: call it from that panel's painting. Panel is not used; the caller moves
// Rect on by itself.
void DrawStatusPanelImage(QPainter *Canvas, int Panel, int ImageIndex, const QRect &Rect);
