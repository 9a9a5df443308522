#include "tests/support/SyntheticReport.h"

#include "tests/support/ReportBuilder.h"

#include <array>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace support {

namespace {

constexpr int kAttrReadOnly = 0x01;
constexpr int kAttrHidden = 0x02;
constexpr int kAttrDirectory = 0x10;
constexpr int kAttrArchive = 0x20;

// Picks exactly `need` of `total` items, each subset equally likely (selection sampling).
class ExactShare
{
public:
    ExactShare(double share, int64_t total)
        : FNeed(static_cast<int64_t>(std::llround(share * static_cast<double>(total)))), FLeft(total)
    {
    }
    bool Next(std::mt19937_64 &rng)
    {
        if (FLeft <= 0)
            return false;
        const bool take = static_cast<int64_t>(rng() % static_cast<uint64_t>(FLeft)) < FNeed;
        FNeed -= take;
        --FLeft;
        return take;
    }

private:
    int64_t FNeed;
    int64_t FLeft;
};

struct Node
{
    int64_t parent = -1;
    int64_t size = 0;
    int64_t childrenSize = 0;
    bool folder = false;
};

// Parents come before their children, so one backward pass sums every subtree.
void AccumulateChildrenSizes(std::vector<Node> &nodes, int64_t firstId)
{
    for (size_t i = nodes.size(); i-- > 0;) {
        const int64_t parent = nodes[i].parent;
        if (parent >= firstId)
            nodes[static_cast<size_t>(parent - firstId)].childrenSize +=
                nodes[i].size + nodes[i].childrenSize;
    }
}

void Put2(char *out, int value)
{
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

// "YYYY-MM-DD hh:mm:ss" or "DD.MM.YYYY hh:mm:ss".
void FormatTime(std::string &out, const std::tm &tm, bool dotLayout)
{
    char buf[19];
    const int year = tm.tm_year + 1900;
    char *date = buf;
    if (dotLayout) {
        Put2(date, tm.tm_mday);
        date[2] = '.';
        Put2(date + 3, tm.tm_mon + 1);
        date[5] = '.';
        Put2(date + 6, year / 100);
        Put2(date + 8, year % 100);
    } else {
        Put2(date, year / 100);
        Put2(date + 2, year % 100);
        date[4] = '-';
        Put2(date + 5, tm.tm_mon + 1);
        date[7] = '-';
        Put2(date + 8, tm.tm_mday);
    }
    buf[10] = ' ';
    Put2(buf + 11, tm.tm_hour);
    buf[13] = ':';
    Put2(buf + 14, tm.tm_min);
    buf[16] = ':';
    Put2(buf + 17, tm.tm_sec);
    out.assign(buf, sizeof buf);
}

// Seconds since 1970 (UTC) as calendar fields, without the cost of gmtime_r's locking.
std::tm CivilTime(int64_t seconds)
{
    int64_t days = seconds / 86400;
    const int64_t rest = seconds % 86400;
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::tm tm{};
    tm.tm_year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0) - 1900);
    tm.tm_mon = static_cast<int>(month - 1);
    tm.tm_mday = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    tm.tm_hour = static_cast<int>(rest / 3600);
    tm.tm_min = static_cast<int>(rest / 60 % 60);
    tm.tm_sec = static_cast<int>(rest % 60);
    return tm;
}

const std::array<const char *, 8> kAsciiWords = {"report", "photo", "notes",  "invoice",
                                                 "backup", "setup", "readme", "data"};
// Two of them hold characters outside the Basic Multilingual Plane (4-byte UTF-8).
const std::array<const char *, 16> kNonAsciiWords = {
    "Документ", "Отчёт",  "Фотографии", "Café",   "Résumé",   "Größe",     "Ærøskøbing", "Ñandú",
    "文件",     "报告书", "写真",       "데이터", "Ελληνικά", "Łódź żółw", "😀 smile",    "𝄞 музыка"};
const std::array<const char *, 9> kExtensions = {".txt", ".jpg", ".docx", ".pdf", ".mp3",
                                                 ".exe", ".zip", ".db3",  ""};

void Finish(ReportWriter &writer, const std::string &path, const SyntheticOptions &options)
{
    writer.Finish();
    if (options.compressed)
        CompressInPlace(path, options.level);
}

void CheckShare(double share, const char *what)
{
    if (!(share >= 0.0 && share <= 1.0))
        throw std::invalid_argument(std::string(what) + " must lie between 0 and 1");
}

} // namespace

SyntheticReport MakeSyntheticReport(const std::string &path, const SyntheticOptions &options)
{
    CheckShare(options.folderShare, "folder share");
    CheckShare(options.deletedShare, "deleted share");
    CheckShare(options.nonAsciiShare, "non-ASCII share");
    CheckShare(options.dotDateShare, "dot-date share");
    CheckShare(options.bigFolderFolders, "big-folder folder share");
    if (options.rows < 0 || options.fanout < 1 || options.depth < 0 || options.bigFolder < 0)
        throw std::invalid_argument("rows, depth and big folder must not be negative, fanout at least 1");
    if (options.bigFolder > 0 && options.bigFolder + 1 > options.rows)
        throw std::invalid_argument("the big folder needs rows > its children");

    SyntheticReport report;
    std::mt19937_64 rng(options.seed);
    const int64_t total = options.rows;
    std::vector<Node> nodes;
    nodes.reserve(static_cast<size_t>(total));
    auto add = [&](int64_t parent, bool folder, int depth) {
        Node node;
        node.parent = parent;
        node.folder = folder;
        if (!folder) {
            const int bits = static_cast<int>(rng() % 34);
            node.size = bits == 0 ? 0 : static_cast<int64_t>(rng() & ((uint64_t{1} << bits) - 1));
        }
        nodes.push_back(node);
        const auto id = static_cast<int64_t>(nodes.size());
        if (folder) {
            ++report.folders;
            if (depth > report.maxDepth) {
                report.maxDepth = depth;
                report.deepestFolderId = id;
            }
        }
        return id;
    };

    if (options.bigFolder > 0) {
        report.bigFolderId = add(-1, true, 1);
        ExactShare folders(options.bigFolderFolders, options.bigFolder);
        for (int64_t i = 0; i < options.bigFolder; ++i)
            add(report.bigFolderId, folders.Next(rng), 2);
    }

    // The folder skeleton, breadth first, then the files spread over it and the root.
    const int64_t rest = total - static_cast<int64_t>(nodes.size());
    const int64_t folderCap =
        options.depth > 0 ? static_cast<int64_t>(std::floor(options.folderShare * static_cast<double>(rest)))
                          : 0;
    std::vector<int64_t> containers = {-1};
    std::vector<int64_t> level = {-1};
    int64_t made = 0;
    for (int depth = 1; depth <= options.depth && made < folderCap && !level.empty(); ++depth) {
        std::vector<int64_t> next;
        for (int64_t parent : level)
            for (int i = 0; i < options.fanout && made < folderCap; ++i, ++made)
                next.push_back(add(parent, true, depth));
        containers.insert(containers.end(), next.begin(), next.end());
        level = std::move(next);
    }
    while (static_cast<int64_t>(nodes.size()) < total)
        add(containers[rng() % containers.size()], false, 0);
    AccumulateChildrenSizes(nodes, 1);

    ExactShare deleted(options.deletedShare, total);
    ExactShare nonAscii(options.nonAsciiShare, total);
    ExactShare dotDates(options.dotDateShare, total);
    const int64_t from = 788918400; // 1995-01-01
    const int64_t span = 946080000; // thirty years
    ReportWriter writer(path);
    writer.Information("version", "1");
    DriveRow row;
    for (int64_t id = 1; id <= total; ++id) {
        const Node &node = nodes[static_cast<size_t>(id - 1)];
        row.id = id;
        row.parent = node.parent;
        row.isFolder = node.folder ? 1 : 0;
        row.isDeleted = deleted.Next(rng) ? 1 : 0;
        report.deleted += row.isDeleted;
        row.size = node.size;
        row.childrenSize = node.childrenSize;
        row.attr = node.folder ? kAttrDirectory : kAttrArchive;
        if (rng() % 50 == 0)
            row.attr |= kAttrHidden;
        if (rng() % 100 == 0)
            row.attr |= kAttrReadOnly;

        const bool wide = nonAscii.Next(rng);
        report.nonAscii += wide;
        if (wide)
            row.name.assign(kNonAsciiWords[rng() % kNonAsciiWords.size()]).append(" ");
        else
            row.name.clear();
        if (id == report.bigFolderId)
            row.name += "Big folder";
        else
            row.name.append(node.folder ? "Folder" : kAsciiWords[rng() % kAsciiWords.size()])
                .append(" ")
                .append(std::to_string(id));
        if (!node.folder)
            row.name += kExtensions[static_cast<size_t>(id) % kExtensions.size()];

        const bool dot = dotDates.Next(rng);
        report.dotDates += dot;
        const int64_t created = from + static_cast<int64_t>(rng() % span);
        const int64_t updated = created + static_cast<int64_t>(rng() % (3 * 365 * 86400));
        const int64_t accessed = updated + static_cast<int64_t>(rng() % (365 * 86400));
        FormatTime(row.create, CivilTime(created), dot);
        FormatTime(row.update, CivilTime(updated), dot);
        FormatTime(row.access, CivilTime(accessed), dot);
        writer.Row(row);
    }
    report.rows = total;
    Finish(writer, path, options);
    return report;
}

SyntheticReport MakeReportFromDirectory(const std::string &path, const std::string &dir,
                                        const SyntheticOptions &options)
{
    namespace fs = std::filesystem;
    CheckShare(options.dotDateShare, "dot-date share");
    struct Entry
    {
        std::string name;
        int attr = 0;
        std::time_t created = 0, updated = 0, accessed = 0;
    };
    std::vector<Node> nodes;
    std::vector<Entry> entries;
    SyntheticReport report;

    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw std::invalid_argument(dir + " is no directory");
    std::vector<int64_t> parents = {-1}; // parents[d]: the folder holding entries of depth d
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct statx sx
        {
        };
        if (statx(AT_FDCWD, it->path().c_str(), AT_SYMLINK_NOFOLLOW,
                  STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME, &sx) != 0) {
            it.disable_recursion_pending(); // its entries would have no parent row
            continue;
        }
        const int depth = it.depth();
        parents.resize(static_cast<size_t>(depth) + 1);
        const bool folder = S_ISDIR(sx.stx_mode);
        Node node;
        node.parent = parents[static_cast<size_t>(depth)];
        node.folder = folder;
        node.size = folder ? 0 : static_cast<int64_t>(sx.stx_size);
        Entry entry;
        entry.name = it->path().filename().string();
        entry.attr = folder ? kAttrDirectory : kAttrArchive;
        if (!entry.name.empty() && entry.name[0] == '.')
            entry.attr |= kAttrHidden;
        if ((sx.stx_mode & S_IWUSR) == 0)
            entry.attr |= kAttrReadOnly;
        entry.updated = sx.stx_mtime.tv_sec;
        entry.accessed = sx.stx_atime.tv_sec;
        // Some file systems report a birth time of 0: the modification time stands in for it then.
        entry.created = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec > 0 ? sx.stx_btime.tv_sec : entry.updated;
        nodes.push_back(node);
        entries.push_back(std::move(entry));
        if (folder) {
            ++report.folders;
            const auto id = static_cast<int64_t>(nodes.size());
            parents.push_back(id);
            if (depth + 1 > report.maxDepth) {
                report.maxDepth = depth + 1;
                report.deepestFolderId = id;
            }
        }
    }
    AccumulateChildrenSizes(nodes, 1);

    std::mt19937_64 rng(options.seed);
    ExactShare dotDates(options.dotDateShare, static_cast<int64_t>(nodes.size()));
    ReportWriter writer(path);
    writer.Information("version", "1");
    DriveRow row;
    for (size_t i = 0; i < nodes.size(); ++i) {
        row.id = static_cast<int64_t>(i) + 1;
        row.parent = nodes[i].parent;
        row.isFolder = nodes[i].folder ? 1 : 0;
        row.isDeleted = 0;
        row.name = entries[i].name;
        row.size = nodes[i].size;
        row.childrenSize = nodes[i].childrenSize;
        row.attr = entries[i].attr;
        const bool dot = dotDates.Next(rng);
        report.dotDates += dot;
        std::tm tm{};
        FormatTime(row.create, *localtime_r(&entries[i].created, &tm), dot);
        FormatTime(row.update, *localtime_r(&entries[i].updated, &tm), dot);
        FormatTime(row.access, *localtime_r(&entries[i].accessed, &tm), dot);
        for (unsigned char c : row.name)
            if (c >= 0x80) {
                ++report.nonAscii;
                break;
            }
        writer.Row(row);
    }
    report.rows = static_cast<int64_t>(nodes.size());
    Finish(writer, path, options);
    return report;
}

} // namespace support
