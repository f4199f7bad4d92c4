// SOCKS proxy settings of a TCP client.
#pragma once

#include <cstdint>
#include <string>

#include "core/ixClasses.h"

namespace ix {

/// The SOCKS protocol version spoken with the proxy.
enum TixFirewallType : uint8_t { ftSocks4, ftSocks5, ftSocks4a };

/// Where and how a TCP client reaches its server through a SOCKS proxy. An empty Server means
/// no proxy.
class TixFirewallSettings : public TPersistent
{
public:
    /// The usual SOCKS port.
    static constexpr int32_t DefaultPort = 1080;

    TixFirewallSettings() = default;

    /// Copies all six settings from another TixFirewallSettings; raises EConvertError for any
    /// other source.
    void Assign(const TPersistent& ASource) override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    /// SOCKS 4 (default), SOCKS 5 or SOCKS 4a.
    TixFirewallType GetFirewallType() const noexcept { return FFirewallType; }
    void SetFirewallType(TixFirewallType AValue) noexcept { FFirewallType = AValue; }

    /// The user name: the SOCKS 4 user id, or the SOCKS 5 user name/password login (RFC 1929)
    /// when not empty.
    const std::string& GetUserName() const noexcept { return FUserName; }
    void SetUserName(const std::string& AValue) { FUserName = AValue; }

    /// The SOCKS 5 password.
    const std::string& GetPassword() const noexcept { return FPassword; }
    void SetPassword(const std::string& AValue) { FPassword = AValue; }

    /// Host name or numeric address of the proxy; empty = connect directly.
    const std::string& GetServer() const noexcept { return FServer; }
    void SetServer(const std::string& AValue) { FServer = AValue; }

    /// The proxy's port.
    int32_t GetPort() const noexcept { return FPort; }
    void SetPort(int32_t AValue) noexcept { FPort = AValue; }

    /// True: the destination's name goes to the proxy, which resolves it. False: the client
    /// resolves it first and sends the address.
    bool GetNeedResolveIP() const noexcept { return FNeedResolveIP; }
    void SetNeedResolveIP(bool AValue) noexcept { FNeedResolveIP = AValue; }

private:
    TixFirewallType FFirewallType = ftSocks4;
    std::string FUserName;
    std::string FPassword;
    std::string FServer;
    int32_t FPort = DefaultPort;
    bool FNeedResolveIP = true;
};

} // namespace ix
