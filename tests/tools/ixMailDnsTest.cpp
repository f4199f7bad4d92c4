// ixmail dns against the project's dnsmasq (tests/peers/dnsmasq, zone ix.test): the records
// are printed exactly as dig prints the same server's answers.
#include <gtest/gtest.h>

#include "ToolRunner.h"
#include "support/PeerEnv.h"

namespace ix {
namespace {

using test::RunTool;
using test::TScratch;

class IxmailDns : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FPort = test::ReadPeerEnv(IX_DNSMASQ_STATE)["DNS_PORT"];
        ASSERT_FALSE(FPort.empty()) << "dnsmasq is not running";
    }

    std::string Server() const { return " --server 127.0.0.1 --port " + FPort; }

    /// dig's answer section for AQuestion ("NAME TYPE") from the same server.
    std::string Dig(const std::string& AQuestion) const
    {
        const auto dig = test::RunProgram("dig", "@127.0.0.1 -p " + FPort + " +noall +answer +tries=1 +time=3 " + AQuestion,
            Scratch.Path());
        EXPECT_EQ(dig.Status, 0) << AQuestion << ": " << dig.Err;
        return dig.Out;
    }

    std::string FPort;
    TScratch Scratch{"dns"};
};

TEST_F(IxmailDns, RecordsReadAsDigPrintsThem)
{
    // Over TCP only where it matters: a reply too big for UDP, and one more.
    for (const std::string question : {"www.ix.test A", "WWW.ix.test aaaa", "ix.test MX --tcp", "alias2.ix.test A",
             "multi.ix.test TXT", "sel._domainkey.ix.test TXT", "big.ix.test TXT --tcp", "big.ix.test TXT",
             "www.ix.test TXT"})
    {
        const auto run = RunTool("dns " + question + Server(), Scratch.Path());
        EXPECT_EQ(run.Status, 0) << question << ": " << run.Err;
        EXPECT_EQ(run.Out, Dig(question.substr(0, question.find(" --")))) << question;
    }
}

TEST_F(IxmailDns, FailuresGiveOneLineAndTheirStatus)
{
    test::ExpectFailures({
                             {"dns missing.ix.test" + Server(), 1, "ixmail: No such name (code 3)\n"},
                             {"dns example.com MX" + Server(), 1, "ixmail: Refused (code 5)\n"},
                             {"dns www.ix.test SRV" + Server(), 2,
                                 "ixmail: TYPE takes one of A, NS, CNAME, SOA, PTR, MX, TXT, AAAA\n"},
                             {"dns" + Server(), 2, "ixmail: dns takes NAME [TYPE] (ixmail dns --help)\n"},
                         },
        Scratch.Path());
}

} // namespace
} // namespace ix
