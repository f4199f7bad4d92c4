#include "core/ixDateUtils.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "core/ixSysUtils.h"

namespace ix {

namespace {

constexpr const char* ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* LongMonthNames[12] = {"January", "February", "March", "April", "May", "June", "July",
    "August", "September", "October", "November", "December"};
constexpr const char* ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* LongDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Days from 0001-01-01 to the given date (proleptic Gregorian), after Howard Hinnant's algorithm.
int64_t DaysFromCivil(int64_t AYear, int64_t AMonth, int64_t ADay) noexcept
{
    AYear -= AMonth <= 2;
    const int64_t era = (AYear >= 0 ? AYear : AYear - 399) / 400;
    const int64_t yoe = AYear - era * 400;
    const int64_t doy = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468; // days since 1970-01-01
}

void CivilFromDays(int64_t ADays, int32_t& AYear, int32_t& AMonth, int32_t& ADay) noexcept
{
    ADays += 719468;
    const int64_t era = (ADays >= 0 ? ADays : ADays - 146096) / 146097;
    const int64_t doe = ADays - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    ADay = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    AMonth = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    AYear = static_cast<int32_t>(yoe + era * 400 + (AMonth <= 2));
}

std::string TwoDigits(int32_t AValue)
{
    return Format("%.2d", AValue);
}

} // namespace

bool IsLeapYear(int32_t AYear) noexcept
{
    return (AYear % 4 == 0) && (AYear % 100 != 0 || AYear % 400 == 0);
}

int32_t DaysInMonth(int32_t AYear, int32_t AMonth) noexcept
{
    static constexpr int32_t Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (AMonth < 1 || AMonth > 12)
        return 0;
    return Days[AMonth - 1] + (AMonth == 2 && IsLeapYear(AYear) ? 1 : 0);
}

bool TryEncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay, TDateTime& AValue) noexcept
{
    if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1 || ADay > DaysInMonth(AYear, AMonth))
        return false;
    AValue = static_cast<double>(DaysFromCivil(AYear, AMonth, ADay)) + UnixDateDelta;
    return true;
}

bool TryEncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond, TDateTime& AValue) noexcept
{
    if (AHour < 0 || AHour > 23 || AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 59 || AMilliSecond < 0
        || AMilliSecond > 999)
        return false;
    AValue = (AHour * 3600000.0 + AMinute * 60000.0 + ASecond * 1000.0 + AMilliSecond) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay)
{
    TDateTime value = 0;
    if (!TryEncodeDate(AYear, AMonth, ADay, value))
        throw EConvertError("Invalid argument to date encode");
    return value;
}

TDateTime EncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond)
{
    TDateTime value = 0;
    if (!TryEncodeTime(AHour, AMinute, ASecond, AMilliSecond, value))
        throw EConvertError("Invalid argument to time encode");
    return value;
}

TDateParts DecodeDateTime(TDateTime AValue) noexcept
{
    TDateParts parts;
    if (!std::isfinite(AValue) || std::fabs(AValue) > 3e6)
        return parts;
    const auto msecs = static_cast<int64_t>(std::llround(AValue * MSecsPerDay));
    int64_t days = msecs / 86400000;
    int64_t rest = msecs % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    CivilFromDays(days - static_cast<int64_t>(UnixDateDelta), parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int32_t>(rest / 3600000);
    parts.Minute = static_cast<int32_t>(rest / 60000 % 60);
    parts.Second = static_cast<int32_t>(rest / 1000 % 60);
    parts.MilliSecond = static_cast<int32_t>(rest % 1000);
    const int64_t weekday = (days + 6) % 7; // 1899-12-30 was a Saturday
    parts.DayOfWeek = static_cast<int32_t>((weekday < 0 ? weekday + 7 : weekday) + 1);
    return parts;
}

TDateTime EncodeDateTime(const TDateParts& AParts)
{
    return EncodeDate(AParts.Year, AParts.Month, AParts.Day)
        + EncodeTime(AParts.Hour, AParts.Minute, AParts.Second, AParts.MilliSecond);
}

TDateTime UnixToDateTime(int64_t AUnixTime) noexcept
{
    return UnixDateDelta + static_cast<double>(AUnixTime) / SecsPerDay;
}

int64_t DateTimeToUnix(TDateTime AValue) noexcept
{
    return static_cast<int64_t>(std::llround((AValue - UnixDateDelta) * SecsPerDay));
}

TDateTime NowUtc()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto msecs = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return UnixDateDelta + static_cast<double>(msecs) / MSecsPerDay;
}

TDateTime Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    return UnixToDateTime(static_cast<int64_t>(seconds) + local.tm_gmtoff)
        + static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000)
        / MSecsPerDay;
}

namespace {

size_t CountRun(std::string_view AFormat, size_t AIndex) noexcept
{
    const char c = static_cast<char>(AFormat[AIndex] | 0x20);
    size_t n = 0;
    while (AIndex + n < AFormat.size() && static_cast<char>(AFormat[AIndex + n] | 0x20) == c)
        ++n;
    return n;
}

} // namespace

std::string FormatDateTime(std::string_view AFormat, TDateTime AValue)
{
    const TDateParts p = DecodeDateTime(AValue);
    std::string out;
    bool afterHour = false;
    for (size_t i = 0; i < AFormat.size();) {
        const char c = static_cast<char>(AFormat[i] | 0x20);
        if (AFormat[i] == '"' || AFormat[i] == '\'') {
            const size_t close = AFormat.find(AFormat[i], i + 1);
            const size_t end = close == std::string_view::npos ? AFormat.size() : close;
            out.append(AFormat.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        const size_t n = (c >= 'a' && c <= 'z') ? CountRun(AFormat, i) : 1;
        switch (c) {
        case 'y':
            out += n <= 2 ? TwoDigits(p.Year % 100) : Format("%.4d", p.Year);
            break;
        case 'm':
            if (afterHour && n <= 2)
                out += n == 1 ? IntToStr(p.Minute) : TwoDigits(p.Minute);
            else if (n >= 4)
                out += LongMonthNames[(p.Month + 11) % 12];
            else if (n == 3)
                out += ShortMonthNames[(p.Month + 11) % 12];
            else
                out += n == 1 ? IntToStr(p.Month) : TwoDigits(p.Month);
            break;
        case 'd':
            if (n >= 4)
                out += LongDayNames[(p.DayOfWeek + 6) % 7];
            else if (n == 3)
                out += ShortDayNames[(p.DayOfWeek + 6) % 7];
            else
                out += n == 1 ? IntToStr(p.Day) : TwoDigits(p.Day);
            break;
        case 'h':
            out += n == 1 ? IntToStr(p.Hour) : TwoDigits(p.Hour);
            break;
        case 'n':
            out += n == 1 ? IntToStr(p.Minute) : TwoDigits(p.Minute);
            break;
        case 's':
            out += n == 1 ? IntToStr(p.Second) : TwoDigits(p.Second);
            break;
        case 'z':
            out += Format("%.3d", p.MilliSecond);
            break;
        default:
            out.append(AFormat.substr(i, n));
            break;
        }
        if (c == 'h')
            afterHour = true;
        else if (c >= 'a' && c <= 'z')
            afterHour = false;
        i += n;
    }
    return out;
}

std::string DateTimeToStr(TDateTime AValue)
{
    const TDateParts p = DecodeDateTime(AValue);
    if (p.Hour == 0 && p.Minute == 0 && p.Second == 0)
        return FormatDateTime("yyyy-mm-dd", AValue);
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", AValue);
}

} // namespace ix
