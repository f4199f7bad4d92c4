#include "pop3/ixMC.h"

#include "message/ixEncoder.h"
#include "message/ixMailMessage.h"
#include "pop3/ixSspiAuth.h"

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

std::string TixCustomMail::GetXOAuth2String()
{
    const std::string& token = GetAuthorization();
    const bool namesScheme = token.find_first_of(" \t") != std::string::npos;
    std::string response = "user=" + GetUserName() + "\x01" + "auth=" + (namesScheme ? "" : "Bearer ") + token
        + "\x01\x01";
    std::string encoded = TixEncoder::EncodeLineWith(cmBase64, response);
    WipeString(response);
    return encoded;
}

void TixCustomMail::Notification(TComponent* AComponent, TOperation AOperation)
{
    TixTcpCommandClient::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FMailMessage)
        FMailMessage = nullptr;
}

} // namespace ix
