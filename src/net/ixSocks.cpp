#include "net/ixSocks.h"

#include <cstring>
#include <string_view>

#include "core/ixSysUtils.h"
#include "net/ixIpAddress.h"
#include "platform/ixOsSockets.h"

namespace ix {

namespace {

constexpr uint8_t Socks4Version = 4;
constexpr uint8_t Socks5Version = 5;
constexpr uint8_t CommandConnect = 1;
constexpr uint8_t Socks4Granted = 90;
constexpr uint8_t MethodNoAuthentication = 0;
constexpr uint8_t MethodUserPassword = 2;
constexpr uint8_t UserPasswordVersion = 1;
constexpr uint8_t AddressIPv4 = 1;
constexpr uint8_t AddressDomainName = 3;
constexpr uint8_t AddressIPv6 = 4;
constexpr size_t MaxFieldLength = 255;
constexpr size_t Socks4ReplySize = 8;
/// A SOCKS 5 connect reply up to the address type and the first byte after it (the length of
/// a domain name): enough to know the size of the whole reply.
constexpr size_t Socks5ReplyHeadSize = 5;
/// The texts that SOCKS 4a sends as its address to say "the name follows".
constexpr std::string_view Socks4aNameFollows = "0.0.0.1";

constexpr std::string_view UnknownSocksError = "Unknown SOCKS error occured";

std::string_view Socks4ReplyText(uint8_t ACode)
{
    switch (ACode)
    {
    case 90: return "Request granted";
    case 91: return "SOCKS error: request rejected or failed";
    case 92: return "SOCKS error: request rejected becasue SOCKS server cannot connect to identd on the client";
    case 93: return "SOCKS error: request rejected because the client program and identd report different user-ids";
    default: return UnknownSocksError;
    }
}

std::string_view Socks5ReplyText(uint8_t ACode)
{
    switch (ACode)
    {
    case 0: return "Succeeded";
    case 1: return "General SOCKS server failure";
    case 2: return "SOCKS error: connection not allowed by ruleset";
    case 3: return "SOCKS error: Network unreachable";
    case 4: return "SOCKS error: Host unreachable";
    case 5: return "SOCKS error: Connection refused";
    case 6: return "SOCKS error: TTL expired";
    case 7: return "SOCKS error: Command not supported";
    case 8: return "SOCKS error: Address type not supported";
    default: return UnknownSocksError;
    }
}

[[noreturn]] void RaiseSocksError(std::string_view AMessage, int32_t ACode)
{
    throw EixSocksFirewallError(std::string(AMessage), ACode);
}

/// Appends the fields of one request and refuses, before anything is sent, every value that
/// its field cannot carry and every request longer than MaxRequestSize.
class TRequestBuilder
{
public:
    explicit TRequestBuilder(TixByteArray& ATarget) : FTarget(ATarget)
    {
        FTarget.clear();
        FTarget.reserve(TixSocksNetworkStream::MaxRequestSize);
    }

    TRequestBuilder& Byte(uint8_t AValue)
    {
        Reserve(1);
        FTarget.push_back(AValue);
        return *this;
    }

    /// The port in two bytes, network order.
    TRequestBuilder& Port(int32_t APort)
    {
        CheckPort(APort);
        return Byte(static_cast<uint8_t>(APort >> 8)).Byte(static_cast<uint8_t>(APort & 0xFF));
    }

    /// Raises when APort does not fit the two-byte port field.
    static void CheckPort(int32_t APort)
    {
        if (APort < 0 || APort > 0xFFFF)
            RaiseSocksError(Format("SOCKS error: port %d is not a TCP port", APort),
                EixSocksFirewallError::InvalidRequestValue);
    }

    /// The four bytes of an IPv4 address text (every form that inet_addr reads).
    TRequestBuilder& IPv4(std::string_view AAddress)
    {
        const std::string text(AAddress);
        const os::ULONG address = os::inet_addr(text.c_str());
        if (address == os::INADDR_NONE && text != "255.255.255.255")
            RaiseSocksError(Format("SOCKS error: %s is not an IPv4 address", text),
                EixSocksFirewallError::InvalidRequestValue);
        uint8_t bytes[4];
        std::memcpy(bytes, &address, sizeof bytes); // network order in memory
        for (uint8_t value : bytes)
            Byte(value);
        return *this;
    }

    /// AText followed by a zero byte (SOCKS 4 user id and 4a host name).
    TRequestBuilder& ZeroTerminated(std::string_view AText, std::string_view AWhat)
    {
        if (AText.find('\0') != std::string_view::npos)
            RaiseSocksError(Format("SOCKS error: %s contains a zero byte", AWhat),
                EixSocksFirewallError::InvalidRequestValue);
        return Text(AText).Byte(0);
    }

    /// One length byte, then AText (SOCKS 5 names and credentials).
    TRequestBuilder& Counted(std::string_view AText, std::string_view AWhat)
    {
        CheckCounted(AText, AWhat);
        return Byte(static_cast<uint8_t>(AText.size())).Text(AText);
    }

    /// Raises when AText does not fit a one-byte length field.
    static void CheckCounted(std::string_view AText, std::string_view AWhat)
    {
        if (AText.size() > MaxFieldLength)
            RaiseSocksError(Format("SOCKS error: %s is longer than 255 bytes", AWhat),
                EixSocksFirewallError::RequestTooLong);
    }

private:
    TRequestBuilder& Text(std::string_view AText)
    {
        Reserve(AText.size());
        FTarget.insert(FTarget.end(), AText.begin(), AText.end());
        return *this;
    }

    void Reserve(size_t ACount) const
    {
        if (FTarget.size() + ACount > TixSocksNetworkStream::MaxRequestSize)
            RaiseSocksError("SOCKS error: the request is longer than 1024 bytes",
                EixSocksFirewallError::RequestTooLong);
    }

    TixByteArray& FTarget;
};

/// Sets the connection's read limit for one negotiation read and always restores "no limit".
class TReadLimit
{
public:
    TReadLimit(TixConnection& AConnection, int64_t ALimit) : FConnection(AConnection)
    {
        FConnection.SetBytesToProceed(ALimit);
    }
    ~TReadLimit() { FConnection.SetBytesToProceed(-1); }
    TReadLimit(const TReadLimit&) = delete;
    TReadLimit& operator=(const TReadLimit&) = delete;

private:
    TixConnection& FConnection;
};

} // namespace

// ---- TixSocksNetworkStream ---------------------------------------------------------------

TixSocksNetworkStream::TixSocksNetworkStream(std::unique_ptr<TixNetworkStream> AInner)
    : FInnerStream(std::move(AInner))
{
    SetNextAction(naWrite);
}

TixSocksNetworkStream::~TixSocksNetworkStream() = default;

template <typename TOperation>
auto TixSocksNetworkStream::Forward(TOperation AOperation)
{
    ClearNextAction();
    if constexpr (std::is_void_v<decltype(AOperation())>)
    {
        AOperation();
        TakeOverInnerState();
    }
    else
    {
        auto result = AOperation();
        TakeOverInnerState();
        return result;
    }
}

void TixSocksNetworkStream::SetConnection(TixConnection* AConnection)
{
    TixNetworkStream::SetConnection(AConnection);
    FInnerStream->SetConnection(AConnection);
}

void TixSocksNetworkStream::Assign(const TixNetworkStream& ASource)
{
    TixNetworkStream::Assign(ASource);
    if (const auto* source = dynamic_cast<const TixSocksNetworkStream*>(&ASource))
    {
        FHost = source->FHost;
        FPort = source->FPort;
        FUserName = source->FUserName;
        FPassword = source->FPassword;
    }
}

bool TixSocksNetworkStream::Connect(TixIPAddress& AAddress, int32_t APort)
{
    FState = ssInitial;
    return TixNetworkStream::Connect(AAddress, APort);
}

void TixSocksNetworkStream::ConnectCompleted()
{
    TixNetworkStream::ConnectCompleted();
    FInnerStream->ConnectCompleted();
}

// No broadcasts, listening or accepting through a SOCKS CONNECT tunnel.
void TixSocksNetworkStream::EnableBroadcast() {}
void TixSocksNetworkStream::Listen() {}
void TixSocksNetworkStream::Accept() {}
void TixSocksNetworkStream::OpenServerSession() {}

void TixSocksNetworkStream::CloseStream(bool ANotifyPeer)
{
    TixNetworkStream::CloseStream(ANotifyPeer);
    FInnerStream->CloseStream(ANotifyPeer);
    // A TLS stream inside queues its close notification: let the connection send it.
    if (FState == ssTunnel)
        SetNextAction(FInnerStream->GetNextAction());
}

void TixSocksNetworkStream::StreamReady()
{
    if (FState == ssGranted)
    {
        FState = ssTunnel;
        OpenClientSession();
    }
    else if (FState == ssTunnel)
        FInnerStream->StreamReady();
}

void TixSocksNetworkStream::OpenClientSession()
{
    if (FState == ssTunnel)
    {
        Forward([this] { FInnerStream->OpenClientSession(); });
        return;
    }
    FState = ssInitial;
    FReplyBuffer.Clear();
    FPendingRequest.reset();
    SetNextAction(naWrite);
}

void TixSocksNetworkStream::TakeOverInnerState()
{
    SetNextAction(FInnerStream->GetNextAction());
    // The connection looks at this stream only: hand over what the inner one learnt.
    if (FInnerStream->GetPeerClosed())
        SetPeerClosed(true);
    if (FInnerStream->GetReadPending())
    {
        FInnerStream->SetReadPending(false);
        SetReadPending(true);
    }
}

bool TixSocksNetworkStream::Read(TStream* AData)
{
    if (FState == ssTunnel)
        return Forward([this, AData] { return FInnerStream->Read(AData); });
    return ReadReply();
}

bool TixSocksNetworkStream::Write(TStream* AData)
{
    if (FState == ssTunnel)
        return Forward([this, AData] { return FInnerStream->Write(AData); });
    return SendRequest();
}

bool TixSocksNetworkStream::SendRequest()
{
    if (!FPendingRequest)
    {
        TixByteArray request;
        BuildRequest(request);
        FPendingRequest = std::make_unique<TMemoryStream>();
        FPendingRequest->WriteBuffer(request.data(), static_cast<int64_t>(request.size()));
        FPendingRequest->SetPosition(0);
    }
    ResetProceed();
    const bool result = TixNetworkStream::Write(FPendingRequest.get());
    if (FPendingRequest->Remaining() == 0)
    {
        FPendingRequest.reset();
        SetNextAction(naRead);
    }
    return result;
}

bool TixSocksNetworkStream::ReadReply()
{
    const int64_t missing = GetReplySize() - FReplyBuffer.GetSize();
    ResetProceed();
    FReplyBuffer.Seek(0, soEnd);
    {
        // Take no byte beyond this reply: what follows belongs to the inner stream.
        TReadLimit limit(*GetConnection(), missing);
        SetReadPending(TixNetworkStream::Read(&FReplyBuffer));
    }
    const TixByteArray reply(FReplyBuffer.Memory(), FReplyBuffer.Memory() + FReplyBuffer.GetSize());
    if (ProcessReply(reply))
        FReplyBuffer.Clear();
    return GetReadPending();
}

bool TixSocksNetworkStream::ReadFrom(TStream*, TixIPAddress&, int32_t&)
{
    return false;
}

bool TixSocksNetworkStream::WriteTo(TStream*, TixIPAddress&, int32_t)
{
    return false;
}

int32_t TixSocksNetworkStream::GetReadBatchSize()
{
    return FState == ssTunnel ? FInnerStream->GetReadBatchSize() : TixNetworkStream::GetReadBatchSize();
}

int32_t TixSocksNetworkStream::GetWriteBatchSize()
{
    return FState == ssTunnel ? FInnerStream->GetWriteBatchSize() : TixNetworkStream::GetWriteBatchSize();
}

void TixSocksNetworkStream::UpdateProgress(int64_t ADelta)
{
    if (FState == ssTunnel)
        FInnerStream->UpdateProgress(ADelta);
    else
        AddProceeded(ADelta); // counts against the read limit; not the connection's progress
}

void TixSocksNetworkStream::Grant()
{
    FState = ssGranted;
    StreamReady();
}

bool TixSocksNetworkStream::HasReply(const TixByteArray& AReply, size_t ASize)
{
    if (AReply.size() >= ASize)
        return true;
    SetNextAction(naRead);
    return false;
}

// ---- SOCKS 4 and 4a ----------------------------------------------------------------------

void TixSocks4NetworkStream::BuildRequest(TixByteArray& ARequest)
{
    std::string address;
    TixHostResolver::ResolveHost(GetHost(), GetConnection()->GetUseIpV6(), address);
    BuildConnectRequest(ARequest, address, {});
}

void TixSocks4NetworkStream::BuildConnectRequest(TixByteArray& ARequest, const std::string& AAddress,
    const std::string& AHostName)
{
    TRequestBuilder request(ARequest);
    request.Byte(Socks4Version).Byte(CommandConnect).Port(GetPort()).IPv4(AAddress);
    request.ZeroTerminated(GetUserName(), "User name");
    if (!AHostName.empty())
        request.ZeroTerminated(AHostName, "Host name");
}

bool TixSocks4NetworkStream::ProcessReply(const TixByteArray& AReply)
{
    if (!HasReply(AReply, Socks4ReplySize))
        return false;
    if (AReply[0] != 0 || AReply[1] != Socks4Granted)
        RaiseSocksError(Socks4ReplyText(AReply[1]), AReply[1]);
    Grant();
    return true;
}

int32_t TixSocks4NetworkStream::GetReplySize()
{
    return static_cast<int32_t>(Socks4ReplySize);
}

void TixSocks4aNetworkStream::BuildRequest(TixByteArray& ARequest)
{
    if (TixIPAddress::IsValidIP(GetHost()))
        BuildConnectRequest(ARequest, GetHost(), {});
    else
        BuildConnectRequest(ARequest, std::string(Socks4aNameFollows), GetHost());
}

// ---- SOCKS 5 -----------------------------------------------------------------------------

bool TixSocks5NetworkStream::Connect(TixIPAddress& AAddress, int32_t APort)
{
    FExpectedReplySize = 0;
    return TixSocksNetworkStream::Connect(AAddress, APort);
}

void TixSocks5NetworkStream::BuildRequest(TixByteArray& ARequest)
{
    TRequestBuilder request(ARequest);
    switch (GetState())
    {
    case ssInitial:
        // Refuse values that a later request could not carry before the first byte goes out.
        TRequestBuilder::CheckCounted(GetUserName(), "User name");
        TRequestBuilder::CheckCounted(GetPassword(), "Password");
        if (!TixIPAddress::IsValidIP(GetHost()))
            TRequestBuilder::CheckCounted(GetHost(), "Host name");
        TRequestBuilder::CheckPort(GetPort());
        request.Byte(Socks5Version).Byte(1);
        request.Byte(GetUserName().empty() ? MethodNoAuthentication : MethodUserPassword);
        FExpectedReplySize = 2;
        break;
    case ssAuthenticate: // RFC 1929
        request.Byte(UserPasswordVersion).Counted(GetUserName(), "User name").Counted(GetPassword(), "Password");
        FExpectedReplySize = 2;
        break;
    case ssConnect:
        request.Byte(Socks5Version).Byte(CommandConnect).Byte(0);
        if (TixIPAddress::IsValidIP(GetHost()))
            request.Byte(AddressIPv4).IPv4(GetHost());
        else
            request.Byte(AddressDomainName).Counted(GetHost(), "Host name");
        request.Port(GetPort());
        FExpectedReplySize = static_cast<int32_t>(Socks5ReplyHeadSize);
        break;
    default:
        ARequest.clear();
        break;
    }
}

int32_t TixSocks5NetworkStream::GetReplySize()
{
    return FExpectedReplySize;
}

bool TixSocks5NetworkStream::ProcessReply(const TixByteArray& AReply)
{
    if (!HasReply(AReply, static_cast<size_t>(FExpectedReplySize)))
        return false;
    switch (GetState())
    {
    case ssInitial: return ProcessMethodReply(AReply);
    case ssAuthenticate: return ProcessAuthenticationReply(AReply);
    case ssConnect: return ProcessConnectReply(AReply);
    default: return true;
    }
}

bool TixSocks5NetworkStream::ProcessMethodReply(const TixByteArray& AReply)
{
    if (AReply[0] == Socks5Version && AReply[1] == MethodNoAuthentication)
        SetState(ssConnect);
    else if (AReply[0] == Socks5Version && AReply[1] == MethodUserPassword)
        SetState(ssAuthenticate);
    else
        RaiseSocksError("SOCKS error: No acceptable authentication methods", AReply[1]);
    SetNextAction(naWrite);
    return true;
}

bool TixSocks5NetworkStream::ProcessAuthenticationReply(const TixByteArray& AReply)
{
    if (AReply[0] != UserPasswordVersion || AReply[1] != 0)
        RaiseSocksError("SOCKS error: authentication failed", AReply[1]);
    SetState(ssConnect);
    SetNextAction(naWrite);
    return true;
}

bool TixSocks5NetworkStream::ProcessConnectReply(const TixByteArray& AReply)
{
    if (AReply[0] != Socks5Version || AReply[1] != 0)
        RaiseSocksError(Socks5ReplyText(AReply[1]), AReply[1]);
    // The reply ends with the bound address, whose size its type tells: take exactly the
    // reply, so that no byte of it reaches the inner stream and none of the server's first
    // bytes is lost.
    switch (AReply[3])
    {
    case AddressIPv4: FExpectedReplySize = 4 + 4 + 2; break;
    case AddressDomainName: FExpectedReplySize = 4 + 1 + AReply[4] + 2; break;
    case AddressIPv6: FExpectedReplySize = 4 + 16 + 2; break;
    default: RaiseSocksError("SOCKS error: Address type not supported", AReply[3]);
    }
    if (!HasReply(AReply, static_cast<size_t>(FExpectedReplySize)))
        return false;
    Grant();
    return true;
}

} // namespace ix
