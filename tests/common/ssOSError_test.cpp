#include "common/ssOSError.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

TEST(EOSError, CarriesTheCodeAndTheSystemsTextAfterWhatFailed)
{
    const QString tail =
        QStringLiteral(": %1 (%2)").arg(QString::fromLocal8Bit(strerror(ENOENT))).arg(ENOENT);
    // A path may hold what looks like a placeholder; it must come through as it is.
    const EOSError e(ENOENT, QStringLiteral("Cannot open file \"/tmp/a%1b%3\""));
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_EQ(e.Message().toStdString(),
              (QStringLiteral("Cannot open file \"/tmp/a%1b%3\"") + tail).toStdString());
    EXPECT_EQ(EOSError(ENOENT).Message().toStdString(),
              (QStringLiteral("System error") + tail).toStdString());

    errno = EACCES;
    try {
        RaiseLastOSError(QStringLiteral("x"));
        ADD_FAILURE() << "nothing raised";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), EACCES);
        EXPECT_STREQ(e.what(), e.Message().toStdString().c_str());
    }
}
