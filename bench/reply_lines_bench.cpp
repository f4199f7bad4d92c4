// Long reply lines: the POP3 client retrieving one message that is a single line of 1, 4, 16
// and 64 MB, beside the same bytes as 78-character lines, and a greeting line of the same
// sizes, from an in-process server over loopback. Prints the client thread's CPU time per MB
// (the median of several runs) and the ratio of the long line to the normal lines: a line that
// grows over many reads must cost time linear in its length, so the ratio stays near 1 at
// every size.
//
// Usage: reply_lines_bench [runs, default 3]

#include "bench_util.h"
#include "pop3/ixPop3.h"
#include "util/ixUtils.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace ix;

namespace {

using namespace ix::bench;

/// Serves one POP3 session on a thread: AGreeting, "+OK" to every command, AMessage to "RETR".
std::thread StartServer(const TListener& AListener, std::string AGreeting, std::string AMessage)
{
    const os::SOCKET peer = AListener.Accept();
    return std::thread([peer, greeting = std::move(AGreeting), message = std::move(AMessage)] {
        ServePop3(peer, greeting, message);
    });
}

/// One session: opens (reading AGreeting), retrieves AMessage when given, closes. ABytes is
/// what the timed part receives.
TSample Session(const std::string& AGreeting, const std::string& AMessage, int64_t ABytes)
{
    const TListener listener;
    TixPop3 client;
    client.SetServer("127.0.0.1");
    client.SetPort(listener.Port());
    client.SetUserName("user");
    client.SetPassword("password");
    client.SetMaxLineLength(0);
    std::thread server;
    std::thread opener([&] { server = StartServer(listener, AGreeting, AMessage); });
    TSample sample;
    if (AMessage.empty())
    {
        int64_t greeting = -1;
        client.OnReceiveResponse = [&](TObject*, TStrings& ALines) {
            if (greeting < 0)
                greeting = static_cast<int64_t>(ALines[0].size());
        };
        sample = Timed(ABytes, [&] {
            client.Open();
            opener.join();
            return greeting;
        });
    }
    else
    {
        client.Open();
        opener.join();
        sample = Timed(ABytes, [&] {
            client.Retrieve(1, nullptr);
            return GetStringsSize(client.GetResponse());
        });
    }
    client.Close();
    server.join();
    return sample;
}

std::string NormalLines(size_t ASize)
{
    const std::string line = std::string(76, 'a') + "\r\n";
    std::string result;
    result.reserve(ASize);
    while (result.size() + line.size() <= ASize)
        result += line;
    return result + std::string(ASize - result.size() - 2, 'a') + "\r\n";
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    StartSockets();
    std::printf("%-8s %18s %18s %8s %20s\n", "line MB", "one line ms/MB", "78-char ms/MB", "ratio",
        "greeting line ms/MB");
    for (const size_t megabytes : {1, 4, 16, 64})
    {
        const size_t size = megabytes << 20;
        const std::string longLine = std::string(size - 2, 'a') + "\r\n";
        const std::string normal = NormalLines(size);
        const auto bytes = static_cast<int64_t>(size);
        const TSample line = Median(runs, [&] { return Session("+OK\r\n", longLine, bytes); });
        const TSample lines = Median(runs, [&] { return Session("+OK\r\n", normal, bytes); });
        const TSample greeting = Median(runs, [&] { return Session("+OK " + longLine, "", bytes + 2); });
        std::printf("%-8zu %18.2f %18.2f %8.2f %20.2f\n", megabytes, line.CpuMsPerMB, lines.CpuMsPerMB,
            line.CpuMsPerMB / lines.CpuMsPerMB, greeting.CpuMsPerMB);
    }
    return 0;
}
