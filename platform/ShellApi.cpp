#include "platform/ShellApi.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMimeDatabase>
#include <QPainter>

#include <cstring>
#include <mutex>

namespace {

// The id SHGetFileInfoA gives for the system image list.
constexpr uintptr_t SystemImageListId = 0x51L;

struct TShellIcons
{
    std::mutex Lock;
    QList<QIcon> Icons;
    QHash<QString, int> ByKey;
};

TShellIcons &ShellIcons()
{
    static TShellIcons icons;
    return icons;
}

// The system image list's index of the first theme icon of names, else of the resource icon fallback.
// Keyed by theme and name, so a change of theme adds the new theme's icons.
int SystemIconIndex(const QStringList &names, const QString &fallback)
{
    TShellIcons &icons = ShellIcons();
    const std::lock_guard<std::mutex> guard(icons.Lock);
    QString key = fallback;
    QIcon icon;
    for (const QString &name : names)
        if (!name.isEmpty() && QIcon::hasThemeIcon(name)) {
            key = QIcon::themeName() + QLatin1Char('/') + name;
            icon = QIcon::fromTheme(name);
            break;
        }
    const auto found = icons.ByKey.constFind(key);
    if (found != icons.ByKey.cend())
        return found.value();
    if (icon.isNull())
        icon = QIcon(fallback);
    icons.Icons.append(icon);
    icons.ByKey.insert(key, static_cast<int>(icons.Icons.size() - 1));
    return static_cast<int>(icons.Icons.size() - 1);
}

void CopyTypeName(const QString &name, char (&target)[80])
{
    QByteArray text = name.toUtf8();
    qsizetype length = std::min<qsizetype>(text.size(), sizeof target - 1);
    // never cut a character in two
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(target, text.constData(), static_cast<size_t>(length));
    target[length] = 0;
}

// The type of a file by its name alone.
QMimeType TypeByName(const QMimeDatabase &Db, const QString &Path)
{
    // A bare extension (".txt") reads as a hidden file without one; give it a name in front.
    QString name = QFileInfo(Path).fileName();
    if (name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('x'));
    return Db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
}

} // namespace

uintptr_t SHGetFileInfoA(const char *pszPath, uint32_t dwFileAttributes, SHFILEINFOA *psfi,
                         unsigned cbFileInfo, unsigned uFlags)
{
    if (!psfi || cbFileInfo < sizeof(SHFILEINFOA))
        return 0;
    const QString path = QFile::decodeName(pszPath ? pszPath : "");
    static const QMimeDatabase mimeDb;
    QMimeType type;
    QStringList iconNames;
    QString fallback = QStringLiteral(":/icons/file.png");
    bool folder = false;
    if (uFlags & SHGFI_USEFILEATTRIBUTES) {
        folder = dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (!folder && path.isEmpty()) {
            type = mimeDb.mimeTypeForName(QStringLiteral("inode/mount-point"));
            iconNames = {QStringLiteral("drive-harddisk")};
            fallback = QStringLiteral(":/icons/drive.png");
        } else if (!folder) {
            type = TypeByName(mimeDb, path);
        }
    } else {
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists())
            return 0;
        folder = info.isDir();
        if (!folder)
            type = TypeByName(mimeDb, path);
    }
    if (folder) {
        type = mimeDb.mimeTypeForName(QStringLiteral("inode/directory"));
        iconNames = {QStringLiteral("folder")};
        fallback = QStringLiteral(":/icons/folder.png");
    } else if (iconNames.isEmpty()) {
        iconNames = {type.iconName(), type.genericIconName()};
    }

    uintptr_t result = 1;
    if (uFlags & SHGFI_TYPENAME)
        CopyTypeName(type.comment(), psfi->szTypeName);
    if (uFlags & SHGFI_SYSICONINDEX) {
        psfi->iIcon = SystemIconIndex(iconNames, fallback);
        result = SystemImageListId;
    }
    return result;
}

unsigned GetWindowsDirectoryA(char *lpBuffer, unsigned uSize)
{
    static const char folder[] = "/usr";
    if (lpBuffer && uSize > 0) {
        const size_t length = std::min<size_t>(sizeof folder - 1, uSize - 1);
        std::memcpy(lpBuffer, folder, length);
        lpBuffer[length] = 0;
    }
    return sizeof folder - 1;
}

int TSystemImageList::Count() const
{
    TShellIcons &icons = ShellIcons();
    const std::lock_guard<std::mutex> guard(icons.Lock);
    return static_cast<int>(icons.Icons.size());
}

QIcon TSystemImageList::Icon(int index) const
{
    TShellIcons &icons = ShellIcons();
    const std::lock_guard<std::mutex> guard(icons.Lock);
    return index >= 0 && index < icons.Icons.size() ? icons.Icons.at(index) : QIcon();
}

void TSystemImageList::Draw(QPainter &painter, int x, int y, int index) const
{
    const QIcon icon = Icon(index);
    if (!icon.isNull())
        icon.paint(&painter, QRect(x, y, Width(), Height()));
}

QIcon TNameIconProvider::icon(const QFileInfo &info) const
{
    if (info.isDir())
        return QFileIconProvider::icon(info);
    SHFILEINFOA file;
    if (!SHGetFileInfoA(QFile::encodeName(info.fileName()).constData(), FILE_ATTRIBUTE_NORMAL, &file,
                        sizeof file, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES))
        return {};
    return TSystemImageList().Icon(file.iIcon);
}

QString TNameIconProvider::type(const QFileInfo &info) const
{
    if (info.isDir())
        return QFileIconProvider::type(info);
    SHFILEINFOA file;
    SHGetFileInfoA(QFile::encodeName(info.fileName()).constData(), FILE_ATTRIBUTE_NORMAL, &file, sizeof file,
                   SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES);
    return QString::fromUtf8(file.szTypeName);
}
