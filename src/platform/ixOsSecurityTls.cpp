#include "platform/internal/ixOsSecurityTls.h"

#include "platform/internal/ixOsCryptInternal.h"
#include "platform/internal/ixOsSecurityRecord.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <new>
#include <string_view>

namespace ix::os::internal {

namespace {

// ---- protocols -----------------------------------------------------------------------------

struct TProtocol
{
    DWORD Bits;   ///< client and server bit of the protocol
    int Version;  ///< OpenSSL's version number; 0 for protocols OpenSSL does not speak
    uint64_t DisableOption;
};

// In ascending order. SSL 2 and SSL 3 are not spoken: asking only for them finds no protocol.
const std::array<TProtocol, 6> Protocols{{
    {SP_PROT_SSL2_CLIENT | SP_PROT_SSL2_SERVER, 0, 0},
    {SP_PROT_SSL3_CLIENT | SP_PROT_SSL3_SERVER, 0, 0},
    {SP_PROT_TLS1_CLIENT | SP_PROT_TLS1_SERVER, TLS1_VERSION, SSL_OP_NO_TLSv1},
    {SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_1_SERVER, TLS1_1_VERSION, SSL_OP_NO_TLSv1_1},
    {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_2_SERVER, TLS1_2_VERSION, SSL_OP_NO_TLSv1_2},
    {SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_3_SERVER, TLS1_3_VERSION, SSL_OP_NO_TLSv1_3},
}};

/// The protocols not named in ADisabledBits (either of a protocol's bits disables it).
DWORD EnabledOf(DWORD ADisabledBits) noexcept
{
    DWORD enabled = 0;
    for (const TProtocol& item : Protocols)
        if ((ADisabledBits & item.Bits) == 0)
            enabled |= item.Bits;
    return enabled;
}

/// Room in the record header for post-handshake records that wait to go out in front of the
/// next record (the reply to a TLS 1.3 key update, a warning alert).
constexpr ULONG PendingOutputReserve = 128;

// ---- errors --------------------------------------------------------------------------------

SECURITY_STATUS StatusOfAlert(int AAlert) noexcept
{
    switch (AAlert)
    {
    case SSL_AD_BAD_RECORD_MAC:
        return SEC_E_DECRYPT_FAILURE;
    case SSL_AD_HANDSHAKE_FAILURE:
    case SSL_AD_PROTOCOL_VERSION:
    case SSL_AD_INSUFFICIENT_SECURITY:
        return SEC_E_ALGORITHM_MISMATCH;
    case SSL_AD_CERTIFICATE_EXPIRED:
        return SEC_E_CERT_EXPIRED;
    case SSL_AD_UNKNOWN_CA:
        return SEC_E_UNTRUSTED_ROOT;
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_REVOKED:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_CERTIFICATE_REQUIRED:
        return SEC_E_CERT_UNKNOWN;
    default:
        return SEC_E_ILLEGAL_MESSAGE;
    }
}

SECURITY_STATUS StatusOfVerifyResult(long AResult) noexcept
{
    switch (AResult)
    {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return SEC_E_CERT_EXPIRED;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return SEC_E_WRONG_PRINCIPAL;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
        return SEC_E_UNTRUSTED_ROOT;
    default:
        return SEC_E_CERT_UNKNOWN;
    }
}

/// The status of a fatal error of the connection, from OpenSSL's error queue (which it empties).
SECURITY_STATUS StatusOfFailure(SSL* ASsl) noexcept
{
    const unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return error == 0 ? SEC_E_ILLEGAL_MESSAGE : SEC_E_INTERNAL_ERROR;
    const int reason = ERR_GET_REASON(error);
    if (reason >= SSL_AD_REASON_OFFSET)
        return StatusOfAlert(reason - SSL_AD_REASON_OFFSET);
    switch (reason)
    {
    case SSL_R_CERTIFICATE_VERIFY_FAILED:
        return StatusOfVerifyResult(SSL_get_verify_result(ASsl));
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
        return SEC_E_DECRYPT_FAILURE;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_NO_SHARED_GROUPS:
        return SEC_E_ALGORITHM_MISMATCH;
    default:
        return SEC_E_ILLEGAL_MESSAGE;
    }
}

// ---- target names --------------------------------------------------------------------------

bool IsIpLiteral(const std::string& AName) noexcept
{
    std::array<unsigned char, 16> address{};
    return inet_pton(AF_INET, AName.c_str(), address.data()) == 1
        || inet_pton(AF_INET6, AName.c_str(), address.data()) == 1;
}

/// True for a DNS host name (letters, digits, hyphens, underscores and dots, the last label not
/// all digits), which may be sent as the server name indication (RFC 6066 section 3).
bool IsHostName(std::string_view AName) noexcept
{
    if (AName.empty() || AName.size() > 253 || AName.front() == '.')
        return false;
    const bool allowed = std::all_of(AName.begin(), AName.end(), [](char AChar) {
        return std::isalnum(static_cast<unsigned char>(AChar)) || AChar == '-' || AChar == '_'
            || AChar == '.';
    });
    if (!allowed || AName.find("..") != std::string_view::npos)
        return false;
    const std::string_view last = AName.substr(AName.find_last_of('.') + 1);
    return std::any_of(last.begin(), last.end(),
        [](char AChar) { return std::isalpha(static_cast<unsigned char>(AChar)); });
}

/// Points the context at ATarget: server name indication for host names, and the name checked
/// when OpenSSL validates the server itself.
bool ApplyTarget(SSL* ASsl, const TTlsCredential& ACredential, const char* ATarget)
{
    std::string target = ATarget == nullptr ? std::string() : std::string(ATarget);
    while (!target.empty() && target.back() == '.')
        target.pop_back();
    if (IsHostName(target) && !IsIpLiteral(target)
        && SSL_set_tlsext_host_name(ASsl, target.c_str()) != 1)
        return false;
    if (ACredential.ManualValidation() || ACredential.NoServerNameCheck() || target.empty())
        return true;
    if (IsIpLiteral(target))
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ASsl), target.c_str()) == 1;
    return SSL_set1_host(ASsl, target.c_str()) == 1;
}

int AcceptAnyCertificate(int, X509_STORE_CTX*)
{
    // The server's application judges the client's certificate after the handshake.
    return 1;
}

int ContextIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// ---- the input BIO -------------------------------------------------------------------------

int SourceRead(BIO* ABio, char* ABuffer, int ASize)
{
    BIO_clear_retry_flags(ABio);
    auto* source = static_cast<TRecordSource*>(BIO_get_data(ABio));
    const size_t count = ASize <= 0 ? 0
        : source->Read(reinterpret_cast<uint8_t*>(ABuffer), static_cast<size_t>(ASize));
    if (count != 0)
        return static_cast<int>(count);
    BIO_set_retry_read(ABio);  // SSL_ERROR_WANT_READ: the next record is not there yet
    return -1;
}

long SourceControl(BIO* ABio, int ACommand, long, void*)
{
    switch (ACommand)
    {
    case BIO_CTRL_PENDING:
        return static_cast<long>(static_cast<TRecordSource*>(BIO_get_data(ABio))->Pending());
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

/// The method of the input BIOs over a context's TRecordSource (made once, kept for the
/// process's life).
BIO_METHOD* SourceMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "record source");
        if (made != nullptr)
        {
            BIO_meth_set_read(made, SourceRead);
            BIO_meth_set_ctrl(made, SourceControl);
        }
        return made;
    }();
    return method;
}

}  // namespace

// ---- TRecordSource ---------------------------------------------------------------------------

void TRecordSource::Keep(std::span<const uint8_t> ABytes)
{
    if (FKeptRead == FKept.size())
    {
        FKept.clear();
        FKeptRead = 0;
    }
    FKept.insert(FKept.end(), ABytes.begin(), ABytes.end());
}

size_t TRecordSource::Read(uint8_t* ABuffer, size_t ACount) noexcept
{
    const size_t kept = std::min(ACount, FKept.size() - FKeptRead);
    if (kept != 0)
        std::memcpy(ABuffer, FKept.data() + FKeptRead, kept);
    FKeptRead += kept;
    const size_t lent = std::min(ACount - kept, FLent.size());
    if (lent != 0)
        std::memcpy(ABuffer + kept, FLent.data(), lent);
    FLent = FLent.subspan(lent);
    return kept + lent;
}

// ---- TTlsCredential --------------------------------------------------------------------------

TTlsCredential::~TTlsCredential()
{
    if (FCertificate != nullptr)
        CertFreeCertificateContext(FCertificate);
}

SECURITY_STATUS TTlsCredential::Create(bool AServer, const void* AAuthData,
    std::shared_ptr<TTlsCredential>& AResult)
{
    if (AServer && AAuthData == nullptr)
        return SEC_E_NO_CREDENTIALS;
    std::shared_ptr<TTlsCredential> credential(new TTlsCredential());
    credential->FServer = AServer;
    credential->FContext.reset(SSL_CTX_new(AServer ? TLS_server_method() : TLS_client_method()));
    if (!credential->FContext)
        return SEC_E_INSUFFICIENT_MEMORY;
    const SECURITY_STATUS status = credential->Load(AAuthData);
    if (status != SEC_E_OK)
        return status;
    if (AServer && credential->FCertificate == nullptr)
        return SEC_E_NO_CREDENTIALS;
    AResult = std::move(credential);
    return SEC_E_OK;
}

SECURITY_STATUS TTlsCredential::Load(const void* AAuthData)
{
    // Without a block: a client with automatic validation and the system's protocols.
    if (AAuthData == nullptr)
    {
        const SECURITY_STATUS status = Configure(0, 0, nullptr);
        return status != SEC_E_OK ? status : SetProtocols(0, false, false);
    }
    DWORD version;
    std::memcpy(&version, AAuthData, sizeof(version));
    if (version == SCHANNEL_CRED_VERSION)
    {
        const auto* block = static_cast<const SCHANNEL_CRED*>(AAuthData);
        const SECURITY_STATUS status = Configure(block->dwFlags, block->cCreds, block->paCred);
        return status != SEC_E_OK ? status
            : SetProtocols(block->grbitEnabledProtocols, block->grbitEnabledProtocols != 0, true);
    }
    if (version != SCH_CREDENTIALS_VERSION)
        return SEC_E_UNKNOWN_CREDENTIALS;
    const auto* block = static_cast<const SCH_CREDENTIALS*>(AAuthData);
    DWORD disabled = 0;
    for (DWORD i = 0; i < block->cTlsParameters; ++i)
    {
        const TLS_PARAMETERS& item = block->pTlsParameters[i];
        if (item.cAlpnIds != 0 || item.cDisabledCrypto != 0)
            return SEC_E_UNSUPPORTED_FUNCTION;
        disabled |= item.grbitDisabledProtocols;
    }
    const SECURITY_STATUS status = Configure(block->dwFlags, block->cCreds, block->paCred);
    return status != SEC_E_OK ? status : SetProtocols(EnabledOf(disabled), disabled != 0, false);
}

SECURITY_STATUS TTlsCredential::TakeCertificate(DWORD ACount, const PCCERT_CONTEXT* ACertificates)
{
    // The first certificate is the one offered, as Schannel does for a client.
    if (ACount == 0)
        return SEC_E_OK;
    if (ACertificates == nullptr || ACertificates[0] == nullptr)
        return SEC_E_INVALID_PARAMETER;
    X509* certificate = CertContextCertificate(ACertificates[0]);
    EVP_PKEY* key = CertContextPrivateKey(ACertificates[0]);
    if (certificate == nullptr || key == nullptr)
        return SEC_E_NO_CREDENTIALS;
    if (X509_check_private_key(certificate, key) != 1)
    {
        ERR_clear_error();
        return SEC_E_UNKNOWN_CREDENTIALS;
    }
    FCertificate = CertDuplicateCertificateContext(ACertificates[0]);
    return SEC_E_OK;
}

SECURITY_STATUS TTlsCredential::Configure(DWORD AFlags, DWORD ACount,
    const PCCERT_CONTEXT* ACertificates)
{
    const SECURITY_STATUS status = TakeCertificate(ACount, ACertificates);
    if (status != SEC_E_OK)
        return status;
    SSL_CTX* context = FContext.get();
    FManualValidation = (AFlags & SCH_CRED_MANUAL_CRED_VALIDATION) != 0;
    FNoServerNameCheck = (AFlags & SCH_CRED_NO_SERVERNAME_CHECK) != 0;
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION
        | SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS);
    if ((AFlags & SCH_USE_STRONG_CRYPTO) != 0)
    {
        if (SSL_CTX_set_cipher_list(context, "HIGH:!aNULL:!eNULL:!RC4:!3DES:!MD5") != 1)
            return SEC_E_ALGORITHM_MISMATCH;
        SSL_CTX_set_security_level(context, std::max(SSL_CTX_get_security_level(context), 2));
    }
    if (FCertificate != nullptr
        && (SSL_CTX_use_certificate(context, CertContextCertificate(FCertificate)) != 1
            || SSL_CTX_use_PrivateKey(context, CertContextPrivateKey(FCertificate)) != 1))
        return SEC_E_UNKNOWN_CREDENTIALS;
    if (FCertificate != nullptr)
        for (X509* item : CertContextStoreCertificates(FCertificate))
            if (SSL_CTX_add1_chain_cert(context, item) != 1)
                return SEC_E_UNKNOWN_CREDENTIALS;
    if (!FServer)
    {
        SSL_CTX_set_client_cert_cb(context, TTlsContext::ClientCertificateCallback);
        if (!FManualValidation)
        {
            SSL_CTX_set_default_verify_paths(context);
            SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        }
    }
    return SEC_E_OK;
}

SECURITY_STATUS TTlsCredential::SetProtocols(DWORD AEnabledBits, bool AExplicit,
    bool ALegacyForm)
{
    SSL_CTX* context = FContext.get();
    if (!AExplicit)
    {
        // The system's choice; the version-4 block has no way to ask for TLS 1.3.
        if (ALegacyForm)
            SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
        return SEC_E_OK;
    }
    int lowest = 0;
    int highest = 0;
    for (const TProtocol& item : Protocols)
        if (item.Version != 0 && (AEnabledBits & item.Bits) != 0)
        {
            lowest = lowest == 0 ? item.Version : lowest;
            highest = item.Version;
        }
    if (lowest == 0)
        return SEC_E_ALGORITHM_MISMATCH;
    SSL_CTX_set_min_proto_version(context, lowest);
    SSL_CTX_set_max_proto_version(context, highest);
    // Protocols left out between the lowest and the highest one.
    for (const TProtocol& item : Protocols)
        if (item.Version > lowest && item.Version < highest && (AEnabledBits & item.Bits) == 0)
            SSL_CTX_set_options(context, item.DisableOption);
    return SEC_E_OK;
}

// ---- TTlsContext ---------------------------------------------------------------------------

TTlsContext::TTlsContext(TSslPtr ASsl) noexcept : FSsl(std::move(ASsl)) {}

TTlsContext::~TTlsContext() = default;

SECURITY_STATUS TTlsContext::Create(const TTlsCredential& ACredential, const char* ATargetName,
    bool AMutualAuth, std::unique_ptr<TTlsContext>& AResult)
{
    TSslPtr ssl(SSL_new(ACredential.Context()));
    BIO* input = SourceMethod() == nullptr ? nullptr : BIO_new(SourceMethod());
    BIO* output = BIO_new(BIO_s_mem());
    if (!ssl || input == nullptr || output == nullptr)
    {
        BIO_free(input);
        BIO_free(output);
        return SEC_E_INSUFFICIENT_MEMORY;
    }
    SSL_set_bio(ssl.get(), input, output);
    std::unique_ptr<TTlsContext> context(new TTlsContext(std::move(ssl)));
    BIO_set_data(input, &context->FSource);
    BIO_set_init(input, 1);
    context->FOutput = output;
    SSL* raw = context->FSsl.get();
    SSL_set_ex_data(raw, ContextIndex(), context.get());
    if (ACredential.IsServer())
    {
        SSL_set_accept_state(raw);
        if (AMutualAuth)
            SSL_set_verify(raw, SSL_VERIFY_PEER, AcceptAnyCertificate);
    }
    else
    {
        SSL_set_connect_state(raw);
        if (!ApplyTarget(raw, ACredential, ATargetName))
            return SEC_E_TARGET_UNKNOWN;
    }
    AResult = std::move(context);
    return SEC_E_OK;
}

int TTlsContext::ClientCertificateCallback(SSL* ASsl, X509** ACert, EVP_PKEY** AKey)
{
    auto* context = static_cast<TTlsContext*>(SSL_get_ex_data(ASsl, ContextIndex()));
    if (context == nullptr)
        return 0;
    if (!context->FCertificateChosen)
        return -1;  // SSL_ERROR_WANT_X509_LOOKUP: ask the caller for credentials
    const PCCERT_CONTEXT chosen = context->FChosenCertificate;
    if (chosen == nullptr)
        return 0;  // continue without a certificate
    for (X509* item : CertContextStoreCertificates(chosen))
        SSL_add1_chain_cert(ASsl, item);
    X509* certificate = CertContextCertificate(chosen);
    EVP_PKEY* key = CertContextPrivateKey(chosen);
    X509_up_ref(certificate);
    EVP_PKEY_up_ref(key);
    *ACert = certificate;
    *AKey = key;
    return 1;
}

bool TTlsContext::Feed(std::span<const uint8_t> ARecord) noexcept
{
    try
    {
        FSource.Keep(ARecord);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

std::vector<uint8_t> TTlsContext::DrainOutput()
{
    std::vector<uint8_t> bytes(static_cast<size_t>(BIO_ctrl_pending(FOutput)));
    if (!bytes.empty())
        BIO_read(FOutput, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

SECURITY_STATUS TTlsContext::Fail(SECURITY_STATUS AStatus, TTlsStepResult& AResult)
{
    // The alert OpenSSL wrote (if any) goes to the peer as the extended error token.
    AResult.Token = DrainOutput();
    FFailure = AStatus;
    SetState(TState::Failed);
    return AStatus;
}

SECURITY_STATUS TTlsContext::Step(const TTlsCredential* ACredential,
    std::span<const uint8_t> AInput, TTlsStepResult& AResult)
{
    switch (FState)
    {
    case TState::Failed:
        return FFailure;
    case TState::NeedCredentials:
        return ResumeWithCredential(ACredential, AInput, AResult);
    case TState::Handshake:
        return Handshake(AInput, 0, AResult);
    case TState::Established:
        if (FShutdownRequested)
            return Shutdown(AResult);
        // A completed handshake consumes nothing: whatever arrives is application data.
        AResult.Extra = AInput.size();
        return SEC_E_OK;
    case TState::Closed:
        return SEC_E_OK;
    }
    return SEC_E_INTERNAL_ERROR;
}

SECURITY_STATUS TTlsContext::ResumeWithCredential(const TTlsCredential* ACredential,
    std::span<const uint8_t> AInput, TTlsStepResult& AResult)
{
    // The caller repeats the input of the step that asked for credentials.
    if (AInput.size() < FConsumedBeforeCredentials)
        return SEC_E_INVALID_TOKEN;
    FCertificateChosen = true;
    FChosenCertificate = ACredential == nullptr ? nullptr : ACredential->Certificate();
    SetState(TState::Handshake);
    const SECURITY_STATUS status = Handshake(AInput, FConsumedBeforeCredentials, AResult);
    FChosenCertificate = nullptr;  // borrowed from the credential for this call only
    return status;
}

SECURITY_STATUS TTlsContext::Handshake(std::span<const uint8_t> AInput, size_t AOffset,
    TTlsStepResult& AResult)
{
    if (FShutdownRequested)
        return Shutdown(AResult);
    size_t position = AOffset;
    for (;;)
    {
        ERR_clear_error();
        const int result = SSL_do_handshake(FSsl.get());
        if (result == 1)
        {
            SetState(TState::Established);
            AResult.Token = DrainOutput();
            AResult.Extra = AInput.size() - position;
            return SEC_E_OK;
        }
        const int error = SSL_get_error(FSsl.get(), result);
        if (error == SSL_ERROR_WANT_X509_LOOKUP)
        {
            SetState(TState::NeedCredentials);
            FConsumedBeforeCredentials = position;
            AResult.Token = DrainOutput();
            return SEC_I_INCOMPLETE_CREDENTIALS;
        }
        if (error != SSL_ERROR_WANT_READ)
            return Fail(StatusOfFailure(FSsl.get()), AResult);

        const TTlsFrame frame = FrameTlsRecord(AInput.subspan(position));
        if (frame.Kind == TTlsFrameKind::Malformed)
            return Fail(SEC_E_ILLEGAL_MESSAGE, AResult);
        if (frame.Kind == TTlsFrameKind::Complete)
        {
            if (!Feed(AInput.subspan(position, frame.Size)))
                return Fail(SEC_E_INSUFFICIENT_MEMORY, AResult);
            position += frame.Size;
            continue;
        }
        // The input is used up or ends inside a record.
        AResult.Token = DrainOutput();
        if (position == AOffset && AResult.Token.empty())
        {
            AResult.Missing = frame.Missing;
            return SEC_E_INCOMPLETE_MESSAGE;
        }
        AResult.Extra = AInput.size() - position;
        return SEC_I_CONTINUE_NEEDED;
    }
}

SECURITY_STATUS TTlsContext::Shutdown(TTlsStepResult& AResult)
{
    ERR_clear_error();
    if (FState == TState::Established)
        SSL_shutdown(FSsl.get());
    ERR_clear_error();
    // Records still waiting to go out precede the close notification.
    AResult.Token = DrainOutput();
    SetState(TState::Closed);
    return SEC_E_OK;
}

SECURITY_STATUS TTlsContext::ReadRecord(std::span<uint8_t> ARecord, size_t& APlainSize)
{
    // The record is lent, not copied: OpenSSL takes all of it into its record buffer before it
    // writes any plaintext, which then replaces the record's body from its start (it is never
    // longer than the body).
    struct TLoan
    {
        TRecordSource& Source;
        ~TLoan() { Source.Reclaim(); }
    } loan{FSource};
    FSource.Lend(ARecord);
    uint8_t* plain = ARecord.data() + TlsRecordHeaderSize;
    const size_t room = ARecord.size() - TlsRecordHeaderSize;
    APlainSize = 0;
    ERR_clear_error();
    while (APlainSize < room)
    {
        size_t count = 0;
        if (SSL_read_ex(FSsl.get(), plain + APlainSize, room - APlainSize, &count) == 1)
        {
            if (FSource.LentLeft() != 0)
                return SEC_E_INTERNAL_ERROR;  // plaintext over bytes not read yet
            APlainSize += count;
            continue;
        }
        switch (SSL_get_error(FSsl.get(), 0))
        {
        case SSL_ERROR_WANT_READ:
            // The record is used up; a record that carried only a post-handshake message
            // (a session ticket, a key update) or a warning alert leaves no plaintext.
            return FSource.LentLeft() == 0 ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
        case SSL_ERROR_ZERO_RETURN:
            FPeerClosed = true;
            return SEC_I_CONTEXT_EXPIRED;
        default:
            return StatusOfFailure(FSsl.get());
        }
    }
    return SEC_E_OK;
}

SECURITY_STATUS TTlsContext::Decrypt(std::span<SecBuffer> ABuffers)
{
    if (FState == TState::Failed)
        return FFailure;
    if (FPeerClosed)
        return SEC_E_CONTEXT_EXPIRED;
    if (FState != TState::Established && FState != TState::Closed)
        return SEC_E_INVALID_HANDLE;
    const auto data = std::find_if(ABuffers.begin(), ABuffers.end(),
        [](const SecBuffer& AItem) { return AItem.BufferType == SECBUFFER_DATA; });
    if (data == ABuffers.end() || (data->pvBuffer == nullptr && data->cbBuffer != 0))
        return SEC_E_INVALID_TOKEN;
    const size_t empties = static_cast<size_t>(std::count_if(ABuffers.begin(), ABuffers.end(),
        [](const SecBuffer& AItem) { return AItem.BufferType == SECBUFFER_EMPTY; }));
    if (ABuffers.size() < 4 || empties < 3)
        return SEC_E_INVALID_TOKEN;

    const std::span<uint8_t> bytes(static_cast<uint8_t*>(data->pvBuffer), data->cbBuffer);
    const TTlsFrame frame = FrameTlsRecord(bytes);
    if (frame.Kind == TTlsFrameKind::Malformed)
    {
        FFailure = SEC_E_ILLEGAL_MESSAGE;
        SetState(TState::Failed);
        return FFailure;
    }
    if (frame.Kind == TTlsFrameKind::Incomplete)
    {
        SecBuffer& missing = *std::find_if(ABuffers.begin(), ABuffers.end(),
            [](const SecBuffer& AItem) { return AItem.BufferType == SECBUFFER_EMPTY; });
        missing = {static_cast<ULONG>(frame.Missing), SECBUFFER_MISSING, nullptr};
        return SEC_E_INCOMPLETE_MESSAGE;
    }

    size_t plainSize = 0;
    const SECURITY_STATUS status = ReadRecord(bytes.first(frame.Size), plainSize);
    if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED)
    {
        FFailure = status;
        SetState(TState::Failed);
        return status;
    }
    // Schannel's layout: header, data, trailer, and the bytes after the record as EXTRA (none
    // after a close notification: nothing the peer sends after it counts).
    uint8_t* start = bytes.data();
    const size_t rest = bytes.size() - frame.Size;
    ABuffers[0] = {static_cast<ULONG>(TlsRecordHeaderSize), SECBUFFER_STREAM_HEADER, start};
    ABuffers[1] = {static_cast<ULONG>(plainSize), SECBUFFER_DATA, start + TlsRecordHeaderSize};
    ABuffers[2] = {static_cast<ULONG>(frame.Size - TlsRecordHeaderSize - plainSize),
        SECBUFFER_STREAM_TRAILER, start + TlsRecordHeaderSize + plainSize};
    ABuffers[3] = rest != 0 && status == SEC_E_OK
        ? SecBuffer{static_cast<ULONG>(rest), SECBUFFER_EXTRA, start + frame.Size}
        : SecBuffer{0, SECBUFFER_EMPTY, nullptr};
    return status;
}

SECURITY_STATUS TTlsContext::Encrypt(std::span<SecBuffer> ABuffers)
{
    if (FState == TState::Failed)
        return FFailure;
    if (FState != TState::Established)
        return SEC_E_INVALID_HANDLE;
    const auto find = [ABuffers](ULONG AType) {
        return std::find_if(ABuffers.begin(), ABuffers.end(),
            [AType](const SecBuffer& AItem) { return AItem.BufferType == AType; });
    };
    const auto header = find(SECBUFFER_STREAM_HEADER);
    const auto data = find(SECBUFFER_DATA);
    const auto trailer = find(SECBUFFER_STREAM_TRAILER);
    if (header == ABuffers.end() || data == ABuffers.end() || trailer == ABuffers.end())
        return SEC_E_INVALID_TOKEN;
    if (data->cbBuffer > TlsMaxPlaintext)
        return SEC_E_INVALID_PARAMETER;

    const size_t plainSize = data->cbBuffer;
    size_t written = 0;
    ERR_clear_error();
    if (plainSize != 0
        && (SSL_write_ex(FSsl.get(), data->pvBuffer, plainSize, &written) != 1
            || written != plainSize))
    {
        ERR_clear_error();
        return SEC_E_ENCRYPT_FAILURE;
    }
    std::vector<uint8_t> output = DrainOutput();

    // Our record is the last one; records before it (a key update reply, an alert) travel in
    // front of its header.
    size_t recordStart = 0;
    size_t recordSize = 0;
    for (size_t offset = 0; offset < output.size(); offset += recordSize)
    {
        const TTlsFrame frame = FrameTlsRecord(std::span(output).subspan(offset));
        if (frame.Kind != TTlsFrameKind::Complete)
            return SEC_E_INTERNAL_ERROR;
        recordStart = offset;
        recordSize = frame.Size;
    }
    if (plainSize == 0)
        recordStart = output.size();  // nothing of ours: everything is pending output
    else if (recordSize < plainSize + TlsRecordHeaderSize)
        return SEC_E_INTERNAL_ERROR;

    const size_t overhead = plainSize == 0 ? 0 : recordSize - plainSize;
    const size_t trailerSize = std::min<size_t>(overhead - std::min(overhead, TlsRecordHeaderSize),
        trailer->cbBuffer);
    const size_t headerSize = recordStart + overhead - trailerSize;
    const uint8_t* record = output.data() + recordStart;
    if (headerSize <= header->cbBuffer)
        std::memcpy(header->pvBuffer, output.data(), headerSize);
    else
    {
        // More waiting records than the header's room: hand out our own copy instead.
        FHeaderOverflow.assign(output.begin(), output.begin() + static_cast<long>(headerSize));
        header->pvBuffer = FHeaderOverflow.data();
    }
    header->cbBuffer = static_cast<ULONG>(headerSize);
    if (plainSize != 0)
    {
        std::memcpy(data->pvBuffer, record + overhead - trailerSize, plainSize);
        std::memcpy(trailer->pvBuffer, record + overhead - trailerSize + plainSize, trailerSize);
    }
    trailer->cbBuffer = static_cast<ULONG>(trailerSize);
    return SEC_E_OK;
}

SECURITY_STATUS TTlsContext::GetStreamSizes(SecPkgContext_StreamSizes& ASizes) const
{
    if (FState != TState::Established && FState != TState::Closed)
        return SEC_E_INVALID_HANDLE;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(FSsl.get());
    ULONG header = TlsRecordHeaderSize;
    ULONG trailer = 16;
    ULONG block = 1;
    if (SSL_version(FSsl.get()) == TLS1_3_VERSION)
        trailer = 16 + 1;  // authentication tag and the inner content type
    else if (cipher != nullptr && SSL_CIPHER_is_aead(cipher))
        header += 8;  // explicit nonce
    else if (cipher != nullptr)
    {
        const EVP_CIPHER* algorithm = EVP_get_cipherbynid(SSL_CIPHER_get_cipher_nid(cipher));
        const EVP_MD* digest = EVP_get_digestbynid(SSL_CIPHER_get_digest_nid(cipher));
        block = algorithm == nullptr ? 16 : static_cast<ULONG>(EVP_CIPHER_get_block_size(algorithm));
        header += algorithm == nullptr ? 16 : static_cast<ULONG>(EVP_CIPHER_get_iv_length(algorithm));
        trailer = (digest == nullptr ? 64 : static_cast<ULONG>(EVP_MD_get_size(digest))) + block;
    }
    ASizes = {header + PendingOutputReserve, trailer, static_cast<ULONG>(TlsMaxPlaintext), 4,
        block};
    return SEC_E_OK;
}

SECURITY_STATUS TTlsContext::GetRemoteCertificate(PCCERT_CONTEXT& ACertificate) const
{
    X509* certificate = SSL_get0_peer_certificate(FSsl.get());
    if (certificate == nullptr)
        return SEC_E_NO_CREDENTIALS;
    ACertificate = CertCreateContextFromX509(certificate, SSL_get_peer_cert_chain(FSsl.get()),
        nullptr);
    return ACertificate == nullptr ? SEC_E_INSUFFICIENT_MEMORY : SEC_E_OK;
}

SECURITY_STATUS TTlsContext::GetConnectionInfo(SecPkgContext_ConnectionInfo& AInfo) const
{
    if (FState != TState::Established && FState != TState::Closed)
        return SEC_E_INVALID_HANDLE;
    AInfo = {};
    const int version = SSL_version(FSsl.get());
    const bool server = SSL_is_server(FSsl.get()) == 1;
    for (const TProtocol& item : Protocols)
        if (item.Version == version)
            AInfo.dwProtocol = item.Bits & (server ? 0x1554 : 0x2AA8);
    const SSL_CIPHER* cipher = SSL_get_current_cipher(FSsl.get());
    if (cipher == nullptr)
        return SEC_E_OK;
    const int bits = SSL_CIPHER_get_bits(cipher, nullptr);
    const int cipherNid = SSL_CIPHER_get_cipher_nid(cipher);
    const bool aes = OBJ_nid2sn(cipherNid) != nullptr
        && std::string_view(OBJ_nid2sn(cipherNid)).starts_with("AES");
    AInfo.aiCipher = !aes ? 0 : bits == 128 ? CALG_AES_128 : CALG_AES_256;
    AInfo.dwCipherStrength = static_cast<DWORD>(bits);
    const EVP_MD* hash = SSL_CIPHER_get_handshake_digest(cipher);
    const int hashNid = hash == nullptr ? NID_undef : EVP_MD_get_type(hash);
    AInfo.aiHash = hashNid == NID_sha256 ? CALG_SHA_256 : hashNid == NID_sha384 ? CALG_SHA_384
        : hashNid == NID_sha1 ? CALG_SHA1 : 0;
    AInfo.dwHashStrength = hash == nullptr ? 0 : static_cast<DWORD>(EVP_MD_get_size(hash) * 8);
    const int exchange = SSL_CIPHER_get_kx_nid(cipher);
    AInfo.aiExch = exchange == NID_kx_rsa ? CALG_RSA_KEYX
        : exchange == NID_kx_dhe ? CALG_DH_EPHEM : CALG_ECDH_EPHEM;
    EVP_PKEY* key = nullptr;
    if (SSL_get_peer_tmp_key(FSsl.get(), &key) == 1)
    {
        AInfo.dwExchStrength = static_cast<DWORD>(EVP_PKEY_get_bits(key));
        EVP_PKEY_free(key);
    }
    return SEC_E_OK;
}

}  // namespace ix::os::internal
