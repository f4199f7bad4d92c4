// CryptoAPI: provider contexts, hash objects, certificate contexts, object decoding, certificate
// chains and the SSL chain policy, with the structure layouts, constants and error codes of the
// Windows headers. Failures return FALSE (or nullptr) and leave the code in GetLastError.
#pragma once

#include "platform/ixOsTypes.h"

namespace ix::os {

// ---- handles and algorithm identifiers ----------------------------------------------------

using HCRYPTPROV = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using ALG_ID = unsigned int;
using HCERTSTORE = void*;
using HCERTCHAINENGINE = void*;

constexpr ALG_ID CALG_MD5 = 0x8003;
constexpr ALG_ID CALG_SHA1 = 0x8004;
constexpr ALG_ID CALG_SHA_256 = 0x800C;
constexpr ALG_ID CALG_SHA_384 = 0x800D;
constexpr ALG_ID CALG_SHA_512 = 0x800E;

constexpr DWORD PROV_RSA_FULL = 1;
constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
constexpr DWORD CRYPT_SILENT = 0x40;

inline constexpr char MS_DEF_PROV_A[] = "Microsoft Base Cryptographic Provider v1.0";
inline constexpr char MS_ENHANCED_PROV_A[] = "Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr char MS_STRONG_PROV_A[] = "Microsoft Strong Cryptographic Provider";
inline constexpr char MS_ENH_RSA_AES_PROV_A[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";

// RSA keys and their blobs (BLOBHEADER, RSAPUBKEY, then little-endian numbers).
constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
constexpr ALG_ID CALG_RSA_KEYX = 0xA400;
constexpr DWORD CRYPT_EXPORTABLE = 0x1;
constexpr DWORD KP_ALGID = 7;
constexpr DWORD KP_KEYLEN = 9;
constexpr BYTE PUBLICKEYBLOB = 0x6;
constexpr BYTE PRIVATEKEYBLOB = 0x7;
constexpr BYTE CUR_BLOB_VERSION = 2;
constexpr DWORD RSA1_MAGIC = 0x31415352;   ///< "RSA1": a public key.
constexpr DWORD RSA2_MAGIC = 0x32415352;   ///< "RSA2": a private key.

struct BLOBHEADER
{
    BYTE bType;
    BYTE bVersion;
    WORD reserved;
    ALG_ID aiKeyAlg;
};
using PUBLICKEYSTRUC = BLOBHEADER;

struct RSAPUBKEY
{
    DWORD magic;
    DWORD bitlen;   ///< Modulus length in bits.
    DWORD pubexp;
};

// Ed25519 keys (RFC 8032). CryptoAPI has no identifier for them; this layer gives them one of
// its own in the signature class. Their blobs are a BLOBHEADER followed by the 32-byte public key
// (PUBLICKEYBLOB) or the 32-byte private key (PRIVATEKEYBLOB), as RFC 8032 writes them. A key is
// a signature key (AT_SIGNATURE); it signs the value of a hash with PureEdDSA, and its signatures
// are the 64 bytes of RFC 8032 in their own order (not reversed like RSA signatures).
constexpr ALG_ID CALG_ED25519 = 0x2E01;
constexpr DWORD ED25519_KEY_SIZE = 32;
constexpr DWORD ED25519_SIGNATURE_SIZE = 64;

constexpr DWORD HP_ALGID = 1;
constexpr DWORD HP_HASHVAL = 2;
constexpr DWORD HP_HASHSIZE = 4;

// ---- error codes ---------------------------------------------------------------------------

constexpr DWORD ERROR_INVALID_PASSWORD = 86;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD E_INVALIDARG = 0x80070057;

constexpr DWORD NTE_BAD_UID = 0x80090001;
constexpr DWORD NTE_BAD_HASH = 0x80090002;
constexpr DWORD NTE_BAD_KEY = 0x80090003;
constexpr DWORD NTE_BAD_LEN = 0x80090004;
constexpr DWORD NTE_BAD_DATA = 0x80090005;
constexpr DWORD NTE_BAD_SIGNATURE = 0x80090006;
constexpr DWORD NTE_BAD_VER = 0x80090007;
constexpr DWORD NTE_BAD_ALGID = 0x80090008;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009;
constexpr DWORD NTE_BAD_TYPE = 0x8009000A;
constexpr DWORD NTE_BAD_KEY_STATE = 0x8009000B;
constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000C;
constexpr DWORD NTE_NO_KEY = 0x8009000D;
constexpr DWORD NTE_NO_MEMORY = 0x8009000E;
constexpr DWORD NTE_FAIL = 0x80090020;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019;
constexpr DWORD NTE_PROV_TYPE_NO_MATCH = 0x8009001B;
constexpr DWORD CRYPT_E_NOT_FOUND = 0x80092004;
constexpr DWORD CRYPT_E_REVOKED = 0x80092010;
constexpr DWORD CRYPT_E_REVOCATION_OFFLINE = 0x80092013;
constexpr DWORD CRYPT_E_ASN1_EOD = 0x80093102;
constexpr DWORD CRYPT_E_ASN1_LARGE = 0x80093104;
constexpr DWORD CRYPT_E_ASN1_CORRUPT = 0x80093106;
constexpr DWORD CRYPT_E_ASN1_BADTAG = 0x8009310B;
constexpr DWORD TRUST_E_CERT_SIGNATURE = 0x80096004;
constexpr DWORD TRUST_E_BASIC_CONSTRAINTS = 0x80096019;
constexpr DWORD CERT_E_EXPIRED = 0x800B0101;
constexpr DWORD CERT_E_CRITICAL = 0x800B0105;
constexpr DWORD CERT_E_UNTRUSTEDROOT = 0x800B0109;
constexpr DWORD CERT_E_CHAINING = 0x800B010A;
constexpr DWORD CERT_E_CN_NO_MATCH = 0x800B010F;
constexpr DWORD CERT_E_WRONG_USAGE = 0x800B0110;
constexpr DWORD TRUST_E_EXPLICIT_DISTRUST = 0x800B0111;
constexpr DWORD CERT_E_INVALID_NAME = 0x800B0114;

// ---- blobs and certificate structures --------------------------------------------------------

struct CRYPTOAPI_BLOB
{
    DWORD cbData;
    BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_OBJID_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DATA_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using CERT_RDN_VALUE_BLOB = CRYPTOAPI_BLOB;

struct CRYPT_BIT_BLOB
{
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
};

struct CRYPT_ALGORITHM_IDENTIFIER
{
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

struct CERT_PUBLIC_KEY_INFO
{
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
};
using PCERT_PUBLIC_KEY_INFO = CERT_PUBLIC_KEY_INFO*;

struct CERT_EXTENSION
{
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
};
using PCERT_EXTENSION = CERT_EXTENSION*;

struct CERT_INFO
{
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;   ///< Little-endian: the last byte is the most significant.
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT
{
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

constexpr DWORD X509_ASN_ENCODING = 0x1;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x10000;

constexpr DWORD CERT_V1 = 0;
constexpr DWORD CERT_V2 = 1;
constexpr DWORD CERT_V3 = 2;

// Context properties.
constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;
constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;

constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;

struct CRYPT_KEY_PROV_PARAM
{
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
};

struct CRYPT_KEY_PROV_INFO
{
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    CRYPT_KEY_PROV_PARAM* rgProvParam;
    DWORD dwKeySpec;
};

// Names.
constexpr DWORD CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
constexpr DWORD CERT_NAME_ISSUER_FLAG = 0x1;

inline constexpr char szOID_RSA_RSA[] = "1.2.840.113549.1.1.1";
inline constexpr char szOID_ED25519[] = "1.3.101.112";
inline constexpr char szOID_COMMON_NAME[] = "2.5.4.3";
inline constexpr char szOID_ORGANIZATIONAL_UNIT_NAME[] = "2.5.4.11";
inline constexpr char szOID_ORGANIZATION_NAME[] = "2.5.4.10";
inline constexpr char szOID_RSA_emailAddr[] = "1.2.840.113549.1.9.1";
inline constexpr char szOID_SUBJECT_KEY_IDENTIFIER[] = "2.5.29.14";
inline constexpr char szOID_SUBJECT_ALT_NAME2[] = "2.5.29.17";
inline constexpr char szOID_ISSUER_ALT_NAME2[] = "2.5.29.18";
inline constexpr char szOID_ENHANCED_KEY_USAGE[] = "2.5.29.37";
inline constexpr char szOID_PKIX_KP_SERVER_AUTH[] = "1.3.6.1.5.5.7.3.1";
inline constexpr char szOID_PKIX_KP_CLIENT_AUTH[] = "1.3.6.1.5.5.7.3.2";

// Value types of relative distinguished name attributes.
constexpr DWORD CERT_RDN_ANY_TYPE = 0;
constexpr DWORD CERT_RDN_ENCODED_BLOB = 1;
constexpr DWORD CERT_RDN_OCTET_STRING = 2;
constexpr DWORD CERT_RDN_NUMERIC_STRING = 3;
constexpr DWORD CERT_RDN_PRINTABLE_STRING = 4;
constexpr DWORD CERT_RDN_TELETEX_STRING = 5;
constexpr DWORD CERT_RDN_VIDEOTEX_STRING = 6;
constexpr DWORD CERT_RDN_IA5_STRING = 7;
constexpr DWORD CERT_RDN_GRAPHIC_STRING = 8;
constexpr DWORD CERT_RDN_VISIBLE_STRING = 9;
constexpr DWORD CERT_RDN_GENERAL_STRING = 10;
constexpr DWORD CERT_RDN_UNIVERSAL_STRING = 11;
constexpr DWORD CERT_RDN_BMP_STRING = 12;
constexpr DWORD CERT_RDN_UTF8_STRING = 13;

struct CERT_RDN_ATTR
{
    LPSTR pszObjId;
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;   ///< 8-bit strings as stored; BMP and UTF-8 strings as UTF-16.
};

struct CERT_RDN
{
    DWORD cRDNAttr;
    CERT_RDN_ATTR* rgRDNAttr;
};

struct CERT_NAME_INFO
{
    DWORD cRDN;
    CERT_RDN* rgRDN;
};

struct CERT_OTHER_NAME
{
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Value;
};

constexpr DWORD CERT_ALT_NAME_OTHER_NAME = 1;
constexpr DWORD CERT_ALT_NAME_RFC822_NAME = 2;
constexpr DWORD CERT_ALT_NAME_DNS_NAME = 3;
constexpr DWORD CERT_ALT_NAME_X400_ADDRESS = 4;
constexpr DWORD CERT_ALT_NAME_DIRECTORY_NAME = 5;
constexpr DWORD CERT_ALT_NAME_EDI_PARTY_NAME = 6;
constexpr DWORD CERT_ALT_NAME_URL = 7;
constexpr DWORD CERT_ALT_NAME_IP_ADDRESS = 8;
constexpr DWORD CERT_ALT_NAME_REGISTERED_ID = 9;

struct CERT_ALT_NAME_ENTRY
{
    DWORD dwAltNameChoice;
    union
    {
        CERT_OTHER_NAME* pOtherName;
        LPWSTR pwszRfc822Name;
        LPWSTR pwszDNSName;
        CERT_NAME_BLOB DirectoryName;
        LPWSTR pwszURL;
        CRYPT_DATA_BLOB IPAddress;
        LPSTR pszRegisteredID;
    };
};

struct CERT_ALT_NAME_INFO
{
    DWORD cAltEntry;
    CERT_ALT_NAME_ENTRY* rgAltEntry;
};

struct CERT_ENHKEY_USAGE
{
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
};
using PCERT_ENHKEY_USAGE = CERT_ENHKEY_USAGE*;

/// Structure types of CryptDecodeObject given as small integers instead of text.
inline LPCSTR CryptStructType(uintptr_t AValue) noexcept
{
    return reinterpret_cast<LPCSTR>(AValue);
}
constexpr uintptr_t X509_NAME = 7;
constexpr uintptr_t X509_PUBLIC_KEY_INFO = 8;       ///< CERT_PUBLIC_KEY_INFO <-> SubjectPublicKeyInfo.
constexpr uintptr_t RSA_CSP_PUBLICKEYBLOB = 19;     ///< PUBLICKEYBLOB <-> PKCS #1 RSAPublicKey.
constexpr uintptr_t PKCS_RSA_PRIVATE_KEY = 43;      ///< PRIVATEKEYBLOB <-> PKCS #1 RSAPrivateKey.
constexpr uintptr_t X509_ALTERNATE_NAME = 12;
constexpr uintptr_t X509_OCTET_STRING = 25;
constexpr uintptr_t X509_ENHANCED_KEY_USAGE = 36;

// Object identifier information.
constexpr DWORD CRYPT_OID_INFO_OID_KEY = 1;

struct CRYPT_OID_INFO
{
    DWORD cbSize;
    LPCSTR pszOID;
    LPCWSTR pwszName;
    DWORD dwGroupId;
    union
    {
        DWORD dwValue;
        ALG_ID Algid;
        DWORD dwLength;
    };
    CRYPT_DATA_BLOB ExtraInfo;
};
using PCCRYPT_OID_INFO = const CRYPT_OID_INFO*;

// ---- chains and the SSL chain policy ---------------------------------------------------------

struct CERT_TRUST_STATUS
{
    DWORD dwErrorStatus;
    DWORD dwInfoStatus;
};

constexpr DWORD CERT_TRUST_NO_ERROR = 0x0;
constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x1;
constexpr DWORD CERT_TRUST_IS_REVOKED = 0x4;
constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x8;
constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x10;
constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x20;
constexpr DWORD CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x40;
constexpr DWORD CERT_TRUST_IS_CYCLIC = 0x80;
constexpr DWORD CERT_TRUST_INVALID_EXTENSION = 0x100;
constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x400;
constexpr DWORD CERT_TRUST_INVALID_NAME_CONSTRAINTS = 0x800;
constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x10000;
constexpr DWORD CERT_TRUST_IS_OFFLINE_REVOCATION = 0x1000000;
constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x8000000;

constexpr DWORD CERT_TRUST_IS_SELF_SIGNED = 0x8;

struct CERT_CHAIN_ELEMENT
{
    DWORD cbSize;
    PCCERT_CONTEXT pCertContext;
    CERT_TRUST_STATUS TrustStatus;
    void* pRevocationInfo;
    void* pIssuanceUsage;
    void* pApplicationUsage;
    LPCWSTR pwszExtendedErrorInfo;
};

struct CERT_SIMPLE_CHAIN
{
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cElement;
    CERT_CHAIN_ELEMENT** rgpElement;
    void* pTrustListInfo;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
};

struct CERT_CHAIN_CONTEXT
{
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cChain;
    CERT_SIMPLE_CHAIN** rgpChain;
    DWORD cLowerQualityChainContext;
    const CERT_CHAIN_CONTEXT** rgpLowerQualityChainContext;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;

struct CERT_USAGE_MATCH
{
    DWORD dwType;
    CERT_ENHKEY_USAGE Usage;
};

struct CERT_CHAIN_PARA
{
    DWORD cbSize;
    CERT_USAGE_MATCH RequestedUsage;
    CERT_USAGE_MATCH RequestedIssuancePolicy;
    DWORD dwUrlRetrievalTimeout;
    BOOL fCheckRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
    FILETIME* pftCacheResync;
};

constexpr DWORD CERT_CHAIN_CACHE_END_CERT = 0x1;
constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY = 0x80000000;
constexpr DWORD CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL = 0x4;
constexpr DWORD CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE = 0x100;
constexpr DWORD CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT = 0x8000000;
constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_END_CERT = 0x10000000;
constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CHAIN = 0x20000000;
constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT = 0x40000000;

inline LPCSTR CERT_CHAIN_POLICY_BASE = CryptStructType(1);
inline LPCSTR CERT_CHAIN_POLICY_SSL = CryptStructType(4);

struct CERT_CHAIN_POLICY_PARA
{
    DWORD cbSize;
    DWORD dwFlags;
    void* pvExtraPolicyPara;
};

struct CERT_CHAIN_POLICY_STATUS
{
    DWORD cbSize;
    DWORD dwError;
    LONG lChainIndex;
    LONG lElementIndex;
    void* pvExtraPolicyStatus;
};

struct SSL_EXTRA_CERT_CHAIN_POLICY_PARA
{
    DWORD cbSize;
    DWORD dwAuthType;
    DWORD fdwChecks;
    LPWSTR pwszServerName;
};
using HTTPSPolicyCallbackData = SSL_EXTRA_CERT_CHAIN_POLICY_PARA;

constexpr DWORD AUTHTYPE_CLIENT = 1;
constexpr DWORD AUTHTYPE_SERVER = 2;

// Policy flags: errors the caller accepts.
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG = 0x1;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_CTL_NOT_TIME_VALID_FLAG = 0x2;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_NOT_TIME_NESTED_FLAG = 0x4;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS = 0x7;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_INVALID_BASIC_CONSTRAINTS_FLAG = 0x8;
constexpr DWORD CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG = 0x10;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG = 0x20;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_INVALID_NAME_FLAG = 0x40;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_END_REV_UNKNOWN_FLAG = 0x100;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_CA_REV_UNKNOWN_FLAG = 0x400;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_ROOT_REV_UNKNOWN_FLAG = 0x800;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS = 0xF00;
constexpr DWORD CERT_CHAIN_POLICY_IGNORE_NOT_SUPPORTED_CRITICAL_EXT_FLAG = 0x2000;

// SSL checks the caller accepts (fdwChecks).
constexpr DWORD SECURITY_FLAG_IGNORE_REVOCATION = 0x80;
constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x100;
constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x200;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x1000;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x2000;

// ---- functions -----------------------------------------------------------------------------

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
    DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
/// Fills pbBuffer with dwLen bytes from the system's cryptographic random generator;
/// NTE_FAIL when it cannot give them.
BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
    HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
    DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);

// RSA keys: generated, or imported from and exported to key blobs, in the provider's ephemeral
// container. Generating or importing a private key makes it the provider's user key of its kind
// (CALG_RSA_KEYX: AT_KEYEXCHANGE, CALG_RSA_SIGN: AT_SIGNATURE). An imported key is checked
// first: an inconsistent one fails with NTE_BAD_KEY.

/// Algid: AT_KEYEXCHANGE, AT_SIGNATURE, CALG_RSA_KEYX or CALG_RSA_SIGN; the bit length in the
/// high word of dwFlags (0: 1024; 384 to 16384 in steps of 8), CRYPT_EXPORTABLE in the low word.
/// Algid CALG_ED25519 makes an Ed25519 key pair (bit length 0 or 256).
BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
/// A new handle to the provider's user key of dwKeySpec; NTE_NO_KEY when it has none.
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
/// KP_KEYLEN (bits) and KP_ALGID, each a DWORD.
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
    DWORD dwFlags);
/// PUBLICKEYBLOB, or PRIVATEKEYBLOB of an exportable private key, without a wrapping key.
BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
    BYTE* pbData, DWORD* pdwDataLen);
/// A plain PUBLICKEYBLOB or PRIVATEKEYBLOB (hPubKey 0); dwFlags may hold CRYPT_EXPORTABLE.
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
    DWORD dwFlags, HCRYPTKEY* phKey);
/// An RSA public key (szOID_RSA_RSA) of a CERT_PUBLIC_KEY_INFO; aiKeyAlg 0 means CALG_RSA_KEYX.
/// An Ed25519 public key (szOID_ED25519) with aiKeyAlg 0 or CALG_ED25519.
BOOL CryptImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
    PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg, DWORD dwFlags, void* pvAuxInfo,
    HCRYPTKEY* phKey);
/// PKCS #1 v1.5 signature of the hash's value with the hash provider's user key of dwKeySpec,
/// least significant byte first; with an Ed25519 key, its signature of the hash's value. The
/// hash is closed.
BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
    BYTE* pbSignature, DWORD* pdwSigLen);
/// Checks a signature given least significant byte first (an Ed25519 signature: as RFC 8032
/// writes it); NTE_BAD_SIGNATURE when it does not match or does not have the key's length.
BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
    HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags);

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
    DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
    DWORD* pcbData);
/// Friendly name: pvData is a CRYPT_DATA_BLOB* of UTF-16 text. Key provider information: a
/// CRYPT_KEY_PROV_INFO*. A null pvData removes the property.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
    const void* pvData);
DWORD CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
    void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString);
BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
    DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);
/// Encodes PKCS_RSA_PRIVATE_KEY (from a PRIVATEKEYBLOB), RSA_CSP_PUBLICKEYBLOB (from a
/// PUBLICKEYBLOB) or X509_PUBLIC_KEY_INFO (from a CERT_PUBLIC_KEY_INFO) as DER. pEncodePara must
/// be null and dwFlags 0.
BOOL CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
    DWORD dwFlags, const void* pEncodePara, void* pvEncoded, DWORD* pcbEncoded);
/// Decodes the structures of CryptEncodeObjectEx, and those of CryptDecodeObject. pDecodePara
/// must be null and dwFlags 0.
BOOL CryptDecodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
    DWORD cbEncoded, DWORD dwFlags, const void* pDecodePara, void* pvStructInfo,
    DWORD* pcbStructInfo);
PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
    CERT_EXTENSION rgExtensions[]);
BOOL CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags,
    PCERT_ENHKEY_USAGE pUsage, DWORD* pcbUsage);
PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId);
DWORD CertGetPublicKeyLength(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pPublicKey);

BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
    FILETIME* pTime, HCERTSTORE hAdditionalStore, CERT_CHAIN_PARA* pChainPara, DWORD dwFlags,
    void* pvReserved, PCCERT_CHAIN_CONTEXT* ppChainContext);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);
BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
    CERT_CHAIN_POLICY_PARA* pPolicyPara, CERT_CHAIN_POLICY_STATUS* pPolicyStatus);

/// Makes a certificate context that carries its private key, for offering as a client
/// certificate: the first certificate of ACertPath (PEM) with the key of AKeyPath (PEM; when
/// null, the key is read from ACertPath), APassword unlocking an encrypted key (may be null).
/// Further certificates of ACertPath become the context's store (the chain to send).
PCCERT_CONTEXT CertCreateContextFromPemFile(LPCSTR ACertPath, LPCSTR AKeyPath, LPCSTR APassword);
/// The same from a PKCS #12 file; its friendly name becomes CERT_FRIENDLY_NAME_PROP_ID.
PCCERT_CONTEXT CertCreateContextFromPfxFile(LPCSTR APath, LPCSTR APassword);

}  // namespace ix::os
