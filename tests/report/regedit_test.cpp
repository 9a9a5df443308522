#include "report/uRegEdit.h"

#include "platform/Registry.h"
#include "report/uLog.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/TempSettings.h"

#include <gtest/gtest.h>
#include <variant>

namespace {

const char *const Key = "SOFTWARE\\Korrin Lab\\ParvixViewer";

class RegEditTest : public ::testing::Test
{
protected:
    // Stores an integer, or a text.
    static void Put(const char *name, std::variant<int32_t, std::string> value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Key, true));
        if (value.index() == 0)
            reg.WriteInteger(name, std::get<int32_t>(value));
        else
            reg.WriteString(name, std::get<std::string>(value));
    }
    // The saved state as "x y top left splitter1 splitter2 fullScreen", or "none".
    static std::string State()
    {
        const std::unique_ptr<TStateTable> s = ReadFromStateTableFromReg();
        if (!s)
            return "none";
        std::string text;
        for (int v : {s->FormSizeX, s->FormSizeY, s->FormTop, s->FormLeft, s->Splitter1Top, s->Splitter2Left})
            text += std::to_string(v) + " ";
        return text + (s->FullScreen ? "1" : "0");
    }

    reporttest::TempLog Log;
    support::TempSettings Settings{Log.Dir.File("config")};
};

// The settings file holds a path of any bytes without letting it spill into another value.
TEST_F(RegEditTest, OddBaseNamesRoundTripAndLeaveTheOtherValuesAlone)
{
    WriteStateTableToReg(1, -2, 3, 4, 5, 6, true);
    for (const std::string &path :
         {std::string("/home/jürgen/Отчёты/скан 日本.db"), std::string("quote \" backslash \\ end\\"),
          std::string("line\nbreak\r\ttab\x01\x7f", 16), std::string("nul\0inside", 10),
          std::string("\xff\xfe not UTF-8 \xc3"), std::string("[not a key]"),
          std::string("\"=dword:00000001")}) {
        WriteBaseNameToReg(path);
        std::string read;
        ReadBaseNameFromReg(read);
        EXPECT_EQ(read, path);
        EXPECT_EQ(State(), "1 -2 3 4 5 6 1");
    }
    Put("BASENAME", std::string("/other.db")); // names are found without regard to letter case
    std::string read;
    ReadBaseNameFromReg(read);
    EXPECT_EQ(read, "/other.db");
    Put("baseName", 42); // a mistyped value raises and leaves the caller's text alone
    EXPECT_THROW(ReadBaseNameFromReg(read), ERegistryException);
    EXPECT_EQ(read, "/other.db");
}

TEST_F(RegEditTest, StateTableRoundTripsAsIntegersAndReadsStopAtAMissingOrMistypedValue)
{
    WriteStateTableToReg(1024, 768, -8, 1930, 120, 300, true);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(State(), "1024 768 -8 1930 120 300 1");
    WriteStateTableToReg(1, 2, 3, 4, 5, 6, false);

    // A mistyped integer ends the reads; without form_size_x there is no state.
    Put("form_left", std::string("20"));
    EXPECT_EQ(State(), "1 2 3 0 0 0 0");
    EXPECT_TRUE(reg.DeleteValue("form_size_x"));
    EXPECT_EQ(State(), "none");
}

} // namespace
