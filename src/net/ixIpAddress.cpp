#include "net/ixIpAddress.h"

#include "core/ixStrings.h"
#include "net/ixSocketUtils.h"
#include "net/ixWinSock2.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "util/ixUtils.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

namespace ix {

namespace {

constexpr int32_t MaxPort = 65535;

/// Owner of a getaddrinfo result.
struct TAddrInfoFree
{
    void operator()(os::ADDRINFOA* AList) const noexcept { ix::freeaddrinfo(AList); }
};
using TAddrInfoPtr = std::unique_ptr<os::ADDRINFOA, TAddrInfoFree>;

/// The text of a record's address: IPv4 text for family 2, IPv6 text for 23, else empty.
std::string AddrInfoText(const os::ADDRINFOA& ARecord)
{
    if (ARecord.ai_family == os::AF_INET)
    {
        os::SOCKADDR_IN address;
        std::memcpy(&address, ARecord.ai_addr, sizeof address);
        const char* text = os::inet_ntoa(address.sin_addr);
        return text != nullptr ? text : std::string();
    }
    if (ARecord.ai_family == os::AF_INET6)
    {
        os::SOCKADDR_IN6 address;
        std::memcpy(&address, ARecord.ai_addr, sizeof address);
        return IPv6ToText(address.sin6_addr);
    }
    return {};
}

/// The port field of a family-2 or family-23 socket address (same offset in both).
os::USHORT* PortField(os::SOCKADDR* AAddress)
{
    return &reinterpret_cast<os::SOCKADDR_IN*>(AAddress)->sin_port;
}

/// One getaddrinfo on a worker thread, shared with it: a lookup that the caller gave up on
/// finishes on its own and frees its result with this state.
struct TLookupState
{
    TixEventHandle Done = CreateAutoResetEvent();
    std::atomic<bool> Finished{false};
    int Error = 0;
    TAddrInfoPtr Result;
};

/// getaddrinfo of AHost with AHints (on a worker that AWait waits for, when given); raises the
/// socket error of a failure.
TAddrInfoPtr LookUp(const std::string& AHost, const os::ADDRINFOA& AHints, const TixLookupWait& AWait)
{
    if (!AWait)
    {
        os::ADDRINFOA* list = nullptr;
        if (const int error = ix::getaddrinfo(AHost.c_str(), nullptr, &AHints, &list))
            RaiseSocketError(error);
        return TAddrInfoPtr(list);
    }
    auto state = std::make_shared<TLookupState>();
    std::thread([state, AHost, AHints] {
        os::ADDRINFOA* list = nullptr;
        state->Error = ix::getaddrinfo(AHost.c_str(), nullptr, &AHints, &list);
        state->Result.reset(list);
        state->Finished.store(true, std::memory_order_release);
        (void)os::SetEvent(state->Done.Get());
    }).detach();
    bool finished = false;
    while (!finished)
    {
        if (!AWait(state->Done.Get()))
            RaiseSocketError(SocketErrorNotActive);
        finished = state->Finished.load(std::memory_order_acquire);
    }
    if (state->Error != 0)
        RaiseSocketError(state->Error);
    return std::move(state->Result);
}

template <typename TAddress>
std::unique_ptr<TixIPAddress> TryParse(const std::string& AText)
{
    auto address = std::make_unique<TAddress>();
    if (!address->Parse(AText))
        return nullptr;
    return address;
}

std::unique_ptr<TixIPAddress> NewAddressObject()
{
    if (IsIpV6Available())
        return std::make_unique<TixIPAddress6>();
    return std::make_unique<TixIPAddress4>();
}

} // namespace

// --- Texts ----------------------------------------------------------------------------------

std::string IPv6ToText(const os::IN6_ADDR& AAddress)
{
    std::string text;
    const auto appendGroup = [&text](int AGroup) { text += IntToHex(static_cast<uint64_t>(AGroup), 1); };
    const auto separate = [&text] {
        if (!text.empty())
            text += ':';
    };
    int zeros = 0; // length of the open zero run; -1 once a run has ended
    for (int i = 0; i < 8; ++i)
    {
        const int group = AAddress.u.Byte[2 * i] * 256 + AAddress.u.Byte[2 * i + 1];
        if (zeros >= 0 && group == 0)
        {
            ++zeros;
            continue;
        }
        if (zeros == 1)
        {
            separate();
            text += "0:";
            zeros = -1;
        }
        else if (zeros >= 2)
        {
            text += "::";
            zeros = -1;
        }
        else
            separate();
        appendGroup(group);
    }
    if (zeros == 1)
    {
        separate();
        text += '0';
    }
    else if (zeros >= 2)
        text += "::";
    return text;
}

std::string IPv4BytesToText(const uint8_t* ABytes)
{
    return Format("%d.%d.%d.%d", ABytes[0], ABytes[1], ABytes[2], ABytes[3]);
}

// --- TixIPAddress ---------------------------------------------------------------------------

void TixIPAddress::SetPort(int32_t APort)
{
    // A port above 65535 would be cut to 16 bits and name another port: refuse it too.
    if (APort < 0 || APort > MaxPort)
        RaiseSocketError(SocketErrorInvalidPort);
}

std::unique_ptr<TixIPAddress> TixIPAddress::CreateIpAddress(const std::string& AText)
{
    if (auto address = TryParse<TixIPAddress6>(AText))
        return address;
    if (auto address = TryParse<TixIPAddress4>(AText))
        return address;
    RaiseSocketError(SocketErrorInvalidHost);
}

std::unique_ptr<TixIPAddress> TixIPAddress::CreateEmpty(int32_t AFamily)
{
    auto address = NewAddressObject();
    address->SetFamily(AFamily);
    return address;
}

std::unique_ptr<TixIPAddress> TixIPAddress::CreateAnyAddress(int32_t AFamily)
{
    auto address = NewAddressObject();
    address->SetAnyAddress(AFamily);
    return address;
}

std::unique_ptr<TixIPAddress> TixIPAddress::CreateBindingAddress(const std::string& AText, int32_t AFamily)
{
    return AText.empty() ? CreateAnyAddress(AFamily) : CreateIpAddress(AText);
}

bool TixIPAddress::IsValidIP(const std::string& AText)
{
    return !AText.empty() && (TryParse<TixIPAddress6>(AText) || TryParse<TixIPAddress4>(AText));
}

// --- TixIPAddress4 --------------------------------------------------------------------------

TixIPAddress4::TixIPAddress4()
{
    Clear();
}

bool TixIPAddress4::IsIpV6() const
{
    return false;
}

os::SOCKADDR* TixIPAddress4::GetSockAddr()
{
    return reinterpret_cast<os::SOCKADDR*>(&FAddress);
}

int32_t TixIPAddress4::GetFamily() const
{
    return FAddress.sin_family;
}

int32_t TixIPAddress4::GetSockAddrLen() const
{
    return sizeof(os::SOCKADDR_IN);
}

int32_t TixIPAddress4::GetPort() const
{
    return os::ntohs(FAddress.sin_port);
}

void TixIPAddress4::Clear()
{
    FAddress = os::SOCKADDR_IN{};
}

bool TixIPAddress4::Parse(const std::string& AText)
{
    Clear();
    const os::ULONG value = os::inet_addr(AText.c_str());
    if (value == os::INADDR_NONE)
        return false;
    FAddress.sin_addr.S_un.S_addr = value;
    FAddress.sin_family = os::AF_INET;
    return true;
}

void TixIPAddress4::SetFamily(int32_t AFamily)
{
    if (AFamily != os::AF_INET)
        RaiseSocketError(SocketErrorInvalidFamily);
    Clear();
    FAddress.sin_family = os::AF_INET;
}

void TixIPAddress4::SetAnyAddress(int32_t AFamily)
{
    SetFamily(AFamily);
    FAddress.sin_addr.S_un.S_addr = os::INADDR_ANY;
}

void TixIPAddress4::SetPort(int32_t APort)
{
    TixIPAddress::SetPort(APort);
    FAddress.sin_port = os::htons(static_cast<os::USHORT>(APort));
}

std::string TixIPAddress4::GetText() const
{
    const char* text = os::inet_ntoa(FAddress.sin_addr);
    return text != nullptr ? text : std::string();
}

// --- TixIPAddress6 --------------------------------------------------------------------------

TixIPAddress6::~TixIPAddress6()
{
    Clear();
}

bool TixIPAddress6::IsIpV6() const
{
    return GetFamily() == os::AF_INET6;
}

os::SOCKADDR* TixIPAddress6::GetSockAddr()
{
    return FAddress != nullptr ? FAddress->ai_addr : nullptr;
}

int32_t TixIPAddress6::GetFamily() const
{
    return FAddress != nullptr ? FAddress->ai_family : 0;
}

int32_t TixIPAddress6::GetSockAddrLen() const
{
    return FAddress != nullptr ? static_cast<int32_t>(FAddress->ai_addrlen) : 0;
}

int32_t TixIPAddress6::GetPort() const
{
    const int32_t family = GetFamily();
    if (family != os::AF_INET && family != os::AF_INET6)
        return 0;
    return os::ntohs(*PortField(FAddress->ai_addr));
}

void TixIPAddress6::Clear()
{
    if (FAddress != nullptr)
        ix::freeaddrinfo(std::exchange(FAddress, nullptr));
}

bool TixIPAddress6::Parse(const std::string& AText)
{
    Clear();
    if (!IsIpV6Available())
        return false;
    os::ADDRINFOA hints{};
    hints.ai_flags = os::AI_NUMERICHOST;
    hints.ai_family = os::AF_UNSPEC;
    os::ADDRINFOA* list = nullptr;
    if (ix::getaddrinfo(AText.c_str(), nullptr, &hints, &list) != 0)
        return false;
    FAddress = list;
    return true;
}

void TixIPAddress6::SetFamily(int32_t AFamily)
{
    if (AFamily != os::AF_INET && AFamily != os::AF_INET6)
        RaiseSocketError(SocketErrorInvalidFamily);
    if (!Parse(AFamily == os::AF_INET6 ? "::" : "0.0.0.0"))
        RaiseSocketError(SocketErrorInvalidHost);
}

void TixIPAddress6::SetAnyAddress(int32_t AFamily)
{
    SetFamily(AFamily); // "::" and "0.0.0.0" are the any-addresses already
}

void TixIPAddress6::SetPort(int32_t APort)
{
    TixIPAddress::SetPort(APort);
    const int32_t family = GetFamily();
    if (family != os::AF_INET && family != os::AF_INET6)
        RaiseSocketError(SocketErrorInvalidHost);
    *PortField(FAddress->ai_addr) = os::htons(static_cast<os::USHORT>(APort));
}

std::string TixIPAddress6::GetText() const
{
    return FAddress != nullptr ? AddrInfoText(*FAddress) : std::string();
}

// --- TixHostResolver ------------------------------------------------------------------------

void TixHostResolver::ResolveHost(const std::string& AHost, bool AUseIpV6, std::string& AIP,
    const TixLookupWait& AWait)
{
    std::unique_ptr<TixHostResolver> resolver;
    if (IsIpV6Available())
        resolver = std::make_unique<TixHostResolver6>(AUseIpV6, AWait);
    else
        resolver = std::make_unique<TixHostResolver4>();
    resolver->GetIPAddress(AHost, AIP);
}

// --- TixHostResolver4 -----------------------------------------------------------------------

namespace {

const os::HOSTENT& HostEntry(const std::unique_ptr<char[]>& ABuffer)
{
    return *reinterpret_cast<const os::HOSTENT*>(ABuffer.get());
}

std::string HostEntryAddressText(const os::HOSTENT& AEntry, int AIndex)
{
    return IPv4BytesToText(reinterpret_cast<const uint8_t*>(AEntry.h_addr_list[AIndex]));
}

} // namespace

void TixHostResolver4::GetIPAddress(const std::string& AHost, std::string& AIP)
{
    AIP = AHost;
    if (TixIPAddress::IsValidIP(AHost))
        return;
    const auto buffer = LookupHost(AHost, LookupTimeOut);
    const os::HOSTENT& entry = HostEntry(buffer);
    AIP = entry.h_addr_list != nullptr && entry.h_addr_list[0] != nullptr ? HostEntryAddressText(entry, 0) : std::string();
}

void TixHostResolver4::GetIPList(const std::string& AHost, TStrings& AList)
{
    AList.Clear();
    const auto buffer = LookupHost(AHost, LookupTimeOut);
    const os::HOSTENT& entry = HostEntry(buffer);
    if (entry.h_addrtype != os::AF_INET || entry.h_length != 4)
        return;
    for (int i = 0; entry.h_addr_list[i] != nullptr && !FIsAborted; ++i)
        AList.Add(HostEntryAddressText(entry, i));
}

std::unique_ptr<char[]> TixHostResolver4::LookupHost(const std::string& AHost, int32_t ATimeOut)
{
    auto buffer = std::make_unique<char[]>(os::MAXGETHOSTSTRUCT);
    const TixEventHandle event = CreateAutoResetEvent();
    FEvent = event.Get();
    const TixWindowHandle window(AllocateWindow([this](os::HWND, os::UINT AMsg, os::WPARAM AWParam, os::LPARAM ALParam) {
        if (AMsg == LookupMessage && FTaskHandle != nullptr && reinterpret_cast<os::HANDLE>(AWParam) == FTaskHandle)
        {
            FErrorCode = os::WSAGETASYNCERROR(ALParam);
            (void)os::SetEvent(FEvent);
        }
        return os::LRESULT{0};
    }));
    // Declared after the window: runs first, so the window dies with an empty queue.
    struct TPurge
    {
        os::HWND Window;
        ~TPurge()
        {
            os::MSG msg;
            while (os::PeekMessageA(&msg, Window, 0, 0, os::PM_REMOVE))
            {
            }
        }
    } purge{window.Get()};

    FErrorCode = 0;
    FTaskHandle = os::WSAAsyncGetHostByName(window.Get(), LookupMessage, AHost.c_str(), buffer.get(), os::MAXGETHOSTSTRUCT);
    if (FTaskHandle == nullptr)
        RaiseSocketError(os::WSAGetLastError());
    WaitForLookup(event.Get(), ATimeOut);
    FTaskHandle = nullptr;
    if (FErrorCode != 0)
        RaiseSocketError(FErrorCode);
    return buffer;
}

void TixHostResolver4::WaitForLookup(os::HANDLE AEvent, int32_t ATimeOut)
{
    const auto cancel = [this] {
        (void)os::WSACancelAsyncRequest(FTaskHandle);
        FTaskHandle = nullptr;
    };
    FIsAborted = false;
    // The limit runs from the start of the lookup: dispatched messages do not restart it.
    const os::DWORD start = os::GetTickCount();
    try
    {
        do
        {
            if (WaitForNetworkEvent(AEvent, nullptr, start, FDisableGuiProcessing, ATimeOut))
                return;
        } while (!FIsAborted);
    }
    catch (...)
    {
        cancel();
        throw;
    }
    // Aborted: no result, and the lookup must not write into the buffer once it is freed.
    cancel();
}

// --- TixHostResolver6 -----------------------------------------------------------------------

void TixHostResolver6::GetIPAddress(const std::string& AHost, std::string& AIP)
{
    AIP = AHost;
    if (TixIPAddress::IsValidIP(AHost))
        return;
    const TAddrInfoPtr list = LookUp(AHost, os::ADDRINFOA{}, FWait);
    const int wanted = FUseIpV6 ? os::AF_INET6 : os::AF_INET;
    const os::ADDRINFOA* taken = list.get();
    for (const os::ADDRINFOA* item = list.get(); item != nullptr; item = item->ai_next)
        if (item->ai_family == wanted)
        {
            taken = item;
            break;
        }
    AIP = taken != nullptr ? AddrInfoText(*taken) : std::string();
}

void TixHostResolver6::GetIPList(const std::string& AHost, TStrings& AList)
{
    AList.Clear();
    const TAddrInfoPtr list = LookUp(AHost, os::ADDRINFOA{}, FWait);
    for (const os::ADDRINFOA* item = list.get(); item != nullptr; item = item->ai_next)
        if (item->ai_family == os::AF_INET6 || item->ai_family == os::AF_INET)
            AList.Add(AddrInfoText(*item));
}

} // namespace ix
