// Saving and exporting in the real main window (offscreen): the working transaction, the export file
// beside the report, the folder offer, and failures that must never look like success.
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"
#include "viewer/utBuildReportThread.h"

#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>

void PrintTo(const QString &Text, std::ostream *os)
{
    *os << '"' << Text.toStdString() << '"';
}

namespace {

namespace fs = std::filesystem;

const char *const TicksSql = "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder "
                             "FROM check_and_comment_map ORDER BY id;";
const char *const InformationSql = "SELECT field_Name, value FROM information;";

// The rows of Sql read through a connection of its own, each as "cell|cell|...".
QStringList Rows(const std::string &Path, const char *Sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(Path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, Sql, -1, &stmt, nullptr);
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            cells << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        rows << cells.join(QLatin1Char('|'));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

class SaveExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
        SetOpenFolderHook([this](const QUrl &Url) { Opened << Url.toLocalFile(); });
    }
    void TearDown() override
    {
        Form.reset();
        SetOpenFolderHook({});
        SetLogFolder("");
    }
    // Writes a report at Name (under the temporary folder) and opens it in the main window for work.
    void Open(const std::string &Name)
    {
        Report = Temp.File(Name);
        fs::create_directories(fs::path(Report).parent_path());
        support::ReportBuilder()
            .Tree("D Docs\n  F a.txt 1\nF b.txt 2\n")
            .Information("drive", "C:")
            .Write(Report);
        Form =
            std::make_unique<TMainForm>(nullptr, QStringList{"ParvixViewer", QString::fromStdString(Report)});
        ASSERT_TRUE(QTest::qWaitFor([] { return ReportDB != nullptr; }, 5000));
    }
    // A tick with a comment on FileID, as the tick store writes it: into the working transaction.
    static void Tick(int FileID)
    {
        ExecSqlScript(ReportDB,
                      "INSERT INTO check_and_comment_map (comment, checked, fileID, id_parent, flag, "
                      "checkForFolder) VALUES ('n\xc3\xa4', 1, " +
                          std::to_string(FileID) + ", -1, NULL, 0);");
    }
    // Clicks Button and answers every message box with Press; gives the boxes' texts.
    static QStringList Click(QToolButton *Button, const char *Press = "mbOK")
    {
        support::BoxAnswerer boxes;
        boxes.Press = QLatin1String(Press);
        Button->click();
        return boxes.Texts;
    }

    support::TempDir Temp;
    support::ModalGuard Guard;
    std::unique_ptr<TMainForm> Form;
    std::string Report;
    QStringList Opened; // folders the desktop was asked to open
};

TEST_F(SaveExportTest, SaveCommitsAndKeepsAWorkingTransactionEvenAfterABusyReport)
{
    Open("scan.db3");
    Tick(2);
    EXPECT_TRUE(Rows(Report, TicksSql).isEmpty());
    // Another program reading the report keeps the commit from finishing: the tick stays pending.
    sqlite3 *other = nullptr;
    sqlite3_open(Report.c_str(), &other);
    sqlite3_exec(other, "BEGIN; SELECT count(*) FROM information;", nullptr, nullptr, nullptr);
    // The transaction is still open: no "changes lost", no failed BEGIN.
    EXPECT_EQ(Click(Form->tb_SaveButton),
              QStringList{QStringLiteral("SQLite3 Error 5 - database is locked")});
    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(Rows(Report, TicksSql).isEmpty());

    for (int save = 0; save < 2; ++save) { // the second with nothing changed
        EXPECT_TRUE(Click(Form->tb_SaveButton).isEmpty());
        EXPECT_EQ(Rows(Report, TicksSql), QStringList{QString::fromUtf8("1|n\xc3\xa4|1|2|-1||0")});
        EXPECT_EQ(sqlite3_get_autocommit(ReportDB), 0);
    }
}

class ExportTest : public SaveExportTest, public ::testing::WithParamInterface<const char *>
{
};

// The report's name, relative to the temporary folder.
INSTANTIATE_TEST_SUITE_P(Names, ExportTest, ::testing::Values("scan.db3", "v1.0/scan"));

TEST_P(ExportTest, WritesTheFileBesideTheReportOffersItsFolderAndReplacesItsRows)
{
    Open(GetParam());
    const QString exportName = ExportFileNameOf(QString::fromStdString(Report));
    const QString folder = QString::fromStdString(fs::path(Report).parent_path().string());
    Tick(2);
    EXPECT_EQ(Click(Form->tb_ExportBase, "mbNo"),
              QStringList{QStringLiteral("Report created. File: ") + exportName +
                          QStringLiteral("\rOpen containing folder?")});
    EXPECT_TRUE(Opened.isEmpty());
    EXPECT_TRUE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->tb_ExportFileName->text(), exportName);

    Tick(4);
    Click(Form->tb_ExportBase, "mbYes");
    EXPECT_EQ(Opened, QStringList{folder});
    // A null flag in the report arrives as 0.
    EXPECT_EQ(Rows(exportName.toStdString(), TicksSql),
              (QStringList{QString::fromUtf8("1|n\xc3\xa4|1|2|-1|0|0"),
                           QString::fromUtf8("2|n\xc3\xa4|1|4|-1|0|0")}));
    EXPECT_EQ(Rows(exportName.toStdString(), InformationSql), (QStringList{"version|1", "drive|C:"}));

    EXPECT_EQ(Click(Form->tb_ExportFileName, "mbYes"),
              QStringList{QStringLiteral("Open containing folder?")});
    EXPECT_EQ(Opened.size(), 2);
    fs::remove(exportName.toStdString());
    EXPECT_TRUE(Click(Form->tb_ExportFileName).isEmpty());
    EXPECT_FALSE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
}

TEST_F(SaveExportTest, AFailedExportShowsItsReasonAndNoFile)
{
    struct Case
    {
        const char *Name;
        std::function<void(const std::string &Report, const std::string &Export)> Break;
        const char *Reason;
    };
    const Case cases[] = {
        {"export path is a folder", [](auto &, auto &Export) { fs::create_directory(Export); },
         "unable to open database file"},
        {"report gone", [](auto &Report, auto &) { fs::rename(Report, Report + ".moved"); },
         "unable to open database file"},
        {"export file locked by another program",
         [](auto &, auto &Export) {
             static sqlite3 *holder; // let go by the next case's Open
             sqlite3_close(holder);
             sqlite3_open(Export.c_str(), &holder);
             sqlite3_exec(holder, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr);
         },
         "database is locked"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        Open(std::string(c.Name) + "/scan.db3");
        c.Break(Report, ExportFileNameOf(QString::fromStdString(Report)).toStdString());
        const QStringList texts = Click(Form->tb_ExportBase, "mbYes");
        ASSERT_EQ(texts.size(), 1);
        EXPECT_TRUE(texts[0].contains(QLatin1String(c.Reason))) << texts[0].toStdString();
        EXPECT_FALSE(Form->tb_ExportFileName->isVisibleTo(Form.get()));
        EXPECT_TRUE(Opened.isEmpty());
        EXPECT_EQ(sqlite3_get_autocommit(ReportDB), 0);
        Form.reset();
    }
}

TEST(ExportName, CutsOnlyAtADotOfTheFileNameInTheReportsFolder)
{
    const char *const cases[][3] = {
        // report, export file, its folder
        {"/r/scan.db3", "/r/scan_Export.roa", "/r/"},
        {"/r/scan.v2.db3", "/r/scan.v2_Export.roa", "/r/"},
        {"/r.d/scan", "/r.d/scan_Export.roa", "/r.d/"},
        {"scan", "scan_Export.roa", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExportFileNameOf(QLatin1String(c[0])), QLatin1String(c[1]));
        EXPECT_EQ(ContainingFolder(QLatin1String(c[1])), QLatin1String(c[2]));
    }
}

} // namespace
