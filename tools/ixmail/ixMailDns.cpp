// ixmail dns NAME [TYPE]: the answer records of one DNS question, in dig's layout.
#include "ixMailCommands.h"

#include "core/ixSysUtils.h"
#include "dns/ixDnsQuery.h"

#include <iostream>

namespace ixmail {

using namespace ix;

namespace {

const std::string DnsUsage = std::string("usage: ixmail dns NAME [TYPE] [options]\n"
    "  TYPE                   A, NS, CNAME, SOA, PTR, MX, TXT or AAAA (default A)\n") + DnsOptionsUsage +
    "The answer records are printed as dig prints them.\n";

const std::pair<const char*, int32_t> TypeNames[] = {{"A", DnsTypeA}, {"NS", DnsTypeNS}, {"CNAME", DnsTypeCNAME},
    {"SOA", DnsTypeSOA}, {"PTR", DnsTypePTR}, {"MX", DnsTypeMX}, {"TXT", DnsTypeTXT}, {"AAAA", DnsTypeAAAA}};

std::string TypeName(int32_t AType)
{
    for (const auto& [name, type] : TypeNames)
        if (type == AType)
            return name;
    return "TYPE" + std::to_string(AType);
}

int32_t TypeCode(const std::string& AName)
{
    std::vector<std::string> names;
    for (const auto& entry : TypeNames)
        names.emplace_back(entry.first);
    return TypeNames[Choice("TYPE", UpperCase(AName), names)].second;
}

/// A domain name as dig writes it: absolute, with its final dot.
std::string Absolute(const std::string& AName)
{
    return AName + ".";
}

/// One character-string in double quotes, with dig's escapes.
std::string DigString(const std::string& AText)
{
    return Quoted(AText, [](unsigned char AByte) { return AByte >= 0x20 && AByte < 0x7F; }, "\\%03u");
}

/// The record data in dig's presentation; empty for a type the library does not decode.
std::string RecordData(const TixDnsRecord& ARecord)
{
    if (const auto* a = dynamic_cast<const TixDnsARecord*>(&ARecord))
        return a->GetIPAddress();
    if (const auto* aaaa = dynamic_cast<const TixDnsAAAARecord*>(&ARecord))
        return LowerCase(aaaa->GetIPv6Address());
    if (const auto* mx = dynamic_cast<const TixDnsMXRecord*>(&ARecord))
        return std::to_string(mx->GetPreference()) + " " + Absolute(mx->GetMailServer());
    if (const auto* cname = dynamic_cast<const TixDnsCNAMERecord*>(&ARecord))
        return Absolute(cname->GetPrimaryName());
    if (const auto* ns = dynamic_cast<const TixDnsNSRecord*>(&ARecord))
        return Absolute(ns->GetNameServer());
    if (const auto* ptr = dynamic_cast<const TixDnsPTRRecord*>(&ARecord))
        return Absolute(ptr->GetDomainName());
    if (const auto* soa = dynamic_cast<const TixDnsSOARecord*>(&ARecord))
        return Absolute(soa->GetPrimaryNameServer()) + " " + Absolute(soa->GetResponsibleMailbox()) + " " +
            std::to_string(soa->GetSerialNumber()) + " " + std::to_string(soa->GetRefreshInterval()) + " " +
            std::to_string(soa->GetRetryInterval()) + " " + std::to_string(soa->GetExpirationLimit()) + " " +
            std::to_string(soa->GetMinimumTTL());
    if (const auto* txt = dynamic_cast<const TixDnsTXTRecord*>(&ARecord))
    {
        std::string data;
        for (int32_t i = 0; i < txt->GetStrings().Count(); ++i)
            data += (i > 0 ? " " : "") + DigString(txt->GetStrings()[i]);
        return data;
    }
    return {};
}

/// Appends tabs (at least one) up to AColumn, with tab stops every 8 columns; ALine holds no
/// tab yet.
void PadToColumn(std::string& ALine, size_t AColumn)
{
    size_t column = ALine.size();
    do
    {
        ALine += '\t';
        column = (column / 8 + 1) * 8;
    } while (column < AColumn);
}

} // namespace

void ConfigureDnsQuery(TixDnsQuery& AQuery, const TArgs& AArgs)
{
    AQuery.SetDisableGuiProcessing(true);
    AQuery.SetServer(AArgs.Value("server"));
    AQuery.SetPort(AArgs.Number("port", TixDnsQuery::DefaultPort, 1, 65535));
    AQuery.SetTimeOut(AArgs.Number("timeout", TixDnsQuery::DefaultTimeOut / 1000, 1, 600) * 1000);
    if (AArgs.Has("tcp"))
        AQuery.SetProtocol(dpUseTcp);
}

int DnsCommand(const std::vector<std::string>& AArgs)
{
    const TArgs args(AArgs, {"help", "tcp"}, DnsValued);
    if (args.Has("help"))
    {
        std::cout << DnsUsage;
        return 0;
    }
    if (args.Positional().empty() || args.Positional().size() > 2)
        throw TUsageError("dns takes NAME [TYPE] (ixmail dns --help)");
    const int32_t type = args.Positional().size() > 1 ? TypeCode(args.Positional()[1]) : DnsTypeA;

    TixDnsQuery query;
    ConfigureDnsQuery(query, args);
    query.Lookup(args.Positional()[0], type);

    const TixDnsRecordList& answers = query.GetResponse().GetAnswers();
    for (int32_t i = 0; i < answers.Count(); ++i)
    {
        const TixDnsRecord& record = *answers[i];
        const std::string data = RecordData(record);
        if (data.empty())
        {
            std::cout << ";" << Absolute(record.GetName()) << " " << TypeName(record.GetRecordType())
                      << " record not shown\n";
            continue;
        }
        std::string line = Absolute(record.GetName());
        PadToColumn(line, 24);
        line += std::to_string(record.GetTTL()) + "\tIN\t" + TypeName(record.GetRecordType()) + "\t" + data;
        std::cout << line << "\n";
    }
    return 0;
}

} // namespace ixmail
