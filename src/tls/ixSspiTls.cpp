#include "tls/ixSspiTls.h"

#include "core/ixDateUtils.h"
#include "platform/ixOsKernel.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <utility>

namespace ix {

namespace {

/// The package names in preference order; PackageIndex points into this table.
constexpr std::array<const char*, 4> PackageNames{
    "Microsoft Unified Security Protocol Provider", "Microsoft SSL 3.0", "NTLM", "Negotiate"};

/// Requirements of every client context call: sequence and replay detection,
/// confidentiality, memory allocated by the package, extended errors, stream.
constexpr os::ULONG ClientContextRequirements = 0xC11C;
/// The same for the server side.
constexpr os::ULONG ServerContextRequirements = 0x1811C;

struct TProtocolBit
{
    TixTlsFlag Flag;
    os::DWORD Bit;
};

constexpr std::array<TProtocolBit, 6> ProtocolBits{{
    {tfUseSSL2, os::SP_PROT_SSL2_CLIENT},
    {tfUseSSL3, os::SP_PROT_SSL3_CLIENT},
    {tfUseTLS, os::SP_PROT_TLS1_CLIENT},
    {tfUseTLS11, os::SP_PROT_TLS1_1_CLIENT},
    {tfUseTLS12, os::SP_PROT_TLS1_2_CLIENT},
    {tfUseTLS13, os::SP_PROT_TLS1_3_CLIENT},
}};

/// The framework's default float-to-text conversion (15 significant digits).
std::string FloatText(double AValue)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.15g", AValue);
    return text.data();
}

/// The bytes of AData from its position to its end; the position is left where it was.
std::vector<uint8_t> RemainingBytes(TStream& AData)
{
    const int64_t position = AData.GetPosition();
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(AData.GetSize() - position, 0)));
    if (!bytes.empty())
        AData.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    AData.SetPosition(position);
    return bytes;
}

/// Empties AStream, writes ABytes into it and rewinds it.
void ReplaceContent(TStream& AStream, std::span<const uint8_t> ABytes)
{
    AStream.SetSize(0);
    AStream.SetPosition(0);
    if (!ABytes.empty())
        AStream.WriteBuffer(ABytes.data(), static_cast<int64_t>(ABytes.size()));
    AStream.SetPosition(0);
}

std::span<const uint8_t> BytesOf(const os::SecBuffer& ABuffer) noexcept
{
    return {static_cast<const uint8_t*>(ABuffer.pvBuffer), ABuffer.cbBuffer};
}

std::span<uint8_t> MutableBytesOf(const os::SecBuffer& ABuffer) noexcept
{
    return {static_cast<uint8_t*>(ABuffer.pvBuffer), ABuffer.cbBuffer};
}

/// Raises the error a failed CryptoAPI call left, with ACode's text as the fallback.
[[noreturn]] void RaiseLastError(int32_t ACode)
{
    const os::DWORD error = os::GetLastError();
    RaiseSspiError(error != 0 ? static_cast<int32_t>(error) : ACode, ACode);
}

struct TCertContextFree
{
    void operator()(os::PCCERT_CONTEXT AValue) const noexcept { os::CertFreeCertificateContext(AValue); }
};
struct TChainFree
{
    void operator()(os::PCCERT_CHAIN_CONTEXT AValue) const noexcept { os::CertFreeCertificateChain(AValue); }
};

/// ATargetName in UTF-16 with the ANSI code page, zero-terminated. Raises (20) when the
/// memory for it cannot be had.
std::u16string WideTargetName(const std::string& AName)
{
    try
    {
        std::u16string wide(AName.size() + 1, u'\0');
        const int count = os::MultiByteToWideChar(os::CP_ACP, 0, AName.c_str(),
            static_cast<int>(AName.size() + 1), wide.data(), static_cast<int>(wide.size()));
        wide.resize(count > 0 ? static_cast<size_t>(count) : 1);
        return wide;
    }
    catch (const std::bad_alloc&)
    {
        RaiseSspiError(20);
    }
}

}  // namespace

// ---- flag arithmetic ---------------------------------------------------------------------------

os::DWORD EnabledProtocolBits(TixTlsFlags AFlags) noexcept
{
    os::DWORD bits = 0;
    for (const TProtocolBit& item : ProtocolBits)
        if (item.Flag != tfUseTLS13 && AFlags.Includes(item.Flag))
            bits |= item.Bit;
    // SSL 2 is left out whenever TLS 1.2 is asked for.
    if (AFlags.Includes(tfUseTLS12))
        bits &= ~os::SP_PROT_SSL2_CLIENT;
    return bits;
}

os::DWORD DisabledProtocolBits(TixTlsFlags AFlags) noexcept
{
    os::DWORD bits = 0;
    for (const TProtocolBit& item : ProtocolBits)
        if (!AFlags.Includes(item.Flag))
            bits |= item.Bit;
    return bits;
}

os::DWORD ChainFlagsOf(TixCertificateChainVerifyFlags AFlags) noexcept
{
    os::DWORD flags = 0;
    if (AFlags.Includes(rfCheckEndOnly))
        flags = os::CERT_CHAIN_REVOCATION_CHECK_END_CERT;
    else if (AFlags.Includes(rfCheckAll))
        flags = os::CERT_CHAIN_REVOCATION_CHECK_CHAIN;
    else if (AFlags.Includes(rfExcludeRoot))
        flags = os::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    const std::array<std::pair<TixCertificateChainVerifyFlag, os::DWORD>, 5> others{{
        {rfCacheEndCert, os::CERT_CHAIN_CACHE_END_CERT},
        {rfCheckCacheOnly, os::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY},
        {rfUseCacheOnlyUrlRetrieval, os::CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL},
        {rfDisableRootAutoUpdate, os::CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE},
        {rfAccumulativeTimeout, os::CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT},
    }};
    for (const auto& [flag, bit] : others)
        if (AFlags.Includes(flag))
            flags |= bit;
    return flags;
}

os::DWORD PolicyChecksOf(TixCertificateVerifyFlags AFlags) noexcept
{
    const std::array<std::pair<TixCertificateVerifyFlag, os::DWORD>, 5> checks{{
        {cfIgnoreCommonNameInvalid, os::SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
        {cfIgnoreDateInvalid, os::SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
        {cfIgnoreUnknownAuthority, os::SECURITY_FLAG_IGNORE_UNKNOWN_CA},
        {cfIgnoreRevocation, os::SECURITY_FLAG_IGNORE_REVOCATION},
        {cfIgnoreWrongUsage, os::SECURITY_FLAG_IGNORE_WRONG_USAGE},
    }};
    os::DWORD flags = 0;
    for (const auto& [flag, bit] : checks)
        if (AFlags.Includes(flag))
            flags |= bit;
    return flags;
}

// ---- TixSchannelCredentials --------------------------------------------------------------------

void TixSchannelCredentials::Reset(bool AUseCurrentForm, os::DWORD AFlags)
{
    FUseCurrentForm = AUseCurrentForm;
    FLegacy = {};
    FCurrent = {};
    FTlsParameters = {};
    FCertificates.clear();
    FLegacy.dwVersion = os::SCHANNEL_CRED_VERSION;
    FLegacy.dwFlags = AFlags;
    FCurrent.dwVersion = os::SCH_CREDENTIALS_VERSION;
    FCurrent.dwFlags = AFlags;
}

void TixSchannelCredentials::SetDisabledProtocols(os::DWORD ABits) noexcept
{
    FTlsParameters.grbitDisabledProtocols = ABits;
    FCurrent.cTlsParameters = 1;
    FCurrent.pTlsParameters = &FTlsParameters;
}

void TixSchannelCredentials::SetCertificates(const TixCertificateList& ACerts)
{
    FCertificates.clear();
    for (int32_t i = 0; i < ACerts.Count(); ++i)
        FCertificates.push_back(ACerts.Items(i)->GetContext());
    const auto count = static_cast<os::DWORD>(FCertificates.size());
    os::PCCERT_CONTEXT* array = FCertificates.empty() ? nullptr : FCertificates.data();
    FLegacy.cCreds = count;
    FLegacy.paCred = array;
    FCurrent.cCreds = count;
    FCurrent.paCred = array;
}

void* TixSchannelCredentials::AuthData() noexcept
{
    return FUseCurrentForm ? static_cast<void*>(&FCurrent) : static_cast<void*>(&FLegacy);
}

// ---- TixTlsSspi --------------------------------------------------------------------------------

TixTlsSspi::TixTlsSspi()
    : FTLSFlags{tfUseTLS, tfUseTLS11, tfUseTLS12}
{
    FPackageIndex = FindPackage();
}

TixTlsSspi::~TixTlsSspi()
{
    FPeerCertificate.reset();
    DeleteContext();
    FreeCredentials();
}

int32_t TixTlsSspi::FindPackage()
{
    const os::PSecurityFunctionTableA table = GetFunctionTable();
    os::ULONG count = 0;
    TixContextBuffer packages(table);
    const os::SECURITY_STATUS status = table->EnumerateSecurityPackagesA(&count,
        reinterpret_cast<os::PSecPkgInfoA*>(packages.Receive()));
    if (status < 0)
        RaiseSspiError(status, -6);
    const auto* info = static_cast<const os::SecPkgInfoA*>(packages.Get());
    size_t best = PackageNames.size();
    for (os::ULONG i = 0; i < count; ++i)
        for (size_t index = 0; index < best; ++index)
            if (std::string_view(info[i].Name) == PackageNames[index])
                best = index;
    if (best == PackageNames.size())
        RaiseSspiError(-5);
    return static_cast<int32_t>(best);
}

std::string TixTlsSspi::GetPackageName() const
{
    if (!Trim(FSecurityPackage).empty())
        return FSecurityPackage;
    return PackageNames[static_cast<size_t>(FPackageIndex)];
}

void TixTlsSspi::FillSchannelCred(TixSchannelCredentials& ACred) const
{
    os::DWORD flags = os::SCH_CRED_MANUAL_CRED_VALIDATION | os::SCH_CRED_NO_DEFAULT_CREDS;
    if (FSendRootCertificate)
        flags |= os::SCH_SEND_ROOT_CERT;
    if (FUseStrongCryptoAlgorithms)
        flags |= os::SCH_USE_STRONG_CRYPTO;
    ACred.Reset(UseSchCredentialsForm, flags);
    if (!ACred.IsCurrentForm())
        ACred.SetEnabledProtocols(EnabledProtocolBits(FTLSFlags));
    else if (!FUseSystemTLSFlags && DisabledProtocolBits(FTLSFlags) != 0)
        ACred.SetDisabledProtocols(DisabledProtocolBits(FTLSFlags));
}

void TixTlsSspi::AcquireCredentialsHandle(uint32_t ACredentialUse, TixSchannelCredentials& ACred)
{
    std::string package = GetPackageName();
    os::TimeStamp expiry = 0;
    FLastSecurityStatus = GetFunctionTable()->AcquireCredentialsHandleA(nullptr, package.data(),
        ACredentialUse, nullptr, ACred.AuthData(), nullptr, nullptr, &FCredentials, &expiry);
    if (FLastSecurityStatus < 0)
        RaiseSspiError(FLastSecurityStatus, -4);
}

bool TixTlsSspi::AcquireCredentials(const TixCertificateList& ACerts, bool AForce,
    uint32_t ACredentialUse, TixSchannelCredentials& ACred)
{
    FreeCredentials();
    if (!AForce && ACerts.Count() == 0)
        return false;
    if (ACerts.Count() != 0)
        ACred.SetCertificates(ACerts);
    AcquireCredentialsHandle(ACredentialUse, ACred);
    return true;
}

void TixTlsSspi::DeleteContext() noexcept
{
    if (HasContext())
        GetFunctionTable()->DeleteSecurityContext(&FContext);
    FContext = {};
    FStreamSizes = {};
    FHeldInput.clear();
}

void TixTlsSspi::FreeCredentials() noexcept
{
    if (HasCredentials())
        GetFunctionTable()->FreeCredentialsHandle(&FCredentials);
    FCredentials = {};
}

const os::SecPkgContext_StreamSizes& TixTlsSspi::GetStreamSizes()
{
    if (FStreamSizes.cbHeader == 0)
    {
        const os::SECURITY_STATUS status = GetFunctionTable()->QueryContextAttributesA(&FContext,
            os::SECPKG_ATTR_STREAM_SIZES, &FStreamSizes);
        if (status != os::SEC_E_OK)
        {
            FStreamSizes = {};
            RaiseSspiError(status, -6);
        }
    }
    return FStreamSizes;
}

std::vector<uint8_t> TixTlsSspi::TakeInput(TStream& AData)
{
    if (!FHeldInput.empty())
    {
        std::vector<uint8_t> bytes = std::exchange(FHeldInput, {});
        const std::vector<uint8_t> received = RemainingBytes(AData);
        bytes.insert(bytes.end(), received.begin(), received.end());
        ReplaceContent(AData, bytes);
    }
    return RemainingBytes(AData);
}

TixSspiStatus TixTlsSspi::RunSteps(TStream& AData, TixCertificateList& AExtraCerts, bool AForce,
    uint32_t ACredentialUse, TixSchannelCredentials& ACred, bool AServer)
{
    const os::PSecurityFunctionTableA table = GetFunctionTable();
    bool waited = false;
    while (FLastSecurityStatus == os::SEC_I_CONTINUE_NEEDED
        || FLastSecurityStatus == os::SEC_E_INCOMPLETE_MESSAGE
        || FLastSecurityStatus == os::SEC_I_INCOMPLETE_CREDENTIALS)
    {
        std::vector<uint8_t> input = TakeInput(AData);
        if (input.empty() || FLastSecurityStatus == os::SEC_E_INCOMPLETE_MESSAGE)
        {
            if (waited)
                return tsNeedMoreToken;
            waited = true;
        }
        os::SecBuffer inBuffers[2] = {
            {static_cast<os::ULONG>(input.size()), os::SECBUFFER_TOKEN, input.data()},
            {0, os::SECBUFFER_EMPTY, nullptr}};
        os::SecBufferDesc inDesc{os::SECBUFFER_VERSION, 2, inBuffers};
        os::SecBuffer outBuffers[2] = {{0, os::SECBUFFER_TOKEN, nullptr}, {0, os::SECBUFFER_EMPTY, nullptr}};
        os::SecBufferDesc outDesc{os::SECBUFFER_VERSION, 2, outBuffers};
        os::ULONG attributes = 0;
        const os::SECURITY_STATUS status = CallContext(&inDesc, &outDesc, attributes);
        FLastSecurityStatus = status;
        TixContextBuffer token(table);
        *token.Receive() = outBuffers[0].pvBuffer;
        const size_t extra = inBuffers[1].BufferType == os::SECBUFFER_EXTRA ? inBuffers[1].cbBuffer : 0;

        const bool sends = status == os::SEC_E_OK || status == os::SEC_I_CONTINUE_NEEDED
            || status == os::SEC_I_COMPLETE_AND_CONTINUE
            || (status < 0 && (attributes & ExtendedErrorAttribute()) != 0);
        if (sends && outBuffers[0].cbBuffer != 0)
        {
            // The token takes AData's place; bytes that came behind the completed handshake
            // wait in FHeldInput for the next step or decryption.
            if (status == os::SEC_E_OK && extra != 0)
                FHeldInput.assign(input.end() - static_cast<long>(extra), input.end());
            ReplaceContent(AData, BytesOf(outBuffers[0]));
            return status == os::SEC_E_OK && AServer ? tsOk : tsSendToken;
        }
        if (status == os::SEC_E_INCOMPLETE_MESSAGE)
            return tsNeedMoreToken;
        if (status == os::SEC_E_OK)
        {
            if (extra == 0)
            {
                // Everything was consumed and nothing is to be sent: AData must not look
                // like a token to the caller.
                ReplaceContent(AData, {});
                return tsOk;
            }
            AData.SetPosition(AData.GetSize() - static_cast<int64_t>(extra));
            return tsExtraData;
        }
        if (status == os::SEC_I_INCOMPLETE_CREDENTIALS)
        {
            if (!AcquireCredentials(AExtraCerts, AForce, ACredentialUse, ACred))
            {
                FLastSecurityStatus = os::SEC_I_INCOMPLETE_CREDENTIALS;
                return tsNeedCredentials;
            }
            FLastSecurityStatus = os::SEC_I_INCOMPLETE_CREDENTIALS;  // the same input again
            waited = false;
            continue;
        }
        CheckStatus(status);
        if (extra != 0)
            AData.SetPosition(AData.GetSize() - static_cast<int64_t>(extra));
        else
            ReplaceContent(AData, {});
    }
    return tsError;
}

bool TixTlsSspi::VerifyPeer(os::DWORD AAuthType, const std::string& ATargetName)
{
    FPeerCertificate.reset();
    std::u16string name = WideTargetName(ATargetName);
    os::PCCERT_CONTEXT remote = nullptr;
    CheckStatus(GetFunctionTable()->QueryContextAttributesA(&FContext,
        os::SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote));
    const std::unique_ptr<const os::CERT_CONTEXT, TCertContextFree> context(remote);
    FPeerCertificate = std::make_unique<TixCertificate>(remote);

    os::CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.dwUrlRetrievalTimeout = static_cast<os::DWORD>(FCertChainRetrievalTimeout);
    os::PCCERT_CHAIN_CONTEXT chainContext = nullptr;
    if (!os::CertGetCertificateChain(nullptr, remote, nullptr, remote->hCertStore, &parameters,
            ChainFlagsOf(FCertChainFlags), nullptr, &chainContext))
        RaiseLastError(-11);
    const std::unique_ptr<const os::CERT_CHAIN_CONTEXT, TChainFree> chain(chainContext);

    os::HTTPSPolicyCallbackData extra{sizeof(extra), AAuthType, PolicyChecksOf(FCertificateFlags),
        ATargetName.empty() ? nullptr : name.data()};
    os::CERT_CHAIN_POLICY_PARA policy{sizeof(policy),
        FCertificateFlags.Includes(cfIgnoreChainPolicyErrors) ? 0xFFFFu : 0u, &extra};
    os::CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    if (!os::CertVerifyCertificateChainPolicy(os::CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
            &status))
        RaiseLastError(-11);
    if (status.dwError == 0)
        return true;
    FLastSecurityStatus = static_cast<int32_t>(status.dwError);
    return false;
}

TixSspiStatus TixTlsSspi::ShutdownContext(TStream& AOutput)
{
    struct TRelease
    {
        TixTlsSspi& Owner;
        ~TRelease()
        {
            Owner.DeleteContext();
            Owner.FreeCredentials();
        }
    } release{*this};
    if (!HasContext())
        return tsOk;
    const os::PSecurityFunctionTableA table = GetFunctionTable();
    os::DWORD shutdown = os::SCHANNEL_SHUTDOWN;
    os::SecBuffer control{sizeof(shutdown), os::SECBUFFER_TOKEN, &shutdown};
    os::SecBufferDesc controlDesc{os::SECBUFFER_VERSION, 1, &control};
    CheckStatus(table->ApplyControlToken(&FContext, &controlDesc));
    os::SecBuffer output{0, os::SECBUFFER_TOKEN, nullptr};
    os::SecBufferDesc outputDesc{os::SECBUFFER_VERSION, 1, &output};
    os::ULONG attributes = 0;
    const os::SECURITY_STATUS status = CallContext(nullptr, &outputDesc, attributes);
    TixContextBuffer token(table);
    *token.Receive() = output.pvBuffer;
    const TixSspiStatus result = CheckStatus(status);
    if (output.cbBuffer == 0)
        return result;
    ReplaceContent(AOutput, BytesOf(output));
    return tsCompleteNeeded;
}

TixSspiStatus TixTlsSspi::Encrypt(TStream& ASource, TStream& ADest, int64_t ACount)
{
    struct TRestore
    {
        TStream& Source;
        TStream& Dest;
        int64_t Count;
        int64_t DestStart;
        ~TRestore()
        {
            if (Source.GetPosition() >= Count)
                Source.SetPosition(Source.GetPosition() - Count);
            Dest.SetPosition(DestStart);
        }
    } restore{ASource, ADest, ACount, ADest.GetPosition()};

    const os::SecPkgContext_StreamSizes sizes = GetStreamSizes();
    const int64_t maximum = sizes.cbMaximumMessage;
    std::vector<uint8_t> buffer(sizes.cbHeader + static_cast<size_t>(std::min(ACount, maximum))
        + sizes.cbTrailer);
    TixSspiStatus result = tsOk;
    for (int64_t done = 0; done < ACount;)
    {
        const auto chunk = static_cast<os::ULONG>(std::min(maximum, ACount - done));
        uint8_t* data = buffer.data() + sizes.cbHeader;
        ASource.ReadBuffer(data, chunk);
        os::SecBuffer buffers[4] = {{sizes.cbHeader, os::SECBUFFER_STREAM_HEADER, buffer.data()},
            {chunk, os::SECBUFFER_DATA, data},
            {sizes.cbTrailer, os::SECBUFFER_STREAM_TRAILER, data + chunk},
            {0, os::SECBUFFER_EMPTY, nullptr}};
        os::SecBufferDesc desc{os::SECBUFFER_VERSION, 4, buffers};
        FLastSecurityStatus = GetFunctionTable()->EncryptMessage(&FContext, 0, &desc, 0);
        result = CheckStatus(FLastSecurityStatus);
        for (int i = 0; i < 3; ++i)
            ADest.WriteBuffer(buffers[i].pvBuffer, buffers[i].cbBuffer);
        done += chunk;
    }
    return result;
}

TixSspiStatus TixTlsSspi::Decrypt(TStream& ASource, TStream& ADest, TStream& ARemainder)
{
    // The received bytes are copied once; held bytes, when there are any, go in front.
    std::vector<uint8_t> work = RemainingBytes(ASource);
    const bool held = !FHeldInput.empty();
    if (held)
        work.insert(work.begin(), FHeldInput.begin(), FHeldInput.end());
    FHeldInput.clear();
    std::optional<std::span<uint8_t>> rest;
    const TixSspiStatus result = DecryptRecords(work, ADest, rest);
    if (rest)
        ReplaceContent(ARemainder, *rest);
    // Held bytes that did not make a record yet stay with the caller's remainder.
    if (held && result == tsIncompleteMessage)
        ReplaceContent(ARemainder, work);
    return result;
}

TixSspiStatus TixTlsSspi::DecryptInPlace(TMemoryStream& ABuffer, TStream& ADest)
{
    if (!FHeldInput.empty())
    {
        // Held bytes go in front of the received ones.
        std::vector<uint8_t> work = std::exchange(FHeldInput, {});
        const std::vector<uint8_t> received = RemainingBytes(ABuffer);
        work.insert(work.end(), received.begin(), received.end());
        ReplaceContent(ABuffer, work);
    }
    const int64_t position = ABuffer.GetPosition();
    const std::span<uint8_t> work(ABuffer.Memory() + position,
        static_cast<size_t>(std::max<int64_t>(ABuffer.GetSize() - position, 0)));
    std::optional<std::span<uint8_t>> rest;
    const TixSspiStatus result = DecryptRecords(work, ADest, rest);
    if (rest)
    {
        // What is kept moves to the front; the bytes before it were consumed.
        if (!rest->empty())
            std::memmove(ABuffer.Memory(), rest->data(), rest->size());
        ABuffer.SetSize(static_cast<int64_t>(rest->size()));
        ABuffer.SetPosition(0);
    }
    else if (result != tsIncompleteMessage)
        ABuffer.SetSize(0);  // everything was consumed
    return result;
}

TixSspiStatus TixTlsSspi::DecryptRecords(std::span<uint8_t> AWork, TStream& ADest,
    std::optional<std::span<uint8_t>>& ARest)
{
    std::span<uint8_t> rest = AWork;
    bool decrypted = false;
    for (;;)
    {
        // A record of fewer than 6 bytes is never handed to the library.
        if (rest.size() < 6)
        {
            if (!decrypted)
                return tsIncompleteMessage;
            ARest = rest;
            return tsPartialMessage;
        }
        os::SecBuffer buffers[4] = {
            {static_cast<os::ULONG>(rest.size()), os::SECBUFFER_DATA, rest.data()},
            {0, os::SECBUFFER_EMPTY, nullptr}, {0, os::SECBUFFER_EMPTY, nullptr},
            {0, os::SECBUFFER_EMPTY, nullptr}};
        os::SecBufferDesc desc{os::SECBUFFER_VERSION, 4, buffers};
        FLastSecurityStatus = GetFunctionTable()->DecryptMessage(&FContext, &desc, 0, nullptr);
        TixSspiStatus result = CheckStatus(FLastSecurityStatus);
        bool more = false;
        for (const os::SecBuffer& item : buffers)
        {
            if (item.BufferType == os::SECBUFFER_DATA)
            {
                if (result == tsIncompleteMessage || result == tsContextExpired)
                {
                    ARest = MutableBytesOf(item);
                    if (result == tsIncompleteMessage)
                        result = tsPartialMessage;
                }
                else
                {
                    ADest.WriteBuffer(item.pvBuffer, item.cbBuffer);
                    decrypted = true;
                }
            }
            else if (item.BufferType == os::SECBUFFER_EXTRA)
            {
                rest = MutableBytesOf(item);
                more = true;
            }
            else if (item.BufferType == os::SECBUFFER_MISSING)
            {
                ARest = rest;
                return decrypted ? tsPartialMessage : tsIncompleteMessage;
            }
        }
        if (!more)
            return result;
    }
}

// ---- TixTlsClientSspi --------------------------------------------------------------------------

TixTlsClientSspi::TixTlsClientSspi()
    : FTargetName(FloatText(Now()))
{
}

os::SECURITY_STATUS TixTlsClientSspi::CallContext(os::PSecBufferDesc AInput,
    os::PSecBufferDesc AOutput, os::ULONG& AContextAttr)
{
    os::TimeStamp expiry = 0;
    return GetFunctionTable()->InitializeSecurityContextA(&FCredentials,
        HasContext() ? &FContext : nullptr, FTargetName.data(), ClientContextRequirements, 0, 0,
        AInput, 0, &FContext, AOutput, &AContextAttr, &expiry);
}

TixSspiStatus TixTlsClientSspi::HandshakeStep(TStream& AData, TixCertificateList& AExtraCerts,
    bool AForce)
{
    TixSchannelCredentials block;
    FillSchannelCred(block);
    if (FLastSecurityStatus == os::SEC_I_INCOMPLETE_CREDENTIALS
        && !AcquireCredentials(AExtraCerts, AForce, os::SECPKG_CRED_OUTBOUND, block))
        return tsNeedCredentials;
    FLastSecurityStatus = os::SEC_I_CONTINUE_NEEDED;
    TixSspiStatus result;
    if (FFirstStepPending)
    {
        // The first step: fresh credentials without a certificate and the client's hello.
        FFirstStepPending = false;
        FreeCredentials();
        AcquireCredentialsHandle(os::SECPKG_CRED_OUTBOUND, block);
        os::SecBuffer output{0, os::SECBUFFER_TOKEN, nullptr};
        os::SecBufferDesc outputDesc{os::SECBUFFER_VERSION, 1, &output};
        os::ULONG attributes = 0;
        const os::SECURITY_STATUS status = CallContext(nullptr, &outputDesc, attributes);
        TixContextBuffer token(GetFunctionTable());
        *token.Receive() = output.pvBuffer;
        FLastSecurityStatus = status;
        CheckStatus(status);
        ReplaceContent(AData, BytesOf(output));
        result = tsSendToken;
    }
    else
        result = RunSteps(AData, AExtraCerts, AForce, os::SECPKG_CRED_OUTBOUND, block, false);
    if (!FPeerVerified && (result == tsOk || result == tsExtraData))
        FPeerVerified = VerifyServer();
    return result;
}

bool TixTlsClientSspi::VerifyServer()
{
    return VerifyPeer(os::AUTHTYPE_SERVER, FTargetName);
}

TixSspiStatus TixTlsClientSspi::Shutdown(TStream& AOutput)
{
    FFirstStepPending = true;
    FPeerVerified = false;
    return ShutdownContext(AOutput);
}

// ---- TixTlsServerSspi --------------------------------------------------------------------------

os::SECURITY_STATUS TixTlsServerSspi::CallContext(os::PSecBufferDesc AInput,
    os::PSecBufferDesc AOutput, os::ULONG& AContextAttr)
{
    os::TimeStamp expiry = 0;
    const os::ULONG requirements = ServerContextRequirements
        | (FRequireClientCertificate ? os::ASC_REQ_MUTUAL_AUTH : 0);
    return GetFunctionTable()->AcceptSecurityContext(&FCredentials,
        HasContext() ? &FContext : nullptr, AInput, requirements, 0, &FContext, AOutput,
        &AContextAttr, &expiry);
}

TixSspiStatus TixTlsServerSspi::HandshakeStep(TStream& AData, TixCertificateList& AExtraCerts,
    bool AForce)
{
    TixSchannelCredentials block;
    FillSchannelCred(block);
    // The server's own certificate comes with the first step.
    if (FFirstStepPending)
    {
        if (!AcquireCredentials(AExtraCerts, AForce, os::SECPKG_CRED_INBOUND, block))
            return tsNeedCredentials;
        FFirstStepPending = false;
    }
    FLastSecurityStatus = os::SEC_I_CONTINUE_NEEDED;
    const TixSspiStatus result = RunSteps(AData, AExtraCerts, AForce, os::SECPKG_CRED_INBOUND,
        block, true);
    if (FRequireClientCertificate && !FPeerVerified && (result == tsOk || result == tsExtraData))
        FPeerVerified = VerifyPeer(os::AUTHTYPE_CLIENT, std::string());
    return result;
}

TixSspiStatus TixTlsServerSspi::Shutdown(TStream& AOutput)
{
    FFirstStepPending = true;
    FPeerVerified = false;
    return ShutdownContext(AOutput);
}

}  // namespace ix
