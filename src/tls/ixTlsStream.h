#pragma once
// The network stream with TLS inside it. The connection reads and writes application bytes
// through it exactly as through a plain stream, while the bytes on the socket are TLS records.
// The record work (handshake tokens, encryption, decryption, close notification, certificate
// checks) is done by the security context it owns; the stream feeds the context the bytes that
// arrive, sends the bytes it produces, and asks the connection (NextAction) for the extra
// socket reads and writes that a handshake or a close needs.
//
// A stream, like its connection, is used only on the thread that owns the connection (message
// handlers that run inside its waits included); it has no lock.

#include "core/ixClasses.h"
#include "core/ixStreams.h"
#include "net/ixSocket.h"
#include "tls/ixCertificate.h"
#include "tls/ixSspi.h"
#include "tls/ixSspiTls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ix {

/// Asks the application for a client certificate (a server stream: for its own certificate).
/// A certificate returned in ACertificate is offered and stays owned by the application.
using TixGetCertificateEvent = std::function<void(TObject* Sender, TixCertificate*& ACertificate,
    TixCertificateList& AExtraCerts, bool& Handled)>;
/// Lets the application accept or reject the peer. AVerified arrives holding the outcome of
/// the system's policy check and leaves holding the decision.
using TixVerifyPeerEvent = std::function<void(TObject* Sender, TixCertificate* ACertificate,
    const std::string& AStatusText, int32_t AStatusCode, bool& AVerified)>;

/// A network stream that runs TLS over the connection's socket.
class TixTlsNetworkStream : public TixNetworkStream
{
public:
    TixTlsNetworkStream();
    ~TixTlsNetworkStream() override;

    // ---- Settings, handed to the security context when a session opens (and at once to a
    // context that exists).

    /// Server-certificate errors to ignore.
    TixCertificateVerifyFlags GetCertificateFlags() const noexcept { return FCertificateFlags; }
    void SetCertificateFlags(TixCertificateVerifyFlags AValue);
    /// The server's name: sent as server name indication and matched against its certificate.
    const std::string& GetTargetName() const noexcept { return FTargetName; }
    void SetTargetName(const std::string& AValue);
    /// Protocol versions offered when UseSystemTLSFlags is false.
    TixTlsFlags GetTLSFlags() const noexcept { return FTLSFlags; }
    void SetTLSFlags(TixTlsFlags AValue);
    /// Server side: ask the client for a certificate and check it.
    bool GetRequireClientCertificate() const noexcept { return FRequireClientCertificate; }
    void SetRequireClientCertificate(bool AValue);
    /// Security package name; empty: chosen automatically.
    const std::string& GetSecurityPackage() const noexcept { return FSecurityPackage; }
    void SetSecurityPackage(const std::string& AValue);
    /// Restrict the handshake to strong algorithms.
    bool GetUseStrongCryptoAlgorithms() const noexcept { return FUseStrongCryptoAlgorithms; }
    void SetUseStrongCryptoAlgorithms(bool AValue);
    /// Send the root certificate with a client certificate chain.
    bool GetSendRootCertificate() const noexcept { return FSendRootCertificate; }
    void SetSendRootCertificate(bool AValue);
    /// Revocation and chain-cache options of the chain building.
    TixCertificateChainVerifyFlags GetCertChainFlags() const noexcept { return FCertChainFlags; }
    void SetCertChainFlags(TixCertificateChainVerifyFlags AValue);
    /// URL retrieval time-out of the chain building in ms; 0: the system's default.
    int32_t GetCertChainRetrievalTimeout() const noexcept { return FCertChainRetrievalTimeout; }
    void SetCertChainRetrievalTimeout(int32_t AValue);
    /// Leave the protocol choice to the system (default true); TLSFlags then have no effect.
    bool GetUseSystemTLSFlags() const noexcept { return FUseSystemTLSFlags; }
    void SetUseSystemTLSFlags(bool AValue);

    // ---- State

    /// The outcome of the last context operation.
    TixSspiStatus GetLastStatus() const noexcept { return FLastStatus; }
    /// The peer of this session has been accepted.
    bool GetVerified() const noexcept { return FVerified; }
    /// Encrypted bytes moved since ResetProceed.
    int64_t GetRawBytesProceed() const noexcept { return FRawBytesProceed; }
    /// The security context (null until a session is opened).
    TixTlsSspi* GetSspi() noexcept { return FSspi.get(); }

    // ---- Overridden stream operations

    /// The address state, and the settings when ASource is a TLS stream (not the context).
    void Assign(const TixNetworkStream& ASource) override;
    /// Ends the TLS session: with ANotifyPeer the close notification is sent (or queued as
    /// the next write). Context and socket errors are swallowed here.
    void CloseStream(bool ANotifyPeer) override;
    /// Nothing: the handshake reports the stream ready when it has finished.
    void StreamReady() override;
    /// Appends the decrypted application bytes that arrive to AData (null: keeps them for the
    /// next read), running handshake steps while the session is being negotiated.
    bool Read(TStream* AData) override;
    /// Encrypts and sends AData from its position to its end, one batch a record chunk; the
    /// position advances only past chunks the socket took completely. Null: sends what is
    /// pending (a handshake or close token, an unfinished chunk).
    bool Write(TStream* AData) override;
    /// The plain batch sizes plus the record overhead once it is known.
    int32_t GetReadBatchSize() override;
    int32_t GetWriteBatchSize() override;
    /// Also true when the connection's read limit is reached by the encrypted bytes.
    bool IsProceedLimit() override;
    /// Also resets the count of encrypted bytes.
    void ResetProceed() override;
    /// Counts encrypted bytes only; application bytes are reported by Read and Write.
    void UpdateProgress(int64_t ADelta) override;
    /// Makes a client context and queues the first handshake write.
    void OpenClientSession() override;
    /// Makes a server context and waits for the client's first token.
    void OpenServerSession() override;

    // ---- Events

    /// Asks the application for a client certificate; see TixTcpClientTls::OnGetCertificate.
    TixGetCertificateEvent OnGetCertificate;
    /// The end of every handshake: the verdict on the peer's certificate, which the handler may change.
    TixVerifyPeerEvent OnVerifyPeer;

protected:
    /// Destroys the context (under the lock) and clears Verified.
    void FreeSspi();
    /// Record header plus trailer size, cached once the session is established; 0 before.
    int32_t GetTlsOverhead();
    /// One handshake step over the received bytes in TokenBuffer; decrypted application bytes
    /// that came behind the last handshake message go to ADest.
    void Handshake(TStream& ADest);
    /// Reads what the socket has and hands it on (see ProcessIncoming).
    void ReadAndProcess(TStream& ADest);
    /// The established session's read: appends what the socket has to TokenBuffer and decrypts
    /// the records into ADest.
    void ReadRecords(TStream& ADest);
    /// Routes received bytes by LastStatus: to the handshake or to decryption into ADest.
    void ProcessIncoming(TStream& ASource, TStream& ADest);
    /// Sends what is pending, else the token to send, else ACount bytes of ASource encrypted.
    /// False when the socket would block (the rest stays pending).
    bool SendData(TStream* ASource, int64_t ACount);
    /// Once per session: the policy check's outcome, put to the application; raises
    /// EixSocketError with the policy's text and code when the peer is not accepted.
    void VerifyPeer();

private:
    /// Replaces the context with AContext (under the lock) and hands it the settings.
    void InstallSspi(std::unique_ptr<TixTlsSspi> AContext);
    /// Calls AApply with the context when one exists (under the lock).
    template <typename TApply>
    void ApplyToSspi(TApply&& AApply);
    /// Reports application bytes to the connection's progress (the inherited UpdateProgress).
    void ReportProgress(int64_t ADelta);
    /// Reports the application bytes that reached the current read's destination since the
    /// last report (nothing when the read has no destination).
    void ReportDelivered();
    /// Asks the application for a certificate and repeats the step with it (or without one).
    void ProvideCredentials(TixTlsSspi& AContext, TixCertificateList& AExtraCerts);
    /// The handshake step's outcome: sends a token, concludes, or decrypts early data.
    void FinishHandshakeStep(TixTlsSspi& AContext, TStream& ADest);
    /// Runs the context's last step once it has produced its final token.
    void ConcludeHandshake(TixTlsSspi& AContext, TStream& ADest);
    /// The handshake has finished: verifies the peer, then delivers what came behind it.
    void CompleteHandshake(TStream& ADest);
    /// The context; raises EixSSPIError (SEC_E_INVALID_HANDLE) when no session was opened.
    TixTlsSspi& Context();
    /// Raises unless the handshake finished and the peer was accepted.
    void CheckSessionReady();
    /// Asks the connection for the read or write the session's state needs next.
    void RequestNextAction();
    /// Decrypts TokenBuffer (from its position) into ADest and takes the outcome.
    void DecryptIncoming(TStream& ADest);
    /// Moves the token in TokenBuffer into PendingOutput, behind anything pending there.
    void QueueToken();
    bool IsServer() const noexcept { return FServer; }

    TMemoryStream FDecryptedData;
    TMemoryStream FPendingOutput;
    TMemoryStream FTokenBuffer;
    std::unique_ptr<TixTlsSspi> FSspi;
    TixSspiStatus FLastStatus = tsOk;
    int32_t FTlsOverhead = 0;
    bool FHandshakePending = false;
    int64_t FPendingChunkSize = 0;
    TixCertificateVerifyFlags FCertificateFlags;
    std::string FTargetName;
    TixTlsFlags FTLSFlags{tfUseTLS, tfUseTLS11, tfUseTLS12};
    bool FVerified = false;
    bool FRequireClientCertificate = false;
    int64_t FRawBytesProceed = 0;
    std::string FSecurityPackage;
    bool FUseStrongCryptoAlgorithms = false;
    bool FSendRootCertificate = false;
    TixCertificateChainVerifyFlags FCertChainFlags;
    int32_t FCertChainRetrievalTimeout = 0;
    bool FUseSystemTLSFlags = true;
    bool FServer = false;
    bool FHandshakeDone = false;
    bool FRejected = false;
    std::string FRejectedText;
    int32_t FRejectedCode = 0;
    /// The destination of the read in progress (null between reads) and its position at the
    /// last progress report.
    TStream* FReadDest = nullptr;
    int64_t FReportedUpTo = 0;
};

}  // namespace ix
