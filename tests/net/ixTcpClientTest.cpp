#include "net/ixTcpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/ixNetTestUtils.h"
#include "net/ixSocks.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
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

/// Dispatches this thread's window messages until APredicate holds or ten seconds pass.
bool PumpMessagesUntil(const std::function<bool()>& APredicate)
{
    const os::ULONGLONG deadline = os::GetTickCount64() + 10000;
    while (!APredicate() && os::GetTickCount64() < deadline)
    {
        os::MsgWaitForMultipleObjects(0, nullptr, os::FALSE, 100, os::QS_ALLEVENTS);
        os::MSG message;
        while (os::PeekMessageA(&message, nullptr, 0, 0, os::PM_REMOVE))
            os::DispatchMessageA(&message);
    }
    return APredicate();
}

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

/// A client whose firewall type can be set to a value outside the enumeration.
void ExpectUnsupportedFirewallType(TixTcpClient& AClient)
{
    try
    {
        AClient.Open();
        FAIL() << "an unknown firewall type was accepted";
    }
    catch (const EixTcpClientError& E)
    {
        EXPECT_EQ(E.Message(), "Unsupported firewall type");
        EXPECT_EQ(E.ErrorCode(), -101);
    }
}

/// A port on 127.0.0.1 that refuses connections.
int32_t RefusingPort()
{
    return ScriptedServer({}).Port(); // the server closes its listener when it goes
}

// ---- Properties ----------------------------------------------------------------------------

TEST(TcpClientProperties, DefaultsAreThePublishedOnes)
{
    TixTcpClient client;
    EXPECT_EQ(client.GetServer(), "");
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(client.GetLocalBinding(), "");
    EXPECT_EQ(client.GetBatchSize(), 8192);
    EXPECT_EQ(client.GetTimeOut(), 60000);
    EXPECT_EQ(client.GetBitsPerSec(), 0);
    EXPECT_FALSE(client.GetUseIpV6());
    EXPECT_EQ(client.GetKeepAlive(), 0);
    EXPECT_EQ(client.GetConnectTimeOut(), 0);
    EXPECT_FALSE(client.GetDisableGuiProcessing());
    EXPECT_EQ(client.GetProxy(), nullptr);
    EXPECT_FALSE(client.IsActive());
    EXPECT_FALSE(client.GetInProgress());
    const TixFirewallSettings& firewall = client.GetFirewallSettings();
    EXPECT_EQ(firewall.GetFirewallType(), ftSocks4);
    EXPECT_EQ(firewall.GetServer(), "");
    EXPECT_EQ(firewall.GetPort(), 1080);
    EXPECT_TRUE(firewall.GetNeedResolveIP());
}

TEST(TcpClientProperties, OnlyARealChangeFiresOnChanged)
{
    TixTcpClient client;
    TEventLog log(client);
    const std::vector<std::function<void()>> sameValue{
        [&] { client.SetServer(""); }, [&] { client.SetPort(0); },
        [&] { client.SetLocalBinding(""); }, [&] { client.SetBatchSize(8192); },
        [&] { client.SetTimeOut(60000); }, [&] { client.SetBitsPerSec(0); },
        [&] { client.SetUseIpV6(false); }, [&] { client.SetKeepAlive(0); },
        [&] { client.SetConnectTimeOut(0); }, [&] { client.SetDisableGuiProcessing(false); },
    };
    for (const auto& set : sameValue)
        set();
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
    EXPECT_EQ(client.GetServer(), "Mail.Example.Test");
    EXPECT_EQ(client.GetConnection()->GetTimeOut(), 1000);
}

TEST(TcpClientProperties, FirewallSettingsAreCopiedWithoutOnChanged)
{
    TixFirewallSettings settings;
    settings.SetFirewallType(ftSocks5);
    settings.SetUserName("alice");
    settings.SetPassword("secret");
    settings.SetServer("proxy.example.test");
    settings.SetPort(1081);
    settings.SetNeedResolveIP(false);

    TixTcpClient client;
    TEventLog log(client);
    client.SetFirewallSettings(settings);
    const TixFirewallSettings& copy = client.GetFirewallSettings();
    EXPECT_NE(&copy, &settings);
    EXPECT_EQ(copy.GetFirewallType(), ftSocks5);
    EXPECT_EQ(copy.GetUserName(), "alice");
    EXPECT_EQ(copy.GetPassword(), "secret");
    EXPECT_EQ(copy.GetServer(), "proxy.example.test");
    EXPECT_EQ(copy.GetPort(), 1081);
    EXPECT_FALSE(copy.GetNeedResolveIP());
    EXPECT_TRUE(log.Events.empty());
}

TEST(TcpClientProperties, FirewallSettingsRefuseAnotherKindOfSource)
{
    TixFirewallSettings settings;
    TPersistent other;
    EXPECT_THROW(settings.Assign(other), EConvertError);
}

// ---- Open and close ------------------------------------------------------------------------

TEST(TcpClientOpen, OpenAndCloseFireTheirEventsOnce)
{
    ScriptedServer server({Step::Send("+OK hello\r\n"), Step::Drain()});
    TixTcpClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    TEventLog log(client);
    const auto countBefore = log.Events.size();

    client.Open();
    EXPECT_TRUE(client.IsActive());
    client.Open(); // already active: nothing happens
    client.Close();
    EXPECT_FALSE(client.IsActive());
    client.Close(); // inactive: no OnClose
    EXPECT_EQ(std::vector<std::string>(log.Events.begin() + countBefore, log.Events.end()),
        (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpClientOpen, AFailedConnectLeavesTheClientInactiveWithTheErrorUnchanged)
{
    TixTcpClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(RefusingPort());
    TEventLog log(client);
    try
    {
        client.Open();
        FAIL() << "a refused connect opened";
    }
    catch (const EixSocketError& E)
    {
        EXPECT_EQ(E.ErrorCode(), 10061);
    }
    EXPECT_FALSE(client.IsActive());
    EXPECT_FALSE(client.GetInProgress());
    EXPECT_TRUE(log.Events.empty());

    // The client can be opened again.
    ScriptedServer server({Step::Drain()});
    client.SetPort(server.Port());
    client.Open();
    EXPECT_TRUE(client.IsActive());
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpClientOpen, ABatchSizeBelowOneIsRefusedBeforeConnecting)
{
    TixTcpClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(RefusingPort());
    client.SetBatchSize(0);
    try
    {
        client.Open();
        FAIL() << "batch size 0 was accepted";
    }
    catch (const EixSocketError& E)
    {
        EXPECT_EQ(E.Message(), "Invalid Batch Size");
        EXPECT_EQ(E.ErrorCode(), -4);
    }
    EXPECT_FALSE(client.IsActive());
}

TEST(TcpClientOpen, AnUnknownFirewallTypeIsRefused)
{
    TixTcpClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(RefusingPort());
    client.GetFirewallSettings().SetServer("127.0.0.1");
    client.GetFirewallSettings().SetFirewallType(static_cast<TixFirewallType>(7));
    ExpectUnsupportedFirewallType(client);
    EXPECT_FALSE(client.IsActive());
}

TEST(TcpClientOpen, CheckActiveRaisesWhileInactive)
{
    TixTcpClient client;
    try
    {
        client.CheckActive();
        FAIL() << "an inactive client passed CheckActive";
    }
    catch (const EixSocketError& E)
    {
        EXPECT_EQ(E.Message(), "The connection to the server is not active");
        EXPECT_EQ(E.ErrorCode(), -6);
    }
}

// ---- Keep-alive ----------------------------------------------------------------------------

TEST(TcpClientKeepAlive, TicksEveryPeriodWhileOpenAndStopsOnClose)
{
    ScriptedServer server({Step::Drain()});
    TTickingClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.SetKeepAlive(20);
    client.Open();
    const os::ULONGLONG start = os::GetTickCount64();
    ASSERT_TRUE(PumpMessagesUntil([&] { return client.Ticks >= 3; }));
    EXPECT_GE(os::GetTickCount64() - start, 3 * 20 - 10); // three full periods at least
    client.Close();
    const int ticks = client.Ticks;
    PumpMessagesUntil([&] { return os::GetTickCount64() - start > 3 * 20 + 200; });
    EXPECT_EQ(client.Ticks, ticks);
    EXPECT_EQ(server.Finish(), "");
}

TEST(TcpClientKeepAlive, TicksWhileAReadWaitsAndAFailingTickIsSwallowed)
{
    ScriptedServer server({Step::Drain()});
    TTickingClient client;
    client.FailTicks = true;
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.SetKeepAlive(10);
    client.SetTimeOut(200);
    client.Open();
    TMemoryStream data;
    // The wait dispatches window messages: the timer runs inside it until the time-out.
    while (client.Ticks < 3)
    {
        try
        {
            client.GetConnection()->ReadData(&data);
        }
        catch (const EixSocketError& E)
        {
            ASSERT_EQ(E.ErrorCode(), -1);
        }
    }
    EXPECT_TRUE(client.IsActive());
    client.Close();
    EXPECT_EQ(server.Finish(), "");
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

TEST(TcpClientProxy, ConnectionPropertiesAddressTheProxysConnection)
{
    TixTcpClient client;
    auto proxy = std::make_unique<TDirectProxy>();
    client.SetProxy(proxy.get());
    client.SetTimeOut(1234);
    EXPECT_EQ(client.GetConnection(), proxy->GetConnection());
    EXPECT_EQ(proxy->GetTimeOut(), 1234);
    proxy.reset();
    EXPECT_EQ(client.GetProxy(), nullptr);
    EXPECT_EQ(client.GetTimeOut(), 60000);
}

TEST(TcpClientProxy, OpenGoesThroughTheProxyAndBeginsTheSessionOnItsConnection)
{
    ScriptedServer server({Step::Send("+OK via proxy\r\n"), Step::Drain()});
    TDirectProxy proxy;
    TixTcpClient client;
    client.SetProxy(&proxy);
    client.SetServer("127.0.0.1");
    client.SetPort(server.Port());
    client.Open();
    ASSERT_EQ(proxy.Calls.size(), 1u);
    EXPECT_EQ(proxy.Calls[0], (std::pair<std::string, int32_t>("127.0.0.1", server.Port())));
    EXPECT_TRUE(client.IsActive());
    TMemoryStream data;
    ReadUntil(*client.GetConnection(), data, "\r\n");
    EXPECT_EQ(data.View(), "+OK via proxy\r\n");
    client.Close();
    EXPECT_EQ(server.Finish(), "");
}

// ---- Resources -----------------------------------------------------------------------------

TEST(TcpClientResources, OpeningClosingAndFailingLeaveNoDescriptorOrThreadBehind)
{
    const auto round = [] {
        ScriptedServer server({Step::Send("+OK\r\n"), Step::Drain()});
        TTickingClient client;
        client.SetServer("localhost"); // resolved
        client.SetPort(server.Port());
        client.SetKeepAlive(10);
        client.Open();
        client.Close();
        client.SetPort(RefusingPort());
        EXPECT_THROW(client.Open(), EixSocketError);
        EXPECT_EQ(server.Finish(), "");
    };
    round(); // the thread's message queue and the socket library are made once
    const TResourceCount before = CountResources();
    for (int rounds = 0; rounds < 3; ++rounds)
        round();
    // A name lookup's worker thread ends on its own just after it has handed its answer over.
    for (int wait = 0; wait < 200 && !(CountResources() == before); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(CountResources(), before);
}

} // namespace
} // namespace ix
