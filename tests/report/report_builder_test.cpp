// The report builder and the synthetic report generator that tests, benchmarks and make-report use.
#include "tests/support/ReportBuilder.h"
#include "tests/support/SyntheticReport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

using namespace support;
namespace fs = std::filesystem;

namespace {

using Table = std::vector<std::vector<std::string>>;

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Inflate(const std::string &packed, size_t plainSize)
{
    std::string out(plainSize, '\0');
    uLongf outSize = plainSize;
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &outSize,
                         reinterpret_cast<const Bytef *>(packed.data()), packed.size()),
              Z_OK);
    out.resize(outSize);
    return out;
}

// Every row of a query on the database at path, each column as text (NULL as "<null>").
Table Query(const std::string &path, const std::string &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    Table rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
            rows.back().emplace_back(text ? text : "<null>");
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return rows;
}

int64_t Scalar(const std::string &path, const std::string &sql)
{
    return std::stoll(Query(path, sql).at(0).at(0));
}

bool HasTable(const std::string &path, const std::string &name)
{
    return Scalar(path, "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='" + name + "'") == 1;
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
    // name, id, parent, folder, deleted, size, children size (everything below, deleted items and
    // a folder's own size included), attr, flags, dates; an explicit id does not shift the others.
    const char *const expected[] = {
        "Documents 1 -1 1 0 0 1317 0 0 2020-01-02 03:04:05",
        "report.txt 2 1 0 0 1200 0 0 0 2020-01-02 03:04:05",
        "old.doc 3 1 0 1 10 0 0 0 2020-01-02 03:04:05",
        "Empty 4 1 1 0 0 0 0 0 2020-01-02 03:04:05",
        "Deep 5 1 1 0 7 100 0 0 2020-01-02 03:04:05",
        "Deeper 6 5 1 0 0 100 0 0 2020-01-02 03:04:05",
        "a file.bin 7 6 0 0 100 0 33 4 2020-01-02 03:04:05",
        "readme.md 77 -1 0 0 5 0 0 0 2020-05-01 10:20:30",
        "Фото 9 -1 1 0 0 0 0 0 2020-01-02 03:04:05",
        "late.txt 10 9 0 1 0 0 1 0 31.12.2019 23:59:59",
    };
    ASSERT_EQ(rows.size(), std::size(expected));
    for (size_t i = 0; i < rows.size(); ++i) {
        const DriveRow &r = rows[i];
        EXPECT_EQ(r.name + " " + std::to_string(r.id) + " " + std::to_string(r.parent) + " " +
                      std::to_string(r.isFolder) + " " + std::to_string(r.isDeleted) + " " +
                      std::to_string(r.size) + " " + std::to_string(r.childrenSize) + " " +
                      std::to_string(r.attr) + " " + std::to_string(r.flags) + " " + r.create,
                  expected[i]);
        EXPECT_TRUE(r.update == r.create && r.access == r.create) << r.name;
    }

    // unknown kind or word, indented with no folder above or below a file, odd indentation, two levels
    // at once, no name, two sizes, bad id, open quote, tab, negative size, empty date
    for (const char *text :
         {"X thing", "  F orphan", "F file\n  F child", "D a\n   F odd", "D a\n      F skipped", "F",
          "F a 12 13", "F a id=x", "F a big", "F \"unterminated 5", "D a\n\tF tabbed", "F a -5", "F a date="})
        EXPECT_THROW(ParseTree(text), std::runtime_error) << text;
}

TEST(ReportBuilder, WrittenReportHoldsEveryColumn)
{
    TempDir dir;
    ReportBuilder builder;
    builder.Tree("D Docs\n  F \"x y.txt\" 12 attr=32 flags=3 date=15.06.2021 08:09:10")
        .Tree("F 😀.png 3 deleted");
    builder.Row({.id = 500, .parent = 1, .name = "Ünïcode ñame", .size = int64_t{1} << 40})
        .Information("drive", "C:");
    const std::string path = builder.Write(dir.File("r.korrinrep"));

    // A second tree goes on with the ids; stored types as a scanner writes them: integers, and
    // UTF-8 text (4 bytes for the emoji).
    EXPECT_EQ(
        Query(path,
              "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, length(CAST(F_NAME AS BLOB)), "
              "F_SIZE, F_ATTR, F_CREATE, F_UPDATE = F_CREATE AND F_ACCESS = F_CREATE, F_FLAGS, "
              "F_CHILDREN_SIZE, typeof(ID_FILE) || typeof(F_SIZE) || typeof(F_NAME) || typeof(F_CREATE) "
              "FROM struct_drive_table ORDER BY rowid"),
        (Table{{"1", "-1", "1", "0", "Docs", "4", "0", "0", "2020-01-02 03:04:05", "1", "0", "12",
                "integerintegertexttext"},
               {"2", "1", "0", "0", "x y.txt", "7", "12", "32", "15.06.2021 08:09:10", "1", "3", "0",
                "integerintegertexttext"},
               {"3", "-1", "0", "1", "😀.png", "8", "3", "0", "2020-01-02 03:04:05", "1", "0", "0",
                "integerintegertexttext"},
               {"500", "1", "0", "0", "Ünïcode ñame", "15", "1099511627776", "0", "2020-01-02 03:04:05", "1",
                "0", "0", "integerintegertexttext"}}));
    // The opening check reads the version as an integer 1.
    EXPECT_EQ(Query(path, "SELECT typeof(value), value FROM information WHERE field_Name  = \"version\";"),
              (Table{{"integer", "1"}}));
    EXPECT_EQ(Query(path, "SELECT value FROM information WHERE field_Name = 'drive'"), (Table{{"C:"}}));
    // No tick table until a tick row or WithCheckTable asks for one: the viewer's preparation makes it.
    EXPECT_FALSE(HasTable(path, "check_and_comment_map"));
    EXPECT_FALSE(fs::exists(path + "-journal"));
}

TEST(ReportBuilder, CheckRowsVersionAndMissingTables)
{
    TempDir dir;
    const std::string path = ReportBuilder()
                                 .Tree("D A\n  F b 1")
                                 .Check({.checked = 1, .fileID = 2, .idParent = 1, .checkForFolder = 1})
                                 .Check({.comment = std::string("Заметка"), .fileID = -1})
                                 .Version(std::string("2.5"))
                                 .Write(dir.File("c.db3"));
    EXPECT_EQ(Query(path, "SELECT id, comment, checked, fileID, id_parent, flag, checkForFolder FROM "
                          "check_and_comment_map ORDER BY id"),
              (Table{{"1", "<null>", "1", "2", "1", "<null>", "1"},
                     {"2", "Заметка", "<null>", "-1", "<null>", "<null>", "<null>"}}));
    EXPECT_EQ(Query(path, "SELECT typeof(value), value FROM information WHERE field_Name = 'version'"),
              (Table{{"text", "2.5"}}));

    const std::string bare = ReportBuilder()
                                 .WithoutDriveTable()
                                 .Version(std::nullopt)
                                 .WithCheckTable()
                                 .Write(dir.File("bare.db3"));
    EXPECT_FALSE(HasTable(bare, "struct_drive_table"));
    EXPECT_TRUE(HasTable(bare, "check_and_comment_map"));
    EXPECT_EQ(Scalar(bare, "SELECT COUNT(*) FROM information"), 0);
}

TEST(ReportBuilder, WriteReplacesAnyFileAndFailuresLeaveNone)
{
    TempDir dir;
    const std::string path = dir.File("r.db3");
    std::ofstream(path) << "not a database at all";
    ReportBuilder().Tree("F a\nF b\nF c").Write(path);
    ReportBuilder().Tree("F only").Sql("CREATE INDEX idInd ON struct_drive_table(ID_FILE);").Write(path);
    EXPECT_EQ(Query(path, "SELECT F_NAME FROM struct_drive_table"), (Table{{"only"}}));
    EXPECT_EQ(Scalar(path, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'idInd'"), 1);

    EXPECT_THROW(ReportBuilder().Tree("F a").Write(dir.File("missing/r.db3")), std::runtime_error);
    EXPECT_THROW(ReportBuilder().Sql("INSERT INTO nowhere VALUES (1);").Write(dir.File("bad.db3")),
                 std::runtime_error);
    EXPECT_FALSE(fs::exists(dir.File("bad.db3")));
    {
        ReportWriter writer(dir.File("unfinished.db3"), false);
        EXPECT_THROW(writer.Row(DriveRow{}), std::runtime_error); // no struct_drive_table
    }
    EXPECT_FALSE(fs::exists(dir.File("unfinished.db3")));
}

TEST(ReportBuilder, CompressedTwinInflatesToThePlainBytes)
{
    TempDir dir;
    ReportBuilder builder;
    builder.Tree("D Docs\n  F a.txt 10\nF b.txt 20");
    const std::string plainBytes = ReadBytes(builder.Write(dir.File("plain.db3")));
    const std::string packed = builder.WriteCompressed(dir.File("packed.korrinrep"));
    EXPECT_EQ(Inflate(ReadBytes(packed), plainBytes.size()), plainBytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2)
        << "only the compressed file stays beside the plain one";

    // An empty file still becomes a complete zlib stream.
    std::ofstream(dir.File("empty")).close();
    CompressFile(dir.File("empty"), dir.File("empty.z"));
    EXPECT_EQ(Inflate(ReadBytes(dir.File("empty.z")), 16), "");
    EXPECT_THROW(CompressFile(dir.File("missing"), dir.File("missing.z")), std::runtime_error);
}

TEST(SyntheticReport, RowsSharesBigFolderAndConsistentTree)
{
    TempDir dir;
    const SyntheticOptions options{.rows = 20000,
                                   .fanout = 4,
                                   .depth = 5,
                                   .deletedShare = 0.1,
                                   .nonAsciiShare = 0.3,
                                   .dotDateShare = 0.25,
                                   .bigFolder = 3000,
                                   .bigFolderFolders = 0.01,
                                   .seed = 42};
    const std::string path = dir.File("s.korrinrep");
    const SyntheticReport report = MakeSyntheticReport(path, options);
    EXPECT_EQ(report.rows, 20000);
    EXPECT_EQ(report.deleted, 2000);
    EXPECT_EQ(report.maxDepth, 5);
    const auto count = [&](const std::string &where) {
        return Scalar(path, "SELECT COUNT(*) FROM struct_drive_table WHERE " + where);
    };
    const std::string big = std::to_string(report.bigFolderId);
    EXPECT_EQ(count("IS_DELETED = 1"), 2000);
    EXPECT_EQ(Scalar(path, "SELECT value FROM information WHERE field_Name = 'version'"), 1);
    EXPECT_EQ(count("IS_FOLDER = 1 AND ID_FILE = " + big), 1);
    EXPECT_EQ(count("ID_PARENT = " + big), 3000);
    EXPECT_EQ(count("IS_FOLDER = 1 AND ID_PARENT = " + big), 30);
    // Both date layouts in the requested mix, the three columns of a row in one layout.
    const auto inLayout = [&](const std::string &glob) {
        return count("F_CREATE GLOB '" + glob + "' AND F_UPDATE GLOB '" + glob + "' AND F_ACCESS GLOB '" +
                     glob + "'");
    };
    EXPECT_EQ(inLayout("[0-3][0-9].[01][0-9].[12][0-9][0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]"), 5000);
    EXPECT_EQ(inLayout("[12][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]"), 15000);
    EXPECT_EQ(count("F_UPDATE < F_CREATE AND F_CREATE LIKE '____-%'"), 0);

    // Names: the non-ASCII share, some outside the BMP (4-byte UTF-8 sequences).
    EXPECT_EQ(count("F_NAME GLOB '*[^ -~]*'"), 6000);
    EXPECT_GT(count("F_NAME GLOB '*[\U00010000-\U0010FFFF]*'"), 0);
    // Every parent other than the root is a folder that exists and comes before its children; ids are
    // unique; children sizes add up.
    std::map<int64_t, int64_t> parentOf, sizeBelow;
    std::map<int64_t, bool> isFolder;
    const Table rows =
        Query(path, "SELECT ID_FILE, ID_PARENT, F_SIZE, F_CHILDREN_SIZE, IS_FOLDER FROM struct_drive_table");
    for (const auto &row : rows) {
        parentOf[std::stoll(row[0])] = std::stoll(row[1]);
        isFolder[std::stoll(row[0])] = row[4] == "1";
    }
    EXPECT_EQ(rows.size(), 20000u);
    EXPECT_EQ(parentOf.size(), 20000u);
    EXPECT_EQ(parentOf.rbegin()->first, 20000);
    for (const auto &[id, parent] : parentOf) {
        if (parent != -1) {
            ASSERT_TRUE(isFolder.count(parent) && isFolder[parent]) << "id " << id;
            ASSERT_LT(parent, id);
        }
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
}

TEST(SyntheticReport, SameSeedSameBytesAndCompressedTwin)
{
    TempDir dir;
    SyntheticOptions options{.rows = 5000, .seed = 7};
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

TEST(SyntheticReport, FromDirectoryMirrorsTheTree)
{
    TempDir source;
    fs::create_directories(source.File("top/Ünter"));
    std::ofstream(source.File("top/a.txt")) << "12345";
    std::ofstream(source.File("top/Ünter/b.bin")) << std::string(1000, 'x');
    std::ofstream(source.File("root.txt")) << "ab";
    fs::create_symlink(source.Path(), source.File("top/loop"));

    TempDir dir;
    const SyntheticReport report =
        MakeReportFromDirectory(dir.File("d.db3"), source.Path(), SyntheticOptions{});
    EXPECT_EQ(report.rows, 6);
    EXPECT_EQ(report.folders, 2);
    // A link is not followed; its size is the length of its target.
    const std::string link = std::to_string(source.Path().size());
    EXPECT_EQ(Query(dir.File("d.db3"), "SELECT c.F_NAME, c.IS_FOLDER, c.F_SIZE, c.F_CHILDREN_SIZE, "
                                       "ifnull(p.F_NAME, c.ID_PARENT) FROM struct_drive_table c LEFT JOIN "
                                       "struct_drive_table p ON p.ID_FILE = c.ID_PARENT ORDER BY c.F_NAME"),
              (Table{{"a.txt", "0", "5", "0", "top"},
                     {"b.bin", "0", "1000", "0", "Ünter"},
                     {"loop", "0", link, "0", "top"},
                     {"root.txt", "0", "2", "0", "-1"},
                     {"top", "1", "0", std::to_string(5 + 1000 + source.Path().size()), "-1"},
                     {"Ünter", "1", "0", "1000", "top"}}));
    EXPECT_THROW(MakeReportFromDirectory(dir.File("e.db3"), source.File("root.txt"), SyntheticOptions{}),
                 std::invalid_argument);
}
