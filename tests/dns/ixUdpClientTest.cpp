// The UDP client component: one datagram out and one in, and its events (the time-out of a
// server that does not answer is met through the query component).
#include "dns/ixUdpClient.h"

#include <gtest/gtest.h>

#include "dns/ScriptedDnsServer.h"

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

} // namespace
} // namespace ix
