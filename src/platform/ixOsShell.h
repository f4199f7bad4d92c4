#pragma once
// The shell's "open" verb: hands a document or an address to the desktop's default handler.

#include "platform/ixOsTypes.h"

namespace ix::os {

inline constexpr INT SW_HIDE = 0;
inline constexpr INT SW_SHOWNORMAL = 1;
inline constexpr INT SW_SHOW = 5;
inline constexpr INT SW_RESTORE = 9;

/// ShellExecuteA results at or below 32 are errors.
inline constexpr INT SE_ERR_ACCESSDENIED = 5;
inline constexpr INT SE_ERR_NOASSOC = 31;

/// Opens lpFile (a path or a URL) with the desktop's handler (xdg-open, started detached; the
/// call does not wait for it). lpOperation must be "open" or null; any other verb gives
/// SE_ERR_NOASSOC. lpParameters must be null or empty (a document takes no parameters:
/// SE_ERR_NOASSOC otherwise); lpDirectory, when given, is the handler's working folder. hwnd and
/// nShowCmd are accepted and not used: the desktop decides how its handler shows itself.
/// Returns a value above 32 on success; otherwise ERROR_FILE_NOT_FOUND (2) when the file is
/// empty or no handler is installed, SE_ERR_ACCESSDENIED when it cannot be started, with the
/// last error set to the same code.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
    LPCSTR lpDirectory, INT nShowCmd);

} // namespace ix::os
