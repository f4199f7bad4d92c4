#pragma once
// The export tables behind LoadLibraryA/GetProcAddress (internal: not installed). Each API
// family of the platform layer that the library binds at run time lists its functions here and
// its modules in the registry of ixOsModules.cpp.

#include "platform/ixOsModules.h"

#include <span>

namespace ix::os::internal {

/// One exported function of a module.
struct TModuleExport
{
    const char* Name;
    FARPROC Proc;
};

/// The functions of the security interface ("security.dll", "schannel.dll", "secur32.dll").
std::span<const TModuleExport> SecurityModuleExports() noexcept;

/// The Windows Sockets 2 functions ("ws2_32.dll"); without the resolver while it is hidden.
std::span<const TModuleExport> WinSock2ModuleExports() noexcept;

/// The Windows Sockets 1.1 functions ("wsock32.dll").
std::span<const TModuleExport> WinSockModuleExports() noexcept;

}  // namespace ix::os::internal
