// The real main window, started offscreen: drops, the end of a load, closing a report (commit and
// geometry), the marks of the file list, a wait window that cannot be made, and tearing down.
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
#include "tests/support/LogLines.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"

#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

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

    static int32_t Get(const char *Name)
    {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey("SOFTWARE\\Korrin Lab\\ParvixViewer", false));
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
        ReportFile = FileIdOf(Path.toStdString()); // as opening it for work notes it
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
    }

    QString Path;
};

// What a dropped path that names no file hears.
QString NoSuchReport()
{
    return QStringLiteral("Can not open report file!\nThe file can not be read: %1.")
        .arg(std::strerror(ENOENT));
}

TEST_F(MainWindowTest, DropsOfLocalFilesReachTheDropHandlerAfterTheDrop)
{
    const QString noSuchReport = NoSuchReport();
    Start();
    // A drop hands its local paths to the drop handler once the drop has ended: only the first is tried.
    QTemporaryDir dir;
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing-1.db3"))),
                     QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing-2.db3")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    support::BoxAnswerer boxes;
    QCoreApplication::sendEvent(Form.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(boxes.Texts.isEmpty()) << "nothing is opened inside the drop";
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(boxes.Texts, QStringList{noSuchReport});

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
    EXPECT_EQ(boxes.Texts, QStringList{noSuchReport});
}

// A file dropped on either box goes to the drop handler as anywhere on the window, and into neither box
// as text: the comment left in the box is what was typed.
TEST_F(MainWindowTest, AFileDroppedOnEitherBoxIsOpenedAndGoesInAsNoText)
{
    OpenWindow(
        support::ReportBuilder().Tree("D docs\n  F a.txt 10\n").WithCheckTable().Write(Temp.File("r.db3")));
    support::Focus(Form->tv_FolderTree, support::FindNode(Form->tv_FolderTree, QStringLiteral("docs")));
    Form->tv_FilesTree->SetFocusedNode(support::FindNode(Form->tv_FilesTree, QStringLiteral("a.txt")));
    Form->edit_Search->setText(QStringLiteral("a*"));
    support::WriteComment(Form->mem_Comments, QStringLiteral("seen"), false);
    QTemporaryDir dir;
    const QUrl file = QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.db3")));
    // The URL alone, and with its text as file managers give it too.
    QMimeData urlOnly, withText;
    urlOnly.setUrls({file});
    withText.setUrls({file});
    withText.setText(file.toString());
    // The comment box's drops land on its viewport.
    for (QWidget *box : std::initializer_list<QWidget *>{Form->edit_Search, Form->mem_Comments,
                                                         Form->mem_Comments->viewport()})
        for (QMimeData *dropped : {&urlOnly, &withText}) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(box, &enter);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
            support::BoxAnswerer boxes;
            QCoreApplication::sendEvent(box, &drop);
            EXPECT_TRUE(drop.isAccepted()) << box->objectName().toStdString();
            QCoreApplication::sendPostedEvents();
            EXPECT_EQ(boxes.Texts, QStringList{NoSuchReport()});
        }
    EXPECT_EQ(Form->edit_Search->text().toStdString() + "|" + Form->mem_Comments->toPlainText().toStdString(),
              "a*|seen");
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(Form->mem_Comments, &out);
    EXPECT_EQ(reporttest::Query(ReportDB, "SELECT group_concat(comment) FROM check_and_comment_map"),
              "seen\n");
}

TEST_F(MainWindowTest, LoadFinishedWaitsForTheWaitWindowsModalLoopAndDestroyFreesIt)
{
    Start();
    const auto finishLoads = [this] {
        return support::LogLines().count(QStringLiteral("TMainForm.FinishLoad - start"));
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
    support::BoxAnswerer boxes;
    {
        reporttest::Reader reader(Path.toStdString()); // so the commit cannot write the file
        EXPECT_TRUE(Form->close());
    }

    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("database is locked")))
        << boxes.Texts[0].toStdString();
    // Closing went on: the report is closed and the geometry stored.
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Form->tv_FolderTree->TotalCount(), 0u);
    EXPECT_EQ(Get("form_size_x"), Form->width());
}

// The file list paints the folder tree's marks: the comment mark, then the red cross over it.
TEST_F(MainWindowTest, TheFileListPaintsTheMarksOfACommentedOrDeletedItem)
{
    OpenReport("x");
    PVirtualNode row = Form->tv_FilesTree->GetFirst();
    TDirectoryList *item = GetNodeItem(row, Form->tv_FilesTree);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const QRect rect = Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(row));
    const auto shot = [this] {
        return Form->tv_FilesTreeView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    // Every opaque pixel of the comment mark somewhere along the row, one pixel below its top.
    item->SetHasComment(true);
    const QImage commented = shot();
    const QImage mark =
        dmImg->ilFantom.Image(FantomCommentImage).toImage().convertToFormat(QImage::Format_ARGB32);
    bool shown = false;
    for (int left = 0; !shown && left + mark.width() <= commented.width(); ++left) {
        shown = true;
        for (int y = 0; shown && y < mark.height(); ++y)
            for (int x = 0; shown && x < mark.width(); ++x)
                shown = qAlpha(mark.pixel(x, y)) != 255 ||
                        commented.pixel(left + x, rect.top() + 1 + y) == (mark.pixel(x, y) | 0xFF000000u);
    }
    EXPECT_TRUE(shown);
    item->isDeleted = true;
    const QImage deleted = shot();
    int red = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = 0; x < deleted.width(); ++x)
            red += qRed(deleted.pixel(x, y)) > 200 && qGreen(deleted.pixel(x, y)) < 60;
    EXPECT_GT(red, 5);
}

} // namespace
