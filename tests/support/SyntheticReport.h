#pragma once
// Large reports for benchmarks and tools/make-report, written without holding the rows in memory.
#include <cstdint>
#include <string>

namespace support {

struct SyntheticOptions
{
    int64_t rows = 100000;       // total rows of struct_drive_table
    int fanout = 10;             // subfolders per folder
    int depth = 4;               // folder levels below the root
    double folderShare = 0.1;    // at most this share of the rows (outside the big folder) are folders
    double deletedShare = 0.05;  // exactly round(share * rows) rows are deleted
    double nonAsciiShare = 0.2;  // names with Cyrillic, accented Latin, CJK, ... (some outside the BMP)
    double dotDateShare = 0.3;   // rows whose times read "DD.MM.YYYY hh:mm:ss"
    int64_t bigFolder = 0;       // children of one top-level folder, id 1 ("Big folder"); 0 = none
    double bigFolderFolders = 0; // share of those children that are (empty) folders
    uint64_t seed = 1;
    bool compressed = false; // write the zlib-compressed twin in place of the database
    int level = -1;          // zlib level of the compressed twin
};

// What was written, for callers that look for particular items.
struct SyntheticReport
{
    int64_t rows = 0;
    int64_t folders = 0;
    int64_t deleted = 0;
    int64_t nonAscii = 0;
    int64_t dotDates = 0;
    int64_t bigFolderId = 0;     // 0 when there is no big folder
    int64_t deepestFolderId = 0; // a folder at the greatest depth (0 when there is no folder)
    int maxDepth = 0;            // levels of that folder below the root (1 = top level)
};

// Writes a synthetic report with options.rows rows to path (replacing any file). Ids run from 1 in
// breadth-first order of the folders, so every parent comes before its children; a folder's
// F_CHILDREN_SIZE is the sum of the sizes below it. The same options and seed give the same file.
// Throws std::invalid_argument on options that cannot be met, std::runtime_error on write failures.
SyntheticReport MakeSyntheticReport(const std::string &path, const SyntheticOptions &options);

// Writes a report of the directory tree under dir (dir itself is the root, id -1), without following
// symbolic links; unreadable entries are skipped. Of the options only dotDateShare, seed,
// compressed and level apply.
SyntheticReport MakeReportFromDirectory(const std::string &path, const std::string &dir,
                                        const SyntheticOptions &options);

} // namespace support
