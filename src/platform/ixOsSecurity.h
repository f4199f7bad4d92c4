#pragma once
// The Security Support Provider Interface with the Schannel package: the function table that
// InitSecurityInterfaceA returns, credential and context handles, token and record buffers,
// Schannel credential blocks and the security status codes, with the layouts and values of the
// Windows headers. The Schannel package speaks TLS 1.0 to 1.3 through memory buffers only: the
// caller moves every token and record between the peer and these functions.
//
// The package "NTLM" (client side, NTLMv2) takes an identity record (SEC_WINNT_AUTH_IDENTITY_A)
// or, without one, the logged-on user's credentials from the environment: NTLM_USER (a
// "DOMAIN\user" or "DOMAIN/user" form is split), NTLM_DOMAIN and NTLM_PASSWORD, or
// NTLM_CREDENTIALS_FILE naming a file of such NAME=VALUE lines. Without a user there,
// AcquireCredentialsHandleA returns SEC_E_NO_CREDENTIALS.

#include "platform/ixOsCrypt.h"
#include "platform/ixOsTypes.h"

namespace ix::os {

// ---- status codes ----------------------------------------------------------------------------

using SECURITY_STATUS = LONG;

/// The SECURITY_STATUS of a code written as the unsigned value of the Windows headers.
constexpr SECURITY_STATUS SecStatus(DWORD ACode) noexcept
{
    return static_cast<SECURITY_STATUS>(ACode);
}

constexpr SECURITY_STATUS SEC_E_OK = 0;
constexpr SECURITY_STATUS SEC_I_CONTINUE_NEEDED = 0x00090312;
constexpr SECURITY_STATUS SEC_I_COMPLETE_NEEDED = 0x00090313;
constexpr SECURITY_STATUS SEC_I_COMPLETE_AND_CONTINUE = 0x00090314;
constexpr SECURITY_STATUS SEC_I_CONTEXT_EXPIRED = 0x00090317;
constexpr SECURITY_STATUS SEC_I_INCOMPLETE_CREDENTIALS = 0x00090320;
constexpr SECURITY_STATUS SEC_I_RENEGOTIATE = 0x00090321;
constexpr SECURITY_STATUS SEC_E_INSUFFICIENT_MEMORY = SecStatus(0x80090300);
constexpr SECURITY_STATUS SEC_E_INVALID_HANDLE = SecStatus(0x80090301);
constexpr SECURITY_STATUS SEC_E_UNSUPPORTED_FUNCTION = SecStatus(0x80090302);
constexpr SECURITY_STATUS SEC_E_TARGET_UNKNOWN = SecStatus(0x80090303);
constexpr SECURITY_STATUS SEC_E_INTERNAL_ERROR = SecStatus(0x80090304);
constexpr SECURITY_STATUS SEC_E_SECPKG_NOT_FOUND = SecStatus(0x80090305);
constexpr SECURITY_STATUS SEC_E_INVALID_TOKEN = SecStatus(0x80090308);
constexpr SECURITY_STATUS SEC_E_UNKNOWN_CREDENTIALS = SecStatus(0x8009030D);
constexpr SECURITY_STATUS SEC_E_NO_CREDENTIALS = SecStatus(0x8009030E);
constexpr SECURITY_STATUS SEC_E_OUT_OF_SEQUENCE = SecStatus(0x80090310);
constexpr SECURITY_STATUS SEC_E_CONTEXT_EXPIRED = SecStatus(0x80090317);
constexpr SECURITY_STATUS SEC_E_INCOMPLETE_MESSAGE = SecStatus(0x80090318);
constexpr SECURITY_STATUS SEC_E_BUFFER_TOO_SMALL = SecStatus(0x80090321);
constexpr SECURITY_STATUS SEC_E_WRONG_PRINCIPAL = SecStatus(0x80090322);
constexpr SECURITY_STATUS SEC_E_UNTRUSTED_ROOT = SecStatus(0x80090325);
constexpr SECURITY_STATUS SEC_E_ILLEGAL_MESSAGE = SecStatus(0x80090326);
constexpr SECURITY_STATUS SEC_E_CERT_UNKNOWN = SecStatus(0x80090327);
constexpr SECURITY_STATUS SEC_E_CERT_EXPIRED = SecStatus(0x80090328);
constexpr SECURITY_STATUS SEC_E_ENCRYPT_FAILURE = SecStatus(0x80090329);
constexpr SECURITY_STATUS SEC_E_DECRYPT_FAILURE = SecStatus(0x80090330);
constexpr SECURITY_STATUS SEC_E_ALGORITHM_MISMATCH = SecStatus(0x80090331);
constexpr SECURITY_STATUS SEC_E_INVALID_PARAMETER = SecStatus(0x8009035D);

// ---- handles and buffers ---------------------------------------------------------------------

/// A credential or context handle; both words zero means none.
struct SecHandle
{
    ULONG_PTR dwLower;
    ULONG_PTR dwUpper;
};
using PSecHandle = SecHandle*;
using CredHandle = SecHandle;
using PCredHandle = PSecHandle;
using CtxtHandle = SecHandle;
using PCtxtHandle = PSecHandle;

/// Expiry times (100-nanosecond intervals since 1601, local time).
using TimeStamp = LONGLONG;
using PTimeStamp = TimeStamp*;

using SEC_CHAR = CHAR;

constexpr ULONG SECBUFFER_VERSION = 0;

constexpr ULONG SECBUFFER_EMPTY = 0;
constexpr ULONG SECBUFFER_DATA = 1;
constexpr ULONG SECBUFFER_TOKEN = 2;
constexpr ULONG SECBUFFER_MISSING = 4;
constexpr ULONG SECBUFFER_EXTRA = 5;
constexpr ULONG SECBUFFER_STREAM_TRAILER = 6;
constexpr ULONG SECBUFFER_STREAM_HEADER = 7;

struct SecBuffer
{
    ULONG cbBuffer;
    ULONG BufferType;
    void* pvBuffer;
};
using PSecBuffer = SecBuffer*;

struct SecBufferDesc
{
    ULONG ulVersion;
    ULONG cBuffers;
    PSecBuffer pBuffers;
};
using PSecBufferDesc = SecBufferDesc*;

// ---- packages and credentials ----------------------------------------------------------------

struct SecPkgInfoA
{
    ULONG fCapabilities;
    USHORT wVersion;
    USHORT wRPCID;
    ULONG cbMaxToken;
    SEC_CHAR* Name;
    SEC_CHAR* Comment;
};
using PSecPkgInfoA = SecPkgInfoA*;

inline constexpr char UNISP_NAME_A[] = "Microsoft Unified Security Protocol Provider";
inline constexpr char SCHANNEL_NAME_A[] = "Schannel";
inline constexpr char NTLMSP_NAME_A[] = "NTLM";

constexpr ULONG SECPKG_CRED_INBOUND = 1;
constexpr ULONG SECPKG_CRED_OUTBOUND = 2;

constexpr ULONG SEC_WINNT_AUTH_IDENTITY_ANSI = 1;
constexpr ULONG SEC_WINNT_AUTH_IDENTITY_UNICODE = 2;

/// The credentials of a user for the NTLM package: each text with its length in characters and
/// without its terminating zero; a null text with length 0 is empty.
struct SEC_WINNT_AUTH_IDENTITY_A
{
    unsigned char* User;
    ULONG UserLength;
    unsigned char* Domain;
    ULONG DomainLength;
    unsigned char* Password;
    ULONG PasswordLength;
    ULONG Flags;
};

constexpr DWORD SCHANNEL_CRED_VERSION = 4;
constexpr DWORD SCH_CREDENTIALS_VERSION = 5;

// Credential flags (dwFlags of both credential blocks).
constexpr DWORD SCH_CRED_NO_SERVERNAME_CHECK = 0x4;
constexpr DWORD SCH_CRED_MANUAL_CRED_VALIDATION = 0x8;
constexpr DWORD SCH_CRED_NO_DEFAULT_CREDS = 0x10;
constexpr DWORD SCH_CRED_AUTO_CRED_VALIDATION = 0x20;
constexpr DWORD SCH_SEND_ROOT_CERT = 0x40000;
constexpr DWORD SCH_USE_STRONG_CRYPTO = 0x400000;

// Protocol bits (grbitEnabledProtocols of the version-4 block, grbitDisabledProtocols of
// TLS_PARAMETERS, dwProtocol of the connection information).
constexpr DWORD SP_PROT_SSL2_SERVER = 0x4;
constexpr DWORD SP_PROT_SSL2_CLIENT = 0x8;
constexpr DWORD SP_PROT_SSL3_SERVER = 0x10;
constexpr DWORD SP_PROT_SSL3_CLIENT = 0x20;
constexpr DWORD SP_PROT_TLS1_SERVER = 0x40;
constexpr DWORD SP_PROT_TLS1_CLIENT = 0x80;
constexpr DWORD SP_PROT_TLS1_1_SERVER = 0x100;
constexpr DWORD SP_PROT_TLS1_1_CLIENT = 0x200;
constexpr DWORD SP_PROT_TLS1_2_SERVER = 0x400;
constexpr DWORD SP_PROT_TLS1_2_CLIENT = 0x800;
constexpr DWORD SP_PROT_TLS1_3_SERVER = 0x1000;
constexpr DWORD SP_PROT_TLS1_3_CLIENT = 0x2000;

struct HMAPPER;

/// The version-4 Schannel credential block. grbitEnabledProtocols 0 selects the system's
/// protocols of this form (TLS 1.0 to 1.2, as far as the system's policy allows).
struct SCHANNEL_CRED
{
    DWORD dwVersion;
    DWORD cCreds;
    PCCERT_CONTEXT* paCred;
    HCERTSTORE hRootStore;
    DWORD cMappers;
    HMAPPER** aphMappers;
    DWORD cSupportedAlgs;
    ALG_ID* palgSupportedAlgs;
    DWORD grbitEnabledProtocols;
    DWORD dwMinimumCipherStrength;
    DWORD dwMaximumCipherStrength;
    DWORD dwSessionLifespan;
    DWORD dwFlags;
    DWORD dwCredFormat;
};

/// Protocol restrictions of the version-5 block. ALPN identifiers and disabled crypto settings
/// are not offered here: their counts must be 0.
struct TLS_PARAMETERS
{
    DWORD cAlpnIds;
    void* rgstrAlpnIds;
    DWORD grbitDisabledProtocols;
    DWORD cDisabledCrypto;
    void* pDisabledCrypto;
    DWORD dwFlags;
};
using PTLS_PARAMETERS = TLS_PARAMETERS*;

/// The version-5 Schannel credential block. Without TLS_PARAMETERS the system's protocols are
/// used (TLS 1.2 and TLS 1.3, as far as the system's policy allows).
struct SCH_CREDENTIALS
{
    DWORD dwVersion;
    DWORD dwCredFormat;
    DWORD cCreds;
    PCCERT_CONTEXT* paCred;
    HCERTSTORE hRootStore;
    DWORD cMappers;
    HMAPPER** aphMappers;
    DWORD dwSessionLifespan;
    DWORD dwFlags;
    DWORD cTlsParameters;
    PTLS_PARAMETERS pTlsParameters;
};

// ---- context requirements, attributes and control tokens --------------------------------------

constexpr ULONG ISC_REQ_DELEGATE = 0x1;
constexpr ULONG ISC_REQ_MUTUAL_AUTH = 0x2;
constexpr ULONG ISC_REQ_REPLAY_DETECT = 0x4;
constexpr ULONG ISC_REQ_SEQUENCE_DETECT = 0x8;
constexpr ULONG ISC_REQ_CONFIDENTIALITY = 0x10;
constexpr ULONG ISC_REQ_ALLOCATE_MEMORY = 0x100;
constexpr ULONG ISC_REQ_CONNECTION = 0x800;
constexpr ULONG ISC_REQ_EXTENDED_ERROR = 0x4000;
constexpr ULONG ISC_REQ_STREAM = 0x8000;
constexpr ULONG ISC_REQ_INTEGRITY = 0x10000;

constexpr ULONG ISC_RET_REPLAY_DETECT = 0x4;
constexpr ULONG ISC_RET_SEQUENCE_DETECT = 0x8;
constexpr ULONG ISC_RET_CONFIDENTIALITY = 0x10;
constexpr ULONG ISC_RET_ALLOCATED_MEMORY = 0x100;
constexpr ULONG ISC_RET_EXTENDED_ERROR = 0x4000;
constexpr ULONG ISC_RET_STREAM = 0x8000;

constexpr ULONG ASC_REQ_MUTUAL_AUTH = 0x2;
constexpr ULONG ASC_REQ_REPLAY_DETECT = 0x4;
constexpr ULONG ASC_REQ_SEQUENCE_DETECT = 0x8;
constexpr ULONG ASC_REQ_CONFIDENTIALITY = 0x10;
constexpr ULONG ASC_REQ_ALLOCATE_MEMORY = 0x100;
constexpr ULONG ASC_REQ_EXTENDED_ERROR = 0x8000;
constexpr ULONG ASC_REQ_STREAM = 0x10000;

constexpr ULONG ASC_RET_MUTUAL_AUTH = 0x2;
constexpr ULONG ASC_RET_REPLAY_DETECT = 0x4;
constexpr ULONG ASC_RET_SEQUENCE_DETECT = 0x8;
constexpr ULONG ASC_RET_CONFIDENTIALITY = 0x10;
constexpr ULONG ASC_RET_ALLOCATED_MEMORY = 0x100;
constexpr ULONG ASC_RET_EXTENDED_ERROR = 0x8000;
constexpr ULONG ASC_RET_STREAM = 0x10000;

constexpr ULONG SECURITY_NATIVE_DREP = 0x10;

/// The control token of ApplyControlToken that starts a TLS close notification.
constexpr DWORD SCHANNEL_SHUTDOWN = 1;

constexpr ULONG SECPKG_ATTR_STREAM_SIZES = 4;
constexpr ULONG SECPKG_ATTR_REMOTE_CERT_CONTEXT = 0x53;
constexpr ULONG SECPKG_ATTR_CONNECTION_INFO = 0x5A;

struct SecPkgContext_StreamSizes
{
    ULONG cbHeader;
    ULONG cbTrailer;
    ULONG cbMaximumMessage;
    ULONG cBuffers;
    ULONG cbBlockSize;
};

// Algorithm identifiers of the connection information beyond those of the CryptoAPI header.
constexpr ALG_ID CALG_AES_128 = 0x660E;
constexpr ALG_ID CALG_AES_256 = 0x6610;
constexpr ALG_ID CALG_DH_EPHEM = 0xAA02;
constexpr ALG_ID CALG_ECDH_EPHEM = 0xAE06;

/// The negotiated protocol (an SP_PROT_*_CLIENT or _SERVER bit) and algorithms with their
/// strengths in bits. An algorithm without a CryptoAPI identifier (ChaCha20, AEAD hashes that
/// have none) is reported as 0 with its strength.
struct SecPkgContext_ConnectionInfo
{
    DWORD dwProtocol;
    ALG_ID aiCipher;
    DWORD dwCipherStrength;
    ALG_ID aiHash;
    DWORD dwHashStrength;
    ALG_ID aiExch;
    DWORD dwExchStrength;
};

// ---- the function table ----------------------------------------------------------------------

using ENUMERATE_SECURITY_PACKAGES_FN_A = SECURITY_STATUS (*)(ULONG* pcPackages,
    PSecPkgInfoA* ppPackageInfo);
using SEC_GET_KEY_FN = void (*)(void* Arg, void* Principal, ULONG KeyVer, void** Key,
    SECURITY_STATUS* Status);
using ACQUIRE_CREDENTIALS_HANDLE_FN_A = SECURITY_STATUS (*)(SEC_CHAR* pszPrincipal,
    SEC_CHAR* pszPackage, ULONG fCredentialUse, void* pvLogonId, void* pAuthData,
    SEC_GET_KEY_FN pGetKeyFn, void* pvGetKeyArgument, PCredHandle phCredential,
    PTimeStamp ptsExpiry);
using FREE_CREDENTIALS_HANDLE_FN = SECURITY_STATUS (*)(PCredHandle phCredential);
using INITIALIZE_SECURITY_CONTEXT_FN_A = SECURITY_STATUS (*)(PCredHandle phCredential,
    PCtxtHandle phContext, SEC_CHAR* pszTargetName, ULONG fContextReq, ULONG Reserved1,
    ULONG TargetDataRep, PSecBufferDesc pInput, ULONG Reserved2, PCtxtHandle phNewContext,
    PSecBufferDesc pOutput, ULONG* pfContextAttr, PTimeStamp ptsExpiry);
using ACCEPT_SECURITY_CONTEXT_FN = SECURITY_STATUS (*)(PCredHandle phCredential,
    PCtxtHandle phContext, PSecBufferDesc pInput, ULONG fContextReq, ULONG TargetDataRep,
    PCtxtHandle phNewContext, PSecBufferDesc pOutput, ULONG* pfContextAttr,
    PTimeStamp ptsExpiry);
using COMPLETE_AUTH_TOKEN_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, PSecBufferDesc pToken);
using DELETE_SECURITY_CONTEXT_FN = SECURITY_STATUS (*)(PCtxtHandle phContext);
using APPLY_CONTROL_TOKEN_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, PSecBufferDesc pInput);
using QUERY_CONTEXT_ATTRIBUTES_FN_A = SECURITY_STATUS (*)(PCtxtHandle phContext,
    ULONG ulAttribute, void* pBuffer);
using FREE_CONTEXT_BUFFER_FN = SECURITY_STATUS (*)(void* pvContextBuffer);
using ENCRYPT_MESSAGE_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, ULONG fQOP,
    PSecBufferDesc pMessage, ULONG MessageSeqNo);
using DECRYPT_MESSAGE_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, PSecBufferDesc pMessage,
    ULONG MessageSeqNo, ULONG* pfQOP);

constexpr ULONG SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION = 1;

/// The function table in the slot order of the Windows header. Slots whose functions this
/// platform does not provide are null and typed as plain pointers.
struct SecurityFunctionTableA
{
    ULONG dwVersion;
    ENUMERATE_SECURITY_PACKAGES_FN_A EnumerateSecurityPackagesA;
    void* QueryCredentialsAttributesA;
    ACQUIRE_CREDENTIALS_HANDLE_FN_A AcquireCredentialsHandleA;
    FREE_CREDENTIALS_HANDLE_FN FreeCredentialsHandle;
    void* Reserved2;
    INITIALIZE_SECURITY_CONTEXT_FN_A InitializeSecurityContextA;
    ACCEPT_SECURITY_CONTEXT_FN AcceptSecurityContext;
    COMPLETE_AUTH_TOKEN_FN CompleteAuthToken;
    DELETE_SECURITY_CONTEXT_FN DeleteSecurityContext;
    APPLY_CONTROL_TOKEN_FN ApplyControlToken;
    QUERY_CONTEXT_ATTRIBUTES_FN_A QueryContextAttributesA;
    void* ImpersonateSecurityContext;
    void* RevertSecurityContext;
    void* MakeSignature;
    void* VerifySignature;
    FREE_CONTEXT_BUFFER_FN FreeContextBuffer;
    void* QuerySecurityPackageInfoA;
    void* Reserved3;
    void* Reserved4;
    void* ExportSecurityContext;
    void* ImportSecurityContextA;
    void* AddCredentialsA;
    void* Reserved8;
    void* QuerySecurityContextToken;
    ENCRYPT_MESSAGE_FN EncryptMessage;
    DECRYPT_MESSAGE_FN DecryptMessage;
};
using PSecurityFunctionTableA = SecurityFunctionTableA*;

using INIT_SECURITY_INTERFACE_A = PSecurityFunctionTableA (*)();

/// The entry point that the security modules export under the name "InitSecurityInterfaceA".
PSecurityFunctionTableA InitSecurityInterfaceA();

}  // namespace ix::os
