#pragma once
// Kernel services: tick counts, the thread's last error, virtual memory, system error texts, the
// ANSI code page and code-page conversion, time zone and file-time conversion.

#include "platform/ixOsTypes.h"

namespace ix::os {

// --- Ticks and last error -----------------------------------------------------------------

/// Milliseconds of the monotonic clock, 32 bits (wraps after 49.7 days, as on Windows).
DWORD GetTickCount() noexcept;
/// Milliseconds of the monotonic clock, 64 bits.
ULONGLONG GetTickCount64() noexcept;

/// The calling thread's last error code.
DWORD GetLastError() noexcept;
/// Sets the calling thread's last error code.
void SetLastError(DWORD dwErrCode) noexcept;

/// Overwrites ALength bytes at ADestination with zeros, in a way the compiler does not remove
/// (memory that held a secret, before it is released).
void SecureZeroMemory(void* ADestination, SIZE_T ALength) noexcept;

// --- Virtual memory -----------------------------------------------------------------------
inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD PAGE_READWRITE = 0x04;

/// Allocates dwSize bytes of zeroed pages of the process's own (not taken from the heap), for
/// blocks large enough to be worth whole pages. Blocks of 2 MB and more are placed on 2 MB
/// boundaries and offered to the system's large pages, so that filling them takes one fault
/// per 2 MB instead of one per page. Only the form the library uses is served: lpAddress
/// nullptr, MEM_COMMIT | MEM_RESERVE and PAGE_READWRITE, else ERROR_INVALID_PARAMETER; fails
/// with nullptr and ERROR_NOT_ENOUGH_MEMORY when the system has no room.
LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) noexcept;
/// Releases a block from VirtualAlloc (dwSize 0, MEM_RELEASE; else ERROR_INVALID_PARAMETER).
BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) noexcept;

// --- Error texts --------------------------------------------------------------------------
inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

/// Writes the system's message text for dwMessageId (ending in CR LF, as on Windows) with a
/// terminating NUL into lpBuffer (nSize characters) and returns its length without the NUL.
/// Only FORMAT_MESSAGE_FROM_SYSTEM is served (IGNORE_INSERTS and ARGUMENT_ARRAY are accepted:
/// the texts have no inserts); the language is ignored. Fails with 0 and sets the last error:
/// ERROR_MR_MID_NOT_FOUND for a code without a text, ERROR_INSUFFICIENT_BUFFER when the text
/// does not fit, ERROR_INVALID_PARAMETER for other sources, a buffer to allocate or no buffer.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
    LPSTR lpBuffer, DWORD nSize, void* Arguments);

// --- Code pages ---------------------------------------------------------------------------
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_OEMCP = 1;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x00000001;
inline constexpr DWORD MB_COMPOSITE = 0x00000002;
inline constexpr DWORD MB_USEGLYPHCHARS = 0x00000004;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

inline constexpr DWORD WC_DISCARDNS = 0x00000010;
inline constexpr DWORD WC_SEPCHARS = 0x00000020;
inline constexpr DWORD WC_DEFAULTCHAR = 0x00000040;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
inline constexpr DWORD WC_COMPOSITECHECK = 0x00000200;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

/// The process's ANSI code page: the page of the locale's character set (UTF-8 on a current
/// system, and for the C and POSIX locales) unless the application selected another.
UINT GetACP() noexcept;

/// Selects the process's ANSI code page: 1250, 1251, 1252 or 65001 (UTF-8). Returns false
/// (ERROR_INVALID_PARAMETER) for any other value and leaves the code page unchanged.
bool SetAnsiCodePage(UINT ACodePage) noexcept;

/// True for the code pages the conversions know: CP_ACP, CP_THREAD_ACP, 1250, 1251, 1252, 65001.
BOOL IsValidCodePage(UINT CodePage) noexcept;

/// Converts cbMultiByte bytes (-1: up to and including the NUL) of CodePage to UTF-16. With
/// cchWideChar 0 returns the number of code units needed; otherwise writes them and returns
/// the count. Bytes without a character (undefined positions map to U+0080..U+009F as Windows
/// does; malformed UTF-8 gives U+FFFD) fail with ERROR_NO_UNICODE_TRANSLATION only under
/// MB_ERR_INVALID_CHARS. Fails with 0: ERROR_INVALID_PARAMETER (unknown code page, no input,
/// cbMultiByte 0), ERROR_INVALID_FLAGS, ERROR_INSUFFICIENT_BUFFER.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
    LPWSTR lpWideCharStr, int cchWideChar);

/// Converts cchWideChar UTF-16 code units (-1: up to and including the NUL) to CodePage. With
/// cbMultiByte 0 returns the number of bytes needed. A character without a form in a single-byte
/// code page becomes lpDefaultChar's first byte ('?' by default) and sets *lpUsedDefaultChar;
/// with WC_COMPOSITECHECK a letter followed by a combining mark becomes the precomposed letter
/// when the code page has it, else the mark is dropped (WC_DISCARDNS) or the pair becomes the
/// default character (WC_DEFAULTCHAR). UTF-8 encodes every character (a lone surrogate as
/// U+FFFD, or failure with WC_ERR_INVALID_CHARS); its other flags and the default character
/// are ignored.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

// --- Time ---------------------------------------------------------------------------------

/// The local time zone from the C library's rules (TZ, /etc/localtime): Bias (minutes, UTC =
/// local + bias) of standard time, StandardBias 0, DaylightBias (usually -60) and the names and
/// this year's change-over dates when the zone observes daylight saving time. Returns
/// TIME_ZONE_ID_UNKNOWN for a zone without daylight saving time, else TIME_ZONE_ID_STANDARD or
/// TIME_ZONE_ID_DAYLIGHT for the time now.
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* lpTimeZoneInformation);

/// Fails (ERROR_INVALID_PARAMETER) for fields out of range (year 1601..30827).
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime);
/// Fails (ERROR_INVALID_PARAMETER) for a file time with the top bit set.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime);
/// UTC to local, with the offset in force at that instant (daylight saving time included).
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime);
/// Local to UTC, with the offset in force at that local time.
BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, FILETIME* lpFileTime);

/// The current time, UTC.
void GetSystemTime(SYSTEMTIME* lpSystemTime);
/// The current time, local.
void GetLocalTime(SYSTEMTIME* lpSystemTime);
/// The current time as a file time, UTC.
void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime);

} // namespace ix::os
