// The DKIM component: signing and verifying with keys from OnGetPublicKey, the checks a
// verifier makes, the verify modes, and a message component that verifies what it loads.
// Signatures made by other programs (Ed25519 and RSA) are verified in the peer tests.
#include "dkim/ixDkim.h"

#include <gtest/gtest.h>

#include "crypto/ixCryptSignature.h"

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
        FDkim.OnGetPublicKey = [this](TObject*, TixDkimSignature*, TixByteArray& AKey) { AKey = FPublicKey; };
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

/// A message signed after Setup and changed by Change (when given) fails with Error (0: verifies).
struct TCheckCase {
    const char* Name;
    std::function<void(TixDkim&, TixByteArray&)> Setup;
    std::function<void(TStringList&)> Change = nullptr;
    int32_t Error = 0;
    const char* StatusText = nullptr;
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
    if (GetParam().Change)
        GetParam().Change(FMessage);
    EXPECT_EQ(VerifyError(), GetParam().Error);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), GetParam().Error);
    if (GetParam().StatusText != nullptr) {
        EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatusText(), GetParam().StatusText);
    }
}

void Relaxed(TixDkim& ADkim, TixByteArray&)
{
    ADkim.SetCanonicalization("relaxed/relaxed");
}

std::function<void(TStringList&)> PutSubject(const char* AField)
{
    return [AField](TStringList& AMessage) { AMessage.Put(AMessage.IndexOf("Subject:   a  subject \t with   blanks"), AField); };
}

INSTANTIATE_TEST_SUITE_P(Cases, DkimVerifierChecks,
    testing::Values(
        TCheckCase{"BodyChanged", Relaxed, [](TStringList& AMessage) { AMessage.Put(AMessage.Count() - 3, "second linE"); },
            DkimBodyHashCode, "Body hash values differ"},
        TCheckCase{"SubjectChanged", Relaxed, PutSubject("Subject: another subject"),
            static_cast<int32_t>(os::NTE_BAD_SIGNATURE)},
        // Whitespace alone is no change under relaxed canonicalization; the whole body is signed.
        TCheckCase{"OnlyBlanksChanged", Relaxed, PutSubject("Subject: a subject with blanks  "), 0, ""},
        TCheckCase{"FromNotSigned",
            [](TixDkim& ADkim, TixByteArray&) {
                ADkim.GetSignedHeaderFields().Delete(ADkim.GetSignedHeaderFields().IndexOf("From"));
            },
            nullptr, DkimFromNotSignedCode},
        TCheckCase{"IdentityOutsideDomain",
            [](TixDkim& ADkim, TixByteArray&) { ADkim.SetUserIdentity("joe@example.com.evilexample.com"); }, nullptr,
            DkimIdentityDomainCode},
        TCheckCase{"Expired",
            [](TixDkim& ADkim, TixByteArray&) {
                ADkim.SetSignatureTimestamp(Now() - 2);
                ADkim.SetSignatureExpiration(Now() - 1);
            },
            nullptr, DkimExpiredCode},
        TCheckCase{"ShortKey",
            [](TixDkim& ADkim, TixByteArray& APublicKey) {
                ADkim.GetRsaKey().SetKeyLength(768);
                ADkim.GetRsaKey().GenerateKey();
                APublicKey = ADkim.GetRsaKey().GetPublicKeyInfo();
            },
            nullptr, DkimKeyTooShortCode}),
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

TEST_F(DkimComponent, MessageComponentVerifiesWhatItLoadsAndTheEventsReportSigningVerifyingAndTheKey)
{
    std::string events;
    FDkim.OnSign = [&](TObject*, TixDkimSignature*, TStrings&) { events += "sign;"; };
    FDkim.OnVerify = [&](TObject*, TixDkimSignature*, TStrings&, TixDkimSignatureVerifyStatus& AStatus) {
        events += "verify " + std::to_string(AStatus.GetStatus()) + ";";
    };
    FDkim.OnKeyReceived = [&](TObject*, TixDkimSignature*, TixDkimKey*) { events += "key;"; };
    FDkim.SetVerifyMode(dvmVerifyAll);
    FDkim.Sign(FMessage);
    TixMailMessage message;
    message.SetDkim(&FDkim);
    message.LoadMessage(FMessage);
    EXPECT_EQ(events, "sign;key;verify 1;");
    ASSERT_EQ(FDkim.GetSignatures().Count(), 1);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
    FMessage.Put(FMessage.Count() - 3, "changed");
    message.LoadMessage(FMessage);
    EXPECT_EQ(FDkim.GetSignatures()[0]->VerifyStatus.GetErrorCode(), DkimBodyHashCode);
}

} // namespace
} // namespace ix
