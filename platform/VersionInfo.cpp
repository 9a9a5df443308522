#include "platform/VersionInfo.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string_view>

#ifndef VIEWER_PRODUCT_VERSION
#error "VIEWER_PRODUCT_VERSION must come from the build (the project's version)"
#endif

// This program's version block: the marker, then the entries, then a second null byte. "used" keeps it
// in the file even though nothing reads it in memory.
__attribute__((used)) static const char ProgramVersionBlock[] =
    "\x7f"
    "ParvixVersionBlock\x01"
    "StringFileInfo\\041904E3\\ProductVersion=" VIEWER_PRODUCT_VERSION "\0";

namespace {

// A block is never larger; a marker without the closing null bytes within it is no block.
constexpr size_t MaxBlockSize = 64 * 1024;

// The marker is kept here masked, so that the reader's own copy of it is not found in the file.
constexpr unsigned char MaskedMarker[] = {0x25, 0x0a, 0x3b, 0x28, 0x2c, 0x33, 0x22, 0x0c, 0x3f, 0x28,
                                          0x29, 0x33, 0x35, 0x34, 0x18, 0x36, 0x35, 0x39, 0x31, 0x5b};
constexpr unsigned char MarkerMask = 0x5a;

// The block found in the file: its bytes, marker included, up to and including the closing nulls.
std::string_view FindBlock(const uchar *data, qint64 size)
{
    const std::string marker = VersionBlockMarker();
    const char *begin = reinterpret_cast<const char *>(data);
    const char *end = begin + size;
    const char *at =
        std::search(begin, end, std::boyer_moore_horspool_searcher(marker.begin(), marker.end()));
    if (at == end)
        return {};
    const std::string_view rest(at, static_cast<size_t>(std::min<qint64>(end - at, MaxBlockSize)));
    const size_t close = rest.find(std::string_view("\0\0", 2), marker.size());
    if (close == std::string_view::npos)
        return {};
    return rest.substr(0, close + 2);
}

// Calls use with the file's block; false when the file cannot be read or has no block.
template <typename F> bool WithBlock(const QString &fileName, F use)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return false;
    const uchar *data = file.map(0, file.size());
    if (data) {
        const std::string_view block = FindBlock(data, file.size());
        const bool found = !block.empty();
        if (found)
            use(block);
        file.unmap(const_cast<uchar *>(data));
        return found;
    }
    const QByteArray all = file.readAll();
    const std::string_view block = FindBlock(reinterpret_cast<const uchar *>(all.constData()), all.size());
    if (!block.empty())
        use(block);
    return !block.empty();
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string VersionBlockMarker()
{
    std::string marker;
    for (unsigned char c : MaskedMarker)
        marker += static_cast<char>(c ^ MarkerMask);
    return marker;
}

uint32_t GetFileVersionInfoSizeW(const QString &lptstrFilename)
{
    uint32_t size = 0;
    WithBlock(lptstrFilename,
              [&size](std::string_view block) { size = static_cast<uint32_t>(block.size()); });
    return size;
}

bool GetFileVersionInfoW(const QString &lptstrFilename, uint32_t dwLen, void *lpData)
{
    if (!lpData || dwLen == 0)
        return false;
    return WithBlock(lptstrFilename, [&](std::string_view block) {
        std::memcpy(lpData, block.data(), std::min<size_t>(dwLen, block.size()));
    });
}

bool VerQueryValueA(const void *pBlock, uint32_t dwLen, const char *lpSubBlock, const char **lplpBuffer,
                    uint32_t *puLen)
{
    if (!pBlock || !lpSubBlock)
        return false;
    const std::string marker = VersionBlockMarker();
    const std::string_view block(static_cast<const char *>(pBlock), dwLen);
    if (block.substr(0, marker.size()) != marker)
        return false;
    const std::string_view wanted(lpSubBlock);
    size_t pos = marker.size();
    while (pos < block.size() && block[pos] != 0) {
        const size_t close = block.find('\0', pos);
        if (close == std::string_view::npos)
            return false;
        const std::string_view entry = block.substr(pos, close - pos);
        const size_t equals = entry.find('=');
        if (equals != std::string_view::npos && SameText(entry.substr(0, equals), wanted)) {
            if (lplpBuffer)
                *lplpBuffer = entry.data() + equals + 1;
            if (puLen)
                *puLen = static_cast<uint32_t>(entry.size() - equals - 1);
            return true;
        }
        pos = close + 1;
    }
    return false;
}
