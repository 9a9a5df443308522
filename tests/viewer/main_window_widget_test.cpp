// The real main window, started offscreen: its components, its start-up log, restoring and saving its
// geometry, closing a report and tearing down.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "platform/Registry.h"
#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uRegEdit.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>

namespace {

const char *const Key = "SOFTWARE\\Korrin Lab\\ParvixViewer";

// Catches the URLs the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> Urls;
public Q_SLOTS:
    void Open(const QUrl &Url) { Urls << Url; }
};

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FConfig.isValid());
        ASSERT_TRUE(FLogDir.isValid());
        FOldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", FConfig.path().toUtf8());
        SetLogFolder(FLogDir.path().toStdString() + "/");
    }
    void TearDown() override
    {
        Form.reset();
        SetLogFolder({});
        if (FOldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", FOldConfig);
    }

    // Starts the window as the program does, without a parameter, and lets the message loop run the
    // messages posted during creation.
    void Start()
    {
        Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("ParvixViewer")});
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    QStringList LogLines() const
    {
        QFile file(QString::fromStdString(LogFileName()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        lines.removeLast(); // after the last line break
        return lines;
    }

    static void Put(const char *Name, int32_t Value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteInteger(Name, Value);
    }
    static int32_t Get(const char *Name)
    {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey(Key, false));
        return reg.ReadInteger(Name);
    }

    template <class T> T *Find(const char *Name) const { return Form->findChild<T *>(QLatin1String(Name)); }

    std::unique_ptr<TMainForm> Form;
    QTemporaryDir FConfig;
    QTemporaryDir FLogDir;
    QByteArray FOldConfig;
};

// Whether Expected appear in Lines in this order (other lines may come between).
::testing::AssertionResult InOrder(const QStringList &Lines, const QStringList &Expected)
{
    qsizetype at = 0;
    for (const QString &line : Expected) {
        at = Lines.indexOf(line, at);
        if (at < 0)
            return ::testing::AssertionFailure() << "missing in order: " << line.toStdString() << "\nlog:\n"
                                                 << Lines.join(QLatin1Char('\n')).toStdString();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(MainWindowTest, WithoutParameterEveryComponentIsThereAndNoReportIsOpen)
{
    const QDateTime started = QDateTime::currentDateTime();
    Start();
    const QDateTime built = QDateTime::currentDateTime();
    EXPECT_EQ(MainForm, Form.get());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Parvix Viewer"));

    const char *const names[] = {"tbar_MainToolBar",
                                 "tb_OpenBase",
                                 "tb_SaveButton",
                                 "tb_ExportBase",
                                 "ToolButton1",
                                 "ToolButton4",
                                 "tbar_OpenFolder",
                                 "tb_ExportFileName",
                                 "p_MainPanel",
                                 "gb_FoldersTree",
                                 "tv_FolderTree",
                                 "Splitter2",
                                 "gb_ViewFiles",
                                 "tbar_FolderToolBar",
                                 "tb_Prev",
                                 "tb_Next",
                                 "tb_Up",
                                 "ToolButton2",
                                 "ToolButton3",
                                 "edit_Search",
                                 "tb_FastSearch",
                                 "tb_FullSearch",
                                 "tv_FilesTree",
                                 "gb_MoreResults",
                                 "lbl_Founded",
                                 "lbl_FoundedCount",
                                 "lbl_Shown",
                                 "lbl_ShownCount",
                                 "btn_MoreResults",
                                 "Splitter1",
                                 "gb_InfoGroupBox",
                                 "pc_Information",
                                 "ts_Information",
                                 "mem_Comments",
                                 "lbl_TxtSize",
                                 "lbl_sizeLabel",
                                 "ts_About",
                                 "lbl_Prod",
                                 "lbl_Ver",
                                 "lbl_Holder",
                                 "lbl_Develop",
                                 "lbl_ProdInfo",
                                 "lbl_VerInfo",
                                 "lbl_HolderInfo",
                                 "lbl_DevelopInfo",
                                 "im_Logo",
                                 "mem_AdditionalInfo",
                                 "sb_InfoStatusBar",
                                 "mainProgressBar",
                                 "pm_FilesTreePopupMenu",
                                 "mi_MoreResults",
                                 "mi_GoToFolder",
                                 "dlg_OpenBase"};
    for (const char *name : names)
        EXPECT_NE(Find<QObject>(name), nullptr) << name;

    // Run-time captions.
    EXPECT_EQ(Form->lbl_TxtSize->text(), QStringLiteral("Size: "));
    EXPECT_EQ(Form->lbl_Founded->text(), QStringLiteral("Founded: "));
    EXPECT_EQ(Form->lbl_Shown->text(), QStringLiteral("Shown: "));
    EXPECT_EQ(Form->btn_MoreResults->text(), QStringLiteral("More results..."));
    EXPECT_EQ(Form->pc_Information->tabText(0), QStringLiteral("Information"));
    EXPECT_EQ(Form->pc_Information->tabText(1), QStringLiteral("About Parvix Viewer"));
    EXPECT_EQ(Form->mem_Comments->toPlainText(), QStringLiteral("Your comment to file"));
    EXPECT_EQ(Form->mem_Comments->palette().color(QPalette::Text), QColor(128, 128, 128));
    EXPECT_EQ(Form->lbl_Prod->text(), QStringLiteral("Product:"));
    EXPECT_EQ(Form->lbl_Ver->text(), QStringLiteral("Version:"));
    EXPECT_EQ(Form->lbl_Holder->text(), QStringLiteral("Legal copyright:"));
    EXPECT_EQ(Form->lbl_Develop->text(), QStringLiteral("Developer:"));
    EXPECT_EQ(Form->lbl_ProdInfo->text(), QStringLiteral("Parvix Viewer"));
    EXPECT_EQ(Form->lbl_VerInfo->text().toStdString(),
              GetProductVersion(QCoreApplication::applicationFilePath()));
    EXPECT_FALSE(Form->lbl_VerInfo->text().isEmpty()) << "the program's own version block";
    EXPECT_FALSE(Form->lbl_DevelopInfo->text().isEmpty());
    EXPECT_EQ(Form->lbl_DevelopInfo->toolTip(), Form->lbl_DevelopInfo->text());
    EXPECT_EQ(Form->mi_MoreResults->text(), QStringLiteral("More results..."));
    EXPECT_EQ(Form->mi_GoToFolder->text(), QStringLiteral("Go to folder..."));
    EXPECT_EQ(Form->lbl_sizeLabel->text(), QStringLiteral("0"));
    EXPECT_EQ(Form->lbl_FoundedCount->text(), QStringLiteral("0"));
    EXPECT_EQ(Form->lbl_ShownCount->text(), QStringLiteral("0"));

    // Hints.
    EXPECT_EQ(Form->tb_FastSearch->toolTip(), QStringLiteral("Search by name"));
    EXPECT_EQ(Form->tb_FullSearch->toolTip(), QStringLiteral("Search"));
    EXPECT_EQ(Form->edit_Search->toolTip(), QStringLiteral("Enter file name"));
    EXPECT_EQ(Form->tb_Up->toolTip(), QStringLiteral("Up"));
    EXPECT_EQ(Form->tb_Next->toolTip(), QStringLiteral("Next"));
    EXPECT_EQ(Form->tb_Prev->toolTip(), QStringLiteral("Previous"));
    EXPECT_EQ(Form->tb_OpenBase->toolTip(), QStringLiteral("Open report file"));
    EXPECT_EQ(Form->tb_SaveButton->toolTip(), QStringLiteral("Save changes"));
    EXPECT_EQ(Form->tb_ExportBase->toolTip(), QStringLiteral("Prepare results to send back"));
    EXPECT_EQ(Form->mem_Comments->toolTip(), QStringLiteral("You can right your comments about file here"));

    // Design-time states.
    EXPECT_FALSE(Form->tb_Prev->isEnabled());
    EXPECT_FALSE(Form->tb_Next->isEnabled());
    EXPECT_TRUE(Form->tb_Up->isEnabled());
    EXPECT_FALSE(Form->tb_ExportFileName->isVisible());
    EXPECT_FALSE(Form->gb_MoreResults->isVisible());
    EXPECT_FALSE(Form->mi_MoreResults->isEnabled());
    EXPECT_TRUE(Form->mi_GoToFolder->isEnabled());
    EXPECT_FALSE(Form->im_Logo->isVisibleTo(Form.get()));
    EXPECT_FALSE(Form->mem_AdditionalInfo->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->mem_AdditionalInfo->isReadOnly());
    EXPECT_EQ(Form->pc_Information->currentWidget(), Form->ts_Information);
    EXPECT_EQ(Form->pc_Information->tabPosition(), QTabWidget::South);
    EXPECT_EQ(Form->mainProgressBar->minimum(), 0);
    EXPECT_EQ(Form->mainProgressBar->maximum(), 100);
    ASSERT_EQ(Form->sb_InfoStatusBar->PanelCount(), 3);
    EXPECT_EQ(Form->sb_InfoStatusBar->Panel(0).Width, 100);
    EXPECT_EQ(Form->sb_InfoStatusBar->Panel(1).Width, 50);
    EXPECT_EQ(Form->sb_InfoStatusBar->Panel(2).Width, 1015);
    EXPECT_TRUE(Form->sb_InfoStatusBar->Panel(0).OwnerDraw);
    EXPECT_FALSE(Form->sb_InfoStatusBar->Panel(1).OwnerDraw);
    EXPECT_TRUE(Form->acceptDrops());
    for (QToolButton *glyph : {Form->tb_OpenBase, Form->tb_SaveButton, Form->tb_ExportBase, Form->tb_Prev,
                               Form->tb_Next, Form->tb_Up, Form->tb_FastSearch, Form->tb_FullSearch})
        EXPECT_FALSE(glyph->icon().isNull()) << glyph->objectName().toStdString();

    // The labels placed after their captions.
    EXPECT_EQ(Form->lbl_sizeLabel->x(), Form->lbl_TxtSize->x() + Form->lbl_TxtSize->width());
    EXPECT_EQ(Form->lbl_FoundedCount->x(), Form->lbl_Founded->x() + Form->lbl_Founded->width() + 1);
    EXPECT_EQ(Form->lbl_ShownCount->x(), Form->lbl_Shown->x() + Form->lbl_Shown->width() + 1);
    EXPECT_EQ(Form->btn_MoreResults->width(),
              Form->fontMetrics().horizontalAdvance(Form->btn_MoreResults->text()) + 10);
    EXPECT_EQ(Form->btn_MoreResults->x() + Form->btn_MoreResults->width(), Form->gb_MoreResults->width() - 3);

    // The two trees.
    EXPECT_EQ(Form->tv_FolderTree->Tag, 0);
    EXPECT_EQ(Form->tv_FilesTree->Tag, 1);
    EXPECT_EQ(Form->tv_FolderTreeView->Tree(), Form->tv_FolderTree);
    EXPECT_EQ(Form->tv_FilesTreeView->Tree(), Form->tv_FilesTree);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_EQ(Form->tv_FilesTree->TotalCount(), 0u);
    const TVTHeader &header = Form->tv_FilesTree->Header;
    ASSERT_EQ(header.ColumnCount(), 6);
    const QStringList columns = {QStringLiteral("Name"),   QStringLiteral("Size"),   QStringLiteral("Create"),
                                 QStringLiteral("Update"), QStringLiteral("Access"), QStringLiteral("Type")};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(header.Column(i).Text, columns[i]);
        EXPECT_EQ(header.Column(i).Width, i == 0 ? 300 : 150);
        EXPECT_EQ(header.Column(i).Alignment, i == 1 ? Qt::AlignRight : Qt::AlignLeft);
        EXPECT_EQ(header.Column(i).ParentColor, i != 0);
    }
    EXPECT_TRUE(header.Visible());
    EXPECT_EQ(header.SortColumn(), NoColumn);
    EXPECT_TRUE(Form->tv_FilesTree->Options().FullRowSelect);
    EXPECT_EQ(Form->tv_FilesTree->Options().Indent, 0);
    EXPECT_EQ(Form->tv_FilesTree->Options().Margin, 8);
    EXPECT_EQ(Form->tv_FilesTree->PopupMenu, Form->pm_FilesTreePopupMenu);
    ASSERT_NE(Form->il_IconsImList, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->Images(), Form->il_IconsImList);
    EXPECT_EQ(Form->tv_FilesTree->Images(), Form->il_IconsImList);
    EXPECT_EQ(Form->il_IconsImList->Count(), 2) << "the drive and the folder icon";
    EXPECT_EQ(Form->il_NavigationImList->Width(), 24);

    // No report.
    EXPECT_TRUE(baseName.isEmpty());
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(SearchPageSize, 1000);
    EXPECT_NE(FreeMemThread, nullptr);

    // The start-up log.
    const QStringList lines = LogLines();
    ASSERT_GE(lines.size(), 2);
    // The date line: the start time in the user's date and time format.
    bool dateLine = false;
    for (QDateTime t = started.addSecs(-1); t <= built.addSecs(1) && !dateLine; t = t.addSecs(1))
        dateLine = lines[0] == DateTimeToStr(QDateTimeToDateTime(t));
    EXPECT_TRUE(dateLine) << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version OS: \\d+\\.\\d+$")).match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(InOrder(lines, {QStringLiteral("TMainForm.LoadFormParams - start"),
                                QStringLiteral("TMainForm.Create - read baseName parameter"),
                                QStringLiteral("TMainForm.InitLabels - start"),
                                QStringLiteral("TMainForm.InitLabels - finish"),
                                QStringLiteral("TMainForm.InitializeImages - start"),
                                QStringLiteral("TMainForm.InitializeImages - filnish"),
                                QStringLiteral("TMainForm.InitializeTrees - start"),
                                QStringLiteral("TMainForm.InitializeTrees - finish"),
                                QStringLiteral("TMainForm.InitControlCaptions - start"),
                                QStringLiteral("TMainForm.InitControlCaptions - finish"),
                                QStringLiteral("TMainForm.InitHintTextes - start"),
                                QStringLiteral("TMainForm.InitHintTextes - finish"),
                                QStringLiteral("TMainForm.FinishLoad - start"),
                                QStringLiteral("TMainForm.FinishLoad - finish")}));
    // Without a saved state the design-time geometry stays and no finish line is written.
    EXPECT_FALSE(lines.contains(QStringLiteral("TMainForm.LoadFormParams - finish")));
}

TEST_F(MainWindowTest, DropsOfLocalFilesReachTheDropHandlerAfterTheDrop)
{
    Start();
    QMimeData local;
    local.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.db3"))});
    QDragEnterEvent enterLocal(QPoint(10, 10), Qt::CopyAction, &local, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), &enterLocal);
    EXPECT_TRUE(enterLocal.isAccepted());

    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.db3"))});
    QDragEnterEvent enterRemote(QPoint(10, 10), Qt::CopyAction, &remote, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), &enterRemote);
    EXPECT_FALSE(enterRemote.isAccepted());

    // A drop hands its local paths to the drop handler once the drop has ended: only the first is tried.
    QTemporaryDir dir;
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing-1.db3"))),
                     QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing-2.db3")))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    support::BoxAnswerer boxes;
    QCoreApplication::sendEvent(Form.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(boxes.Texts.isEmpty()) << "nothing is opened inside the drop";
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Can not open report file!")});
    EXPECT_EQ(Form->useOpenDialog, 1);
    EXPECT_FALSE(Form->droppedFileName.has_value());
    EXPECT_EQ(ReportDB, nullptr);
}

TEST_F(MainWindowTest, HolderInfoEndsWithTheCurrentYearNeverBefore2014)
{
    Start();
    const QString caption = Form->lbl_HolderInfo->text();
    const int year = std::max(QDate::currentDate().year(), 2014);
    EXPECT_TRUE(caption.endsWith(QLatin1Char('-') + QString::number(year))) << caption.toStdString();
    EXPECT_TRUE(caption.contains(QChar(0x00A9)));
    // A clock set before 2014.
    EXPECT_TRUE(
        TMainForm::HolderInfoCaption(QStringLiteral("Holder "), 2010).endsWith(QStringLiteral("-2014")));
    EXPECT_TRUE(
        TMainForm::HolderInfoCaption(QStringLiteral("Holder "), 2013).endsWith(QStringLiteral("-2014")));
    EXPECT_TRUE(
        TMainForm::HolderInfoCaption(QStringLiteral("Holder "), 2031).endsWith(QStringLiteral("-2031")));
    EXPECT_TRUE(TMainForm::HolderInfoCaption(QStringLiteral("Holder "), 2031)
                    .startsWith(QStringLiteral("Holder ") + QChar(0x00A9)));
}

TEST_F(MainWindowTest, DeveloperLabelOpensItsAddress)
{
    Start();
    UrlCatcher catcher;
    const QString scheme = QUrl(Form->lbl_DevelopInfo->toolTip()).scheme();
    ASSERT_FALSE(scheme.isEmpty());
    QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
    Form->pc_Information->setCurrentWidget(Form->ts_About);
    QTest::mouseClick(Form->lbl_DevelopInfo, Qt::LeftButton);
    // Another sender does nothing.
    Form->lbl_DevelopInfoClick(Form->btn_MoreResults);
    QDesktopServices::unsetUrlHandler(scheme);
    ASSERT_EQ(catcher.Urls.size(), 1);
    EXPECT_EQ(catcher.Urls[0], QUrl(Form->lbl_DevelopInfo->toolTip()));
}

TEST_F(MainWindowTest, AReportOnTheCommandLineIsOpenedOnlyOnceTheMessageLoopRuns)
{
    QTemporaryDir reports;
    const QString path = reports.filePath(QStringLiteral("scan.db3"));
    support::ReportBuilder().Tree("D docs\n  F a.txt 10\nD music\n").Write(path.toStdString());

    Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("ParvixViewer"), path});
    // Prepared under the wait window, not yet opened for work.
    EXPECT_EQ(baseName, path);
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_FALSE(LogLines().contains(QStringLiteral("TMainForm.FinishLoad - start")));
    EXPECT_TRUE(InOrder(LogLines(), {QStringLiteral("TMainForm.Create - read baseName parameter"),
                                     QStringLiteral("WriteBaseNameToReg - start"),
                                     QStringLiteral("TMainForm.InitControlCaptions - start"),
                                     QStringLiteral("TLoadThread.Execute - close base")}));

    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ASSERT_NE(ReportDB, nullptr);
    PVirtualNode root = Form->tv_FolderTree->GetFirst();
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(Form->tv_FolderTree->Expanded(root));
    EXPECT_EQ(Form->tv_FolderTree->ChildCount(root), 2u);
    // The root's load ran under its own modal show, inside FinishLoad.
    EXPECT_TRUE(InOrder(LogLines(), {QStringLiteral("TMainForm.FinishLoad - start"),
                                     QStringLiteral("TMainForm.CreateRoot - Expanded"),
                                     QStringLiteral("ThreadExpand.Execute - Post"),
                                     QStringLiteral("TMainForm.CreateRoot - EndUpdate"),
                                     QStringLiteral("TMainForm.FinishLoad - finish")}));
    Form->close();
    EXPECT_EQ(ReportDB, nullptr);
}

TEST_F(MainWindowTest, LoadFinishedWaitsUntilTheWaitWindowsModalLoopHasReturned)
{
    Start();
    const auto finishLoads = [this] {
        return LogLines().count(QStringLiteral("TMainForm.FinishLoad - start"));
    };
    const qsizetype before = finishLoads();
    // As a worker ends: both messages queued before the modal loop takes them, in one pass.
    TWaitForm *wait = Form->ShowWaitForm(QStringLiteral("Preparing report. Please wait. "));
    PostMessage(wait, WM_WAITFORM_CLOSE);
    PostMessage(Form.get(), WM_LOAD_FINISHED);
    wait->WMShowModal();
    EXPECT_FALSE(wait->InModalShow());
    EXPECT_EQ(finishLoads(), before) << "handled inside the wait window's modal loop";
    wait->Close();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(finishLoads(), before + 1);
}

// ---- Restoring the geometry

struct SavedState
{
    int32_t Width, Height, Top, Left, Splitter1, Splitter2;
};

TEST_F(MainWindowTest, SavedValuesOutOfRangeTakeTheDefaults)
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    Put("form_size_x", 200);
    Put("form_size_y", 100);
    Put("form_top", screen.height() + 1);
    Put("form_left", screen.width() + 1);
    Put("splitter1_top", 20);
    Put("splitter2_left", 20);
    Put("fullScreen", 0);
    Start();
    EXPECT_EQ(Form->width(), 700);
    EXPECT_EQ(Form->height(), 600);
    EXPECT_EQ(Form->pos(), QPoint(0, 0));
    EXPECT_EQ(Form->gb_InfoGroupBox->height(), 100);
    EXPECT_EQ(Form->gb_FoldersTree->width(), 100);
    EXPECT_FALSE(Form->isMaximized());
    EXPECT_TRUE(LogLines().contains(QStringLiteral("TMainForm.LoadFormParams - finish")));
}

TEST_F(MainWindowTest, SavedValuesAtTheEdgesStay)
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    Put("form_size_x", 201);
    Put("form_size_y", 500);
    Put("form_top", screen.height());
    Put("form_left", screen.width());
    Put("splitter1_top", 21);
    Put("splitter2_left", 21);
    Put("fullScreen", 0);
    Start();
    EXPECT_EQ(Form->width(), 201);
    EXPECT_EQ(Form->height(), 500);
    EXPECT_EQ(Form->pos(), QPoint(screen.width(), screen.height()));
    EXPECT_EQ(Form->gb_InfoGroupBox->height(), 21);
    EXPECT_EQ(Form->gb_FoldersTree->width(), 21);
}

TEST_F(MainWindowTest, SavedValuesInRangeAreRestoredAndMaximized)
{
    Put("form_size_x", 640);
    Put("form_size_y", 480);
    Put("form_top", 40);
    Put("form_left", 30);
    Put("splitter1_top", 150);
    Put("splitter2_left", 250);
    Put("fullScreen", 1);
    Start();
    EXPECT_TRUE(Form->isMaximized());
    EXPECT_EQ(Form->normalGeometry().size(), QSize(640, 480));
    EXPECT_EQ(Form->gb_InfoGroupBox->height(), 150);
    EXPECT_EQ(Form->gb_FoldersTree->width(), 250);

    // Closing keeps those normal-state bounds.
    Form->close();
    EXPECT_EQ(Get("form_size_x"), 640);
    EXPECT_EQ(Get("form_size_y"), 480);
    EXPECT_EQ(Get("form_top"), 40);
    EXPECT_EQ(Get("form_left"), 30);
    EXPECT_EQ(Get("fullScreen"), 1);
}

// ---- Closing

TEST_F(MainWindowTest, ClosingWhileMaximizedStoresTheNormalBoundsAndStaysMaximized)
{
    Start();
    Form->resize(620, 470);
    Form->move(25, 35);
    QCoreApplication::processEvents();
    Form->showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(Form->isMaximized());
    ASSERT_NE(Form->size(), QSize(620, 470)) << "the screen is larger than the normal bounds";

    Form->FinishWork();
    EXPECT_TRUE(Form->isMaximized());
    EXPECT_EQ(Get("form_size_x"), 620);
    EXPECT_EQ(Get("form_size_y"), 470);
    EXPECT_EQ(Get("form_top"), 35);
    EXPECT_EQ(Get("form_left"), 25);
    EXPECT_EQ(Get("splitter1_top"), Form->gb_InfoGroupBox->height());
    EXPECT_EQ(Get("splitter2_left"), Form->gb_FoldersTree->width());
    EXPECT_EQ(Get("fullScreen"), 1);
}

TEST_F(MainWindowTest, ClosingWithoutAReportWritesTheGeometryOnly)
{
    Start();
    Form->resize(660, 520);
    Form->move(12, 34);
    QCoreApplication::processEvents();
    support::BoxAnswerer boxes;
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(Get("form_size_x"), 660);
    EXPECT_EQ(Get("form_size_y"), 520);
    EXPECT_EQ(Get("form_top"), 34);
    EXPECT_EQ(Get("form_left"), 12);
    EXPECT_EQ(Get("fullScreen"), 0);
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Form->il_IconsImList, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount(), 0);
    EXPECT_EQ(Form->tv_FilesTree->UpdateCount(), 0);
    EXPECT_TRUE(InOrder(
        LogLines(), {QStringLiteral("TMainForm.FinishWork - start"), QStringLiteral("DestroyCheckHelper")}));
}

// The open report as the window holds it: a connection inside its transaction, and the root item
// with a loaded child in the folder tree and in the file list.
class MainWindowReportTest : public MainWindowTest
{
protected:
    void OpenReport()
    {
        Path = FReports.filePath(QStringLiteral("report.db3"));
        support::ReportBuilder().Tree("D docs\n  F a.txt 10\n").WithCheckTable().Write(Path.toStdString());
        ASSERT_EQ(sqlite3_open(Path.toUtf8().constData(), &ReportDB), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(ReportDB, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr), SQLITE_OK);
        baseName = Path;

        auto *root = new TDirectoryList(QStringLiteral("report.db3"), -1, 0, 0, true, false, 0, 0, 0, 0);
        PVirtualNode rootNode = AddInTreeView(Form->tv_FolderTree, nullptr, root);
        root->NodeInFoldTr = rootNode;
        auto *docs = new TDirectoryList(QStringLiteral("docs"), 1, -1, 10, true, false, 0, 0, 0, 0);
        AddChildItem(root, ReportDB, Form->tv_FolderTree, rootNode, docs);
        Form->tv_FilesTree->AddChild(nullptr, docs); // the file list refers to the same item
        CurrentItem = docs;
        NewHistoryItem(HistoryCurrent);
        Form->tb_Prev->setEnabled(true);
        Form->tb_Next->setEnabled(true);
    }

    QTemporaryDir FReports;
    QString Path;
};

TEST_F(MainWindowReportTest, FinishWorkCommitsEmptiesTheTreesAndClosesTheReport)
{
    Start();
    OpenReport();
    ASSERT_EQ(sqlite3_exec(ReportDB, "INSERT INTO information (field_Name, value) VALUES ('note', 'kept');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    support::BoxAnswerer boxes;
    Form->FinishWork();
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(CurrentItem, nullptr);
    EXPECT_EQ(HistoryCurrent, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_EQ(Form->tv_FilesTree->TotalCount(), 0u);
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount(), 0);
    EXPECT_EQ(Form->tv_FilesTree->UpdateCount(), 0);
    EXPECT_EQ(Form->il_IconsImList, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->Images(), nullptr);
    EXPECT_FALSE(Form->tb_Prev->isEnabled());
    EXPECT_FALSE(Form->tb_Next->isEnabled());

    // The transaction was committed.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(Path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT value FROM information WHERE field_Name = 'note';", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "kept");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST_F(MainWindowReportTest, AFailingCommitIsLoggedShownAndClosingGoesOn)
{
    Start();
    OpenReport();
    ASSERT_EQ(sqlite3_exec(ReportDB, "INSERT INTO information (field_Name, value) VALUES ('note', 'lost');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Another reader keeps a lock on the file, so the commit cannot write it.
    sqlite3 *reader = nullptr;
    ASSERT_EQ(sqlite3_open(Path.toUtf8().constData(), &reader), SQLITE_OK);
    sqlite3_stmt *read = nullptr;
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_prepare_v2(reader, "SELECT * FROM information;", -1, &read, nullptr);
    ASSERT_EQ(sqlite3_step(read), SQLITE_ROW);

    support::BoxAnswerer boxes;
    EXPECT_TRUE(Form->close());
    sqlite3_finalize(read);
    sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(reader);

    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("database is locked")))
        << boxes.Texts[0].toStdString();
    const QStringList lines = LogLines();
    const auto commitError = std::find_if(lines.begin(), lines.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("TMainForm.FinishWork - commit error  : "));
    });
    EXPECT_NE(commitError, lines.end());
    // Closing went on: the report is closed and the geometry stored.
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_EQ(Get("form_size_x"), Form->width());
}

// ---- Tearing down

TEST_F(MainWindowTest, DestroyStopsTheThreadDeletesTheLogAndFreesTheWaitWindow)
{
    Start();
    Form->ShowWaitForm(QStringLiteral("x"))->Close();
    ASSERT_FALSE(WaitForm.isNull());
    ASSERT_TRUE(QFile::exists(QString::fromStdString(LogFileName())));
    Form.reset();
    EXPECT_EQ(FreeMemThread, nullptr);
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_TRUE(WaitForm.isNull());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(LogFileName())));
}

TEST(FreeMemThreadTest, RunsAtOnceAndStopsWhenFreed)
{
    TVirtualStringTree folders;
    TVirtualStringTree files;
    auto *thread = new TFreeMemThread(&folders, &files, nullptr);
    // Started by its constructor: it sleeps until told to stop.
    for (int i = 0; i < 100 && thread->Finished(); ++i)
        QTest::qWait(5);
    EXPECT_FALSE(thread->Finished());
    thread->TouchNode(nullptr);
    delete thread; // returns only once the thread has ended
}

} // namespace

#include "main_window_widget_test.moc"
