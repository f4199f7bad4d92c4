#include "dns/ixDnsQuery.h"
#include "core/ixProperties.h"

#include "core/ixStreams.h"
#include "dns/ixUdpClient.h"
#include "message/ixIdnTranslator.h"
#include "net/ixIpAddress.h"
#include "platform/ixOsKernel.h"
#include "tls/ixTcpClientTls.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>

namespace ix {

namespace {

constexpr const char* ResolverConfigVariable = "IX_RESOLV_CONF";
constexpr const char* DefaultResolverConfig = "/etc/resolv.conf";
/// The two-byte length in front of every DNS message over TCP (RFC 1035 section 4.2.2).
constexpr int32_t TcpLengthSize = 2;

std::string WithoutTrailingDot(const std::string& AName)
{
    return !AName.empty() && AName.back() == '.' ? AName.substr(0, AName.size() - 1) : AName;
}

/// True when AReply answers AQuery: a response with AQuery's ID that repeats its questions
/// (names without regard to ASCII letter case, types and classes).
bool IsReplyTo(const TixDnsMessage& AQuery, const TixDnsMessage& AReply)
{
    const TixDnsRecordList& asked = AQuery.GetQueries();
    const TixDnsRecordList& repeated = AReply.GetQueries();
    if (AReply.GetHeader().GetIsQuery() || (AReply.GetHeader().GetID() & 0xFFFF) != (AQuery.GetHeader().GetID() & 0xFFFF)
        || asked.Count() != repeated.Count())
        return false;
    for (int32_t i = 0; i < asked.Count(); ++i)
        if (asked[i]->GetRecordType() != repeated[i]->GetRecordType()
            || asked[i]->GetRecordClass() != repeated[i]->GetRecordClass()
            || !SameText(WithoutTrailingDot(asked[i]->GetName()), repeated[i]->GetName()))
            return false;
    return true;
}

/// The canonical text of a numeric address (as the receive side writes a sender's address).
std::string CanonicalAddress(const std::string& AAddress)
{
    return TixIPAddress::CreateIpAddress(AAddress)->GetText();
}

/// Restores a connection's time-out when it goes out of scope.
class TTimeOutRestore
{
public:
    explicit TTimeOutRestore(TixSyncConnection& AConnection)
        : FConnection(AConnection), FTimeOut(AConnection.GetTimeOut())
    {
    }
    ~TTimeOutRestore() { FConnection.SetTimeOut(FTimeOut); }
    TTimeOutRestore(const TTimeOutRestore&) = delete;
    TTimeOutRestore& operator=(const TTimeOutRestore&) = delete;

private:
    TixSyncConnection& FConnection;
    int32_t FTimeOut;
};

/// Reads a length-prefixed message from AConnection into AReply until it is complete. A peer
/// that closes before the announced length has arrived, or announces an empty message, gives -1.
void ReadTcpReply(TixTcpClientConnection& AConnection, TMemoryStream& AReply)
{
    int64_t expected = -1;
    for (;;)
    {
        AConnection.ReadData(&AReply);
        if (expected < 0 && AReply.Size() >= TcpLengthSize)
        {
            expected = (AReply.Memory()[0] << 8 | AReply.Memory()[1]) + TcpLengthSize;
            if (expected == TcpLengthSize)
                RaiseDnsSizeError();
        }
        if (expected >= 0 && AReply.Size() >= expected)
            return;
        if (!AConnection.GetActive())
            RaiseDnsSizeError();
    }
}

} // namespace

// === TixHostList ==========================================================================

TixHostInfo* TixHostList::Add(std::unique_ptr<TixHostInfo> AItem)
{
    FItems.push_back(std::move(AItem));
    return FItems.back().get();
}

TixHostInfo* TixHostList::GetItems(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return FItems[static_cast<size_t>(AIndex)].get();
}

// === TixDnsQuery ==========================================================================

TixDnsQuery::TixDnsQuery(TComponent* AOwner)
    : TComponent(AOwner), FQuery(std::make_unique<TixDnsMessage>()), FResponse(std::make_unique<TixDnsMessage>())
{
}

TixDnsQuery::~TixDnsQuery()
{
    Destroying();
    FTcpClient.reset();
    FUdpClient.reset();
}

// ---- Properties --------------------------------------------------------------------------

template <typename T>
void TixDnsQuery::SetValue(T& AField, const T& AValue)
{
    if (AssignIfChanged(AField, AValue))
        Changed();
}

template <typename T>
void TixDnsQuery::SetTransportValue(T& AField, const T& AValue)
{
    if (AField == AValue)
        return;
    AField = AValue;
    ConfigureClients();
    Changed();
}

void TixDnsQuery::SetServer(const std::string& AValue)
{
    SetTransportValue(FServer, AValue);
}

void TixDnsQuery::SetPort(int32_t AValue)
{
    SetTransportValue(FPort, AValue);
}

void TixDnsQuery::SetBatchSize(int32_t AValue)
{
    SetTransportValue(FBatchSize, AValue);
}

void TixDnsQuery::SetProtocol(TixDnsProtocol AValue)
{
    SetValue(FProtocol, AValue);
}

void TixDnsQuery::SetIsRecursiveDesired(bool AValue)
{
    SetValue(FIsRecursiveDesired, AValue);
}

void TixDnsQuery::SetUseRecursiveQueries(bool AValue)
{
    SetValue(FUseRecursiveQueries, AValue);
}

void TixDnsQuery::SetMaxRecursiveQueries(int32_t AValue)
{
    SetValue(FMaxRecursiveQueries, AValue);
}

void TixDnsQuery::SetAutodetectServer(bool AValue)
{
    SetValue(FAutodetectServer, AValue);
}

void TixDnsQuery::SetUsePrimaryServer(bool AValue)
{
    SetValue(FUsePrimaryServer, AValue);
}

void TixDnsQuery::SetRootNameServers(const TStrings& AValue)
{
    FRootNameServers.Assign(AValue);
    Changed();
}

void TixDnsQuery::SetTranslateIDN(bool AValue)
{
    SetValue(FTranslateIDN, AValue);
}

void TixDnsQuery::SetTimeOut(int32_t AValue)
{
    SetTransportValue(FTimeOut, AValue);
}

void TixDnsQuery::SetBitsPerSec(int32_t AValue)
{
    SetTransportValue(FBitsPerSec, AValue);
}

void TixDnsQuery::SetUseIpV6(bool AValue)
{
    SetTransportValue(FUseIpV6, AValue);
}

void TixDnsQuery::SetLocalBinding(const std::string& AValue)
{
    SetTransportValue(FLocalBinding, AValue);
}

void TixDnsQuery::SetDisableGuiProcessing(bool AValue)
{
    SetTransportValue(FDisableGuiProcessing, AValue);
}

// ---- Transports --------------------------------------------------------------------------

std::unique_ptr<TixUdpClient> TixDnsQuery::CreateUdpClient()
{
    return std::make_unique<TixUdpClient>();
}

std::unique_ptr<TixTcpClientTls> TixDnsQuery::CreateTcpClient()
{
    return std::make_unique<TixTcpClientTls>();
}

TixUdpClient& TixDnsQuery::UdpClient()
{
    if (!FUdpClient)
    {
        FUdpClient = CreateUdpClient();
        ConfigureUdpClient();
    }
    return *FUdpClient;
}

TixTcpClientTls& TixDnsQuery::TcpClient()
{
    if (!FTcpClient)
    {
        FTcpClient = CreateTcpClient();
        ConfigureTcpClient();
    }
    return *FTcpClient;
}

void TixDnsQuery::ConfigureUdpClient()
{
    FUdpClient->SetServer(FServer);
    FUdpClient->SetPort(FPort);
    FUdpClient->SetDatagramSize(UdpDatagramSize);
    FUdpClient->SetTimeOut(FTimeOut);
    FUdpClient->SetBitsPerSec(FBitsPerSec);
    FUdpClient->SetUseIpV6(FUseIpV6);
    FUdpClient->SetLocalBinding(FLocalBinding);
    FUdpClient->SetDisableGuiProcessing(FDisableGuiProcessing);
    DoSetupUdpClient(FUdpClient.get());
}

void TixDnsQuery::ConfigureTcpClient()
{
    FTcpClient->SetServer(FServer);
    FTcpClient->SetPort(FPort);
    FTcpClient->SetBatchSize(FBatchSize);
    FTcpClient->SetTimeOut(FTimeOut);
    FTcpClient->SetBitsPerSec(FBitsPerSec);
    FTcpClient->SetUseIpV6(FUseIpV6);
    FTcpClient->SetLocalBinding(FLocalBinding);
    FTcpClient->SetDisableGuiProcessing(FDisableGuiProcessing);
    DoSetupTcpClient(FTcpClient.get());
}

void TixDnsQuery::ConfigureClients()
{
    if (FUdpClient)
        ConfigureUdpClient();
    if (FTcpClient)
        ConfigureTcpClient();
}

// ---- One exchange ------------------------------------------------------------------------

void TixDnsQuery::SendQuery(TixDnsMessage& AQuery, TixDnsMessage& AResponse)
{
    const auto closeClients = [this] {
        if (FUdpClient)
            FUdpClient->Close();
        if (FTcpClient)
            FTcpClient->Close();
    };
    try
    {
        if (FProtocol != dpUseTcp)
            ExchangeUdp(AQuery, AResponse);
        if (FProtocol == dpUseTcp || (FProtocol == dpAutodetect && AResponse.GetHeader().GetIsTruncated()))
            ExchangeTcp(AQuery, AResponse);
    }
    catch (...)
    {
        closeClients();
        throw;
    }
    closeClients();
}

void TixDnsQuery::ExchangeUdp(TixDnsMessage& AQuery, TixDnsMessage& AResponse)
{
    TixUdpClient& client = UdpClient();
    TMemoryStream request;
    AQuery.Build(request, 0);
    client.Open();
    request.SetPosition(0);
    client.SendPacket(&request);
    DoSendPacket(&request);

    TixUdpClientConnection& connection = client.GetConnection();
    const TTimeOutRestore restore(connection);
    const std::string serverAddress = CanonicalAddress(connection.GetNetworkStream()->GetPeerIP());
    const int32_t serverPort = connection.GetNetworkStream()->GetPeerPort();
    const os::ULONGLONG deadline = os::GetTickCount64() + static_cast<os::ULONGLONG>(std::max(FTimeOut, 0));
    for (;;)
    {
        if (FTimeOut > 0)
        {
            const os::ULONGLONG now = os::GetTickCount64();
            if (now >= deadline)
                RaiseSocketError(SocketErrorTimeout);
            connection.SetTimeOut(static_cast<int32_t>(deadline - now));
        }
        TMemoryStream reply;
        client.ReceivePacket(&reply);
        DoReceivePacket(&reply);
        const TixNetworkStream& sender = *connection.GetNetworkStream();
        if (sender.GetPeerPort() != serverPort || sender.GetPeerIP() != serverAddress)
            continue;
        try
        {
            AResponse.Parse(std::span<const uint8_t>(reply.Memory(), static_cast<size_t>(reply.Size())));
        }
        catch (const EixDnsError&)
        {
            if (IsReplyTo(AQuery, AResponse))
                throw;
            continue;
        }
        if (IsReplyTo(AQuery, AResponse))
            return;
    }
}

void TixDnsQuery::ExchangeTcp(TixDnsMessage& AQuery, TixDnsMessage& AResponse)
{
    TMemoryStream request;
    request.WriteBuffer("\0\0", TcpLengthSize);
    AQuery.Build(request, FBatchSize - TcpLengthSize);
    const int64_t length = request.Size() - TcpLengthSize;
    request.Memory()[0] = static_cast<uint8_t>(length >> 8);
    request.Memory()[1] = static_cast<uint8_t>(length);
    TixTcpClientTls& client = TcpClient();
    client.Open();
    request.SetPosition(0);
    client.GetConnection()->WriteData(&request);
    DoSendPacket(&request);

    TMemoryStream reply;
    ReadTcpReply(*client.GetConnection(), reply);
    DoReceivePacket(&reply);
    const size_t replyLength = static_cast<size_t>(reply.Memory()[0] << 8 | reply.Memory()[1]);
    AResponse.Parse(std::span<const uint8_t>(reply.Memory() + TcpLengthSize, replyLength));
}

// ---- Resolution --------------------------------------------------------------------------

void TixDnsQuery::InternalResolve(TixDnsMessage& AQuery, TixDnsMessage& AResponse, int32_t ADepth)
{
    if (ADepth > FMaxRecursiveQueries)
        return;
    SendQuery(AQuery, AResponse);
    if (!FUseRecursiveQueries || AResponse.GetAnswers().Count() > 0)
        return;
    std::string nameServer;
    const std::string server = FollowReferral(AResponse, nameServer);
    if (server.empty())
        return;
    SetServer(server);
    FHostInfo = std::make_unique<TixHostInfo>(server, nameServer);
    TixDnsMessage next;
    InternalResolve(AQuery, next, ADepth + 1);
    AResponse.Assign(next);
}

std::string TixDnsQuery::FollowReferral(const TixDnsMessage& AResponse, std::string& ANameServer)
{
    const TixDnsRecordList& authority = AResponse.GetNameServers();
    for (int32_t i = 0; i < authority.Count(); ++i)
    {
        const auto* record = dynamic_cast<const TixDnsNSRecord*>(authority[i]);
        if (record == nullptr)
            continue;
        ANameServer = record->GetNameServer();
        const auto* glue = dynamic_cast<const TixDnsARecord*>(
            AResponse.GetAdditionalRecords().FindItem(ANameServer, DnsTypeA));
        if (glue != nullptr)
            return glue->GetIPAddress();
        // Without glue the name server's own address is looked up, to a bounded depth: each
        // such lookup may meet referrals of its own.
        if (FReferralNesting >= FMaxRecursiveQueries)
            continue;
        TixDnsMessage query;
        TixDnsMessage reply;
        query.GetHeader().SetIsQuery(true);
        query.GetHeader().SetIsRecursionDesired(FIsRecursiveDesired);
        TixDnsRecord* question = query.GetQueries().Add(query.CreateRecord(DnsTypeA));
        question->SetName(ANameServer);
        SetServer("");
        ++FReferralNesting;
        try
        {
            Resolve(query, reply);
        }
        catch (const EixSocketError&)
        {
            // This name server is out of reach: the next one of the referral is tried.
        }
        --FReferralNesting;
        if (reply.GetAnswers().Count() > 0)
            if (const auto* address = dynamic_cast<const TixDnsARecord*>(reply.GetAnswers()[0]))
                return address->GetIPAddress();
    }
    return {};
}

void TixDnsQuery::Resolve(TixDnsMessage& AQuery, TixDnsMessage& AResponse)
{
    if (FAutodetectServer && FServer.empty() && FRootNameServers.IsEmpty())
        GetSystemNameServers(FRootNameServers);
    if (FServer.empty() && !FRootNameServers.IsEmpty())
    {
        ResolveWithRootServers(AQuery, AResponse);
        return;
    }
    const std::string server = FServer;
    try
    {
        InternalResolve(AQuery, AResponse, 0);
    }
    catch (...)
    {
        SetServer(server);
        throw;
    }
    SetServer(server);
}

void TixDnsQuery::ResolveWithRootServers(TixDnsMessage& AQuery, TixDnsMessage& AResponse)
{
    TStringList servers;
    servers.Assign(FRootNameServers);
    std::exception_ptr lastError;
    for (int32_t i = 0; i < servers.Count(); ++i)
    {
        SetServer(servers[i]);
        try
        {
            InternalResolve(AQuery, AResponse, 0);
            SetServer(servers[i]);
            return;
        }
        catch (const EixSocketError&)
        {
            lastError = std::current_exception();
            SetServer("");
        }
    }
    // No server answered: that is a failure, not an empty answer.
    if (lastError)
        std::rethrow_exception(lastError);
}

void TixDnsQuery::Clear()
{
    FQuery->Clear();
    FResponse->Clear();
    FHosts.Clear();
    FIPv6Hosts.Clear();
    FMailServers.Clear();
    FNameServerNames.Clear();
    FAliases.Clear();
    FHostInfo.reset();
}

void TixDnsQuery::Ask(const std::string& AHostName, int32_t ARecordType)
{
    Clear();
    FQuery->GetHeader().SetIsQuery(true);
    FQuery->GetHeader().SetIsRecursionDesired(FIsRecursiveDesired);
    TixDnsRecord* question = FQuery->GetQueries().Add(FQuery->CreateRecord(ARecordType));
    question->SetRecordClass(rcIN);
    question->SetName(FTranslateIDN ? TixIdnTranslator::EncodeDomain(AHostName) : AHostName);
    Resolve(*FQuery, *FResponse);
}

void TixDnsQuery::ResolveTXT(const std::string& AHostName, std::string& AText)
{
    Ask(AHostName, DnsTypeTXT);
    const TixDnsRecordList& additional = FResponse->GetAdditionalRecords();
    for (int32_t i = 0; i < additional.Count(); ++i)
    {
        if (const auto* host = dynamic_cast<const TixDnsARecord*>(additional[i]))
            FHosts.Add(std::make_unique<TixHostInfo>(host->GetIPAddress(), host->GetName()));
        else if (const auto* host6 = dynamic_cast<const TixDnsAAAARecord*>(additional[i]))
            FIPv6Hosts.Add(std::make_unique<TixHostInfo>(host6->GetIPv6Address(), host6->GetName()));
    }
    const TixDnsRecordList& authority = FResponse->GetNameServers();
    for (int32_t i = 0; i < authority.Count(); ++i)
        if (const auto* server = dynamic_cast<const TixDnsNSRecord*>(authority[i]))
            FNameServerNames.Add(server->GetNameServer());
    std::vector<std::string> texts;
    const TixDnsRecordList& answers = FResponse->GetAnswers();
    for (const TixDnsRecordList* section : {&answers, &additional})
        for (int32_t i = 0; i < section->Count(); ++i)
        {
            const TixDnsRecord* record = (*section)[i];
            if (record->GetRecordType() == DnsTypeCNAME)
                FAliases.Add(record->GetName());
            else if (const auto* txt = dynamic_cast<const TixDnsTXTRecord*>(record); txt && section != &additional)
                texts.push_back(txt->GetText());
        }
    if (texts.size() == 1)
    {
        AText = texts.front();
        return;
    }
    AText.clear();
    for (const std::string& text : texts)
        AText += (AText.empty() ? "" : ",") + QuoteString(text);
}

void TixDnsQuery::Lookup(const std::string& AHostName, int32_t ARecordType)
{
    Ask(AHostName, ARecordType);
    std::vector<const TixDnsMXRecord*> exchanges;
    const TixDnsRecordList& answers = FResponse->GetAnswers();
    for (int32_t i = 0; i < answers.Count(); ++i)
    {
        const TixDnsRecord* record = answers[i];
        if (const auto* host = dynamic_cast<const TixDnsARecord*>(record))
            FHosts.Add(std::make_unique<TixHostInfo>(host->GetIPAddress(), host->GetName()));
        else if (const auto* host6 = dynamic_cast<const TixDnsAAAARecord*>(record))
            FIPv6Hosts.Add(std::make_unique<TixHostInfo>(host6->GetIPv6Address(), host6->GetName()));
        else if (const auto* exchange = dynamic_cast<const TixDnsMXRecord*>(record))
            exchanges.push_back(exchange);
        else if (const auto* server = dynamic_cast<const TixDnsNSRecord*>(record))
            FNameServerNames.Add(server->GetNameServer());
        else if (record->GetRecordType() == DnsTypeCNAME)
            FAliases.Add(record->GetName());
    }
    std::stable_sort(exchanges.begin(), exchanges.end(),
        [](const TixDnsMXRecord* A, const TixDnsMXRecord* B) { return A->GetPreference() < B->GetPreference(); });
    for (const TixDnsMXRecord* exchange : exchanges)
    {
        const auto* address = dynamic_cast<const TixDnsARecord*>(
            FResponse->GetAdditionalRecords().FindItem(exchange->GetMailServer(), DnsTypeA));
        FMailServers.Add(std::make_unique<TixHostInfo>(address ? address->GetIPAddress() : std::string(),
            exchange->GetMailServer()));
    }
}

void TixDnsQuery::GetSystemNameServers(TStrings& AList)
{
    const char* path = std::getenv(ResolverConfigVariable);
    std::ifstream file(path != nullptr && *path != '\0' ? path : DefaultResolverConfig);
    std::string line;
    while (std::getline(file, line))
    {
        std::istringstream words(line);
        std::string keyword;
        std::string address;
        if (words >> keyword >> address && keyword == "nameserver" && AList.IndexOf(address) < 0)
            AList.Add(address);
    }
}

// ---- Notifications -----------------------------------------------------------------------

void TixDnsQuery::Changed()
{
    CallEvent(OnChanged, this);
}

void TixDnsQuery::DoReceivePacket(TStream* AData)
{
    CallEvent(OnReceivePacket, this, AData);
}

void TixDnsQuery::DoSendPacket(TStream* AData)
{
    CallEvent(OnSendPacket, this, AData);
}

void TixDnsQuery::DoSetupUdpClient(TixUdpClient* AClient)
{
    CallEvent(OnSetupUdpClient, this, AClient);
}

void TixDnsQuery::DoSetupTcpClient(TixTcpClientTls* AClient)
{
    CallEvent(OnSetupTcpClient, this, AClient);
}

const TPropertyTable& TixDnsQuery::GetPublishedProperties() const
{
    using C = TixDnsQuery;
    static const TPropertyTable table("TixDnsQuery", &TComponent::GetPublishedProperties(),
        {
            Published<&C::GetServer, &C::SetServer>("Server", ""),
            Published<&C::GetPort, &C::SetPort>("Port", DefaultPort),
            Published<&C::GetBatchSize, &C::SetBatchSize>("BatchSize", DefaultBatchSize),
            Published<&C::GetProtocol, &C::SetProtocol>("Protocol", dpAutodetect,
                {"dpAutodetect", "dpUseUdp", "dpUseTcp"}),
            Published<&C::GetIsRecursiveDesired, &C::SetIsRecursiveDesired>("IsRecursiveDesired", true),
            Published<&C::GetUseRecursiveQueries, &C::SetUseRecursiveQueries>("UseRecursiveQueries", false),
            Published<&C::GetMaxRecursiveQueries, &C::SetMaxRecursiveQueries>("MaxRecursiveQueries",
                DefaultMaxRecursiveQueries),
            Published<&C::GetAutodetectServer, &C::SetAutodetectServer>("AutodetectServer", true),
            Published<&C::GetUsePrimaryServer, &C::SetUsePrimaryServer>("UsePrimaryServer", false),
            Published<&C::GetRootNameServers, &C::SetRootNameServers>("RootNameServers", TValueNames{}),
            Published<&C::GetTranslateIDN, &C::SetTranslateIDN>("TranslateIDN", true),
            Published<&C::GetTimeOut, &C::SetTimeOut>("TimeOut", DefaultTimeOut),
            Published<&C::GetBitsPerSec, &C::SetBitsPerSec>("BitsPerSec", 0),
            Published<&C::GetUseIpV6, &C::SetUseIpV6>("UseIpV6", false),
            Published<&C::GetLocalBinding, &C::SetLocalBinding>("LocalBinding", ""),
            Published<&C::GetDisableGuiProcessing, &C::SetDisableGuiProcessing>("DisableGuiProcessing", false),
        });
    return table;
}

} // namespace ix
