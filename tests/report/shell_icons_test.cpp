#include "report/uExtraFunctions.h"

#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "platform/VersionInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
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

QImage Rendered(const QIcon &icon)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    icon.paint(&painter, QRect(0, 0, 16, 16));
    painter.end();
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Runs a test under an icon theme and restores the one before.
class TThemeScope
{
public:
    explicit TThemeScope(const QString &theme) : FOld(QIcon::themeName()) { QIcon::setThemeName(theme); }
    ~TThemeScope() { QIcon::setThemeName(FOld); }

private:
    QString FOld;
};

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
    EXPECT_EQ(IconCache.Strings(0), "drive");
    EXPECT_EQ(IconCache.Objects(0), 0);
    EXPECT_EQ(IconCache.Strings(1), "folder");
    EXPECT_EQ(IconCache.Objects(1), 1);
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

    // each fill starts again on the main window's new, empty list
    TImageList again;
    FillIconList(again, FSystem);
    EXPECT_EQ(IconCache.Count(), 2);
    EXPECT_EQ(again.Count(), 2);
}

TEST_F(ShellIconsTest, SystemIconIndexes)
{
    const int folder = GetSysIconIndex(GetWindowsDir(), SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(GetSysIconIndex(QDir::tempPath().toStdString(), SHGFI_SYSICONINDEX | SHGFI_SMALLICON), folder);
    EXPECT_EQ(GetSysIconIndex("/no/such/path/at/all.txt", SHGFI_SYSICONINDEX | SHGFI_SMALLICON), -1);
    EXPECT_EQ(GetSysIconIndex("", SHGFI_SYSICONINDEX | SHGFI_SMALLICON), -1);
    // by name only the extension counts, and the file need not exist
    EXPECT_EQ(GetSysIconIndexByName("/no/such/a.txt"), GetSysIconIndexByName("b.txt"));
    EXPECT_NE(GetSysIconIndexByName(""), folder);
    EXPECT_LT(GetSysIconIndexByName(".txt"), FSystem.Count());
    EXPECT_TRUE(FSystem.Icon(-1).isNull());
    EXPECT_TRUE(FSystem.Icon(FSystem.Count()).isNull());
}

TEST_F(ShellIconsTest, TypeNameIsTheMimeComment)
{
    const QMimeDatabase db;
    const QString text = db.mimeTypeForName(QStringLiteral("text/plain")).comment();
    ASSERT_FALSE(text.isEmpty());
    EXPECT_EQ(GetFileTypeName(".txt"), text);
    EXPECT_EQ(GetFileTypeName("notes.TXT"), text);
    EXPECT_EQ(GetFileTypeName(".png"), db.mimeTypeForName(QStringLiteral("image/png")).comment());
    EXPECT_EQ(GetFileTypeName(".tar.gz"),
              db.mimeTypeForName(QStringLiteral("application/x-compressed-tar")).comment());
    // the same through the shell's call, which refuses a record of the wrong size
    SHFILEINFOA info;
    ASSERT_NE(SHGetFileInfoA(".txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                             SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES),
              0u);
    EXPECT_EQ(QString::fromUtf8(info.szTypeName), text);
    EXPECT_EQ(SHGetFileInfoA(".txt", 0, &info, sizeof info - 1, SHGFI_TYPENAME), 0u);
}

TEST_F(ShellIconsTest, IconsComeFromTheThemeWhenItHasThem)
{
    if (!QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        GTEST_SKIP() << "no Adwaita icon theme here";
    const TThemeScope theme(QStringLiteral("Adwaita"));
    // the offscreen platform knows no icon folders of the desktop
    const QStringList searchPaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths(searchPaths + QStringList{QStringLiteral("/usr/share/icons")});
    const int folder = GetSysIconIndex(GetWindowsDir(), SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    EXPECT_EQ(FSystem.Icon(folder).name(), QStringLiteral("folder"));
    const QIcon text = FSystem.Icon(GetSysIconIndexByName(".txt"));
    EXPECT_TRUE(QIcon::hasThemeIcon(text.name())) << text.name().toStdString();
    EXPECT_FALSE(Rendered(text).isNull());
    QIcon::setThemeSearchPaths(searchPaths);
}

TEST_F(ShellIconsTest, FallbackIconsWithoutATheme)
{
    const TThemeScope theme(QStringLiteral("NoSuchThemeAnywhere"));
    if (QIcon::hasThemeIcon(QStringLiteral("folder")))
        GTEST_SKIP() << "the fallback theme has the icons";
    FillIconList(FIcons, FSystem);
    const int unknown = GetIconIndexByExt(".no-such-extension-here", FIcons, FSystem);
    const std::pair<int, const char *> expected[] = {
        {0, ":/icons/drive.png"}, {1, ":/icons/folder.png"}, {unknown, ":/icons/file.png"}};
    for (const auto &[index, resource] : expected)
        EXPECT_EQ(FIcons.Image(index).toImage().convertToFormat(QImage::Format_ARGB32),
                  Rendered(QIcon(QString::fromLatin1(resource))))
            << resource;
    EXPECT_TRUE(HasVisiblePixels(FIcons.Image(unknown)));
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
          block(entry("StringFileInfo\\041904E3\\FileVersion=9.9.9")),
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
    EXPECT_EQ(GetFileVersionInfoSizeW(name), static_cast<uint32_t>(content.size() - 5000 - 100));
}

} // namespace
