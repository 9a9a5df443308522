// The report builder and the synthetic report generator that tests, benchmarks and make-report use.
#include "tests/support/ReportBuilder.h"
#include "tests/support/SyntheticReport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

using namespace support;

namespace {

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Inflate(const std::string &packed, size_t plainSize)
{
    std::string out(plainSize, '\0');
    uLongf outSize = plainSize;
    const int rc = uncompress(reinterpret_cast<Bytef *>(out.data()), &outSize,
                              reinterpret_cast<const Bytef *>(packed.data()), packed.size());
    EXPECT_EQ(rc, Z_OK);
    out.resize(outSize);
    return out;
}

// A read-only connection with small query helpers.
class Db
{
public:
    explicit Db(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
    }
    ~Db() { sqlite3_close_v2(FDb); }

    // Every row of a query, each column as text (NULL as "<null>").
    std::vector<std::vector<std::string>> Rows(const std::string &sql) const
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(FDb));
        std::vector<std::vector<std::string>> rows;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
                row.emplace_back(text ? text : "<null>");
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        return rows;
    }
    int64_t Scalar(const std::string &sql) const { return std::stoll(Rows(sql).at(0).at(0)); }
    bool HasTable(const std::string &name) const
    {
        return Scalar("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='" + name + "'") == 1;
    }

private:
    sqlite3 *FDb = nullptr;
};

const DriveRow &ByName(const std::vector<DriveRow> &rows, const std::string &name)
{
    for (const DriveRow &row : rows)
        if (row.name == name)
            return row;
    throw std::runtime_error("no row " + name);
}

} // namespace

TEST(ParseTree, AssignsIdsParentsSizesAndChildrenSizes)
{
    const auto rows = ParseTree("D Documents\n"
                                "  F report.txt 1200\n"
                                "  F old.doc 10 deleted\n"
                                "  D Empty\n"
                                "  D Deep 7\n"
                                "    D Deeper\n"
                                "      F \"a file.bin\" 100 attr=33 flags=4\n"
                                "\n"
                                "F readme.md 5 date=2020-05-01 10:20:30 id=77\n"
                                "D Фото\n"
                                "  F late.txt date=31.12.2019 23:59:59 deleted attr=1\n");
    ASSERT_EQ(rows.size(), 10u);

    const DriveRow &docs = ByName(rows, "Documents");
    EXPECT_EQ(docs.id, 1);
    EXPECT_EQ(docs.parent, -1);
    EXPECT_EQ(docs.isFolder, 1);
    // Everything below counts, deleted items and a folder's own size included.
    EXPECT_EQ(docs.childrenSize, 1200 + 10 + 7 + 100);

    EXPECT_EQ(ByName(rows, "report.txt").parent, 1);
    EXPECT_EQ(ByName(rows, "report.txt").size, 1200);
    EXPECT_EQ(ByName(rows, "report.txt").isFolder, 0);
    EXPECT_EQ(ByName(rows, "old.doc").isDeleted, 1);
    EXPECT_EQ(ByName(rows, "report.txt").isDeleted, 0);
    EXPECT_EQ(ByName(rows, "Empty").childrenSize, 0);
    EXPECT_EQ(ByName(rows, "Empty").parent, 1);

    const DriveRow &deep = ByName(rows, "Deep");
    const DriveRow &deeper = ByName(rows, "Deeper");
    const DriveRow &file = ByName(rows, "a file.bin");
    EXPECT_EQ(deep.id, 5);
    EXPECT_EQ(deep.childrenSize, 100);
    EXPECT_EQ(deeper.parent, deep.id);
    EXPECT_EQ(deeper.childrenSize, 100);
    EXPECT_EQ(file.parent, deeper.id);
    EXPECT_EQ(file.attr, 33);
    EXPECT_EQ(file.flags, 4);

    const DriveRow &readme = ByName(rows, "readme.md");
    EXPECT_EQ(readme.id, 77);
    EXPECT_EQ(readme.parent, -1);
    EXPECT_EQ(readme.create, "2020-05-01 10:20:30");
    EXPECT_EQ(readme.update, "2020-05-01 10:20:30");
    EXPECT_EQ(readme.access, "2020-05-01 10:20:30");

    // Ids go by appearance, an explicit id does not shift the ones after it.
    EXPECT_EQ(ByName(rows, "Фото").id, 9);
    EXPECT_EQ(ByName(rows, "Фото").parent, -1);
    const DriveRow &late = ByName(rows, "late.txt");
    EXPECT_EQ(late.update, "31.12.2019 23:59:59");
    EXPECT_EQ(late.isDeleted, 1);
    EXPECT_EQ(late.attr, 1);
    EXPECT_EQ(late.parent, 9);
}

TEST(ParseTree, RejectsMalformedLines)
{
    const char *bad[] = {
        "X thing",              // unknown kind
        "  F orphan",           // indented with no folder above
        "F file\n  F child",    // below a file
        "D a\n   F odd",        // odd indentation
        "D a\n      F skipped", // two levels at once
        "F",                    // no name
        "F a 12 13",            // two sizes
        "F a id=x",             // bad id
        "F a big",              // unknown word
        "F \"unterminated 5",   // open quote
        "D a\n\tF tabbed",      // tab
        "F a -5",               // negative size
        "F a date=",            // empty date
    };
    for (const char *text : bad)
        EXPECT_THROW(ParseTree(text), std::runtime_error) << text;
}

TEST(ReportBuilder, TreeAppendedTwiceKeepsIdsApart)
{
    ReportBuilder builder;
    builder.Tree("D A\n  F x 1").Tree("F y 2");
    ASSERT_EQ(builder.Rows().size(), 3u);
    EXPECT_EQ(builder.Rows()[2].id, 3);
    EXPECT_EQ(builder.Rows()[2].parent, -1);
}

TEST(ReportBuilder, WrittenReportHoldsEveryColumn)
{
    TempDir dir;
    ReportBuilder builder;
    builder.Tree("D Docs\n  F \"x y.txt\" 12 attr=32 flags=3 date=15.06.2021 08:09:10\n  F 😀.png 3 deleted");
    DriveRow extra;
    extra.id = 500;
    extra.parent = 1;
    extra.name = "Ünïcode ñame";
    extra.size = int64_t{1} << 40;
    builder.Row(extra).Information("drive", "C:");
    const std::string path = builder.Write(dir.File("r.korrinrep"));

    Db db(path);
    const auto rows =
        db.Rows("SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, "
                "F_UPDATE, F_ACCESS, F_FLAGS, F_CHILDREN_SIZE FROM struct_drive_table ORDER BY rowid");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "-1", "1", "0", "Docs", "0", "0", "2020-01-02 03:04:05",
                                                 "2020-01-02 03:04:05", "2020-01-02 03:04:05", "0", "15"}));
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{"2", "1", "0", "0", "x y.txt", "12", "32", "15.06.2021 08:09:10",
                                        "15.06.2021 08:09:10", "15.06.2021 08:09:10", "3", "0"}));
    EXPECT_EQ(rows[2][4], "😀.png");
    EXPECT_EQ(rows[2][3], "1");
    EXPECT_EQ(rows[3][4], "Ünïcode ñame");
    EXPECT_EQ(rows[3][5], "1099511627776");

    // Stored types as a scanner writes them: integers, and UTF-8 text (4 bytes for the emoji).
    EXPECT_EQ(
        db.Rows("SELECT DISTINCT typeof(ID_FILE) || typeof(ID_PARENT) || typeof(F_SIZE) || typeof(F_NAME) || "
                "typeof(F_CREATE) || typeof(F_CHILDREN_SIZE) FROM struct_drive_table"),
        (std::vector<std::vector<std::string>>{{"integerintegerintegertexttextinteger"}}));
    EXPECT_EQ(db.Scalar("SELECT length(CAST(F_NAME AS BLOB)) FROM struct_drive_table WHERE ID_FILE = 3"), 8);

    // The opening check reads the version as an integer 1.
    EXPECT_EQ(db.Rows("SELECT typeof(value), value FROM information WHERE field_Name  = \"version\";"),
              (std::vector<std::vector<std::string>>{{"integer", "1"}}));
    EXPECT_EQ(db.Rows("SELECT value FROM information WHERE field_Name = 'drive'").at(0).at(0), "C:");
    // No tick table until a tick row or WithCheckTable asks for one: the viewer's preparation makes it.
    EXPECT_FALSE(db.HasTable("check_and_comment_map"));
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

TEST(ReportBuilder, CheckRowsVersionAndMissingTables)
{
    TempDir dir;
    CheckRow tick;
    tick.fileID = 2;
    tick.checked = 1;
    tick.idParent = 1;
    tick.checkForFolder = 1;
    CheckRow comment;
    comment.fileID = -1;
    comment.comment = "Заметка";
    const std::string path = ReportBuilder()
                                 .Tree("D A\n  F b 1")
                                 .Check(tick)
                                 .Check(comment)
                                 .Version(std::string("2.5"))
                                 .Write(dir.File("c.db3"));
    Db db(path);
    EXPECT_EQ(db.Rows("SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM "
                      "check_and_comment_map ORDER BY id"),
              (std::vector<std::vector<std::string>>{
                  {"1", "<null>", "1", "2", "1", "<null>", "1"},
                  {"2", "Заметка", "<null>", "-1", "<null>", "<null>", "<null>"}}));
    // The table is made with the viewer's own statement, blank runs included.
    const std::string stored =
        db.Rows("SELECT sql FROM sqlite_master WHERE name = 'check_and_comment_map'").at(0).at(0);
    const std::string made = kCheckTableSql;
    EXPECT_EQ(stored.substr(stored.find("check_and_comment_map(")) + ";",
              made.substr(made.find("check_and_comment_map(")));
    EXPECT_EQ(db.Rows("SELECT typeof(value), value FROM information WHERE field_Name = 'version'"),
              (std::vector<std::vector<std::string>>{{"text", "2.5"}}));

    const std::string bare = ReportBuilder()
                                 .WithoutDriveTable()
                                 .Version(std::nullopt)
                                 .WithCheckTable()
                                 .Write(dir.File("bare.db3"));
    Db bareDb(bare);
    EXPECT_FALSE(bareDb.HasTable("struct_drive_table"));
    EXPECT_TRUE(bareDb.HasTable("check_and_comment_map"));
    EXPECT_EQ(bareDb.Scalar("SELECT COUNT(*) FROM information"), 0);
}

TEST(ReportBuilder, WriteReplacesAnExistingFile)
{
    TempDir dir;
    const std::string path = dir.File("r.db3");
    {
        std::ofstream junk(path);
        junk << "not a database at all";
    }
    ReportBuilder().Tree("F a\nF b\nF c").Write(path);
    ReportBuilder().Tree("F only").Sql("CREATE INDEX idInd ON struct_drive_table(ID_FILE);").Write(path);
    Db db(path);
    EXPECT_EQ(db.Rows("SELECT F_NAME FROM struct_drive_table"),
              (std::vector<std::vector<std::string>>{{"only"}}));
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'idInd'"), 1);
}

TEST(ReportWriter, FailuresThrowAndLeaveNoFile)
{
    TempDir dir;
    EXPECT_THROW(ReportBuilder().Tree("F a").Write(dir.File("missing/r.db3")), std::runtime_error);
    EXPECT_THROW(ReportBuilder().Sql("INSERT INTO nowhere VALUES (1);").Write(dir.File("bad.db3")),
                 std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.db3")));
    {
        ReportWriter writer(dir.File("unfinished.db3"), false);
        EXPECT_THROW(writer.Row(DriveRow{}), std::runtime_error); // no struct_drive_table
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("unfinished.db3")));
}

TEST(ReportBuilder, CompressedTwinInflatesToThePlainBytes)
{
    TempDir dir;
    ReportBuilder builder;
    for (int i = 1; i <= 3000; ++i) {
        DriveRow row;
        row.id = i;
        row.name = "file number " + std::to_string(i * 7919 % 100003) + ".dat";
        row.size = i * 31;
        builder.Row(row);
    }
    const std::string plain = builder.Write(dir.File("plain.db3"));
    const std::string packed = builder.WriteCompressed(dir.File("packed.korrinrep"));
    const std::string plainBytes = ReadBytes(plain);
    ASSERT_GT(plainBytes.size(), 256u * 1024u); // more than one chunk of the streaming compressor
    EXPECT_EQ(Inflate(ReadBytes(packed), plainBytes.size()), plainBytes);

    // Only the compressed file stays beside the plain one.
    size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2u);

    // An empty file still becomes a complete zlib stream.
    const std::string empty = dir.File("empty");
    std::ofstream(empty).close();
    CompressFile(empty, dir.File("empty.z"));
    EXPECT_EQ(Inflate(ReadBytes(dir.File("empty.z")), 16), "");
    EXPECT_THROW(CompressFile(dir.File("missing"), dir.File("missing.z")), std::runtime_error);
}

TEST(TempDir, MadeUnderTmpdirAndRemovedWithItsContents)
{
    TempDir outer;
    const char *saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", outer.Path().c_str(), 1);
    std::string inner;
    {
        TempDir dir;
        inner = dir.Path();
        std::filesystem::create_directories(dir.File("a/b"));
        std::ofstream(dir.File("a/b/c.txt")) << "x";
        EXPECT_EQ(std::filesystem::path(inner).parent_path(), std::filesystem::path(outer.Path()));
        EXPECT_TRUE(std::filesystem::is_directory(inner));
    }
    if (saved)
        setenv("TMPDIR", savedValue.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_FALSE(std::filesystem::exists(inner));
}

TEST(SyntheticReport, RowsSharesBigFolderAndConsistentTree)
{
    TempDir dir;
    SyntheticOptions options;
    options.rows = 20000;
    options.fanout = 4;
    options.depth = 5;
    options.deletedShare = 0.1;
    options.nonAsciiShare = 0.3;
    options.dotDateShare = 0.25;
    options.bigFolder = 3000;
    options.bigFolderFolders = 0.01;
    options.seed = 42;
    const std::string path = dir.File("s.korrinrep");
    const SyntheticReport report = MakeSyntheticReport(path, options);
    EXPECT_EQ(report.rows, 20000);
    EXPECT_EQ(report.deleted, 2000);

    Db db(path);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table"), 20000);
    EXPECT_EQ(db.Scalar("SELECT COUNT(DISTINCT ID_FILE) FROM struct_drive_table"), 20000);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE IS_DELETED = 1"), 2000);
    EXPECT_EQ(db.Scalar("SELECT value FROM information WHERE field_Name = 'version'"), 1);

    ASSERT_NE(report.bigFolderId, 0);
    EXPECT_EQ(db.Scalar("SELECT IS_FOLDER FROM struct_drive_table WHERE ID_FILE = " +
                        std::to_string(report.bigFolderId)),
              1);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE ID_PARENT = " +
                        std::to_string(report.bigFolderId)),
              3000);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE IS_FOLDER = 1 AND ID_PARENT = " +
                        std::to_string(report.bigFolderId)),
              30);

    EXPECT_GT(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE ID_PARENT = -1"), 0);

    // Both date layouts in the requested mix, the three columns of a row in one layout.
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE F_CREATE GLOB "
                        "'[0-3][0-9].[01][0-9].[12][0-9][0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]' AND "
                        "F_UPDATE LIKE '__.__.____ __:__:__' AND F_ACCESS LIKE '__.__.____ __:__:__'"),
              5000);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE F_CREATE GLOB "
                        "'[12][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]' AND "
                        "F_UPDATE LIKE '____-__-__ __:__:__' AND F_ACCESS LIKE '____-__-__ __:__:__'"),
              15000);
    EXPECT_EQ(
        db.Scalar(
            "SELECT COUNT(*) FROM struct_drive_table WHERE F_UPDATE < F_CREATE AND F_CREATE LIKE '____-%'"),
        0);

    // Names: the non-ASCII share, some with 4-byte UTF-8 sequences; children sizes add up.
    std::map<int64_t, int64_t> sizeBelow;
    std::map<int64_t, int64_t> parentOf;
    int64_t nonAscii = 0, fourByte = 0, maxId = 0;
    std::map<int64_t, bool> isFolder;
    const auto rows = db.Rows(
        "SELECT ID_FILE, ID_PARENT, F_SIZE, F_CHILDREN_SIZE, F_NAME, IS_FOLDER FROM struct_drive_table");
    for (const auto &row : rows) {
        const int64_t id = std::stoll(row[0]);
        parentOf[id] = std::stoll(row[1]);
        isFolder[id] = row[5] == "1";
        maxId = std::max(maxId, id);
        bool wide = false, astral = false;
        for (unsigned char c : row[4]) {
            wide = wide || c >= 0x80;
            astral = astral || (c & 0xF8) == 0xF0;
        }
        nonAscii += wide;
        fourByte += astral;
    }
    EXPECT_EQ(nonAscii, 6000);
    EXPECT_GT(fourByte, 0);
    EXPECT_EQ(maxId, 20000);
    // Every parent other than the root is a folder that exists, and comes before its children.
    for (const auto &[id, parent] : parentOf)
        if (parent != -1) {
            ASSERT_TRUE(isFolder.count(parent)) << "id " << id;
            ASSERT_TRUE(isFolder[parent]) << "id " << id;
            ASSERT_LT(parent, id);
        }
    for (const auto &row : rows)
        for (int64_t p = parentOf[std::stoll(row[0])]; p != -1; p = parentOf[p])
            sizeBelow[p] += std::stoll(row[2]);
    for (const auto &row : rows)
        ASSERT_EQ(std::stoll(row[3]), sizeBelow[std::stoll(row[0])]) << "id " << row[0];

    // The folder skeleton reaches the depth asked for.
    int depth = 0;
    for (int64_t p = report.deepestFolderId; p != -1; p = parentOf[p])
        ++depth;
    EXPECT_EQ(depth, 5);
    EXPECT_EQ(report.maxDepth, 5);
}

TEST(SyntheticReport, SameSeedSameBytesAndCompressedTwin)
{
    TempDir dir;
    SyntheticOptions options;
    options.rows = 5000;
    options.seed = 7;
    MakeSyntheticReport(dir.File("a.db3"), options);
    MakeSyntheticReport(dir.File("b.db3"), options);
    const std::string plain = ReadBytes(dir.File("a.db3"));
    EXPECT_EQ(plain, ReadBytes(dir.File("b.db3")));

    options.compressed = true;
    options.level = 1;
    MakeSyntheticReport(dir.File("c.korrinrep"), options);
    EXPECT_EQ(Inflate(ReadBytes(dir.File("c.korrinrep")), plain.size()), plain);

    options.seed = 8;
    options.compressed = false;
    MakeSyntheticReport(dir.File("d.db3"), options);
    EXPECT_NE(ReadBytes(dir.File("d.db3")), plain);
}

TEST(SyntheticReport, RejectsOptionsItCannotMeet)
{
    TempDir dir;
    SyntheticOptions options;
    options.rows = 100;
    options.bigFolder = 100; // needs a row for the folder itself
    EXPECT_THROW(MakeSyntheticReport(dir.File("x"), options), std::invalid_argument);
    options.bigFolder = 0;
    options.deletedShare = 1.5;
    EXPECT_THROW(MakeSyntheticReport(dir.File("x"), options), std::invalid_argument);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));

    // A flat report: no folders at all when the depth is 0.
    options.deletedShare = 0;
    options.depth = 0;
    MakeSyntheticReport(dir.File("flat"), options);
    Db db(dir.File("flat"));
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM struct_drive_table WHERE ID_PARENT = -1 AND IS_FOLDER = 0"),
              100);
}

TEST(SyntheticReport, FromDirectoryMirrorsTheTree)
{
    TempDir source;
    std::filesystem::create_directories(source.File("top/Ünter"));
    std::ofstream(source.File("top/a.txt")) << "12345";
    std::ofstream(source.File("top/Ünter/b.bin")) << std::string(1000, 'x');
    std::ofstream(source.File("root.txt")) << "ab";
    std::filesystem::create_symlink(source.Path(), source.File("top/loop"));

    TempDir dir;
    const SyntheticReport report =
        MakeReportFromDirectory(dir.File("d.db3"), source.Path(), SyntheticOptions{});
    EXPECT_EQ(report.rows, 6);
    EXPECT_EQ(report.folders, 2);
    Db db(dir.File("d.db3"));
    auto one = [&](const std::string &name, const std::string &column) {
        return db.Rows("SELECT " + column + " FROM struct_drive_table WHERE F_NAME = '" + name + "'")
            .at(0)
            .at(0);
    };
    EXPECT_EQ(one("top", "ID_PARENT"), "-1");
    EXPECT_EQ(one("root.txt", "ID_PARENT"), "-1");
    EXPECT_EQ(one("top", "F_CHILDREN_SIZE"), std::to_string(5 + 1000 + std::string(source.Path()).size()));
    EXPECT_EQ(one("Ünter", "ID_PARENT"), one("top", "ID_FILE"));
    EXPECT_EQ(one("b.bin", "ID_PARENT"), one("Ünter", "ID_FILE"));
    EXPECT_EQ(one("b.bin", "F_SIZE"), "1000");
    EXPECT_EQ(one("Ünter", "IS_FOLDER"), "1");
    EXPECT_EQ(one("loop", "IS_FOLDER"), "0"); // a link is not followed
    EXPECT_THROW(MakeReportFromDirectory(dir.File("e.db3"), source.File("root.txt"), SyntheticOptions{}),
                 std::invalid_argument);
}
