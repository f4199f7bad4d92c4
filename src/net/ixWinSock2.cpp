#include "net/ixWinSock2.h"

#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsModules.h"
#include "util/ixUtils.h"

#include <atomic>
#include <mutex>

namespace ix {

namespace {

/// Module handles of 32 or less are failures.
constexpr uintptr_t MaxFailedModuleHandle = 32;

std::mutex BindingLock;

[[noreturn]] void RaiseLoadError(os::DWORD ACode)
{
    throw Exception(GetSysErrorText(static_cast<int32_t>(ACode)));
}

/// One library and the functions bound from it.
template <typename TProcs>
class TLibraryBinding
{
public:
    explicit TLibraryBinding(const char* AFileName) : FFileName(AFileName) {}

    /// The bound functions; loads the library on first use. Raises Exception on failure.
    const TProcs& Procs()
    {
        if (const TProcs* procs = FLoaded.load(std::memory_order_acquire))
            return *procs;
        std::lock_guard lock(BindingLock);
        if (FLoaded.load(std::memory_order_relaxed) == nullptr)
            LoadLocked();
        return FProcs;
    }

    void Free() noexcept
    {
        std::lock_guard lock(BindingLock);
        if (FLoaded.exchange(nullptr) != nullptr)
            (void)os::FreeLibrary(FModule);
        FModule = nullptr;
    }

private:
    void LoadLocked()
    {
        FModule = os::LoadLibraryA(FFileName);
        if (reinterpret_cast<uintptr_t>(FModule) <= MaxFailedModuleHandle)
            RaiseLoadError(os::GetLastError());
        try
        {
            FProcs.Bind(*this);
        }
        catch (...)
        {
            (void)os::FreeLibrary(FModule);
            FModule = nullptr;
            throw;
        }
        FLoaded.store(&FProcs, std::memory_order_release);
    }

public:
    /// Binds AProc to the export AName; a missing required export raises.
    template <typename F>
    void Bind(const char* AName, F*& AProc, bool ARequired = true)
    {
        AProc = reinterpret_cast<F*>(os::GetProcAddress(FModule, AName));
        if (AProc == nullptr && ARequired)
            RaiseLoadError(os::GetLastError());
    }

private:
    const char* FFileName;
    os::HMODULE FModule = nullptr;
    TProcs FProcs{};
    std::atomic<const TProcs*> FLoaded{nullptr};
};

struct TWinSock2Procs
{
    decltype(os::WSACreateEvent)* WSACreateEvent;
    decltype(os::WSAResetEvent)* WSAResetEvent;
    decltype(os::WSACloseEvent)* WSACloseEvent;
    decltype(os::WSAEventSelect)* WSAEventSelect;
    decltype(os::WSAWaitForMultipleEvents)* WSAWaitForMultipleEvents;
    decltype(os::WSAEnumNetworkEvents)* WSAEnumNetworkEvents;
    decltype(os::getaddrinfo)* getaddrinfo;
    decltype(os::freeaddrinfo)* freeaddrinfo;

    template <typename TBinding>
    void Bind(TBinding& ALibrary)
    {
        ALibrary.Bind("WSACreateEvent", WSACreateEvent);
        ALibrary.Bind("WSAResetEvent", WSAResetEvent);
        ALibrary.Bind("WSACloseEvent", WSACloseEvent);
        ALibrary.Bind("WSAEventSelect", WSAEventSelect);
        ALibrary.Bind("WSAWaitForMultipleEvents", WSAWaitForMultipleEvents);
        ALibrary.Bind("WSAEnumNetworkEvents", WSAEnumNetworkEvents);
        ALibrary.Bind("getaddrinfo", getaddrinfo, false);
        ALibrary.Bind("freeaddrinfo", freeaddrinfo, false);
    }
};

struct TWinSockProcs
{
    decltype(os::connect)* connect;
    decltype(os::getsockname)* getsockname;
    decltype(os::bind)* bind;
    decltype(os::accept)* accept;
    decltype(os::recvfrom)* recvfrom;
    decltype(os::sendto)* sendto;

    template <typename TBinding>
    void Bind(TBinding& ALibrary)
    {
        ALibrary.Bind("connect", connect);
        ALibrary.Bind("getsockname", getsockname);
        ALibrary.Bind("bind", bind);
        ALibrary.Bind("accept", accept);
        ALibrary.Bind("recvfrom", recvfrom);
        ALibrary.Bind("sendto", sendto);
    }
};

TLibraryBinding<TWinSock2Procs> WinSock2("ws2_32.dll");
TLibraryBinding<TWinSockProcs> WinSock("wsock32.dll");

} // namespace

// --- "ws2_32.dll" -------------------------------------------------------------------------

os::WSAEVENT WSACreateEvent()
{
    return WinSock2.Procs().WSACreateEvent();
}

os::BOOL WSAResetEvent(os::WSAEVENT hEvent)
{
    return WinSock2.Procs().WSAResetEvent(hEvent);
}

os::BOOL WSACloseEvent(os::WSAEVENT hEvent)
{
    return WinSock2.Procs().WSACloseEvent(hEvent);
}

int WSAEventSelect(os::SOCKET s, os::WSAEVENT hEventObject, os::LONG lNetworkEvents)
{
    return WinSock2.Procs().WSAEventSelect(s, hEventObject, lNetworkEvents);
}

os::DWORD WSAWaitForMultipleEvents(os::DWORD cEvents, const os::WSAEVENT* lphEvents, os::BOOL fWaitAll,
    os::DWORD dwTimeout, os::BOOL fAlertable)
{
    return WinSock2.Procs().WSAWaitForMultipleEvents(cEvents, lphEvents, fWaitAll, dwTimeout, fAlertable);
}

int WSAEnumNetworkEvents(os::SOCKET s, os::WSAEVENT hEventObject, os::LPWSANETWORKEVENTS lpNetworkEvents)
{
    return WinSock2.Procs().WSAEnumNetworkEvents(s, hEventObject, lpNetworkEvents);
}

int getaddrinfo(const char* pNodeName, const char* pServiceName, const os::ADDRINFOA* pHints,
    os::PADDRINFOA* ppResult)
{
    const auto proc = WinSock2.Procs().getaddrinfo;
    if (proc == nullptr)
        return os::WSANO_RECOVERY;
    return proc(pNodeName, pServiceName, pHints, ppResult);
}

void freeaddrinfo(os::PADDRINFOA pAddrInfo)
{
    if (pAddrInfo == nullptr)
        return;
    if (const auto proc = WinSock2.Procs().freeaddrinfo)
        proc(pAddrInfo);
}

bool IsIpV6Available()
{
    const TWinSock2Procs& procs = WinSock2.Procs();
    return procs.getaddrinfo != nullptr && procs.freeaddrinfo != nullptr;
}

// --- "wsock32.dll" ------------------------------------------------------------------------

int connect(os::SOCKET s, const os::SOCKADDR* name, int namelen)
{
    return WinSock.Procs().connect(s, name, namelen);
}

int getsockname(os::SOCKET s, os::SOCKADDR* name, int* namelen)
{
    return WinSock.Procs().getsockname(s, name, namelen);
}

int bind(os::SOCKET s, const os::SOCKADDR* name, int namelen)
{
    return WinSock.Procs().bind(s, name, namelen);
}

os::SOCKET accept(os::SOCKET s, os::SOCKADDR* addr, int* addrlen)
{
    return WinSock.Procs().accept(s, addr, addrlen);
}

int recvfrom(os::SOCKET s, char* buf, int len, int flags, os::SOCKADDR* from, int* fromlen)
{
    return WinSock.Procs().recvfrom(s, buf, len, flags, from, fromlen);
}

int sendto(os::SOCKET s, const char* buf, int len, int flags, const os::SOCKADDR* to, int tolen)
{
    return WinSock.Procs().sendto(s, buf, len, flags, to, tolen);
}

void FreeWinSockLibraries() noexcept
{
    WinSock2.Free();
    WinSock.Free();
}

} // namespace ix
