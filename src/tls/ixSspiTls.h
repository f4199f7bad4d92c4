#pragma once
// The TLS security context over the security interface's Schannel package: credentials (with a
// client certificate when one is supplied), the handshake token loop, record encryption and
// decryption, the close notification and the check of the peer's certificate with the system's
// SSL chain policy. It holds no sockets: it reads and writes the streams the TLS stream passes.

#include "core/ixClasses.h"
#include "core/ixStreams.h"
#include "tls/ixCertificate.h"
#include "tls/ixSspi.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ix {

/// A protocol version of TLSFlags.
enum TixTlsFlag : uint8_t { tfUseSSL2, tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12, tfUseTLS13 };
/// Protocol versions offered; the default [tfUseTLS, tfUseTLS11, tfUseTLS12] stores 28.
using TixTlsFlags = TSet<TixTlsFlag>;

/// A server-certificate error that verification may ignore.
enum TixCertificateVerifyFlag : uint8_t
{
    cfIgnoreCommonNameInvalid,
    cfIgnoreDateInvalid,
    cfIgnoreUnknownAuthority,
    cfIgnoreRevocation,
    cfIgnoreWrongUsage,
    cfIgnoreChainPolicyErrors,
};
/// Server-certificate errors to ignore.
using TixCertificateVerifyFlags = TSet<TixCertificateVerifyFlag>;

/// A revocation or chain-cache option of the chain building.
enum TixCertificateChainVerifyFlag : uint8_t
{
    rfCheckEndOnly,
    rfCheckAll,
    rfExcludeRoot,
    rfCacheEndCert,
    rfCheckCacheOnly,
    rfUseCacheOnlyUrlRetrieval,
    rfDisableRootAutoUpdate,
    rfAccumulativeTimeout,
};
/// Revocation and chain-cache options of the chain building.
using TixCertificateChainVerifyFlags = TSet<TixCertificateChainVerifyFlag>;

/// grbitEnabledProtocols of the version-4 credential block: tfUseSSL2 counts only without
/// tfUseTLS12; tfUseTLS13 has no bit there.
os::DWORD EnabledProtocolBits(TixTlsFlags AFlags) noexcept;
/// grbitDisabledProtocols of the version-5 block: the bits of the members not in AFlags.
os::DWORD DisabledProtocolBits(TixTlsFlags AFlags) noexcept;
/// The chain-building flags: at most one revocation scope (the first present) plus the others.
os::DWORD ChainFlagsOf(TixCertificateChainVerifyFlags AFlags) noexcept;
/// The SSL policy's checks to ignore (fdwChecks).
os::DWORD PolicyChecksOf(TixCertificateVerifyFlags AFlags) noexcept;

/// The credential block handed to AcquireCredentialsHandleA: the version-4 SCHANNEL_CRED or,
/// where the platform offers it, the version-5 SCH_CREDENTIALS with its protocol restriction;
/// it owns the certificate array it points to.
class TixSchannelCredentials
{
public:
    TixSchannelCredentials() = default;
    TixSchannelCredentials(const TixSchannelCredentials&) = delete;
    TixSchannelCredentials& operator=(const TixSchannelCredentials&) = delete;

    /// Starts a zeroed block of the chosen form with AFlags.
    void Reset(bool AUseCurrentForm, os::DWORD AFlags);
    /// Version 4: the enabled protocol bits.
    void SetEnabledProtocols(os::DWORD ABits) noexcept { FLegacy.grbitEnabledProtocols = ABits; }
    /// Version 5: one TLS_PARAMETERS entry disabling ABits.
    void SetDisabledProtocols(os::DWORD ABits) noexcept;
    /// Replaces the certificate array with the contexts of ACerts, in list order.
    void SetCertificates(const TixCertificateList& ACerts);

    /// The newer credential block (SCH_CREDENTIALS) is in use.
    bool IsCurrentForm() const noexcept { return FUseCurrentForm; }
    /// The older credential block (SCHANNEL_CRED).
    const os::SCHANNEL_CRED& Legacy() const noexcept { return FLegacy; }
    /// The newer credential block (SCH_CREDENTIALS).
    const os::SCH_CREDENTIALS& Current() const noexcept { return FCurrent; }
    /// The block in use, for AcquireCredentialsHandleA.
    void* AuthData() noexcept;

private:
    bool FUseCurrentForm = false;
    os::SCHANNEL_CRED FLegacy{};
    os::SCH_CREDENTIALS FCurrent{};
    os::TLS_PARAMETERS FTlsParameters{};
    std::vector<os::PCCERT_CONTEXT> FCertificates;
};

/// The TLS context of one connection; TixTlsClientSspi and TixTlsServerSspi are its two sides.
class TixTlsSspi : public TixSspi
{
public:
    /// Loads the security library and chooses the package. Raises EixSSPIError.
    TixTlsSspi();
    ~TixTlsSspi() override;

    /// Produces the close notification into AOutput (tsCompleteNeeded) and releases the handles.
    virtual TixSspiStatus Shutdown(TStream& AOutput) = 0;
    /// Runs one handshake step over the received bytes of AData (from its position), leaving
    /// the token to send, if any, in AData. AExtraCerts are the certificates to offer when the
    /// peer asks for one; AForce goes on without one.
    virtual TixSspiStatus HandshakeStep(TStream& AData, TixCertificateList& AExtraCerts,
        bool AForce) = 0;

    /// SecurityPackage as typed when it is not blank, else the chosen package's table name.
    std::string GetPackageName() const;
    /// Acquires credentials with ACerts (offered in list order). Returns false without
    /// acquiring when AForce is false and ACerts is empty. Raises EixSSPIError (-4).
    bool AcquireCredentials(const TixCertificateList& ACerts, bool AForce,
        uint32_t ACredentialUse, TixSchannelCredentials& ACred);
    /// Deletes the security context, when one is held.
    void DeleteContext() noexcept;
    /// Frees the credentials, when they are held.
    void FreeCredentials() noexcept;
    /// Header, trailer and maximum message sizes of the records, queried once. Raises (-6).
    const os::SecPkgContext_StreamSizes& GetStreamSizes();
    /// Encrypts ACount bytes from ASource's position into records written to ADest.
    TixSspiStatus Encrypt(TStream& ASource, TStream& ADest, int64_t ACount);
    /// Decrypts the records of ASource (from its position) and appends their plaintext to
    /// ADest; an incomplete record is written to ARemainder (which may be ASource).
    TixSspiStatus Decrypt(TStream& ASource, TStream& ADest, TStream& ARemainder);
    /// The same outcome as Decrypt(ABuffer, ADest, ABuffer), without copying the received
    /// bytes first: the records are decrypted where they lie (ADest must be another stream).
    /// Afterwards ABuffer holds, rewound, only the bytes not consumed (the start of a record).
    TixSspiStatus DecryptInPlace(TMemoryStream& ABuffer, TStream& ADest);

    /// The last security status, or the policy error of the last verification.
    int32_t GetLastSecurityStatus() const noexcept { return FLastSecurityStatus; }
    /// The peer's certificate, null until verified.
    TixCertificate* GetPeerCertificate() const noexcept { return FPeerCertificate.get(); }
    /// The system's policy check of this context passed.
    bool GetPeerVerified() const noexcept { return FPeerVerified; }

    /// Server-certificate errors to ignore.
    TixCertificateVerifyFlags GetCertificateFlags() const noexcept { return FCertificateFlags; }
    void SetCertificateFlags(TixCertificateVerifyFlags AValue) noexcept { FCertificateFlags = AValue; }
    /// Protocol versions offered; used only when UseSystemTLSFlags is false.
    TixTlsFlags GetTLSFlags() const noexcept { return FTLSFlags; }
    void SetTLSFlags(TixTlsFlags AValue) noexcept { FTLSFlags = AValue; }
    /// Security package name; empty: the first one of the package table that is available.
    const std::string& GetSecurityPackage() const noexcept { return FSecurityPackage; }
    void SetSecurityPackage(const std::string& AValue) { FSecurityPackage = AValue; }
    /// Send the root certificate with a client certificate chain.
    bool GetSendRootCertificate() const noexcept { return FSendRootCertificate; }
    void SetSendRootCertificate(bool AValue) noexcept { FSendRootCertificate = AValue; }
    /// Restrict the handshake to strong algorithms.
    bool GetUseStrongCryptoAlgorithms() const noexcept { return FUseStrongCryptoAlgorithms; }
    void SetUseStrongCryptoAlgorithms(bool AValue) noexcept { FUseStrongCryptoAlgorithms = AValue; }
    /// Revocation and chain-cache options of the chain building.
    TixCertificateChainVerifyFlags GetCertChainFlags() const noexcept { return FCertChainFlags; }
    void SetCertChainFlags(TixCertificateChainVerifyFlags AValue) noexcept { FCertChainFlags = AValue; }
    /// Milliseconds the chain building may wait for a URL retrieval; 0: the system's default.
    int32_t GetCertChainRetrievalTimeout() const noexcept { return FCertChainRetrievalTimeout; }
    void SetCertChainRetrievalTimeout(int32_t AValue) noexcept { FCertChainRetrievalTimeout = AValue; }
    /// Leave the protocol choice to the system; TLSFlags then have no effect.
    bool GetUseSystemTLSFlags() const noexcept { return FUseSystemTLSFlags; }
    void SetUseSystemTLSFlags(bool AValue) noexcept { FUseSystemTLSFlags = AValue; }

protected:
    /// The context call of this side: InitializeSecurityContextA or AcceptSecurityContext with
    /// this side's requirements, the held context (none before the first call) and the
    /// credentials; AContextAttr receives the returned attributes.
    virtual os::SECURITY_STATUS CallContext(os::PSecBufferDesc AInput,
        os::PSecBufferDesc AOutput, os::ULONG& AContextAttr) = 0;
    /// The attribute a failure carries when its output token is an alert for the peer.
    virtual os::ULONG ExtendedErrorAttribute() const noexcept = 0;

    /// A zeroed credential block of the form this platform takes, with the flags and protocols
    /// of the settings.
    void FillSchannelCred(TixSchannelCredentials& ACred) const;
    /// AcquireCredentialsHandleA with ACred; stores the status; a failure raises (-4).
    void AcquireCredentialsHandle(uint32_t ACredentialUse, TixSchannelCredentials& ACred);
    /// The handshake token loop shared by both sides (see HandshakeStep). AFirstCall: no
    /// context exists yet. AServer: a completed step that produced a token returns tsOk.
    TixSspiStatus RunSteps(TStream& AData, TixCertificateList& AExtraCerts, bool AForce,
        uint32_t ACredentialUse, TixSchannelCredentials& ACred, bool AServer);
    /// Checks the peer's certificate with the system's SSL chain policy; false (with the
    /// policy error in LastSecurityStatus) when it fails. ATargetName: the name to match, empty
    /// for none.
    bool VerifyPeer(os::DWORD AAuthType, const std::string& ATargetName);
    /// The common part of Shutdown: the close notification with this side's context call.
    TixSspiStatus ShutdownContext(TStream& AOutput);

    /// A security context is held.
    bool HasContext() const noexcept { return FContext.dwLower != 0 || FContext.dwUpper != 0; }
    /// Credentials are held.
    bool HasCredentials() const noexcept
    {
        return FCredentials.dwLower != 0 || FCredentials.dwUpper != 0;
    }

    /// Index of the chosen package in the package table.
    int32_t FPackageIndex = 0;
    /// The credentials handle; zero when none is held.
    os::CredHandle FCredentials{};
    /// The security context handle; zero when none is held.
    os::CtxtHandle FContext{};
    /// Record sizes of the context, once queried.
    os::SecPkgContext_StreamSizes FStreamSizes{};
    /// The last status of a context call or of the policy check.
    int32_t FLastSecurityStatus = 0;
    /// The peer's certificate from the last verification.
    std::unique_ptr<TixCertificate> FPeerCertificate;
    /// The policy check of the last verification passed.
    bool FPeerVerified = false;
    /// Backs CertificateFlags.
    TixCertificateVerifyFlags FCertificateFlags;
    /// Backs TLSFlags.
    TixTlsFlags FTLSFlags;
    /// Backs SecurityPackage.
    std::string FSecurityPackage;
    /// Backs SendRootCertificate.
    bool FSendRootCertificate = false;
    /// Backs UseStrongCryptoAlgorithms.
    bool FUseStrongCryptoAlgorithms = false;
    /// Backs CertChainFlags.
    TixCertificateChainVerifyFlags FCertChainFlags;
    /// Backs CertChainRetrievalTimeout.
    int32_t FCertChainRetrievalTimeout = 0;
    /// Backs UseSystemTLSFlags.
    bool FUseSystemTLSFlags = true;

private:
    int32_t FindPackage();
    /// Received bytes behind a completed handshake whose input slot went to an outgoing token;
    /// the next step or decryption takes them first, so that no application data is lost.
    std::vector<uint8_t> FHeldInput;

    std::vector<uint8_t> TakeInput(TStream& AData);
    /// Decrypts the records of AWork in place into ADest; ARest receives the bytes to keep
    /// for the next call, when the outcome leaves any.
    TixSspiStatus DecryptRecords(std::span<uint8_t> AWork, TStream& ADest,
        std::optional<std::span<uint8_t>>& ARest);
};

/// The client side: the context a TLS client stream uses.
class TixTlsClientSspi : public TixTlsSspi
{
public:
    TixTlsClientSspi();

    TixSspiStatus Shutdown(TStream& AOutput) override;
    TixSspiStatus HandshakeStep(TStream& AData, TixCertificateList& AExtraCerts,
        bool AForce) override;

    /// The server's name: sent as server name indication and matched by the policy.
    const std::string& GetTargetName() const noexcept { return FTargetName; }
    void SetTargetName(const std::string& AValue) { FTargetName = AValue; }

protected:
    os::SECURITY_STATUS CallContext(os::PSecBufferDesc AInput, os::PSecBufferDesc AOutput,
        os::ULONG& AContextAttr) override;
    os::ULONG ExtendedErrorAttribute() const noexcept override { return os::ISC_RET_EXTENDED_ERROR; }

private:
    bool VerifyServer();

    std::string FTargetName;
    bool FFirstStepPending = true;
};

/// The server side, for in-process TLS servers (tests). Its certificate comes as the first
/// handshake step's AExtraCerts (tsNeedCredentials asks for it).
class TixTlsServerSspi : public TixTlsSspi
{
public:
    TixSspiStatus Shutdown(TStream& AOutput) override;
    TixSspiStatus HandshakeStep(TStream& AData, TixCertificateList& AExtraCerts,
        bool AForce) override;

    /// Asks the client for a certificate and checks it once like a server's.
    bool GetRequireClientCertificate() const noexcept { return FRequireClientCertificate; }
    void SetRequireClientCertificate(bool AValue) noexcept { FRequireClientCertificate = AValue; }

protected:
    os::SECURITY_STATUS CallContext(os::PSecBufferDesc AInput, os::PSecBufferDesc AOutput,
        os::ULONG& AContextAttr) override;
    os::ULONG ExtendedErrorAttribute() const noexcept override { return os::ASC_RET_EXTENDED_ERROR; }

private:
    bool FFirstStepPending = true;
    bool FRequireClientCertificate = false;
};

}  // namespace ix
