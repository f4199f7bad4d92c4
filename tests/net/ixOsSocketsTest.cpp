#include "platform/ixOsSockets.h"

#include "net/ixSocketTestUtils.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsModules.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ix::test {
namespace {

/// A connected pair of loopback TCP sockets; the client reports to Event.
class NetworkEvents : public ::testing::Test
{
protected:
    NetworkEvents()
    {
        uint16_t port = 0;
        TTestSocket listener = BindLoopback(os::SOCK_STREAM, port);
        EXPECT_EQ(os::listen(listener.Get(), 1), 0);
        Client.Reset(os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP));
        const os::SOCKADDR_IN address = LoopbackAddress(port);
        EXPECT_EQ(os::connect(Client.Get(), reinterpret_cast<const os::SOCKADDR*>(&address), sizeof address), 0);
        Server.Reset(os::accept(listener.Get(), nullptr, nullptr));
        EXPECT_EQ(os::WSAEventSelect(Client.Get(), Event.Get(), os::FD_READ | os::FD_WRITE | os::FD_CLOSE), 0);
    }

    /// The events recorded within ATimeOut ms (0 when none).
    os::LONG Next(os::DWORD ATimeOut = 5000)
    {
        if (os::WaitForSingleObject(Event.Get(), ATimeOut) != os::WAIT_OBJECT_0)
            return 0;
        os::WSANETWORKEVENTS events{};
        EXPECT_EQ(os::WSAEnumNetworkEvents(Client.Get(), Event.Get(), &events), 0);
        LastEvents = events;
        return events.lNetworkEvents;
    }

    void ServerSend(const char* AText)
    {
        ASSERT_EQ(os::send(Server.Get(), AText, static_cast<int>(std::strlen(AText)), 0), static_cast<int>(std::strlen(AText)));
    }

    TWinSockStartup Startup;
    TixWSAEventHandle Event{os::WSACreateEvent()};
    TTestSocket Client;
    TTestSocket Server;
    os::WSANETWORKEVENTS LastEvents{};
};

TEST_F(NetworkEvents, WriteIsSignalledOnceAfterConnectAndAgainOnlyAfterABlockedSend)
{
    EXPECT_EQ(Next(), os::FD_WRITE);
    EXPECT_EQ(Next(50), 0); // writable, but no send has blocked

    std::string block(1 << 16, 'x');
    int blocked = 0;
    for (int i = 0; i < 10000 && blocked == 0; ++i)
        if (os::send(Client.Get(), block.data(), static_cast<int>(block.size()), 0) == os::SOCKET_ERROR)
            blocked = os::WSAGetLastError();
    ASSERT_EQ(blocked, os::WSAEWOULDBLOCK);
    EXPECT_EQ(Next(50), 0);
    std::string sink(1 << 20, '\0');
    os::ULONG ready = 1;
    while (os::ioctlsocket(Server.Get(), os::FIONREAD, &ready) == 0 && ready > 0)
        (void)os::recv(Server.Get(), sink.data(), static_cast<int>(sink.size()), 0);
    EXPECT_EQ(Next(), os::FD_WRITE);
}

TEST_F(NetworkEvents, ReadIsReenabledByEachReceive)
{
    ASSERT_EQ(Next(), os::FD_WRITE);
    ServerSend("abcdef");
    EXPECT_EQ(Next(), os::FD_READ);
    ServerSend("ghi");
    EXPECT_EQ(Next(50), 0); // no receive since the last FD_READ
    char buffer[4];
    EXPECT_EQ(os::recv(Client.Get(), buffer, sizeof buffer, 0), 4);
    EXPECT_EQ(Next(), os::FD_READ); // bytes remain
}

TEST_F(NetworkEvents, CloseIsSignalledOnceWithItsOwnErrorSlot)
{
    ASSERT_EQ(Next(), os::FD_WRITE);
    ServerSend("bye");
    Server.Reset();
    const os::LONG events = Next();
    EXPECT_EQ(events, os::FD_READ | os::FD_CLOSE);
    EXPECT_EQ(LastEvents.iErrorCode[os::FD_CLOSE_BIT], 0);
    char buffer[16];
    EXPECT_EQ(os::recv(Client.Get(), buffer, sizeof buffer, 0), 3);
    EXPECT_EQ(os::recv(Client.Get(), buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(Next(50), 0);
}

TEST_F(NetworkEvents, ConnectFailureIsReportedInTheConnectSlot)
{
    uint16_t port = 0;
    const TTestSocket unused = BindLoopback(os::SOCK_STREAM, port);
    const TTestSocket socket(os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP));
    ASSERT_EQ(os::WSAEventSelect(socket.Get(), Event.Get(), os::FD_CONNECT), 0);
    const os::SOCKADDR_IN address = LoopbackAddress(port);
    ASSERT_EQ(os::connect(socket.Get(), reinterpret_cast<const os::SOCKADDR*>(&address), sizeof address), os::SOCKET_ERROR);
    ASSERT_EQ(os::WSAGetLastError(), os::WSAEWOULDBLOCK);
    ASSERT_EQ(os::WaitForSingleObject(Event.Get(), 5000), os::WAIT_OBJECT_0);
    os::WSANETWORKEVENTS events{};
    ASSERT_EQ(os::WSAEnumNetworkEvents(socket.Get(), Event.Get(), &events), 0);
    EXPECT_EQ(events.lNetworkEvents, os::FD_CONNECT);
    EXPECT_EQ(events.iErrorCode[os::FD_CONNECT_BIT], os::WSAECONNREFUSED);
}

TEST(WinSockErrors, AreWindowsSocketsCodes)
{
    EXPECT_EQ(os::socket(os::AF_INET, os::SOCK_STREAM, 0), os::INVALID_SOCKET);
    EXPECT_EQ(os::WSAGetLastError(), os::WSANOTINITIALISED);
    TWinSockStartup startup;
    const os::SOCKET closed = os::socket(os::AF_INET, os::SOCK_STREAM, 0);
    ASSERT_EQ(os::closesocket(closed), 0);
    char byte = 0;
    EXPECT_EQ(os::recv(closed, &byte, 1, 0), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAENOTSOCK);
    uint16_t port = 0;
    const TTestSocket first = BindLoopback(os::SOCK_STREAM, port);
    const TTestSocket second = BindLoopback(os::SOCK_STREAM, port);
    EXPECT_FALSE(second.IsValid());
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEADDRINUSE);
    EXPECT_EQ(os::socket(17, os::SOCK_STREAM, 0), os::INVALID_SOCKET);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEAFNOSUPPORT);
}

TEST(GetAddrInfo, GivesWindowsRecordsOnePerAddressAndHostNotFoundForOtherTexts)
{
    TWinSockStartup startup;
    os::ADDRINFOA hints{};
    hints.ai_flags = os::AI_NUMERICHOST;
    os::ADDRINFOA* list = nullptr;
    ASSERT_EQ(os::getaddrinfo("::1", nullptr, &hints, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ai_family, 23);
    EXPECT_EQ(list->ai_addrlen, sizeof(os::SOCKADDR_IN6));
    EXPECT_EQ(list->ai_addr->sa_family, 23);
    EXPECT_EQ(list->ai_socktype, 0);
    EXPECT_EQ(list->ai_next, nullptr);
    EXPECT_EQ(reinterpret_cast<os::SOCKADDR_IN6*>(list->ai_addr)->sin6_addr.u.Byte[15], 1);
    os::freeaddrinfo(list);

    ASSERT_EQ(os::getaddrinfo("10.1.2.3", nullptr, &hints, &list), 0);
    EXPECT_EQ(list->ai_family, 2);
    EXPECT_EQ(list->ai_addrlen, sizeof(os::SOCKADDR_IN));
    EXPECT_EQ(reinterpret_cast<os::SOCKADDR_IN*>(list->ai_addr)->sin_addr.S_un.S_un_b.s_b4, 3);
    os::freeaddrinfo(list);

    // Numeric-only lookups never leave the machine: an unknown form is a host not found.
    list = nullptr;
    EXPECT_EQ(os::getaddrinfo("not-a-number", nullptr, &hints, &list), 11001);
    EXPECT_EQ(list, nullptr);
}

TEST(GetAddrInfo, CanBeHiddenFromTheSocketsModule)
{
    const os::HMODULE module = os::LoadLibraryA("WS2_32.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(os::GetProcAddress(module, "getaddrinfo"), nullptr);
    os::SetResolverExportsHidden(true);
    EXPECT_EQ(os::GetProcAddress(module, "getaddrinfo"), nullptr);
    EXPECT_EQ(os::GetProcAddress(module, "freeaddrinfo"), nullptr);
    EXPECT_NE(os::GetProcAddress(module, "WSAEnumNetworkEvents"), nullptr);
    os::SetResolverExportsHidden(false);
    EXPECT_EQ(os::FreeLibrary(module), os::TRUE);
}

/// A window that keeps the completion message of an asynchronous lookup.
class AsyncLookup : public ::testing::Test
{
protected:
    static constexpr os::UINT Message = 0x0C3E;

    AsyncLookup()
        : Window(AllocateWindow([this](os::HWND, os::UINT AMsg, os::WPARAM AWParam, os::LPARAM ALParam) {
              if (AMsg == Message)
              {
                  ++Completions;
                  Task = reinterpret_cast<os::HANDLE>(AWParam);
                  Reply = ALParam;
              }
              return os::LRESULT{0};
          }))
    {
    }

    /// Dispatches messages until a completion came (bounded).
    void WaitForCompletion()
    {
        for (int i = 0; i < 500 && Completions == 0; ++i)
            if (os::MsgWaitForMultipleObjects(0, nullptr, os::FALSE, 20, os::QS_ALLEVENTS) == os::WAIT_OBJECT_0)
            {
                os::MSG msg;
                while (os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE))
                    os::DispatchMessageA(&msg);
            }
    }

    TWinSockStartup Startup;
    TixWindowHandle Window;
    char Buffer[os::MAXGETHOSTSTRUCT]{};
    int Completions = 0;
    os::HANDLE Task = nullptr;
    os::LPARAM Reply = 0;
};

TEST_F(AsyncLookup, PostsTheTaskAndErrorAndFillsAHostEntry)
{
    const os::HANDLE task = os::WSAAsyncGetHostByName(Window.Get(), Message, "localhost", Buffer, sizeof Buffer);
    ASSERT_NE(task, nullptr);

    WaitForCompletion();

    ASSERT_EQ(Completions, 1);
    EXPECT_EQ(Task, task);
    EXPECT_EQ(os::WSAGETASYNCERROR(Reply), 0);
    const auto* entry = reinterpret_cast<const os::HOSTENT*>(Buffer);
    EXPECT_EQ(entry->h_addrtype, 2);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x7F\x00\x00\x01", 4), 0);
    EXPECT_GE(entry->h_addr_list[0], Buffer); // every pointer points into the buffer
    EXPECT_LT(entry->h_addr_list[0], Buffer + sizeof Buffer);
    EXPECT_EQ(os::WSACancelAsyncRequest(task), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEALREADY);
    EXPECT_EQ(os::WSACancelAsyncRequest(reinterpret_cast<os::HANDLE>(0x1234)), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEINVAL);
}

TEST_F(AsyncLookup, ReportsATooSmallBufferInTheHighWord)
{
    ASSERT_NE(os::WSAAsyncGetHostByName(Window.Get(), Message, "localhost", Buffer, 8), nullptr);
    WaitForCompletion();
    ASSERT_EQ(Completions, 1);
    EXPECT_EQ(os::WSAGETASYNCERROR(Reply), os::WSAENOBUFS);
    EXPECT_GT(os::WSAGETASYNCBUFLEN(Reply), 8);
}

} // namespace
} // namespace ix::test
