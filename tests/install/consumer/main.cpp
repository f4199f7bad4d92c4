// Parses a message and builds a POP3 client and a DNS query component with the installed
// headers (the one include of an application) and libraries.
#include "ix.h"

#include <iostream>

int main()
{
    ix::TStringList lines;
    lines.Add("From: Ivory Tester <ivory@ix.test>");
    lines.Add("Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=");
    lines.Add("");
    lines.Add("Hello");
    ix::TixMailMessage message;
    message.LoadMessage(lines);
    ix::TixPop3 client;
    ix::TixDnsQuery query;
    const bool ok = message.GetFrom().GetEmail() == "ivory@ix.test" && client.GetPort() == 110
        && query.GetPort() == 53;
    std::cout << (ok ? "consumer: ok" : "consumer: unexpected values") << '\n';
    return ok ? 0 : 1;
}
