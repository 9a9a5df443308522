#pragma once
// The operating system's version as the system asks for it: the kernel release's major and minor
// numbers (uname).
#include <cstdint>

struct OSVERSIONINFOA
{
    uint32_t dwOSVersionInfoSize = 0; // set by the caller: 148
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    char szCSDVersion[128] = {};
};

// Fills the version numbers (the release "6.1.0-18-amd64" gives 6, 1 and 0); false when uname fails
// or the size field is not 148.
bool GetVersionExA(OSVERSIONINFOA *lpVersionInformation);
