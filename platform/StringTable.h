#pragma once
// The program's string table: the compiled-in texts that Windows would load from the module's
// resources, with the failure a missing entry leaves behind.
#include <QString>
#include <cstdint>

// What a failing call leaves behind: the error code and the system's description of it.
struct TOSError
{
    uint32_t Code = 0;
    QString Description;
};

constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Copies entry Id into Buffer, at most BufferMax - 1 characters and a closing zero, and returns the
// number of characters copied. Returns 0 when the table has no such entry or the buffer is unusable;
// Error, when given, then receives the code and description of the failure.
int LoadStringW(uint32_t Id, char16_t *Buffer, int BufferMax, TOSError *Error = nullptr);

// The system's description of an error code.
QString SysErrorDescription(uint32_t Code);
