// The TLS stream under a TLS client, against an in-process OpenSSL server on a scripted
// loopback connection: handshakes, records cut and joined at chosen places, tampered records,
// closing and the server's verification.
#include "tls/ixTlsStream.h"

#include "net/ixNetTestUtils.h"
#include "net/ixSocketUtils.h"
#include "platform/ixOsCrypt.h"
#include "support/ExpectError.h"
#include "support/ScriptedServer.h"
#include "support/TlsTestServer.h"
#include "tls/ixSspi.h"
#include "tls/ixTcpClientTls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace ix {
namespace {

using test::AimTls;
using test::ReadUntil;
using test::ScriptedServer;
using test::SocketErrorOf;
using test::Step;
using test::TlsServerSteps;
using test::TlsStreamOf;

class TlsStream : public testing::TestWithParam<int>
{
protected:
    /// Opens AClient against AServer with the version of the test's parameter: TLS 1.3 aimed at
    /// a host name, which the server is told, TLS 1.2 at an address.
    void Open(TixTcpClientTls& AClient, const ScriptedServer& AServer)
    {
        AimTls(AClient, AServer.Port(), Host());
        AClient.Open();
        ASSERT_TRUE(AClient.IsActive());
        ASSERT_TRUE(TlsStreamOf(AClient).GetVerified());
    }

    int Version() const { return GetParam(); }
    std::string Host() const { return Version() == 13 ? "localhost" : "127.0.0.1"; }
};

INSTANTIATE_TEST_SUITE_P(Versions, TlsStream, testing::Values(12, 13),
    [](const testing::TestParamInfo<int>& AInfo) { return "Tls" + std::to_string(AInfo.param); });

TEST_P(TlsStream, RecordsOfOneReadAreDecryptedTogetherAndASplitOneIsHeldUntilItsRestArrives)
{
    TlsServerSteps tls(Version());
    // The greeting travels behind the server's last handshake flight. The records go out once
    // the client is open; the last 9 bytes of the third come only when the test signals again.
    ScriptedServer server({tls.Handshake({"+OK ready\r\n"}), Step::WaitSignal(),
        tls.SendRecords({"first record, ", "second, ", "third record"}, {.HoldBack = 9}), tls.ExpectClose()});
    TixTcpClientTls client;
    Open(client, server);
    // TLS 1.2: the greeting came in the read that ended the handshake; it waits decrypted.
    EXPECT_EQ(TlsStreamOf(client).GetReadPending(), Version() == 12);
    TMemoryStream greeting;
    ReadUntil(*client.GetConnection(), greeting, "\r\n");
    EXPECT_EQ(greeting.View(), "+OK ready\r\n");
    server.Signal();
    TixTlsNetworkStream& stream = TlsStreamOf(client);
    client.GetConnection()->InitProgress(0, 0);
    int64_t deliveredBeforeTheRest = -1;
    client.GetConnection()->OnProgress = [&](TObject*, int64_t ABytesProceed, int64_t) {
        if (stream.GetLastStatus() == tsIncompleteMessage && deliveredBeforeTheRest < 0)
        {
            deliveredBeforeTheRest = ABytesProceed;  // the complete records are out
            server.Signal();
        }
    };
    TMemoryStream received;
    ReadUntil(*client.GetConnection(), received, "third record");
    EXPECT_EQ(received.View(), "first record, second, third record");
    EXPECT_EQ(deliveredBeforeTheRest, 22) << "both complete records, in the read that held the third";
    client.Close();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(tls.Server().Version(), Version());
    EXPECT_EQ(tls.Server().ServerName(), Version() == 13 ? Host() : "");
}

TEST_P(TlsStream, TamperedRecordFailsTheSessionWithTheDecryptionError)
{
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake(), tls.SendRecords({"secret\r\n"}, {.Tamper = true}), Step::Drain()});
    TixTcpClientTls client;
    AimTls(client, server.Port());
    TMemoryStream received;
    // The record may come with the server's last flight (TLS 1.2), or behind the session
    // tickets (TLS 1.3).
    test::ExpectError<EixCodedError>([&] {
        client.Open();
        for (int reads = 0; reads < 2; ++reads)
            client.GetConnection()->ReadData(&received);
    }, static_cast<int32_t>(os::SEC_E_DECRYPT_FAILURE));
    EXPECT_EQ(received.GetSize(), 0);
    client.Close();
    (void)server.Finish();
}

TEST_P(TlsStream, LargeTransfersKeepEveryByteInOrderAndProgressStepByStepUpToTheCloseNotification)
{
    // The upload goes with the largest batch. The download is throttled to about 8 MB/s: the
    // records pile up faster than the client reads them, so a read could drain the whole
    // transfer; they are decrypted as they come, the progress must still advance step by step,
    // and the server's close notification, sent together with the last records, ends the
    // session only after they are delivered.
    const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz-";
    std::string upload;
    while (upload.size() < 3 * 1024 * 1024)
        upload += pattern;
    // 400 records of 1 to 16384 bytes, each one letter.
    std::string expected;
    std::vector<std::string> records;
    for (size_t i = 0; i < 400; ++i)
    {
        records.push_back(std::string(1 + (i * 104729) % 16384, static_cast<char>('a' + i % 26)));
        expected += records.back();
    }
    const auto total = static_cast<int64_t>(expected.size());
    TlsServerSteps tls(Version());
    ScriptedServer server({tls.Handshake(), tls.ExpectText(upload),
        tls.SendRecords(records, {.Close = true}), Step::Drain()});
    TixTcpClientTls client;
    client.SetBatchSize(INT32_MAX); // stored as the largest batch; sizes grow without overflow
    EXPECT_EQ(client.GetBatchSize(), TixConnection::MaxBatchSize);
    Open(client, server);
    TixTcpClientConnection& connection = *client.GetConnection();
    TMemoryStream source;
    source.WriteText(upload);
    source.SetPosition(0);
    connection.InitProgress(0, 0);
    connection.WriteData(&source);
    EXPECT_EQ(source.GetPosition(), static_cast<int64_t>(upload.size()));
    // Application bytes are counted; the records carry overhead.
    EXPECT_EQ(connection.GetBytesProceed(), static_cast<int64_t>(upload.size()));
    EXPECT_GT(TlsStreamOf(client).GetRawBytesProceed(), static_cast<int64_t>(upload.size()));

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
    EXPECT_TRUE(received.View() == expected) << "received " << received.GetSize() << " of " << total << " bytes";
    EXPECT_TRUE(connection.PeerClosed());
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
    // previous one, so no step may come near the whole transfer.
    EXPECT_LE(largestStep, 1024 * 1024) << "progress held back over " << largestStep << " bytes";
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(TlsStreamOpen, RecordCutShortBehindTheServerFinishedIsAwaitedWithinTheTimeOut)
{
    // TLS 1.2: a complete record and one without its last bytes come with the server's
    // Finished. Open waits for the rest, without spinning: either it comes, or the time-out
    // ends the wait. A spinning Open heeds neither: the rest is then sent after 3 s, so that the
    // fault shows as an Open without the time-out instead of a hung test.
    for (const bool restComes : {true, false})
    {
        SCOPED_TRACE(restComes ? "the rest comes" : "the server stalls");
        TlsServerSteps tls(12);
        ScriptedServer server({tls.Handshake({"+OK ready\r\n", "more\r\n"}, 3), tls.ExpectClose()});
        TixTcpClientTls client;
        AimTls(client, server.Port());
        client.SetTimeOut(restComes ? 5000 : 300);
        std::atomic<bool> opened{false};
        std::thread rest([&, delay = std::chrono::milliseconds(restComes ? 100 : 3000)] {
            const auto until = std::chrono::steady_clock::now() + delay;
            while (!opened && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            server.Signal();
        });
        const auto outcome = SocketErrorOf([&] { client.Open(); });
        opened = true;
        rest.join();
        if (!restComes)
        {
            EXPECT_EQ(outcome, std::make_pair(-1, std::string("Timeout error occured")));
            continue;
        }
        ASSERT_TRUE(client.IsActive());
        TMemoryStream received;
        ReadUntil(*client.GetConnection(), received, "more\r\n");
        EXPECT_EQ(received.View(), "+OK ready\r\nmore\r\n");
        client.Close();
        EXPECT_EQ(server.Finish(), "");
    }
}

// ---- verification ---------------------------------------------------------------------------

struct TVerifyCase
{
    const char* CertName;
    os::DWORD Code;                   // of the policy; 0: passed
    TixCertificateVerifyFlag Ignore;  // the flag that lets a failed server pass
};

using TlsStreamVerification = testing::TestWithParam<TVerifyCase>;

INSTANTIATE_TEST_SUITE_P(Policy, TlsStreamVerification,
    testing::Values(TVerifyCase{"server", 0, cfIgnoreRevocation},
        TVerifyCase{"self", os::CERT_E_UNTRUSTEDROOT, cfIgnoreUnknownAuthority},
        TVerifyCase{"expired", os::CERT_E_EXPIRED, cfIgnoreDateInvalid},
        TVerifyCase{"other", os::CERT_E_CN_NO_MATCH, cfIgnoreCommonNameInvalid}),
    [](const testing::TestParamInfo<TVerifyCase>& AInfo) { return std::string(AInfo.param.CertName); });

TEST_P(TlsStreamVerification, TheApplicationSeesThePolicysVerdictARejectedServerRaisesItsCodeAndTheIgnoreFlagLetsItPass)
{
    TlsServerSteps tls(13, GetParam().CertName);
    ScriptedServer server({tls.Handshake(), Step::Drain()});
    TixTcpClientTls client;
    AimTls(client, server.Port());
    int32_t seenCode = -1;
    bool passed = false;
    client.OnVerifyServer = [&](TObject* ASender, TixCertificate* ACertificate,
                                const std::string& AText, int32_t ACode, bool& AVerified) {
        EXPECT_EQ(ASender, &client);
        EXPECT_NE(ACertificate, nullptr);
        bool found = true;
        EXPECT_EQ(AText, ACode == 0 ? AText : GetSspiErrorText(ACode, found));
        EXPECT_TRUE(found) << "the policy error has the system's text";
        seenCode = ACode;
        passed = AVerified;
        AVerified = false;  // the application rejects a server that passed, too
    };
    // The application's rejection has a code of its own, not the check's code of success.
    const auto code = static_cast<int32_t>(GetParam().Code != 0 ? GetParam().Code : os::TRUST_E_EXPLICIT_DISTRUST);
    EXPECT_EQ(test::ExpectError<EixSocketError>([&] { client.Open(); }, code), GetSspiErrorText(code));
    EXPECT_EQ(seenCode, static_cast<int32_t>(GetParam().Code));
    EXPECT_EQ(passed, GetParam().Code == 0);
    EXPECT_FALSE(client.IsActive());
    (void)server.Finish();  // the server saw the client hang up inside its handshake

    // Without the application, the flag of the policy's fault lets the server pass.
    TlsServerSteps passing(13, GetParam().CertName);
    ScriptedServer second({passing.Handshake(), passing.ExpectText("accepted\r\n"), passing.ExpectClose()});
    TixTcpClientTls flagged;
    AimTls(flagged, second.Port(), "localhost"); // the name all but "other" are for
    flagged.SetCertificateFlags({GetParam().Ignore});
    flagged.Open();
    EXPECT_TRUE(TlsStreamOf(flagged).GetVerified());
    flagged.GetConnection()->WriteString("accepted\r\n", "");
    flagged.Close();
    EXPECT_EQ(second.Finish(), "");
}

TEST(TlsStreamRejected, NoApplicationByteLeavesAfterARejectedServer)
{
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

}  // namespace
}  // namespace ix
