// Asks for the TXT records of a name and prints them; the name servers of /etc/resolv.conf
// (or of the file IX_RESOLV_CONF names), or SERVER and PORT.
//   usage: lookup_txt NAME [SERVER [PORT]]
#include "ix.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 4)
        return std::cerr << "usage: lookup_txt NAME [SERVER [PORT]]\n", 2;
    try {
        ix::TixDnsQuery dns;
        dns.SetDisableGuiProcessing(true);
        dns.SetTimeOut(3000);
        if (argc > 2)
            dns.SetServer(argv[2]);
        if (argc > 3)
            dns.SetPort(std::atoi(argv[3]));
        std::string text;
        dns.ResolveTXT(argv[1], text); // one record's text, or each in quotes, joined by ","
        if (text.empty())
            return std::cerr << "no TXT record\n", 1;
        std::cout << text << "\n";
    } catch (const ix::EixSocketError& E) { // EixDnsError: the server refused the name
        std::cerr << E.Message() << " (code " << E.ErrorCode() << ")\n";
        return 1;
    }
}
