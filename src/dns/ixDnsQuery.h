#pragma once
// The DNS query component: sends a question to a name server over UDP, TCP, or UDP with a
// repeat over TCP when the reply is truncated (RFC 1035 section 4.2, RFC 7766), can follow
// referrals itself, and collects the answers into result lists.
//
// The name server is Server when set; otherwise each of RootNameServers in turn, which
// AutodetectServer fills from the system's resolver configuration: the "nameserver" lines of
// /etc/resolv.conf (or of the file that the environment variable IX_RESOLV_CONF names), in
// order, without duplicates, scoped IPv6 addresses ("fe80::1%eth0") as written.
//
// Against off-path spoofing, every UDP query goes out from a fresh socket with a port the
// system chooses, carries a random ID from the system's cryptographic source, and accepts only
// a reply from the address and port it was sent to that carries that ID and repeats the
// question (name without regard to ASCII letter case, type and class). Any other datagram is
// dropped and the wait goes on for the rest of TimeOut.

#include "core/ixClasses.h"
#include "core/ixStrings.h"
#include "dns/ixDnsMessage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ix {

class TStream;
class TixUdpClient;
class TixTcpClientTls;

/// UDP with a repeat over TCP for a truncated reply, UDP only, or TCP only.
enum TixDnsProtocol : uint8_t { dpAutodetect, dpUseUdp, dpUseTcp };

/// Raw request or reply bytes.
using TixDnsPacketEvent = std::function<void(TObject* Sender, TStream* AData)>;
/// Lets the application adjust a transport client after the component has configured it.
using TixDnsSetupUdpClientEvent = std::function<void(TObject* Sender, TixUdpClient* AClient)>;
/// The same for the TCP client.
using TixDnsSetupTcpClientEvent = std::function<void(TObject* Sender, TixTcpClientTls* AClient)>;

/// A host: its address and its name.
class TixHostInfo : public TObject
{
public:
    /// A host with address AIPAddress (may be empty) and name AName.
    TixHostInfo(std::string AIPAddress, std::string AName)
        : FIPAddress(std::move(AIPAddress)), FName(std::move(AName))
    {
    }

    /// The address as text ("192.0.2.1", "2001:DB8::1"); empty when it is not known.
    const std::string& GetIPAddress() const noexcept { return FIPAddress; }
    /// The host's name (the owner name of its record).
    const std::string& GetName() const noexcept { return FName; }

private:
    std::string FIPAddress;
    std::string FName;
};

/// An ordered list that owns its hosts.
class TixHostList : public TObject
{
public:
    /// Appends AItem (owned from now on); returns it.
    TixHostInfo* Add(std::unique_ptr<TixHostInfo> AItem);
    /// Destroys every host.
    void Clear() noexcept { FItems.clear(); }
    /// The number of hosts.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Host AIndex; raises EListError outside 0..Count-1.
    TixHostInfo* GetItems(int32_t AIndex) const;
    /// Host AIndex, as GetItems.
    TixHostInfo* operator[](int32_t AIndex) const { return GetItems(AIndex); }

private:
    std::vector<std::unique_ptr<TixHostInfo>> FItems;
};

/// Mail exchanges, most preferred first.
class TixMailServerList : public TixHostList
{
};

/// Asks name servers and collects their answers.
class TixDnsQuery : public TComponent
{
public:
    /// Default of Port.
    static constexpr int32_t DefaultPort = 53;
    /// Default of BatchSize, in bytes.
    static constexpr int32_t DefaultBatchSize = 16384;
    /// Default of MaxRecursiveQueries.
    static constexpr int32_t DefaultMaxRecursiveQueries = 4;
    /// Default of TimeOut, in milliseconds.
    static constexpr int32_t DefaultTimeOut = 5000;
    /// The largest UDP message without EDNS (RFC 1035 section 4.2.1).
    static constexpr int32_t UdpDatagramSize = 512;

    /// A query component with the defaults, owned by AOwner when one is given; it makes its
    /// UDP and TCP clients when first needed.
    explicit TixDnsQuery(TComponent* AOwner = nullptr);
    /// Destroys the transport clients (closing them) and the messages.
    ~TixDnsQuery() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties. Setters store only a change and then call Changed; the
    // transport settings are passed on to the UDP and TCP clients that exist.

    /// Name server address; empty: RootNameServers.
    const std::string& GetServer() const noexcept { return FServer; }
    void SetServer(const std::string& AValue);
    /// Default 53.
    int32_t GetPort() const noexcept { return FPort; }
    void SetPort(int32_t AValue);
    /// TCP batch size (default 16384); TCP messages are built in BatchSize - 2 bytes.
    int32_t GetBatchSize() const noexcept { return FBatchSize; }
    void SetBatchSize(int32_t AValue);
    /// Default dpAutodetect.
    TixDnsProtocol GetProtocol() const noexcept { return FProtocol; }
    void SetProtocol(TixDnsProtocol AValue);
    /// The RD bit of the queries (default true).
    bool GetIsRecursiveDesired() const noexcept { return FIsRecursiveDesired; }
    void SetIsRecursiveDesired(bool AValue);
    /// Follow referrals here (default false).
    bool GetUseRecursiveQueries() const noexcept { return FUseRecursiveQueries; }
    void SetUseRecursiveQueries(bool AValue);
    /// Referral depth limit (default 4).
    int32_t GetMaxRecursiveQueries() const noexcept { return FMaxRecursiveQueries; }
    void SetMaxRecursiveQueries(int32_t AValue);
    /// Fill RootNameServers from the system's configuration when needed (default true).
    bool GetAutodetectServer() const noexcept { return FAutodetectServer; }
    void SetAutodetectServer(bool AValue);
    /// Stored only (default false).
    bool GetUsePrimaryServer() const noexcept { return FUsePrimaryServer; }
    void SetUsePrimaryServer(bool AValue);
    /// Servers tried in order when Server is empty; the setter copies AValue.
    const TStrings& GetRootNameServers() const noexcept { return FRootNameServers; }
    void SetRootNameServers(const TStrings& AValue);
    /// Ask for the IDNA (Punycode) form of the name (default true).
    bool GetTranslateIDN() const noexcept { return FTranslateIDN; }
    void SetTranslateIDN(bool AValue);
    /// Milliseconds an exchange may wait (default 5000).
    int32_t GetTimeOut() const noexcept { return FTimeOut; }
    void SetTimeOut(int32_t AValue);
    /// Throttling in bits per second; 0 or less: none.
    int32_t GetBitsPerSec() const noexcept { return FBitsPerSec; }
    void SetBitsPerSec(int32_t AValue);
    /// Prefer IPv6 addresses when resolving the server's name.
    bool GetUseIpV6() const noexcept { return FUseIpV6; }
    void SetUseIpV6(bool AValue);
    /// Local address to bind to; empty: none.
    const std::string& GetLocalBinding() const noexcept { return FLocalBinding; }
    void SetLocalBinding(const std::string& AValue);
    /// Stop dispatching window messages while waiting.
    bool GetDisableGuiProcessing() const noexcept { return FDisableGuiProcessing; }
    void SetDisableGuiProcessing(bool AValue);

    // ---- State and results

    /// The request of the last lookup.
    TixDnsMessage& GetQuery() noexcept { return *FQuery; }
    /// The reply of the last lookup.
    TixDnsMessage& GetResponse() noexcept { return *FResponse; }
    /// IPv4 hosts (address and record name).
    const TixHostList& GetHosts() const noexcept { return FHosts; }
    /// IPv6 hosts.
    const TixHostList& GetIPv6Hosts() const noexcept { return FIPv6Hosts; }
    /// Mail exchanges of an MX lookup, most preferred first (address from the additional
    /// section when the server gave one, else empty).
    const TixMailServerList& GetMailServers() const noexcept { return FMailServers; }
    /// Name servers of NS answers (Lookup) or of the authority section (ResolveTXT).
    const TStrings& GetNameServerNames() const noexcept { return FNameServerNames; }
    /// The owner names of CNAME answers: the aliases that led to the answer.
    const TStrings& GetAliases() const noexcept { return FAliases; }
    /// The name server that the last referral led to; null when none.
    const TixHostInfo* GetHostInfo() const noexcept { return FHostInfo.get(); }

    // ---- Operations

    /// Asks for the TXT records of AHostName. AText receives the text of the only TXT answer,
    /// or each answer's text in double quotes, joined with ","; empty when there is none. Hosts,
    /// IPv6Hosts (additional section), NameServerNames (authority) and Aliases (CNAME owners)
    /// are filled as well. Raises EixDnsError for a refused name (the response code), and the
    /// last server's error when no server answered.
    void ResolveTXT(const std::string& AHostName, std::string& AText);
    /// Asks for the records of type ARecordType of AHostName and fills the result lists from
    /// the answers: A to Hosts, AAAA to IPv6Hosts, MX to MailServers (most preferred first),
    /// NS to NameServerNames, CNAME owners to Aliases. Raises as ResolveTXT.
    void Lookup(const std::string& AHostName, int32_t ARecordType);
    /// Sends AQuery to the chosen server(s) and leaves the reply in AResponse. With Server set,
    /// Server is the same afterwards; otherwise each RootNameServers entry is tried in turn
    /// until one answers (Server then names it). Raises the error of the last server tried
    /// when none answered.
    void Resolve(TixDnsMessage& AQuery, TixDnsMessage& AResponse);
    /// Clears Query, Response and the result lists, and drops HostInfo.
    void Clear();

    /// Appends the name servers of the system's resolver configuration (see the top of this
    /// header) that AList does not hold yet; nothing when the file cannot be read.
    static void GetSystemNameServers(TStrings& AList);

    // ---- Events

    /// After a published property changed.
    TNotifyEvent OnChanged;
    /// Each reply as received: every UDP datagram (also one from another sender, which is then
    /// dropped), or a TCP message with its two-byte length prefix.
    TixDnsPacketEvent OnReceivePacket;
    /// Each request as sent (over TCP with its two-byte length prefix).
    TixDnsPacketEvent OnSendPacket;
    /// Each time the component has configured the UDP client from its settings.
    TixDnsSetupUdpClientEvent OnSetupUdpClient;
    /// Each time the component has configured the TCP client from its settings.
    TixDnsSetupTcpClientEvent OnSetupTcpClient;

protected:
    /// A new UDP client without owner.
    virtual std::unique_ptr<TixUdpClient> CreateUdpClient();
    /// A new TCP client (no TLS) without owner.
    virtual std::unique_ptr<TixTcpClientTls> CreateTcpClient();

    /// Fires OnChanged with this component as Sender.
    virtual void Changed();
    /// Fires OnReceivePacket with this component as Sender.
    virtual void DoReceivePacket(TStream* AData);
    /// Fires OnSendPacket with this component as Sender.
    virtual void DoSendPacket(TStream* AData);
    /// Fires OnSetupUdpClient with this component as Sender.
    virtual void DoSetupUdpClient(TixUdpClient* AClient);
    /// Fires OnSetupTcpClient with this component as Sender.
    virtual void DoSetupTcpClient(TixTcpClientTls* AClient);

    /// One request and its reply over the transport that Protocol chooses.
    void SendQuery(TixDnsMessage& AQuery, TixDnsMessage& AResponse);
    /// SendQuery, then referrals up to MaxRecursiveQueries deep when UseRecursiveQueries.
    void InternalResolve(TixDnsMessage& AQuery, TixDnsMessage& AResponse, int32_t ADepth);

private:
    template <typename T>
    void SetValue(T& AField, const T& AValue);
    template <typename T>
    void SetTransportValue(T& AField, const T& AValue);
    TixUdpClient& UdpClient();
    TixTcpClientTls& TcpClient();
    void ConfigureUdpClient();
    void ConfigureTcpClient();
    void ConfigureClients();
    /// Builds a one-question query for AHostName and resolves it.
    void Ask(const std::string& AHostName, int32_t ARecordType);
    void ExchangeUdp(TixDnsMessage& AQuery, TixDnsMessage& AResponse);
    void ExchangeTcp(TixDnsMessage& AQuery, TixDnsMessage& AResponse);
    /// The server of a referral in AResponse's authority section; empty when none was found.
    std::string FollowReferral(const TixDnsMessage& AResponse, std::string& ANameServer);
    void ResolveWithRootServers(TixDnsMessage& AQuery, TixDnsMessage& AResponse);

    std::string FServer;
    int32_t FPort = DefaultPort;
    int32_t FBatchSize = DefaultBatchSize;
    TixDnsProtocol FProtocol = dpAutodetect;
    bool FIsRecursiveDesired = true;
    bool FUseRecursiveQueries = false;
    int32_t FMaxRecursiveQueries = DefaultMaxRecursiveQueries;
    bool FAutodetectServer = true;
    bool FUsePrimaryServer = false;
    TStringList FRootNameServers;
    bool FTranslateIDN = true;
    int32_t FTimeOut = DefaultTimeOut;
    int32_t FBitsPerSec = 0;
    bool FUseIpV6 = false;
    std::string FLocalBinding;
    bool FDisableGuiProcessing = false;

    std::unique_ptr<TixDnsMessage> FQuery;
    std::unique_ptr<TixDnsMessage> FResponse;
    TixHostList FHosts;
    TixHostList FIPv6Hosts;
    TixMailServerList FMailServers;
    TStringList FNameServerNames;
    TStringList FAliases;
    std::unique_ptr<TixHostInfo> FHostInfo;
    std::unique_ptr<TixUdpClient> FUdpClient;
    std::unique_ptr<TixTcpClientTls> FTcpClient;
    /// Nested resolutions of referral name servers under way (bounded by MaxRecursiveQueries).
    int32_t FReferralNesting = 0;
};

} // namespace ix
