// RSA and Ed25519 signatures and keys; the key encodings are checked against an independent
// implementation: the openssl command line converts the same keys.
#include "crypto/ixCryptSignature.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "support/ExpectError.h"
#include "support/ProgramRun.h"

using namespace ix;

namespace {

TixByteArray Bytes(const std::string& AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

TixByteArray Concat(TixByteArray AFirst, const TixByteArray& ASecond)
{
    AFirst.insert(AFirst.end(), ASecond.begin(), ASecond.end());
    return AFirst;
}

/// The output of "openssl rsa" reading the PKCS #1 private key ADer with AOptions, in DER.
TixByteArray OpenSslRsa(const TixByteArray& ADer, const std::string& AOptions)
{
    const test::TScratch scratch("rsa-test");
    const std::string in = (scratch.Path() / "key.der").string();
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(ADer.data()), ADer.size());
    const test::TProgramRun run
        = test::RunProgram("openssl", "rsa -inform DER -in '" + in + "' " + AOptions + " -outform DER", scratch.Path());
    EXPECT_EQ(run.Status, 0) << run.Err;
    return Bytes(run.Out);
}

/// The private key (PKCS #1 DER) of a key made by GenerateKey with the default length (1024 bits),
/// once per run.
const TixByteArray& PrivateDer()
{
    static const TixByteArray der = [] {
        TixCryptApiRsaKey key;
        key.Init();
        key.GenerateKey();
        return key.GetRsaPrivateKey();
    }();
    return der;
}

/// A key object holding that private key.
std::unique_ptr<TixCryptApiRsaKey> LoadKey()
{
    auto key = std::make_unique<TixCryptApiRsaKey>();
    key->Init();
    key->SetRsaPrivateKey(PrivateDer());
    return key;
}

/// The signature of AData by ASignature with AKey's private key.
template <typename TSignature, typename TKey>
TixByteArray SignData(TSignature& ASignature, TKey& AKey, const TixByteArray& AData)
{
    ASignature.Init();
    ASignature.SetPrivateKey(AKey);
    ASignature.Update(AData, 0, static_cast<int32_t>(AData.size()));
    return ASignature.Sign();
}

template <typename TSignature, typename TKey>
bool VerifyData(TSignature& ASignature, TKey& AKey, const TixByteArray& AData, const TixByteArray& ASigned)
{
    ASignature.Init();
    ASignature.SetPublicKey(AKey);
    ASignature.Update(AData, 0, static_cast<int32_t>(AData.size()));
    return ASignature.VerifySignature(ASigned);
}

/// ACall must raise the crypto error ACode (a system code or one of ours) with AText.
template <typename TCall, typename TCode>
void ExpectCryptError(TCall ACall, TCode ACode, const std::string& AText)
{
    EXPECT_EQ(test::ExpectError<EixCryptError>(ACall, static_cast<int32_t>(ACode)), AText);
}

const TixByteArray Message = Bytes("From: a@example.com\r\nSubject: test\r\n\r\nBody text.\r\n");

} // namespace

// That keys and digests are signed and verified as other programs do it, the DKIM tests show
// with the DKIM peers (rsa-sha1 and rsa-sha256 both ways) and RFC 8463's example.

// ---- keys ----------------------------------------------------------------------------------------

TEST(RsaKeyRoundTrip, OpenSslReadsAndWritesOurKeysByteIdenticallyInEveryEncodingAndTheKeyKindIsReadBack)
{
    const TixByteArray& privateDer = PrivateDer();
    const TixByteArray publicInfo = OpenSslRsa(privateDer, "-pubout");
    const TixByteArray rsaPublic = OpenSslRsa(privateDer, "-RSAPublicKey_out");
    EXPECT_EQ(OpenSslRsa(privateDer, "-traditional"), privateDer);
    TixCryptApiRsaKey key;
    key.Init();
    key.SetKeySpec(os::AT_SIGNATURE);
    key.SetRsaPrivateKey(privateDer);
    EXPECT_EQ(key.GetRsaPrivateKey(), privateDer);
    EXPECT_EQ(key.GetPublicKeyInfo(), publicInfo);
    EXPECT_EQ(key.GetRsaPublicKey(), rsaPublic);
    EXPECT_EQ(key.GetKeyLength(), 1024);
    EXPECT_EQ(key.GetKeySpec(), os::AT_KEYEXCHANGE) << "the kind of the key read";
    // A signature follows the kind set.
    key.SetKeySpec(os::AT_SIGNATURE);
    TixSignatureRsaSha1 signature;
    const TixByteArray signed_ = SignData(signature, key, Message);
    EXPECT_EQ(signature.GetKeySpec(), os::AT_SIGNATURE);
    EXPECT_TRUE(VerifyData(signature, key, Message, signed_));

    TixCryptApiRsaKey info;
    info.Init();
    info.SetPublicKeyInfo(publicInfo);
    EXPECT_EQ(info.GetRsaPublicKey(), rsaPublic);
    EXPECT_EQ(info.GetKeyLength(), 1024);
    TixCryptApiRsaKey pkcs1;
    pkcs1.Init();
    pkcs1.SetRsaPublicKey(rsaPublic);
    EXPECT_EQ(pkcs1.GetPublicKeyInfo(), publicInfo);
    // A public key has no private key to give.
    ExpectCryptError([&] { pkcs1.GetRsaPrivateKey(); }, os::NTE_BAD_KEY_STATE,
        "Key not valid for use in specified state");
}

TEST(RsaKey, ModulusAndExponentGiveTheKeyWithoutLeadingZerosAndExponentsThatMakeNoSafeKeyAreRefused)
{
    const auto generated = LoadKey();
    TixByteArray modulus;
    TixByteArray exponent;
    generated->GetRsaKey(modulus, exponent);
    EXPECT_EQ(exponent, (TixByteArray{0x01, 0x00, 0x01}));
    ASSERT_EQ(modulus.size(), 128u);
    EXPECT_NE(modulus[0], 0);

    // Leading zero bytes are dropped; an exponent counts at most its first four bytes.
    const std::pair<TixByteArray, TixByteArray> cases[] = {{{0x03}, {0x03}}, {{0x01, 0x01}, {0x01, 0x01}},
        {{0x01, 0x00, 0x00, 0x01, 0xFF}, {0x01, 0x00, 0x00, 0x01}}, {{0x00, 0x01, 0x00, 0x01}, {0x01, 0x00, 0x01}}};
    const TixByteArray paddedModulus = Concat({0x00}, modulus);
    TixCryptApiRsaKey key;
    key.Init();
    for (const auto& [given, taken] : cases)
    {
        key.SetRsaKey(paddedModulus, given);
        TixByteArray modulusBack;
        key.GetRsaKey(modulusBack, exponent);
        EXPECT_EQ(modulusBack, modulus);
        EXPECT_EQ(exponent, taken) << given.size();
    }
    // The last is the generated key's public half: a signature of its private key verifies with it.
    EXPECT_EQ(key.GetRsaPublicKey(), generated->GetRsaPublicKey());
    TixSignatureRsaSha256 signature;
    EXPECT_TRUE(VerifyData(signature, key, Message, SignData(signature, *generated, Message)));
    // An exponent of 1 would make every padded digest its own signature.
    for (const TixByteArray& bad : {TixByteArray{}, TixByteArray{0x01}, TixByteArray{0x01, 0x00}})
        ExpectCryptError([&] { key.SetRsaKey(modulus, bad); }, os::NTE_BAD_KEY, "Bad Key");
}

TEST(RsaKey, MissingInconsistentOrMalformedKeysAreRefusedWithTheirError)
{
    TixCryptApiRsaKey key;
    key.Init();
    TixByteArray modulus;
    TixByteArray exponent;
    TixSignatureRsaSha256 signature;
    signature.Init();
    const auto expectKeyRequired = [](auto ACall) {
        ExpectCryptError(ACall, CryptKeyRequiredError, "A key is required to complete the operation");
    };
    expectKeyRequired([&] { key.GetRsaPrivateKey(); });
    expectKeyRequired([&] { key.GetPublicKeyInfo(); });
    expectKeyRequired([&] { key.GetRsaKey(modulus, exponent); });
    expectKeyRequired([&] { key.SetRsaPrivateKey({}); });
    expectKeyRequired([&] { key.SetPublicKeyInfo({}); });
    expectKeyRequired([&] { signature.SetPublicKey(key); });
    expectKeyRequired([&] { signature.VerifySignature(Bytes("sig")); });
    // Signing without a private key set is the provider's refusal.
    signature.Init();
    signature.Update(Message, 0, static_cast<int32_t>(Message.size()));
    ExpectCryptError([&] { signature.Sign(); }, os::NTE_NO_KEY, "Key does not exist");
    key.SetKeyLength(1001);   // not a multiple of 8
    ExpectCryptError([&] { key.GenerateKey(); }, os::NTE_BAD_FLAGS, "Invalid flags specified");

    const TixByteArray& der = PrivateDer();
    // Offsets from the end: in the coefficient, the second CRT exponent and the first prime.
    for (const size_t fromEnd : {size_t{10}, size_t{80}, size_t{300}})
    {
        TixByteArray bad = der;
        bad[bad.size() - fromEnd] ^= 0x10;
        ExpectCryptError([&] { key.SetRsaPrivateKey(bad); }, os::NTE_BAD_KEY, "Bad Key");
    }
    const TixByteArray truncated(der.begin(), der.end() - 1);
    ExpectCryptError([&] { key.SetRsaPrivateKey(truncated); }, os::CRYPT_E_ASN1_EOD, "ASN1 unexpected end of data");
    // A SubjectPublicKeyInfo is not an RSAPublicKey: its first field is a sequence.
    ExpectCryptError([&] { key.SetRsaPublicKey(LoadKey()->GetPublicKeyInfo()); },
        os::CRYPT_E_ASN1_BADTAG, "ASN1 bad tag value met");
}

// ---- Ed25519 ---------------------------------------------------------------------------------

namespace {

/// The private and public key of RFC 8463, appendix A.1 (base64 nWGxne/9... and 11qYAYKx...).
const TixByteArray Ed25519Private = {0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a, 0xf4, 0x92,
    0xec, 0x2c, 0xc4, 0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
const TixByteArray Ed25519Public = {0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9,
    0x64, 0x07, 0x3a, 0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};

} // namespace

TEST(Ed25519Key, ThePrivateKeyGivesItsPublicKeyInEveryEncodingAndMissingOrWrongKeysAreRefused)
{
    TixCryptApiEd25519Key other;
    other.Init();
    ExpectCryptError([&] { other.GetPublicKey(); }, CryptKeyRequiredError, CryptKeyRequiredText);
    ExpectCryptError([&] { other.SetPrivateKey({}); }, CryptKeyRequiredError, CryptKeyRequiredText);
    const TixByteArray shorter(Ed25519Public.begin() + 1, Ed25519Public.end());
    ExpectCryptError([&] { other.SetPublicKey(shorter); }, os::NTE_BAD_DATA, "Bad Data");
    ExpectCryptError([&] { other.SetPublicKeyInfo(LoadKey()->GetPublicKeyInfo()); }, os::NTE_BAD_ALGID,
        "Invalid algorithm specified");

    TixCryptApiEd25519Key key;
    key.Init();
    key.SetPrivateKey(Ed25519Private);
    EXPECT_EQ(key.GetPrivateKey(), Ed25519Private);
    EXPECT_EQ(key.GetPublicKey(), Ed25519Public);
    // RFC 8410: SEQUENCE { SEQUENCE { OID 1.3.101.112 }, BIT STRING { key } }.
    const TixByteArray info = key.GetPublicKeyInfo();
    EXPECT_EQ(info, Concat({0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00}, Ed25519Public));
    other.SetPublicKeyInfo(info);
    EXPECT_EQ(other.GetPublicKey(), Ed25519Public);
    ExpectCryptError([&] { other.GetPrivateKey(); }, os::NTE_BAD_KEY_STATE, "Key not valid for use in specified state");
}

// ---- signatures ----------------------------------------------------------------------------------

/// Signs Message with ASignature and AKey; the signature has ASize bytes, is the same each time
/// when ADeterministic, and verifies, but not over changed data, with one bit flipped or with
/// another length; Verify raises where VerifySignature says false.
template <typename TSignature, typename TKey>
void ExpectOnlyTheSignedDataAndSignatureVerify(TSignature& ASignature, TKey& AKey, size_t ASize, bool ADeterministic)
{
    const TixByteArray signed_ = SignData(ASignature, AKey, Message);
    ASSERT_EQ(signed_.size(), ASize);
    if (ADeterministic)
    {
        EXPECT_EQ(SignData(ASignature, AKey, Message), signed_);
    }
    EXPECT_TRUE(VerifyData(ASignature, AKey, Message, signed_));
    TixByteArray data = Message;
    data[3] ^= 0x04;
    EXPECT_FALSE(VerifyData(ASignature, AKey, data, signed_));
    TixByteArray flipped = signed_;
    flipped[ASize / 2] ^= 0x01;
    const TixByteArray shorter(signed_.begin() + 1, signed_.end());
    const TixByteArray longer = Concat({0x00}, signed_);
    const TixByteArray allOnes(ASize, 0xFF);   // above an RSA modulus
    for (const TixByteArray& bad : {TixByteArray{}, flipped, shorter, longer, allOnes})
        EXPECT_FALSE(VerifyData(ASignature, AKey, Message, bad)) << bad.size();
    ExpectCryptError([&] { ASignature.Verify(flipped); }, os::NTE_BAD_SIGNATURE, "Invalid Signature");
}

TEST(Signatures, OnlyTheSignedDataAndSignatureVerifyWithRsaAndEd25519)
{
    const auto rsaKey = LoadKey();
    TixSignatureRsaSha256 rsa;
    ExpectOnlyTheSignedDataAndSignatureVerify(rsa, *rsaKey, 128, false);
    TixCryptApiEd25519Key edKey;
    edKey.Init();
    edKey.GenerateKey();
    TixSignatureEd25519Sha256 ed;
    ExpectOnlyTheSignedDataAndSignatureVerify(ed, edKey, 64, true);   // deterministic (RFC 8032)
}
