#include "tls/ixTlsStream.h"

#include "core/ixDateUtils.h"
#include "net/ixSocketUtils.h"
#include "platform/ixOsSecurity.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace ix {

namespace {

/// A batch size grown by the record overhead, computed in 64 bits and kept within 32 bits.
int32_t WithOverhead(int32_t ABatchSize, int32_t AOverhead)
{
    return static_cast<int32_t>(std::min<int64_t>(int64_t{ABatchSize} + AOverhead, INT32_MAX));
}

/// The framework's default float-to-text conversion (15 significant digits).
std::string FloatText(double AValue)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.15g", AValue);
    return text.data();
}

/// Appends the bytes of ASource from its position to its end to ADest, keeping ADest's
/// position.
void AppendRemaining(TStream& ASource, TMemoryStream& ADest)
{
    const int64_t position = ADest.GetPosition();
    ADest.Seek(0, soEnd);
    ADest.CopyFrom(ASource, ASource.Remaining());
    ADest.SetPosition(position);
}

/// Copies all of ASource to ADest at ADest's position.
void CopyAll(const TMemoryStream& ASource, TStream& ADest)
{
    const std::string_view bytes = ASource.View();
    if (!bytes.empty())
        ADest.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

/// Empties AStream but keeps its memory for the next bytes.
void Empty(TMemoryStream& AStream)
{
    AStream.SetSize(0);
    AStream.SetPosition(0);
}

/// True for the states of an established session: nothing held back, or the start of a
/// record held until the rest arrives.
bool IsEstablishedStatus(TixSspiStatus AStatus) noexcept
{
    return AStatus == tsOk || AStatus == tsIncompleteMessage;
}

/// Received bytes held before the records among them are decrypted while a read drains the
/// socket: a peer that sends as fast as we read never lets the socket run dry, and the bytes
/// would otherwise pile up for the whole transfer.
constexpr int64_t DecryptWhileReadingAt = 256 * 1024;

/// The destination of the raw reads: hands each batch to AOnBatch as it arrives.
template <typename TOnBatch>
class TBatchSink final : public TStream
{
public:
    explicit TBatchSink(TOnBatch AOnBatch) : FOnBatch(std::move(AOnBatch)) {}

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* ABuffer, int64_t ACount) override
    {
        FOnBatch(ABuffer, ACount);
        FSize += ACount;
        return ACount;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }
    void SetSize(int64_t) override {}

private:
    TOnBatch FOnBatch;
    int64_t FSize = 0;
};

}  // namespace

TixTlsNetworkStream::TixTlsNetworkStream() : FTargetName(FloatText(Now()))
{
}

TixTlsNetworkStream::~TixTlsNetworkStream()
{
    FreeSspi();
}

// ---- settings --------------------------------------------------------------------------------

template <typename TApply>
void TixTlsNetworkStream::ApplyToSspi(TApply&& AApply)
{
    if (FSspi)
        AApply(*FSspi);
}

void TixTlsNetworkStream::SetCertificateFlags(TixCertificateVerifyFlags AValue)
{
    FCertificateFlags = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetCertificateFlags(AValue); });
}

void TixTlsNetworkStream::SetTargetName(const std::string& AValue)
{
    FTargetName = AValue;
    ApplyToSspi([&AValue](TixTlsSspi& AContext) {
        if (auto* client = dynamic_cast<TixTlsClientSspi*>(&AContext))
            client->SetTargetName(AValue);
    });
}

void TixTlsNetworkStream::SetTLSFlags(TixTlsFlags AValue)
{
    FTLSFlags = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetTLSFlags(AValue); });
}

void TixTlsNetworkStream::SetRequireClientCertificate(bool AValue)
{
    FRequireClientCertificate = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) {
        if (auto* server = dynamic_cast<TixTlsServerSspi*>(&AContext))
            server->SetRequireClientCertificate(AValue);
    });
}

void TixTlsNetworkStream::SetSecurityPackage(const std::string& AValue)
{
    FSecurityPackage = AValue;
    ApplyToSspi([&AValue](TixTlsSspi& AContext) { AContext.SetSecurityPackage(AValue); });
}

void TixTlsNetworkStream::SetUseStrongCryptoAlgorithms(bool AValue)
{
    FUseStrongCryptoAlgorithms = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetUseStrongCryptoAlgorithms(AValue); });
}

void TixTlsNetworkStream::SetSendRootCertificate(bool AValue)
{
    FSendRootCertificate = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetSendRootCertificate(AValue); });
}

void TixTlsNetworkStream::SetCertChainFlags(TixCertificateChainVerifyFlags AValue)
{
    FCertChainFlags = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetCertChainFlags(AValue); });
}

void TixTlsNetworkStream::SetCertChainRetrievalTimeout(int32_t AValue)
{
    FCertChainRetrievalTimeout = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetCertChainRetrievalTimeout(AValue); });
}

void TixTlsNetworkStream::SetUseSystemTLSFlags(bool AValue)
{
    FUseSystemTLSFlags = AValue;
    ApplyToSspi([AValue](TixTlsSspi& AContext) { AContext.SetUseSystemTLSFlags(AValue); });
}

void TixTlsNetworkStream::Assign(const TixNetworkStream& ASource)
{
    TixNetworkStream::Assign(ASource);
    const auto* source = dynamic_cast<const TixTlsNetworkStream*>(&ASource);
    if (source == nullptr)
        return;
    SetTargetName(source->FTargetName);
    SetCertificateFlags(source->FCertificateFlags);
    SetCertChainFlags(source->FCertChainFlags);
    SetCertChainRetrievalTimeout(source->FCertChainRetrievalTimeout);
    SetTLSFlags(source->FTLSFlags);
    SetUseSystemTLSFlags(source->FUseSystemTLSFlags);
    SetSendRootCertificate(source->FSendRootCertificate);
    SetUseStrongCryptoAlgorithms(source->FUseStrongCryptoAlgorithms);
    SetRequireClientCertificate(source->FRequireClientCertificate);
    SetSecurityPackage(source->FSecurityPackage);
}

// ---- the context -----------------------------------------------------------------------------

TixTlsSspi& TixTlsNetworkStream::Context()
{
    TixTlsSspi* context = GetSspi();
    if (context == nullptr)
        RaiseSspiError(os::SEC_E_INVALID_HANDLE);
    return *context;
}

void TixTlsNetworkStream::FreeSspi()
{
    FSspi.reset();
    FVerified = false;
}

void TixTlsNetworkStream::InstallSspi(std::unique_ptr<TixTlsSspi> AContext)
{
    AContext->SetCertificateFlags(FCertificateFlags);
    AContext->SetCertChainFlags(FCertChainFlags);
    AContext->SetCertChainRetrievalTimeout(FCertChainRetrievalTimeout);
    AContext->SetTLSFlags(FTLSFlags);
    AContext->SetUseSystemTLSFlags(FUseSystemTLSFlags);
    AContext->SetSendRootCertificate(FSendRootCertificate);
    AContext->SetUseStrongCryptoAlgorithms(FUseStrongCryptoAlgorithms);
    AContext->SetSecurityPackage(FSecurityPackage);
    FSspi = std::move(AContext);
    FVerified = false;
    FRejected = false;
    FHandshakeDone = false;
    FTlsOverhead = 0;
    Empty(FTokenBuffer);
    Empty(FPendingOutput);
    FPendingChunkSize = 0;
}

void TixTlsNetworkStream::OpenClientSession()
{
    auto context = std::make_unique<TixTlsClientSspi>();
    context->SetTargetName(FTargetName);
    FServer = false;
    InstallSspi(std::move(context));
    FLastStatus = tsOk;
    FHandshakePending = true;
    SetNextAction(naWrite);
}

void TixTlsNetworkStream::OpenServerSession()
{
    auto context = std::make_unique<TixTlsServerSspi>();
    context->SetRequireClientCertificate(FRequireClientCertificate);
    FServer = true;
    InstallSspi(std::move(context));
    FLastStatus = tsWaitToken;
    FHandshakePending = false;
    SetNextAction(naRead);
}

int32_t TixTlsNetworkStream::GetTlsOverhead()
{
    if (FTlsOverhead == 0 && FHandshakeDone && IsEstablishedStatus(FLastStatus))
    {
        try
        {
            const os::SecPkgContext_StreamSizes& sizes = Context().GetStreamSizes();
            FTlsOverhead = static_cast<int32_t>(sizes.cbHeader + sizes.cbTrailer);
        }
        catch (const EixSSPIError&)  // sizes not known yet: plain batch sizes meanwhile
        {
            FTlsOverhead = 0;
        }
    }
    return FTlsOverhead;
}

// ---- progress --------------------------------------------------------------------------------

int32_t TixTlsNetworkStream::GetReadBatchSize()
{
    return WithOverhead(TixNetworkStream::GetReadBatchSize(), GetTlsOverhead());
}

int32_t TixTlsNetworkStream::GetWriteBatchSize()
{
    return WithOverhead(TixNetworkStream::GetWriteBatchSize(), GetTlsOverhead());
}

bool TixTlsNetworkStream::IsProceedLimit()
{
    if (TixNetworkStream::IsProceedLimit())
        return true;
    const int64_t limit = GetConnection()->GetBytesToProceed();
    return limit >= 0 && limit <= FRawBytesProceed;
}

void TixTlsNetworkStream::ResetProceed()
{
    TixNetworkStream::ResetProceed();
    FRawBytesProceed = 0;
}

void TixTlsNetworkStream::UpdateProgress(int64_t ADelta)
{
    FRawBytesProceed += ADelta;
}

void TixTlsNetworkStream::ReportProgress(int64_t ADelta)
{
    if (ADelta > 0)
        TixNetworkStream::UpdateProgress(ADelta);
}

// ---- reading ---------------------------------------------------------------------------------

void TixTlsNetworkStream::ReportDelivered()
{
    if (FReadDest == nullptr)
        return;
    const int64_t position = FReadDest->GetPosition();
    const int64_t delta = position - FReportedUpTo;
    FReportedUpTo = position;
    ReportProgress(delta);
}

bool TixTlsNetworkStream::Read(TStream* AData)
{
    ClearNextAction();
    // Progress follows the application bytes as they reach AData, also while one read keeps
    // draining a socket that a fast peer keeps full.
    FReadDest = AData;
    FReportedUpTo = AData != nullptr ? AData->GetPosition() : 0;
    const auto report = [this] {
        ReportDelivered();
        FReadDest = nullptr;
    };
    try
    {
        if (AData != nullptr && FDecryptedData.GetSize() > 0)
        {
            // Plaintext kept by an earlier read without a destination goes first.
            CopyAll(FDecryptedData, *AData);
            Empty(FDecryptedData);
        }
        else
            ReadAndProcess(AData != nullptr ? *AData : FDecryptedData);
        SetReadPending(FDecryptedData.GetSize() > 0);
        RequestNextAction();
    }
    catch (...)
    {
        report();
        throw;
    }
    report();
    return true;
}

void TixTlsNetworkStream::ReadAndProcess(TStream& ADest)
{
    if (FHandshakeDone && IsEstablishedStatus(FLastStatus))
    {
        ReadRecords(ADest);
        return;
    }
    TMemoryStream received;
    TixNetworkStream::Read(&received);
    if (received.GetSize() > 0)
    {
        received.SetPosition(0);
        ProcessIncoming(received, ADest);
    }
}

void TixTlsNetworkStream::ReadRecords(TStream& ADest)
{
    // TokenBuffer holds nothing or the start of a record, so the bytes that arrive go straight
    // behind it; the records among them are decrypted as they pile up, and once more at the end.
    int64_t start = FTokenBuffer.GetPosition();
    int64_t decryptedUpTo = FTokenBuffer.GetSize();
    const auto decrypt = [&] {
        FTokenBuffer.SetPosition(start);
        DecryptIncoming(ADest);
        start = FTokenBuffer.GetPosition();
        decryptedUpTo = FTokenBuffer.GetSize();
        ReportDelivered();
    };
    FTokenBuffer.Seek(0, soEnd);
    TBatchSink sink([&](const void* ABytes, int64_t ACount) {
        if (!IsEstablishedStatus(FLastStatus))
            return;  // the peer closed the session: nothing after that counts
        FTokenBuffer.WriteBuffer(ABytes, ACount);
        if (FTokenBuffer.GetSize() - start >= DecryptWhileReadingAt)
        {
            decrypt();
            FTokenBuffer.Seek(0, soEnd);
        }
    });
    TixNetworkStream::Read(&sink);
    FTokenBuffer.SetPosition(start);
    if (IsEstablishedStatus(FLastStatus) && FTokenBuffer.GetSize() > decryptedUpTo)
        decrypt();
}

void TixTlsNetworkStream::RequestNextAction()
{
    // A peer that hung up ends the session: there is nothing left to wait for.
    if (GetPeerClosed())
        return;
    switch (FLastStatus)
    {
    case tsRenegotiate:
        SetNextAction(naWrite);
        break;
    case tsOk:
    case tsError:
    case tsContextExpired:
        break;
    default:
        SetNextAction(naRead);
        break;
    }
}

void TixTlsNetworkStream::ProcessIncoming(TStream& ASource, TStream& ADest)
{
    switch (FLastStatus)
    {
    case tsOk:
    case tsWaitToken:
        Empty(FTokenBuffer);
        FTokenBuffer.CopyFrom(ASource, ASource.Remaining());
        FTokenBuffer.SetPosition(0);
        if (FLastStatus == tsWaitToken)
        {
            Handshake(ADest);
            return;
        }
        break;
    case tsNeedMoreToken:
    case tsIncompleteMessage:
        AppendRemaining(ASource, FTokenBuffer);
        if (FLastStatus == tsNeedMoreToken)
        {
            Handshake(ADest);
            return;
        }
        break;
    default:  // tsExtraData: ASource is TokenBuffer, positioned at the unprocessed bytes
        break;
    }
    DecryptIncoming(ADest);
}

void TixTlsNetworkStream::CheckSessionReady()
{
    if (FRejected)
        RaiseSocketError(FRejectedText, FRejectedCode);
    if (!FHandshakeDone)
        RaiseSspiError(os::SEC_E_INVALID_HANDLE);
}

void TixTlsNetworkStream::DecryptIncoming(TStream& ADest)
{
    CheckSessionReady();
    FLastStatus = Context().DecryptInPlace(FTokenBuffer, ADest);
    switch (FLastStatus)
    {
    case tsOk:
        Empty(FTokenBuffer);
        break;
    case tsRenegotiate:
        Empty(FTokenBuffer);
        FHandshakePending = true;
        break;
    case tsPartialMessage:
        FLastStatus = tsIncompleteMessage;
        break;
    case tsContextExpired:
        // The peer's close notification: nothing after it counts.
        Empty(FTokenBuffer);
        SetPeerClosed(true);
        break;
    default:
        break;
    }
}

// ---- the handshake ---------------------------------------------------------------------------

void TixTlsNetworkStream::Handshake(TStream& ADest)
{
    TixTlsSspi& context = Context();
    TixCertificateList extraCerts(false);
    FTlsOverhead = 0;
    try
    {
        FLastStatus = context.HandshakeStep(FTokenBuffer, extraCerts, false);
        if (FLastStatus == tsNeedCredentials)
            ProvideCredentials(context, extraCerts);
        FinishHandshakeStep(context, ADest);
    }
    catch (...)
    {
        Empty(FTokenBuffer);
        throw;
    }
    // Received bytes stay only while they wait for the rest of a message.
    if (FLastStatus != tsNeedMoreToken && FLastStatus != tsIncompleteMessage)
        Empty(FTokenBuffer);
}

void TixTlsNetworkStream::ProvideCredentials(TixTlsSspi& AContext, TixCertificateList& AExtraCerts)
{
    TixCertificate* certificate = nullptr;
    bool handled = false;
    CallEvent(OnGetCertificate, this, certificate, AExtraCerts, handled);
    if (certificate != nullptr)
        AExtraCerts.Add(certificate);
    // Forced: without a certificate the handshake goes on without one.
    FLastStatus = AContext.HandshakeStep(FTokenBuffer, AExtraCerts, true);
}

void TixTlsNetworkStream::FinishHandshakeStep(TixTlsSspi& AContext, TStream& ADest)
{
    switch (FLastStatus)
    {
    case tsSendToken:
    {
        const os::SECURITY_STATUS status = AContext.GetLastSecurityStatus();
        QueueToken();
        if (status < 0)
        {
            // The token is the alert that tells the peer why; the failure follows it.
            try
            {
                (void)SendData(nullptr, 0);
            }
            catch (const EixSocketError&)  // the peer is gone: the failure says more
            {
            }
            RaiseSspiError(status);
        }
        if (status == os::SEC_E_OK)
            ConcludeHandshake(AContext, ADest);  // our last flight: the session is up
        else
            FLastStatus = tsWaitToken;
        if (!SendData(nullptr, 0))
            SetNextAction(naWrite);
        break;
    }
    case tsOk:
    case tsExtraData:
        CompleteHandshake(ADest);
        break;
    default:
        break;
    }
}

void TixTlsNetworkStream::ConcludeHandshake(TixTlsSspi& AContext, TStream& ADest)
{
    // The bytes that came behind the peer's last handshake message are still held by the
    // context; this step hands them back and runs the verification.
    Empty(FTokenBuffer);
    TixCertificateList none(false);
    FLastStatus = AContext.HandshakeStep(FTokenBuffer, none, false);
    if (FLastStatus != tsOk && FLastStatus != tsExtraData)
        RaiseSspiError(AContext.GetLastSecurityStatus());
    CompleteHandshake(ADest);
}

void TixTlsNetworkStream::CompleteHandshake(TStream& ADest)
{
    const bool early = FLastStatus == tsExtraData;
    VerifyPeer();
    FHandshakeDone = true;
    if (IsServer() && !early && FTokenBuffer.GetSize() > 0)
    {
        // The server's last flight; what the client sent behind its own is decrypted next.
        QueueToken();
        if (!SendData(nullptr, 0))
            SetNextAction(naWrite);
        DecryptIncoming(ADest);
    }
    else if (early)
        ProcessIncoming(FTokenBuffer, ADest);
    if (FLastStatus == tsIncompleteMessage && FTokenBuffer.GetSize() == 0)
        FLastStatus = tsOk;
    if (FLastStatus != tsIncompleteMessage && FLastStatus != tsContextExpired)
        FLastStatus = tsOk;
    TixNetworkStream::StreamReady();
}

void TixTlsNetworkStream::VerifyPeer()
{
    if (FVerified)
        return;
    TixTlsSspi& context = Context();
    if (IsServer() && !FRequireClientCertificate)
    {
        FVerified = true;  // no client certificate asked for: nothing to judge
        return;
    }
    bool verified = context.GetPeerVerified();
    const int32_t code = context.GetLastSecurityStatus();
    const std::string text = GetSspiErrorText(code);
    CallEvent(OnVerifyPeer, this, context.GetPeerCertificate(), text, code, verified);
    FVerified = verified;
    if (verified)
        return;
    FRejected = true;
    // A peer that passed the check and that the application turned down must not fail with the
    // text and code of success.
    FRejectedCode = code != 0 ? code : static_cast<int32_t>(os::TRUST_E_EXPLICIT_DISTRUST);
    FRejectedText = code != 0 ? text : GetSspiErrorText(FRejectedCode);
    RaiseSocketError(FRejectedText, FRejectedCode);
}

void TixTlsNetworkStream::StreamReady()
{
    // The handshake reports the stream ready when it has finished.
}

// ---- writing ---------------------------------------------------------------------------------

void TixTlsNetworkStream::QueueToken()
{
    AppendRemaining(FTokenBuffer, FPendingOutput);
    Empty(FTokenBuffer);
}

bool TixTlsNetworkStream::SendData(TStream* ASource, int64_t ACount)
{
    if (FPendingOutput.GetSize() == 0)
    {
        if (ASource == nullptr || ACount <= 0)
            return true;
        try
        {
            // The records go straight to the empty PendingOutput, which ends rewound.
            Context().Encrypt(*ASource, FPendingOutput, ACount);
        }
        catch (...)
        {
            Empty(FPendingOutput);
            throw;
        }
    }
    if (!TixNetworkStream::Write(&FPendingOutput))
        return false;
    Empty(FPendingOutput);
    return true;
}

bool TixTlsNetworkStream::Write(TStream* AData)
{
    ClearNextAction();
    if (FHandshakePending)
    {
        FHandshakePending = false;
        Handshake(FDecryptedData);
        SetReadPending(FDecryptedData.GetSize() > 0);
        RequestNextAction();
        if (AData == nullptr || AData->Remaining() <= 0)
            return true;
    }
    if (AData == nullptr)
    {
        if (!SendData(nullptr, 0))
        {
            SetNextAction(naWrite);
            return false;
        }
        if (!FHandshakeDone && GetSspi() != nullptr)
            RequestNextAction();
        return true;
    }
    if (AData->Remaining() > 0)
        CheckSessionReady();  // no application byte leaves before the peer is accepted
    bool result = true;
    while (result && AData->Remaining() > 0)
    {
        if (FPendingOutput.GetSize() == 0)
        {
            FPendingChunkSize = std::min<int64_t>(AData->Remaining(),
                std::max(GetConnection()->GetBatchSize(), 1));
            result = SendData(AData, FPendingChunkSize);
        }
        else if (FPendingChunkSize == 0)
        {
            result = SendData(nullptr, 0);  // a token waiting to go out goes first
            continue;
        }
        else
            result = SendData(nullptr, 0);  // the rest of a chunk an earlier call began
        if (result)
        {
            ReportProgress(FPendingChunkSize);
            AData->Seek(FPendingChunkSize, soCurrent);
            FPendingChunkSize = 0;
        }
    }
    return result;
}

// ---- closing ---------------------------------------------------------------------------------

void TixTlsNetworkStream::CloseStream(bool ANotifyPeer)
{
    ClearNextAction();
    FLastStatus = tsOk;
    Empty(FTokenBuffer);
    if (TixTlsSspi* context = GetSspi())
    {
        try
        {
            TMemoryStream token;
            FLastStatus = context->Shutdown(token);
            if (ANotifyPeer && FLastStatus == tsCompleteNeeded)
            {
                AppendRemaining(token, FPendingOutput);
                if (!SendData(nullptr, 0))
                    SetNextAction(naWrite);
            }
        }
        catch (const EixSSPIError&)  // the session ends either way
        {
        }
        catch (const EixSocketError&)
        {
        }
    }
    FHandshakePending = false;
    FHandshakeDone = false;
    FLastStatus = tsOk;
}

}  // namespace ix
