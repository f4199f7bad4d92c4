// The TLS client against real TLS servers started by tests/peers/tls: GnuTLS's gnutls-serv (an
// independent TLS implementation) and openssl s_server sending records of at most 512 bytes.
#include "tls/ixTcpClientTls.h"

#include "net/ixNetTestUtils.h"
#include "support/PeerEnv.h"
#include "support/ProgramRun.h"
#include "support/TlsTestCertificates.h"
#include "support/TlsTestServer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace ix {
namespace {

using test::AimTls;
using test::ReadUntil;
using test::TlsStreamOf;

/// The ports and the certificate directory that the peer script wrote; fails the test when
/// the peers are not running.
class TlsPeers : public testing::Test
{
protected:
    void SetUp() override
    {
        FValues = test::RequirePeerEnv(IX_TLS_PEER_STATE);
        const std::string ca = test::ReadAll(CertFile("ca.pem"));
        ASSERT_FALSE(ca.empty()) << "no test authority in " << FValues["CERT_DIR"];
        test::TrustOnly(ca);
    }

    int32_t PortOf(const std::string& AKey) { return std::stoi(FValues.at(AKey)); }
    std::string CertFile(const std::string& AName) { return FValues["CERT_DIR"] + "/" + AName; }

    /// Sends ALine with a line end and returns the reply line (without its end).
    static std::string Exchange(TixTcpClientTls& AClient, const std::string& ALine)
    {
        AClient.GetConnection()->WriteString(ALine + "\n", "");
        TMemoryStream reply;
        ReadUntil(*AClient.GetConnection(), reply, "\n");
        std::string text(reply.View());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }

private:
    std::map<std::string, std::string> FValues;
};

TEST_F(TlsPeers, GnuTlsHandshakesWithTheVersionTheFlagsAllowAndEchoes)
{
    const struct
    {
        const char* PortKey;
        const char* Host;
        bool System;
        TixTlsFlags Flags; // heeded without the system's protocols
        uint32_t Trailer;  // 17: TLS 1.3; 16: TLS 1.2 with AES-GCM
    } cases[] = {{"GNUTLS_PORT", "127.0.0.1", true, {tfUseTLS12}, 17},
        {"GNUTLS_PORT", "localhost", false, {tfUseTLS12}, 16},
        {"GNUTLS_PORT", "localhost", false, {tfUseTLS12, tfUseTLS13}, 17},
        {"GNUTLS12_PORT", "127.0.0.1", true, {tfUseTLS12}, 16},
        {"GNUTLS12_PORT", "127.0.0.1", false, {tfUseTLS, tfUseTLS11, tfUseTLS12}, 16}};
    for (const auto& c : cases)
    {
        TixTcpClientTls client;
        AimTls(client, PortOf(c.PortKey), c.Host);
        client.SetUseSystemTLSFlags(c.System);
        client.SetTLSFlags(c.Flags);
        client.Open();
        EXPECT_EQ(TlsStreamOf(client).GetSspi()->GetStreamSizes().cbTrailer, c.Trailer) << c.PortKey << " " << c.Host;
        EXPECT_EQ(Exchange(client, "hello GnuTLS"), "hello GnuTLS");
        EXPECT_EQ(Exchange(client, std::string(20000, 'g')), std::string(20000, 'g'));
        client.Close();
        EXPECT_FALSE(client.IsActive());
    }
}

TEST_F(TlsPeers, SmallRecordsOfOpenSslArriveManyToAReadWithoutLoss)
{
    // Four lines of about 15000 bytes in one write; s_server answers each reversed, in records
    // of at most 512 bytes, which reads take many at a time and cut where the batch ends.
    std::string request;
    std::string expected;
    for (int l = 0; l < 4; ++l)
    {
        std::string line;
        for (int i = 0; line.size() < 15000; ++i)
            line += std::to_string(l * 100000 + i) + ",";
        request += line + "\n";
        expected += std::string(line.rbegin(), line.rend()) + "\n";
    }
    for (const bool tls13 : {true, false})
    {
        TixTcpClientTls client;
        AimTls(client, PortOf("OPENSSL_PORT"));
        client.SetUseSystemTLSFlags(tls13);
        client.Open();
        EXPECT_EQ(TlsStreamOf(client).GetSspi()->GetStreamSizes().cbTrailer, tls13 ? 17u : 16u);
        client.GetConnection()->WriteString(request, "");
        TMemoryStream reply;
        while (reply.GetSize() < static_cast<int64_t>(expected.size()) && client.IsActive())
            client.GetConnection()->ReadData(&reply);
        EXPECT_TRUE(reply.View() == expected)
            << (tls13 ? "TLS 1.3: " : "TLS 1.2: ") << reply.GetSize() << " bytes";
        client.Close();
    }
}

TEST_F(TlsPeers, ClientCertificateIsOfferedWhenTheServerRequiresOne)
{
    const std::unique_ptr<TixCertificate> certificate
        = test::LoadPemCertificate(CertFile("client.pem"), CertFile("client.key"));
    TixTcpClientTls client;
    AimTls(client, PortOf("GNUTLS_CLIENT_CERT_PORT"));
    int asked = 0;
    client.OnGetCertificate = [&](TObject* ASender, TixCertificate*& ACertificate, TixCertificateList&, bool&) {
        EXPECT_EQ(ASender, &client);
        ++asked;
        ACertificate = certificate.get();
    };
    client.Open();
    EXPECT_EQ(Exchange(client, "with a certificate"), "with a certificate");
    EXPECT_EQ(asked, 1);
    client.Close();

    // Without one the server refuses: in TLS 1.3 its alert comes after the client's last
    // flight, so it surfaces at the first read (as the alert, or as the reset behind it).
    TixTcpClientTls without;
    AimTls(without, PortOf("GNUTLS_CLIENT_CERT_PORT"));
    EXPECT_THROW(
        {
            without.Open();
            Exchange(without, "without a certificate");
        },
        Exception);
}

}  // namespace
}  // namespace ix
