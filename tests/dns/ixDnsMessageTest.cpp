// The DNS message: building (byte-exact, fitting the buffer, records without data), parsing
// with compression, and the bounds of parsing over malformed bytes.
#include "dns/ixDnsMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/ixStreams.h"
#include "support/ExpectError.h"
#include "util/ixUtils.h"

namespace ix {
namespace {

using test::ExpectError;

// ---- Wire pieces --------------------------------------------------------------------------

std::string Word(uint32_t AValue)
{
    return {static_cast<char>(AValue >> 8), static_cast<char>(AValue & 0xFF)};
}

/// A header with ID 0x1234 and the given flags and counts.
std::string Header(uint32_t AFlags, uint32_t AQuestions, uint32_t AAnswers, uint32_t AAuthority = 0, uint32_t AAdditional = 0)
{
    return Word(0x1234) + Word(AFlags) + Word(AQuestions) + Word(AAnswers) + Word(AAuthority) + Word(AAdditional);
}

std::string Pointer(uint32_t AOffset)
{
    return Word(0xC000 | AOffset);
}

/// A record after its owner name: type, class IN, TTL 300, RDLENGTH and RDATA.
std::string Record(uint32_t AType, const std::string& AData)
{
    return Word(AType) + Word(1) + Word(0) + Word(300) + Word(static_cast<uint32_t>(AData.size())) + AData;
}

/// The question "example.com" A IN right after the header (its name is at offset 12).
const std::string Question = std::string("\x07" "example" "\x03" "com", 13) + Word(1) + Word(1);

std::unique_ptr<TixDnsMessage> Parsed(const std::string& ABytes)
{
    auto message = std::make_unique<TixDnsMessage>();
    message->Parse(AsBytes(ABytes));
    return message;
}

std::string Built(TixDnsMessage& AMessage, int32_t ABufferSize = 0)
{
    TMemoryStream stream;
    AMessage.Build(stream, ABufferSize);
    return std::string(stream.View());
}

template <typename T>
const T& Answer(const TixDnsMessage& AMessage, int32_t AIndex = 0)
{
    const auto* record = dynamic_cast<const T*>(AMessage.GetAnswers()[AIndex]);
    EXPECT_NE(record, nullptr);
    return *record;
}

// ---- Building ------------------------------------------------------------------------------

TEST(DnsMessageBuild, ExampleQueryIsByteExact)
{
    TixDnsMessage query;
    query.GetHeader().SetID(0xBEEF);
    query.GetHeader().SetIsQuery(true);
    query.GetHeader().SetIsRecursionDesired(true);
    TixDnsRecord* question = query.GetQueries().Add(query.CreateRecord(DnsTypeA));
    question->SetName("example.com");
    const std::string expected = Word(0xBEEF) + Word(0x0100) + Word(1) + Word(0) + Word(0) + Word(0) + Question;
    EXPECT_EQ(Built(query), expected);
    // A buffer of exactly its size holds it; one byte less holds nothing.
    EXPECT_EQ(Built(query, static_cast<int32_t>(expected.size())), expected);
    TMemoryStream stream;
    EXPECT_EQ(ExpectError<EixDnsError>([&] { query.Build(stream, static_cast<int32_t>(expected.size()) - 1); }, -1),
        "The size of the datagram is invalid");
    EXPECT_EQ(stream.Size(), 0);
    // Without a size the buffer is a UDP datagram's.
    for (int i = 0; i < 20; ++i)
        query.GetQueries().Add(query.CreateRecord(DnsTypeTXT))->SetName("a-rather-long-label-for-padding.example.com");
    ExpectError<EixDnsError>([&] { Built(query); }, -1);
    EXPECT_NO_THROW(Built(query, 2048));
}

TEST(DnsMessageBuild, EveryRecordTypeComesBackFromItsWireForm)
{
    TixDnsMessage message;
    message.GetHeader().SetResponseCode(0);
    auto add = [&](int32_t AType, const std::string& AName) {
        TixDnsRecord* record = message.GetAnswers().Add(message.CreateRecord(AType));
        record->SetName(AName);
        record->SetTTL(3600);
        return record;
    };
    static_cast<TixDnsARecord*>(add(DnsTypeA, "a.test"))->SetIPAddress("192.0.2.1");
    static_cast<TixDnsAAAARecord*>(add(DnsTypeAAAA, "a.test"))->SetIPv6Address("2001:db8::1");
    static_cast<TixDnsNSRecord*>(add(DnsTypeNS, "test"))->SetNameServer("ns.test");
    static_cast<TixDnsCNAMERecord*>(add(DnsTypeCNAME, "b.test"))->SetPrimaryName("a.test");
    static_cast<TixDnsPTRRecord*>(add(DnsTypePTR, "1.2.0.192.in-addr.arpa"))->SetDomainName("a.test");
    auto* mx = static_cast<TixDnsMXRecord*>(add(DnsTypeMX, "test"));
    mx->SetPreference(10);
    mx->SetMailServer("mx.test");
    auto* soa = static_cast<TixDnsSOARecord*>(add(DnsTypeSOA, "test"));
    soa->SetPrimaryNameServer("ns.test");
    soa->SetResponsibleMailbox("hostmaster.test");
    soa->SetSerialNumber(2026120601);
    soa->SetRefreshInterval(7200);
    soa->SetRetryInterval(900);
    soa->SetExpirationLimit(1209600);
    soa->SetMinimumTTL(300);
    const std::string longText(600, 'k');
    static_cast<TixDnsTXTRecord*>(add(DnsTypeTXT, "t.test"))->SetText(longText);

    const auto parsed = Parsed(Built(message, 4096));
    const TixDnsMessage& copy = *parsed;
    ASSERT_EQ(copy.GetAnswers().Count(), 8);
    EXPECT_EQ(Answer<TixDnsARecord>(copy, 0).GetIPAddress(), "192.0.2.1");
    EXPECT_EQ(Answer<TixDnsAAAARecord>(copy, 1).GetIPv6Address(), "2001:DB8::1");
    EXPECT_EQ(Answer<TixDnsNSRecord>(copy, 2).GetNameServer(), "ns.test");
    EXPECT_EQ(Answer<TixDnsCNAMERecord>(copy, 3).GetPrimaryName(), "a.test");
    EXPECT_EQ(Answer<TixDnsPTRRecord>(copy, 4).GetDomainName(), "a.test");
    EXPECT_EQ(Answer<TixDnsMXRecord>(copy, 5).GetPreference(), 10);
    EXPECT_EQ(Answer<TixDnsMXRecord>(copy, 5).GetMailServer(), "mx.test");
    const auto& soaCopy = Answer<TixDnsSOARecord>(copy, 6);
    EXPECT_EQ(soaCopy.GetResponsibleMailbox(), "hostmaster.test");
    EXPECT_EQ(soaCopy.GetSerialNumber(), 2026120601u);
    EXPECT_EQ(soaCopy.GetExpirationLimit(), 1209600u);
    EXPECT_EQ(soaCopy.GetMinimumTTL(), 300u);
    // Text longer than 255 bytes goes out as several character-strings and comes back whole.
    const auto& txt = Answer<TixDnsTXTRecord>(copy, 7);
    EXPECT_EQ(txt.GetText(), longText);
    ASSERT_EQ(txt.GetStrings().Count(), 3);
    EXPECT_EQ(txt.GetStrings()[0].size(), 255u);
    EXPECT_EQ(txt.GetDataLength(), 603);
    EXPECT_EQ(copy.GetAnswers()[0]->GetTTL(), 3600u);
}

TEST(DnsMessageBuild, RecordsWithoutUsableDataAreServerFailures)
{
    const std::tuple<int32_t, std::string, std::string> cases[] = { // type, value, owner name
        {DnsTypeA, "", "a.test"},
        {DnsTypeA, "1.2.3", "a.test"},
        {DnsTypeA, "1.2.3.256", "a.test"},
        {DnsTypeAAAA, "not an address", "a.test"},
        {DnsTypeMX, "", "a.test"},
        {DnsTypeTXT, "", "a.test"},
        {DnsTypeNS, "ns.test", "empty..label"},
        {DnsTypeNS, "ns.test", std::string(64, 'l') + ".test"},
        {DnsTypeNS, std::string(200, 'a') + "." + std::string(60, 'b'), "a.test"},
    };
    for (const auto& [type, value, name] : cases)
    {
        TixDnsMessage message;
        TixDnsRecord* record = message.GetAnswers().Add(message.CreateRecord(type));
        record->SetName(name);
        if (auto* a = dynamic_cast<TixDnsARecord*>(record))
            a->SetIPAddress(value);
        else if (auto* aaaa = dynamic_cast<TixDnsAAAARecord*>(record))
            aaaa->SetIPv6Address(value);
        else if (auto* mx = dynamic_cast<TixDnsMXRecord*>(record))
            mx->SetMailServer(value);
        else if (auto* txt = dynamic_cast<TixDnsTXTRecord*>(record))
            txt->SetText(value);
        else if (auto* ns = dynamic_cast<TixDnsNSRecord*>(record))
            ns->SetNameServer(value);
        SCOPED_TRACE("type " + std::to_string(type) + " value '" + value + "' name '" + name + "'");
        EXPECT_EQ(ExpectError<EixDnsError>([&] { Built(message, 4096); }, 2), "Server failure");
    }
}

// ---- Parsing --------------------------------------------------------------------------------

TEST(DnsMessageParse, CompressedNamesAndRecordTypesAndFindingARecord)
{
    // Answers: a name that is only a pointer to the question's name; an MX whose exchange is
    // "mail" plus a pointer into the question; a TXT of two strings; an unknown type (33); an
    // AAAA of ::1; a record of the root name; a name that points at the exchange, so two jumps.
    std::string bytes = Header(0x8180, 1, 7) + Question
        + Pointer(12) + Record(DnsTypeA, std::string("\xC0\x00\x02\x01", 4))
        + Pointer(12) + Record(DnsTypeMX, Word(5) + "\x04mail" + Pointer(12))
        + Pointer(12) + Record(DnsTypeTXT, "\x05" "first" "\x06" "second")
        + Pointer(12) + Record(33, Word(0) + Word(0) + Word(25) + Pointer(12))
        + Pointer(12) + Record(DnsTypeAAAA, std::string(15, '\0') + "\x01")
        + std::string(1, '\0') + Record(DnsTypeNS, Pointer(12));
    bytes += Pointer(static_cast<uint32_t>(bytes.find("\x04mail"))) + Record(DnsTypeA, "\x01\x02\x03\x04");
    const auto parsed = Parsed(bytes);
    const TixDnsMessage& message = *parsed;
    EXPECT_EQ(message.GetHeader().GetID(), 0x1234);
    EXPECT_FALSE(message.GetHeader().GetIsQuery());
    EXPECT_TRUE(message.GetHeader().GetIsRecursionAvailable());
    ASSERT_EQ(message.GetAnswers().Count(), 7);
    EXPECT_EQ(Answer<TixDnsARecord>(message, 0).GetName(), "example.com");
    EXPECT_EQ(Answer<TixDnsARecord>(message, 0).GetIPAddress(), "192.0.2.1");
    EXPECT_EQ(Answer<TixDnsMXRecord>(message, 1).GetMailServer(), "mail.example.com");
    EXPECT_EQ(Answer<TixDnsTXTRecord>(message, 2).GetText(), "firstsecond");
    EXPECT_EQ(Answer<TixDnsTXTRecord>(message, 2).GetStrings().Count(), 2);
    const TixDnsRecord& generic = *message.GetAnswers()[3];
    EXPECT_EQ(typeid(generic), typeid(TixDnsRecord));
    EXPECT_EQ(generic.GetRecordType(), 33);
    EXPECT_EQ(generic.GetDataLength(), 8);
    EXPECT_EQ(Answer<TixDnsAAAARecord>(message, 4).GetIPv6Address(), "::1");
    EXPECT_EQ(Answer<TixDnsNSRecord>(message, 5).GetName(), "");
    EXPECT_EQ(Answer<TixDnsNSRecord>(message, 5).GetNameServer(), "example.com");
    EXPECT_EQ(Answer<TixDnsARecord>(message, 6).GetName(), "mail.example.com");
    EXPECT_EQ(Answer<TixDnsARecord>(message, 6).GetIPAddress(), "1.2.3.4");
    // Records are found by name without letter case, and by type.
    EXPECT_EQ(message.GetAnswers().FindItem("EXAMPLE.com", DnsTypeTXT), message.GetAnswers()[2]);
    EXPECT_EQ(message.GetAnswers().FindItem("example.com", DnsTypeSOA), nullptr);
}

TEST(DnsMessageParse, MalformedBytesAreRejectedWithoutReadingPastThemAndResponseCodesAfterTheWholeMessage)
{
    const std::string longName = [] {
        std::string name;
        for (int i = 0; i < 5; ++i)
            name += static_cast<char>(60) + std::string(60, 'n');
        return name + '\0';
    }();
    struct TCase
    {
        const char* What; // for a response code, its text
        std::string Bytes;
        int32_t Code = -1;
    };
    const TCase cases[] = {
        {"a header cut short", Header(0x8180, 1, 0).substr(0, 7)},
        {"a question count without questions", Header(0x8180, 2, 0) + Question},
        {"a label running past the end", Header(0x8180, 1, 0) + "\x07" "exa"},
        {"a name without its terminating zero", Header(0x8180, 1, 0) + "\x03" "com"},
        {"a pointer cut in half", Header(0x8180, 1, 0) + "\xC0"},
        {"a pointer forwards", Header(0x8180, 1, 0) + Pointer(14) + Word(1) + Word(1)},
        {"a pointer to itself", Header(0x8180, 1, 0) + Pointer(12) + Word(1) + Word(1)},
        {"a pointer loop", Header(0x8180, 1, 1) + Question + "\x01x" + Pointer(29) + Record(1, "\x01\x02\x03\x04")},
        {"a label of 64 bytes", Header(0x8180, 1, 0) + "\x40" + std::string(64, 'l') + '\0' + Word(1) + Word(1)},
        {"a name of 306 bytes", Header(0x8180, 1, 0) + longName + Word(1) + Word(1)},
        {"RDATA past the end", Header(0x8180, 1, 1) + Question + Pointer(12) + Word(1) + Word(1) + Word(0) + Word(1) + Word(9) + "\x01\x02"},
        {"an A record of three bytes", Header(0x8180, 1, 1) + Question + Pointer(12) + Record(DnsTypeA, "\x01\x02\x03")},
        {"a TXT longer than its RDLENGTH", Header(0x8180, 1, 1) + Question + Pointer(12) + Record(DnsTypeTXT, "\x09short") + "tail"},
        {"an MX name past its RDATA", Header(0x8180, 1, 1) + Question + Pointer(12) + Record(DnsTypeMX, Word(1) + "\x04mail") + Pointer(12)},
        {"Format error", Header(0x8181, 1, 0) + Question, 1},
        {"Server failure", Header(0x8182, 1, 0) + Question, 2},
        {"No such name", Header(0x8183, 1, 0) + Question, 3},
        {"Not implemented", Header(0x8184, 1, 0) + Question, 4},
        {"Refused", Header(0x8185, 1, 0) + Question, 5},
        {"Unspecified error", Header(0x8189, 1, 0) + Question, 9},
    };
    for (const TCase& c : cases)
    {
        SCOPED_TRACE(c.What);
        TixDnsMessage message;
        const std::string text = ExpectError<EixDnsError>([&] {
            message.Parse(AsBytes(c.Bytes));
        }, c.Code);
        // A response code is raised with its text once the whole message was read.
        EXPECT_TRUE(c.Code < 0 || (text == c.What && message.GetQueries().Count() == 1)) << text;
    }
    // No bytes at all leave an empty message.
    TixDnsMessage message;
    TMemoryStream empty;
    EXPECT_NO_THROW(message.Parse(empty));
    EXPECT_EQ(message.GetQueries().Count(), 0);
}

} // namespace
} // namespace ix
