#include "pop3/ixMC.h"

#include "message/ixMailMessage.h"

namespace ix {

TixCustomMail::TixCustomMail(TComponent* AOwner)
    : TixTcpCommandClient(AOwner)
{
}

TixCustomMail::~TixCustomMail()
{
    SetMailMessage(nullptr);
}

void TixCustomMail::SetMailMessage(TixMailMessage* AValue)
{
    if (FMailMessage == AValue)
        return;
    if (FMailMessage != nullptr)
        FMailMessage->RemoveFreeNotification(this);
    FMailMessage = AValue;
    if (FMailMessage != nullptr)
        FMailMessage->FreeNotification(this);
}

void TixCustomMail::SetUseSasl(bool AValue)
{
    if (AssignIfChanged(FUseSasl, AValue))
        Changed();
}

void TixCustomMail::SetSaslOnly(bool AValue)
{
    if (AssignIfChanged(FSaslOnly, AValue))
        Changed();
}

void TixCustomMail::SetAuthorization(const std::string& AValue)
{
    if (AValue != GetAuthorization() && !GetComponentState().Includes(csLoading) && !AValue.empty())
        SetUseSasl(true);
    TixTcpCommandClient::SetAuthorization(AValue);
}

void TixCustomMail::Notification(TComponent* AComponent, TOperation AOperation)
{
    TixTcpCommandClient::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FMailMessage)
        FMailMessage = nullptr;
}

} // namespace ix
