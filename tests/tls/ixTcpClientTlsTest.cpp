// The TLS client component: its settings and their change notification, when a connection is
// encrypted, the stream it builds, and switching a live plain connection to TLS.
#include "tls/ixTcpClientTls.h"

#include "net/ixNetTestUtils.h"
#include "support/ScriptedServer.h"
#include "support/TlsTestServer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace ix {
namespace {

using test::ReadUntil;
using test::ScriptedServer;
using test::Step;
using test::TlsServerSteps;
using test::TlsStreamOf;

/// A client of a line protocol with the default port 110 whose STARTTLS command is "STLS".
class TStlsClient : public TixTcpClientTls
{
public:
    using TixTcpClientTls::CreateNetworkStream;

    int32_t StartTlsCalls = 0;
    bool SendStls = true;

    void StartTls() override
    {
        ++StartTlsCalls;
        if (!SendStls)
            return;
        GetConnection()->WriteString("STLS\r\n", "");
        TMemoryStream reply;
        ReadUntil(*GetConnection(), reply, "\r\n");
        TixTcpClientTls::StartTls();
    }

protected:
    int32_t GetDefaultPort() override { return 110; }
};

TEST(TcpClientTls, DefaultsArePublishedAndEverySetterNotifiesOnlyARealChangeCarriedByTheTlsStream)
{
    TixTcpClientTls client;
    EXPECT_EQ(client.GetUseTLS(), ctNone);
    EXPECT_EQ(client.GetTLSFlags().Value(), 28u);
    EXPECT_TRUE(client.GetUseSystemTLSFlags());
    EXPECT_TRUE(client.GetCertificateFlags().Empty());
    EXPECT_TRUE(client.GetCertChainFlags().Empty());
    EXPECT_EQ(client.GetCertChainRetrievalTimeout(), 0);
    EXPECT_FALSE(client.GetSendRootCertificate());
    EXPECT_FALSE(client.GetUseStrongCryptoAlgorithms());
    EXPECT_EQ(client.GetSecurityPackage(), "");
    client.SetServer("Mail.Example.Test");
    int changes = 0;
    client.OnChanged = [&](TObject* ASender) {
        EXPECT_EQ(ASender, &client);
        ++changes;
    };
    const auto twice = [&](auto ASet) {
        const int before = changes;
        ASet();
        ASet();
        return changes - before;
    };
    EXPECT_EQ(twice([&] { client.SetUseTLS(ctImplicit); }), 1);
    EXPECT_EQ(twice([&] { client.SetCertificateFlags({cfIgnoreUnknownAuthority, cfIgnoreRevocation}); }), 1);
    EXPECT_EQ(twice([&] { client.SetCertChainFlags({rfCacheEndCert}); }), 1);
    EXPECT_EQ(twice([&] { client.SetCertChainRetrievalTimeout(1234); }), 1);
    EXPECT_EQ(twice([&] { client.SetTLSFlags({tfUseTLS13}); }), 1);
    EXPECT_EQ(twice([&] { client.SetUseSystemTLSFlags(false); }), 1);
    EXPECT_EQ(twice([&] { client.SetSendRootCertificate(true); }), 1);
    EXPECT_EQ(twice([&] { client.SetUseStrongCryptoAlgorithms(true); }), 1);
    EXPECT_EQ(twice([&] { client.SetSecurityPackage(" microsoft unified security protocol provider "); }), 1);
    EXPECT_EQ(twice([&] { client.SetSecurityPackage(" Microsoft Unified Security Protocol Provider "); }), 1)
        << "package names compare case-sensitively";

    const std::unique_ptr<TixTlsNetworkStream> stream = client.CreateTlsStream();
    EXPECT_EQ(stream->GetTargetName(), "Mail.Example.Test");
    EXPECT_EQ(stream->GetCertificateFlags(), client.GetCertificateFlags());
    EXPECT_EQ(stream->GetCertChainFlags(), client.GetCertChainFlags());
    EXPECT_EQ(stream->GetCertChainRetrievalTimeout(), 1234);
    EXPECT_EQ(stream->GetTLSFlags(), client.GetTLSFlags());
    EXPECT_FALSE(stream->GetUseSystemTLSFlags());
    EXPECT_TRUE(stream->GetSendRootCertificate());
    EXPECT_TRUE(stream->GetUseStrongCryptoAlgorithms());
    EXPECT_EQ(stream->GetSecurityPackage(), " Microsoft Unified Security Protocol Provider ");
}

TEST(TcpClientTls, ModeAndPortDecideBetweenPlainAndTlsStreams)
{
    // The mode, the port, whether the stream is a TLS stream, whether STARTTLS follows.
    const std::tuple<TixClientTlsMode, int32_t, bool, bool> cases[] = {
        {ctNone, 110, false, false},
        {ctNone, 995, false, false},
        {ctAutomatic, 110, false, true},
        {ctAutomatic, 995, true, false},
        {ctImplicit, 110, true, false},
        {ctExplicit, 110, false, true},
        {ctExplicit, 995, false, true},
    };
    for (const auto& [mode, port, tls, startsTls] : cases)
    {
        TStlsClient client;
        client.SendStls = false;
        client.SetUseTLS(mode);
        client.SetPort(port);
        const std::unique_ptr<TixNetworkStream> stream = client.CreateNetworkStream();
        EXPECT_EQ(dynamic_cast<TixTlsNetworkStream*>(stream.get()) != nullptr, tls)
            << "mode " << int(mode) << ", port " << port;
        EXPECT_EQ(client.StartTlsIfNeeded(), startsTls) << "mode " << int(mode) << ", port " << port;
        EXPECT_EQ(client.StartTlsCalls, startsTls ? 1 : 0);
    }
}

TEST(TcpClientStartTls, LivePlainConnectionSwitchesToTlsAfterTheCommand)
{
    TlsServerSteps tls(13);
    ScriptedServer server({Step::Send("+OK ready\r\n"), Step::Expect("STLS"),
        Step::Send("+OK begin TLS\r\n"), tls.Handshake(), tls.ExpectText("NOOP\r\n"),
        tls.SendRecords({"+OK\r\n"}), tls.ExpectClose()});
    TStlsClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.SetTimeOut(10000);
    client.Open();
    TMemoryStream greeting;
    ReadUntil(*client.GetConnection(), greeting, "\r\n");
    EXPECT_EQ(greeting.View(), "+OK ready\r\n");
    int changes = 0;
    client.OnChanged = [&](TObject*) { ++changes; };
    client.StartTls();
    EXPECT_EQ(client.GetUseTLS(), ctExplicit);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(TlsStreamOf(client).GetVerified());
    // Settings changed while open apply to the next connection only.
    client.SetTLSFlags({tfUseTLS12});
    client.SetCertificateFlags({cfIgnoreDateInvalid});
    EXPECT_EQ(TlsStreamOf(client).GetTLSFlags().Value(), 28u);
    EXPECT_TRUE(TlsStreamOf(client).GetCertificateFlags().Empty());
    EXPECT_EQ(client.GetConnection()->GetPeerPort(), server.Port()) << "address state handed over";
    client.GetConnection()->WriteString("NOOP\r\n", "");
    TMemoryStream reply;
    ReadUntil(*client.GetConnection(), reply, "\r\n");
    EXPECT_EQ(reply.View(), "+OK\r\n");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace ix
