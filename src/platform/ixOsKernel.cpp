#include "platform/ixOsKernel.h"

#include <time.h>

namespace ix::os {

namespace {

thread_local DWORD LastError = ERROR_SUCCESS;

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

} // namespace ix::os
