#include "support/ScriptedServer.h"
#include "support/LoopbackListener.h"

#include "platform/ixOsMessages.h"
#include "platform/ixOsSockets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace ix::test {

namespace {

/// ABytes quoted and escaped as the test framework prints a string, cut after 200 bytes.
std::string Printable(const std::string& ABytes)
{
    return testing::PrintToString(ABytes.substr(0, 200)) + (ABytes.size() > 200 ? "..." : "");
}

/// The longest a single step waits for the client.
constexpr std::chrono::milliseconds StepLimit{10000};

} // namespace

// --- The server ---------------------------------------------------------------------------

class ScriptedServer::TImpl : private ScriptIo
{
public:
    /// AUdpAddress: the UDP mode on that address at APort.
    TImpl(std::vector<Step> AScript, int AReceiveBuffer, const char* AUdpAddress = nullptr, uint16_t APort = 0)
        : FScript(std::move(AScript)), FUdp(AUdpAddress != nullptr)
    {
        os::WSADATA data;
        if (os::WSAStartup(os::MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
        FNetEvent = os::WSACreateEvent();
        FStopEvent = os::CreateEventA(nullptr, os::TRUE, os::FALSE, nullptr);
        FSignalEvent = os::CreateEventA(nullptr, os::FALSE, os::FALSE, nullptr);
        FPort = APort;
        if (FUdp)
            FClient = BindLoopback(os::SOCK_DGRAM, FPort, AUdpAddress);
        else
            FListener = ListenOnLoopback(FPort, 1, AReceiveBuffer);
        if (FUdp && FClient == os::INVALID_SOCKET)
            throw std::runtime_error("cannot bind a UDP socket on " + std::string(AUdpAddress));
        FThread = std::thread([this] { Run(); });
    }

    ~TImpl()
    {
        (void)os::SetEvent(FStopEvent);
        if (FThread.joinable())
            FThread.join();
        CloseSocket(FClient);
        CloseSocket(FListener);
        (void)os::WSACloseEvent(FNetEvent);
        (void)os::CloseHandle(FStopEvent);
        (void)os::CloseHandle(FSignalEvent);
        (void)os::WSACleanup();
    }

private:
    friend class ScriptedServer;

    static void CloseSocket(os::SOCKET& ASocket)
    {
        if (ASocket != os::INVALID_SOCKET)
            (void)os::closesocket(ASocket);
        ASocket = os::INVALID_SOCKET;
    }

    void Run()
    {
        std::string failure;
        try
        {
            if (FClient == os::INVALID_SOCKET)
                Accept();
            (void)os::WSAEventSelect(FClient, FNetEvent, os::FD_READ | os::FD_WRITE | os::FD_CLOSE);
            for (; FStep < FScript.size(); ++FStep)
                RunStep(FScript[FStep]);
        }
        catch (const std::exception& error) // a step's failure, or a Call action's error
        {
            failure = "step " + std::to_string(FStep + 1) + ": " + error.what();
        }
        std::lock_guard lock(FLock);
        FFailure = failure;
        FDone = true;
        FEnded.notify_all();
    }

    /// Waits at most ALimit for AEvent; false when the time ran out. Raises when the server stops.
    bool WaitFor(os::HANDLE AEvent, std::chrono::milliseconds ALimit)
    {
        const os::HANDLE handles[2] = {FStopEvent, AEvent};
        const os::DWORD result =
            os::WaitForMultipleObjects(AEvent == nullptr ? 1 : 2, handles, os::FALSE, static_cast<os::DWORD>(ALimit.count()));
        if (result == os::WAIT_OBJECT_0)
            throw std::runtime_error("the server was stopped");
        return result == os::WAIT_OBJECT_0 + 1;
    }

    /// Waits for a network event (which it resets); raises on stop and time-out.
    void WaitNetwork(const char* AWhat)
    {
        if (!WaitFor(FNetEvent, StepLimit))
            throw std::runtime_error(std::string("timed out waiting for ") + AWhat);
        os::WSANETWORKEVENTS events;
        const os::SOCKET socket = FClient != os::INVALID_SOCKET ? FClient : FListener;
        (void)os::WSAEnumNetworkEvents(socket, FNetEvent, &events);
    }

    void Accept()
    {
        (void)os::WSAEventSelect(FListener, FNetEvent, os::FD_ACCEPT);
        for (;;)
        {
            const os::SOCKET client = os::accept(FListener, nullptr, nullptr);
            if (client != os::INVALID_SOCKET)
            {
                CloseSocket(FListener); // one connection per script
                FClient = client;
                return;
            }
            if (os::WSAGetLastError() != os::WSAEWOULDBLOCK)
                throw std::runtime_error("accept failed");
            WaitNetwork("a connection");
        }
    }

    /// Receives at most AMax bytes (UDP: one datagram, whose sender FPeer receives) into
    /// FPending; false once the client has closed.
    bool ReceiveMore(size_t AMax, const char* AWhat)
    {
        std::string buffer(AMax, '\0');
        for (;;)
        {
            int peerLength = sizeof FPeer;
            const int received = os::recvfrom(FClient, buffer.data(), static_cast<int>(AMax), 0,
                FUdp ? reinterpret_cast<os::SOCKADDR*>(&FPeer) : nullptr, &peerLength);
            if (received > 0)
            {
                FPending.append(buffer.data(), static_cast<size_t>(received));
                std::lock_guard lock(FLock);
                FReceived.append(buffer.data(), static_cast<size_t>(received));
                return true;
            }
            if (received == 0)
                return false;
            if (os::WSAGetLastError() != os::WSAEWOULDBLOCK)
                throw std::runtime_error("receive failed with " + std::to_string(os::WSAGetLastError()));
            WaitNetwork(AWhat);
        }
    }

    /// Takes ACount bytes from what the client sent.
    std::string Take(size_t ACount, size_t AChunk, const char* AWhat)
    {
        while (FPending.size() < ACount)
            if (!ReceiveMore(std::min(AChunk, ACount - FPending.size()), AWhat))
                throw std::runtime_error("the client closed after " + std::to_string(FPending.size()) + " of "
                    + std::to_string(ACount) + " bytes: " + Printable(FPending));
        std::string taken = FPending.substr(0, ACount);
        FPending.erase(0, ACount);
        return taken;
    }

    /// Sends ABytes (UDP: as one datagram to FPeer).
    void SendAll(const std::string& ABytes)
    {
        size_t sent = 0;
        while (sent < ABytes.size())
        {
            const char* data = ABytes.data() + sent;
            const int length = static_cast<int>(ABytes.size() - sent);
            const int result = !FUdp ? os::send(FClient, data, length, 0)
                : os::sendto(FClient, data, length, 0, reinterpret_cast<const os::SOCKADDR*>(&FPeer), sizeof FPeer);
            if (result >= 0)
                sent += static_cast<size_t>(result);
            else if (os::WSAGetLastError() == os::WSAEWOULDBLOCK)
                WaitNetwork("room to send");
            else
                throw std::runtime_error("send failed with " + std::to_string(os::WSAGetLastError()));
        }
    }

    // ScriptIo, for Call steps.
    std::string Take(size_t ACount) override { return Take(ACount, ACount, "the client's bytes"); }

    std::string TakeSome() override
    {
        if (FPending.empty() && !ReceiveMore(65536, "the client's bytes"))
            return {};
        return std::exchange(FPending, std::string());
    }

    void Send(const std::string& ABytes) override { SendAll(ABytes); }

    uint16_t PeerPort() override { return os::ntohs(FPeer.sin_port); }

    void WaitSignal() override
    {
        if (!WaitFor(FSignalEvent, StepLimit))
            throw std::runtime_error("no signal from the test");
    }

    void RunStep(const Step& AStep)
    {
        switch (AStep.Kind)
        {
        case Step::skExpect:
        {
            const std::string got = Take(AStep.Bytes.size(), AStep.Bytes.size(), "the expected bytes");
            if (got != AStep.Bytes)
                throw std::runtime_error("expected " + Printable(AStep.Bytes) + ", got " + Printable(got));
            break;
        }
        case Step::skSend: SendAll(AStep.Bytes); break;
        case Step::skReceive:
            (void)Take(AStep.Count, AStep.Chunk, "the bytes to receive");
            break;
        case Step::skDrain:
            while (ReceiveMore(65536, "the client's close"))
                FPending.clear();
            FPending.clear();
            break;
        case Step::skStall: WaitFor(nullptr, AStep.Duration); break;
        case Step::skWaitSignal: WaitSignal(); break;
        case Step::skClose:
            (void)os::shutdown(FClient, os::SD_SEND);
            CloseSocket(FClient);
            break;
        case Step::skCall: AStep.Action(*this); break;
        }
    }

    const std::vector<Step> FScript;
    const bool FUdp;
    os::WSAEVENT FNetEvent = nullptr;
    os::HANDLE FStopEvent = nullptr;
    os::HANDLE FSignalEvent = nullptr;
    os::SOCKET FListener = os::INVALID_SOCKET;
    os::SOCKET FClient = os::INVALID_SOCKET; // UDP: the server's socket
    os::SOCKADDR_IN FPeer{};                 // UDP: the sender of the last datagram
    uint16_t FPort = 0;
    std::string FPending; // received, not yet taken by a step (server thread only)

    mutable std::mutex FLock; // guards the fields below
    std::condition_variable FEnded;
    std::string FReceived;
    std::string FFailure;
    std::atomic<size_t> FStep{0}; // written by the server thread only
    bool FDone = false;

    std::thread FThread;
};

ScriptedServer::ScriptedServer(std::vector<Step> AScript, int AReceiveBuffer)
    : FImpl(std::make_unique<TImpl>(std::move(AScript), AReceiveBuffer))
{
}

ScriptedServer::ScriptedServer(const char* AAddress, uint16_t APort, std::vector<Step> AScript)
    : FImpl(std::make_unique<TImpl>(std::move(AScript), 0, AAddress, APort))
{
}

ScriptedServer::~ScriptedServer() = default;

uint16_t ScriptedServer::Port() const noexcept
{
    return FImpl->FPort;
}

void ScriptedServer::Signal()
{
    (void)os::SetEvent(FImpl->FSignalEvent);
}

std::string ScriptedServer::Received() const
{
    std::lock_guard lock(FImpl->FLock);
    return FImpl->FReceived;
}

std::string ScriptedServer::Finish(std::chrono::milliseconds ALimit)
{
    TImpl& server = *FImpl;
    std::unique_lock lock(server.FLock);
    if (!server.FEnded.wait_for(lock, ALimit, [&server] { return server.FDone; }))
        return "the script did not end: stuck at step " + std::to_string(server.FStep + 1) + " of "
            + std::to_string(server.FScript.size());
    return server.FFailure;
}

} // namespace ix::test
