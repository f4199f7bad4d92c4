#pragma once
// The message texts of the system error codes the library can meet (internal).

#include "platform/ixOsTypes.h"

namespace ix::os::internal {

/// The text of ACode without a line end, or null when the table has none.
const char* FindErrorText(DWORD ACode) noexcept;

} // namespace ix::os::internal
