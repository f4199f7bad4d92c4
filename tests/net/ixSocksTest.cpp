#include "net/ixSocks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "net/ixNetTestUtils.h"
#include "net/ixTcpClient.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using namespace std::chrono_literals;
using test::ScriptedServer;
using test::Step;

constexpr int32_t DestinationPort = 110;
const std::string PortBytes("\x00\x6E", 2); // 110, network order
const std::string Greeting = "+OK POP3 ready\r\n";

std::string Bytes(std::initializer_list<int> AValues)
{
    std::string result;
    for (int value : AValues)
        result += static_cast<char>(value);
    return result;
}

const std::string Socks4Granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
const std::string Socks5Granted = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38});

/// A client aimed at (AHost, DestinationPort) through the scripted proxy on AProxyPort.
std::unique_ptr<TixTcpClient> MakeClient(TixFirewallType AType, uint16_t AProxyPort, const std::string& AHost)
{
    auto client = std::make_unique<TixTcpClient>();
    client->SetServer(AHost);
    client->SetPort(DestinationPort);
    client->SetTimeOut(10000);
    TixFirewallSettings& firewall = client->GetFirewallSettings();
    firewall.SetFirewallType(AType);
    firewall.SetServer("127.0.0.1");
    firewall.SetPort(AProxyPort);
    return client;
}

/// Opens AClient, reads the destination's greeting through the tunnel and closes.
void ExpectTunnelToGreeting(TixTcpClient& AClient)
{
    AClient.Open();
    ASSERT_TRUE(AClient.IsActive());
    TMemoryStream received;
    ReadUntil(*AClient.GetConnection(), received, "\r\n");
    EXPECT_EQ(received.View(), Greeting); // no reply byte before it, none of it lost
    AClient.Close();
}

/// Open must fail with EixSocksFirewallError AMessage / ACode and leave the client inactive.
void ExpectSocksError(TixTcpClient& AClient, const std::string& AMessage, int32_t ACode)
{
    try
    {
        AClient.Open();
        ADD_FAILURE() << "Open succeeded; expected \"" << AMessage << "\"";
    }
    catch (const EixSocksFirewallError& E)
    {
        EXPECT_EQ(E.Message(), AMessage);
        EXPECT_EQ(E.ErrorCode(), ACode);
    }
    EXPECT_FALSE(AClient.IsActive());
}

// ---- SOCKS 4 and 4a ------------------------------------------------------------------------

TEST(Socks4, SendsTheResolvedAddressAndUserIdAndKeepsDataAfterTheGrant)
{
    for (const char* host : {"127.0.0.1", "localhost"})
    {
        ScriptedServer server({
            Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({127, 0, 0, 1}) + "alice" + Bytes({0})),
            Step::Send(Socks4Granted + Greeting), // the destination speaks at once
            Step::Drain(),
        });
        auto client = MakeClient(ftSocks4, server.Port(), host);
        client->GetFirewallSettings().SetUserName("alice");
        ExpectTunnelToGreeting(*client);
        EXPECT_EQ(server.Finish(), "") << host;
    }
}

TEST(Socks4, AssemblesAReplySplitOverTwoReads)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({127, 0, 0, 1, 0})),
        Step::Send(Socks4Granted.substr(0, 3)),
        Step::Stall(50ms),
        Step::Send(Socks4Granted.substr(3) + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks4, server.Port(), "127.0.0.1");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks4a, SendsAHostNameForTheProxyToResolve)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({0, 0, 0, 1}) + "bob" + Bytes({0}) +
            "pop.destination.invalid" + Bytes({0})),
        Step::Send(Socks4Granted + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks4a, server.Port(), "pop.destination.invalid");
    client->GetFirewallSettings().SetUserName("bob");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks4a, SendsANumericDestinationInTheSocks4Form)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({127, 0, 0, 1, 0})),
        Step::Send(Socks4Granted + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks4a, server.Port(), "127.0.0.1");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks4, RefusalsCarryTheirTextAndReplyCode)
{
    struct TCase
    {
        std::string Reply;
        std::string Message;
        int32_t Code;
    };
    const std::vector<TCase> cases{
        {Bytes({0, 91, 0, 0, 0, 0, 0, 0}), "SOCKS error: request rejected or failed", 91},
        {Bytes({0, 92, 0, 0, 0, 0, 0, 0}),
            "SOCKS error: request rejected becasue SOCKS server cannot connect to identd on the client", 92},
        {Bytes({0, 93, 0, 0, 0, 0, 0, 0}),
            "SOCKS error: request rejected because the client program and identd report different user-ids", 93},
        {Bytes({0, 17, 0, 0, 0, 0, 0, 0}), "Unknown SOCKS error occured", 17},
        {Bytes({4, 90, 0, 0, 0, 0, 0, 0}), "Request granted", 90}, // a wrong version byte
    };
    for (const TCase& test : cases)
    {
        ScriptedServer server({Step::Receive(9), Step::Send(test.Reply), Step::Drain()});
        auto client = MakeClient(ftSocks4, server.Port(), "127.0.0.1");
        ExpectSocksError(*client, test.Message, test.Code);
        EXPECT_EQ(server.Finish(), "") << test.Message;
    }
}

// ---- SOCKS 5 -------------------------------------------------------------------------------

TEST(Socks5, LogsInWithUserAndPasswordAndSendsTheNameUnresolved)
{
    const std::string host = "mail.destination.invalid";
    ScriptedServer server({
        Step::ExpectBytes(Bytes({5, 1, 2})),
        Step::Send(Bytes({5, 2})),
        Step::ExpectBytes(Bytes({1, 5}) + "alice" + Bytes({6}) + "secret"),
        Step::Send(Bytes({1, 0})),
        Step::ExpectBytes(Bytes({5, 1, 0, 3, static_cast<int>(host.size())}) + host + PortBytes),
        Step::Send(Socks5Granted + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks5, server.Port(), host);
    client->GetFirewallSettings().SetUserName("alice");
    client->GetFirewallSettings().SetPassword("secret");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks5, SendsTheResolvedAddressWhenTheClientResolves)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({5, 1, 0})),
        Step::Send(Bytes({5, 0})),
        Step::ExpectBytes(Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + PortBytes),
        Step::Send(Socks5Granted + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks5, server.Port(), "localhost");
    client->GetFirewallSettings().SetNeedResolveIP(false);
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks5, AnswersAnUnaskedLoginRequestWithEmptyCredentials)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({5, 1, 0})),
        Step::Send(Bytes({5, 2})),
        Step::ExpectBytes(Bytes({1, 0, 0})),
        Step::Send(Bytes({1, 0})),
        Step::Receive(10),
        Step::Send(Socks5Granted + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks5, TakesExactlyTheConnectReplyWhateverItsAddressType)
{
    const std::vector<std::string> replies{
        Socks5Granted,
        Bytes({5, 0, 0, 3, 0, 0x04, 0x38}),                                  // empty domain name
        Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0x04, 0x38}),          // domain name
        Bytes({5, 0, 0, 4, 0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x04, 0x38}), // IPv6
    };
    for (const std::string& reply : replies)
    {
        ScriptedServer server({
            Step::ExpectBytes(Bytes({5, 1, 0})),
            Step::Send(Bytes({5, 0})),
            Step::Receive(10),
            Step::Send(reply + Greeting),
            Step::Drain(),
        });
        auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
        ExpectTunnelToGreeting(*client);
        EXPECT_EQ(server.Finish(), "") << "reply of " << reply.size() << " bytes";
    }
}

TEST(Socks5, AssemblesRepliesSplitOverTwoReads)
{
    const std::string reply = Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0x04, 0x38});
    ScriptedServer server({
        Step::ExpectBytes(Bytes({5, 1, 0})),
        Step::Send(Bytes({5})),
        Step::Stall(50ms),
        Step::Send(Bytes({0})),
        Step::Receive(10),
        Step::Send(reply.substr(0, 4)),
        Step::Stall(50ms),
        Step::Send(reply.substr(4, 3)),
        Step::Stall(50ms),
        Step::Send(reply.substr(7) + Greeting),
        Step::Drain(),
    });
    auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
    ExpectTunnelToGreeting(*client);
    EXPECT_EQ(server.Finish(), "");
}

TEST(Socks5, ConnectRefusalsCarryTheirTextAndReplyCode)
{
    const std::vector<std::pair<int, std::string>> cases{
        {1, "General SOCKS server failure"},
        {2, "SOCKS error: connection not allowed by ruleset"},
        {3, "SOCKS error: Network unreachable"},
        {4, "SOCKS error: Host unreachable"},
        {5, "SOCKS error: Connection refused"},
        {6, "SOCKS error: TTL expired"},
        {7, "SOCKS error: Command not supported"},
        {8, "SOCKS error: Address type not supported"},
        {9, "Unknown SOCKS error occured"},
    };
    for (const auto& [code, message] : cases)
    {
        ScriptedServer server({
            Step::ExpectBytes(Bytes({5, 1, 0})),
            Step::Send(Bytes({5, 0})),
            Step::Receive(10),
            Step::Send(Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0})),
            Step::Drain(),
        });
        auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
        ExpectSocksError(*client, message, code);
        EXPECT_EQ(server.Finish(), "") << message;
    }
}

TEST(Socks5, NegotiationRefusalsCarryTheirTextAndCode)
{
    {
        ScriptedServer server({Step::Receive(3), Step::Send(Bytes({5, 255})), Step::Drain()});
        auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
        ExpectSocksError(*client, "SOCKS error: No acceptable authentication methods", 255);
        EXPECT_EQ(server.Finish(), "");
    }
    {
        ScriptedServer server({
            Step::Receive(3), Step::Send(Bytes({5, 2})),
            Step::Receive(7), Step::Send(Bytes({1, 1})),
            Step::Drain(),
        });
        auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
        client->GetFirewallSettings().SetUserName("eve");
        client->GetFirewallSettings().SetPassword("x");
        ExpectSocksError(*client, "SOCKS error: authentication failed", 1);
        EXPECT_EQ(server.Finish(), "");
    }
    {
        ScriptedServer server({
            Step::Receive(3), Step::Send(Bytes({5, 0})),
            Step::Receive(10), Step::Send(Bytes({5, 0, 0, 9, 0, 0, 0, 0, 0, 0})),
            Step::Drain(),
        });
        auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
        ExpectSocksError(*client, "SOCKS error: Address type not supported", 9);
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(Socks5, AProxyThatClosesDuringTheNegotiationEndsTheOpen)
{
    ScriptedServer server({Step::Receive(3), Step::Send(Bytes({5})), Step::Close()});
    auto client = MakeClient(ftSocks5, server.Port(), "127.0.0.1");
    try
    {
        client->Open();
        FAIL() << "Open succeeded";
    }
    catch (const EixSocketError& E)
    {
        EXPECT_EQ(E.ErrorCode(), -6);
        EXPECT_EQ(E.Message(), "The connection to the server is not active");
    }
    EXPECT_FALSE(client->IsActive());
    EXPECT_EQ(server.Finish(), "");
}

// ---- The tunnel and its inner stream -------------------------------------------------------

/// An inner stream with work of its own, as a TLS stream has: a first write when its session
/// opens and a last write when it is closed with notification of the peer.
class TChattyStream : public TixNetworkStream
{
public:
    void OpenClientSession() override
    {
        FPending = "HELLO\r\n";
        SetNextAction(naWrite);
    }
    void CloseStream(bool ANotifyPeer) override
    {
        TixNetworkStream::CloseStream(ANotifyPeer);
        if (!ANotifyPeer)
            return;
        FPending = "BYE\r\n";
        SetNextAction(naWrite);
    }
    bool Write(TStream* AData) override
    {
        if (AData != nullptr || FPending.empty())
            return TixNetworkStream::Write(AData);
        TMemoryStream pending;
        pending.WriteText(std::exchange(FPending, {}));
        pending.SetPosition(0);
        return TixNetworkStream::Write(&pending);
    }

private:
    std::string FPending;
};

class TChattyClient : public TixTcpClient
{
protected:
    std::unique_ptr<TixNetworkStream> CreateNetworkStream() override { return std::make_unique<TChattyStream>(); }
};

TEST(SocksTunnel, TheInnerStreamsOwnWritesAreDrivenThroughTheTunnel)
{
    ScriptedServer server({
        Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({127, 0, 0, 1, 0})),
        Step::Send(Socks4Granted),
        Step::Expect("HELLO"), // the inner stream's session starts once the tunnel stands
        Step::Send(Greeting),
        Step::Expect("BYE"), // and says goodbye before the socket closes
        Step::Drain(),
    });
    TChattyClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(DestinationPort);
    client.SetTimeOut(10000);
    client.GetFirewallSettings().SetServer("127.0.0.1");
    client.GetFirewallSettings().SetPort(server.Port());
    ExpectTunnelToGreeting(client);
    EXPECT_EQ(server.Finish(), "");
}

// ---- Values that a request cannot carry ----------------------------------------------------

TEST(SocksRequests, ValuesThatDoNotFitAreRefusedBeforeAnythingIsSent)
{
    struct TCase
    {
        TixFirewallType Type;
        std::string Host;
        std::string UserName;
        std::string Password;
        int32_t Port;
        std::string Message;
        int32_t Code;
    };
    const std::string long256(256, 'a');
    constexpr int32_t TooLong = EixSocksFirewallError::RequestTooLong;
    constexpr int32_t Invalid = EixSocksFirewallError::InvalidRequestValue;
    const std::vector<TCase> cases{
        {ftSocks5, long256 + ".invalid", "", "", DestinationPort, "SOCKS error: Host name is longer than 255 bytes", TooLong},
        {ftSocks5, "127.0.0.1", long256, "", DestinationPort, "SOCKS error: User name is longer than 255 bytes", TooLong},
        {ftSocks5, "127.0.0.1", "alice", long256, DestinationPort, "SOCKS error: Password is longer than 255 bytes", TooLong},
        {ftSocks4a, std::string(500, 'h'), std::string(600, 'u'), "", DestinationPort,
            "SOCKS error: the request is longer than 1024 bytes", TooLong},
        {ftSocks4, "127.0.0.1", std::string("al\0ce", 5), "", DestinationPort,
            "SOCKS error: User name contains a zero byte", Invalid},
        {ftSocks4, "::1", "", "", DestinationPort, "SOCKS error: ::1 is not an IPv4 address", Invalid},
        {ftSocks5, "127.0.0.1", "", "", 70000, "SOCKS error: port 70000 is not a TCP port", Invalid},
    };
    for (const TCase& test : cases)
    {
        ScriptedServer server({Step::Drain()});
        auto client = MakeClient(test.Type, server.Port(), test.Host);
        client->SetPort(test.Port);
        client->GetFirewallSettings().SetUserName(test.UserName);
        client->GetFirewallSettings().SetPassword(test.Password);
        ExpectSocksError(*client, test.Message, test.Code);
        EXPECT_EQ(server.Finish(), "") << test.Message;
        EXPECT_EQ(server.Received(), "") << test.Message;
    }
}

// ---- The stream ----------------------------------------------------------------------------

TEST(SocksStream, ForwardsToItsInnerStreamOnlyOnceTheTunnelStands)
{
    auto inner = std::make_unique<TixNetworkStream>();
    TixNetworkStream* innerStream = inner.get();
    TixSocks5NetworkStream stream(std::move(inner));
    EXPECT_EQ(stream.GetInnerStream(), innerStream);
    EXPECT_EQ(stream.GetState(), ssInitial);
    EXPECT_EQ(stream.GetNextAction(), naWrite);
    TMemoryStream data;
    TixIPAddress4 address;
    int32_t port = 0;
    EXPECT_FALSE(stream.ReadFrom(&data, address, port));
    EXPECT_FALSE(stream.WriteTo(&data, address, port));
}

TEST(SocksStream, AssignCopiesTheDestination)
{
    TixSocks4NetworkStream source(std::make_unique<TixNetworkStream>());
    source.SetHost("pop.example.test");
    source.SetPort(995);
    source.SetUserName("alice");
    source.SetPassword("secret");
    TixSocks5NetworkStream copy(std::make_unique<TixNetworkStream>());
    copy.Assign(source);
    EXPECT_EQ(copy.GetHost(), "pop.example.test");
    EXPECT_EQ(copy.GetPort(), 995);
    EXPECT_EQ(copy.GetUserName(), "alice");
    EXPECT_EQ(copy.GetPassword(), "secret");
}

} // namespace
} // namespace ix
