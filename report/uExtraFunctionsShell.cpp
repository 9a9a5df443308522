// Shell icons, file type names and the product version of uExtraFunctions.
#include "report/uExtraFunctions.h"

#include "platform/ImageList.h"
#include "platform/ShellApi.h"
#include "platform/VersionInfo.h"

#include <QPainter>

#include <cstring>
#include <sys/stat.h>
#include <vector>

TIconCache IconCache;

namespace {

QString FoldedKey(const std::string &Key)
{
    return QString::fromUtf8(Key).toCaseFolded();
}

// Draws the system icon SysIndex onto a new bitmap of the list's size and appends it to Icons.
int AppendSysIcon(TImageList &Icons, const TSystemImageList &SysImages, int SysIndex)
{
    QPixmap bitmap(Icons.Width(), Icons.Height());
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    SysImages.Draw(painter, 0, 0, SysIndex);
    painter.end();
    return Icons.Add(bitmap);
}

} // namespace

int TIconCache::IndexOf(const std::string &Key) const
{
    return FPositions.value(FoldedKey(Key), -1);
}

void TIconCache::AddObject(const std::string &Key, int ImageIndex)
{
    FKeys.append(Key);
    FImages.append(ImageIndex);
    // a repeated key is found at its first position, as a search from the top would
    FPositions.insert(FoldedKey(Key), FPositions.value(FoldedKey(Key), Count() - 1));
}

void TIconCache::Clear()
{
    FKeys.clear();
    FImages.clear();
    FPositions.clear();
}

void FillIconList(TImageList &Icons, const TSystemImageList &SysImages)
{
    IconCache.Clear();
    IconCache.AddObject("drive", AppendSysIcon(Icons, SysImages, GetSysIconIndexByName("")));
    IconCache.AddObject(
        "folder", AppendSysIcon(Icons, SysImages,
                                GetSysIconIndex(GetWindowsDir(), SHGFI_SYSICONINDEX | SHGFI_SMALLICON)));
}

int GetIconIndexByExt(const std::string &Key, TImageList &Icons, const TSystemImageList &SysImages)
{
    const int position = IconCache.IndexOf(Key);
    if (position >= 0)
        return IconCache.Objects(position);
    const int image = AppendSysIcon(Icons, SysImages, GetSysIconIndexByName(Key));
    IconCache.AddObject(Key, image);
    return image;
}

int GetSysIconIndex(const std::string &Path, unsigned Flags)
{
    SHFILEINFOA info;
    if (SHGetFileInfoA(Path.c_str(), 0, &info, sizeof info, Flags) == 0)
        return -1;
    return info.iIcon;
}

int GetSysIconIndexByName(const std::string &Name)
{
    SHFILEINFOA info;
    if (SHGetFileInfoA(Name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES) == 0)
        return 0;
    return info.iIcon;
}

QString GetFileTypeName(const std::string &FileName)
{
    SHFILEINFOA info;
    if (SHGetFileInfoA(FileName.c_str(), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_OFFLINE, &info, sizeof info,
                       SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES) == 0)
        return {};
    return QString::fromUtf8(info.szTypeName,
                             static_cast<qsizetype>(strnlen(info.szTypeName, sizeof info.szTypeName)));
}

std::string GetWindowsDir()
{
    char buffer[255];
    GetWindowsDirectoryA(buffer, sizeof buffer);
    return buffer;
}

std::string GetProductVersion(const QString &FileName)
{
    std::string result;
    const uint32_t size = GetFileVersionInfoSizeW(FileName);
    if (size > 0) {
        std::vector<char> buffer(size, 0);
        const char *value = nullptr;
        uint32_t length = 0;
        if (GetFileVersionInfoW(FileName, size, buffer.data()) &&
            VerQueryValueA(buffer.data(), size, "StringFileInfo\\041904E3\\ProductVersion", &value, &length))
            result.assign(value, length);
    }
    return result;
}

const QString ReportGoneText = QStringLiteral(
    "The report was moved, replaced or deleted since it was opened: nothing more can be stored in it or "
    "exported from it.");

TFileId FileIdOf(const std::string &Path)
{
    struct stat st;
    if (stat(Path.c_str(), &st) != 0)
        return {};
    return {true, st.st_dev, st.st_ino};
}

bool NamesFile(const std::string &Path, const TFileId &File)
{
    return File.Exists && FileIdOf(Path) == File;
}

bool IsSameFile(const std::string &A, const std::string &B)
{
    return NamesFile(A, FileIdOf(B));
}
