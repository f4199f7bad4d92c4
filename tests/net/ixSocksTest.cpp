#include "net/ixSocks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "net/ixNetTestUtils.h"
#include "net/ixTcpClient.h"
#include "support/ExpectError.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using namespace std::chrono_literals;
using test::ScriptedServer;
using test::Step;

constexpr int32_t DestinationPort = 110;
const std::string PortBytes("\x00\x6E", 2); // 110, network order
const std::string Greeting = "+OK POP3 ready\r\n";

std::string Bytes(std::initializer_list<uint8_t> AValues)
{
    return std::string(AValues.begin(), AValues.end());
}

const std::string Socks4Granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
const std::string Socks5Granted = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38});

/// Open must fail with EixSocksFirewallError AMessage / ACode and leave the client inactive.
void ExpectSocksError(TixTcpClient& AClient, const std::string& AMessage, int32_t ACode)
{
    EXPECT_EQ(test::ExpectError<EixSocksFirewallError>([&] { AClient.Open(); }, ACode), AMessage);
    EXPECT_FALSE(AClient.IsActive());
}

// ---- Tunnels that stand -----------------------------------------------------------------------

struct TTunnelCase
{
    const char* Name;
    TixFirewallType Type;
    std::string Host;
    bool NeedResolveIP;
    /// The proxy's side; the destination's greeting follows its last send at once.
    std::vector<Step> Script;
};

TEST(SocksTunnel, RequestsCarryTheDestinationAndRepliesAreTakenExactlyHoweverTheyArrive)
{
    const std::string domainReply = Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0x04, 0x38});
    const auto socks5Connect = [](const std::string& AReply) {
        return std::vector<Step>{Step::ExpectBytes(Bytes({5, 1, 0})), Step::Send(Bytes({5, 0})),
            Step::Receive(10), Step::Send(AReply + Greeting)};
    };
    const std::vector<TTunnelCase> cases{
        {"socks4 reply split over two reads", ftSocks4, "127.0.0.1", true,
            {Step::ExpectBytes(Bytes({4, 1}) + PortBytes + Bytes({127, 0, 0, 1, 0})),
                Step::Send(Socks4Granted.substr(0, 3)), Step::Stall(50ms),
                Step::Send(Socks4Granted.substr(3) + Greeting)}},
        {"socks5 resolved by the client", ftSocks5, "localhost", false,
            {Step::ExpectBytes(Bytes({5, 1, 0})), Step::Send(Bytes({5, 0})),
                Step::ExpectBytes(Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + PortBytes),
                Step::Send(Socks5Granted + Greeting)}},
        {"socks5 unasked login gets empty credentials", ftSocks5, "127.0.0.1", true,
            {Step::ExpectBytes(Bytes({5, 1, 0})), Step::Send(Bytes({5, 2})), Step::ExpectBytes(Bytes({1, 0, 0})),
                Step::Send(Bytes({1, 0})), Step::Receive(10), Step::Send(Socks5Granted + Greeting)}},
        {"socks5 empty domain reply", ftSocks5, "127.0.0.1", true,
            socks5Connect(Bytes({5, 0, 0, 3, 0, 0x04, 0x38}))},
        {"socks5 IPv6 reply", ftSocks5, "127.0.0.1", true,
            socks5Connect(Bytes({5, 0, 0, 4, 0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x04, 0x38}))},
        {"socks5 replies split over reads", ftSocks5, "127.0.0.1", true,
            {Step::ExpectBytes(Bytes({5, 1, 0})), Step::Send(Bytes({5})), Step::Stall(50ms), Step::Send(Bytes({0})),
                Step::Receive(10), Step::Send(domainReply.substr(0, 4)), Step::Stall(50ms),
                Step::Send(domainReply.substr(4, 3)), Step::Stall(50ms),
                Step::Send(domainReply.substr(7) + Greeting)}},
    };
    for (const TTunnelCase& test : cases)
    {
        std::vector<Step> script = test.Script;
        script.push_back(Step::Drain());
        ScriptedServer server(std::move(script));
        auto client =
            test::MakeSocksClient(test.Type, server.Port(), test.Host, DestinationPort, "", "", test.NeedResolveIP);
        client->Open();
        ASSERT_TRUE(client->IsActive()) << test.Name;
        TMemoryStream received;
        test::ReadUntil(*client->GetConnection(), received, "\r\n");
        EXPECT_EQ(received.View(), Greeting) << test.Name; // no reply byte before it, none of it lost
        client->Close();
        EXPECT_EQ(server.Finish(), "") << test.Name;
    }
}

// ---- Refusals -----------------------------------------------------------------------------------

struct TRefusalCase
{
    TixFirewallType Type;
    /// The proxy's side up to and with its refusing reply.
    std::vector<Step> Script;
    std::string Message;
    int32_t Code;
};

TEST(SocksRefusals, CarryTheirTextAndReplyCode)
{
    const auto socks4 = [](uint8_t ACode, uint8_t AVersion = 0) {
        return std::vector<Step>{Step::Receive(9), Step::Send(Bytes({AVersion, ACode, 0, 0, 0, 0, 0, 0}))};
    };
    const auto socks5 = [](uint8_t ACode, uint8_t AAddressType = 1) {
        return std::vector<Step>{Step::Receive(3), Step::Send(Bytes({5, 0})), Step::Receive(10),
            Step::Send(Bytes({5, ACode, 0, AAddressType, 0, 0, 0, 0, 0, 0}))};
    };
    std::vector<TRefusalCase> cases{
        {ftSocks4, socks4(91), "SOCKS error: request rejected or failed", 91},
        {ftSocks4, socks4(92),
            "SOCKS error: request rejected becasue SOCKS server cannot connect to identd on the client", 92},
        {ftSocks4, socks4(93),
            "SOCKS error: request rejected because the client program and identd report different user-ids", 93},
        {ftSocks4, socks4(17), "Unknown SOCKS error occured", 17},
        {ftSocks4, socks4(90, 4), "Request granted", 90}, // a wrong version byte
        {ftSocks5, socks5(0, 9), "SOCKS error: Address type not supported", 9},
        {ftSocks5, {Step::Receive(3), Step::Send(Bytes({5, 255}))},
            "SOCKS error: No acceptable authentication methods", 255},
    };
    const char* socks5Texts[] = {"General SOCKS server failure", "SOCKS error: connection not allowed by ruleset",
        "SOCKS error: Network unreachable", "SOCKS error: Host unreachable", "SOCKS error: Connection refused",
        "SOCKS error: TTL expired", "SOCKS error: Command not supported", "SOCKS error: Address type not supported",
        "Unknown SOCKS error occured"};
    for (int code = 1; code <= 9; ++code)
        cases.push_back({ftSocks5, socks5(code), socks5Texts[code - 1], code});
    for (const TRefusalCase& test : cases)
    {
        std::vector<Step> script = test.Script;
        script.push_back(Step::Drain());
        ScriptedServer server(std::move(script));
        auto client = test::MakeSocksClient(test.Type, server.Port(), "127.0.0.1", DestinationPort);
        ExpectSocksError(*client, test.Message, test.Code);
        EXPECT_EQ(server.Finish(), "") << test.Message;
    }
}

TEST(SocksRefusals, AProxyThatClosesDuringTheNegotiationEndsTheOpen)
{
    ScriptedServer server({Step::Receive(3), Step::Send(Bytes({5})), Step::Close()});
    auto client = test::MakeSocksClient(ftSocks5, server.Port(), "127.0.0.1", DestinationPort);
    EXPECT_EQ(test::ExpectError<EixSocketError>([&] { client->Open(); }, SocketErrorNotActive),
        "The connection to the server is not active");
    EXPECT_FALSE(client->IsActive());
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
        {ftSocks5, "127.0.0.1", "", "", 65536, "SOCKS error: port 65536 is not a TCP port", Invalid},
    };
    for (const TCase& test : cases)
    {
        ScriptedServer server({Step::Drain()});
        auto client = test::MakeSocksClient(test.Type, server.Port(), test.Host, test.Port, test.UserName, test.Password);
        ExpectSocksError(*client, test.Message, test.Code);
        EXPECT_EQ(server.Finish(), "") << test.Message;
        EXPECT_EQ(server.Received(), "") << test.Message;
    }
}

// ---- The stream ----------------------------------------------------------------------------

TEST(SocksStream, ForwardsToItsInnerStreamOnlyOnceTheTunnelStandsAndAssignCopiesTheDestination)
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

    // Assign copies the destination.
    TixSocks4NetworkStream source(std::make_unique<TixNetworkStream>());
    source.SetHost("pop.example.test");
    source.SetPort(995);
    source.SetUserName("alice");
    source.SetPassword("secret");
    stream.Assign(source);
    EXPECT_EQ(stream.GetHost(), "pop.example.test");
    EXPECT_EQ(stream.GetPort(), 995);
    EXPECT_EQ(stream.GetUserName(), "alice");
    EXPECT_EQ(stream.GetPassword(), "secret");
}

} // namespace
} // namespace ix
