// SOCKS 4, 4a and 5 against real proxies started by tests/peers/socks (Dante, microsocks and
// OpenSSH's ssh -D), each reaching the loopback greeting server that the same script starts.
#include "net/ixTcpClient.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "net/ixSocks.h"
#include "net/ixNetTestUtils.h"
#include "support/ExpectError.h"
#include "support/PeerEnv.h"

namespace ix {
namespace {

constexpr std::string_view Greeting = "+OK ix greeting server ready\r\n";

TEST(SocksPeers, EachProxyGrantsItsProtocolsWithNumericAndNamedDestinationsRefusesAWrongPasswordAndLeavesNothingBehind)
{
    const std::map<std::string, std::string> peer = test::RequirePeerEnv(IX_SOCKS_PEER_STATE);
    const struct
    {
        const char* ProxyPortKey;
        TixFirewallType Type;
        const char* Host;
        std::string UserName;
        std::string Password;
        bool Refused = false;
    } cases[] = {
        {"DANTE_PORT", ftSocks4, "127.0.0.1", "ixtest", ""},
        {"DANTE_PORT", ftSocks4, "localhost", "", ""}, // resolved by the client
        {"DANTE_PORT", ftSocks5, "127.0.0.1", "", ""},
        {"MICROSOCKS_PORT", ftSocks5, "127.0.0.1", "", ""},
        {"MICROSOCKS_AUTH_PORT", ftSocks5, "localhost", peer.at("MICROSOCKS_USER"), peer.at("MICROSOCKS_PASSWORD")},
        {"MICROSOCKS_AUTH_PORT", ftSocks5, "127.0.0.1", peer.at("MICROSOCKS_USER"), "not the password", true},
        {"SSH_SOCKS_PORT", ftSocks4a, "localhost", "", ""}, // resolved by the proxy
        {"SSH_SOCKS_PORT", ftSocks4a, "127.0.0.1", "", ""},
        {"SSH_SOCKS_PORT", ftSocks5, "localhost", "", ""},
    };
    const test::TResourceCount before = test::CountResources();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.ProxyPortKey) + " " + c.Host);
        const auto proxied = test::MakeSocksClient(c.Type, std::stoi(peer.at(c.ProxyPortKey)), c.Host,
            std::stoi(peer.at("GREETING_PORT")), c.UserName, c.Password);
        TixTcpClient& client = *proxied;
        if (c.Refused)
        {
            // microsocks answers a failed login with status 2.
            EXPECT_EQ(test::ExpectError<EixSocksFirewallError>([&] { client.Open(); }, 2),
                "SOCKS error: authentication failed");
            EXPECT_FALSE(client.IsActive());
            continue;
        }
        client.Open();
        ASSERT_TRUE(client.IsActive());
        TMemoryStream received;
        test::ReadUntil(*client.GetConnection(), received, Greeting);
        EXPECT_EQ(received.View(), Greeting);
        client.GetConnection()->WriteString("PING through the tunnel\r\n", "");
        TMemoryStream echoed;
        test::ReadUntil(*client.GetConnection(), echoed, "\r\n");
        EXPECT_EQ(echoed.View(), "PING through the tunnel\r\n");
        client.Close();
        EXPECT_FALSE(client.IsActive());
    }
    test::ExpectResourcesBackTo(before);
}

} // namespace
} // namespace ix
