#pragma once
// The socket error of the network layer, its library codes and texts, the owners of the event
// handles a connection waits on, and the message-pumping wait for a network event.

#include "core/ixErrorCodes.h"
#include "core/ixSysUtils.h"
#include "platform/ixOsTypes.h"

#include <cstdint>
#include <string>
#include <utility>

namespace ix {

/// A failure of the network layer. Negative codes are this library's own (core/ixErrorCodes.h); positive
/// codes are Windows Sockets or system error numbers, with the system's text.
class EixSocketError : public EixCodedError
{
public:
    /// Takes a message and an error code.
    using EixCodedError::EixCodedError;
};

/// The text of a code: the library's text for -1..-7, else the system's text (maybe empty).
std::string GetSocketErrorText(int32_t ACode);

/// Raises EixSocketError with ACode and GetSocketErrorText(ACode).
[[noreturn]] void RaiseSocketError(int32_t ACode);
/// Raises EixSocketError with AMessage and ACode.
[[noreturn]] void RaiseSocketError(const std::string& AMessage, int32_t ACode);

/// Waits for ANetworkEvent (or AAbortEvent, when not null) with the caller's window messages
/// dispatched meanwhile (unless ADisableGui). True when the network event is signalled; false
/// when the abort event is signalled or messages were serviced. Raises "Timeout error occured"
/// (-1) when the wait times out, or when messages were serviced and more than ATimeOut ms
/// (-1: no limit) have passed since AStartTick; a failed wait raises the socket error.
bool WaitForNetworkEvent(os::HANDLE ANetworkEvent, os::HANDLE AAbortEvent, os::DWORD AStartTick,
    bool ADisableGui, int32_t ATimeOut);

/// Move-only owner of a handle; TTraits gives its type, invalid value and close function.
template <typename TTraits>
class TixUniqueHandle
{
public:
    using THandle = typename TTraits::THandle; ///< the handle type of TTraits

    TixUniqueHandle() noexcept = default;
    /// Takes AHandle over.
    explicit TixUniqueHandle(THandle AHandle) noexcept : FHandle(AHandle) {}
    /// Takes the handle of AOther, which is left empty.
    TixUniqueHandle(TixUniqueHandle&& AOther) noexcept : FHandle(AOther.Release()) {}
    /// Closes the owned handle and takes the handle of AOther, which is left empty.
    TixUniqueHandle& operator=(TixUniqueHandle&& AOther) noexcept
    {
        Reset(AOther.Release());
        return *this;
    }
    TixUniqueHandle(const TixUniqueHandle&) = delete;
    TixUniqueHandle& operator=(const TixUniqueHandle&) = delete;
    ~TixUniqueHandle() { Reset(); }

    /// The handle, still owned.
    THandle Get() const noexcept { return FHandle; }
    /// A handle is owned.
    bool IsValid() const noexcept { return FHandle != TTraits::Invalid(); }
    /// Gives the handle up without closing it; the holder is left empty.
    THandle Release() noexcept { return std::exchange(FHandle, TTraits::Invalid()); }

    /// Closes the owned handle, if any, and takes AHandle.
    void Reset(THandle AHandle = TTraits::Invalid()) noexcept
    {
        if (FHandle != TTraits::Invalid())
            TTraits::Close(FHandle);
        FHandle = AHandle;
    }

private:
    THandle FHandle = TTraits::Invalid();
};

/// An event made by CreateEventA, closed with CloseHandle.
struct TixEventTraits
{
    using THandle = os::HANDLE; ///< an event handle
    /// The value of no handle.
    static THandle Invalid() noexcept { return nullptr; }
    /// Closes AHandle.
    static void Close(THandle AHandle) noexcept;
};
/// An owned event (CreateEventA).
using TixEventHandle = TixUniqueHandle<TixEventTraits>;

/// A Windows Sockets event made by WSACreateEvent, closed with WSACloseEvent.
struct TixWSAEventTraits
{
    using THandle = os::HANDLE; ///< a Windows Sockets event handle
    /// The value of no handle.
    static THandle Invalid() noexcept { return nullptr; }
    /// Closes AHandle.
    static void Close(THandle AHandle) noexcept;
};
/// An owned Windows Sockets event.
using TixWSAEventHandle = TixUniqueHandle<TixWSAEventTraits>;

/// A hidden window made by AllocateWindow, destroyed with DeallocateWindow.
struct TixWindowTraits
{
    using THandle = os::HWND; ///< a window handle
    /// The value of no handle.
    static THandle Invalid() noexcept { return nullptr; }
    /// Destroys the window.
    static void Close(THandle AHandle) noexcept;
};
/// An owned hidden window.
using TixWindowHandle = TixUniqueHandle<TixWindowTraits>;

/// One use of the socket library, held by each client component for its lifetime: WSAStartup
/// 2.2 when made (raises EixSocketError when the library cannot start), WSACleanup when destroyed.
class TixSocketLibraryUse
{
public:
    TixSocketLibraryUse();
    ~TixSocketLibraryUse();
    TixSocketLibraryUse(const TixSocketLibraryUse&) = delete;
    TixSocketLibraryUse& operator=(const TixSocketLibraryUse&) = delete;
};

/// A new auto-reset, non-signalled event; raises the socket error of GetLastError on failure.
TixEventHandle CreateAutoResetEvent();

} // namespace ix
