#pragma once
// The version block that the build puts into the program's file, and the reading of such a block out
// of any file, as of the system's version resource. The block is a marker followed by entries
// "StringFileInfo\<language><code page>\<name>=<value>", each ending in a null byte, and a null byte
// after the last one. This program's block holds the product version in language 0419, code page 04E3.
#include <QString>
#include <cstdint>
#include <string>

// The size of the first version block in the file, or 0 when the file cannot be read or has none.
uint32_t GetFileVersionInfoSizeW(const QString &lptstrFilename);
// Copies that block (dwLen bytes at most) into lpData; false when there is none.
bool GetFileVersionInfoW(const QString &lptstrFilename, uint32_t dwLen, void *lpData);
// Looks lpSubBlock ("StringFileInfo\041904E3\ProductVersion") up in a block copied by GetFileVersionInfoW
// of dwLen bytes; letter case does not count. On success lplpBuffer points into the block at the
// null-terminated value and puLen holds its length; false when the block has no such entry.
bool VerQueryValueA(const void *pBlock, uint32_t dwLen, const char *lpSubBlock, const char **lplpBuffer,
                    uint32_t *puLen);

// The marker a version block begins with. Tests use it to write files with blocks of their own.
std::string VersionBlockMarker();
