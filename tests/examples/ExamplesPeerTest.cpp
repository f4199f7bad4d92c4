// The examples against the project's servers, as a user runs them: fetch_mailbox saves the demo
// mailbox byte for byte from Dovecot over TLS (the sample window saves and checks its attachments);
// verify_dkim judges each signature with keys from dnsmasq; lookup_txt prints records.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/PeerEnv.h"
#include "support/ProgramRun.h"

namespace ix {
namespace {

namespace fs = std::filesystem;
using namespace test;

class ExamplesPeer : public ::testing::Test
{
protected:
    /// fetch_mailbox for the demo user into the scratch folder, trusting the CA of Dovecot's
    /// certificate or not.
    TProgramRun Fetch(bool ATrusted)
    {
        return RunProgram((ATrusted ? "SSL_CERT_FILE=" + Dovecot["DOVECOT_CA"] : "env -u SSL_CERT_FILE") +
                " POP3_PASSWORD=samplepasswd " IX_FETCH_MAILBOX,
            "127.0.0.1 " + Dovecot["DOVECOT_TLS_PORT"] + " IvoryTester " + Scratch.Path().string(), Scratch.Path());
    }

    /// AInput signed by dkimpy for ix.test with the zone's key as ASigning ("selector,canon,algorithm").
    std::string DkimpySign(const std::string& AInput, const std::string& ASigning)
    {
        std::ofstream(Scratch.Path() / "unsigned.eml", std::ios::binary) << AInput;
        const auto run = RunProgram("/usr/bin/python3", IX_SOURCE_DIR "/tests/dkim/dkimpy_tool.py sign " IX_DNSMASQ_STATE
            " ix.test " + Scratch.Path().string() + " " + (Scratch.Path() / "unsigned.eml").string() + " " + ASigning,
            Scratch.Path());
        EXPECT_EQ(run.Status, 0) << run.Err;
        return ReadAll(Scratch.Path() / "0.eml");
    }

    std::map<std::string, std::string> Dovecot = RequirePeerEnv(std::string(IX_DOVECOT_STATE) + "/dovecot.env");
    std::map<std::string, std::string> Dns = RequirePeerEnv(IX_DNSMASQ_STATE);
    TScratch Scratch{"examples-peer"};
};

TEST_F(ExamplesPeer, FetchSavesTheMailboxByteForByteFromATrustedServerOnly)
{
    // Without the CA's certificate the server is refused, with the library's message and code.
    const auto refused = Fetch(false);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_TRUE(refused.Err.ends_with("certificate refused: A certificate chain could not be built to a trusted root authority\n"
                                      "A certificate chain could not be built to a trusted root authority (code -2146762486)\n"))
        << refused.Err;
    const auto fetch = Fetch(true);
    ASSERT_EQ(fetch.Status, 0) << fetch.Err;
    const fs::path expected = fs::path(IX_DOVECOT_STATE) / "expected" / "IvoryTester";
    for (const auto& entry : fs::directory_iterator(expected))
        EXPECT_TRUE(ReadAll(entry.path()) == ReadAll(Scratch.Path() / entry.path().filename())) << entry.path().filename();
    // Beside the mailbox: the program's output.
    EXPECT_EQ(std::distance(fs::directory_iterator(Scratch.Path()), {}), std::distance(fs::directory_iterator(expected), {}) + 2);
}

TEST_F(ExamplesPeer, VerifyDkimGivesEachSignaturesVerdict)
{
    const std::string message = "From: Joe <joe@ix.test>\r\nTo: ann@ix.test\r\nSubject: signed\r\n"
                                "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nHello\r\n";
    const std::string once = DkimpySign(message, "sel,relaxed/relaxed,rsa-sha256");
    // The message, and the exit status and output of verify_dkim on it.
    const std::tuple<std::string, int, std::string> cases[] = {
        {once, 0, "d=ix.test s=sel: pass\n"},
        {DkimpySign(once, "revoked,relaxed/relaxed,rsa-sha256"), 1,
            "d=ix.test s=revoked: fail: The key is revoked (code -18)\nd=ix.test s=sel: pass\n"},
        {message, 1, ""},
    };
    for (const auto& [signedMessage, status, out] : cases) {
        std::ofstream(Scratch.Path() / "signed.eml", std::ios::binary) << signedMessage;
        // The keys come from dnsmasq.
        const auto run = RunProgram(IX_VERIFY_DKIM, (Scratch.Path() / "signed.eml").string() + " 127.0.0.1 " + Dns["DNS_PORT"],
            Scratch.Path());
        EXPECT_EQ(run.Status, status) << signedMessage << run.Err;
        EXPECT_EQ(run.Out, out) << signedMessage;
    }
}

TEST_F(ExamplesPeer, LookupTxtPrintsTheRecordAndARefusedNameFails)
{
    const auto found = RunProgram(IX_LOOKUP_TXT, "multi.ix.test 127.0.0.1 " + Dns["DNS_PORT"], Scratch.Path());
    EXPECT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(found.Out, "first stringsecond string\n");
    const auto refused = RunProgram(IX_LOOKUP_TXT, "example.com 127.0.0.1 " + Dns["DNS_PORT"], Scratch.Path());
    EXPECT_EQ(refused.Status, 1);
    EXPECT_TRUE(refused.Err.ends_with("(code 5)\n")) << refused.Err;
}

} // namespace
} // namespace ix
