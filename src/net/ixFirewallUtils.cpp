#include "net/ixFirewallUtils.h"

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

} // namespace ix
