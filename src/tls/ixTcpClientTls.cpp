#include "tls/ixTcpClientTls.h"
#include "core/ixProperties.h"

#include "net/ixSocketUtils.h"

#include <exception>
#include <utility>

namespace ix {

TixTcpClientTls::TixTcpClientTls(TComponent* AOwner) : TixTcpClient(AOwner)
{
}

TixTcpClientTls::~TixTcpClientTls() = default;

// ---- properties ------------------------------------------------------------------------------

void TixTcpClientTls::SetUseTLS(TixClientTlsMode AValue)
{
    if (AssignIfChanged(FUseTLS, AValue))
        Changed();
}

void TixTcpClientTls::SetCertificateFlags(TixCertificateVerifyFlags AValue)
{
    if (AssignIfChanged(FCertificateFlags, AValue))
        Changed();
}

void TixTcpClientTls::SetCertChainFlags(TixCertificateChainVerifyFlags AValue)
{
    if (AssignIfChanged(FCertChainFlags, AValue))
        Changed();
}

void TixTcpClientTls::SetCertChainRetrievalTimeout(int32_t AValue)
{
    if (AssignIfChanged(FCertChainRetrievalTimeout, AValue))
        Changed();
}

void TixTcpClientTls::SetTLSFlags(TixTlsFlags AValue)
{
    if (AssignIfChanged(FTLSFlags, AValue))
        Changed();
}

void TixTcpClientTls::SetUseSystemTLSFlags(bool AValue)
{
    if (AssignIfChanged(FUseSystemTLSFlags, AValue))
        Changed();
}

void TixTcpClientTls::SetSendRootCertificate(bool AValue)
{
    if (AssignIfChanged(FSendRootCertificate, AValue))
        Changed();
}

void TixTcpClientTls::SetUseStrongCryptoAlgorithms(bool AValue)
{
    if (AssignIfChanged(FUseStrongCryptoAlgorithms, AValue))
        Changed();
}

void TixTcpClientTls::SetSecurityPackage(const std::string& AValue)
{
    if (AssignIfChanged(FSecurityPackage, AValue))
        Changed();
}

// ---- streams ---------------------------------------------------------------------------------

std::unique_ptr<TixNetworkStream> TixTcpClientTls::CreateNetworkStream()
{
    if (FUseTLS == ctImplicit || (FUseTLS == ctAutomatic && GetPort() != GetDefaultPort()))
        return CreateTlsStream();
    return TixTcpClient::CreateNetworkStream();
}

std::unique_ptr<TixTlsNetworkStream> TixTcpClientTls::CreateTlsStream()
{
    auto stream = std::make_unique<TixTlsNetworkStream>();
    stream->SetCertificateFlags(FCertificateFlags);
    stream->SetCertChainFlags(FCertChainFlags);
    stream->SetCertChainRetrievalTimeout(FCertChainRetrievalTimeout);
    stream->SetTLSFlags(FTLSFlags);
    stream->SetUseSystemTLSFlags(FUseSystemTLSFlags);
    stream->SetSendRootCertificate(FSendRootCertificate);
    stream->SetUseStrongCryptoAlgorithms(FUseStrongCryptoAlgorithms);
    stream->SetTargetName(GetServer());
    stream->SetSecurityPackage(FSecurityPackage);
    // The stream's own Sender is dropped: the application always sees this component.
    stream->OnGetCertificate = [this](TObject*, TixCertificate*& ACertificate,
                                   TixCertificateList& AExtraCerts, bool& Handled) {
        DoGetCertificate(ACertificate, AExtraCerts, Handled);
    };
    stream->OnVerifyPeer = [this](TObject*, TixCertificate* ACertificate,
                               const std::string& AStatusText, int32_t AStatusCode,
                               bool& AVerified) {
        DoVerifyServer(ACertificate, AStatusText, AStatusCode, AVerified);
    };
    return stream;
}

// ---- STARTTLS --------------------------------------------------------------------------------

bool TixTcpClientTls::StartTlsIfNeeded()
{
    if (FUseTLS != ctExplicit && (FUseTLS != ctAutomatic || GetPort() != GetDefaultPort()))
        return false;
    StartTls();
    return true;
}

void TixTcpClientTls::StartTls()
{
    if (FUseTLS == ctNone)
        SetUseTLS(ctExplicit);
    try
    {
        TixTcpClientConnection& connection = *GetConnection();
        connection.SetNetworkStream(CreateTlsStream());
        connection.BeginSession();
        // A peer that hung up during the handshake (or an abort) left no TLS session.
        if (!connection.GetActive())
            RaiseSocketError(SocketErrorNotActive);
    }
    catch (...)
    {
        // Close without the protocol's logout; the failure of the switch is what the caller
        // needs to see, so an error of this close is dropped.
        const std::exception_ptr error = std::current_exception();
        try
        {
            CloseWithoutGoodbye(true);
        }
        catch (...)
        {
        }
        std::rethrow_exception(error);
    }
}

// ---- events ----------------------------------------------------------------------------------

void TixTcpClientTls::DoGetCertificate(TixCertificate*& ACertificate,
    TixCertificateList& AExtraCerts, bool& Handled)
{
    CallEvent(OnGetCertificate, this, ACertificate, AExtraCerts, Handled);
}

void TixTcpClientTls::DoVerifyServer(TixCertificate* ACertificate, const std::string& AStatusText,
    int32_t AStatusCode, bool& AVerified)
{
    CallEvent(OnVerifyServer, this, ACertificate, AStatusText, AStatusCode, AVerified);
}

const TPropertyTable& TixTcpClientTls::GetPublishedProperties() const
{
    using C = TixTcpClientTls;
    static const TPropertyTable table("TixTcpClientTls", &TixTcpClient::GetPublishedProperties(),
        {
            Published<&C::GetUseTLS, &C::SetUseTLS>("UseTLS", ctNone,
                {"ctNone", "ctAutomatic", "ctImplicit", "ctExplicit"}),
            Published<&C::GetCertificateFlags, &C::SetCertificateFlags>("CertificateFlags", TixCertificateVerifyFlags{},
                {"cfIgnoreCommonNameInvalid", "cfIgnoreDateInvalid", "cfIgnoreUnknownAuthority", "cfIgnoreRevocation",
                    "cfIgnoreWrongUsage", "cfIgnoreChainPolicyErrors"}),
            Published<&C::GetCertChainFlags, &C::SetCertChainFlags>("CertChainFlags", TixCertificateChainVerifyFlags{},
                {"rfCheckEndOnly", "rfCheckAll", "rfExcludeRoot", "rfCacheEndCert", "rfCheckCacheOnly",
                    "rfUseCacheOnlyUrlRetrieval", "rfDisableRootAutoUpdate", "rfAccumulativeTimeout"}),
            Published<&C::GetCertChainRetrievalTimeout, &C::SetCertChainRetrievalTimeout>("CertChainRetrievalTimeout", 0),
            Published<&C::GetTLSFlags, &C::SetTLSFlags>("TLSFlags", TixTlsFlags{tfUseTLS, tfUseTLS11, tfUseTLS12},
                {"tfUseSSL2", "tfUseSSL3", "tfUseTLS", "tfUseTLS11", "tfUseTLS12", "tfUseTLS13"}),
            Published<&C::GetUseSystemTLSFlags, &C::SetUseSystemTLSFlags>("UseSystemTLSFlags", true),
            Published<&C::GetSendRootCertificate, &C::SetSendRootCertificate>("SendRootCertificate", false),
            Published<&C::GetUseStrongCryptoAlgorithms, &C::SetUseStrongCryptoAlgorithms>("UseStrongCryptoAlgorithms", false),
            Published<&C::GetSecurityPackage, &C::SetSecurityPackage>("SecurityPackage", ""),
        });
    return table;
}

}  // namespace ix
