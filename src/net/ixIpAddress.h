#pragma once
// Socket addresses made from numeric address text and back (IPv4 and, where the system has the
// protocol-independent resolver, IPv6), and host name resolution.

#include "core/ixClasses.h"
#include "platform/ixOsSockets.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ix {

class TStrings;

/// A socket address of the system's socket functions.
class TixIPAddress : public TObject
{
public:
    /// True for an IPv6 address.
    virtual bool IsIpV6() const = 0;
    /// The socket address structure (may be written by getsockname, accept, recvfrom), or null.
    virtual os::SOCKADDR* GetSockAddr() = 0;
    /// 2 (IPv4), 23 (IPv6) or 0 when nothing is held.
    virtual int32_t GetFamily() const = 0;
    /// Bytes of the socket address structure.
    virtual int32_t GetSockAddrLen() const = 0;
    /// The port, in host order.
    virtual int32_t GetPort() const = 0;
    /// Forgets the address.
    virtual void Clear() = 0;
    /// Takes a numeric address text; false (and nothing held) when it is not one.
    virtual bool Parse(const std::string& AText) = 0;
    /// Becomes the unspecified address of AFamily. Raises "Invalid address family" (-7).
    virtual void SetFamily(int32_t AFamily) = 0;
    /// Becomes the any-address of AFamily (for binding).
    virtual void SetAnyAddress(int32_t AFamily) = 0;
    /// Sets the port. Raises "Invalid port number" (-3) outside 0..65535.
    virtual void SetPort(int32_t APort);
    /// The address as text ("10.1.2.3", "FE80::1"), empty when nothing is held.
    virtual std::string GetText() const = 0;

    /// An IPv6-capable address when the resolver parses AText, else an IPv4 one. Raises
    /// "Invalid host address" (-2) when neither accepts it.
    static std::unique_ptr<TixIPAddress> CreateIpAddress(const std::string& AText);
    /// The unspecified address of AFamily, as the buffer for getsockname, accept and recvfrom.
    static std::unique_ptr<TixIPAddress> CreateEmpty(int32_t AFamily);
    /// The any-address of AFamily.
    static std::unique_ptr<TixIPAddress> CreateAnyAddress(int32_t AFamily);
    /// CreateIpAddress(AText), or CreateAnyAddress(AFamily) for an empty text.
    static std::unique_ptr<TixIPAddress> CreateBindingAddress(const std::string& AText, int32_t AFamily);
    /// True when AText is a numeric address (IPv6 only where the resolver exists).
    static bool IsValidIP(const std::string& AText);
};

/// An IPv4 socket address (SOCKADDR_IN).
class TixIPAddress4 : public TixIPAddress
{
public:
    TixIPAddress4();

    bool IsIpV6() const override;
    os::SOCKADDR* GetSockAddr() override;
    int32_t GetFamily() const override;
    int32_t GetSockAddrLen() const override;
    int32_t GetPort() const override;
    void Clear() override;
    /// Accepts every text inet_addr accepts, except the limited broadcast address.
    bool Parse(const std::string& AText) override;
    void SetFamily(int32_t AFamily) override;
    void SetAnyAddress(int32_t AFamily) override;
    void SetPort(int32_t APort) override;
    std::string GetText() const override;

private:
    os::SOCKADDR_IN FAddress;
};

/// Any socket address the resolver knows (IPv4 or IPv6), held as the first record of a
/// getaddrinfo result.
class TixIPAddress6 : public TixIPAddress
{
public:
    TixIPAddress6() = default;
    ~TixIPAddress6() override;

    bool IsIpV6() const override;
    os::SOCKADDR* GetSockAddr() override;
    int32_t GetFamily() const override;
    int32_t GetSockAddrLen() const override;
    int32_t GetPort() const override;
    void Clear() override;
    /// Accepts numeric IPv4 and IPv6 texts; always false without the resolver.
    bool Parse(const std::string& AText) override;
    void SetFamily(int32_t AFamily) override;
    void SetAnyAddress(int32_t AFamily) override;
    void SetPort(int32_t APort) override;
    std::string GetText() const override;

private:
    os::ADDRINFOA* FAddress = nullptr;
};

/// The text of an IPv6 address: upper-case groups without leading zeros; only the first run
/// of two or more zero groups is written "::" ("FE80::1", "1:0:2:0:0:0:0:3").
std::string IPv6ToText(const os::IN6_ADDR& AAddress);
/// The text of an IPv4 address from its four bytes in network order ("%d.%d.%d.%d").
std::string IPv4BytesToText(const uint8_t* ABytes);

/// Waits for a lookup that runs on a worker thread until its event ADone is signalled (true),
/// or until the caller gives it up (false: aborted); raises what ends the wait otherwise (the
/// time-out error).
using TixLookupWait = std::function<bool(os::HANDLE ADone)>;

/// Resolves host names to address texts.
class TixHostResolver : public TObject
{
public:
    /// AIP := AHost when it is a numeric address, else the first address of the lookup.
    virtual void GetIPAddress(const std::string& AHost, std::string& AIP) = 0;
    /// Every address of AHost, in the order of the lookup.
    virtual void GetIPList(const std::string& AHost, TStrings& AList) = 0;

    /// Resolves AHost with the resolver the system offers (IPv6-capable when it exists; then
    /// AUseIpV6 prefers IPv6 addresses). A numeric AHost is returned unchanged, unlooked-up.
    /// With AWait, the IPv6-capable lookup runs on a worker thread that AWait waits for; a
    /// lookup given up raises "The connection to the server is not active" (-6) and its worker
    /// finishes on its own.
    static void ResolveHost(const std::string& AHost, bool AUseIpV6, std::string& AIP,
        const TixLookupWait& AWait = nullptr);
};

/// IPv4 lookups with the asynchronous, message-based lookup of Windows Sockets 1.1: the
/// caller's window messages keep flowing while it waits, for at most 5000 ms.
class TixHostResolver4 : public TixHostResolver
{
public:
    /// Milliseconds a lookup may take.
    static constexpr int32_t LookupTimeOut = 5000;
    /// The window message that reports a finished lookup.
    static constexpr os::UINT LookupMessage = 0x0C3E;

    TixHostResolver4() = default;

    void GetIPAddress(const std::string& AHost, std::string& AIP) override;
    void GetIPList(const std::string& AHost, TStrings& AList) override;

private:
    std::unique_ptr<char[]> LookupHost(const std::string& AHost, int32_t ATimeOut);
    void WaitForLookup(os::HANDLE AEvent, int32_t ATimeOut);

    int32_t FErrorCode = 0;
    os::HANDLE FTaskHandle = nullptr;
    os::HANDLE FEvent = nullptr;
    bool FIsAborted = false;
    bool FDisableGuiProcessing = false;
};

/// Lookups with getaddrinfo: blocking, without a time-out of its own, unless AWait is given
/// (the lookup then runs on a worker thread, see ResolveHost).
class TixHostResolver6 : public TixHostResolver
{
public:
    /// Looks up IPv6 addresses as well when AUseIpV6; AWait waits for a lookup on a worker thread.
    explicit TixHostResolver6(bool AUseIpV6, TixLookupWait AWait = nullptr)
        : FUseIpV6(AUseIpV6), FWait(std::move(AWait))
    {
    }

    void GetIPAddress(const std::string& AHost, std::string& AIP) override;
    void GetIPList(const std::string& AHost, TStrings& AList) override;

private:
    bool FUseIpV6;
    TixLookupWait FWait;
};

} // namespace ix
