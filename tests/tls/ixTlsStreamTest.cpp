// The TLS stream under a TLS client, against an in-process OpenSSL server on a scripted
// loopback connection: handshakes, records cut and joined at chosen places, closing, the
// server's verification and client certificates.
#include "tls/ixTlsStream.h"

#include "net/ixNetTestUtils.h"
#include "net/ixSocketTestUtils.h"
#include "net/ixSocketUtils.h"
#include "platform/ixOsCrypt.h"
#include "support/ScriptedServer.h"
#include "tls/TlsClientTestUtils.h"
#include "tls/TlsServerSteps.h"
#include "tls/TlsTestPeer.h"
#include "tls/ixSspi.h"
#include "tls/ixTcpClientTls.h"
#include "tls/ixTestCertificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ix {
namespace {

using test::AimTls;
using test::ScriptedServer;
using test::SocketErrorOf;
using test::Step;
using test::TestCertFile;
using test::TlsServerSteps;
using test::TlsStreamOf;

/// ACount record texts of sizes from 1 to 16384 bytes (stepping by AStride), each one letter
/// from AFirst on; AJoined receives them joined.
std::vector<std::string> MixedRecords(size_t ACount, size_t AStride, char AFirst, std::string& AJoined)
{
    std::vector<std::string> records;
    for (size_t i = 0; i < ACount; ++i)
    {
        records.push_back(std::string(1 + (i * AStride) % 16384, static_cast<char>(AFirst + i % 26)));
        AJoined += records.back();
    }
    return records;
}

class TlsStream : public testing::TestWithParam<int>
{
protected:
    void SetUp() override { test::TrustOnly(test::TestCaPem()); }

    /// Opens AClient against AServer with the version of the test's parameter.
    void Open(TixTcpClientTls& AClient, const ScriptedServer& AServer)
    {
        AimTls(AClient, AServer.Port());
        AClient.Open();
        ASSERT_TRUE(AClient.IsActive());
        ASSERT_TRUE(TlsStreamOf(AClient).GetVerified());
    }

    int Version() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Versions, TlsStream, testing::Values(12, 13),
    [](const testing::TestParamInfo<int>& AInfo) { return "Tls" + std::to_string(AInfo.param); });

TEST_P(TlsStream, HandshakeIsVerifiedAndRecordsFlowBothWaysCountingApplicationBytes)
{
    // TLS 1.3 is aimed at a host name, which the server is told; TLS 1.2 at an address.
    const std::string host = Version() == 13 ? "localhost" : "127.0.0.1";
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake(), tls.ExpectText(std::string(1000, 'w')),
        tls.SendRecords({std::string(300, 'r'), "hello client\r\n"}), tls.ExpectClose()});
    TixTcpClientTls client;
    AimTls(client, server.Port(), host);
    client.Open();
    ASSERT_TRUE(TlsStreamOf(client).GetVerified());
    TixTcpClientConnection& connection = *client.GetConnection();
    connection.InitProgress(0, 0);
    connection.WriteString(std::string(1000, 'w'), "");
    EXPECT_EQ(connection.GetBytesProceed(), 1000);
    TMemoryStream received;
    ReadUntil(connection, received, "\r\n");
    EXPECT_EQ(received.View(), std::string(300, 'r') + "hello client\r\n");
    EXPECT_EQ(connection.GetBytesProceed(), 1000 + received.GetSize());
    EXPECT_GT(TlsStreamOf(client).GetRawBytesProceed(), 1000 + received.GetSize()) << "records carry overhead";
    client.Close();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(tls.Server().Version(), Version());
    EXPECT_EQ(tls.Server().ServerName(), Version() == 13 ? host : "");
}

TEST_P(TlsStream, SeveralRecordsInOneReadAreAllDecryptedInThatRead)
{
    TlsServerSteps tls(Version());
    // The records go out together only once "first " has been read, so that they cannot join
    // the read that takes it.
    ScriptedServer server({tls.Handshake("first "), Step::WaitSignal(),
        tls.SendRecords({"one ", "two ", "three"}), tls.ExpectClose()});
    TixTcpClientTls client;
    Open(client, server);
    TMemoryStream received;
    ReadUntil(*client.GetConnection(), received, "first ");
    const int64_t before = received.GetSize();
    server.Signal();
    client.GetConnection()->ReadData(&received);
    EXPECT_EQ(received.View().substr(static_cast<size_t>(before)), "one two three");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST_P(TlsStream, RecordSplitAcrossReadsIsHeldUntilItsRestArrives)
{
    TlsServerSteps tls(Version());
    // The last 9 bytes of the second record come only when the test signals.
    ScriptedServer server({tls.Handshake(), tls.SendRecords({"first record, ", "second record"}, 9),
        tls.ExpectClose()});
    TixTcpClientTls client;
    Open(client, server);
    TixTlsNetworkStream& stream = TlsStreamOf(client);
    bool heldIncomplete = false;
    client.GetConnection()->OnProgress = [&](TObject*, int64_t, int64_t) {
        if (stream.GetLastStatus() == tsIncompleteMessage && !heldIncomplete)
        {
            heldIncomplete = true;  // the first record is out; now the rest of the second
            server.Signal();
        }
    };
    TMemoryStream received;
    ReadUntil(*client.GetConnection(), received, "second record");
    EXPECT_EQ(received.View(), "first record, second record");
    EXPECT_TRUE(heldIncomplete);
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST_P(TlsStream, ApplicationDataBehindTheLastHandshakeFlightIsDelivered)
{
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake("+OK ready\r\n"), tls.ExpectClose()});
    TixTcpClientTls client;
    Open(client, server);
    // TLS 1.2: the greeting came in the read that ended the handshake; it waits decrypted.
    if (Version() == 12)
    {
        EXPECT_TRUE(TlsStreamOf(client).GetReadPending());
    }
    TMemoryStream received;
    ReadUntil(*client.GetConnection(), received, "\r\n");
    EXPECT_EQ(received.View(), "+OK ready\r\n");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST_P(TlsStream, LargeTransfersKeepEveryByteInOrderUpToTheCloseNotification)
{
    // The records pile up faster than the client reads them: they are decrypted as they come,
    // and the server's close notification ends the session after the last of them.
    const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz-";
    const size_t upload = 3 * 1024 * 1024 + 17;
    std::string expected;
    const std::vector<std::string> records = MixedRecords(400, 104729, 'a', expected);
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake(), tls.ExpectPattern(upload, pattern),
        tls.SendRecords(records), tls.SendClose(), Step::Drain()});
    TixTcpClientTls client;
    client.SetBatchSize(INT32_MAX); // stored as the largest batch; sizes grow without overflow
    EXPECT_EQ(client.GetBatchSize(), TixConnection::MaxBatchSize);
    Open(client, server);
    TMemoryStream source;
    for (size_t i = 0; i < upload; ++i)
        source.WriteBuffer(&pattern[i % pattern.size()], 1);
    source.SetPosition(0);
    client.GetConnection()->WriteData(&source);
    EXPECT_EQ(source.GetPosition(), static_cast<int64_t>(upload));
    TMemoryStream received;
    while (client.IsActive())
        client.GetConnection()->ReadData(&received);
    EXPECT_TRUE(received.View() == expected) << "received " << received.GetSize() << " of "
                                             << expected.size() << " bytes";
    EXPECT_TRUE(client.GetConnection()->PeerClosed());
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST_P(TlsStream, ProgressFollowsTheBytesWhileOneReadDrainsAFastPeer)
{
    // Throttled to about 8 MB/s, the client leaves the server time to keep the socket full, so
    // a read drains the whole transfer; its progress must still advance step by step.
    const std::vector<std::string> records(256, std::string(16384, 'p'));
    const int64_t total = 256 * 16384;
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake(), tls.SendRecords(records), tls.SendClose(),
        Step::Drain()});
    TixTcpClientTls client;
    Open(client, server);
    TixTcpClientConnection& connection = *client.GetConnection();
    connection.SetBatchSize(65536);
    connection.SetBitsPerSec(64 * 1024 * 1024);
    connection.InitProgress(0, total);
    std::vector<int64_t> reports;
    connection.OnProgress = [&](TObject*, int64_t ABytesProceed, int64_t ATotalBytes) {
        EXPECT_EQ(ATotalBytes, total);
        reports.push_back(ABytesProceed);
    };
    TMemoryStream received;
    while (client.IsActive())
        connection.ReadData(&received);
    ASSERT_EQ(received.GetSize(), total);
    ASSERT_GT(reports.size(), 1u);
    EXPECT_EQ(reports.back(), total);
    EXPECT_EQ(connection.GetBytesProceed(), total);
    int64_t previous = 0;
    int64_t largestStep = 0;
    for (const int64_t report : reports)
    {
        EXPECT_GT(report, previous);
        largestStep = std::max(largestStep, report - previous);
        previous = report;
    }
    // A read takes at most eight batches (512 KB here) plus the rest of a record held from the
    // previous one, so no step may come near the whole 4 MB.
    EXPECT_LE(largestStep, 1024 * 1024) << "progress held back over " << largestStep << " bytes";
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

// ---- verification ---------------------------------------------------------------------------

struct TRejectCase
{
    const char* CertName;
    os::DWORD Code;
    TixCertificateVerifyFlag Ignore;
};

class TlsStreamRejects : public testing::TestWithParam<TRejectCase>
{
protected:
    void SetUp() override { test::TrustOnly(test::TestCaPem()); }
};

INSTANTIATE_TEST_SUITE_P(Policy, TlsStreamRejects,
    testing::Values(TRejectCase{"self", os::CERT_E_UNTRUSTEDROOT, cfIgnoreUnknownAuthority},
        TRejectCase{"expired", os::CERT_E_EXPIRED, cfIgnoreDateInvalid},
        TRejectCase{"other", os::CERT_E_CN_NO_MATCH, cfIgnoreCommonNameInvalid}),
    [](const testing::TestParamInfo<TRejectCase>& AInfo) { return std::string(AInfo.param.CertName); });

TEST_P(TlsStreamRejects, ServerFailingThePolicyRaisesItsCodeAndText)
{
    TlsServerSteps tls(13, GetParam().CertName);
    ScriptedServer server({tls.Handshake(), Step::Drain()});
    TixTcpClientTls client;
    AimTls(client, server.Port());
    int32_t seenCode = 0;
    bool seenVerified = true;
    client.OnVerifyServer = [&](TObject* ASender, TixCertificate* ACertificate,
                                const std::string& AText, int32_t ACode, bool& AVerified) {
        EXPECT_EQ(ASender, &client);
        EXPECT_NE(ACertificate, nullptr);
        bool found = false;
        EXPECT_EQ(AText, GetSspiErrorText(ACode, found));
        EXPECT_TRUE(found) << "the policy error has the system's text";
        seenCode = ACode;
        seenVerified = AVerified;
    };
    const auto code = static_cast<int32_t>(GetParam().Code);
    try
    {
        client.Open();
        FAIL() << "the server was accepted";
    }
    catch (const EixSocketError& error)
    {
        EXPECT_EQ(error.ErrorCode(), code);
        EXPECT_EQ(error.Message(), GetSspiErrorText(code));
    }
    EXPECT_EQ(seenCode, code);
    EXPECT_FALSE(seenVerified);
    EXPECT_FALSE(client.IsActive());
    (void)server.Finish();  // the server saw the client hang up inside its handshake
}

TEST_P(TlsStreamRejects, ItsIgnoreFlagOrTheApplicationAcceptsAServerThatFailedThePolicy)
{
    for (const bool byFlag : {true, false})
    {
        TlsServerSteps tls(13, GetParam().CertName);
        ScriptedServer server({tls.Handshake(), tls.ExpectText("accepted\r\n"), tls.ExpectClose()});
        TixTcpClientTls client;
        AimTls(client, server.Port(), "localhost"); // the name all but "other" are for
        if (byFlag)
            client.SetCertificateFlags({GetParam().Ignore});
        else
            client.OnVerifyServer = [](TObject*, TixCertificate*, const std::string&, int32_t, bool& AVerified) {
                AVerified = true;
            };
        client.Open();
        EXPECT_TRUE(TlsStreamOf(client).GetVerified());
        client.GetConnection()->WriteString("accepted\r\n", "");
        client.Close();
        EXPECT_EQ(server.Finish(), "") << (byFlag ? "ignore flag" : "application");
    }
}

TEST(TlsStreamVerification, ApplicationMayRejectAServerThatPassed)
{
    test::TrustOnly(test::TestCaPem());
    TlsServerSteps tls(13);
    ScriptedServer server({tls.Handshake(), Step::Drain()});
    TixTcpClientTls client;
    AimTls(client, server.Port());
    bool passed = false;
    client.OnVerifyServer = [&](TObject*, TixCertificate*, const std::string&, int32_t, bool& AVerified) {
        passed = AVerified;
        AVerified = false;
    };
    EXPECT_THROW(client.Open(), EixSocketError);
    EXPECT_TRUE(passed);
    EXPECT_FALSE(client.IsActive());
    (void)server.Finish();  // the client hung up before its last flight
}

TEST(TlsStreamVerification, NoApplicationByteLeavesAfterARejectedServer)
{
    test::TrustOnly(test::TestCaPem());
    TlsServerSteps tls(13, "self");
    ScriptedServer server({tls.Handshake(), Step::Drain()});
    TixTcpClientConnection connection;
    connection.SetTimeOut(10000);
    connection.SetNetworkStream(std::make_unique<TixTlsNetworkStream>());
    auto& stream = dynamic_cast<TixTlsNetworkStream&>(*connection.GetNetworkStream());
    const auto rejected = SocketErrorOf([&] { connection.Connect("127.0.0.1", server.Port()); });
    ASSERT_EQ(rejected.first, static_cast<int32_t>(os::CERT_E_UNTRUSTEDROOT));
    ASSERT_TRUE(connection.GetActive());
    const int64_t raw = stream.GetRawBytesProceed();
    EXPECT_EQ(SocketErrorOf([&] { connection.WriteString("USER alice\r\n", ""); }), rejected);
    EXPECT_EQ(stream.GetRawBytesProceed(), raw);
    connection.Close(false);
    (void)server.Finish(); // the server saw the client hang up inside its handshake
}

// ---- client certificates --------------------------------------------------------------------

TEST(TlsStreamClientCertificate, CertificateRequestedByTheServerIsOfferedThroughTheEventOrLeftOut)
{
    test::TrustOnly(test::TestCaPem());
    const std::unique_ptr<TixCertificate> certificate
        = test::LoadPemCertificate(TestCertFile("client"), TestCertFile("client", ".key"));
    const struct
    {
        int Version;
        bool Offer;
    } cases[] = {{12, true}, {13, true}, {13, false}};
    for (const auto& c : cases)
    {
        TlsServerSteps tls(c.Version, "server", true);
        ScriptedServer server({tls.Handshake(), tls.ExpectText("hello\r\n"), tls.ExpectClose()});
        TixTcpClientTls client;
        AimTls(client, server.Port());
        int asked = 0;
        client.OnGetCertificate = [&](TObject* ASender, TixCertificate*& ACertificate,
                                      TixCertificateList&, bool&) {
            EXPECT_EQ(ASender, &client);
            ++asked;
            if (c.Offer)
                ACertificate = certificate.get();
        };
        client.Open();
        client.GetConnection()->WriteString("hello\r\n", "");
        client.Close();
        EXPECT_EQ(server.Finish(), "") << "TLS 1." << c.Version - 10 << ", offered " << c.Offer;
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(tls.Server().ClientSentCertificate(), c.Offer);
    }
}

}  // namespace
}  // namespace ix
