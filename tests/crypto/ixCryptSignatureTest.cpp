// RSA and Ed25519 signatures and keys, checked against an independent implementation: the
// openssl command line signs, verifies and converts the same keys and data.
#include "crypto/ixCryptSignature.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "support/ExpectError.h"

using namespace ix;
namespace fs = std::filesystem;

namespace {

TixByteArray Bytes(const std::string& AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

TixByteArray ReadFile(const fs::path& APath)
{
    std::ifstream file(APath, std::ios::binary);
    return TixByteArray(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& APath, const TixByteArray& ABytes)
{
    std::ofstream(APath, std::ios::binary)
        .write(reinterpret_cast<const char*>(ABytes.data()), static_cast<std::streamsize>(ABytes.size()));
}

/// Runs the openssl command line with AArguments; true when it exits with status 0.
bool OpenSsl(const std::string& AArguments)
{
    return std::system(("openssl " + AArguments + " >/dev/null 2>&1").c_str()) == 0;
}

/// A scratch folder for this process's files.
const fs::path& ScratchDir()
{
    static const fs::path dir = [] {
        fs::path path = fs::temp_directory_path() / ("ix-rsa-test-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

class TScratchCleanup : public testing::Environment
{
public:
    void TearDown() override { fs::remove_all(ScratchDir()); }
};
[[maybe_unused]] testing::Environment* const ScratchCleanup =
    testing::AddGlobalTestEnvironment(new TScratchCleanup);

/// A key made by "openssl genrsa", kept in the build tree so that it is made once, with the
/// files derived from it.
struct TOpenSslKey
{
    int Bits;
    fs::path Pem;          ///< The private key (PEM).
    fs::path PublicPem;    ///< Its SubjectPublicKeyInfo (PEM).

    /// The output of "openssl rsa" over the key with AOptions, in DER.
    TixByteArray Convert(const std::string& AOptions) const
    {
        const fs::path out = ScratchDir() / ("convert-" + std::to_string(Bits) + ".der");
        EXPECT_TRUE(OpenSsl("rsa -in " + Pem.string() + " " + AOptions + " -outform DER -out " + out.string()));
        return ReadFile(out);
    }
    TixByteArray PrivateDer() const { return Convert("-traditional"); }
    TixByteArray PublicKeyInfoDer() const { return Convert("-pubout"); }
    TixByteArray RsaPublicDer() const { return Convert("-RSAPublicKey_out"); }
};

const TOpenSslKey& KeyOf(int ABits)
{
    static std::map<int, TOpenSslKey> keys;
    auto found = keys.find(ABits);
    if (found != keys.end())
        return found->second;
    const fs::path dir = IX_TEST_KEY_DIR;
    fs::create_directories(dir);
    const fs::path pem = dir / ("rsa" + std::to_string(ABits) + ".pem");
    if (!fs::exists(pem))
    {
        // Made aside and linked into place only where no key is yet, so that test processes
        // running side by side all use the first key made (a rename would replace a key that
        // another process is still reading).
        const fs::path made = ScratchDir() / pem.filename();
        EXPECT_TRUE(OpenSsl("genrsa -out " + made.string() + " " + std::to_string(ABits)));
        const fs::path part = pem.string() + ".part" + std::to_string(getpid());
        fs::copy_file(made, part);
        std::error_code taken;
        fs::create_hard_link(part, pem, taken);
        fs::remove(part);
    }
    TOpenSslKey key{ABits, pem, ScratchDir() / ("rsa" + std::to_string(ABits) + "-pub.pem")};
    EXPECT_TRUE(OpenSsl("rsa -in " + pem.string() + " -pubout -out " + key.PublicPem.string()));
    return keys.emplace(ABits, key).first->second;
}

std::unique_ptr<TixSignatureRsa> NewSignature(const std::string& AHash)
{
    if (AHash == "sha1")
        return std::make_unique<TixSignatureRsaSha1>();
    return std::make_unique<TixSignatureRsaSha256>();
}

/// A key object holding the openssl key.
std::unique_ptr<TixCryptApiRsaKey> LoadKey(const TOpenSslKey& AKey)
{
    auto key = std::make_unique<TixCryptApiRsaKey>();
    key->Init();
    key->SetRsaPrivateKey(AKey.PrivateDer());
    return key;
}

/// The signature of AData by ASignature with AKey's private key.
TixByteArray SignData(TixSignatureRsa& ASignature, TixRsaKey& AKey, const TixByteArray& AData)
{
    ASignature.Init();
    ASignature.SetPrivateKey(AKey);
    ASignature.Update(AData, 0, static_cast<int32_t>(AData.size()));
    return ASignature.Sign();
}

bool VerifyData(TixSignatureRsa& ASignature, TixRsaKey& AKey, const TixByteArray& AData,
    const TixByteArray& ASigned)
{
    ASignature.Init();
    ASignature.SetPublicKey(AKey);
    ASignature.Update(AData, 0, static_cast<int32_t>(AData.size()));
    return ASignature.VerifySignature(ASigned);
}

template <typename TCall>
void ExpectCryptError(TCall ACall, int32_t ACode, const std::string& AText)
{
    EXPECT_EQ(test::ExpectError<EixCryptError>(ACall, ACode), AText);
}

int32_t Code(os::DWORD ACode)
{
    return static_cast<int32_t>(ACode);
}

const TixByteArray Message = Bytes("From: a@example.com\r\nSubject: test\r\n\r\nBody text.\r\n");

} // namespace

// ---- interoperability --------------------------------------------------------------------------

class RsaInterop : public testing::TestWithParam<std::tuple<std::string, int>>
{
protected:
    std::string Hash() const { return std::get<0>(GetParam()); }
    const TOpenSslKey& Key() const { return KeyOf(std::get<1>(GetParam())); }
    fs::path File(const std::string& AName) const
    {
        return ScratchDir() / (Hash() + "-" + std::to_string(std::get<1>(GetParam())) + "-" + AName);
    }
    bool OpenSslVerifies(const TixByteArray& AData, const TixByteArray& ASigned) const
    {
        WriteFile(File("data"), AData);
        WriteFile(File("sig"), ASigned);
        return OpenSsl("dgst -" + Hash() + " -verify " + Key().PublicPem.string() + " -signature "
            + File("sig").string() + " " + File("data").string());
    }
};

TEST_P(RsaInterop, SignaturesVerifyBothWaysAndFailWithOneBitFlippedInDataOrSignature)
{
    // Ours verifies with OpenSSL and with us.
    const auto key = LoadKey(Key());
    const auto signature = NewSignature(Hash());
    const TixByteArray ours = SignData(*signature, *key, Message);
    EXPECT_EQ(ours.size(), static_cast<size_t>(Key().Bits / 8));
    EXPECT_TRUE(OpenSslVerifies(Message, ours));
    EXPECT_TRUE(VerifyData(*signature, *key, Message, ours));
    TixByteArray flipped = ours;
    flipped[flipped.size() / 2] ^= 0x01;
    EXPECT_FALSE(OpenSslVerifies(Message, flipped));
    EXPECT_FALSE(VerifyData(*signature, *key, Message, flipped));

    // OpenSSL's verifies with a key that holds only the public part.
    ASSERT_TRUE(OpenSsl("dgst -" + Hash() + " -sign " + Key().Pem.string() + " -out " + File("sig").string() + " "
        + File("data").string()));
    const TixByteArray theirs = ReadFile(File("sig"));
    TixCryptApiRsaKey publicKey;
    publicKey.Init();
    publicKey.SetPublicKeyInfo(Key().PublicKeyInfoDer());
    EXPECT_TRUE(VerifyData(*signature, publicKey, Message, theirs));
    flipped = theirs;
    flipped.back() ^= 0x80;
    EXPECT_FALSE(VerifyData(*signature, publicKey, Message, flipped));
    TixByteArray data = Message;
    data[3] ^= 0x04;
    EXPECT_FALSE(VerifyData(*signature, publicKey, data, theirs));
    // Verify raises where VerifySignature says false.
    signature->Init();
    signature->SetPublicKey(publicKey);
    ExpectCryptError([&] { signature->Verify(flipped); }, Code(os::NTE_BAD_SIGNATURE), "Invalid Signature");
}

INSTANTIATE_TEST_SUITE_P(Keys, RsaInterop,
    testing::Combine(testing::Values("sha1", "sha256"), testing::Values(1024, 2048, 4096)),
    [](const auto& AInfo) { return std::get<0>(AInfo.param) + "_" + std::to_string(std::get<1>(AInfo.param)); });

// ---- key round trips ---------------------------------------------------------------------------

class RsaKeyRoundTrip : public testing::Test
{
protected:
    const TOpenSslKey& Key() const { return KeyOf(2048); }
};

TEST_F(RsaKeyRoundTrip, OpenSslKeysComeBackByteIdenticalInEveryEncoding)
{
    const TixByteArray privateDer = Key().PrivateDer();
    const TixByteArray publicInfo = Key().PublicKeyInfoDer();
    const TixByteArray rsaPublic = Key().RsaPublicDer();
    TixCryptApiRsaKey key;
    key.Init();
    key.SetRsaPrivateKey(privateDer);
    EXPECT_EQ(key.GetRsaPrivateKey(), privateDer);
    EXPECT_EQ(key.GetPublicKeyInfo(), publicInfo);
    EXPECT_EQ(key.GetRsaPublicKey(), rsaPublic);
    EXPECT_EQ(key.GetKeyLength(), 2048);
    EXPECT_EQ(key.GetKeySpec(), os::AT_KEYEXCHANGE);

    TixCryptApiRsaKey info;
    info.Init();
    info.SetPublicKeyInfo(publicInfo);
    EXPECT_EQ(info.GetRsaPublicKey(), rsaPublic);
    EXPECT_EQ(info.GetKeyLength(), 2048);
    TixCryptApiRsaKey pkcs1;
    pkcs1.Init();
    pkcs1.SetRsaPublicKey(rsaPublic);
    EXPECT_EQ(pkcs1.GetPublicKeyInfo(), publicInfo);
    // A public key has no private key to give.
    ExpectCryptError([&] { pkcs1.GetRsaPrivateKey(); }, Code(os::NTE_BAD_KEY_STATE),
        "Key not valid for use in specified state");
}

TEST_F(RsaKeyRoundTrip, ModulusAndExponentGiveTheSameKeyWithOrWithoutLeadingZeros)
{
    const auto key = LoadKey(Key());
    TixByteArray modulus;
    TixByteArray exponent;
    key->GetRsaKey(modulus, exponent);
    EXPECT_EQ(exponent, (TixByteArray{0x01, 0x00, 0x01}));
    ASSERT_EQ(modulus.size(), 256u);
    EXPECT_NE(modulus[0], 0);

    TixCryptApiRsaKey padded;
    padded.Init();
    TixByteArray withZero{0x00};
    withZero.insert(withZero.end(), modulus.begin(), modulus.end());
    padded.SetRsaKey(withZero, exponent);
    EXPECT_EQ(padded.GetRsaPublicKey(), Key().RsaPublicDer());
    TixByteArray modulusBack;
    TixByteArray exponentBack;
    padded.GetRsaKey(modulusBack, exponentBack);
    EXPECT_EQ(modulusBack, modulus);
    EXPECT_EQ(exponentBack, exponent);

    // A signature made with the private key verifies with the key made of modulus and exponent.
    TixSignatureRsaSha256 signature;
    EXPECT_TRUE(VerifyData(signature, padded, Message, SignData(signature, *key, Message)));
}

TEST(RsaKey, ExponentsCountAtMostTheirFirstFourBytesAndThoseThatMakeNoSafeKeyAreRefused)
{
    const std::pair<TixByteArray, TixByteArray> cases[] = {{{0x03}, {0x03}}, {{0x01, 0x01}, {0x01, 0x01}},
        {{0x01, 0x00, 0x01}, {0x01, 0x00, 0x01}}, {{0x00, 0x01, 0x00, 0x01}, {0x01, 0x00, 0x01}},
        {{0x01, 0x00, 0x00, 0x01, 0xFF}, {0x01, 0x00, 0x00, 0x01}}};
    TixByteArray modulus;
    TixByteArray exponent;
    LoadKey(KeyOf(1024))->GetRsaKey(modulus, exponent);
    TixCryptApiRsaKey key;
    key.Init();
    for (const auto& [given, taken] : cases)
    {
        key.SetRsaKey(modulus, given);
        key.GetRsaKey(modulus, exponent);
        EXPECT_EQ(exponent, taken) << given.size();
    }
    // An exponent of 1 would make every padded digest its own signature.
    for (const TixByteArray& bad : {TixByteArray{}, TixByteArray{0x01}, TixByteArray{0x01, 0x00}})
        ExpectCryptError([&] { key.SetRsaKey(modulus, bad); }, Code(os::NTE_BAD_KEY), "Bad Key");
}
TEST(RsaKey, GeneratedKeysHaveTheirLengthSignAndExport)
{
    TixCryptApiRsaKey key;
    key.Init();
    key.GenerateKey();
    TixByteArray modulus;
    TixByteArray exponent;
    key.GetRsaKey(modulus, exponent);
    EXPECT_EQ(modulus.size(), 128u);
    TixCryptApiRsaKey copy;
    copy.Init();
    copy.SetRsaPrivateKey(key.GetRsaPrivateKey());
    EXPECT_EQ(copy.GetKeyLength(), 1024);
    TixSignatureRsaSha1 signature;
    EXPECT_TRUE(VerifyData(signature, key, Message, SignData(signature, copy, Message)));

    key.SetKeyLength(1001);   // not a multiple of 8
    ExpectCryptError([&] { key.GenerateKey(); }, Code(os::NTE_BAD_FLAGS), "Invalid flags specified");
}

TEST(RsaKey, AKeySetAsSignatureKeySignsUnderThatKeySpec)
{
    TixCryptApiRsaKey key;
    key.Init();
    key.SetKeySpec(os::AT_SIGNATURE);
    key.SetRsaPrivateKey(KeyOf(1024).PrivateDer());   // reads the key kind back: key exchange
    key.SetKeySpec(os::AT_SIGNATURE);
    TixSignatureRsaSha256 signature;
    const TixByteArray signed_ = SignData(signature, key, Message);
    EXPECT_EQ(signature.GetKeySpec(), os::AT_SIGNATURE);
    EXPECT_TRUE(VerifyData(signature, key, Message, signed_));
}

// ---- refused input -------------------------------------------------------------------------------

TEST(RsaKey, InconsistentPrivateKeysAreRefused)
{
    const TixByteArray der = KeyOf(1024).PrivateDer();
    // Offsets from the end: in the coefficient, the second CRT exponent and the first prime.
    for (const size_t fromEnd : {size_t{10}, size_t{80}, size_t{300}})
    {
        TixByteArray bad = der;
        bad[bad.size() - fromEnd] ^= 0x10;
        TixCryptApiRsaKey key;
        key.Init();
        ExpectCryptError([&] { key.SetRsaPrivateKey(bad); }, Code(os::NTE_BAD_KEY), "Bad Key");
    }
}

TEST(RsaKey, MalformedEncodingsRaiseTheDecodingError)
{
    const TixByteArray der = KeyOf(1024).PrivateDer();
    TixCryptApiRsaKey key;
    key.Init();
    const TixByteArray truncated(der.begin(), der.end() - 1);
    ExpectCryptError([&] { key.SetRsaPrivateKey(truncated); }, Code(os::CRYPT_E_ASN1_EOD),
        "ASN1 unexpected end of data");
    // A SubjectPublicKeyInfo is not an RSAPublicKey: its first field is a sequence.
    ExpectCryptError([&] { key.SetRsaPublicKey(KeyOf(1024).PublicKeyInfoDer()); },
        Code(os::CRYPT_E_ASN1_BADTAG), "ASN1 bad tag value met");
}

TEST(RsaKey, WithoutAKeyRaisesKeyRequiredAndSigningWithoutAPrivateKeyTheProviderError)
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
    ExpectCryptError([&] { signature.Sign(); }, Code(os::NTE_NO_KEY), "Key does not exist");
}

TEST(RsaSignature, SignaturesOfTheWrongLengthDoNotVerify)
{
    const auto key = LoadKey(KeyOf(1024));
    TixSignatureRsaSha256 signature;
    const TixByteArray signed_ = SignData(signature, *key, Message);
    const TixByteArray shorter(signed_.begin() + 1, signed_.end());
    TixByteArray longer{0x00};
    longer.insert(longer.end(), signed_.begin(), signed_.end());
    const TixByteArray aboveModulus(signed_.size(), 0xFF);
    for (const TixByteArray& bad : {TixByteArray{}, shorter, longer, aboveModulus})
        EXPECT_FALSE(VerifyData(signature, *key, Message, bad)) << bad.size();
}

// ---- Ed25519 ---------------------------------------------------------------------------------

namespace {

/// The private and public key of RFC 8463, appendix A.1 (base64 nWGxne/9... and 11qYAYKx...).
const TixByteArray Ed25519Private = {0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a, 0xf4, 0x92,
    0xec, 0x2c, 0xc4, 0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
const TixByteArray Ed25519Public = {0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9,
    0x64, 0x07, 0x3a, 0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};

TixByteArray Concat(TixByteArray AFirst, const TixByteArray& ASecond)
{
    AFirst.insert(AFirst.end(), ASecond.begin(), ASecond.end());
    return AFirst;
}

std::unique_ptr<TixCryptApiEd25519Key> Ed25519Key(const TixByteArray& APrivate)
{
    auto key = std::make_unique<TixCryptApiEd25519Key>();
    key->Init();
    key->SetPrivateKey(APrivate);
    return key;
}

} // namespace

TEST(Ed25519Key, ThePrivateKeyGivesItsPublicKeyInEveryEncoding)
{
    const auto key = Ed25519Key(Ed25519Private);
    EXPECT_EQ(key->GetPrivateKey(), Ed25519Private);
    EXPECT_EQ(key->GetPublicKey(), Ed25519Public);
    // RFC 8410: SEQUENCE { SEQUENCE { OID 1.3.101.112 }, BIT STRING { key } }.
    const TixByteArray info = key->GetPublicKeyInfo();
    EXPECT_EQ(info, Concat({0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00}, Ed25519Public));
    TixCryptApiEd25519Key other;
    other.Init();
    other.SetPublicKeyInfo(info);
    EXPECT_EQ(other.GetPublicKey(), Ed25519Public);
    ExpectCryptError([&] { other.GetPrivateKey(); }, Code(os::NTE_BAD_KEY_STATE), "Key not valid for use in specified state");
}

TEST(Ed25519Key, MissingKeysAndWrongLengthsAreRefused)
{
    TixCryptApiEd25519Key key;
    key.Init();
    ExpectCryptError([&] { key.GetPublicKey(); }, CryptKeyRequiredError, CryptKeyRequiredText);
    ExpectCryptError([&] { key.SetPrivateKey({}); }, CryptKeyRequiredError, CryptKeyRequiredText);
    const TixByteArray shorter(Ed25519Public.begin() + 1, Ed25519Public.end());
    ExpectCryptError([&] { key.SetPublicKey(shorter); }, Code(os::NTE_BAD_DATA), "Bad Data");
    TixCryptApiRsaKey rsa;
    rsa.Init();
    rsa.SetRsaPrivateKey(KeyOf(1024).PrivateDer());
    ExpectCryptError([&] { key.SetPublicKeyInfo(rsa.GetPublicKeyInfo()); }, Code(os::NTE_BAD_ALGID), "Invalid algorithm specified");
}

// That the digest is signed as other programs sign it, the DKIM tests show with RFC 8463's
// example and the DKIM peers.
TEST(Ed25519Signature, SignsDeterministicallyAndFailsWhenChanged)
{
    TixCryptApiEd25519Key key;
    key.Init();
    key.GenerateKey();
    TixSignatureEd25519Sha256 signature;
    const auto sign = [&](const TixByteArray& AData) {
        signature.Init();
        signature.SetPrivateKey(key);
        signature.Update(AData, 0, static_cast<int32_t>(AData.size()));
        return signature.Sign();
    };
    const auto verify = [&](const TixByteArray& AData, const TixByteArray& ASignature) {
        signature.Init();
        signature.SetPublicKey(key);
        signature.Update(AData, 0, static_cast<int32_t>(AData.size()));
        return signature.VerifySignature(ASignature);
    };
    const TixByteArray signed_ = sign(Message);
    ASSERT_EQ(signed_.size(), 64u);
    EXPECT_EQ(sign(Message), signed_);   // deterministic (RFC 8032)
    EXPECT_TRUE(verify(Message, signed_));
    TixByteArray flipped = signed_;
    flipped[40] ^= 0x01;
    EXPECT_FALSE(verify(Message, flipped));
    EXPECT_FALSE(verify(Bytes("other data"), signed_));
    EXPECT_FALSE(verify(Message, TixByteArray(signed_.begin(), signed_.end() - 1)));
}
