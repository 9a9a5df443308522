// Opening a report in the real main window (offscreen): drops, the preparation, the opening for work,
// the folder tree's root and its loading, and the refusals and failures around them.
#include "viewer/Main.h"

#include "common/ssException.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "report/uRegEdit.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/NoPermissionOverride.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/WaitSpy.h"
#include "viewer/ufWaitForm.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QProcess>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace {

namespace fs = std::filesystem;

const QString CannotOpen = QStringLiteral("Can not open report file!");

const char *const Drive = R"(D Docs
  D Sub
    F deep.txt 1
  F b.txt 10
D apps
  F tool.exe 7
F readme.md 5
F Zeta.txt 6
)";
// ids: Docs 1, Sub 2, deep.txt 3, b.txt 4, apps 5, tool.exe 6, readme.md 7, Zeta.txt 8

class OpenReportTest : public support::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        SetLogErrorDisplay([](const QString &msg) { ADD_FAILURE() << "log error: " << msg.toStdString(); });
        FOldCwd = fs::current_path();
        fs::create_directory(Temp.File("cwd"));
        fs::current_path(Temp.File("cwd")); // where unpacking leaves its temporary file
    }
    void TearDown() override
    {
        if (Form)
            Form->close();
        fs::current_path(FOldCwd);
        SetLogErrorDisplay({});
        MainWindowFixture::TearDown();
    }

    // Starts the main window with the given command-line parameters and lets its message loop handle
    // what the start posted.
    void Start(const QStringList &Parameters = {})
    {
        Form = std::make_unique<TMainForm>(nullptr, QStringList{"ParvixViewer"} + Parameters);
        Settle();
    }
    // Runs the message loop until every preparation (each ends in one FinishLoad) has been handled.
    void Settle()
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [this] {
                const QString log = LogText();
                return log.count("TMainForm.FinishLoad - finish") >= log.count("TLoadThread.Create");
            },
            5000));
    }

    // Drops files on the window, as its drop handler hands them over.
    void Drop(const QStringList &Paths)
    {
        Form->WMDropFiles(Paths);
        Settle();
    }
    std::string Report(const support::ReportBuilder &Builder, const std::string &Name = "r.db3")
    {
        return Builder.Write(Temp.File(Name));
    }
    std::string DriveReport(const std::string &Name = "r.db3")
    {
        return Report(support::ReportBuilder().Tree(Drive), Name);
    }
    static QString Q(const std::string &S) { return QString::fromStdString(S); }

    QString LogText() const { return QString::fromStdString(reporttest::FileText(LogFileName())); }
    PVirtualNode Root() const { return Form->tv_FolderTree->GetFirst(); }
    QString Text(PVirtualNode Node) const { return support::NodeName(Form->tv_FolderTree, Node); }
    PVirtualNode Child(PVirtualNode Node, const QString &Name) const
    {
        return support::FindNode(Form->tv_FolderTree, Name, Node);
    }
    static std::string StoredBaseName()
    {
        std::string value;
        ReadBaseNameFromReg(value);
        return value;
    }

private:
    fs::path FOldCwd;
};

// Another program that holds a transaction open on a report while the object lives.
class THolder
{
public:
    THolder(const std::string &Path, const char *Sql)
    {
        FProcess.start(QStringLiteral(SECOND_WRITER), {QString::fromStdString(Path), Sql, "hold"});
        EXPECT_TRUE(FProcess.waitForReadyRead(10000));
        EXPECT_EQ(FProcess.readLine().trimmed(), "0"); // its transaction is open
    }
    ~THolder()
    {
        FProcess.closeWriteChannel();
        FProcess.waitForFinished(10000);
    }

private:
    QProcess FProcess;
};

TEST_F(OpenReportTest, MissingFilesAndFilesThatAreNoReportAreRefusedAndLeftAsTheyWere)
{
    support::ReportBuilder builder;
    builder.Tree(Drive).Version(std::nullopt).Sql("DROP TABLE information;");
    const std::string database = Report(builder, "noreport.db3");
    const std::string damaged = Temp.File("damaged.db3");
    std::ofstream(damaged, std::ios::binary) << "this is neither a database nor a zlib stream";
    support::BoxAnswerer boxes;
    const std::string missing = Temp.File("missing.db3");
    const QString noSuchFile = CannotOpen + "\nThe file can not be read: " + std::strerror(ENOENT) + '.';
    Start({Q(missing)});
    EXPECT_EQ(boxes.Texts, QStringList{noSuchFile});
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(fs::is_empty(Temp.File("cwd"))); // no temporary file of an unpacking either
    EXPECT_TRUE(baseName.isEmpty() && StoredBaseName().empty());

    // Not a report, also once unpacked: refused (what is no database after a failed unpacking), the file
    // left as it was.
    const std::string packed = builder.WriteCompressed(Temp.File("packed.rpt"));
    for (const std::string &path : {database, damaged, packed}) {
        SCOPED_TRACE(path);
        const std::string bytes = reporttest::FileText(path);
        boxes.Texts.clear();
        Drop({Q(path)});
        // the refusal, then the cause on a line of its own
        EXPECT_TRUE(boxes.Texts.value(boxes.Texts.size() - 1).startsWith(CannotOpen + u'\n'));
        EXPECT_EQ(Form->decompressFailed, path == damaged); // the packed one inflates well
        EXPECT_TRUE(reporttest::FileText(path) == bytes);
        EXPECT_EQ(ReportDB, nullptr);
    }

    // Choosing the open report again, also by a link to it, or a missing file keeps it open.
    const std::string path = DriveReport();
    Drop({Q(path)});
    sqlite3 *open = ReportDB;
    ASSERT_NE(open, nullptr);
    boxes.Texts.clear();
    fs::create_symlink(path, Temp.File("link.db3"));
    Drop({Q(path)});
    Drop({Q(Temp.File("link.db3"))});
    EXPECT_EQ(boxes.Texts, QStringList(2, "Selected report file is already running."));
    Drop({Q(Temp.File("gone/missing.db3"))});
    EXPECT_EQ(boxes.Texts.value(2), noSuchFile);
    EXPECT_FALSE(fs::exists(Temp.File("gone")));
    EXPECT_EQ(ReportDB, open);
    EXPECT_EQ(StoredBaseName(), path);
}

// A file that cannot be opened as a report is refused with the reason in words, never handed to the
// unpacking, and left as it was; the open report stays open. A report whose preparation another
// program holds up is told as busy too.
TEST_F(OpenReportTest, WhyAReportCannotBeOpenedIsSaidInWords)
{
    const QString busy = "SQLite3 Error 5 - database is locked\nThe report is in use by another program. Try "
                         "again when that program has finished with it.";
    const QString noReport = CannotOpen + "\nThe file is not a scan report: ";
    enum TSetup { Sql, Bytes, Unreadable, Pipe, Hold }; // Hold: another program's transaction Text left open
    const struct
    {
        const char *Name;
        TSetup Setup;
        std::string Text;
        QString Says;
    } cases[] = {
        {"an empty file", Bytes, "", CannotOpen + "\nThe file is empty."},
        {"an unreadable file", Unreadable, "",
         CannotOpen + "\nThe file can not be read: " + std::strerror(EACCES) + '.'},
        {"a pipe", Pipe, "", CannotOpen + "\nThe file can not be read: it is not a regular file."},
        {"a report another program writes", Hold, "BEGIN EXCLUSIVE; DELETE FROM information;",
         CannotOpen + '\n' + busy},
        {"a report another program is about to write", Hold, "BEGIN; DELETE FROM information;", busy},
        {"a damaged database", Bytes, std::string("SQLite format 3\0", 16) + std::string(4096, 'Z'),
         CannotOpen + "\nSQLite3 Error 26 - file is not a database\nThe report is damaged."},
        {"no drive table", Sql, "DROP TABLE struct_drive_table;",
         noReport + "it has no table struct_drive_table."},
        {"a view in its place", Sql,
         "ALTER TABLE struct_drive_table RENAME TO d; CREATE VIEW Struct_Drive_Table AS SELECT * FROM d;",
         noReport + "struct_drive_table is a view, not a table."},
        {"other columns", Sql,
         "ALTER TABLE struct_drive_table DROP F_ATTR; ALTER TABLE struct_drive_table DROP F_CHILDREN_SIZE;",
         noReport + "the table struct_drive_table has no columns F_ATTR, F_CHILDREN_SIZE."},
        {"a tick table without checkForFolder", Sql,
         "CREATE TABLE check_and_comment_map(id INTEGER PRIMARY KEY, comment, checked, fileID, id_parent, "
         "flag);",
         CannotOpen + "\nTicks and comments can not be stored in this report: the table "
                      "check_and_comment_map has no column checkForFolder."},
    };
    support::BoxAnswerer boxes;
    Start();
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        // A new file each time: one made again at an open report's path would be a replaced report.
        const std::string open = DriveReport("open" + std::to_string(++n) + ".db3");
        Drop({Q(open)});
        ASSERT_NE(ReportDB, nullptr);
        sqlite3 *openDB = ReportDB;
        const std::string path = Temp.File("chosen.db3");
        if (c.Setup == Bytes)
            std::ofstream(path, std::ios::binary | std::ios::trunc) << c.Text;
        else if (c.Setup == Pipe)
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        else
            Report(support::ReportBuilder().Tree(Drive).Sql(c.Setup == Sql ? c.Text : ";"), "chosen.db3");
        const std::string bytes = c.Setup == Pipe ? "" : reporttest::FileText(path);
        boxes.Texts.clear();
        {
            std::optional<THolder> holder;
            if (c.Setup == Hold)
                holder.emplace(path, c.Text.c_str());
            support::TNoPermissionOverride noOverride;
            if (c.Setup == Unreadable)
                fs::permissions(path, fs::perms::none);
            Drop({Q(path)});
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        }
        EXPECT_EQ(boxes.Texts, QStringList{c.Says});
        EXPECT_FALSE(LogText().contains(QLatin1String("try decompress")));
        EXPECT_EQ(Form->decompressFailed, 0);
        EXPECT_TRUE(c.Setup == Pipe || reporttest::FileText(path) == bytes);
        const bool probed = c.Says.startsWith(CannotOpen); // refused before the open report is closed
        EXPECT_EQ(ReportDB, probed ? openDB : nullptr);
        EXPECT_EQ(StoredBaseName(), probed ? open : path);
        fs::remove(path);
    }
}

TEST_F(OpenReportTest, FailingPreparationIsShownAndAFailingRootStillEndsTheTreesUpdate)
{
    support::ReportBuilder builder;
    builder.Tree(Drive).Sql("CREATE TABLE pidInd(x);"); // in the place of the second index
    const std::string path = Report(builder, "broken.db3");
    support::BoxAnswerer boxes;
    Start();
    Drop({Q(path)});
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("SQLite3 Error 1 - ")));
    EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("pidInd")));
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(Root(), nullptr);
    EXPECT_TRUE(baseName.isEmpty());
    EXPECT_EQ(reporttest::QueryFile(path,
                                    "SELECT 1 FROM sqlite_master WHERE name IN ('check_and_comment_map', "
                                    "'idInd')"),
              "");
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount(), 0);
    EXPECT_TRUE(WaitForm->CanClose());

    // The next opening works as usual, and so does a start on it; what the wait window says meanwhile.
    const std::string good = DriveReport();
    for (const char *first : {"Preparing report. Please wait. ", "Extracting report."}) {
        support::WaitSpy spy;
        *first == 'P' ? Drop({Q(good), Q(Temp.File("second.db3"))}) : (Form.reset(), Start({Q(good)}));
        EXPECT_EQ(spy.ShownTexts,
                  QStringList({first, "Load folder data. Please wiat, it can take some time."}));
        QString percents;
        for (const char *p : {"0", "12", "25", "37", "50", "63", "75", "88", "100"})
            percents += QStringLiteral("Preparing report. Please wait. %1%|").arg(p);
        EXPECT_EQ(spy.Texts.join('|') + '|', percents);
    }
    EXPECT_EQ(boxes.Texts.size(), 1);
    ASSERT_NE(Root(), nullptr);
    EXPECT_EQ(Text(Root()), QStringLiteral("r.db3"));

    // A root whose loading fails still ends the folder tree's update.
    Form->FinishWork();
    Form->tv_FolderTree->OnExpanding = [](TVirtualStringTree *, PVirtualNode, bool &) {
        throw Exception(QStringLiteral("no expanding today"));
    };
    baseName = Q(good);
    Form->PrepareBaseToWork();
    Form->CreateRoot();
    EXPECT_EQ(Form->tv_FolderTree->UpdateCount(), 0);
    ASSERT_NE(Root(), nullptr);
    EXPECT_FALSE(TVirtualStringTree::Expanded(Root()));
    EXPECT_TRUE(LogText().contains(QStringLiteral("TMainForm.CreateRoot exception - no expanding today")));
    EXPECT_EQ(boxes.Texts.size(), 1); // only logged
}

TEST_F(OpenReportTest, WhileATickIsPendingTheViewerKeepsItsLocksAlsoWithTheOpenDialogOnTheReportsFolder)
{
    const std::string report = DriveReport();
    const std::string kept = reporttest::Whole(report, "check_and_comment_map");
    support::BoxAnswerer boxes(false);
    Start({Q(report)});
    ASSERT_NE(ReportDB, nullptr);
    // A tick not saved yet: its journal stands beside the report.
    ExecSqlScript(ReportDB, "INSERT INTO check_and_comment_map (fileID, checked) VALUES (7, 1);");
    ASSERT_TRUE(fs::exists(report + "-journal"));
    // The open dialog shows the folder, with the types of the report and of its journal.
    Form->OpenBaseDialog()->setDirectory(Q(Temp.Path()));
    Form->dlg_OpenBase->show();
    auto *model = Form->dlg_OpenBase->findChild<QFileSystemModel *>();
    ASSERT_NE(model, nullptr);
    const auto typed = [model](const std::string &Path) {
        return !model->data(model->index(Q(Path), 2)).toString().isEmpty();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return typed(report) && typed(report + "-journal"); }, 10000));
    // Another program's write waits until the viewer has saved.
    EXPECT_EQ(QProcess::execute(QStringLiteral(SECOND_WRITER),
                                {Q(report), "INSERT INTO check_and_comment_map (fileID) VALUES (8);"}),
              SQLITE_BUSY);
    Form->dlg_OpenBase->reject();
    Form->tb_SaveButton->click();
    EXPECT_EQ(reporttest::QueryFile(report, "SELECT group_concat(fileID) FROM check_and_comment_map;"),
              "7\n");
    EXPECT_EQ(reporttest::Whole(report, "check_and_comment_map"), kept);
}

// While a tick is pending, a file SQLite keeps beside the report is refused like the report itself and
// nothing opens it, also under another name: another program's write still waits, the tick is saved.
TEST_F(OpenReportTest, TheFilesBesideTheOpenReportAreRefusedAndItsLocksKept)
{
    const struct
    {
        const char *Mode;
        const char *Side;
        bool ThroughLink; // by a link to the report's folder
    } cases[] = {
        {"DELETE", "-journal", false},
        {"WAL", "-wal", false},
        {"WAL", "-shm", false},
        {"WAL", "-shm", true},
    };
    fs::create_directory_symlink(Temp.Path(), Temp.File("folder"));
    support::BoxAnswerer boxes;
    Start();
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.Side) + (c.ThroughLink ? " through a link" : ""));
        const std::string name = "r" + std::to_string(++n) + ".db3";
        const std::string report = DriveReport(name);
        reporttest::Query(reporttest::OpenDb(report).get(),
                          std::string("PRAGMA journal_mode=") + c.Mode + ";");
        Drop({Q(report)});
        ASSERT_NE(ReportDB, nullptr);
        ExecSqlScript(ReportDB, "INSERT INTO check_and_comment_map (fileID, checked) VALUES (7, 1);");
        ASSERT_TRUE(fs::exists(report + c.Side));
        boxes.Texts.clear();
        Drop({Q((c.ThroughLink ? Temp.File("folder/" + name) : report) + c.Side)});
        EXPECT_EQ(boxes.Texts,
                  QStringList{QStringLiteral("Selected report file is already running.\nThe "
                                             "selected file is the \"%1\" file that SQLite keeps "
                                             "beside the open report.")
                                  .arg(c.Side)});
        EXPECT_EQ(QProcess::execute(QStringLiteral(SECOND_WRITER),
                                    {Q(report), "INSERT INTO check_and_comment_map (fileID) VALUES (8);"}),
                  SQLITE_BUSY);
        Form->tb_SaveButton->click();
        EXPECT_EQ(reporttest::QueryFile(report, "SELECT group_concat(fileID) FROM check_and_comment_map;"),
                  "7\n");
    }
    EXPECT_EQ(boxes.Texts.size(), 1);
}

// Settings that cannot take a report's name stop no opening, by a drop as from the command line: the
// failure goes to the log, and the path as chosen is opened, not what the settings still hold.
TEST_F(OpenReportTest, SettingsThatCannotBeWrittenStopNoOpeningAndTheTreesLeaveTheUpdate)
{
    const std::string first = DriveReport();
    // Another version, then none, each opened after a warning, with its stored tick: the root ticked whole.
    support::ReportBuilder builder;
    builder.Tree(Drive).Check({std::nullopt, 1, -1, -1, 0, 1});
    const std::string second = Report(builder.Version("2"), "second.db3");
    const std::string third = Report(builder.Version(std::nullopt), "third.db3");
    support::BoxAnswerer boxes;
    Start();
    Drop({Q(first)});
    ASSERT_NE(Root(), nullptr);
    const QString mismatch =
        "Mismatching between version of program and report. \nCompatibillity problems may occur.";
    {
        // The settings file cannot be replaced while a folder stands in its place.
        const fs::path settings = RegistryFileName();
        fs::rename(settings, Temp.File("settings.saved"));
        fs::create_directory(settings);
        for (const bool commandLine : {false, true}) {
            SCOPED_TRACE(commandLine);
            boxes.Texts.clear();
            commandLine ? (Form.reset(), Start({Q(second)})) : Drop({Q(second)});
            EXPECT_EQ(boxes.Texts.join(u'|').toStdString(), mismatch.toStdString()); // the probe's alone
            ASSERT_TRUE(ReportDB && baseName == Q(second) && Root() && Text(Root()) == "second.db3");
            EXPECT_EQ(Form->tv_FolderTree->UpdateCount() + Form->tv_FilesTree->UpdateCount(), 0);
            EXPECT_EQ(LogText().count(
                          "==========WriteBaseNameToReg exception - Failed to set data for 'baseName'\r\n"),
                      1);
        }
        fs::remove(settings);
        fs::rename(Temp.File("settings.saved"), settings);
    }
    EXPECT_EQ(StoredBaseName(), first);

    // With the settings back, the other two open as usual; one without a version warns alike.
    for (const std::string &next : {third, second}) {
        SCOPED_TRACE(next);
        boxes.Texts.clear();
        Drop({Q(next)});
        EXPECT_EQ(boxes.Texts, QStringList{mismatch});
        ASSERT_TRUE(baseName == Q(next) && Root() && Text(Root()) == Q(fs::path(next).filename().string()));
        EXPECT_EQ(Root()->CheckState + Child(Root(), "Docs")->CheckState, 2 * csCheckedNormal);
        EXPECT_EQ(StoredBaseName(), next);
    }
}

TEST_F(OpenReportTest, AReadOnlyReportIsRefusedAndUnreadableFoldersAreShownOnceWithSqlitesText)
{
    support::ReportBuilder builder;
    // Prepared earlier, made read-only later: opening it writes nothing.
    const std::string readOnly = Report(builder.Tree(Drive), "ro.db3");
    for (const TPrepareStep &step : ReportPreparationSteps)
        step.Run(reporttest::OpenDb(readOnly).get());
    const std::string kept = reporttest::Whole(readOnly);
    std::fstream(readOnly, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(18)
        .put('\3'); // never written
    // Every column is there, but one cannot be read.
    const std::string broken =
        Report(builder.Sql("ALTER TABLE struct_drive_table DROP COLUMN F_CHILDREN_SIZE; ALTER TABLE "
                           "struct_drive_table ADD COLUMN F_CHILDREN_SIZE AS (no_such_function(F_SIZE));"));
    support::BoxAnswerer boxes;
    Start();
    Drop({Q(readOnly)});
    EXPECT_EQ(boxes.Texts, QStringList{"Can not open report file, because it can not be written!\n"
                                       "SQLite3 Error 8 - attempt to write a readonly database\n"
                                       "The report can not be written: the report, its folder or its disk "
                                       "was made read-only, or the report was moved, replaced or deleted."});
    EXPECT_EQ(ReportDB, nullptr);
    EXPECT_EQ(reporttest::Whole(readOnly), kept);

    // Opened with its root alone; loading it again (focus, Go to folder) is logged, not shown again.
    Drop({Q(broken)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 2; }, 5000));
    const QString text = QStringLiteral("SQLite3 Error 1 - unknown function: no_such_function()");
    EXPECT_EQ(boxes.Texts[1], text);
    ASSERT_NE(Root(), nullptr);
    bool allowed = false;
    Form->tv_FolderTreeExpanding(Form->tv_FolderTree, Root(), allowed);
    QTest::qWait(50);
    EXPECT_EQ(boxes.Texts.size(), 2);
    EXPECT_EQ(Form->tv_FolderTree->ChildCount(Root()), 0u);
    EXPECT_EQ(LogText().count("==========ThreadExpand.Execute exception - " + text), 2);
}

} // namespace
