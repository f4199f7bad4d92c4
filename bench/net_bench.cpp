// Receiving over loopback through the connection's ReadData beside a bare recv loop, in the same
// run, with batch sizes 8192 and 65536. A thread sends the bytes as fast as the socket takes
// them; the receiving thread's CPU time is measured beside the wall-clock rate. Prints the median
// of several runs and the ratio of ReadData to the bare loop.
//
// Usage: net_bench [megabytes per run, default 1024] [runs, default 5]

#include "bench_util.h"
#include "net/ixSocket.h"
#include "platform/ixOsSockets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace ix;

namespace {

using namespace ix::bench;

/// Accepts one connection and sends ABytes on it from a thread, then closes it.
std::thread StartSender(const TListener& AListener, int64_t ABytes)
{
    const os::SOCKET peer = AListener.Accept();
    return std::thread([peer, ABytes] {
        const std::vector<char> block(256 * 1024, 'x');
        for (int64_t left = ABytes; left > 0;)
        {
            const int size = static_cast<int>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
            const int sent = os::send(peer, block.data(), size, 0);
            if (sent <= 0)
                break;
            left -= sent;
        }
        (void)os::shutdown(peer, os::SD_SEND);
        (void)os::closesocket(peer);
    });
}

TSample BareRecv(int64_t ABytes, int32_t ABatchSize)
{
    const TListener listener;
    const os::SOCKET client = Connect(listener.Port());
    std::thread sender = StartSender(listener, ABytes);
    std::vector<char> buffer(static_cast<size_t>(ABatchSize));
    const TSample sample = Timed(ABytes, [&] {
        int64_t total = 0;
        for (;;)
        {
            const int received = os::recv(client, buffer.data(), ABatchSize, 0);
            if (received <= 0)
                return total;
            total += received;
        }
    });
    sender.join();
    (void)os::closesocket(client);
    return sample;
}

TSample ReadData(int64_t ABytes, int32_t ABatchSize)
{
    const TListener listener;
    TixTcpClientConnection connection;
    connection.SetNetworkStream(std::make_unique<TixNetworkStream>());
    connection.SetBatchSize(ABatchSize);
    connection.SetTimeOut(60000);
    connection.Connect("127.0.0.1", listener.Port());
    std::thread sender = StartSender(listener, ABytes);
    const TSample sample = Timed(ABytes, [&] {
        TCountingSink sink;
        while (connection.GetActive())
            connection.ReadData(&sink);
        return sink.Count();
    });
    sender.join();
    return sample;
}

} // namespace

int main(int argc, char** argv)
{
    const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (megabytes <= 0 || runs <= 0)
        Fail("usage: net_bench [megabytes] [runs]");
    const int64_t bytes = megabytes * 1024 * 1024;
    StartSockets();

    std::printf("Receiving %lld MB over loopback, median of %d runs\n", static_cast<long long>(megabytes), runs);
    std::printf("%-10s %-10s %10s %12s %10s\n", "batch", "receiver", "MB/s", "CPU ms/MB", "of bare");
    for (const int32_t batch : {8192, 65536})
    {
        const TSample bare = Median(runs, [&] { return BareRecv(bytes, batch); });
        const TSample read = Median(runs, [&] { return ReadData(bytes, batch); });
        std::printf("%-10d %-10s %10.0f %12.3f %10s\n", batch, "recv", bare.MBps, bare.CpuMsPerMB, "");
        std::printf("%-10d %-10s %10.0f %12.3f %9.0f%%\n", batch, "ReadData", read.MBps, read.CpuMsPerMB,
            100.0 * read.MBps / bare.MBps);
    }
    (void)os::WSACleanup();
    return 0;
}
