// The registry through which DKIM creates digests, signatures, canonicalizers and keys by the
// names that appear in signatures and key records.
#pragma once

#include "crypto/ixConfig.h"

namespace ix {

/// Registers "sha1", "sha256", "rsa-sha1", "rsa-sha256", "simple", "relaxed" and "rsa", and the
/// Ed25519 signature "ed25519-sha256" with its key type "ed25519" (RFC 8463).
class TixDkimConfig : public TixConfig
{
public:
    TixDkimConfig();
};

} // namespace ix
