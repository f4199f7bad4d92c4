// CryptoAPI certificate chains and the base and SSL chain policies over OpenSSL's verifier.
// Trust comes from OpenSSL's default verify paths (SSL_CERT_FILE / SSL_CERT_DIR honoured);
// revocation is checked against the certificate revocation lists found there. The trust store
// is loaded once and shared by every chain until what it was loaded from changes.
#include "platform/ixOsCrypt.h"

#include "platform/internal/ixOsCryptContext.h"
#include "platform/ixOsKernel.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ix::os {

using namespace internal;

namespace {

constexpr uintptr_t PolicyBase = 1;
constexpr uintptr_t PolicySsl = 4;
constexpr int64_t FileTimeEpochOffset = 11644473600;
constexpr DWORD RevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

TLiveSet& LiveChains()
{
    static TLiveSet chains;
    return chains;
}

/// A chain context: one simple chain whose elements own a context reference each.
class TChainContext : public CERT_CHAIN_CONTEXT
{
public:
    TChainContext(std::vector<PCCERT_CONTEXT> AContexts, std::vector<CERT_TRUST_STATUS> AStatus)
        : CERT_CHAIN_CONTEXT{}, FContexts(std::move(AContexts)), FElements(FContexts.size())
    {
        CERT_TRUST_STATUS total{};
        for (size_t index = 0; index < FElements.size(); ++index)
        {
            FElements[index].cbSize = sizeof(CERT_CHAIN_ELEMENT);
            FElements[index].pCertContext = FContexts[index];
            FElements[index].TrustStatus = AStatus[index];
            FElementPointers.push_back(&FElements[index]);
            total.dwErrorStatus |= AStatus[index].dwErrorStatus;
        }
        if (!AStatus.empty())
            total.dwInfoStatus = AStatus.back().dwInfoStatus;
        FSimple = {sizeof(CERT_SIMPLE_CHAIN), total, static_cast<DWORD>(FElements.size()),
            FElementPointers.data(), nullptr, FALSE, 0};
        FSimplePointer = &FSimple;
        cbSize = sizeof(CERT_CHAIN_CONTEXT);
        TrustStatus = total;
        cChain = 1;
        rgpChain = &FSimplePointer;
        LiveChains().Add(static_cast<const CERT_CHAIN_CONTEXT*>(this));
    }

    ~TChainContext()
    {
        LiveChains().Remove(static_cast<const CERT_CHAIN_CONTEXT*>(this));
        for (PCCERT_CONTEXT context : FContexts)
            CertFreeCertificateContext(context);
    }

    TChainContext(const TChainContext&) = delete;
    TChainContext& operator=(const TChainContext&) = delete;

private:
    std::vector<PCCERT_CONTEXT> FContexts;
    std::vector<CERT_CHAIN_ELEMENT> FElements;
    std::vector<CERT_CHAIN_ELEMENT*> FElementPointers;
    CERT_SIMPLE_CHAIN FSimple{};
    CERT_SIMPLE_CHAIN* FSimplePointer = nullptr;
};

// ---- building ------------------------------------------------------------------------------

struct TVerifyError
{
    int Depth;
    int Error;
};

/// Records every verification error and lets the verifier go on, so that the chain is built as
/// far as it goes and every element gets all of its trust errors.
int RecordError(int AOk, X509_STORE_CTX* AContext)
{
    if (AOk == 0)
    {
        auto* errors = static_cast<std::vector<TVerifyError>*>(X509_STORE_CTX_get_app_data(AContext));
        errors->push_back({X509_STORE_CTX_get_error_depth(AContext), X509_STORE_CTX_get_error(AContext)});
    }
    return 1;
}

DWORD TrustErrorOf(int AError)
{
    switch (AError)
    {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_CERT_REVOKED:
        return CERT_TRUST_IS_REVOKED;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
        return RevocationUnknown;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_INVALID_PURPOSE:
        return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
        return CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
        return CERT_TRUST_INVALID_NAME_CONSTRAINTS;
    default:
        // Anything else (bad signatures, malformed certificates) is never acceptable.
        return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    }
}

unsigned long VerifyFlagsOf(DWORD AChainFlags)
{
    if ((AChainFlags & CERT_CHAIN_REVOCATION_CHECK_END_CERT) != 0)
        return X509_V_FLAG_CRL_CHECK;
    if ((AChainFlags
            & (CERT_CHAIN_REVOCATION_CHECK_CHAIN | CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT))
        != 0)
        return X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
    return 0;
}

/// The trust status of each element of AChain from the recorded errors.
std::vector<CERT_TRUST_STATUS> TrustOf(STACK_OF(X509) * AChain,
    const std::vector<TVerifyError>& AErrors, DWORD AChainFlags)
{
    const int count = sk_X509_num(AChain);
    std::vector<CERT_TRUST_STATUS> status(static_cast<size_t>(count), CERT_TRUST_STATUS{});
    for (int index = 0; index < count; ++index)
    {
        if ((X509_get_extension_flags(sk_X509_value(AChain, index)) & EXFLAG_SS) != 0)
            status[static_cast<size_t>(index)].dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
    }
    const bool excludeRoot = (AChainFlags & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT) != 0
        && (AChainFlags & (CERT_CHAIN_REVOCATION_CHECK_END_CERT | CERT_CHAIN_REVOCATION_CHECK_CHAIN)) == 0;
    for (const TVerifyError& error : AErrors)
    {
        const int depth = std::clamp(error.Depth, 0, std::max(count - 1, 0));
        const DWORD trust = TrustErrorOf(error.Error);
        const bool atRoot = depth == count - 1 && (status[static_cast<size_t>(depth)].dwInfoStatus
                                                      & CERT_TRUST_IS_SELF_SIGNED) != 0;
        if (count == 0 || (excludeRoot && atRoot && trust == RevocationUnknown))
            continue;
        status[static_cast<size_t>(depth)].dwErrorStatus |= trust;
    }
    return status;
}

/// Contexts for the chain's elements: the caller's context (a new reference) first.
std::vector<PCCERT_CONTEXT> ElementContexts(PCCERT_CONTEXT ALeaf, STACK_OF(X509) * AChain)
{
    std::vector<PCCERT_CONTEXT> contexts{CertDuplicateCertificateContext(ALeaf)};
    for (int index = 1; index < sk_X509_num(AChain); ++index)
        contexts.push_back(NewCertContext(UpRef(sk_X509_value(AChain, index)), nullptr));
    return contexts;
}

using TX509StorePtr = std::unique_ptr<X509_STORE, TOpenSslFree<X509_STORE, X509_STORE_free>>;
using TStoreContextPtr = std::unique_ptr<X509_STORE_CTX, TOpenSslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;

// ---- the trust store -----------------------------------------------------------------------

/// What OpenSSL's default verify paths load the trust store from, as it is now: the bundle
/// file's name and bytes (a bundle rewritten in place counts as changed at once) and the
/// certificate directories with their modification times (certificates added or removed).
struct TTrustInputs
{
    std::string File;
    std::string FileBytes;
    std::string Directories;
    std::vector<std::filesystem::file_time_type> DirectoryTimes;

    bool operator==(const TTrustInputs&) const = default;
};

/// The value of the environment variable AName as OpenSSL reads it, else ADefault.
std::string TrustPath(const char* AName, const char* ADefault)
{
    const char* value = secure_getenv(AName);
    return value != nullptr ? value : ADefault;
}

std::string FileBytes(const std::string& APath)
{
    std::ifstream file(APath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TTrustInputs CurrentTrustInputs()
{
    TTrustInputs inputs;
    inputs.File = TrustPath(X509_get_default_cert_file_env(), X509_get_default_cert_file());
    inputs.FileBytes = FileBytes(inputs.File);
    inputs.Directories = TrustPath(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
    std::string_view rest = inputs.Directories;
    while (!rest.empty())
    {
        const size_t end = std::min(rest.find(':'), rest.size());
        std::error_code error;
        inputs.DirectoryTimes.push_back(std::filesystem::last_write_time(rest.substr(0, end), error));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return inputs;
}

/// The trust store shared by all chains; loaded again when its inputs have changed. OpenSSL's
/// stores may serve several verifications at once; each chain holds a reference of its own.
class TTrustStoreCache
{
public:
    /// A new reference to the store for the current inputs; null when none can be made.
    TX509StorePtr Get()
    {
        // Taken before the load: a change during the load only causes one more load later.
        TTrustInputs inputs = CurrentTrustInputs();
        const std::lock_guard lock(FLock);
        if (!FStore || !(inputs == FInputs))
        {
            TX509StorePtr store(X509_STORE_new());
            if (!store || X509_STORE_set_default_paths(store.get()) != 1)
                return nullptr;
            FStore = std::move(store);
            FInputs = std::move(inputs);
        }
        if (X509_STORE_up_ref(FStore.get()) != 1)
            return nullptr;
        return TX509StorePtr(FStore.get());
    }

private:
    std::mutex FLock;
    TTrustInputs FInputs;
    TX509StorePtr FStore;
};

TX509StorePtr TrustStore()
{
    static auto* cache = new TTrustStoreCache; // never destroyed: usable during process exit
    return cache->Get();
}

void FreeX509Stack(STACK_OF(X509) * AStack)
{
    sk_X509_pop_free(AStack, X509_free);
}

void FreeX509StackShallow(STACK_OF(X509) * AStack)
{
    sk_X509_free(AStack);
}

/// Runs OpenSSL's verifier over ACert; the chain it built (never empty) and the errors it met.
std::pair<STACK_OF(X509)*, std::vector<TVerifyError>> Verify(X509* ACert, TCertStore* AExtra,
    const FILETIME* ATime, DWORD AChainFlags)
{
    std::vector<TVerifyError> errors;
    const TX509StorePtr trust = TrustStore();
    const TStoreContextPtr context(X509_STORE_CTX_new());
    const std::unique_ptr<STACK_OF(X509), TOpenSslFree<STACK_OF(X509), FreeX509StackShallow>>
        untrusted(sk_X509_new_null());
    if (!trust || !context || !untrusted)
        return {nullptr, errors};
    if (AExtra != nullptr)
    {
        for (const TX509Ptr& cert : AExtra->Certificates)
            sk_X509_push(untrusted.get(), cert.get());
    }
    if (X509_STORE_CTX_init(context.get(), trust.get(), ACert, untrusted.get()) != 1)
        return {nullptr, errors};
    X509_STORE_CTX_set_verify_cb(context.get(), RecordError);
    X509_STORE_CTX_set_app_data(context.get(), &errors);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_flags(param, VerifyFlagsOf(AChainFlags));
    if (ATime != nullptr)
    {
        const uint64_t ticks = (static_cast<uint64_t>(ATime->dwHighDateTime) << 32) | ATime->dwLowDateTime;
        X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(ticks / 10000000u) - FileTimeEpochOffset);
    }
    if (X509_verify_cert(context.get()) < 0)
        errors.push_back({0, X509_V_ERR_UNSPECIFIED});
    STACK_OF(X509)* chain = X509_STORE_CTX_get1_chain(context.get());
    ERR_clear_error();
    if (chain == nullptr || sk_X509_num(chain) == 0)
    {
        FreeX509Stack(chain);
        chain = sk_X509_new_null();
        sk_X509_push(chain, UpRef(ACert).release());
    }
    return {chain, errors};
}

// ---- policies ------------------------------------------------------------------------------

TChainContext* FindChain(PCCERT_CHAIN_CONTEXT AChain)
{
    if (!LiveChains().Contains(AChain))
        return nullptr;
    return static_cast<TChainContext*>(const_cast<CERT_CHAIN_CONTEXT*>(AChain));
}

/// One chain error, the code the policy reports for it and what lets the caller accept it.
struct TPolicyRule
{
    DWORD TrustError;
    DWORD Code;
    DWORD IgnoreFlags;    ///< CERT_CHAIN_POLICY_PARA.dwFlags bits that accept it.
    DWORD IgnoreChecks;   ///< SSL fdwChecks bits that accept it.
};

// In the order in which they are reported: the first that applies wins.
constexpr TPolicyRule PolicyRules[] = {
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE, 0, 0},
    {CERT_TRUST_IS_REVOKED, CRYPT_E_REVOKED, 0, 0},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG,
        SECURITY_FLAG_IGNORE_UNKNOWN_CA},
    {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG,
        SECURITY_FLAG_IGNORE_UNKNOWN_CA},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, TRUST_E_BASIC_CONSTRAINTS,
        CERT_CHAIN_POLICY_IGNORE_INVALID_BASIC_CONSTRAINTS_FLAG, 0},
    {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG,
        SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE, CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG,
        SECURITY_FLAG_IGNORE_WRONG_USAGE},
    {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, CERT_E_CRITICAL,
        CERT_CHAIN_POLICY_IGNORE_NOT_SUPPORTED_CRITICAL_EXT_FLAG, 0},
    {CERT_TRUST_INVALID_NAME_CONSTRAINTS, CERT_E_INVALID_NAME,
        CERT_CHAIN_POLICY_IGNORE_INVALID_NAME_FLAG, 0},
};

/// The policy flag that accepts unknown revocation status at element AIndex of ACount.
DWORD RevocationIgnoreFlag(size_t AIndex, size_t ACount)
{
    if (AIndex == 0)
        return CERT_CHAIN_POLICY_IGNORE_END_REV_UNKNOWN_FLAG;
    return AIndex + 1 == ACount ? CERT_CHAIN_POLICY_IGNORE_ROOT_REV_UNKNOWN_FLAG
                                : CERT_CHAIN_POLICY_IGNORE_CA_REV_UNKNOWN_FLAG;
}

struct TPolicyResult
{
    DWORD Error = 0;
    LONG Element = -1;
};

/// The first chain error the caller has not accepted.
TPolicyResult ChainError(const CERT_SIMPLE_CHAIN& AChain, DWORD AFlags, DWORD AChecks)
{
    for (const TPolicyRule& rule : PolicyRules)
    {
        if ((AFlags & rule.IgnoreFlags) != 0 || (AChecks & rule.IgnoreChecks) != 0)
            continue;
        for (DWORD index = 0; index < AChain.cElement; ++index)
        {
            if ((AChain.rgpElement[index]->TrustStatus.dwErrorStatus & rule.TrustError) != 0)
                return {rule.Code, static_cast<LONG>(index)};
        }
    }
    return {};
}

TPolicyResult RevocationError(const CERT_SIMPLE_CHAIN& AChain, DWORD AFlags, DWORD AChecks)
{
    if ((AChecks & SECURITY_FLAG_IGNORE_REVOCATION) != 0)
        return {};
    for (DWORD index = 0; index < AChain.cElement; ++index)
    {
        if ((AChain.rgpElement[index]->TrustStatus.dwErrorStatus & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) != 0
            && (AFlags & RevocationIgnoreFlag(index, AChain.cElement)) == 0)
            return {CRYPT_E_REVOCATION_OFFLINE, static_cast<LONG>(index)};
    }
    return {};
}

/// False when the certificate names enhanced key usages and AUsage is not among them.
bool AllowsUsage(X509* ACert, const char* AUsage)
{
    int critical = 0;
    const std::unique_ptr<EXTENDED_KEY_USAGE, TOpenSslFree<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>>
        usage(static_cast<EXTENDED_KEY_USAGE*>(
            X509_get_ext_d2i(ACert, NID_ext_key_usage, &critical, nullptr)));
    ERR_clear_error();
    if (!usage)
        return critical == -1;
    for (int index = 0; index < sk_ASN1_OBJECT_num(usage.get()); ++index)
    {
        const std::string oid = OidText(sk_ASN1_OBJECT_value(usage.get(), index));
        if (oid == AUsage || oid == "2.5.29.37.0")
            return true;
    }
    return false;
}

/// RFC 6125 matching of a server name: an IP address only against IP address alternative
/// names; a host name against DNS names (a wildcard only as the whole leftmost label), or
/// against the common name when the certificate has no DNS names.
bool MatchesServerName(X509* ACert, std::u16string_view AServerName)
{
    std::string name = Utf16ToUtf8(AServerName);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(name.c_str()))
    {
        const bool match = X509_check_ip(ACert, ASN1_STRING_get0_data(address),
                               static_cast<size_t>(ASN1_STRING_length(address)), 0) == 1;
        ASN1_OCTET_STRING_free(address);
        return match;
    }
    ERR_clear_error();
    if (name.back() == '.')
        name.pop_back();
    const bool match = X509_check_host(ACert, name.c_str(), name.size(),
                           X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
    ERR_clear_error();
    return match;
}

/// The SSL policy's checks of the end certificate: its usage, then its name.
TPolicyResult SslError(X509* ALeaf, const SSL_EXTRA_CERT_CHAIN_POLICY_PARA* AExtra, DWORD AFlags)
{
    const DWORD checks = AExtra == nullptr ? 0 : AExtra->fdwChecks;
    const bool client = AExtra != nullptr && AExtra->dwAuthType == AUTHTYPE_CLIENT;
    if ((AFlags & CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG) == 0
        && (checks & SECURITY_FLAG_IGNORE_WRONG_USAGE) == 0
        && !AllowsUsage(ALeaf, client ? szOID_PKIX_KP_CLIENT_AUTH : szOID_PKIX_KP_SERVER_AUTH))
        return {CERT_E_WRONG_USAGE, 0};
    if (AExtra != nullptr && AExtra->pwszServerName != nullptr
        && (checks & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) == 0
        && !MatchesServerName(ALeaf, AExtra->pwszServerName))
        return {CERT_E_CN_NO_MATCH, 0};
    return {};
}

} // namespace

BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
    FILETIME* pTime, HCERTSTORE hAdditionalStore, CERT_CHAIN_PARA* pChainPara, DWORD dwFlags,
    void* pvReserved, PCCERT_CHAIN_CONTEXT* ppChainContext)
{
    (void)hChainEngine;
    (void)pChainPara;
    if (ppChainContext == nullptr || pvReserved != nullptr)
        return Fail(E_INVALIDARG);
    *ppChainContext = nullptr;
    const TCertContext* leaf = FindCertContext(pCertContext);
    if (leaf == nullptr)
        return FALSE;
    TCertStore* extra = nullptr;
    if (hAdditionalStore != nullptr && (extra = FindCertStore(hAdditionalStore)) == nullptr)
        return Fail(E_INVALIDARG);
    auto [chain, errors] = Verify(leaf->Certificate(), extra, pTime, dwFlags);
    if (chain == nullptr)
        return Fail(NTE_NO_MEMORY);
    const std::unique_ptr<STACK_OF(X509), TOpenSslFree<STACK_OF(X509), FreeX509Stack>> owner(chain);
    *ppChainContext = new TChainContext(ElementContexts(pCertContext, chain),
        TrustOf(chain, errors, dwFlags));
    return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext)
{
    delete FindChain(pChainContext);
}

BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
    CERT_CHAIN_POLICY_PARA* pPolicyPara, CERT_CHAIN_POLICY_STATUS* pPolicyStatus)
{
    const auto policy = reinterpret_cast<uintptr_t>(pszPolicyOID);
    const TChainContext* chain = FindChain(pChainContext);
    if (chain == nullptr || pPolicyStatus == nullptr || pPolicyStatus->cbSize < sizeof(*pPolicyStatus)
        || (pPolicyPara != nullptr && pPolicyPara->cbSize < sizeof(*pPolicyPara)))
        return Fail(E_INVALIDARG);
    if (policy != PolicyBase && policy != PolicySsl)
        return Fail(CRYPT_E_NOT_FOUND);
    const DWORD flags = pPolicyPara == nullptr ? 0 : pPolicyPara->dwFlags;
    const auto* extra = policy != PolicySsl || pPolicyPara == nullptr
        ? nullptr
        : static_cast<const SSL_EXTRA_CERT_CHAIN_POLICY_PARA*>(pPolicyPara->pvExtraPolicyPara);
    if (extra != nullptr && extra->cbSize < sizeof(*extra))
        return Fail(E_INVALIDARG);
    const DWORD checks = extra == nullptr ? 0 : extra->fdwChecks;
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    TPolicyResult result = ChainError(simple, flags, checks);
    if (result.Error == 0 && policy == PolicySsl)
        result = SslError(CertContextCertificate(simple.rgpElement[0]->pCertContext), extra, flags);
    if (result.Error == 0)
        result = RevocationError(simple, flags, checks);
    pPolicyStatus->dwError = result.Error;
    pPolicyStatus->lChainIndex = result.Error == 0 ? -1 : 0;
    pPolicyStatus->lElementIndex = result.Element;
    return TRUE;
}

} // namespace ix::os
