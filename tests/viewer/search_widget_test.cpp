// The fast search and its result pages on the real main window (offscreen): the terms and what they
// find, paging through one statement, the root's state, the word keys of both boxes, and the full
// search through the dialog.
#include "viewer/Main.h"

#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportTesting.h"
#include "viewer/ufSearchForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

namespace {

class SearchTest : public support::MainWindowFixture
{
protected:
    void Open(const support::ReportBuilder *Report) { OpenWindow(Report->Write(Temp.File("r.db3"))); }
    void Search(const char *Text)
    {
        Form->edit_Search->setText(QString::fromUtf8(Text));
        QTest::keyClick(Form->edit_Search, Qt::Key_Return);
    }
    PVirtualNode Root() const { return Form->tv_FilesTree->GetFirst(); }
    TDirectoryList *Item(PVirtualNode Node) const { return GetNodeItem(Node, Form->tv_FilesTree); }
    // The page's rows in order: "[name]state" each.
    QString Rows() const
    {
        QString rows;
        for (PVirtualNode n = Root()->FirstChild; n; n = n->NextSibling)
            rows += QLatin1Char('[') + Item(n)->name + QLatin1Char(']') + QString::number(n->CheckState);
        return rows;
    }
};

TEST_F(SearchTest, TermsAreLikePatternsAsTypedAndTheRootShowsThePageState)
{
    // x 6 is ticked as a whole (its file 7 without a row counts as checked), y 10 mixed.
    support::ReportBuilder report;
    Open(&report
              .Tree("F a.txt\nF b.TXT\nF abc\nF ABC\nF abcd\nD x\n  F \" a \"\nF a\nF b\nD y 100\n  F in 7\n")
              .Row({.id = 12, .parent = 10, .name = ""})
              .Row({13, 3, 0, 1, "f", 5, 33, "1899-12-29 18:00:00", "2001-02-03 04:05:06",
                    "2030-11-12 23:59:59", 9, 8})
              .Row({14, 3, 2, 2, "g", 6, 2, "x", "05.03.2013 14:07:09", "", 0, 9})
              .Check({.checked = 1, .fileID = 6, .idParent = -1, .checkForFolder = 1})
              .Check({.checked = 0, .fileID = 2, .idParent = -1, .checkForFolder = 0})
              .Check({.checked = 2, .fileID = 10, .idParent = -1, .checkForFolder = 0}));
    // Typed | the rows found in report order with their states | the root's state.
    for (const QString &c :
         QStringList{"*.txt|[a.txt]0[b.TXT]0|0", "a;b|[a]0[b]0|0", "a, b.txt|[b.TXT]0[a]0|0", " a |[ a ]2|2",
                     "ABC|[abc]0[ABC]0|0", "y|[y]4|4", "x;a|[x]2[a]0|4", "|[]0|0", "nothing||0"}) {
        Search(c.section('|', 0, 0).toUtf8());
        EXPECT_EQ(Rows() + '|' + QString::number(Root()->CheckState), c.section('|', 1)) << c.toStdString();
    }
    // Each field of a row from its own column; a found folder's size is what lies below it.
    for (const auto &[typed, fields] :
         {std::pair{"y", "y 10 -1 7 1 0 0 2020-01-02 03:04:05|2020-01-02 03:04:05|2020-01-02 03:04:05"},
          {"f", "f 13 3 5 0 1 33 1899-12-29 18:00:00|2001-02-03 04:05:06|2030-11-12 23:59:59"},
          {"g", "g 14 3 6 0 0 2 1980-01-01 00:00:00|2013-03-05 14:07:09|1980-01-01 00:00:00"}}) {
        Search(typed);
        EXPECT_EQ(reporttest::ItemFields(*Item(Root()->FirstChild)), fields);
    }
}

TEST_F(SearchTest, PagesContinueOneStatementUntilItsEnd)
{
    support::ReportBuilder report;
    for (int i = 1; i <= 4500; ++i)
        report.Row({.id = i, .name = i <= 2500 ? "m" : "n"});
    Open(&report);
    // What "Shown" reads after the first page and each "More results...".
    for (const auto &[typed, shown] : {std::pair{"m", QStringList{"1 - 1000", "1001 - 2000", "2001 - 2500"}},
                                       std::pair{"n", QStringList{"1 - 1000", "1001 - 2000", "0 - 0"}}}) {
        Search(typed);
        std::set<int64_t> ids;
        for (const QString &text : shown) {
            if (text != shown.first()) {
                EXPECT_TRUE(Form->btn_MoreResults->isEnabled());
                Form->btn_MoreResults->click();
            }
            EXPECT_EQ(Form->lbl_ShownCount->text(), text);
            for (PVirtualNode n = Root()->FirstChild; n; n = n->NextSibling)
                ids.insert(Item(n)->id);
        }
        EXPECT_EQ(QString::number(ids.size()), Form->lbl_FoundedCount->text()) << typed;
        EXPECT_FALSE(Form->btn_MoreResults->isEnabled() || Form->mi_MoreResults->isEnabled() || SearchStmt);
    }
    // A search while a statement is open: only the new one is left.
    Search("m");
    Search("n");
    int statements = 0;
    for (sqlite3_stmt *s = sqlite3_next_stmt(ReportDB, nullptr); s; s = sqlite3_next_stmt(ReportDB, s))
        statements += QByteArray(sqlite3_sql(s)).startsWith("SELECT ID_FILE");
    EXPECT_EQ(statements, 1);
}

TEST_F(SearchTest, CtrlBackspaceAndCtrlDeleteTakeAWordInBothBoxes)
{
    support::ReportBuilder report;
    Open(&report.Tree("F a\n"));
    QLineEdit *line = Form->edit_Search;
    QPlainTextEdit *memo = Form->mem_Comments;
    // The comment box edits the focused item's comment.
    Form->tv_FolderTree->SetFocusedNode(Form->tv_FolderTree->GetFirst());
    // The text, the caret, Ctrl with Backspace (<) or Delete (>), the text and the caret left.
    for (const QString &c : QStringList{"foo bar baz|11|<|foo bar|7", "foo bar baz|7|<|foo baz|3",
                                        "one,two|7|<|one,|4", "foo bar|0|>|bar|0", "one two.x|4|>|one x|4"}) {
        const QString text = c.section('|', 0, 0), left = c.section('|', 3, 3);
        const int caret = c.section('|', 1, 1).toInt(), after = c.section('|', 4, 4).toInt();
        const Qt::Key key = c.section('|', 2, 2) == "<" ? Qt::Key_Backspace : Qt::Key_Delete;
        line->setText(text);
        line->setCursorPosition(caret);
        memo->setPlainText(line->text());
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(caret);
        memo->setTextCursor(cursor);
        QTest::keyClick(line, key, Qt::ControlModifier);
        QTest::keyClick(memo, key, Qt::ControlModifier);
        EXPECT_EQ(line->text() + '|' + memo->toPlainText(), left + '|' + left) << c.toStdString();
        EXPECT_EQ(line->cursorPosition() + memo->textCursor().position(), 2 * after) << c.toStdString();
    }
}

// The size label and the deleted mark show the focused row; a page or a search that frees it leaves
// them showing no item.
TEST_F(SearchTest, ANewPageOrSearchTakesTheFreedRowsSizeAndDeletedMarkAway)
{
    support::ReportBuilder report;
    Open(&report.Tree("F m 2048 deleted\nF m 3072\n"));
    const auto resetPageSize = qScopeGuard([] { SearchPageSize = 1000; });
    for (const std::string next : {"More results...", "a new search"}) {
        SearchPageSize = 1;
        Search("m");
        Form->tv_FilesTree->SetFocusedNode(Root()->FirstChild);
        ASSERT_TRUE(Form->lbl_sizeLabel->text().endsWith(QLatin1String(" KB")));
        ASSERT_TRUE(support::DeletedMarkShown(Form.get()));
        if (next == "a new search")
            Search("m");
        else
            Form->btn_MoreResults->click();
        EXPECT_EQ(Form->lbl_sizeLabel->text(), QLatin1String("0")) << next;
        EXPECT_FALSE(support::DeletedMarkShown(Form.get())) << next;
    }
}

// The full search through its dialog: the focused folder names the dialog's folder and scope, none
// focused scopes to the top; the page size chosen there holds for later fast searches; nothing found
// gives the message and an empty page; Cancel changes nothing; "Shown" starts again with each search.
TEST_F(SearchTest, FullSearchSetsThePageSizeAndScopeAndCancelChangesNothing)
{
    support::ReportBuilder report;
    Open(&report.Tree("D A\n  F a.txt\n  F tmp.txt\n  D A1\n    F d.txt\nF g.txt\n"));
    TSearchForm dialog(Form.get());
    SearchForm = &dialog;
    auto answer = [&](const char *Include, bool Ok, int Scope = 0) {
        QTimer::singleShot(0, [&, Include, Ok, Scope] {
            dialog.lb_AddName->clear();
            dialog.edit_AddName->setText(QString::fromLatin1(Include));
            dialog.edit_DelName->setText(QStringLiteral("tmp"));
            dialog.chb_UseName->setChecked(true);
            dialog.cb_Folder->setCurrentIndex(Scope);
            dialog.edit_SearchLimit->setText(QStringLiteral("1"));
            (Ok ? dialog.bb_OkBitBtn : dialog.bb_CancelBitBtn)->click();
        });
        Form->tb_FullSearch->click();
    };
    support::Focus(Form->tv_FolderTree, support::FindNode(Form->tv_FolderTree, QStringLiteral("A")));
    answer("*.txt", true, 1);
    EXPECT_EQ(dialog.lbl_FolderName->text() + ' ' + QString::number(Item(Root()->FirstChild)->id),
              QStringLiteral("A 2"));
    answer("*.txt", true);
    QString found;
    for (; Root()->FirstChild; Form->btn_MoreResults->click())
        found += QString::number(Item(Root()->FirstChild)->id) + ' ';
    EXPECT_EQ(found, QStringLiteral("2 5 6 "));
    support::BoxAnswerer boxes;
    answer("nothing", true);
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Files with current parameters were not found")});
    EXPECT_EQ(Form->lbl_ShownCount->text() + Form->lbl_FoundedCount->text(), QStringLiteral("0 - 00"));
    Search("*.txt");
    sqlite3_stmt **statement = SearchStmt;
    answer("*.txt", false);
    EXPECT_EQ(SearchStmt, statement);
    EXPECT_EQ(Form->lbl_ShownCount->text() + "/" + Form->lbl_FoundedCount->text(), QStringLiteral("1 - 1/4"));
    Form->tv_FolderTree->SetFocusedNode(nullptr);
    answer("*.txt", true, 1);
    EXPECT_EQ(Form->lbl_ShownCount->text() + " " + QString::number(Item(Root()->FirstChild)->id),
              QStringLiteral("1 - 1 6"));
    SearchForm = nullptr;
}

} // namespace
