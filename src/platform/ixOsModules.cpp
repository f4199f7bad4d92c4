#include "platform/ixOsModules.h"

#include "platform/internal/ixOsModuleExports.h"
#include "platform/ixOsKernel.h"

#include <array>
#include <cstring>
#include <mutex>
#include <string_view>
#include <strings.h>

namespace ix::os {

namespace {

using TExportsFunction = std::span<const internal::TModuleExport> (*)() noexcept;

struct TModule
{
    const char* FileName;
    TExportsFunction Exports;
};

// The modules this platform provides. The security interface answers under each of the names
// that the library tries in turn.
constexpr std::array<TModule, 5> Modules{{
    {"security.dll", internal::SecurityModuleExports},
    {"schannel.dll", internal::SecurityModuleExports},
    {"secur32.dll", internal::SecurityModuleExports},
    {"ws2_32.dll", internal::WinSock2ModuleExports},
    {"wsock32.dll", internal::WinSockModuleExports},
}};

// A module's handle is a fixed value per module, far above 32 (values of 32 or less are error
// codes on Windows); loads are counted so that the handle stays valid until the last FreeLibrary.
constexpr uintptr_t HandleBase = 0x10000;

std::mutex LoadLock;
std::array<unsigned, Modules.size()> LoadCounts{};

HMODULE HandleOf(size_t AIndex) noexcept
{
    return reinterpret_cast<HMODULE>(HandleBase * (AIndex + 1));
}

/// The index of a loaded module's handle, or Modules.size() for anything else. Call under
/// LoadLock.
size_t LoadedIndexOf(HMODULE AHandle) noexcept
{
    const auto value = reinterpret_cast<uintptr_t>(AHandle);
    if (value == 0 || value % HandleBase != 0)
        return Modules.size();
    const size_t index = value / HandleBase - 1;
    if (index >= Modules.size() || LoadCounts[index] == 0)
        return Modules.size();
    return index;
}

std::string_view FileNameOf(std::string_view APath) noexcept
{
    const size_t slash = APath.find_last_of("\\/");
    return slash == std::string_view::npos ? APath : APath.substr(slash + 1);
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string_view name = FileNameOf(lpLibFileName);
    for (size_t i = 0; i < Modules.size(); ++i)
    {
        const std::string_view candidate = Modules[i].FileName;
        if (candidate.size() == name.size()
            && strncasecmp(candidate.data(), name.data(), name.size()) == 0)
        {
            const std::lock_guard<std::mutex> lock(LoadLock);
            ++LoadCounts[i];
            return HandleOf(i);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    size_t index;
    {
        const std::lock_guard<std::mutex> lock(LoadLock);
        index = LoadedIndexOf(hModule);
    }
    if (index == Modules.size())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpProcName != nullptr)
        for (const internal::TModuleExport& item : Modules[index].Exports())
            if (std::strcmp(item.Name, lpProcName) == 0)
                return item.Proc;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hModule)
{
    const std::lock_guard<std::mutex> lock(LoadLock);
    const size_t index = LoadedIndexOf(hModule);
    if (index == Modules.size())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --LoadCounts[index];
    return TRUE;
}

}  // namespace ix::os
