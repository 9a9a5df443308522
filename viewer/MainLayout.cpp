// The main window's components with their design-time values, the tool bars' glyphs, and the
// run-time layout, images, captions and hints.
#include "viewer/Main.h"

#include "platform/ShellApi.h"
#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Rights holder and first year of the About page; the developer's web address.
const QString HolderDesignText = QStringLiteral("Korrin Lab ");
constexpr int FirstCopyrightYear = 2012;
const QString DeveloperAddress = QStringLiteral("https://www.korrinlab.example/");

// Glyph indexes in il_NavigationImList.
enum TNavigationImage {
    niOpen,
    niSave,
    niExport,
    niPrev,
    niNext,
    niUp,
    niFastSearch,
    niFullSearch,
};

template <class T> T *Named(T *Object, const char *Name)
{
    Object->setObjectName(QLatin1String(Name));
    return Object;
}

// A label that takes the size of its caption, placed at Left, Top of a parent without a layout (or
// put into a layout by the caller).
QLabel *NewLabel(QWidget *Parent, const char *Name, const QString &Caption, int Left = 0, int Top = 0)
{
    auto *label = Named(new QLabel(Caption, Parent), Name);
    label->move(Left, Top);
    label->adjustSize();
    return label;
}

// A caption change of a label that sizes itself to its caption.
void SetCaption(QLabel *Label, const QString &Caption)
{
    Label->setText(Caption);
    Label->adjustSize();
}

QToolButton *NewToolButton(QToolBar *Bar, const char *Name, const TImageList &Images, int Image)
{
    auto *button = Named(new QToolButton(Bar), Name);
    button->setIcon(Images.Icon(Image));
    button->setAutoRaise(true);
    Bar->addWidget(button);
    return button;
}

QAction *NewSeparator(QToolBar *Bar, const char *Name)
{
    return Named(Bar->addSeparator(), Name);
}

// ---- Glyphs, painted on a 24x24 transparent square.

QPixmap Glyph(const std::function<void(QPainter &)> &Paint)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Paint(painter);
    return pixmap;
}

void PaintArrow(QPainter &p, qreal Angle)
{
    p.translate(12, 12);
    p.rotate(Angle);
    QPainterPath path;
    // Pointing right: shaft then head.
    path.moveTo(-8, -3);
    path.lineTo(1, -3);
    path.lineTo(1, -8);
    path.lineTo(9, 0);
    path.lineTo(1, 8);
    path.lineTo(1, 3);
    path.lineTo(-8, 3);
    path.closeSubpath();
    p.setPen(QPen(QColor(0x1d, 0x4f, 0x91), 1.2));
    p.setBrush(QColor(0x4a, 0x90, 0xd9));
    p.drawPath(path);
}

void PaintMagnifier(QPainter &p, qreal X, qreal Y, qreal Radius)
{
    p.setPen(QPen(QColor(0x5a, 0x3a, 0x1a), 3.5, Qt::SolidLine, Qt::RoundCap));
    const qreal d = Radius * 0.72;
    p.drawLine(QPointF(X + d, Y + d), QPointF(X + d + 6, Y + d + 6));
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
    p.setBrush(QColor(0xcf, 0xe8, 0xff));
    p.drawEllipse(QPointF(X, Y), Radius, Radius);
}

} // namespace

void TMainForm::PaintNavigationImages()
{
    // Open: a yellow folder, its lid open.
    il_NavigationImList->Add(Glyph([](QPainter &p) {
        p.setPen(QPen(QColor(0x8a, 0x63, 0x10), 1));
        p.setBrush(QColor(0xe0, 0xb0, 0x40));
        p.drawRoundedRect(QRectF(2.5, 5.5, 17, 14), 1.5, 1.5);
        p.drawRect(QRectF(2.5, 4.5, 7, 2));
        QPainterPath lid;
        lid.moveTo(6.5, 10.5);
        lid.lineTo(22.5, 10.5);
        lid.lineTo(18.5, 19.5);
        lid.lineTo(2.5, 19.5);
        lid.closeSubpath();
        p.setBrush(QColor(0xf6, 0xd3, 0x6b));
        p.drawPath(lid);
    }));
    // Save: a disk.
    il_NavigationImList->Add(Glyph([](QPainter &p) {
        p.setPen(QPen(QColor(0x1a, 0x2a, 0x5a), 1));
        p.setBrush(QColor(0x33, 0x55, 0xa5));
        QPainterPath body;
        body.moveTo(3.5, 3.5);
        body.lineTo(17.5, 3.5);
        body.lineTo(20.5, 6.5);
        body.lineTo(20.5, 20.5);
        body.lineTo(3.5, 20.5);
        body.closeSubpath();
        p.drawPath(body);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 12.5, 11, 8));
        p.setBrush(QColor(0xc8, 0xcf, 0xdc));
        p.drawRect(QRectF(7.5, 3.5, 8, 5));
        p.setPen(QPen(QColor(0x9a, 0xa4, 0xb8), 1));
        p.drawLine(QPointF(8, 15.5), QPointF(16, 15.5));
        p.drawLine(QPointF(8, 17.5), QPointF(16, 17.5));
    }));
    // Export: an envelope with a green arrow going out.
    il_NavigationImList->Add(Glyph([](QPainter &p) {
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
        p.setBrush(QColor(0xfa, 0xfa, 0xf2));
        p.drawRect(QRectF(1.5, 8.5, 16, 12));
        p.drawPolyline(QPolygonF({QPointF(1.5, 8.5), QPointF(9.5, 15.5), QPointF(17.5, 8.5)}));
        p.setPen(QPen(QColor(0x1c, 0x6e, 0x1c), 1));
        p.setBrush(QColor(0x3c, 0xb0, 0x3c));
        QPainterPath arrow;
        arrow.moveTo(11, 6);
        arrow.lineTo(16, 6);
        arrow.lineTo(16, 2);
        arrow.lineTo(23, 7.5);
        arrow.lineTo(16, 13);
        arrow.lineTo(16, 9);
        arrow.lineTo(11, 9);
        arrow.closeSubpath();
        p.drawPath(arrow);
    }));
    il_NavigationImList->Add(Glyph([](QPainter &p) { PaintArrow(p, 180); })); // previous
    il_NavigationImList->Add(Glyph([](QPainter &p) { PaintArrow(p, 0); }));   // next
    il_NavigationImList->Add(Glyph([](QPainter &p) { PaintArrow(p, -90); })); // up
    // Search by name: a magnifier.
    il_NavigationImList->Add(Glyph([](QPainter &p) { PaintMagnifier(p, 10, 10, 6.5); }));
    // Search: a magnifier over a list.
    il_NavigationImList->Add(Glyph([](QPainter &p) {
        p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 13, 17));
        p.setPen(QPen(QColor(0x50, 0x80, 0xc0), 1.5));
        for (qreal y = 5; y < 16; y += 3)
            p.drawLine(QPointF(5, y), QPointF(13, y));
        PaintMagnifier(p, 14, 13, 5);
    }));
}

void TMainForm::BuildComponents()
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Parvix Viewer"));
    resize(1000, 700);
    // The saved geometry may make the window smaller than its contents would like.
    setMinimumSize(150, 100);
    // No tool-bar menu on a right click: the bars are fixed.
    setContextMenuPolicy(Qt::NoContextMenu);

    il_NavigationImList = new TImageList(24, 24);
    PaintNavigationImages();
    il_IconsImList = new TImageList(16, 16);

    // ---- Main tool bar
    tbar_MainToolBar = Named(new QToolBar(this), "tbar_MainToolBar");
    tbar_MainToolBar->setMovable(false);
    tbar_MainToolBar->setFloatable(false);
    tbar_MainToolBar->setIconSize(QSize(24, 24));
    addToolBar(Qt::TopToolBarArea, tbar_MainToolBar);
    tb_OpenBase = NewToolButton(tbar_MainToolBar, "tb_OpenBase", *il_NavigationImList, niOpen);
    ToolButton1 = NewSeparator(tbar_MainToolBar, "ToolButton1");
    tb_SaveButton = NewToolButton(tbar_MainToolBar, "tb_SaveButton", *il_NavigationImList, niSave);
    tb_ExportBase = NewToolButton(tbar_MainToolBar, "tb_ExportBase", *il_NavigationImList, niExport);
    ToolButton4 = NewSeparator(tbar_MainToolBar, "ToolButton4");
    tbar_OpenFolder = Named(new QWidget(tbar_MainToolBar), "tbar_OpenFolder");
    auto *openFolderLayout = new QHBoxLayout(tbar_OpenFolder);
    openFolderLayout->setContentsMargins(0, 0, 0, 0);
    tb_ExportFileName = Named(new QToolButton(tbar_OpenFolder), "tb_ExportFileName");
    tb_ExportFileName->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tb_ExportFileName->setAutoRaise(true);
    tb_ExportFileName->hide();
    openFolderLayout->addWidget(tb_ExportFileName);
    tbar_MainToolBar->addWidget(tbar_OpenFolder);
    QObject::connect(tb_OpenBase, &QToolButton::clicked, this, [this] { tb_OpenBaseClick(); });
    QObject::connect(tb_SaveButton, &QToolButton::clicked, this, [this] { tb_SaveButtonClick(); });
    QObject::connect(tb_ExportBase, &QToolButton::clicked, this, [this] { tb_ExportBaseClick(); });
    QObject::connect(tb_ExportFileName, &QToolButton::clicked, this, [this] { tb_ExportFileNameClick(); });

    // ---- Client area: the main panel above, the information panel below.
    Splitter1 = Named(new QSplitter(Qt::Vertical, this), "Splitter1");
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);

    p_MainPanel = Named(new QWidget(Splitter1), "p_MainPanel");
    auto *mainPanelLayout = new QHBoxLayout(p_MainPanel);
    mainPanelLayout->setContentsMargins(0, 0, 0, 0);
    Splitter2 = Named(new QSplitter(Qt::Horizontal, p_MainPanel), "Splitter2");
    Splitter2->setChildrenCollapsible(false);
    mainPanelLayout->addWidget(Splitter2);

    // Left: the folder tree.
    gb_FoldersTree = Named(new QGroupBox(Splitter2), "gb_FoldersTree");
    gb_FoldersTree->setMinimumWidth(21);
    auto *foldersLayout = new QVBoxLayout(gb_FoldersTree);
    foldersLayout->setContentsMargins(2, 2, 2, 2);
    tv_FolderTree = new TVirtualStringTree;
    tv_FolderTree->Tag = 0;
    tv_FolderTreeView = new TVirtualTreeView(tv_FolderTree, gb_FoldersTree);
    tv_FolderTreeView->setObjectName(QStringLiteral("tv_FolderTree"));
    foldersLayout->addWidget(tv_FolderTreeView);
    tv_FolderTree->OnExpanding = [this](TVirtualStringTree *Sender, PVirtualNode Node, bool &Allowed) {
        tv_FolderTreeExpanding(Sender, Node, Allowed);
    };
    tv_FolderTree->OnGetText = [this](TVirtualStringTree *Sender, PVirtualNode Node, int Column,
                                      TVSTTextType TextType, QString &CellText) {
        tv_FolderTreeGetText(Sender, Node, Column, TextType, CellText);
    };
    tv_FolderTree->OnGetImageIndex = [this](TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                            int Column, bool &Ghosted, int &ImageIndex) {
        tv_FolderTreeGetImageIndex(Sender, Node, Kind, Column, Ghosted, ImageIndex);
    };
    tv_FolderTree->OnAfterItemPaint = [this](TVirtualStringTree *Sender, QPainter *Canvas, PVirtualNode Node,
                                             const QRect &ItemRect) {
        tv_FolderTreeAfterItemPaint(Sender, Canvas, Node, ItemRect);
    };

    // Right: the file list with its tool bar and the result-page bar.
    gb_ViewFiles = Named(new QGroupBox(Splitter2), "gb_ViewFiles");
    gb_ViewFiles->setMinimumWidth(21);
    auto *filesLayout = new QVBoxLayout(gb_ViewFiles);
    filesLayout->setContentsMargins(2, 2, 2, 2);
    filesLayout->setSpacing(2);
    tbar_FolderToolBar = Named(new QToolBar(gb_ViewFiles), "tbar_FolderToolBar");
    tbar_FolderToolBar->setIconSize(QSize(20, 20));
    tb_Prev = NewToolButton(tbar_FolderToolBar, "tb_Prev", *il_NavigationImList, niPrev);
    tb_Prev->setEnabled(false);
    tb_Next = NewToolButton(tbar_FolderToolBar, "tb_Next", *il_NavigationImList, niNext);
    tb_Next->setEnabled(false);
    ToolButton2 = NewSeparator(tbar_FolderToolBar, "ToolButton2");
    tb_Up = NewToolButton(tbar_FolderToolBar, "tb_Up", *il_NavigationImList, niUp);
    ToolButton3 = NewSeparator(tbar_FolderToolBar, "ToolButton3");
    edit_Search = Named(new QLineEdit(tbar_FolderToolBar), "edit_Search");
    edit_Search->setFixedWidth(220);
    tbar_FolderToolBar->addWidget(edit_Search);
    tb_FastSearch = NewToolButton(tbar_FolderToolBar, "tb_FastSearch", *il_NavigationImList, niFastSearch);
    tb_FullSearch = NewToolButton(tbar_FolderToolBar, "tb_FullSearch", *il_NavigationImList, niFullSearch);
    filesLayout->addWidget(tbar_FolderToolBar);

    tv_FilesTree = new TVirtualStringTree;
    tv_FilesTree->Tag = 1;
    TVirtualTreeOptions filesOptions = tv_FilesTree->Options();
    filesOptions.FullRowSelect = true;
    filesOptions.Indent = 0;
    filesOptions.Margin = 8;
    filesOptions.ToggleOnDblClick = true;
    tv_FilesTree->SetOptions(filesOptions);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Name"), 300, Qt::AlignLeft);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Size"), 150, Qt::AlignRight);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Create"), 150, Qt::AlignLeft);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Update"), 150, Qt::AlignLeft);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Access"), 150, Qt::AlignLeft);
    tv_FilesTree->Header.AddColumn(QStringLiteral("Type"), 150, Qt::AlignLeft);
    // The name column keeps its own colour; the others take the tree's until they are sorted by.
    tv_FilesTree->Header.SetColumnParentColor(0, false);
    tv_FilesTree->Header.SetVisible(true);
    tv_FilesTreeView = new TVirtualTreeView(tv_FilesTree, gb_ViewFiles);
    tv_FilesTreeView->setObjectName(QStringLiteral("tv_FilesTree"));
    // Both trees show the item marks.
    tv_FilesTree->OnAfterItemPaint = tv_FolderTree->OnAfterItemPaint;
    filesLayout->addWidget(tv_FilesTreeView, 1);

    gb_MoreResults = Named(new QGroupBox(gb_ViewFiles), "gb_MoreResults");
    gb_MoreResults->setFixedHeight(40);
    lbl_Founded = NewLabel(gb_MoreResults, "lbl_Founded", QStringLiteral("Founded: "), 8, 14);
    lbl_FoundedCount = NewLabel(gb_MoreResults, "lbl_FoundedCount", QStringLiteral("0"), 70, 14);
    lbl_Shown = NewLabel(gb_MoreResults, "lbl_Shown", QStringLiteral("Shown: "), 160, 14);
    lbl_ShownCount = NewLabel(gb_MoreResults, "lbl_ShownCount", QStringLiteral("0"), 210, 14);
    btn_MoreResults =
        Named(new QPushButton(QStringLiteral("More results..."), gb_MoreResults), "btn_MoreResults");
    btn_MoreResults->setGeometry(300, 8, 100, 25);
    gb_MoreResults->installEventFilter(this); // keeps the button at the right edge
    gb_MoreResults->hide();
    filesLayout->addWidget(gb_MoreResults);

    Splitter2->addWidget(gb_FoldersTree);
    Splitter2->addWidget(gb_ViewFiles);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({361, 639});

    // ---- The information panel.
    gb_InfoGroupBox = Named(new QFrame(Splitter1), "gb_InfoGroupBox");
    gb_InfoGroupBox->setMinimumHeight(21);
    auto *infoLayout = new QVBoxLayout(gb_InfoGroupBox);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->setSpacing(0);
    pc_Information = Named(new QTabWidget(gb_InfoGroupBox), "pc_Information");
    pc_Information->setTabPosition(QTabWidget::South);
    infoLayout->addWidget(pc_Information, 1);

    ts_Information = Named(new QWidget, "ts_Information");
    auto *informationLayout = new QVBoxLayout(ts_Information);
    informationLayout->setContentsMargins(4, 2, 4, 4);
    informationLayout->setSpacing(2);
    auto *sizeRow = new QWidget(ts_Information); // the size labels are placed by InitLabels
    lbl_TxtSize = NewLabel(sizeRow, "lbl_TxtSize", QStringLiteral("Size: "), 4, 2);
    lbl_sizeLabel = NewLabel(sizeRow, "lbl_sizeLabel", QStringLiteral("0"), 40, 2);
    sizeRow->setFixedHeight(lbl_TxtSize->height() + 4);
    informationLayout->addWidget(sizeRow);
    mem_Comments = Named(new QPlainTextEdit(ts_Information), "mem_Comments");
    informationLayout->addWidget(mem_Comments, 1);
    mem_Comments->setReadOnly(true); // until an item is focused
    pc_Information->addTab(ts_Information, QStringLiteral("ts_Information"));

    ts_About = Named(new QWidget, "ts_About");
    auto *aboutLayout = new QGridLayout(ts_About);
    aboutLayout->setContentsMargins(12, 8, 12, 8);
    aboutLayout->setHorizontalSpacing(16);
    lbl_Prod = NewLabel(ts_About, "lbl_Prod", QStringLiteral("Product:"));
    lbl_ProdInfo = NewLabel(ts_About, "lbl_ProdInfo", QStringLiteral("Parvix Viewer"));
    lbl_Ver = NewLabel(ts_About, "lbl_Ver", QStringLiteral("Version:"));
    lbl_VerInfo = NewLabel(ts_About, "lbl_VerInfo", QString());
    lbl_Holder = NewLabel(ts_About, "lbl_Holder", QStringLiteral("Legal copyright:"));
    lbl_HolderInfo = NewLabel(ts_About, "lbl_HolderInfo", HolderDesignText);
    lbl_Develop = NewLabel(ts_About, "lbl_Develop", QStringLiteral("Developer:"));
    lbl_DevelopInfo = NewLabel(ts_About, "lbl_DevelopInfo", DeveloperAddress);
    lbl_DevelopInfo->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = lbl_DevelopInfo->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 0xcc));
    lbl_DevelopInfo->setPalette(linkPalette);
    QFont linkFont = lbl_DevelopInfo->font();
    linkFont.setUnderline(true);
    lbl_DevelopInfo->setFont(linkFont);
    lbl_DevelopInfo->installEventFilter(this); // its click
    QLabel *const captions[] = {lbl_Prod, lbl_Ver, lbl_Holder, lbl_Develop};
    QLabel *const values[] = {lbl_ProdInfo, lbl_VerInfo, lbl_HolderInfo, lbl_DevelopInfo};
    for (int row = 0; row < 4; ++row) {
        aboutLayout->addWidget(captions[row], row, 0);
        aboutLayout->addWidget(values[row], row, 1);
    }
    im_Logo = Named(new QLabel(ts_About), "im_Logo");
    aboutLayout->addWidget(im_Logo, 0, 2, 4, 1);
    mem_AdditionalInfo = Named(new QPlainTextEdit(ts_About), "mem_AdditionalInfo");
    mem_AdditionalInfo->setReadOnly(true);
    aboutLayout->addWidget(mem_AdditionalInfo, 0, 3, 5, 1);
    aboutLayout->setColumnStretch(3, 1);
    aboutLayout->setRowStretch(4, 1);
    pc_Information->addTab(ts_About, QStringLiteral("ts_About"));
    QObject::connect(pc_Information, &QTabWidget::currentChanged, this,
                     [this](int) { pc_InformationChange(pc_Information); });

    auto *statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(0, 0, 0, 0);
    sb_InfoStatusBar = Named(new TStatusBar(gb_InfoGroupBox), "sb_InfoStatusBar");
    sb_InfoStatusBar->AddPanel(100, true);
    sb_InfoStatusBar->AddPanel(50);
    sb_InfoStatusBar->AddPanel(1015);
    statusRow->addWidget(sb_InfoStatusBar, 1);
    mainProgressBar = Named(new QProgressBar(gb_InfoGroupBox), "mainProgressBar");
    mainProgressBar->setRange(0, 100);
    mainProgressBar->setValue(0);
    mainProgressBar->setTextVisible(false);
    mainProgressBar->setFixedWidth(150);
    mainProgressBar->setMaximumHeight(sb_InfoStatusBar->sizeHint().height());
    statusRow->addWidget(mainProgressBar);
    infoLayout->addLayout(statusRow);

    Splitter1->addWidget(p_MainPanel);
    Splitter1->addWidget(gb_InfoGroupBox);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({527, 173});

    // ---- Not visible.
    pm_FilesTreePopupMenu = Named(new QMenu(this), "pm_FilesTreePopupMenu");
    mi_MoreResults =
        Named(pm_FilesTreePopupMenu->addAction(QStringLiteral("mi_MoreResults")), "mi_MoreResults");
    mi_MoreResults->setEnabled(false);
    mi_GoToFolder = Named(pm_FilesTreePopupMenu->addAction(QStringLiteral("mi_GoToFolder")), "mi_GoToFolder");
    tv_FilesTree->PopupMenu = pm_FilesTreePopupMenu;

    ConnectFileList();
    ConnectNavigation();
    ConnectChecks();
    ConnectSearch();
}

QFileDialog *TMainForm::OpenBaseDialog()
{
    if (dlg_OpenBase)
        return dlg_OpenBase;
    dlg_OpenBase = Named(new QFileDialog(this), "dlg_OpenBase");
    dlg_OpenBase->setAcceptMode(QFileDialog::AcceptOpen);
    dlg_OpenBase->setOption(QFileDialog::DontUseNativeDialog);
    // The dialog watches its folder, which may hold the open report and its journal: types and icons
    // by name, so that it never opens them. Never freed: every dialog of the program may use it.
    static TNameIconProvider *const NameIcons = new TNameIconProvider;
    dlg_OpenBase->setIconProvider(NameIcons);
    dlg_OpenBase->setDefaultSuffix(QStringLiteral("db3"));
    dlg_OpenBase->setNameFilters(
        {QStringLiteral("Korrin Report Files (*.korrinrep)"), QStringLiteral("All files (*)")});
    dlg_OpenBase->selectNameFilter(dlg_OpenBase->nameFilters().constFirst());
    return dlg_OpenBase;
}

void TMainForm::PlaceMoreResultsButton()
{
    btn_MoreResults->move(gb_MoreResults->width() - btn_MoreResults->width() - 3, btn_MoreResults->y());
}

void TMainForm::InitLabels()
{
    WriteLog("TMainForm.InitLabels - start");
    lbl_sizeLabel->move(lbl_TxtSize->x() + lbl_TxtSize->width(), lbl_sizeLabel->y());
    lbl_FoundedCount->move(lbl_Founded->x() + lbl_Founded->width() + 1, lbl_FoundedCount->y());
    lbl_ShownCount->move(lbl_Shown->x() + lbl_Shown->width() + 1, lbl_ShownCount->y());
    WriteLog("TMainForm.InitLabels - finish");
}

void TMainForm::InitializeImages()
{
    WriteLog("TMainForm.InitializeImages - start");
    // The shell's small icons: il_SystemImList is a handle on that one list, shared, never destroyed.
    SHFILEINFOA info;
    SHGetFileInfoA("", 0, &info, 352, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    WriteLog("TMainForm.InitializeImages - filnish");
}

void TMainForm::InitializeTrees()
{
    WriteLog("TMainForm.InitializeTrees - start");
    if (!il_IconsImList)
        il_IconsImList = new TImageList(16, 16);
    // Each node's data cell holds one TDirectoryList reference; check boxes are drawn by the views.
    tv_FolderTree->SetImages(il_IconsImList);
    tv_FilesTree->SetImages(il_IconsImList);
    FillIconList(*il_IconsImList, il_SystemImList);
    WriteLog("TMainForm.InitializeTrees - finish");
}

QString TMainForm::HolderInfoCaption(const QString &DesignText, int CurrentYear)
{
    return DesignText + QChar(0x00A9) + QString::number(FirstCopyrightYear) + QLatin1Char('-') +
           QString::number(std::max(CurrentYear, 2014));
}

void TMainForm::InitControlCaptions()
{
    WriteLog("TMainForm.InitControlCaptions - start");
    SetCaption(lbl_TxtSize, QStringLiteral("Size: "));
    SetCaption(lbl_Founded, QStringLiteral("Founded: "));
    SetCaption(lbl_Shown, QStringLiteral("Shown: "));
    const QString more = QStringLiteral("More results...");
    btn_MoreResults->setText(more);
    btn_MoreResults->resize(fontMetrics().horizontalAdvance(more) + 10, btn_MoreResults->height());
    PlaceMoreResultsButton();
    pc_Information->setTabText(pc_Information->indexOf(ts_Information), QStringLiteral("Information"));
    pc_Information->setTabText(pc_Information->indexOf(ts_About), QStringLiteral("About Parvix Viewer"));
    mem_Comments->setPlainText(QStringLiteral("Your comment to file"));
    QPalette commentPalette = mem_Comments->palette();
    commentPalette.setColor(QPalette::Text, QColor(128, 128, 128));
    mem_Comments->setPalette(commentPalette);
    SetCaption(lbl_Prod, QStringLiteral("Product:"));
    SetCaption(lbl_Ver, QStringLiteral("Version:"));
    SetCaption(lbl_Holder, QStringLiteral("Legal copyright:"));
    SetCaption(lbl_HolderInfo, HolderInfoCaption(lbl_HolderInfo->text(), QDate::currentDate().year()));
    SetCaption(lbl_Develop, QStringLiteral("Developer:"));
    SetCaption(lbl_VerInfo,
               QString::fromStdString(GetProductVersion(QCoreApplication::applicationFilePath())));
    SetCaption(lbl_DevelopInfo, DeveloperAddress);
    lbl_DevelopInfo->setToolTip(DeveloperAddress);
    mi_MoreResults->setText(more);
    mi_GoToFolder->setText(QStringLiteral("Go to folder..."));
    WriteLog("TMainForm.InitControlCaptions - finish");
}

void TMainForm::InitHintTextes()
{
    WriteLog("TMainForm.InitHintTextes - start");
    tb_FastSearch->setToolTip(QStringLiteral("Search by name"));
    tb_FullSearch->setToolTip(QStringLiteral("Search"));
    edit_Search->setToolTip(QStringLiteral("Enter file name"));
    tb_Up->setToolTip(QStringLiteral("Up"));
    tb_Next->setToolTip(QStringLiteral("Next"));
    tb_Prev->setToolTip(QStringLiteral("Previous"));
    tb_OpenBase->setToolTip(QStringLiteral("Open report file"));
    tb_SaveButton->setToolTip(QStringLiteral("Save changes"));
    tb_ExportBase->setToolTip(QStringLiteral("Prepare results to send back"));
    mem_Comments->setToolTip(QStringLiteral("You can right your comments about file here"));
    WriteLog("TMainForm.InitHintTextes - finish");
}
