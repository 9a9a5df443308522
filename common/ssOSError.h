#pragma once
// The operating-system error: a failed system call, with its errno and the system's text for it.
#include "common/ssException.h"

class EOSError : public Exception
{
public:
    // Message: "<What>: <system text> (<code>)", or "System error: <system text> (<code>)" without What.
    explicit EOSError(int ErrorCode, const QString &What = {});
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// Raises EOSError for the current errno.
[[noreturn]] void RaiseLastOSError(const QString &What = {});
