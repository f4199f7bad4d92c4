// CryptoAPI RSA keys over OpenSSL's libcrypto: generation, the key blobs (PUBLICKEYBLOB,
// PRIVATEKEYBLOB), their PKCS #1 (RFC 8017, appendix A.1) and SubjectPublicKeyInfo (RFC 5280)
// encodings, and PKCS #1 v1.5 signatures in the provider's little-endian byte order.
// Ed25519 keys share the handles and functions; their own part is in ixOsCryptEd25519.cpp.
#include "platform/ixOsCrypt.h"

#include "platform/internal/ixOsCryptContext.h"
#include "platform/internal/ixOsCryptEd25519.h"
#include "platform/internal/ixOsCryptHandles.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <span>

namespace ix::os {

using namespace internal;

namespace {

constexpr DWORD MinKeyBits = 384;
constexpr DWORD MaxKeyBits = 16384;
constexpr DWORD DefaultKeyBits = 1024;
constexpr size_t BlobHeaderSize = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
constexpr BYTE DerInteger = 0x02;
constexpr BYTE DerBitString = 0x03;
constexpr BYTE DerObjectId = 0x06;
constexpr BYTE DerSequence = 0x30;

struct TBnFree
{
    void operator()(BIGNUM* AValue) const noexcept { BN_clear_free(AValue); }
};
using TBnPtr = std::unique_ptr<BIGNUM, TBnFree>;
using TBnCtxPtr = std::unique_ptr<BN_CTX, TOpenSslFree<BN_CTX, BN_CTX_free>>;
using TPkeyCtxPtr = TEvpPkeyCtxPtr;

// ---- the numbers of a key --------------------------------------------------------------------

/// The numbers of an RSA key, big-endian without leading zero bytes; the private ones are
/// empty for a public key.
struct TRsaNumbers
{
    bool Private = false;
    DWORD BitLength = 0;   ///< The modulus length a blob gives (a multiple of 8).
    DWORD Exponent = 0;
    std::vector<BYTE> Modulus;
    TSecretBytes Prime1, Prime2, Exponent1, Exponent2, Coefficient, PrivateExponent;

    /// The private numbers in the order of a PRIVATEKEYBLOB.
    std::array<TSecretBytes*, 6> PrivateParts()
    {
        return {&Prime1, &Prime2, &Exponent1, &Exponent2, &Coefficient, &PrivateExponent};
    }
    std::array<const TSecretBytes*, 6> PrivateParts() const
    {
        return {&Prime1, &Prime2, &Exponent1, &Exponent2, &Coefficient, &PrivateExponent};
    }
};

/// The OpenSSL parameter names of the private numbers, in PrivateParts order.
constexpr const char* PrivateParamNames[] = {OSSL_PKEY_PARAM_RSA_FACTOR1,
    OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
    OSSL_PKEY_PARAM_RSA_COEFFICIENT1, OSSL_PKEY_PARAM_RSA_D};

template <typename TBytes>
TBytes StripLeadingZeros(const BYTE* AData, size_t ASize)
{
    const BYTE* first = std::find_if(AData, AData + ASize, [](BYTE AByte) { return AByte != 0; });
    return TBytes(first, AData + ASize);
}

/// The byte length of each private number in a blob of ABitLength bits, in PrivateParts order.
std::array<size_t, 6> PrivatePartSizes(DWORD ABitLength)
{
    const size_t half = ABitLength / 16;
    return {half, half, half, half, half, ABitLength / 8};
}

size_t BlobSize(bool APrivate, DWORD ABitLength)
{
    size_t size = BlobHeaderSize + ABitLength / 8;
    if (APrivate)
    {
        for (const size_t part : PrivatePartSizes(ABitLength))
            size += part;
    }
    return size;
}

// ---- key blobs -------------------------------------------------------------------------------

/// Reads a blob's header; its size from the header is ANeeded. Returns an error code or
/// ERROR_SUCCESS.
DWORD ReadBlobHeader(const BYTE* AData, size_t ASize, BLOBHEADER& AHeader, RSAPUBKEY& AKey,
    size_t& ANeeded)
{
    if (AData == nullptr || ASize < BlobHeaderSize)
        return NTE_BAD_DATA;
    std::memcpy(&AHeader, AData, sizeof(AHeader));
    std::memcpy(&AKey, AData + sizeof(AHeader), sizeof(AKey));
    if (AHeader.bType != PUBLICKEYBLOB && AHeader.bType != PRIVATEKEYBLOB)
        return NTE_BAD_TYPE;
    if (AHeader.bVersion != CUR_BLOB_VERSION)
        return NTE_BAD_VER;
    if (AHeader.aiKeyAlg != CALG_RSA_KEYX && AHeader.aiKeyAlg != CALG_RSA_SIGN)
        return NTE_BAD_ALGID;
    const bool isPrivate = AHeader.bType == PRIVATEKEYBLOB;
    if (AKey.magic != (isPrivate ? RSA2_MAGIC : RSA1_MAGIC) || AKey.bitlen % 8 != 0
        || AKey.bitlen < MinKeyBits || AKey.bitlen > MaxKeyBits)
        return NTE_BAD_DATA;
    ANeeded = BlobSize(isPrivate, AKey.bitlen);
    return ERROR_SUCCESS;
}

/// Reads a little-endian number of ASize bytes at AData.
template <typename TBytes>
TBytes ReadLittleEndian(const BYTE*& AData, size_t ASize)
{
    TBytes reversed(std::reverse_iterator(AData + ASize), std::reverse_iterator(AData));
    AData += ASize;
    return StripLeadingZeros<TBytes>(reversed.data(), reversed.size());
}

/// The numbers and key algorithm of a blob of exactly ASize bytes.
DWORD ParseBlob(const BYTE* AData, size_t ASize, TRsaNumbers& ANumbers, ALG_ID& AAlgid)
{
    BLOBHEADER header{};
    RSAPUBKEY key{};
    size_t needed = 0;
    if (const DWORD error = ReadBlobHeader(AData, ASize, header, key, needed); error != ERROR_SUCCESS)
        return error;
    if (ASize != needed)
        return NTE_BAD_DATA;
    AAlgid = header.aiKeyAlg;
    ANumbers.Private = header.bType == PRIVATEKEYBLOB;
    ANumbers.BitLength = key.bitlen;
    ANumbers.Exponent = key.pubexp;
    const BYTE* next = AData + BlobHeaderSize;
    ANumbers.Modulus = ReadLittleEndian<std::vector<BYTE>>(next, key.bitlen / 8);
    if (ANumbers.Private)
    {
        const auto sizes = PrivatePartSizes(key.bitlen);
        const auto parts = ANumbers.PrivateParts();
        for (size_t index = 0; index < parts.size(); ++index)
            *parts[index] = ReadLittleEndian<TSecretBytes>(next, sizes[index]);
    }
    return ERROR_SUCCESS;
}

/// Writes AValue (big-endian) as a little-endian number of ASize bytes; false when it does not
/// fit.
template <typename TBytes>
bool PutLittleEndian(TSecretBytes& ABlob, const TBytes& AValue, size_t ASize)
{
    if (AValue.size() > ASize)
        return false;
    ABlob.insert(ABlob.end(), AValue.rbegin(), AValue.rend());
    ABlob.insert(ABlob.end(), ASize - AValue.size(), 0);
    return true;
}

/// The blob of ANumbers; NTE_BAD_KEY when a number does not fit its field.
DWORD BuildBlob(const TRsaNumbers& ANumbers, ALG_ID AAlgid, TSecretBytes& ABlob)
{
    const DWORD bits = ANumbers.BitLength;
    if (bits < MinKeyBits || bits > MaxKeyBits || bits % 8 != 0)
        return NTE_BAD_KEY;
    ABlob.clear();
    ABlob.reserve(BlobSize(ANumbers.Private, bits));
    const BLOBHEADER header{ANumbers.Private ? PRIVATEKEYBLOB : PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, AAlgid};
    const RSAPUBKEY key{ANumbers.Private ? RSA2_MAGIC : RSA1_MAGIC, bits, ANumbers.Exponent};
    ABlob.resize(BlobHeaderSize);
    std::memcpy(ABlob.data(), &header, sizeof(header));
    std::memcpy(ABlob.data() + sizeof(header), &key, sizeof(key));
    if (!PutLittleEndian(ABlob, ANumbers.Modulus, bits / 8))
        return NTE_BAD_KEY;
    if (ANumbers.Private)
    {
        const auto sizes = PrivatePartSizes(bits);
        const auto parts = ANumbers.PrivateParts();
        for (size_t index = 0; index < parts.size(); ++index)
            if (!PutLittleEndian(ABlob, *parts[index], sizes[index]))
                return NTE_BAD_KEY;
    }
    return ERROR_SUCCESS;
}

// ---- DER -------------------------------------------------------------------------------------

/// Reads DER elements one after another from a range of bytes.
class TDerReader
{
public:
    TDerReader(const BYTE* AData, size_t ASize) : FData(AData), FEnd(AData + ASize) {}

    /// Reads the next element, which must carry ATag, and gives its content. Errors:
    /// CRYPT_E_ASN1_EOD when the bytes end early, CRYPT_E_ASN1_BADTAG for another tag,
    /// CRYPT_E_ASN1_CORRUPT for a length that is indefinite or too large.
    DWORD Next(BYTE ATag, TDerReader& AContent)
    {
        if (FEnd - FData < 2)
            return CRYPT_E_ASN1_EOD;
        if (FData[0] != ATag)
            return CRYPT_E_ASN1_BADTAG;
        const BYTE* next = FData + 2;
        size_t length = FData[1];
        if ((length & 0x80) != 0)
        {
            const size_t count = length & 0x7F;
            if (count == 0 || count > 4)
                return CRYPT_E_ASN1_CORRUPT;
            if (static_cast<size_t>(FEnd - next) < count)
                return CRYPT_E_ASN1_EOD;
            length = 0;
            for (size_t index = 0; index < count; ++index)
                length = (length << 8) | *next++;
        }
        if (static_cast<size_t>(FEnd - next) < length)
            return CRYPT_E_ASN1_EOD;
        AContent = TDerReader(next, length);
        FData = next + length;
        return ERROR_SUCCESS;
    }

    /// Reads a non-negative INTEGER into AValue (big-endian, no leading zero bytes).
    template <typename TBytes>
    DWORD NextUnsigned(TBytes& AValue)
    {
        TDerReader content(nullptr, 0);
        if (const DWORD error = Next(DerInteger, content); error != ERROR_SUCCESS)
            return error;
        if (content.Size() == 0 || (content.Data()[0] & 0x80) != 0)
            return CRYPT_E_ASN1_CORRUPT;
        AValue = StripLeadingZeros<TBytes>(content.Data(), content.Size());
        return ERROR_SUCCESS;
    }

    const BYTE* Data() const noexcept { return FData; }
    size_t Size() const noexcept { return static_cast<size_t>(FEnd - FData); }
    bool AtEnd() const noexcept { return FData == FEnd; }

private:
    const BYTE* FData;
    const BYTE* FEnd;
};

/// Decodes a PKCS #1 RSAPublicKey or (APrivate) a two-prime RSAPrivateKey.
DWORD DecodeRsaDer(const BYTE* AData, size_t ASize, bool APrivate, TRsaNumbers& ANumbers)
{
    TDerReader outer(AData, ASize);
    TDerReader fields(nullptr, 0);
    if (const DWORD error = outer.Next(DerSequence, fields); error != ERROR_SUCCESS)
        return error;
    if (!outer.AtEnd())
        return CRYPT_E_ASN1_CORRUPT;
    std::vector<BYTE> version;
    std::vector<BYTE> exponent;
    DWORD error = APrivate ? fields.NextUnsigned(version) : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && !version.empty())
        return CRYPT_E_ASN1_CORRUPT;   // only version 0: two primes
    if (error == ERROR_SUCCESS)
        error = fields.NextUnsigned(ANumbers.Modulus);
    if (error == ERROR_SUCCESS)
        error = fields.NextUnsigned(exponent);
    if (APrivate)
    {
        // RSAPrivateKey lists d first, then p, q, d mod (p-1), d mod (q-1), q^-1 mod p.
        for (TSecretBytes* part : {&ANumbers.PrivateExponent, &ANumbers.Prime1, &ANumbers.Prime2,
                 &ANumbers.Exponent1, &ANumbers.Exponent2, &ANumbers.Coefficient})
            if (error == ERROR_SUCCESS)
                error = fields.NextUnsigned(*part);
    }
    if (error != ERROR_SUCCESS)
        return error;
    if (!fields.AtEnd())
        return CRYPT_E_ASN1_CORRUPT;
    if (exponent.size() > sizeof(DWORD))
        return CRYPT_E_ASN1_LARGE;
    for (const BYTE byte : exponent)
        ANumbers.Exponent = (ANumbers.Exponent << 8) | byte;
    ANumbers.Private = APrivate;
    // A modulus too long for a blob gets a length that BuildBlob refuses.
    ANumbers.BitLength = static_cast<DWORD>(std::min<size_t>(ANumbers.Modulus.size(), MaxKeyBits / 8 + 1) * 8);
    return ERROR_SUCCESS;
}

void AppendDerHeader(TSecretBytes& AOut, BYTE ATag, size_t ALength)
{
    AOut.push_back(ATag);
    if (ALength < 0x80)
    {
        AOut.push_back(static_cast<BYTE>(ALength));
        return;
    }
    BYTE count = 0;
    for (size_t rest = ALength; rest != 0; rest >>= 8)
        ++count;
    AOut.push_back(static_cast<BYTE>(0x80 | count));
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        AOut.push_back(static_cast<BYTE>(ALength >> shift));
}

size_t DerHeaderSize(size_t ALength)
{
    size_t size = 2;
    for (size_t rest = ALength; ALength >= 0x80 && rest != 0; rest >>= 8)
        ++size;
    return size;
}

/// The content length of the INTEGER of a non-negative big-endian number.
size_t IntegerContentSize(std::span<const BYTE> AValue)
{
    return AValue.empty() ? 1 : AValue.size() + ((AValue[0] & 0x80) != 0 ? 1 : 0);
}

void AppendDerUnsigned(TSecretBytes& AOut, std::span<const BYTE> AValue)
{
    const size_t content = IntegerContentSize(AValue);
    AppendDerHeader(AOut, DerInteger, content);
    AOut.insert(AOut.end(), content - AValue.size(), 0);
    AOut.insert(AOut.end(), AValue.begin(), AValue.end());
}

/// The DER of the RSAPublicKey, or of the RSAPrivateKey of a private key (APrivate).
TSecretBytes EncodeRsaDer(const TRsaNumbers& ANumbers, bool APrivate)
{
    std::vector<BYTE> exponent;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (const auto byte = static_cast<BYTE>(ANumbers.Exponent >> shift); byte != 0 || !exponent.empty())
            exponent.push_back(byte);
    std::vector<std::span<const BYTE>> values;
    const std::vector<BYTE> version;
    if (APrivate)
        values.push_back(version);
    values.push_back(ANumbers.Modulus);
    values.push_back(exponent);
    if (APrivate)
    {
        for (const TSecretBytes* part : {&ANumbers.PrivateExponent, &ANumbers.Prime1,
                 &ANumbers.Prime2, &ANumbers.Exponent1, &ANumbers.Exponent2, &ANumbers.Coefficient})
            values.push_back(*part);
    }
    size_t content = 0;
    for (const auto value : values)
        content += DerHeaderSize(IntegerContentSize(value)) + IntegerContentSize(value);
    TSecretBytes der;
    der.reserve(DerHeaderSize(content) + content);
    AppendDerHeader(der, DerSequence, content);
    for (const auto value : values)
        AppendDerUnsigned(der, value);
    return der;
}

/// Lays out the CERT_PUBLIC_KEY_INFO of a DER SubjectPublicKeyInfo.
DWORD DecodePublicKeyInfo(const BYTE* AData, size_t ASize, TCryptFlatBlock& ABlock)
{
    TDerReader outer(AData, ASize);
    TDerReader info(nullptr, 0);
    TDerReader algorithm(nullptr, 0);
    TDerReader oid(nullptr, 0);
    TDerReader bits(nullptr, 0);
    DWORD error = outer.Next(DerSequence, info);
    if (error == ERROR_SUCCESS)
        error = info.Next(DerSequence, algorithm);
    const BYTE* oidStart = algorithm.Data();
    if (error == ERROR_SUCCESS)
        error = algorithm.Next(DerObjectId, oid);
    if (error == ERROR_SUCCESS)
        error = info.Next(DerBitString, bits);
    if (error != ERROR_SUCCESS)
        return error;
    if (!outer.AtEnd() || !info.AtEnd() || bits.Size() == 0 || bits.Data()[0] > 7)
        return CRYPT_E_ASN1_CORRUPT;
    const unsigned char* next = oidStart;
    const std::unique_ptr<ASN1_OBJECT, TOpenSslFree<ASN1_OBJECT, ASN1_OBJECT_free>> object(
        d2i_ASN1_OBJECT(nullptr, &next, static_cast<long>(algorithm.Data() - oidStart)));
    if (!object)
        return DecodeError();
    const std::string oidText = OidText(object.get());
    if (oidText.empty())
        return CRYPT_E_ASN1_CORRUPT;
    const size_t offset = ABlock.Add(CERT_PUBLIC_KEY_INFO{});
    const size_t algorithmField = offset + offsetof(CERT_PUBLIC_KEY_INFO, Algorithm);
    ABlock.Link(algorithmField + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId), ABlock.AddText(oidText));
    ABlock.PutBlob(algorithmField + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters), algorithm.Data(),
        algorithm.Size());
    const size_t keyField = offset + offsetof(CERT_PUBLIC_KEY_INFO, PublicKey);
    ABlock.PutBlob(keyField, bits.Data() + 1, bits.Size() - 1);
    ABlock.Put(keyField + offsetof(CRYPT_BIT_BLOB, cUnusedBits), static_cast<DWORD>(bits.Data()[0]));
    return ERROR_SUCCESS;
}

// ---- OpenSSL keys ----------------------------------------------------------------------------

TBnPtr ToBn(std::span<const BYTE> AValue, bool ASecret)
{
    TBnPtr number(ASecret ? BN_secure_new() : BN_new());
    if (number && BN_bin2bn(AValue.data(), static_cast<int>(AValue.size()), number.get()) == nullptr)
        number.reset();
    return number;
}

/// Whether the private numbers belong together: n = p q, e d = 1 modulo p-1 and q-1, and the
/// CRT values are d mod (p-1), d mod (q-1) and q^-1 mod p. Primality is not tested.
bool PrivateNumbersAgree(const BIGNUM* AN, const BIGNUM* AE, const std::array<TBnPtr, 6>& AParts)
{
    const BIGNUM* p = AParts[0].get();
    const BIGNUM* q = AParts[1].get();
    const BIGNUM* d = AParts[5].get();
    const TBnCtxPtr context(BN_CTX_secure_new());
    const TBnPtr pMinus1(BN_secure_new());
    const TBnPtr qMinus1(BN_secure_new());
    const TBnPtr value(BN_secure_new());
    if (!context || !pMinus1 || !qMinus1 || !value || BN_cmp(p, BN_value_one()) <= 0
        || BN_cmp(q, BN_value_one()) <= 0 || BN_cmp(AParts[4].get(), p) >= 0)
        return false;
    BN_CTX* ctx = context.get();
    const auto equals = [&](const BIGNUM* AExpected) { return BN_cmp(value.get(), AExpected) == 0; };
    return BN_mul(value.get(), p, q, ctx) == 1 && equals(AN)
        && BN_sub(pMinus1.get(), p, BN_value_one()) == 1 && BN_sub(qMinus1.get(), q, BN_value_one()) == 1
        && BN_mod_mul(value.get(), AE, d, pMinus1.get(), ctx) == 1 && BN_is_one(value.get())
        && BN_mod_mul(value.get(), AE, d, qMinus1.get(), ctx) == 1 && BN_is_one(value.get())
        && BN_nnmod(value.get(), d, pMinus1.get(), ctx) == 1 && equals(AParts[2].get())
        && BN_nnmod(value.get(), d, qMinus1.get(), ctx) == 1 && equals(AParts[3].get())
        && BN_mod_mul(value.get(), AParts[4].get(), q, p, ctx) == 1 && BN_is_one(value.get());
}

/// The OpenSSL key of ANumbers after checking them; NTE_BAD_KEY when they make no usable key
/// (an even modulus, an exponent below 3 or even, private numbers that do not agree).
DWORD NumbersToKey(const TRsaNumbers& ANumbers, std::shared_ptr<EVP_PKEY>& AKey)
{
    const TBnPtr n = ToBn(ANumbers.Modulus, false);
    TBnPtr e(BN_new());
    if (!n || !e || BN_set_word(e.get(), ANumbers.Exponent) != 1)
        return NTE_NO_MEMORY;
    if (!BN_is_odd(n.get()) || BN_num_bits(n.get()) < static_cast<int>(MinKeyBits)
        || ANumbers.Exponent < 3 || !BN_is_odd(e.get()))
        return NTE_BAD_KEY;
    const std::unique_ptr<OSSL_PARAM_BLD, TOpenSslFree<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>> builder(
        OSSL_PARAM_BLD_new());
    if (!builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1
        || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return NTE_NO_MEMORY;
    // The builder keeps pointers to the numbers until it makes the parameters.
    std::array<TBnPtr, 6> parts;
    if (ANumbers.Private)
    {
        const auto values = ANumbers.PrivateParts();
        for (size_t index = 0; index < parts.size(); ++index)
        {
            parts[index] = ToBn(*values[index], true);
            if (!parts[index]
                || OSSL_PARAM_BLD_push_BN(builder.get(), PrivateParamNames[index], parts[index].get()) != 1)
                return NTE_NO_MEMORY;
        }
        if (!PrivateNumbersAgree(n.get(), e.get(), parts))
            return NTE_BAD_KEY;
    }
    const std::unique_ptr<OSSL_PARAM, TOpenSslFree<OSSL_PARAM, OSSL_PARAM_free>> params(
        OSSL_PARAM_BLD_to_param(builder.get()));
    const TPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &key,
               ANumbers.Private ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return NTE_BAD_KEY;
    AKey.reset(key, EVP_PKEY_free);
    return ERROR_SUCCESS;
}

/// A number of an OpenSSL key, big-endian; false when the key has none.
template <typename TBytes>
bool KeyNumber(const EVP_PKEY* AKey, const char* AName, TBytes& AValue)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(AKey, AName, &raw) != 1)
        return false;
    const TBnPtr number(raw);
    AValue.resize(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), AValue.data());
    return true;
}

/// The numbers of an OpenSSL key (the private ones too with APrivate); NTE_BAD_KEY when they
/// cannot make a blob (an exponent above 32 bits).
DWORD KeyToNumbers(const EVP_PKEY* AKey, bool APrivate, TRsaNumbers& ANumbers)
{
    std::vector<BYTE> exponent;
    if (!KeyNumber(AKey, OSSL_PKEY_PARAM_RSA_N, ANumbers.Modulus)
        || !KeyNumber(AKey, OSSL_PKEY_PARAM_RSA_E, exponent) || exponent.size() > sizeof(DWORD))
        return NTE_BAD_KEY;
    for (const BYTE byte : exponent)
        ANumbers.Exponent = (ANumbers.Exponent << 8) | byte;
    ANumbers.BitLength = static_cast<DWORD>(ANumbers.Modulus.size() * 8);
    ANumbers.Private = APrivate;
    const auto parts = ANumbers.PrivateParts();
    for (size_t index = 0; APrivate && index < parts.size(); ++index)
        if (!KeyNumber(AKey, PrivateParamNames[index], *parts[index]))
            return NTE_BAD_KEY;
    return ERROR_SUCCESS;
}

// ---- keys and providers ----------------------------------------------------------------------

THandleTable<TCryptKey>& Keys()
{
    static THandleTable<TCryptKey> table;
    return table;
}

/// The provider's user key slot of AKeySpec; null for an unknown kind of key.
std::shared_ptr<const TCryptKey>* UserKeySlot(TCryptProvider& AProvider, DWORD AKeySpec)
{
    switch (AKeySpec)
    {
    case AT_KEYEXCHANGE: return &AProvider.ExchangeKey;
    case AT_SIGNATURE: return &AProvider.SignatureKey;
    default: return nullptr;
    }
}

DWORD KeySpecOf(ALG_ID AAlgid)
{
    return AAlgid == CALG_RSA_SIGN || AAlgid == CALG_ED25519 ? AT_SIGNATURE : AT_KEYEXCHANGE;
}

bool IsEd25519(const TCryptKey& AKey)
{
    return AKey.Algid == CALG_ED25519;
}

/// Makes the key of an OpenSSL key whose public numbers are ANumbers (not yet exportable).
DWORD MakeKey(std::shared_ptr<EVP_PKEY> AKey, const TRsaNumbers& ANumbers, ALG_ID AAlgid,
    bool APrivate, TCryptKey& AResult)
{
    TRsaNumbers publicNumbers;
    publicNumbers.BitLength = ANumbers.BitLength;
    publicNumbers.Exponent = ANumbers.Exponent;
    publicNumbers.Modulus = ANumbers.Modulus;
    TSecretBytes blob;
    if (const DWORD error = BuildBlob(publicNumbers, AAlgid, blob); error != ERROR_SUCCESS)
        return error;
    AResult.Algid = AAlgid;
    AResult.Key = std::move(AKey);
    AResult.Private = APrivate;
    AResult.Exportable = false;
    AResult.PublicBlob.assign(blob.begin(), blob.end());
    AResult.Contexts = std::make_shared<TSignatureContexts>();
    return ERROR_SUCCESS;
}

/// Gives AKey a handle and, for a private key, makes it the provider's user key of its kind.
BOOL AddKey(TCryptProvider& AProvider, TCryptKey AKey, HCRYPTKEY* AHandle)
{
    auto key = std::make_shared<const TCryptKey>(std::move(AKey));
    if (key->Private)
        *UserKeySlot(AProvider, KeySpecOf(key->Algid)) = key;
    *AHandle = Keys().Add(std::make_unique<TCryptKey>(*key));
    return TRUE;
}

/// CryptGenKey of an Ed25519 key pair.
BOOL GenerateEd25519(TCryptProvider& AProvider, DWORD AFlags, HCRYPTKEY* AHandle)
{
    const DWORD bits = AFlags >> 16;
    if ((AFlags & 0xFFFF & ~CRYPT_EXPORTABLE) != 0 || (bits != 0 && bits != ED25519_KEY_SIZE * 8))
        return Fail(NTE_BAD_FLAGS);
    TCryptKey made;
    if (const DWORD error = GenerateEd25519Key(made); error != ERROR_SUCCESS)
        return Fail(error);
    made.Exportable = (AFlags & CRYPT_EXPORTABLE) != 0;
    return AddKey(AProvider, std::move(made), AHandle);
}

/// The keys made from the last few blobs imported, so that importing the same key again (a
/// signature object per message, as DKIM verification does) takes the checked OpenSSL key
/// with its cached Montgomery and blinding values instead of building and checking it anew.
class TKeyCache
{
public:
    /// The key made from a blob equal to ABlob; false when there is none.
    bool Find(std::span<const BYTE> ABlob, TCryptKey& AKey)
    {
        std::lock_guard lock(FLock);
        const auto found = std::find_if(FEntries.begin(), FEntries.end(), [ABlob](const TEntry& AEntry) {
            return std::equal(AEntry.Blob.begin(), AEntry.Blob.end(), ABlob.begin(), ABlob.end());
        });
        if (found == FEntries.end())
            return false;
        AKey = found->Key;
        std::rotate(FEntries.begin(), found, found + 1);   // most recent first
        return true;
    }

    void Add(std::span<const BYTE> ABlob, const TCryptKey& AKey)
    {
        std::lock_guard lock(FLock);
        if (FEntries.size() == Capacity)
            FEntries.pop_back();
        FEntries.insert(FEntries.begin(), TEntry{TSecretBytes(ABlob.begin(), ABlob.end()), AKey});
    }

private:
    static constexpr size_t Capacity = 16;

    struct TEntry
    {
        TSecretBytes Blob;
        TCryptKey Key;
    };

    std::mutex FLock;
    std::vector<TEntry> FEntries;
};

TKeyCache& KeyCache()
{
    static TKeyCache cache;
    return cache;
}

/// The key of an RSA key blob, its numbers checked.
DWORD RsaBlobToKey(std::span<const BYTE> ABlob, TCryptKey& AKey)
{
    TRsaNumbers numbers;
    ALG_ID algid = 0;
    std::shared_ptr<EVP_PKEY> openSslKey;
    DWORD error = ParseBlob(ABlob.data(), ABlob.size(), numbers, algid);
    if (error == ERROR_SUCCESS)
        error = NumbersToKey(numbers, openSslKey);
    if (error == ERROR_SUCCESS)
        error = MakeKey(std::move(openSslKey), numbers, algid, numbers.Private, AKey);
    return error;
}

/// Imports a key blob: parsed, checked and made into an OpenSSL key, or found in the cache.
BOOL ImportBlob(TCryptProvider& AProvider, std::span<const BYTE> ABlob, DWORD AFlags, HCRYPTKEY* AHandle)
{
    TCryptKey key;
    if (!KeyCache().Find(ABlob, key))
    {
        const DWORD error = IsEd25519Blob(ABlob) ? Ed25519BlobToKey(ABlob, key) : RsaBlobToKey(ABlob, key);
        if (error != ERROR_SUCCESS)
            return Fail(error);
        KeyCache().Add(ABlob, key);
    }
    key.Exportable = (AFlags & CRYPT_EXPORTABLE) != 0;
    return AddKey(AProvider, std::move(key), AHandle);
}

/// The private key blob of a key.
DWORD ExportPrivateBlob(const TCryptKey& AKey, TSecretBytes& ABlob)
{
    if (!AKey.Private || !AKey.Exportable)
        return NTE_BAD_KEY_STATE;
    if (IsEd25519(AKey))
        return Ed25519PrivateBlob(AKey, ABlob);
    TRsaNumbers numbers;
    DWORD error = KeyToNumbers(AKey.Key.get(), true, numbers);
    if (error == ERROR_SUCCESS)
        error = BuildBlob(numbers, AKey.Algid, ABlob);
    return error;
}

/// Copies ABytes to a caller's buffer (CopyToCaller's protocol), reversed with AReverse.
template <typename TBytes>
BOOL CopyBytesOut(const TBytes& ABytes, void* ADest, DWORD* ASize, bool AReverse = false)
{
    return CopyToCaller(ADest, ASize, ABytes.size(), [&ABytes, AReverse](BYTE* ATarget) {
        if (AReverse)
            std::reverse_copy(ABytes.begin(), ABytes.end(), ATarget);
        else
            std::copy(ABytes.begin(), ABytes.end(), ATarget);
    });
}

/// Reads the blob a caller hands in without its size: the header says how long it is.
DWORD ParseCallerBlob(const void* AData, TRsaNumbers& ANumbers, ALG_ID& AAlgid)
{
    const auto* data = static_cast<const BYTE*>(AData);
    BLOBHEADER header{};
    RSAPUBKEY key{};
    size_t needed = 0;
    if (const DWORD error = ReadBlobHeader(data, BlobHeaderSize, header, key, needed); error != ERROR_SUCCESS)
        return error;
    return ParseBlob(data, needed, ANumbers, AAlgid);
}

/// A signing or verifying context of a key for the digest of a hash: an idle one of the key's,
/// or a new one. Hand it back with ReleaseContext.
TPkeyCtxPtr SignatureContext(const TCryptKey& AKey, const TCryptHash& AHash, bool ASign)
{
    const EVP_MD* digest = EVP_MD_CTX_get0_md(AHash.Context.get());
    if (TPkeyCtxPtr idle = AKey.Contexts->Take(digest, ASign))
        return idle;
    TPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, AKey.Key.get(), nullptr));
    if (!context || (ASign ? EVP_PKEY_sign_init(context.get()) : EVP_PKEY_verify_init(context.get())) != 1
        || EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1
        || EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1)
        context.reset();
    return context;
}

void ReleaseContext(const TCryptKey& AKey, const TCryptHash& AHash, TPkeyCtxPtr AContext, bool ASign)
{
    AKey.Contexts->Give(std::move(AContext), EVP_MD_CTX_get0_md(AHash.Context.get()), ASign);
}

bool IsEncoding(DWORD AEncodingType)
{
    return (AEncodingType & X509_ASN_ENCODING) != 0;
}

} // namespace

// ---- keys ------------------------------------------------------------------------------------

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey)
{
    TCryptProvider* provider = CryptProviders().Find(hProv);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    if (phKey == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const ALG_ID algid = Algid == AT_KEYEXCHANGE ? CALG_RSA_KEYX : Algid == AT_SIGNATURE ? CALG_RSA_SIGN : Algid;
    if (algid == CALG_ED25519)
        return GenerateEd25519(*provider, dwFlags, phKey);
    if (algid != CALG_RSA_KEYX && algid != CALG_RSA_SIGN)
        return Fail(NTE_BAD_ALGID);
    const DWORD bits = (dwFlags >> 16) == 0 ? DefaultKeyBits : dwFlags >> 16;
    if ((dwFlags & 0xFFFF & ~CRYPT_EXPORTABLE) != 0 || bits < MinKeyBits || bits > MaxKeyBits
        || bits % 8 != 0)
        return Fail(NTE_BAD_FLAGS);
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    ERR_clear_error();
    if (key == nullptr)
        return Fail(NTE_NO_MEMORY);
    std::shared_ptr<EVP_PKEY> owner(key, EVP_PKEY_free);
    TRsaNumbers numbers;
    TCryptKey made;
    DWORD error = KeyToNumbers(key, false, numbers);
    if (error == ERROR_SUCCESS)
        error = MakeKey(std::move(owner), numbers, algid, true, made);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    made.Exportable = (dwFlags & CRYPT_EXPORTABLE) != 0;
    return AddKey(*provider, std::move(made), phKey);
}

BOOL CryptDestroyKey(HCRYPTKEY hKey)
{
    return Keys().Remove(hKey) ? TRUE : Fail(NTE_BAD_KEY);
}

BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    TCryptProvider* provider = CryptProviders().Find(hProv);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    const auto* slot = UserKeySlot(*provider, dwKeySpec);
    if (phUserKey == nullptr || slot == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!*slot)
        return Fail(NTE_NO_KEY);
    *phUserKey = Keys().Add(std::make_unique<TCryptKey>(**slot));
    return TRUE;
}

BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags)
{
    const TCryptKey* key = Keys().Find(hKey);
    if (key == nullptr)
        return Fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    DWORD value = 0;
    if (dwParam == KP_KEYLEN)
        value = IsEd25519(*key) ? ED25519_KEY_SIZE * 8 : static_cast<DWORD>(EVP_PKEY_get_bits(key->Key.get()));
    else if (dwParam == KP_ALGID)
        value = key->Algid;
    else
        return Fail(NTE_BAD_TYPE);
    return CopyToCaller(pbData, pdwDataLen, sizeof(value),
        [value](BYTE* ADest) { std::memcpy(ADest, &value, sizeof(value)); });
}

BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
    BYTE* pbData, DWORD* pdwDataLen)
{
    const TCryptKey* key = Keys().Find(hKey);
    if (key == nullptr || hExpKey != 0)
        return Fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (dwBlobType == PUBLICKEYBLOB)
        return CopyBytesOut(key->PublicBlob, pbData, pdwDataLen);
    if (dwBlobType != PRIVATEKEYBLOB)
        return Fail(NTE_BAD_TYPE);
    if (!key->Private || !key->Exportable)
        return Fail(NTE_BAD_KEY_STATE);
    if (pbData == nullptr && IsEd25519(*key))
        return CopyToCaller(nullptr, pdwDataLen, Ed25519PrivateBlobSize(), [](BYTE*) {});
    if (pbData == nullptr)
    {
        const auto bits = static_cast<DWORD>((EVP_PKEY_get_bits(key->Key.get()) + 7) / 8 * 8);
        return CopyToCaller(nullptr, pdwDataLen, BlobSize(true, bits), [](BYTE*) {});
    }
    TSecretBytes blob;
    if (const DWORD error = ExportPrivateBlob(*key, blob); error != ERROR_SUCCESS)
        return Fail(error);
    return CopyBytesOut(blob, pbData, pdwDataLen);
}

BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
    DWORD dwFlags, HCRYPTKEY* phKey)
{
    TCryptProvider* provider = CryptProviders().Find(hProv);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    if (phKey == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (hPubKey != 0)
        return Fail(NTE_BAD_KEY);
    if ((dwFlags & ~CRYPT_EXPORTABLE) != 0)
        return Fail(NTE_BAD_FLAGS);
    if (pbData == nullptr)
        return Fail(NTE_BAD_DATA);
    return ImportBlob(*provider, std::span(pbData, dwDataLen), dwFlags, phKey);
}

BOOL CryptImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
    PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg, DWORD dwFlags, void* pvAuxInfo, HCRYPTKEY* phKey)
{
    TCryptProvider* provider = CryptProviders().Find(hCryptProv);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    if (!IsEncoding(dwCertEncodingType) || pInfo == nullptr || phKey == nullptr
        || pvAuxInfo != nullptr)
        return Fail(E_INVALIDARG);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    const char* oid = pInfo->Algorithm.pszObjId;
    const bool isEd25519 = oid != nullptr && std::strcmp(oid, szOID_ED25519) == 0;
    const ALG_ID algid = aiKeyAlg != 0 ? aiKeyAlg : isEd25519 ? CALG_ED25519 : CALG_RSA_KEYX;
    if (oid == nullptr || (isEd25519 ? algid != CALG_ED25519
                                     : std::strcmp(oid, szOID_RSA_RSA) != 0 || (algid != CALG_RSA_KEYX && algid != CALG_RSA_SIGN)))
        return Fail(NTE_BAD_ALGID);
    if (pInfo->PublicKey.cUnusedBits != 0 || (pInfo->PublicKey.pbData == nullptr && pInfo->PublicKey.cbData != 0))
        return Fail(CRYPT_E_ASN1_CORRUPT);
    TSecretBytes blob;
    DWORD error = ERROR_SUCCESS;
    if (isEd25519)
        error = Ed25519PublicKeyInfoToBlob(std::span(pInfo->PublicKey.pbData, pInfo->PublicKey.cbData), blob);
    else
    {
        TRsaNumbers numbers;
        error = DecodeRsaDer(pInfo->PublicKey.pbData, pInfo->PublicKey.cbData, false, numbers);
        if (error == ERROR_SUCCESS)
            error = BuildBlob(numbers, algid, blob);
    }
    if (error != ERROR_SUCCESS)
        return Fail(error);
    return ImportBlob(*provider, blob, 0, phKey);
}

// ---- signatures ------------------------------------------------------------------------------

BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
    BYTE* pbSignature, DWORD* pdwSigLen)
{
    (void)szDescription;
    TCryptHash* hash = CryptHashes().Find(hHash);
    if (hash == nullptr)
        return Fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    TCryptProvider* provider = CryptProviders().Find(hash->Provider);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    const auto* slot = UserKeySlot(*provider, dwKeySpec);
    if (slot == nullptr)
        return Fail(NTE_BAD_ALGID);
    if (!*slot)
        return Fail(NTE_NO_KEY);
    EVP_PKEY* key = (*slot)->Key.get();
    if (pbSignature == nullptr)
        return CopyToCaller(nullptr, pdwSigLen, static_cast<size_t>(EVP_PKEY_get_size(key)), [](BYTE*) {});
    if (!FinishHash(*hash))
        return Fail(NTE_BAD_HASH);
    if (IsEd25519(**slot))
    {
        std::vector<BYTE> signature;
        if (const DWORD error = Ed25519Sign(**slot, hash->Value, signature); error != ERROR_SUCCESS)
            return Fail(error);
        return CopyBytesOut(signature, pbSignature, pdwSigLen);
    }
    TPkeyCtxPtr context = SignatureContext(**slot, *hash, true);
    std::vector<BYTE> signature(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t size = signature.size();
    const bool signed_ = context
        && EVP_PKEY_sign(context.get(), signature.data(), &size, hash->Value.data(), hash->Value.size()) == 1;
    ERR_clear_error();
    if (!signed_)
        return Fail(NTE_BAD_KEY);
    ReleaseContext(**slot, *hash, std::move(context), true);
    signature.resize(size);
    return CopyBytesOut(signature, pbSignature, pdwSigLen, true);
}

BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
    HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags)
{
    (void)szDescription;
    TCryptHash* hash = CryptHashes().Find(hHash);
    if (hash == nullptr)
        return Fail(NTE_BAD_HASH);
    const TCryptKey* key = Keys().Find(hPubKey);
    if (key == nullptr)
        return Fail(NTE_BAD_KEY);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    // A signature has exactly the modulus's length (RFC 8017, section 8.2.2).
    if (pbSignature == nullptr || dwSigLen != static_cast<DWORD>(EVP_PKEY_get_size(key->Key.get())))
        return Fail(NTE_BAD_SIGNATURE);
    if (!FinishHash(*hash))
        return Fail(NTE_BAD_HASH);
    if (IsEd25519(*key))
        return Ed25519Verify(*key, hash->Value, std::span(pbSignature, dwSigLen)) ? TRUE : Fail(NTE_BAD_SIGNATURE);
    const std::vector<BYTE> signature(std::reverse_iterator(pbSignature + dwSigLen),
        std::reverse_iterator(pbSignature));
    TPkeyCtxPtr context = SignatureContext(*key, *hash, false);
    const int result = context
        ? EVP_PKEY_verify(context.get(), signature.data(), signature.size(), hash->Value.data(), hash->Value.size())
        : -1;
    ERR_clear_error();
    if (result >= 0)   // a match or a mismatch; the context stays usable
        ReleaseContext(*key, *hash, std::move(context), false);
    return result == 1 ? TRUE : Fail(NTE_BAD_SIGNATURE);
}

// ---- encoded keys ----------------------------------------------------------------------------

BOOL CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
    DWORD dwFlags, const void* pEncodePara, void* pvEncoded, DWORD* pcbEncoded)
{
    if (!IsEncoding(dwCertEncodingType) || pvStructInfo == nullptr || dwFlags != 0
        || pEncodePara != nullptr)
        return Fail(E_INVALIDARG);
    const auto type = reinterpret_cast<uintptr_t>(lpszStructType);
    if (type == X509_PUBLIC_KEY_INFO)
    {
        const std::vector<BYTE> der =
            EncodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO*>(pvStructInfo));
        return der.empty() ? Fail(CRYPT_E_ASN1_CORRUPT) : CopyBytesOut(der, pvEncoded, pcbEncoded);
    }
    if (type != PKCS_RSA_PRIVATE_KEY && type != RSA_CSP_PUBLICKEYBLOB)
        return Fail(ERROR_FILE_NOT_FOUND);
    TRsaNumbers numbers;
    ALG_ID algid = 0;
    if (const DWORD error = ParseCallerBlob(pvStructInfo, numbers, algid); error != ERROR_SUCCESS)
        return Fail(error);
    const bool isPrivate = type == PKCS_RSA_PRIVATE_KEY;
    if (isPrivate && !numbers.Private)
        return Fail(NTE_BAD_TYPE);
    return CopyBytesOut(EncodeRsaDer(numbers, isPrivate), pvEncoded, pcbEncoded);
}

BOOL CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
    DWORD cbEncoded, DWORD dwFlags, const void* pDecodePara, void* pvStructInfo, DWORD* pcbStructInfo)
{
    const auto type = reinterpret_cast<uintptr_t>(lpszStructType);
    if (type != PKCS_RSA_PRIVATE_KEY && type != RSA_CSP_PUBLICKEYBLOB && type != X509_PUBLIC_KEY_INFO)
        return pDecodePara == nullptr && dwFlags == 0
            ? CryptDecodeObject(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                  pvStructInfo, pcbStructInfo)
            : Fail(E_INVALIDARG);
    if (!IsEncoding(dwCertEncodingType) || (pbEncoded == nullptr && cbEncoded != 0)
        || pcbStructInfo == nullptr || dwFlags != 0 || pDecodePara != nullptr)
        return Fail(E_INVALIDARG);
    if (type == X509_PUBLIC_KEY_INFO)
    {
        TCryptFlatBlock block;
        if (const DWORD error = DecodePublicKeyInfo(pbEncoded, cbEncoded, block); error != ERROR_SUCCESS)
            return Fail(error);
        return block.CopyOut(pvStructInfo, pcbStructInfo);
    }
    // Both key structures decode to the blob of the key, as a key exchange key.
    TRsaNumbers numbers;
    TSecretBytes blob;
    DWORD error = DecodeRsaDer(pbEncoded, cbEncoded, type == PKCS_RSA_PRIVATE_KEY, numbers);
    if (error == ERROR_SUCCESS)
        error = BuildBlob(numbers, CALG_RSA_KEYX, blob);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    return CopyBytesOut(blob, pvStructInfo, pcbStructInfo);
}

} // namespace ix::os
