#pragma once
// The connection and its network stream. A connection (TixConnection and descendants) owns the
// socket, the Windows Sockets event the socket reports to, the blocking waits with their
// time-outs (window messages keep being dispatched meanwhile), the abort signal and the
// progress counters. The network stream (TixNetworkStream) performs the socket calls in batches,
// throttles them and counts bytes; it is the replaceable layer (TLS and SOCKS streams derive
// from it and override its virtual operations).
//
// Typical use: create a TixTcpClientConnection, give it a stream (SetNetworkStream), Connect,
// then ReadData / WriteData / WriteString, then Close. Abort may be called at any time, also
// from a message handler that runs inside a wait.

#include "core/ixClasses.h"
#include "core/ixStreams.h"
#include "net/ixIpAddress.h"
#include "net/ixSocketUtils.h"
#include "platform/ixOsSockets.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ix {

class TixConnection;

/// The stream's pending action (NextAction): what the connection must do for the stream layer.
inline constexpr uint8_t naNone = 0;
inline constexpr uint8_t naRead = 1; ///< the connection must read for the stream
inline constexpr uint8_t naWrite = 2; ///< the connection must write for the stream

/// Holder of a socket handle and its address family. Closes the handle when destroyed.
class TixSocket : public TObject
{
public:
    TixSocket() = default;
    ~TixSocket() override;

    /// 2 (IPv4), 23 (IPv6), or 0 when none.
    int32_t GetAddressFamily() const noexcept { return FAddressFamily; }
    /// The socket handle, INVALID_SOCKET when none.
    os::SOCKET GetHandle() const noexcept { return FHandle; }

    /// Shuts the socket down (both directions) and closes it, when valid; the family becomes 0.
    virtual void Close();
    /// Takes AHandle and AFamily; a different handle held before is closed first.
    virtual void Assign(os::SOCKET AHandle, int32_t AFamily);

private:
    int32_t FAddressFamily = 0;
    os::SOCKET FHandle = os::INVALID_SOCKET;
};

/// The transfer layer of a connection: socket calls in batches, throttling, byte counts and
/// the addresses of both ends.
class TixNetworkStream : public TObject
{
public:
    TixNetworkStream();
    ~TixNetworkStream() override;

    /// The owning connection (not owned), set through SetConnection.
    TixConnection* GetConnection() const noexcept { return FConnection; }

    /// naNone, naRead or naWrite.
    uint8_t GetNextAction() const noexcept { return FNextAction; }
    /// Requests an action; kept only when none is pending.
    void SetNextAction(uint8_t AValue) noexcept;
    /// Drops the pending action.
    void ClearNextAction() noexcept { FNextAction = naNone; }

    /// Local address of the socket, as text.
    const std::string& GetLocalIP() const noexcept { return FLocalIP; }
    /// Local port of the socket.
    int32_t GetLocalPort() const noexcept { return FLocalPort; }
    /// Peer address, as text.
    const std::string& GetPeerIP() const noexcept { return FPeerIP; }
    /// Peer port.
    int32_t GetPeerPort() const noexcept { return FPeerPort; }
    /// Each setter also stores the value in the connection's field of the same name.
    void SetLocalIP(const std::string& AValue);
    /// Stores AValue here and in the connection.
    void SetLocalPort(int32_t AValue);
    /// Stores AValue here and in the connection.
    void SetPeerIP(const std::string& AValue);
    /// Stores AValue here and in the connection.
    void SetPeerPort(int32_t AValue);

    /// An FD_READ arrived while the connection waited to write: the next read reads first.
    bool GetReadPending() const noexcept { return FReadPending; }
    void SetReadPending(bool AValue) noexcept { FReadPending = AValue; }
    /// Bytes moved since ResetProceed.
    int64_t GetProceeded() const noexcept { return FProceeded; }
    /// The peer closed the connection (a receive gave 0, or a send met a reset).
    bool GetPeerClosed() const noexcept { return FPeerClosed; }
    void SetPeerClosed(bool AValue) noexcept { FPeerClosed = AValue; }

    /// True when the connection is aborted or the read limit is reached.
    bool NeedStop();
    /// Sleeps (dispatching window messages) as long as ASize bytes take at the connection's
    /// BitsPerSec; nothing without a limit. Keeps the last error of the socket call.
    void ThrottleTransfer(int32_t ASize);

    // Virtual operations, in their declared order.

    /// The connection's BatchSize, limited by its BytesToProceed. Raises "Invalid Batch Size" (-4).
    virtual int32_t GetBatchSize();
    /// Sets the owning connection (not owned).
    virtual void SetConnection(TixConnection* AConnection);
    /// Copies the address state (peer, local, ReadPending) of ASource.
    virtual void Assign(const TixNetworkStream& ASource);
    /// Starts a TCP connect to AAddress:APort; true when it completed at once.
    virtual bool Connect(TixIPAddress& AAddress, int32_t APort);
    /// Refreshes the local address once connected.
    virtual void ConnectCompleted();
    /// Binds the socket to AAddress:APort.
    virtual void Bind(TixIPAddress& AAddress, int32_t APort);
    /// Binds to the first free port of AMinPort..AMaxPort. Raises "Invalid port number" (-3)
    /// unless 1 <= AMinPort <= AMaxPort, or the bind error of the last port.
    virtual void BindRange(TixIPAddress& AAddress, int32_t AMinPort, int32_t AMaxPort);
    /// Allows broadcast datagrams. Raises "Invalid address family" (-7) on an IPv6 socket.
    virtual void EnableBroadcast();
    /// Listens (backlog 1) and stores the bound port as LocalPort.
    virtual void Listen();
    /// Accepts a connection; the accepted socket replaces the listening one.
    virtual void Accept();
    /// Refreshes the local address of the accepted socket.
    virtual void AcceptCompleted();
    /// Ends the stream's session; the base clears the pending action.
    virtual void CloseStream(bool ANotifyPeer);
    /// Called just before the socket is closed.
    virtual void BeforeSocketClose();
    /// The session is ready: fires the connection's OnReady.
    virtual void StreamReady();
    /// Appends what the socket has now to AData (null: nothing is read); false when the last
    /// receive would block.
    virtual bool Read(TStream* AData);
    /// Writes AData from its position to its end; true when all was taken.
    virtual bool Write(TStream* AData);
    /// Writes up to ACount bytes (negative: all) from AData's position. False when the socket
    /// would block: AData's position is then just after the bytes the socket took.
    virtual bool WriteCount(TStream* AData, int64_t ACount);
    /// Appends one datagram to AData; AAddress receives the sender, APort its port.
    virtual bool ReadFrom(TStream* AData, TixIPAddress& AAddress, int32_t& APort);
    /// Sends one datagram (at most one batch) from AData to AAddress:APort.
    virtual bool WriteTo(TStream* AData, TixIPAddress& AAddress, int32_t APort);
    /// One recv plus throttling; recv's result.
    virtual int32_t ReadBuffer(void* ABuffer, int32_t ASize);
    /// One send plus throttling; send's result.
    virtual int32_t WriteBuffer(const void* ABuffer, int32_t ASize);
    /// Bytes one receive asks for: BatchSize.
    virtual int32_t GetReadBatchSize();
    /// Bytes one send hands over: BatchSize.
    virtual int32_t GetWriteBatchSize();
    /// True when the connection's BytesToProceed (not negative) is reached.
    virtual bool IsProceedLimit();
    /// Restarts the count of bytes moved (Proceeded).
    virtual void ResetProceed();
    /// Counts ADelta and reports it to the connection's progress.
    virtual void UpdateProgress(int64_t ADelta);
    /// Called before a client connect and by BeginSession.
    virtual void OpenClientSession();
    /// Called before accept.
    virtual void OpenServerSession();

protected:
    /// Counts ADelta moved bytes (against the read limit) without reporting progress.
    void AddProceeded(int64_t ADelta) noexcept { FProceeded += ADelta; }
    /// The socket handle of the connection.
    os::SOCKET Handle() const;
    /// Stores the local address of the socket (only while the connection is active).
    void RefreshLocalAddress();
    /// Sets the peer fields from an address.
    void SetPeer(const TixIPAddress& AAddress);

private:
    TixConnection* FConnection = nullptr;
    TixEventHandle FThrottleEvent;
    uint8_t FNextAction = naNone;
    std::string FLocalIP;
    int32_t FLocalPort = 0;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
    bool FReadPending = false;
    int64_t FProceeded = 0;
    bool FPeerClosed = false;
};

/// The base connection: socket, stream, settings and progress.
class TixConnection : public TObject
{
public:
    /// The default of BatchSize.
    static constexpr int32_t DefaultBatchSize = 8192;
    /// The largest BatchSize: a larger value is stored as this one.
    static constexpr int32_t MaxBatchSize = 1 << 20;

    TixConnection();
    ~TixConnection() override;

    /// The socket holder (owned).
    TixSocket& GetSocket() const noexcept { return *FSocket; }

    /// Bytes moved per socket call (at most MaxBatchSize, 1 MB: a larger value is stored as
    /// MaxBatchSize; below 1 the next transfer raises "Invalid Batch Size").
    int32_t GetBatchSize() const noexcept { return FBatchSize; }
    void SetBatchSize(int32_t AValue) noexcept { FBatchSize = AValue < MaxBatchSize ? AValue : MaxBatchSize; }
    /// Throttling limit; 0 or negative: none.
    int32_t GetBitsPerSec() const noexcept { return FBitsPerSec; }
    void SetBitsPerSec(int32_t AValue) noexcept { FBitsPerSec = AValue; }
    /// Abort was called for the current operation.
    bool GetIsAborted() const noexcept { return FIsAborted; }

    /// The stream. Raises "NetworkStream is required" (-5) when none is set.
    TixNetworkStream* GetNetworkStream() const;
    /// True when a stream is set.
    bool HasNetworkStream() const noexcept { return FNetworkStream != nullptr; }
    /// Takes AValue as the stream: it first receives the old stream's address state, then the
    /// old stream is destroyed. Setting the stream that is set already does nothing.
    void SetNetworkStream(std::unique_ptr<TixNetworkStream> AValue);

    /// The connection is established.
    bool GetActive() const noexcept { return FActive; }

    /// Bytes moved since InitProgress, counted from its start value.
    int64_t GetBytesProceed() const noexcept { return FBytesProceed; }
    /// The total that progress is reported against; 0 or less: unknown.
    int64_t GetTotalBytes() const noexcept { return FTotalBytes; }
    /// Read limit of the current stream read; -1: none.
    int64_t GetBytesToProceed() const noexcept { return FBytesToProceed; }
    void SetBytesToProceed(int64_t AValue) noexcept { FBytesToProceed = AValue; }

    /// Local address of the socket, as text.
    const std::string& GetLocalIP() const noexcept { return FLocalIP; }
    void SetLocalIP(const std::string& AValue) { FLocalIP = AValue; }
    /// Local port of the socket.
    int32_t GetLocalPort() const noexcept { return FLocalPort; }
    void SetLocalPort(int32_t AValue) noexcept { FLocalPort = AValue; }
    /// Peer address, as text.
    const std::string& GetPeerIP() const noexcept { return FPeerIP; }
    void SetPeerIP(const std::string& AValue) { FPeerIP = AValue; }
    /// Peer port.
    int32_t GetPeerPort() const noexcept { return FPeerPort; }
    void SetPeerPort(int32_t AValue) noexcept { FPeerPort = AValue; }

    /// Resolve host names to IPv6 addresses as well.
    bool GetUseIpV6() const noexcept { return FUseIpV6; }
    void SetUseIpV6(bool AValue) noexcept { FUseIpV6 = AValue; }
    /// When true, waits do not dispatch window messages.
    bool GetDisableGuiProcessing() const noexcept { return FDisableGuiProcessing; }
    void SetDisableGuiProcessing(bool AValue) noexcept { FDisableGuiProcessing = AValue; }

    /// BytesProceed := ABytesProceed, the stream's ResetProceed, TotalBytes := ATotalBytes.
    void InitProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    /// Adds ADelta to BytesProceed and fires OnProgress.
    void AddProgress(int64_t ADelta);
    /// Sends AText converted to ACharSet. With ASecret (a line that carries a password or a
    /// token), every buffer that held its bytes on the way is zeroed before it is released.
    void WriteString(const std::string& AText, const std::string& ACharSet, bool ASecret = false);
    /// A write of WriteString's secret line is under way: its buffers are zeroed after use.
    bool GetSecretWrite() const noexcept { return FSecretWrite; }
    /// Makes the socket; clears the abort flag.
    void CreateSocket(int32_t AFamily, int32_t AType, int32_t AProtocol);

    // Virtual operations, in their declared order.

    /// The peer closed the connection.
    virtual bool PeerClosed();
    /// Destroys the socket and the stream.
    virtual void ReleaseResources();
    /// Fires OnProgress.
    virtual void DoProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    /// Fires OnReady.
    virtual void DoReady();
    /// Records that the connection is established (true) or closed.
    virtual void SetActive(bool AValue);
    /// Ends the stream's session (ANotifyPeer: tells the peer, e.g. a TLS close notification)
    /// and closes the socket, unless the stream still has an action to perform for the peer.
    virtual void Close(bool ANotifyPeer);
    /// Ends the stream's session; with ANotifyPeer also sends what that requires to the peer.
    virtual void ShutdownStream(bool ANotifyPeer);
    /// Appends what arrives to AData (null: drives a pending stream action only).
    virtual void ReadData(TStream* AData) = 0;
    /// Writes AData from its position to its end (null: drives a pending stream action only).
    virtual void WriteData(TStream* AData) = 0;
    /// Performs the stream's pending action.
    virtual void ProcessNextAction();
    /// Ends the pending operation without an exception.
    virtual void Abort();

    /// Progress of the transfers: bytes moved and the expected total.
    TixProgressEvent OnProgress;
    /// The stream became ready for application data (after a TLS or SOCKS negotiation).
    TNotifyEvent OnReady;

protected:
    /// Closes without raising (destructors).
    void CloseQuietly() noexcept;

    /// Set by Abort, cleared by CreateSocket and by the next lookup.
    bool FIsAborted = false;

private:
    std::unique_ptr<TixSocket> FSocket;
    int32_t FBatchSize = DefaultBatchSize;
    int32_t FBitsPerSec = 0;
    std::unique_ptr<TixNetworkStream> FNetworkStream;
    bool FActive = false;
    int64_t FBytesProceed = 0;
    int64_t FTotalBytes = 0;
    int64_t FBytesToProceed = -1;
    std::string FLocalIP;
    int32_t FLocalPort = 0;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
    bool FUseIpV6 = false;
    bool FDisableGuiProcessing = false;
    bool FSecretWrite = false;
};

/// A connection with blocking waits: a Windows Sockets event, an abort event and a time-out.
class TixSyncConnection : public TixConnection
{
public:
    /// The default of TimeOut.
    static constexpr int32_t DefaultTimeOut = 5000;

    /// Raises the socket error when an event cannot be made.
    TixSyncConnection();
    ~TixSyncConnection() override;

    /// Milliseconds a wait may go without progress.
    int32_t GetTimeOut() const noexcept { return FTimeOut; }
    void SetTimeOut(int32_t AValue) noexcept { FTimeOut = AValue; }
    /// The Windows Sockets event that the socket reports to.
    os::WSAEVENT GetNetworkEvent() const noexcept { return FNetworkEvent.Get(); }
    /// The event that Abort signals.
    os::HANDLE GetAbortEvent() const noexcept { return FAbortEvent.Get(); }
    /// Tick count at which the current wait started.
    os::DWORD GetStartTick() const noexcept { return FStartTick; }
    /// Local address to bind before connecting; empty: none.
    const std::string& GetLocalBinding() const noexcept { return FLocalBinding; }
    void SetLocalBinding(const std::string& AValue) { FLocalBinding = AValue; }

    /// Registers the socket's events AMask with the network event.
    void SelectEvents(int32_t AMask);
    /// StartTick := now.
    void MarkStartTick() noexcept;
    /// The address text of AHost (TixHostResolver::ResolveHost with UseIpV6). The lookup runs
    /// on a worker thread, waited for as every wait of the connection: window messages are
    /// dispatched meanwhile, TimeOut raises "Timeout error occured" (-1), Abort ends it with
    /// "The connection to the server is not active" (-6); a lookup given up finishes on its own.
    std::string ResolveHost(const std::string& AHost);

    void ReleaseResources() override;
    void Abort() override;

protected:
    /// WaitForNetworkEvent on this connection's events, from StartTick, for ATimeOut ms.
    bool WaitForEvent(int32_t ATimeOut);
    /// The socket's recorded network events (resets the network event).
    os::WSANETWORKEVENTS EnumNetworkEvents();
    /// Binds the socket to LocalBinding, when set.
    void BindLocal(int32_t AFamily);

private:
    int32_t FTimeOut = DefaultTimeOut;
    TixWSAEventHandle FNetworkEvent;
    TixEventHandle FAbortEvent;
    os::DWORD FStartTick = 0;
    std::string FLocalBinding;
};

/// A stream (TCP) connection.
class TixTcpConnection : public TixSyncConnection
{
public:
    /// The last receive found the connection closed by the peer.
    bool GetClosedByPeer() const noexcept { return FClosedByPeer; }

    bool PeerClosed() override;
    /// Also clears ClosedByPeer when the connection becomes active.
    void SetActive(bool AValue) override;
    /// Returns after the first batch of data, when the peer closed (the connection is then
    /// closed), or when aborted. Raises -1 on time-out, 10038 when not active.
    void ReadData(TStream* AData) override;
    /// Returns when all of AData has been taken by the socket, when the peer closed, or when
    /// aborted. Raises -1 after TimeOut ms without progress, 10038 when not active.
    void WriteData(TStream* AData) override;
    void ProcessNextAction() override;

private:
    /// Performs the stream's pending actions until none is left.
    template <typename TOnRead, typename TOnWrite>
    void FollowNextActions(TOnRead&& AOnRead, TOnWrite&& AOnWrite);
    void ReadPass(TStream* AData);
    void WritePass(TStream* AData);
    void WaitAndWrite(TixNetworkStream& AStream, TStream* AData);

    bool FClosedByPeer = false;
    // A write's wait took the socket's read event: the next read must not wait for it again.
    bool FReadEventTaken = false;
};

/// The client side of a TCP connection.
class TixTcpClientConnection : public TixTcpConnection
{
public:
    /// Limit of the connect wait in ms; 0: TimeOut.
    int32_t GetConnectTimeOut() const noexcept { return FConnectTimeOut; }
    void SetConnectTimeOut(int32_t AValue) noexcept { FConnectTimeOut = AValue; }

    /// Opens a connection to a numeric address text. Raises "Invalid host address" (-2), the
    /// socket error of the connect, -1 on time-out, -6 when the stream's session ended the
    /// connection; returns without an exception when aborted (the connection is then closed).
    void Connect(const std::string& AIP, int32_t APort);
    /// Starts the (new) stream's session over the connected socket. Raises -6 when not active.
    void BeginSession();

private:
    void WaitForConnect();

    int32_t FConnectTimeOut = 0;
};

/// A datagram (UDP) connection.
class TixUdpConnection : public TixSyncConnection
{
public:
    /// Appends one datagram to AData; the sender becomes the stream's peer.
    void ReadData(TStream* AData) override;
    /// Sends one datagram from AData to the stream's peer.
    void WriteData(TStream* AData) override;
};

/// The client side of a datagram connection.
class TixUdpClientConnection : public TixUdpConnection
{
public:
    /// Makes the socket (bound to LocalBinding when set) with AIP:APort as its peer.
    void Connect(const std::string& AIP, int32_t APort);
};

} // namespace ix
