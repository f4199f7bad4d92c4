// Receiving over loopback through the connection's ReadData beside a bare recv loop, in the same
// run, with batch sizes 8192 and 65536. A thread sends the bytes as fast as the socket takes
// them; the receiving thread's CPU time is measured beside the wall-clock rate. Prints the median
// of several runs and the ratio of ReadData to the bare loop.
//
// Usage: net_bench [megabytes per run, default 1024] [runs, default 5]

#include "net/ixSocket.h"
#include "platform/ixOsSockets.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace ix;

namespace {

/// A stream that only counts what is written to it.
class TCountingSink : public TStream
{
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t ACount) override
    {
        FCount += ACount;
        return ACount;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FCount; }
    void SetSize(int64_t) override {}
    int64_t Count() const noexcept { return FCount; }

private:
    int64_t FCount = 0;
};

struct TSample
{
    double MBps;
    double CpuMsPerMB;
};

struct TListener
{
    os::SOCKET Socket = os::INVALID_SOCKET;
    uint16_t Port = 0;
};

[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "net_bench: %s (error %d)\n", AWhat, os::WSAGetLastError());
    std::exit(1);
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

TListener Listen()
{
    TListener listener;
    listener.Socket = os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP);
    os::SOCKADDR_IN address{};
    address.sin_family = os::AF_INET;
    address.sin_addr.S_un.S_addr = os::htonl(os::INADDR_LOOPBACK);
    int length = sizeof address;
    if (os::bind(listener.Socket, reinterpret_cast<os::SOCKADDR*>(&address), length) != 0
        || os::listen(listener.Socket, 1) != 0
        || os::getsockname(listener.Socket, reinterpret_cast<os::SOCKADDR*>(&address), &length) != 0)
        Fail("cannot listen");
    listener.Port = os::ntohs(address.sin_port);
    return listener;
}

/// Accepts one connection and sends ABytes on it from a thread, then closes it.
std::thread StartSender(const TListener& AListener, int64_t ABytes)
{
    const os::SOCKET peer = os::accept(AListener.Socket, nullptr, nullptr);
    if (peer == os::INVALID_SOCKET)
        Fail("accept failed");
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

/// Times AReceive (which returns the bytes it received) on the receiving thread.
template <typename TReceive>
TSample Measure(int64_t ABytes, TReceive&& AReceive)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuSeconds();
    const int64_t received = AReceive();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (received != ABytes)
        Fail("short transfer");
    const double megabytes = static_cast<double>(ABytes) / 1e6;
    return {megabytes / seconds.count(), cpu * 1000 / megabytes};
}

TSample BareRecv(int64_t ABytes, int32_t ABatchSize)
{
    const TListener listener = Listen();
    const os::SOCKET client = os::socket(os::AF_INET, os::SOCK_STREAM, os::IPPROTO_TCP);
    os::SOCKADDR_IN address{};
    address.sin_family = os::AF_INET;
    address.sin_port = os::htons(listener.Port);
    address.sin_addr.S_un.S_addr = os::htonl(os::INADDR_LOOPBACK);
    if (os::connect(client, reinterpret_cast<os::SOCKADDR*>(&address), sizeof address) != 0)
        Fail("connect failed");
    std::thread sender = StartSender(listener, ABytes);
    std::vector<char> buffer(static_cast<size_t>(ABatchSize));
    const TSample sample = Measure(ABytes, [&] {
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
    (void)os::closesocket(listener.Socket);
    return sample;
}

TSample ReadData(int64_t ABytes, int32_t ABatchSize)
{
    const TListener listener = Listen();
    TixTcpClientConnection connection;
    connection.SetNetworkStream(std::make_unique<TixNetworkStream>());
    connection.SetBatchSize(ABatchSize);
    connection.SetTimeOut(60000);
    connection.Connect("127.0.0.1", listener.Port);
    std::thread sender = StartSender(listener, ABytes);
    const TSample sample = Measure(ABytes, [&] {
        TCountingSink sink;
        while (connection.GetActive())
            connection.ReadData(&sink);
        return sink.Count();
    });
    sender.join();
    (void)os::closesocket(listener.Socket);
    return sample;
}

template <typename TRun>
TSample Median(int ARuns, TRun&& ARun)
{
    std::vector<TSample> samples;
    for (int i = 0; i < ARuns; ++i)
        samples.push_back(ARun());
    std::vector<double> rates;
    std::vector<double> cpu;
    for (const TSample& sample : samples)
    {
        rates.push_back(sample.MBps);
        cpu.push_back(sample.CpuMsPerMB);
    }
    std::sort(rates.begin(), rates.end());
    std::sort(cpu.begin(), cpu.end());
    return {rates[rates.size() / 2], cpu[cpu.size() / 2]};
}

} // namespace

int main(int argc, char** argv)
{
    const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (megabytes <= 0 || runs <= 0)
        Fail("usage: net_bench [megabytes] [runs]");
    const int64_t bytes = megabytes * 1024 * 1024;
    os::WSADATA data;
    if (os::WSAStartup(os::MAKEWORD(2, 2), &data) != 0)
        Fail("WSAStartup failed");

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
