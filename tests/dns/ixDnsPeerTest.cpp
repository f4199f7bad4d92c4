// The DNS query component against dnsmasq started by tests/peers/dnsmasq as the server of the
// zone ix.test: the values of its records and the lists made of them, and a truncated reply kept
// over UDP. (tools_peer_tests compare every record of the zone, as ixmail dns prints it, with
// dig's answers, and show the response codes.)
#include "dns/ixDnsQuery.h"

#include "support/PeerEnv.h"

#include <gtest/gtest.h>

#include <map>

namespace ix {
namespace {

class DnsPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FValues = test::RequirePeerEnv(IX_DNSMASQ_STATE);
        FQuery.SetServer("127.0.0.1");
        FQuery.SetPort(std::stoi(FValues["DNS_PORT"]));
        FQuery.SetTimeOut(3000);
        FQuery.SetDisableGuiProcessing(true);
    }

    std::map<std::string, std::string> FValues;
    TixDnsQuery FQuery;
};

TEST_F(DnsPeer, RecordsCarryTheValuesTheServerWasGivenAndATruncatedUdpReplyIsKept)
{
    FQuery.Lookup("www.ix.test", DnsTypeA);
    ASSERT_EQ(FQuery.GetHosts().Count(), 1);
    EXPECT_EQ(FQuery.GetHosts()[0]->GetIPAddress(), "192.0.2.10");
    EXPECT_EQ(FQuery.GetHosts()[0]->GetName(), "www.ix.test");
    EXPECT_EQ(FQuery.GetResponse().GetAnswers()[0]->GetTTL(), 300u);

    FQuery.Lookup("WWW.ix.test", DnsTypeAAAA);
    ASSERT_EQ(FQuery.GetIPv6Hosts().Count(), 1);
    EXPECT_EQ(FQuery.GetIPv6Hosts()[0]->GetIPAddress(), "2001:DB8::10");

    FQuery.Lookup("ix.test", DnsTypeMX);
    ASSERT_EQ(FQuery.GetMailServers().Count(), 2);
    EXPECT_EQ(FQuery.GetMailServers()[0]->GetName(), "mx1.ix.test");
    EXPECT_EQ(FQuery.GetMailServers()[0]->GetIPAddress(), "192.0.2.21");
    EXPECT_EQ(FQuery.GetMailServers()[1]->GetName(), "mx2.ix.test");
    EXPECT_EQ(FQuery.GetMailServers()[1]->GetIPAddress(), "192.0.2.22");

    FQuery.Lookup("alias2.ix.test", DnsTypeA);
    EXPECT_EQ(FQuery.GetAliases().Join(" "), "alias2.ix.test alias.ix.test");
    ASSERT_EQ(FQuery.GetHosts().Count(), 1);
    EXPECT_EQ(FQuery.GetHosts()[0]->GetIPAddress(), "192.0.2.10");

    // A truncated reply is kept when UDP is chosen (the repeat over TCP when the protocol is left
    // to the query, and the reply over TCP: ixmail dns against dig).
    FQuery.SetProtocol(dpUseUdp);
    std::string text;
    FQuery.ResolveTXT("big.ix.test", text);
    EXPECT_TRUE(FQuery.GetResponse().GetHeader().GetIsTruncated());
    EXPECT_LT(FQuery.GetResponse().GetAnswers().Count(), 24);
}

} // namespace
} // namespace ix
