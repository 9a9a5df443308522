// Conversions and text helpers of uExtraFunctions.
#include "report/uExtraFunctions.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <malloc.h>
#include <string_view>

namespace {

constexpr qint64 MSecsPerDay = 86400000;

QDate Epoch()
{
    return QDate(1899, 12, 30);
}

// Days and time of day are joined and split without a time zone: a report's wall-clock time has no
// gap or fold at a daylight-saving change.
double JoinDateTime(QDate date, QTime time)
{
    const double days = static_cast<double>(Epoch().daysTo(date));
    const double fraction = static_cast<double>(time.msecsSinceStartOfDay()) / MSecsPerDay;
    return days < 0 ? days - fraction : days + fraction;
}

void SplitDateTime(double value, QDate &date, QTime &time)
{
    const double whole = std::trunc(value);
    qint64 days = static_cast<qint64>(whole);
    qint64 msecs = std::llround(std::fabs(value - whole) * MSecsPerDay);
    if (msecs >= MSecsPerDay) {
        msecs -= MSecsPerDay;
        days += value < 0 ? -1 : 1;
    }
    date = Epoch().addDays(days);
    time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
}

// The report's time text rearranged to "d.m.y h:m:s" from the day, month and year at the given
// positions and the time at 11, each part only as far as the text reaches: at most 19 characters.
class TRearranged
{
public:
    TRearranged(std::string_view s, size_t day, size_t month, size_t year)
    {
        Mid(s, day, 2).push_back('.');
        Mid(s, month, 2).push_back('.');
        Mid(s, year, 4).push_back(' ');
        Mid(s, 11, 8);
    }
    std::string_view View() const { return std::string_view(FText, FSize); }

private:
    TRearranged &Mid(std::string_view s, size_t pos, size_t len)
    {
        if (pos < s.size()) {
            len = std::min(len, s.size() - pos);
            std::memcpy(FText + FSize, s.data() + pos, len);
            FSize += len;
        }
        return *this;
    }
    void push_back(char c) { FText[FSize++] = c; }

    char FText[2 + 1 + 2 + 1 + 4 + 1 + 8];
    size_t FSize = 0;
};

// Reads 1 to maxDigits decimal digits at pos.
bool ScanNumber(std::string_view s, size_t &pos, size_t maxDigits, int &value, size_t &digits)
{
    value = 0;
    digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < maxDigits) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    return digits > 0;
}

void SkipBlanks(std::string_view s, size_t &pos)
{
    while (pos < s.size() && s[pos] == ' ')
        ++pos;
}

bool ScanChar(std::string_view s, size_t &pos, char c)
{
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// A year of one or two digits lies within 50 years before or after the current year.
int ExpandYear(int year)
{
    const int pivot = QDate::currentDate().year() - 50;
    year += pivot / 100 * 100;
    return year < pivot ? year + 100 : year;
}

// Days from 0001-01-01 of the proleptic Gregorian calendar (QDate's), worked out without QDate: three
// dates are read for every item loaded.
constexpr int64_t CivilDays(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = year / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool ValidParts(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr int MonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
           day <= MonthDays[month - 1] + (month == 2 && IsLeapYear(year)) && hour <= 23 && minute <= 59 &&
           second <= 59;
}

// The moment of the parts as JoinDateTime gives it, when they make a valid date and time.
bool JoinParts(int year, int month, int day, int hour, int minute, int second, double &result)
{
    if (!ValidParts(year, month, day, hour, minute, second))
        return false;
    const double days = static_cast<double>(CivilDays(year, month, day) - CivilDays(1899, 12, 30));
    const double fraction = static_cast<double>((hour * 3600 + minute * 60 + second) * 1000) / MSecsPerDay;
    result = days < 0 ? days - fraction : days + fraction;
    return true;
}

// Reads "d.m.y[ h[:m[:s]]]" in this fixed order: the rearranged report time text.
bool ScanDayMonthYearTime(std::string_view s, double &result)
{
    size_t pos = 0;
    size_t digits = 0;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    SkipBlanks(s, pos);
    if (!ScanNumber(s, pos, 2, day, digits) || !ScanChar(s, pos, '.') ||
        !ScanNumber(s, pos, 2, month, digits) || !ScanChar(s, pos, '.') ||
        !ScanNumber(s, pos, 4, year, digits))
        return false;
    if (digits <= 2)
        year = ExpandYear(year);
    SkipBlanks(s, pos);
    if (pos < s.size()) {
        if (!ScanNumber(s, pos, 2, hour, digits))
            return false;
        if (ScanChar(s, pos, ':')) {
            if (!ScanNumber(s, pos, 2, minute, digits))
                return false;
            if (ScanChar(s, pos, ':') && !ScanNumber(s, pos, 2, second, digits))
                return false;
        }
        SkipBlanks(s, pos);
    }
    return pos == s.size() && JoinParts(year, month, day, hour, minute, second, result);
}

// Year, month, day, hours, minutes, seconds of a full text of either layout reports are written in,
// "yyyy-mm-dd hh:mm:ss" or "dd.mm.yyyy hh:mm:ss", read straight: the general path's rearranging and
// scanning gives the same parts. The search reads every row's time this way, so no loops.
bool ReadFullLayout(std::string_view s, int (&parts)[6])
{
    if (s.size() != 19 || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return false;
    bool digits = true;
    const auto two = [&](size_t pos) {
        const unsigned high = unsigned(s[pos]) - '0', low = unsigned(s[pos + 1]) - '0';
        digits = digits && high <= 9 && low <= 9;
        return int(high * 10 + low);
    };
    if (s[4] == '-' && s[7] == '-') {
        parts[0] = two(0) * 100 + two(2);
        parts[1] = two(5);
        parts[2] = two(8);
    } else if (s[2] == '.' && s[5] == '.') {
        parts[0] = two(6) * 100 + two(8);
        parts[1] = two(3);
        parts[2] = two(0);
    } else {
        return false;
    }
    parts[3] = two(11);
    parts[4] = two(14);
    parts[5] = two(17);
    return digits;
}

bool ScanFullLayout(std::string_view s, double &result)
{
    int p[6];
    return ReadFullLayout(s, p) && JoinParts(p[0], p[1], p[2], p[3], p[4], p[5], result);
}

} // namespace

bool IntToBool(int32_t Value)
{
    return Value == 1;
}

double ReportStrToDateTime(std::string_view Str)
{
    // Three of these for every item loaded: the rearranged text is put together on the stack.
    double result = 0;
    bool read;
    if (ScanFullLayout(Str, result))
        return result;
    if (Str.find('-') != std::string_view::npos)
        read = ScanDayMonthYearTime(TRearranged(Str, 8, 5, 0).View(), result);
    else if (Str.find('.') != std::string_view::npos)
        read = ScanDayMonthYearTime(TRearranged(Str, 0, 3, 6).View(), result);
    else
        read = ScanDayMonthYearTime(Str, result);
    if (read)
        return result;
    return static_cast<double>(Epoch().daysTo(QDate(1980, 1, 1)));
}

bool ReportTimeKey(std::string_view Str, int64_t &Key)
{
    int p[6];
    if (!ReadFullLayout(Str, p) || !ValidParts(p[0], p[1], p[2], p[3], p[4], p[5]))
        return false;
    Key = 0;
    for (const int part : p)
        Key = Key * 100 + part;
    return true;
}

std::string DateToReportStr(double Date)
{
    const QDate day = Epoch().addDays(static_cast<qint64>(std::trunc(Date)));
    char text[32];
    snprintf(text, sizeof text, "%d-%02d-%02d", day.year(), day.month(), day.day());
    return text;
}

QDateTime DateTimeToQDateTime(double Value)
{
    QDate date;
    QTime time;
    SplitDateTime(Value, date, time);
    return QDateTime(date, time);
}

double QDateTimeToDateTime(const QDateTime &Value)
{
    return JoinDateTime(Value.date(), Value.time());
}

QString DateTimeToStr(double Value)
{
    const QLocale locale;
    QDate date;
    QTime time;
    SplitDateTime(Value, date, time);
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (time.msecsSinceStartOfDay() != 0) {
        // the long time format with its time-zone part left out
        QString format = locale.timeFormat(QLocale::LongFormat);
        format.remove(QLatin1Char('t')).replace(QStringLiteral("  "), QStringLiteral(" "));
        text += QLatin1Char(' ') + locale.toString(time, format.trimmed());
    }
    return text;
}

std::string GetFileExtension(const std::string &Name)
{
    const size_t dot = Name.rfind('.');
    return dot == std::string::npos ? Name : Name.substr(dot);
}

bool WideCharInArray(QChar C, const QList<QChar> &Chars)
{
    return Chars.contains(C);
}

void SplitWideString(const QString &Str, const QList<QChar> &Delimiters, QStringList &Parts)
{
    Parts.clear();
    qsizetype count = 1;
    for (const QChar c : Str)
        if (WideCharInArray(c, Delimiters))
            ++count;
    if (count == 1) {
        Parts.append(Str);
        return;
    }
    Parts.reserve(count);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= Str.size(); ++i) {
        if (i < Str.size() && !WideCharInArray(Str.at(i), Delimiters))
            continue;
        qsizetype first = start;
        qsizetype last = i;
        while (first < last && Str.at(first).unicode() <= 32)
            ++first;
        while (last > first && Str.at(last - 1).unicode() <= 32)
            --last;
        Parts.append(Str.mid(first, last - first));
        start = i + 1;
    }
}

QString TrimRightSpaces(const QString &Str)
{
    qsizetype end = Str.size();
    while (end > 0 && Str.at(end - 1) == QLatin1Char(' '))
        --end;
    return Str.left(end);
}

QString TrimLeftSpaces(const QString &Str)
{
    qsizetype start = 0;
    while (start < Str.size() && Str.at(start) == QLatin1Char(' '))
        ++start;
    return Str.mid(start);
}

QString ReplaceWideChar(const QString &Str, QChar OldChar, QChar NewChar)
{
    QString result = Str;
    return result.replace(OldChar, NewChar);
}

void TrimWorkingSet()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
