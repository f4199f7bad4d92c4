#pragma once
// A scripted in-process DNS server for the tests: a thread with a UDP socket on a loopback
// address that hands each query to the test's responder and sends back the datagrams it
// returns, each from the server's own socket or from a second socket on another port.

#include "core/ixStreams.h"
#include "dns/ixDnsMessage.h"
#include "platform/ixOsSockets.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ix::test {

/// One datagram to send back.
struct TDnsDatagram
{
    std::string Bytes;
    /// Sent from a second socket, i.e. from another port than the one asked.
    bool FromOtherPort = false;
};

using TDnsResponder = std::function<std::vector<TDnsDatagram>(TixDnsMessage& AQuery)>;

/// The wire form of a reply to AQuery (built in a buffer of 64 KB): its ID and question, QR set,
/// and the records that AFill adds.
inline std::string ReplyTo(const TixDnsMessage& AQuery, const std::function<void(TixDnsMessage&)>& AFill = {})
{
    TixDnsMessage reply;
    reply.Assign(AQuery);
    reply.GetHeader().SetIsQuery(false);
    if (AFill)
        AFill(reply);
    TMemoryStream stream;
    reply.Build(stream, 65535);
    return std::string(stream.View());
}

class ScriptedDnsServer
{
public:
    /// Listens on AAddress (127.0.0.x) at APort (0: a free port).
    ScriptedDnsServer(const char* AAddress, uint16_t APort, TDnsResponder AResponder)
        : FResponder(std::move(AResponder))
    {
        os::WSAStartup(os::MAKEWORD(2, 2), nullptr);
        FSocket = Bound(AAddress, APort);
        FOther = Bound(AAddress, 0);
        FThread = std::thread([this] { Run(); });
    }

    ~ScriptedDnsServer()
    {
        FStop = true;
        FThread.join();
        os::closesocket(FSocket);
        os::closesocket(FOther);
        os::WSACleanup();
    }

    uint16_t Port() const noexcept { return FPort; }
    /// The source port and the ID of every query received so far.
    std::vector<std::pair<uint16_t, int32_t>> Queries() const
    {
        std::lock_guard lock(FLock);
        return FQueries;
    }

private:
    os::SOCKET Bound(const char* AAddress, uint16_t APort)
    {
        const os::SOCKET result = os::socket(os::AF_INET, os::SOCK_DGRAM, os::IPPROTO_UDP);
        os::SOCKADDR_IN address{};
        address.sin_family = os::AF_INET;
        address.sin_port = os::htons(APort);
        address.sin_addr.S_un.S_addr = os::inet_addr(AAddress);
        int length = sizeof address;
        os::ULONG nonBlocking = 1;
        if (result == os::INVALID_SOCKET
            || os::bind(result, reinterpret_cast<os::SOCKADDR*>(&address), length) != 0
            || os::getsockname(result, reinterpret_cast<os::SOCKADDR*>(&address), &length) != 0
            || os::ioctlsocket(result, os::FIONBIO, &nonBlocking) != 0)
            throw std::runtime_error("cannot bind a UDP socket on the loopback address");
        if (FPort == 0)
            FPort = os::ntohs(address.sin_port);
        return result;
    }

    void Run()
    {
        char buffer[65536];
        while (!FStop)
        {
            os::SOCKADDR_IN from{};
            int fromLength = sizeof from;
            const int received = os::recvfrom(FSocket, buffer, sizeof buffer, 0, reinterpret_cast<os::SOCKADDR*>(&from), &fromLength);
            if (received <= 0)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            TixDnsMessage query;
            try
            {
                query.Parse(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(received)));
            }
            catch (const EixDnsError&)
            {
                continue;
            }
            {
                std::lock_guard lock(FLock);
                FQueries.emplace_back(os::ntohs(from.sin_port), query.GetHeader().GetID());
            }
            for (const TDnsDatagram& datagram : FResponder(query))
                os::sendto(datagram.FromOtherPort ? FOther : FSocket, datagram.Bytes.data(), static_cast<int>(datagram.Bytes.size()), 0,
                    reinterpret_cast<os::SOCKADDR*>(&from), fromLength);
        }
    }

    TDnsResponder FResponder;
    os::SOCKET FSocket = os::INVALID_SOCKET;
    os::SOCKET FOther = os::INVALID_SOCKET;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::vector<std::pair<uint16_t, int32_t>> FQueries;
    std::thread FThread;
};

} // namespace ix::test
