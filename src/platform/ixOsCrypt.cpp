// CryptoAPI providers, hash objects and object identifier information over OpenSSL's libcrypto.
#include "platform/ixOsCrypt.h"

#include "platform/internal/ixOsCryptFlat.h"
#include "platform/internal/ixOsCryptHandles.h"
#include "platform/ixOsKernel.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace ix::os {

using namespace internal;

namespace {

// ---- providers -------------------------------------------------------------------------------

struct TProviderName
{
    std::string_view Name;
    DWORD Type;
};

constexpr TProviderName ProviderNames[] = {
    {MS_DEF_PROV_A, PROV_RSA_FULL},
    {MS_ENHANCED_PROV_A, PROV_RSA_FULL},
    {MS_STRONG_PROV_A, PROV_RSA_FULL},
    {MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES},
};

/// Checks a provider name and type as the system's provider registry would.
DWORD CheckProvider(LPCSTR AName, DWORD AType)
{
    if (AType != PROV_RSA_FULL && AType != PROV_RSA_AES)
        return NTE_PROV_TYPE_NOT_DEF;
    if (AName == nullptr)
        return ERROR_SUCCESS;
    const auto* known = std::find_if(std::begin(ProviderNames), std::end(ProviderNames),
        [AName](const TProviderName& AEntry) { return AEntry.Name == AName; });
    if (known == std::end(ProviderNames))
        return NTE_KEYSET_NOT_DEF;
    return known->Type == AType ? ERROR_SUCCESS : NTE_PROV_TYPE_NO_MATCH;
}

// ---- hashes --------------------------------------------------------------------------------

/// The digest of an algorithm that a provider of AType offers; null when it offers none.
const EVP_MD* DigestOf(ALG_ID AAlgid, DWORD AType)
{
    switch (AAlgid)
    {
    case CALG_MD5:
        return EVP_md5();
    case CALG_SHA1:
        return EVP_sha1();
    case CALG_SHA_256:
        return AType == PROV_RSA_AES ? EVP_sha256() : nullptr;
    case CALG_SHA_384:
        return AType == PROV_RSA_AES ? EVP_sha384() : nullptr;
    case CALG_SHA_512:
        return AType == PROV_RSA_AES ? EVP_sha512() : nullptr;
    default:
        return nullptr;
    }
}

BOOL CopyDword(DWORD AValue, BYTE* AData, DWORD* ASize)
{
    return CopyToCaller(AData, ASize, sizeof(AValue),
        [AValue](BYTE* ADest) { std::memcpy(ADest, &AValue, sizeof(AValue)); });
}

// ---- object identifier information ---------------------------------------------------------

constexpr DWORD CRYPT_HASH_ALG_OID_GROUP_ID = 1;
constexpr DWORD CRYPT_PUBKEY_ALG_OID_GROUP_ID = 3;
constexpr DWORD CRYPT_SIGN_ALG_OID_GROUP_ID = 4;
constexpr DWORD CRYPT_RDN_ATTR_OID_GROUP_ID = 5;
constexpr DWORD CRYPT_EXT_OR_ATTR_OID_GROUP_ID = 6;
constexpr DWORD CRYPT_ENHKEY_USAGE_OID_GROUP_ID = 7;

struct TOidName
{
    const char* Oid;
    const char16_t* Name;
    DWORD Group;
    ALG_ID Algid;
};

// The names the system's object identifier table gives.
constexpr TOidName OidNames[] = {
    {"1.2.840.113549.2.5", u"md5", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_MD5},
    {"1.3.14.3.2.26", u"sha1", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA1},
    {"2.16.840.1.101.3.4.2.1", u"sha256", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_256},
    {"2.16.840.1.101.3.4.2.2", u"sha384", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_384},
    {"2.16.840.1.101.3.4.2.3", u"sha512", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_512},
    {"1.2.840.113549.1.1.1", u"RSA", CRYPT_PUBKEY_ALG_OID_GROUP_ID, 0xA400},
    {"1.2.840.10045.2.1", u"ECC", CRYPT_PUBKEY_ALG_OID_GROUP_ID, 0},
    {"1.2.840.10040.4.1", u"DSA", CRYPT_PUBKEY_ALG_OID_GROUP_ID, 0x2200},
    {"1.2.840.113549.1.1.4", u"md5RSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_MD5},
    {"1.2.840.113549.1.1.5", u"sha1RSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA1},
    {"1.2.840.113549.1.1.10", u"RSASSA-PSS", CRYPT_SIGN_ALG_OID_GROUP_ID, 0},
    {"1.2.840.113549.1.1.11", u"sha256RSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_256},
    {"1.2.840.113549.1.1.12", u"sha384RSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_384},
    {"1.2.840.113549.1.1.13", u"sha512RSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_512},
    {"1.2.840.10045.4.1", u"sha1ECDSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA1},
    {"1.2.840.10045.4.3.2", u"sha256ECDSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_256},
    {"1.2.840.10045.4.3.3", u"sha384ECDSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_384},
    {"1.2.840.10045.4.3.4", u"sha512ECDSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA_512},
    {"1.2.840.10040.4.3", u"sha1DSA", CRYPT_SIGN_ALG_OID_GROUP_ID, CALG_SHA1},
    {"2.5.4.3", u"CN", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.4.6", u"C", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.4.7", u"L", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.4.8", u"S", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.4.10", u"O", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.4.11", u"OU", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"1.2.840.113549.1.9.1", u"E", CRYPT_RDN_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.14", u"Subject Key Identifier", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.15", u"Key Usage", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.17", u"Subject Alternative Name", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.18", u"Issuer Alternative Name", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.19", u"Basic Constraints", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.35", u"Authority Key Identifier", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"2.5.29.37", u"Enhanced Key Usage", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.1", u"Server Authentication", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.2", u"Client Authentication", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.3", u"Code Signing", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.4", u"Secure Email", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.8", u"Time Stamping", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
    {"1.3.6.1.5.5.7.3.9", u"OCSP Signing", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, 0},
};

const std::vector<CRYPT_OID_INFO>& OidInfos()
{
    static const std::vector<CRYPT_OID_INFO> infos = [] {
        std::vector<CRYPT_OID_INFO> result;
        for (const TOidName& name : OidNames)
        {
            CRYPT_OID_INFO info{};
            info.cbSize = sizeof(info);
            info.pszOID = name.Oid;
            info.pwszName = name.Name;
            info.dwGroupId = name.Group;
            info.Algid = name.Algid;
            result.push_back(info);
        }
        return result;
    }();
    return infos;
}

} // namespace

namespace internal {

THandleTable<TCryptProvider>& CryptProviders()
{
    static THandleTable<TCryptProvider> table;
    return table;
}

THandleTable<TCryptHash>& CryptHashes()
{
    static THandleTable<TCryptHash> table;
    return table;
}

bool FinishHash(TCryptHash& AHash)
{
    if (AHash.Finished)
        return true;
    unsigned int size = 0;
    AHash.Value.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(AHash.Context.get(), AHash.Value.data(), &size) != 1)
        return false;
    AHash.Value.resize(size);
    AHash.Finished = true;
    return true;
}

} // namespace internal

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
    DWORD dwProvType, DWORD dwFlags)
{
    if (phProv == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if ((dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) != 0)
        return Fail(NTE_BAD_FLAGS);
    // Only ephemeral contexts exist here: there are no key containers to open.
    if ((dwFlags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT || szContainer != nullptr)
        return Fail(NTE_BAD_KEYSET);
    if (const DWORD error = CheckProvider(szProvider, dwProvType); error != ERROR_SUCCESS)
        return Fail(error);
    *phProv = CryptProviders().Add(std::make_unique<TCryptProvider>(TCryptProvider{dwProvType, {}, {}}));
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    return CryptProviders().Remove(hProv) ? TRUE : Fail(NTE_BAD_UID);
}

BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    if (pbBuffer == nullptr && dwLen != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (CryptProviders().Find(hProv) == nullptr)
        return Fail(NTE_BAD_UID);
    if (dwLen > static_cast<DWORD>(INT32_MAX) || RAND_bytes(pbBuffer, static_cast<int>(dwLen)) != 1)
        return Fail(NTE_FAIL);
    return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
    HCRYPTHASH* phHash)
{
    if (phHash == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const TCryptProvider* provider = CryptProviders().Find(hProv);
    if (provider == nullptr)
        return Fail(NTE_BAD_UID);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (hKey != 0)
        return Fail(NTE_BAD_KEY);
    const EVP_MD* digest = DigestOf(Algid, provider->Type);
    if (digest == nullptr)
        return Fail(NTE_BAD_ALGID);
    auto hash = std::make_unique<TCryptHash>();
    hash->Algid = Algid;
    hash->Provider = hProv;
    if (!hash->Context || EVP_DigestInit_ex(hash->Context.get(), digest, nullptr) != 1)
        return Fail(NTE_NO_MEMORY);
    *phHash = CryptHashes().Add(std::move(hash));
    return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags)
{
    TCryptHash* hash = CryptHashes().Find(hHash);
    if (hash == nullptr)
        return Fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (pbData == nullptr && dwDataLen != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (hash->Finished)
        return Fail(NTE_BAD_HASH_STATE);
    if (dwDataLen != 0 && EVP_DigestUpdate(hash->Context.get(), pbData, dwDataLen) != 1)
        return Fail(NTE_BAD_HASH);
    return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
    DWORD dwFlags)
{
    TCryptHash* hash = CryptHashes().Find(hHash);
    if (hash == nullptr)
        return Fail(NTE_BAD_HASH);
    if (dwFlags != 0)
        return Fail(NTE_BAD_FLAGS);
    switch (dwParam)
    {
    case HP_ALGID:
        return CopyDword(hash->Algid, pbData, pdwDataLen);
    case HP_HASHSIZE:
        return CopyDword(static_cast<DWORD>(EVP_MD_CTX_get_size(hash->Context.get())), pbData,
            pdwDataLen);
    case HP_HASHVAL:
        if (pbData != nullptr && !FinishHash(*hash))
            return Fail(NTE_BAD_HASH);
        return CopyToCaller(pbData, pdwDataLen,
            static_cast<size_t>(EVP_MD_CTX_get_size(hash->Context.get())),
            [hash](BYTE* ADest) { std::memcpy(ADest, hash->Value.data(), hash->Value.size()); });
    default:
        return Fail(NTE_BAD_TYPE);
    }
}

BOOL CryptDestroyHash(HCRYPTHASH hHash)
{
    return CryptHashes().Remove(hHash) ? TRUE : Fail(NTE_BAD_HASH);
}

PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId)
{
    if (dwKeyType != CRYPT_OID_INFO_OID_KEY || pvKey == nullptr)
        return nullptr;
    const std::string_view oid = static_cast<LPCSTR>(pvKey);
    for (const CRYPT_OID_INFO& info : OidInfos())
    {
        if (info.pszOID == oid && (dwGroupId == 0 || dwGroupId == info.dwGroupId))
            return &info;
    }
    return nullptr;
}

} // namespace ix::os
