// TDateTime: days since 1899-12-30 00:00 as a double, the fraction being the time of day.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ix {

using TDateTime = double;

/// Milliseconds, seconds and minutes as fractions of a day.
inline constexpr double MSecsPerDay = 86400000.0;
inline constexpr double SecsPerDay = 86400.0;
inline constexpr double MinsPerDay = 1440.0;
/// Days between 1899-12-30 and 1970-01-01.
inline constexpr double UnixDateDelta = 25569.0;

bool IsLeapYear(int32_t AYear) noexcept;
int32_t DaysInMonth(int32_t AYear, int32_t AMonth) noexcept;

/// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay);
TDateTime EncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond);
bool TryEncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay, TDateTime& AValue) noexcept;
bool TryEncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond, TDateTime& AValue) noexcept;

struct TDateParts
{
    int32_t Year = 0;
    int32_t Month = 0;
    int32_t Day = 0;
    int32_t Hour = 0;
    int32_t Minute = 0;
    int32_t Second = 0;
    int32_t MilliSecond = 0;
    /// 1 = Sunday ... 7 = Saturday.
    int32_t DayOfWeek = 0;
};
/// Splits a date-time into calendar and clock parts (rounded to the millisecond).
TDateParts DecodeDateTime(TDateTime AValue) noexcept;
TDateTime EncodeDateTime(const TDateParts& AParts);

/// The local date and time now.
TDateTime Now();
/// The current UTC date and time.
TDateTime NowUtc();
/// Seconds since 1970-01-01 UTC <-> date-time (UTC).
TDateTime UnixToDateTime(int64_t AUnixTime) noexcept;
int64_t DateTimeToUnix(TDateTime AValue) noexcept;

/// Formats with the tokens yyyy, yy, mmmm, mmm, mm, m, dddd, ddd, dd, d, hh, h, nn, n, ss, s,
/// zzz and quoted literals; "mm" right after "h"/"hh" means minutes.
std::string FormatDateTime(std::string_view AFormat, TDateTime AValue);
/// "yyyy-mm-dd hh:nn:ss", or the date alone at midnight.
std::string DateTimeToStr(TDateTime AValue);

} // namespace ix
