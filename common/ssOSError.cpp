#include "common/ssOSError.h"

#include <cerrno>
#include <cstring>

namespace {

QString OSErrorText(int ErrorCode, const QString &What)
{
    // strerror_r's GNU form may return a static text instead of filling the buffer.
    char buf[256] = {};
    const char *text = strerror_r(ErrorCode, buf, sizeof buf);
    const QString head = What.isEmpty() ? QStringLiteral("System error") : What;
    return QStringLiteral("%1: %2 (%3)").arg(head, QString::fromLocal8Bit(text), QString::number(ErrorCode));
}

} // namespace

EOSError::EOSError(int ErrorCode, const QString &What)
    : Exception(OSErrorText(ErrorCode, What)), FErrorCode(ErrorCode)
{
}

void RaiseLastOSError(const QString &What)
{
    throw EOSError(errno, What);
}
