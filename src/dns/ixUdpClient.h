#pragma once
// The UDP client component: the datagram counterpart of the TCP client. It owns one datagram
// connection with a plain network stream and sends and receives whole datagrams to and from
// one server (Server, Port).

#include "core/ixClasses.h"
#include "net/ixSocket.h"
#include "net/ixSocketUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ix {

class TStream;

/// A datagram that was sent or received: AData holds its bytes.
using TixUdpPacketEvent = std::function<void(TObject* Sender, TStream* AData)>;

/// Sends and receives datagrams to and from one server.
class TixUdpClient : public TComponent
{
public:
    /// Default of DatagramSize, in bytes.
    static constexpr int32_t DefaultDatagramSize = 8192;
    /// Default of TimeOut, in milliseconds.
    static constexpr int32_t DefaultTimeOut = 5000;

    /// Starts the socket library for the lifetime of the component (raises EixSocketError when
    /// it cannot be started) and sets the defaults.
    explicit TixUdpClient(TComponent* AOwner = nullptr);
    /// CleanUp, then releases the connection and the socket library.
    ~TixUdpClient() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties. Setters store only a change and then call Changed.

    /// Host name or numeric address of the server.
    const std::string& GetServer() const noexcept { return FServer; }
    void SetServer(const std::string& AValue);
    /// The server's port; the constructor sets GetDefaultPort (0).
    int32_t GetPort() const noexcept { return FPort; }
    void SetPort(int32_t AValue);
    /// The largest datagram sent or received (default 8192); a longer one fails with WSAEMSGSIZE.
    int32_t GetDatagramSize() const noexcept;
    void SetDatagramSize(int32_t AValue);
    /// Milliseconds a send or receive may wait (default 5000).
    int32_t GetTimeOut() const noexcept;
    void SetTimeOut(int32_t AValue);
    /// Throttling in bits per second; 0 or less: none.
    int32_t GetBitsPerSec() const noexcept;
    void SetBitsPerSec(int32_t AValue);
    /// Prefer IPv6 addresses when resolving Server.
    bool GetUseIpV6() const noexcept;
    void SetUseIpV6(bool AValue);
    /// Local address to bind the socket to; empty: none.
    const std::string& GetLocalBinding() const noexcept;
    void SetLocalBinding(const std::string& AValue);
    /// Stored and published only.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue);
    /// Stop dispatching window messages while waiting.
    bool GetDisableGuiProcessing() const noexcept;
    void SetDisableGuiProcessing(bool AValue);

    // ---- Operations

    /// Resolves Server and makes a fresh socket aimed at it and Port (OpenConnection). Raises
    /// the socket error of the lookup or of the socket.
    void Open();
    /// Closes the socket.
    void Close();
    /// Sends one datagram (at most DatagramSize bytes from AData's position), then fires
    /// OnSendPacket. Raises 10038 when not open, -1 when the socket stays unwritable TimeOut ms.
    void SendPacket(TStream* AData);
    /// Waits up to TimeOut ms for one datagram and appends it to AData, then fires
    /// OnReceivePacket. Raises -1 on time-out, 10040 for a datagram above DatagramSize, 10038
    /// when not open.
    void ReceivePacket(TStream* AData);
    /// The connection (owned); its stream's peer is the sender of the last datagram received.
    TixUdpClientConnection& GetConnection() const noexcept { return *FConnection; }

    // ---- Events

    /// After a published property changed.
    TNotifyEvent OnChanged;
    /// After ReceivePacket read a datagram, with its bytes.
    TixUdpPacketEvent OnReceivePacket;
    /// After SendPacket sent a datagram, with its bytes.
    TixUdpPacketEvent OnSendPacket;

protected:
    /// Resolves AServer (ResolveHost with UseIpV6) and opens the connection to it and APort.
    virtual void OpenConnection(const std::string& AServer, int32_t APort);
    /// Called by the destructor; nothing here.
    virtual void CleanUp();
    /// 0.
    virtual int32_t GetDefaultPort();

    /// Fires OnChanged with this component as Sender.
    virtual void Changed();
    /// Fires OnReceivePacket with this component as Sender.
    virtual void DoReceivePacket(TStream* AData);
    /// Fires OnSendPacket with this component as Sender.
    virtual void DoSendPacket(TStream* AData);

private:
    /// Sets a connection-backed property and calls Changed when it differs.
    template <typename T, typename TGetter, typename TSetter>
    void SetConnectionValue(const T& AValue, TGetter AGetter, TSetter ASetter);

    TixSocketLibraryUse FSocketLibrary; // first: released after everything else
    std::string FServer;
    int32_t FPort = 0;
    std::unique_ptr<TixUdpClientConnection> FConnection;
    std::string FCharSet;
};

} // namespace ix
