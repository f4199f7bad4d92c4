#pragma once
// The loopback sockets of in-process peers (scripted test servers, benchmark senders): a socket
// bound to a loopback address at a port the system chooses, a TCP listener, and a client
// connected to one.

#include "platform/ixOsSockets.h"

#include <cstdint>
#include <stdexcept>

namespace ix::test {

/// AAddress:APort as an IPv4 socket address.
inline os::SOCKADDR_IN LoopbackAddress(uint16_t APort, const char* AAddress = "127.0.0.1")
{
    os::SOCKADDR_IN address{};
    address.sin_family = os::AF_INET;
    address.sin_port = os::htons(APort);
    address.sin_addr.S_un.S_addr = os::inet_addr(AAddress);
    return address;
}

/// A socket of AType bound to AAddress (127.0.0.x) at APort (0: a free port), which APort
/// receives; INVALID_SOCKET when it cannot be bound. AReceiveBuffer above 0 sets its receive
/// buffer size (which the connections a listener accepts inherit).
inline os::SOCKET BindLoopback(int AType, uint16_t& APort, const char* AAddress = "127.0.0.1", int AReceiveBuffer = 0)
{
    const os::SOCKET socket = os::socket(os::AF_INET, AType, 0);
    if (AReceiveBuffer > 0)
        (void)os::setsockopt(socket, os::SOL_SOCKET, os::SO_RCVBUF, reinterpret_cast<const char*>(&AReceiveBuffer), sizeof(int));
    os::SOCKADDR_IN address = LoopbackAddress(APort, AAddress);
    int length = sizeof address;
    if (os::bind(socket, reinterpret_cast<os::SOCKADDR*>(&address), length) != 0
        || os::getsockname(socket, reinterpret_cast<os::SOCKADDR*>(&address), &length) != 0)
    {
        (void)os::closesocket(socket);
        return os::INVALID_SOCKET;
    }
    APort = os::ntohs(address.sin_port);
    return socket;
}

/// A TCP socket listening on 127.0.0.1 at a free port, which APort receives (AReceiveBuffer: as
/// for BindLoopback). Raises std::runtime_error when it cannot listen (the socket is closed).
inline os::SOCKET ListenOnLoopback(uint16_t& APort, int ABacklog = 1, int AReceiveBuffer = 0)
{
    APort = 0;
    const os::SOCKET listener = BindLoopback(os::SOCK_STREAM, APort, "127.0.0.1", AReceiveBuffer);
    if (listener == os::INVALID_SOCKET || os::listen(listener, ABacklog) != 0)
    {
        (void)os::closesocket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    return listener;
}

/// A TCP socket connected to 127.0.0.1:APort; INVALID_SOCKET when the connection fails.
inline os::SOCKET ConnectToLoopback(uint16_t APort)
{
    const os::SOCKET client = os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP);
    if (client == os::INVALID_SOCKET)
        return client;
    os::SOCKADDR_IN address = LoopbackAddress(APort);
    if (os::connect(client, reinterpret_cast<os::SOCKADDR*>(&address), sizeof address) != 0)
    {
        (void)os::closesocket(client);
        return os::INVALID_SOCKET;
    }
    return client;
}

} // namespace ix::test
