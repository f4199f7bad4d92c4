// The DNS query component against dnsmasq started by tests/peers/dnsmasq as the server of the
// zone ix.test, cross-checked record by record with dig asking the same server.
#include "dns/ixDnsQuery.h"

#include "support/PeerEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

namespace ix {
namespace {

class DnsPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FValues = test::ReadPeerEnv(IX_DNSMASQ_STATE);
        ASSERT_FALSE(FValues.empty()) << "dnsmasq is not running (no " << IX_DNSMASQ_STATE << ")";
        ASSERT_FALSE(FValues["DNS_PORT"].empty());
        FQuery.SetServer("127.0.0.1");
        FQuery.SetPort(std::stoi(FValues["DNS_PORT"]));
        FQuery.SetTimeOut(3000);
        FQuery.SetDisableGuiProcessing(true);
    }

    std::string ResolveTXT(const std::string& AName)
    {
        std::string text;
        FQuery.ResolveTXT(AName, text);
        return text;
    }

    /// The response code that asking for AName raises; 0 when none.
    int32_t ErrorOf(const std::string& AName)
    {
        try
        {
            FQuery.Lookup(AName, DnsTypeA);
        }
        catch (const EixDnsError& E)
        {
            return E.ErrorCode();
        }
        return 0;
    }

    /// dig's short answer lines for AName and AType, sorted.
    std::vector<std::string> Dig(const std::string& AName, const std::string& AType)
    {
        const std::string command = "dig @127.0.0.1 -p " + FValues["DNS_PORT"] + " +short +tries=1 +time=3 " + AName
            + " " + AType + " 2>&1";
        std::vector<std::string> lines;
        FILE* output = popen(command.c_str(), "r");
        if (output == nullptr)
            return lines;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, output) != nullptr)
        {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            lines.push_back(line);
        }
        EXPECT_EQ(pclose(output), 0) << command;
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    /// The answers of the last lookup in dig's short form, sorted.
    std::vector<std::string> ShortAnswers()
    {
        std::vector<std::string> lines;
        const TixDnsRecordList& answers = FQuery.GetResponse().GetAnswers();
        for (int32_t i = 0; i < answers.Count(); ++i)
        {
            const TixDnsRecord* record = answers[i];
            EXPECT_EQ(record->GetTTL(), 300u) << record->GetName();
            if (const auto* a = dynamic_cast<const TixDnsARecord*>(record))
                lines.push_back(a->GetIPAddress());
            else if (const auto* aaaa = dynamic_cast<const TixDnsAAAARecord*>(record))
                lines.push_back(LowerCase(aaaa->GetIPv6Address()));
            else if (const auto* mx = dynamic_cast<const TixDnsMXRecord*>(record))
                lines.push_back(std::to_string(mx->GetPreference()) + " " + mx->GetMailServer() + ".");
            else if (const auto* cname = dynamic_cast<const TixDnsCNAMERecord*>(record))
                lines.push_back(cname->GetPrimaryName() + ".");
            else if (const auto* txt = dynamic_cast<const TixDnsTXTRecord*>(record))
            {
                std::string line;
                for (int32_t s = 0; s < txt->GetStrings().Count(); ++s)
                    line += (s > 0 ? " \"" : "\"") + txt->GetStrings()[s] + "\"";
                lines.push_back(line);
            }
            else
                lines.push_back("type " + std::to_string(record->GetRecordType()));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    std::map<std::string, std::string> FValues;
    TixDnsQuery FQuery;
};

TEST_F(DnsPeer, EveryNameAndTypeOfTheZoneMatchesDig)
{
    const std::pair<const char*, int32_t> cases[] = {{"www.ix.test", DnsTypeA}, {"www.ix.test", DnsTypeAAAA},
        {"ix.test", DnsTypeMX}, {"alias2.ix.test", DnsTypeA}, {"alias2.ix.test", DnsTypeCNAME},
        {"alias.ix.test", DnsTypeAAAA}, {"mx1.ix.test", DnsTypeA}, {"multi.ix.test", DnsTypeTXT},
        {"sel._domainkey.ix.test", DnsTypeTXT}, {"big.ix.test", DnsTypeTXT}, {"www.ix.test", DnsTypeTXT}};
    const std::map<int32_t, std::string> typeNames = {{DnsTypeA, "A"}, {DnsTypeAAAA, "AAAA"}, {DnsTypeMX, "MX"},
        {DnsTypeCNAME, "CNAME"}, {DnsTypeTXT, "TXT"}};
    for (const auto& [name, type] : cases)
    {
        FQuery.Lookup(name, type);
        const std::vector<std::string> ours = ShortAnswers();
        EXPECT_EQ(ours, Dig(name, typeNames.at(type))) << name << " " << typeNames.at(type);
        const bool hasRecords = type != DnsTypeTXT || std::string(name) != "www.ix.test";
        EXPECT_EQ(ours.empty(), !hasRecords) << name;
    }
}

TEST_F(DnsPeer, RecordsCarryTheValuesTheServerWasGiven)
{
    FQuery.Lookup("www.ix.test", DnsTypeA);
    ASSERT_EQ(FQuery.GetHosts().Count(), 1);
    EXPECT_EQ(FQuery.GetHosts()[0]->GetIPAddress(), "192.0.2.10");
    EXPECT_EQ(FQuery.GetHosts()[0]->GetName(), "www.ix.test");

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
}

TEST_F(DnsPeer, ATruncatedUdpReplyIsRepeatedOverTcpUnlessUdpIsChosen)
{
    const std::string all = ResolveTXT("big.ix.test");
    EXPECT_FALSE(FQuery.GetResponse().GetHeader().GetIsTruncated());
    EXPECT_EQ(FQuery.GetResponse().GetAnswers().Count(), 24);
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), 23);
    EXPECT_EQ(all.substr(0, 8), "\"record ");

    FQuery.SetProtocol(dpUseUdp);
    ResolveTXT("big.ix.test");
    EXPECT_TRUE(FQuery.GetResponse().GetHeader().GetIsTruncated());
    EXPECT_LT(FQuery.GetResponse().GetAnswers().Count(), 24);

    FQuery.SetProtocol(dpUseTcp);
    ResolveTXT("big.ix.test");
    EXPECT_EQ(FQuery.GetResponse().GetAnswers().Count(), 24);
}

TEST_F(DnsPeer, RefusedAndMissingNamesRaiseTheirCodes)
{
    EXPECT_EQ(ErrorOf("example.com"), 5);
    EXPECT_EQ(ErrorOf("missing.ix.test"), 3);
    EXPECT_EQ(ErrorOf("www.ix.test"), 0);
}

} // namespace
} // namespace ix
