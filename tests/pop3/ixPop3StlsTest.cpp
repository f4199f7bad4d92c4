// STLS response injection (the fault class of CVE-2011-0411 and its many relatives): a server,
// or someone in the path, sends plaintext lines right behind the "+OK" to STLS. None of them
// may be taken for a reply once TLS is up.
#include "pop3/ixPop3.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "platform/ixOsSockets.h"
#include "support/LoopbackListener.h"
#include "tls/TlsTestPeer.h"

namespace ix {
namespace {

/// A blocking one-connection POP3 server on 127.0.0.1 that answers STLS with "+OK" and the
/// injected lines in one send, then speaks TLS (over the test TLS peer) for the rest.
class TInjectingServer
{
public:
    explicit TInjectingServer(std::string AInjected) : FInjected(std::move(AInjected))
    {
        os::WSADATA data;
        (void)os::WSAStartup(os::MAKEWORD(2, 2), &data);
        FListener = test::ListenOnLoopback(FPort);
        FThread = std::thread([this] { Run(); });
    }

    ~TInjectingServer()
    {
        if (FThread.joinable())
            FThread.join();
        (void)os::closesocket(FListener);
        (void)os::WSACleanup();
    }

    uint16_t Port() const noexcept { return FPort; }
    /// Joins the server; the commands it read over TLS, or what went wrong.
    std::string Finish()
    {
        FThread.join();
        return FLog;
    }

private:
    void Run()
    {
        FClient = os::accept(FListener, nullptr, nullptr);
        try
        {
            Send("+OK ready\r\n");
            if (ReceivePlainLine() != "STLS")
                throw std::runtime_error("no STLS");
            Send("+OK begin TLS\r\n" + FInjected);
            test::TTlsTestServer tls(13);
            while (!tls.HandshakeDone())
                Send(tls.Handshake(Receive()));
            for (std::string line = ReceiveTlsLine(tls); !line.empty(); line = ReceiveTlsLine(tls))
            {
                FLog += line + "|";
                Send(tls.Write(line == "STAT" ? "+OK 1 5\r\n" : "+OK\r\n"));
                if (line == "QUIT")
                    break;
            }
        }
        catch (const std::exception& E)
        {
            FLog += std::string("server: ") + E.what();
        }
        (void)os::closesocket(FClient);
    }

    std::string Receive()
    {
        char buffer[16384];
        const int received = os::recv(FClient, buffer, sizeof buffer, 0);
        if (received <= 0)
            throw std::runtime_error("the client closed");
        return std::string(buffer, static_cast<size_t>(received));
    }

    void Send(const std::string& ABytes)
    {
        if (!ABytes.empty() && os::send(FClient, ABytes.data(), static_cast<int>(ABytes.size()), 0) != static_cast<int>(ABytes.size()))
            throw std::runtime_error("send failed");
    }

    std::string TakeLine()
    {
        const size_t end = FPending.find("\r\n");
        if (end == std::string::npos)
            return {};
        std::string line = FPending.substr(0, end);
        FPending.erase(0, end + 2);
        return line;
    }

    std::string ReceivePlainLine()
    {
        while (FPending.find("\r\n") == std::string::npos)
            FPending += Receive();
        return TakeLine();
    }

    /// The next command read over TLS; empty once the client has closed.
    std::string ReceiveTlsLine(test::TTlsTestServer& ATls)
    {
        try
        {
            // A command may have come in the same segment as the client's last handshake
            // flight: read what the TLS peer already holds before waiting for more.
            FPending += ATls.Read({});
            while (FPending.find("\r\n") == std::string::npos)
                FPending += ATls.Read(Receive());
        }
        catch (const std::runtime_error&)
        {
            return {};
        }
        return TakeLine();
    }

    std::string FInjected;
    os::SOCKET FListener = os::INVALID_SOCKET;
    os::SOCKET FClient = os::INVALID_SOCKET;
    uint16_t FPort = 0;
    std::thread FThread;
    std::string FPending;
    std::string FLog;
};

TEST(Pop3StartTls, LinesInjectedBehindTheStlsReplyAreNeverTakenForReplies)
{
    TInjectingServer server("+OK 7 700\r\n+OK 7 700\r\n+OK 7 700\r\n-ERR injected\r\n");
    TixPop3 client;
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.SetUserName("alice");
    client.SetPassword("secret");
    client.SetUseTLS(ctExplicit);
    client.OnVerifyServer = [](TObject*, TixCertificate*, const std::string&, int32_t, bool& AVerified) {
        AVerified = true; // the test authority is not among the system's
    };
    try
    {
        client.Open();
        EXPECT_EQ(client.GetMessageCount(), 1);
        client.Close();
        EXPECT_EQ(server.Finish(), "USER alice|PASS secret|STAT|QUIT|");
    }
    catch (const EixSocketError& E) // the other sound outcome: the handshake fails
    {
        EXPECT_FALSE(client.IsActive()) << E.Message();
        EXPECT_NE(E.ErrorCode(), -1) << "a stalled session is no sound outcome: " << E.Message();
        server.Finish();
    }
}

} // namespace
} // namespace ix
