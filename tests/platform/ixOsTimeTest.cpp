#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TimeZoneScope.h"

using namespace ix::os;

namespace {

FILETIME FileTime(WORD AYear, WORD AMonth, WORD ADay, WORD AHour, WORD AMinute)
{
    const SYSTEMTIME time{AYear, AMonth, 0, ADay, AHour, AMinute, 0, 0};
    FILETIME result{};
    EXPECT_TRUE(SystemTimeToFileTime(&time, &result));
    return result;
}

std::pair<int, int> HourMinute(const SYSTEMTIME& ATime)
{
    return {ATime.wHour, ATime.wMinute};
}

} // namespace

TEST(PlatformFileTime, ImpossibleDatesAndNegativeFileTimesAreRefused)
{
    const SYSTEMTIME noDay{2023, 2, 0, 29, 0, 0, 0, 0};
    const SYSTEMTIME noHour{2023, 2, 0, 1, 24, 0, 0, 0};
    const SYSTEMTIME tooEarly{1600, 12, 0, 31, 0, 0, 0, 0};
    FILETIME out{};
    for (const SYSTEMTIME& bad : {noDay, noHour, tooEarly})
    {
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &out));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    const FILETIME negative{0, 0x80000000u};
    SYSTEMTIME time{};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &time));
    EXPECT_FALSE(FileTimeToLocalFileTime(&negative, &out));
}

TEST(PlatformTimeZone, TimeZoneInformationGivesBiasesAndChangeOverRules)
{
    const ix::test::TTimeZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    TIME_ZONE_INFORMATION info{};
    const DWORD result = GetTimeZoneInformation(&info);
    EXPECT_TRUE(result == TIME_ZONE_ID_STANDARD || result == TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(info.Bias, -60);
    EXPECT_EQ(info.StandardBias, 0);
    EXPECT_EQ(info.DaylightBias, -60);
    EXPECT_EQ(std::u16string(info.StandardName), u"CET");
    EXPECT_EQ(std::u16string(info.DaylightName), u"CEST");
    // Last Sunday of March at 02:00 standard time, last Sunday of October at 03:00 summer time.
    EXPECT_EQ(info.DaylightDate.wMonth, 3);
    EXPECT_EQ(info.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(info.DaylightDate.wDay, 5);
    EXPECT_EQ(HourMinute(info.DaylightDate), std::make_pair(2, 0));
    EXPECT_EQ(info.StandardDate.wMonth, 10);
    EXPECT_EQ(info.StandardDate.wDay, 5);
    EXPECT_EQ(HourMinute(info.StandardDate), std::make_pair(3, 0));
}

TEST(PlatformTimeZone, LocalTimeIsSystemTimeShiftedByTheZone)
{
    const ix::test::TTimeZoneScope zone("EST5");
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    const auto seconds = [](const SYSTEMTIME& ATime) {
        const FILETIME time = FileTime(ATime.wYear, ATime.wMonth, ATime.wDay, ATime.wHour, ATime.wMinute);
        return static_cast<double>((ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    EXPECT_NEAR(seconds(utc) - seconds(local), 5 * 3600, 60); // the calls may straddle a minute
    EXPECT_GE(utc.wYear, 2024);
}
