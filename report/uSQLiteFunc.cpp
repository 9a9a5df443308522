#include "report/uSQLiteFunc.h"

#include "report/uExtraFunctions.h"

#include <sqlite3.h>

#include <atomic>
#include <cassert>
#include <climits>
#include <cstring>
#include <new>

namespace {

// The program never reads SQLite's memory statistics. Keeping them takes a process-wide lock around
// every allocation, which costs row-by-row work (folder loading, result pages, the export copy) close
// to a tenth of its time. This has to happen before SQLite initializes, hence at load time.
[[maybe_unused]] const int MemoryStatisticsOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

} // namespace

// ---------------------------------------------------------------------------------------------------
// ESQLite3

namespace {

// SQLite's code and text alone do not tell the user what happened to the report, nor what to do.
// Detail: the connection's extended code, when it tells more than code.
QString ReasonInWords(int code, int detail)
{
    // Its journal beside it can not be made, or not removed: the commit that removes it fails after the
    // report was written, and SQLite plays the journal back at its next read.
    if (detail == SQLITE_READONLY_DIRECTORY || detail == SQLITE_IOERR_DELETE)
        return QStringLiteral("The report's folder can not be written: nothing can be stored in the report, "
                              "which keeps what was saved before.");
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
        return QStringLiteral("The report is in use by another program. Try again when that program has "
                              "finished with it.");
    case SQLITE_READONLY:
        return QStringLiteral("The report can not be written: the report, its folder or its disk was made "
                              "read-only, or the report was moved, replaced or deleted.");
    case SQLITE_CANTOPEN:
        return QStringLiteral("The file or its journal can not be opened: check that its folder still "
                              "exists and that you may read and write there.");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("The report is damaged.");
    case SQLITE_IOERR:
        return QStringLiteral("The report could not be read or written on its disk.");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("You may not read or write the report.");
    default:
        return {};
    }
}

QString InWords(int code, int detail, const QString &message)
{
    if ((code & 0xFF) == SQLITE_FULL)
        return QStringLiteral("The disk is full!\r") + message;
    const QString reason = ReasonInWords(code, detail);
    return reason.isEmpty() ? message : message + QLatin1Char('\r') + reason;
}

} // namespace

ESQLite3::ESQLite3(int code, const QString &text, int detail)
    : Exception(
          InWords(code, detail, QString::asprintf("SQLite3 Error %d - %s", code, text.toUtf8().constData()))),
      ErrorCode(code), ErrorMessage(text)
{
}

ESQLite3::ESQLite3(int code)
    : Exception(InWords(code, code, QString::asprintf("SQLite3 Error %d", code))), ErrorCode(code)
{
}

// ---------------------------------------------------------------------------------------------------
// Result test and scripts

int CheckSqliteResult(int code, sqlite3 *db)
{
    const int low = code & 0xFF;
    if (low == SQLITE_OK || low == SQLITE_ROW || low == SQLITE_DONE)
        return code;
    RaiseSqliteError(code, db);
}

void RaiseSqliteError(int code, sqlite3 *db)
{
    if (db) {
        // Steps and prepares give the primary code; the connection keeps the extended one of the same.
        const int extended = sqlite3_extended_errcode(db);
        throw ESQLite3(code, Utf8ToWide(sqlite3_errmsg(db)),
                       (extended & 0xFF) == (code & 0xFF) ? extended : code);
    }
    throw ESQLite3::CreateCode(code);
}

bool StepOrRaise(sqlite3_stmt *stmt, sqlite3 *db)
{
    int code = sqlite3_step(stmt);
    if ((code & 0xFF) == SQLITE_ROW)
        return true;
    if ((code & 0xFF) == SQLITE_DONE)
        return false;
    // A legacy statement's step says only SQLITE_ERROR: its reset gives the code and the text.
    if ((code & 0xFF) == SQLITE_ERROR) {
        const int reset = sqlite3_reset(stmt);
        if (reset != SQLITE_OK)
            code = reset;
    }
    RaiseSqliteError(code, db);
}

void ExecSqlScript(sqlite3 *db, const std::string &sql)
{
    if (!db)
        return;
    const char *position = sql.c_str();
    size_t remaining = sql.size();
    do {
        TStatementCell stmt;
        const char *tail = nullptr;
        // The length counts the terminating zero, which lets the engine read the text in place.
        const int length = remaining < size_t(INT_MAX) ? int(remaining + 1) : -1;
        CheckSqliteResult(sqlite3_prepare_v2(db, position, length, stmt.Ptr(), &tail), db);
        if (stmt.Handle()) {
            int result;
            do
                result = sqlite3_step(stmt.Handle());
            while ((result & 0xFF) == SQLITE_ROW);
            const int finalized = stmt.Finalize();
            // A generic error from the step is replaced by the finalize's more precise code.
            if (((result & 0xFF) == SQLITE_OK || (result & 0xFF) == SQLITE_ERROR) && finalized != SQLITE_OK)
                result = finalized;
            CheckSqliteResult(result, db);
        }
        if (!tail || tail == position) // nothing more the engine can read (an embedded zero byte)
            break;
        remaining -= size_t(tail - position);
        position = tail;
    } while (remaining != 0);
}

// ---------------------------------------------------------------------------------------------------
// Statement cell

TStatementCell::~TStatementCell()
{
    sqlite3_finalize(FStmt);
}

sqlite3_stmt **TStatementCell::Ptr()
{
    Finalize();
    return &FStmt;
}

int TStatementCell::Finalize()
{
    if (!FStmt)
        return SQLITE_OK;
    const int result = sqlite3_finalize(FStmt);
    FStmt = nullptr;
    return result;
}

// ---------------------------------------------------------------------------------------------------
// SQL functions of the report

namespace {

// The bytes of a value as they are (a number as its text, NULL as none): sqlite3_value_text would copy
// a column's text to end it with a zero.
std::string_view Bytes(sqlite3_value *Value)
{
    const auto *bytes = static_cast<const char *>(sqlite3_value_blob(Value));
    return bytes ? std::string_view(bytes, sqlite3_value_bytes(Value)) : std::string_view();
}

// A bound of ReportTimeIn as text and as moment; Readable false when it is no full year-month-day time
// text (the texts of rows are compared with it).
struct TTimeBound
{
    std::string Text;
    int64_t Key = 0;
    bool Readable = false;
};

// The bound in argument Arg, read once per statement (the bounds are the same for every row).
const TTimeBound *Bound(sqlite3_context *Context, sqlite3_value **Args, int Arg)
{
    if (const auto *cached = static_cast<const TTimeBound *>(sqlite3_get_auxdata(Context, Arg)))
        return cached;
    auto *bound = new TTimeBound;
    bound->Text = Bytes(Args[Arg]);
    bound->Readable = sqlite3_value_type(Args[Arg]) == SQLITE_TEXT &&
                      ReportTimeKey(bound->Text, bound->Key) && bound->Text[4] == '-';
    sqlite3_set_auxdata(Context, Arg, bound, [](void *Bound) { delete static_cast<TTimeBound *>(Bound); });
    // SQLite may have freed it already when it could not keep it.
    return static_cast<const TTimeBound *>(sqlite3_get_auxdata(Context, Arg));
}

void ReportTimeIn(sqlite3_context *Context, int, sqlite3_value **Args)
{
    const TTimeBound *from = Bound(Context, Args, 1), *to = from ? Bound(Context, Args, 2) : nullptr;
    const std::string_view time = Bytes(Args[0]);
    int64_t key = 0;
    // Year-month-day texts sort as their moments do: one outside the bounds' texts is outside their
    // moments too, or no full time at all. Most rows of a search end here, unread.
    const bool in = to && from->Readable && to->Readable &&
                    !(time.size() == 19 && time[4] == '-' && (time < from->Text || time > to->Text)) &&
                    ReportTimeKey(time, key) && from->Key <= key && key <= to->Key;
    sqlite3_result_int(Context, in);
}

} // namespace

int RegisterReportFunctions(sqlite3 *db)
{
    return sqlite3_create_function_v2(db, "ReportTimeIn", 3,
                                      SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                      ReportTimeIn, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------------
// Bound text

namespace {

// A reference-counted byte buffer; the bytes follow the header, so the release routine, which only
// gets the bytes' address, finds the count in front of them.
struct TBoundTextHeader
{
    std::atomic<int> Refs;
};

char *NewBoundText(const std::string &text)
{
    void *block = ::operator new(sizeof(TBoundTextHeader) + text.size() + 1);
    auto *header = new (block) TBoundTextHeader{1};
    char *bytes = reinterpret_cast<char *>(header + 1);
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = 0;
    return bytes;
}

const char EmptyText[1] = {0};

} // namespace

int BindUtf8Text(sqlite3_stmt *stmt, int index, const std::string &text)
{
    if (text.empty())
        return sqlite3_bind_text(stmt, index, EmptyText, 0, SQLITE_STATIC);
    // The reference made here belongs to SQLite from now on, also when the bind fails (SQLite then
    // calls the release routine itself).
    char *bytes = NewBoundText(text);
    const int length = text.size() < size_t(INT_MAX) ? int(text.size()) : -1;
    return sqlite3_bind_text(stmt, index, bytes, length, ReleaseBoundText);
}

void ReleaseBoundText(void *bytes)
{
    if (!bytes)
        return;
    auto *header = reinterpret_cast<TBoundTextHeader *>(static_cast<char *>(bytes)) - 1;
    if (header->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        header->~TBoundTextHeader();
        ::operator delete(header);
    }
}

// ---------------------------------------------------------------------------------------------------
// UTF-8 conversions

int DecodeUtf8Char(const char *bytes, size_t available, uint32_t &codePoint)
{
    assert(bytes && available >= 1);
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    const unsigned lead = b[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    codePoint = 0xFFFD;
    if (lead < 0xC0) // a continuation byte cannot start a character
        return 1;

    int length;
    uint32_t value;
    if (lead < 0xE0) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead < 0xF8) {
        length = 4;
        value = lead & 0x07;
    } else if (lead < 0xFC) {
        length = 5;
        value = lead & 0x03;
    } else { // 0xFC..0xFF; 0xFE and 0xFF are refused once the sequence is complete
        length = 6;
        value = lead & 0x01;
    }

    for (int i = 1; i < length; ++i) {
        if (size_t(i) >= available || (b[i] & 0xC0) != 0x80)
            return i; // the lead and the good continuation bytes so far
        value = (value << 6) | (b[i] & 0x3F);
    }

    bool accepted;
    switch (length) {
    case 2:
        accepted = value >= 0x80;
        break;
    case 3:
        accepted = (value >= 0x800 && value <= 0xD7FF) || (value >= 0xE000 && value <= 0xFFFD);
        break;
    case 4:
        accepted = value >= 0x10000;
        break;
    case 5:
        accepted = value >= 0x200000;
        break;
    default:
        accepted = value >= 0x4000000 && lead < 0xFE;
        break;
    }
    if (accepted)
        codePoint = value;
    return length;
}

int EncodeUtf8Char(uint32_t codePoint, char *dest)
{
    assert(dest);
    static const unsigned char leadMark[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    int length;
    if (codePoint < 0x80)
        length = 1;
    else if (codePoint < 0x800)
        length = 2;
    else if (codePoint < 0x10000)
        length = 3;
    else if (codePoint < 0x200000)
        length = 4;
    else if (codePoint < 0x4000000)
        length = 5;
    else if (codePoint <= 0x7FFFFFFF)
        length = 6;
    else
        return 0;
    for (int i = length - 1; i > 0; --i) {
        dest[i] = char(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    dest[0] = char(leadMark[length] | codePoint);
    return length;
}

QString Utf8BufToWide(const char *bytes, size_t count)
{
    if (!bytes || count == 0)
        return QString();
    QString result(qsizetype(count), Qt::Uninitialized); // at most one unit per byte
    char16_t *out = reinterpret_cast<char16_t *>(result.data());
    char16_t *const start = out;
    const char *const end = bytes + count;
    while (bytes < end) {
        const auto lead = static_cast<unsigned char>(*bytes);
        if (lead < 0x80) { // the common case, decoded in place
            *out++ = lead;
            ++bytes;
            continue;
        }
        uint32_t codePoint;
        bytes += DecodeUtf8Char(bytes, size_t(end - bytes), codePoint);
        *out++ = codePoint > 0xFFFF ? char16_t(0xFFFD) : char16_t(codePoint);
    }
    result.truncate(qsizetype(out - start));
    return result;
}

QString Utf8ToWide(const std::string &text)
{
    return Utf8BufToWide(text.data(), text.size());
}

std::string WideBufToUtf8(const char16_t *units, size_t count)
{
    if (!units || count == 0)
        return std::string();
    std::string result(count * 3, '\0'); // at most three bytes per unit
    char *out = result.data();
    char *const start = out;
    for (size_t i = 0; i < count; ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80)
            *out++ = char(unit);
        else
            out += EncodeUtf8Char(unit, out);
    }
    result.resize(size_t(out - start));
    return result;
}

std::string WideToUtf8(const QString &text)
{
    return WideBufToUtf8(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size()));
}
