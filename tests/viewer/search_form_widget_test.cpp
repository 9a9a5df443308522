// The extended search dialog: the statement its OK builds and its handlers driven by keys and clicks.
// The built statement run on a report is in the search and review tests.
#include "viewer/ufSearchForm.h"

#include "report/uExtraFunctions.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

const std::string Select =
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, "
    "F_UPDATE, F_ACCESS, F_FLAGS, F_CHILDREN_SIZE FROM struct_drive_table ";
const std::string Where = Select + "WHERE( ";

// Folders 1 > 2 > 3, for the subfolder scope.
const char *const Tree = "D Docs id=1\n  D Sub id=2\n    D Deep id=3\n";

class SearchFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(sqlite3_open(support::ReportBuilder().Tree(Tree).Write(Dir.File("r.db")).c_str(), &DB),
                  SQLITE_OK);
        Ready(Form);
    }
    void TearDown() override { sqlite3_close(DB); }

    // As the main window hands the dialog over, with the year 2020 in the pickers and nothing ticked.
    void Ready(TSearchForm &F)
    {
        F.SearchDB = DB;
        F.InitCaptions();
        F.dtp_Start->setDate(QDate(2020, 1, 1));
        F.dtp_Finish->setDate(QDate(2020, 12, 31));
        F.chb_UseDate->setChecked(false);
    }

    support::TempDir Dir;
    sqlite3 *DB = nullptr;
    TSearchForm Form;
};

void AddRange(TSearchForm &F, int KindRow)
{
    F.cb_TypeDate->setCurrentIndex(KindRow);
    F.btn_AddTimeClick();
}

// The year 2020 as a condition on Column.
std::string Year(const std::string &Column)
{
    const std::string from = "\"2020-01-01 00:00:00\"", to = "\"2020-12-31 23:59:59\"";
    const std::string test = "ReportTimeIn(" + Column + ", " + from + ", " + to + ")";
    return "(" + test + " and (" + Column + " between " + from + " and " + to + " or " + Column +
           " between '01.' and '19/' and " + test + " or " + Column + " between '20.' and '20/' and " + test +
           " or " + Column + " between '21.' and '31/' and " + test + "))";
}

struct StatementCase
{
    const char *Name;
    int Deleted = 0, Folder = 0;
    int64_t FolderID = -1;
    const char *MinSize = "", *MaxSize = "";
    int MaxUnit = 1;
    int PickerKind = -1;     // a kind row: the date search by the pickers
    std::vector<int> Ranges; // kind rows added to the list, in order
    const char *Include = "", *Exclude = "";
    std::string Sql;
    QStringList Params;
};

TEST_F(SearchFormTest, BuildsTheStatementOfTheSettings)
{
    const StatementCase cases[] = {
        {.Name = "nothing", .Sql = Select + ";"},
        {.Name = "deleted only", .Deleted = 1, .Sql = Where + "(IS_DELETED = 1) );"},
        {.Name = "folder, none focused", .Folder = 1, .Sql = Where + "(ID_PARENT = -1) );"},
        {.Name = "subfolders", .Folder = 2, .FolderID = 1, .Sql = Where + " (ID_PARENT IN (1, 2, 3 )) );"},
        {.Name = "no subfolders", .Folder = 2, .FolderID = 3, .Sql = Where + " (ID_PARENT IN (3 )) );"},
        {.Name = "2 KB, empty upper", .MinSize = "2", .Sql = Where + "(F_SIZE >= 2048) );"},
        {.Name = "3 GB", .MaxSize = "3", .MaxUnit = 3, .Sql = Where + "(F_SIZE <= 3221225472) );"},
        {.Name = "overflow held at the limit",
         .MaxSize = "9000000000000",
         .MaxUnit = 3,
         .Sql = Where + "(F_SIZE <= 9223372036854775807) );"},
        {.Name = "list, in list order",
         .Ranges = {2, 0, 0}, // Opened, Created, Changed
         .Sql = Where + Year("F_ACCESS") + " and " + Year("F_CREATE") + " and " + Year("F_UPDATE") + " );"},
        {.Name = "include only",
         .Include = "a; b",
         .Sql = Where + "(F_NAME like ? or F_NAME like ? ) );",
         .Params = {QStringLiteral("%a%"), QStringLiteral("%b%")}},
        {.Name = "exclude only",
         .Exclude = "c",
         .Sql = Where + "( not ( F_NAME like ? )) );",
         .Params = {QStringLiteral("%c%")}},
        {.Name = "both, star and empty entry",
         .Include = "*.ext,",
         .Exclude = "c",
         .Sql = Where + "(F_NAME like ? or F_NAME like ? ) and not ( F_NAME like ? ) );",
         .Params = {QStringLiteral("%%.ext%"), QStringLiteral("%%"), QStringLiteral("%c%")}},
        {.Name = "all kinds in order",
         .Deleted = 2,
         .Folder = 1,
         .MaxSize = "1",
         .MaxUnit = 0,
         .PickerKind = 1,
         .Exclude = "c",
         .Sql = Where + "(IS_DELETED = 0) and (ID_PARENT = -1) and (F_SIZE <= 1) and " + Year("F_UPDATE") +
                " and ( not ( F_NAME like ? )) );",
         .Params = {QStringLiteral("%c%")}},
    };
    for (const StatementCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TSearchForm f;
        Ready(f);
        f.cb_Deleted->setCurrentIndex(c.Deleted);
        f.cb_Folder->setCurrentIndex(c.Folder);
        f.FolderID = c.FolderID;
        f.edit_MinSize->setText(QString::fromLatin1(c.MinSize));
        f.edit_MaxSize->setText(QString::fromLatin1(c.MaxSize));
        f.cb_CapMaxComboBox->setCurrentIndex(c.MaxUnit);
        if (c.PickerKind >= 0) {
            f.cb_TypeDate->setCurrentIndex(c.PickerKind);
            f.dtp_StartChange();
        }
        for (int kind : c.Ranges)
            AddRange(f, kind);
        f.edit_AddName->setText(QString::fromLatin1(c.Include));
        f.edit_DelName->setText(QString::fromLatin1(c.Exclude));
        f.bb_OkBitBtnClick();
        EXPECT_EQ(f.SearchSQL, c.Sql);
        EXPECT_EQ(f.SearchParams, c.Params);
    }
}

// A date range finds the times of both layouts that the list reads (ReportStrToDateTime) as lying from
// the first second of its first day to the last second of its last, whatever the kind and whether
// the range comes from the pickers or from list entries, with and without the column's index.
TEST_F(SearchFormTest, DateRangesFindTimesOfBothLayoutsAsTheListReadsThem)
{
    const QDateTime moments[] = {{{2019, 12, 31}, {23, 59, 59}}, {{2020, 1, 1}, {0, 0}},
                                 {{2020, 1, 1}, {0, 0, 1}},      {{2020, 6, 15}, {12, 30}},
                                 {{2020, 12, 31}, {23, 59, 59}}, {{2021, 1, 1}, {0, 0}},
                                 {{1999, 12, 31}, {23, 59, 59}}, {{2000, 1, 1}, {0, 0}},
                                 {{1985, 5, 20}, {10, 0}}}; // sorts between 1999 and 2000 as d.m.y text
    std::vector<std::string> texts;
    for (const QDateTime &m : moments)
        for (const char *layout : {"yyyy-MM-dd hh:mm:ss", "dd.MM.yyyy hh:mm:ss"})
            texts.push_back(m.toString(QString::fromLatin1(layout)).toStdString());
    // Each column meets every text.
    const size_t n = texts.size();
    support::ReportBuilder report;
    for (size_t i = 0; i < n; ++i)
        report.Row({.id = int64_t(i), .name = "t", .create = texts[i], .update = texts[(i + 1) % n],
                    .access = texts[(i + 2) % n]});
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(report.Write(Dir.File("times.db")).c_str(), &db), SQLITE_OK);
    for (const TPrepareStep &step : ReportPreparationSteps)
        ASSERT_EQ(sqlite3_exec(db, step.Sql, nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(RegisterReportFunctions(db), SQLITE_OK);

    struct
    {
        QDate From, To;
    } const ranges[] = {{{2020, 1, 1}, {2020, 12, 31}}, {{2020, 1, 1}, {2020, 1, 1}},
                        {{2019, 12, 31}, {2019, 12, 31}}, {{1999, 12, 31}, {2000, 1, 1}},
                        {{1985, 5, 20}, {1985, 5, 20}}, {{2021, 1, 1}, {2020, 1, 1}}};
    // Kind rows of the combo as it starts; -1 adds "Created" and "Opened" to the list, both must hold.
    for (const auto &r : ranges)
        for (const std::vector<int> &kinds : std::vector<std::vector<int>>{{0}, {1}, {2}, {0, 2}})
            for (const bool list : {false, true}) {
                if (kinds.size() > 1 && !list)
                    continue;
                SCOPED_TRACE(r.From.toString(Qt::ISODate).toStdString() + " " + std::to_string(kinds[0]) +
                             (list ? " list" : " pickers"));
                TSearchForm f;
                Ready(f);
                f.SearchDB = db;
                f.dtp_Start->setDate(r.From);
                f.dtp_Finish->setDate(r.To);
                for (int kind : kinds) {
                    f.cb_TypeDate->setCurrentIndex(f.cb_TypeDate->findData(kind));
                    list ? f.btn_AddTimeClick() : f.dtp_StartChange();
                }
                f.bb_OkBitBtnClick();
                std::set<int64_t> found, wanted;
                sqlite3_stmt *s = nullptr;
                ASSERT_EQ(sqlite3_prepare_v2(db, f.SearchSQL.c_str(), -1, &s, nullptr), SQLITE_OK);
                while (sqlite3_step(s) == SQLITE_ROW)
                    found.insert(sqlite3_column_int64(s, 0));
                sqlite3_finalize(s);
                const auto inRange = [&](const std::string &Text) {
                    const QDateTime t = DateTimeToQDateTime(ReportStrToDateTime(Text));
                    const auto at = std::pair(t.date(), t.time());
                    return std::pair(r.From, QTime(0, 0)) <= at && at <= std::pair(r.To, QTime(23, 59, 59));
                };
                for (size_t i = 0; i < n; ++i)
                    if (std::all_of(kinds.begin(), kinds.end(),
                                    [&](int kind) { return inRange(texts[(i + size_t(kind)) % n]); }))
                        wanted.insert(int64_t(i));
                EXPECT_EQ(found, wanted);
            }
    sqlite3_close(db);
}

TEST_F(SearchFormTest, NameEditsTickMoveAndUntick)
{
    QTest::keyClicks(Form.edit_AddName, QStringLiteral(".."));
    QTest::keyClick(Form.edit_AddName, Qt::Key_Backspace);
    EXPECT_FALSE(Form.chb_UseName->isChecked());
    Form.edit_AddName->clear();
    QTest::keyClicks(Form.edit_AddName, QStringLiteral("a;b;"));
    EXPECT_TRUE(Form.chb_UseName->isChecked());
    Form.btn_AddName->click();
    ASSERT_EQ(Form.lb_AddName->count(), 3);
    EXPECT_EQ(Form.lb_AddName->item(2)->text(), QString());

    // Delete on the list removes the selected entry; the box unticks with the last one.
    for (int i = 0; i < 3; ++i) {
        Form.lb_AddName->setCurrentRow(0);
        QTest::keyClick(Form.lb_AddName, Qt::Key_Delete);
        EXPECT_EQ(Form.chb_UseName->isChecked(), i < 2);
    }
    QTest::keyClick(Form.lb_AddName, Qt::Key_Delete); // no entry, no effect

    // Enter moves both edits; a second Enter in empty edits searches and closes.
    Form.show();
    Form.edit_AddName->setText(QStringLiteral("x"));
    Form.edit_DelName->setText(QStringLiteral("y"));
    QTest::keyClick(Form.edit_AddName, Qt::Key_Return);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Form.lb_AddName->item(0)->text(), QStringLiteral("x"));
    EXPECT_EQ(Form.lb_DelName->item(0)->text(), QStringLiteral("y"));
    QTest::keyClick(Form.edit_AddName, Qt::Key_Return);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(Form.SearchParams, (QStringList{QStringLiteral("%x%"), QStringLiteral("%y%")}));
}

TEST_F(SearchFormTest, DateKindsTravelBetweenComboAndList)
{
    AddRange(Form, 0); // Created
    EXPECT_TRUE(Form.chb_UseDate->isChecked());
    AddRange(Form, 1); // Opened, now second of "Changed", "Opened"
    ASSERT_EQ(Form.lb_Dates->count(), 2);
    EXPECT_TRUE(Form.lb_Dates->item(1)->text().startsWith(QStringLiteral("Opened: ")));

    // Right button on the second entry, then the popup's item: "Opened" comes back last and selected,
    // with its own kind.
    QTest::mouseClick(Form.lb_Dates->viewport(), Qt::RightButton, {},
                      Form.lb_Dates->visualItemRect(Form.lb_Dates->item(1)).center());
    Form.btn_deletePopUpBtn->trigger();
    Form.pm_PopupMenu1->hide();
    ASSERT_EQ(Form.cb_TypeDate->currentIndex(), 1);
    EXPECT_EQ(Form.cb_TypeDate->currentText() + Form.cb_TypeDate->currentData().toString(), "Opened2");

    AddRange(Form, 0);
    AddRange(Form, 0);
    EXPECT_EQ(Form.cb_TypeDate->count(), 0);
    EXPECT_FALSE(Form.btn_AddTime->isEnabled());
    for (int left = 2; left >= 0; --left) {
        Form.lb_Dates->setCurrentRow(0);
        QTest::keyClick(Form.lb_Dates, Qt::Key_Delete);
        EXPECT_TRUE(Form.btn_AddTime->isEnabled());
        EXPECT_EQ(Form.chb_UseDate->isChecked(), left > 0);
    }
    EXPECT_EQ(Form.cb_TypeDate->count(), 3);

    // A new end date counts as a date setting.
    Form.dtp_Finish->setDate(QDate(2021, 1, 1));
    EXPECT_TRUE(Form.chb_UseDate->isChecked());
}

TEST_F(SearchFormTest, NumberEditsTakeDigitsAndThePageLimitFallsBack)
{
    QTest::keyClicks(Form.edit_MinSize, QStringLiteral("1a-2"));
    EXPECT_EQ(Form.edit_MinSize->text(), QStringLiteral("12"));
    Form.edit_MinSize->setCursorPosition(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier,
                  QStringLiteral("\x7f")); // as X11 sends it
    QApplication::sendEvent(Form.edit_MinSize, &del);
    EXPECT_EQ(Form.edit_MinSize->text(), QStringLiteral("2"));
    EXPECT_TRUE(Form.chb_UseSize->isChecked());
    Form.edit_MinSize->clear();
    EXPECT_FALSE(Form.chb_UseSize->isChecked());

    struct
    {
        const char *Typed, *Kept;
        bool Warned;
    } const limits[] = {{"4000", "4000", true},
                        {"3000", "3000", false},
                        {"0", "1000", false},
                        {"99999999999", "1000", false}};
    Form.show();
    for (const auto &l : limits) {
        SCOPED_TRACE(l.Typed);
        Form.activateWindow(); // the warning took the activation
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
        support::BoxAnswerer boxes;
        Form.edit_SearchLimit->setFocus();
        Form.edit_SearchLimit->setText(QString::fromLatin1(l.Typed));
        Form.edit_MaxSize->setFocus(); // leaves the edit
        EXPECT_EQ(Form.edit_SearchLimit->text(), QString::fromLatin1(l.Kept));
        EXPECT_EQ(boxes.Texts.size(), l.Warned ? 1 : 0);
    }
}

} // namespace
