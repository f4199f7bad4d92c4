#include "pop3/ixMC.h"
#include "core/ixProperties.h"

#include "message/ixEncoder.h"
#include "message/ixMailMessage.h"
#include "pop3/ixSspiAuth.h"
#include "util/ixSecret.h"

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
    const std::string_view scheme = token.find_first_of(" \t") != std::string::npos ? "" : "Bearer ";
    TSecretString response;
    std::string& text = response.Text();
    text.reserve(GetUserName().size() + scheme.size() + token.size() + 16); // no growth, no stray copy
    text.append("user=").append(GetUserName()).append("\x01" "auth=").append(scheme).append(token).append("\x01\x01");
    TSecretString line;
    TixEncoder::EncodeSecretLine(text, line);
    return std::move(line.Text());
}

void TixCustomMail::Notification(TComponent* AComponent, TOperation AOperation)
{
    TixTcpCommandClient::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FMailMessage)
        FMailMessage = nullptr;
}

const TPropertyTable& TixCustomMail::GetPublishedProperties() const
{
    using C = TixCustomMail;
    static const TPropertyTable table("TixCustomMail", &TixTcpCommandClient::GetPublishedProperties(),
        {
            Published<&C::GetUseSasl, &C::SetUseSasl>("UseSasl", false),
            Published<&C::GetSaslOnly, &C::SetSaslOnly>("SaslOnly", false),
        });
    return table;
}

} // namespace ix
