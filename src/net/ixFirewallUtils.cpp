#include "net/ixFirewallUtils.h"
#include "core/ixProperties.h"

namespace ix {

void TixFirewallSettings::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixFirewallSettings>(ASource);
    if (!source)
        return;
    FFirewallType = source->FFirewallType;
    FUserName = source->FUserName;
    FPassword = source->FPassword;
    FServer = source->FServer;
    FPort = source->FPort;
    FNeedResolveIP = source->FNeedResolveIP;
}

const TPropertyTable& TixFirewallSettings::GetPublishedProperties() const
{
    using C = TixFirewallSettings;
    static const TPropertyTable table("TixFirewallSettings", &TPersistent::GetPublishedProperties(),
        {
            Published<&C::GetFirewallType, &C::SetFirewallType>("FirewallType", ftSocks4,
                {"ftSocks4", "ftSocks5", "ftSocks4a"}),
            Published<&C::GetUserName, &C::SetUserName>("UserName", ""),
            Published<&C::GetPassword, &C::SetPassword>("Password", ""),
            Published<&C::GetServer, &C::SetServer>("Server", ""),
            Published<&C::GetPort, &C::SetPort>("Port", DefaultPort),
            Published<&C::GetNeedResolveIP, &C::SetNeedResolveIP>("NeedResolveIP", true),
        });
    return table;
}

} // namespace ix
