#pragma once
// The TLS engine behind the Schannel package (internal: not installed): credentials and
// security contexts over OpenSSL's libssl with memory BIOs. The function table of
// ixOsSecurity.cpp checks handles and buffer descriptions and calls these classes.

#include "platform/ixOsSecurity.h"

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ix::os::internal {

struct TSslCtxFree
{
    void operator()(SSL_CTX* AValue) const noexcept { SSL_CTX_free(AValue); }
};
using TSslCtxPtr = std::unique_ptr<SSL_CTX, TSslCtxFree>;

struct TSslFree
{
    void operator()(SSL* AValue) const noexcept { SSL_free(AValue); }
};
using TSslPtr = std::unique_ptr<SSL, TSslFree>;

/// What a credential handle holds: the TLS settings of one side of a connection, with the
/// certificate (and key) it offers.
class TTlsCredential
{
public:
    /// Builds a credential from a SCHANNEL_CRED (version 4) or SCH_CREDENTIALS (version 5)
    /// block; AAuthData may be null for a client. Returns the status of the Schannel package.
    static SECURITY_STATUS Create(bool AServer, const void* AAuthData,
        std::shared_ptr<TTlsCredential>& AResult);

    bool IsServer() const noexcept { return FServer; }
    /// The client checks the server's certificate itself (SCH_CRED_MANUAL_CRED_VALIDATION).
    bool ManualValidation() const noexcept { return FManualValidation; }
    bool NoServerNameCheck() const noexcept { return FNoServerNameCheck; }
    SSL_CTX* Context() const noexcept { return FContext.get(); }
    /// The certificate offered (null for none) with its key and the chain to send with it.
    PCCERT_CONTEXT Certificate() const noexcept { return FCertificate; }

    ~TTlsCredential();
    TTlsCredential(const TTlsCredential&) = delete;
    TTlsCredential& operator=(const TTlsCredential&) = delete;

private:
    TTlsCredential() = default;

    SECURITY_STATUS Load(const void* AAuthData);
    SECURITY_STATUS Configure(DWORD AFlags, DWORD ACount, const PCCERT_CONTEXT* ACertificates);
    SECURITY_STATUS SetProtocols(DWORD AEnabledBits, bool AExplicit, bool ALegacyForm);
    SECURITY_STATUS TakeCertificate(DWORD ACount, const PCCERT_CONTEXT* ACertificates);

    bool FServer = false;
    bool FManualValidation = false;
    bool FNoServerNameCheck = false;
    TSslCtxPtr FContext;
    PCCERT_CONTEXT FCertificate = nullptr;
};

/// The result of one handshake step besides its status.
struct TTlsStepResult
{
    /// The token to send to the peer (handshake messages, an alert or the close notification).
    std::vector<uint8_t> Token;
    /// Unprocessed bytes at the end of the input (SECBUFFER_EXTRA), 0 for none.
    size_t Extra = 0;
    /// Bytes still needed to complete the input's first record (SECBUFFER_MISSING).
    size_t Missing = 0;
};

/// The received bytes that OpenSSL reads through a context's input BIO. Handshake records are
/// kept (copied) until OpenSSL has read them; a record to decrypt is only lent for the one call,
/// so that it is not copied before OpenSSL takes it into its own record buffer.
class TRecordSource
{
public:
    /// Keeps a copy of ABytes behind the bytes still unread.
    void Keep(std::span<const uint8_t> ABytes);
    /// Lends ABytes until Reclaim; they are read after the kept bytes.
    void Lend(std::span<const uint8_t> ABytes) noexcept { FLent = ABytes; }
    /// Ends the loan; returns the number of lent bytes that were not read.
    size_t Reclaim() noexcept { return std::exchange(FLent, {}).size(); }
    /// Lent bytes not read yet.
    size_t LentLeft() const noexcept { return FLent.size(); }
    /// Moves up to ACount bytes to ABuffer; returns how many.
    size_t Read(uint8_t* ABuffer, size_t ACount) noexcept;
    size_t Pending() const noexcept { return FKept.size() - FKeptRead + FLent.size(); }

private:
    std::vector<uint8_t> FKept;
    size_t FKeptRead = 0;
    std::span<const uint8_t> FLent;
};

/// One TLS connection: the handshake, record protection and the close notification.
class TTlsContext
{
public:
    /// Makes the context of a new connection. ATargetName (client) gives the server name
    /// indication when it is a host name, and the name checked when the credential validates
    /// automatically. AMutualAuth (server) asks the client for a certificate.
    static SECURITY_STATUS Create(const TTlsCredential& ACredential, const char* ATargetName,
        bool AMutualAuth, std::unique_ptr<TTlsContext>& AResult);

    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    /// Runs the handshake over AInput (whole records only are consumed) with ACredential, the
    /// credential of this call (may be null); once a close was requested, produces the close
    /// notification.
    /// Returns SEC_I_CONTINUE_NEEDED, SEC_E_OK, SEC_E_INCOMPLETE_MESSAGE,
    /// SEC_I_INCOMPLETE_CREDENTIALS or a failure (with an alert in the token).
    SECURITY_STATUS Step(const TTlsCredential* ACredential, std::span<const uint8_t> AInput,
        TTlsStepResult& AResult);

    /// Decrypts the first record of the SECBUFFER_DATA buffer in place (DecryptMessage).
    SECURITY_STATUS Decrypt(std::span<SecBuffer> ABuffers);
    /// Encrypts the SECBUFFER_DATA buffer into one record (EncryptMessage).
    SECURITY_STATUS Encrypt(std::span<SecBuffer> ABuffers);
    /// Arms the close notification that the next Step produces (SCHANNEL_SHUTDOWN).
    void RequestShutdown() noexcept { FShutdownRequested = true; }

    SECURITY_STATUS GetStreamSizes(SecPkgContext_StreamSizes& ASizes) const;
    SECURITY_STATUS GetRemoteCertificate(PCCERT_CONTEXT& ACertificate) const;
    SECURITY_STATUS GetConnectionInfo(SecPkgContext_ConnectionInfo& AInfo) const;

    /// OpenSSL's client certificate callback of every client credential: stops the handshake
    /// (SEC_I_INCOMPLETE_CREDENTIALS) until the caller supplied credentials, then offers their
    /// certificate, or none.
    static int ClientCertificateCallback(SSL* ASsl, X509** ACert, EVP_PKEY** AKey);

private:
    enum class TState : uint8_t
    {
        Handshake,        ///< records of the handshake are exchanged
        NeedCredentials,  ///< the server asked for a client certificate; waiting for one
        Established,      ///< application data flows
        Closed,           ///< the close notification was sent
        Failed,           ///< a fatal error ended the connection
    };

    explicit TTlsContext(TSslPtr ASsl) noexcept;

    SECURITY_STATUS Handshake(std::span<const uint8_t> AInput, size_t AOffset,
        TTlsStepResult& AResult);
    SECURITY_STATUS ResumeWithCredential(const TTlsCredential* ACredential,
        std::span<const uint8_t> AInput, TTlsStepResult& AResult);
    SECURITY_STATUS Shutdown(TTlsStepResult& AResult);
    SECURITY_STATUS Fail(SECURITY_STATUS AStatus, TTlsStepResult& AResult);
    bool Feed(std::span<const uint8_t> ARecord) noexcept;
    std::vector<uint8_t> DrainOutput();
    SECURITY_STATUS ReadRecord(std::span<uint8_t> ARecord, size_t& APlainSize);
    void SetState(TState AState) noexcept { FState = AState; }

    TSslPtr FSsl;
    TRecordSource FSource;   ///< what FSsl's input BIO reads
    BIO* FOutput = nullptr;  ///< owned by FSsl
    TState FState = TState::Handshake;
    SECURITY_STATUS FFailure = SEC_E_OK;
    bool FShutdownRequested = false;
    bool FPeerClosed = false;
    /// Bytes of the input that the handshake had consumed when it stopped for credentials;
    /// the next step receives the same input again and skips them.
    size_t FConsumedBeforeCredentials = 0;
    /// The client certificate chosen after SEC_I_INCOMPLETE_CREDENTIALS (null: none offered);
    /// borrowed from the credential of the step that resumes the handshake, for that step only.
    PCCERT_CONTEXT FChosenCertificate = nullptr;
    bool FCertificateChosen = false;
    /// Holds header bytes that did not fit the caller's STREAM_HEADER buffer.
    std::vector<uint8_t> FHeaderOverflow;
};

}  // namespace ix::os::internal
