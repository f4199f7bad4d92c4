#include "net/ixTcpClient.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/ixNetTestUtils.h"
#include "net/ixSocks.h"
#include "platform/ixOsKernel.h"
#include "support/ExpectError.h"
#include "support/MessagePump.h"
#include "support/ScriptedServer.h"

namespace ix {
namespace {

using test::ScriptedServer;
using test::Step;

/// Records which notifications the client fired, in order.
struct TEventLog
{
    explicit TEventLog(TixTcpClient& AClient)
    {
        AClient.OnOpen = [this](TObject*) { Events.push_back("open"); };
        AClient.OnClose = [this](TObject*) { Events.push_back("close"); };
        AClient.OnChanged = [this](TObject*) { Events.push_back("changed"); };
    }
    std::vector<std::string> Events;
};

/// A client that counts its keep-alive ticks, optionally failing each one.
class TTickingClient : public TixTcpClient
{
public:
    using TixTcpClient::TixTcpClient;
    int Ticks = 0;
    bool FailTicks = false;

protected:
    void KeepAliveTick() override
    {
        ++Ticks;
        if (FailTicks)
            throw std::runtime_error("keep-alive failed");
    }
};

/// A port on 127.0.0.1 that refuses connections.
int32_t RefusingPort()
{
    return ScriptedServer({}).Port(); // the server closes its listener when it goes
}

// ---- Properties ----------------------------------------------------------------------------

// Setting each published default again fires nothing; each new value fires once, the second time
// nothing. (The defaults themselves and the values read back are the published properties'.)
TEST(TcpClientProperties, OnlyARealChangeFiresOnChangedNotACopyOfTheFirewallSettings)
{
    TixTcpClient client;
    TEventLog log(client);
    EXPECT_EQ(client.GetProxy(), nullptr);
    EXPECT_FALSE(client.IsActive());
    EXPECT_FALSE(client.GetInProgress());
    const std::vector<std::function<void()>> sameValue{
        [&] { client.SetServer(""); }, [&] { client.SetPort(0); },
        [&] { client.SetLocalBinding(""); }, [&] { client.SetBatchSize(8192); },
        [&] { client.SetTimeOut(60000); }, [&] { client.SetBitsPerSec(0); },
        [&] { client.SetUseIpV6(false); }, [&] { client.SetKeepAlive(0); },
        [&] { client.SetConnectTimeOut(0); }, [&] { client.SetDisableGuiProcessing(false); },
    };
    for (const auto& set : sameValue)
        set();
    client.SetFirewallSettings(TixFirewallSettings()); // copied (the SOCKS tests use the copy)
    TPersistent other;
    EXPECT_THROW(client.GetFirewallSettings().Assign(other), EConvertError);
    EXPECT_TRUE(log.Events.empty());
    const std::vector<std::function<void()>> newValue{
        [&] { client.SetServer("mail.example.test"); }, [&] { client.SetPort(110); },
        [&] { client.SetLocalBinding("127.0.0.1"); }, [&] { client.SetBatchSize(4096); },
        [&] { client.SetTimeOut(1000); }, [&] { client.SetBitsPerSec(8000); },
        [&] { client.SetUseIpV6(true); }, [&] { client.SetKeepAlive(500); },
        [&] { client.SetConnectTimeOut(2000); }, [&] { client.SetDisableGuiProcessing(true); },
    };
    for (const auto& set : newValue)
        set();
    for (const auto& set : newValue)
        set();
    EXPECT_EQ(log.Events.size(), newValue.size());
    client.SetServer("Mail.Example.Test"); // the letter case counts
    EXPECT_EQ(log.Events.size(), newValue.size() + 1);
    EXPECT_EQ(client.GetConnection()->GetTimeOut(), 1000);
}

// ---- Open and close ------------------------------------------------------------------------

// Each refusal leaves the client inactive without an event, and it can be opened again: then
// Open and Close fire their events once, a second Open or Close does nothing.
TEST(TcpClientOpen, RefusalsRaiseTheirErrorAndLeaveTheClientReadyForAnotherOpen)
{
    struct TCase
    {
        const char* Name;
        std::function<void(TixTcpClient&)> Configure;
        int32_t Code;
        std::string Message;
    };
    const TCase cases[] = {
        {"refused connect", [](TixTcpClient&) {}, 10061,
            "No connection could be made because the target machine actively refused it."},
        {"batch size 0", [](TixTcpClient& AClient) { AClient.SetBatchSize(0); }, -4, "Invalid Batch Size"},
        {"unknown firewall type",
            [](TixTcpClient& AClient) {
                AClient.GetFirewallSettings().SetServer("127.0.0.1");
                AClient.GetFirewallSettings().SetFirewallType(static_cast<TixFirewallType>(7));
            },
            TcpClientErrorUnsupportedFirewall, "Unsupported firewall type"},
    };
    for (const TCase& item : cases)
    {
        SCOPED_TRACE(item.Name);
        TixTcpClient client;
        client.SetServer("127.0.0.1");
        client.SetPort(RefusingPort());
        item.Configure(client);
        TEventLog log(client);
        const auto open = [&] { client.Open(); };
        const std::string message = item.Code == TcpClientErrorUnsupportedFirewall
            ? test::ExpectError<EixTcpClientError>(open, item.Code)
            : test::ExpectError<EixSocketError>(open, item.Code);
        EXPECT_EQ(message, item.Message);
        EXPECT_FALSE(client.IsActive());
        EXPECT_FALSE(client.GetInProgress());
        EXPECT_TRUE(log.Events.empty());

        ScriptedServer server({Step::Drain()});
        client.SetPort(server.Port());
        client.SetBatchSize(8192);
        client.GetFirewallSettings().SetServer("");
        TEventLog reopened(client);
        client.Open();
        EXPECT_TRUE(client.IsActive());
        client.Open();
        client.Close();
        EXPECT_FALSE(client.IsActive());
        client.Close();
        EXPECT_EQ(reopened.Events, (std::vector<std::string>{"open", "close"}));
        EXPECT_EQ(server.Finish(), "");
    }
}

// ---- Keep-alive ----------------------------------------------------------------------------

TEST(TcpClientKeepAlive, TicksEveryPeriodInsideAReadWaitUnlessWindowProcessingIsOffSwallowsAFailingTickAndStopsOnClose)
{
    const test::TResourceCount before = test::CountResources();
    {
        ScriptedServer server({Step::Drain()});
        TTickingClient client;
        client.FailTicks = true;
        client.SetServer("localhost"); // resolved
        client.SetPort(server.Port());
        client.SetKeepAlive(20);
        client.SetTimeOut(100);
        client.Open();
        const os::ULONGLONG start = os::GetTickCount64();
        TMemoryStream data;
        // The wait dispatches window messages: the timer runs inside it until the time-out.
        for (int reads = 0; reads < 50 && client.Ticks < 3; ++reads)
            test::ExpectError<EixSocketError>([&] { client.GetConnection()->ReadData(&data); }, SocketErrorTimeout);
        ASSERT_GE(client.Ticks, 3);
        EXPECT_GE(os::GetTickCount64() - start, 3 * 20 - 10); // three full periods at least
        EXPECT_TRUE(client.IsActive());
        // Without window processing the wait leaves the timer's messages queued.
        client.SetDisableGuiProcessing(true);
        int ticks = client.Ticks;
        EXPECT_EQ(test::ExpectError<EixSocketError>([&] { client.GetConnection()->ReadData(&data); }, SocketErrorTimeout),
            "Timeout error occured");
        EXPECT_EQ(client.Ticks, ticks);
        client.Close();
        ticks = client.Ticks;
        test::PumpMessagesUntil([&] { return os::GetTickCount64() - start > 3 * 20 + 200; });
        EXPECT_EQ(client.Ticks, ticks);
        EXPECT_EQ(server.Finish(), "");
    }
    test::ExpectResourcesBackTo(before); // neither the timer nor the name lookup leaves anything behind
}

// ---- Proxy component -----------------------------------------------------------------------

/// A proxy that connects its own connection straight to the destination.
class TDirectProxy : public TixTcpProxy
{
public:
    using TixTcpProxy::TixTcpProxy;
    std::vector<std::pair<std::string, int32_t>> Calls;

    void ConnectTo(const std::string& AServer, int32_t APort) override
    {
        Calls.emplace_back(AServer, APort);
        OpenConnection(AServer, APort);
    }
};

TEST(TcpClientProxy, OpenGoesThroughTheProxyWhoseConnectionTheClientsPropertiesAddress)
{
    ScriptedServer server({Step::Send("+OK via proxy\r\n"), Step::Drain()});
    auto proxy = std::make_unique<TDirectProxy>();
    TixTcpClient client;
    client.SetProxy(proxy.get());
    client.SetTimeOut(1234);
    EXPECT_EQ(client.GetConnection(), proxy->GetConnection());
    EXPECT_EQ(proxy->GetTimeOut(), 1234);
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.Open();
    EXPECT_EQ(proxy->Calls, (std::vector<std::pair<std::string, int32_t>>{{"127.0.0.1", server.Port()}}));
    EXPECT_TRUE(client.IsActive());
    TMemoryStream data;
    test::ReadUntil(*client.GetConnection(), data, "\r\n");
    EXPECT_EQ(data.View(), "+OK via proxy\r\n");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
    proxy.reset();
    EXPECT_EQ(client.GetProxy(), nullptr);
    EXPECT_EQ(client.GetTimeOut(), 60000);
}

} // namespace
} // namespace ix
