#pragma once
// The mail client base: the switches of the secure login and an attached message component.

#include "command/ixTcpCommandClient.h"

#include <string>

namespace ix {

class TixMailMessage;

/// A command client for a mail protocol.
class TixCustomMail : public TixTcpCommandClient
{
public:
    /// A client with the defaults of its properties.
    explicit TixCustomMail(TComponent* AOwner = nullptr);
    ~TixCustomMail() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    /// A message the application attaches (not owned; cleared when it is destroyed). Setting it
    /// calls no change notification.
    TixMailMessage* GetMailMessage() const noexcept { return FMailMessage; }
    void SetMailMessage(TixMailMessage* AValue);
    /// Log in with the secure (SASL) methods instead of USER/PASS.
    bool GetUseSasl() const noexcept { return FUseSasl; }
    void SetUseSasl(bool AValue);
    /// Refuse to fall back to APOP when no SASL method is usable.
    bool GetSaslOnly() const noexcept { return FSaslOnly; }
    void SetSaslOnly(bool AValue);

    /// A new non-empty token set outside loading also turns UseSasl on.
    void SetAuthorization(const std::string& AValue) override;

    /// The XOAUTH2 client response in base64 on one line: "user=" UserName, 0x01, "auth="
    /// Authorization, 0x01, 0x01. A token without a blank is sent as "Bearer <token>"; a value
    /// that names its scheme ("Bearer ...") is sent unchanged.
    std::string GetXOAuth2String();

protected:
    void Notification(TComponent* AComponent, TOperation AOperation) override;

private:
    TixMailMessage* FMailMessage = nullptr;
    bool FUseSasl = false;
    bool FSaslOnly = false;
};

} // namespace ix
