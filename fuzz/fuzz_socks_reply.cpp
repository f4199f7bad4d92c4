// Arbitrary proxy replies through the SOCKS 4a and SOCKS 5 negotiation, fed the way the stream
// reads them (never more than the reply still missing). The first byte picks the protocol and
// whether a login is offered. The only failure allowed is EixSocksFirewallError; the reply
// buffer must never be asked for fewer than one byte.
#include <algorithm>
#include <memory>

#include "FuzzInput.h"
#include "net/ixSocks.h"

namespace {

/// Exposes the protected negotiation steps of a SOCKS stream.
template <typename TStream>
class TNegotiation : public TStream
{
public:
    TNegotiation() : TStream(std::make_unique<ix::TixNetworkStream>()) {}
    using TStream::BuildRequest;
    using TStream::GetReplySize;
    using TStream::ProcessReply;
};

template <typename TStream>
void Negotiate(const uint8_t* AData, size_t ASize, bool ALogin)
{
    TNegotiation<TStream> stream;
    stream.SetHost((AData[0] & 4) != 0 ? "pop.example.test" : "127.0.0.1");
    stream.SetPort(110);
    if (ALogin)
    {
        stream.SetUserName("alice");
        stream.SetPassword("secret");
    }
    ix::TixByteArray request;
    ix::TixByteArray reply;
    size_t offset = 1;
    ix::fuzz::Completes<ix::EixSocksFirewallError>([&] {
        stream.BuildRequest(request);
        while (offset < ASize && stream.GetState() != ix::ssTunnel)
        {
            const int32_t missing = stream.GetReplySize() - static_cast<int32_t>(reply.size());
            // With nothing missing, the stream would read nothing and take that for a closed peer.
            ix::fuzz::Require(missing >= 1);
            const size_t take = std::min<size_t>(static_cast<size_t>(missing), ASize - offset);
            const size_t chunk = std::min<size_t>(take, 1 + AData[offset] % 7);
            reply.insert(reply.end(), AData + offset, AData + offset + chunk);
            offset += chunk;
            if (!stream.ProcessReply(reply))
                continue;
            reply.clear();
            if (stream.GetNextAction() == ix::naWrite && stream.GetState() != ix::ssTunnel)
                stream.BuildRequest(request);
        }
    });
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize == 0)
        return;
    const bool login = (AData[0] & 2) != 0;
    if ((AData[0] & 1) != 0)
        Negotiate<ix::TixSocks5NetworkStream>(AData, ASize, login);
    else
        Negotiate<ix::TixSocks4aNetworkStream>(AData, ASize, login);
}
