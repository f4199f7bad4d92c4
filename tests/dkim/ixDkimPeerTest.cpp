// DKIM against dkimpy and OpenDKIM: messages signed by Sign verify with both (their key lookups
// answered by the test, never by DNS), and messages signed by both verify with Verify, the keys
// fetched through the DNS query component from dnsmasq (tests/peers/dnsmasq, zone ix.test).
// OpenDKIM runs as its filter in test mode ("opendkim -t"), without an MTA.
#include "dkim/ixDkim.h"

#include "support/ExpectError.h"
#include "support/PeerEnv.h"
#include "support/ProgramRun.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "crypto/ixCryptSignature.h"
#include "dns/ixDnsQuery.h"
#include "message/ixEncoder.h"

namespace ix {
namespace {

constexpr char Header[] =
    "Received: from a by b; Sun, 6 Dec 2026 10:00:00 +0000\r\n"
    "From: Joe <joe@example.com>\r\n"
    "To: Ann <ann@example.org>, Bob <bob@example.org>, Carol <carol@example.org>, Dave\r\n"
    "\t<dave@example.org>, Eve <eve@example.org>, Frank <frank@example.org>,\r\n"
    "  Grace <grace@example.org>\r\n"
    "Subject:   a  subject \t with   blanks\r\n"
    "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n"
    "Subject: a second subject\r\n";
constexpr char Body[] = "\r\nHello  there \t\r\n\r\nsecond line\r\n\r\n\r\n";

class DkimPeer : public testing::Test
{
protected:
    void SetUp() override
    {
        FState = test::RequirePeerEnv(IX_DNSMASQ_STATE);
        // Sign signs with the zone's keys too.
        Run("openssl", "rsa -in " + FState["IX_PEER_DIR"] + "/dkim.key -traditional -outform DER -out " + File("key.der"));
        const std::string der = test::ReadAll(File("key.der"));
        FPrivateKey.assign(der.begin(), der.end());
        FEd25519Key = TixEncoder::DecodeBytesWith(cmBase64, test::ReadAll(FState["IX_PEER_DIR"] + "/dkim-ed25519.key"));
    }

    std::string File(const std::string& AName) const { return (FScratch.Path() / AName).string(); }

    /// Runs AProgram with AArgs (shell words), which must succeed.
    test::TProgramRun Run(const std::string& AProgram, const std::string& AArgs)
    {
        const test::TProgramRun run = test::RunProgram(AProgram, AArgs, FScratch.Path());
        EXPECT_EQ(run.Status, 0) << AProgram << " " << AArgs << "\n" << run.Err;
        return run;
    }

    /// The files AMessages written to, one each.
    std::vector<std::string> Files(const std::vector<std::string>& AMessages)
    {
        std::vector<std::string> files;
        for (size_t i = 0; i < AMessages.size(); ++i) {
            files.push_back(File("signed" + std::to_string(i)));
            std::ofstream(files.back(), std::ios::binary) << AMessages[i];
        }
        return files;
    }

    /// ADkim asking dnsmasq for keys and signing with the zone's keys for example.com, "sel" (the
    /// Ed25519 key's selector is "ed").
    void Prepare(TixDkim& ADkim)
    {
        TixDnsQuery& query = ADkim.GetDnsQuery();
        query.SetServer("127.0.0.1");
        query.SetPort(std::stoi(FState["DNS_PORT"]));
        query.SetTimeOut(3000);
        query.SetDisableGuiProcessing(true);
        ADkim.GetRsaKey().SetRsaPrivateKey(FPrivateKey);
        ADkim.GetEd25519Key().SetPrivateKey(FEd25519Key);
        ADkim.SetDomain("example.com");
        ADkim.SetSelector("sel");
    }

    /// dkimpy's verdicts ("ok" or "fail ...") on AMessages, one line each, with the zone's key
    /// records.
    std::string DkimpyVerify(const std::vector<std::string>& AMessages)
    {
        std::string args = IX_DKIMPY_TOOL " verify " IX_DNSMASQ_STATE;
        for (const std::string& file : Files(AMessages))
            args += " " + file;
        return Run("/usr/bin/python3", args).Out;
    }

    /// AMessage signed by dkimpy for ix.test with the zone's keys, once per signing
    /// ("selector,canonicalization,algorithm[,length]").
    std::vector<std::string> DkimpySign(const std::string& AMessage, const std::vector<std::string>& ASignings)
    {
        std::ofstream(File("unsigned"), std::ios::binary) << AMessage;
        std::string args = IX_DKIMPY_TOOL " sign " IX_DNSMASQ_STATE " ix.test " + FScratch.Path().string() + " " +
            File("unsigned");
        for (const std::string& signing : ASignings)
            args += " " + signing;
        Run("/usr/bin/python3", args);
        std::vector<std::string> result;
        for (size_t i = 0; i < ASignings.size(); ++i)
            result.push_back(test::ReadAll(File(std::to_string(i) + ".eml")));
        return result;
    }

    /// What the OpenDKIM filter in test mode printed over AFiles with the configuration AConfig
    /// and AOptions.
    std::string OpenDkim(const std::string& AConfig, const std::string& AOptions, const std::vector<std::string>& AFiles)
    {
        std::string files;
        for (const std::string& file : AFiles)
            files += (files.empty() ? "" : ",") + file;
        // The configuration comes through a descriptor: opendkim refuses configuration files below
        // a folder that others may write to, such as /tmp.
        std::ofstream(File("config")) << "RequireSafeKeys no\n" << AConfig;
        const auto run =
            Run("/usr/sbin/opendkim", "-x /dev/fd/3 " + AOptions + " -vvvv -t " + files + " 3<" + File("config"));
        return run.Out + run.Err;
    }

    /// OpenDKIM's verdict on each of AMessages ("succeeded", or its failure), the keys of the
    /// zone's selectors "sel" and "ed" published for ADomains.
    std::vector<std::string> OpenDkimVerify(const std::vector<std::string>& AMessages,
        const std::vector<std::string>& ADomains)
    {
        std::ofstream keys(File("keys"));
        for (const std::string& domain : ADomains)
            keys << "sel._domainkey." << domain << " " << FState["DKIM_STRING_1"] << FState["DKIM_STRING_2"]
                 << FState["DKIM_STRING_3"] << "\ned._domainkey." << domain << " " << FState["DKIM_ED25519_RECORD"] << "\n";
        keys.close();
        const std::vector<std::string> files = Files(AMessages);
        const std::string out = OpenDkim("Mode v\nTestPublicKeys " + File("keys") + "\n", "", files);
        std::vector<std::string> verdicts;
        for (const std::string& file : files) {
            std::smatch verdict;
            if (!std::regex_search(out, verdict, std::regex("opendkim: " + file + ": verification (.*)")))
                verdicts.push_back("no verdict in:\n" + out);
            else
                verdicts.push_back(verdict[1].str().ends_with(" succeeded") ? "succeeded" : verdict[1].str());
        }
        return verdicts;
    }

    /// AMessage (From in ix.test) with the DKIM-Signature field that OpenDKIM adds when it signs
    /// for ix.test with the zone's key of ASelector ("sel" or "ed").
    std::string OpenDkimSign(const std::string& AMessage, const std::string& ASelector, const std::string& ACanonicalization,
        const std::string& AAlgorithm)
    {
        std::ofstream(File("unsigned"), std::ios::binary) << AMessage;
        const std::string key = FState["IX_PEER_DIR"] + (ASelector == "ed" ? "/dkim-ed25519.pem" : "/dkim.key");
        const std::string out = OpenDkim("", "-b s -d ix.test -s " + ASelector + " -k " + key + " -c " +
            ACanonicalization + " -S " + AAlgorithm, {File("unsigned")});
        // The filter prints the field it inserts: "### INSHEADER: ... hvalue='VALUE'", folded with LF.
        std::smatch field;
        if (!std::regex_search(out, field, std::regex("hname='DKIM-Signature' hvalue='([^']*)'"))) {
            ADD_FAILURE() << "opendkim did not sign:\n" << out;
            return AMessage;
        }
        return "DKIM-Signature: " + std::regex_replace(field[1].str(), std::regex("\n"), "\r\n") + "\r\n" + AMessage;
    }

    /// Verify of ASigned with keys from DNS succeeds with a key of the type that ALabel names
    /// ("ed25519" or else "rsa"), and fails with "Body hash values differ" once a body line changes.
    void ExpectVerifiesWithKeysFromDns(const std::string& ASigned, const std::string& ALabel)
    {
        TixDkim dkim;
        Prepare(dkim);
        std::string keys;
        dkim.OnKeyReceived = [&keys](TObject*, TixDkimSignature*, TixDkimKey* AKey) { keys += AKey->KeyType; };
        TStringList message;
        message.SetText(ASigned);
        EXPECT_NO_THROW(dkim.Verify(message)) << ALabel << "\n" << ASigned;
        EXPECT_EQ(keys, ALabel.find("ed25519") != std::string::npos ? "ed25519" : "rsa") << ALabel;
        ASSERT_EQ(dkim.GetSignatures().Count(), 1);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetStatusText(), "") << ALabel;

        message.Put(message.IndexOf("second line"), "second linE");
        EXPECT_THROW(dkim.Verify(message), EixDkimError);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), DkimBodyHashCode) << ALabel;
    }

    std::map<std::string, std::string> FState;
    TixByteArray FPrivateKey;
    TixByteArray FEd25519Key;
    test::TScratch FScratch{"dkim-peer"};
};

const std::string Message = std::string(Header) + Body;

struct TSignCase {
    const char* Name;
    const char* Algorithm;
    const char* Canonicalization;
    const char* Selector = "sel";
    int32_t BodyLength = 0;
    std::string Text = Message;
    std::function<void(TixDkim&)> Setup = nullptr;
};

const TSignCase SignCases[] = {
    {"Sha256Simple", "rsa-sha256", "simple/simple"},
    {"Sha1Simple", "rsa-sha1", "simple/simple"},
    {"Sha256RelaxedSimple", "rsa-sha256", "relaxed/simple"},
    {"Sha1RelaxedRelaxed", "rsa-sha1", "relaxed/relaxed"},
    {"Sha256RelaxedOnly", "rsa-sha256", "relaxed"},
    {"BodyLength", "rsa-sha256", "relaxed/relaxed", "sel", 9},
    {"CopiedFieldsAndDates", "rsa-sha256", "relaxed/relaxed", "sel", 0, Message,
        [](TixDkim& ADkim) {
            ADkim.GetCopiedHeaderFields().Add("To");
            ADkim.GetCopiedHeaderFields().Add("Subject");
            ADkim.SetSignatureTimestamp(Now());
            ADkim.SetSignatureExpiration(Now() + 1);
        }},
    {"NonAsciiIdentityDomain", "rsa-sha256", "relaxed/relaxed", "sel", 0, Message,
        [](TixDkim& ADkim) {
            ADkim.SetDomain("b\xC3\xBC" "cher.example");
            ADkim.SetUserIdentity("joe@mail.b\xC3\xBC" "cher.example");
        }},
    {"RepeatedNames", "rsa-sha256", "simple/simple", "sel", 0, Message,
        [](TixDkim& ADkim) {
            for (const char* name : {"Subject", "Subject", "Subject", "To"})
                ADkim.GetSignedHeaderFields().Add(name);
        }},
    {"EmptyBodyRelaxed", "rsa-sha256", "relaxed/relaxed", "sel", 0, std::string(Header) + "\r\n"},
    {"EmptyBodySimple", "rsa-sha1", "simple/simple", "sel", 0, std::string(Header) + "\r\n"},
    // Bodies of blank lines only: simple keeps one line end, relaxed nothing.
    {"BlankBodySimple", "rsa-sha256", "simple/simple", "sel", 0, std::string(Header) + "\r\n\r\n\r\n"},
    {"BlankBodyRelaxed", "rsa-sha256", "relaxed/relaxed", "sel", 0, std::string(Header) + "\r\n\r\n \t\r\n\r\n"},
    {"Ed25519Relaxed", "ed25519-sha256", "relaxed/relaxed", "ed"},
    {"Ed25519SimpleBodyLength", "ed25519-sha256", "simple/simple", "ed", 9},
};

/// AMessage as a mail filter sees it: the filter interface hands over header values without
/// their leading blanks, and OpenDKIM puts back one space, so that a field with more blanks
/// after its colon would be signed (simple) in a form the message does not have.
std::string AsFilterSeesIt(const std::string& AMessage)
{
    return std::regex_replace(AMessage, std::regex("Subject: +"), "Subject: ");
}

TEST_F(DkimPeer, MessagesSignedBySignVerifyWithDkimpyAndOpenDkim)
{
    // The messages of SignCases, each passed through ATransform, signed by Sign.
    const auto signAll = [this](const std::function<std::string(const std::string&)>& ATransform) {
        std::vector<std::string> messages;
        for (const TSignCase& c : SignCases) {
            TixDkim dkim;
            Prepare(dkim);
            dkim.SetSignatureAlgorithm(c.Algorithm);
            dkim.SetCanonicalization(c.Canonicalization);
            dkim.SetSelector(c.Selector);
            dkim.SetBodyLength(c.BodyLength);
            if (c.Setup)
                c.Setup(dkim);
            TStringList message;
            message.SetText(ATransform(c.Text));
            dkim.Sign(message);
            messages.push_back(message.GetText());
        }
        return messages;
    };
    const std::vector<std::string> messages = signAll([](const std::string& AMessage) { return AMessage; });
    TStringList verdicts;
    verdicts.SetText(DkimpyVerify(messages));
    ASSERT_EQ(verdicts.Count(), std::ssize(messages));
    for (int32_t i = 0; i < verdicts.Count(); ++i)
        EXPECT_EQ(verdicts[i], "ok") << SignCases[i].Name << "\n" << messages[static_cast<size_t>(i)];

    const std::vector<std::string> filtered = signAll(AsFilterSeesIt);
    const std::vector<std::string> openDkim = OpenDkimVerify(filtered, {"example.com", "xn--bcher-kva.example"});
    for (size_t i = 0; i < filtered.size(); ++i)
        EXPECT_EQ(openDkim[i], "succeeded") << SignCases[i].Name << "\n" << filtered[i];
}

TEST_F(DkimPeer, MessagesSignedByDkimpyAndOpenDkimVerifyWithKeysFromDnsUnlessTheKeyIsRevoked)
{
    const std::vector<std::string> dkimpySignings{"sel,simple/simple,rsa-sha256", "sel,relaxed/simple,rsa-sha1",
        "sel,relaxed/relaxed,rsa-sha256", "sel,relaxed/relaxed,rsa-sha256,length", // l= of the whole body
        // "two" has a record that names p twice, then the zone's key: the bad one is skipped.
        "two,relaxed/relaxed,rsa-sha256", "ed,relaxed/relaxed,ed25519-sha256", "ed,simple/simple,ed25519-sha256"};
    const std::vector<std::string> dkimpySigned = DkimpySign(Message, dkimpySignings);
    for (size_t i = 0; i < dkimpySignings.size(); ++i)
        ExpectVerifiesWithKeysFromDns(dkimpySigned[i], "dkimpy " + dkimpySignings[i]);

    // OpenDKIM signs for the domain of the author.
    const std::string message = std::regex_replace(AsFilterSeesIt(Message), std::regex("joe@example.com"), "joe@ix.test");
    const std::vector<std::tuple<std::string, std::string, std::string>> openDkimSignings{
        {"sel", "simple/simple", "rsa-sha256"}, {"sel", "relaxed/relaxed", "rsa-sha256"},
        {"sel", "relaxed/simple", "rsa-sha1"},
        // OpenDKIM 2.11.0's Ed25519 signatures with simple header canonicalization verify neither
        // with OpenDKIM itself nor with dkimpy: only relaxed headers are taken from it.
        {"ed", "relaxed/relaxed", "ed25519-sha256"}, {"ed", "relaxed/simple", "ed25519-sha256"}};
    for (const auto& [selector, canonicalization, algorithm] : openDkimSignings)
        ExpectVerifiesWithKeysFromDns(OpenDkimSign(message, selector, canonicalization, algorithm),
            "opendkim " + selector + " " + canonicalization + " " + algorithm);

    // A revoked key fires its event and fails.
    TixDkim dkim;
    Prepare(dkim);
    TStringList revokedMessage;
    revokedMessage.SetText(DkimpySign(Message, {"revoked,relaxed/relaxed,rsa-sha256"})[0]);
    int32_t revoked = 0;
    dkim.OnKeyRevoked = [&revoked](TObject*, TixDkimSignature*, TixDkimKey*) { ++revoked; };
    EXPECT_EQ(test::ExpectError<EixDkimError>([&] { dkim.Verify(revokedMessage); }, DkimKeyRevokedCode),
        "The key is revoked");
    EXPECT_EQ(revoked, 1);
}

} // namespace
} // namespace ix
