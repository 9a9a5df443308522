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
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"
#include "viewer/ufWaitForm.h"

#include <QFile>
#include <QGroupBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>

namespace {

const char *const Key = "SOFTWARE\\Korrin Lab\\ParvixViewer";

class MainWindowTest : public support::MainWindowFixture
{
protected:
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
        Path = QString::fromStdString(Temp.File("report.db3"));
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

    QString Path;
};

TEST_F(MainWindowTest, WithoutParameterNoReportIsOpenAndTheCopyrightEndsThisYear)
{
    Start();
    EXPECT_EQ(MainForm, Form.get());
    EXPECT_TRUE(baseName.isEmpty() && ReportDB == nullptr);

    // The copyright ends with the current year, never before 2014 (a clock set back).
    for (const auto &[clock, shown] : {std::pair{2010, "-2014"}, {2013, "-2014"}, {2031, "-2031"}}) {
        const QString text = TMainForm::HolderInfoCaption(QStringLiteral("Holder "), clock);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Holder ") + QChar(0x00A9)) &&
                    text.endsWith(QLatin1String(shown)))
            << text.toStdString();
    }
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
    EXPECT_FALSE(LogLines().contains(QStringLiteral("TMainForm.FinishLoad - start")));

    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ASSERT_NE(ReportDB, nullptr);
    PVirtualNode root = Form->tv_FolderTree->GetFirst();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->ChildCount(root), 2u);
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

TEST_F(MainWindowTest, ClosingCommitsTheReportEmptiesTheTreesAndStoresTheNormalBoundsWhileMaximized)
{
    OpenReport("kept");
    Form->resize(620, 470);
    Form->move(25, 35);
    QCoreApplication::processEvents();
    Form->showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(Form->isMaximized());
    ASSERT_NE(Form->size(), QSize(620, 470)) << "the screen is larger than the normal bounds";

    support::BoxAnswerer boxes;
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_TRUE(CurrentItem == nullptr && HistoryCurrent == nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount() + Form->tv_FilesTree->TotalCount(), 0u);
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount() + Form->tv_FilesTree->UpdateCount(), 0);
    EXPECT_EQ(
        QList<int>({Get("form_size_x"), Get("form_size_y"), Get("form_top"), Get("form_left"),
                    Get("splitter1_top"), Get("splitter2_left"), Get("fullScreen")}),
        QList<int>({620, 470, 35, 25, Form->gb_InfoGroupBox->height(), Form->gb_FoldersTree->width(), 1}));
    // The transaction was committed.
    EXPECT_EQ(
        reporttest::QueryFile(Path.toStdString(), "SELECT value FROM information WHERE field_Name = 'note';"),
        "kept\n");
}

TEST_F(MainWindowTest, AFailingCommitIsShownAndClosingGoesOn)
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
