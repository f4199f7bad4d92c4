// SOCKS 4, 4a and 5 proxy streams (client side; RFC 1928, RFC 1929 and the SOCKS 4/4a
// protocol notes): a network stream that negotiates the tunnel during the connect and then
// forwards every operation to the stream it wraps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/ixClasses.h"
#include "core/ixErrorCodes.h"
#include "core/ixStreams.h"
#include "net/ixSocket.h"

namespace ix {

/// A SOCKS proxy refused or could not serve the request, or the request could not be built.
/// ErrorCode is the reply byte that caused it (the reply code, or the address type), or one of
/// the negative codes below for a request refused before it was sent.
class EixSocksFirewallError : public EixSocketError
{
public:
    using EixSocketError::EixSocketError;

    /// A host name, user name or password that does not fit its field, or a request longer
    /// than the request buffer.
    static constexpr int32_t RequestTooLong = SocksRequestTooLongCode;
    /// A value that the request cannot carry: a destination that is not an IPv4 address where
    /// one is needed, a text with a zero byte, a port outside 0..65535.
    static constexpr int32_t InvalidRequestValue = SocksInvalidRequestValueCode;
};

/// Negotiation states of a SOCKS stream.
enum TixSocksState : uint8_t {
    ssInitial = 0,       ///< SOCKS 5: greeting sent or to be sent; SOCKS 4: request
    ssAuthenticate = 1,  ///< SOCKS 5 user name/password sub-negotiation
    ssConnect = 2,       ///< SOCKS 5 connect request
    ssGranted = 3,       ///< granted, not yet handed over
    ssTunnel = 4,        ///< tunnel established: everything goes to the inner stream
};

/// The common part of the SOCKS streams: drives the request/reply exchange through the
/// connection's pending actions and, once granted, forwards to the inner stream.
class TixSocksNetworkStream : public TixNetworkStream
{
public:
    /// Largest request the streams build.
    static constexpr size_t MaxRequestSize = 1024;

    /// Wraps AInner (plain or TLS), which the SOCKS stream owns from now on.
    explicit TixSocksNetworkStream(std::unique_ptr<TixNetworkStream> AInner);
    ~TixSocksNetworkStream() override;

    /// Destination port.
    int32_t GetPort() const noexcept { return FPort; }
    void SetPort(int32_t AValue) noexcept { FPort = AValue; }
    /// Destination host: a numeric address text or a host name.
    const std::string& GetHost() const noexcept { return FHost; }
    void SetHost(const std::string& AValue) { FHost = AValue; }
    /// User name for the proxy's login (SOCKS 5) or the user id (SOCKS 4).
    const std::string& GetUserName() const noexcept { return FUserName; }
    void SetUserName(const std::string& AValue) { FUserName = AValue; }
    /// Password for the proxy's login (SOCKS 5).
    const std::string& GetPassword() const noexcept { return FPassword; }
    void SetPassword(const std::string& AValue) { FPassword = AValue; }
    /// The negotiation state.
    TixSocksState GetState() const noexcept { return FState; }
    /// The wrapped stream.
    TixNetworkStream* GetInnerStream() const noexcept { return FInnerStream.get(); }

    /// Also hands AConnection to the inner stream.
    void SetConnection(TixConnection* AConnection) override;
    void Assign(const TixNetworkStream& ASource) override;
    bool Connect(TixIPAddress& AAddress, int32_t APort) override;
    void ConnectCompleted() override;
    void EnableBroadcast() override;
    void Listen() override;
    void Accept() override;
    void CloseStream(bool ANotifyPeer) override;
    void StreamReady() override;
    bool Read(TStream* AData) override;
    bool Write(TStream* AData) override;
    bool ReadFrom(TStream* AData, TixIPAddress& AAddress, int32_t& APort) override;
    bool WriteTo(TStream* AData, TixIPAddress& AAddress, int32_t APort) override;
    /// The inner stream's batch size once tunnelling, else the plain one.
    int32_t GetReadBatchSize() override;
    /// The inner stream's batch size once tunnelling, else the plain one.
    int32_t GetWriteBatchSize() override;
    void UpdateProgress(int64_t ADelta) override;
    void OpenClientSession() override;
    void OpenServerSession() override;

protected:
    /// Builds the request of the current state into ARequest. Raises EixSocksFirewallError
    /// when a value does not fit the request.
    virtual void BuildRequest(TixByteArray& ARequest) = 0;
    /// Judges the reply bytes gathered so far; true when a complete reply was consumed.
    /// Requests a read when more bytes are needed, a write when a further request follows.
    virtual bool ProcessReply(const TixByteArray& AReply) = 0;
    /// The size of a complete reply in the current state.
    virtual int32_t GetReplySize() = 0;

    /// Moves the negotiation to AValue.
    void SetState(TixSocksState AValue) noexcept { FState = AValue; }
    /// The proxy granted the connection: state 3, then StreamReady hands over to the inner stream.
    void Grant();
    /// Requests a read when fewer than ASize reply bytes are present; true when they are.
    bool HasReply(const TixByteArray& AReply, size_t ASize);

private:
    bool SendRequest();
    bool ReadReply();
    /// Runs one forwarded operation on the inner stream and takes over its pending action,
    /// its peer-closed mark and its wish to be read again.
    template <typename TOperation>
    auto Forward(TOperation AOperation);
    void TakeOverInnerState();

    int32_t FPort = 0;
    std::string FHost;
    TMemoryStream FReplyBuffer;
    std::string FUserName;
    std::string FPassword;
    TixSocksState FState = ssInitial;
    std::unique_ptr<TixNetworkStream> FInnerStream;
    /// The request being sent; kept until the socket has taken all of it, so that a partial
    /// send resumes where it stopped.
    std::unique_ptr<TMemoryStream> FPendingRequest;
};

/// SOCKS 4: the client resolves the destination and sends its IPv4 address.
class TixSocks4NetworkStream : public TixSocksNetworkStream
{
public:
    using TixSocksNetworkStream::TixSocksNetworkStream;

protected:
    void BuildRequest(TixByteArray& ARequest) override;
    bool ProcessReply(const TixByteArray& AReply) override;
    int32_t GetReplySize() override;
    /// The CONNECT request for the IPv4 address text AAddress; a non-empty AHostName follows
    /// the user id (SOCKS 4a).
    void BuildConnectRequest(TixByteArray& ARequest, const std::string& AAddress,
        const std::string& AHostName);
};

/// SOCKS 4a: a host name goes to the proxy, which resolves it.
class TixSocks4aNetworkStream : public TixSocks4NetworkStream
{
public:
    using TixSocks4NetworkStream::TixSocks4NetworkStream;

protected:
    void BuildRequest(TixByteArray& ARequest) override;
};

/// SOCKS 5 with no authentication or user name/password (RFC 1928, RFC 1929).
class TixSocks5NetworkStream : public TixSocksNetworkStream
{
public:
    using TixSocksNetworkStream::TixSocksNetworkStream;

    bool Connect(TixIPAddress& AAddress, int32_t APort) override;

protected:
    void BuildRequest(TixByteArray& ARequest) override;
    bool ProcessReply(const TixByteArray& AReply) override;
    int32_t GetReplySize() override;

private:
    bool ProcessMethodReply(const TixByteArray& AReply);
    bool ProcessAuthenticationReply(const TixByteArray& AReply);
    bool ProcessConnectReply(const TixByteArray& AReply);

    int32_t FExpectedReplySize = 0;
};

} // namespace ix
