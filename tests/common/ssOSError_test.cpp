#include "common/ssOSError.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

TEST(EOSError, CarriesTheCodeAndTheSystemsTextAfterWhatFailed)
{
    const QString text = QString::fromLocal8Bit(strerror(ENOENT));
    // A path may hold what looks like a placeholder; it must come through as it is.
    const EOSError e(ENOENT, QStringLiteral("Cannot open file \"/tmp/a%1b%3\""));
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    const QString code = QString::number(ENOENT);
    EXPECT_EQ(e.Message().toStdString(), (QStringLiteral("Cannot open file \"/tmp/a%1b%3\": ") + text +
                                          QStringLiteral(" (") + code + QStringLiteral(")"))
                                             .toStdString());
    EXPECT_EQ(EOSError(ENOENT).Message().toStdString(),
              (QStringLiteral("System error: ") + text + QStringLiteral(" (") + code + QStringLiteral(")"))
                  .toStdString());
}

TEST(EOSError, RaiseLastOSErrorTakesErrno)
{
    errno = EACCES;
    try {
        RaiseLastOSError(QStringLiteral("x"));
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), EACCES);
        EXPECT_STREQ(e.what(), e.Message().toStdString().c_str());
        return;
    }
    FAIL() << "nothing raised";
}
