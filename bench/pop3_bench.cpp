// One run of the POP3 benchmark (bench/pop3_bench.sh runs it beside poplib and curl):
//   pop3_bench list|retr|message|listing|pipelined PORT USER PASSWORD [tls]
// list: STAT, then "TOP n 0" and "UIDL n" for every message (what the sample's list does).
// retr: STAT, then "RETR n" for every message. Prints the message count and the bytes received.
// message: as retr, each message retrieved into a TixMailMessage (attachments decoded into
// memory streams).
// listing: STAT, then "LIST n", "UIDL n" and "TOP n 0" for every message, one at a time.
// pipelined: the same sizes, UIDs and headers from ListMailBox.
#include "message/ixMailMessage.h"
#include "pop3/ixPop3.h"
#include "util/ixUtils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

/// Header bytes, sizes and UID bytes of every message from ListMailBox.
int64_t RunPipelined(ix::TixPop3& AClient)
{
    int64_t bytes = 0;
    const std::vector<ix::TixPop3ListItem> items = AClient.ListMailBox();
    for (const ix::TixPop3ListItem& item : items)
    {
        for (const std::string& line : item.Header)
            bytes += static_cast<int64_t>(line.size()) + 2;
        bytes += static_cast<int64_t>(item.Uid.size()) + (item.Size > 0 ? 1 : 0);
    }
    std::printf("%zu messages, %lld bytes\n", items.size(), static_cast<long long>(bytes));
    return bytes;
}

int64_t Run(ix::TixPop3& AClient, const std::string& AMode)
{
    if (AMode == "pipelined")
        return RunPipelined(AClient);
    int64_t bytes = 0;
    ix::TixMailMessage message;
    message.OnSaveAttachment = [](ix::TObject*, ix::TixMessageBody*, std::string&, std::unique_ptr<ix::TStream>& AData,
                                   bool&) { AData = std::make_unique<ix::TMemoryStream>(); };
    const int32_t count = AClient.GetMessageCount();
    for (int32_t n = 1; n <= count; ++n)
    {
        if (AMode == "listing")
        {
            bytes += AClient.GetMessageSize(n) > 0 ? 1 : 0;
            bytes += static_cast<int64_t>(AClient.GetUidl(n).size());
            AClient.RetrieveHeader(n, nullptr);
            bytes += ix::GetStringsSize(AClient.GetResponse());
        }
        else if (AMode == "list")
        {
            AClient.RetrieveHeader(n, nullptr);
            bytes += ix::GetStringsSize(AClient.GetResponse());
            bytes += static_cast<int64_t>(AClient.GetUidl(n).size());
        }
        else
        {
            AClient.Retrieve(n, AMode == "message" ? &message : nullptr);
            bytes += ix::GetStringsSize(AClient.GetResponse());
        }
    }
    std::printf("%d messages, %lld bytes\n", count, static_cast<long long>(bytes));
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc < 5 || (mode != "list" && mode != "retr" && mode != "message" && mode != "listing" && mode != "pipelined"))
    {
        std::fprintf(stderr, "usage: pop3_bench list|retr|message|listing|pipelined PORT USER PASSWORD [tls]\n");
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
        Run(client, mode);
        client.Close();
    }
    catch (const std::exception& E)
    {
        std::fprintf(stderr, "pop3_bench: %s\n", E.what());
        return 1;
    }
    return 0;
}
