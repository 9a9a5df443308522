// Saving and exporting in the real main window (offscreen): the working transaction, the export file
// beside the report, the folder offer, and failures that must never look like success.
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/NoPermissionOverride.h"
#include "tests/support/ReportTesting.h"
#include "viewer/Main.h"

#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <tuple>

namespace {

namespace fs = std::filesystem;

// The tick rows of the database at Path, read through a connection of its own, as "cell|cell|...",
// then " / " and the information values.
QString Ticks(const std::string &Path)
{
    return QString::fromStdString(
               reporttest::QueryFile(Path,
                                     "SELECT (SELECT ifnull(group_concat(id || '|' || comment || '|' || "
                                     "checked || '|' || fileID || '|' || ifnull(flag, 'null'), ' '), '') "
                                     "FROM check_and_comment_map) || ' / ' || (SELECT group_concat(value) "
                                     "FROM information);"))
        .chopped(1);
}

class SaveExportTest : public support::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        SetOpenFolderHook([this](const QUrl &Url) { Opened << Url.toLocalFile(); });
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        SetOpenFolderHook({});
    }
    // Writes a report at Name (in the temporary folder) and opens it in the main window for work;
    // ExportName is where its export file is expected.
    void Open(const std::string &Name, const std::string &ExportName)
    {
        Report = Temp.File(Name);
        fs::create_directories(fs::path(Report).parent_path());
        support::ReportBuilder().Tree("F a.txt 1\nF b.txt 2\n").Information("drive", "C:").Write(Report);
        OpenWindow(Report);
        Export = Temp.File(ExportName);
    }
    // A tick with a comment, as the tick store writes it: into the working transaction.
    static void Tick(int FileID)
    {
        ExecSqlScript(
            ReportDB,
            "INSERT INTO check_and_comment_map (comment, checked, fileID) VALUES ('n\xc3\xa4', 1, " +
                std::to_string(FileID) + ");");
    }
    // Clicks Button, answers every message box with Press and gives their texts.
    static QStringList Click(QToolButton *Button, const char *Press = "mbOK")
    {
        support::BoxAnswerer boxes;
        boxes.Press = QLatin1String(Press);
        Button->click();
        return boxes.Texts;
    }

    std::string Report, Export;
    QStringList Opened; // folders the desktop was asked to open
};

TEST_F(SaveExportTest, SaveCommitsAndKeepsAWorkingTransactionAlsoAfterABusyReport)
{
    Open("scan.db3", "scan_Export.roa");
    Tick(2);
    EXPECT_EQ(Ticks(Report), QString::fromUtf8(" / 1,C:"));
    {
        reporttest::Reader other(Report); // keeps the commit from finishing
        // The transaction is still open: no "changes lost", no failed BEGIN.
        EXPECT_EQ(Click(Form->tb_SaveButton), QStringList{"SQLite3 Error 5 - database is locked\n"
                                                          "The report is in use by another program. Try "
                                                          "again when that program has finished with it."});
    }
    for (int save = 0; save < 2; ++save) { // the second with nothing changed
        EXPECT_TRUE(Click(Form->tb_SaveButton).isEmpty());
        EXPECT_EQ(Ticks(Report), QString::fromUtf8("1|n\xc3\xa4|1|2|null / 1,C:"));
        EXPECT_EQ(sqlite3_get_autocommit(ReportDB), 0);
    }
}

// The report's name and its export file's, in the temporary folder.
class ExportTest : public SaveExportTest,
                   public ::testing::WithParamInterface<std::pair<const char *, const char *>>
{
};
INSTANTIATE_TEST_SUITE_P(ReportNames, ExportTest,
                         ::testing::Values(std::pair{"scan.db3", "scan_Export.roa"},
                                           std::pair{"v1.0/scan", "v1.0/scan_Export.roa"},
                                           std::pair{"a.b/scan.v2.db3", "a.b/scan.v2_Export.roa"}));

TEST_P(ExportTest, WritesTheFileBesideTheReportOffersItsFolderAndReplacesItsRows)
{
    Open(GetParam().first, GetParam().second);
    Tick(2);
    const QString exportName = QString::fromStdString(Export);
    EXPECT_EQ(Click(Form->tb_ExportBase, "mbNo"),
              QStringList{"Report created. File: " + exportName + "\nOpen containing folder?"});
    EXPECT_TRUE(Opened.isEmpty());
    EXPECT_TRUE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->tb_ExportFileName->text(), exportName);

    Tick(1);
    ExecSqlScript(ReportDB,
                  "UPDATE check_and_comment_map SET checked = 0, comment = 'new' WHERE fileID = 2;");
    Click(Form->tb_ExportBase, "mbYes");
    EXPECT_EQ(Opened, QStringList{QString::fromStdString(fs::path(Report).parent_path())});
    // Only what the report holds now; the report's null flags arrive as 0.
    EXPECT_EQ(Ticks(Export), QString::fromUtf8("1|new|0|2|0 2|n\xc3\xa4|1|1|0 / 1,C:"));

    EXPECT_EQ(Click(Form->tb_ExportFileName, "mbYes"), QStringList{"Open containing folder?"});
    EXPECT_EQ(Opened, QStringList({Opened.value(0), Opened.value(0)})); // the same folder again
    fs::remove(Export);
    EXPECT_TRUE(Click(Form->tb_ExportFileName).isEmpty());
    EXPECT_FALSE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
}

// Limits every new connection's file to one page: a new database file is "full" at its first table.
int FullDisk(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    return sqlite3_exec(db, "PRAGMA max_page_count = 1;", nullptr, nullptr, nullptr);
}

TEST_F(SaveExportTest, AFailedExportShowsItsReasonAndNoButtonAndLeavesTheFilesAsTheyWere)
{
    using TBreak = void (*)(const std::string &, const std::string &);
    const struct
    {
        const char *Name;
        TBreak Break;
        QString Ending;
    } cases[] = {
        {"export path is a folder", [](auto &, auto &Export) { fs::create_directory(Export); },
         "unable to open database file\nThe file or its journal can not be opened: check that its folder "
         "still exists and that you may read and write there."},
        {"report gone", [](auto &Report, auto &) { fs::rename(Report, Report + ".moved"); },
         "put the report back in its place and save them then."},
        {"link to the report", [](auto &Report, auto &Export) { fs::create_symlink(Report, Export); },
         ExportIsLinkText},
        {"information of other columns",
         [](auto &, auto &Export) {
             ExecSqlScript(reporttest::OpenDb(Export).get(),
                           "CREATE TABLE information (a, b); INSERT INTO information VALUES (1, 2);");
         },
         "table information has no column named field_Name"},
        {"full disk", [](auto &, auto &) { sqlite3_auto_extension(reinterpret_cast<void (*)()>(FullDisk)); },
         "The disk is full!\nSQLite3 Error 13 - database or disk is full"},
    };
    for (const auto &[name, breakIt, ending] : cases) {
        SCOPED_TRACE(name);
        Open(std::string(name) + "/scan.db3", std::string(name) + "/scan_Export.roa");
        const std::string report = reporttest::Whole(Report);
        breakIt(Report, Export);
        const bool existed = fs::exists(fs::symlink_status(Export));
        const std::string before = existed && fs::is_regular_file(Export) ? reporttest::Whole(Export) : "";
        const QStringList texts = Click(Form->tb_ExportBase, "mbYes");
        sqlite3_reset_auto_extension();
        const QString prefix = "Report was not created. File: " + QString::fromStdString(Export) + "\n";
        EXPECT_TRUE(texts.size() == 1 && texts[0].startsWith(prefix) && texts[0].endsWith(ending))
            << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
        EXPECT_TRUE(Opened.isEmpty());
        EXPECT_EQ(sqlite3_get_autocommit(ReportDB), 0);
        Form.reset();
        EXPECT_EQ(fs::exists(Report) ? reporttest::Whole(Report) : report, report);
        EXPECT_EQ(fs::exists(fs::symlink_status(Export)), existed);
        EXPECT_EQ(before.empty() ? before : reporttest::Whole(Export), before);
    }
}

// What the viewer says when the report's path no longer names the file it opened for work.
const QString KeptText =
    "\nThe changes since the last save are kept until the viewer closes or opens another "
    "report: put the report back in its place and save them then.";

TEST_F(SaveExportTest, NothingGoesIntoAReportMovedReplacedOrDeletedAndTheChangesWaitForItsReturn)
{
    using TStep = std::function<void(const std::string &Report)>;
    const struct
    {
        const char *Name;
        TStep Break;
        TStep PutBack; // none: the viewer closes
    } cases[] = {
        {"moved", [](auto &Report) { fs::rename(Report, Report + ".moved"); },
         [](auto &Report) { fs::rename(Report + ".moved", Report); }},
        {"replaced, the old one kept",
         [](auto &Report) {
             fs::rename(Report, Report + ".old");
             support::ReportBuilder().Tree("F other.txt 1\n").Write(Report + ".new");
             fs::rename(Report + ".new", Report);
         },
         nullptr},
        {"deleted", [](auto &Report) { fs::remove(Report); }, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        Open(std::string(c.Name) + "/scan.db3", std::string(c.Name) + "/scan_Export.roa");
        Tick(2);
        c.Break(Report);
        const auto atPath = [this] { return fs::exists(Report) ? reporttest::Whole(Report) : ""; };
        const std::string there = atPath();
        EXPECT_EQ(Click(Form->tb_SaveButton), QStringList{ReportGoneText + KeptText});
        {
            support::BoxAnswerer boxes;
            PVirtualNode root = Form->tv_FolderTree->GetFirst();
            support::ClickCheck(Form->tv_FolderTree, root);
            EXPECT_EQ(boxes.Texts, QStringList{ReportGoneText + KeptText});
            EXPECT_EQ(root->CheckState, csUncheckedNormal);
        }
        EXPECT_EQ(Click(Form->tb_ExportBase, "mbYes"),
                  QStringList{"Report was not created. File: " + QString::fromStdString(Export) + "\n" +
                              ReportGoneText + KeptText});
        EXPECT_FALSE(fs::exists(Export));
        EXPECT_EQ(atPath(), there);
        EXPECT_EQ(sqlite3_get_autocommit(ReportDB), 0);
        if (c.PutBack) {
            c.PutBack(Report);
            EXPECT_TRUE(Click(Form->tb_SaveButton).isEmpty());
            EXPECT_EQ(Ticks(Report), QString::fromUtf8("1|n\xc3\xa4|1|2|null / 1,C:"));
            Form.reset();
            continue;
        }
        support::BoxAnswerer boxes;
        Form->close(); // rolls the changes back out of the file that the report was
        EXPECT_EQ(boxes.Texts, QStringList{"Can not save changes to the report file!\n" + ReportGoneText});
        EXPECT_EQ(atPath(), there);
        if (fs::exists(Report + ".old"))
            EXPECT_EQ(Ticks(Report + ".old"), QString::fromUtf8(" / 1,C:"));
    }
}

TEST_F(SaveExportTest, ASaveIntoAFolderMadeReadOnlySaysSoAndThatTheChangesAreLost)
{
    Open("ro/scan.db3", "ro/scan_Export.roa");
    Tick(2);
    const fs::path folder = fs::path(Report).parent_path();
    QStringList texts;
    {
        support::TNoPermissionOverride asAUser;
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        texts = Click(Form->tb_SaveButton);
        fs::permissions(folder, fs::perms::owner_all);
    }
    EXPECT_EQ(texts, QStringList{"SQLite3 Error 10 - disk I/O error\nThe report's folder can not be written: "
                                 "nothing can be stored in the report, which keeps what was saved before.\n"
                                 "The changes since the last save are lost."});
    support::BoxAnswerer closing;
    Form->close();
    EXPECT_EQ(closing.Texts, QStringList{}) << closing.Texts.join("|").toStdString();
    // Read by a connection that may play back the journal that the failed commit left.
    EXPECT_EQ(
        reporttest::Query(reporttest::OpenDb(Report).get(), "SELECT count(*) FROM check_and_comment_map;"),
        "0\n");
}

TEST_F(SaveExportTest, NoExportAfterAFailedSave)
{
    Open("scan.db3", "scan_Export.roa");
    Tick(1);
    const reporttest::Reader reader(Report); // holds the report: the save before the export fails
    const QStringList texts = Click(Form->tb_ExportBase, "mbYes");
    EXPECT_TRUE(texts.size() == 1 &&
                texts[0].contains(
                    QLatin1String("Error 5 - database is locked\nThe report is in use by another program.")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Export)) || Form->tb_ExportFileName->isVisibleTo(Form.get()));
}

} // namespace
