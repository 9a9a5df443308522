#include "report/uExtraFunctions.h"

#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "platform/VersionInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool HasVisiblePixels(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

class ShellIconsTest : public ::testing::Test
{
protected:
    TImageList FIcons;
    TSystemImageList FSystem;
};

TEST_F(ShellIconsTest, FillIconListPutsDriveAndFolderFirstThenOneImagePerExtension)
{
    IconCache.AddObject(".old", 7); // from an earlier list: gone after the fill
    FillIconList(FIcons, FSystem);
    ASSERT_EQ(IconCache.Count(), 2);
    ASSERT_EQ(FIcons.Count(), 2);
    EXPECT_TRUE(HasVisiblePixels(FIcons.Image(0)) && HasVisiblePixels(FIcons.Image(1)));
    EXPECT_NE(FIcons.Image(0).toImage(), FIcons.Image(1).toImage());

    // Letter case aside, one image per extension; names without a dot use the whole name, so that
    // these two share the drive's and the folder's keys.
    const struct
    {
        const char *Name;
        int Index;
    } lookups[] = {{".txt", 2},  {".TXT", 2},     {".Txt", 2},  {".png", 3}, {"folder", 1},
                   {"DRIVE", 0}, {"Makefile", 4}, {"Ärger", 5}, {"äRGER", 5}};
    for (const auto &l : lookups)
        EXPECT_EQ(GetIconIndexByExt(l.Name, FIcons, FSystem), l.Index) << l.Name;
    EXPECT_EQ(FIcons.Count(), 6);
    EXPECT_EQ(IconCache.Count(), 6);
    EXPECT_TRUE(HasVisiblePixels(FIcons.Image(2)));
}

// A file's product version from its version block; the test writes such files.
TEST(ProductVersion, FromTheVersionBlockInTheSystemsLanguageOnly)
{
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                    .match(QString::fromStdString(GetProductVersion(QCoreApplication::applicationFilePath())))
                    .hasMatch())
        << "the program carries its own";

    QTemporaryDir dir;
    int files = 0;
    const auto write = [&](const QByteArray &content) {
        QFile file(dir.filePath(QString::number(++files)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    };
    const auto block = [](const QByteArray &entries) {
        return QByteArray::fromStdString(VersionBlockMarker()) + entries + QByteArray(1, '\0');
    };
    const auto entry = [](const char *text) { return QByteArray(text) + QByteArray(1, '\0'); };

    // no block, no value, another language or code page, a block without its end: empty text
    EXPECT_EQ(GetProductVersion(dir.filePath(QStringLiteral("missing"))), "");
    for (const QByteArray &content :
         {QByteArray(), QByteArray("plain text, ProductVersion=1.0.0"),
          "x" + block(entry("StringFileInfo\\040904B0\\ProductVersion=9.9.9")),
          block(entry("StringFileInfo\\041904B0\\ProductVersion=9.9.9")),
          QByteArray::fromStdString(VersionBlockMarker()) + "StringFileInfo\\041904E3\\ProductVersion=9.9.9",
          block(entry("StringFileInfo\\041904E3\\ProductVersion="))})
        EXPECT_EQ(GetProductVersion(write(content)), "") << content.toStdString();

    // found among other entries, letter case aside
    QByteArray content(5000, 'z');
    content += block(entry("StringFileInfo\\040904B0\\ProductVersion=9.9.9") +
                     entry("stringfileinfo\\041904e3\\productversion=2.3.4 beta") +
                     entry("StringFileInfo\\041904E3\\ProductVersion=7.7.7"));
    content += QByteArray(100, 'q');
    const QString name = write(content);
    EXPECT_EQ(GetProductVersion(name), "2.3.4 beta");
}

} // namespace
