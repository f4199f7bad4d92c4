// ixmail: mail from the command line through the ix library. Exit status 0 on success, 1 when
// the operation fails, 2 for bad usage; errors go to stderr as one line.
#include "ixMailCommands.h"

#include "core/ixSysUtils.h"

#include <iostream>

namespace {

const char* const Usage =
    "usage: ixmail [--profile FILE] pop3 list|fetch|delete|capa ...\n"
    "                                                a POP3 mailbox (ixmail pop3 --help)\n"
    "       ixmail mime show|extract ...             a message file (ixmail mime --help)\n"
    "       ixmail dkim sign|verify FILE ...          DKIM signatures (ixmail dkim --help)\n"
    "       ixmail dns NAME [TYPE] ...               DNS records (ixmail dns --help)\n";

/// AText on one line: line breaks become blanks.
std::string OneLine(std::string AText)
{
    for (char& c : AText)
        if (c == '\r' || c == '\n')
            c = ' ';
    return AText;
}

int Run(const std::vector<std::string>& AArgs)
{
    if (AArgs.empty() || AArgs[0] == "--help")
    {
        std::cout << Usage;
        return AArgs.empty() ? 2 : 0; // no command at all is bad usage
    }
    if (AArgs[0] == "--profile" || AArgs[0].starts_with("--profile="))
    {
        // ixmail --profile FILE pop3 ...: the profile is an option of pop3.
        const bool joined = AArgs[0] != "--profile";
        const size_t command = joined ? 1 : 2;
        if (AArgs.size() <= command || AArgs[command] != "pop3")
            throw ixmail::TUsageError("--profile FILE goes before pop3 (ixmail --help)");
        std::vector<std::string> rest(AArgs.begin() + command + 1, AArgs.end());
        rest.push_back(joined ? AArgs[0] : "--profile=" + AArgs[1]);
        return ixmail::Pop3Command(rest);
    }
    const std::vector<std::string> rest(AArgs.begin() + 1, AArgs.end());
    if (AArgs[0] == "pop3")
        return ixmail::Pop3Command(rest);
    if (AArgs[0] == "mime")
        return ixmail::MimeCommand(rest);
    if (AArgs[0] == "dkim")
        return ixmail::DkimCommand(rest);
    if (AArgs[0] == "dns")
        return ixmail::DnsCommand(rest);
    throw ixmail::TUsageError("unknown command " + AArgs[0] + " (ixmail --help)");
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    }
    catch (const ixmail::TUsageError& E)
    {
        std::cerr << "ixmail: " << OneLine(E.what()) << "\n";
        return 2;
    }
    catch (const ix::EixCodedError& E)
    {
        std::cerr << "ixmail: " << OneLine(E.Message()) << " (code " << E.ErrorCode() << ")\n";
        return 1;
    }
    catch (const std::exception& E)
    {
        std::cerr << "ixmail: " << OneLine(E.what()) << "\n";
        return 1;
    }
}
