#pragma once
// What the transfer benchmarks share: the failure exit, a sink that only counts bytes, the
// receiving thread's CPU time beside the wall-clock rate, medians of several runs, and the
// loopback listener of their in-process senders.

#include "core/ixStreams.h"
#include "platform/ixOsSockets.h"
#include "support/LoopbackListener.h"

#include <errno.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace ix::bench {

/// Prints "<program>: AWhat" and ends the program with status 1.
[[noreturn]] inline void Fail(const std::string& AWhat)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, AWhat.c_str());
    std::exit(1);
}

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

/// One run's receiving rate and the receiving thread's CPU time per MB.
struct TSample
{
    double MBps = 0;
    double CpuMsPerMB = 0;
};

inline double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// Times AReceive (which returns the bytes it received) on the calling thread; fails unless
/// it received ABytes.
template <typename TReceive>
TSample Timed(int64_t ABytes, TReceive&& AReceive)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuSeconds();
    const int64_t received = AReceive();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (received != ABytes)
        Fail("short transfer: " + std::to_string(received) + " of " + std::to_string(ABytes) + " bytes");
    const double megabytes = static_cast<double>(ABytes) / 1e6;
    return {megabytes / seconds.count(), cpu * 1000 / megabytes};
}

/// The median of each figure over ARuns calls of ARun.
template <typename TRun>
TSample Median(int ARuns, TRun&& ARun)
{
    std::vector<double> rates;
    std::vector<double> cpu;
    for (int i = 0; i < ARuns; ++i)
    {
        const TSample sample = ARun();
        rates.push_back(sample.MBps);
        cpu.push_back(sample.CpuMsPerMB);
    }
    std::sort(rates.begin(), rates.end());
    std::sort(cpu.begin(), cpu.end());
    return {rates[rates.size() / 2], cpu[cpu.size() / 2]};
}

/// Starts the socket library for the whole run; fails when it cannot.
inline void StartSockets()
{
    os::WSADATA data;
    if (os::WSAStartup(os::MAKEWORD(2, 2), &data) != 0)
        Fail("WSAStartup failed");
}

/// A socket listening on 127.0.0.1 at a free port, closed with this object; fails when it
/// cannot listen.
class TListener
{
public:
    explicit TListener(int ABacklog = 1)
    {
        try
        {
            FSocket = test::ListenOnLoopback(FPort, ABacklog);
        }
        catch (const std::runtime_error& error)
        {
            Fail(error.what());
        }
    }
    ~TListener() { (void)os::closesocket(FSocket); }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    uint16_t Port() const noexcept { return FPort; }

    /// The next connection; fails when none can be accepted.
    os::SOCKET Accept() const
    {
        const os::SOCKET peer = os::accept(FSocket, nullptr, nullptr);
        if (peer == os::INVALID_SOCKET)
            Fail("accept failed");
        return peer;
    }

private:
    os::SOCKET FSocket = os::INVALID_SOCKET;
    uint16_t FPort = 0;
};

/// A socket connected to 127.0.0.1:APort; fails when the connection fails.
inline os::SOCKET Connect(uint16_t APort)
{
    const os::SOCKET socket = test::ConnectToLoopback(APort);
    if (socket == os::INVALID_SOCKET)
        Fail("connect failed");
    return socket;
}

/// Sends all of ABytes; false when the peer has gone.
inline bool SendAll(os::SOCKET APeer, const std::string& ABytes)
{
    for (size_t done = 0; done < ABytes.size();)
    {
        const int sent = os::send(APeer, ABytes.data() + done, static_cast<int>(ABytes.size() - done), 0);
        if (sent <= 0)
            return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

/// Serves one POP3 session on APeer and closes it: AGreeting, "+OK" to every command, and
/// AMessage (dot-stuffed, ending with CR LF) with its terminator to "RETR".
inline void ServePop3(os::SOCKET APeer, const std::string& AGreeting, const std::string& AMessage)
{
    std::string pending;
    bool open = SendAll(APeer, AGreeting);
    while (open)
    {
        const size_t end = pending.find("\r\n");
        if (end == std::string::npos)
        {
            char buffer[4096];
            const int received = os::recv(APeer, buffer, sizeof buffer, 0);
            open = received > 0;
            pending.append(buffer, static_cast<size_t>(std::max(received, 0)));
            continue;
        }
        const std::string command = pending.substr(0, end);
        pending.erase(0, end + 2);
        open = SendAll(APeer, command.starts_with("RETR") ? "+OK\r\n" + AMessage + ".\r\n" : "+OK\r\n")
            && command != "QUIT";
    }
    (void)os::closesocket(APeer);
}

} // namespace ix::bench
