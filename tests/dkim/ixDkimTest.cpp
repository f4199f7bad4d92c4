// The DKIM component: signing and verifying with keys from OnGetPublicKey, the checks a
// verifier makes, the verify modes, and a message component that verifies what it loads.
#include "dkim/ixDkim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkimCanonicalizer.h"

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
    static void SetUpTestSuite()
    {
        // One key per build tree, made aside and renamed so that test processes share it.
        const std::filesystem::path file = std::filesystem::path(IX_TEST_KEY_DIR) / "dkim2048.der";
        FKeys = std::make_unique<TixCryptApiRsaKey>();
        FKeys->Init();
        if (!std::filesystem::exists(file)) {
            FKeys->SetKeyLength(2048);
            FKeys->GenerateKey();
            const TixByteArray key = FKeys->GetRsaPrivateKey();
            std::filesystem::create_directories(file.parent_path());
            const std::string part = file.string() + ".part" + std::to_string(getpid());
            std::ofstream(part, std::ios::binary).write(reinterpret_cast<const char*>(key.data()),
                static_cast<std::streamsize>(key.size()));
            std::filesystem::rename(part, file);
        }
        std::ifstream in(file, std::ios::binary);
        FKeys->SetRsaPrivateKey(TixByteArray(std::istreambuf_iterator<char>(in), {}));
    }
    static void TearDownTestSuite() { FKeys.reset(); }

    void SetUp() override
    {
        FMessage.SetText(MessageText);
        FDkim.SetDomain("example.com");
        FDkim.SetSelector("sel");
        FDkim.GetRsaKey().SetRsaPrivateKey(FKeys->GetRsaPrivateKey());
        FDkim.OnGetPublicKey = [this](TObject*, TixDkimSignature*, TixByteArray& AKey) { AKey = FPublicKey; };
        FPublicKey = FKeys->GetPublicKeyInfo();
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

    static std::unique_ptr<TixCryptApiRsaKey> FKeys;
    TixDkim FDkim;
    TStringList FMessage;
    TixByteArray FPublicKey;
};

std::unique_ptr<TixCryptApiRsaKey> DkimComponent::FKeys;

struct TSignCase {
    const char* Algorithm;
    const char* Canonicalization;
    int32_t BodyLength;
};

void PrintTo(const TSignCase& AValue, std::ostream* AStream)
{
    *AStream << testing::PrintToString(std::string(AValue.Algorithm) + " " + AValue.Canonicalization + " l=" + std::to_string(AValue.BodyLength));
}

class DkimSignVerify : public DkimComponent, public testing::WithParamInterface<TSignCase>
{
};

TEST_P(DkimSignVerify, SignedMessagesVerify)
{
    FDkim.SetSignatureAlgorithm(GetParam().Algorithm);
    FDkim.SetCanonicalization(GetParam().Canonicalization);
    FDkim.SetBodyLength(GetParam().BodyLength);
    FDkim.GetSignedHeaderFields().Add("From");
    FDkim.SetUserIdentity("joe@mail.example.com");
    FDkim.GetCopiedHeaderFields().Add("To");
    FDkim.Sign(FMessage);
    ASSERT_EQ(VerifyError(), 0) << FMessage.GetText();
    const auto& status = FDkim.GetSignatures()[0]->VerifyStatus;
    EXPECT_EQ(status.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
    EXPECT_EQ(status.GetStatusText().empty(), GetParam().BodyLength == 0) << status.GetStatusText();
}

INSTANTIATE_TEST_SUITE_P(Cases, DkimSignVerify,
    testing::Values(TSignCase{"rsa-sha256", "", 0}, TSignCase{"rsa-sha1", "simple/simple", 0},
        TSignCase{"rsa-sha256", "relaxed", 0}, TSignCase{"rsa-sha256", "relaxed/relaxed", 0},
        TSignCase{"rsa-sha1", "relaxed/relaxed", 10}, TSignCase{"rsa-sha256", "simple/relaxed", 5}));

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
            EXPECT_EQ(FDkim.GetSignatures()[1]->VerifyStatus.GetStatus(), TixDkimSignatureVerifyStatus::Verified);
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
