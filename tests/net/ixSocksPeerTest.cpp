// SOCKS 4, 4a and 5 against real proxies started by tests/peers/socks (Dante, microsocks and
// OpenSSH's ssh -D), each reaching the loopback greeting server that the same script starts.
#include "net/ixTcpClient.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "net/ixSocks.h"
#include "net/ixNetTestUtils.h"
#include "support/ExpectError.h"
#include "support/PeerEnv.h"

namespace ix {
namespace {

using test::CountResources;
using test::ExpectResourcesBackTo;
using test::ReadUntil;
using test::TResourceCount;

constexpr std::string_view Greeting = "+OK ix greeting server ready\r\n";

/// The ports and credentials that the peer script wrote; fails the test when it is missing.
class SocksPeers : public ::testing::Test
{
protected:
    void SetUp() override { FValues = test::RequirePeerEnv(IX_SOCKS_PEER_STATE); }

    std::string Value(const std::string& AKey) { return FValues[AKey]; }
    int32_t PortOf(const std::string& AKey) { return std::stoi(Value(AKey)); }

    /// Aims AClient at the greeting server through the proxy on AProxyPort.
    void AimThroughProxy(TixTcpClient& AClient, int32_t AProxyPort)
    {
        AClient.GetFirewallSettings().SetServer("127.0.0.1");
        AClient.GetFirewallSettings().SetPort(AProxyPort);
        AClient.SetPort(PortOf("GREETING_PORT"));
        AClient.SetTimeOut(10000);
    }

    /// Opens AClient through the proxy on AProxyPort, reads the greeting, has a line echoed
    /// and closes.
    void ExpectGreetingAndEcho(TixTcpClient& AClient, int32_t AProxyPort)
    {
        AimThroughProxy(AClient, AProxyPort);
        AClient.Open();
        ASSERT_TRUE(AClient.IsActive());
        TMemoryStream received;
        ReadUntil(*AClient.GetConnection(), received, Greeting);
        EXPECT_EQ(received.View(), Greeting);

        AClient.GetConnection()->WriteString("PING through the tunnel\r\n", "");
        TMemoryStream echoed;
        ReadUntil(*AClient.GetConnection(), echoed, "\r\n");
        EXPECT_EQ(echoed.View(), "PING through the tunnel\r\n");
        AClient.Close();
        EXPECT_FALSE(AClient.IsActive());
    }

private:
    std::map<std::string, std::string> FValues;
};

TEST_F(SocksPeers, EachProxyGrantsItsProtocolsWithNumericAndNamedDestinationsAndNoTunnelLeavesAnythingBehind)
{
    const struct
    {
        const char* ProxyPortKey;
        TixFirewallType Type;
        const char* Host;
        const char* UserName; // a key of the peer's values (microsocks), a user id, or none
        bool Login;
    } cases[] = {
        {"DANTE_PORT", ftSocks4, "127.0.0.1", "ixtest", false},
        {"DANTE_PORT", ftSocks4, "localhost", "", false}, // resolved by the client
        {"DANTE_PORT", ftSocks5, "127.0.0.1", "", false},
        {"MICROSOCKS_PORT", ftSocks5, "127.0.0.1", "", false},
        {"MICROSOCKS_AUTH_PORT", ftSocks5, "localhost", "MICROSOCKS_USER", true},
        {"SSH_SOCKS_PORT", ftSocks4a, "localhost", "", false}, // resolved by the proxy
        {"SSH_SOCKS_PORT", ftSocks4a, "127.0.0.1", "", false},
        {"SSH_SOCKS_PORT", ftSocks5, "localhost", "", false},
    };
    // Counted once the first tunnel, which makes the thread's message queue, has gone.
    std::optional<TResourceCount> before;
    for (const auto& c : cases)
    {
        if (&c == &cases[1])
            before = CountResources();
        SCOPED_TRACE(std::string(c.ProxyPortKey) + " " + c.Host);
        TixTcpClient client;
        client.SetServer(c.Host);
        client.GetFirewallSettings().SetFirewallType(c.Type);
        client.GetFirewallSettings().SetUserName(c.Login ? Value(c.UserName) : c.UserName);
        if (c.Login)
            client.GetFirewallSettings().SetPassword(Value("MICROSOCKS_PASSWORD"));
        ExpectGreetingAndEcho(client, PortOf(c.ProxyPortKey));
    }
    ExpectResourcesBackTo(*before);
}

TEST_F(SocksPeers, MicrosocksRefusesAWrongPassword)
{
    TixTcpClient client;
    client.SetServer("127.0.0.1");
    AimThroughProxy(client, PortOf("MICROSOCKS_AUTH_PORT"));
    client.GetFirewallSettings().SetFirewallType(ftSocks5);
    client.GetFirewallSettings().SetUserName(Value("MICROSOCKS_USER"));
    client.GetFirewallSettings().SetPassword("not the password");
    // microsocks answers a failed login with status 2.
    EXPECT_EQ(test::ExpectError<EixSocksFirewallError>([&] { client.Open(); }, 2), "SOCKS error: authentication failed");
    EXPECT_FALSE(client.IsActive());
}

} // namespace
} // namespace ix
