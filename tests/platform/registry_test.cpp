#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

namespace {

const char *const Key = "SOFTWARE\\Korrin Lab\\ParvixViewer";

// Every case has a configuration folder of its own.
class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FOldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", FDir.path().toUtf8());
    }
    void TearDown() override
    {
        if (FOldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", FOldConfig);
    }
    QString FileName() const { return FDir.path() + QStringLiteral("/ParvixViewer/HKEY_CURRENT_USER.reg"); }

    QTemporaryDir FDir;
    QByteArray FOldConfig;
};

TEST_F(RegistryTest, TwoObjectsSeeEachOthersIntegersAndTexts)
{
    TRegistry reg, other;
    ASSERT_TRUE(reg.OpenKey(Key, true));
    ASSERT_TRUE(other.OpenKey(Key, false));
    for (int32_t v : {0, 1, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        reg.WriteInteger("n", v);
        EXPECT_EQ(other.ReadInteger("n"), v);
    }

    const std::string texts[] = {
        "/home/jürgen/Отчёты/скан 日本.db",
        "quote \" backslash \\ end\\",
        std::string("line\nbreak\r\ttab\x01\x7f", 16),
        std::string("nul\0inside", 10),
        "\xff\xfe not UTF-8 \xc3",
        "",
        "[not a key]",
        "\"=dword:00000001",
    };
    // all written first, so that no text can spill into another value
    for (size_t i = 0; i < std::size(texts); ++i)
        reg.WriteString("v" + std::to_string(i), texts[i]);
    reg.WriteString("name \" with = and \\", "odd name");
    for (size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(other.ReadString("v" + std::to_string(i)), texts[i]) << i;
    EXPECT_EQ(other.ReadString("name \" with = and \\"), "odd name");
}

TEST_F(RegistryTest, HandWrittenFileIsReadAndOtherValueKindsSurviveAWrite)
{
    QDir().mkpath(FDir.path() + QStringLiteral("/ParvixViewer"));
    QFile file(FileName());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write("; comment\r\n"
               "[SOFTWARE\\Korrin Lab\\ParvixViewer]\r\n"
               "\"form_size_x\"=dword:00000320\r\n"
               "\"blob\"=hex:01,02,03\r\n"
               "\"baseName\"=\"C:\\\\r.db\"\r\n"
               "[Other\\Key]\n"
               "\"x\"=dword:ffffffff\n");
    file.close();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(reg.ReadInteger("form_size_x"), 800);
    EXPECT_EQ(reg.ReadString("baseName"), "C:\\r.db");
    EXPECT_TRUE(reg.ValueExists("blob"));
    EXPECT_EQ(reg.GetDataType("blob"), rdUnknown);
    EXPECT_THROW(reg.ReadString("blob"), ERegistryException);

    reg.WriteInteger("form_top", 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("\"blob\"=hex:01,02,03\n")) << content.constData();
    TRegistry other;
    ASSERT_TRUE(other.OpenKey("Other\\Key", false));
    EXPECT_EQ(other.ReadInteger("x"), -1);
}

} // namespace
