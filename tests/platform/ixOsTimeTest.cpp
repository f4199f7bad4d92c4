#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TimeZoneScope.h"

using namespace ix::os;

namespace {

constexpr ULONGLONG UnixEpochFileTime = 116444736000000000ULL;

FILETIME FileTime(WORD AYear, WORD AMonth, WORD ADay, WORD AHour, WORD AMinute)
{
    const SYSTEMTIME time{AYear, AMonth, 0, ADay, AHour, AMinute, 0, 0};
    FILETIME result{};
    EXPECT_TRUE(SystemTimeToFileTime(&time, &result));
    return result;
}

SYSTEMTIME SystemTime(const FILETIME& AFileTime)
{
    SYSTEMTIME result{};
    EXPECT_TRUE(FileTimeToSystemTime(&AFileTime, &result));
    return result;
}

std::pair<int, int> HourMinute(const SYSTEMTIME& ATime)
{
    return {ATime.wHour, ATime.wMinute};
}

/// Runs a test under a time zone of its own and restores the previous one.
class PlatformTimeZone : public ::testing::Test
{
protected:
    static void UseZone(const char* AZone) { ix::test::TTimeZoneScope::Select(AZone); }

private:
    ix::test::TTimeZoneScope FZone{"CET-1CEST,M3.5.0,M10.5.0/3"};
};

} // namespace

TEST(PlatformFileTime, SystemTimeAndFileTimeConvertBothWays)
{
    const FILETIME epoch = FileTime(1970, 1, 1, 0, 0);
    EXPECT_EQ((ULONGLONG(epoch.dwHighDateTime) << 32) | epoch.dwLowDateTime, UnixEpochFileTime);
    const SYSTEMTIME leap = SystemTime(FileTime(2024, 2, 29, 23, 59));
    EXPECT_EQ(leap.wYear, 2024);
    EXPECT_EQ(leap.wMonth, 2);
    EXPECT_EQ(leap.wDay, 29);
    EXPECT_EQ(leap.wDayOfWeek, 4); // Thursday
    EXPECT_EQ(HourMinute(leap), std::make_pair(23, 59));
    const SYSTEMTIME first = SystemTime(FILETIME{0, 0});
    EXPECT_EQ(first.wYear, 1601);
    EXPECT_EQ(first.wDayOfWeek, 1); // Monday
}

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

TEST_F(PlatformTimeZone, TimeZoneInformationGivesBiasesAndChangeOverRules)
{
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

TEST_F(PlatformTimeZone, ZonesWithoutDaylightTimeReportUnknown)
{
    UseZone("EST5");
    TIME_ZONE_INFORMATION info{};
    EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, 300);
    EXPECT_EQ(info.DaylightBias, 0);
    UseZone("IST-5:30");
    EXPECT_EQ(GetTimeZoneInformation(&info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, -330);
}

TEST_F(PlatformTimeZone, LocalTimeIsSystemTimeShiftedByTheZone)
{
    UseZone("EST5");
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
