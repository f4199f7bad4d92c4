// ACount TXT lookups of AName, one after another, through TixDnsQuery.ResolveTXT against the
// name server on 127.0.0.1:APort (UDP, a fresh socket and ID per query). Run by dns_bench.py,
// which times it beside dig and dnspython.
//   dns_bench PORT COUNT NAME
#include "dns/ixDnsQuery.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int AArgCount, char** AArgs)
{
    if (AArgCount != 4)
    {
        std::fprintf(stderr, "usage: dns_bench PORT COUNT NAME\n");
        return 2;
    }
    ix::TixDnsQuery query;
    query.SetServer("127.0.0.1");
    query.SetPort(std::atoi(AArgs[1]));
    query.SetDisableGuiProcessing(true);
    const int count = std::atoi(AArgs[2]);
    size_t bytes = 0;
    std::string text;
    for (int i = 0; i < count; ++i)
    {
        query.ResolveTXT(AArgs[3], text);
        if (text.empty())
        {
            std::fprintf(stderr, "dns_bench: lookup %d gave no text\n", i + 1);
            return 1;
        }
        bytes += text.size();
    }
    std::printf("%d lookups, %zu bytes of text\n", count, bytes);
    return 0;
}
