// The fast search and its result pages on the real main window (offscreen): the terms and what they
// find, paging through one statement, the root's state, the word keys of both boxes, and a search
// ticked, paged and left for a folder, whose ticks a reopened report still holds.
#include "viewer/Main.h"

#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

namespace {

class SearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
    }
    void TearDown() override
    {
        Form.reset();
        SetLogFolder("");
    }
    void Open(const support::ReportBuilder *Report)
    {
        Form.reset();
        const std::string path = Report ? Report->Write(Temp.File("r.db3")) : Temp.File("r.db3");
        Form = std::make_unique<TMainForm>(nullptr, QStringList{QString(), QString::fromStdString(path)});
        ASSERT_TRUE(QTest::qWaitFor([this] { return Form->tv_FolderTree->GetFirst() && ReportDB; }, 5000));
    }
    void Search(const QString &Text)
    {
        Form->edit_Search->setText(Text);
        QTest::keyClick(Form->edit_Search, Qt::Key_Return);
    }
    PVirtualNode Root() const { return Form->tv_FilesTree->GetFirst(); }
    TDirectoryList *Item(PVirtualNode Node) const { return GetNodeItem(Node, Form->tv_FilesTree); }
    // The page's row names in order, each followed by its check state.
    QString Rows() const
    {
        QString rows;
        for (PVirtualNode n = Root()->FirstChild; n; n = n->NextSibling)
            rows += QLatin1Char('[') + Item(n)->name + QLatin1Char(']') + QString::number(n->CheckState);
        return rows;
    }
    support::TempDir Temp;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(SearchTest, TermsAreLikePatternsAsTypedAndTheRootShowsThePageState)
{
    // x 6 is ticked as a whole (its file 7 without a row counts as checked), y 10 mixed.
    support::ReportBuilder report;
    report.Tree("F a.txt\nF b.TXT\nF abc\nF ABC\nF abcd\nD x\n  F \" a \"\nF a\nF b\nD y 100\n  F in 7\n")
        .Row({.id = 12, .parent = 10, .name = ""})
        .Check({.checked = 1, .fileID = 6, .idParent = -1, .checkForFolder = 1})
        .Check({.checked = 0, .fileID = 2, .idParent = -1, .checkForFolder = 0})
        .Check({.checked = 2, .fileID = 10, .idParent = -1, .checkForFolder = 0});
    Open(&report);
    const struct
    {
        const char *Typed;
        const char *Rows; // in report order, each with its state
        TCheckState Root;
    } cases[] = {
        {"*.txt", "[a.txt]0[b.TXT]0", csUncheckedNormal},
        {"a;b", "[a]0[b]0", csUncheckedNormal},
        {"a, b.txt", "[b.TXT]0[a]0", csUncheckedNormal},
        {" a ", "[ a ]2", csCheckedNormal},
        {"ABC", "[abc]0[ABC]0", csUncheckedNormal},
        {"x;a", "[x]2[a]0", csMixedNormal}, // the control's tracking alone would leave it checked
        {"y", "[y]4", csMixedNormal},
        {"", "[]0", csUncheckedNormal},
        {"nothing", "", csUncheckedNormal},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Typed);
        Search(QString::fromUtf8(c.Typed));
        EXPECT_EQ(Rows(), QString::fromUtf8(c.Rows));
        EXPECT_EQ(Root()->CheckState, c.Root);
        EXPECT_EQ(Item(Root())->name, QStringLiteral("Select all"));
    }
    Search(QStringLiteral("y"));
    EXPECT_EQ(Item(Root()->FirstChild)->size, 7); // a found folder: what lies below it
}

TEST_F(SearchTest, PagesContinueOneStatementUntilItsEnd)
{
    support::ReportBuilder report;
    for (int i = 1; i <= 4500; ++i)
        report.Row({.id = i, .name = i <= 2500 ? "m" : "n"});
    Open(&report);
    const struct
    {
        const char *Typed;
        QStringList Shown; // after the first page and each "More results..."
    } cases[] = {
        {"m", {"1 - 1000", "1001 - 2000", "2001 - 2500"}},
        {"n", {"1 - 1000", "1001 - 2000", "0 - 0"}},
    };
    for (const auto &c : cases) {
        Search(QString::fromUtf8(c.Typed));
        std::set<int64_t> ids;
        for (const QString &shown : c.Shown) {
            if (shown != c.Shown.first()) {
                EXPECT_TRUE(Form->btn_MoreResults->isEnabled());
                Form->btn_MoreResults->click();
            }
            EXPECT_EQ(Form->lbl_ShownCount->text(), shown);
            for (PVirtualNode n = Root()->FirstChild; n; n = n->NextSibling)
                ids.insert(Item(n)->id);
        }
        EXPECT_EQ(QString::number(ids.size()), Form->lbl_FoundedCount->text()) << c.Typed;
        EXPECT_FALSE(Form->btn_MoreResults->isEnabled() || Form->mi_MoreResults->isEnabled());
        EXPECT_EQ(SearchStmt, nullptr);
    }
    // A search while a statement is open: only the new one is left.
    Search(QStringLiteral("m"));
    Search(QStringLiteral("n"));
    int statements = 0;
    for (sqlite3_stmt *s = sqlite3_next_stmt(ReportDB, nullptr); s; s = sqlite3_next_stmt(ReportDB, s))
        statements += QByteArray(sqlite3_sql(s)).startsWith("SELECT ID_FILE");
    EXPECT_EQ(statements, 1);
}

TEST_F(SearchTest, CtrlBackspaceAndCtrlDeleteTakeAWordInBothBoxes)
{
    support::ReportBuilder report;
    Open(&report.Tree("F a\n"));
    for (QWidget *box :
         {static_cast<QWidget *>(Form->edit_Search), static_cast<QWidget *>(Form->mem_Comments)}) {
        const struct
        {
            const char *Text;
            int Caret;
            Qt::Key Key;
            const char *Left;
            int CaretAfter;
        } cases[] = {
            {"foo bar baz", 11, Qt::Key_Backspace, "foo bar", 7},
            {"foo bar", 0, Qt::Key_Delete, "bar", 0},
            {"foo bar baz", 7, Qt::Key_Backspace, "foo baz", 3},
            {"one,two", 7, Qt::Key_Backspace, "one,", 4},
            {"one two.x", 4, Qt::Key_Delete, "one x", 4},
        };
        for (const auto &c : cases) {
            auto *line = qobject_cast<QLineEdit *>(box);
            auto *memo = qobject_cast<QPlainTextEdit *>(box);
            line ? line->setText(QString::fromUtf8(c.Text)) : memo->setPlainText(QString::fromUtf8(c.Text));
            line ? line->setCursorPosition(c.Caret) : [&] {
                QTextCursor cursor = memo->textCursor();
                cursor.setPosition(c.Caret);
                memo->setTextCursor(cursor);
            }();
            QTest::keyClick(box, c.Key, Qt::ControlModifier);
            EXPECT_EQ(line ? line->text() : memo->toPlainText(), QString::fromUtf8(c.Left)) << c.Text;
            EXPECT_EQ(line ? line->cursorPosition() : memo->textCursor().position(), c.CaretAfter) << c.Text;
        }
    }
}

TEST_F(SearchTest, TicksOfPagesStayWhenAFolderIsFocusedAndTheReportReopened)
{
    support::ReportBuilder report;
    Open(&report.Tree("D A\n  F a1.txt\n  F a2.txt\nD B\n  F b1.txt\n  F b2.txt\n  F other\n"));
    SearchPageSize = 2;
    Search(QStringLiteral("*.txt"));
    TVirtualStringTree *files = Form->tv_FilesTree;
    Form->tv_FilesTreeMouseDown(files, Qt::LeftButton, {}, 0, 0);
    files->ToggleCheck(Root());
    EXPECT_EQ(Rows(), QStringLiteral("[a1.txt]2[a2.txt]2"));
    Form->mi_MoreResults->trigger();
    EXPECT_EQ(Rows(), QStringLiteral("[b1.txt]0[b2.txt]0"));
    Form->tv_FilesTreeMouseDown(files, Qt::LeftButton, {}, 0, 0);
    files->ToggleCheck(Root()->LastChild);
    EXPECT_EQ(Root()->CheckState, csMixedNormal);
    // A click on B ends the search mode.
    PVirtualNode b = Form->tv_FolderTree->GetFirst()->FirstChild->NextSibling;
    Form->tv_FolderTreeMouseDown(Form->tv_FolderTree, Qt::LeftButton, {}, 0, 0);
    Form->tv_FolderTree->SetFocusedNode(b);
    EXPECT_FALSE(SearchMode || Form->gb_MoreResults->isVisible());
    EXPECT_EQ(Item(files->GetFirst())->name, QStringLiteral("b1.txt"));
    Form->close();
    Open(nullptr);
    for (int64_t id : {2, 3, 6}) {
        uint8_t state = 0, folderState = 0;
        EXPECT_TRUE(IsCheckedInherited(ReportDB, id, state, folderState) && state == csCheckedNormal) << id;
    }
    uint8_t state = 0, folderState = 0;
    EXPECT_FALSE(IsCheckedInherited(ReportDB, 5, state, folderState) && state == csCheckedNormal);
}

} // namespace
