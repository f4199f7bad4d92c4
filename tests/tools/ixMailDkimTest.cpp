// ixmail dkim against the project's dnsmasq (tests/peers/dnsmasq), which serves the key record
// of ix.test's selectors "sel" (RSA) and "ed" (Ed25519) and a revoked one: signed files verify with their keys from DNS
// and with dkimpy, and verify reports every signature with its status.
#include <gtest/gtest.h>

#include "ToolRunner.h"
#include "support/PeerEnv.h"

namespace ix {
namespace {

using test::ReadAll;
using test::RunTool;
using test::TScratch;

constexpr char Message[] = "From: Joe <joe@ix.test>\nTo: Ann <ann@example.org>\nSubject: a  test\n"
                           "Date: Sun, 6 Dec 2026 10:00:00 +0000\n\nHello  there\n\n";

class IxmailDkim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FState = test::ReadPeerEnv(IX_DNSMASQ_STATE);
        ASSERT_FALSE(FState["DNS_PORT"].empty()) << "dnsmasq is not running";
        std::ofstream(File("message.eml"), std::ios::binary) << Message;
        // The zone's key as openssl writes it (PKCS #8), as PKCS #1, and its public half.
        const std::string key = FState["IX_PEER_DIR"] + "/dkim.key";
        ASSERT_EQ(std::system(("openssl rsa -in " + key + " -traditional -out " + File("pkcs1.pem") + " 2>/dev/null && " +
                                  "openssl rsa -in " + key + " -pubout -out " + File("public.pem") + " 2>/dev/null")
                                  .c_str()),
            0);
    }

    std::string File(const std::string& AName) const { return (Scratch.Path() / AName).string(); }
    std::string Dns() const { return " --server 127.0.0.1 --port " + FState.at("DNS_PORT"); }
    std::string ZoneKey() const { return FState.at("IX_PEER_DIR") + "/dkim.key"; }

    std::map<std::string, std::string> FState;
    TScratch Scratch{"dkim"};
};

TEST_F(IxmailDkim, SignedFilesVerifyWithTheKeyFromDnsAndWithDkimpy)
{
    // The key file, selector, options and the algorithm they give.
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {ZoneKey(), "sel", "--canonicalization relaxed/relaxed", "rsa-sha256"},
        {File("pkcs1.pem"), "sel", "--algorithm rsa-sha1 --headers From:Subject:Date", "rsa-sha1"},
        {FState.at("IX_PEER_DIR") + "/dkim-ed25519.pem", "ed", "--canonicalization relaxed", "ed25519-sha256"},
    };
    std::string files;
    for (const auto& [key, selector, options, algorithm] : cases)
    {
        const std::string out = File(selector + algorithm);
        const auto sign = RunTool("dkim sign " + File("message.eml") + " --key " + key + " --domain ix.test --selector " +
                selector + " --out " + out + " " + options,
            Scratch.Path());
        ASSERT_EQ(sign.Status, 0) << sign.Err;
        const std::string signedText = ReadAll(out);
        EXPECT_TRUE(signedText.starts_with("DKIM-Signature: v=1; a=" + algorithm + "; d=ix.test; s=" + selector + ";"))
            << signedText;
        EXPECT_TRUE(signedText.ends_with(Message)) << "the message follows the field unchanged";

        const auto verify = RunTool("dkim verify " + out + Dns(), Scratch.Path());
        EXPECT_EQ(verify.Status, 0) << verify.Err;
        EXPECT_EQ(verify.Out, "pass\tix.test\t" + selector + "\t" + algorithm + "\n");
        files += " " + out;
    }
    const auto dkimpy = test::RunProgram("/usr/bin/python3", IX_DKIMPY_TOOL " verify " IX_DNSMASQ_STATE + files, Scratch.Path());
    EXPECT_EQ(dkimpy.Status, 0) << dkimpy.Err;
    EXPECT_EQ(dkimpy.Out, "ok\nok\nok\n");
}

TEST_F(IxmailDkim, VerifyReportsEverySignatureAndFailsForAnyBadOne)
{
    // Signed for "sel", then on top for the revoked selector.
    for (const auto& [from, selector, to] : {std::tuple{"message.eml", "sel", "once"}, {"once", "revoked", "twice"}})
    {
        const auto run = RunTool("dkim sign " + File(from) + " --key " + File("pkcs1.pem") + " --domain ix.test --selector " +
                selector + " --out " + File(to),
            Scratch.Path());
        ASSERT_EQ(run.Status, 0) << run.Err;
    }
    const auto both = RunTool("dkim verify " + File("twice") + Dns(), Scratch.Path());
    EXPECT_EQ(both.Status, 1);
    EXPECT_EQ(both.Out, "fail\tix.test\trevoked\trsa-sha256\tThe key is revoked (code -18)\n"
                        "pass\tix.test\tsel\trsa-sha256\n");
    EXPECT_EQ(both.Err, "ixmail: The key is revoked (code -18)\n");

    // A key from a file replaces DNS; a changed body fails with its reason.
    const std::string changed = File("changed");
    std::string text = ReadAll(File("twice"));
    text.replace(text.find("Hello"), 5, "Hallo");
    std::ofstream(changed, std::ios::binary) << text;
    const auto withKey = RunTool("dkim verify " + File("twice") + " --key " + File("public.pem"), Scratch.Path());
    EXPECT_EQ(withKey.Out, "pass\tix.test\trevoked\trsa-sha256\npass\tix.test\tsel\trsa-sha256\n");
    EXPECT_EQ(withKey.Status, 0) << withKey.Err;
    const auto tampered = RunTool("dkim verify " + changed + " --key " + File("public.pem"), Scratch.Path());
    EXPECT_EQ(tampered.Status, 1);
    EXPECT_EQ(tampered.Err, "ixmail: Body hash values differ (code -13)\n");
}

TEST_F(IxmailDkim, FailuresGiveOneLineAndTheirStatus)
{
    const std::string message = File("message.eml");
    test::ExpectFailures({
                             {"dkim sign " + message + " --domain ix.test --selector sel", 2, "option --key is required"},
                             {"dkim check " + message, 2, "dkim takes one of sign, verify"},
                             {"dkim sign " + message + " --key " + message + " --domain ix.test --selector sel", 1,
                                 "holds no PEM block"},
                             {"dkim sign " + message + " --key " + File("public.pem") + " --domain ix.test --selector sel",
                                 1, "holds no private key (PUBLIC KEY)"},
                             {"dkim verify " + File("missing.eml") + Dns(), 1, "Cannot open file"},
                             {"dkim verify " + message + Dns(), 1, "The message has no DKIM-Signature field"},
                         },
        Scratch.Path());
}

} // namespace
} // namespace ix
