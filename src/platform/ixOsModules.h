#pragma once
// Run-time binding of system libraries: LoadLibraryA, GetProcAddress and FreeLibrary over a
// registry of the modules this platform layer provides. Each module is a name (compared without
// regard to letter case, as file names are on Windows) with a table of exported functions.

#include "platform/ixOsTypes.h"

namespace ix::os {

/// The address of an exported function; cast it to the function's own type before calling.
using FARPROC = void (*)();

/// Loads the module named lpLibFileName (a bare file name such as "secur32.dll"; a path is
/// reduced to its file name). Returns a module handle above 32, or null with ERROR_MOD_NOT_FOUND
/// when no such module is provided. Every successful call needs its own FreeLibrary.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);

/// The function lpProcName exported by hModule (names compare exactly), or null with
/// ERROR_PROC_NOT_FOUND; an unknown or freed module gives null with ERROR_INVALID_HANDLE.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

/// Releases one load of hModule; FALSE with ERROR_INVALID_HANDLE for an unknown handle.
BOOL FreeLibrary(HMODULE hModule);

}  // namespace ix::os
