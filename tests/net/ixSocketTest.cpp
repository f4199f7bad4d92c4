#include "net/ixSocket.h"

#include "net/ixNetTestUtils.h"
#include "platform/ixOsKernel.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <random>

namespace ix::test {
namespace {

/// A plain stream that records what its socket calls returned.
class TRecordingStream : public TixNetworkStream
{
public:
    int ConnectedAtOnce = -1;
    int PartialSends = 0;
    int BlockedSends = 0;

    bool Connect(TixIPAddress& AAddress, int32_t APort) override
    {
        const bool result = TixNetworkStream::Connect(AAddress, APort);
        ConnectedAtOnce = result ? 1 : 0;
        return result;
    }

    int32_t WriteBuffer(const void* ABuffer, int32_t ASize) override
    {
        const int32_t result = TixNetworkStream::WriteBuffer(ABuffer, ASize);
        if (result == os::SOCKET_ERROR)
            ++BlockedSends;
        else if (result < ASize)
            ++PartialSends;
        return result;
    }
};

class ConnectionTest : public ::testing::Test
{
protected:
    ConnectionTest()
    {
        auto stream = std::make_unique<TRecordingStream>();
        Stream = stream.get();
        Connection.SetNetworkStream(std::move(stream));
        Connection.SetTimeOut(5000);
    }

    /// Reads until the peer has closed (bounded); returns what arrived.
    std::string ReadToClose()
    {
        TMemoryStream data;
        for (int i = 0; i < 1000 && Connection.GetActive(); ++i)
            Connection.ReadData(&data);
        return std::string(data.View());
    }

    TWinSockStartup Startup;
    TixTcpClientConnection Connection;
    TRecordingStream* Stream = nullptr;
};

// (Replacing the stream of a live connection is the switch to TLS after STARTTLS.)
TEST_F(ConnectionTest, ConnectThatCompletesAtOnceSkipsTheWaitAndKnowsBothAddressesButNeedsAStream)
{
    TixTcpClientConnection bare;
    EXPECT_EQ(SocketErrorOf([&] { bare.Connect("127.0.0.1", 110); }),
        std::make_pair(-5, std::string("NetworkStream is required")));
    ScriptedServer server({Step::Send("+OK hello\r\n"), Step::Expect("QUIT"), Step::Close()});
    int ready = 0;
    Connection.OnReady = [&ready](TObject*) { ++ready; };

    Connection.Connect("127.0.0.1", server.Port());

    EXPECT_EQ(Stream->ConnectedAtOnce, 1);
    EXPECT_TRUE(Connection.GetActive());
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(Connection.GetPeerIP(), "127.0.0.1");
    EXPECT_EQ(Connection.GetPeerPort(), server.Port());
    EXPECT_EQ(Connection.GetLocalIP(), "127.0.0.1");
    EXPECT_GT(Connection.GetLocalPort(), 0);
    TMemoryStream data;
    ReadUntil(Connection, data, "+OK hello\r\n");
    Connection.WriteString("QUIT\r\n", "");
    EXPECT_EQ(ReadToClose(), "");
    EXPECT_FALSE(Connection.GetActive());
    EXPECT_EQ(server.Finish(), "");
}

// A read hands data over in steps of a few batches; once the peer has closed, the rest of what
// it sent must still be taken before the connection closes. Then reads and writes raise.
TEST_F(ConnectionTest, EverythingSentBeforeThePeersGracefulCloseIsReadThenTheConnectionRaisesNotASocket)
{
    std::string payload(64 * 1024, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + i % 26);
    ScriptedServer server({Step::Send(payload), Step::Close()});
    Connection.SetBatchSize(512);
    Connection.Connect("127.0.0.1", server.Port());
    EXPECT_EQ(server.Finish(), ""); // all sent and closed before the first read

    const std::string received = ReadToClose();
    EXPECT_EQ(received.size(), payload.size());
    EXPECT_TRUE(received == payload);
    EXPECT_FALSE(Connection.GetActive());
    TMemoryStream data;
    EXPECT_EQ(SocketErrorOf([&] { Connection.ReadData(&data); }),
        std::make_pair(10038, std::string("An operation was attempted on something that is not a socket.")));
    EXPECT_EQ(SocketErrorOf([&] { Connection.WriteString("NOOP\r\n", ""); }).first, 10038);
}

TEST_F(ConnectionTest, ConnectWaitEndsAtItsTimeOutOrSilentlyOnAbort)
{
    // A listener with backlog 0 that already holds one connection drops further SYNs, so a
    // connect to it stays pending.
    uint16_t port = 0;
    const TTestSocket listener(ListenOnLoopback(port, 0));
    const TTestSocket filler(ConnectToLoopback(port));
    Connection.SetTimeOut(60000);
    Connection.SetConnectTimeOut(200);
    EXPECT_EQ(SocketErrorOf([&] { Connection.Connect("127.0.0.1", port); }).first, -1);

    Connection.SetConnectTimeOut(20000);
    TTimerWindow timer(50, [this] { Connection.Abort(); });
    Connection.Connect("127.0.0.1", port);
    EXPECT_EQ(Stream->ConnectedAtOnce, 0);
    EXPECT_TRUE(Connection.GetIsAborted());
    EXPECT_FALSE(Connection.GetActive());
    EXPECT_EQ(Connection.GetSocket().GetHandle(), os::INVALID_SOCKET);
}

TEST_F(ConnectionTest, PartialSendsResumeAtTheRightPosition)
{
    constexpr size_t Size = 8 << 20;
    ScriptedServer server({Step::Receive(Size, 4096), Step::Send("+OK\r\n")}, 8192);
    std::string payload(Size, '\0');
    std::mt19937 random(7);
    for (char& c : payload)
        c = static_cast<char>(random());
    Connection.SetBatchSize(1 << 20);
    int64_t reported = 0;
    Connection.OnProgress = [&reported](TObject*, int64_t ABytesProceed, int64_t) { reported = ABytesProceed; };
    Connection.Connect("127.0.0.1", server.Port());
    const int sendBuffer = 8192;
    (void)os::setsockopt(Connection.GetSocket().GetHandle(), os::SOL_SOCKET, os::SO_SNDBUF,
        reinterpret_cast<const char*>(&sendBuffer), sizeof sendBuffer);
    TMemoryStream source;
    source.WriteText(payload);
    source.SetPosition(0);
    Connection.InitProgress(0, Size);

    Connection.WriteData(&source);

    EXPECT_EQ(source.Position(), static_cast<int64_t>(Size));
    EXPECT_EQ(reported, static_cast<int64_t>(Size));
    TMemoryStream reply;
    ReadUntil(Connection, reply, "+OK\r\n");
    EXPECT_EQ(server.Finish(), "");
    EXPECT_TRUE(server.Received() == payload) << "the server received other bytes";
    EXPECT_GT(Stream->PartialSends, 0);
    EXPECT_GT(Stream->BlockedSends, 0);
}

TEST_F(ConnectionTest, ThrottlingDelaysEverySocketCallByItsShareComputedIn64Bits)
{
    constexpr size_t Size = 2000000;
    ScriptedServer server({Step::Receive(Size)});
    Connection.Connect("127.0.0.1", server.Port());
    // Batches of 1 MB at 80 Mbit/s: 100 ms a call; 1000000 * 8 * 1000 does not fit 32 bits.
    Connection.SetBatchSize(1000000);
    Connection.SetBitsPerSec(80000000);
    TMemoryStream source;
    source.WriteText(std::string(Size, 'x'));
    source.SetPosition(0);
    const os::ULONGLONG start = os::GetTickCount64();

    Connection.WriteData(&source);

    EXPECT_GE(os::GetTickCount64() - start, 180u); // two calls of 100 ms at least, with slack
    EXPECT_EQ(server.Finish(), "");
}

TEST_F(ConnectionTest, BytesToProceedLimitsTheBatchAndLeavesTheRestOfTheDataInTheSocket)
{
    Connection.SetBatchSize(0);
    EXPECT_EQ(SocketErrorOf([&] { Stream->GetBatchSize(); }), std::make_pair(-4, std::string("Invalid Batch Size")));
    Connection.SetBatchSize(100);
    EXPECT_EQ(Stream->GetBatchSize(), 100);
    ScriptedServer server({Step::Send("0123456789")});
    Connection.Connect("127.0.0.1", server.Port());
    Connection.SetBytesToProceed(4);
    Stream->ResetProceed();
    EXPECT_EQ(Stream->GetBatchSize(), 4);
    TMemoryStream data;
    ReadUntil(Connection, data, "0123");
    EXPECT_EQ(data.View(), "0123");
    EXPECT_TRUE(Stream->IsProceedLimit());
    Connection.SetBytesToProceed(-1);
    EXPECT_FALSE(Stream->IsProceedLimit());
    ReadUntil(Connection, data, "456789");
    EXPECT_EQ(data.View(), "0123456789");
    EXPECT_EQ(server.Finish(), "");
}

TEST_F(ConnectionTest, BindRangeChecksItsBoundsAndReportsTheLastPortsError)
{
    Connection.CreateSocket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP);
    auto address = TixIPAddress::CreateIpAddress("127.0.0.1");
    EXPECT_EQ(SocketErrorOf([&] { Stream->BindRange(*address, 5, 4); }).first, -3);
    EXPECT_EQ(SocketErrorOf([&] { Stream->BindRange(*address, 0, 10); }),
        std::make_pair(-3, std::string("Invalid port number")));

    // Two neighbouring ports taken by other sockets.
    uint16_t first = 0;
    TTestSocket a;
    TTestSocket b;
    for (int attempt = 0; attempt < 50 && !b.IsValid(); ++attempt)
    {
        first = 0;
        a = TTestSocket(BindLoopback(os::SOCK_STREAM, first));
        uint16_t second = first + 1;
        b = TTestSocket(BindLoopback(os::SOCK_STREAM, second));
    }
    ASSERT_TRUE(b.IsValid());
    EXPECT_EQ(SocketErrorOf([&] { Stream->BindRange(*address, first, first + 1); }).first, 10048);
}

TEST_F(ConnectionTest, EnableBroadcastRefusesIPv6Sockets)
{
    Connection.CreateSocket(os::AF_INET6, os::SOCK_DGRAM, os::IPPROTO_UDP);
    EXPECT_EQ(SocketErrorOf([&] { Stream->EnableBroadcast(); }),
        std::make_pair(-7, std::string("Invalid address family")));
    Connection.CreateSocket(os::AF_INET, os::SOCK_DGRAM, os::IPPROTO_UDP);
    EXPECT_NO_THROW(Stream->EnableBroadcast());
}

} // namespace
} // namespace ix::test
