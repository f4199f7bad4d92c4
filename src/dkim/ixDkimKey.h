// The DKIM public-key record (RFC 6376 section 3.6.1) that a signing domain publishes in DNS.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"
#include "dkim/ixDkimUtils.h"

#include <memory>
#include <string>
#include <vector>

namespace ix {

/// A service of the s tag: "*" (all) or "email".
enum TixDkimKeyServiceType : uint8_t { ddsAll, ddsEmail };
/// The services of the s tag.
using TixDkimKeyServiceTypes = TSet<TixDkimKeyServiceType>;
/// A flag of the t tag: "y" (the domain is testing DKIM) or "s" (the i tag's domain must equal
/// the d tag's, no subdomain).
enum TixDkimKeyFlag : uint8_t { ddfTestingDomain, ddfCheckUserIdentityDomain };
/// The flags of the t tag.
using TixDkimKeyFlags = TSet<TixDkimKeyFlag>;

/// One key record.
class TixDkimKey : public TObject
{
public:
    TixDkimKey();

    /// Reads the tags of ARecord; every field is overwritten. Raises EixDkimError -25 for a
    /// record that is not a tag list or names a tag twice.
    virtual void Parse(const std::string& ARecord);
    /// The record text: v, h, k, n, s, t, then p (written empty for a revoked key).
    virtual void Build(std::string& ARecord);
    /// Empties every field.
    virtual void Clear();

    /// The v tag; empty or "DKIM1" to be usable.
    std::string Version;
    /// The h tag: the hash algorithms the key may be used with (none: all).
    TStringList AcceptableHashAlgorithms;
    /// The k tag; empty means "rsa".
    std::string KeyType;
    /// The n tag: notes for people.
    std::string Notes;
    /// Base64 of the public key; empty = revoked.
    std::string PublicKey;
    /// The s tag: the services the key is for (none: all).
    TixDkimKeyServiceTypes ServiceType;
    /// The t tag.
    TixDkimKeyFlags Flags;
};

/// The key records of one lookup, in order.
class TixDkimKeyList : public TixDkimObjectList<TixDkimKey>
{
};

} // namespace ix
