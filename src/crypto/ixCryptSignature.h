// RSA keys and RSA signatures (PKCS #1 v1.5, RFC 8017) with SHA-1 or SHA-256, and Ed25519 keys
// and signatures (RFC 8032) of a SHA-256 digest, through the system's crypto provider. Keys move in and out as PKCS #1 RSAPrivateKey and RSAPublicKey DER,
// X.509 SubjectPublicKeyInfo DER (RFC 5280) or modulus and exponent; signatures are big-endian
// as PKCS #1 writes them.
#pragma once

#include "crypto/ixConfig.h"
#include "crypto/ixCryptUtils.h"

#include <string>

namespace ix {

class TixRsaKey;
class TixEd25519Key;

/// The error code of an operation that needs a key when none is set.
constexpr int32_t CryptKeyRequiredError = -4;
/// The message of CryptKeyRequiredError.
inline constexpr char CryptKeyRequiredText[] = "A key is required to complete the operation";

/// A signature over data: Init, then a key, then any number of Update, then Sign or Verify.
class TixSignature : public TixConfigObject
{
public:
    /// Releases any key and starts a fresh digest of the data to sign or verify.
    virtual void Init() = 0;
    /// Adds ACount bytes of ABuffer from AIndex (clipped to the bytes there are).
    virtual void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) = 0;
    /// Checks ASignature over the data added since Init. Raises EixCryptError naming
    /// "CryptVerifySignature" when it does not match, and CryptKeyRequiredError without a key.
    virtual void Verify(const TixByteArray& ASignature) = 0;
    /// Whether ASignature is the signature of the data added since Init; false also for a
    /// signature of the wrong length. Raises EixCryptError CryptKeyRequiredError without a key.
    virtual bool VerifySignature(const TixByteArray& ASignature) = 0;
    /// The signature of the data added since Init with the private key set.
    virtual TixByteArray Sign() = 0;
};

/// An RSA signature; its key comes from a TixRsaKey.
class TixSignatureRsa : public TixSignature
{
public:
    /// Takes AKey's private key (and its KeySpec) for Sign. Raises EixCryptError
    /// CryptKeyRequiredError when AKey has none.
    virtual void SetPrivateKey(TixRsaKey& AKey) = 0;
    /// Takes AKey's public key (and its KeySpec) for Verify. Raises EixCryptError CryptKeyRequiredError when AKey
    /// has none.
    virtual void SetPublicKey(TixRsaKey& AKey) = 0;
};

/// An RSA signature computed by a CryptoAPI provider. Provider failures raise EixCryptError
/// with the system's code, naming the failing function.
class TixCryptApiSignatureRsa : public TixSignatureRsa
{
public:
    void Init() override;
    void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) override;
    void Verify(const TixByteArray& ASignature) override;
    bool VerifySignature(const TixByteArray& ASignature) override;
    TixByteArray Sign() override;
    void SetPrivateKey(TixRsaKey& AKey) override;
    void SetPublicKey(TixRsaKey& AKey) override;

    /// The CryptoAPI identifier of the digest signed.
    virtual os::ALG_ID GetAlgorithm() = 0;
    /// The name of the provider that hashes and signs.
    virtual std::string GetProviderName() = 0;
    /// The type of that provider (PROV_RSA_FULL, PROV_RSA_AES).
    virtual os::DWORD GetProviderType() = 0;

    /// The provider key (AT_KEYEXCHANGE 1 or AT_SIGNATURE 2) that signs.
    int32_t GetKeySpec() const noexcept { return FKeySpec; }
    void SetKeySpec(int32_t AValue) noexcept { FKeySpec = AValue; }

private:
    void Release() noexcept;
    void ImportKey(const TixByteArray& AKey, uintptr_t AStructType);

    TixCryptProvider FProvider;
    TixCryptKeyHandle FKey;
    TixCryptHashHandle FHash;
    TixProviderNameCopy FProviderName;
    int32_t FKeySpec = os::AT_KEYEXCHANGE;
};

/// RSA with SHA-1 ("rsa-sha1").
class TixSignatureRsaSha1 : public TixCryptApiSignatureRsa
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_SHA1; }
    std::string GetProviderName() override { return os::MS_ENHANCED_PROV_A; }
    os::DWORD GetProviderType() override { return os::PROV_RSA_FULL; }
};

/// RSA with SHA-256 ("rsa-sha256").
class TixSignatureRsaSha256 : public TixCryptApiSignatureRsa
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_SHA_256; }
    std::string GetProviderName() override { return os::MS_ENH_RSA_AES_PROV_A; }
    os::DWORD GetProviderType() override { return os::PROV_RSA_AES; }
};

/// An RSA key pair or public key. Init first; then generate or set a key.
class TixRsaKey : public TixConfigObject
{
public:
    /// Default of KeyLength, in bits.
    static constexpr int32_t DefaultKeyLength = 1024;

    /// Releases any key and prepares for a new one.
    virtual void Init() = 0;
    /// Makes a new key pair of KeyLength bits.
    virtual void GenerateKey() = 0;
    /// The private key as PKCS #1 RSAPrivateKey DER. Raises CryptKeyRequiredError without a key.
    virtual TixByteArray GetRsaPrivateKey() = 0;
    /// The public key as PKCS #1 RSAPublicKey DER. Raises CryptKeyRequiredError without a key.
    virtual TixByteArray GetRsaPublicKey() = 0;
    /// The public key as X.509 SubjectPublicKeyInfo DER (what a DKIM key record's p= holds).
    virtual TixByteArray GetPublicKeyInfo() = 0;
    /// Takes a PKCS #1 RSAPrivateKey DER; an inconsistent key is refused (NTE_BAD_KEY).
    /// Raises CryptKeyRequiredError for an empty AKey.
    virtual void SetRsaPrivateKey(const TixByteArray& AKey) = 0;
    /// Takes a PKCS #1 RSAPublicKey DER. Raises CryptKeyRequiredError for an empty AKey.
    virtual void SetRsaPublicKey(const TixByteArray& AKey) = 0;
    /// Takes an X.509 SubjectPublicKeyInfo DER of an RSA key. Raises CryptKeyRequiredError for
    /// an empty AKey.
    virtual void SetPublicKeyInfo(const TixByteArray& AKey) = 0;
    /// Takes a public key from its big-endian modulus (leading zero bytes ignored) and exponent
    /// (at most its first four bytes count).
    virtual void SetRsaKey(const TixByteArray& AModulus, const TixByteArray& AExponent) = 0;
    /// The big-endian modulus and exponent, without leading zero bytes. Raises
    /// CryptKeyRequiredError without a key.
    virtual void GetRsaKey(TixByteArray& AModulus, TixByteArray& AExponent) = 0;

    /// The key length in bits: what GenerateKey makes, and the length of a key set.
    int32_t GetKeyLength() const noexcept { return FKeyLength; }
    void SetKeyLength(int32_t AValue) noexcept { FKeyLength = AValue; }
    /// The provider key kind: AT_KEYEXCHANGE (1) or AT_SIGNATURE (2).
    int32_t GetKeySpec() const noexcept { return FKeySpec; }
    void SetKeySpec(int32_t AValue) noexcept { FKeySpec = AValue; }

protected:
    /// Backs KeyLength.
    int32_t FKeyLength = DefaultKeyLength;
    /// Backs KeySpec; AT_KEYEXCHANGE by default.
    int32_t FKeySpec = os::AT_KEYEXCHANGE;
};

/// An RSA key held by a CryptoAPI provider ("rsa"). Provider failures raise EixCryptError with
/// the system's code, naming the failing function.
class TixCryptApiRsaKey : public TixRsaKey
{
public:
    void Init() override;
    void GenerateKey() override;
    TixByteArray GetRsaPrivateKey() override;
    TixByteArray GetRsaPublicKey() override;
    TixByteArray GetPublicKeyInfo() override;
    void SetRsaPrivateKey(const TixByteArray& AKey) override;
    void SetRsaPublicKey(const TixByteArray& AKey) override;
    void SetPublicKeyInfo(const TixByteArray& AKey) override;
    void SetRsaKey(const TixByteArray& AModulus, const TixByteArray& AExponent) override;
    void GetRsaKey(TixByteArray& AModulus, TixByteArray& AExponent) override;

    /// The name of the provider that holds the key.
    virtual std::string GetProviderName() { return os::MS_ENHANCED_PROV_A; }
    /// The type of that provider.
    virtual os::DWORD GetProviderType() { return os::PROV_RSA_FULL; }

private:
    void Release() noexcept;
    void CheckKey() const;
    /// The key blob of ABlobType, encoded as AStructType.
    TixByteArray ExportEncoded(os::BYTE ABlobType, uintptr_t AStructType);
    void ImportBlob(const TixByteArray& ABlob, os::DWORD AFlags);
    void ImportEncoded(const TixByteArray& AKey, uintptr_t AStructType);
    /// Reads KeySpec and KeyLength back from the provider after a key was set.
    void UpdateKeyInfo();

    TixCryptProvider FProvider;
    TixCryptKeyHandle FKey;
    TixProviderNameCopy FProviderName;
};

/// An Ed25519 signature (PureEdDSA, RFC 8032) of the digest of the data, as RFC 8463 signs
/// ("ed25519-sha256"); its key comes from a TixEd25519Key. Signatures are the 64 bytes of RFC 8032.
class TixSignatureEd25519 : public TixSignature
{
public:
    /// Takes AKey's private key for Sign. Raises EixCryptError CryptKeyRequiredError when AKey
    /// has none.
    virtual void SetPrivateKey(TixEd25519Key& AKey) = 0;
    /// Takes AKey's public key for Verify. Raises EixCryptError CryptKeyRequiredError when AKey
    /// has none.
    virtual void SetPublicKey(TixEd25519Key& AKey) = 0;
};

/// An Ed25519 signature computed by a CryptoAPI provider (CALG_ED25519 keys). Provider failures
/// raise EixCryptError with the system's code, naming the failing function.
class TixCryptApiSignatureEd25519 : public TixSignatureEd25519
{
public:
    void Init() override;
    void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) override;
    void Verify(const TixByteArray& ASignature) override;
    bool VerifySignature(const TixByteArray& ASignature) override;
    TixByteArray Sign() override;
    void SetPrivateKey(TixEd25519Key& AKey) override;
    void SetPublicKey(TixEd25519Key& AKey) override;

    /// The CryptoAPI identifier of the digest signed.
    virtual os::ALG_ID GetAlgorithm() = 0;

private:
    void ImportKey(const TixByteArray& ABlob);

    TixCryptProvider FProvider;
    TixCryptKeyHandle FKey;
    TixCryptHashHandle FHash;
};

/// Ed25519 of the SHA-256 digest ("ed25519-sha256", RFC 8463).
class TixSignatureEd25519Sha256 : public TixCryptApiSignatureEd25519
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_SHA_256; }
};

/// An Ed25519 key pair or public key, moving in and out as the 32-byte keys of RFC 8032 (what a
/// DKIM key record's p= holds for k=ed25519) or as an X.509 SubjectPublicKeyInfo (RFC 8410).
/// Init first; then generate or set a key.
class TixEd25519Key : public TixConfigObject
{
public:
    /// Releases any key and prepares for a new one.
    virtual void Init() = 0;
    /// Makes a new key pair.
    virtual void GenerateKey() = 0;
    /// The 32-byte private key. Raises CryptKeyRequiredError without a key, EixCryptError
    /// NTE_BAD_KEY_STATE for a public key.
    virtual TixByteArray GetPrivateKey() = 0;
    /// The 32-byte public key. Raises CryptKeyRequiredError without a key.
    virtual TixByteArray GetPublicKey() = 0;
    /// The public key as X.509 SubjectPublicKeyInfo DER. Raises CryptKeyRequiredError without a key.
    virtual TixByteArray GetPublicKeyInfo() = 0;
    /// Takes a 32-byte private key (the public key follows from it). Raises CryptKeyRequiredError
    /// for an empty AKey, EixCryptError NTE_BAD_DATA for another length.
    virtual void SetPrivateKey(const TixByteArray& AKey) = 0;
    /// Takes a 32-byte public key. Raises as SetPrivateKey does.
    virtual void SetPublicKey(const TixByteArray& AKey) = 0;
    /// Takes an X.509 SubjectPublicKeyInfo DER of an Ed25519 key. Raises CryptKeyRequiredError
    /// for an empty AKey.
    virtual void SetPublicKeyInfo(const TixByteArray& AKey) = 0;
};

/// An Ed25519 key held by a CryptoAPI provider ("ed25519"). Provider failures raise
/// EixCryptError with the system's code, naming the failing function.
class TixCryptApiEd25519Key : public TixEd25519Key
{
public:
    void Init() override;
    void GenerateKey() override;
    TixByteArray GetPrivateKey() override;
    TixByteArray GetPublicKey() override;
    TixByteArray GetPublicKeyInfo() override;
    void SetPrivateKey(const TixByteArray& AKey) override;
    void SetPublicKey(const TixByteArray& AKey) override;
    void SetPublicKeyInfo(const TixByteArray& AKey) override;

private:
    /// The key part of the key blob of ABlobType.
    TixByteArray ExportKey(os::BYTE ABlobType);
    void ImportKey(os::BYTE ABlobType, const TixByteArray& AKey);

    TixCryptProvider FProvider;
    TixCryptKeyHandle FKey;
};

/// Registers the RSA classes in AConfig under their names: "rsa-sha1" (TixSignatureRsaSha1),
/// "rsa-sha256" (TixSignatureRsaSha256) and "rsa" (TixCryptApiRsaKey).
void RegisterRsaClasses(TixConfig& AConfig);

} // namespace ix
