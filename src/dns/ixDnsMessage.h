#pragma once
// One DNS message (RFC 1035) as objects: a header, the question, answer, authority and
// additional sections, a record class per supported type (A, NS, CNAME, SOA, PTR, MX, TXT,
// AAAA) and a generic record for every other type, with the conversion to and from the wire.
//
// Messages are built without name compression, into a buffer of a fixed size (a message that
// does not fit raises -1 before anything is written out). Parsing follows compression pointers
// (RFC 1035 section 4.1.4) and never reads past the received bytes: a label, pointer, count or
// RDATA that runs past them, a pointer that does not point backwards, more than 128 pointer
// jumps in one name, a label longer than 63 bytes or a name longer than 255 bytes raises
// EixDnsError "The size of the datagram is invalid" (-1).
//
// TXT records keep every character-string of their RDATA: Text joins them without separator
// (RFC 7208 section 3.3, RFC 6376 section 3.6.2.2) and Strings holds them one by one.

#include "core/ixClasses.h"
#include "core/ixStrings.h"
#include "net/ixSocketUtils.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ix {

class TStream;

/// A failure of a DNS exchange: a DNS response code (1..5 and others) with its text, or the
/// library's own -1 "The size of the datagram is invalid" for malformed or oversized messages.
class EixDnsError : public EixSocketError
{
public:
    using EixSocketError::EixSocketError;
    /// The error of a DNS response code, with the text GetDnsErrorText gives for it.
    explicit EixDnsError(int32_t AResponseCode);
};

/// The library's own code of EixDnsError: "The size of the datagram is invalid".
inline constexpr int32_t DnsErrorInvalidSize = -1;

/// The text of a DNS response code: 1 "Format error", 2 "Server failure", 3 "No such name",
/// 4 "Not implemented", 5 "Refused", -1 "The size of the datagram is invalid", any other
/// "Unspecified error".
std::string GetDnsErrorText(int32_t ACode);

/// Raises EixDnsError "The size of the datagram is invalid" (-1).
[[noreturn]] void RaiseDnsSizeError();

/// The class of a record: Internet (wire 1), Chaos (3), Hesiod (4).
enum TixDnsRecordClass : uint8_t { rcIN, rcCH, rcHS };

// Record type codes of the record classes below.
/// A: an IPv4 address.
inline constexpr int32_t DnsTypeA = 1;
/// NS: an authoritative name server.
inline constexpr int32_t DnsTypeNS = 2;
/// CNAME: the canonical name of an alias.
inline constexpr int32_t DnsTypeCNAME = 5;
/// SOA: the start of a zone of authority.
inline constexpr int32_t DnsTypeSOA = 6;
/// PTR: a domain name pointer (reverse lookups).
inline constexpr int32_t DnsTypePTR = 12;
/// MX: a mail exchanger.
inline constexpr int32_t DnsTypeMX = 15;
/// TXT: text strings (DKIM keys).
inline constexpr int32_t DnsTypeTXT = 16;
/// AAAA: an IPv6 address (RFC 3596).
inline constexpr int32_t DnsTypeAAAA = 28;

/// The 12-byte header of a message.
class TixDnsMessageHeader : public TPersistent
{
public:
    /// Clears the header (a fresh random ID).
    TixDnsMessageHeader();

    /// RA: the server offers recursion.
    bool GetIsRecursionAvailable() const noexcept { return FIsRecursionAvailable; }
    void SetIsRecursionAvailable(bool AValue) noexcept { FIsRecursionAvailable = AValue; }
    /// AA: the answer comes from an authority for the name.
    bool GetIsAuthoritativeAnswer() const noexcept { return FIsAuthoritativeAnswer; }
    void SetIsAuthoritativeAnswer(bool AValue) noexcept { FIsAuthoritativeAnswer = AValue; }
    /// True when the QR bit is 0 (a query).
    bool GetIsQuery() const noexcept { return FIsQuery; }
    void SetIsQuery(bool AValue) noexcept { FIsQuery = AValue; }
    /// RD: the server is asked to recurse.
    bool GetIsRecursionDesired() const noexcept { return FIsRecursionDesired; }
    void SetIsRecursionDesired(bool AValue) noexcept { FIsRecursionDesired = AValue; }
    /// TC: the message was truncated to fit the transport.
    bool GetIsTruncated() const noexcept { return FIsTruncated; }
    void SetIsTruncated(bool AValue) noexcept { FIsTruncated = AValue; }
    /// RCODE (low 4 bits on the wire).
    int32_t GetResponseCode() const noexcept { return FResponseCode; }
    void SetResponseCode(int32_t AValue) noexcept { FResponseCode = AValue; }
    /// 0 query, 1 inverse query, 2 status.
    uint8_t GetOpCode() const noexcept { return FOpCode; }
    void SetOpCode(uint8_t AValue) noexcept { FOpCode = AValue; }
    /// The message ID (16 bits on the wire).
    int32_t GetID() const noexcept { return FID; }
    void SetID(int32_t AValue) noexcept { FID = AValue; }
    /// ANCOUNT, QDCOUNT, NSCOUNT, ARCOUNT.
    int32_t GetAnswerCount() const noexcept { return FAnswerCount; }
    void SetAnswerCount(int32_t AValue) noexcept { FAnswerCount = AValue; }
    /// QDCOUNT: the number of questions.
    int32_t GetQueryCount() const noexcept { return FQueryCount; }
    void SetQueryCount(int32_t AValue) noexcept { FQueryCount = AValue; }
    /// NSCOUNT: the number of authority records.
    int32_t GetNameServerCount() const noexcept { return FNameServerCount; }
    void SetNameServerCount(int32_t AValue) noexcept { FNameServerCount = AValue; }
    /// ARCOUNT: the number of additional records.
    int32_t GetAdditionalCount() const noexcept { return FAdditionalCount; }
    void SetAdditionalCount(int32_t AValue) noexcept { FAdditionalCount = AValue; }

    /// ID := 16 bits from the system's cryptographic random source (so that off-path senders
    /// cannot guess it); every other field false or 0. Raises EixCryptError when the source fails.
    void Clear();
    void Assign(const TPersistent& ASource) override;

private:
    bool FIsRecursionAvailable = false;
    bool FIsAuthoritativeAnswer = false;
    bool FIsQuery = false;
    bool FIsRecursionDesired = false;
    bool FIsTruncated = false;
    int32_t FResponseCode = 0;
    uint8_t FOpCode = 0;
    int32_t FID = 0;
    int32_t FAnswerCount = 0;
    int32_t FQueryCount = 0;
    int32_t FNameServerCount = 0;
    int32_t FAdditionalCount = 0;
};

/// A resource record (or a question: name, type and class only). As itself it is the generic
/// record of every type without a class of its own: its RDATA is skipped when parsed and
/// written empty when built.
class TixDnsRecord : public TPersistent
{
public:
    TixDnsRecord() = default;

    /// The class; rcIN by default.
    TixDnsRecordClass GetRecordClass() const noexcept { return FRecordClass; }
    void SetRecordClass(TixDnsRecordClass AValue) noexcept { FRecordClass = AValue; }
    /// The type code (16 bits on the wire).
    int32_t GetRecordType() const noexcept { return FRecordType; }
    void SetRecordType(int32_t AValue) noexcept { FRecordType = AValue; }
    /// The owner name, dotted, without a trailing dot.
    const std::string& GetName() const noexcept { return FName; }
    void SetName(const std::string& AValue) { FName = AValue; }
    /// Time to live in seconds (0 in a question).
    uint32_t GetTTL() const noexcept { return FTTL; }
    void SetTTL(uint32_t AValue) noexcept { FTTL = AValue; }
    /// RDLENGTH: set by Build and Parse.
    int32_t GetDataLength() const noexcept { return FDataLength; }
    void SetDataLength(int32_t AValue) noexcept { FDataLength = AValue; }

    /// Copies the header fields and, in each record class, its own fields.
    void Assign(const TPersistent& ASource) override;
    /// Writes the RDATA into ABytes from AIndex, which moves past it. Raises EixDnsError 2
    /// ("Server failure") for a missing or unusable value, -1 when ABytes is too small.
    virtual void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const;
    /// Reads the RDATA (DataLength bytes from AIndex) of the whole message ABytes; AIndex moves
    /// past what was read. Raises -1 for a read past ABytes.
    virtual void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex);
    /// A new record of this record's class with its default type (the virtual constructor).
    virtual std::unique_ptr<TixDnsRecord> CreateInstance() const;

private:
    TixDnsRecordClass FRecordClass = rcIN;
    int32_t FRecordType = 0;
    std::string FName;
    uint32_t FTTL = 0;
    int32_t FDataLength = 0;
};

/// A (1): an IPv4 address, four bytes.
class TixDnsARecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeA.
    TixDnsARecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// Dotted text ("192.0.2.1").
    const std::string& GetIPAddress() const noexcept { return FIPAddress; }
    void SetIPAddress(const std::string& AValue) { FIPAddress = AValue; }

private:
    std::string FIPAddress;
};

/// NS (2): an authoritative name server.
class TixDnsNSRecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeNS.
    TixDnsNSRecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// The name server's host name, dotted, without a trailing dot.
    const std::string& GetNameServer() const noexcept { return FNameServer; }
    void SetNameServer(const std::string& AValue) { FNameServer = AValue; }

private:
    std::string FNameServer;
};

/// CNAME (5): the canonical name of an alias.
class TixDnsCNAMERecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeCNAME.
    TixDnsCNAMERecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// The canonical name, dotted, without a trailing dot.
    const std::string& GetPrimaryName() const noexcept { return FPrimaryName; }
    void SetPrimaryName(const std::string& AValue) { FPrimaryName = AValue; }

private:
    std::string FPrimaryName;
};

/// SOA (6): the start of a zone of authority.
class TixDnsSOARecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeSOA.
    TixDnsSOARecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// EXPIRE.
    uint32_t GetExpirationLimit() const noexcept { return FExpirationLimit; }
    void SetExpirationLimit(uint32_t AValue) noexcept { FExpirationLimit = AValue; }
    /// MINIMUM.
    uint32_t GetMinimumTTL() const noexcept { return FMinimumTTL; }
    void SetMinimumTTL(uint32_t AValue) noexcept { FMinimumTTL = AValue; }
    /// RETRY.
    uint32_t GetRetryInterval() const noexcept { return FRetryInterval; }
    void SetRetryInterval(uint32_t AValue) noexcept { FRetryInterval = AValue; }
    /// SERIAL.
    uint32_t GetSerialNumber() const noexcept { return FSerialNumber; }
    void SetSerialNumber(uint32_t AValue) noexcept { FSerialNumber = AValue; }
    /// REFRESH.
    uint32_t GetRefreshInterval() const noexcept { return FRefreshInterval; }
    void SetRefreshInterval(uint32_t AValue) noexcept { FRefreshInterval = AValue; }
    /// RNAME.
    const std::string& GetResponsibleMailbox() const noexcept { return FResponsibleMailbox; }
    void SetResponsibleMailbox(const std::string& AValue) { FResponsibleMailbox = AValue; }
    /// MNAME.
    const std::string& GetPrimaryNameServer() const noexcept { return FPrimaryNameServer; }
    void SetPrimaryNameServer(const std::string& AValue) { FPrimaryNameServer = AValue; }

private:
    uint32_t FExpirationLimit = 0;
    uint32_t FMinimumTTL = 0;
    uint32_t FRetryInterval = 0;
    uint32_t FSerialNumber = 0;
    uint32_t FRefreshInterval = 0;
    std::string FResponsibleMailbox;
    std::string FPrimaryNameServer;
};

/// PTR (12): a domain name pointer.
class TixDnsPTRRecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypePTR.
    TixDnsPTRRecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// The name the address points to, dotted, without a trailing dot.
    const std::string& GetDomainName() const noexcept { return FDomainName; }
    void SetDomainName(const std::string& AValue) { FDomainName = AValue; }

private:
    std::string FDomainName;
};

/// MX (15): a mail exchange and its preference (lower is preferred).
class TixDnsMXRecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeMX.
    TixDnsMXRecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// PREFERENCE (16 bits on the wire).
    int32_t GetPreference() const noexcept { return FPreference; }
    void SetPreference(int32_t AValue) noexcept { FPreference = AValue; }
    /// EXCHANGE.
    const std::string& GetMailServer() const noexcept { return FMailServer; }
    void SetMailServer(const std::string& AValue) { FMailServer = AValue; }

private:
    int32_t FPreference = 0;
    std::string FMailServer;
};

/// TXT (16): one or more character-strings of at most 255 bytes each.
class TixDnsTXTRecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeTXT.
    TixDnsTXTRecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// Every character-string joined without separator.
    const std::string& GetText() const noexcept { return FText; }
    /// Sets Text; Strings become its pieces of at most 255 bytes.
    void SetText(const std::string& AValue);
    /// The character-strings one by one.
    const TStrings& GetStrings() const noexcept { return FStrings; }
    /// Sets the character-strings (each one longer than 255 bytes is written as several);
    /// Text becomes their join.
    void SetStrings(const TStrings& AValue);

private:
    std::string FText;
    TStringList FStrings;
};

/// AAAA (28): an IPv6 address, sixteen bytes.
class TixDnsAAAARecord : public TixDnsRecord
{
public:
    /// RecordType DnsTypeAAAA.
    TixDnsAAAARecord();

    void Assign(const TPersistent& ASource) override;
    void WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const override;
    void ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex) override;
    std::unique_ptr<TixDnsRecord> CreateInstance() const override;

    /// Canonical text ("2001:DB8::1", "::1").
    const std::string& GetIPv6Address() const noexcept { return FIPv6Address; }
    void SetIPv6Address(const std::string& AValue) { FIPv6Address = AValue; }

private:
    std::string FIPv6Address;
};

/// An ordered list that owns its records.
class TixDnsRecordList : public TPersistent
{
public:
    /// Appends ARecord (owned from now on); returns it.
    TixDnsRecord* Add(std::unique_ptr<TixDnsRecord> ARecord);
    /// Destroys every record.
    void Clear() noexcept { FItems.clear(); }
    /// The number of records.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Record AIndex; raises EListError outside 0..Count-1.
    TixDnsRecord* GetItems(int32_t AIndex) const;
    /// Record AIndex, as GetItems.
    TixDnsRecord* operator[](int32_t AIndex) const { return GetItems(AIndex); }
    /// The first record of type AType whose Name equals AName without regard to ASCII letter
    /// case; null when none.
    TixDnsRecord* FindItem(const std::string& AName, int32_t AType) const;
    /// Deep copy of another record list.
    void Assign(const TPersistent& ASource) override;

private:
    std::vector<std::unique_ptr<TixDnsRecord>> FItems;
};

/// A DNS message: header and four owned sections.
class TixDnsMessage : public TPersistent
{
public:
    /// The buffer size Build uses for 0: the largest UDP message of RFC 1035.
    static constexpr int32_t DefaultBufferSize = 512;

    TixDnsMessage() = default;

    /// The header (owned).
    TixDnsMessageHeader& GetHeader() noexcept { return FHeader; }
    /// The header (owned).
    const TixDnsMessageHeader& GetHeader() const noexcept { return FHeader; }
    /// The authority section.
    TixDnsRecordList& GetNameServers() noexcept { return FNameServers; }
    /// The authority section.
    const TixDnsRecordList& GetNameServers() const noexcept { return FNameServers; }
    /// The answer section.
    TixDnsRecordList& GetAnswers() noexcept { return FAnswers; }
    /// The answer section.
    const TixDnsRecordList& GetAnswers() const noexcept { return FAnswers; }
    /// The question section.
    TixDnsRecordList& GetQueries() noexcept { return FQueries; }
    /// The question section.
    const TixDnsRecordList& GetQueries() const noexcept { return FQueries; }
    /// The additional section.
    TixDnsRecordList& GetAdditionalRecords() noexcept { return FAdditionalRecords; }
    /// The additional section.
    const TixDnsRecordList& GetAdditionalRecords() const noexcept { return FAdditionalRecords; }

    /// Clears, then copies the header and the four sections of another message.
    void Assign(const TPersistent& ASource) override;
    /// A new record of the class for AType; the generic TixDnsRecord (with type AType) for a
    /// type without a class of its own.
    virtual std::unique_ptr<TixDnsRecord> CreateRecord(int32_t AType) const;

    /// Clears the header (a fresh ID) and the four sections.
    void Clear();
    /// Writes the message (counts taken from the sections, no name compression) to AStream at
    /// its position. It must fit ABufferSize bytes (0: 512); otherwise EixDnsError -1 is raised
    /// and nothing is written. A record without its data raises EixDnsError 2.
    void Build(TStream& AStream, int32_t ABufferSize);
    /// Reads a message from AStream's position to its end (nothing happens when there are no
    /// bytes). Raises EixDnsError -1 for malformed bytes, and the error of a non-zero response
    /// code once the whole message has been read (the content stays).
    void Parse(TStream& AStream);
    /// Parse from bytes.
    void Parse(std::span<const uint8_t> ABytes);

private:
    TixDnsMessageHeader FHeader;
    TixDnsRecordList FNameServers;
    TixDnsRecordList FAnswers;
    TixDnsRecordList FQueries;
    TixDnsRecordList FAdditionalRecords;
};

} // namespace ix
