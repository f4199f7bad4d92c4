// Message digests (MD5, SHA-1, SHA-256) through the system's crypto provider, and Md5Hex.
#pragma once

#include "crypto/ixConfig.h"
#include "crypto/ixCryptUtils.h"

#include <string>
#include <string_view>

namespace ix {

/// A message digest: Init, any number of Update, then Done.
class TixHash : public TixConfigObject
{
public:
    /// Prepares a fresh digest.
    virtual void Init() = 0;
    /// The digest length in bytes.
    virtual int32_t GetHashSize() = 0;
    /// Adds ACount bytes of ABuffer from AIndex (clipped to the bytes there are).
    virtual void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) = 0;
    /// Gives the digest of what was added since Init, and starts a fresh one.
    virtual void Done(TixByteArray& ADigest) = 0;
};

/// A digest computed by a CryptoAPI provider. The constructor acquires nothing: Init first.
/// Provider failures raise EixCryptError naming the failing function.
class TixCryptApiHash : public TixHash
{
public:
    void Init() override;
    int32_t GetHashSize() override { return FHashSize; }
    void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) override;
    void Done(TixByteArray& ADigest) override;

    /// The CryptoAPI algorithm identifier.
    virtual os::ALG_ID GetAlgorithm() = 0;
    /// The name of the CryptoAPI provider that Init acquires; empty: the type's default.
    virtual std::string GetProviderName() = 0;
    /// The type of that provider (PROV_RSA_FULL, PROV_RSA_AES).
    virtual os::DWORD GetProviderType() = 0;

private:
    void Release() noexcept;

    TixCryptProvider FProvider;
    TixCryptHashHandle FHash;
    int32_t FHashSize = 0;
    TixProviderNameCopy FProviderName;
};

/// MD5 (RFC 1321): a 16-byte digest.
class TixMd5 : public TixCryptApiHash
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_MD5; }
    /// The base provider (MS_DEF_PROV).
    std::string GetProviderName() override { return os::MS_DEF_PROV_A; }
    /// PROV_RSA_FULL.
    os::DWORD GetProviderType() override { return os::PROV_RSA_FULL; }
};

/// SHA-1 (FIPS 180-4): a 20-byte digest.
class TixSha1 : public TixCryptApiHash
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_SHA1; }
    /// The base provider (MS_DEF_PROV).
    std::string GetProviderName() override { return os::MS_DEF_PROV_A; }
    /// PROV_RSA_FULL.
    os::DWORD GetProviderType() override { return os::PROV_RSA_FULL; }
};

/// SHA-256 (FIPS 180-4): a 32-byte digest.
class TixSha256 : public TixCryptApiHash
{
public:
    os::ALG_ID GetAlgorithm() override { return os::CALG_SHA_256; }
    /// The AES provider (MS_ENH_RSA_AES_PROV), the one that has SHA-256.
    std::string GetProviderName() override { return os::MS_ENH_RSA_AES_PROV_A; }
    /// PROV_RSA_AES.
    os::DWORD GetProviderType() override { return os::PROV_RSA_AES; }
};

/// The MD5 digest of AText's bytes as 32 lower-case hexadecimal digits; empty for an empty AText.
std::string Md5Hex(std::string_view AText);

/// ABytes as lower-case hexadecimal, two digits per byte.
std::string LowerHex(const TixByteArray& ABytes);

} // namespace ix
