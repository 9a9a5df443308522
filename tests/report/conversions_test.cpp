#include "report/uExtraFunctions.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// 5 March 2013 is day 41338 after 30 December 1899; 1 January 1980 is day 29221.
constexpr double March5th2013 = 41338;
constexpr double January1st1980 = 29221;
constexpr double Seconds = 1.0 / 86400;

// Read day, month, year whatever the locale's short date format puts first; separators are not looked
// at; short texts use what they have, a two-digit year lies within fifty years of now, the time is
// taken from positions 12 to 19 only; unreadable texts give the first moment of 1980.
TEST(ReportStrToDateTime, BothLayoutsInAMonthFirstAndADayFirstLocale)
{
    const QLocale before;
    const double at = March5th2013 + (14 * 3600 + 7 * 60 + 9) * Seconds;
    const std::pair<const char *, double> cases[] = {
        {"2013-03-05 14:07:09", at},
        {"05.03.2013 14:07:09", at},
        {"2013-03-05T14:07:09", at},
        {"05.03/2013x14:07:09", at},
        {"2013-03-05 14:07:09.123", at},
        {"12.03.2013 00:00:00", March5th2013 + 7},
        {"2013-03-12 00:00:00", March5th2013 + 7},
        {"1980-01-01 00:00:01", January1st1980 + Seconds},
        {"2013-03-05", March5th2013},
        {"05.03.2013 ", March5th2013},
        {"05.03.13", March5th2013},
        {"05.03.2013 14:07", March5th2013 + (14 * 60 + 7) * 60 * Seconds},
        {"2013-03-05 14", March5th2013 + 14.0 / 24},
    };
    for (const QLocale &locale :
         {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        for (const auto &[text, days] : cases)
            EXPECT_NEAR(ReportStrToDateTime(text), days, 1e-9) << text << " " << locale.name().toStdString();
        for (const char *text : {"", "garbage", "20130305 140709", "2013-13-05 10:00:00",
                                 "31.02.2013 10:00:00", "2013-03-05 24:00:00", "2013-03-05 10:60:00",
                                 "2013-03-05 10:00:61", "00.03.2013", "2013-03", "-", "."})
            EXPECT_DOUBLE_EQ(ReportStrToDateTime(text), January1st1980) << text;
    }
    QLocale::setDefault(before);
}

// The program's own product version, read from its version block.
TEST(ProductVersion, TheProgramCarriesItsOwn)
{
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                    .match(QString::fromStdString(GetProductVersion(QCoreApplication::applicationFilePath())))
                    .hasMatch());
}

} // namespace
