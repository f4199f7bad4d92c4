// DKIM against dkimpy: messages signed by Sign verify with dkimpy (its key lookup answered by
// the test, never by DNS), and messages signed by dkimpy verify with Verify, the keys fetched
// through the DNS query component from dnsmasq (tests/peers/dnsmasq, zone ix.test).
#include "dkim/ixDkim.h"

#include "support/PeerEnv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "crypto/ixCryptSignature.h"
#include "dns/ixDnsQuery.h"
#include "message/ixEncoder.h"

namespace ix {
namespace {

namespace fs = std::filesystem;

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

/// The contents of AFile.
std::string ReadFile(const fs::path& AFile)
{
    std::ifstream file(AFile, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class DkimPeer : public testing::Test
{
protected:
    void SetUp() override
    {
        FState = test::ReadPeerEnv(IX_DNSMASQ_STATE);
        ASSERT_FALSE(FState.empty()) << "dnsmasq is not running (no " << IX_DNSMASQ_STATE << ")";
        ASSERT_FALSE(FState["DNS_PORT"].empty());
        FDir = fs::temp_directory_path() / ("ix-dkim-peer-" + std::to_string(getpid()));
        fs::create_directories(FDir);
        // Sign signs with the zone's key too.
        const fs::path key = FDir / "key.der";
        ASSERT_EQ(std::system(("openssl rsa -in " + FState["IX_PEER_DIR"] + "/dkim.key -traditional -outform DER -out " +
                                  key.string() + " 2>/dev/null")
                                  .c_str()),
            0);
        const std::string der = ReadFile(key);
        FPrivateKey.assign(der.begin(), der.end());
        FEd25519Key = TixEncoder::DecodeBytesWith(cmBase64, ReadFile(FState["IX_PEER_DIR"] + "/dkim-ed25519.key"));
    }

    void TearDown() override { fs::remove_all(FDir); }

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

    /// Runs the dkimpy tool with AArguments and AInput on its input; returns its output lines.
    std::vector<std::string> Dkimpy(const std::string& AArguments, const std::string& AInput = {})
    {
        std::ofstream(FDir / "in", std::ios::binary) << AInput;
        const std::string command = "/usr/bin/python3 " IX_DKIMPY_TOOL " " + AArguments + " <" + (FDir / "in").string() +
            " >" + (FDir / "out").string() + " 2>" + (FDir / "err").string();
        EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(FDir / "err");
        std::vector<std::string> lines;
        std::istringstream out(ReadFile(FDir / "out"));
        for (std::string line; std::getline(out, line);)
            lines.push_back(line);
        return lines;
    }

    /// dkimpy's verdict ("ok" or "fail ...") on each of AMessages, with the zone's key records.
    std::vector<std::string> DkimpyVerify(const std::vector<std::string>& AMessages)
    {
        std::ofstream(FDir / "record") << "sel " << FState["DKIM_STRING_1"] << FState["DKIM_STRING_2"]
                                       << FState["DKIM_STRING_3"] << "\ned " << FState["DKIM_ED25519_RECORD"] << "\n";
        std::string files;
        for (size_t i = 0; i < AMessages.size(); ++i) {
            const fs::path name = FDir / ("signed" + std::to_string(i));
            std::ofstream(name, std::ios::binary) << AMessages[i];
            files += " " + name.string();
        }
        return Dkimpy("verify " + (FDir / "record").string() + files);
    }

    /// AMessage signed by dkimpy for ix.test with the zone's keys, once per signing
    /// ("selector,canonicalization,algorithm[,length]").
    std::vector<std::string> DkimpySign(const std::string& AMessage, const std::vector<std::string>& ASignings)
    {
        std::string signings;
        for (const std::string& signing : ASignings)
            signings += " " + signing;
        const std::string keys = FState["IX_PEER_DIR"] + "/dkim.key " + FState["IX_PEER_DIR"] + "/dkim-ed25519.key";
        Dkimpy("sign " + keys + " ix.test " + FDir.string() + signings, AMessage);
        std::vector<std::string> result;
        for (size_t i = 0; i < ASignings.size(); ++i)
            result.push_back(ReadFile(FDir / (std::to_string(i) + ".eml")));
        return result;
    }

    std::map<std::string, std::string> FState;
    TixByteArray FPrivateKey;
    TixByteArray FEd25519Key;
    fs::path FDir;
};

struct TSignCase {
    const char* Name;
    const char* Algorithm;
    const char* Canonicalization;
    std::function<void(TixDkim&)> Setup;
    std::string Message;
};

const std::string Message = std::string(Header) + Body;

const TSignCase SignCases[] = {
    {"Sha256Simple", "rsa-sha256", "simple/simple", nullptr, Message},
    {"Sha1Simple", "rsa-sha1", "simple/simple", nullptr, Message},
    {"Sha256RelaxedSimple", "rsa-sha256", "relaxed/simple", nullptr, Message},
    {"Sha1RelaxedRelaxed", "rsa-sha1", "relaxed/relaxed", nullptr, Message},
    {"Sha256RelaxedOnly", "rsa-sha256", "relaxed", nullptr, Message},
    {"BodyLength", "rsa-sha256", "relaxed/relaxed", [](TixDkim& ADkim) { ADkim.SetBodyLength(9); }, Message},
    {"CopiedFieldsAndDates", "rsa-sha256", "relaxed/relaxed",
        [](TixDkim& ADkim) {
            ADkim.GetCopiedHeaderFields().Add("To");
            ADkim.GetCopiedHeaderFields().Add("Subject");
            ADkim.SetSignatureTimestamp(Now());
            ADkim.SetSignatureExpiration(Now() + 1);
        },
        Message},
    {"NonAsciiIdentityDomain", "rsa-sha256", "relaxed/relaxed",
        [](TixDkim& ADkim) {
            ADkim.SetDomain("b\xC3\xBC" "cher.example");
            ADkim.SetUserIdentity("joe@mail.b\xC3\xBC" "cher.example");
        },
        Message},
    {"RepeatedNames", "rsa-sha256", "simple/simple",
        [](TixDkim& ADkim) {
            for (const char* name : {"Subject", "Subject", "Subject", "To"})
                ADkim.GetSignedHeaderFields().Add(name);
        },
        Message},
    {"EmptyBodyRelaxed", "rsa-sha256", "relaxed/relaxed", nullptr, std::string(Header) + "\r\n"},
    {"EmptyBodySimple", "rsa-sha1", "simple/simple", nullptr, std::string(Header) + "\r\n"},
    {"Ed25519Relaxed", "ed25519-sha256", "relaxed/relaxed", [](TixDkim& ADkim) { ADkim.SetSelector("ed"); }, Message},
    {"Ed25519SimpleBodyLength", "ed25519-sha256", "simple/simple",
        [](TixDkim& ADkim) {
            ADkim.SetSelector("ed");
            ADkim.SetBodyLength(9);
        },
        Message},
};

TEST_F(DkimPeer, MessagesSignedBySignVerifyWithDkimpy)
{
    std::vector<std::string> messages;
    for (const TSignCase& c : SignCases) {
        TixDkim dkim;
        Prepare(dkim);
        dkim.SetSignatureAlgorithm(c.Algorithm);
        dkim.SetCanonicalization(c.Canonicalization);
        if (c.Setup)
            c.Setup(dkim);
        TStringList message;
        message.SetText(c.Message);
        dkim.Sign(message);
        messages.push_back(message.GetText());
    }
    const std::vector<std::string> verdicts = DkimpyVerify(messages);
    ASSERT_EQ(verdicts.size(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(verdicts[i], "ok") << SignCases[i].Name << "\n" << messages[i];
}

TEST_F(DkimPeer, MessagesSignedByDkimpyVerifyWithKeysFromDns)
{
    const std::vector<std::string> signings{"sel,simple/simple,rsa-sha256", "sel,relaxed/simple,rsa-sha1",
        "sel,relaxed/relaxed,rsa-sha256", "sel,relaxed/relaxed,rsa-sha256,length", // l= of the whole body
        // "two" has a record that names p twice, then the zone's key: the bad one is skipped.
        "two,relaxed/relaxed,rsa-sha256", "ed,relaxed/relaxed,ed25519-sha256", "ed,simple/simple,ed25519-sha256"};
    const std::vector<std::string> signedMessages = DkimpySign(Message, signings);
    for (size_t i = 0; i < signings.size(); ++i) {
        TixDkim dkim;
        Prepare(dkim);
        std::string keys;
        dkim.OnKeyReceived = [&keys](TObject*, TixDkimSignature*, TixDkimKey* AKey) { keys += AKey->KeyType; };
        TStringList message;
        message.SetText(signedMessages[i]);
        EXPECT_NO_THROW(dkim.Verify(message)) << signings[i] << "\n" << signedMessages[i];
        EXPECT_EQ(keys, signings[i].starts_with("ed,") ? "ed25519" : "rsa") << signings[i];
        ASSERT_EQ(dkim.GetSignatures().Count(), 1);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetStatusText(), "") << signings[i];

        message.Put(message.Count() - 3, "second linE");
        EXPECT_THROW(dkim.Verify(message), EixDkimError);
        EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), DkimBodyHashCode) << signings[i];
    }
}

TEST_F(DkimPeer, RevokedKeyFiresItsEventAndFails)
{
    TixDkim dkim;
    Prepare(dkim);
    TStringList message;
    message.SetText(DkimpySign(Message, {"revoked,relaxed/relaxed,rsa-sha256"})[0]);
    int32_t revoked = 0;
    dkim.OnKeyRevoked = [&revoked](TObject*, TixDkimSignature*, TixDkimKey*) { ++revoked; };
    try {
        dkim.Verify(message);
        ADD_FAILURE() << "a revoked key verified";
    } catch (const EixDkimError& e) {
        EXPECT_EQ(e.ErrorCode(), DkimKeyRevokedCode);
        EXPECT_EQ(e.Message(), "The key is revoked");
    }
    EXPECT_EQ(revoked, 1);
}

} // namespace
} // namespace ix
