#include "report/uSQLiteFunc.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

using reporttest::Db;

} // namespace

// The first failing prepare or run raises the system's base exception, an ESQLite3 with the code and
// the connection's text in the message; earlier statements stay done, later ones do not run, and no
// statement is left behind.
TEST(ExecSqlScript, FailureCarriesCodeAndTextAndKeepsEarlierStatements)
{
    const struct
    {
        const char *script;
        int code;
        const char *text;
        const char *rows; // in t afterwards
    } cases[] = {
        {"CREATE TABLE t(a UNIQUE); INSERT INTO t VALUES(1); INSERT INTO t VALUES(1); INSERT INTO t "
         "VALUES(5);",
         SQLITE_CONSTRAINT, "UNIQUE", "1\n"},
        {"CREATE TABLE t(a); CREATE TABL oops; INSERT INTO t VALUES(5);", SQLITE_ERROR, "syntax error",
         "0\n"},
        {"CREATE TABLE t(a); SELECT * FROM missing; INSERT INTO t VALUES(5);", SQLITE_ERROR, "no such table",
         "0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        Db db = reporttest::OpenDb(":memory:");
        try {
            ExecSqlScript(db.get(), c.script);
            ADD_FAILURE() << "no exception";
        } catch (const Exception &base) {
            const auto *e = dynamic_cast<const ESQLite3 *>(&base);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->ErrorCode, c.code);
            EXPECT_EQ(e->ErrorMessage, QString::fromUtf8(sqlite3_errmsg(db.get())));
            EXPECT_TRUE(e->ErrorMessage.contains(QString::fromUtf8(c.text))) << e->what();
            const QString message = QStringLiteral("SQLite3 Error %1 - %2").arg(c.code).arg(e->ErrorMessage);
            EXPECT_EQ(std::string(e->what()), message.toStdString());
        }
        EXPECT_EQ(reporttest::Query(db.get(), "SELECT count(*) FROM t;"), c.rows);
        EXPECT_EQ(sqlite3_next_stmt(db.get(), nullptr), nullptr);
        EXPECT_EQ(sqlite3_close(db.release()), SQLITE_OK); // a held statement makes this SQLITE_BUSY
    }
    EXPECT_EQ(CheckSqliteResult(0x100 | SQLITE_ROW, nullptr), 0x100 | SQLITE_ROW); // the low 8 bits decide
}

// A report that is busy, damaged or cannot be written says so in words after SQLite's own text.
TEST(ExecSqlScript, FailureOfTheReportItselfIsToldInWords)
{
    support::TempDir dir;
    const std::string path = dir.File("r.db3");
    Db holder = reporttest::OpenDb(path);
    ExecSqlScript(holder.get(), "CREATE TABLE t(a); BEGIN EXCLUSIVE; INSERT INTO t VALUES(1);");
    const std::string garbage = dir.File("garbage.db3");
    {
        FILE *f = std::fopen(garbage.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        for (int i = 0; i < 4096; ++i)
            std::fputc('x', f);
        std::fclose(f);
    }
    const struct
    {
        std::string path;
        int flags;
        int code;
        const char *reason;
    } cases[] = {
        {path, SQLITE_OPEN_READWRITE, SQLITE_BUSY, "in use by another program"},
        {garbage, SQLITE_OPEN_READWRITE, SQLITE_NOTADB, "damaged"},
        {garbage, SQLITE_OPEN_READONLY, SQLITE_NOTADB, "damaged"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        sqlite3 *raw = nullptr;
        ASSERT_EQ(sqlite3_open_v2(c.path.c_str(), &raw, c.flags, nullptr), SQLITE_OK);
        Db db(raw);
        try {
            ExecSqlScript(db.get(), "INSERT INTO t VALUES(2);");
            ADD_FAILURE() << "no exception";
        } catch (const ESQLite3 &e) {
            EXPECT_EQ(e.ErrorCode & 0xFF, c.code);
            const QString text = e.Message();
            EXPECT_TRUE(text.startsWith(
                QStringLiteral("SQLite3 Error %1 - %2\r").arg(e.ErrorCode).arg(e.ErrorMessage)))
                << e.what();
            EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason))) << e.what();
        }
    }
    // A report opened read-only is told as one that cannot be written.
    sqlite3 *raw = nullptr;
    ExecSqlScript(holder.get(), "COMMIT;");
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    Db readOnly(raw);
    try {
        ExecSqlScript(readOnly.get(), "INSERT INTO t VALUES(3);");
        ADD_FAILURE() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode & 0xFF, SQLITE_READONLY);
        EXPECT_TRUE(e.Message().contains(QStringLiteral("can not be written"))) << e.what();
    }
}

// A bound text outlives the caller's string and is released on a rebind, on finalizing and on a failed
// bind (the sanitizer build's leak check sees a lost one); an empty text is a text of length 0, not NULL.
TEST(BindUtf8Text, BindsTheTextUntilSQLiteIsDoneWithIt)
{
    Db db = reporttest::OpenDb(":memory:");
    ExecSqlScript(db.get(), "CREATE TABLE t(a);");
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), "INSERT INTO t VALUES(?);", -1, &stmt, nullptr), SQLITE_OK);
    {
        std::string text = "Stra\xc3\x9f"
                           "e with a long enough text to live on the heap";
        EXPECT_EQ(BindUtf8Text(stmt, 1, text), SQLITE_OK);
        text.assign(text.size(), 'x'); // the bound bytes are not the caller's buffer
    }
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_reset(stmt);
    EXPECT_EQ(BindUtf8Text(stmt, 1, "second"), SQLITE_OK); // releases the first text
    EXPECT_EQ(BindUtf8Text(stmt, 1, std::string()), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_reset(stmt);
    EXPECT_EQ(BindUtf8Text(stmt, 1, "third"), SQLITE_OK);
    EXPECT_EQ(BindUtf8Text(stmt, 2, "out of range text"), SQLITE_RANGE);
    sqlite3_finalize(stmt); // releases the last text unused

    EXPECT_EQ(reporttest::Query(db.get(), "SELECT quote(a) FROM t ORDER BY rowid;"),
              "'Stra\xc3\x9f"
              "e with a long enough text to live on the heap'\n''\n");
}

TEST(DecodeUtf8Char, SequencesAndTheirLimits)
{
    const struct
    {
        std::string bytes;
        uint32_t codePoint;
        int consumed;
    } cases[] = {
        {std::string("\xC3\xA9"), 0xE9, 2},
        {std::string("\xC0\x80"), 0xFFFD, 2},     // overlong NUL
        {std::string("\xE2\x82\x41"), 0xFFFD, 2}, // third byte is no continuation
        {std::string("\x80"), 0xFFFD, 1},
        {std::string("\xED\xA0\x80"), 0xFFFD, 3},      // encoded surrogate
        {std::string("\xEF\xBF\xBE"), 0xFFFD, 3},      // U+FFFE
        {std::string("\xF0\x9F\x98\x80"), 0x1F600, 4}, // decodes; the caller makes it U+FFFD
        {std::string("\xF0\x8F\xBF\xBF"), 0xFFFD, 4},  // overlong 4-byte
        {std::string("\xF8\x88\x80\x80\x80"), 0x200000, 5},
        {std::string("\xF8\x87\xBF\xBF\xBF"), 0xFFFD, 5}, // overlong 5-byte
        {std::string("\xFD\xBF\xBF\xBF\xBF\xBF"), 0x7FFFFFFF, 6},
        {std::string("\xFC\x83\xBF\xBF\xBF\xBF"), 0xFFFD, 6}, // overlong 6-byte
        {std::string("\xFE\x84\x80\x80\x80\x80"), 0xFFFD, 6}, // 0xFE and 0xFF never valid
    };
    for (const auto &c : cases) {
        uint32_t cp = 0;
        EXPECT_EQ(DecodeUtf8Char(c.bytes.data(), c.bytes.size(), cp), c.consumed)
            << testing::PrintToString(c.bytes);
        EXPECT_EQ(cp, c.codePoint) << testing::PrintToString(c.bytes);
    }
    // Only the bytes available are read.
    const std::string euro = std::string("\xE2\x82\xAC");
    for (int available : {1, 2, 3}) {
        uint32_t cp = 0;
        EXPECT_EQ(DecodeUtf8Char(euro.data(), size_t(available), cp), available);
        EXPECT_EQ(cp, available == 3 ? 0x20ACu : 0xFFFDu);
    }
}

TEST(Utf8ToWide, MalformedInputResynchronises)
{
    const QChar bad(0xFFFD);
    EXPECT_EQ(Utf8ToWide(std::string("\x80\x41\xC3")), QString(bad) + QLatin1Char('A') + bad);
    // A character outside the BMP reads as one U+FFFD, never as a surrogate pair.
    EXPECT_EQ(Utf8ToWide(std::string("\x61\xF0\x9F\x98\x80\x62")),
              QStringLiteral("a") + bad + QStringLiteral("b"));
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)).size(), 3);
    EXPECT_EQ(Utf8BufToWide("abcdef", 3), QStringLiteral("abc"));
    // Surrogates are encoded unit by unit and read back as two U+FFFD.
    const std::string pair = WideToUtf8(QString(QChar(0xD83D)) + QChar(0xDE00));
    EXPECT_EQ(pair, std::string("\xED\xA0\xBD\xED\xB8\x80"));
    EXPECT_EQ(Utf8ToWide(pair), QString(2, QChar(0xFFFD)));
}

// The decoder is pinned byte by byte above and takes only the shortest form, so what it reads back
// fixes the encoder's lengths and lead marks.
// Every BMP character but U+FFFE, U+FFFF and lone surrogates survives both ways; those become U+FFFD.
TEST(Utf8Conversions, EveryBmpCharacterRoundTrips)
{
    QString all;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        const QString one{QChar(char16_t(c))};
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
            ASSERT_EQ(Utf8ToWide(WideToUtf8(one)), QString(QChar(0xFFFD))) << "U+" << std::hex << c;
            continue;
        }
        ASSERT_EQ(Utf8ToWide(WideToUtf8(one)), one) << "U+" << std::hex << c;
        all.append(one);
    }
    const std::string bytes = WideToUtf8(all);
    EXPECT_EQ(bytes, all.toStdString()); // the encoding of well-formed text is the standard one
    EXPECT_EQ(Utf8ToWide(bytes), all);
}
