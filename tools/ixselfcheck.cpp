// ixselfcheck: prints the library version and the platform layer's facts, and checks that the
// services the library waits on work here. Exits 0 when every check passes.

#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"

#include <cstdio>
#include <string>
#include <thread>

using namespace ix::os;

namespace {

/// Prints one fact with its verdict; returns whether it passed.
bool Report(const char* AName, const std::string& AValue, bool AOk)
{
    std::printf("%-28s %-52s %s\n", AName, AValue.c_str(), AOk ? "ok" : "FAILED");
    return AOk;
}

bool CheckCodePage()
{
    const UINT codePage = GetACP();
    return Report("ANSI code page", std::to_string(codePage), IsValidCodePage(codePage) != FALSE);
}

bool CheckTickCount()
{
    const DWORD first = GetTickCount();
    const DWORD second = GetTickCount();
    return Report("tick count (ms)", std::to_string(first), DWORD(second - first) < 1000);
}

std::string ZoneText(LONG ABias)
{
    char text[16];
    const LONG minutes = ABias < 0 ? -ABias : ABias;
    std::snprintf(text, sizeof text, "%s%.2d%.2d", ABias <= 0 ? "+" : "-", int(minutes / 60), int(minutes % 60));
    return text;
}

bool CheckTimeZone()
{
    TIME_ZONE_INFORMATION info{};
    const DWORD id = GetTimeZoneInformation(&info);
    const bool daylight = id == TIME_ZONE_ID_DAYLIGHT;
    const LONG bias = info.Bias + (daylight ? info.DaylightBias : 0);
    const char* state = id == TIME_ZONE_ID_UNKNOWN ? "no daylight time" : daylight ? "daylight time" : "standard time";
    const std::string value = "bias " + std::to_string(info.Bias) + ", daylight bias "
        + std::to_string(info.DaylightBias) + ", " + state + ", " + ZoneText(bias);
    return Report("time zone", value, id != TIME_ZONE_ID_INVALID);
}

bool CheckFileTimes()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME utc{};
    FILETIME local{};
    FILETIME back{};
    const bool ok = SystemTimeToFileTime(&now, &utc) && FileTimeToLocalFileTime(&utc, &local)
        && LocalFileTimeToFileTime(&local, &back);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", now.wYear, now.wMonth, now.wDay, now.wHour,
        now.wMinute, now.wSecond);
    return Report("system time", text, ok);
}

/// ANSI text -> UTF-16 -> UTF-8 -> UTF-16 -> ANSI must give the text back.
bool CheckConversionRoundTrip()
{
    const std::string ansi = "Gr\xFC\xDF" "e \x80 5"; // "Grüße € 5" in Windows-1252
    char16_t wide[32];
    char utf8[64];
    char16_t wideAgain[32];
    char ansiAgain[32];
    const int w = MultiByteToWideChar(1252, MB_PRECOMPOSED, ansi.data(), int(ansi.size()), wide, 32);
    const int u = WideCharToMultiByte(CP_UTF8, 0, wide, w, utf8, 64, nullptr, nullptr);
    const int w2 = MultiByteToWideChar(CP_UTF8, 0, utf8, u, wideAgain, 32);
    const int a = WideCharToMultiByte(1252, 0x270, wideAgain, w2, ansiAgain, 32, nullptr, nullptr);
    const std::string utf8Text(utf8, size_t(u > 0 ? u : 0));
    return Report("code-page round trip", utf8Text + " (" + std::to_string(u) + " UTF-8 bytes)",
        w > 0 && std::string(ansiAgain, size_t(a > 0 ? a : 0)) == ansi);
}

bool CheckErrorText()
{
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 10061, 0,
        text, sizeof text, nullptr);
    return Report("error text 10061", length > 0 ? std::string(text, 40) + "..." : "none", length > 0);
}

/// A hidden window's timer fires while the thread waits with MsgWaitForMultipleObjects.
bool CheckTimerInMessageWait()
{
    constexpr UINT Interval = 50;
    constexpr DWORD Cap = 5000;
    int fired = 0;
    const HWND window = CreateHiddenWindow([&](HWND, UINT AMsg, WPARAM, LPARAM) -> LRESULT {
        fired += AMsg == WM_TIMER;
        return 0;
    });
    const HANDLE never = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD start = GetTickCount();
    bool ok = window && never && SetTimer(window, 1, Interval, nullptr);
    while (ok && fired == 0 && GetTickCount() - start < Cap)
    {
        ok = MsgWaitForMultipleObjects(1, &never, FALSE, Cap, QS_ALLEVENTS) == WAIT_OBJECT_0 + 1;
        MSG msg{};
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    const DWORD elapsed = GetTickCount() - start;
    CloseHandle(never);
    DestroyWindow(window);
    return Report("timer in message wait", "fired after " + std::to_string(elapsed) + " ms (set " +
        std::to_string(Interval) + ")", ok && fired > 0);
}

/// An event set by another thread wakes a wait.
bool CheckCrossThreadEvent()
{
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([event] { SetEvent(event); });
    const DWORD result = WaitForSingleObject(event, 5000);
    setter.join();
    CloseHandle(event);
    return Report("event from another thread", result == WAIT_OBJECT_0 ? "woke the wait" : "no wake",
        result == WAIT_OBJECT_0);
}

} // namespace

int main()
{
    std::printf("ix mail library %s self-check\n", IX_VERSION);
    bool ok = true;
    for (const auto check : {CheckCodePage, CheckTickCount, CheckTimeZone, CheckFileTimes, CheckConversionRoundTrip,
             CheckErrorText, CheckTimerInMessageWait, CheckCrossThreadEvent})
        ok = check() && ok;
    std::printf("%s\n", ok ? "all checks passed" : "some checks FAILED");
    return ok ? 0 : 1;
}
