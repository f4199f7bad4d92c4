// HMAC (RFC 2104, 64-byte block) over the system's crypto provider's hashes, and HmacMd5.
#pragma once

#include "crypto/ixConfig.h"
#include "crypto/ixCryptUtils.h"

#include <array>
#include <string>
#include <string_view>

namespace ix {

/// A message authentication code: Init with the key, any number of Update, then Done.
class TixMac : public TixConfigObject
{
public:
    /// Starts a code keyed with ACount bytes of AKey from AIndex (clipped to the bytes there are).
    virtual void Init(const TixByteArray& AKey, int32_t AIndex, int32_t ACount) = 0;
    /// Starts a code keyed with the whole of AKey.
    virtual void Init(const TixByteArray& AKey);
    /// The code's length in bytes.
    virtual int32_t GetHashSize() = 0;
    /// Adds ACount bytes of ABuffer from AIndex (clipped to the bytes there are).
    virtual void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) = 0;
    /// Adds AValue as four bytes, the most significant first.
    virtual void Update(int32_t AValue);
    /// Gives the code of what was added since the last Done. Raises EixCryptError naming
    /// "CryptGetHashParam" when nothing was added.
    virtual void Done(TixByteArray& ACode) = 0;
};

/// HMAC through CryptoAPI hash objects. Provider failures raise EixCryptError naming the
/// failing function.
class TixCryptApiHmac : public TixMac
{
public:
    using TixMac::Init;
    using TixMac::Update;

    /// Zeroes the key pads.
    ~TixCryptApiHmac() override;

    void Init(const TixByteArray& AKey, int32_t AIndex, int32_t ACount) override;
    void Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount) override;
    void Done(TixByteArray& ACode) override;

    /// The CryptoAPI algorithm identifier of the underlying hash.
    virtual os::ALG_ID GetAlgorithm() = 0;
    /// The name of the CryptoAPI provider that Init acquires; empty: the type's default.
    virtual std::string GetProviderName() = 0;
    /// The type of that provider (PROV_RSA_FULL).
    virtual os::DWORD GetProviderType() = 0;

    /// The block size of the hash in bytes: a longer key is hashed first (RFC 2104).
    static constexpr size_t BlockSize = 64;

private:
    using TPad = std::array<uint8_t, BlockSize>;

    void Release() noexcept;

    TixCryptProvider FProvider;
    TixCryptHashHandle FHash;
    TixProviderNameCopy FProviderName;
    TPad FInnerPad{};
    TPad FOuterPad{};
};

/// HMAC-MD5 (RFC 2104): a 16-byte code, as CRAM-MD5 uses it.
class TixHmacMd5 : public TixCryptApiHmac
{
public:
    int32_t GetHashSize() override { return 16; }
    os::ALG_ID GetAlgorithm() override { return os::CALG_MD5; }
    /// The base provider (MS_DEF_PROV).
    std::string GetProviderName() override { return os::MS_DEF_PROV_A; }
    /// PROV_RSA_FULL.
    os::DWORD GetProviderType() override { return os::PROV_RSA_FULL; }
};

/// HMAC-MD5 of AText's bytes keyed with AKey's bytes, as 32 lower-case hexadecimal digits;
/// empty when AText or AKey is empty.
std::string HmacMd5(std::string_view AText, std::string_view AKey);

} // namespace ix
