#pragma once
// Writes report databases for tests, benchmarks and tools/make-report.
//
// A report is made from rows of struct_drive_table (every column), the "version" row of
// information (and any other information rows), and optionally check_and_comment_map rows.
// Rows come either one by one or from a compact indented tree description:
//
//     D Documents                 <- a folder, child of the root (ID_PARENT -1)
//       F report.txt 1200         <- a file of 1200 bytes inside Documents
//       F old.doc 10 deleted      <- IS_DELETED = 1
//       D Empty
//     F readme.md 5 date=2020-05-01 10:20:30 id=77
//
// Two blanks of indentation per level; "D" folder, "F" file; optional size; optional words
// "deleted", "id=N" (else ids are given 1, 2, 3, ... in order of appearance), "date=TEXT"
// (up to the end of the line or the next of these words, used for F_CREATE, F_UPDATE and
// F_ACCESS), "attr=N".
// Names are UTF-8. A folder's F_CHILDREN_SIZE is the sum of the sizes below it.
// Also accepted: "flags=N"; a name in double quotes may hold blanks (\" and \\ escape);
// blank lines are skipped. Sizes of every item below a folder count, deleted ones included.
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace support {

struct DriveRow
{
    int64_t id = 0;
    int64_t parent = -1;
    int isFolder = 0;
    int isDeleted = 0;
    std::string name; // UTF-8
    int64_t size = 0;
    int attr = 0;
    std::string create = "2020-01-02 03:04:05";
    std::string update = "2020-01-02 03:04:05";
    std::string access = "2020-01-02 03:04:05";
    int64_t flags = 0;
    int64_t childrenSize = 0;
};

struct CheckRow
{
    std::optional<std::string> comment; // UTF-8; nullopt = NULL
    std::optional<int64_t> checked;
    int64_t fileID = 0;
    std::optional<int64_t> idParent;
    std::optional<int64_t> flag;
    std::optional<int64_t> checkForFolder;
};

// Parses the tree description above into rows (ids assigned, sizes summed). Throws std::runtime_error
// on a malformed line.
std::vector<DriveRow> ParseTree(const std::string &description);
// The same, with the ids that are not given counting up from firstId.
std::vector<DriveRow> ParseTree(const std::string &description, int64_t firstId);

// The CREATE TABLE texts a report is written with.
extern const char *const kDriveTableSql;
extern const char *const kInformationTableSql;
extern const char *const kCheckTableSql;

// Streams a report into a new database file: the tables are created by the constructor, rows
// go in through kept prepared statements inside one transaction with the journal off, and
// Finish commits. For reports too large to hold as DriveRow vectors (tools/make-report).
// Throws std::runtime_error on any SQLite failure; a writer destroyed unfinished removes its file.
class ReportWriter
{
public:
    // Replaces any file at path. driveTable false: no struct_drive_table (a database that is no
    // report); checkTable true: check_and_comment_map is created even without rows.
    explicit ReportWriter(const std::string &path, bool driveTable = true, bool checkTable = false);
    ~ReportWriter();
    ReportWriter(const ReportWriter &) = delete;
    ReportWriter &operator=(const ReportWriter &) = delete;

    void Row(const DriveRow &row);
    void Check(const CheckRow &row); // creates check_and_comment_map on first use
    // value is stored as an INTEGER when it is a whole decimal number, else as TEXT.
    void Information(const std::string &field, const std::string &value);
    void Exec(const std::string &sql); // any further statement, inside the same transaction
    void Finish();                     // commits and closes; the file is complete afterwards

private:
    sqlite3_stmt *Prepare(const char *sql);
    void Step(sqlite3_stmt *stmt);
    [[noreturn]] void Fail(const std::string &what);
    int Close(); // finalizes the statements and closes; the close's result code

    std::string FPath;
    sqlite3 *FDB = nullptr;
    sqlite3_stmt *FRowStmt = nullptr;
    sqlite3_stmt *FCheckStmt = nullptr;
    sqlite3_stmt *FInfoStmt = nullptr;
    bool FCheckTable = false;
};

class ReportBuilder
{
public:
    ReportBuilder();

    ReportBuilder &Tree(const std::string &description); // appends ParseTree(description)
    ReportBuilder &Row(const DriveRow &row);
    ReportBuilder &Check(const CheckRow &row);                // also creates check_and_comment_map
    ReportBuilder &Version(std::optional<std::string> value); // "version" row; nullopt = no row; default "1"
    ReportBuilder &Information(const std::string &field, const std::string &value);
    ReportBuilder &WithoutDriveTable();               // a database that is no report
    ReportBuilder &WithCheckTable();                  // empty check_and_comment_map too
    ReportBuilder &Sql(const std::string &statement); // run after the rows, same transaction

    const std::vector<DriveRow> &Rows() const { return FRows; }

    // Writes the database to path (replacing any file there). Returns path.
    std::string Write(const std::string &path) const;
    // Writes the database, then its zlib-compressed twin (one zlib stream over the whole file)
    // to path; the plain database is not kept. Returns path.
    std::string WriteCompressed(const std::string &path) const;

private:
    std::vector<DriveRow> FRows;
    std::vector<CheckRow> FChecks;
    std::optional<std::string> FVersion = std::string("1");
    std::vector<std::pair<std::string, std::string>> FInfo;
    bool FDriveTable = true;
    bool FCheckTable = false;
    std::vector<std::string> FSql;
};

// Compresses the file at source into one zlib stream at target, streaming in chunks.
// level: a zlib level (0..9, -1 the default). Throws std::runtime_error on failure.
void CompressFile(const std::string &source, const std::string &target, int level = -1);
// Replaces the file at path by its compressed twin (through a temporary file beside it).
void CompressInPlace(const std::string &path, int level = -1);

// A temporary folder removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return FPath; }
    std::string File(const std::string &name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

} // namespace support
