#pragma once
// The subcommands of ixmail. Each returns the exit status; bad usage raises TUsageError, a
// failed operation the library's exception.

#include "ixMailArgs.h"

#include <set>
#include <string>
#include <vector>

namespace ix {
class TixDnsQuery;
}

namespace ixmail {

/// The name-server options of the commands that ask DNS.
inline constexpr char DnsOptionsUsage[] =
    "  --server ADDRESS       the name server (default: those of /etc/resolv.conf)\n"
    "  --port N               its port (default 53)\n"
    "  --tcp                  ask over TCP (default UDP, repeated over TCP when truncated)\n"
    "  --timeout SECONDS      time-out of each exchange (default 5)\n";
/// The valued options of DnsOptionsUsage (and the switch "tcp").
inline const std::set<std::string> DnsValued{"server", "port", "timeout"};
/// Sets up AQuery as the options of DnsOptionsUsage in AArgs say.
void ConfigureDnsQuery(ix::TixDnsQuery& AQuery, const TArgs& AArgs);

/// ixmail pop3 ...; AArgs follow "pop3".
int Pop3Command(const std::vector<std::string>& AArgs);
/// ixmail mime ...; AArgs follow "mime".
int MimeCommand(const std::vector<std::string>& AArgs);
/// ixmail dns ...; AArgs follow "dns".
int DnsCommand(const std::vector<std::string>& AArgs);
/// ixmail dkim ...; AArgs follow "dkim".
int DkimCommand(const std::vector<std::string>& AArgs);

} // namespace ixmail
