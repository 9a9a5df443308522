#include "report/uSQLiteFunc.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <vector>

namespace {

struct DbCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

Db OpenMemory()
{
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    return Db(db);
}

int64_t QueryInt(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    int64_t value = -999;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
}

std::string Bytes(std::initializer_list<unsigned> list)
{
    std::string s;
    for (unsigned b : list)
        s.push_back(char(b));
    return s;
}

struct Decoded
{
    uint32_t codePoint;
    int consumed;
};

Decoded Decode(const std::string &bytes)
{
    uint32_t cp = 0;
    const int n = DecodeUtf8Char(bytes.data(), bytes.size(), cp);
    return {cp, n};
}

std::string Encode(uint32_t cp)
{
    char buf[6] = {};
    const int n = EncodeUtf8Char(cp, buf);
    return std::string(buf, size_t(n));
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// ExecSqlScript and the result test

TEST(ExecSqlScript, NoConnectionDoesNothing)
{
    EXPECT_NO_THROW(ExecSqlScript(nullptr, "this is no SQL at all"));
}

TEST(ExecSqlScript, EmptyAndBlankTextsRunNothing)
{
    Db db = OpenMemory();
    EXPECT_NO_THROW(ExecSqlScript(db.get(), ""));
    EXPECT_NO_THROW(ExecSqlScript(db.get(), "   \n\t  "));
    EXPECT_NO_THROW(ExecSqlScript(db.get(), "  -- only a comment\n"));
    EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM sqlite_master;"), 0);
}

TEST(ExecSqlScript, RunsEveryStatementInOrderAndDropsRows)
{
    Db db = OpenMemory();
    ExecSqlScript(db.get(), "CREATE TABLE t(a); INSERT INTO t VALUES(1);SELECT * FROM t; INSERT INTO t "
                            "VALUES(2);  SELECT a FROM t WHERE a > 0; ");
    EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM t;"), 2);
    EXPECT_EQ(QueryInt(db.get(), "SELECT sum(a) FROM t;"), 3);
}

TEST(ExecSqlScript, FailingStatementRaisesCodeAndTextAndKeepsEarlierOnes)
{
    Db db = OpenMemory();
    try {
        ExecSqlScript(db.get(), "CREATE TABLE t(a UNIQUE); INSERT INTO t VALUES(1); INSERT INTO t VALUES(1); "
                                "INSERT INTO t VALUES(5);");
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_CONSTRAINT);
        EXPECT_EQ(e.ErrorMessage, QString::fromUtf8(sqlite3_errmsg(db.get())));
        EXPECT_TRUE(e.ErrorMessage.contains(QStringLiteral("UNIQUE"))) << e.what();
        EXPECT_EQ(e.Message(), QStringLiteral("SQLite3 Error 19 - ") + e.ErrorMessage);
        EXPECT_EQ(std::string(e.what()), "SQLite3 Error 19 - " + e.ErrorMessage.toStdString());
    }
    // The table and the first row stay; the statement after the failing one did not run.
    EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM t;"), 1);
    EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM t WHERE a = 5;"), 0);
}

TEST(ExecSqlScript, FailingPrepareRaisesWithTheParserMessage)
{
    Db db = OpenMemory();
    try {
        ExecSqlScript(db.get(), "CREATE TABLE t(a); CREATE TABL oops;");
        FAIL() << "no exception";
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_ERROR);
        EXPECT_TRUE(e.ErrorMessage.contains(QStringLiteral("syntax error"))) << e.what();
        EXPECT_EQ(e.Message(), QStringLiteral("SQLite3 Error 1 - ") + e.ErrorMessage);
    }
    EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM sqlite_master WHERE name = 't';"), 1);
}

TEST(ExecSqlScript, ExceptionIsTheSystemsBaseException)
{
    Db db = OpenMemory();
    try {
        ExecSqlScript(db.get(), "SELECT * FROM missing_table;");
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("SQLite3 Error 1 - no such table")));
    }
}

TEST(ExecSqlScript, StatementsAreFinalizedOnFailure)
{
    Db db = OpenMemory();
    EXPECT_THROW(ExecSqlScript(db.get(), "CREATE TABLE t(a NOT NULL); INSERT INTO t VALUES(NULL);"),
                 ESQLite3);
    EXPECT_EQ(sqlite3_next_stmt(db.get(), nullptr), nullptr);
    // A held statement would make close fail with SQLITE_BUSY.
    sqlite3 *raw = db.release();
    EXPECT_EQ(sqlite3_close(raw), SQLITE_OK);
}

TEST(CheckSqliteResult, PassesOkRowAndDoneByTheirLowBits)
{
    EXPECT_EQ(CheckSqliteResult(SQLITE_OK, nullptr), SQLITE_OK);
    EXPECT_EQ(CheckSqliteResult(SQLITE_ROW, nullptr), SQLITE_ROW);
    EXPECT_EQ(CheckSqliteResult(SQLITE_DONE, nullptr), SQLITE_DONE);
    EXPECT_EQ(CheckSqliteResult(0x100 | SQLITE_ROW, nullptr), 0x100 | SQLITE_ROW);
    EXPECT_THROW(CheckSqliteResult(SQLITE_BUSY, nullptr), ESQLite3);
}

TEST(CheckSqliteResult, MessageFormatsWithAndWithoutConnection)
{
    try {
        CheckSqliteResult(19, nullptr);
        FAIL();
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, 19);
        EXPECT_TRUE(e.ErrorMessage.isEmpty());
        EXPECT_EQ(e.Message(), QStringLiteral("SQLite3 Error 19"));
    }
    // The full code is kept, the low 8 bits only decide.
    Db db = OpenMemory();
    try {
        CheckSqliteResult(SQLITE_CONSTRAINT_UNIQUE, db.get());
        FAIL();
    } catch (const ESQLite3 &e) {
        EXPECT_EQ(e.ErrorCode, SQLITE_CONSTRAINT_UNIQUE);
        EXPECT_EQ(e.Message(), QStringLiteral("SQLite3 Error 2067 - ") + e.ErrorMessage);
    }
    EXPECT_EQ(ESQLite3::Create(5, QStringLiteral("d\u00e9j\u00e0")).Message(),
              QStringLiteral("SQLite3 Error 5 - d\u00e9j\u00e0"));
    EXPECT_EQ(ESQLite3::CreateCode(-3).Message(), QStringLiteral("SQLite3 Error -3"));
}

// ---------------------------------------------------------------------------------------------------
// BindUtf8Text

TEST(BindUtf8Text, EmptyTextIsNotNull)
{
    Db db = OpenMemory();
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), "SELECT ? IS NULL, typeof(?1), length(?1);", -1, &stmt, nullptr),
              SQLITE_OK);
    EXPECT_EQ(BindUtf8Text(stmt, 1, std::string()), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 0);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)), "text");
    EXPECT_EQ(sqlite3_column_int(stmt, 2), 0);
    sqlite3_finalize(stmt);
}

TEST(BindUtf8Text, TextOutlivesTheCallersStringAndIsReleasedOnRebindAndFinalize)
{
    Db db = OpenMemory();
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
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_reset(stmt);
    EXPECT_EQ(BindUtf8Text(stmt, 1, "third"), SQLITE_OK);
    sqlite3_finalize(stmt); // releases the last text unused

    sqlite3_stmt *q = nullptr;
    sqlite3_prepare_v2(db.get(), "SELECT a FROM t ORDER BY rowid;", -1, &q, nullptr);
    std::vector<QString> rows;
    while (sqlite3_step(q) == SQLITE_ROW)
        rows.push_back(Utf8ToWide(reinterpret_cast<const char *>(sqlite3_column_text(q, 0))));
    sqlite3_finalize(q);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], QStringLiteral("Stra\u00dfe with a long enough text to live on the heap"));
    EXPECT_EQ(rows[1], QStringLiteral("second"));
}

TEST(BindUtf8Text, BindToAMissingParameterFailsWithoutLeaking)
{
    Db db = OpenMemory();
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), "SELECT ?;", -1, &stmt, nullptr), SQLITE_OK);
    EXPECT_EQ(BindUtf8Text(stmt, 2, "out of range text"), SQLITE_RANGE);
    sqlite3_finalize(stmt);
}

// ---------------------------------------------------------------------------------------------------
// Decoding

TEST(DecodeUtf8Char, ListedSequences)
{
    auto d = Decode(Bytes({0xC3, 0xA9}));
    EXPECT_EQ(d.codePoint, 0xE9u);
    EXPECT_EQ(d.consumed, 2);

    d = Decode(Bytes({0xC0, 0x80})); // overlong NUL
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 2);

    d = Decode(Bytes({0xE2, 0x82, 0x41})); // third byte is no continuation
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 2);

    d = Decode(Bytes({0x80}));
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 1);

    d = Decode(Bytes({0xED, 0xA0, 0x80})); // encoded surrogate
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 3);

    d = Decode(Bytes({0xEF, 0xBF, 0xBE})); // U+FFFE
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 3);

    d = Decode(Bytes({0xF0, 0x9F, 0x98, 0x80})); // U+1F600 decodes, the caller makes it U+FFFD
    EXPECT_EQ(d.codePoint, 0x1F600u);
    EXPECT_EQ(d.consumed, 4);
}

TEST(DecodeUtf8Char, LongSequencesAndTheirLimits)
{
    auto d = Decode(Bytes({0xEF, 0xBF, 0xBD}));
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 3);
    d = Decode(Bytes({0xEF, 0xBF, 0xBF})); // U+FFFF refused
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 3);
    d = Decode(Bytes({0xEE, 0x80, 0x80})); // U+E000 accepted
    EXPECT_EQ(d.codePoint, 0xE000u);
    d = Decode(Bytes({0xF0, 0x8F, 0xBF, 0xBF})); // overlong 4-byte
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 4);
    d = Decode(Bytes({0xF8, 0x88, 0x80, 0x80, 0x80})); // 0x200000, smallest 5-byte value
    EXPECT_EQ(d.codePoint, 0x200000u);
    EXPECT_EQ(d.consumed, 5);
    d = Decode(Bytes({0xF8, 0x87, 0xBF, 0xBF, 0xBF})); // overlong 5-byte
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 5);
    d = Decode(Bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}));
    EXPECT_EQ(d.codePoint, 0x7FFFFFFFu);
    EXPECT_EQ(d.consumed, 6);
    d = Decode(Bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}));
    EXPECT_EQ(d.codePoint, 0x4000000u);
    d = Decode(Bytes({0xFC, 0x83, 0xBF, 0xBF, 0xBF, 0xBF})); // overlong 6-byte
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 6);
    d = Decode(Bytes({0xFE, 0x84, 0x80, 0x80, 0x80, 0x80})); // 0xFE and 0xFF never valid
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 6);
    d = Decode(Bytes({0xFF, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}));
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.consumed, 6);
}

TEST(DecodeUtf8Char, StopsAtTheBytesAvailable)
{
    const std::string bytes = Bytes({0xE2, 0x82, 0xAC});
    uint32_t cp = 0;
    EXPECT_EQ(DecodeUtf8Char(bytes.data(), 2, cp), 2);
    EXPECT_EQ(cp, 0xFFFDu);
    EXPECT_EQ(DecodeUtf8Char(bytes.data(), 1, cp), 1);
    EXPECT_EQ(cp, 0xFFFDu);
    EXPECT_EQ(DecodeUtf8Char(bytes.data(), 3, cp), 3);
    EXPECT_EQ(cp, 0x20ACu);
}

TEST(Utf8ToWide, MalformedInputResynchronises)
{
    EXPECT_EQ(Utf8ToWide(Bytes({0xE2, 0x82, 0x41})), QString(QChar(0xFFFD)) + QLatin1Char('A'));
    EXPECT_EQ(Utf8ToWide(Bytes({0x80, 0x41, 0xC3})),
              QString(QChar(0xFFFD)) + QLatin1Char('A') + QChar(0xFFFD));
    EXPECT_EQ(Utf8ToWide(Bytes({0xC0, 0x80})), QString(QChar(0xFFFD)));
    // A character outside the BMP reads as one U+FFFD, never as a surrogate pair.
    EXPECT_EQ(Utf8ToWide(Bytes({0x61, 0xF0, 0x9F, 0x98, 0x80, 0x62})),
              QStringLiteral("a") + QChar(0xFFFD) + QStringLiteral("b"));
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)).size(), 3);
    EXPECT_TRUE(Utf8ToWide(std::string()).isEmpty());
    EXPECT_TRUE(Utf8BufToWide(nullptr, 5).isEmpty());
    EXPECT_TRUE(Utf8BufToWide("abc", 0).isEmpty());
    EXPECT_EQ(Utf8BufToWide("abcdef", 3), QStringLiteral("abc"));
}

// ---------------------------------------------------------------------------------------------------
// Encoding

TEST(EncodeUtf8Char, LengthsAndLeadMarks)
{
    EXPECT_EQ(Encode(0x41), "A");
    EXPECT_EQ(Encode(0xE9), Bytes({0xC3, 0xA9}));
    EXPECT_EQ(Encode(0x20AC), Bytes({0xE2, 0x82, 0xAC}));
    EXPECT_EQ(Encode(0x7FF), Bytes({0xDF, 0xBF}));
    EXPECT_EQ(Encode(0x800), Bytes({0xE0, 0xA0, 0x80}));
    EXPECT_EQ(Encode(0x1F600), Bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(Encode(0x200000), Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}));
    EXPECT_EQ(Encode(0x7FFFFFFF), Bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}));
    char buf[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(EncodeUtf8Char(0x80000000u, buf), 0);
    EXPECT_EQ(buf[0], 1); // nothing written
}

TEST(WideToUtf8, SurrogatesAreEncodedUnitByUnit)
{
    const QString pair = QString(QChar(0xD83D)) + QChar(0xDE00);
    const std::string bytes = WideToUtf8(pair);
    EXPECT_EQ(bytes, Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
    EXPECT_EQ(Utf8ToWide(bytes), QString(2, QChar(0xFFFD)));
    EXPECT_EQ(WideToUtf8(QStringLiteral("\u00e9\u20ac")), Bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC}));
    EXPECT_EQ(WideToUtf8(QString()), std::string());
    EXPECT_EQ(WideBufToUtf8(nullptr, 4), std::string());
    const char16_t units[] = {u'a', u'b', u'c'};
    EXPECT_EQ(WideBufToUtf8(units, 2), "ab");
}

TEST(Utf8Conversions, EveryBmpCharacterRoundTrips)
{
    QString all;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF)
            continue;
        all.append(QChar(char16_t(c)));
    }
    const std::string bytes = WideToUtf8(all);
    // The encoding of well-formed text agrees with the standard one.
    EXPECT_EQ(bytes, all.toStdString());
    EXPECT_EQ(Utf8ToWide(bytes), all);
    // And character by character, so that a failure names the character.
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QString one(all[i]);
        ASSERT_EQ(Utf8ToWide(WideToUtf8(one)), one) << "U+" << std::hex << unsigned(all[i].unicode());
    }
}

TEST(Utf8Conversions, NonCharactersAndLoneSurrogatesDoNotSurvive)
{
    for (char16_t c : {char16_t(0xFFFE), char16_t(0xFFFF), char16_t(0xD800), char16_t(0xDFFF)}) {
        const QString one(QChar{c});
        EXPECT_EQ(Utf8ToWide(WideToUtf8(one)), QString(QChar(0xFFFD))) << int(c);
    }
}

TEST(Utf8Conversions, TextPassesThroughTheDatabase)
{
    Db db = OpenMemory();
    ExecSqlScript(db.get(), "CREATE TABLE t(a);");
    const QString name = QStringLiteral("\u041f\u0430\u043f\u043a\u0430 \u6587\u4ef6 caf\u00e9");
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db.get(), "INSERT INTO t VALUES(?);", -1, &stmt, nullptr);
    BindUtf8Text(stmt, 1, WideToUtf8(name));
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db.get(), "SELECT a, length(a) FROM t;", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(Utf8ToWide(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))), name);
    EXPECT_EQ(sqlite3_column_int(stmt, 1), name.size());
    sqlite3_finalize(stmt);
}
