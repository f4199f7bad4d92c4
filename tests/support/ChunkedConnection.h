#pragma once
// A connection double for the command engine: every ReadData hands out the next scripted chunk,
// WriteData records what the client sends. When the chunks run out it behaves as a connection
// whose peer has closed: that ReadData returns nothing and leaves it inactive, and the next
// one raises the socket error 10038, as the real connection does.

#include "core/ixStreams.h"
#include "net/ixSocket.h"
#include "net/ixSocketUtils.h"
#include "platform/ixOsSockets.h"

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace ix::test {

class ChunkedConnection : public TixTcpClientConnection
{
public:
    ChunkedConnection() { SetActive(true); }

    /// Queues chunks, each handed out by one ReadData.
    void Add(const std::vector<std::string>& AChunks) { FChunks.insert(FChunks.end(), AChunks.begin(), AChunks.end()); }
    /// Everything the client wrote.
    const std::string& Sent() const noexcept { return FSent; }
    /// ReadData calls so far.
    int Reads() const noexcept { return FReads; }

    void ReadData(TStream* AData) override
    {
        if (!GetActive())
            RaiseSocketError(os::WSAENOTSOCK);
        ++FReads;
        if (FChunks.empty())
        {
            SetActive(false);
            return;
        }
        const std::string chunk = std::move(FChunks.front());
        FChunks.pop_front();
        AData->WriteBuffer(chunk.data(), static_cast<int64_t>(chunk.size()));
        AddProgress(static_cast<int64_t>(chunk.size()));
    }

    void WriteData(TStream* AData) override
    {
        if (!GetActive())
            RaiseSocketError(os::WSAENOTSOCK);
        std::string bytes(static_cast<size_t>(AData->Remaining()), '\0');
        AData->Read(bytes.data(), static_cast<int64_t>(bytes.size()));
        FSent += bytes;
    }

    void Close(bool) override { SetActive(false); }

private:
    std::deque<std::string> FChunks;
    std::string FSent;
    int FReads = 0;
};

/// TClient talking to a ChunkedConnection instead of a socket.
template <typename TClient>
class WithChunkedConnection : public TClient
{
public:
    ChunkedConnection Connection;

    TixTcpClientConnection* GetConnection() override { return &Connection; }
};

} // namespace ix::test
