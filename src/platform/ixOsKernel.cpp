#include "platform/ixOsKernel.h"

#include "platform/internal/ixErrorTexts.h"
#include "platform/internal/ixOsFail.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

namespace ix::os {

namespace {

using internal::Fail;

thread_local DWORD LastError = ERROR_SUCCESS;

// --- Error texts --------------------------------------------------------------------------

/// Codes below this are also tried as errno values.
constexpr DWORD MaxErrnoValue = 4096;

std::string SystemErrorText(DWORD ACode)
{
    if (const char* text = internal::FindErrorText(ACode))
        return text;
    if (ACode == 0 || ACode >= MaxErrnoValue)
        return {};
    char buffer[256];
    const std::string text = ::strerror_r(static_cast<int>(ACode), buffer, sizeof buffer); // GNU form
    return text.starts_with("Unknown error") ? std::string() : text;
}

// --- Virtual memory -----------------------------------------------------------------------

/// Blocks of this size and more are placed for the system's large pages.
constexpr size_t LargePageSize = size_t(2) << 20;

/// What a block's mapping is, kept in the page just before the block.
struct TBlockMapping
{
    void* Start;
    size_t Length;
};

size_t RoundUp(size_t AValue, size_t AUnit) noexcept
{
    return (AValue + AUnit - 1) / AUnit * AUnit;
}

/// Maps ALength bytes plus a page for the mapping's record; returns the block or nullptr. A
/// large-page block is mapped with room to slide it onto a boundary, and the rest unmapped.
void* MapBlock(size_t ALength, size_t AAlignment) noexcept
{
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t reserved = ALength + std::max(page, AAlignment);
    void* mapped = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t block = RoundUp(base + page, AAlignment);
    const uintptr_t start = block - page;
    if (start > base)
        ::munmap(mapped, start - base);
    if (const uintptr_t end = block + ALength; end < base + reserved)
        ::munmap(reinterpret_cast<void*>(end), base + reserved - end);
    if (AAlignment == LargePageSize)
        ::madvise(reinterpret_cast<void*>(block), ALength, MADV_HUGEPAGE);
    *reinterpret_cast<TBlockMapping*>(start) = {reinterpret_cast<void*>(start), ALength + page};
    return reinterpret_cast<void*>(block);
}

// --- File times ---------------------------------------------------------------------------
using namespace std::chrono;

constexpr LONGLONG TicksPerSecond = 10000000;
constexpr LONGLONG TicksPerDay = TicksPerSecond * 86400;
constexpr sys_days FileTimeEpoch = sys_days(year{1601} / January / 1);
/// File-time ticks at 1970-01-01 00:00 UTC.
constexpr LONGLONG UnixEpochTicks = (sys_days(year{1970} / January / 1) - FileTimeEpoch).count() * TicksPerDay;

std::optional<LONGLONG> ToTicks(const FILETIME& AFileTime)
{
    const ULONGLONG ticks = (ULONGLONG(AFileTime.dwHighDateTime) << 32) | AFileTime.dwLowDateTime;
    if (ticks > ULONGLONG(INT64_MAX))
        return std::nullopt;
    return static_cast<LONGLONG>(ticks);
}

FILETIME FromTicks(LONGLONG ATicks)
{
    const auto ticks = static_cast<ULONGLONG>(ATicks);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

LONGLONG FloorDiv(LONGLONG A, LONGLONG B)
{
    return A / B - ((A % B != 0) && ((A < 0) != (B < 0)) ? 1 : 0);
}

/// Offset of local time from UTC (seconds east) at the UTC instant AUnixTime.
std::optional<long> LocalOffsetAt(time_t AUnixTime)
{
    tm local{};
    if (::localtime_r(&AUnixTime, &local) == nullptr)
        return std::nullopt;
    return local.tm_gmtoff;
}

SYSTEMTIME DecodeTicks(LONGLONG ATicks)
{
    const LONGLONG days = ATicks / TicksPerDay;
    LONGLONG rest = ATicks % TicksPerDay;
    const sys_days day = FileTimeEpoch + std::chrono::days(days);
    const year_month_day ymd(day);
    SYSTEMTIME result{};
    result.wYear = static_cast<WORD>(int(ymd.year()));
    result.wMonth = static_cast<WORD>(unsigned(ymd.month()));
    result.wDay = static_cast<WORD>(unsigned(ymd.day()));
    result.wDayOfWeek = static_cast<WORD>(weekday(day).c_encoding());
    result.wHour = static_cast<WORD>(rest / (TicksPerSecond * 3600));
    rest %= TicksPerSecond * 3600;
    result.wMinute = static_cast<WORD>(rest / (TicksPerSecond * 60));
    rest %= TicksPerSecond * 60;
    result.wSecond = static_cast<WORD>(rest / TicksPerSecond);
    result.wMilliseconds = static_cast<WORD>(rest % TicksPerSecond / 10000);
    return result;
}

std::optional<LONGLONG> EncodeTicks(const SYSTEMTIME& ATime)
{
    const year_month_day ymd(year{ATime.wYear}, month{ATime.wMonth}, day{ATime.wDay});
    if (ATime.wYear < 1601 || ATime.wYear > 30827 || !ymd.ok() || ATime.wHour > 23 || ATime.wMinute > 59
        || ATime.wSecond > 59 || ATime.wMilliseconds > 999)
        return std::nullopt;
    const LONGLONG days = (sys_days(ymd) - FileTimeEpoch).count();
    const LONGLONG seconds = ATime.wHour * 3600LL + ATime.wMinute * 60LL + ATime.wSecond;
    return days * TicksPerDay + seconds * TicksPerSecond + ATime.wMilliseconds * 10000LL;
}

LONGLONG NowTicks()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return UnixEpochTicks + now.tv_sec * TicksPerSecond + now.tv_nsec / 100;
}

// --- Time zone ----------------------------------------------------------------------------

/// This year's daylight saving time rules as the C library reports them.
struct TZoneYear
{
    long StandardOffset = 0;            // seconds east of UTC
    std::optional<long> DaylightOffset; // none: no daylight saving time this year
    std::optional<time_t> DaylightStart;
    std::optional<time_t> DaylightEnd;
};

bool IsDaylightAt(time_t AUnixTime)
{
    tm local{};
    return ::localtime_r(&AUnixTime, &local) != nullptr && local.tm_isdst > 0;
}

/// The first second after ABefore at which the daylight flag differs from its value at ABefore.
time_t FindChange(time_t ABefore, time_t AAfter)
{
    const bool start = IsDaylightAt(ABefore);
    while (AAfter - ABefore > 1)
    {
        const time_t middle = ABefore + (AAfter - ABefore) / 2;
        (IsDaylightAt(middle) == start ? ABefore : AAfter) = middle;
    }
    return AAfter;
}

TZoneYear ScanZoneYear(time_t ANow)
{
    TZoneYear zone;
    zone.StandardOffset = -::timezone;
    tm local{};
    ::localtime_r(&ANow, &local);
    tm january{};
    january.tm_year = local.tm_year;
    january.tm_mday = 1;
    january.tm_isdst = -1;
    constexpr time_t Day = 86400;
    bool wasDaylight = false;
    time_t t = ::mktime(&january);
    for (int i = 0; i < 367; ++i, t += Day)
    {
        tm at{};
        if (::localtime_r(&t, &at) == nullptr)
            break;
        const bool daylight = at.tm_isdst > 0;
        if (daylight)
            zone.DaylightOffset = at.tm_gmtoff;
        else
            zone.StandardOffset = at.tm_gmtoff;
        if (i > 0 && daylight != wasDaylight)
            (daylight ? zone.DaylightStart : zone.DaylightEnd) = FindChange(t - Day, t);
        wasDaylight = daylight;
    }
    return zone;
}

/// A change-over instant as Windows records it: month, weekday, its occurrence in the month
/// (5: the last) and the local time (in the offset in force before the change).
SYSTEMTIME ChangeOverDate(time_t AInstant, long AOffsetBefore)
{
    const SYSTEMTIME local = DecodeTicks(UnixEpochTicks + (AInstant + AOffsetBefore) * TicksPerSecond);
    const year_month_day_last monthEnd(year{local.wYear}, month_day_last(month{local.wMonth}));
    const unsigned lastDay = unsigned(monthEnd.day());
    SYSTEMTIME rule{};
    rule.wMonth = local.wMonth;
    rule.wDayOfWeek = local.wDayOfWeek;
    rule.wDay = static_cast<WORD>(local.wDay + 7u > lastDay ? 5 : (local.wDay - 1) / 7 + 1);
    rule.wHour = local.wHour;
    rule.wMinute = local.wMinute;
    rule.wSecond = local.wSecond;
    return rule;
}

void CopyName(const char* AName, WCHAR (&ADest)[32])
{
    std::size_t i = 0;
    for (; AName != nullptr && AName[i] != '\0' && i + 1 < std::size(ADest); ++i)
        ADest[i] = static_cast<unsigned char>(AName[i]);
    ADest[i] = 0;
}

} // namespace

// --- Ticks and last error -----------------------------------------------------------------

ULONGLONG GetTickCount64() noexcept
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

DWORD GetTickCount() noexcept
{
    return static_cast<DWORD>(GetTickCount64());
}

DWORD GetLastError() noexcept
{
    return LastError;
}

void SetLastError(DWORD dwErrCode) noexcept
{
    LastError = dwErrCode;
}

void SecureZeroMemory(void* ADestination, SIZE_T ALength) noexcept
{
    if (ADestination != nullptr)
        ::explicit_bzero(ADestination, ALength);
}

// --- Virtual memory -----------------------------------------------------------------------

LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) noexcept
{
    if (lpAddress != nullptr || dwSize == 0 || dwSize > SIZE_MAX / 2 || flAllocationType != (MEM_COMMIT | MEM_RESERVE)
        || flProtect != PAGE_READWRITE)
        return Fail<LPVOID>(ERROR_INVALID_PARAMETER, nullptr);
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t alignment = dwSize >= LargePageSize ? LargePageSize : page;
    void* block = MapBlock(RoundUp(dwSize, alignment), alignment);
    return block ? block : Fail<LPVOID>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
}

BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) noexcept
{
    if (lpAddress == nullptr || dwSize != 0 || dwFreeType != MEM_RELEASE)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const TBlockMapping mapping = *reinterpret_cast<const TBlockMapping*>(static_cast<char*>(lpAddress) - page);
    ::munmap(mapping.Start, mapping.Length);
    return TRUE;
}

// --- Error texts --------------------------------------------------------------------------

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/, LPSTR lpBuffer,
    DWORD nSize, void* /*Arguments*/)
{
    constexpr DWORD Unsupported =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE;
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & Unsupported) || lpBuffer == nullptr)
        return Fail<DWORD>(ERROR_INVALID_PARAMETER, 0);
    std::string text = SystemErrorText(dwMessageId);
    if (text.empty())
        return Fail<DWORD>(ERROR_MR_MID_NOT_FOUND, 0);
    if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0)
        text += "\r\n"; // without a width limit the system's texts keep their line end
    if (text.size() + 1 > nSize)
        return Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
    std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

// --- Time ---------------------------------------------------------------------------------

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* lpTimeZoneInformation)
{
    if (lpTimeZoneInformation == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, TIME_ZONE_ID_INVALID);
    ::tzset();
    const time_t now = ::time(nullptr);
    const TZoneYear zone = ScanZoneYear(now);
    TIME_ZONE_INFORMATION info{};
    info.Bias = static_cast<LONG>(-zone.StandardOffset / 60);
    CopyName(::tzname[0], info.StandardName);
    DWORD result = TIME_ZONE_ID_UNKNOWN;
    if (zone.DaylightOffset)
    {
        info.DaylightBias = static_cast<LONG>(-(*zone.DaylightOffset - zone.StandardOffset) / 60);
        CopyName(::tzname[1], info.DaylightName);
        if (zone.DaylightStart)
            info.DaylightDate = ChangeOverDate(*zone.DaylightStart, zone.StandardOffset);
        if (zone.DaylightEnd)
            info.StandardDate = ChangeOverDate(*zone.DaylightEnd, *zone.DaylightOffset);
        result = IsDaylightAt(now) ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
    }
    *lpTimeZoneInformation = info;
    return result;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime)
{
    const auto ticks = lpSystemTime ? EncodeTicks(*lpSystemTime) : std::nullopt;
    if (!ticks || lpFileTime == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpFileTime = FromTicks(*ticks);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime)
{
    const auto ticks = lpFileTime ? ToTicks(*lpFileTime) : std::nullopt;
    if (!ticks || lpSystemTime == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpSystemTime = DecodeTicks(*ticks);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime)
{
    const auto ticks = lpFileTime ? ToTicks(*lpFileTime) : std::nullopt;
    if (!ticks || lpLocalFileTime == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    ::tzset();
    const auto offset = LocalOffsetAt(static_cast<time_t>(FloorDiv(*ticks - UnixEpochTicks, TicksPerSecond)));
    if (!offset)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const LONGLONG local = *ticks + *offset * TicksPerSecond;
    if (local < 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpLocalFileTime = FromTicks(local);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, FILETIME* lpFileTime)
{
    const auto ticks = lpLocalFileTime ? ToTicks(*lpLocalFileTime) : std::nullopt;
    if (!ticks || lpFileTime == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const SYSTEMTIME local = DecodeTicks(*ticks);
    tm fields{};
    fields.tm_year = local.wYear - 1900;
    fields.tm_mon = local.wMonth - 1;
    fields.tm_mday = local.wDay;
    fields.tm_hour = local.wHour;
    fields.tm_min = local.wMinute;
    fields.tm_sec = local.wSecond;
    fields.tm_isdst = -1; // the C library decides from its rules for that local time
    ::tzset();
    errno = 0;
    const time_t utc = ::mktime(&fields);
    if (utc == static_cast<time_t>(-1) && errno != 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const LONGLONG result = UnixEpochTicks + utc * TicksPerSecond + *ticks % TicksPerSecond;
    if (result < 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpFileTime = FromTicks(result);
    return TRUE;
}

void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime)
{
    if (lpSystemTimeAsFileTime != nullptr)
        *lpSystemTimeAsFileTime = FromTicks(NowTicks());
}

void GetSystemTime(SYSTEMTIME* lpSystemTime)
{
    if (lpSystemTime != nullptr)
        *lpSystemTime = DecodeTicks(NowTicks());
}

void GetLocalTime(SYSTEMTIME* lpSystemTime)
{
    FILETIME utc = FromTicks(NowTicks());
    FILETIME local{};
    if (lpSystemTime != nullptr && FileTimeToLocalFileTime(&utc, &local))
        FileTimeToSystemTime(&local, lpSystemTime);
}

} // namespace ix::os
