#include "net/ixSocketUtils.h"

#include "net/ixWinSock2.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsSockets.h"
#include "util/ixUtils.h"

#include <array>

namespace ix {

namespace {

constexpr std::array<const char*, 7> LibraryTexts = {
    "Timeout error occured",
    "Invalid host address",
    "Invalid port number",
    "Invalid Batch Size",
    "NetworkStream is required",
    "The connection to the server is not active",
    "Invalid address family",
};

bool TimedOut(os::DWORD AStartTick, int32_t ATimeOut) noexcept
{
    return ATimeOut != -1 && static_cast<int32_t>(os::GetTickCount() - AStartTick) > ATimeOut;
}

} // namespace

std::string GetSocketErrorText(int32_t ACode)
{
    if (ACode < 0 && -ACode <= static_cast<int32_t>(LibraryTexts.size()))
        return LibraryTexts[static_cast<size_t>(-ACode - 1)];
    return GetSysErrorText(ACode);
}

void RaiseSocketError(int32_t ACode)
{
    throw EixSocketError(GetSocketErrorText(ACode), ACode);
}

void RaiseSocketError(const std::string& AMessage, int32_t ACode)
{
    throw EixSocketError(AMessage, ACode);
}

bool WaitForNetworkEvent(os::HANDLE ANetworkEvent, os::HANDLE AAbortEvent, os::DWORD AStartTick,
    bool ADisableGui, int32_t ATimeOut)
{
    const os::HANDLE handles[2] = {ANetworkEvent, AAbortEvent};
    const os::DWORD count = AAbortEvent != nullptr ? 2 : 1;
    const os::DWORD mask = ADisableGui ? 0 : os::QS_ALLEVENTS;
    const os::DWORD result =
        os::MsgWaitForMultipleObjects(count, handles, os::FALSE, static_cast<os::DWORD>(ATimeOut), mask);
    if (result == os::WAIT_FAILED)
        RaiseSocketError(os::WSAGetLastError());
    if (result == os::WAIT_TIMEOUT)
        RaiseSocketError(SocketErrorTimeout);
    if (result == os::WAIT_OBJECT_0 + count)
    {
        os::MSG msg;
        while (!ADisableGui && os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE))
        {
            os::TranslateMessage(&msg);
            os::DispatchMessageA(&msg);
            if (TimedOut(AStartTick, ATimeOut))
                RaiseSocketError(SocketErrorTimeout);
        }
        if (TimedOut(AStartTick, ATimeOut))
            RaiseSocketError(SocketErrorTimeout);
    }
    return result == os::WAIT_OBJECT_0;
}

void TixEventTraits::Close(THandle AHandle) noexcept
{
    (void)os::CloseHandle(AHandle);
}

void TixWSAEventTraits::Close(THandle AHandle) noexcept
{
    try
    {
        (void)ix::WSACloseEvent(AHandle);
    }
    catch (...) // the library that made the event is loaded: nothing to report here
    {
    }
}

void TixWindowTraits::Close(THandle AHandle) noexcept
{
    DeallocateWindow(AHandle);
}

TixSocketLibraryUse::TixSocketLibraryUse()
{
    constexpr os::WORD SocketsVersion = 0x0202;
    if (os::WSAStartup(SocketsVersion, nullptr) != 0)
        RaiseSocketError(os::WSAGetLastError());
}

TixSocketLibraryUse::~TixSocketLibraryUse()
{
    os::WSACleanup();
}

TixEventHandle CreateAutoResetEvent()
{
    TixEventHandle event(os::CreateEventA(nullptr, os::FALSE, os::FALSE, nullptr));
    if (!event.IsValid())
        RaiseSocketError(static_cast<int32_t>(os::GetLastError()));
    return event;
}

} // namespace ix
