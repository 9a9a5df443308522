// The file list of the real main window (offscreen) on reports written by the report builder: filling
// it from a focused folder, the size texts, sorting, and what focusing or double-clicking a row does.
#include "viewer/Main.h"

#include "platform/StatusBar.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utAddingFiles.h"
#include "viewer/utFreeMemThread.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>

// Readable texts in failure messages.
void PrintTo(const QString &Text, std::ostream *os)
{
    *os << '"' << Text.toStdString() << '"';
}

namespace {

const QColor Grey(0x80, 0x80, 0x80);

class FileListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override
    {
        Form.reset();
        QLocale::setDefault(QLocale::system());
        SetLogFolder("");
    }
    // The window on the report, once its root's children are loaded.
    void Start(const support::ReportBuilder &Report)
    {
        Form.reset();
        const std::string path = Report.Write(Temp.File("r.db3"));
        Form = std::make_unique<TMainForm>(nullptr, QStringList{QStringLiteral("ParvixViewer"), QString::fromStdString(path)});
        ASSERT_TRUE(QTest::qWaitFor([this] { return Root() && Root()->ChildCount > 0; }, 5000));
    }
    PVirtualNode Root() const { return Form->tv_FolderTree->GetFirst(); }
    // The first node of the tree (folder tree or file list) whose item has that name.
    static PVirtualNode Find(TVirtualStringTree *Tree, const QString &Name)
    {
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (GetNodeItem(n, Tree)->name == Name)
                return n;
        return nullptr;
    }
    // As a click on the folder's row.
    void Focus(const QString &Folder)
    {
        PVirtualNode node = Find(Form->tv_FolderTree, Folder);
        Form->tv_FolderTree->SetFocusedNode(node);
        Form->tv_FolderTree->SetSelected(node, true);
    }
    // The rows in order, each with its tick: "+" checked, "~" mixed, nothing unchecked.
    QString Rows() const
    {
        QStringList rows;
        for (PVirtualNode n = Form->tv_FilesTree->GetFirst(); n; n = n->NextSibling)
            rows << GetNodeItem(n, Form->tv_FilesTree)->name +
                        (n->CheckState == csCheckedNormal ? "+" : n->CheckState == csMixedNormal ? "~" : "");
        return rows.join(QLatin1Char(' '));
    }
    bool DeletedMarkShown() const
    {
        const QImage bar = Form->sb_InfoStatusBar->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage mark = dmImg->ilObjType.Image(ObjTypeDeletedImage).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < mark.height(); ++y)
            for (int x = 0; x < mark.width(); ++x)
                if (qAlpha(mark.pixel(x, y)) == 255 && bar.pixel(x, y + 2) != mark.pixel(x, y))
                    return false;
        return true;
    }

    support::TempDir Temp;
    support::ModalGuard Guard;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(FileListTest, FocusingAFolderListsItsChildrenInOrderWithInheritedAndOwnTicks)
{
    // Docs 1, Sub 2, b.txt 3, A.txt 4, c.txt 5.
    // A file beside Docs keeps the root from being ticked whole, which would tick every stored row.
    const char *const drive = "D Docs\n  D Sub\n  F b.txt 1\n  F A.txt 1\n  F c.txt 1\nF top.txt 1\n";
    const auto row = [](int64_t ID, int Checked, int WholeFolder = 0) {
        return support::CheckRow{{}, Checked, ID, ID == 1 ? -1 : 1, 0, WholeFolder};
    };
    const struct
    {
        std::vector<support::CheckRow> Checks;
        const char *Rows;
    } cases[] = {
        {{}, "Sub A.txt b.txt c.txt"},
        {{row(3, 1)}, "Sub A.txt b.txt+ c.txt"},
        {{row(1, 1, 1)}, "Sub+ A.txt+ b.txt+ c.txt+"},
        // Ticked as a whole, then one child unticked: the folder shows mixed, the others inherit.
        {{row(1, 1, 1), row(5, 0)}, "Sub+ A.txt+ b.txt+ c.txt"},
    };
    for (const auto &c : cases) {
        support::ReportBuilder report;
        report.Tree(drive).WithCheckTable();
        for (const support::CheckRow &check : c.Checks)
            report.Check(check);
        Start(report);
        Focus(QStringLiteral("Docs"));
        EXPECT_EQ(Rows(), QLatin1String(c.Rows));
        EXPECT_EQ(FreeMemThread->Nodes().back(), Find(Form->tv_FolderTree, QStringLiteral("Docs")));
    }
}

TEST_F(FileListTest, WaitWindowCountsTheRowsToComeAndAnEmptyFolderClosesItAtOnce)
{
    std::string big = "D Empty\nD Big\n";
    for (int i = 0; i < 1200; ++i)
        big += "  F f" + std::to_string(i) + " 1\n";
    Start(support::ReportBuilder().Tree(big));
    // Each tick lookup of the worker notes the wait window's text at that moment.
    struct
    {
        std::mutex Lock;
        TWaitForm *Wait;
        QStringList Texts;
    } seen{{}, WaitForm.data(), {}};
    sqlite3_trace_v2(
        ReportDB, SQLITE_TRACE_STMT,
        [](unsigned, void *Context, void *, void *) {
            auto *s = static_cast<decltype(seen) *>(Context);
            const QString text = s->Wait->MessageText();
            const std::lock_guard<std::mutex> lock(s->Lock);
            if (QThread::currentThread() != qApp->thread() && text.size() > AddingFilesText.size() && text.startsWith(AddingFilesText) && !s->Texts.endsWith(text))
                s->Texts << text;
            return 0;
        },
        &seen);
    Focus(QStringLiteral("Big"));
    EXPECT_EQ(seen.Texts, QStringList({AddingFilesText + "1200", AddingFilesText + "700", AddingFilesText + "200"}));
    EXPECT_EQ(Form->tv_FilesTree->ChildCount(nullptr), 1200u);
    seen.Texts.clear();
    Focus(QStringLiteral("Empty"));
    EXPECT_TRUE(seen.Texts.isEmpty());
    EXPECT_EQ(Form->tv_FilesTree->ChildCount(nullptr), 0u);
    EXPECT_FALSE(WaitForm->InModalShow() || WaitForm->isVisible());
    sqlite3_trace_v2(ReportDB, 0, nullptr, nullptr);
}

TEST_F(FileListTest, TheShownFolderAgainOrAKeyboardMoveInSearchModeChangeOnlyTheCommentBox)
{
    Start(support::ReportBuilder().Tree("D Docs\n  F a 1\nD Other\n  F b 1\n").Check({"docs note", 0, 1, -1, 0, 0}));
    Focus(QStringLiteral("Docs"));
    PVirtualNode docs = Find(Form->tv_FolderTree, QStringLiteral("Docs"));
    PVirtualNode other = Find(Form->tv_FolderTree, QStringLiteral("Other"));
    const struct
    {
        PVirtualNode New;
        bool Search, MouseDown, Changed, Refilled;
        const char *Comment;
    } cases[] = {
        {docs, false, false, false, false, "docs note"},
        {docs, false, false, true, true, "docs note"},
        {other, true, false, false, false, "Your comment to file"},
        {other, true, true, false, true, "Your comment to file"},
    };
    for (const auto &c : cases) {
        SearchMode = c.Search;
        MouseDownPending = c.MouseDown;
        CheckChanged = c.Changed;
        Form->tv_FilesTree->GetFirst()->CheckState = csMixedPressed; // gone when the rows are made anew
        Form->gb_MoreResults->show();
        Form->mi_MoreResults->setEnabled(true);
        bool allowed = true;
        Form->tv_FolderTreeFocusChanging(Form->tv_FolderTree, docs, c.New, 0, 0, allowed);
        EXPECT_EQ(Form->tv_FilesTree->GetFirst()->CheckState != csMixedPressed, c.Refilled);
        EXPECT_EQ(SearchMode, c.Search && !c.Refilled);
        EXPECT_EQ(Form->mem_Comments->toPlainText(), QLatin1String(c.Comment));
        EXPECT_FALSE(Form->gb_MoreResults->isVisibleTo(Form.get()) || Form->mi_MoreResults->isEnabled());
    }
}

TEST_F(FileListTest, SizeColumnAndSizeDisplay)
{
    Start(support::ReportBuilder().Tree("D Small\n  F x 500\n"));
    const struct
    {
        int64_t Bytes;
        const char *Column, *Display;
        QLocale::Language Language = QLocale::English;
    } files[] = {
        {0, "0", "0.00 KB"},
        {500, "1", "0.49 KB"},
        {1025, "2", "1.00 KB"},
        {1048575, "1 024", "1024.00 KB"},
        {1048576, "1 024", "1.00 MB (1024 KB)"},
        {1500000, "1 465", "1.43 MB (1465 KB)"},
        {1500000, "1 465", "1,43 MB (1465 KB)", QLocale::German},
        {1073741824, "1 048 576", "1.00 GB (1048576 KB)"},
        {1264001024, "1 234 376", "1.18 GB (1234376 KB)"},
        {3298534883328, "3 221 225 472", "3072.00 GB (3221225472 KB)"},
    };
    for (const auto &f : files) {
        QLocale::setDefault(QLocale(f.Language));
        TDirectoryList item(QStringLiteral("f"), 9, 1, f.Bytes, false, false, 0, 0, 0, 0);
        TVirtualStringTree tree;
        QString column;
        Form->tv_FilesTreeGetText(&tree, tree.AddChild(nullptr, &item), 1, ttNormal, column);
        Form->ShowSize(&item, {Form->lbl_sizeLabel});
        EXPECT_EQ(column + "|" + Form->lbl_sizeLabel->text(), QString("%1|%2").arg(f.Column, f.Display));
    }
    QLocale::setDefault(QLocale(QLocale::English));
    Form->ShowSize(GetNodeItem(Find(Form->tv_FolderTree, QStringLiteral("Small")), Form->tv_FolderTree),
                   {Form->lbl_sizeLabel});
    EXPECT_EQ(Form->lbl_sizeLabel->text(), QLatin1String("0.00 MB (1 KB)"));
    Form->ShowSize(GetNodeItem(Root(), Form->tv_FolderTree), {Form->lbl_sizeLabel});
    EXPECT_EQ(Form->lbl_sizeLabel->text(), QLatin1String("0.00 MB (0 KB)"));
}

TEST_F(FileListTest, HeaderClicksSortEachColumnBothWaysAndShadeIt)
{
    Start(support::ReportBuilder().Tree("D Docs\n  D zdir\n  D Adir\n  F b.txt 1024 date=1980-01-02 03:04:05\n"
                                        "  F a.png 3221225472 date=1926-05-01 10:00:00\n  F C.txt 10\n  F d.md 1\n"));
    Focus(QStringLiteral("Docs"));
    TVTHeader &header = Form->tv_FilesTree->Header;
    const struct
    {
        int Column;
        Qt::MouseButton Button;
        TSortDirection Direction;
        const char *Rows;
    } clicks[] = {
        {1, Qt::LeftButton, sdAscending, "Adir zdir d.md C.txt b.txt a.png"},
        {1, Qt::LeftButton, sdDescending, "a.png b.txt C.txt d.md Adir zdir"},
        {1, Qt::LeftButton, sdAscending, "Adir zdir d.md C.txt b.txt a.png"},
        {0, Qt::LeftButton, sdAscending, "a.png Adir b.txt C.txt d.md zdir"},
        {0, Qt::RightButton, sdAscending, "a.png Adir b.txt C.txt d.md zdir"},
        {0, Qt::LeftButton, sdDescending, "zdir d.md C.txt b.txt Adir a.png"},
        {2, Qt::LeftButton, sdAscending, "a.png b.txt zdir d.md C.txt Adir"},
        {5, Qt::LeftButton, sdAscending, "d.md b.txt C.txt a.png zdir Adir"},
        {5, Qt::LeftButton, sdDescending, "zdir Adir a.png b.txt C.txt d.md"},
    };
    for (const auto &c : clicks) {
        Form->tv_FilesTree->OnHeaderClick(&header, c.Column, c.Button, {}, 0, 0);
        EXPECT_EQ(Rows(), QLatin1String(c.Rows));
        // The control's own sort through the compare event finds the rows in order already.
        Form->tv_FilesTree->SortTree(header.SortColumn(), header.SortDirection());
        EXPECT_EQ(Rows(), QLatin1String(c.Rows));
        EXPECT_EQ(header.SortDirection(), c.Direction);
        for (int i = 0; i < header.ColumnCount(); ++i)
            EXPECT_EQ(!header.Column(i).ParentColor && header.Column(i).Color == QColor(0xF7, 0xF7, 0xF7),
                      i == c.Column)
                << c.Rows << " column " << i;
    }
}

TEST_F(FileListTest, FocusingARowShowsItsSizeCommentAndDeletedMarkAndADoubleClickOpensAFolder)
{
    Start(support::ReportBuilder()
              .Tree("D Docs\n  D zdir\n    F inner.txt 1\n  F b.txt 1024\n  F old.txt 2048 deleted\n")
              .Check({"b note", 0, 4, 1, 0, 0}));
    Focus(QStringLiteral("Docs"));
    const struct
    {
        const char *Row, *Size, *Comment;
        bool Deleted;
    } rows[] = {
        {"old.txt", "2.00 KB", "Your comment to file", true},
        {"b.txt", "1.00 KB", "b note", false},
        {"zdir", "0.00 MB (1 KB)", "Your comment to file", false},
    };
    for (const auto &r : rows) {
        Form->tv_FilesTree->SetFocusedNode(Find(Form->tv_FilesTree, QLatin1String(r.Row)));
        EXPECT_EQ(Form->lbl_sizeLabel->text(), QLatin1String(r.Size));
        EXPECT_EQ(Form->mem_Comments->toPlainText(), QLatin1String(r.Comment));
        EXPECT_EQ(Form->mem_Comments->palette().color(QPalette::Text) == Grey, r.Comment != QLatin1String("b note"));
        EXPECT_EQ(DeletedMarkShown(), r.Deleted) << r.Row;
    }
    const struct
    {
        const char *Row, *Focused, *Rows;
    } doubleClicks[] = {{"b.txt", "Docs", "zdir b.txt old.txt"}, {"zdir", "zdir", "inner.txt"}};
    for (const auto &d : doubleClicks) {
        // The first click of a double click focuses the row.
        auto *view = Form->tv_FilesTreeView;
        const QPoint at = view->visualRect(view->IndexOf(Find(Form->tv_FilesTree, QLatin1String(d.Row)))).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        PVirtualNode focused = Form->tv_FolderTree->FocusedNode();
        EXPECT_EQ(GetNodeItem(focused, Form->tv_FolderTree)->name, QLatin1String(d.Focused));
        EXPECT_TRUE(TVirtualStringTree::Selected(focused));
        EXPECT_EQ(Rows(), QLatin1String(d.Rows));
    }
}

} // namespace
