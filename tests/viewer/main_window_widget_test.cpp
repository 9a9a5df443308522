// The real main window, started offscreen: its components, its start-up log, restoring and saving its
// geometry, closing a report and tearing down.
#include "viewer/Main.h"

#include "common/ssOSError.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uRegEdit.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/FailingWaitForm.h"
#include "tests/support/LogLines.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"

#include <QDate>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

    static QStringList LogLines() { return support::LogLines(); }

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

    // Starts the window with a report open as the window holds it: a connection inside its transaction
    // with a new row, and the root item with a loaded child in the folder tree and in the file list.
    void OpenReport(const char *Note)
    {
        Start();
        Path = FReports.filePath(QStringLiteral("report.db3"));
        support::ReportBuilder().Tree("D docs\n  F a.txt 10\n").WithCheckTable().Write(Path.toStdString());
        ASSERT_EQ(sqlite3_open(Path.toUtf8().constData(), &ReportDB), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(ReportDB, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr), SQLITE_OK);
        const std::string insert =
            std::string("INSERT INTO information (field_Name, value) VALUES ('note', '") + Note + "');";
        ASSERT_EQ(sqlite3_exec(ReportDB, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
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

    std::unique_ptr<TMainForm> Form;
    QTemporaryDir FReports;
    QString Path;
    QTemporaryDir FConfig;
    QTemporaryDir FLogDir;
    QByteArray FOldConfig;
};

// Whether Expected appear in Lines in this order (other lines may come between).
::testing::AssertionResult InOrder(const QStringList &Lines, std::initializer_list<const char *> Expected)
{
    qsizetype at = 0;
    for (const char *line : Expected) {
        at = Lines.indexOf(QLatin1String(line), at);
        if (at < 0)
            return ::testing::AssertionFailure() << "missing in order: " << line << "\nlog:\n"
                                                 << Lines.join(QLatin1Char('\n')).toStdString();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(MainWindowTest, WithoutParameterTheWindowIsCompleteAndNoReportIsOpen)
{
    const QDateTime started = QDateTime::currentDateTime();
    Start();
    const QDateTime built = QDateTime::currentDateTime();
    EXPECT_EQ(MainForm, Form.get());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Parvix Viewer"));

    const QStringList names =
        QStringLiteral(
            "tbar_MainToolBar tb_OpenBase tb_SaveButton tb_ExportBase ToolButton1 ToolButton4 "
            "tbar_OpenFolder tb_ExportFileName p_MainPanel gb_FoldersTree tv_FolderTree Splitter2 "
            "gb_ViewFiles tbar_FolderToolBar tb_Prev tb_Next tb_Up ToolButton2 ToolButton3 "
            "edit_Search tb_FastSearch tb_FullSearch tv_FilesTree gb_MoreResults lbl_Founded "
            "lbl_FoundedCount lbl_Shown lbl_ShownCount btn_MoreResults Splitter1 gb_InfoGroupBox "
            "pc_Information ts_Information mem_Comments lbl_TxtSize lbl_sizeLabel ts_About lbl_Prod "
            "lbl_Ver lbl_Holder lbl_Develop lbl_ProdInfo lbl_VerInfo lbl_HolderInfo lbl_DevelopInfo "
            "im_Logo mem_AdditionalInfo sb_InfoStatusBar mainProgressBar pm_FilesTreePopupMenu "
            "mi_MoreResults mi_GoToFolder dlg_OpenBase")
            .split(QLatin1Char(' '));
    for (const QString &name : names)
        EXPECT_NE(Form->findChild<QObject *>(name), nullptr) << name.toStdString();

    // Captions and hints set at run time.
    const QStringList texts = {
        Form->lbl_TxtSize->text(),         Form->lbl_Founded->text(),        Form->lbl_Shown->text(),
        Form->btn_MoreResults->text(),     Form->pc_Information->tabText(0), Form->pc_Information->tabText(1),
        Form->mem_Comments->toPlainText(), Form->lbl_Prod->text(),           Form->lbl_Ver->text(),
        Form->lbl_Holder->text(),          Form->lbl_Develop->text(),        Form->lbl_ProdInfo->text(),
        Form->mi_MoreResults->text(),      Form->mi_GoToFolder->text(),      Form->lbl_sizeLabel->text(),
        Form->lbl_FoundedCount->text(),    Form->lbl_ShownCount->text()};
    EXPECT_EQ(
        texts.join(QLatin1Char('|')).toStdString(),
        "Size: |Founded: |Shown: |More results...|Information|About Parvix Viewer|Your comment to file|"
        "Product:|Version:|Legal copyright:|Developer:|Parvix Viewer|More results...|Go to folder...|0|0|0");
    const QStringList hints = {Form->tb_FastSearch->toolTip(), Form->tb_FullSearch->toolTip(),
                               Form->edit_Search->toolTip(),   Form->tb_Up->toolTip(),
                               Form->tb_Next->toolTip(),       Form->tb_Prev->toolTip(),
                               Form->tb_OpenBase->toolTip(),   Form->tb_SaveButton->toolTip(),
                               Form->tb_ExportBase->toolTip(), Form->mem_Comments->toolTip()};
    EXPECT_EQ(hints.join(QLatin1Char('|')).toStdString(),
              "Search by name|Search|Enter file name|Up|Next|Previous|Open report file|Save changes|"
              "Prepare results to send back|You can right your comments about file here");
    EXPECT_EQ(Form->mem_Comments->palette().color(QPalette::Text), QColor(128, 128, 128));
    EXPECT_FALSE(Form->lbl_VerInfo->text().isEmpty()) << "the program's own version block";
    EXPECT_EQ(Form->lbl_VerInfo->text().toStdString(),
              GetProductVersion(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(Form->lbl_DevelopInfo->toolTip(), Form->lbl_DevelopInfo->text());
    // States at start.
    EXPECT_FALSE(Form->tb_Prev->isEnabled());
    EXPECT_FALSE(Form->tb_Next->isEnabled());
    EXPECT_FALSE(Form->tb_ExportFileName->isVisible());
    EXPECT_FALSE(Form->gb_MoreResults->isVisible());
    EXPECT_FALSE(Form->mi_MoreResults->isEnabled());
    EXPECT_FALSE(Form->im_Logo->isVisibleTo(Form.get()) || Form->mem_AdditionalInfo->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->sb_InfoStatusBar->PanelCount() == 3 && Form->sb_InfoStatusBar->Panel(0).OwnerDraw);
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

    // The two trees: empty, the file list's columns, one icon list.
    EXPECT_EQ(Form->tv_FolderTree->TotalCount() + Form->tv_FilesTree->TotalCount(), 0u);
    const TVTHeader &header = Form->tv_FilesTree->Header;
    ASSERT_EQ(header.ColumnCount(), 6);
    const char *const columns[] = {"Name", "Size", "Create", "Update", "Access", "Type"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(header.Column(i).Text.toStdString(), columns[i]);
        EXPECT_EQ(header.Column(i).Width, i == 0 ? 300 : 150);
        EXPECT_EQ(header.Column(i).Alignment, i == 1 ? Qt::AlignRight : Qt::AlignLeft);
    }
    EXPECT_EQ(Form->tv_FilesTree->PopupMenu, Form->pm_FilesTreePopupMenu);
    ASSERT_NE(Form->il_IconsImList, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->Images(), Form->il_IconsImList);
    EXPECT_EQ(Form->tv_FilesTree->Images(), Form->il_IconsImList);
    EXPECT_EQ(Form->il_IconsImList->Count(), 2) << "the drive and the folder icon";

    // No report.
    EXPECT_TRUE(baseName.isEmpty());
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_NE(FreeMemThread, nullptr);

    // The start-up log; its date line is the start time in the user's date and time format.
    const QStringList lines = LogLines();
    ASSERT_GE(lines.size(), 2);
    bool dateLine = false;
    for (QDateTime t = started.addSecs(-1); t <= built.addSecs(1) && !dateLine; t = t.addSecs(1))
        dateLine = lines[0] == DateTimeToStr(QDateTimeToDateTime(t));
    EXPECT_TRUE(dateLine) << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version OS: \\d+\\.\\d+$")).match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(
        InOrder(lines, {"TMainForm.LoadFormParams - start", "TMainForm.Create - read baseName parameter",
                        "TMainForm.InitLabels - start", "TMainForm.InitLabels - finish",
                        "TMainForm.InitializeImages - start", "TMainForm.InitializeImages - filnish",
                        "TMainForm.InitializeTrees - start", "TMainForm.InitializeTrees - finish",
                        "TMainForm.InitControlCaptions - start", "TMainForm.InitControlCaptions - finish",
                        "TMainForm.InitHintTextes - start", "TMainForm.InitHintTextes - finish",
                        "TMainForm.FinishLoad - start", "TMainForm.FinishLoad - finish"}));
    // Without a saved state the design-time geometry stays and no finish line is written.
    EXPECT_FALSE(lines.contains(QStringLiteral("TMainForm.LoadFormParams - finish")));

    // The copyright ends with the current year, never before 2014 (a clock set back).
    const QString caption = Form->lbl_HolderInfo->text();
    const int year = std::max(QDate::currentDate().year(), 2014);
    EXPECT_TRUE(caption.endsWith(QLatin1Char('-') + QString::number(year))) << caption.toStdString();
    for (const auto &[clock, shown] : {std::pair{2010, "-2014"}, {2013, "-2014"}, {2031, "-2031"}}) {
        const QString text = TMainForm::HolderInfoCaption(QStringLiteral("Holder "), clock);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Holder ") + QChar(0x00A9)) &&
                    text.endsWith(QLatin1String(shown)))
            << text.toStdString();
    }
    // The developer's label opens its address; another sender does nothing.
    UrlCatcher catcher;
    const QString scheme = QUrl(Form->lbl_DevelopInfo->toolTip()).scheme();
    ASSERT_FALSE(scheme.isEmpty());
    QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
    Form->pc_Information->setCurrentWidget(Form->ts_About);
    QTest::mouseClick(Form->lbl_DevelopInfo, Qt::LeftButton);
    Form->lbl_DevelopInfoClick(Form->btn_MoreResults);
    QDesktopServices::unsetUrlHandler(scheme);
    ASSERT_EQ(catcher.Urls.size(), 1);
    EXPECT_EQ(catcher.Urls[0], QUrl(Form->lbl_DevelopInfo->toolTip()));
}

TEST_F(MainWindowTest, DropsOfLocalFilesReachTheDropHandlerAfterTheDrop)
{
    Start();
    // Only local files are accepted.
    for (const auto &[url, accepted] : {std::pair{QUrl::fromLocalFile(QStringLiteral("/tmp/a.db3")), true},
                                        {QUrl(QStringLiteral("https://example.org/a.db3")), false}}) {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), accepted) << url.toString().toStdString();
    }

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

    // A drop whose handling comes due while a work's wait window runs waits for that wait to end:
    // opening there would close the report under the running worker.
    boxes.Texts.clear();
    TWaitForm *wait =
        Form->ShowWaitForm(QStringLiteral("Load folder data. Please wiat, it can take some time."));
    QStringList duringWait{QStringLiteral("not looked")};
    QTimer::singleShot(0, Form.get(), [&] {
        Form->DeliverDrop({dir.filePath(QStringLiteral("missing-3.db3"))});
        QTimer::singleShot(300, Form.get(), [&] {
            duringWait = boxes.Texts;
            PostMessage(wait, WM_WAITFORM_CLOSE);
        });
    });
    {
        support::ModalGuard guard;
        wait->WMShowModal();
    }
    wait->Close();
    EXPECT_TRUE(duringWait.isEmpty()) << duringWait.join(u'|').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 5000));
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Can not open report file!")});
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
    EXPECT_TRUE(
        InOrder(LogLines(), {"TMainForm.Create - read baseName parameter", "WriteBaseNameToReg - start",
                             "TMainForm.InitControlCaptions - start", "TLoadThread.Execute - close base"}));

    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ASSERT_NE(ReportDB, nullptr);
    std::string stored;
    ReadBaseNameFromReg(stored);
    EXPECT_EQ(QString::fromStdString(stored), path);
    PVirtualNode root = Form->tv_FolderTree->GetFirst();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(GetNodeItem(root, Form->tv_FolderTree)->name, QStringLiteral("scan.db3"));
    EXPECT_TRUE(Form->tv_FolderTree->Expanded(root));
    EXPECT_EQ(Form->tv_FolderTree->ChildCount(root), 2u);
    // The root's load ran under its own modal show, inside FinishLoad.
    EXPECT_TRUE(InOrder(LogLines(), {"TMainForm.FinishLoad - start", "TMainForm.CreateRoot - Expanded",
                                     "ThreadExpand.Execute - Post", "TMainForm.CreateRoot - EndUpdate",
                                     "TMainForm.FinishLoad - finish"}));
    Form->close();
    EXPECT_EQ(ReportDB, nullptr);
}

TEST_F(MainWindowTest, LoadFinishedWaitsForTheWaitWindowsModalLoopAndDestroyFreesIt)
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

    // Destroying stops the thread, deletes the log and frees the wait window.
    ASSERT_FALSE(WaitForm.isNull());
    ASSERT_TRUE(QFile::exists(QString::fromStdString(LogFileName())));
    Form.reset();
    EXPECT_EQ(FreeMemThread, nullptr);
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_TRUE(WaitForm.isNull());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(LogFileName())));
}

TEST_F(MainWindowTest, SavedGeometryIsRestoredWithinItsRanges)
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int w = screen.width(), h = screen.height();
    const char *const keys[] = {"form_size_x",   "form_size_y",    "form_top",  "form_left",
                                "splitter1_top", "splitter2_left", "fullScreen"};
    struct Case
    {
        const char *What;
        int32_t Saved[7];
        QRect Normal; // the window's normal bounds
        int Info, Folders;
    };
    const Case cases[] = {
        {"out of range: the defaults", {200, 100, h + 1, w + 1, 20, 20, 0}, {0, 0, 700, 600}, 100, 100},
        {"at the edges: kept", {201, 500, h, w, 21, 21, 0}, {w, h, 201, 500}, 21, 21},
        {"in range, maximized", {640, 480, 40, 30, 150, 250, 1}, {30, 40, 640, 480}, 150, 250}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        for (int i = 0; i < 7; ++i)
            Put(keys[i], c.Saved[i]);
        Start();
        EXPECT_EQ(Form->isMaximized(), c.Saved[6] == 1);
        EXPECT_EQ(Form->normalGeometry().size(), c.Normal.size());
        if (!Form->isMaximized()) {
            EXPECT_EQ(Form->pos(), c.Normal.topLeft());
        }
        EXPECT_EQ(Form->gb_InfoGroupBox->height(), c.Info);
        EXPECT_EQ(Form->gb_FoldersTree->width(), c.Folders);
        EXPECT_TRUE(LogLines().contains(QStringLiteral("TMainForm.LoadFormParams - finish")));
        Form.reset();
    }
}

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

    // Without a report: no box, the geometry written.
    support::BoxAnswerer boxes;
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_TRUE(Form->isMaximized());
    EXPECT_EQ(
        QList<int>({Get("form_size_x"), Get("form_size_y"), Get("form_top"), Get("form_left"),
                    Get("splitter1_top"), Get("splitter2_left"), Get("fullScreen")}),
        QList<int>({620, 470, 35, 25, Form->gb_InfoGroupBox->height(), Form->gb_FoldersTree->width(), 1}));
    EXPECT_TRUE(InOrder(LogLines(), {"TMainForm.FinishWork - start", "DestroyCheckHelper"}));
}

TEST_F(MainWindowTest, FinishWorkCommitsEmptiesTheTreesAndClosesTheReport)
{
    OpenReport("kept");
    support::BoxAnswerer boxes;
    Form->FinishWork();
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_TRUE(CurrentItem == nullptr && HistoryCurrent == nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount() + Form->tv_FilesTree->TotalCount(), 0u);
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount() + Form->tv_FilesTree->UpdateCount(), 0);
    EXPECT_TRUE(Form->il_IconsImList == nullptr && Form->tv_FolderTree->Images() == nullptr);
    EXPECT_FALSE(Form->tb_Prev->isEnabled() || Form->tb_Next->isEnabled());
    EXPECT_EQ(Get("fullScreen"), 0);

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

TEST_F(MainWindowTest, AFailingCommitIsLoggedShownAndClosingGoesOn)
{
    OpenReport("lost");
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
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("TMainForm.FinishWork - commit error  : "));
    }));
    // Closing went on: the report is closed and the geometry stored.
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_EQ(Get("form_size_x"), Form->width());
}

TEST_F(MainWindowTest, TheFileListPaintsTheRedCrossOfADeletedItemAsTheFolderTreeDoes)
{
    OpenReport("x");
    PVirtualNode row = Form->tv_FilesTree->GetFirst();
    GetNodeItem(row, Form->tv_FilesTree)->isDeleted = true;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const QImage shot =
        Form->tv_FilesTreeView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect rect = Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(row));
    int red = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            red += qRed(shot.pixel(x, y)) > 200 && qGreen(shot.pixel(x, y)) < 60;
    EXPECT_GT(red, 5);
}

TEST_F(MainWindowTest, AWaitWindowThatCannotBeMadeLeavesTheTreesOutOfUpdateAndFailsCreationWithABox)
{
    OpenReport("x");
    PVirtualNode docs = Form->tv_FolderTree->GetFirst()->FirstChild;
    support::BoxAnswerer boxes;
    {
        support::FailingWaitForm noWait;
        EXPECT_THROW(Form->tv_FolderTree->SetExpanded(docs, true), EOSError);
        EXPECT_EQ(Form->tv_FolderTree->UpdateCount() + Form->tv_FilesTree->UpdateCount(), 0);
        EXPECT_FALSE(TVirtualStringTree::Toggling(docs)); // it can still be expanded later
        Form.reset();

        EXPECT_EQ(CreateMainForm({QStringLiteral("ParvixViewer")}), nullptr);
    }
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("Mutex \"wfMutex\"")))
        << boxes.Texts[0].toStdString();
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(FreeMemThread, nullptr); // stopped with the window that started it
}

} // namespace

#include "main_window_widget_test.moc"
