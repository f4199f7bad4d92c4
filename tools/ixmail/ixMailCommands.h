#pragma once
// The subcommands of ixmail. Each returns the exit status; bad usage raises TUsageError, a
// failed operation the library's exception.

#include "ixMailArgs.h"

#include <string>
#include <vector>

namespace ixmail {

/// ixmail pop3 ...; AArgs follow "pop3".
int Pop3Command(const std::vector<std::string>& AArgs);
/// ixmail mime ...; AArgs follow "mime".
int MimeCommand(const std::vector<std::string>& AArgs);
/// ixmail dns ...; AArgs follow "dns".
int DnsCommand(const std::vector<std::string>& AArgs);

} // namespace ixmail
