#include "dns/ixUdpClient.h"
#include "core/ixProperties.h"

#include "core/ixStreams.h"
#include "net/ixIpAddress.h"

namespace ix {

TixUdpClient::TixUdpClient(TComponent* AOwner)
    : TComponent(AOwner), FConnection(std::make_unique<TixUdpClientConnection>())
{
    FConnection->SetNetworkStream(std::make_unique<TixNetworkStream>());
    FConnection->SetBatchSize(DefaultDatagramSize);
    FConnection->SetTimeOut(DefaultTimeOut);
    FConnection->SetBitsPerSec(0);
    FConnection->SetUseIpV6(false);
    FConnection->SetDisableGuiProcessing(false);
    FPort = GetDefaultPort();
}

TixUdpClient::~TixUdpClient()
{
    Destroying();
    try
    {
        CleanUp();
    }
    catch (...) // a destructor reports nothing
    {
    }
    FConnection.reset();
}

// ---- Properties --------------------------------------------------------------------------

template <typename T, typename TGetter, typename TSetter>
void TixUdpClient::SetConnectionValue(const T& AValue, TGetter AGetter, TSetter ASetter)
{
    if ((FConnection.get()->*AGetter)() == AValue)
        return;
    (FConnection.get()->*ASetter)(AValue);
    Changed();
}

void TixUdpClient::SetServer(const std::string& AValue)
{
    if (AssignIfChanged(FServer, AValue))
        Changed();
}

void TixUdpClient::SetPort(int32_t AValue)
{
    if (AssignIfChanged(FPort, AValue))
        Changed();
}

void TixUdpClient::SetCharSet(const std::string& AValue)
{
    if (AssignIfChanged(FCharSet, AValue))
        Changed();
}

int32_t TixUdpClient::GetDatagramSize() const noexcept
{
    return FConnection->GetBatchSize();
}

void TixUdpClient::SetDatagramSize(int32_t AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetBatchSize, &TixUdpClientConnection::SetBatchSize);
}

int32_t TixUdpClient::GetTimeOut() const noexcept
{
    return FConnection->GetTimeOut();
}

void TixUdpClient::SetTimeOut(int32_t AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetTimeOut, &TixUdpClientConnection::SetTimeOut);
}

int32_t TixUdpClient::GetBitsPerSec() const noexcept
{
    return FConnection->GetBitsPerSec();
}

void TixUdpClient::SetBitsPerSec(int32_t AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetBitsPerSec, &TixUdpClientConnection::SetBitsPerSec);
}

bool TixUdpClient::GetUseIpV6() const noexcept
{
    return FConnection->GetUseIpV6();
}

void TixUdpClient::SetUseIpV6(bool AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetUseIpV6, &TixUdpClientConnection::SetUseIpV6);
}

const std::string& TixUdpClient::GetLocalBinding() const noexcept
{
    return FConnection->GetLocalBinding();
}

void TixUdpClient::SetLocalBinding(const std::string& AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetLocalBinding, &TixUdpClientConnection::SetLocalBinding);
}

bool TixUdpClient::GetDisableGuiProcessing() const noexcept
{
    return FConnection->GetDisableGuiProcessing();
}

void TixUdpClient::SetDisableGuiProcessing(bool AValue)
{
    SetConnectionValue(AValue, &TixUdpClientConnection::GetDisableGuiProcessing,
        &TixUdpClientConnection::SetDisableGuiProcessing);
}

// ---- Operations --------------------------------------------------------------------------

void TixUdpClient::Open()
{
    OpenConnection(FServer, FPort);
}

void TixUdpClient::Close()
{
    FConnection->Close(false);
}

void TixUdpClient::SendPacket(TStream* AData)
{
    FConnection->WriteData(AData);
    DoSendPacket(AData);
}

void TixUdpClient::ReceivePacket(TStream* AData)
{
    FConnection->ReadData(AData);
    DoReceivePacket(AData);
}

void TixUdpClient::OpenConnection(const std::string& AServer, int32_t APort)
{
    std::string address;
    TixHostResolver::ResolveHost(AServer, FConnection->GetUseIpV6(), address);
    FConnection->Connect(address, APort);
}

void TixUdpClient::CleanUp() {}

int32_t TixUdpClient::GetDefaultPort()
{
    return 0;
}

// ---- Notifications -----------------------------------------------------------------------

void TixUdpClient::Changed()
{
    CallEvent(OnChanged, this);
}

void TixUdpClient::DoReceivePacket(TStream* AData)
{
    CallEvent(OnReceivePacket, this, AData);
}

void TixUdpClient::DoSendPacket(TStream* AData)
{
    CallEvent(OnSendPacket, this, AData);
}

const TPropertyTable& TixUdpClient::GetPublishedProperties() const
{
    using C = TixUdpClient;
    static const TPropertyTable table("TixUdpClient", &TComponent::GetPublishedProperties(),
        {
            Published<&C::GetServer, &C::SetServer>("Server", ""),
            Published<&C::GetPort, &C::SetPort>("Port", std::nullopt), // no default: always stored
            Published<&C::GetDatagramSize, &C::SetDatagramSize>("DatagramSize", DefaultDatagramSize),
            Published<&C::GetTimeOut, &C::SetTimeOut>("TimeOut", DefaultTimeOut),
            Published<&C::GetBitsPerSec, &C::SetBitsPerSec>("BitsPerSec", 0),
            Published<&C::GetUseIpV6, &C::SetUseIpV6>("UseIpV6", false),
            Published<&C::GetLocalBinding, &C::SetLocalBinding>("LocalBinding", ""),
            Published<&C::GetCharSet, &C::SetCharSet>("CharSet", ""),
            Published<&C::GetDisableGuiProcessing, &C::SetDisableGuiProcessing>("DisableGuiProcessing", false),
        });
    return table;
}

} // namespace ix
