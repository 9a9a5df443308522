// The folder tree's events: loading a folder on expansion, its texts and icons.
#include "viewer/Main.h"

void TMainForm::tv_FolderTreeExpanding(TVirtualStringTree *Sender, PVirtualNode Node, bool &Allowed)
{
    (void)Sender;
    (void)Node;
    Allowed = true;
}

void TMainForm::tv_FolderTreeGetText(TVirtualStringTree *Sender, PVirtualNode Node, int Column,
                                     TVSTTextType TextType, QString &CellText)
{
    (void)Sender;
    (void)Node;
    (void)Column;
    (void)TextType;
    (void)CellText;
}

void TMainForm::tv_FolderTreeGetImageIndex(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                           int Column, bool &Ghosted, int &ImageIndex)
{
    (void)Sender;
    (void)Node;
    (void)Kind;
    (void)Column;
    (void)Ghosted;
    ImageIndex = -1;
}

void TMainForm::tv_FolderTreeAfterItemPaint(TVirtualStringTree *Sender, QPainter *TargetCanvas,
                                            PVirtualNode Node, const QRect &ItemRect)
{
    (void)Sender;
    (void)TargetCanvas;
    (void)Node;
    (void)ItemRect;
}
