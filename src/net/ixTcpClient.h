// The TCP client component: server address and transport settings as published properties,
// Open/Close over one connection (plain, TLS or through a SOCKS proxy), and a keep-alive timer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/ixClasses.h"
#include "net/ixFirewallUtils.h"
#include "net/ixSocket.h"
#include "platform/ixOsTypes.h"

namespace ix {

class TixTcpProxy;

/// Failures of the TCP client layer and of the protocol clients built on it (a refused reply
/// carries its reply code).
class EixTcpClientError : public EixSocketError
{
public:
    using EixSocketError::EixSocketError;
};

/// The root of every client component: owns one TixTcpClientConnection and the SOCKS settings.
class TixTcpClient : public TComponent
{
public:
    /// The default of BatchSize.
    static constexpr int32_t DefaultBatchSize = 8192;
    /// The default of TimeOut (milliseconds).
    static constexpr int32_t DefaultTimeOut = 60000;
    /// The keep-alive timer's id on its window.
    static constexpr os::UINT_PTR KeepAliveTimerId = 1;

    /// Starts the socket library for the lifetime of the component (raises EixSocketError when
    /// it cannot be started) and sets the defaults. Descendants with a default port of their
    /// own set Port in their constructors (virtual calls do not reach them from here).
    explicit TixTcpClient(TComponent* AOwner = nullptr);
    /// Closes the connection, then releases the timer window, the connection and the library.
    /// Descendants that override InternalClose or CleanUp call Close in their own destructors.
    ~TixTcpClient() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties (connection-backed ones address the proxy's connection when a
    // Proxy is assigned). Setters store only a change and then call Changed.

    /// Host name or numeric address of the server.
    const std::string& GetServer() const noexcept { return FServer; }
    void SetServer(const std::string& AValue);
    /// The server's port; the constructor sets GetDefaultPort.
    int32_t GetPort() const noexcept { return FPort; }
    void SetPort(int32_t AValue);
    /// Local address to bind before connecting; empty: none.
    std::string GetLocalBinding();
    void SetLocalBinding(const std::string& AValue);
    /// Bytes moved per socket call (default 8192; at most TixConnection::MaxBatchSize, 1 MB, and
    /// a larger value is stored as that).
    virtual int32_t GetBatchSize();
    virtual void SetBatchSize(int32_t AValue);
    /// Milliseconds without progress before an operation fails with a time-out (default 60000).
    int32_t GetTimeOut();
    void SetTimeOut(int32_t AValue);
    /// Throttling in bits per second; 0 or less: none.
    int32_t GetBitsPerSec();
    void SetBitsPerSec(int32_t AValue);
    /// Prefer IPv6 addresses when resolving names.
    bool GetUseIpV6();
    void SetUseIpV6(bool AValue);
    /// Keep-alive period in milliseconds; 0 or less: none. Takes effect at the next Open.
    int32_t GetKeepAlive() const noexcept { return FKeepAlive; }
    void SetKeepAlive(int32_t AValue);
    /// The SOCKS proxy settings (owned); the setter copies AValue.
    TixFirewallSettings& GetFirewallSettings() noexcept { return *FFirewallSettings; }
    void SetFirewallSettings(const TixFirewallSettings& AValue);
    /// A component that tunnels the connection through another protocol (not owned; cleared
    /// when that component is destroyed).
    virtual TixTcpProxy* GetProxy();
    void SetProxy(TixTcpProxy* AValue);
    /// Connect time-out in milliseconds; 0: TimeOut.
    int32_t GetConnectTimeOut();
    void SetConnectTimeOut(int32_t AValue);
    /// Stop dispatching window messages while waiting.
    bool GetDisableGuiProcessing();
    void SetDisableGuiProcessing(bool AValue);

    // ---- Operations

    /// Connects and starts the session; does nothing when already active. On failure the
    /// transport is closed (without a protocol goodbye) and the exception passes on.
    void Open();
    /// Ends the session and disconnects; fires OnClose only when the client was active and
    /// OnOpen had fired for its session.
    void Close();
    /// The connection is open.
    bool IsActive();
    /// Raises EixSocketError "The connection to the server is not active" (-6) unless active.
    void CheckActive();
    /// The connection: the proxy's when a Proxy is assigned, else the own one (made on first use).
    virtual TixTcpClientConnection* GetConnection();
    /// True while an exchange runs, and during the clean-up of a failed Open.
    bool GetInProgress() const noexcept { return FInProgress; }
    void SetInProgress(bool AValue) noexcept { FInProgress = AValue; }

    // ---- Events

    /// A published property changed.
    TNotifyEvent OnChanged;
    /// The session ended (only after OnOpen fired for it).
    TNotifyEvent OnClose;
    /// The client is open (a protocol client: after the greeting and the login).
    TNotifyEvent OnOpen;

protected:
    /// A new plain network stream; the TLS client returns a TLS stream when TLS is to be used.
    virtual std::unique_ptr<TixNetworkStream> CreateNetworkStream();
    /// The protocol's default port: 0 here.
    virtual int32_t GetDefaultPort();
    /// Connects the transport to (AServer, APort): through the Proxy, through the SOCKS proxy
    /// of FirewallSettings, or directly.
    virtual void OpenConnection(const std::string& AServer, int32_t APort);
    /// Checks the batch size, then OpenConnection(Server, Port).
    virtual void InternalOpen();
    /// Aborts any pending wait, then closes the connection (ANotify: let the stream say goodbye).
    virtual void InternalClose(bool ANotify);
    /// Called by the destructor after Close.
    virtual void CleanUp();
    /// Called every KeepAlive ms while open; whatever it raises is swallowed.
    virtual void KeepAliveTick();

    /// Fires OnChanged with this component as Sender.
    virtual void Changed();
    /// Fires OnOpen with this component as Sender.
    virtual void DoOpen();
    /// Fires OnClose with this component as Sender.
    virtual void DoClose();

    void Notification(TComponent* AComponent, TOperation AOperation) override;

    /// Wraps AInner in the SOCKS stream of FirewallSettings.FirewallType aimed at (AServer,
    /// APort). Raises EixTcpClientError "Unsupported firewall type" (-101) for an unknown type.
    std::unique_ptr<TixNetworkStream> CreateSocksStream(std::unique_ptr<TixNetworkStream> AInner,
        const std::string& AServer, int32_t APort);
    /// Closes the transport without the protocol's goodbye (InProgress is set meanwhile): a
    /// failed Open, a failed switch to TLS, an exchange whose reply stream can no longer be
    /// trusted. Fires OnClose when OnOpen had fired for this session. ANotifyPeer: let the
    /// stream say goodbye (a TLS close notification).
    void CloseWithoutGoodbye(bool ANotifyPeer);
    /// Starts the keep-alive timer when KeepAlive > 0 (the timer window is made on first use).
    void StartKeepAlive();
    /// Stops the keep-alive timer, when it runs.
    void StopKeepAlive();

private:
    /// Sets a connection-backed property and calls Changed when it differs.
    template <typename T, typename TGetter, typename TSetter>
    void SetConnectionValue(const T& AValue, TGetter AGetter, TSetter ASetter);
    os::LRESULT KeepAliveWindowProc(os::HWND AWindow, os::UINT AMessage, os::WPARAM AWParam, os::LPARAM ALParam);
    void OpenThroughProxy(const std::string& AServer, int32_t APort);
    void OpenDirect(const std::string& AServer, int32_t APort);

    TixSocketLibraryUse FSocketLibrary; // first: released after everything else
    std::unique_ptr<TixTcpClientConnection> FConnection;
    std::string FServer;
    int32_t FPort = 0;
    bool FInProgress = false;
    bool FOpenNotified = false; // OnOpen fired and no OnClose yet
    std::unique_ptr<TixFirewallSettings> FFirewallSettings;
    int32_t FKeepAlive = 0;
    TixWindowHandle FTimerWindow;
    bool FTimerActive = false;
    std::mutex FTimerLock;
    TixTcpProxy* FProxy = nullptr;
};

/// Marks a client InProgress for one exchange and clears the mark on every way out.
class TInProgressScope
{
public:
    /// Sets AClient's InProgress; the destructor clears it.
    explicit TInProgressScope(TixTcpClient& AClient) : FClient(AClient) { FClient.SetInProgress(true); }
    ~TInProgressScope() { FClient.SetInProgress(false); }
    TInProgressScope(const TInProgressScope&) = delete;
    TInProgressScope& operator=(const TInProgressScope&) = delete;

private:
    TixTcpClient& FClient;
};

/// A client that tunnels its connection through another protocol. A client with a Proxy calls
/// ConnectTo, then begins its own session over the proxy's connection.
class TixTcpProxy : public TixTcpClient
{
public:
    using TixTcpClient::TixTcpClient;

    /// Must leave this proxy's own connection connected to (AServer, APort) through the proxy.
    virtual void ConnectTo(const std::string& AServer, int32_t APort) = 0;
};

} // namespace ix
