#include "report/uRegEdit.h"

#include "platform/Registry.h"
#include "report/uLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char *const Key = "SOFTWARE\\Korrin Lab\\ParvixViewer";

class RegEditTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FConfig.isValid());
        ASSERT_TRUE(FLogDir.isValid());
        FOldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", FConfig.path().toUtf8());
        SetLogFolder(FLogDir.path().toStdString() + "/");
        CreateLogFile();
    }
    void TearDown() override
    {
        SetLogFolder({});
        if (FOldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", FOldConfig);
    }
    QStringList LogLines() const
    {
        QFile file(QString::fromStdString(LogFileName()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        lines.removeLast(); // after the last line break
        return lines;
    }
    static void Put(const char *name, int32_t value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteInteger(name, value);
    }
    static void PutText(const char *name, const std::string &value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteString(name, value);
    }

    QTemporaryDir FConfig;
    QTemporaryDir FLogDir;
    QByteArray FOldConfig;
};

TEST_F(RegEditTest, FirstRunGivesNoStateCreatesNothingThenEmptyBaseNameMakesTheKey)
{
    EXPECT_EQ(ReadFromStateTableFromReg(), nullptr);
    EXPECT_FALSE(TRegistry().KeyExists(Key));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(RegistryFileName())));

    std::string path = "before";
    ReadBaseNameFromReg(path);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(TRegistry().KeyExists(Key));
    // the key alone is no saved state
    EXPECT_EQ(ReadFromStateTableFromReg(), nullptr);

    EXPECT_EQ(LogLines(), QStringList({QStringLiteral("ReadFromStateTableFromReg - start"),
                                       QStringLiteral("ReadFromStateTableFromReg - finish"),
                                       QStringLiteral("ReadBaseNameFromReg - start"),
                                       QStringLiteral("ReadBaseNameFromReg - finish. Base name = "),
                                       QStringLiteral("ReadFromStateTableFromReg - start"),
                                       QStringLiteral("ReadFromStateTableFromReg - finish")}));
}

TEST_F(RegEditTest, BaseNameRoundTripsNonAsciiPathUnchanged)
{
    const std::string path = "/home/jürgen/Отчёты/скан 日本 €.db";
    WriteBaseNameToReg(path);
    std::string read;
    ReadBaseNameFromReg(read);
    EXPECT_EQ(read, path);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(reg.GetDataType("baseName"), rdString);
    EXPECT_EQ(LogLines(), QStringList({QStringLiteral("WriteBaseNameToReg - start"),
                                       QStringLiteral("WriteBaseNameToReg - finish"),
                                       QStringLiteral("ReadBaseNameFromReg - start"),
                                       QStringLiteral("ReadBaseNameFromReg - finish. Base name = ") +
                                           QString::fromStdString(path)}));
}

TEST_F(RegEditTest, BaseNameOfAnotherTypeRaisesAfterTheFinishLine)
{
    Put("baseName", 42);
    std::string path = "kept";
    EXPECT_THROW(ReadBaseNameFromReg(path), ERegistryException);
    EXPECT_EQ(path, "kept");
    EXPECT_EQ(LogLines().last(), QStringLiteral("ReadBaseNameFromReg - finish. Base name = kept"));
}

TEST_F(RegEditTest, WriteFailureRaisesAfterTheFinishLine)
{
    QFile blocker(FConfig.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_CONFIG_HOME", blocker.fileName().toUtf8());
    EXPECT_THROW(WriteBaseNameToReg("/x.db"), ERegistryException);
    EXPECT_THROW(WriteStateTableToReg(1, 2, 3, 4, 5, 6, true), ERegistryException);
    EXPECT_EQ(LogLines(), QStringList({QStringLiteral("WriteBaseNameToReg - start"),
                                       QStringLiteral("WriteBaseNameToReg - finish")}));
}

TEST_F(RegEditTest, StateTableRoundTripsAsIntegers)
{
    WriteStateTableToReg(1024, 768, -8, 1930, 120, 300, true);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    for (const char *name : {"form_size_x", "form_size_y", "form_top", "form_left", "splitter1_top",
                             "splitter2_left", "fullScreen"})
        EXPECT_EQ(reg.GetDataType(name), rdInteger) << name;
    EXPECT_EQ(reg.ReadInteger("fullScreen"), 1);
    EXPECT_TRUE(LogLines().isEmpty()); // the writer logs nothing

    const std::unique_ptr<TStateTable> state = ReadFromStateTableFromReg();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->FormSizeX, 1024);
    EXPECT_EQ(state->FormSizeY, 768);
    EXPECT_EQ(state->FormTop, -8);
    EXPECT_EQ(state->FormLeft, 1930);
    EXPECT_EQ(state->Splitter1Top, 120);
    EXPECT_EQ(state->Splitter2Left, 300);
    EXPECT_TRUE(state->FullScreen);

    WriteStateTableToReg(1, 2, 3, 4, 5, 6, false);
    EXPECT_EQ(reg.ReadInteger("fullScreen"), 0);
    EXPECT_FALSE(ReadFromStateTableFromReg()->FullScreen);
}

TEST_F(RegEditTest, KeyWithoutFormSizeXGivesNone)
{
    Put("form_size_y", 600);
    Put("fullScreen", 1);
    EXPECT_EQ(ReadFromStateTableFromReg(), nullptr);
    EXPECT_EQ(LogLines().last(), QStringLiteral("ReadFromStateTableFromReg - finish"));
}

TEST_F(RegEditTest, MissingIntegerEndsTheReadsAndFullScreenIsReadOnItsOwn)
{
    Put("form_size_x", 900);
    Put("form_top", 10); // after the missing form_size_y: not read
    Put("fullScreen", 1);
    const std::unique_ptr<TStateTable> state = ReadFromStateTableFromReg();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->FormSizeX, 900);
    EXPECT_EQ(state->FormSizeY, 0);
    EXPECT_EQ(state->FormTop, 0);
    EXPECT_TRUE(state->FullScreen);
}

TEST_F(RegEditTest, MistypedIntegerEndsTheReads)
{
    WriteStateTableToReg(800, 600, 10, 20, 30, 40, false);
    PutText("form_left", "20");
    const std::unique_ptr<TStateTable> state = ReadFromStateTableFromReg();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->FormSizeX, 800);
    EXPECT_EQ(state->FormSizeY, 600);
    EXPECT_EQ(state->FormTop, 10);
    EXPECT_EQ(state->FormLeft, 0);
    EXPECT_EQ(state->Splitter1Top, 0);
    EXPECT_EQ(state->Splitter2Left, 0);
}

TEST_F(RegEditTest, FullScreenIsTrueForAnyNonZeroAndFalseForTextOrMissing)
{
    Put("form_size_x", 800);
    Put("fullScreen", 5);
    EXPECT_TRUE(ReadFromStateTableFromReg()->FullScreen);
    Put("fullScreen", -1);
    EXPECT_TRUE(ReadFromStateTableFromReg()->FullScreen);
    PutText("fullScreen", "1");
    EXPECT_FALSE(ReadFromStateTableFromReg()->FullScreen);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    ASSERT_TRUE(reg.DeleteValue("fullScreen"));
    EXPECT_FALSE(ReadFromStateTableFromReg()->FullScreen);
}

} // namespace
