#pragma once
// The loopback sockets of in-process peers (scripted test servers, benchmark senders): a TCP
// socket listening on 127.0.0.1 at a port the system chooses, and a client connected to one.

#include "platform/ixOsSockets.h"

#include <cstdint>
#include <stdexcept>

namespace ix::test {

/// 127.0.0.1:APort as an IPv4 socket address.
inline os::SOCKADDR_IN LoopbackAddress(uint16_t APort)
{
    os::SOCKADDR_IN address{};
    address.sin_family = os::AF_INET;
    address.sin_port = os::htons(APort);
    address.sin_addr.S_un.S_addr = os::htonl(os::INADDR_LOOPBACK);
    return address;
}

/// A TCP socket listening on 127.0.0.1 at a free port, which APort receives. AReceiveBuffer
/// above 0 sets the receive buffer size that accepted connections inherit. Raises
/// std::runtime_error when no socket can be made or it cannot listen (the socket is closed).
inline os::SOCKET ListenOnLoopback(uint16_t& APort, int ABacklog = 1, int AReceiveBuffer = 0)
{
    const os::SOCKET listener = os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP);
    if (listener == os::INVALID_SOCKET)
        throw std::runtime_error("socket failed");
    if (AReceiveBuffer > 0)
        (void)os::setsockopt(listener, os::SOL_SOCKET, os::SO_RCVBUF,
            reinterpret_cast<const char*>(&AReceiveBuffer), sizeof(int));
    os::SOCKADDR_IN address = LoopbackAddress(0);
    int length = sizeof address;
    if (os::bind(listener, reinterpret_cast<os::SOCKADDR*>(&address), length) != 0
        || os::listen(listener, ABacklog) != 0
        || os::getsockname(listener, reinterpret_cast<os::SOCKADDR*>(&address), &length) != 0)
    {
        (void)os::closesocket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    APort = os::ntohs(address.sin_port);
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
