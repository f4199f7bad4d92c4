// ixmail as users run it against the project's servers: pop3 against Dovecot
// (tests/peers/dovecot, also through the SOCKS proxies of tests/peers/socks); dns against dnsmasq (tests/peers/dnsmasq, zone ix.test), its records printed exactly as
// dig prints the same server's answers; dkim with the keys of ix.test's selectors "sel" (RSA),
// "ed" (Ed25519) and a revoked one, cross-checked with dkimpy.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "support/PeerEnv.h"
#include "support/ProgramRun.h"

namespace ix {
namespace {

using test::ReadAll;
using test::TScratch;

/// The state files of the servers, read once, and a scratch folder for each test.
class IxmailPeer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Env = test::RequirePeerEnv(std::string(IX_DOVECOT_STATE) + "/dovecot.env");
        Dns = test::RequirePeerEnv(IX_DNSMASQ_STATE);
        ::setenv("SSL_CERT_FILE", Env["DOVECOT_CA"].c_str(), 1);
        ::setenv("IX_TEST_PASSWORD", "secret-few", 1);
    }

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

    /// The options that aim a lookup at dnsmasq.
    static std::string Server() { return " --server 127.0.0.1 --port " + Dns["DNS_PORT"]; }

    std::string File(const std::string& AName) const { return (Scratch.Path() / AName).string(); }

    /// ixmail with AArgs (shell words), its output captured in the scratch folder.
    test::TProgramRun Run(const std::string& AArgs) const { return test::RunProgram(IX_MAIL_TOOL, AArgs, Scratch.Path()); }

    static inline std::map<std::string, std::string> Env, Dns;
    TScratch Scratch{"ixmail"};
};

using IxmailDovecot = IxmailPeer;

// ---- pop3 --------------------------------------------------------------------------------

TEST_F(IxmailDovecot, ListAgreesWithTheMailboxInEveryTlsModeLoginMethodAndProxy)
{
    const auto socks = test::RequirePeerEnv(IX_SOCKS_STATE);
    ::setenv("IX_TEST_TOKEN", "ix-token-few", 1);
    for (const std::string& options : {std::string("--tls starttls --login cram-md5"),
             std::string("--tls implicit --login apop"), std::string("--tls implicit --login auto"),
             std::string("--tls none --login xoauth2 --password-env IX_TEST_TOKEN"),
             "--tls implicit --socks 127.0.0.1:" + socks.at("MICROSOCKS_PORT"),
             "--tls none --socks 127.0.0.1:" + socks.at("DANTE_PORT") + " --socks-version 4",
             std::string("--tls none --login user --json")})
    {
        const auto run = Run("pop3 list " + Session("few", options));
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
    const auto files = Run("pop3 fetch " + Session("few", "--tls implicit") + " --out " + (Scratch.Path() / "mail").string());
    ASSERT_EQ(files.Status, 0) << files.Err;
    EXPECT_EQ(files.Err, ""); // no progress bar off a terminal
    const std::filesystem::path maildir = Scratch.Path() / "Maildir";
    const auto delivered = Run("pop3 fetch " + Session("few") + " --maildir " + maildir.string());
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
    const auto saved = Run("pop3 list " + Session("few", "--tls implicit --login cram-md5") + " --save-profile " + profile);
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
        const auto loaded = Run("--profile " + profile + " pop3 list --password-env IX_TEST_PASSWORD" + options);
        EXPECT_EQ(loaded.Status, 0) << options << ": " << loaded.Err;
        EXPECT_NE(loaded.Out.find("Message number 3"), std::string::npos) << loaded.Out;
    }
}

TEST_F(IxmailDovecot, DeleteRemovesExactlyTheNamedMessages)
{
    // A mailbox of its own ("deletable", the three messages of "few"): number 1, then the third
    // by its UID.
    ::setenv("IX_DELETABLE_PASSWORD", "secret-deletable", 1);
    const std::string session = Session("deletable") + " --password-env IX_DELETABLE_PASSWORD";
    const auto before = Run("pop3 list " + session);
    ASSERT_EQ(before.Status, 0) << before.Err;
    const size_t third = before.Out.find("\n3\t");
    ASSERT_NE(third, std::string::npos) << "the mailbox was changed before: restart its Dovecot\n" << before.Out;
    std::istringstream fields(before.Out.substr(third + 1));
    std::string number, size, uid;
    fields >> number >> size >> uid;

    EXPECT_EQ(Run("pop3 delete 1 " + session).Status, 0);
    const auto byUid = Run("pop3 delete --uid " + uid + " " + session);
    EXPECT_EQ(byUid.Status, 0) << byUid.Err;
    const auto after = Run("pop3 list " + session);
    EXPECT_EQ(std::count(after.Out.begin(), after.Out.end(), '\n'), 1) << after.Out;
    EXPECT_NE(after.Out.find("Message number 2"), std::string::npos) << after.Out;
}

// ---- dns ---------------------------------------------------------------------------------

TEST_F(IxmailPeer, DnsRecordsReadAsDigPrintsThem)
{
    // Over TCP only where it matters: a reply too big for UDP, and one more.
    for (const std::string question : {"www.ix.test A", "WWW.ix.test aaaa", "ix.test MX --tcp", "alias2.ix.test A",
             "multi.ix.test TXT", "sel._domainkey.ix.test TXT", "big.ix.test TXT --tcp", "big.ix.test TXT",
             "www.ix.test TXT"})
    {
        const auto run = Run("dns " + question + Server());
        EXPECT_EQ(run.Status, 0) << question << ": " << run.Err;
        // dig's answer section from the same server.
        const auto dig = test::RunProgram("dig", "@127.0.0.1 -p " + Dns["DNS_PORT"] + " +noall +answer +tries=1 +time=3 " +
                question.substr(0, question.find(" --")),
            Scratch.Path());
        EXPECT_EQ(dig.Status, 0) << question << ": " << dig.Err;
        EXPECT_EQ(run.Out, dig.Out) << question;
    }
}

// ---- dkim --------------------------------------------------------------------------------

constexpr char Message[] = "From: Joe <joe@ix.test>\nTo: Ann <ann@example.org>\nSubject: a  test\n"
                           "Date: Sun, 6 Dec 2026 10:00:00 +0000\n\nHello  there\n\n";

/// A message file, and the zone's key as openssl writes it (PKCS #8), as PKCS #1 and its public half.
class IxmailDkim : public IxmailPeer
{
protected:
    void SetUp() override
    {
        IxmailPeer::SetUp();
        std::ofstream(File("message.eml"), std::ios::binary) << Message;
        ASSERT_EQ(std::system(("openssl rsa -in " + ZoneKey() + " -traditional -out " + File("pkcs1.pem") + " 2>/dev/null && " +
                                  "openssl rsa -in " + ZoneKey() + " -pubout -out " + File("public.pem") + " 2>/dev/null")
                                  .c_str()),
            0);
    }

    static std::string ZoneKey() { return Dns.at("IX_PEER_DIR") + "/dkim.key"; }
};

TEST_F(IxmailDkim, SignedFilesVerifyWithTheKeyFromDnsOrAFileAndWithDkimpyAndFailForAnyBadSignature)
{
    // The key file, selector, options and the algorithm they give.
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {ZoneKey(), "sel", "--canonicalization relaxed/relaxed", "rsa-sha256"},
        {File("pkcs1.pem"), "sel", "--algorithm rsa-sha1 --headers From:Subject:Date", "rsa-sha1"},
        {Dns.at("IX_PEER_DIR") + "/dkim-ed25519.pem", "ed", "--canonicalization relaxed", "ed25519-sha256"},
    };
    std::string files;
    for (const auto& [key, selector, options, algorithm] : cases)
    {
        const std::string out = File(selector + algorithm);
        const auto sign = Run("dkim sign " + File("message.eml") + " --key " + key + " --domain ix.test --selector " +
                selector + " --out " + out + " " + options);
        ASSERT_EQ(sign.Status, 0) << sign.Err;
        const std::string signedText = ReadAll(out);
        EXPECT_TRUE(signedText.starts_with("DKIM-Signature: v=1; a=" + algorithm + "; d=ix.test; s=" + selector + ";"))
            << signedText;
        EXPECT_TRUE(signedText.ends_with(Message)) << "the message follows the field unchanged";

        const auto verify = Run("dkim verify " + out + Server());
        EXPECT_EQ(verify.Status, 0) << verify.Err;
        EXPECT_EQ(verify.Out, "pass\tix.test\t" + selector + "\t" + algorithm + "\n");
        files += " " + out;
    }
    const auto dkimpy = test::RunProgram("/usr/bin/python3", IX_DKIMPY_TOOL " verify " IX_DNSMASQ_STATE + files, Scratch.Path());
    EXPECT_EQ(dkimpy.Status, 0) << dkimpy.Err;
    EXPECT_EQ(dkimpy.Out, "ok\nok\nok\n");

    // The rsa-sha1 file signed on top for the revoked selector: every signature is reported.
    const auto revoked = Run("dkim sign " + File("selrsa-sha1") + " --key " + File("pkcs1.pem") +
        " --domain ix.test --selector revoked --out " + File("twice"));
    ASSERT_EQ(revoked.Status, 0) << revoked.Err;
    const auto both = Run("dkim verify " + File("twice") + Server());
    EXPECT_EQ(both.Status, 1);
    EXPECT_EQ(both.Out, "fail\tix.test\trevoked\trsa-sha256\tThe key is revoked (code -18)\n"
                        "pass\tix.test\tsel\trsa-sha1\n");
    EXPECT_EQ(both.Err, "ixmail: The key is revoked (code -18)\n");

    // A key from a file replaces DNS; a changed body fails with its reason.
    const std::string changed = File("changed");
    std::string text = ReadAll(File("twice"));
    text.replace(text.find("Hello"), 5, "Hallo");
    std::ofstream(changed, std::ios::binary) << text;
    const auto withKey = Run("dkim verify " + File("twice") + " --key " + File("public.pem"));
    EXPECT_EQ(withKey.Out, "pass\tix.test\trevoked\trsa-sha256\npass\tix.test\tsel\trsa-sha1\n");
    EXPECT_EQ(withKey.Status, 0) << withKey.Err;
    const auto tampered = Run("dkim verify " + changed + " --key " + File("public.pem"));
    EXPECT_EQ(tampered.Status, 1);
    EXPECT_EQ(tampered.Err, "ixmail: Body hash values differ (code -13)\n");
}

TEST_F(IxmailDkim, FailuresGiveOneLineAndTheirStatus)
{
    // Each command line ends with its status, no output and one error line starting "ixmail: ":
    // the whole line when the expected text ends with a line end, else a part of it. The test
    // authority is not trusted here: its certificate is refused with its issuer, unless --insecure.
    struct TFailure
    {
        std::string Args;
        int Status;
        std::string Error;
    };
    ::setenv("IX_WRONG_PASSWORD", "wrong", 1);
    ::unsetenv("SSL_CERT_FILE");
    const std::string message = File("message.eml");
    const TFailure failures[] = {
        {"pop3 list " + Session("few") + " --password-env IX_WRONG_PASSWORD", 1, "-ERR"},
        {"pop3 list --server 127.0.0.1 --port 1 --user few --password-env IX_TEST_PASSWORD", 1, "(code 10061)"},
        {"pop3 delete " + Session("few") + " --uid no-such-uid", 1, "no-such-uid"},
        {"pop3 list " + Session("few", "--tls implicit"), 1, "issuer \"ix Test CA\""},
        {"dns missing.ix.test" + Server(), 1, "ixmail: No such name (code 3)\n"},
        {"dns example.com MX" + Server(), 1, "ixmail: Refused (code 5)\n"},
        {"dns www.ix.test SRV" + Server(), 2, "ixmail: TYPE takes one of A, NS, CNAME, SOA, PTR, MX, TXT, AAAA\n"},
        {"dns" + Server(), 2, "ixmail: dns takes NAME [TYPE] (ixmail dns --help)\n"},
        {"nothing", 2, "unknown command nothing"},
        {"pop3 list --server", 2, "option --server needs a value"},
        {"mime show", 2, ""},
        {"mime show /nonexistent/m.eml", 1, "Cannot open file"},
        {"dkim sign " + message + " --domain ix.test --selector sel", 2, "option --key is required"},
        {"dkim sign " + message + " --key " + message + " --domain ix.test --selector sel", 1, "holds no PEM block"},
        {"dkim sign " + message + " --key " + File("public.pem") + " --domain ix.test --selector sel", 1,
            "holds no private key (PUBLIC KEY)"},
        {"dkim verify " + File("missing.eml") + Server(), 1, "Cannot open file"},
        {"dkim verify " + message + Server(), 1, "The message has no DKIM-Signature field"},
    };
    for (const TFailure& failure : failures)
    {
        const auto run = Run(failure.Args);
        EXPECT_EQ(run.Status, failure.Status) << failure.Args;
        EXPECT_EQ(run.Out, "") << failure.Args;
        EXPECT_TRUE(run.Err.starts_with("ixmail: ")) << failure.Args << ": " << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        if (failure.Error.ends_with('\n'))
            EXPECT_EQ(run.Err, failure.Error) << failure.Args;
        else
            EXPECT_NE(run.Err.find(failure.Error), std::string::npos) << failure.Args << ": " << run.Err;
    }
    EXPECT_EQ(Run("pop3 list " + Session("few", "--tls implicit --insecure")).Status, 0);
    ::setenv("SSL_CERT_FILE", Env["DOVECOT_CA"].c_str(), 1);
}

} // namespace
} // namespace ix
