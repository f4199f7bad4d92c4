#pragma once
// Failing the Windows way: set the thread's last error, return the failure value (internal).

#include "platform/ixOsKernel.h"

namespace ix::os::internal {

/// Sets the last error to AError and returns AResult.
template <typename T>
T Fail(DWORD AError, T AResult) noexcept
{
    SetLastError(AError);
    return AResult;
}

} // namespace ix::os::internal
