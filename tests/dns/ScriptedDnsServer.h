#pragma once
// A scripted in-process DNS server for the tests: a scripted UDP server on a loopback address
// that hands each query to the test's responder and sends back the datagrams it returns, each
// from the server's own socket or from a second socket on another port.

#include "core/ixStreams.h"
#include "dns/ixDnsMessage.h"
#include "support/LoopbackListener.h"
#include "support/ScriptedServer.h"
#include "util/ixUtils.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
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
        : FResponder(std::move(AResponder)), FServer(AAddress, APort, {Step::Call([this](ScriptIo& AIo) { Serve(AIo); })})
    {
        uint16_t otherPort = 0;
        FOther = BindLoopback(os::SOCK_DGRAM, otherPort, AAddress); // the server has started the socket library
    }
    ~ScriptedDnsServer() { (void)os::closesocket(FOther); }

    uint16_t Port() const noexcept { return FServer.Port(); }
    /// The source port and the ID of every query received so far.
    std::vector<std::pair<uint16_t, int32_t>> Queries() const
    {
        std::lock_guard lock(FLock);
        return FQueries;
    }

private:
    void Serve(ScriptIo& AIo)
    {
        for (;;)
        {
            TixDnsMessage query;
            query.Parse(AsBytes(AIo.TakeSome()));
            const os::SOCKADDR_IN sender = LoopbackAddress(AIo.PeerPort());
            {
                std::lock_guard lock(FLock);
                FQueries.emplace_back(AIo.PeerPort(), query.GetHeader().GetID());
            }
            for (const TDnsDatagram& datagram : FResponder(query))
                if (datagram.FromOtherPort)
                    (void)os::sendto(FOther, datagram.Bytes.data(), static_cast<int>(datagram.Bytes.size()), 0,
                        reinterpret_cast<const os::SOCKADDR*>(&sender), sizeof sender);
                else
                    AIo.Send(datagram.Bytes);
        }
    }

    TDnsResponder FResponder;
    mutable std::mutex FLock;
    std::vector<std::pair<uint16_t, int32_t>> FQueries;
    std::atomic<os::SOCKET> FOther{os::INVALID_SOCKET};
    ScriptedServer FServer; // last: its thread ends before the fields above go
};

} // namespace ix::test
