// ixmail pop3 against the project's Dovecot (tests/peers/dovecot): the listing agrees with the
// mailbox the start script wrote, fetched files are byte-identical to it, delete removes exactly
// what was named, and every failure is one line with its exit status.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "ToolRunner.h"
#include "support/PeerEnv.h"

namespace ix {
namespace {

using test::ReadAll;
using test::RunTool;
using test::TScratch;

class IxmailDovecot : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Env = test::ReadPeerEnv(std::string(IX_DOVECOT_STATE) + "/dovecot.env");
        ::setenv("SSL_CERT_FILE", Env["DOVECOT_CA"].c_str(), 1);
        ::setenv("IX_TEST_PASSWORD", "secret-few", 1);
    }

    void SetUp() override { ASSERT_FALSE(Env["DOVECOT_PLAIN_PORT"].empty()) << "Dovecot is not running"; }

    /// The options of a session as AUser over the plain or the TLS port.
    static std::string Session(const std::string& AUser, const std::string& AOptions = "--tls none")
    {
        const bool implicit = AOptions.find("implicit") != std::string::npos;
        return "--server 127.0.0.1 --port " + Env[implicit ? "DOVECOT_TLS_PORT" : "DOVECOT_PLAIN_PORT"] + " --user " +
            AUser + " --password-env IX_TEST_PASSWORD --timeout 10 " + AOptions;
    }

    static std::filesystem::path Expected(const std::string& AUser)
    {
        return std::filesystem::path(IX_DOVECOT_STATE) / "expected" / AUser;
    }

    static inline std::map<std::string, std::string> Env;
    TScratch Scratch{"pop3"};
};

TEST_F(IxmailDovecot, ListAgreesWithTheMailboxInEveryTlsModeLoginMethodAndProxy)
{
    const auto socks = test::ReadPeerEnv(IX_SOCKS_STATE);
    ASSERT_FALSE(socks.empty()) << "the SOCKS proxies are not running";
    ::setenv("IX_TEST_TOKEN", "ix-token-few", 1);
    for (const std::string& options : {std::string("--tls none"), std::string("--tls starttls --login cram-md5"),
             std::string("--tls implicit --login apop"), std::string("--tls implicit --login auto"),
             std::string("--tls none --login xoauth2 --password-env IX_TEST_TOKEN"),
             "--tls none --socks 127.0.0.1:" + socks.at("MICROSOCKS_PORT"),
             "--tls none --socks 127.0.0.1:" + socks.at("DANTE_PORT") + " --socks-version 4",
             std::string("--tls none --login user --json")})
    {
        const auto run = RunTool("pop3 list " + Session("few", options), Scratch.Path());
        ASSERT_EQ(run.Status, 0) << options << ": " << run.Err;
        EXPECT_EQ(run.Err, "") << options;
        for (int n = 1; n <= 3; ++n)
        {
            const std::string message = ReadAll(Expected("few") / (std::to_string(n) + ".eml"));
            const std::string size = std::to_string(message.size());
            const std::string shown = options.ends_with("--json")
                ? "{\"number\":" + std::to_string(n) + ",\"size\":" + size + ","
                : std::to_string(n) + "\t" + size + "\t";
            EXPECT_NE(run.Out.find(shown), std::string::npos) << options << "\n" << run.Out;
            EXPECT_NE(run.Out.find("Message number " + std::to_string(n)), std::string::npos) << run.Out;
        }
    }
}

TEST_F(IxmailDovecot, FetchWritesEveryMessageByteForByteIntoFilesOrAMaildir)
{
    const auto files = RunTool("pop3 fetch " + Session("few", "--tls implicit") + " --out " + (Scratch.Path() / "mail").string(),
        Scratch.Path());
    ASSERT_EQ(files.Status, 0) << files.Err;
    EXPECT_EQ(files.Err, ""); // no progress bar off a terminal
    const std::filesystem::path maildir = Scratch.Path() / "Maildir";
    const auto delivered = RunTool("pop3 fetch " + Session("few") + " --maildir " + maildir.string(), Scratch.Path());
    ASSERT_EQ(delivered.Status, 0) << delivered.Err;
    std::multiset<std::string> inMaildir, expected;
    for (const auto& entry : std::filesystem::directory_iterator(maildir / "new"))
        inMaildir.insert(ReadAll(entry.path()));
    for (const auto& entry : std::filesystem::directory_iterator(Expected("few")))
    {
        std::string text = ReadAll(entry.path());
        EXPECT_TRUE(text == ReadAll(Scratch.Path() / "mail" / entry.path().filename())) << entry.path().filename();
        // The maildir holds the messages with LF line ends.
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.erase(at, 1);
        expected.insert(text);
    }
    EXPECT_EQ(expected.size(), 3u);
    EXPECT_EQ(inMaildir, expected);
    EXPECT_TRUE(std::filesystem::is_empty(maildir / "tmp"));
    EXPECT_TRUE(std::filesystem::is_directory(maildir / "cur"));
}

TEST_F(IxmailDovecot, AProfileKeepsTheSettingsButNotThePassword)
{
    const std::string profile = (Scratch.Path() / "profile.json").string();
    const auto saved = RunTool("pop3 list " + Session("few", "--tls implicit --login cram-md5") + " --save-profile " + profile,
        Scratch.Path());
    ASSERT_EQ(saved.Status, 0) << saved.Err;
    const std::string text = ReadAll(profile);
    for (const std::string setting : {"\"UseTLS\": \"ctImplicit\"", "\"LoginMethod\": \"lgCramMd5\"", "\"UseSasl\": true",
             "\"UserName\": \"few\"", "\"TimeOut\": 10000"})
        EXPECT_NE(text.find(setting), std::string::npos) << setting << "\n" << text;
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    EXPECT_EQ(std::filesystem::status(profile).permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Loaded as it was stored, and with an option that overrides a stored setting.
    for (const std::string& options : {std::string(), " --tls none --port " + Env["DOVECOT_PLAIN_PORT"]})
    {
        const auto loaded = RunTool("--profile " + profile + " pop3 list --password-env IX_TEST_PASSWORD" + options,
            Scratch.Path());
        EXPECT_EQ(loaded.Status, 0) << options << ": " << loaded.Err;
        EXPECT_NE(loaded.Out.find("Message number 3"), std::string::npos) << loaded.Out;
    }
    std::ofstream(profile) << R"({"UseTLS": "ctSometimes"})";
    const auto bad = RunTool("--profile " + profile + " pop3 list --password-env IX_TEST_PASSWORD", Scratch.Path());
    EXPECT_EQ(bad.Status, 1);
    EXPECT_EQ(bad.Err, "ixmail: Property TixPop3.UseTLS needs one of ctNone, ctAutomatic, ctImplicit, ctExplicit, not "
                       "\"ctSometimes\"\n");
}

TEST_F(IxmailDovecot, DeleteRemovesExactlyTheNamedMessages)
{
    // A mailbox of its own ("deletable", the three messages of "few"): number 1, then the third
    // by its UID.
    ::setenv("IX_DELETABLE_PASSWORD", "secret-deletable", 1);
    const std::string session = Session("deletable") + " --password-env IX_DELETABLE_PASSWORD";
    const auto before = RunTool("pop3 list " + session, Scratch.Path());
    ASSERT_EQ(before.Status, 0) << before.Err;
    const size_t third = before.Out.find("\n3\t");
    ASSERT_NE(third, std::string::npos) << "the mailbox was changed before: restart its Dovecot\n" << before.Out;
    std::istringstream fields(before.Out.substr(third + 1));
    std::string number, size, uid;
    fields >> number >> size >> uid;

    EXPECT_EQ(RunTool("pop3 delete 1 " + session, Scratch.Path()).Status, 0);
    const auto byUid = RunTool("pop3 delete --uid " + uid + " " + session, Scratch.Path());
    EXPECT_EQ(byUid.Status, 0) << byUid.Err;
    const auto after = RunTool("pop3 list " + session, Scratch.Path());
    EXPECT_EQ(std::count(after.Out.begin(), after.Out.end(), '\n'), 1) << after.Out;
    EXPECT_NE(after.Out.find("Message number 2"), std::string::npos) << after.Out;
}

TEST_F(IxmailDovecot, NtlmLoginReachesCyrus)
{
    const auto cyrus = test::ReadPeerEnv(IX_CYRUS_STATE);
    ASSERT_FALSE(cyrus.empty()) << "Cyrus is not running";
    std::string ntlmPassword; // CYRUS_USERS holds "user:password" pairs
    std::istringstream users(cyrus.at("CYRUS_USERS"));
    for (std::string pair; users >> pair;)
        if (pair.starts_with("ntlmuser:"))
            ntlmPassword = pair.substr(9);
    ::setenv("IX_NTLM_PASSWORD", ntlmPassword.c_str(), 1);
    const auto run = RunTool("pop3 capa --server 127.0.0.1 --port " + cyrus.at("CYRUS_PORT") +
            " --user ntlmuser --login ntlm --password-env IX_NTLM_PASSWORD --timeout 10",
        Scratch.Path());
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
}

TEST_F(IxmailDovecot, FailuresGiveOneLineAndStatusOne)
{
    ::setenv("IX_WRONG_PASSWORD", "wrong", 1);
    test::ExpectFailures({
                             {"pop3 list " + Session("few") + " --password-env IX_WRONG_PASSWORD", 1, "-ERR"},
                             {"pop3 list --server 127.0.0.1 --port 1 --user few --password-env IX_TEST_PASSWORD", 1,
                                 "(code 10061)"},
                             {"pop3 delete " + Session("few") + " --uid no-such-uid", 1, "no-such-uid"},
                         },
        Scratch.Path());
    // A certificate the system does not trust is refused with its subject and issuer.
    ::unsetenv("SSL_CERT_FILE");
    const auto refused = RunTool("pop3 list " + Session("few", "--tls implicit"), Scratch.Path());
    ::setenv("SSL_CERT_FILE", Env["DOVECOT_CA"].c_str(), 1);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("issuer \"ix Test CA\""), std::string::npos) << refused.Err;
    EXPECT_EQ(RunTool("pop3 list " + Session("few", "--tls implicit --insecure"), Scratch.Path()).Status, 0);
}

} // namespace
} // namespace ix
