#include "net/ixTcpClient.h"
#include "core/ixProperties.h"

#include "core/ixSysUtils.h"
#include "net/ixIpAddress.h"
#include "net/ixSocks.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsSockets.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <utility>

namespace ix {

TixTcpClient::TixTcpClient(TComponent* AOwner)
    : TComponent(AOwner)
{
    FFirewallSettings = std::make_unique<TixFirewallSettings>();
    SetBatchSize(DefaultBatchSize);
    SetTimeOut(DefaultTimeOut);
    SetUseIpV6(false);
    SetBitsPerSec(0);
    SetKeepAlive(0);
    FPort = GetDefaultPort();
}

TixTcpClient::~TixTcpClient()
{
    Destroying();
    // A destructor reports nothing: the transport is released below in any case.
    try
    {
        Close();
    }
    catch (...)
    {
    }
    try
    {
        CleanUp();
    }
    catch (...)
    {
    }
    FTimerWindow.Reset();
    FConnection.reset();
}

// ---- Properties --------------------------------------------------------------------------

void TixTcpClient::SetServer(const std::string& AValue)
{
    if (AssignIfChanged(FServer, AValue))
        Changed();
}

void TixTcpClient::SetPort(int32_t AValue)
{
    if (AssignIfChanged(FPort, AValue))
        Changed();
}

void TixTcpClient::SetKeepAlive(int32_t AValue)
{
    if (AssignIfChanged(FKeepAlive, AValue))
        Changed();
}

template <typename T, typename TGetter, typename TSetter>
void TixTcpClient::SetConnectionValue(const T& AValue, TGetter AGetter, TSetter ASetter)
{
    TixTcpClientConnection* connection = GetConnection();
    if ((connection->*AGetter)() == AValue)
        return;
    (connection->*ASetter)(AValue);
    Changed();
}

std::string TixTcpClient::GetLocalBinding()
{
    return GetConnection()->GetLocalBinding();
}

void TixTcpClient::SetLocalBinding(const std::string& AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetLocalBinding, &TixTcpClientConnection::SetLocalBinding);
}

int32_t TixTcpClient::GetBatchSize()
{
    return GetConnection()->GetBatchSize();
}

void TixTcpClient::SetBatchSize(int32_t AValue)
{
    SetConnectionValue(std::min(AValue, TixConnection::MaxBatchSize), &TixTcpClientConnection::GetBatchSize,
        &TixTcpClientConnection::SetBatchSize);
}

int32_t TixTcpClient::GetTimeOut()
{
    return GetConnection()->GetTimeOut();
}

void TixTcpClient::SetTimeOut(int32_t AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetTimeOut, &TixTcpClientConnection::SetTimeOut);
}

int32_t TixTcpClient::GetBitsPerSec()
{
    return GetConnection()->GetBitsPerSec();
}

void TixTcpClient::SetBitsPerSec(int32_t AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetBitsPerSec, &TixTcpClientConnection::SetBitsPerSec);
}

bool TixTcpClient::GetUseIpV6()
{
    return GetConnection()->GetUseIpV6();
}

void TixTcpClient::SetUseIpV6(bool AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetUseIpV6, &TixTcpClientConnection::SetUseIpV6);
}

int32_t TixTcpClient::GetConnectTimeOut()
{
    return GetConnection()->GetConnectTimeOut();
}

void TixTcpClient::SetConnectTimeOut(int32_t AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetConnectTimeOut,
        &TixTcpClientConnection::SetConnectTimeOut);
}

bool TixTcpClient::GetDisableGuiProcessing()
{
    return GetConnection()->GetDisableGuiProcessing();
}

void TixTcpClient::SetDisableGuiProcessing(bool AValue)
{
    SetConnectionValue(AValue, &TixTcpClientConnection::GetDisableGuiProcessing,
        &TixTcpClientConnection::SetDisableGuiProcessing);
}

void TixTcpClient::SetFirewallSettings(const TixFirewallSettings& AValue)
{
    FFirewallSettings->Assign(AValue);
}

TixTcpProxy* TixTcpClient::GetProxy()
{
    return FProxy;
}

void TixTcpClient::SetProxy(TixTcpProxy* AValue)
{
    if (FProxy == AValue)
        return;
    if (FProxy != nullptr)
        FProxy->RemoveFreeNotification(this);
    FProxy = AValue;
    if (FProxy != nullptr)
        FProxy->FreeNotification(this);
}

void TixTcpClient::Notification(TComponent* AComponent, TOperation AOperation)
{
    TComponent::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FProxy)
        FProxy = nullptr;
}

TixTcpClientConnection* TixTcpClient::GetConnection()
{
    if (TixTcpProxy* proxy = GetProxy())
        return proxy->GetConnection();
    if (!FConnection)
        FConnection = std::make_unique<TixTcpClientConnection>();
    return FConnection.get();
}

int32_t TixTcpClient::GetDefaultPort()
{
    return 0;
}

// ---- Open and close ----------------------------------------------------------------------

bool TixTcpClient::IsActive()
{
    return GetConnection()->GetActive();
}

void TixTcpClient::CheckActive()
{
    if (!IsActive())
        RaiseSocketError(SocketErrorNotActive);
}

void TixTcpClient::Open()
{
    if (IsActive())
        return;
    FOpenNotified = false;
    try
    {
        InternalOpen();
        StartKeepAlive();
        DoOpen();
    }
    catch (...)
    {
        // An exception of the clean-up replaces the one that ended the open.
        CloseWithoutGoodbye(false);
        throw;
    }
    FOpenNotified = true;
}

void TixTcpClient::Close()
{
    StopKeepAlive();
    const bool wasActive = IsActive();
    InternalClose(true);
    // A close inside the goodbye (an exchange that failed) may have notified already.
    if (wasActive && std::exchange(FOpenNotified, false))
        DoClose();
}

void TixTcpClient::CloseWithoutGoodbye(bool ANotifyPeer)
{
    const bool wasInProgress = std::exchange(FInProgress, true);
    const bool wasActive = IsActive();
    try
    {
        StopKeepAlive();
        InternalClose(ANotifyPeer);
    }
    catch (...)
    {
        FInProgress = wasInProgress;
        throw;
    }
    FInProgress = wasInProgress;
    if (wasActive && std::exchange(FOpenNotified, false))
        DoClose();
}

void TixTcpClient::InternalOpen()
{
    if (GetBatchSize() < 1)
        RaiseSocketError(SocketErrorInvalidBatchSize);
    OpenConnection(FServer, FPort);
}

void TixTcpClient::InternalClose(bool ANotify)
{
    TixTcpClientConnection* connection = GetConnection();
    connection->Abort();
    connection->Close(ANotify);
}

void TixTcpClient::CleanUp() {}

void TixTcpClient::KeepAliveTick() {}

std::unique_ptr<TixNetworkStream> TixTcpClient::CreateNetworkStream()
{
    return std::make_unique<TixNetworkStream>();
}

void TixTcpClient::OpenConnection(const std::string& AServer, int32_t APort)
{
    if (GetProxy() != nullptr)
        OpenThroughProxy(AServer, APort);
    else
        OpenDirect(AServer, APort);
}

void TixTcpClient::OpenThroughProxy(const std::string& AServer, int32_t APort)
{
    GetProxy()->ConnectTo(AServer, APort);
    TixTcpClientConnection* connection = GetConnection();
    connection->SetNetworkStream(CreateNetworkStream());
    connection->BeginSession();
}

void TixTcpClient::OpenDirect(const std::string& AServer, int32_t APort)
{
    TixTcpClientConnection* connection = GetConnection();
    connection->SetNetworkStream(nullptr);
    std::unique_ptr<TixNetworkStream> stream = CreateNetworkStream();
    if (!FFirewallSettings->GetServer().empty())
    {
        connection->SetNetworkStream(CreateSocksStream(std::move(stream), AServer, APort));
        connection->Connect(connection->ResolveHost(FFirewallSettings->GetServer()), FFirewallSettings->GetPort());
        return;
    }
    connection->SetNetworkStream(std::move(stream));
    connection->Connect(connection->ResolveHost(AServer), APort);
}

std::unique_ptr<TixNetworkStream> TixTcpClient::CreateSocksStream(std::unique_ptr<TixNetworkStream> AInner,
    const std::string& AServer, int32_t APort)
{
    std::unique_ptr<TixSocksNetworkStream> result;
    switch (FFirewallSettings->GetFirewallType())
    {
    case ftSocks4: result = std::make_unique<TixSocks4NetworkStream>(std::move(AInner)); break;
    case ftSocks5: result = std::make_unique<TixSocks5NetworkStream>(std::move(AInner)); break;
    case ftSocks4a: result = std::make_unique<TixSocks4aNetworkStream>(std::move(AInner)); break;
    default: throw EixTcpClientError("Unsupported firewall type", TcpClientErrorUnsupportedFirewall);
    }
    result->SetPort(APort);
    result->SetUserName(FFirewallSettings->GetUserName());
    result->SetPassword(FFirewallSettings->GetPassword());
    result->SetHost(FFirewallSettings->GetNeedResolveIP() ? AServer : GetConnection()->ResolveHost(AServer));
    return result;
}

// ---- Keep-alive --------------------------------------------------------------------------

void TixTcpClient::StartKeepAlive()
{
    std::lock_guard lock(FTimerLock);
    if (FKeepAlive <= 0)
        return;
    if (!FTimerWindow.IsValid())
    {
        try
        {
            FTimerWindow.Reset(AllocateWindow(
                [this](os::HWND AWindow, os::UINT AMessage, os::WPARAM AWParam, os::LPARAM ALParam) {
                    return KeepAliveWindowProc(AWindow, AMessage, AWParam, ALParam);
                }));
        }
        catch (const EOSError& E)
        {
            RaiseSocketError(E.ErrorCode());
        }
    }
    if (os::SetTimer(FTimerWindow.Get(), KeepAliveTimerId, static_cast<os::UINT>(FKeepAlive), nullptr) == 0)
        RaiseSocketError(static_cast<int32_t>(os::GetLastError()));
    FTimerActive = true;
}

void TixTcpClient::StopKeepAlive()
{
    std::lock_guard lock(FTimerLock);
    if (FTimerWindow.IsValid() && FTimerActive)
    {
        os::KillTimer(FTimerWindow.Get(), KeepAliveTimerId);
        FTimerActive = false;
    }
}

os::LRESULT TixTcpClient::KeepAliveWindowProc(os::HWND AWindow, os::UINT AMessage, os::WPARAM AWParam,
    os::LPARAM ALParam)
{
    if (AMessage != os::WM_TIMER)
        return os::DefWindowProcA(AWindow, AMessage, AWParam, ALParam);
    StopKeepAlive();
    try
    {
        KeepAliveTick();
    }
    catch (...)
    {
        // A failing keep-alive never reaches the user; the next period tries again.
    }
    try
    {
        if (IsActive()) // a tick that failed may have closed the session
            StartKeepAlive();
    }
    catch (...)
    {
        // The tick may run inside the wait of an exchange, which must not fail for a timer that
        // cannot be re-armed: the keep-alive ends instead.
    }
    return 0;
}

// ---- Notifications -----------------------------------------------------------------------

void TixTcpClient::Changed()
{
    CallEvent(OnChanged, this);
}

void TixTcpClient::DoOpen()
{
    CallEvent(OnOpen, this);
}

void TixTcpClient::DoClose()
{
    CallEvent(OnClose, this);
}

const TPropertyTable& TixTcpClient::GetPublishedProperties() const
{
    using C = TixTcpClient;
    static const TPropertyTable table("TixTcpClient", &TComponent::GetPublishedProperties(),
        {
            Published<&C::GetServer, &C::SetServer>("Server", ""),
            Published<&C::GetPort, &C::SetPort>("Port", std::nullopt), // no default: always stored
            Published<&C::GetLocalBinding, &C::SetLocalBinding>("LocalBinding", ""),
            Published<&C::GetBatchSize, &C::SetBatchSize>("BatchSize", DefaultBatchSize),
            Published<&C::GetTimeOut, &C::SetTimeOut>("TimeOut", DefaultTimeOut),
            Published<&C::GetBitsPerSec, &C::SetBitsPerSec>("BitsPerSec", 0),
            Published<&C::GetUseIpV6, &C::SetUseIpV6>("UseIpV6", false),
            Published<&C::GetKeepAlive, &C::SetKeepAlive>("KeepAlive", 0),
            PublishedObject<&C::GetFirewallSettings>("FirewallSettings"),
            Published<&C::GetConnectTimeOut, &C::SetConnectTimeOut>("ConnectTimeOut", 0),
            Published<&C::GetDisableGuiProcessing, &C::SetDisableGuiProcessing>("DisableGuiProcessing", false),
        });
    return table;
}

} // namespace ix
