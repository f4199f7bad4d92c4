// What the socket layer does of its own beyond what the connection tests reach: the Windows
// error codes, and the asynchronous host lookup's message and buffer.
#include "platform/ixOsSockets.h"

#include "net/ixNetTestUtils.h"
#include "support/MessagePump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ix::test {
namespace {

// A port in use (10048) is the connection's bind test's.
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
    EXPECT_EQ(os::socket(17, os::SOCK_STREAM, 0), os::INVALID_SOCKET);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEAFNOSUPPORT);
}

// A connected stream has no source address per read: recvfrom with one returns the bytes and
// leaves the address alone, as on Windows. FIONREAD counts the bytes waiting; a non-blocking
// socket with none says it would block.
TEST(WinSockStreams, RecvfromOnAConnectedStreamReturnsTheBytesAndANonBlockingOneWithoutBytesWouldBlock)
{
    TWinSockStartup startup;
    uint16_t port = 0;
    const os::SOCKET listener = ListenOnLoopback(port);
    const os::SOCKET client = ConnectToLoopback(port);
    const os::SOCKET server = os::accept(listener, nullptr, nullptr);
    ASSERT_EQ(os::send(client, "datamore", 8, 0), 8); // one segment
    char buffer[8]{};
    os::SOCKADDR_IN from{};
    int fromLength = sizeof from;
    EXPECT_EQ(os::recvfrom(server, buffer, 4, 0, reinterpret_cast<os::SOCKADDR*>(&from), &fromLength), 4);
    EXPECT_EQ(std::string(buffer), "data");
    EXPECT_EQ(fromLength, int{sizeof from});
    os::ULONG waiting = 0;
    EXPECT_EQ(os::ioctlsocket(server, os::FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 4u);
    EXPECT_EQ(os::recv(server, buffer, sizeof buffer, 0), 4);
    os::ULONG nonBlocking = 1;
    EXPECT_EQ(os::ioctlsocket(server, os::FIONBIO, &nonBlocking), 0);
    EXPECT_EQ(os::recv(server, buffer, sizeof buffer, 0), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEWOULDBLOCK);
    for (const os::SOCKET socket : {server, client, listener})
        (void)os::closesocket(socket);
}

TEST(AsyncLookup, PostsTheTaskAndErrorAndFillsAHostEntryOrReportsATooSmallBuffer)
{
    constexpr os::UINT Message = 0x0C3E;
    TWinSockStartup startup;
    std::vector<std::pair<os::HANDLE, os::LPARAM>> completions;
    const TixWindowHandle window(AllocateWindow([&](os::HWND, os::UINT AMsg, os::WPARAM AWParam, os::LPARAM ALParam) {
        if (AMsg == Message)
            completions.emplace_back(reinterpret_cast<os::HANDLE>(AWParam), ALParam);
        return os::LRESULT{0};
    }));
    const auto lookup = [&](char* ABuffer, int ASize) {
        completions.clear();
        const os::HANDLE task = os::WSAAsyncGetHostByName(window.Get(), Message, "localhost", ABuffer, ASize);
        EXPECT_NE(task, nullptr);
        EXPECT_TRUE(PumpMessagesUntil([&] { return !completions.empty(); }));
        EXPECT_EQ(completions.size(), 1u);
        EXPECT_TRUE(completions.empty() || completions[0].first == task);
        return std::pair(task, completions.empty() ? os::LPARAM{-1} : completions[0].second);
    };

    char buffer[os::MAXGETHOSTSTRUCT]{};
    const auto [task, reply] = lookup(buffer, sizeof buffer);
    EXPECT_EQ(os::WSAGETASYNCERROR(reply), 0);
    const auto* entry = reinterpret_cast<const os::HOSTENT*>(buffer);
    EXPECT_EQ(entry->h_addrtype, 2);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x7F\x00\x00\x01", 4), 0);
    EXPECT_GE(entry->h_addr_list[0], buffer); // every pointer points into the buffer
    EXPECT_LT(entry->h_addr_list[0], buffer + sizeof buffer);
    EXPECT_EQ(os::WSACancelAsyncRequest(task), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEALREADY);
    EXPECT_EQ(os::WSACancelAsyncRequest(reinterpret_cast<os::HANDLE>(0x1234)), os::SOCKET_ERROR);
    EXPECT_EQ(os::WSAGetLastError(), os::WSAEINVAL);

    const os::LPARAM small = lookup(buffer, 8).second;
    EXPECT_EQ(os::WSAGETASYNCERROR(small), os::WSAENOBUFS);
    EXPECT_GT(os::WSAGETASYNCBUFLEN(small), 8);
}

} // namespace
} // namespace ix::test
