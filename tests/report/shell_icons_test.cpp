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

TEST_F(ShellIconsTest, FillIconListPutsDriveAndFolderFirst)
{
    IconCache.AddObject(".old", 7); // from an earlier list: gone after the fill
    FillIconList(FIcons, FSystem);
    ASSERT_EQ(IconCache.Count(), 2);
    EXPECT_EQ(IconCache.Strings(0), "drive");
    EXPECT_EQ(IconCache.Objects(0), 0);
    EXPECT_EQ(IconCache.Strings(1), "folder");
    EXPECT_EQ(IconCache.Objects(1), 1);
    EXPECT_EQ(IconCache.IndexOf(".old"), -1);
    ASSERT_EQ(FIcons.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(FIcons.Image(i).size(), QSize(16, 16));
        EXPECT_TRUE(HasVisiblePixels(FIcons.Image(i))) << i;
    }
    EXPECT_NE(FIcons.Image(0).toImage(), FIcons.Image(1).toImage());

    // each fill starts again on the main window's new, empty list
    TImageList again;
    FillIconList(again, FSystem);
    EXPECT_EQ(IconCache.Count(), 2);
    EXPECT_EQ(again.Count(), 2);
}

TEST_F(ShellIconsTest, ExtensionsShareImagesRegardlessOfCase)
{
    FillIconList(FIcons, FSystem);
    const int txt = GetIconIndexByExt(".txt", FIcons, FSystem);
    EXPECT_EQ(txt, 2);
    EXPECT_EQ(FIcons.Count(), 3);
    EXPECT_TRUE(HasVisiblePixels(FIcons.Image(txt)));
    EXPECT_EQ(GetIconIndexByExt(".TXT", FIcons, FSystem), txt);
    EXPECT_EQ(GetIconIndexByExt(".Txt", FIcons, FSystem), txt);
    EXPECT_EQ(FIcons.Count(), 3);
    EXPECT_EQ(IconCache.Count(), 3);

    EXPECT_EQ(GetIconIndexByExt(".png", FIcons, FSystem), 3);
    EXPECT_EQ(FIcons.Count(), 4);
    // names without a dot use the whole name: these two share the drive's and the folder's keys
    EXPECT_EQ(GetIconIndexByExt("folder", FIcons, FSystem), 1);
    EXPECT_EQ(GetIconIndexByExt("DRIVE", FIcons, FSystem), 0);
    EXPECT_EQ(GetIconIndexByExt("Makefile", FIcons, FSystem), 4);
    EXPECT_EQ(GetIconIndexByExt("Ärger", FIcons, FSystem), 5);
    EXPECT_EQ(GetIconIndexByExt("äRGER", FIcons, FSystem), 5);
    EXPECT_EQ(FIcons.Count(), 6);
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
    const QMimeType text = db.mimeTypeForName(QStringLiteral("text/plain"));
    ASSERT_TRUE(text.isValid());
    EXPECT_EQ(GetFileTypeName(".txt"), text.comment());
    EXPECT_FALSE(GetFileTypeName(".txt").isEmpty());
    EXPECT_EQ(GetFileTypeName("notes.TXT"), text.comment());
    EXPECT_EQ(GetFileTypeName(".png"), db.mimeTypeForName(QStringLiteral("image/png")).comment());
    EXPECT_NE(GetFileTypeName(".png"), GetFileTypeName(".txt"));
    EXPECT_EQ(GetFileTypeName(".tar.gz"),
              db.mimeTypeForName(QStringLiteral("application/x-compressed-tar")).comment());
}

TEST_F(ShellIconsTest, TypeNameIsCutToEightyBytesOnACharacterBoundary)
{
    SHFILEINFOA info;
    ASSERT_NE(SHGetFileInfoA(".txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                             SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES),
              0u);
    EXPECT_EQ(QString::fromUtf8(info.szTypeName), GetFileTypeName(".txt"));
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
    EXPECT_FALSE(text.name().isEmpty());
    EXPECT_TRUE(QIcon::hasThemeIcon(text.name()));
    EXPECT_FALSE(Rendered(text).isNull());
    QIcon::setThemeSearchPaths(searchPaths);
}

TEST_F(ShellIconsTest, FallbackIconsWithoutATheme)
{
    const TThemeScope theme(QStringLiteral("NoSuchThemeAnywhere"));
    if (QIcon::hasThemeIcon(QStringLiteral("folder")))
        GTEST_SKIP() << "the fallback theme has the icons";
    TImageList icons;
    FillIconList(icons, FSystem);
    EXPECT_EQ(icons.Image(0).toImage().convertToFormat(QImage::Format_ARGB32),
              Rendered(QIcon(QStringLiteral(":/icons/drive.png"))));
    EXPECT_EQ(icons.Image(1).toImage().convertToFormat(QImage::Format_ARGB32),
              Rendered(QIcon(QStringLiteral(":/icons/folder.png"))));
    const int unknown = GetIconIndexByExt(".no-such-extension-here", icons, FSystem);
    EXPECT_EQ(icons.Image(unknown).toImage().convertToFormat(QImage::Format_ARGB32),
              Rendered(QIcon(QStringLiteral(":/icons/file.png"))));
    EXPECT_TRUE(HasVisiblePixels(icons.Image(unknown)));
}

class ProductVersionTest : public ::testing::Test
{
protected:
    QString Write(const QByteArray &content)
    {
        const QString name = FDir.filePath(QStringLiteral("file%1").arg(++FCount));
        QFile file(name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return name;
    }
    static QByteArray Block(const QByteArray &entries)
    {
        return QByteArray::fromStdString(VersionBlockMarker()) + entries + QByteArray(1, '\0');
    }
    static QByteArray Entry(const char *text) { return QByteArray(text) + QByteArray(1, '\0'); }

    QTemporaryDir FDir;
    int FCount = 0;
};

TEST_F(ProductVersionTest, TheProgramCarriesItsVersion)
{
    const std::string version = GetProductVersion(QCoreApplication::applicationFilePath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                    .match(QString::fromStdString(version))
                    .hasMatch())
        << version;
}

TEST_F(ProductVersionTest, FilesWithoutTheBlockOrValueGiveEmptyText)
{
    EXPECT_EQ(GetProductVersion(FDir.filePath(QStringLiteral("missing"))), "");
    EXPECT_EQ(GetProductVersion(Write({})), "");
    EXPECT_EQ(GetProductVersion(Write("plain text, ProductVersion=1.0.0")), "");
    // another language or code page
    EXPECT_EQ(GetProductVersion(Write("x" + Block(Entry("StringFileInfo\\040904B0\\ProductVersion=9.9.9")))),
              "");
    EXPECT_EQ(GetProductVersion(Write(Block(Entry("StringFileInfo\\041904B0\\ProductVersion=9.9.9")))), "");
    EXPECT_EQ(GetProductVersion(Write(Block(Entry("StringFileInfo\\041904E3\\FileVersion=9.9.9")))), "");
    // a marker without the block's end
    EXPECT_EQ(GetProductVersion(Write(QByteArray::fromStdString(VersionBlockMarker()) +
                                      "StringFileInfo\\041904E3\\ProductVersion=9.9.9")),
              "");
}

TEST_F(ProductVersionTest, ValueIsFoundAmongOtherEntries)
{
    QByteArray content(5000, 'z');
    content += Block(Entry("StringFileInfo\\040904B0\\ProductVersion=9.9.9") +
                     Entry("stringfileinfo\\041904e3\\productversion=2.3.4 beta") +
                     Entry("StringFileInfo\\041904E3\\ProductVersion=7.7.7"));
    content += QByteArray(100, 'q');
    const QString name = Write(content);
    EXPECT_EQ(GetProductVersion(name), "2.3.4 beta");
    EXPECT_EQ(GetFileVersionInfoSizeW(name), static_cast<uint32_t>(content.size() - 5000 - 100));
    // an empty value is a value
    EXPECT_EQ(GetProductVersion(Write(Block(Entry("StringFileInfo\\041904E3\\ProductVersion=")))), "");
}

} // namespace
