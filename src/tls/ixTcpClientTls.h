#pragma once
// The TCP client component with TLS: its TLS settings, the choice of when the connection is
// encrypted (from the first byte, or after a protocol command such as POP3 "STLS"), the TLS
// network stream built from those settings, and the certificate events of the application.
// The component encrypts nothing itself: it chooses between the plain stream and a TLS stream
// and, for explicit TLS, swaps the plain stream of a live connection for a TLS one.

#include "core/ixClasses.h"
#include "net/ixSocket.h"
#include "net/ixTcpClient.h"
#include "tls/ixCertificate.h"
#include "tls/ixSspiTls.h"
#include "tls/ixTlsStream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ix {

/// When TLS is used: never, by port (the protocol's default port negotiates it after the
/// greeting, any other port starts with it), from the first byte, or after the greeting.
enum TixClientTlsMode : uint8_t { ctNone, ctAutomatic, ctImplicit, ctExplicit };

/// A TCP client whose connection can be encrypted with TLS.
class TixTcpClientTls : public TixTcpClient
{
public:
    /// A client with the defaults: no TLS, the system's protocol choice.
    explicit TixTcpClientTls(TComponent* AOwner = nullptr);
    ~TixTcpClientTls() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties. The settings are read when a TLS stream is built; changing
    // them while a TLS session is open affects only the next one. Setters store only a change
    // and then call Changed.

    /// When TLS is used (default ctNone).
    TixClientTlsMode GetUseTLS() const noexcept { return FUseTLS; }
    virtual void SetUseTLS(TixClientTlsMode AValue);
    /// Server-certificate errors to ignore (default none).
    TixCertificateVerifyFlags GetCertificateFlags() const noexcept { return FCertificateFlags; }
    void SetCertificateFlags(TixCertificateVerifyFlags AValue);
    /// Revocation and chain-cache options of the chain building (default none).
    TixCertificateChainVerifyFlags GetCertChainFlags() const noexcept { return FCertChainFlags; }
    void SetCertChainFlags(TixCertificateChainVerifyFlags AValue);
    /// URL retrieval time-out of the chain building in ms; 0: the system's default.
    int32_t GetCertChainRetrievalTimeout() const noexcept { return FCertChainRetrievalTimeout; }
    void SetCertChainRetrievalTimeout(int32_t AValue);
    /// Protocol versions offered when UseSystemTLSFlags is false (default TLS 1.0 to 1.2).
    TixTlsFlags GetTLSFlags() const noexcept { return FTLSFlags; }
    void SetTLSFlags(TixTlsFlags AValue);
    /// Leave the protocol choice to the system (default true); TLSFlags then have no effect.
    bool GetUseSystemTLSFlags() const noexcept { return FUseSystemTLSFlags; }
    void SetUseSystemTLSFlags(bool AValue);
    /// Send the root certificate with a client certificate chain.
    bool GetSendRootCertificate() const noexcept { return FSendRootCertificate; }
    void SetSendRootCertificate(bool AValue);
    /// Restrict the handshake to strong algorithms.
    bool GetUseStrongCryptoAlgorithms() const noexcept { return FUseStrongCryptoAlgorithms; }
    void SetUseStrongCryptoAlgorithms(bool AValue);
    /// Security package name; empty: chosen automatically. Compared case-sensitively.
    const std::string& GetSecurityPackage() const noexcept { return FSecurityPackage; }
    void SetSecurityPackage(const std::string& AValue);

    // ---- Operations

    /// A new TLS stream with this component's settings, aimed at Server, whose certificate
    /// events reach OnGetCertificate and OnVerifyServer. The caller owns it.
    std::unique_ptr<TixTlsNetworkStream> CreateTlsStream();
    /// Calls StartTls when UseTLS is ctExplicit, or ctAutomatic on the protocol's default
    /// port; returns whether it did.
    bool StartTlsIfNeeded();
    /// Switches the open connection to TLS; the handshake and the server's verification run
    /// inside this call. With UseTLS ctNone, UseTLS becomes ctExplicit first. On failure the
    /// client is closed (without the protocol's logout) and the exception passes on.
    virtual void StartTls();

    // ---- Events

    /// Asks the application for a client certificate when the server wants one.
    TixGetCertificateEvent OnGetCertificate;
    /// Lets the application accept or reject the server; AVerified arrives holding the
    /// outcome of the system's policy check.
    TixVerifyPeerEvent OnVerifyServer;

protected:
    /// A TLS stream for ctImplicit, and for ctAutomatic on a port other than the default one;
    /// otherwise the plain stream.
    std::unique_ptr<TixNetworkStream> CreateNetworkStream() override;

    /// Fires OnGetCertificate with this component as Sender.
    virtual void DoGetCertificate(TixCertificate*& ACertificate, TixCertificateList& AExtraCerts,
        bool& Handled);
    /// Fires OnVerifyServer with this component as Sender.
    virtual void DoVerifyServer(TixCertificate* ACertificate, const std::string& AStatusText,
        int32_t AStatusCode, bool& AVerified);

private:
    TixClientTlsMode FUseTLS = ctNone;
    TixCertificateVerifyFlags FCertificateFlags;
    TixTlsFlags FTLSFlags{tfUseTLS, tfUseTLS11, tfUseTLS12};
    std::string FSecurityPackage;
    bool FUseStrongCryptoAlgorithms = false;
    bool FSendRootCertificate = false;
    TixCertificateChainVerifyFlags FCertChainFlags;
    int32_t FCertChainRetrievalTimeout = 0;
    bool FUseSystemTLSFlags = true;
};

}  // namespace ix
