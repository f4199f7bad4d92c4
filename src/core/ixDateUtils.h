// TDateTime: days since 1899-12-30 00:00 as a double, the fraction being the time of day.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ix {

/// A date and time: days since 1899-12-30 00:00, the fraction the time of day.
using TDateTime = double;

/// Milliseconds, seconds and minutes as fractions of a day.
inline constexpr double MSecsPerDay = 86400000.0;
/// Seconds in a day.
inline constexpr double SecsPerDay = 86400.0;
/// Minutes in a day.
inline constexpr double MinsPerDay = 1440.0;
/// Days between 1899-12-30 and 1970-01-01.
inline constexpr double UnixDateDelta = 25569.0;

/// True for a leap year of the Gregorian calendar.
bool IsLeapYear(int32_t AYear) noexcept;
/// The days of month AMonth (1..12) of AYear; 0 for another month number.
int32_t DaysInMonth(int32_t AYear, int32_t AMonth) noexcept;

/// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay);
/// The fraction of a day of a clock time; raises as TryEncodeTime refuses.
TDateTime EncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond);
/// The date of year 1..9999, month 1..12 and a day of that month in AValue; false (AValue
/// unchanged) for anything else.
bool TryEncodeDate(int32_t AYear, int32_t AMonth, int32_t ADay, TDateTime& AValue) noexcept;
/// The time 0..23:59:59.999 in AValue; false (AValue unchanged) for anything else.
bool TryEncodeTime(int32_t AHour, int32_t AMinute, int32_t ASecond, int32_t AMilliSecond, TDateTime& AValue) noexcept;

/// The calendar and clock parts of a date-time.
struct TDateParts
{
    /// 1..9999.
    int32_t Year = 0;
    /// 1..12.
    int32_t Month = 0;
    /// 1..31.
    int32_t Day = 0;
    /// 0..23.
    int32_t Hour = 0;
    /// 0..59.
    int32_t Minute = 0;
    /// 0..59.
    int32_t Second = 0;
    /// 0..999.
    int32_t MilliSecond = 0;
    /// 1 = Sunday ... 7 = Saturday.
    int32_t DayOfWeek = 0;
};
/// Splits a date-time into calendar and clock parts (rounded to the millisecond).
TDateParts DecodeDateTime(TDateTime AValue) noexcept;
/// The date-time of AParts (DayOfWeek ignored); raises as EncodeDate and EncodeTime.
TDateTime EncodeDateTime(const TDateParts& AParts);

/// The local date and time now.
TDateTime Now();
/// The current UTC date and time.
TDateTime NowUtc();
/// Seconds since 1970-01-01 UTC <-> date-time (UTC).
TDateTime UnixToDateTime(int64_t AUnixTime) noexcept;
/// The seconds since 1970-01-01 of a UTC date-time, rounded to the nearest second.
int64_t DateTimeToUnix(TDateTime AValue) noexcept;

/// Formats with the tokens yyyy, yy, mmmm, mmm, mm, m, dddd, ddd, dd, d, hh, h, nn, n, ss, s,
/// zzz and quoted literals; "mm" right after "h"/"hh" means minutes.
std::string FormatDateTime(std::string_view AFormat, TDateTime AValue);
/// "yyyy-mm-dd hh:nn:ss", or the date alone at midnight.
std::string DateTimeToStr(TDateTime AValue);

} // namespace ix
