#pragma once
// File types and their icons, asked by name as of the system's shell. File types come from the MIME
// database by a file's name alone, never by its content: reading a file to find its type opens and
// closes it, and closing any descriptor of the open report drops SQLite's locks on it. A type's name
// is its MIME comment. Icons come from the icon theme, with fallbacks from the resources, and are collected
// in one program-wide list of small icons (the "system image list"), one index per distinct icon.
#include <QFileIconProvider>
#include <QIcon>
#include <cstdint>

class QPainter;

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr uint32_t FILE_ATTRIBUTE_OFFLINE = 0x1000;

constexpr unsigned SHGFI_SMALLICON = 0x1;
constexpr unsigned SHGFI_USEFILEATTRIBUTES = 0x10;
constexpr unsigned SHGFI_TYPENAME = 0x400;
constexpr unsigned SHGFI_SYSICONINDEX = 0x4000;

struct SHFILEINFOA
{
    int iIcon = 0;            // with SHGFI_SYSICONINDEX: the index in the system image list
    char szTypeName[80] = {}; // with SHGFI_TYPENAME: the type's name, UTF-8, null-terminated
};

// Fills psfi as uFlags ask. With SHGFI_USEFILEATTRIBUTES only pszPath's name and dwFileAttributes count
// (FILE_ATTRIBUTE_DIRECTORY: a folder; otherwise a file typed by its extension; the empty name stands
// for a drive) and the file need not exist. Without it, pszPath must exist: a folder, or a file typed
// by its name. Returns 0 when that fails; otherwise non-zero (with SHGFI_SYSICONINDEX the
// system image list's id, else 1). Safe on any thread.
uintptr_t SHGetFileInfoA(const char *pszPath, uint32_t dwFileAttributes, SHFILEINFOA *psfi,
                         unsigned cbFileInfo, unsigned uFlags);

// The folder of the operating system's own programs ("/usr"), as the Windows directory stands for it.
// Copies it, null-terminated and cut to uSize - 1 bytes, into lpBuffer; returns its full length.
unsigned GetWindowsDirectoryA(char *lpBuffer, unsigned uSize);

// The program-wide list of small icons. Objects of this class are handles on that one list.
class TSystemImageList
{
public:
    int Width() const { return 16; }
    int Height() const { return 16; }
    int Count() const;
    // The icon at index; a null icon outside the list.
    QIcon Icon(int index) const;
    // Paints the icon at index into the list-sized square at x, y; nothing outside the list.
    void Draw(QPainter &painter, int x, int y, int index) const;
};

// Icons and type names for file dialogs, as the shell gives them by name: files are never opened.
// Stateless and safe on any thread (a dialog asks from its own worker thread).
class TNameIconProvider : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override;
    QString type(const QFileInfo &info) const override;
};
