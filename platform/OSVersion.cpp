#include "platform/OSVersion.h"

#include <cstdlib>
#include <sys/utsname.h>

bool GetVersionExA(OSVERSIONINFOA *lpVersionInformation)
{
    if (!lpVersionInformation || lpVersionInformation->dwOSVersionInfoSize != 148)
        return false;
    utsname name{};
    if (uname(&name) != 0)
        return false;
    // "major.minor.build..." with any suffix after the numbers.
    uint32_t *parts[] = {&lpVersionInformation->dwMajorVersion, &lpVersionInformation->dwMinorVersion,
                         &lpVersionInformation->dwBuildNumber};
    const char *p = name.release;
    for (uint32_t *part : parts) {
        char *end = nullptr;
        *part = static_cast<uint32_t>(std::strtoul(p, &end, 10));
        if (end == p || *end != '.')
            break;
        p = end + 1;
    }
    lpVersionInformation->dwPlatformId = 2;
    return true;
}
