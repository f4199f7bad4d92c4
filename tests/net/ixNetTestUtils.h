// Helpers of the connection tests: the started socket library, a hidden window whose timer
// runs a handler inside the library's waits, loopback sockets of the platform layer, reading
// until a text has arrived, a client behind a SOCKS proxy, and counting the process's
// descriptors and threads to find leaks.
#pragma once

#include "core/ixStreams.h"
#include "net/ixSocket.h"
#include "net/ixTcpClient.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsSockets.h"
#include "support/LoopbackListener.h"
#include "util/ixUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace ix::test {

/// Starts the socket library for one test.
class TWinSockStartup
{
public:
    TWinSockStartup()
    {
        os::WSADATA data;
        EXPECT_EQ(os::WSAStartup(os::MAKEWORD(2, 2), &data), 0);
    }
    ~TWinSockStartup() { (void)os::WSACleanup(); }
    TWinSockStartup(const TWinSockStartup&) = delete;
    TWinSockStartup& operator=(const TWinSockStartup&) = delete;
};

/// A hidden window whose timer (every AInterval ms) calls AOnTick; the timer's messages are
/// dispatched by the waits of the library.
class TTimerWindow
{
public:
    TTimerWindow(os::UINT AInterval, std::function<void()> AOnTick) : FOnTick(std::move(AOnTick))
    {
        FWindow.Reset(AllocateWindow([this](os::HWND, os::UINT AMsg, os::WPARAM, os::LPARAM) {
            if (AMsg == os::WM_TIMER)
            {
                ++FTicks;
                FOnTick();
            }
            return os::LRESULT{0};
        }));
        EXPECT_NE(os::SetTimer(FWindow.Get(), 1, AInterval, nullptr), 0u);
    }

    int Ticks() const noexcept { return FTicks; }

private:
    std::function<void()> FOnTick;
    int FTicks = 0;
    TixWindowHandle FWindow;
};

/// A socket of the platform layer, closed at the end of the scope.
struct TixTestSocketTraits
{
    using THandle = os::SOCKET;
    static THandle Invalid() noexcept { return os::INVALID_SOCKET; }
    static void Close(THandle AHandle) noexcept { (void)os::closesocket(AHandle); }
};
using TTestSocket = TixUniqueHandle<TixTestSocketTraits>;

/// The error code and text of an EixSocketError raised by AAction ({0, ""} when none).
inline std::pair<int32_t, std::string> SocketErrorOf(const std::function<void()>& AAction)
{
    try
    {
        AAction();
    }
    catch (const EixSocketError& error)
    {
        return {error.ErrorCode(), error.Message()};
    }
    return {0, ""};
}

/// Reads from AConnection into AData until AData holds AText (the connection's TimeOut bounds
/// each wait; a closed connection raises).
inline void ReadUntil(TixConnection& AConnection, TMemoryStream& AData, std::string_view AText)
{
    for (int reads = 0; reads < 10000 && AData.View().find(AText) == std::string_view::npos; ++reads)
        AConnection.ReadData(&AData);
    ASSERT_NE(AData.View().find(AText), std::string_view::npos) << "received: " << AData.View();
}

/// A client aimed at (AHost, APort) through the SOCKS proxy of AType on 127.0.0.1:AProxyPort,
/// whose settings it receives as a copy.
inline std::unique_ptr<TixTcpClient> MakeSocksClient(TixFirewallType AType, int32_t AProxyPort,
    const std::string& AHost, int32_t APort, const std::string& AUserName = "", const std::string& APassword = "",
    bool ANeedResolveIP = true)
{
    auto client = std::make_unique<TixTcpClient>();
    client->SetServer(AHost);
    client->SetPort(APort);
    client->SetTimeOut(10000);
    TixFirewallSettings firewall;
    firewall.SetFirewallType(AType);
    firewall.SetServer("127.0.0.1");
    firewall.SetPort(AProxyPort);
    firewall.SetUserName(AUserName);
    firewall.SetPassword(APassword);
    firewall.SetNeedResolveIP(ANeedResolveIP);
    client->SetFirewallSettings(firewall);
    return client;
}

/// Open descriptors and running threads of this process.
using TResourceCount = std::pair<size_t, size_t>;

/// The descriptors and threads of this process now, with this thread's message queue made first
/// (it lives as long as the thread).
inline TResourceCount CountResources()
{
    (void)os::GetMessageQueueFd();
    const auto count = [](const char* APath) {
        size_t result = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(APath))
            ++result;
        return result;
    };
    return {count("/proc/self/fd"), count("/proc/self/task")};
}

/// Expects the process to hold the descriptors and threads of ABefore again, after a wait (at
/// most 5 s) for name lookups' worker threads, which end just after handing their answer over.
inline void ExpectResourcesBackTo(const TResourceCount& ABefore)
{
    for (int wait = 0; wait < 500 && !(CountResources() == ABefore); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(CountResources(), ABefore);
}

} // namespace ix::test
