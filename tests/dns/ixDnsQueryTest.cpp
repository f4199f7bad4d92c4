// The DNS query component against scripted in-process servers: which UDP replies it accepts,
// the TCP framing, referrals, the choice of servers and the system's name servers; and the UDP
// client under it: one datagram out and one in, and its events.
#include "dns/ixDnsQuery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <ranges>
#include <set>

#include "dns/ScriptedDnsServer.h"
#include "dns/ixUdpClient.h"
#include "support/ExpectError.h"
#include "support/ProgramRun.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using test::ExpectError;
using test::ReplyTo;
using test::ScriptedDnsServer;
using test::TDnsDatagram;

/// Adds a TXT answer for the query's name to AReply.
std::function<void(TixDnsMessage&)> TxtAnswer(const std::string& AText)
{
    return [AText](TixDnsMessage& AReply) {
        auto* record = static_cast<TixDnsTXTRecord*>(AReply.GetAnswers().Add(AReply.CreateRecord(DnsTypeTXT)));
        record->SetName(AReply.GetQueries()[0]->GetName());
        record->SetText(AText);
    };
}

/// A server's responder that answers every query with a TXT record of AText.
test::TDnsResponder AnswerTxt(const std::string& AText)
{
    return [AText](TixDnsMessage& AQuery) { return std::vector<TDnsDatagram>{{ReplyTo(AQuery, TxtAnswer(AText))}}; };
}

/// A query component aimed at 127.0.0.1:APort with a short time-out.
class DnsQueryTest : public ::testing::Test
{
protected:
    void Aim(uint16_t APort, int32_t ATimeOut = 2000)
    {
        FQuery.SetServer("127.0.0.1");
        FQuery.SetPort(APort);
        FQuery.SetTimeOut(ATimeOut);
        FQuery.SetDisableGuiProcessing(true);
    }

    std::string ResolveTXT(const std::string& AName)
    {
        std::string text;
        FQuery.ResolveTXT(AName, text);
        return text;
    }

    TixDnsQuery FQuery;
};

/// A server whose replies carry another ID, another question, come from another port or are
/// no DNS message, and then, when AAnswers, the right reply.
test::TDnsResponder WrongRepliesFirst(bool AAnswers)
{
    return [AAnswers](TixDnsMessage& AQuery) {
        TixDnsMessage otherId;
        otherId.Assign(AQuery);
        otherId.GetHeader().SetID((AQuery.GetHeader().GetID() + 1) & 0xFFFF);
        TixDnsMessage otherQuestion;
        otherQuestion.Assign(AQuery);
        otherQuestion.GetQueries()[0]->SetName("other.test");
        std::vector<TDnsDatagram> datagrams{{ReplyTo(otherId, TxtAnswer("wrong id"))},
            {ReplyTo(otherQuestion, TxtAnswer("wrong question"))}, {ReplyTo(AQuery, TxtAnswer("other port")), true},
            {"\x01\x02garbage"}};
        if (AAnswers)
            datagrams.push_back({ReplyTo(AQuery, TxtAnswer("right"))});
        return datagrams;
    };
}

TEST_F(DnsQueryTest, OnlyTheReplyFromTheServerAskedWithItsIdAndQuestionIsTakenAndEveryQueryGoesOutAfresh)
{
    ScriptedDnsServer server("127.0.0.1", 0, WrongRepliesFirst(true));
    Aim(server.Port());
    std::vector<std::pair<int32_t, int32_t>> setups;
    FQuery.OnSetupUdpClient = [&](TObject*, TixUdpClient* AClient) {
        setups.emplace_back(AClient->GetTimeOut(), AClient->GetDatagramSize());
    };
    int received = 0;
    FQuery.OnReceivePacket = [&](TObject*, TStream*) { ++received; };
    int changes = 0;
    FQuery.OnChanged = [&](TObject*) { ++changes; };
    EXPECT_TRUE(setups.empty()) << "no client before the first query";
    for (const std::string name : {"Key.Example.TEST.", "example.test", "example.test"})
        EXPECT_EQ(ResolveTXT(name), "right") << name; // the question of the reply has no final dot
    EXPECT_EQ(received, 15) << "every datagram that arrived is reported";
    // Each query from a socket and with an ID of its own.
    const auto queries = server.Queries();
    const auto ports = queries | std::views::keys;
    const auto ids = queries | std::views::values;
    EXPECT_EQ(std::set<uint16_t>(ports.begin(), ports.end()).size(), 3u);
    EXPECT_EQ(std::set<int32_t>(ids.begin(), ids.end()).size(), 3u);

    ScriptedDnsServer wrongOnly("127.0.0.1", 0, WrongRepliesFirst(false));
    FQuery.SetServer("127.0.0.1");
    EXPECT_EQ(changes, 0) << "an unchanged value";
    Aim(wrongOnly.Port(), 300);
    EXPECT_EQ(changes, 2) << "the port and the time-out";
    FQuery.SetDisableGuiProcessing(false); // the wait that keeps the window messages flowing
    EXPECT_EQ(ExpectError<EixSocketError>([&] { ResolveTXT("example.test"); }, SocketErrorTimeout),
        "Timeout error occured");
    // Made with the first query, then set up again at each change: port, time-out, waiting.
    EXPECT_EQ(setups, (std::vector<std::pair<int32_t, int32_t>>{{2000, 512}, {2000, 512}, {300, 512}, {300, 512}}));
}

// ---- TCP ------------------------------------------------------------------------------------

/// A TCP script step that reads one length-prefixed query and answers it, length-prefixed, with a
/// TXT record of AText: cut at the offsets ACuts, with a short stall between the pieces, and
/// ending after its first AKeep bytes.
test::Step AnswerOverTcp(const std::string& AText, std::vector<size_t> ACuts, size_t AKeep = std::string::npos)
{
    return test::Step::Call([AText, ACuts, AKeep](test::ScriptIo& AIo) {
        const std::string prefix = AIo.Take(2);
        const size_t length = static_cast<uint8_t>(prefix[0]) << 8 | static_cast<uint8_t>(prefix[1]);
        TixDnsMessage query;
        query.Parse(AsBytes(AIo.Take(length)));
        const std::string message = ReplyTo(query, TxtAnswer(AText));
        const std::string reply =
            (std::string{static_cast<char>(message.size() >> 8), static_cast<char>(message.size() & 0xFF)} + message)
                .substr(0, AKeep);
        size_t start = 0;
        for (const size_t cut : ACuts)
        {
            AIo.Send(reply.substr(start, cut - start));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            start = cut;
        }
        AIo.Send(reply.substr(start));
    });
}

TEST_F(DnsQueryTest, ATcpReplyIsReadAcrossSegmentsAndOneCutShortByTheServerIsAnError)
{
    // The repeat over TCP of a truncated UDP reply: dnsmasq's big record, through ixmail dns.
    FQuery.SetProtocol(dpUseTcp);
    test::ScriptedServer whole({AnswerOverTcp(std::string(700, 't'), {1, 40})});
    Aim(whole.Port());
    EXPECT_EQ(ResolveTXT("example.test"), std::string(700, 't'));
    EXPECT_EQ(whole.Finish(), "");

    test::ScriptedServer cut({AnswerOverTcp("whole", {}, 20), test::Step::Close()});
    Aim(cut.Port());
    ExpectError<EixDnsError>([&] { ResolveTXT("example.test"); }, -1);
    EXPECT_EQ(cut.Finish(), "");
}

// ---- Referrals and servers ------------------------------------------------------------------

TEST_F(DnsQueryTest, ReferralsAreFollowedAndServerIsKeptAndWithoutGlueEndAtTheDepthLimit)
{
    // 127.0.0.1 refers the names of child.test to ns.child.test (127.0.0.2, given as glue), which
    // answers; and any other name to ns.loop.test without its address, so that looking that name
    // up meets the same referral again.
    ScriptedDnsServer parent("127.0.0.1", 0, [](TixDnsMessage& AQuery) {
        const bool child = AQuery.GetQueries()[0]->GetName().ends_with("child.test");
        return std::vector<TDnsDatagram>{{ReplyTo(AQuery, [child](TixDnsMessage& AReply) {
            auto* ns = static_cast<TixDnsNSRecord*>(AReply.GetNameServers().Add(AReply.CreateRecord(DnsTypeNS)));
            ns->SetName(child ? "child.test" : "loop.test");
            ns->SetNameServer(child ? "ns.child.test" : "ns.loop.test");
            if (!child)
                return;
            auto* glue = static_cast<TixDnsARecord*>(AReply.GetAdditionalRecords().Add(AReply.CreateRecord(DnsTypeA)));
            glue->SetName("NS.child.test");
            glue->SetIPAddress("127.0.0.2");
        })}};
    });
    ScriptedDnsServer child("127.0.0.2", parent.Port(), AnswerTxt("from the child"));
    Aim(parent.Port());
    FQuery.SetUseRecursiveQueries(true);
    EXPECT_EQ(ResolveTXT("key.child.test"), "from the child");
    EXPECT_EQ(FQuery.GetServer(), "127.0.0.1");
    ASSERT_NE(FQuery.GetHostInfo(), nullptr);
    EXPECT_EQ(FQuery.GetHostInfo()->GetIPAddress(), "127.0.0.2");
    EXPECT_EQ(FQuery.GetHostInfo()->GetName(), "ns.child.test");

    FQuery.SetUseRecursiveQueries(false);
    EXPECT_EQ(ResolveTXT("key.child.test"), "");
    EXPECT_EQ(FQuery.GetNameServerNames().Count(), 1);

    const size_t asked = parent.Queries().size();
    FQuery.SetRootNameServers(TStringList{"127.0.0.1"});
    FQuery.SetUseRecursiveQueries(true);
    EXPECT_EQ(ResolveTXT("key.loop.test"), "");
    EXPECT_EQ(FQuery.GetServer(), "127.0.0.1");
    EXPECT_LE(parent.Queries().size() - asked, 10u);
}

TEST_F(DnsQueryTest, WithoutAServerTheSystemsNameServersAreAskedAndNoneAnsweringRaisesTheLastError)
{
    ScriptedDnsServer server("127.0.0.1", 0, AnswerTxt("via resolv.conf"));
    // Name server lines in order, without duplicates; 127.0.0.3 does not answer, and the address
    // after 127.0.0.1 is never asked.
    const test::TScratch scratch("resolv");
    const std::string config = (scratch.Path() / "resolv.conf").string();
    std::ofstream(config) << "# generated\nsearch example.test\nnameserver 127.0.0.3\n"
                             "  nameserver\t127.0.0.1  # second\n;nameserver 192.0.2.99\n"
                             "nameserver ::1%lo\nnameserver 127.0.0.3\noptions ndots:2\nnameserver\n";
    ::setenv("IX_RESOLV_CONF", config.c_str(), 1);
    Aim(server.Port(), 300);
    FQuery.SetServer("");
    EXPECT_EQ(ResolveTXT("example.test"), "via resolv.conf");
    EXPECT_EQ(FQuery.GetRootNameServers().Join(" "), "127.0.0.3 127.0.0.1 ::1%lo");
    EXPECT_EQ(FQuery.GetServer(), "127.0.0.1");
    ::unsetenv("IX_RESOLV_CONF");

    // When no root name server answers, the last error is raised and no server is kept.
    FQuery.SetServer("");
    FQuery.SetRootNameServers(TStringList{"127.0.0.2", "127.0.0.3"});
    ExpectError<EixSocketError>([&] { ResolveTXT("example.test"); }, SocketErrorTimeout);
    EXPECT_EQ(FQuery.GetServer(), "");
}

// ---- The UDP client under the query ---------------------------------------------------------

TEST(UdpClient, SendsAndReceivesWholeDatagramsAndReportsThem)
{
    ScriptedDnsServer server("127.0.0.1", 0, [](TixDnsMessage& AQuery) {
        return std::vector<TDnsDatagram>{{ReplyTo(AQuery)}};
    });
    TixUdpClient client;
    client.SetServer("localhost");
    client.SetPort(server.Port());
    client.SetDisableGuiProcessing(true);
    int64_t sentPosition = -1;
    int64_t receivedSize = -1;
    client.OnSendPacket = [&](TObject*, TStream* AData) { sentPosition = AData->GetPosition(); };
    client.OnReceivePacket = [&](TObject*, TStream* AData) { receivedSize = AData->GetSize(); };

    TixDnsMessage query;
    query.GetQueries().Add(query.CreateRecord(DnsTypeA))->SetName("example.test");
    TMemoryStream request;
    query.Build(request, 0);
    request.SetPosition(0);
    client.Open();
    client.SendPacket(&request);
    EXPECT_EQ(sentPosition, request.GetSize());
    TMemoryStream reply;
    client.ReceivePacket(&reply);
    EXPECT_EQ(receivedSize, request.GetSize());
    EXPECT_EQ(reply.View().substr(0, 2), request.View().substr(0, 2));
    client.Close();
    EXPECT_THROW(client.SendPacket(&request), EixSocketError);
}

} // namespace
} // namespace ix
