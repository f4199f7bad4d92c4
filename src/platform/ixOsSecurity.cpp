#include "platform/ixOsSecurity.h"

#include "platform/internal/ixOsSecurityPackage.h"
#include "platform/internal/ixOsModuleExports.h"
#include "platform/internal/ixOsSecurityTls.h"
#include "platform/ixOsKernel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ix::os {

namespace {

using internal::TTlsContext;
using internal::TTlsCredential;
using internal::TTlsStepResult;

using internal::THandleTable;
using internal::NeverExpires;
using internal::AllocateContextBuffer;
using internal::BuffersOf;
using internal::InputToken;
using internal::OutputToken;

std::mutex BufferLock;
/// The buffers made by AllocateContextBuffer and their sizes.
std::unordered_map<void*, size_t> Buffers;

// ---- handles -----------------------------------------------------------------------------------

THandleTable<TTlsCredential, 0x43524544>& Credentials()  // "CRED"
{
    static THandleTable<TTlsCredential, 0x43524544> table;
    return table;
}

THandleTable<TTlsContext, 0x43545854>& Contexts()  // "CTXT"
{
    static THandleTable<TTlsContext, 0x43545854> table;
    return table;
}

// ---- packages ----------------------------------------------------------------------------------

struct TPackage
{
    const char* Name;
    const char* Comment;
    ULONG Capabilities;
    USHORT RpcId;
    ULONG MaxToken;
};

constexpr std::array<TPackage, 2> Packages{{
    {UNISP_NAME_A, "Schannel Security Package", 0x000107B3, 14, 24576},
    {NTLMSP_NAME_A, "NTLM Security Package", 0x00082B37, 10, 2888},
}};

bool IsSchannel(const char* APackage) noexcept
{
    return APackage != nullptr
        && (std::strcmp(APackage, UNISP_NAME_A) == 0 || std::strcmp(APackage, SCHANNEL_NAME_A) == 0);
}

// ---- buffer descriptions -----------------------------------------------------------------------

/// Reports unprocessed (SECBUFFER_EXTRA) or missing (SECBUFFER_MISSING) bytes in the first
/// empty input buffer, as Schannel does in the second buffer of its input.
void ReportInputRest(PSecBufferDesc AInput, const TTlsStepResult& AResult) noexcept
{
    if (AResult.Extra == 0 && AResult.Missing == 0)
        return;
    std::span<SecBuffer> buffers = BuffersOf(AInput);
    const auto empty = std::find_if(buffers.begin(), buffers.end(),
        [](const SecBuffer& AItem) { return AItem.BufferType == SECBUFFER_EMPTY; });
    if (empty == buffers.end())
        return;
    if (AResult.Extra != 0)
        *empty = {static_cast<ULONG>(AResult.Extra), SECBUFFER_EXTRA, nullptr};
    else
        *empty = {static_cast<ULONG>(AResult.Missing), SECBUFFER_MISSING, nullptr};
}

/// The attribute bits of a returned context: the same bit means the same in requests and
/// results for everything this package provides.
struct TAttributeBits
{
    ULONG Provided;
    ULONG AllocatedMemory;
    ULONG ExtendedError;
};

constexpr TAttributeBits ClientAttributes{ISC_REQ_REPLAY_DETECT | ISC_REQ_SEQUENCE_DETECT
        | ISC_REQ_CONFIDENTIALITY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR,
    ISC_RET_ALLOCATED_MEMORY, ISC_RET_EXTENDED_ERROR};
constexpr TAttributeBits ServerAttributes{ASC_REQ_REPLAY_DETECT | ASC_REQ_SEQUENCE_DETECT
        | ASC_REQ_CONFIDENTIALITY | ASC_REQ_STREAM | ASC_REQ_EXTENDED_ERROR | ASC_REQ_MUTUAL_AUTH,
    ASC_RET_ALLOCATED_MEMORY, ASC_RET_EXTENDED_ERROR};

/// Hands a step's results to the caller's buffers. A failure's alert goes out only when
/// extended errors were asked for.
SECURITY_STATUS DeliverStep(SECURITY_STATUS AStatus, TTlsStepResult& AResult,
    ULONG AContextReq, const TAttributeBits& ABits, PSecBufferDesc pInput,
    PSecBufferDesc pOutput, ULONG* pfContextAttr, PTimeStamp ptsExpiry)
{
    const bool failed = AStatus < 0 && AStatus != SEC_E_INCOMPLETE_MESSAGE;
    const bool extended = (AContextReq & ABits.ExtendedError) != 0;
    if (failed && !extended)
        AResult.Token.clear();
    const bool allocate = (AContextReq & ISC_REQ_ALLOCATE_MEMORY) != 0;
    const SECURITY_STATUS outputStatus = OutputToken(pOutput, allocate, AResult.Token);
    if (outputStatus != SEC_E_OK)
        return outputStatus;
    ReportInputRest(pInput, AResult);
    if (pfContextAttr != nullptr)
        *pfContextAttr = (AContextReq & ABits.Provided) | (allocate ? ABits.AllocatedMemory : 0)
            | (failed && extended ? ABits.ExtendedError : 0);
    if (ptsExpiry != nullptr)
        *ptsExpiry = NeverExpires;
    return AStatus;
}

bool IsNoHandle(const SecHandle* AHandle) noexcept
{
    return AHandle == nullptr || (AHandle->dwLower == 0 && AHandle->dwUpper == 0);
}

/// One handshake call of either side: finds or makes the context and runs the step. A first
/// call that fails leaves no context behind.
SECURITY_STATUS ContextStep(PCredHandle phCredential, PCtxtHandle phContext,
    const char* ATargetName, ULONG AContextReq, const TAttributeBits& ABits,
    PSecBufferDesc pInput, PCtxtHandle phNewContext, PSecBufferDesc pOutput,
    ULONG* pfContextAttr, PTimeStamp ptsExpiry)
{
    const std::shared_ptr<TTlsCredential> credential = Credentials().Find(phCredential);
    const bool first = IsNoHandle(phContext);
    std::shared_ptr<TTlsContext> context = first ? nullptr : Contexts().Find(phContext);
    if ((first && credential == nullptr) || (!first && context == nullptr))
        return SEC_E_INVALID_HANDLE;
    std::span<const uint8_t> input;
    if (!InputToken(pInput, input))
        return SEC_E_INVALID_TOKEN;
    if (first)
    {
        std::unique_ptr<TTlsContext> created;
        const SECURITY_STATUS status = TTlsContext::Create(*credential, ATargetName,
            (AContextReq & ASC_REQ_MUTUAL_AUTH) != 0 && credential->IsServer(), created);
        if (status != SEC_E_OK)
            return status;
        context = std::move(created);
    }
    TTlsStepResult result;
    const SECURITY_STATUS status = DeliverStep(context->Step(credential.get(), input, result),
        result, AContextReq, ABits, pInput, pOutput, pfContextAttr, ptsExpiry);
    if (first && status >= 0 && phNewContext != nullptr)
        *phNewContext = Contexts().Add(std::move(context));
    return status;
}

// ---- the function table's entries -------------------------------------------------------------

SECURITY_STATUS EnumerateSecurityPackagesA(ULONG* pcPackages, PSecPkgInfoA* ppPackageInfo)
{
    if (pcPackages == nullptr || ppPackageInfo == nullptr)
        return SEC_E_INVALID_PARAMETER;
    // One block: the array, then the texts it points to.
    size_t size = sizeof(SecPkgInfoA) * Packages.size();
    for (const TPackage& item : Packages)
        size += std::strlen(item.Name) + std::strlen(item.Comment) + 2;
    auto* info = static_cast<SecPkgInfoA*>(AllocateContextBuffer(size));
    if (info == nullptr)
        return SEC_E_INSUFFICIENT_MEMORY;
    char* text = reinterpret_cast<char*>(info + Packages.size());
    const auto store = [&text](const char* AValue) {
        char* start = text;
        text = std::strcpy(text, AValue) + std::strlen(AValue) + 1;
        return start;
    };
    for (size_t i = 0; i < Packages.size(); ++i)
    {
        const TPackage& item = Packages[i];
        info[i].fCapabilities = item.Capabilities;
        info[i].wVersion = 1;
        info[i].wRPCID = item.RpcId;
        info[i].cbMaxToken = item.MaxToken;
        info[i].Name = store(item.Name);
        info[i].Comment = store(item.Comment);
    }
    *pcPackages = static_cast<ULONG>(Packages.size());
    *ppPackageInfo = info;
    return SEC_E_OK;
}

SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR*, SEC_CHAR* pszPackage,
    ULONG fCredentialUse, void*, void* pAuthData, SEC_GET_KEY_FN, void*,
    PCredHandle phCredential, PTimeStamp ptsExpiry)
{
    if (phCredential == nullptr)
        return SEC_E_INVALID_PARAMETER;
    if (pszPackage != nullptr && std::strcmp(pszPackage, NTLMSP_NAME_A) == 0)
        return internal::NtlmAcquireCredentialsHandle(fCredentialUse, pAuthData, phCredential, ptsExpiry);
    if (!IsSchannel(pszPackage))
        return SEC_E_SECPKG_NOT_FOUND;
    if (fCredentialUse != SECPKG_CRED_INBOUND && fCredentialUse != SECPKG_CRED_OUTBOUND)
        return SEC_E_UNKNOWN_CREDENTIALS;
    std::shared_ptr<TTlsCredential> credential;
    const SECURITY_STATUS status = TTlsCredential::Create(
        fCredentialUse == SECPKG_CRED_INBOUND, pAuthData, credential);
    if (status != SEC_E_OK)
        return status;
    *phCredential = Credentials().Add(std::move(credential));
    if (ptsExpiry != nullptr)
        *ptsExpiry = NeverExpires;
    return SEC_E_OK;
}

SECURITY_STATUS FreeCredentialsHandle(PCredHandle phCredential)
{
    if (internal::IsNtlmHandle(phCredential))
        return internal::NtlmFreeCredentialsHandle(phCredential);
    return Credentials().Remove(phCredential) ? SEC_E_OK : SEC_E_INVALID_HANDLE;
}

SECURITY_STATUS InitializeSecurityContextA(PCredHandle phCredential, PCtxtHandle phContext,
    SEC_CHAR* pszTargetName, ULONG fContextReq, ULONG, ULONG, PSecBufferDesc pInput, ULONG,
    PCtxtHandle phNewContext, PSecBufferDesc pOutput, ULONG* pfContextAttr, PTimeStamp ptsExpiry)
{
    if (internal::IsNtlmHandle(phCredential) || internal::IsNtlmHandle(phContext))
        return internal::NtlmInitializeSecurityContext(phCredential, phContext, fContextReq, pInput, phNewContext,
            pOutput, pfContextAttr, ptsExpiry);
    const std::shared_ptr<TTlsCredential> credential = Credentials().Find(phCredential);
    if (credential != nullptr && credential->IsServer())
        return SEC_E_UNKNOWN_CREDENTIALS;
    return ContextStep(phCredential, phContext, pszTargetName, fContextReq, ClientAttributes,
        pInput, phNewContext, pOutput, pfContextAttr, ptsExpiry);
}

SECURITY_STATUS AcceptSecurityContext(PCredHandle phCredential, PCtxtHandle phContext,
    PSecBufferDesc pInput, ULONG fContextReq, ULONG, PCtxtHandle phNewContext,
    PSecBufferDesc pOutput, ULONG* pfContextAttr, PTimeStamp ptsExpiry)
{
    const std::shared_ptr<TTlsCredential> credential = Credentials().Find(phCredential);
    if (credential != nullptr && !credential->IsServer())
        return SEC_E_UNKNOWN_CREDENTIALS;
    return ContextStep(phCredential, phContext, nullptr, fContextReq, ServerAttributes, pInput,
        phNewContext, pOutput, pfContextAttr, ptsExpiry);
}

SECURITY_STATUS CompleteAuthToken(PCtxtHandle phContext, PSecBufferDesc)
{
    if (internal::IsNtlmHandle(phContext))
        return internal::NtlmCompleteAuthToken(phContext);
    // Schannel contexts have no token to complete.
    return Contexts().Find(phContext) != nullptr ? SEC_E_UNSUPPORTED_FUNCTION : SEC_E_INVALID_HANDLE;
}

SECURITY_STATUS DeleteSecurityContext(PCtxtHandle phContext)
{
    if (internal::IsNtlmHandle(phContext))
        return internal::NtlmDeleteSecurityContext(phContext);
    return Contexts().Remove(phContext) ? SEC_E_OK : SEC_E_INVALID_HANDLE;
}

SECURITY_STATUS ApplyControlToken(PCtxtHandle phContext, PSecBufferDesc pInput)
{
    const std::shared_ptr<TTlsContext> context = Contexts().Find(phContext);
    if (context == nullptr)
        return SEC_E_INVALID_HANDLE;
    const std::span<SecBuffer> buffers = BuffersOf(pInput);
    DWORD token = 0;
    if (buffers.size() != 1 || buffers[0].BufferType != SECBUFFER_TOKEN
        || buffers[0].cbBuffer < sizeof(token) || buffers[0].pvBuffer == nullptr)
        return SEC_E_INVALID_TOKEN;
    std::memcpy(&token, buffers[0].pvBuffer, sizeof(token));
    if (token != SCHANNEL_SHUTDOWN)
        return SEC_E_UNSUPPORTED_FUNCTION;
    context->RequestShutdown();
    return SEC_E_OK;
}

SECURITY_STATUS QueryContextAttributesA(PCtxtHandle phContext, ULONG ulAttribute, void* pBuffer)
{
    const std::shared_ptr<TTlsContext> context = Contexts().Find(phContext);
    if (context == nullptr)
        return SEC_E_INVALID_HANDLE;
    if (pBuffer == nullptr)
        return SEC_E_INVALID_PARAMETER;
    switch (ulAttribute)
    {
    case SECPKG_ATTR_STREAM_SIZES:
        return context->GetStreamSizes(*static_cast<SecPkgContext_StreamSizes*>(pBuffer));
    case SECPKG_ATTR_REMOTE_CERT_CONTEXT:
        return context->GetRemoteCertificate(*static_cast<PCCERT_CONTEXT*>(pBuffer));
    case SECPKG_ATTR_CONNECTION_INFO:
        return context->GetConnectionInfo(*static_cast<SecPkgContext_ConnectionInfo*>(pBuffer));
    default:
        return SEC_E_UNSUPPORTED_FUNCTION;
    }
}

SECURITY_STATUS FreeContextBuffer(void* pvContextBuffer)
{
    if (pvContextBuffer == nullptr)
        return SEC_E_OK;
    size_t size = 0;
    {
        const std::lock_guard<std::mutex> lock(BufferLock);
        const auto found = Buffers.find(pvContextBuffer);
        if (found == Buffers.end())
            return SEC_E_INVALID_HANDLE;
        size = found->second;
        Buffers.erase(found);
    }
    // A token may answer a login (an NTLM AUTHENTICATE message).
    SecureZeroMemory(pvContextBuffer, size);
    std::free(pvContextBuffer);
    return SEC_E_OK;
}

SECURITY_STATUS EncryptMessage(PCtxtHandle phContext, ULONG, PSecBufferDesc pMessage, ULONG)
{
    const std::shared_ptr<TTlsContext> context = Contexts().Find(phContext);
    if (context == nullptr)
        return SEC_E_INVALID_HANDLE;
    return context->Encrypt(BuffersOf(pMessage));
}

SECURITY_STATUS DecryptMessage(PCtxtHandle phContext, PSecBufferDesc pMessage, ULONG,
    ULONG* pfQOP)
{
    const std::shared_ptr<TTlsContext> context = Contexts().Find(phContext);
    if (context == nullptr)
        return SEC_E_INVALID_HANDLE;
    if (pfQOP != nullptr)
        *pfQOP = 0;
    return context->Decrypt(BuffersOf(pMessage));
}

SecurityFunctionTableA MakeFunctionTable() noexcept
{
    SecurityFunctionTableA table{};
    table.dwVersion = SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION;
    table.EnumerateSecurityPackagesA = EnumerateSecurityPackagesA;
    table.AcquireCredentialsHandleA = AcquireCredentialsHandleA;
    table.FreeCredentialsHandle = FreeCredentialsHandle;
    table.InitializeSecurityContextA = InitializeSecurityContextA;
    table.AcceptSecurityContext = AcceptSecurityContext;
    table.CompleteAuthToken = CompleteAuthToken;
    table.DeleteSecurityContext = DeleteSecurityContext;
    table.ApplyControlToken = ApplyControlToken;
    table.QueryContextAttributesA = QueryContextAttributesA;
    table.FreeContextBuffer = FreeContextBuffer;
    table.EncryptMessage = EncryptMessage;
    table.DecryptMessage = DecryptMessage;
    return table;
}

}  // namespace

namespace internal {

void* AllocateContextBuffer(size_t ASize)
{
    const size_t size = std::max<size_t>(ASize, 1);
    void* memory = std::malloc(size);
    if (memory != nullptr)
    {
        const std::lock_guard<std::mutex> lock(BufferLock);
        Buffers.emplace(memory, size);
    }
    return memory;
}

std::span<SecBuffer> BuffersOf(PSecBufferDesc ADesc) noexcept
{
    if (ADesc == nullptr || ADesc->pBuffers == nullptr)
        return {};
    return {ADesc->pBuffers, ADesc->cBuffers};
}

bool InputToken(PSecBufferDesc AInput, std::span<const uint8_t>& AToken) noexcept
{
    AToken = {};
    for (const SecBuffer& item : BuffersOf(AInput))
        if (item.BufferType == SECBUFFER_TOKEN)
        {
            if (item.pvBuffer == nullptr && item.cbBuffer != 0)
                return false;
            AToken = {static_cast<const uint8_t*>(item.pvBuffer), item.cbBuffer};
            return true;
        }
    return true;
}

SECURITY_STATUS OutputToken(PSecBufferDesc AOutput, bool AAllocate, const std::vector<uint8_t>& AToken)
{
    std::span<SecBuffer> buffers = BuffersOf(AOutput);
    if (buffers.empty() || buffers[0].BufferType != SECBUFFER_TOKEN)
        return AToken.empty() ? SEC_E_OK : SEC_E_INVALID_TOKEN;
    SecBuffer& token = buffers[0];
    if (AAllocate)
    {
        token.pvBuffer = nullptr;
        if (!AToken.empty() && (token.pvBuffer = AllocateContextBuffer(AToken.size())) == nullptr)
            return SEC_E_INSUFFICIENT_MEMORY;
    }
    else if (token.cbBuffer < AToken.size() || (token.pvBuffer == nullptr && !AToken.empty()))
        return SEC_E_BUFFER_TOO_SMALL;
    if (!AToken.empty())
        std::memcpy(token.pvBuffer, AToken.data(), AToken.size());
    token.cbBuffer = static_cast<ULONG>(AToken.size());
    return SEC_E_OK;
}

}  // namespace internal

PSecurityFunctionTableA InitSecurityInterfaceA()
{
    static SecurityFunctionTableA table = MakeFunctionTable();
    return &table;
}

namespace internal {

std::span<const TModuleExport> SecurityModuleExports() noexcept
{
    static const std::array<TModuleExport, 1> exports{{
        {"InitSecurityInterfaceA", reinterpret_cast<FARPROC>(&InitSecurityInterfaceA)},
    }};
    return exports;
}

}  // namespace internal

}  // namespace ix::os
