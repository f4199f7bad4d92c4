// The DNS query component against dnsmasq started by tests/peers/dnsmasq as the server of the
// zone ix.test: the values of its records and the lists made of them, and a truncated reply kept
// over UDP. (tools_peer_tests compare every record of the zone, as ixmail dns prints it, with
// dig's answers, and show the response codes.)
#include "dns/ixDnsQuery.h"

#include "support/PeerEnv.h"

#include <gtest/gtest.h>

#include <string>

namespace ix {
namespace {

TEST(DnsPeer, RecordsCarryTheValuesTheServerWasGivenAndATruncatedUdpReplyIsKept)
{
    TixDnsQuery query;
    query.SetServer("127.0.0.1");
    query.SetPort(std::stoi(test::RequirePeerEnv(IX_DNSMASQ_STATE).at("DNS_PORT")));
    query.SetTimeOut(3000);
    query.SetDisableGuiProcessing(true);

    query.Lookup("www.ix.test", DnsTypeA);
    ASSERT_EQ(query.GetHosts().Count(), 1);
    EXPECT_EQ(query.GetHosts()[0]->GetIPAddress(), "192.0.2.10");
    EXPECT_EQ(query.GetHosts()[0]->GetName(), "www.ix.test");
    EXPECT_EQ(query.GetResponse().GetAnswers()[0]->GetTTL(), 300u);

    query.Lookup("WWW.ix.test", DnsTypeAAAA);
    ASSERT_EQ(query.GetIPv6Hosts().Count(), 1);
    EXPECT_EQ(query.GetIPv6Hosts()[0]->GetIPAddress(), "2001:DB8::10");

    query.Lookup("ix.test", DnsTypeMX);
    ASSERT_EQ(query.GetMailServers().Count(), 2);
    EXPECT_EQ(query.GetMailServers()[0]->GetName(), "mx1.ix.test");
    EXPECT_EQ(query.GetMailServers()[0]->GetIPAddress(), "192.0.2.21");
    EXPECT_EQ(query.GetMailServers()[1]->GetName(), "mx2.ix.test");
    EXPECT_EQ(query.GetMailServers()[1]->GetIPAddress(), "192.0.2.22");

    query.Lookup("alias2.ix.test", DnsTypeA);
    EXPECT_EQ(query.GetAliases().Join(" "), "alias2.ix.test alias.ix.test");
    ASSERT_EQ(query.GetHosts().Count(), 1);
    EXPECT_EQ(query.GetHosts()[0]->GetIPAddress(), "192.0.2.10");

    // A truncated reply is kept when UDP is chosen (the repeat over TCP when the protocol is left
    // to the query, and the reply over TCP: ixmail dns against dig).
    query.SetProtocol(dpUseUdp);
    std::string text;
    query.ResolveTXT("big.ix.test", text);
    EXPECT_TRUE(query.GetResponse().GetHeader().GetIsTruncated());
    EXPECT_LT(query.GetResponse().GetAnswers().Count(), 24);
}

} // namespace
} // namespace ix
