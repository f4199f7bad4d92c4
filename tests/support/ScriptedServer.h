#pragma once
// A scripted in-process TCP server on 127.0.0.1 for tests: one thread accepts one connection
// and plays a transcript of steps (expect what the client sends, send bytes, stall, wait for
// the test's signal, close); or, in its UDP mode, plays them on a socket bound to a loopback
// address, answering the sender of the last datagram. It records everything the client sent and
// reports every step that did not happen as scripted. Every wait of the server is capped, so a
// broken client makes the test fail instead of hang (10 s for one step).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ix::test {

/// What a Call step may do on the server's connection (a protocol the transcript cannot spell
/// out, such as TLS).
class ScriptIo
{
public:
    virtual ~ScriptIo() = default;
    /// The client's next ACount bytes; fails the step when the client closes first.
    virtual std::string Take(size_t ACount) = 0;
    /// Whatever the client sends next (at least one byte); empty once the client has closed.
    virtual std::string TakeSome() = 0;
    /// One send of exactly these bytes.
    virtual void Send(const std::string& ABytes) = 0;
    /// Waits until the test calls Signal().
    virtual void WaitSignal() = 0;
    /// UDP: the port the last datagram came from.
    virtual uint16_t PeerPort() = 0;
};

/// One step of a server's script.
struct Step
{
    enum TKind : uint8_t { skExpect, skSend, skReceive, skDrain, skStall, skWaitSignal, skClose, skCall };

    /// The client's next bytes must be ALine followed by CR LF.
    static Step Expect(std::string ALine) { return {skExpect, std::move(ALine) + "\r\n"}; }
    /// The client's next bytes must be exactly ABytes.
    static Step ExpectBytes(std::string ABytes) { return {skExpect, std::move(ABytes)}; }
    /// One send of exactly these bytes.
    static Step Send(std::string ABytes) { return {skSend, std::move(ABytes)}; }
    /// Receives ACount bytes, at most AChunk per receive call (a slow reader with small chunks).
    static Step Receive(size_t ACount, size_t AChunk = 65536) { return {skReceive, {}, ACount, AChunk}; }
    /// Receives until the client closes its side.
    static Step Drain() { return {skDrain}; }
    /// Sends nothing for ADuration (cut short when the server is destroyed).
    static Step Stall(std::chrono::milliseconds ADuration) { return {skStall, {}, 0, 0, ADuration}; }
    /// Waits until the test calls Signal().
    static Step WaitSignal() { return {skWaitSignal}; }
    /// Closes the connection gracefully.
    static Step Close() { return {skClose}; }
    /// Runs AAction on the server's thread; an exception it throws fails the step.
    static Step Call(std::function<void(ScriptIo&)> AAction) { return {skCall, {}, 0, 0, {}, std::move(AAction)}; }

    TKind Kind;
    std::string Bytes{};
    size_t Count = 0;
    size_t Chunk = 0;
    std::chrono::milliseconds Duration{0};
    std::function<void(ScriptIo&)> Action{};
};

class ScriptedServer
{
public:
    /// AReceiveBuffer above 0: the receive buffer size of the connection (a small one makes a
    /// fast client wait for room).
    explicit ScriptedServer(std::vector<Step> AScript, int AReceiveBuffer = 0);
    /// The UDP mode, on AAddress (127.0.0.x) at APort (0: a free port): TakeSome returns one
    /// datagram, and Send answers its sender.
    ScriptedServer(const char* AAddress, uint16_t APort, std::vector<Step> AScript);
    /// Stops the script, closes every socket and joins the thread; never throws.
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    /// The listening port.
    uint16_t Port() const noexcept;
    /// Releases a WaitSignal step.
    void Signal();
    /// Everything the client sent so far.
    std::string Received() const;
    /// Waits (at most ALimit) until the script has ended; returns what went wrong, empty when
    /// every step ran as scripted.
    std::string Finish(std::chrono::milliseconds ALimit = std::chrono::milliseconds(20000));

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace ix::test
