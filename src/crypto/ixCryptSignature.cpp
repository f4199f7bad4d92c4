#include "crypto/ixCryptSignature.h"

#include <algorithm>
#include <cstring>

namespace ix {

namespace {

constexpr os::DWORD EncodingType = os::X509_ASN_ENCODING | os::PKCS_7_ASN_ENCODING;
constexpr size_t BlobHeaderSize = sizeof(os::BLOBHEADER) + sizeof(os::RSAPUBKEY);
constexpr size_t KeyParamBufferSize = 256;

/// The NULL parameters of the rsaEncryption algorithm identifier.
constexpr os::BYTE RsaParameters[] = {0x05, 0x00};

[[noreturn]] void RaiseKeyRequired()
{
    throw EixCryptError(CryptKeyRequiredText, CryptKeyRequiredError);
}

os::DWORD Size(const TixByteArray& ABytes)
{
    return static_cast<os::DWORD>(ABytes.size());
}

TixByteArray Reversed(const TixByteArray& ABytes)
{
    return TixByteArray(ABytes.rbegin(), ABytes.rend());
}

/// The bytes a provider function gives by the two-call protocol: the size first, then the data.
/// ACall(ABuffer, ASize) is the function's call; failures raise naming AFunctionName.
template <typename TCall>
TixByteArray ReadSized(std::string_view AFunctionName, TCall ACall)
{
    os::DWORD size = 0;
    CheckCrypt(ACall(nullptr, &size), AFunctionName);
    TixByteArray bytes(size);
    CheckCrypt(ACall(bytes.data(), &size), AFunctionName);
    bytes.resize(std::min<size_t>(size, bytes.size()));
    return bytes;
}

TixByteArray EncodeObject(uintptr_t AStructType, const void* AInfo)
{
    return ReadSized("CryptEncodeObjectEx", [&](os::BYTE* ABuffer, os::DWORD* ASize) {
        return CryptEncodeObjectEx(EncodingType, os::CryptStructType(AStructType), AInfo, 0, nullptr,
            ABuffer, ASize);
    });
}

TixByteArray DecodeObject(uintptr_t AStructType, const TixByteArray& AEncoded)
{
    return ReadSized("CryptDecodeObjectEx", [&](os::BYTE* ABuffer, os::DWORD* ASize) {
        return CryptDecodeObjectEx(EncodingType, os::CryptStructType(AStructType), AEncoded.data(),
            Size(AEncoded), 0, nullptr, ABuffer, ASize);
    });
}

TixCryptKeyHandle ImportKeyBlob(const TixCryptProvider& AProvider, const TixByteArray& ABlob,
    os::DWORD AFlags)
{
    os::HCRYPTKEY handle = 0;
    CheckCrypt(CryptImportKey(AProvider.Get(), ABlob.data(), Size(ABlob), 0, AFlags, &handle),
        "CryptImportKey");
    return TixCryptKeyHandle(handle);
}

TixByteArray ExportKeyBlob(const TixCryptKeyHandle& AKey, os::BYTE ABlobType)
{
    return ReadSized("CryptExportKey", [&](os::BYTE* ABuffer, os::DWORD* ASize) {
        return CryptExportKey(AKey.Get(), 0, ABlobType, 0, ABuffer, ASize);
    });
}

/// The public exponent of a modulus-and-exponent key: the first four big-endian bytes at most.
os::DWORD ExponentValue(const TixByteArray& AExponent)
{
    os::DWORD value = 0;
    for (size_t index = 0; index < std::min<size_t>(AExponent.size(), 4); ++index)
        value = (value << 8) | AExponent[index];
    return value;
}

/// The PUBLICKEYBLOB of a big-endian modulus without leading zero bytes.
TixByteArray PublicKeyBlob(const TixByteArray& AModulus, os::DWORD AExponent)
{
    const os::BLOBHEADER header{os::PUBLICKEYBLOB, os::CUR_BLOB_VERSION, 0, os::CALG_RSA_KEYX};
    const os::RSAPUBKEY key{os::RSA1_MAGIC, Size(AModulus) * 8, AExponent};
    TixByteArray blob(BlobHeaderSize);
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), &key, sizeof(key));
    blob.insert(blob.end(), AModulus.rbegin(), AModulus.rend());
    return blob;
}

/// Imports the public key of a SubjectPublicKeyInfo DER as a key of AAlgorithm (0: RSA).
TixCryptKeyHandle ImportPublicKeyInfo(const TixCryptProvider& AProvider, const TixByteArray& AKey, os::ALG_ID AAlgorithm)
{
    if (AKey.empty())
        RaiseKeyRequired();
    const TixByteArray decoded = DecodeObject(os::X509_PUBLIC_KEY_INFO, AKey);
    os::HCRYPTKEY handle = 0;
    auto* info = reinterpret_cast<os::CERT_PUBLIC_KEY_INFO*>(const_cast<uint8_t*>(decoded.data()));
    CheckCrypt(CryptImportPublicKeyInfoEx(AProvider.Get(), EncodingType, info, AAlgorithm, 0, nullptr, &handle),
        "CryptImportPublicKeyInfoEx");
    return TixCryptKeyHandle(handle);
}

/// The SubjectPublicKeyInfo DER of a public key AKey of the algorithm AOid with AParameters.
TixByteArray EncodePublicKeyInfo(const char* AOid, TixByteArray AParameters, TixByteArray AKey)
{
    std::string oid(AOid);
    os::CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = oid.data();
    info.Algorithm.Parameters = {Size(AParameters), AParameters.data()};
    info.PublicKey = {Size(AKey), AKey.data(), 0};
    return EncodeObject(os::X509_PUBLIC_KEY_INFO, &info);
}

/// An Ed25519 key blob of ABlobType holding the 32-byte AKey.
TixByteArray Ed25519Blob(os::BYTE ABlobType, const TixByteArray& AKey)
{
    const os::BLOBHEADER header{ABlobType, os::CUR_BLOB_VERSION, 0, os::CALG_ED25519};
    TixByteArray blob(sizeof(header));
    std::memcpy(blob.data(), &header, sizeof(header));
    blob.insert(blob.end(), AKey.begin(), AKey.end());
    return blob;
}

TixByteArray WithoutLeadingZeros(TixByteArray::const_iterator AFirst, TixByteArray::const_iterator ALast)
{
    return TixByteArray(std::find_if(AFirst, ALast, [](uint8_t AByte) { return AByte != 0; }), ALast);
}

} // namespace

// ---- signatures ------------------------------------------------------------------------------

void TixCryptApiSignatureRsa::Release() noexcept
{
    FKey.Reset();
    FHash.Reset();
    FProvider.Reset();
    FProviderName.Clear();
}

void TixCryptApiSignatureRsa::Init()
{
    Release();
    FProvider = AcquireVerifyContext(FProviderName.Get(GetProviderName()), GetProviderType());
    FHash = CreateHash(FProvider, GetAlgorithm());
}

void TixCryptApiSignatureRsa::Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount)
{
    const auto [index, count] = ClipRange(ABuffer.size(), AIndex, ACount);
    HashData(FHash, ABuffer.data() + index, count);
}

TixByteArray TixCryptApiSignatureRsa::Sign()
{
    TixByteArray signature = ReadSized("CryptSignHash", [this](os::BYTE* ABuffer, os::DWORD* ASize) {
        return CryptSignHashA(FHash.Get(), static_cast<os::DWORD>(FKeySpec), nullptr, 0, ABuffer, ASize);
    });
    // The provider gives the least significant byte first; PKCS #1 writes it last.
    std::reverse(signature.begin(), signature.end());
    return signature;
}

bool TixCryptApiSignatureRsa::VerifySignature(const TixByteArray& ASignature)
{
    if (!FKey.IsValid())
        RaiseKeyRequired();
    const TixByteArray reversed = Reversed(ASignature);
    return CryptVerifySignatureA(FHash.Get(), reversed.data(), Size(reversed), FKey.Get(), nullptr, 0)
        != os::FALSE;
}

void TixCryptApiSignatureRsa::Verify(const TixByteArray& ASignature)
{
    if (!VerifySignature(ASignature))
        RaiseCryptError("CryptVerifySignature");
}

void TixCryptApiSignatureRsa::ImportKey(const TixByteArray& AKey, uintptr_t AStructType)
{
    if (AKey.empty())
        RaiseKeyRequired();
    FKey.Reset();
    TixSecretBytes blob(DecodeObject(AStructType, AKey));
    // A private key decodes as a key exchange key; one taken as a signature key is imported as
    // such, so that the provider signs with it in the signature key slot.
    if (FKeySpec == os::AT_SIGNATURE && blob.Bytes.size() >= sizeof(os::BLOBHEADER))
    {
        const os::ALG_ID algid = os::CALG_RSA_SIGN;
        std::memcpy(blob.Bytes.data() + offsetof(os::BLOBHEADER, aiKeyAlg), &algid, sizeof(algid));
    }
    FKey = ImportKeyBlob(FProvider, blob.Bytes, 0);
}

void TixCryptApiSignatureRsa::SetPrivateKey(TixRsaKey& AKey)
{
    FKeySpec = AKey.GetKeySpec();
    const TixSecretBytes key(AKey.GetRsaPrivateKey());
    ImportKey(key.Bytes, os::PKCS_RSA_PRIVATE_KEY);
}

void TixCryptApiSignatureRsa::SetPublicKey(TixRsaKey& AKey)
{
    FKeySpec = AKey.GetKeySpec();
    ImportKey(AKey.GetRsaPublicKey(), os::RSA_CSP_PUBLICKEYBLOB);
}

// ---- keys ------------------------------------------------------------------------------------

void TixCryptApiRsaKey::Release() noexcept
{
    FKey.Reset();
    FProvider.Reset();
    FProviderName.Clear();
}

void TixCryptApiRsaKey::Init()
{
    Release();
    FProvider = AcquireVerifyContext(FProviderName.Get(GetProviderName()), GetProviderType());
}

void TixCryptApiRsaKey::CheckKey() const
{
    if (!FKey.IsValid())
        RaiseKeyRequired();
}

void TixCryptApiRsaKey::GenerateKey()
{
    FKey.Reset();
    os::HCRYPTKEY handle = 0;
    const auto flags = (static_cast<os::DWORD>(FKeyLength) << 16) | os::CRYPT_EXPORTABLE;
    CheckCrypt(CryptGenKey(FProvider.Get(), static_cast<os::ALG_ID>(FKeySpec), flags, &handle),
        "CryptGenKey");
    FKey.Reset(handle);
}

TixByteArray TixCryptApiRsaKey::ExportEncoded(os::BYTE ABlobType, uintptr_t AStructType)
{
    CheckKey();
    const TixSecretBytes blob(ExportKeyBlob(FKey, ABlobType));
    return EncodeObject(AStructType, blob.Bytes.data());
}

TixByteArray TixCryptApiRsaKey::GetRsaPrivateKey()
{
    return ExportEncoded(os::PRIVATEKEYBLOB, os::PKCS_RSA_PRIVATE_KEY);
}

TixByteArray TixCryptApiRsaKey::GetRsaPublicKey()
{
    return ExportEncoded(os::PUBLICKEYBLOB, os::RSA_CSP_PUBLICKEYBLOB);
}

TixByteArray TixCryptApiRsaKey::GetPublicKeyInfo()
{
    return EncodePublicKeyInfo(os::szOID_RSA_RSA, TixByteArray(std::begin(RsaParameters), std::end(RsaParameters)),
        GetRsaPublicKey());
}

void TixCryptApiRsaKey::ImportBlob(const TixByteArray& ABlob, os::DWORD AFlags)
{
    FKey.Reset();
    FKey = ImportKeyBlob(FProvider, ABlob, AFlags);
    UpdateKeyInfo();
}

void TixCryptApiRsaKey::ImportEncoded(const TixByteArray& AKey, uintptr_t AStructType)
{
    if (AKey.empty())
        RaiseKeyRequired();
    FKey.Reset();
    const TixSecretBytes blob(DecodeObject(AStructType, AKey));
    ImportBlob(blob.Bytes, os::CRYPT_EXPORTABLE);
}

void TixCryptApiRsaKey::SetRsaPrivateKey(const TixByteArray& AKey)
{
    ImportEncoded(AKey, os::PKCS_RSA_PRIVATE_KEY);
}

void TixCryptApiRsaKey::SetRsaPublicKey(const TixByteArray& AKey)
{
    ImportEncoded(AKey, os::RSA_CSP_PUBLICKEYBLOB);
}

void TixCryptApiRsaKey::SetPublicKeyInfo(const TixByteArray& AKey)
{
    FKey.Reset();
    FKey = ImportPublicKeyInfo(FProvider, AKey, 0);
    UpdateKeyInfo();
}

void TixCryptApiRsaKey::SetRsaKey(const TixByteArray& AModulus, const TixByteArray& AExponent)
{
    const TixByteArray modulus = WithoutLeadingZeros(AModulus.begin(), AModulus.end());
    ImportBlob(PublicKeyBlob(modulus, ExponentValue(AExponent)), 0);
}

void TixCryptApiRsaKey::GetRsaKey(TixByteArray& AModulus, TixByteArray& AExponent)
{
    CheckKey();
    const TixByteArray blob = ExportKeyBlob(FKey, os::PUBLICKEYBLOB);
    os::RSAPUBKEY key{};
    if (blob.size() >= BlobHeaderSize)
        std::memcpy(&key, blob.data() + sizeof(os::BLOBHEADER), sizeof(key));
    const TixByteArray exponent{static_cast<uint8_t>(key.pubexp >> 24),
        static_cast<uint8_t>(key.pubexp >> 16), static_cast<uint8_t>(key.pubexp >> 8),
        static_cast<uint8_t>(key.pubexp)};
    AExponent = WithoutLeadingZeros(exponent.begin(), exponent.end());
    const auto first = blob.begin() + static_cast<ptrdiff_t>(std::min(blob.size(), BlobHeaderSize));
    const auto last = first + std::min<ptrdiff_t>(key.bitlen / 8, blob.end() - first);
    const TixByteArray modulus(std::make_reverse_iterator(last), std::make_reverse_iterator(first));
    AModulus = WithoutLeadingZeros(modulus.begin(), modulus.end());
}

void TixCryptApiRsaKey::UpdateKeyInfo()
{
    for (const os::DWORD keySpec : {os::AT_KEYEXCHANGE, os::AT_SIGNATURE})
    {
        os::HCRYPTKEY userKey = 0;
        if (CryptGetUserKey(FProvider.Get(), keySpec, &userKey) != os::FALSE)
        {
            CryptDestroyKey(userKey);
            FKeySpec = static_cast<int32_t>(keySpec);
            break;
        }
    }
    os::BYTE buffer[KeyParamBufferSize] = {};
    os::DWORD size = sizeof(buffer);
    if (CryptGetKeyParam(FKey.Get(), os::KP_KEYLEN, buffer, &size, 0) != os::FALSE && size >= 4)
    {
        os::DWORD length = 0;
        std::memcpy(&length, buffer, sizeof(length));
        FKeyLength = static_cast<int32_t>(length);
    }
}

// ---- Ed25519 ---------------------------------------------------------------------------------

void TixCryptApiSignatureEd25519::Init()
{
    FKey.Reset();
    FHash.Reset();
    FProvider = AcquireVerifyContext(nullptr, os::PROV_RSA_AES);
    FHash = CreateHash(FProvider, GetAlgorithm());
}

void TixCryptApiSignatureEd25519::Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount)
{
    const auto [index, count] = ClipRange(ABuffer.size(), AIndex, ACount);
    HashData(FHash, ABuffer.data() + index, count);
}

TixByteArray TixCryptApiSignatureEd25519::Sign()
{
    return ReadSized("CryptSignHash", [this](os::BYTE* ABuffer, os::DWORD* ASize) {
        return CryptSignHashA(FHash.Get(), os::AT_SIGNATURE, nullptr, 0, ABuffer, ASize);
    });
}

bool TixCryptApiSignatureEd25519::VerifySignature(const TixByteArray& ASignature)
{
    if (!FKey.IsValid())
        RaiseKeyRequired();
    return CryptVerifySignatureA(FHash.Get(), ASignature.data(), Size(ASignature), FKey.Get(), nullptr, 0)
        != os::FALSE;
}

void TixCryptApiSignatureEd25519::Verify(const TixByteArray& ASignature)
{
    if (!VerifySignature(ASignature))
        RaiseCryptError("CryptVerifySignature");
}

void TixCryptApiSignatureEd25519::ImportKey(const TixByteArray& ABlob)
{
    FKey.Reset();
    FKey = ImportKeyBlob(FProvider, ABlob, 0);
}

void TixCryptApiSignatureEd25519::SetPrivateKey(TixEd25519Key& AKey)
{
    const TixSecretBytes key(AKey.GetPrivateKey());
    const TixSecretBytes blob(Ed25519Blob(os::PRIVATEKEYBLOB, key.Bytes));
    ImportKey(blob.Bytes);
}

void TixCryptApiSignatureEd25519::SetPublicKey(TixEd25519Key& AKey)
{
    ImportKey(Ed25519Blob(os::PUBLICKEYBLOB, AKey.GetPublicKey()));
}

void TixCryptApiEd25519Key::Init()
{
    FKey.Reset();
    FProvider = AcquireVerifyContext(nullptr, os::PROV_RSA_AES);
}

void TixCryptApiEd25519Key::GenerateKey()
{
    FKey.Reset();
    os::HCRYPTKEY handle = 0;
    CheckCrypt(CryptGenKey(FProvider.Get(), os::CALG_ED25519, os::CRYPT_EXPORTABLE, &handle), "CryptGenKey");
    FKey.Reset(handle);
}

TixByteArray TixCryptApiEd25519Key::ExportKey(os::BYTE ABlobType)
{
    if (!FKey.IsValid())
        RaiseKeyRequired();
    const TixSecretBytes blob(ExportKeyBlob(FKey, ABlobType));
    const size_t header = std::min(blob.Bytes.size(), sizeof(os::BLOBHEADER));
    return TixByteArray(blob.Bytes.begin() + static_cast<ptrdiff_t>(header), blob.Bytes.end());
}

TixByteArray TixCryptApiEd25519Key::GetPrivateKey()
{
    return ExportKey(os::PRIVATEKEYBLOB);
}

TixByteArray TixCryptApiEd25519Key::GetPublicKey()
{
    return ExportKey(os::PUBLICKEYBLOB);
}

TixByteArray TixCryptApiEd25519Key::GetPublicKeyInfo()
{
    return EncodePublicKeyInfo(os::szOID_ED25519, {}, GetPublicKey());
}

void TixCryptApiEd25519Key::ImportKey(os::BYTE ABlobType, const TixByteArray& AKey)
{
    if (AKey.empty())
        RaiseKeyRequired();
    FKey.Reset();
    const TixSecretBytes blob(Ed25519Blob(ABlobType, AKey));
    FKey = ImportKeyBlob(FProvider, blob.Bytes, os::CRYPT_EXPORTABLE);
}

void TixCryptApiEd25519Key::SetPrivateKey(const TixByteArray& AKey)
{
    ImportKey(os::PRIVATEKEYBLOB, AKey);
}

void TixCryptApiEd25519Key::SetPublicKey(const TixByteArray& AKey)
{
    ImportKey(os::PUBLICKEYBLOB, AKey);
}

void TixCryptApiEd25519Key::SetPublicKeyInfo(const TixByteArray& AKey)
{
    FKey.Reset();
    FKey = ImportPublicKeyInfo(FProvider, AKey, os::CALG_ED25519);
}

void RegisterRsaClasses(TixConfig& AConfig)
{
    AConfig.RegisterClass("rsa-sha1", ConfigClassOf<TixSignatureRsaSha1>());
    AConfig.RegisterClass("rsa-sha256", ConfigClassOf<TixSignatureRsaSha256>());
    AConfig.RegisterClass("rsa", ConfigClassOf<TixCryptApiRsaKey>());
}

} // namespace ix
