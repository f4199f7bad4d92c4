#include "dns/ixDnsMessage.h"

#include "core/ixStreams.h"
#include "crypto/ixCryptAPI.h"
#include "crypto/ixCryptUtils.h"
#include "net/ixIpAddress.h"
#include "util/ixTranslator.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace ix {

namespace {

constexpr std::string_view NameCharSet = "us-ascii";
constexpr int32_t ServerFailure = 2;
/// Labels and names of RFC 1035 section 2.3.4; pointer jumps allowed in one name.
constexpr int32_t MaxLabelLength = 63;
constexpr int32_t MaxNameLength = 255;
constexpr int32_t MaxPointerJumps = 128;
constexpr int32_t MaxStringLength = 255;
constexpr uint16_t WireClasses[] = {1, 3, 4};

[[noreturn]] void RaiseUnusableValue()
{
    throw EixDnsError(ServerFailure);
}

// ---- Writing into a buffer of fixed size ---------------------------------------------------

void PutByte(std::span<uint8_t> ABytes, int32_t& AIndex, uint8_t AValue)
{
    if (AIndex < 0 || static_cast<size_t>(AIndex) >= ABytes.size())
        RaiseDnsSizeError();
    ABytes[static_cast<size_t>(AIndex++)] = AValue;
}

void PutBytes(std::span<uint8_t> ABytes, int32_t& AIndex, std::span<const uint8_t> AValue)
{
    if (AIndex < 0 || static_cast<size_t>(AIndex) + AValue.size() > ABytes.size())
        RaiseDnsSizeError();
    std::copy(AValue.begin(), AValue.end(), ABytes.begin() + AIndex);
    AIndex += static_cast<int32_t>(AValue.size());
}

void PutWord(std::span<uint8_t> ABytes, int32_t& AIndex, uint32_t AValue)
{
    PutByte(ABytes, AIndex, static_cast<uint8_t>(AValue >> 8));
    PutByte(ABytes, AIndex, static_cast<uint8_t>(AValue));
}

void PutLong(std::span<uint8_t> ABytes, int32_t& AIndex, uint32_t AValue)
{
    PutWord(ABytes, AIndex, AValue >> 16);
    PutWord(ABytes, AIndex, AValue & 0xFFFF);
}

/// The labels of a dotted name (one trailing dot ignored; "" and "." are the root), each with
/// its length byte, and the terminating zero. An empty label, a label longer than 63 bytes or
/// a name longer than 255 bytes cannot be written: EixDnsError 2.
void PutName(std::span<uint8_t> ABytes, int32_t& AIndex, std::string_view AName)
{
    if (!AName.empty() && AName.back() == '.')
        AName.remove_suffix(1);
    int32_t length = 1;
    while (!AName.empty())
    {
        const size_t dot = AName.find('.');
        const TixByteArray label = TixTranslator::GetBytes(AName.substr(0, dot), NameCharSet);
        length += static_cast<int32_t>(label.size()) + 1;
        if (label.empty() || label.size() > MaxLabelLength || length > MaxNameLength)
            RaiseUnusableValue();
        PutByte(ABytes, AIndex, static_cast<uint8_t>(label.size()));
        PutBytes(ABytes, AIndex, label);
        AName = dot == std::string_view::npos ? std::string_view() : AName.substr(dot + 1);
        if (dot != std::string_view::npos && AName.empty())
            RaiseUnusableValue();
    }
    PutByte(ABytes, AIndex, 0);
}

void PutRequiredName(std::span<uint8_t> ABytes, int32_t& AIndex, const std::string& AName)
{
    if (AName.empty())
        RaiseUnusableValue();
    PutName(ABytes, AIndex, AName);
}

// ---- Reading from the received bytes ------------------------------------------------------

/// Raises -1 unless ACount bytes exist from AIndex.
void CheckAvailable(std::span<const uint8_t> ABytes, int32_t AIndex, int32_t ACount)
{
    if (AIndex < 0 || ACount < 0 || static_cast<size_t>(AIndex) + static_cast<size_t>(ACount) > ABytes.size())
        RaiseDnsSizeError();
}

uint8_t GetByte(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    CheckAvailable(ABytes, AIndex, 1);
    return ABytes[static_cast<size_t>(AIndex++)];
}

uint32_t GetWord(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    const uint32_t high = GetByte(ABytes, AIndex);
    return (high << 8) | GetByte(ABytes, AIndex);
}

uint32_t GetLong(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    const uint32_t high = GetWord(ABytes, AIndex);
    return (high << 16) | GetWord(ABytes, AIndex);
}

std::span<const uint8_t> GetBytes(std::span<const uint8_t> ABytes, int32_t& AIndex, int32_t ACount)
{
    CheckAvailable(ABytes, AIndex, ACount);
    const auto result = ABytes.subspan(static_cast<size_t>(AIndex), static_cast<size_t>(ACount));
    AIndex += ACount;
    return result;
}

/// A name at AIndex, following compression pointers (RFC 1035 section 4.1.4). A pointer must
/// point before the run of labels that holds it, so every chain ends; at most 128 jumps are
/// followed all the same. AIndex ends after the terminating zero, or after the first pointer.
std::string ReadName(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    std::string name;
    int32_t index = AIndex;
    int32_t runStart = AIndex;
    int32_t returnPoint = -1;
    int32_t jumps = 0;
    int32_t length = 1;
    for (;;)
    {
        CheckAvailable(ABytes, index, 1);
        uint8_t labelLength = ABytes[static_cast<size_t>(index)];
        while ((labelLength & 0xC0) == 0xC0)
        {
            CheckAvailable(ABytes, index, 2);
            const int32_t target = ((labelLength & 0x3F) << 8) | ABytes[static_cast<size_t>(index) + 1];
            if (target >= runStart || ++jumps > MaxPointerJumps)
                RaiseDnsSizeError();
            if (returnPoint < 0)
                returnPoint = index + 1;
            index = runStart = target;
            labelLength = ABytes[static_cast<size_t>(index)];
        }
        if (labelLength == 0)
            break;
        length += labelLength + 1;
        if (labelLength > MaxLabelLength || length > MaxNameLength)
            RaiseDnsSizeError();
        ++index;
        name += TixTranslator::GetString(GetBytes(ABytes, index, labelLength), NameCharSet);
        name += '.';
    }
    if (!name.empty())
        name.pop_back();
    AIndex = returnPoint < 0 ? index + 1 : returnPoint + 1;
    return name;
}

/// The end of a record's RDATA that starts at AIndex.
int32_t DataEnd(const TixDnsRecord& ARecord, int32_t AIndex)
{
    return AIndex + ARecord.GetDataLength();
}

TixDnsRecordClass ReadClass(uint32_t AWireValue)
{
    switch (AWireValue)
    {
    case 3: return rcCH;
    case 4: return rcHS;
    default: return rcIN;
    }
}

/// Text in pieces of at most 255 bytes (one piece for the empty text).
void SplitStrings(std::string_view AText, TStrings& AStrings)
{
    AStrings.Clear();
    do
    {
        AStrings.Add(std::string(AText.substr(0, MaxStringLength)));
        AText.remove_prefix(std::min<size_t>(AText.size(), MaxStringLength));
    } while (!AText.empty());
}

uint16_t RandomMessageId()
{
    const TixByteArray bytes = GenerateRandomBytes(2);
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

/// ASource as a T; null when it is of another class.
template <typename T>
const T* SourceOf(const TPersistent& ASource)
{
    return dynamic_cast<const T*>(&ASource);
}

} // namespace

// === Errors ===============================================================================

std::string GetDnsErrorText(int32_t ACode)
{
    switch (ACode)
    {
    case DnsErrorInvalidSize: return "The size of the datagram is invalid";
    case 1: return "Format error";
    case 2: return "Server failure";
    case 3: return "No such name";
    case 4: return "Not implemented";
    case 5: return "Refused";
    default: return "Unspecified error";
    }
}

EixDnsError::EixDnsError(int32_t AResponseCode)
    : EixSocketError(GetDnsErrorText(AResponseCode), AResponseCode)
{
}

void RaiseDnsSizeError()
{
    throw EixDnsError(DnsErrorInvalidSize);
}

// === TixDnsMessageHeader ==================================================================

TixDnsMessageHeader::TixDnsMessageHeader()
{
    Clear();
}

void TixDnsMessageHeader::Clear()
{
    FIsRecursionAvailable = FIsAuthoritativeAnswer = FIsQuery = FIsRecursionDesired = FIsTruncated = false;
    FResponseCode = 0;
    FOpCode = 0;
    FAnswerCount = FQueryCount = FNameServerCount = FAdditionalCount = 0;
    FID = RandomMessageId();
}

void TixDnsMessageHeader::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixDnsMessageHeader>(ASource);
    if (source == nullptr)
        return;
    FIsRecursionAvailable = source->FIsRecursionAvailable;
    FIsAuthoritativeAnswer = source->FIsAuthoritativeAnswer;
    FIsQuery = source->FIsQuery;
    FIsRecursionDesired = source->FIsRecursionDesired;
    FIsTruncated = source->FIsTruncated;
    FResponseCode = source->FResponseCode;
    FOpCode = source->FOpCode;
    FID = source->FID;
    FAnswerCount = source->FAnswerCount;
    FQueryCount = source->FQueryCount;
    FNameServerCount = source->FNameServerCount;
    FAdditionalCount = source->FAdditionalCount;
}

// === TixDnsRecord =========================================================================

void TixDnsRecord::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixDnsRecord>(ASource);
    if (source == nullptr)
        return;
    FName = source->FName;
    FRecordType = source->FRecordType;
    FRecordClass = source->FRecordClass;
    FTTL = source->FTTL;
    FDataLength = source->FDataLength;
}

void TixDnsRecord::WriteData(std::span<uint8_t>, int32_t&) const {}

void TixDnsRecord::ReadData(std::span<const uint8_t>, int32_t&) {}

std::unique_ptr<TixDnsRecord> TixDnsRecord::CreateInstance() const
{
    return std::make_unique<TixDnsRecord>();
}

// === Record classes =======================================================================

TixDnsARecord::TixDnsARecord()
{
    SetRecordType(DnsTypeA);
}

void TixDnsARecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsARecord>(ASource))
        FIPAddress = source->FIPAddress;
}

void TixDnsARecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    if (FIPAddress.empty() || std::count(FIPAddress.begin(), FIPAddress.end(), '.') != 3)
        RaiseUnusableValue();
    std::string_view rest = FIPAddress;
    for (int32_t i = 0; i < 4; ++i)
    {
        const size_t dot = rest.find('.');
        const int32_t value = StrToInt(rest.substr(0, dot));
        if (value < 0 || value > 255)
            RaiseUnusableValue();
        PutByte(ABytes, AIndex, static_cast<uint8_t>(value));
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    }
}

void TixDnsARecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FIPAddress = IPv4BytesToText(GetBytes(ABytes, AIndex, 4).data());
}

std::unique_ptr<TixDnsRecord> TixDnsARecord::CreateInstance() const
{
    return std::make_unique<TixDnsARecord>();
}

TixDnsNSRecord::TixDnsNSRecord()
{
    SetRecordType(DnsTypeNS);
}

void TixDnsNSRecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsNSRecord>(ASource))
        FNameServer = source->FNameServer;
}

void TixDnsNSRecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    PutRequiredName(ABytes, AIndex, FNameServer);
}

void TixDnsNSRecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FNameServer = ReadName(ABytes, AIndex);
}

std::unique_ptr<TixDnsRecord> TixDnsNSRecord::CreateInstance() const
{
    return std::make_unique<TixDnsNSRecord>();
}

TixDnsCNAMERecord::TixDnsCNAMERecord()
{
    SetRecordType(DnsTypeCNAME);
}

void TixDnsCNAMERecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsCNAMERecord>(ASource))
        FPrimaryName = source->FPrimaryName;
}

void TixDnsCNAMERecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    PutRequiredName(ABytes, AIndex, FPrimaryName);
}

void TixDnsCNAMERecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FPrimaryName = ReadName(ABytes, AIndex);
}

std::unique_ptr<TixDnsRecord> TixDnsCNAMERecord::CreateInstance() const
{
    return std::make_unique<TixDnsCNAMERecord>();
}

TixDnsSOARecord::TixDnsSOARecord()
{
    SetRecordType(DnsTypeSOA);
}

void TixDnsSOARecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsSOARecord>(ASource))
    {
        FExpirationLimit = source->FExpirationLimit;
        FMinimumTTL = source->FMinimumTTL;
        FRetryInterval = source->FRetryInterval;
        FSerialNumber = source->FSerialNumber;
        FRefreshInterval = source->FRefreshInterval;
        FResponsibleMailbox = source->FResponsibleMailbox;
        FPrimaryNameServer = source->FPrimaryNameServer;
    }
}

void TixDnsSOARecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    PutName(ABytes, AIndex, FPrimaryNameServer);
    PutName(ABytes, AIndex, FResponsibleMailbox);
    for (const uint32_t value : {FSerialNumber, FRefreshInterval, FRetryInterval, FExpirationLimit, FMinimumTTL})
        PutLong(ABytes, AIndex, value);
}

void TixDnsSOARecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FPrimaryNameServer = ReadName(ABytes, AIndex);
    FResponsibleMailbox = ReadName(ABytes, AIndex);
    for (uint32_t* value : {&FSerialNumber, &FRefreshInterval, &FRetryInterval, &FExpirationLimit, &FMinimumTTL})
        *value = GetLong(ABytes, AIndex);
}

std::unique_ptr<TixDnsRecord> TixDnsSOARecord::CreateInstance() const
{
    return std::make_unique<TixDnsSOARecord>();
}

TixDnsPTRRecord::TixDnsPTRRecord()
{
    SetRecordType(DnsTypePTR);
}

void TixDnsPTRRecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsPTRRecord>(ASource))
        FDomainName = source->FDomainName;
}

void TixDnsPTRRecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    PutRequiredName(ABytes, AIndex, FDomainName);
}

void TixDnsPTRRecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FDomainName = ReadName(ABytes, AIndex);
}

std::unique_ptr<TixDnsRecord> TixDnsPTRRecord::CreateInstance() const
{
    return std::make_unique<TixDnsPTRRecord>();
}

TixDnsMXRecord::TixDnsMXRecord()
{
    SetRecordType(DnsTypeMX);
}

void TixDnsMXRecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsMXRecord>(ASource))
    {
        FPreference = source->FPreference;
        FMailServer = source->FMailServer;
    }
}

void TixDnsMXRecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    PutWord(ABytes, AIndex, static_cast<uint32_t>(FPreference) & 0xFFFF);
    PutRequiredName(ABytes, AIndex, FMailServer);
}

void TixDnsMXRecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    FPreference = static_cast<int32_t>(GetWord(ABytes, AIndex));
    FMailServer = ReadName(ABytes, AIndex);
}

std::unique_ptr<TixDnsRecord> TixDnsMXRecord::CreateInstance() const
{
    return std::make_unique<TixDnsMXRecord>();
}

TixDnsTXTRecord::TixDnsTXTRecord()
{
    SetRecordType(DnsTypeTXT);
}

void TixDnsTXTRecord::SetText(const std::string& AValue)
{
    FText = AValue;
    SplitStrings(FText, FStrings);
}

void TixDnsTXTRecord::SetStrings(const TStrings& AValue)
{
    FStrings.Assign(AValue);
    FText = FStrings.Join("");
}

void TixDnsTXTRecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsTXTRecord>(ASource))
    {
        FText = source->FText;
        FStrings.Assign(source->FStrings);
    }
}

void TixDnsTXTRecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    if (FText.empty())
        RaiseUnusableValue();
    TStringList pieces;
    for (int32_t i = 0; i < FStrings.Count(); ++i)
    {
        SplitStrings(FStrings[i], pieces);
        for (int32_t j = 0; j < pieces.Count(); ++j)
        {
            const TixByteArray bytes = TixTranslator::GetBytes(pieces[j], NameCharSet);
            PutByte(ABytes, AIndex, static_cast<uint8_t>(bytes.size()));
            PutBytes(ABytes, AIndex, bytes);
        }
    }
}

void TixDnsTXTRecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    const int32_t end = DataEnd(*this, AIndex);
    FStrings.Clear();
    while (AIndex < end)
    {
        const int32_t length = GetByte(ABytes, AIndex);
        if (AIndex + length > end)
            RaiseDnsSizeError();
        FStrings.Add(TixTranslator::GetString(GetBytes(ABytes, AIndex, length), NameCharSet));
    }
    FText = FStrings.Join("");
}

std::unique_ptr<TixDnsRecord> TixDnsTXTRecord::CreateInstance() const
{
    return std::make_unique<TixDnsTXTRecord>();
}

TixDnsAAAARecord::TixDnsAAAARecord()
{
    SetRecordType(DnsTypeAAAA);
}

void TixDnsAAAARecord::Assign(const TPersistent& ASource)
{
    TixDnsRecord::Assign(ASource);
    if (const auto* source = SourceOf<TixDnsAAAARecord>(ASource))
        FIPv6Address = source->FIPv6Address;
}

void TixDnsAAAARecord::WriteData(std::span<uint8_t> ABytes, int32_t& AIndex) const
{
    TixIPAddress6 address;
    if (!address.Parse(FIPv6Address) || address.GetFamily() != os::AF_INET6)
        RaiseUnusableValue();
    const auto* socketAddress = reinterpret_cast<const os::SOCKADDR_IN6*>(address.GetSockAddr());
    PutBytes(ABytes, AIndex, socketAddress->sin6_addr.u.Byte);
}

void TixDnsAAAARecord::ReadData(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    os::IN6_ADDR address{};
    const auto bytes = GetBytes(ABytes, AIndex, sizeof address.u.Byte);
    std::copy(bytes.begin(), bytes.end(), address.u.Byte);
    FIPv6Address = IPv6ToText(address);
}

std::unique_ptr<TixDnsRecord> TixDnsAAAARecord::CreateInstance() const
{
    return std::make_unique<TixDnsAAAARecord>();
}

// === TixDnsRecordList =====================================================================

TixDnsRecord* TixDnsRecordList::Add(std::unique_ptr<TixDnsRecord> ARecord)
{
    FItems.push_back(std::move(ARecord));
    return FItems.back().get();
}

TixDnsRecord* TixDnsRecordList::GetItems(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return FItems[static_cast<size_t>(AIndex)].get();
}

TixDnsRecord* TixDnsRecordList::FindItem(const std::string& AName, int32_t AType) const
{
    for (const auto& item : FItems)
        if (item->GetRecordType() == AType && SameText(item->GetName(), AName))
            return item.get();
    return nullptr;
}

void TixDnsRecordList::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixDnsRecordList>(ASource);
    if (source == nullptr || source == this)
        return;
    Clear();
    for (const auto& item : source->FItems)
    {
        std::unique_ptr<TixDnsRecord> copy = item->CreateInstance();
        copy->Assign(*item);
        Add(std::move(copy));
    }
}

// === TixDnsMessage ========================================================================

void TixDnsMessage::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixDnsMessage>(ASource);
    if (source == nullptr || source == this)
        return;
    Clear();
    FHeader.Assign(source->FHeader);
    FNameServers.Assign(source->FNameServers);
    FAnswers.Assign(source->FAnswers);
    FQueries.Assign(source->FQueries);
    FAdditionalRecords.Assign(source->FAdditionalRecords);
}

std::unique_ptr<TixDnsRecord> TixDnsMessage::CreateRecord(int32_t AType) const
{
    std::unique_ptr<TixDnsRecord> result;
    switch (AType)
    {
    case DnsTypeA: return std::make_unique<TixDnsARecord>();
    case DnsTypeNS: return std::make_unique<TixDnsNSRecord>();
    case DnsTypeCNAME: return std::make_unique<TixDnsCNAMERecord>();
    case DnsTypeSOA: return std::make_unique<TixDnsSOARecord>();
    case DnsTypePTR: return std::make_unique<TixDnsPTRRecord>();
    case DnsTypeMX: return std::make_unique<TixDnsMXRecord>();
    case DnsTypeTXT: return std::make_unique<TixDnsTXTRecord>();
    case DnsTypeAAAA: return std::make_unique<TixDnsAAAARecord>();
    default:
        result = std::make_unique<TixDnsRecord>();
        result->SetRecordType(AType);
        return result;
    }
}

void TixDnsMessage::Clear()
{
    FHeader.Clear();
    FNameServers.Clear();
    FAnswers.Clear();
    FQueries.Clear();
    FAdditionalRecords.Clear();
}

namespace {

void PutRecordHead(std::span<uint8_t> ABytes, int32_t& AIndex, const TixDnsRecord& ARecord)
{
    PutName(ABytes, AIndex, ARecord.GetName());
    PutWord(ABytes, AIndex, static_cast<uint32_t>(ARecord.GetRecordType()) & 0xFFFF);
    PutWord(ABytes, AIndex, WireClasses[std::min<size_t>(ARecord.GetRecordClass(), 2)]);
}

uint32_t FlagsOf(const TixDnsMessageHeader& AHeader)
{
    uint32_t flags = AHeader.GetIsQuery() ? 0 : 0x8000;
    if (AHeader.GetOpCode() == 1)
        flags |= 0x0800;
    else if (AHeader.GetOpCode() == 2)
        flags |= 0x1000;
    if (AHeader.GetIsAuthoritativeAnswer())
        flags |= 0x0400;
    if (AHeader.GetIsTruncated())
        flags |= 0x0200;
    if (AHeader.GetIsRecursionDesired())
        flags |= 0x0100;
    if (AHeader.GetIsRecursionAvailable())
        flags |= 0x0080;
    return flags | (static_cast<uint32_t>(AHeader.GetResponseCode()) & 15);
}

void TakeFlags(TixDnsMessageHeader& AHeader, uint32_t AFlags)
{
    AHeader.SetIsQuery(AFlags < 0x8000);
    const uint32_t opCode = AFlags & 0x1800;
    AHeader.SetOpCode(opCode == 0x0800 ? 1 : opCode == 0x1000 ? 2 : 0);
    AHeader.SetIsAuthoritativeAnswer((AFlags & 0x0400) != 0);
    AHeader.SetIsTruncated((AFlags & 0x0200) != 0);
    AHeader.SetIsRecursionDesired((AFlags & 0x0100) != 0);
    AHeader.SetIsRecursionAvailable((AFlags & 0x0080) != 0);
    AHeader.SetResponseCode(static_cast<int32_t>(AFlags & 15));
}

} // namespace

void TixDnsMessage::Build(TStream& AStream, int32_t ABufferSize)
{
    FHeader.SetQueryCount(FQueries.Count());
    FHeader.SetAnswerCount(FAnswers.Count());
    FHeader.SetNameServerCount(FNameServers.Count());
    FHeader.SetAdditionalCount(FAdditionalRecords.Count());
    TixByteArray buffer(static_cast<size_t>(ABufferSize == 0 ? DefaultBufferSize : std::max(ABufferSize, 0)));
    int32_t index = 0;
    PutWord(buffer, index, static_cast<uint32_t>(FHeader.GetID()) & 0xFFFF);
    PutWord(buffer, index, FlagsOf(FHeader));
    for (const int32_t count : {FHeader.GetQueryCount(), FHeader.GetAnswerCount(), FHeader.GetNameServerCount(),
             FHeader.GetAdditionalCount()})
        PutWord(buffer, index, static_cast<uint32_t>(count) & 0xFFFF);
    for (int32_t i = 0; i < FQueries.Count(); ++i)
        PutRecordHead(buffer, index, *FQueries[i]);
    for (const TixDnsRecordList* section : {&FAnswers, &FNameServers, &FAdditionalRecords})
        for (int32_t i = 0; i < section->Count(); ++i)
        {
            TixDnsRecord& record = *(*section)[i];
            PutRecordHead(buffer, index, record);
            PutLong(buffer, index, record.GetTTL());
            int32_t lengthIndex = index;
            PutWord(buffer, index, 0);
            const int32_t start = index;
            record.WriteData(buffer, index);
            record.SetDataLength(index - start);
            PutWord(buffer, lengthIndex, static_cast<uint32_t>(record.GetDataLength()));
        }
    AStream.WriteBuffer(buffer.data(), index);
}

void TixDnsMessage::Parse(TStream& AStream)
{
    TixByteArray bytes(static_cast<size_t>(std::max<int64_t>(AStream.Remaining(), 0)));
    if (!bytes.empty())
        AStream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    Parse(bytes);
}

void TixDnsMessage::Parse(std::span<const uint8_t> ABytes)
{
    Clear();
    if (ABytes.empty())
        return;
    int32_t index = 0;
    FHeader.SetID(static_cast<int32_t>(GetWord(ABytes, index)));
    TakeFlags(FHeader, GetWord(ABytes, index));
    FHeader.SetQueryCount(static_cast<int32_t>(GetWord(ABytes, index)));
    FHeader.SetAnswerCount(static_cast<int32_t>(GetWord(ABytes, index)));
    FHeader.SetNameServerCount(static_cast<int32_t>(GetWord(ABytes, index)));
    FHeader.SetAdditionalCount(static_cast<int32_t>(GetWord(ABytes, index)));

    const auto readHead = [&](TixDnsRecordList& AList) {
        const std::string name = ReadName(ABytes, index);
        const auto type = static_cast<int32_t>(GetWord(ABytes, index));
        TixDnsRecord* record = AList.Add(CreateRecord(type));
        record->SetName(name);
        record->SetRecordType(type);
        record->SetRecordClass(ReadClass(GetWord(ABytes, index)));
        return record;
    };
    for (int32_t i = 0; i < FHeader.GetQueryCount(); ++i)
        readHead(FQueries);
    const std::pair<TixDnsRecordList*, int32_t> sections[] = {{&FAnswers, FHeader.GetAnswerCount()},
        {&FNameServers, FHeader.GetNameServerCount()}, {&FAdditionalRecords, FHeader.GetAdditionalCount()}};
    for (const auto& [list, count] : sections)
        for (int32_t i = 0; i < count; ++i)
        {
            TixDnsRecord* record = readHead(*list);
            record->SetTTL(GetLong(ABytes, index));
            record->SetDataLength(static_cast<int32_t>(GetWord(ABytes, index)));
            const int32_t start = index;
            const int32_t end = DataEnd(*record, start);
            CheckAvailable(ABytes, start, record->GetDataLength());
            index = end;
            int32_t dataIndex = start;
            record->ReadData(ABytes, dataIndex);
            if (dataIndex > end)
                RaiseDnsSizeError();
        }
    if (FHeader.GetResponseCode() != 0)
        throw EixDnsError(FHeader.GetResponseCode());
}

} // namespace ix
