// One run of the POP3 benchmark (bench/pop3_bench.sh runs it beside poplib and curl):
//   pop3_bench list|retr PORT USER PASSWORD [tls]
// list: STAT, then "TOP n 0" and "UIDL n" for every message (what the sample's list does).
// retr: STAT, then "RETR n" for every message. Prints the message count and the bytes received.
#include "pop3/ixPop3.h"
#include "util/ixUtils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

int64_t Run(ix::TixPop3& AClient, bool AList)
{
    int64_t bytes = 0;
    const int32_t count = AClient.GetMessageCount();
    for (int32_t n = 1; n <= count; ++n)
    {
        if (AList)
        {
            AClient.RetrieveHeader(n, nullptr);
            bytes += ix::GetStringsSize(AClient.GetResponse());
            bytes += static_cast<int64_t>(AClient.GetUidl(n).size());
        }
        else
        {
            AClient.Retrieve(n, nullptr);
            bytes += ix::GetStringsSize(AClient.GetResponse());
        }
    }
    std::printf("%d messages, %lld bytes\n", count, static_cast<long long>(bytes));
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || (std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "retr") != 0))
    {
        std::fprintf(stderr, "usage: pop3_bench list|retr PORT USER PASSWORD [tls]\n");
        return 2;
    }
    try
    {
        ix::TixPop3 client;
        client.SetServer("127.0.0.1");
        client.SetPort(std::atoi(argv[2]));
        client.SetUserName(argv[3]);
        client.SetPassword(argv[4]);
        client.SetUseTLS(argc > 5 && std::strcmp(argv[5], "tls") == 0 ? ix::ctImplicit : ix::ctNone);
        client.Open();
        Run(client, std::strcmp(argv[1], "list") == 0);
        client.Close();
    }
    catch (const std::exception& E)
    {
        std::fprintf(stderr, "pop3_bench: %s\n", E.what());
        return 1;
    }
    return 0;
}
