#include "tests/support/ReportBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace support {

namespace {

[[noreturn]] void BadLine(int lineNo, const std::string &line, const std::string &why)
{
    throw std::runtime_error("tree line " + std::to_string(lineNo) + " (" + line + "): " + why);
}

bool ParseInt(std::string_view text, int64_t &value)
{
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Reads one blank-separated word, or a double-quoted name, from line at pos.
std::string NextWord(const std::string &line, size_t &pos, int lineNo)
{
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    std::string word;
    if (pos < line.size() && line[pos] == '"') {
        for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
            if (line[pos] == '\\' && pos + 1 < line.size())
                ++pos;
            word += line[pos];
        }
        if (pos >= line.size())
            BadLine(lineNo, line, "unterminated quoted name");
        ++pos;
        return word;
    }
    while (pos < line.size() && line[pos] != ' ')
        word += line[pos++];
    return word;
}

bool IsOptionWord(std::string_view word)
{
    return word == "deleted" || word.starts_with("id=") || word.starts_with("attr=") ||
           word.starts_with("flags=") || word.starts_with("date=");
}

} // namespace

std::vector<DriveRow> ParseTree(const std::string &description)
{
    return ParseTree(description, 1);
}

std::vector<DriveRow> ParseTree(const std::string &description, int64_t firstId)
{
    std::vector<DriveRow> rows;
    std::vector<size_t> open; // indexes into rows of the folders enclosing the current line
    std::istringstream in(description);
    std::string line;
    int lineNo = 0;
    int64_t nextId = firstId;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(' ') == std::string::npos)
            continue;
        if (line.find('\t') != std::string::npos)
            BadLine(lineNo, line, "tab character; indent with two blanks a level");

        const size_t indent = line.find_first_not_of(' ');
        if (indent % 2 != 0)
            BadLine(lineNo, line, "indentation is not a multiple of two blanks");
        const size_t level = indent / 2;
        if (level > open.size())
            BadLine(lineNo, line,
                    !rows.empty() && !rows.back().isFolder && level == open.size() + 1
                        ? "indented below a file"
                        : "indented too deep");
        open.resize(level);

        DriveRow row;
        size_t pos = indent;
        const std::string kind = NextWord(line, pos, lineNo);
        if (kind != "D" && kind != "F")
            BadLine(lineNo, line, "kind must be D or F");
        row.isFolder = kind == "D" ? 1 : 0;
        row.name = NextWord(line, pos, lineNo);
        if (row.name.empty())
            BadLine(lineNo, line, "missing name");

        bool sizeSeen = false;
        bool idSeen = false;
        for (;;) {
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            if (pos >= line.size())
                break;
            if (line.compare(pos, 5, "date=") == 0) {
                // The date may hold blanks: it runs to the end of the line or to the next option word.
                size_t end = pos + 5;
                for (size_t word = end; word < line.size();) {
                    const size_t next = std::min(line.find(' ', word), line.size());
                    if (word > pos + 5 && IsOptionWord(std::string_view(line).substr(word, next - word)))
                        break;
                    end = next;
                    word = std::min(line.find_first_not_of(' ', next), line.size());
                }
                std::string date = line.substr(pos + 5, end - (pos + 5));
                if (date.empty())
                    BadLine(lineNo, line, "empty date");
                row.create = row.update = row.access = date;
                pos = end;
                continue;
            }
            const std::string word = NextWord(line, pos, lineNo);
            int64_t number = 0;
            auto valueOf = [&](const char *key) {
                if (!ParseInt(std::string_view(word).substr(std::char_traits<char>::length(key)), number))
                    BadLine(lineNo, line, "bad number in " + word);
                return number;
            };
            if (word == "deleted")
                row.isDeleted = 1;
            else if (word.rfind("id=", 0) == 0) {
                row.id = valueOf("id=");
                idSeen = true;
            } else if (word.rfind("attr=", 0) == 0)
                row.attr = static_cast<int>(valueOf("attr="));
            else if (word.rfind("flags=", 0) == 0)
                row.flags = valueOf("flags=");
            else if (ParseInt(word, number) && !sizeSeen) {
                if (number < 0)
                    BadLine(lineNo, line, "negative size");
                row.size = number;
                sizeSeen = true;
            } else
                BadLine(lineNo, line, "unexpected word " + word);
        }
        if (!idSeen)
            row.id = nextId;
        ++nextId;
        row.parent = open.empty() ? -1 : rows[open.back()].id;
        for (size_t folder : open)
            rows[folder].childrenSize += row.size;
        rows.push_back(row);
        if (row.isFolder)
            open.push_back(rows.size() - 1);
    }
    return rows;
}

ReportBuilder::ReportBuilder() = default;

ReportBuilder &ReportBuilder::Tree(const std::string &description)
{
    int64_t firstId = 1;
    for (const DriveRow &row : FRows)
        firstId = std::max(firstId, row.id + 1);
    std::vector<DriveRow> rows = ParseTree(description, firstId);
    FRows.insert(FRows.end(), rows.begin(), rows.end());
    return *this;
}

ReportBuilder &ReportBuilder::Row(const DriveRow &row)
{
    FRows.push_back(row);
    return *this;
}

ReportBuilder &ReportBuilder::Check(const CheckRow &row)
{
    FChecks.push_back(row);
    return *this;
}

ReportBuilder &ReportBuilder::Version(std::optional<std::string> value)
{
    FVersion = std::move(value);
    return *this;
}

ReportBuilder &ReportBuilder::Information(const std::string &field, const std::string &value)
{
    FInfo.emplace_back(field, value);
    return *this;
}

ReportBuilder &ReportBuilder::WithoutDriveTable()
{
    FDriveTable = false;
    return *this;
}

ReportBuilder &ReportBuilder::WithCheckTable()
{
    FCheckTable = true;
    return *this;
}

ReportBuilder &ReportBuilder::Sql(const std::string &statement)
{
    FSql.push_back(statement);
    return *this;
}

std::string ReportBuilder::Write(const std::string &path) const
{
    ReportWriter writer(path, FDriveTable, FCheckTable || !FChecks.empty());
    if (FVersion)
        writer.Information("version", *FVersion);
    for (const auto &[field, value] : FInfo)
        writer.Information(field, value);
    if (FDriveTable)
        for (const DriveRow &row : FRows)
            writer.Row(row);
    for (const CheckRow &row : FChecks)
        writer.Check(row);
    for (const std::string &statement : FSql)
        writer.Exec(statement);
    writer.Finish();
    return path;
}

std::string ReportBuilder::WriteCompressed(const std::string &path) const
{
    CompressInPlace(Write(path));
    return path;
}

void CompressInPlace(const std::string &path, int level)
{
    const std::string packed = path + ".packing";
    try {
        CompressFile(path, packed, level);
    } catch (...) {
        std::remove(path.c_str());
        throw;
    }
    if (std::rename(packed.c_str(), path.c_str()) != 0) {
        std::remove(packed.c_str());
        std::remove(path.c_str());
        throw std::runtime_error("CompressInPlace: cannot rename " + packed + " to " + path);
    }
}

void CompressFile(const std::string &source, const std::string &target, int level)
{
    struct Files
    {
        FILE *in = nullptr;
        FILE *out = nullptr;
        ~Files()
        {
            if (in)
                std::fclose(in);
            if (out)
                std::fclose(out);
        }
    } files;
    files.in = std::fopen(source.c_str(), "rb");
    if (!files.in)
        throw std::runtime_error("CompressFile: cannot read " + source);
    files.out = std::fopen(target.c_str(), "wb");
    if (!files.out)
        throw std::runtime_error("CompressFile: cannot write " + target);

    z_stream zs{};
    if (deflateInit(&zs, level) != Z_OK)
        throw std::runtime_error("CompressFile: deflateInit failed");
    constexpr size_t kChunk = 256 * 1024;
    std::vector<unsigned char> inBuf(kChunk), outBuf(kChunk);
    int flush = Z_NO_FLUSH;
    bool ok = true;
    do {
        zs.avail_in = static_cast<uInt>(std::fread(inBuf.data(), 1, kChunk, files.in));
        zs.next_in = inBuf.data();
        if (std::ferror(files.in)) {
            ok = false;
            break;
        }
        flush = std::feof(files.in) ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.avail_out = static_cast<uInt>(kChunk);
            zs.next_out = outBuf.data();
            if (deflate(&zs, flush) == Z_STREAM_ERROR) {
                ok = false;
                break;
            }
            const size_t have = kChunk - zs.avail_out;
            if (std::fwrite(outBuf.data(), 1, have, files.out) != have) {
                ok = false;
                break;
            }
        } while (zs.avail_out == 0);
    } while (ok && flush != Z_FINISH);
    deflateEnd(&zs);
    if (ok && std::fflush(files.out) != 0)
        ok = false;
    if (!ok) {
        std::fclose(files.out);
        files.out = nullptr;
        std::remove(target.c_str());
        throw std::runtime_error("CompressFile: failed writing " + target);
    }
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/parvix-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("TempDir: mkdtemp failed for " + pattern);
    FPath = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

} // namespace support
