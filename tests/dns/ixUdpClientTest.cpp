// The UDP client component: one datagram out and one in, its events, and the time-out of a
// server that does not answer.
#include "dns/ixUdpClient.h"

#include <gtest/gtest.h>

#include "dns/ScriptedDnsServer.h"
#include "support/ExpectError.h"

namespace ix {
namespace {

using test::ScriptedDnsServer;
using test::TDnsDatagram;

TEST(UdpClient, SendsAndReceivesWholeDatagramsAndReportsThem)
{
    ScriptedDnsServer server("127.0.0.1", 0, [](TixDnsMessage& AQuery) {
        return std::vector<TDnsDatagram>{{test::ReplyTo(AQuery)}};
    });
    TixUdpClient client;
    EXPECT_EQ(client.GetDatagramSize(), 8192);
    EXPECT_EQ(client.GetTimeOut(), 5000);
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

TEST(UdpClient, AServerThatDoesNotAnswerEndsInTheTimeOut)
{
    ScriptedDnsServer silent("127.0.0.1", 0, [](TixDnsMessage&) { return std::vector<TDnsDatagram>{}; });
    TixUdpClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(silent.Port());
    client.SetTimeOut(150);
    client.Open();
    TMemoryStream request;
    request.WriteText("not a DNS message");
    request.SetPosition(0);
    client.SendPacket(&request);
    TMemoryStream reply;
    EXPECT_EQ(test::ExpectError<EixSocketError>([&] { client.ReceivePacket(&reply); }, SocketErrorTimeout),
        "Timeout error occured");
}

} // namespace
} // namespace ix
