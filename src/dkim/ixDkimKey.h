// The DKIM public-key record (RFC 6376 section 3.6.1) that a signing domain publishes in DNS.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"

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

/// Owning ordered list of key records.
class TixDkimKeyList
{
public:
    /// Takes AKey and returns it.
    TixDkimKey* Add(std::unique_ptr<TixDkimKey> AKey);
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Key AIndex; raises EListError outside 0..Count-1.
    TixDkimKey* GetItems(int32_t AIndex) const;
    TixDkimKey* operator[](int32_t AIndex) const { return GetItems(AIndex); }
    void Clear() noexcept { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TixDkimKey>> FItems;
};

} // namespace ix
