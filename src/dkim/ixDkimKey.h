// The DKIM public-key record (RFC 6376 section 3.6.1) that a signing domain publishes in DNS.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"
#include "dkim/ixDkimUtils.h"

#include <memory>
#include <string>
#include <vector>

namespace ix {

enum TixDkimKeyServiceType : uint8_t { ddsAll, ddsEmail };
using TixDkimKeyServiceTypes = TSet<TixDkimKeyServiceType>;
enum TixDkimKeyFlag : uint8_t { ddfTestingDomain, ddfCheckUserIdentityDomain };
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

    std::string Version;
    TStringList AcceptableHashAlgorithms;
    std::string KeyType;
    std::string Notes;
    /// Base64 of the public key; empty = revoked.
    std::string PublicKey;
    TixDkimKeyServiceTypes ServiceType;
    TixDkimKeyFlags Flags;
};

/// The key records of one lookup, in order.
class TixDkimKeyList : public TixDkimObjectList<TixDkimKey>
{
};

} // namespace ix
