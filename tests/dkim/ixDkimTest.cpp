// The DKIM component: signing and verifying with keys from OnGetPublicKey, the checks a
// verifier makes, the verify modes, and a message component that verifies what it loads.
#include "dkim/ixDkim.h"

#include <gtest/gtest.h>

#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkimCanonicalizer.h"
#include "message/ixEncoder.h"

namespace ix {
namespace {

constexpr char MessageText[] =
    "Received: from a by b; Sun, 6 Dec 2026 10:00:00 +0000\r\n"
    "From: Joe <joe@example.com>\r\n"
    "To: Ann <ann@example.org>,\r\n"
    "\tBob <bob@example.org>\r\n"
    "Subject:   a  subject \t with   blanks\r\n"
    "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n"
    "From: second@example.com\r\n"
    "\r\n"
    "Hello  there \t\r\n"
    "\r\n"
    "second line\r\n"
    "\r\n"
    "\r\n";

/// The keys of RFC 8463, appendix A: the Ed25519 private key and the two key records' p= values.
constexpr char RfcEd25519Private[] = "nWGxne/9WmC6hEr0kuwsxERJxWl7MmkZcDusAxyuf2A=";
constexpr char RfcEd25519Public[] = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
constexpr char RfcRsaPublic[] =
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDkHlOQoBTzWRiGs5V6NpP3idY6Wk08a5qhdR6wy5bdOKb2jLQiY/J16JYi0Qvx/byYzCNb3W91y3Fu"
    "tACDfzwQ/BC/e/8uBsCR+yz1Lxj+PL6lHvqMKrM3rG4hstT5QjvHO9PzoxZyVYLzBfO2EeC3Ip3G+2kryOTIKT+l/K4w3QIDAQAB";

TixByteArray Base64(const char* AText)
{
    return TixEncoder::DecodeBytesWith(cmBase64, AText);
}

class DkimComponent : public testing::Test
{
protected:
    void SetUp() override
    {
        FMessage.SetText(MessageText);
        FDkim.SetDomain("example.com");
        FDkim.SetSelector("sel");
        FDkim.GetRsaKey().SetKeyLength(1024);
        FDkim.GetRsaKey().GenerateKey();
        FDkim.GetEd25519Key().SetPrivateKey(Base64(RfcEd25519Private));
        FDkim.OnGetPublicKey = [this](TObject*, TixDkimSignature* ASignature, TixByteArray& AKey) {
            AKey = ASignature->SignatureAlgorithm.starts_with("ed25519") ? Base64(RfcEd25519Public) : FPublicKey;
        };
        FPublicKey = FDkim.GetRsaKey().GetPublicKeyInfo();
    }

    /// The error code with which Verify fails; 0 when it succeeds.
    int32_t VerifyError()
    {
        try {
            FDkim.Verify(FMessage);
        } catch (const EixCodedError& e) {
            return e.ErrorCode();
        }
        return 0;
    }

    TixDkim FDkim;
    TStringList FMessage;
    TixByteArray FPublicKey;
};

// RFC 8463, appendix A.3: one message signed with the Ed25519 key and with the RSA key of A.2.
TEST(DkimRfc8463, ExampleVerifiesWithBothKeysAndFailsWhenChanged)
{
    TStringList message;
    message.SetText("DKIM-Signature: v=1; a=ed25519-sha256; c=simple/simple; \r\n"
                    " d=football.example.com; i=@football.example.com; \r\n"
                    " q=dns/txt; s=brisbane; t=1518460054; h=from : to : \r\n"
                    " subject : date : message-id : from : subject : date; \r\n"
                    " bh=4bLNXImK9drULnmePzZNEBleUanJCX5PIsDIFoH4KTQ=; \r\n"
                    " b=9/dsDChY0YMTtD5Eyw3wx7x22BlSJP7M5ECbJ7GWrR45nXlTCGb8l0YB\r\n"
                    " o0wBLR++X5LqmsxXaOYLLJe46l10AQ==\r\n"
                    "DKIM-Signature: v=1; a=rsa-sha256; c=simple/simple; \r\n"
                    " d=football.example.com; i=@football.example.com; \r\n"
                    " q=dns/txt; s=test; t=1527915362; h=from : to : subject : \r\n"
                    " date : message-id : from : subject : date; \r\n"
                    " bh=4bLNXImK9drULnmePzZNEBleUanJCX5PIsDIFoH4KTQ=; \r\n"
                    " b=icKcLSEZYXJ95flvWE8FT6hl5iqd8MC/LEKYH0QjsqYy6MO/4pgVNCZH\r\n"
                    " l/RAXAuADxE/40Fg7uTlxwwD1hjN2Ple6J//cJfslBdDOq6zTVbne1dqtl\r\n"
                    " NOat7iamJ1AfRqyG+ja7a2AZsrpUuJ7VA6O+0zRYPqpwMEkEFIzI9i/Xk=\r\n"
                    "From: Joe SixPack <joe@football.example.com>\r\n"
                    "To: Suzie Q <suzie@shopping.example.net>\r\n"
                    "Subject: Is dinner ready?\r\n"
                    "Date: Fri, 11 Jul 2003 21:00:37 -0700 (PDT)\r\n"
                    "Message-ID: <20030712040037.46341.5F8J@football.example.com>\r\n"
                    "\r\n"
                    "Hi.\r\n"
                    "\r\n"
                    "We lost the game.  Are you hungry yet?\r\n"
                    "\r\n"
                    "Joe.\r\n"
                    "\r\n");
    TixDkim dkim;
    dkim.SetVerifyMode(dvmVerifyAll);
    // The key records of brisbane._domainkey and test._domainkey, as DNS would give them.
    dkim.OnGetPublicKey = [](TObject*, TixDkimSignature* ASignature, TixByteArray& AKey) {
        AKey = Base64(ASignature->Selector == "brisbane" ? RfcEd25519Public : RfcRsaPublic);
    };
    dkim.Verify(message);
    ASSERT_EQ(dkim.GetSignatures().Count(), 2);
    for (int32_t i = 0; i < 2; ++i) {
        const auto& status = dkim.GetSignatures()[i]->VerifyStatus;
        EXPECT_EQ(status.GetStatus(), TixDkimSignatureVerifyStatus::Verified) << i << " " << status.GetStatusText();
    }

    message.Put(message.IndexOf("Subject: Is dinner ready?"), "Subject: Is dinner ready!");
    dkim.SetVerifyMode(dvmVerifyUntilFail);
    EXPECT_THROW(dkim.Verify(message), EixCryptError);
    EXPECT_EQ(dkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), static_cast<int32_t>(os::NTE_BAD_SIGNATURE));
}

TEST_F(DkimComponent, ChangesToSignedPartsFail)
{
    FDkim.SetCanonicalization("relaxed/relaxed");
    FDkim.Sign(FMessage);
    const std::string signedText = FMessage.GetText();
    FMessage.Put(FMessage.Count() - 3, "second linE");
    EXPECT_EQ(VerifyError(), DkimBodyHashCode);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatusText(), "Body hash values differ");

    FMessage.SetText(signedText);
    const int32_t subject = FMessage.IndexOf("Subject:   a  subject \t with   blanks");
    FMessage.Put(subject, "Subject: another subject");
    EXPECT_THROW(FDkim.Verify(FMessage), EixCryptError);
    // Whitespace alone is no change under relaxed canonicalization.
    FMessage.Put(subject, "Subject: a subject with blanks  ");
    EXPECT_EQ(VerifyError(), 0);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatusText(), "") << "a signature over the whole body";
}

struct TCheckCase {
    const char* Name;
    std::function<void(TixDkim&, TixByteArray&)> Setup;
    int32_t Error;
};

void PrintTo(const TCheckCase& AValue, std::ostream* AStream)
{
    *AStream << testing::PrintToString(AValue.Name);
}

class DkimVerifierChecks : public DkimComponent, public testing::WithParamInterface<TCheckCase>
{
};

TEST_P(DkimVerifierChecks, FailWithTheirOwnCodes)
{
    GetParam().Setup(FDkim, FPublicKey);
    FDkim.Sign(FMessage);
    EXPECT_EQ(VerifyError(), GetParam().Error);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(Cases, DkimVerifierChecks,
    testing::Values(
        TCheckCase{"FromNotSigned",
            [](TixDkim& ADkim, TixByteArray&) {
                ADkim.GetSignedHeaderFields().Delete(ADkim.GetSignedHeaderFields().IndexOf("From"));
            },
            DkimFromNotSignedCode},
        TCheckCase{"IdentityOutsideDomain",
            [](TixDkim& ADkim, TixByteArray&) { ADkim.SetUserIdentity("joe@example.com.evil.org"); },
            DkimIdentityDomainCode},
        TCheckCase{"Expired",
            [](TixDkim& ADkim, TixByteArray&) {
                ADkim.SetSignatureTimestamp(Now() - 2);
                ADkim.SetSignatureExpiration(Now() - 1);
            },
            DkimExpiredCode},
        TCheckCase{"ShortKey",
            [](TixDkim& ADkim, TixByteArray& APublicKey) {
                ADkim.GetRsaKey().SetKeyLength(768);
                ADkim.GetRsaKey().GenerateKey();
                APublicKey = ADkim.GetRsaKey().GetPublicKeyInfo();
            },
            DkimKeyTooShortCode}),
    [](const testing::TestParamInfo<TCheckCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(DkimComponent, VerifyModesDecideWhatOneBadSignatureDoes)
{
    // The lower signature covers the first 10 body characters only, the upper one all of them.
    FDkim.SetBodyLength(10);
    FDkim.Sign(FMessage);
    FDkim.SetBodyLength(0);
    FDkim.Sign(FMessage);
    FMessage.Put(FMessage.Count() - 3, "changed");

    const std::vector<std::tuple<TixDkimVerifyMode, int32_t, int32_t>> cases{
        {dvmVerifyUntilFail, DkimBodyHashCode, 1}, {dvmVerifyUntilSuccess, 0, 2}, {dvmVerifyAll, 0, 2}};
    for (const auto& [mode, error, count] : cases) {
        FDkim.SetVerifyMode(mode);
        EXPECT_EQ(VerifyError(), error) << mode;
        ASSERT_EQ(FDkim.GetSignatures().Count(), count) << mode;
        EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Failed);
        if (count == 2) {
            const auto& lower = FDkim.GetSignatures()[1]->VerifyStatus;
            EXPECT_EQ(lower.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
            EXPECT_FALSE(lower.GetStatusText().empty()) << "l= leaves part of the body unsigned";
        }
    }
}

TEST_F(DkimComponent, EventsReportSigningVerifyingAndTheKey)
{
    std::string events;
    FDkim.OnSign = [&](TObject*, TixDkimSignature*, TStrings&) { events += "sign;"; };
    FDkim.OnVerify = [&](TObject*, TixDkimSignature*, TStrings&, TixDkimSignatureVerifyStatus& AStatus) {
        events += "verify " + std::to_string(AStatus.GetStatus()) + ";";
    };
    FDkim.OnKeyReceived = [&](TObject*, TixDkimSignature*, TixDkimKey*) { events += "key;"; };
    FDkim.Sign(FMessage);
    FDkim.Verify(FMessage);
    EXPECT_EQ(events, "sign;key;verify 1;");
}

TEST_F(DkimComponent, MessageComponentVerifiesWhatItLoads)
{
    FDkim.SetVerifyMode(dvmVerifyAll);
    FDkim.Sign(FMessage);
    TixMailMessage message;
    message.SetDkim(&FDkim);
    message.LoadMessage(FMessage);
    ASSERT_EQ(FDkim.GetSignatures().Count(), 1);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
    FMessage.Put(FMessage.Count() - 3, "changed");
    message.LoadMessage(FMessage);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), DkimBodyHashCode);
}

} // namespace
} // namespace ix
